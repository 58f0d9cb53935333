// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// varnel-printer-app: the Printer Application of the raster models.
#include "app.h"

int main(int argc, char* argv[]) { return RunPrinterApp(argc, argv); }

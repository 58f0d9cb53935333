// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
#include "rastertoVarnel.h"

int main(int argc, char* argv[]) { return rastertoVarnel_main(argc, argv); }

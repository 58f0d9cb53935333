// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
#include "pstoVarnel.h"

int main(int argc, char* argv[]) { return pstoVarnel_main(argc, argv); }

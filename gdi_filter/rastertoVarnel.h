// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Entry of the rastertoVarnel CUPS filter.
#pragma once

int rastertoVarnel_main(int argc, char* argv[]);

// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Threshold matrices of the ordered dither. The 16 x 16 tiles are fixed; the 28 x 28 and the two
// 96 x 96 tiles are generated (clustered dots) with their known rows kept.
#pragma once

enum { kHt16 = 16, kHt28 = 28, kHt96 = 96 };

extern const unsigned char HT_TABLE_600[kHt16 * kHt16];
extern const unsigned char HT_TABLE_1200_Z[kHt16 * kHt16];
extern const unsigned char HT_TABLE_2BIG[256];
// Filled by GenerateHalftoneTables, which the halftoner calls before it uses a tile.
extern unsigned char HT_TABLE_1200_C[kHt28 * kHt28];
extern unsigned char NEW_HT_TABLE_600_Z_M[kHt96 * kHt96];
extern unsigned char NEW_HT_HALFTONE_1200_Z[kHt96 * kHt96];

// Builds the generated tiles, once (safe to call from any thread, any number of times).
void GenerateHalftoneTables();

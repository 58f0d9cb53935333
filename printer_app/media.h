// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// The raster filter's paper tables as IPP media: PWG size names, the custom-size range, the
// margins of the printable area, and the way back from a page size to a table row.
#pragma once

#include <string>
#include <vector>

#include "paper_tables.h"

typedef struct _MEDIA_SIZE {
  std::string pwgName;  // standard PWG name, or a self-describing "custom_<name>_<w>x<h>mm"
  int pointsW;          // the table row's page size in points
  int pointsH;
} MEDIA_SIZE;

typedef struct _MEDIA_LIST {
  std::vector<MEDIA_SIZE> sizes;  // one per distinct page size of the table, in table order
  std::string customMin;          // "custom_min_<w>x<h>mm": the smallest width and length of the table
  std::string customMax;          // "custom_max_<w>x<h>mm": the largest
  int leftRight = 0;              // margins of the printable area, hundredths of millimetres
  int bottomTop = 0;
} MEDIA_LIST;

// The media of a paper table.
MEDIA_LIST MediaFromPaperTable(const PAPER_SIZE_INFO* table);

// The row of the table whose page size is w x h points, allowing one point either way for the
// rounding of millimetre sizes (an exact match wins). -1 when none.
int FindPaperRow(const PAPER_SIZE_INFO* table, unsigned w, unsigned h);

// Points of a length in hundredths of millimetres, as libcups makes page headers (truncated).
unsigned PointsFromHundredthsMm(int hundredths);

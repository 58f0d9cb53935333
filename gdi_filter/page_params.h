// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Per-page decisions of the page loop: header check, page geometry and the parameter records
// handed to the document and page operations.
#pragma once

#include <cups/raster.h>

#include "paper_tables.h"
#include "print_options.h"
#include "prnt.h"

// The longest side of the largest ISO paper (A0, 1189 mm) in points: no supported printer takes
// anything larger, and it keeps every pixel count within the 16-bit fields of the page records.
const unsigned kMaxPaperSidePoints = 3370;
const unsigned kMaxResolution = 1200;

// Checks that the header describes an 8-bit grey page of one byte per pixel whose size fits real
// paper at its resolution and leaves a printable area within the PPD's custom-size margins (left,
// bottom, right, top, points). On refusal writes "ERROR: Page <n> refused: <field> ..." and
// returns 0.
int CheckPageHeader(const cups_page_header2_t* header, const float customMargins[4], int pageNumber);

// How many points a page may exceed the printer's largest paper by: sizes made from millimetres
// are rounded on the way.
const float kPageSizeTolerancePoints = 2;

// Checks that the page is no larger than the printer takes, before anything is allocated for it:
// its width at most the largest width and its length at most the largest length of the paper
// table (null for none) and of the custom sizes (customMaxSize: width and length in points; null
// or 0 x 0 for none), kPageSizeTolerancePoints allowed. A printer without either is bounded by
// CheckPageHeader alone. On refusal writes "ERROR: Page <n> refused: PageSize = [ w h ] ..." and
// returns 0.
int CheckPageSize(const cups_page_header2_t* header, const PAPER_SIZE_INFO* paperSizeArray,
                  const float customMaxSize[2], int pageNumber);

typedef struct _PAGE_GEOMETRY {
  unsigned int fwImgWPixel;  // page image width in pixels (also the grey row length in bytes)
  unsigned int fwImgHPixel;
  unsigned short marginX;
  unsigned short marginY;
  int paperIndex;            // row of the paper table, -1 when the size was computed
} PAGE_GEOMETRY;

// Image size, paper code, margins and resolutions of the page. customMargins are the PPD's
// custom-size hardware margins (left, bottom, right, top, points). Fills geo and the paperSize,
// resolutionX and resolutionY of *startPageParam. pLongEdgeFeed is LONGEDGEFEED (a 421 x 595 page
// sets it). Returns 0 (after an "ERROR: " line) when a computed size leaves no printable area.
int ComputePageGeometry(const cups_page_header2_t* header, PAPER_SIZE_INFO* paperSizeArray, int platform,
                        const float customMargins[4], int* pLongEdgeFeed, int pageNumber, PAGE_GEOMETRY* geo,
                        PGDI_START_PAGE_PARAM startPageParam);

// The rest of the start-of-page record, then the long-edge A5 change (feedEdge 64), which also
// swaps the image sizes in *geo.
void FillStartPageParam(const cups_page_header2_t* header, const PRINT_FUNC_INFO* funcs, int platform,
                        int b2Bit, int pageNumber, PAGE_GEOMETRY* geo, PGDI_START_PAGE_PARAM startPageParam);

// The document record of the first page.
void FillStartDocParam(const char* jobId, const char* title, const PRINT_FUNC_INFO* funcs, int platform,
                       int iSupportManDuplex, PGDI_START_DOC_PARAM startDocParam);

void FillSendPageParam(const cups_page_header2_t* header, int platform, int b2Bit, unsigned int fwImgWPixel,
                       unsigned int fwImgHPixel, unsigned char* bitmap, PGDI_SEND_PAGE_PARAM sendPageParam);

void FillEndPageParam(const cups_page_header2_t* header, const PRINT_FUNC_INFO* funcs, int pageNumber,
                      PGDI_END_PAGE_PARAM endPageParam);

// 1 when the grey page is to be turned by 180 degrees before halftoning (back sides).
int DecideRotate180(const PRINT_FUNC_INFO* funcs, int pageNumber, unsigned short feedEdge, int platform,
                    int mDuplexType);

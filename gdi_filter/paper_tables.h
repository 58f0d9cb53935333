// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Paper tables of the host-based models and the choice of platform from the PPD's model name.
#pragma once

typedef struct _PAPER_SIZE_INFO {
  int cupsPaperW;                 // page width in points; -1 ends a table
  int cupsPaperH;                 // page height in points
  int fwPaperW;                   // page image width in pixels (600 dpi)
  int fwPaperH;                   // page image height in pixels (600 dpi)
  int fwPaperNum;                 // the printer's paper code
  unsigned short fwPaperMarginX;  // margins handed to the start-of-page record
  unsigned short fwPaperMarginY;
  unsigned char strPageSize[15];  // CUPS page-size name
} PAPER_SIZE_INFO, *PPAPER_SIZE_INFO;

extern PAPER_SIZE_INFO gPaperSizeArray_VK8388_VT8674[];  // platform 3
extern PAPER_SIZE_INFO gPaperSizeArray_VK8244_VT9366[];  // platform 2
extern PAPER_SIZE_INFO gPaperSizeArray_QD3820[];         // platform 1 printers, "PLATFORM_C"
extern PAPER_SIZE_INFO gPaperSizeArray_QD3820MFP[];      // platform 1 multifunction models

// Paper table for the model name (whole, case-sensitive match) and its platform in *pPlatform;
// for an unknown model *pPlatform is 0 and the result is null.
PAPER_SIZE_INFO* GetPaperSizeArray(char* pPPDFile, int* pPlatform);
// The platform that a PPD's "PlatForm" text names ("PLATFORM_C", "PLATFORM_Z" or "PLATFORM_M", in
// any letter case); PLATFORM_UNKNOWN for any other text.
int GetPlatformFromText(const char* text);
// The paper table of a platform named by that text; null for PLATFORM_UNKNOWN.
PAPER_SIZE_INFO* GetPlatformPaperArray(int platform);
// Row of the table for a page of cupsPaperSize[0] x cupsPaperSize[1] points, or -1.
// A 421 x 595 page is A5 fed long edge first: row 0, and *pFeed becomes 1.
int GetPaperArrayIndex(unsigned int* cupsPaperSize, PAPER_SIZE_INFO* paperTypeArray, int* pFeed);

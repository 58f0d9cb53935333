// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// What makes the C, Z and M platforms differ, in one table (platforms.cpp): paper codes, the
// resolution the page records carry, the image records and JBIG parameters, the halftone, the
// link, and the document and page sequences. The print core asks GetPlatformFacts instead of
// testing the platform number.
//
// Facts of single models stay with the code that uses them: the extra document records of the
// K5916 and T8323-T9076 (StartDoc_Z, prnt_sequence.cpp), the 96 x 96 tiles of the T4544DW Plus
// (halftone.cpp), the model lists and the paper table of the C multifunction models
// (paper_tables.cpp).
#pragma once

#include "paper_tables.h"
#include "prnt.h"

struct JbigImage;

typedef struct _PLATFORM_FACTS {
  int platform;       // PLATFORM_C, PLATFORM_Z or PLATFORM_M
  const char* name;   // how a PPD's "PlatForm" text names it (any letter case)
  PAPER_SIZE_INFO* paperArray;  // paper table of a printer known by its platform only

  // ---- Start-of-page record ----
  unsigned short a5PaperCode;          // A5, the one size that can be fed long edge first
  unsigned short longEdgeA5PaperCode;  // A5 fed long edge first (C keeps A5's code: its page
                                       // record carries the feed edge itself)
  unsigned short customPaperCode;      // a size that no paper row describes
  bool sends1200Dpi;                   // a 1200-dpi page goes out at 1200 dpi, its image doubled;
                                       // else at 600
  unsigned short resolutionDivisor;    // the record carries the dpi divided by this
  bool mediaType1TakesInputSlot;       // media type 1, like 0 and 5, takes the InputSlot tray

  // ---- Document record and duplex ----
  unsigned char saveMode;
  // A printer whose PPD says SupportManualDuplex prints automatic duplex as manual duplex, and the
  // document record of its manual duplex jobs says no duplex.
  bool manualDuplexForAutomatic;
  // Manual duplex over the long edge turns the back sides of pages fed short edge first (else
  // only of pages fed long edge first).
  bool manualDuplexTurnsShortEdgeFed;

  // ---- Image records and JBIG ----
  unsigned long bandLines;          // the page goes as bands of this many lines; 0: one image
  unsigned long rasterLines600;     // rasImgH of the raster record at 600 dpi (0: none)
  unsigned long rasterLinesOther;   // rasImgH at any other horizontal resolution
  int rasterBytes;                  // cmpImgBytes before the image is compressed
  unsigned long jbigL0;             // lines per JBIG stripe; 0: the raster record's rasImgH
  unsigned char jbigMx;
  unsigned char jbigOrder;
  unsigned char jbigOptions;

  // ---- Halftone ----
  const unsigned char* tile600;     // threshold tile, tile600Size x tile600Size
  unsigned int tile600Size;
  const unsigned char* tile1200;    // in 1200-dpi mode
  unsigned int tile1200Size;
  bool twoBitAt1200;                // 1200-dpi mode prints 2 bits a pixel at 600 dpi
  bool negativeInvertsPadding;      // negative printing also blackens the padding right of the raster
  bool countsDots;                  // black dots are counted for the coverage records

  // ---- Link ----
  bool needsKeepAlive;              // the link drops when silent for long (print_job.h)

  // ---- Sequences: each sends its records and returns false when one could not be sent ----
  bool (*startDoc)(PGDI_START_DOC_PARAM doc);
  bool (*startPage)(PGDI_START_PAGE_PARAM page);
  // The page's images (page: PageJbigParameters) compressed now, or, when ahead is not null,
  // taken from ahead (PageImageCount of them); *incomplete becomes true when one of them could
  // not be compressed.
  bool (*sendPage)(PGDI_SEND_PAGE_PARAM send, const JBIG_BIH& page, JbigImage* ahead, bool* incomplete);
  bool (*endPage)(PGDI_END_PAGE_PARAM end);
  bool (*endDoc)(PGDI_END_DOC_PARAM end);
  bool (*manualDuplex)();           // the stack is to be turned over
} PLATFORM_FACTS;

// The facts of PLATFORM_C, _Z or _M; null for PLATFORM_UNKNOWN and any other number.
const PLATFORM_FACTS* GetPlatformFacts(int platform);

// ---- The sequence functions of the table ----
// prnt_sequence.cpp
bool StartDoc_C(PGDI_START_DOC_PARAM doc);
bool StartDoc_Z(PGDI_START_DOC_PARAM doc);
bool StartDoc_M(PGDI_START_DOC_PARAM doc);
bool StartPage_C(PGDI_START_PAGE_PARAM page);
bool StartPage_Z(PGDI_START_PAGE_PARAM page);
bool StartPage_M(PGDI_START_PAGE_PARAM page);
bool EndPage_C(PGDI_END_PAGE_PARAM end);
bool EndPage_Z(PGDI_END_PAGE_PARAM end);
bool EndPage_M(PGDI_END_PAGE_PARAM end);
bool EndDoc_C(PGDI_END_DOC_PARAM end);
bool EndDoc_Z(PGDI_END_DOC_PARAM end);
bool EndDoc_M(PGDI_END_DOC_PARAM end);
bool ManualDuplex_C();
bool ManualDuplex_Z();
bool ManualDuplex_M();
// prnt_send_page.cpp: C one image after its raster record, Z a coverage and raster record then
// every band after its band record, M one image in data commands between JBIG parameters and end.
bool SendPage_C(PGDI_SEND_PAGE_PARAM send, const JBIG_BIH& page, JbigImage* ahead, bool* incomplete);
bool SendPage_Z(PGDI_SEND_PAGE_PARAM send, const JBIG_BIH& page, JbigImage* ahead, bool* incomplete);
bool SendPage_M(PGDI_SEND_PAGE_PARAM send, const JBIG_BIH& page, JbigImage* ahead, bool* incomplete);

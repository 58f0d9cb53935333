// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Parameter records and operations of the host-based printer back end (C, Z and M platforms).
#pragma once

#include <cstddef>
#include <cstdint>

enum { PLATFORM_UNKNOWN = 0, PLATFORM_C = 1, PLATFORM_Z = 2, PLATFORM_M = 3 };

typedef struct _GDI_START_DOC_PARAM {
  int jobID;
  unsigned char jobName[32];
  int watermarkEnable;
  unsigned char DuplexMode;
  unsigned char FineMode;
  unsigned char saveMode;
  int bookletEnable;
  int posterEnable;
  int nupEnable;
  int overlapEnable;
  int tonerSaveEnable;
  unsigned char densityLevel;
} GDI_START_DOC_PARAM, *PGDI_START_DOC_PARAM;

typedef struct _GDI_START_PAGE_PARAM {
  unsigned short paperSize;
  unsigned short mediaType;
  unsigned short resolutionX;
  unsigned short resolutionY;
  unsigned short tray;
  unsigned short colorMode;
  unsigned short feedEdge;
  unsigned short marginUnit;
  unsigned short copies;
  unsigned short marginX;
  unsigned short marginY;
  unsigned short pageNum;
  unsigned short userPhyPgW;
  unsigned short userPhyPgH;
  unsigned short userPrntAreaW;
  unsigned short userPrntAreaH;
  unsigned int iIs2bit;
  unsigned char densityLevel;
} GDI_START_PAGE_PARAM, *PGDI_START_PAGE_PARAM;

typedef struct _GDI_SEND_PAGE_PARAM {
  unsigned char colorPlane;
  unsigned char colorDepth;
  unsigned char dataPacking;
  unsigned char compression;
  unsigned short whlImgW;
  unsigned short whlImgH;
  unsigned short rasImgW;
  unsigned long rasImgH;
  int cmpImgBytes;
  char* sendImgBuf;
} GDI_SEND_PAGE_PARAM, *PGDI_SEND_PAGE_PARAM;

typedef struct _GDI_END_PAGE_PARAM {
  int page;
  int bMachDup;
  int resolutionE;
  int paperWidthE;
  int densityE;
  int dotCnt;
} GDI_END_PAGE_PARAM, *PGDI_END_PAGE_PARAM;

typedef struct _GDI_END_DOC_PARAM {
  int page;
  int bMachDup;
} GDI_END_DOC_PARAM, *PGDI_END_DOC_PARAM;

typedef struct _JBIG_BIH {
  unsigned char ParamDl;
  unsigned char ParamD;
  unsigned char ParamP;
  unsigned char ParamReserved;
  unsigned long ParamImgWidth;
  unsigned long ParamImgHeight;
  unsigned long ParamL0;
  unsigned char ParamMx;
  unsigned char ParamMy;
  unsigned char ParamOrder;
  unsigned char ParamOption;
} JBIG_BIH;

// Page accumulators: the image checksum of the last compressed band and the page's black dots.
extern unsigned long gImageChecksum;
extern unsigned long gImageCoverage;

// Document and page sequence, each the platform's own of the platform table (platforms.h). Each
// returns 1 when every record was sent, 0 on failure (the reason is then in front of
// prntLastError) or for a platform other than 1, 2, 3.
int Prnt_StartDoc(PGDI_START_DOC_PARAM pStartDocParam, int platform);
int Prnt_StartPage(PGDI_START_PAGE_PARAM pStartPageParam, int platform);
int Prnt_SendPage(PGDI_SEND_PAGE_PARAM pSendPageParam, int platform);
int Prnt_EndPage(PGDI_END_PAGE_PARAM pEndPageParam, int platform);
int SendManualDuplexCmd(int platform);
int Prnt_EndDoc(PGDI_END_DOC_PARAM pEndDocParam, int platform);
int SendMachineDuplexCmd(int pageNum, int bEndDoc);
// Where Prnt_StartDoc takes the computer's name of the Z job header ("@PJL JOBOWNER=") from:
// gethostname, unless a test puts a stand-in here.
extern int (*gGetHostName)(char* name, size_t length);

// Ordered dithering of an 8-bit grey page (255 = white) into a 1-bit (or M 2-bit) bitmap. The
// first realImgWByte pixels of a row are the raster, the rest is padding: in negative printing
// the padding stays white on C and Z and is inverted with the page, to black, on M.
int HalftoneDither(unsigned char* pSrcImgData, unsigned int srcImgWbytes, unsigned int srcImgHpixels,
                   unsigned char* pTarImgData, unsigned int realImgWByte, int bNegative, int b1200dpi,
                   int platform);

// The same dithering one row at a time, in any order, for a page that is halftoned while its
// lines arrive. HalftonePageBegin chooses the tile and logs it like HalftoneDither (1, or 0 for a
// platform outside the platform table); HalftonePageRow then turns row `row` of the page (widthPixels grey samples at src)
// into its bitmap row, with the bits, and the dots counted into gImageCoverage, that
// HalftoneDither gives that row. Rows are byte-aligned only when rowAligned (a width that is a
// multiple of 8, or of 4 in 2-bit mode): only then may HalftonePageRow be used.
typedef struct _HALFTONE_PAGE {
  const unsigned char* cells;  // the threshold tile, tileSize x tileSize
  unsigned int tileSize;
  unsigned int width;          // pixels per row
  unsigned int realPixels;     // pixels of a row that negative printing inverts (the image area)
  bool twoBit;                 // 2 bits per pixel (M in its 1200-dpi mode)
  bool negative;
  bool countDots;              // C and Z count the black dots for their coverage records
  bool rowAligned;
} HALFTONE_PAGE;
int HalftonePageBegin(HALFTONE_PAGE* page, unsigned int widthPixels, unsigned int realImgWByte, int bNegative,
                      int b1200dpi, int platform);
void HalftonePageRow(const HALFTONE_PAGE* page, const unsigned char* src, unsigned int row, unsigned char* out);

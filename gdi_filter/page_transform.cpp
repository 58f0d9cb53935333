// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Page rotation and blank-page insertion.
#include "page_transform.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "common.h"
#include "page_params.h"

namespace {

// Side of the square tiles of Rotate90: a 64 x 64 block of source and destination stays in cache.
constexpr unsigned int kTile = 64;

bool ValidImage(const void* imgBuf, unsigned int widthBytes, unsigned int heightPixels) {
  return imgBuf != nullptr && widthBytes != 0 && heightPixels != 0;
}

// Size of a blank bitmap of width x height pixels, 1 or 2 bits per pixel.
size_t BlankBitmapBytes(unsigned int width, unsigned int height, bool twoBits) {
  size_t pixels = static_cast<size_t>(width) * height;
  return twoBits ? pixels * 2 / 8 : pixels / 8;
}

}  // namespace

void ReportChainedFailure(const char* step) {
  PrependLastError(step);
  // Once the printer output has failed every step fails for that one reason, which the end of
  // the job reports once.
  if (PrinterOutputFailed()) return;
  const char* line = prntLastError;
  while (*line != '\0') {
    const char* end = strchr(line, '\n');
    size_t length = end != nullptr ? static_cast<size_t>(end - line) : strlen(line);
    if (length > 0) fprintf(stderr, "ERROR: %.*s\n", static_cast<int>(length), line);
    line += length;
    if (*line == '\n') ++line;
  }
}

// Turning a page by 180 degrees reverses the order of all its bytes, which can be done in place:
// no page-sized temporary image is needed, so this rotation cannot run out of memory.
int Rotate180(char* imgBuf, unsigned int widthBytes, unsigned int heightPixels) {
  if (!ValidImage(imgBuf, widthBytes, heightPixels)) return 0;
  std::reverse(imgBuf, imgBuf + static_cast<size_t>(widthBytes) * heightPixels);
  return 1;
}

int Rotate90(unsigned char* imgBuf, unsigned int widthBytes, unsigned int heightPixels) {
  if (!ValidImage(imgBuf, widthBytes, heightPixels)) return 0;
  const size_t width = widthBytes;    // source row length = destination row count
  const size_t height = heightPixels; // source row count = destination row length
  std::unique_ptr<unsigned char[]> turned(new (std::nothrow) unsigned char[width * height]);
  if (!turned) {
    SetLastError("Rotate90() :: malloc memory Fail. \n");
    return 0;
  }
  // Source pixel (r, x) goes to destination row x, column height - 1 - r. Destination columns are
  // taken in blocks of 64, i.e. source rows from the bottom up; within them, source columns in
  // blocks of 64. Blocks at the right and bottom edges are clipped to the image.
  for (size_t rowEnd = height; rowEnd > 0;) {
    const size_t rowBegin = rowEnd > kTile ? rowEnd - kTile : 0;
    for (size_t colBegin = 0; colBegin < width; colBegin += kTile) {
      const size_t colEnd = std::min(colBegin + kTile, width);
      for (size_t r = rowBegin; r < rowEnd; ++r) {
        const unsigned char* source = imgBuf + r * width;
        unsigned char* target = turned.get() + (height - 1 - r);
        for (size_t x = colBegin; x < colEnd; ++x) target[x * height] = source[x];
      }
    }
    rowEnd = rowBegin;
  }
  memcpy(imgBuf, turned.get(), width * height);
  return 1;
}

void InsertBlankPage(cups_page_header2_t header, PGDI_START_PAGE_PARAM pStartPageParam, int platform) {
  if (pStartPageParam == nullptr) {
    ReportChainedFailure("InsertBlankPage() :: NULL == pStartPageParam\n");
    return;
  }
  unsigned int width = pStartPageParam->userPrntAreaW;
  unsigned int height = pStartPageParam->userPrntAreaH;
  const bool twoBits = pStartPageParam->iIs2bit != 0;
  // The record describes a long-edge page turned by 90 degrees; the blank image is not turned.
  if (pStartPageParam->feedEdge == 64) SwapUINT(&width, &height);

  // Allocated before the page is started, so that a page is never left without its image.
  const size_t bitmapBytes = BlankBitmapBytes(width, height, twoBits);
  std::unique_ptr<unsigned char[]> bitmap(new (std::nothrow) unsigned char[bitmapBytes > 0 ? bitmapBytes : 1]());
  if (!bitmap) {
    ReportChainedFailure("InsertBlankPage() :: malloc memory Fail. \n");
    return;
  }

  pStartPageParam->pageNum = static_cast<unsigned short>(g_page + 1);
  if (!Prnt_StartPage(pStartPageParam, platform)) {
    ReportChainedFailure("InsertBlankPage() :: Start page Fail ! \n");
  }

  // The image record of a printed page of this size.
  GDI_SEND_PAGE_PARAM sendPageParam;
  FillSendPageParam(&header, platform, twoBits ? 1 : 0, width, height, bitmap.get(), &sendPageParam);
  if (!Prnt_SendPage(&sendPageParam, platform)) {
    ReportChainedFailure("InsertBlankPage() :: Send page Fail!\n");
  }
  bitmap.reset();

  GDI_END_PAGE_PARAM endPageParam;
  memset(&endPageParam, 0, sizeof endPageParam);
  endPageParam.page = g_page + 1;
  endPageParam.bMachDup = 0;
  if (!Prnt_EndPage(&endPageParam, platform)) {
    ReportChainedFailure("InsertBlankPage() :: End page Fail ! \n");
  }
}

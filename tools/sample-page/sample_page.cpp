// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Writes a sample job for rastertoVarnel: A4 pages at 600 dpi, 8-bit grey (255 = white), with
// rows of text-like black bars in the upper half and a grey ramp from white to black below.
// Usage: sample-page OUTPUT.ras [PAGES]
#include <cups/raster.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

const unsigned kDpi = 600;
const unsigned kPageW = 595, kPageH = 842;  // A4 in points

cups_page_header2_t A4GreyHeader() {
  cups_page_header2_t h;
  memset(&h, 0, sizeof h);
  strcpy(h.MediaClass, "PwgRaster");
  strcpy(h.cupsPageSizeName, "A4");
  h.HWResolution[0] = h.HWResolution[1] = kDpi;
  h.PageSize[0] = kPageW;
  h.PageSize[1] = kPageH;
  h.ImagingBoundingBox[2] = kPageW;
  h.ImagingBoundingBox[3] = kPageH;
  h.NumCopies = 1;
  h.cupsWidth = kPageW * kDpi / 72;
  h.cupsHeight = kPageH * kDpi / 72;
  h.cupsBitsPerColor = 8;
  h.cupsBitsPerPixel = 8;
  h.cupsBytesPerLine = h.cupsWidth;
  h.cupsColorOrder = CUPS_ORDER_CHUNKED;
  h.cupsColorSpace = CUPS_CSPACE_W;
  h.cupsNumColors = 1;
  return h;
}

// Text lines: 60-pixel rows of "words" (black bars of varying length) with 40-pixel leading.
bool InWord(unsigned x, unsigned y, unsigned margin) {
  unsigned row = (y - margin) / 100;
  if ((y - margin) % 100 >= 60) return false;
  unsigned seed = row * 2654435761u;
  unsigned pos = x - margin;
  unsigned cell = pos / 40;
  unsigned wordLength = 3 + ((seed >> (cell % 16)) & 7);
  return (pos / 40) % (wordLength + 1) != wordLength && pos % 40 < 34;
}

void DrawLine(const cups_page_header2_t& h, unsigned y, std::vector<unsigned char>& line) {
  const unsigned margin = 300;
  std::fill(line.begin(), line.end(), 255);
  if (y < margin || y >= h.cupsHeight - margin) return;
  if (y < h.cupsHeight / 2) {
    for (unsigned x = margin; x < h.cupsWidth - margin; ++x)
      if (InWord(x, y, margin)) line[x] = 0;
    return;
  }
  // Grey ramp: white at the left edge to black at the right.
  unsigned span = h.cupsWidth - 2 * margin;
  for (unsigned x = margin; x < h.cupsWidth - margin; ++x)
    line[x] = static_cast<unsigned char>(255 - (x - margin) * 255 / (span - 1));
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc < 2 || argc > 3) {
    fprintf(stderr, "usage: %s OUTPUT.ras [PAGES]\n", argv[0]);
    return 2;
  }
  int pages = argc == 3 ? atoi(argv[2]) : 1;
  int fd = open(argv[1], O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) {
    perror(argv[1]);
    return 1;
  }
  cups_raster_t* raster = cupsRasterOpen(fd, CUPS_RASTER_WRITE);
  cups_page_header2_t header = A4GreyHeader();
  std::vector<unsigned char> line(header.cupsBytesPerLine);
  bool ok = raster != nullptr;
  for (int page = 0; ok && page < pages; ++page) {
    ok = cupsRasterWriteHeader2(raster, &header) != 0;
    for (unsigned y = 0; ok && y < header.cupsHeight; ++y) {
      DrawLine(header, y, line);
      ok = cupsRasterWritePixels(raster, line.data(), header.cupsBytesPerLine) == header.cupsBytesPerLine;
    }
  }
  if (raster != nullptr) cupsRasterClose(raster);
  if (close(fd) != 0) ok = false;
  if (!ok) fprintf(stderr, "%s: write failed\n", argv[1]);
  return ok ? 0 : 1;
}

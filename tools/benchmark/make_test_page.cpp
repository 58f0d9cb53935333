// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Writes an A4 600 dpi job (CUPS raster, 8-bit grey) of one page, or of the same page repeated,
// and that page halftoned as a PBM, for comparing the whole filter with the stand-alone JBIG-KIT
// encoder.
// Usage: make_test_page text|picture platform out.ras out.pbm [pages]
#include <cups/raster.h>
#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common.h"
#include "prnt.h"

int main(int argc, char** argv) {
  if (argc != 5 && argc != 6) {
    fprintf(stderr, "usage: %s text|picture platform out.ras out.pbm [pages]\n", argv[0]);
    return 2;
  }
  const int pages = argc == 6 ? atoi(argv[5]) : 1;
  const bool picture = strcmp(argv[1], "picture") == 0;
  const int platform = atoi(argv[2]);
  const unsigned w = 4960, h = 7016;
  std::vector<unsigned char> g(static_cast<size_t>(w) * h, 255);
  for (unsigned y = 0; y < h; ++y) {
    for (unsigned x = 0; x < w; ++x) {
      unsigned char& px = g[static_cast<size_t>(y) * w + x];
      if (picture) {
        px = static_cast<unsigned char>(127.5 + 127.5 * std::sin(x / 300.0) * std::cos(y / 450.0));
      } else if (y > 300 && y + 300 < h && x > 300 && x + 300 < w && (y - 300) % 100 < 60) {
        unsigned line = (y - 300) % 100, glyph = (x * 7 + y / 100 * 13) % 37;
        if ((glyph < 5 && line % 20 < 17) || (line % 20 < 4 && glyph < 20)) px = 0;
      }
    }
  }
  cups_page_header2_t header;
  memset(&header, 0, sizeof header);
  header.HWResolution[0] = header.HWResolution[1] = 600;
  header.PageSize[0] = 595;
  header.PageSize[1] = 842;
  header.cupsWidth = w;
  header.cupsHeight = h;
  header.cupsBitsPerColor = 8;
  header.cupsBitsPerPixel = 8;
  header.cupsBytesPerLine = w;
  header.cupsColorSpace = CUPS_CSPACE_W;
  header.cupsColorOrder = CUPS_ORDER_CHUNKED;
  header.NumCopies = 1;
  int fd = open(argv[3], O_WRONLY | O_CREAT | O_TRUNC, 0644);
  cups_raster_t* ras = cupsRasterOpen(fd, CUPS_RASTER_WRITE);
  for (int page = 0; page < pages; ++page) {
    cupsRasterWriteHeader2(ras, &header);
    cupsRasterWritePixels(ras, g.data(), static_cast<unsigned>(g.size()));
  }
  cupsRasterClose(ras);
  close(fd);

  std::vector<unsigned char> mono(static_cast<size_t>(w) * h / 8, 0);
  HalftoneDither(g.data(), w, h, mono.data(), w, 0, 0, platform);
  FILE* pbm = fopen(argv[4], "wb");
  fprintf(pbm, "P4\n%u %u\n", w, h);
  fwrite(mono.data(), 1, mono.size(), pbm);
  fclose(pbm);
  return 0;
}

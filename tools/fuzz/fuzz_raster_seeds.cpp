// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Writes the seed inputs of fuzz_raster_filter: small rasters (libcups' compressed writer), each
// behind the byte that picks printer and options.
// Usage: fuzz_raster_seeds FOLDER
#include <cups/raster.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Seed {
  unsigned pick;
  unsigned pagePt[2];
  unsigned dpi;
  unsigned pixels[2];
  int pages;
  bool duplex;
};

cups_page_header2_t Header(const Seed& s) {
  cups_page_header2_t h;
  memset(&h, 0, sizeof h);
  h.HWResolution[0] = h.HWResolution[1] = s.dpi;
  h.PageSize[0] = s.pagePt[0];
  h.PageSize[1] = s.pagePt[1];
  h.cupsWidth = s.pixels[0];
  h.cupsHeight = s.pixels[1];
  h.cupsBitsPerColor = h.cupsBitsPerPixel = 8;
  h.cupsBytesPerLine = s.pixels[0];
  h.cupsColorSpace = CUPS_CSPACE_W;
  h.cupsColorOrder = CUPS_ORDER_CHUNKED;
  h.cupsNumColors = 1;
  h.NumCopies = 1;
  h.Duplex = s.duplex ? CUPS_TRUE : CUPS_FALSE;
  return h;
}

bool Write(const std::string& path, const Seed& s) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  const unsigned char pick = static_cast<unsigned char>(s.pick);
  bool ok = write(fd, &pick, 1) == 1;
  cups_raster_t* ras = cupsRasterOpen(fd, CUPS_RASTER_WRITE_COMPRESSED);
  cups_page_header2_t h = Header(s);
  std::vector<unsigned char> line(h.cupsBytesPerLine, 255);
  for (int page = 0; ok && page < s.pages; ++page) {
    ok = cupsRasterWriteHeader2(ras, &h) != 0;
    for (unsigned y = 0; ok && y < h.cupsHeight; ++y) {
      for (unsigned x = 0; x < line.size(); ++x) line[x] = (x / 16 + y / 16 + page) % 3 == 0 ? 0 : 255;
      ok = cupsRasterWritePixels(ras, line.data(), static_cast<unsigned>(line.size())) == line.size();
    }
  }
  cupsRasterClose(ras);
  return close(fd) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
    return 2;
  }
  const Seed seeds[] = {
      {0, {144, 144}, 600, {1200, 1200}, 2, false},   // C, no options
      {1, {144, 144}, 600, {400, 300}, 3, true},      // Z, duplex header
      {2, {144, 144}, 600, {1300, 100}, 1, false},    // M, wider than the paper
      {4, {144, 144}, 600, {1200, 1200}, 3, true},    // Z, collated
      {14, {420, 595}, 600, {800, 600}, 2, false},    // M, A5 long edge, 2-bit, negative
      {12, {420, 595}, 1200, {600, 800}, 1, false},   // C at 1200 dpi
      {15, {144, 144}, 300, {200, 200}, 2, false},    // C, density and toner options
  };
  int n = 0;
  for (const Seed& s : seeds) {
    std::string path = std::string(argv[1]) + "/seed-" + std::to_string(n++);
    if (!Write(path, s)) {
      perror(path.c_str());
      return 1;
    }
  }
  return 0;
}

// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// startup_probe: a program linked against the same libraries as rastertoVarnel (libcupsimage,
// libcups, libjbig, libstdc++), that does only the first steps of a filter, so that compare.sh
// can tell what the filter's own start-up costs beyond loading them.
//   startup_probe exit                 return at once: program loading and library start-up
//   startup_probe ppd FILE             also open and parse the PPD
//   startup_probe raster FILE PPD      also open the raster, read the first page header and
//                                      its first line (what the filter has done when its first
//                                      raster line arrives)
// Standard error gets "first-line" just before the first line is read, as the filter's
// "INFO: Printing page 1, 0% complete" line, so that the two can be stamped alike.
#include <cups/ppd.h>
#include <cups/raster.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <vector>

extern "C" {
#include <jbig.h>
}

int main(int argc, char** argv) {
  // Keeps libjbig a real dependency of the program, as it is of the filter.
  if (argc > 1 && strcmp(argv[1], "version") == 0) {
    puts(jbg_strerror(JBG_EOK));
    return 0;
  }
  if (argc == 2 && strcmp(argv[1], "exit") == 0) return 0;
  if (argc == 3 && strcmp(argv[1], "ppd") == 0) {
    ppd_file_t* ppd = ppdOpenFile(argv[2]);
    if (ppd == nullptr) return 1;
    ppdClose(ppd);
    return 0;
  }
  if (argc == 4 && strcmp(argv[1], "raster") == 0) {
    int fd = open(argv[2], O_RDONLY);
    if (fd < 0) return 1;
    cups_raster_t* ras = cupsRasterOpen(fd, CUPS_RASTER_READ);
    ppd_file_t* ppd = ppdOpenFile(argv[3]);
    cups_page_header2_t header;
    if (ras == nullptr || ppd == nullptr || cupsRasterReadHeader2(ras, &header) == 0) return 1;
    fputs("first-line\n", stderr);
    std::vector<unsigned char> line(header.cupsBytesPerLine);
    unsigned got = cupsRasterReadPixels(ras, line.data(), header.cupsBytesPerLine);
    ppdClose(ppd);
    cupsRasterClose(ras);
    close(fd);
    return got == header.cupsBytesPerLine ? 0 : 1;
  }
  fputs("usage: startup_probe exit | ppd FILE | raster FILE PPD | version\n", stderr);
  return 2;
}

// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Helpers of the end-to-end tests: where the generated PPDs are, and running the stock CUPS
// filter chains into the driver's filters with cupsfilter and a private ServerBin.
#pragma once

#include <string>
#include <vector>

#include "private_cupsd.h"
#include "test_support.h"

namespace varnel_test {

// A generated PPD file (the folder itself for an empty name).
std::string PpdPath(const std::string& file);
// A test-name-safe form of a text: letters and digits only.
std::string SafeTestName(const std::string& text);

struct ChainJob {
  std::string ppd;                   // PPD file name (in the generated folder) or full path
  std::string input;                 // the document
  std::vector<std::string> options;  // "name=value" or a bare boolean name, each given with -o
  std::string user = "alice";
  std::string title = "Report";
  int copies = 1;
  // MIME type to stop at, e.g. "application/vnd.cups-raster"; empty: the whole chain of the
  // PPD down to the printer stream.
  std::string stop_at;
  // "NAME=value" settings of cupsfilter's environment, e.g. LANG (the job's language).
  std::vector<std::string> env;
};

// cupsfilter with a ServerBin whose filter folder holds the stock filters and the driver's.
class CupsfilterChain {
 public:
  // The driver's filters of the build.
  CupsfilterChain();
  // The driver's filters found in `driver_filters`, e.g. an installed or unpacked filter folder.
  explicit CupsfilterChain(const std::string& driver_filters);
  ProcessResult Run(const ChainJob& job) const;
  // The filters cupsfilter would run for the job, one name per line.
  ProcessResult ListFilters(const ChainJob& job) const;

 private:
  std::vector<std::string> Arguments(const ChainJob& job) const;
  TempDir dir_;
};

// Paths of the files (and symbolic links) under a folder, relative to it, sorted.
std::vector<std::string> FilesUnder(const std::string& folder);

// A small document made with Ghostscript: `pages` A4 pages, each with a black bar whose length
// grows with the page number and a grey square, so every page has its own amount of ink and
// its own position of the ink.
std::string MakeTestPdf(const TempDir& dir, int pages);

}  // namespace varnel_test

namespace varnel_test {

// Amount and place of the ink on a page: `ink` counts black pixels (a grey pixel counts with
// its darkness, (255 - value) / 255), the centroid is that ink's centre of mass in fractions of
// the page's width and height (0.5 for a page without ink).
struct PageInk {
  unsigned width = 0;
  unsigned height = 0;
  unsigned copies = 1;
  double ink = 0;
  double centre_x = 0.5;
  double centre_y = 0.5;
};

// The pages of a CUPS raster file (8-bit grey, 255 = white).
std::vector<PageInk> RasterInk(const std::string& path);
// The pages of an 8-bit grey or 1-bit PNG image (black = 0).
bool PngInk(const std::string& path, PageInk* page);

}  // namespace varnel_test

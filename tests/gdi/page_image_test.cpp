// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// The page image the printer receives for rasters that do not match the paper: a narrower or
// shorter raster is padded with white, a wider one is cropped around its centre, a raster cut
// short leaves the rest of its page white, and nothing of an earlier page of the job shows
// through on a later, smaller one (the page buffer lives for the whole job).
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "stream_inspect.h"
#include "test_support.h"

using namespace varnel_test;
namespace vi = varnel_inspect;

namespace {

// 144 pt pages with the fixture's 12 pt margins: a 1000 x 1000 printable area at 600 dpi, rows
// rounded up to 1024 pixels, while the raster of the whole page is 1200 x 1200 (cropped by 88
// pixels on either side).
constexpr unsigned kPagePt = 144;
constexpr unsigned kImageW = 1024, kImageH = 1000;

RasterPage Page(unsigned width, unsigned height, uint8_t value) {
  return FlatPage(GreyHeader(kPagePt, kPagePt, 600, width, height), value);
}

void PaintColumns(RasterPage* page, unsigned from, unsigned to) {
  const cups_page_header2_t& h = page->header;
  for (unsigned y = 0; y < h.cupsHeight; ++y)
    memset(&page->pixels[static_cast<size_t>(y) * h.cupsBytesPerLine + from], 0, to - from);
}

struct Box {
  unsigned left, top, right, bottom;  // half-open
};

// Black pixels inside and outside the box.
std::pair<size_t, size_t> BlackInAndOut(const vi::Bitmap& plane, Box box) {
  size_t in = 0, out = 0;
  for (unsigned y = 0; y < plane.height; ++y)
    for (unsigned x = 0; x < plane.width; ++x)
      if (plane.Bit(x, y)) {
        bool inside = x >= box.left && x < box.right && y >= box.top && y < box.bottom;
        (inside ? in : out) += 1;
      }
  return {in, out};
}

TEST(PageImage, RasterSmallerLargerOrCutShortFillsTheImageExactly) {
  TempDir dir;
  std::vector<RasterPage> pages;
  pages.push_back(Page(1200, 1200, 0));   // 1: black all over, cropped to the image
  pages.push_back(Page(400, 300, 255));   // 2: small and white: must come out blank
  pages.push_back(Page(400, 300, 0));     // 3: small and black: top-left 400 x 300 only
  pages.push_back(Page(1200, 1200, 255)); // 4: wide: columns 0-79 are cropped away
  PaintColumns(&pages.back(), 0, 80);
  PaintColumns(&pages.back(), 600, 610);
  pages.push_back(Page(400, 600, 0));     // 5: cut after 200 of its 600 lines
  std::string raster = dir.File("job.ras");
  WriteRaster(raster, pages);
  ASSERT_EQ(truncate(raster.c_str(), static_cast<off_t>(ReadFile(raster).size()) - 400 * 400), 0);

  ProcessResult run =
      RunProgram(BuildPath("gdi_filter/rastertoVarnel"), {"42", "user", "title", "1", "", raster},
                 [] {
                   RunOptions options;
                   options.env.push_back("PPD=" + SourcePath("tests/fixtures/ppd/platform_z.ppd"));
                   return options;
                 }());
  // The cut page is printed with what it has, and the job says that the raster was cut.
  EXPECT_EQ(run.exit_status, 1) << run.err;
  EXPECT_NE(run.err.find("ERROR: The raster data ended after 200 of 600 lines of page 5\n"), std::string::npos)
      << run.err;
  EXPECT_EQ(run.err.find("INFO: Ready to print."), std::string::npos);
  vi::InspectResult stream = vi::InspectStream(reinterpret_cast<const uint8_t*>(run.out.data()), run.out.size());
  EXPECT_TRUE(stream.Clean()) << vi::FormatDefects(stream);
  ASSERT_EQ(stream.pages.size(), 5u);

  const struct {
    Box black;
    double minShare;  // of the box that must be black (black halftone cells, not every pixel)
  } expected[] = {
      {{0, 0, kImageW, kImageH}, 0.95},
      {{0, 0, 0, 0}, 0},
      {{0, 0, 400, 300}, 0.95},
      {{512, 0, 522, kImageH}, 0.95},
      {{0, 0, 400, 200}, 0.95},
  };
  for (size_t i = 0; i < stream.pages.size(); ++i) {
    SCOPED_TRACE("page " + std::to_string(i + 1));
    const vi::Page& page = stream.pages[i];
    ASSERT_TRUE(page.decoded);
    ASSERT_EQ(page.plane.width, kImageW);
    ASSERT_EQ(page.plane.height, kImageH);
    const Box& box = expected[i].black;
    auto [in, out] = BlackInAndOut(page.plane, box);
    EXPECT_EQ(out, 0u) << "black outside the raster's place";
    double area = static_cast<double>(box.right - box.left) * (box.bottom - box.top);
    EXPECT_GE(static_cast<double>(in), expected[i].minShare * area);
  }
}

}  // namespace

// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// The page pipeline: pages halftoned line by line as the raster comes (back sides mirrored from
// the bottom up), images compressed on worker threads while the page is still being read, and
// the same printer stream byte for byte as everything done on one thread after the page is in.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "common.h"
#include "jbigCompress.h"
#include "page_transform.h"
#include "platforms.h"
#include "prnt.h"
#include "stream_inspect.h"
#include "test_support.h"

using namespace varnel_test;
namespace vi = varnel_inspect;

namespace {

std::string Filter() { return BuildPath("gdi_filter/rastertoVarnel"); }
std::string Fixture(const std::string& name) { return SourcePath("tests/fixtures/ppd/" + name); }

// A page that tells its rows and columns apart: text-like bars, a grey ramp and noise, so that a
// wrong row, a missed mirror or a stripe compressed too early shows.
RasterPage BusyPage(unsigned widthPt, unsigned heightPt, unsigned dpi, unsigned widthPx, unsigned heightPx,
                    unsigned seed, unsigned copies = 1, int duplex = 0) {
  cups_page_header2_t header = GreyHeader(widthPt, heightPt, dpi, widthPx, heightPx);
  header.NumCopies = copies;
  header.Duplex = duplex != 0 ? CUPS_TRUE : CUPS_FALSE;
  header.Tumble = duplex == 2 ? CUPS_TRUE : CUPS_FALSE;
  RasterPage page = FlatPage(header, 255);
  std::mt19937 rng(seed);
  for (unsigned y = 0; y < header.cupsHeight; ++y) {
    uint8_t* row = &page.pixels[static_cast<size_t>(y) * header.cupsBytesPerLine];
    for (unsigned x = 0; x < header.cupsWidth; ++x) {
      uint8_t v = static_cast<uint8_t>(x * 255 / header.cupsWidth);
      if ((y / 23) % 5 == seed % 5 && (x / 17) % 3 != 0) v = 0;
      if (y % 97 < 40 && x > header.cupsWidth / 2) v = static_cast<uint8_t>(rng());
      row[x] = v;
    }
  }
  return page;
}

// The date and time of a stream (the C system-date record, the Z job-time line) are blanked,
// so that two runs compare byte for byte.
std::string WithoutTime(const std::string& stream) {
  std::vector<uint8_t> bytes(stream.begin(), stream.end());
  vi::InspectResult inspected = vi::InspectStream(bytes);
  std::string masked = stream;
  for (const vi::Item& item : inspected.items)
    if (item.name == "cmdSysTime" || item.name == "@PJL JOBTIME=") masked.replace(item.offset, item.length, item.length, '#');
  return masked;
}

struct PipelineCase {
  const char* name;
  const char* fixture;
  std::vector<RasterPage> pages;
  const char* options;
};

void PrintTo(const PipelineCase& c, std::ostream* os) { *os << c.name; }

// A4 pages with a raster smaller than the paper (the rest is white); the small size keeps the
// sanitised runs quick while every page still has the paper's full bitmap.
std::vector<RasterPage> Pages(int count, unsigned dpi = 600, unsigned copies = 1, int duplex = 0,
                              unsigned widthPt = 595, unsigned heightPt = 842) {
  std::vector<RasterPage> pages;
  for (int i = 0; i < count; ++i)
    pages.push_back(BusyPage(widthPt, heightPt, dpi, 1400 * dpi / 600, 1700 * dpi / 600, static_cast<unsigned>(i + 1),
                             copies, duplex));
  return pages;
}

std::vector<PipelineCase> PipelineCases() {
  return {
      {"C", "platform_c.ppd", Pages(2), ""},
      {"C_ManyPages", "platform_c.ppd", Pages(9, 600, 1, 1), "Duplex=DuplexNoTumble"},
      {"C_DuplexBackSides", "platform_c.ppd", Pages(3, 600, 1, 1), "Duplex=DuplexNoTumble"},
      {"C_1200dpi", "platform_c.ppd", Pages(2, 1200, 1, 1), "DPI1200=True Duplex=DuplexNoTumble"},
      {"C_NegativeTumbleRotated", "platform_c.ppd", Pages(2, 600, 1, 2),
       "NegativePrint=True Duplex=DuplexTumble ImageRotation=True"},
      {"C_CollatedCopies", "platform_c.ppd", Pages(2, 600, 2), "Collate=True"},
      {"C_LongEdgeA5", "platform_c.ppd", Pages(2, 600, 1, 1, 421, 595), "FeedLongEdge=True Duplex=DuplexNoTumble"},
      {"Z", "platform_z.ppd", Pages(2), ""},
      // Long enough that band buffers and bitmaps go round several times.
      {"Z_ManyPages", "platform_z.ppd", Pages(9, 600, 1, 1), "Duplex=DuplexNoTumble"},
      {"Z_DuplexBackSides", "platform_z.ppd", Pages(3, 600, 1, 1), "Duplex=DuplexNoTumble"},
      {"Z_Negative", "platform_z.ppd", Pages(2, 600, 1, 1), "NegativePrint=True Duplex=DuplexNoTumble"},
      {"Z_CollatedCopies", "platform_z.ppd", Pages(2, 600, 3), "Collate=True"},
      {"Z_ManualDuplex", "platform_z.ppd", Pages(3, 600, 2), "ManualDuplex=True Collate=True"},
      {"Z_LongEdgeA5", "platform_z.ppd", Pages(1, 600, 1, 0, 421, 595), "FeedLongEdge=True"},
      {"M", "platform_m.ppd", Pages(2), ""},
      {"M_DuplexBackSides", "platform_m.ppd", Pages(3, 600, 1, 1), "Duplex=DuplexNoTumble"},
      {"M_TwoBit", "platform_m.ppd", Pages(2, 600, 1, 1), "DPI1200=True Duplex=DuplexNoTumble"},
      {"M_TwoBitNegative", "platform_m.ppd", Pages(2), "DPI1200=True NegativePrint=True"},
      {"M_LongEdgeA5TwoBit", "platform_m.ppd", Pages(2, 600, 1, 1, 421, 595),
       "FeedLongEdge=True DPI1200=True Duplex=DuplexNoTumble"},
      {"M_ManualDuplex", "platform_m.ppd", Pages(2), "ManualDuplex=True"},
  };
}

class PipelineIdentity : public testing::TestWithParam<PipelineCase> {};

// Workers compressing while the pages are read give the stream of one thread doing everything
// after each page is in; more workers than cores shake the order in which images finish.
TEST_P(PipelineIdentity, WorkersGiveTheStreamOfOneThread) {
  const PipelineCase& c = GetParam();
  TempDir dir;
  WriteRaster(dir.File("job.ras"), c.pages);
  ProcessResult runs[2];
  const char* threads[2] = {"VARNEL_THREADS=1", "VARNEL_THREADS=3"};
  // Side by side: a manual-duplex job pauses ten seconds at its end.
  std::thread second([&] {
    RunOptions run;
    run.env = {"PPD=" + Fixture(c.fixture), threads[1]};
    runs[1] = RunProgram(Filter(), {"42", "user", "title", "1", c.options, dir.File("job.ras")}, run);
  });
  RunOptions run;
  run.env = {"PPD=" + Fixture(c.fixture), threads[0]};
  runs[0] = RunProgram(Filter(), {"42", "user", "title", "1", c.options, dir.File("job.ras")}, run);
  second.join();
  for (const ProcessResult& r : runs) {
    ASSERT_EQ(r.exit_status, 0) << r.err;
    ASSERT_FALSE(r.out.empty());
  }
  std::vector<uint8_t> bytes(runs[0].out.begin(), runs[0].out.end());
  vi::InspectResult stream = vi::InspectStream(bytes);
  EXPECT_TRUE(stream.Clean()) << vi::FormatDefects(stream);
  EXPECT_GE(stream.pages.size(), c.pages.size());
  EXPECT_TRUE(WithoutTime(runs[0].out) == WithoutTime(runs[1].out))
      << "the streams differ: " << runs[0].out.size() << " and " << runs[1].out.size() << " bytes";
}

INSTANTIATE_TEST_SUITE_P(Jobs, PipelineIdentity, testing::ValuesIn(PipelineCases()),
                         [](const testing::TestParamInfo<PipelineCase>& info) { return std::string(info.param.name); });

// ---- Line by line against the whole page ----

// What the printer must get for a page: the grey page of the paper (raster at the top left,
// white elsewhere, a wider raster cut around its centre), turned by half a turn for a back side,
// then halftoned whole.
std::vector<uint8_t> ReferenceBitmap(const RasterPage& page, unsigned width, unsigned height, bool turned,
                                     int negative, int dpi1200, int platform) {
  std::vector<unsigned char> gray(static_cast<size_t>(width) * height, 255);
  const cups_page_header2_t& h = page.header;
  for (unsigned y = 0; y < std::min(h.cupsHeight, height); ++y) {
    const uint8_t* line = &page.pixels[static_cast<size_t>(y) * h.cupsBytesPerLine];
    if (h.cupsBytesPerLine <= width)
      memcpy(&gray[static_cast<size_t>(y) * width], line, h.cupsBytesPerLine);
    else
      memcpy(&gray[static_cast<size_t>(y) * width], line + (h.cupsBytesPerLine - width) / 2, width);
  }
  if (turned) Rotate180(reinterpret_cast<char*>(gray.data()), width, height);
  const bool twoBit = platform == PLATFORM_M && dpi1200 == 1;
  std::vector<uint8_t> bitmap(static_cast<size_t>(twoBit ? width / 4 : width / 8) * height, 0);
  HalftoneDither(gray.data(), width, height, bitmap.data(), std::min(h.cupsBytesPerLine, width), negative, dpi1200,
                 platform);
  return bitmap;
}

struct LineCase {
  const char* name;
  const char* fixture;
  int platform;
  int duplex;            // raster header and option: 0, 1 long edge (even pages turned)
  const char* options;
  unsigned rasterWidth;  // pixels; wider than the paper's 4736 or 4800 is cut around the centre
  int dpi1200, negative;
};

void PrintTo(const LineCase& c, std::ostream* os) { *os << c.name; }

const LineCase kLineCases[] = {
    {"C_BackSide", "platform_c.ppd", PLATFORM_C, 1, "Duplex=DuplexNoTumble", 1400, 0, 0},
    {"C_BackSideNegativeWideRaster", "platform_c.ppd", PLATFORM_C, 1, "Duplex=DuplexNoTumble NegativePrint=True",
     5200, 0, 1},
    {"Z_BackSide", "platform_z.ppd", PLATFORM_Z, 1, "Duplex=DuplexNoTumble", 1400, 0, 0},
    {"Z_BackSideNegative", "platform_z.ppd", PLATFORM_Z, 1, "Duplex=DuplexNoTumble NegativePrint=True", 1400, 0, 1},
    {"M_BackSideTwoBit", "platform_m.ppd", PLATFORM_M, 1, "Duplex=DuplexNoTumble DPI1200=True", 1400, 1, 0},
    {"M_BackSideNegative", "platform_m.ppd", PLATFORM_M, 1, "Duplex=DuplexNoTumble NegativePrint=True", 1400, 0, 1},
};

class LineByLine : public testing::TestWithParam<LineCase> {};

// Every page of a duplex job, front and turned back, as the printer decodes it, equals the
// whole-page reference: the lines halftoned as they come, mirrored from the bottom row up on
// the back side, with the tile positions of the turned page.
TEST_P(LineByLine, PagesEqualHalftoningTheWholeTurnedPage) {
  const LineCase& c = GetParam();
  std::vector<RasterPage> pages;
  for (unsigned i = 0; i < 2; ++i) pages.push_back(BusyPage(595, 842, 600, c.rasterWidth, 1900, i + 7, 1, c.duplex));
  TempDir dir;
  WriteRaster(dir.File("job.ras"), pages);
  RunOptions run;
  run.env = {"PPD=" + Fixture(c.fixture)};
  ProcessResult r = RunProgram(Filter(), {"42", "user", "title", "1", c.options, dir.File("job.ras")}, run);
  ASSERT_EQ(r.exit_status, 0) << r.err;
  std::vector<uint8_t> bytes(r.out.begin(), r.out.end());
  vi::InspectResult stream = vi::InspectStream(bytes);
  ASSERT_TRUE(stream.Clean()) << vi::FormatDefects(stream);
  ASSERT_EQ(stream.pages.size(), 2u);
  // The halftone tile depends on the model's name on Z.
  snprintf(gPPDFile, sizeof gPPDFile, "%s", c.platform == PLATFORM_Z ? "Varnel K5916 Series" : "");
  for (size_t i = 0; i < 2; ++i) {
    SCOPED_TRACE("page " + std::to_string(i + 1));
    const vi::Page& page = stream.pages[i];
    ASSERT_TRUE(page.decoded);
    const unsigned width = page.pixelWidth, height = page.plane.height;
    std::vector<uint8_t> expected =
        ReferenceBitmap(pages[i], width, height, i == 1, c.negative, c.dpi1200, c.platform);
    ASSERT_EQ(page.plane.rows.size(), expected.size());
    size_t firstDifference = 0;
    while (firstDifference < expected.size() && page.plane.rows[firstDifference] == expected[firstDifference])
      ++firstDifference;
    EXPECT_EQ(firstDifference, expected.size())
        << "bitmap differs from the reference at row " << firstDifference / page.plane.Stride();
  }
  gPPDFile[0] = '\0';
}

INSTANTIATE_TEST_SUITE_P(Pages, LineByLine, testing::ValuesIn(kLineCases),
                         [](const testing::TestParamInfo<LineCase>& info) { return std::string(info.param.name); });

// The probe that allows compressing an image while its rows are made holds for the installed
// libjbig (the pipeline falls back to compressing after the page when it does not; this test
// says when that happens, as the page loop would then lose its overlap).
TEST(PacedCompression, InstalledLibjbigReadsEachStripeAfterTheOneBeforeWentOut) {
  for (int platform : {PLATFORM_C, PLATFORM_M}) {
    const PLATFORM_FACTS* facts = GetPlatformFacts(platform);
    ASSERT_NE(facts, nullptr);
    SCOPED_TRACE(facts->name);
    JBIG_BIH bih{};
    bih.ParamOrder = facts->jbigOrder;
    bih.ParamOption = facts->jbigOptions;
    bih.ParamMx = facts->jbigMx;
    EXPECT_TRUE(PacedCompressionWorks(bih));
  }
}

}  // namespace

// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// A PDF through the stock CUPS chain (pdftopdf, gstoraster) into rastertoVarnel, with the
// generated PPDs, for a model of every platform. The stream inspector must find each stream
// clean, and every printed page must carry the ink of the raster page that the same chain
// produces: the same amount (a halftone keeps the darkness), at the same place, turned where the
// page is a rotated back side or a long-edge A5 page.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "cups_support.h"
#include "test_support.h"

namespace varnel_test {
namespace {

enum class Turn { kNone, kHalf, kQuarter, kNegative };

struct PrintedPage {
  int source;  // 1-based page of the document, 0 for an inserted blank page
  Turn turn;
};

struct RasterCase {
  const char* name;
  const char* ppd;
  std::vector<std::string> options;
  int copies;
  std::vector<PrintedPage> printed;
  unsigned page_copies;                       // the copy count each page record carries
  std::map<std::string, std::string> job;     // fields of the inspector's job line
  // Share of the raster's ink that the printed page may differ by. The 2-bit levels of the M
  // platform print mid-greys lighter than a 1-bit halftone, so those pages get more room.
  double ink_tolerance = 0.06;
};

void PrintTo(const RasterCase& c, std::ostream* out) { *out << c.name; }

const PrintedPage P1{1, Turn::kNone}, P2{2, Turn::kNone}, P3{3, Turn::kNone}, Blank{0, Turn::kNone};

const RasterCase kCases[] = {
    {"PlatformC_LongEdgeDuplex_Density4", "rxt30441.ppd", {"Duplex=DuplexNoTumble", "Density=4"}, 1,
     {P1, {2, Turn::kHalf}, P3, Blank}, 1, {{"platform", "C"}, {"density", "4"}}},
    {"PlatformZ_CollatedCopies_TonerMode", "q7306mf.ppd", {"Collate=True", "TonerMode=True"}, 2,
     {P1, P2, P3, P1, P2, P3}, 1, {{"platform", "Z"}, {"density", "0"}}},
    {"PlatformZ_UncollatedCopies", "q7306mf.ppd", {"Collate=False"}, 2, {P1, P2, P3}, 2, {{"platform", "Z"}}},
    {"PlatformZ_ManualDuplex", "q7106mf.ppd", {"Duplex=DuplexNoTumble"}, 1,
     {P1, P3, Blank, {2, Turn::kHalf}}, 1, {{"platform", "Z"}}},
    {"PlatformM_LongEdgeA5", "rxt415k3.ppd", {"PageSize=A5", "FeedLongEdge=True"}, 1,
     {{1, Turn::kQuarter}, {2, Turn::kQuarter}, {3, Turn::kQuarter}}, 1, {{"platform", "M"}}},
    {"PlatformM_LongEdgeA5_TwoBit", "rxt415k3.ppd", {"PageSize=A5", "FeedLongEdge=True", "DPI1200=True"}, 1,
     {{1, Turn::kQuarter}, {2, Turn::kQuarter}, {3, Turn::kQuarter}}, 1, {{"platform", "M"}}, 0.2},
    {"PlatformZ_LongEdgeA5", "q7306mf.ppd", {"PageSize=A5", "FeedLongEdge=True"}, 1,
     {{1, Turn::kQuarter}, {2, Turn::kQuarter}, {3, Turn::kQuarter}}, 1, {{"platform", "Z"}}},
    {"PlatformM_NegativePrint", "prlm6100.ppd", {"NegativePrint=True"}, 1,
     {{1, Turn::kNegative}, {2, Turn::kNegative}, {3, Turn::kNegative}}, 1, {{"platform", "M"}}},
};

// "key=value key=value" of one summary line.
std::map<std::string, std::string> Fields(const std::string& line) {
  std::map<std::string, std::string> fields;
  std::istringstream words(line);
  std::string word;
  while (words >> word) {
    size_t eq = word.find('=');
    if (eq != std::string::npos) fields[word.substr(0, eq)] = word.substr(eq + 1);
  }
  return fields;
}

std::vector<std::map<std::string, std::string>> SummaryLines(const std::string& summary, const std::string& kind) {
  std::vector<std::map<std::string, std::string>> lines;
  std::istringstream in(summary);
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(kind + " ", 0) == 0) lines.push_back(Fields(line));
  return lines;
}

// Where the ink of a raster page lands on the printed page.
PageInk Expected(const PageInk& raster, const PageInk& printed, Turn turn) {
  PageInk expected = raster;
  switch (turn) {
    case Turn::kNone:
      break;
    case Turn::kHalf:
      expected.centre_x = 1 - raster.centre_x;
      expected.centre_y = 1 - raster.centre_y;
      break;
    case Turn::kQuarter:  // clockwise: a row becomes a column counted from the right
      expected.centre_x = 1 - raster.centre_y;
      expected.centre_y = raster.centre_x;
      break;
    case Turn::kNegative:
      expected.ink = static_cast<double>(printed.width) * printed.height - raster.ink;
      break;
  }
  return expected;
}

class RasterChainTest : public ::testing::TestWithParam<RasterCase> {
 protected:
  static void SetUpTestSuite() {
    document_dir_ = new TempDir;
    document_ = MakeTestPdf(*document_dir_, 3);
  }
  static void TearDownTestSuite() {
    delete document_dir_;
    document_dir_ = nullptr;
  }

  static TempDir* document_dir_;
  static std::string document_;
  CupsfilterChain chain_;
  TempDir work_;
};

TempDir* RasterChainTest::document_dir_ = nullptr;
std::string RasterChainTest::document_;

TEST_P(RasterChainTest, InspectorAcceptsTheStreamAndPagesMatchTheDocument) {
  const RasterCase& c = GetParam();
  ASSERT_FALSE(document_.empty()) << "Ghostscript could not make the test document";
  ChainJob job;
  job.ppd = c.ppd;
  job.input = document_;
  job.options = c.options;
  job.copies = c.copies;

  ChainJob to_raster = job;
  to_raster.stop_at = "application/vnd.cups-raster";
  ProcessResult raster = chain_.Run(to_raster);
  ASSERT_EQ(raster.exit_status, 0) << raster.err;
  WriteFile(work_.File("job.ras"), raster.out);
  std::vector<PageInk> sources = RasterInk(work_.File("job.ras"));
  ASSERT_EQ(sources.size(), 3u);

  ProcessResult printed = chain_.Run(job);
  ASSERT_EQ(printed.exit_status, 0) << printed.err;
  EXPECT_NE(printed.err.find("INFO: Ready to print."), std::string::npos) << printed.err;
  WriteFile(work_.File("job.prn"), printed.out);

  std::string pages_dir = work_.File("pages");
  ProcessResult inspected = RunProgram(BuildPath("tools/varnel-inspect/varnel-inspect"),
                                       {"--summary", "--pages", pages_dir, work_.File("job.prn")});
  ASSERT_EQ(inspected.exit_status, 0) << inspected.out << inspected.err;
  EXPECT_NE(inspected.out.find("result clean defects=0"), std::string::npos) << inspected.out;

  auto jobs = SummaryLines(inspected.out, "job");
  ASSERT_EQ(jobs.size(), 1u) << inspected.out;
  for (const auto& field : c.job) EXPECT_EQ(jobs[0][field.first], field.second) << field.first;

  auto pages = SummaryLines(inspected.out, "page");
  ASSERT_EQ(pages.size(), c.printed.size()) << inspected.out;
  for (size_t i = 0; i < pages.size(); ++i) {
    SCOPED_TRACE("printed page " + std::to_string(i + 1));
    EXPECT_EQ(pages[i]["decoded"], "1");
    EXPECT_EQ(pages[i]["copies"], std::to_string(c.page_copies));
    char name[32];
    snprintf(name, sizeof name, "/page-%03zu.png", i + 1);
    PageInk ink;
    ASSERT_TRUE(PngInk(pages_dir + name, &ink)) << name;
    double area = static_cast<double>(ink.width) * ink.height;
    const PrintedPage& want = c.printed[i];
    if (want.source == 0) {
      EXPECT_EQ(ink.ink, 0) << "an inserted back side must be blank";
      continue;
    }
    PageInk expected = Expected(sources[want.source - 1], ink, want.turn);
    EXPECT_NEAR(ink.ink, expected.ink, c.ink_tolerance * expected.ink + 0.0005 * area) << "ink of document page " << want.source;
    if (want.turn != Turn::kNegative) {
      EXPECT_NEAR(ink.centre_x, expected.centre_x, 0.02) << "document page " << want.source;
      EXPECT_NEAR(ink.centre_y, expected.centre_y, 0.02) << "document page " << want.source;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(EveryPlatform, RasterChainTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<RasterCase>& info) { return info.param.name; });

TEST(RasterChain, StockChainEndsInTheDriverFilter) {
  CupsfilterChain chain;
  TempDir dir;
  ChainJob job;
  job.ppd = "rxt30441.ppd";
  job.input = MakeTestPdf(dir, 1);
  ProcessResult listed = chain.ListFilters(job);
  EXPECT_EQ(listed.out, "pdftopdf\ngstoraster\nrastertoVarnel\n") << listed.err;
}

}  // namespace
}  // namespace varnel_test

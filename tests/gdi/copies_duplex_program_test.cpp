// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Collated copies, blank back sides, manual duplex and page turning, seen from the printer: the
// real rastertoVarnel runs on rasters whose page k carries k black bars, and the stream it writes
// is read back with the stream inspector, so each test states the pages the printer receives.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "stream_inspect.h"
#include "test_support.h"

using namespace varnel_test;
namespace vi = varnel_inspect;

namespace {

// ---- Printers ----

// A PPD fixture; every printer here also shows a turn-over text for manual duplex.
struct Printer {
  const char* fixture;
  const char* tag;
};

const Printer kPlatformC{"platform_c.ppd", "C"};
const Printer kPlatformZ{"platform_z.ppd", "Z"};
const Printer kPlatformM{"platform_m.ppd", "M"};
// A Z printer whose PPD says "SupportManualDuplex" "TRUE".
const Printer kPlatformZManualDuplex{"manual_duplex_z.ppd", "ZSupportManualDuplex"};

const char kTurnOverText[] = "Turn the stack over and put it back.";

std::string PpdText(const Printer& printer) {
  std::string ppd = ReadFile(SourcePath(std::string("tests/fixtures/ppd/") + printer.fixture));
  if (ppd.find("MDuplex") == std::string::npos)
    ppd += std::string("*cupsIPPReason MDuplex/") + kTurnOverText + ": \"\"\n";
  return ppd;
}

// ---- Page images ----

// A small page that no paper table knows: its image is computed from the page size and the PPD's
// margins, so pages stay small and fast.
constexpr unsigned kSmallPagePt = 144;
// Bars in the top-left quarter of the page: bar j covers rows kBarTop + 2 j kBarRows onwards.
constexpr unsigned kBarTop = 60, kBarRows = 30, kBarLeft = 300, kBarRight = 500;

RasterPage PageWithBars(int bars, unsigned widthPt, unsigned heightPt, unsigned copies, int duplex,
                        unsigned dpi = 600) {
  cups_page_header2_t header = GreyHeader(widthPt, heightPt, dpi);
  header.NumCopies = copies;
  header.Duplex = duplex != 0 ? CUPS_TRUE : CUPS_FALSE;
  header.Tumble = duplex == 2 ? CUPS_TRUE : CUPS_FALSE;
  RasterPage page = FlatPage(header, 255);
  for (int j = 0; j < bars; ++j)
    for (unsigned y = kBarTop + 2 * kBarRows * j; y < kBarTop + 2 * kBarRows * j + kBarRows; ++y)
      memset(&page.pixels[static_cast<size_t>(y) * header.cupsBytesPerLine + kBarLeft], 0, kBarRight - kBarLeft);
  return page;
}

// "k" for an upright page with k bars, "k@180" turned by half a turn, "k@90" turned clockwise by
// a quarter turn, "blank" for a page without black, "?" for anything else.
std::string DescribePage(const vi::Page& page) {
  if (!page.decoded) return "undecoded";
  const vi::Bitmap& plane = page.plane;
  std::vector<bool> rowBlack(plane.height, false), columnBlack(plane.width, false);
  unsigned left = plane.width, right = 0, top = plane.height, bottom = 0;
  for (unsigned y = 0; y < plane.height; ++y)
    for (unsigned x = 0; x < plane.width; ++x)
      if (plane.Bit(x, y)) {
        rowBlack[y] = columnBlack[x] = true;
        left = std::min(left, x), right = std::max(right, x);
        top = std::min(top, y), bottom = std::max(bottom, y);
      }
  if (left > right) return "blank";
  auto runs = [](const std::vector<bool>& marks) {
    int count = 0;
    for (size_t i = 0; i < marks.size(); ++i) count += marks[i] && (i == 0 || !marks[i - 1]);
    return count;
  };
  const bool leftHalf = left + right < plane.width, topHalf = top + bottom < plane.height;
  const int rowRuns = runs(rowBlack), columnRuns = runs(columnBlack);
  if (leftHalf && topHalf && columnRuns == 1) return std::to_string(rowRuns);
  if (!leftHalf && !topHalf && columnRuns == 1) return std::to_string(rowRuns) + "@180";
  if (!leftHalf && topHalf && rowRuns == 1) return std::to_string(columnRuns) + "@90";
  return "?";
}

// ---- Running a job ----

struct Job {
  Printer printer = kPlatformZ;
  int pages = 1;
  unsigned copies = 1;
  int duplex = 0;            // raster header: 0 simplex, 1 long edge, 2 short edge
  std::string options;       // argv[5]
  unsigned widthPt = kSmallPagePt, heightPt = kSmallPagePt;
  unsigned dpi = 600;
  bool spoolFolderMissing = false;  // TMPDIR names a folder that does not exist
};

struct JobResult {
  ProcessResult run;
  vi::InspectResult stream;
  std::vector<std::string> pages;  // DescribePage of every page received
  std::vector<std::string> spoolFilesLeft;
};

// With rasterOnStdin the raster comes from options.stdin_data instead of a file of the job's pages.
JobResult RunJob(const Job& job, RunOptions options = RunOptions(), bool rasterOnStdin = false) {
  TempDir dir;
  TempDir spoolDir;
  WriteFile(dir.File("printer.ppd"), PpdText(job.printer));
  std::vector<RasterPage> pages;
  for (int k = 1; k <= job.pages; ++k)
    pages.push_back(PageWithBars(k, job.widthPt, job.heightPt, job.copies, job.duplex, job.dpi));
  WriteRaster(dir.File("job.ras"), pages);
  options.env.push_back("PPD=" + dir.File("printer.ppd"));
  options.env.push_back("TMPDIR=" + spoolDir.path() + (job.spoolFolderMissing ? "/missing" : ""));
  std::vector<std::string> args = {"42", "user", "title", std::to_string(job.copies), job.options};
  if (!rasterOnStdin) args.push_back(dir.File("job.ras"));
  JobResult result;
  result.run = RunProgram(BuildPath("gdi_filter/rastertoVarnel"), args, options);
  result.stream = vi::InspectStream(reinterpret_cast<const uint8_t*>(result.run.out.data()), result.run.out.size());
  for (const vi::Page& page : result.stream.pages) result.pages.push_back(DescribePage(page));
  result.spoolFilesLeft = ListFiles(spoolDir.path());
  return result;
}

std::string Defects(const vi::InspectResult& stream) { return vi::FormatDefects(stream); }

std::vector<long long> PageField(const JobResult& result, const char* name) {
  std::vector<long long> values;
  for (const vi::Page& page : result.stream.pages) values.push_back(vi::FieldValue(page.fields, name));
  return values;
}

// Offset of the manual-duplex command (a short record on C and Z, a command on M), or npos.
size_t ManualDuplexCommandOffset(const vi::InspectResult& stream) {
  for (const vi::Item& item : stream.items)
    if (item.name == "manualDuplexCmd" || item.name == "MANUAL_DUPLEX_CMD") return item.offset;
  return std::string::npos;
}

void ExpectCleanJob(const JobResult& result) {
  EXPECT_EQ(result.run.exit_status, 0) << result.run.err;
  EXPECT_TRUE(result.stream.Clean()) << Defects(result.stream);
  EXPECT_TRUE(result.spoolFilesLeft.empty());
  EXPECT_EQ(result.run.err.find("ERROR:"), std::string::npos) << result.run.err;
}

using Pages = std::vector<std::string>;

// Readable test parameters in the test listing.
void PrintTo(const Printer& printer, std::ostream* os) { *os << printer.fixture; }

}  // namespace

// ---- Copies and automatic duplex, on every platform ----

struct CopiesCase {
  const char* name;
  Job job;
  Pages expected;
  long long copiesInPageRecords;
};

void PrintTo(const CopiesCase& c, std::ostream* os) { *os << c.name; }

class CopiesAndDuplex : public testing::TestWithParam<std::tuple<CopiesCase, Printer>> {};

TEST_P(CopiesAndDuplex, PrinterReceivesThePagesInOrder) {
  CopiesCase c = std::get<0>(GetParam());
  c.job.printer = std::get<1>(GetParam());
  JobResult result = RunJob(c.job);
  ExpectCleanJob(result);
  EXPECT_EQ(result.pages, c.expected);
  EXPECT_EQ(PageField(result, "copies"), std::vector<long long>(c.expected.size(), c.copiesInPageRecords));
}

Job CopiesJob(int pages, unsigned copies, const char* options, int duplex = 0) {
  Job job;
  job.pages = pages;
  job.copies = copies;
  job.options = options;
  job.duplex = duplex;
  return job;
}

INSTANTIATE_TEST_SUITE_P(
    AllPlatforms, CopiesAndDuplex,
    testing::Combine(
        testing::Values(
            CopiesCase{"Collated3Copies", CopiesJob(2, 3, "Collate=True"), Pages{"1", "2", "1", "2", "1", "2"}, 1},
            CopiesCase{"Uncollated3Copies", CopiesJob(2, 3, ""), Pages{"1", "2"}, 3},
            // Back sides of long-edge duplex are turned by half a turn; the odd job gets a blank.
            CopiesCase{"AutoDuplex3Pages", CopiesJob(3, 1, "Duplex=DuplexNoTumble"),
                       Pages{"1", "2@180", "3", "blank"}, 1},
            CopiesCase{"AutoDuplexCollated2Copies", CopiesJob(3, 2, "Duplex=DuplexNoTumble Collate=True"),
                       Pages{"1", "2@180", "3", "blank", "1", "2@180", "3", "blank"}, 1},
            // Short-edge duplex turns nothing; with ImageRotation every page is turned.
            CopiesCase{"ShortEdgeDuplex", CopiesJob(2, 1, "Duplex=DuplexTumble"), Pages{"1", "2"}, 1},
            CopiesCase{"ShortEdgeDuplexImageRotation", CopiesJob(2, 1, "Duplex=DuplexTumble ImageRotation=True"),
                       Pages{"1@180", "2@180"}, 1},
            CopiesCase{"LongEdgeDuplexImageRotation", CopiesJob(2, 1, "Duplex=DuplexNoTumble ImageRotation=True"),
                       Pages{"1@180", "2"}, 1}),
        testing::Values(kPlatformC, kPlatformZ, kPlatformM)),
    [](const testing::TestParamInfo<CopiesAndDuplex::ParamType>& info) {
      return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).tag;
    });

// ---- The blank back side ----

struct BlankCase {
  const char* name;
  Printer printer;
  unsigned dpi;
  const char* options;
  long long rasterImageH;  // C only: band height of the image record (-1: not checked)
  unsigned bitsPerPixel;
};

void PrintTo(const BlankCase& c, std::ostream* os) { *os << c.name; }

class BlankBackSide : public testing::TestWithParam<BlankCase> {};

// The blank back side of an odd duplex job is numbered after the last page and described like it:
// same image size, C band height by resolution, 2 bits per pixel on a 2-bit M job.
TEST_P(BlankBackSide, IsALastPageOfTheJobsSize) {
  const BlankCase& c = GetParam();
  Job job = CopiesJob(3, 1, c.options);
  job.printer = c.printer;
  job.dpi = c.dpi;
  JobResult result = RunJob(job);
  ExpectCleanJob(result);
  ASSERT_EQ(result.pages, (Pages{"1", "2@180", "3", "blank"}));
  const vi::Page& last = result.stream.pages[2];
  const vi::Page& blank = result.stream.pages[3];
  EXPECT_EQ(blank.pixelWidth, last.pixelWidth);
  EXPECT_EQ(blank.plane.width, last.plane.width);
  EXPECT_EQ(blank.plane.height, last.plane.height);
  EXPECT_EQ(blank.bitsPerPixel, c.bitsPerPixel);
  EXPECT_EQ(last.bitsPerPixel, c.bitsPerPixel);
  if (vi::HasField(blank.fields, "pageNum")) {
    EXPECT_EQ(vi::FieldValue(blank.fields, "pageNum"), 4);
  }
  if (c.rasterImageH >= 0) {
    EXPECT_EQ(vi::FieldValue(blank.fields, "rasterImageH"), c.rasterImageH);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Platforms, BlankBackSide,
    testing::Values(BlankCase{"C600dpi", kPlatformC, 600, "Duplex=DuplexNoTumble", 768, 1},
                    BlankCase{"C1200dpi", kPlatformC, 1200, "Duplex=DuplexNoTumble", 384, 1},
                    BlankCase{"Z", kPlatformZ, 600, "Duplex=DuplexNoTumble", -1, 1},
                    BlankCase{"M2Bit", kPlatformM, 600, "Duplex=DuplexNoTumble DPI1200=True", -1, 2}),
    [](const testing::TestParamInfo<BlankCase>& info) { return std::string(info.param.name); });

// ---- Manual duplex ----

struct ManualCase {
  const char* name;
  Job job;
  std::vector<int> fronts;  // page numbers before the manual-duplex command
  std::vector<int> backs;   // after it; 0 is a blank page
};

// Back sides are turned by half a turn only on the Z platform, for a job that is not short-edge
// duplex: elsewhere the turn-over condition asks for long-edge feed.
Pages Describe(const std::vector<int>& pages, bool turned) {
  Pages described;
  for (int page : pages) described.push_back(page == 0 ? "blank" : std::to_string(page) + (turned ? "@180" : ""));
  return described;
}

void PrintTo(const ManualCase& c, std::ostream* os) { *os << c.name; }

class ManualDuplex : public testing::TestWithParam<std::tuple<ManualCase, Printer>> {};

TEST_P(ManualDuplex, FrontsThenTurnOverThenBacksLastToFirst) {
  ManualCase c = std::get<0>(GetParam());
  c.job.printer = std::get<1>(GetParam());
  JobResult result = RunJob(c.job);
  ExpectCleanJob(result);
  bool turned = std::string(c.job.printer.tag) == "Z";
  Pages expected = Describe(c.fronts, false);
  Pages backs = Describe(c.backs, turned);
  expected.insert(expected.end(), backs.begin(), backs.end());
  EXPECT_EQ(result.pages, expected);
  size_t command = ManualDuplexCommandOffset(result.stream);
  ASSERT_NE(command, std::string::npos);
  ASSERT_EQ(result.stream.pages.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    bool beforeCommand = result.stream.pages[i].offset < command;
    EXPECT_EQ(beforeCommand, i < c.fronts.size()) << "page " << i + 1;
  }
  EXPECT_NE(result.run.err.find(std::string("INFO:") + kTurnOverText + "\n"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    AllPlatforms, ManualDuplex,
    testing::Combine(
        testing::Values(ManualCase{"FivePagesReverse0", CopiesJob(5, 1, "ManualDuplex=True"), {1, 3, 5}, {0, 4, 2}},
                        ManualCase{"FivePagesReverse1", CopiesJob(5, 1, "ManualDuplex=True outputorder=True"),
                                   {1, 3, 5}, {4, 2, 0}},
                        ManualCase{"FourPages", CopiesJob(4, 1, "ManualDuplex=True"), {1, 3}, {4, 2}},
                        ManualCase{"Collated2CopiesOf3Pages", CopiesJob(3, 2, "ManualDuplex=True Collate=True"),
                                   {1, 3, 1, 3}, {0, 2, 0, 2}}),
        testing::Values(kPlatformC, kPlatformZ, kPlatformM)),
    [](const testing::TestParamInfo<ManualDuplex::ParamType>& info) {
      return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).tag;
    });

// On a Z printer that says "SupportManualDuplex" "TRUE", a long-edge duplex job is printed as
// manual duplex: fronts, the turn-over command, then the back sides turned and last to first.
TEST(ManualDuplexSupport, DuplexJobBecomesManualDuplex) {
  Job job = CopiesJob(5, 1, "Duplex=DuplexNoTumble");
  job.printer = kPlatformZManualDuplex;
  JobResult result = RunJob(job);
  ExpectCleanJob(result);
  EXPECT_EQ(result.pages, (Pages{"1", "3", "5", "blank", "4@180", "2@180"}));
  size_t command = ManualDuplexCommandOffset(result.stream);
  ASSERT_NE(command, std::string::npos);
  ASSERT_EQ(result.stream.pages.size(), 6u);
  EXPECT_LT(result.stream.pages[2].offset, command);
  EXPECT_GT(result.stream.pages[3].offset, command);
  EXPECT_NE(result.run.err.find(std::string("INFO:") + kTurnOverText + "\n"), std::string::npos);
}

// ---- A5 fed long edge ----

struct LongEdgeCase {
  Printer printer;
  long long paperCode;
  unsigned imageWidth, imageHeight;  // the table's A5 image, turned
  bool carriesFeedEdge;              // only the C page record has a feed-edge byte
};

void PrintTo(const LongEdgeCase& c, std::ostream* os) { *os << c.printer.fixture; }

class LongEdgeA5 : public testing::TestWithParam<LongEdgeCase> {};

// A 421 x 595 page is A5 fed long edge: the image is turned by a quarter turn clockwise, so it is
// sent with width and height swapped, and the page record carries the long-edge paper code.
TEST_P(LongEdgeA5, PageIsTurnedByAQuarter) {
  const LongEdgeCase& c = GetParam();
  Job job;
  job.printer = c.printer;
  job.pages = 2;
  job.widthPt = 421;
  job.heightPt = 595;
  JobResult result = RunJob(job);
  ExpectCleanJob(result);
  EXPECT_EQ(result.pages, (Pages{"1@90", "2@90"}));
  for (const vi::Page& page : result.stream.pages) {
    SCOPED_TRACE(page.index);
    EXPECT_EQ(vi::FieldValue(page.fields, "paperSize"), c.paperCode);
    if (c.carriesFeedEdge) {
      EXPECT_EQ(vi::FieldValue(page.fields, "feedEdge"), 64);
    }
    EXPECT_EQ(page.pixelWidth, c.imageWidth);
    EXPECT_EQ(page.plane.height, c.imageHeight);
  }
}

INSTANTIATE_TEST_SUITE_P(AllPlatforms, LongEdgeA5,
                         testing::Values(LongEdgeCase{kPlatformC, 6, 4736, 3328, true},
                                         LongEdgeCase{kPlatformZ, 18, 4736, 3264, false},
                                         LongEdgeCase{kPlatformM, 61, 4736, 3264, false}),
                         [](const testing::TestParamInfo<LongEdgeCase>& info) {
                           return std::string(info.param.printer.tag);
                         });

// ---- Cancel ----

// SIGTERM after page 2, while the filter waits for page 3: the job ends without any replay, the
// document is still ended, and no spool file stays in TMPDIR.
TEST(CopiesCancel, CancelBetweenPagesReplaysNothingAndLeavesNoSpoolFile) {
  struct Case {
    const char* options;
    Pages expected;
  };
  for (const Case& c : {Case{"Collate=True", Pages{"1", "2"}}, Case{"ManualDuplex=True Collate=True", Pages{"1"}}}) {
    SCOPED_TRACE(c.options);
    Job job = CopiesJob(4, 2, c.options);
    TempDir dir;
    std::vector<RasterPage> pages;
    for (int k = 1; k <= job.pages; ++k) pages.push_back(PageWithBars(k, job.widthPt, job.heightPt, job.copies, 0));
    WriteRaster(dir.File("two.ras"), {pages[0], pages[1]});
    WriteRaster(dir.File("job.ras"), pages);
    std::string firstTwo = ReadFile(dir.File("two.ras"));
    RunOptions run;
    run.stdin_data = ReadFile(dir.File("job.ras"));
    ASSERT_EQ(run.stdin_data.compare(0, firstTwo.size(), firstTwo), 0);
    run.stdin_hold_at = firstTwo.size();
    run.signal_when_stderr_has = "PAGE: 2 ";
    run.signal_delay_ms = 1500;  // page 2 is finished and the filter waits for more input
    JobResult result = RunJob(job, run, /*rasterOnStdin=*/true);
    EXPECT_TRUE(result.run.signal_sent);
    EXPECT_EQ(result.run.exit_status, 0) << result.run.err;
    EXPECT_TRUE(result.stream.Clean()) << Defects(result.stream);
    EXPECT_TRUE(result.spoolFilesLeft.empty());
    EXPECT_EQ(result.run.err.find("INFO:" + std::string(kTurnOverText)), std::string::npos);
    EXPECT_EQ(result.pages, c.expected);
  }
}

// A spool file that cannot be created costs only what it would have held: the printer gets one
// whole copy (the fronts, for manual duplex), the document is ended, and the job says what it
// could not print and fails.
TEST(SpoolFiles, UncreatableSpoolFileCostsItsCopiesOnly) {
  struct Case {
    const char* options;
    std::vector<std::string> expected;
    const char* error;
  };
  const Case cases[] = {
      {"Collate=True", {"1", "2"}, "ERROR: Only 1 of 2 collated copies was printed: the spool file failed ("},
      {"ManualDuplex=True", {"1"}, "ERROR: The back sides of the manual duplex job were not printed: the spool file failed ("},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    Job job = CopiesJob(2, 2, c.options);
    job.spoolFolderMissing = true;
    JobResult result = RunJob(job);
    EXPECT_EQ(result.run.exit_status, 1);
    EXPECT_NE(result.run.err.find(std::string(c.error) + "No such file or directory)\n"), std::string::npos)
        << result.run.err;
    EXPECT_EQ(result.run.err.find("INFO: Ready to print."), std::string::npos);
    EXPECT_TRUE(result.stream.Clean()) << vi::FormatDefects(result.stream);
    EXPECT_EQ(result.pages, c.expected);
    EXPECT_TRUE(result.spoolFilesLeft.empty());
  }
}

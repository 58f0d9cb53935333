// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// The print core driven directly, as a Printer Application drives it: page headers, settings and
// grey lines in, the printer stream into an output target in memory. For the same pages it must
// write exactly what the rastertoVarnel program writes for them as a CUPS raster, and nothing
// may reach standard output meanwhile.
#include <gtest/gtest.h>

#include <cups/cups.h>
#include <cups/ppd.h>

#include <cstring>
#include <string>
#include <vector>

#include "captured_stream.h"
#include "common.h"
#include "cupsdll.h"
#include "print_job.h"
#include "stream_inspect.h"
#include "test_support.h"

using namespace varnel_test;
namespace vi = varnel_inspect;

namespace {

// A printer output that buffers like a device connection: what is written waits in `pending`
// until a flush moves it to `sent`, the bytes the printer has.
struct MemoryPrinter {
  std::vector<unsigned char> pending;
  std::vector<unsigned char> sent;
};

ssize_t MemoryWrite(void* context, const void* data, size_t count) {
  auto* printer = static_cast<MemoryPrinter*>(context);
  const auto* bytes = static_cast<const unsigned char*>(data);
  printer->pending.insert(printer->pending.end(), bytes, bytes + count);
  return static_cast<ssize_t>(count);
}

int MemoryFlush(void* context) {
  auto* printer = static_cast<MemoryPrinter*>(context);
  printer->sent.insert(printer->sent.end(), printer->pending.begin(), printer->pending.end());
  printer->pending.clear();
  return 0;
}

// Page k: a grey ramp across the page, and k black boxes down its left side, so that every page
// of a job, and its orientation, looks different.
RasterPage NumberedPage(int k, unsigned widthPt, unsigned heightPt, unsigned copies, int duplex) {
  cups_page_header2_t header = GreyHeader(widthPt, heightPt, 600, 1000, 1100);
  header.NumCopies = copies;
  header.Duplex = duplex != 0 ? CUPS_TRUE : CUPS_FALSE;
  header.Tumble = duplex == 2 ? CUPS_TRUE : CUPS_FALSE;
  RasterPage page = FlatPage(header, 255);
  for (unsigned y = 0; y < header.cupsHeight; ++y) {
    uint8_t* row = &page.pixels[static_cast<size_t>(y) * header.cupsBytesPerLine];
    for (unsigned x = 500; x < header.cupsWidth; ++x) row[x] = static_cast<uint8_t>(x * 255 / header.cupsWidth);
    for (int box = 0; box < k; ++box)
      if (y >= 80u + 120u * box && y < 160u + 120u * box) memset(row + 60, 0, 200);
  }
  return page;
}

struct PageSize {
  unsigned widthPt, heightPt;
};

struct CoreCase {
  const char* name;
  const char* fixture;
  std::vector<PageSize> pages;
  unsigned copies;
  int duplex;           // raster header: 0 simplex, 1 long edge, 2 short edge
  const char* options;  // argv[5]
  bool lentRows;        // lines read into the rows the core lends, else handed over to be copied
  size_t pagesReceived;
  std::vector<long long> paperSizes;  // paper code of every page received, when it matters
};

void PrintTo(const CoreCase& c, std::ostream* os) { *os << c.name; }

// 144 pt pages have no paper row: their image size comes from the PPD's margins. 421 x 595 is A5
// fed long edge first, which also holds for the 420 x 595 A5 page after it.
const CoreCase kCases[] = {
    {"C_Collated2CopiesOf3Pages", "platform_c.ppd", {{144, 144}, {144, 160}, {144, 144}}, 2, 0, "Collate=True",
     false, 6, {}},
    {"Z_DuplexOf3PagesGetsABlankBackSide", "platform_z.ppd", {{144, 144}, {144, 144}, {144, 144}}, 1, 1, "",
     true, 4, {}},
    {"Z_ShortEdgeDuplexTurnedBackSides", "platform_z.ppd", {{144, 144}, {144, 144}}, 1, 2, "ImageRotation=True",
     false, 2, {}},
    {"M_LongEdgeA5StaysForTheJob_2Copies", "platform_m.ppd", {{421, 595}, {420, 595}}, 2, 0, "NegativePrint=True",
     false, 2, {61, 61}},
    {"M_2BitPages", "platform_m.ppd", {{144, 144}, {144, 144}}, 1, 0, "DPI1200=True", true, 2, {}},
};

// The time of day in the document header (the C date record and the Z job time) is blanked, so
// that two streams written a moment apart can be compared.
std::vector<unsigned char> WithoutTime(std::vector<unsigned char> stream, const vi::InspectResult& inspected) {
  for (const vi::Item& item : inspected.items)
    if (item.name == "cmdSysTime" || item.name == "@PJL JOBTIME=")
      memset(stream.data() + item.offset, 'T', item.length);
  return stream;
}

size_t FirstDifference(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b) {
  size_t i = 0;
  while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
  return i;
}

class PrintCore : public testing::TestWithParam<CoreCase> {
 protected:
  void SetUp() override {
    InitCUPSDLL();
    InitCUPSIMAGEDLL();
  }
  void TearDown() override { SetPrinterOutput(nullptr); }

  std::vector<RasterPage> Pages(const CoreCase& c) {
    std::vector<RasterPage> pages;
    for (size_t k = 0; k < c.pages.size(); ++k)
      pages.push_back(NumberedPage(static_cast<int>(k + 1), c.pages[k].widthPt, c.pages[k].heightPt, c.copies,
                                   c.duplex));
    return pages;
  }

  std::vector<unsigned char> RunProgramOn(const CoreCase& c, const std::vector<RasterPage>& pages) {
    std::string raster = dir_.File("job.ras");
    WriteRaster(raster, pages);
    RunOptions options;
    options.env.push_back("PPD=" + Fixture(c));
    ProcessResult run = RunProgram(BuildPath("gdi_filter/rastertoVarnel"),
                                   {"42", "user", "title", std::to_string(c.copies), c.options, raster}, options);
    EXPECT_EQ(run.exit_status, 0) << run.err;
    return std::vector<unsigned char>(run.out.begin(), run.out.end());
  }

  // The settings the filter works out for a page of this printer: platform and paper table from
  // the model name, the print functions from the header and the options (on Z completed with the
  // PPD's defaults), the custom-size margins of the PPD.
  void FillSettings(const CoreCase& c, ppd_file_t* ppd, cups_page_header2_t* header, PAGE_SETTINGS* settings) {
    settings->paperSizeArray = GetPaperSizeArray(gPPDFile, &settings->platform);
    std::string text = c.options;
    if (settings->platform == PLATFORM_Z) checkOptionKey(text, c.options, ppd);
    cups_option_t* options = nullptr;
    int count = cupsParseOptions(text.c_str(), 0, &options);
    GetFunctionValue(settings->prntFuncInfo, count, options, header);
    cupsFreeOptions(count, options);
    memcpy(settings->customMargins, ppd->custom_margins, sizeof settings->customMargins);
  }

  // The job through the core API into a MemoryPrinter; returns what the printer got.
  MemoryPrinter RunCoreOn(const CoreCase& c, const std::vector<RasterPage>& pages) {
    ppd_file_t* ppd = ppdOpenFile(Fixture(c).c_str());
    EXPECT_NE(ppd, nullptr);
    if (ppd == nullptr) return MemoryPrinter();
    snprintf(gPPDFile, sizeof gPPDFile, "%s", ppd->modelname);
    MemoryPrinter printer;
    PRINTER_OUTPUT output = {MemoryWrite, MemoryFlush, &printer};
    SetPrinterOutput(&output);

    PAGE_SETTINGS settings{};
    InitPrintFuncInfo(settings.prntFuncInfo);
    settings.jobId = "42";
    settings.jobName = "title";
    PPRINT_JOB job = PrintJobBegin();
    EXPECT_NE(job, nullptr);
    for (size_t k = 0; job != nullptr && k < pages.size(); ++k) {
      const RasterPage& page = pages[k];
      cups_page_header2_t header = page.header;
      FillSettings(c, ppd, &header, &settings);
      if (!PrintPageBegin(job, &header, &settings)) break;
      const size_t bytesPerLine = header.cupsBytesPerLine;
      for (unsigned y = 0; y < header.cupsHeight; ++y) {
        const unsigned char* line = &page.pixels[y * bytesPerLine];
        if (c.lentRows) {
          unsigned char* room = PrintPageLine(job);
          EXPECT_NE(room, nullptr);
          if (room == nullptr) break;
          memcpy(room, line, bytesPerLine);
          PrintPageLineDone(job);
        } else {
          EXPECT_EQ(PrintPageWriteLine(job, line, bytesPerLine), 1);
        }
      }
      EXPECT_EQ(PrintPageLine(job), nullptr) << "a page takes no more lines than its header has";
      if (!PrintPageEnd(job)) break;
    }
    EXPECT_EQ(PrintJobEnd(job), 1);
    PrintJobRelease(job);
    SetPrinterOutput(nullptr);
    ppdClose(ppd);
    return printer;
  }

  std::string Fixture(const CoreCase& c) { return SourcePath(std::string("tests/fixtures/ppd/") + c.fixture); }

  TempDir dir_;
};

TEST_P(PrintCore, WritesWhatTheFilterWritesForTheSamePages) {
  const CoreCase& c = GetParam();
  std::vector<RasterPage> pages = Pages(c);
  std::vector<unsigned char> program = RunProgramOn(c, pages);

  MemoryPrinter core;
  {
    CapturedStream standardOutput(1, dir_.File("stdout"));
    CapturedStream log(2, dir_.File("stderr"));
    core = RunCoreOn(c, pages);
    EXPECT_EQ(standardOutput.Finish(), "") << "the core wrote to standard output while its output was memory";
    EXPECT_EQ(log.Finish().find("ERROR:"), std::string::npos);
  }
  EXPECT_TRUE(core.pending.empty()) << core.pending.size() << " bytes were never flushed to the printer";

  vi::InspectResult inspected = vi::InspectStream(core.sent);
  EXPECT_TRUE(inspected.Clean()) << vi::FormatDefects(inspected);
  EXPECT_EQ(inspected.pages.size(), c.pagesReceived);
  for (const vi::Page& page : inspected.pages) EXPECT_TRUE(page.decoded) << "page " << page.index;
  for (size_t i = 0; i < c.paperSizes.size() && i < inspected.pages.size(); ++i)
    EXPECT_EQ(vi::FieldValue(inspected.pages[i].fields, "paperSize"), c.paperSizes[i]) << "page " << i + 1;

  std::vector<unsigned char> fromCore = WithoutTime(core.sent, inspected);
  std::vector<unsigned char> fromProgram = WithoutTime(program, vi::InspectStream(program));
  EXPECT_EQ(fromCore.size(), fromProgram.size());
  EXPECT_TRUE(fromCore == fromProgram) << "first difference at byte " << FirstDifference(fromCore, fromProgram);
}

INSTANTIATE_TEST_SUITE_P(AllPlatforms, PrintCore, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<CoreCase>& info) { return std::string(info.param.name); });

// A caller without signals cancels through the API: the page being read takes no more lines and
// is finished with what it has, and the job ends at once, without the replay of further copies.
TEST(PrintCoreCancel, CancelDuringAPageEndsTheJobAfterIt) {
  InitCUPSDLL();
  MemoryPrinter printer;
  PRINTER_OUTPUT output = {MemoryWrite, MemoryFlush, &printer};
  SetPrinterOutput(&output);
  snprintf(gPPDFile, sizeof gPPDFile, "%s", "Varnel K5916 Series");
  PAGE_SETTINGS settings{};
  InitPrintFuncInfo(settings.prntFuncInfo);
  settings.paperSizeArray = GetPaperSizeArray(gPPDFile, &settings.platform);
  settings.prntFuncInfo[COLLATE].value = 1;
  settings.customMargins[0] = settings.customMargins[1] = settings.customMargins[2] = settings.customMargins[3] = 12;
  settings.jobId = "7";
  settings.jobName = "cancelled";
  RasterPage page = NumberedPage(1, 144, 144, 3, 0);
  std::vector<unsigned char> line(page.header.cupsBytesPerLine, 0);

  PPRINT_JOB job = PrintJobBegin();
  ASSERT_NE(job, nullptr);
  int pagesStarted = 0;
  for (int k = 1; k <= 3; ++k) {
    if (!PrintPageBegin(job, &page.header, &settings)) break;
    ++pagesStarted;
    unsigned linesTaken = 0;
    for (unsigned y = 0; y < page.header.cupsHeight; ++y) {
      if (k == 2 && y == 100) PrintJobCancel();
      linesTaken += PrintPageWriteLine(job, line.data(), line.size());
    }
    EXPECT_EQ(linesTaken, k == 2 ? 100u : page.header.cupsHeight);
    if (!PrintPageEnd(job)) break;
  }
  EXPECT_EQ(PrintJobEnd(job), 1);
  PrintJobRelease(job);
  SetPrinterOutput(nullptr);
  Canceled = 0;

  EXPECT_EQ(pagesStarted, 2);
  EXPECT_TRUE(printer.pending.empty());
  vi::InspectResult inspected = vi::InspectStream(printer.sent);
  EXPECT_TRUE(inspected.Clean()) << vi::FormatDefects(inspected);
  ASSERT_EQ(inspected.pages.size(), 2u) << "no further collated copy after the cancel";
  // The cancelled page carries its first 100 lines (black) and white below them.
  const vi::Bitmap& plane = inspected.pages[1].plane;
  ASSERT_TRUE(inspected.pages[1].decoded);
  EXPECT_TRUE(plane.Bit(plane.width / 2, 50));
  EXPECT_FALSE(plane.Bit(plane.width / 2, 500));
}

}  // namespace

// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// The real rastertoVarnel process on rasters written with libcups and the PPD fixtures.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "stream_inspect.h"
#include "test_support.h"

using namespace varnel_test;

namespace {

std::string Filter() { return BuildPath("gdi_filter/rastertoVarnel"); }
std::string Fixture(const std::string& name) { return SourcePath("tests/fixtures/ppd/" + name); }

// A small A4 page: the raster is 1000 x 1200 pixels, far less than the paper, which keeps the
// files small; the page geometry still comes from the paper table.
RasterPage SmallA4Page(uint8_t value = 128) { return FlatPage(GreyHeader(595, 842, 600, 1000, 1200), value); }

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}


class Program : public ::testing::Test {
 protected:
  std::string Raster(const std::vector<RasterPage>& pages, const std::string& name = "job.ras") {
    std::string path = dir_.File(name);
    WriteRaster(path, pages);
    return path;
  }
  ProcessResult Run(const std::string& ppd, const std::string& raster, const std::string& options = "",
                    RunOptions run = RunOptions()) {
    run.env.push_back("PPD=" + ppd);
    return RunProgram(Filter(), {"42", "user", "title", "1", options, raster}, run);
  }
  TempDir dir_;
};

TEST_F(Program, EmptyRasterHasNoPages) {
  ProcessResult r = Run(Fixture("platform_z.ppd"), Raster({}));
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_NE(r.err.find("DEBUG: cupsRasterReadHeader2 return failure/end-of-file.\n"), std::string::npos);
  EXPECT_NE(r.err.find("ERROR: No pages found!\n"), std::string::npos);
  EXPECT_EQ(r.err.find("PAGE:"), std::string::npos);
  EXPECT_TRUE(r.out.empty());
}

TEST_F(Program, ReadsTheRasterFromStandardInput) {
  RunOptions run;
  run.env.push_back("PPD=" + Fixture("platform_m.ppd"));
  run.stdin_data = ReadFile(Raster({SmallA4Page(), SmallA4Page()}));
  ProcessResult r = RunProgram(Filter(), {"42", "user", "title", "1", ""}, run);
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_NE(r.err.find("PAGE: 2 1\n"), std::string::npos);
  EXPECT_NE(r.err.find("INFO: Ready to print.\n"), std::string::npos);
}

struct StartUpCase {
  const char* what;
  const char* ppd;     // fixture name, "" for unset, or a path
  const char* raster;  // "good", "missing", "text", "empty"
  const char* message;
};

TEST_F(Program, StartUpFailuresGiveOneErrorLineAndStatus1) {
  std::string good = Raster({SmallA4Page()}, "good.ras");
  WriteFile(dir_.File("text.ras"), "%!PS-Adobe-3.0\nshowpage\n");
  WriteFile(dir_.File("empty.ras"), "");
  const StartUpCase cases[] = {
      {"PPD unset", "", "good", "ERROR: The PPD environment variable is not set"},
      {"PPD missing", "/nonexistent/file.ppd", "good", "ERROR: Unable to open the PPD file /nonexistent/file.ppd"},
      {"PPD not a PPD", "text.ras", "good", "ERROR: Unable to open the PPD file"},
      {"PPD without ModelName", "no_modelname.ppd", "good", "has no ModelName"},
      {"raster missing", "platform_z.ppd", "missing", "ERROR: Unable to open raster file - No such file or directory"},
      {"raster not a raster", "platform_z.ppd", "text", "ERROR: Unable to read the job: the input is not a CUPS raster"},
      {"raster of zero bytes", "platform_z.ppd", "empty", "ERROR: Unable to read the job: the input is not a CUPS raster"},
  };
  for (const StartUpCase& c : cases) {
    RunOptions run;
    std::string ppd = c.ppd;
    if (ppd.empty()) {
      run.unset_env.push_back("PPD");
    } else {
      if (ppd == "text.ras") ppd = dir_.File(ppd);
      else if (ppd[0] != '/') ppd = Fixture(ppd);
      run.env.push_back("PPD=" + ppd);
    }
    std::string raster = dir_.File(std::string(c.raster) + ".ras");
    ProcessResult r = RunProgram(Filter(), {"42", "user", "title", "1", "", raster}, run);
    EXPECT_EQ(r.exit_status, 1) << c.what;
    EXPECT_TRUE(r.out.empty()) << c.what;
    std::vector<std::string> errors = ErrorLines(r.err);
    ASSERT_EQ(errors.size(), 1u) << c.what << "\n" << r.err;
    EXPECT_NE(errors[0].find(c.message), std::string::npos) << c.what << "\n" << errors[0];
  }
}

struct BadPageCase {
  const char* what;
  void (*change)(cups_page_header2_t*);
  const char* field;
};

TEST_F(Program, BadPageHeadersAreRefusedByName) {
  const BadPageCase cases[] = {
      {"1-bit page",
       [](cups_page_header2_t* h) {
         h->cupsBitsPerColor = h->cupsBitsPerPixel = 1;
         h->cupsBytesPerLine = (h->cupsWidth + 7) / 8;
       },
       "cupsBitsPerColor = 1"},
      {"RGB page",
       [](cups_page_header2_t* h) {
         h->cupsBitsPerPixel = 24;
         h->cupsColorSpace = CUPS_CSPACE_RGB;
         h->cupsBytesPerLine = h->cupsWidth * 3;
       },
       "cupsBitsPerPixel = 24"},
      {"black-is-255 grey", [](cups_page_header2_t* h) { h->cupsColorSpace = CUPS_CSPACE_K; }, "cupsColorSpace = 3"},
      {"colour space outside the enumeration",
       [](cups_page_header2_t* h) {
         unsigned junk = 999;
         memcpy(&h->cupsColorSpace, &junk, sizeof junk);
         memcpy(&h->Tumble, &junk, sizeof junk);
       },
       "cupsColorSpace = 999"},
      {"page wider than any paper",
       [](cups_page_header2_t* h) { h->cupsWidth = h->cupsBytesPerLine = 1000000; },
       "cupsWidth = 1000000"},
      {"page taller than any paper", [](cups_page_header2_t* h) { h->cupsHeight = 2000000000; }, "cupsHeight = 2000000000"},
      {"paper larger than A0", [](cups_page_header2_t* h) { h->PageSize[1] = 100000; }, "PageSize[1] = 100000"},
      {"resolution too fine", [](cups_page_header2_t* h) { h->HWResolution[0] = 9600; }, "HWResolution[0] = 9600"},
  };
  for (const BadPageCase& c : cases) {
    cups_page_header2_t bad = GreyHeader(595, 842, 600, 1000, 1200);
    c.change(&bad);
    // The bad page carries no pixel data: it must be refused before anything is read or allocated.
    RasterPage badPage{bad, {}};
    for (bool afterGoodPage : {false, true}) {
      std::vector<RasterPage> pages;
      if (afterGoodPage) pages.push_back(SmallA4Page());
      pages.push_back(badPage);
      ProcessResult r = Run(Fixture("platform_z.ppd"), Raster(pages));
      std::string page = afterGoodPage ? "2" : "1";
      EXPECT_NE(r.err.find("ERROR: Page " + page + " refused: " + c.field), std::string::npos) << c.what << "\n"
                                                                                               << r.err;
      EXPECT_EQ(r.err.find("PAGE: " + page), std::string::npos) << c.what;
      if (afterGoodPage) {
        // The job ends through End of job with the page that was printed, and fails: the pages
        // after the refused one are not printed.
        EXPECT_EQ(r.exit_status, 1) << c.what;
        EXPECT_EQ(r.err.find("INFO: Ready to print."), std::string::npos) << c.what;
        std::vector<uint8_t> bytes(r.out.begin(), r.out.end());
        varnel_inspect::InspectResult stream = varnel_inspect::InspectStream(bytes);
        EXPECT_TRUE(stream.Clean()) << c.what << "\n" << varnel_inspect::FormatDefects(stream);
        EXPECT_EQ(stream.pages.size(), 1u) << c.what;
      } else {
        EXPECT_EQ(r.exit_status, 1) << c.what;
        EXPECT_NE(r.err.find("ERROR: No pages found!\n"), std::string::npos) << c.what;
        EXPECT_TRUE(r.out.empty()) << c.what;
      }
    }
  }
}

struct PlatformCase {
  const char* ppd;
  int platform;
};

TEST_F(Program, PlatformFromModelNameOrPlatForm) {
  std::string raster = Raster({SmallA4Page()});
  const PlatformCase cases[] = {
      {"platform_c.ppd", 1},     {"platform_c_mfp.ppd", 1},     {"platform_z.ppd", 2},
      {"platform_m.ppd", 3},     {"unknown.ppd", 0},            {"unknown_platform_m.ppd", 3},
      {"unknown_platform_c.ppd", 1},  // the PlatForm text is compared without case
  };
  for (const PlatformCase& c : cases) {
    ProcessResult r = Run(Fixture(c.ppd), raster);
    EXPECT_EQ(r.exit_status, 0) << c.ppd << "\n" << r.err;
    EXPECT_NE(r.err.find("DEBUG: ##platform = " + std::to_string(c.platform) + ", ##autoduplex = 0\n"),
              std::string::npos)
        << c.ppd;
    EXPECT_NE(r.err.find("INFO: Ready to print.\n"), std::string::npos) << c.ppd;
    // The document and page records are not built yet: the stream must at least carry no text.
    EXPECT_EQ(r.out.find("ERROR"), std::string::npos) << c.ppd;
    EXPECT_EQ(r.out.find("Fail"), std::string::npos) << c.ppd;
  }
}

TEST_F(Program, ProgressLinesEvery128RasterLines) {
  ProcessResult r = Run(Fixture("platform_m.ppd"), Raster({SmallA4Page()}));
  ASSERT_EQ(r.exit_status, 0) << r.err;
  // 1200 lines: y = 0, 128, ..., 1152 -> 10 lines, the last at 1152 * 100 / 1200 = 96 %.
  EXPECT_EQ(Count(r.err, "INFO: Printing page 1, "), 10u);
  EXPECT_NE(r.err.find("INFO: Printing page 1, 0% complete...\n"), std::string::npos);
  EXPECT_NE(r.err.find("INFO: Printing page 1, 96% complete...\n"), std::string::npos);
}

TEST_F(Program, DuplexOptionsAndBackSideRotation) {
  std::string raster = Raster({SmallA4Page(), SmallA4Page(), SmallA4Page()});
  ProcessResult r = Run(Fixture("platform_c.ppd"), raster, "Duplex=DuplexNoTumble");
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_NE(r.err.find("DEBUG: ##platform = 1, ##autoduplex = 1\n"), std::string::npos);
  EXPECT_NE(r.err.find("DEBUG: ##page is 1, rotate180 is 0\n"), std::string::npos);
  EXPECT_NE(r.err.find("DEBUG: ##page is 2, rotate180 is 1\n"), std::string::npos);
  EXPECT_NE(r.err.find("DEBUG: ##page is 3, rotate180 is 0\n"), std::string::npos);
  r = Run(Fixture("platform_c.ppd"), raster, "Duplex=DuplexTumble ImageRotation=True");
  EXPECT_EQ(Count(r.err, "rotate180 is 1\n"), 3u);
}

TEST_F(Program, ZOptionsCompletedFromPPDDefaults) {
  ProcessResult r = Run(Fixture("platform_z.ppd"), Raster({SmallA4Page()}), "noTonerMode");
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_NE(r.err.find("DEBUG:  InputSlot=ManualFeed\n"), std::string::npos);
  EXPECT_NE(r.err.find("No find ImageRotation option\n"), std::string::npos);
  EXPECT_NE(r.err.find("-------SupportManualDuplex is 0\n"), std::string::npos);
}

TEST_F(Program, AutomaticDuplexBecomesManualOnZPrintersThatOfferIt) {
  ProcessResult r = Run(Fixture("manual_duplex_z.ppd"), Raster({SmallA4Page()}), "Duplex=DuplexTumble");
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_NE(r.err.find("-------SupportManualDuplex is 1\n"), std::string::npos);
  EXPECT_NE(r.err.find("DEBUG: ##platform = 2, ##autoduplex = 2\n"), std::string::npos);
  EXPECT_NE(r.err.find("DEBUG: ##ManualDuplex = 1, type is 1\n"), std::string::npos);
}

struct DeviceCase {
  const char* what;
  const char* ppd;
  const char* deviceId;  // nullptr: no side channel
  bool supported;
};

TEST_F(Program, DeviceCheckOverTheSideChannel) {
  std::string raster = Raster({SmallA4Page()});
  const char* row0 = "MFG:R&X;CMD:GDI;MDL:RXT30441 series;CLS:PRINTER;DES:R&X RXT30441 series;";
  const DeviceCase cases[] = {
      {"listed device ID", "nickname_rxt30441.ppd", row0, true},
      {"device ID decides over the nickname", "nickname_unlisted.ppd",
       "MFG:PRUL;MDL:PRLM6100N-series;CLS:PRINTER;DES:PRUL-PRLM6100N-series;", true},
      {"unlisted device ID, listed nickname", "nickname_rxt30441.ppd", "MFG:Varnel;MDL:K8388 Series;CLS:PRINTER;",
       false},
      {"device ID without CLS", "nickname_rxt30441.ppd", "MFG:R&X;MDL:RXT30441 series;DES:R&X RXT30441 series;", false},
      {"no side channel, listed nickname", "nickname_rxt30441.ppd", nullptr, true},
      {"no side channel, nickname in lower case", "nickname_lower.ppd", nullptr, true},
      {"no side channel, unlisted nickname", "nickname_unlisted.ppd", nullptr, false},
      {"empty device ID falls back to the nickname", "nickname_rxt30441.ppd", "", true},
  };
  for (const DeviceCase& c : cases) {
    RunOptions run;
    if (c.deviceId != nullptr) run.device_id = std::string(c.deviceId);
    ProcessResult r = Run(Fixture(c.ppd), raster, "", run);
    EXPECT_EQ(r.exit_status, c.supported ? 0 : 1) << c.what << "\n" << r.err;
    EXPECT_NE(r.err.find(c.supported ? "DEBUG: Sup dev.\n" : "DEBUG: Not sup dev.\n"), std::string::npos) << c.what;
    if (!c.supported) {
      EXPECT_NE(r.err.find("ERROR: No pages found!\n"), std::string::npos) << c.what;
      EXPECT_EQ(r.err.find("PAGE:"), std::string::npos) << c.what;
      EXPECT_TRUE(r.out.empty()) << c.what;
    }
    bool queryFails = c.deviceId == nullptr || *c.deviceId == '\0';
    EXPECT_EQ(r.err.find("DEBUG: Failed to get 1284 information.\n") != std::string::npos, queryFails) << c.what;
  }
}

TEST_F(Program, NoDeviceCheckWithoutShortNickName) {
  RunOptions run;
  run.device_id = std::string("MFG:Other;MDL:Unknown;");
  ProcessResult r = Run(Fixture("platform_m.ppd"), Raster({SmallA4Page()}), "", run);
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.err.find("sup dev."), std::string::npos);
}

// ---- The printed page, read back with the stream inspector ----

varnel_inspect::InspectResult Inspect(const ProcessResult& r) {
  return varnel_inspect::InspectStream(reinterpret_cast<const uint8_t*>(r.out.data()), r.out.size());
}

// A run that printed `pages` pages as a well-formed stream, read back into *inspected.
testing::AssertionResult PrintedCleanly(const ProcessResult& r, size_t pages, varnel_inspect::InspectResult* inspected) {
  if (r.exit_status != 0) return testing::AssertionFailure() << "exit status " << r.exit_status << "\n" << r.err;
  *inspected = Inspect(r);
  if (!inspected->Clean()) return testing::AssertionFailure() << varnel_inspect::FormatDefects(*inspected);
  if (inspected->pages.size() != pages)
    return testing::AssertionFailure() << inspected->pages.size() << " pages, not " << pages;
  return testing::AssertionSuccess();
}

// The C platform at 1200 dpi uses a 28 x 28 tile of four 14 x 14 quarters that are one screen
// cell: a flat grey must get the same ink in all four, or it prints as a checkerboard of 14-pixel
// squares. The page is small and has no paper row; its image starts at a tile corner.
TEST_F(Program, FlatGreyOnC1200PrintsAlikeInTheFourQuarters) {
  for (uint8_t grey : {64, 96, 128, 160, 192}) {
    SCOPED_TRACE("grey " + std::to_string(grey));
    ProcessResult r = Run(Fixture("platform_c.ppd"), Raster({FlatPage(GreyHeader(144, 144, 1200), grey)}),
                          "DPI1200=True");
    varnel_inspect::InspectResult inspected;
    ASSERT_TRUE(PrintedCleanly(r, 1, &inspected));
    const varnel_inspect::Page& page = inspected.pages[0];
    ASSERT_TRUE(page.decoded);
    const varnel_inspect::Bitmap& plane = page.plane;
    ASSERT_EQ(plane.width, 2048u);  // (144 - 24) / 72 * 600 = 1000, to 1024, twice at 1200 dpi
    ASSERT_EQ(plane.height, 2000u);
    double black[4] = {0, 0, 0, 0}, pixels[4] = {0, 0, 0, 0};
    for (unsigned y = 0; y < plane.height; ++y) {
      for (unsigned x = 0; x < plane.width; ++x) {
        unsigned quarter = (y % 28) / 14 * 2 + (x % 28) / 14;
        black[quarter] += plane.Bit(x, y);
        pixels[quarter] += 1;
      }
    }
    double all = (black[0] + black[1] + black[2] + black[3]) / (pixels[0] + pixels[1] + pixels[2] + pixels[3]);
    EXPECT_NEAR(all, 1 - grey / 255.0, 0.03);
    for (int q = 0; q < 4; ++q) EXPECT_NEAR(black[q] / pixels[q], all, 0.01) << "quarter " << q;
  }
}

// Negative printing turns the page over, white to black. The strip right of the raster stays
// white on C and Z; the M printer inverts every pixel, so there it is black too.
TEST_F(Program, NegativePaddingRightOfTheRasterIsBlackOnlyOnM) {
  struct Case {
    const char* ppd;
    const char* options;
    bool paddingBlack;
  } cases[] = {
      {"platform_m.ppd", "NegativePrint=True", true},
      {"platform_m.ppd", "NegativePrint=True DPI1200=True", true},  // two bits a pixel
      {"platform_z.ppd", "NegativePrint=True", false},
      {"platform_c.ppd", "NegativePrint=True", false},
  };
  const unsigned rasterWidth = 600;
  std::string raster = Raster({FlatPage(GreyHeader(144, 144, 600, rasterWidth, 600), 255)});
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.ppd) + " " + c.options);
    ProcessResult r = Run(Fixture(c.ppd), raster, c.options);
    varnel_inspect::InspectResult inspected;
    ASSERT_TRUE(PrintedCleanly(r, 1, &inspected));
    const varnel_inspect::Page& page = inspected.pages[0];
    ASSERT_TRUE(page.decoded);
    ASSERT_EQ(page.pixelWidth, 1024u);  // (144 - 24) / 72 * 600 = 1000, to 1024
    const unsigned bits = page.bitsPerPixel;
    unsigned long rasterWhite = 0, paddingBlack = 0, paddingBits = 0;
    for (unsigned y = 0; y < page.plane.height; ++y) {
      for (unsigned x = 0; x < page.plane.width; ++x) {
        bool bit = page.plane.Bit(x, y);
        if (x < rasterWidth * bits) {
          rasterWhite += !bit;
        } else {
          paddingBlack += bit;
          ++paddingBits;
        }
      }
    }
    EXPECT_EQ(rasterWhite, 0u) << "the white raster prints black";
    EXPECT_GT(paddingBits, 0u);
    EXPECT_EQ(paddingBlack, c.paddingBlack ? paddingBits : 0) << "of " << paddingBits;
  }
}

// A page larger than the printer's largest paper (of its paper table, or of the PPD's custom
// sizes) is refused before anything is allocated for it; pages those allow still print, with a
// little room for rounding.
TEST_F(Program, PagesLargerThanThePrinterTakesAreRefused) {
  struct Case {
    const char* what;
    const char* ppd;
    unsigned w, h, dpi;
    const char* options;
    bool prints;
  } cases[] = {
      // 3370 x 3370 points at 1200 dpi would be a grey page of 3.1 GB on C.
      {"A0 square at 1200 dpi", "platform_c.ppd", 3370, 3370, 1200, "DPI1200=True", false},
      {"Legal at 1200 dpi", "platform_c.ppd", 612, 1008, 1200, "DPI1200=True", true},
      {"Legal and two points", "platform_c.ppd", 614, 1010, 600, "", true},
      {"three points wider than Legal", "platform_c.ppd", 615, 1008, 600, "", false},
      {"three points longer than Legal", "platform_z.ppd", 612, 1011, 600, "", false},
      {"landscape A4", "platform_z.ppd", 842, 595, 600, "", false},
      {"long-edge A5", "platform_m.ppd", 421, 595, 600, "", true},
      {"A5 fed long edge first", "platform_m.ppd", 420, 595, 600, "FeedLongEdge=True", true},
      {"A3 printed on the A4 the job names", "platform_c.ppd", 842, 1191, 600, "PageSize=A4", true},
      {"A3 without a paper to print it on", "platform_c.ppd", 842, 1191, 600, "", false},
      // No paper table: the PPD's custom sizes (up to 612 x 1008) bound the page.
      {"custom size of a model without a table", "unknown.ppd", 600, 1000, 600, "", true},
      {"beyond the custom sizes", "unknown.ppd", 700, 900, 600, "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // A small raster: the page size alone decides.
    ProcessResult r = Run(Fixture(c.ppd), Raster({FlatPage(GreyHeader(c.w, c.h, c.dpi, 400, 400), 0)}), c.options);
    if (c.prints) {
      EXPECT_EQ(r.exit_status, 0) << r.err;
      EXPECT_NE(r.err.find("PAGE: 1 1\n"), std::string::npos);
      EXPECT_EQ(r.err.find("refused"), std::string::npos) << r.err;
      if (std::string(c.ppd) == "unknown.ppd") {
        EXPECT_TRUE(r.out.empty());  // a model of no known platform gets no stream
      } else {
        varnel_inspect::InspectResult inspected = Inspect(r);
        EXPECT_TRUE(inspected.Clean()) << varnel_inspect::FormatDefects(inspected);
        EXPECT_EQ(inspected.pages.size(), 1u);
      }
    } else {
      EXPECT_EQ(r.exit_status, 1);
      std::vector<std::string> errors = ErrorLines(r.err);
      EXPECT_EQ(errors.size(), 2u) << r.err;
      if (errors.size() == 2) {
        EXPECT_EQ(errors[0].rfind("ERROR: Page 1 refused: PageSize = [ " + std::to_string(c.w) + " " +
                                      std::to_string(c.h) + " ] is larger than the largest paper of the printer",
                                  0),
                  0u)
            << errors[0];
        EXPECT_EQ(errors[1], "ERROR: No pages found!");
      }
      EXPECT_EQ(r.err.find("PAGE:"), std::string::npos);
      EXPECT_TRUE(r.out.empty());
    }
  }
  // After a page that printed, the job ends with that page, and fails: the rest was not printed.
  ProcessResult r = Run(Fixture("platform_c.ppd"),
                        Raster({SmallA4Page(), FlatPage(GreyHeader(3370, 3370, 1200, 400, 400), 0)}), "DPI1200=True");
  EXPECT_EQ(r.exit_status, 1) << r.err;
  EXPECT_EQ(r.err.find("INFO: Ready to print."), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("ERROR: Page 2 refused: PageSize = [ 3370 3370 ]"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("PAGE: 2"), std::string::npos);
  varnel_inspect::InspectResult inspected = Inspect(r);
  EXPECT_TRUE(inspected.Clean()) << varnel_inspect::FormatDefects(inspected);
  EXPECT_EQ(inspected.pages.size(), 1u);
}

// The density the printer gets: a Density that is no choice of the PPD (0 to 4) is ignored, on
// C and M for the built-in 2, on Z for the PPD's default (4 in the fixture), which the filter
// adds to the options there. (The Z fixture saves toner by default, which sends density 0.)
TEST_F(Program, DensityThatIsNoChoiceReachesThePrinterAsTheDefault) {
  struct Case {
    const char* ppd;
    const char* options;
    long long density;
    bool ignored;
  } cases[] = {
      {"platform_c.ppd", "Density=-5", 2, true},
      {"platform_c.ppd", "Density=3", 3, false},
      {"platform_c.ppd", "Density=7", 2, true},
      {"platform_z.ppd", "noTonerMode Density=-5", 4, true},
      {"platform_z.ppd", "noTonerMode Density=1", 1, false},
      {"platform_z.ppd", "noTonerMode Density=x", 4, true},
      {"platform_m.ppd", "Density=-5", 2, true},
      {"platform_m.ppd", "Density=0", 0, false},
      {"platform_m.ppd", "Density=300", 2, true},
  };
  std::string raster = Raster({SmallA4Page()});
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.ppd) + " " + c.options);
    ProcessResult r = Run(Fixture(c.ppd), raster, c.options);
    varnel_inspect::InspectResult inspected;
    ASSERT_TRUE(PrintedCleanly(r, 1, &inspected));
    // C and Z send the density with the document, M with every page.
    const bool m = std::string(c.ppd) == "platform_m.ppd";
    EXPECT_EQ(varnel_inspect::FieldValue(m ? inspected.pages[0].fields : inspected.document.fields, "density"),
              c.density);
    EXPECT_EQ(r.err.find("DEBUG: Density=") != std::string::npos, c.ignored) << r.err;
  }
}

// The host name of the Z job header comes from the system and can hold any byte (DHCP sets it).
// Here the real program runs in a UTS namespace of its own whose host name holds a CR, other
// control bytes, DEL and quotes (the kernel's proc file takes any byte but LF): the header keeps
// exactly its own lines.
TEST_F(Program, HostNameWithControlBytesAddsNoPjlLine) {
  if (geteuid() != 0) GTEST_SKIP() << "setting the host name in a namespace of its own (unshare -u) needs root";
  ProcessResult probe = RunProgram("/usr/bin/unshare", {"-u", "true"});
  if (probe.exit_status != 0) GTEST_SKIP() << "unshare -u is not allowed here: " << probe.err;
  RunOptions run;
  run.env.push_back("PPD=" + Fixture("platform_z.ppd"));
  run.env.push_back("VARNEL_TEST_HOST=evil\r@PJL SET COPIES=99\x01\x7f\"q");
  const std::string script = "printf %s \"$VARNEL_TEST_HOST\" > /proc/sys/kernel/hostname && exec \"$0\" \"$@\"";
  ProcessResult r = RunProgram("/usr/bin/unshare",
                               {"-u", "--", "/bin/sh", "-c", script, Filter(), "42", "user", "title", "1", "",
                                Raster({SmallA4Page()})},
                               run);
  ASSERT_EQ(r.exit_status, 0) << r.err;
  varnel_inspect::InspectResult inspected = Inspect(r);
  EXPECT_TRUE(inspected.Clean()) << varnel_inspect::FormatDefects(inspected);
  // The fixture's model (K5916) also gets the language version line.
  ASSERT_EQ(inspected.document.pjl.size(), 5u);
  EXPECT_EQ(inspected.document.pjl[0], "@PJL");
  EXPECT_EQ(inspected.document.pjl[1], "@PJL LANGUAGEVERSION=1.0");
  EXPECT_EQ(inspected.document.pjl[2].rfind("@PJL JOBTIME=", 0), 0u);
  EXPECT_EQ(inspected.document.pjl[3], "@PJL JOBOWNER=evil@PJL SET COPIES=99q");
  EXPECT_EQ(inspected.document.pjl[4], "@PJL ENTER LANGUAGE=PL");
}

// ---- Signals, with the input held at a known point ----

class Signals : public Program {
 protected:
  // Sends the raster on standard input and the signal once `trigger` is logged; until then only
  // `hold` bytes of the input are available.
  ProcessResult RunHeld(const std::string& ppd, const std::string& raster, size_t hold, const std::string& trigger,
                        int signal_number) {
    RunOptions run;
    run.env.push_back("PPD=" + ppd);
    run.stdin_data = raster;
    run.stdin_hold_at = hold;
    run.signal_when_stderr_has = trigger;
    run.signal_number = signal_number;
    run.timeout_ms = 30000;
    return RunProgram(Filter(), {"42", "user", "title", "1", ""}, run);
  }
  std::string OnePage() { return ReadFile(Raster({SmallA4Page()}, "one.ras")); }
  std::string TwoPages() { return ReadFile(Raster({SmallA4Page(), SmallA4Page()}, "two.ras")); }
};

// A cancel is the user's choice, not a failure: status 0, no error, and no "Ready to print"
// for a job that did not reach the printer whole. The stream stays well formed.
TEST_F(Signals, TermBetweenPagesEndsTheJobAfterThePage) {
  for (const char* ppd : {"platform_z.ppd", "platform_m.ppd"}) {
    ProcessResult r = RunHeld(Fixture(ppd), TwoPages(), OnePage().size(), "DEBUG: ##page is 1", 15);
    ASSERT_TRUE(r.signal_sent) << ppd;
    EXPECT_FALSE(r.timed_out) << ppd;
    EXPECT_EQ(r.exit_status, 0) << ppd << "\n" << r.err;
    EXPECT_NE(r.err.find("PAGE: 1 1\n"), std::string::npos) << ppd;
    EXPECT_EQ(r.err.find("PAGE: 2"), std::string::npos) << ppd;
    EXPECT_EQ(r.err.find("INFO: Ready to print."), std::string::npos) << ppd;
    EXPECT_EQ(r.err.find("ERROR:"), std::string::npos) << ppd << "\n" << r.err;
    std::vector<uint8_t> bytes(r.out.begin(), r.out.end());
    varnel_inspect::InspectResult stream = varnel_inspect::InspectStream(bytes);
    EXPECT_TRUE(stream.Clean()) << ppd << "\n" << varnel_inspect::FormatDefects(stream);
    EXPECT_EQ(stream.pages.size(), 1u) << ppd;
  }
}

// The page being read when the cancel comes is finished with the lines it has, sent and ended,
// and the document is ended: on M as on the other platforms, since a printer left with an open
// page waits for its end.
TEST_F(Signals, TermDuringAPageStopsReadingIt) {
  std::string one = OnePage();
  for (const char* ppd : {"platform_z.ppd", "platform_m.ppd"}) {
    ProcessResult r = RunHeld(Fixture(ppd), TwoPages(), one.size() / 2, "INFO: Printing page 1, 0%", 15);
    ASSERT_TRUE(r.signal_sent) << ppd;
    EXPECT_FALSE(r.timed_out) << ppd;
    EXPECT_EQ(r.exit_status, 0) << ppd << "\n" << r.err;
    EXPECT_EQ(r.err.find("INFO: Printing page 1, 96%"), std::string::npos) << ppd;
    EXPECT_EQ(r.err.find("PAGE: 2"), std::string::npos) << ppd;
    EXPECT_NE(r.err.find("DEBUG: ##page is 1, rotate180"), std::string::npos) << ppd;
    EXPECT_EQ(r.err.find("INFO: Ready to print."), std::string::npos) << ppd;
    std::vector<uint8_t> bytes(r.out.begin(), r.out.end());
    varnel_inspect::InspectResult stream = varnel_inspect::InspectStream(bytes);
    EXPECT_TRUE(stream.Clean()) << ppd << "\n" << varnel_inspect::FormatDefects(stream);
    ASSERT_EQ(stream.pages.size(), 1u) << ppd;
    EXPECT_TRUE(stream.pages[0].decoded) << ppd;
  }
}

// A timer signal while the page is read adds one filler pair between records, and nothing else.
TEST_F(Signals, KeepAliveFillerWhileThePageIsRead) {
  std::string one = OnePage();
  RunOptions quiet;
  quiet.env.push_back("PPD=" + Fixture("platform_z.ppd"));
  quiet.stdin_data = one;
  ProcessResult plain = RunProgram(Filter(), {"42", "user", "title", "1", ""}, quiet);
  ASSERT_EQ(plain.exit_status, 0) << plain.err;

  ProcessResult r = RunHeld(Fixture("platform_z.ppd"), one, one.size() / 2, "INFO: Printing page 1, 0%", 14);
  ASSERT_TRUE(r.signal_sent);
  EXPECT_EQ(r.term_signal, 0);
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.out.size(), plain.out.size() + 2);
  std::vector<uint8_t> bytes(r.out.begin(), r.out.end());
  varnel_inspect::InspectResult inspected = varnel_inspect::InspectStream(bytes);
  EXPECT_TRUE(inspected.Clean()) << (inspected.defects.empty() ? "" : inspected.defects.front().what);
  EXPECT_EQ(inspected.pages.size(), 1u);
}

}  // namespace

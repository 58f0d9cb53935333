// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "cupsdll.h"
#include "paper_tables.h"
#include "print_options.h"
#include "test_support.h"

using namespace varnel_test;

namespace {

class PrintOptions : public ::testing::Test {
 protected:
  void SetUp() override {
    InitCUPSIMAGEDLL();
    InitCUPSDLL();
    InitPrintFuncInfo(funcs);
    memset(&header, 0, sizeof header);
  }
  void TearDown() override { CloseCUPSDLL(); }

  void Apply(const std::string& text) {
    cups_option_t* options = nullptr;
    int count = cupsParseOptions(text.c_str(), 0, &options);
    GetFunctionValue(funcs, count, options, &header);
    cupsFreeOptions(count, options);
  }

  PRINT_FUNC_INFO funcs[PRINT_FUNC_COUNT];
  cups_page_header2_t header;
};

TEST_F(PrintOptions, DefaultTable) {
  const char* names[] = {"Duplex", "Sides", "ManualDuplex", "Density", "TonerMode", "FeedLongEdge", "outputorder",
                         "DPI1200", "NegativePrint", "InputSlot", "ImageRotation", "Collate", "FineMode"};
  for (int i = 0; i < PRINT_FUNC_COUNT; ++i) {
    EXPECT_STREQ(funcs[i].name, names[i]);
    EXPECT_EQ(funcs[i].value, i == DENSITY ? 2 : 0) << names[i];
  }
}

struct OptionCase {
  unsigned duplex, tumble;  // header
  const char* options;
  FuncName slot;
  int expected;
};

TEST_F(PrintOptions, GetFunctionValueTable) {
  const OptionCase cases[] = {
      {1, 1, "", AUTODUPLEX, 2},
      {1, 0, "", AUTODUPLEX, 1},
      {1, 7, "", AUTODUPLEX, 0},
      {0, 1, "", AUTODUPLEX, 0},
      {1, 1, "Duplex=None", AUTODUPLEX, 0},  // the option overrides the header
      {0, 0, "Duplex=DuplexNoTumble", AUTODUPLEX, 1},
      {0, 0, "Duplex=duplextumble", AUTODUPLEX, 2},
      {0, 0, "Sides=two-sided-short-edge", AUTODUPLONGEDGE, 2},
      {0, 0, "Sides=two-sided-long-edge", AUTODUPLONGEDGE, 1},
      {0, 0, "Collate=True", COLLATE, 1},
      {0, 0, "Collate=false", COLLATE, 0},
      {0, 0, "InputSlot=Tray1", INPUTSLOT, 0},
      {0, 0, "InputSlot=ManualFeed", INPUTSLOT, 1},
      {0, 0, "InputSlot=autofeed", INPUTSLOT, 2},
      {0, 0, "Density=4", DENSITY, 4},
      {0, 0, "TonerMode", TONERMODE, 1},  // a bare word is "true"
      {0, 0, "noTonerMode", TONERMODE, 0},
      {0, 0, "FeedLongEdge=TRUE", LONGEDGEFEED, 1},
      {0, 0, "outputorder=true", REVERSE, 1},
      {0, 0, "DPI1200=True NegativePrint=True", NEGATIVEPRINT, 1},
      {0, 0, "ImageRotation=yes", IMAGEROTATION, 0},
      {0, 0, "FineMode=true", FINEMODE, 1},
  };
  for (const OptionCase& c : cases) {
    InitPrintFuncInfo(funcs);
    header.Duplex = static_cast<cups_bool_t>(c.duplex);
    header.Tumble = static_cast<cups_bool_t>(c.tumble);
    Apply(c.options);
    EXPECT_EQ(funcs[c.slot].value, c.expected) << c.options << " header " << c.duplex << "/" << c.tumble;
  }
}

// Density takes the PPD's choices 0 to 4. Anything else would reach the printer as its low byte
// (-5 as 251): it is ignored with a DEBUG line, and the density the job had stays.
TEST_F(PrintOptions, DensityOutsideTheChoicesIsIgnored) {
  struct Case {
    const char* options;
    int before;  // the density before the options are read
    int expected;
    const char* logged;  // the DEBUG line, or nullptr for none
  } cases[] = {
      {"Density=0", 2, 0, nullptr},
      {"Density=4", 2, 4, nullptr},
      {"Density=3", 4, 3, nullptr},
      {"Density=-5", 2, 2, "DEBUG: Density=-5 is not one of 0 to 4: the density stays 2\n"},
      {"Density=-1", 3, 3, "DEBUG: Density=-1 is not one of 0 to 4: the density stays 3\n"},
      {"Density=5", 2, 2, "DEBUG: Density=5 is not one of 0 to 4: the density stays 2\n"},
      {"Density=251", 2, 2, "DEBUG: Density=251 is not one of 0 to 4: the density stays 2\n"},
      {"Density=4294967298", 2, 2, "DEBUG: Density=4294967298 is not one of 0 to 4"},
      {"Density=99999999999999999999", 2, 2, "DEBUG: Density=99999999999999999999 is not one of"},
      {"Density=junk", 2, 2, "DEBUG: Density=junk is not one of 0 to 4: the density stays 2\n"},
      {"Density=3x", 2, 2, "DEBUG: Density=3x is not one of"},
      {"Density=2.5", 4, 4, "DEBUG: Density=2.5 is not one of"},
      {"Density=+3", 2, 2, "DEBUG: Density=+3 is not one of"},
      {"Density=", 2, 2, "DEBUG: Density= is not one of"},
      // Job text in the log: no byte of it can end the line, and a long one is shortened.
      {"Density='1\nERROR: x'", 2, 2, "DEBUG: Density=1?ERROR: x is not one of 0 to 4: the density stays 2\n"},
      {"Density=1234567890123456789012345678901234567890", 2, 2,
       "DEBUG: Density=12345678901234567890123456789012... is not one of"},
  };
  for (const Case& c : cases) {
    InitPrintFuncInfo(funcs);
    funcs[DENSITY].value = c.before;
    testing::internal::CaptureStderr();
    Apply(c.options);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(funcs[DENSITY].value, c.expected) << c.options;
    if (c.logged == nullptr) {
      EXPECT_EQ(err.find("Density"), std::string::npos) << c.options << "\n" << err;
    } else {
      EXPECT_NE(err.find(c.logged), std::string::npos) << c.options << "\n" << err;
      EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 2) << err;  // with the ##Duplex line
    }
  }
}

// The custom-size limit of a PPD: ppdPageSizeLimits when it offers custom sizes, else its
// ParamCustomPageSize ranges, else none.
TEST_F(PrintOptions, CustomMaxSizeOfThePPD) {
  const std::string base = ReadFile(SourcePath("tests/fixtures/ppd/platform_c.ppd"));
  const std::string width = "*ParamCustomPageSize Width: 1 points 216 612\n";
  const std::string height = "*ParamCustomPageSize Height: 2 points 360 1008\n";
  ASSERT_NE(base.find(width), std::string::npos);
  ASSERT_NE(base.find(height), std::string::npos);
  auto without = [&](std::string text) {
    text.erase(text.find(width), width.size());
    text.erase(text.find(height), height.size());
    return text;
  };
  const std::string offered = without(base) +
                              "*VariablePaperSize: True\n"
                              "*CustomPageSize True: \"pop pop pop <</PageSize[5 -2 roll]>>setpagedevice\"\n"
                              "*ParamCustomPageSize Width: 1 points 216 700\n"
                              "*ParamCustomPageSize Height: 2 points 360 1100\n"
                              "*ParamCustomPageSize WidthOffset: 3 points 0 0\n"
                              "*ParamCustomPageSize HeightOffset: 4 points 0 0\n"
                              "*ParamCustomPageSize Orientation: 5 int 0 0\n";
  struct Case {
    const char* what;
    std::string text;
    float w, h;
  } cases[] = {
      {"ParamCustomPageSize only", base, 612, 1008},
      {"custom sizes offered", offered, 700, 1100},
      {"no custom sizes", without(base), 0, 0},
  };
  TempDir dir;
  for (const Case& c : cases) {
    WriteFile(dir.File("test.ppd"), c.text);
    ppd_file_t* ppd = ppdOpenFile(dir.File("test.ppd").c_str());
    ASSERT_NE(ppd, nullptr) << c.what;
    float size[2] = {-1, -1};
    GetCustomMaxSize(ppd, size);
    EXPECT_EQ(size[0], c.w) << c.what;
    EXPECT_EQ(size[1], c.h) << c.what;
    ppdClose(ppd);
  }
  float size[2] = {-1, -1};
  GetCustomMaxSize(nullptr, size);
  EXPECT_EQ(size[0], 0);
  EXPECT_EQ(size[1], 0);
}

TEST_F(PrintOptions, TrueSlotsAreOnlySwitchedOn) {
  Apply("Collate=true");
  Apply("Collate=false");
  EXPECT_EQ(funcs[COLLATE].value, 1);
  Apply("");
  EXPECT_EQ(funcs[COLLATE].value, 1);
}

struct KeyCase {
  const char* ppd;
  const char* argv5;
  const char* expected;  // parameters after the call
};

TEST_F(PrintOptions, CheckOptionKeyAddsPPDDefaults) {
  const KeyCase cases[] = {
      // platform_z.ppd: InputSlot ManualFeed, Density 4, TonerMode True, FeedLongEdge False.
      {"platform_z.ppd", "", " InputSlot=ManualFeed TonerMode Density=4"},
      {"platform_z.ppd", "noTonerMode", "noTonerMode InputSlot=ManualFeed Density=4"},
      {"platform_z.ppd", "TonerMode=False", "TonerMode=False InputSlot=ManualFeed Density=4"},
      {"platform_z.ppd", "InputSlot=Auto Density=0", "InputSlot=Auto Density=0 TonerMode"},
      // A Density that is no choice counts as none: the default comes after it, and wins.
      {"platform_z.ppd", "Density=-5", "Density=-5 InputSlot=ManualFeed TonerMode Density=4"},
      {"platform_z.ppd", "Density=dark", "Density=dark InputSlot=ManualFeed TonerMode Density=4"},
      // Density 3 adds nothing.
      {"manual_duplex_z.ppd", "", " InputSlot=Auto"},
      {"manual_duplex_z.ppd", "Density=9", "Density=9 InputSlot=Auto"},
      // Case-sensitive tests on the raw string: "inputslot" does not count as a mention.
      {"platform_m.ppd", "inputslot=AutoFeed", "inputslot=AutoFeed InputSlot=Auto Density=2"},
  };
  for (const KeyCase& c : cases) {
    ppd_file_t* ppd = ppdOpenFile(SourcePath(std::string("tests/fixtures/ppd/") + c.ppd).c_str());
    ASSERT_NE(ppd, nullptr) << c.ppd;
    std::string parameters = c.argv5;
    checkOptionKey(parameters, c.argv5, ppd);
    EXPECT_EQ(parameters, c.expected) << c.ppd << " [" << c.argv5 << "]";
    ppdClose(ppd);
  }
}

TEST_F(PrintOptions, MissingPPDOptionsAreLogged) {
  ppd_file_t* ppd = ppdOpenFile(SourcePath("tests/fixtures/ppd/platform_z.ppd").c_str());
  ASSERT_NE(ppd, nullptr);
  std::string parameters;
  testing::internal::CaptureStderr();
  checkOptionKey(parameters, "", ppd);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("No find ImageRotation option\n"), std::string::npos);
  EXPECT_NE(err.find("No find NegativePrint option\n"), std::string::npos);
  EXPECT_NE(err.find("DEBUG:  InputSlot=ManualFeed\n"), std::string::npos);
  ppdClose(ppd);
}

// An option string far beyond any fixed buffer is kept and parsed whole, additions included.
TEST_F(PrintOptions, LongOptionStringIsParsedWhole) {
  ppd_file_t* ppd = ppdOpenFile(SourcePath("tests/fixtures/ppd/platform_z.ppd").c_str());
  ASSERT_NE(ppd, nullptr);
  std::string argv5;
  for (int i = 0; i < 2000; ++i) argv5 += "opt" + std::to_string(i) + "=value" + std::to_string(i) + " ";
  argv5 += "Collate=True";
  ASSERT_GT(argv5.size(), 20000u);
  std::string parameters = argv5;
  checkOptionKey(parameters, argv5.c_str(), ppd);
  Apply(parameters);
  EXPECT_EQ(funcs[COLLATE].value, 1);
  EXPECT_EQ(funcs[INPUTSLOT].value, 1);  // the PPD default appended at the end
  EXPECT_EQ(funcs[DENSITY].value, 4);
  EXPECT_EQ(funcs[TONERMODE].value, 1);
  ppdClose(ppd);
}

TEST_F(PrintOptions, IsCutThePaper) {
  struct CutCase {
    unsigned w, h;
    const char* options;
    unsigned newW, newH;
  };
  const CutCase cases[] = {
      {1191, 1684, "PageSize=A4", 595, 842},
      {1191, 1684, "PageSize=a4", 1191, 1684},  // page-size names are case-sensitive
      {1191, 1684, "", 1191, 1684},
      {612, 1009, "PageSize=A4", 612, 1009},  // not wider than Legal
      {613, 1008, "PageSize=A4", 613, 1008},  // not longer than Legal
      {1191, 1684, "PageSize=Legal", 612, 1008},
  };
  for (const CutCase& c : cases) {
    header.PageSize[0] = c.w;
    header.PageSize[1] = c.h;
    cups_option_t* options = nullptr;
    int count = cupsParseOptions(c.options, 0, &options);
    isCutThePaper(&header, gPaperSizeArray_VK8244_VT9366, count, options);
    cupsFreeOptions(count, options);
    EXPECT_EQ(header.PageSize[0], c.newW) << c.w << "x" << c.h << " " << c.options;
    EXPECT_EQ(header.PageSize[1], c.newH) << c.w << "x" << c.h << " " << c.options;
  }
}

TEST_F(PrintOptions, LogPageHeaderWritesEveryField) {
  header = GreyHeader(595, 842);
  testing::internal::CaptureStderr();
  log_page_header2(&header);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err.rfind("DEBUG: Duplex = 0\nDEBUG: HWResolution = [ 600 600 ]\nDEBUG: ImagingBoundingBox = [ 0 0 595 842 ]\n", 0), 0u);
  EXPECT_NE(err.find("DEBUG: PageSize = [ 595 842 ]\nDEBUG: cupsWidth = 4958\nDEBUG: cupsHeight = 7016\n"),
            std::string::npos);
  EXPECT_NE(err.find("DEBUG: cupsBytesPerLine = 4958\nDEBUG: cupsColorOrder = 0\nDEBUG: cupsColorSpace = 0\n"
                     "DEBUG: cupsCompression = 0\n"),
            std::string::npos);
}

}  // namespace

// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// The paper sizes of the generated PPDs carry standard names, while the raster filter's paper
// tables keep older names: every size of every raster PPD must find its table row by its
// measures (how pages are matched) and by its name (how an oversized page is cut to the chosen
// paper), and the renamed sizes must go through both filters' CUPS chains.
#include <cups/ppd.h>
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cups_support.h"
#include "cupsdll.h"
#include "paper_tables.h"
#include "print_options.h"
#include "test_support.h"

namespace varnel_test {
namespace {

struct PpdCloser {
  void operator()(ppd_file_t* ppd) const { ppdClose(ppd); }
};
using PpdPointer = std::unique_ptr<ppd_file_t, PpdCloser>;

PAPER_SIZE_INFO* TableOfPlatform(const std::string& platform) {
  if (platform == "PLATFORM_C") return gPaperSizeArray_QD3820;
  if (platform == "PLATFORM_Z") return gPaperSizeArray_VK8244_VT9366;
  if (platform == "PLATFORM_M") return gPaperSizeArray_VK8388_VT8674;
  return nullptr;
}

TEST(PaperNames, EverySizeOfEveryRasterPpdFindsItsRowByMeasureAndByName) {
  InitCUPSDLL();
  int raster_ppds = 0;
  for (const auto& file : ListFiles(PpdPath(""))) {
    PpdPointer ppd(ppdOpenFile(PpdPath(file).c_str()));
    ASSERT_TRUE(ppd) << file;
    char platform[1024] = "";
    if (!ppdLocalizeIPPReason(ppd.get(), "PlatForm", nullptr, platform, sizeof platform)) continue;  // PostScript
    PAPER_SIZE_INFO* table = TableOfPlatform(platform);
    ASSERT_NE(table, nullptr) << file << ": " << platform;
    ++raster_ppds;
    for (int i = 0; i < ppd->num_sizes; ++i) {
      const ppd_size_t& size = ppd->sizes[i];
      if (strcmp(size.name, "Custom") == 0) continue;
      SCOPED_TRACE(file + " " + size.name);
      unsigned measures[2] = {static_cast<unsigned>(size.width), static_cast<unsigned>(size.length)};
      int feed = 0;
      int row = GetPaperArrayIndex(measures, table, &feed);
      ASSERT_GE(row, 0) << "no row of " << measures[0] << " x " << measures[1] << " points";

      // An A3 raster with this PageSize is cut to the row's paper.
      cups_page_header2_t header = GreyHeader(842, 1191);
      cups_option_t* options = nullptr;
      int count = cupsAddOption("PageSize", size.name, 0, &options);
      isCutThePaper(&header, table, count, options);
      cupsFreeOptions(count, options);
      EXPECT_EQ(header.PageSize[0], static_cast<unsigned>(table[row].cupsPaperW));
      EXPECT_EQ(header.PageSize[1], static_cast<unsigned>(table[row].cupsPaperH));
    }
  }
  EXPECT_EQ(raster_ppds, 8);
}

struct RenamedSize {
  const char* name;
  int paper_code_z;     // the row's paper code in the platform Z table
  unsigned width_pt, length_pt;
};

// The sizes that the PPDs call by another name than the paper tables.
const RenamedSize kRenamed[] = {
    {"Env10", 9, 297, 684},           {"184.86x260mm", 14, 524, 737}, {"195.09x269.88mm", 15, 553, 765},
    {"130.18x184.86mm", 16, 369, 524}, {"135.11x195.09mm", 17, 383, 553}, {"ISOB5", 20, 499, 709},
    {"FanFoldGermanLegal", 22, 612, 936}, {"8.5x13.5", 23, 612, 972}, {"119.94x230.01mm", 26, 340, 652},
    {"ISOB6", 28, 354, 499},
};

void PrintTo(const RenamedSize& size, std::ostream* out) { *out << size.name; }

// The value of `key=` in the first `page` line of an inspector summary.
std::string PageField(const std::string& summary, const std::string& key) {
  size_t line = summary.find("\npage ");
  if (line == std::string::npos) return "";
  size_t end = summary.find('\n', line + 1);
  size_t at = summary.find(" " + key + "=", line);
  if (at == std::string::npos || at > end) return "";
  at += key.size() + 2;
  return summary.substr(at, summary.find_first_of(" \n", at) - at);
}

class RenamedSizeChain : public ::testing::TestWithParam<RenamedSize> {
 protected:
  void SetUp() override {
    document_ = MakeTestPdf(dir_, 1);
    ASSERT_FALSE(document_.empty());
  }
  TempDir dir_;
  std::string document_;
  CupsfilterChain chain_;
};

TEST_P(RenamedSizeChain, RasterModelPrintsOnTheTablePaper) {
  ChainJob job;
  job.ppd = "q7306mf.ppd";
  job.input = document_;
  job.options = {std::string("PageSize=") + GetParam().name};
  ProcessResult printed = chain_.Run(job);
  ASSERT_EQ(printed.exit_status, 0) << printed.err;
  EXPECT_NE(printed.err.find("DEBUG: PageSize = [ " + std::to_string(GetParam().width_pt) + " " +
                             std::to_string(GetParam().length_pt) + " ]"),
            std::string::npos);
  WriteFile(dir_.File("job.prn"), printed.out);
  ProcessResult inspected = RunProgram(BuildPath("tools/varnel-inspect/varnel-inspect"), {"--summary", dir_.File("job.prn")});
  EXPECT_EQ(inspected.exit_status, 0) << inspected.out;
  EXPECT_EQ(PageField(inspected.out, "paper"), std::to_string(GetParam().paper_code_z)) << inspected.out;
}

TEST_P(RenamedSizeChain, PostScriptModelMeasuresThePaperFromThePpd) {
  ChainJob job;
  job.ppd = "prlp8400.ppd";  // the QD3840 family reads the page size for its corrections
  job.input = document_;
  job.options = {std::string("PageSize=") + GetParam().name};
  ProcessResult sent = chain_.Run(job);
  ASSERT_EQ(sent.exit_status, 0) << sent.err;
  const std::string w = std::to_string(GetParam().width_pt), h = std::to_string(GetParam().length_pt);
  EXPECT_NE(sent.err.find(std::string("pagesize:") + GetParam().name + " width:" + w + ",heigh:" + h + "\n"),
            std::string::npos);
  EXPECT_NE(sent.out.find("<</PageSize[" + w + " " + h + "]"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(AllRenamedSizes, RenamedSizeChain, ::testing::ValuesIn(kRenamed),
                         [](const ::testing::TestParamInfo<RenamedSize>& info) {
                           return SafeTestName(info.param.name);
                         });

}  // namespace
}  // namespace varnel_test

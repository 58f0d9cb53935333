// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// The generated PPD files: one per supported model, named and identified the way the filters'
// device checks expect, with the options the filters read, and valid for cupstestppd.
#include <cups/ppd.h>
#include <cups/raster.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "cups_support.h"
#include "test_support.h"

namespace varnel_test {
namespace {

struct RasterModel {
  const char* file;
  const char* short_nick_name;
  const char* device_id;
  const char* platform;
  bool manual_duplex;
};

// The device-check table of the raster filter, and the platform chosen for each model.
const RasterModel kRasterModels[] = {
    {"rxt30441.ppd", "RXT30441 Series", "MFG:R&X;MDL:RXT30441 series;CLS:PRINTER;DES:R&X RXT30441 series;",
     "PLATFORM_C", false},
    {"rxt30442.ppd", "RXT30442 Series", "MFG:R&X;MDL:RXT30442 series;CLS:PRINTER;DES:R&X RXT30442 series;",
     "PLATFORM_C", false},
    {"rxt415k3.ppd", "RXT415K3 Series", "MFG:RX;MDL:RXT415K3 series;CLS:PRINTER;DES:RX RXT415K3 series;",
     "PLATFORM_M", false},
    {"prlm6100.ppd", "PRLM6100N Series",
     "MFG:PRUL;MDL:PRLM6100N-series;CLS:PRINTER;DES:PRUL-PRLM6100N-series;", "PLATFORM_M", false},
    {"q7106mf.ppd", "quilon 7106MF Series",
     "MFG:VOLTRAN ISKELA;MDL:quilon 7106MF;CLS:PRINTER;DES:VOLTRAN ISKELA quilon 7106MF;", "PLATFORM_Z", true},
    {"q7106mfs.ppd", "quilon 7106MF-Series",
     "MFG:VOLTRAN ISKELA;MDL:quilon 7106MF-series;CLS:PRINTER;DES:VOLTRAN ISKELA-quilon 7106MF-series;",
     "PLATFORM_Z", true},
    {"q7306mf.ppd", "quilon 7306MF Series",
     "MFG:VOLTRAN ISKELA;MDL:quilon 7306MF series;CLS:PRINTER;DES:VOLTRAN ISKELA quilon 7306MF series;",
     "PLATFORM_Z", false},
    {"q7306mfn.ppd", "quilon7306MF Series",
     "MFG:VOLTRAN ISKELA;MDL:quilon7306MF series;CLS:PRINTER;DES:VOLTRAN ISKELA quilon7306MF series;",
     "PLATFORM_Z", false},
};

void PrintTo(const RasterModel& model, std::ostream* out) { *out << model.file; }

struct PostScriptModel {
  const char* file;
  const char* short_nick_name;
  std::vector<const char*> device_id_parts;  // what the PostScript filter's table looks for
};

const PostScriptModel kPostScriptModels[] = {
    {"rxt415k2.ppd", "RXT415K2 Series PS", {"MFG:RX;", "MDL:RXT415K2 series;", "CLS:PRINTER;"}},
    {"rxt415k4.ppd", "RXT415K4 Series PS", {"MFG:RX;", "MDL:RXT415K4 series;", "CLS:PRINTER;"}},
    {"tm5720dn.ppd", "TM5720DN Series PS", {"MFG:TT VISTA;", "MDL:TM5720DN series;", "CLS:PRINTER;"}},
    {"tp5720dn.ppd", "TP5720DN Series PS", {"MFG:TT VISTA;", "MDL:TP5720DN series;", "CLS:PRINTER;"}},
    {"prlp5720.ppd", "PRLP5720DN Series PS", {"MFG:PRUL;", "MDL:PRLP5720DN series;", "CLS:PRINTER;"}},
    {"prlm5720.ppd", "PRLM5720ADN Series PS", {"MFG:PRUL;", "MDL:PRLM5720ADN series;", "CLS:PRINTER;"}},
    {"prlp8400.ppd", "PRLP8400DN Series PS", {"MFG:PRUL;", "MDL:PRLP8400DN series;", "CLS:PRINTER;"}},
    {"prlm8400.ppd", "PRLM8400ADN Series PS", {"MFG:PRUL;", "MDL:PRLM8400ADN series;", "CLS:PRINTER;"}},
    {"q7407adn.ppd", "quilon 7407ADN Series PS",
     {"MFG:VOLTRAN ISKELA;", "MDL:quilon 7407ADN series;", "CLS:PRINTER;"}},
};

void PrintTo(const PostScriptModel& model, std::ostream* out) { *out << model.file; }

// The paper sizes: standard PPD names (or names made of the measures), size in points as the
// raster filter's paper tables have them.
const std::map<std::string, std::pair<int, int>> kPaperSizes = {
    {"A5", {420, 595}},           {"A4", {595, 842}},          {"Letter", {612, 792}},
    {"Legal", {612, 1008}},       {"B5", {516, 729}},          {"EnvMonarch", {279, 540}},
    {"EnvDL", {312, 624}},        {"EnvC5", {459, 649}},       {"Env10", {297, 684}},
    {"Postcard", {283, 420}},     {"184.86x260mm", {524, 737}}, {"195.09x269.88mm", {553, 765}},
    {"130.18x184.86mm", {369, 524}}, {"135.11x195.09mm", {383, 553}}, {"A6", {298, 420}},
    {"ISOB5", {499, 709}},        {"Executive", {522, 756}},   {"FanFoldGermanLegal", {612, 936}},
    {"8.5x13.5", {612, 972}},     {"Statement", {396, 612}},   {"EnvC6", {323, 459}},
    {"119.94x230.01mm", {340, 652}}, {"ISOB6", {354, 499}},
};

struct PpdCloser {
  void operator()(ppd_file_t* ppd) const { ppdClose(ppd); }
};
using PpdPointer = std::unique_ptr<ppd_file_t, PpdCloser>;

PpdPointer Open(const std::string& file) { return PpdPointer(ppdOpenFile(PpdPath(file).c_str())); }

std::string Default(ppd_file_t* ppd, const char* option) {
  ppd_option_t* found = ppdFindOption(ppd, option);
  return found ? found->defchoice : "(missing)";
}

std::vector<std::string> Choices(ppd_file_t* ppd, const char* option) {
  std::vector<std::string> names;
  if (ppd_option_t* found = ppdFindOption(ppd, option))
    for (int i = 0; i < found->num_choices; ++i) names.push_back(found->choices[i].choice);
  return names;
}

std::string Reason(ppd_file_t* ppd, const char* keyword) {
  char text[1024] = "";
  return ppdLocalizeIPPReason(ppd, keyword, nullptr, text, sizeof text) ? text : "(none)";
}

bool HasFilter(ppd_file_t* ppd, const std::string& expected) {
  for (int i = 0; i < ppd->num_filters; ++i)
    if (expected == ppd->filters[i]) return true;
  return false;
}

TEST(GeneratedPpd, OneFilePerSupportedModel) {
  std::vector<std::string> expected;
  for (const auto& model : kRasterModels) expected.push_back(model.file);
  for (const auto& model : kPostScriptModels) expected.push_back(model.file);
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(ListFiles(PpdPath("")), expected);
}

class RasterPpdTest : public ::testing::TestWithParam<RasterModel> {};

TEST_P(RasterPpdTest, IdentifiesTheModelAndItsPlatform) {
  const RasterModel& model = GetParam();
  PpdPointer ppd = Open(model.file);
  ASSERT_TRUE(ppd) << model.file;
  EXPECT_STREQ(ppd->shortnickname, model.short_nick_name);
  ppd_attr_t* id = ppdFindAttr(ppd.get(), "1284DeviceID", nullptr);
  ASSERT_NE(id, nullptr);
  EXPECT_STREQ(id->value, model.device_id);
  EXPECT_EQ(Reason(ppd.get(), "PlatForm"), model.platform);
  EXPECT_EQ(Reason(ppd.get(), "SupportManualDuplex"), model.manual_duplex ? "TRUE" : "FALSE");
  EXPECT_NE(Reason(ppd.get(), "MDuplex"), "(none)");
  // The platform text is only consulted for models outside the filter's own list, whose
  // names all begin with the maker's name.
  EXPECT_NE(std::string(ppd->modelname).rfind("Varnel ", 0), 0u) << ppd->modelname;
  EXPECT_TRUE(HasFilter(ppd.get(), "application/vnd.cups-raster 0 rastertoVarnel"));
}

TEST_P(RasterPpdTest, OffersTheOptionsTheFilterReads) {
  PpdPointer ppd = Open(GetParam().file);
  ASSERT_TRUE(ppd);
  const std::map<std::string, std::string> defaults = {
      {"Duplex", "None"},      {"Density", "2"},         {"TonerMode", "False"},   {"FeedLongEdge", "False"},
      {"outputorder", "Normal"}, {"DPI1200", "False"},    {"NegativePrint", "False"}, {"InputSlot", "Auto"},
      {"ImageRotation", "False"}, {"Collate", "True"},   {"FineMode", "False"},    {"ManualDuplex", "False"},
      {"PageSize", "A4"},      {"Resolution", "600dpi"}, {"ColorModel", "Gray"}};
  for (const auto& entry : defaults) EXPECT_EQ(Default(ppd.get(), entry.first.c_str()), entry.second) << entry.first;
  EXPECT_EQ(Choices(ppd.get(), "Duplex"), (std::vector<std::string>{"None", "DuplexNoTumble", "DuplexTumble"}));
  EXPECT_EQ(Choices(ppd.get(), "InputSlot"), (std::vector<std::string>{"Auto", "ManualFeed", "AutoFeed"}));
  EXPECT_EQ(Choices(ppd.get(), "Density"), (std::vector<std::string>{"0", "1", "2", "3", "4"}));
}

TEST_P(RasterPpdTest, PaperSizesAreThoseOfThePaperTablesPlusCustom) {
  PpdPointer ppd = Open(GetParam().file);
  ASSERT_TRUE(ppd);
  std::map<std::string, std::pair<int, int>> sizes;
  for (int i = 0; i < ppd->num_sizes; ++i)
    if (strcmp(ppd->sizes[i].name, "Custom") != 0)
      sizes[ppd->sizes[i].name] = {static_cast<int>(ppd->sizes[i].width), static_cast<int>(ppd->sizes[i].length)};
  EXPECT_EQ(sizes, kPaperSizes);
  EXPECT_TRUE(ppd->variable_sizes);
  // The filter computes the image of a custom size from these margins.
  for (int side = 0; side < 4; ++side) EXPECT_FLOAT_EQ(ppd->custom_margins[side], 12.0f) << side;
  EXPECT_FLOAT_EQ(ppd->custom_min[0], 211.0f);
  EXPECT_FLOAT_EQ(ppd->custom_max[1], 1008.0f);
}

// What the raster chain makes of the PPD: the page header that gstoraster will produce.
cups_page_header2_t InterpretedHeader(ppd_file_t* ppd, const std::vector<std::pair<const char*, const char*>>& marks) {
  ppdMarkDefaults(ppd);
  for (const auto& mark : marks) ppdMarkOption(ppd, mark.first, mark.second);
  cups_page_header2_t header;
  memset(&header, 0, sizeof header);
  EXPECT_EQ(cupsRasterInterpretPPD(&header, ppd, 0, nullptr, nullptr), 0) << cupsRasterErrorString();
  return header;
}

TEST_P(RasterPpdTest, RasterIsEightBitGreyWithWhiteAt255) {
  PpdPointer ppd = Open(GetParam().file);
  ASSERT_TRUE(ppd);
  cups_page_header2_t header = InterpretedHeader(ppd.get(), {{"Duplex", "DuplexTumble"}});
  EXPECT_EQ(header.cupsColorSpace, CUPS_CSPACE_W);
  EXPECT_EQ(header.cupsBitsPerColor, 8u);
  EXPECT_EQ(header.cupsBitsPerPixel, 8u);
  EXPECT_EQ(header.HWResolution[0], 600u);
  EXPECT_EQ(header.Duplex, CUPS_TRUE);
  EXPECT_EQ(header.Tumble, CUPS_TRUE);
  EXPECT_EQ(header.PageSize[0], 595u);
  EXPECT_EQ(header.PageSize[1], 842u);

  // 1200 dpi reaches the raster only where the platform prints 1200-dpi rasters.
  cups_page_header2_t fine = InterpretedHeader(ppd.get(), {{"DPI1200", "True"}});
  unsigned expected = std::string(GetParam().platform) == "PLATFORM_C" ? 1200u : 600u;
  EXPECT_EQ(fine.HWResolution[0], expected);
  EXPECT_EQ(fine.HWResolution[1], expected);
}

INSTANTIATE_TEST_SUITE_P(AllRasterModels, RasterPpdTest, ::testing::ValuesIn(kRasterModels),
                         [](const ::testing::TestParamInfo<RasterModel>& info) {
                           return SafeTestName(info.param.file);
                         });

class PostScriptPpdTest : public ::testing::TestWithParam<PostScriptModel> {};

TEST_P(PostScriptPpdTest, IdentifiesTheModel) {
  const PostScriptModel& model = GetParam();
  PpdPointer ppd = Open(model.file);
  ASSERT_TRUE(ppd) << model.file;
  EXPECT_STREQ(ppd->shortnickname, model.short_nick_name);
  ppd_attr_t* id = ppdFindAttr(ppd.get(), "1284DeviceID", nullptr);
  ASSERT_NE(id, nullptr);
  for (const char* part : model.device_id_parts) EXPECT_NE(strstr(id->value, part), nullptr) << part;
  EXPECT_TRUE(HasFilter(ppd.get(), "application/vnd.cups-postscript 0 pstoVarnel"));
}

TEST_P(PostScriptPpdTest, OffersTheOptionsTheFilterReads) {
  PpdPointer ppd = Open(GetParam().file);
  ASSERT_TRUE(ppd);
  const std::map<std::string, std::string> defaults = {
      {"LockedPinPrint", "False"}, {"PinNum1", "0"},    {"PinNum2", "0"},     {"PinNum3", "0"},
      {"PinNum4", "0"},            {"TimePrint", "False"}, {"PrintTimeH", "0"}, {"PrintTimeM", "0"},
      {"FeedEdge", "ShortEdge"},   {"Collate", "True"},  {"Duplex", "None"},  {"PageSize", "A4"}};
  for (const auto& entry : defaults) EXPECT_EQ(Default(ppd.get(), entry.first.c_str()), entry.second) << entry.first;
  for (const char* digit : {"PinNum1", "PinNum2", "PinNum3", "PinNum4"}) {
    auto choices = Choices(ppd.get(), digit);
    ASSERT_EQ(choices.size(), 10u) << digit;
    EXPECT_EQ(choices.front(), "0");
    EXPECT_EQ(choices.back(), "9");
  }
  auto hours = Choices(ppd.get(), "PrintTimeH");
  auto minutes = Choices(ppd.get(), "PrintTimeM");
  ASSERT_EQ(hours.size(), 24u);
  ASSERT_EQ(minutes.size(), 60u);
  EXPECT_EQ(hours.back(), "23");
  EXPECT_EQ(minutes.back(), "59");
  EXPECT_EQ(Choices(ppd.get(), "FeedEdge"), (std::vector<std::string>{"ShortEdge", "LongEdge"}));
  EXPECT_TRUE(ppd->variable_sizes);
  float minimum[2] = {0, 0}, maximum[2] = {0, 0};
  ppd_size_t min_size, max_size;
  ppdMarkDefaults(ppd.get());
  ASSERT_TRUE(ppdPageSizeLimits(ppd.get(), &min_size, &max_size));
  minimum[0] = min_size.width, minimum[1] = min_size.length, maximum[0] = max_size.width, maximum[1] = max_size.length;
  EXPECT_FLOAT_EQ(minimum[0], 211.0f);
  EXPECT_FLOAT_EQ(minimum[1], 418.0f);
  EXPECT_FLOAT_EQ(maximum[0], 612.0f);
  EXPECT_FLOAT_EQ(maximum[1], 1008.0f);
}

// pdftops renders images at the printer's resolution, and dialogs offer the standard secure-print
// PIN field of four digits.
TEST_P(PostScriptPpdTest, GivesItsResolutionAndAsksForAFourDigitPin) {
  PpdPointer ppd = Open(GetParam().file);
  ASSERT_TRUE(ppd);
  ppd_attr_t* resolution = ppdFindAttr(ppd.get(), "DefaultResolution", nullptr);
  ASSERT_NE(resolution, nullptr);
  EXPECT_STREQ(resolution->value, "600dpi");
  ppd_attr_t* password = ppdFindAttr(ppd.get(), "cupsJobPassword", nullptr);
  ASSERT_NE(password, nullptr);
  EXPECT_STREQ(password->value, "1111");
}

// The JCL as the stock chain writes it (pstops uses ppdEmitJCL, which rebuilds the JOB line and
// adds USERNAME): the PostScript filter reads its anchors in exactly this order.
TEST_P(PostScriptPpdTest, JclCarriesTheAnchorsInTheOrderTheFilterReadsThem) {
  PpdPointer ppd = Open(GetParam().file);
  ASSERT_TRUE(ppd);
  ppdMarkDefaults(ppd.get());
  ppdMarkOption(ppd.get(), "TimePrint", "True");
  FILE* out = tmpfile();
  ASSERT_NE(out, nullptr);
  ASSERT_EQ(ppdEmitJCL(ppd.get(), out, 42, "alice", "Report"), 0);
  ASSERT_EQ(ppdEmitJCLEnd(ppd.get(), out), 0);
  std::string jcl(static_cast<size_t>(ftell(out)), '\0');
  rewind(out);
  ASSERT_EQ(fread(&jcl[0], 1, jcl.size(), out), jcl.size());
  fclose(out);

  EXPECT_EQ(jcl.rfind("\x1b%-12345X@PJL\n", 0), 0u) << jcl;
  size_t previous = 0;
  for (const char* anchor : {"@PJL JOB NAME", "@PJL SET USERNAME = \"alice\"\n", "@PJL SET TIMEPRINT=ON\n",
                             "@PJL SET QTY=1\n", "@PJL SET BITSPERPIXEL=1\n", "@PJL ENTER LANGUAGE=POSTSCRIPT\n",
                             "@PJL EOJ"}) {
    size_t at = jcl.find(anchor);
    ASSERT_NE(at, std::string::npos) << anchor << " in\n" << jcl;
    EXPECT_GT(at, previous) << anchor << " out of order in\n" << jcl;
    EXPECT_EQ(jcl.find(anchor, at + 1), std::string::npos) << anchor << " twice";
    previous = at;
  }
}

INSTANTIATE_TEST_SUITE_P(AllPostScriptModels, PostScriptPpdTest, ::testing::ValuesIn(kPostScriptModels),
                         [](const ::testing::TestParamInfo<PostScriptModel>& info) {
                           return SafeTestName(info.param.file);
                         });

// One maker, one manufacturer name: the name of the maker in the device IDs, where the R&X
// models' IDs write "R&X" for the maker that calls itself RX everywhere else (the IDs stay as
// the printers report them, for the filters' device checks and the driver lookup by device ID).
TEST(GeneratedPpd, OneManufacturerNamePerMakerAsInTheDeviceIds) {
  std::map<std::string, std::string> makers;  // manufacturer -> first file
  for (const auto& file : ListFiles(PpdPath(""))) {
    PpdPointer ppd = Open(file);
    ASSERT_TRUE(ppd) << file;
    ppd_attr_t* id = ppdFindAttr(ppd.get(), "1284DeviceID", nullptr);
    ASSERT_NE(id, nullptr) << file;
    std::string device_id = id->value;
    ASSERT_EQ(device_id.rfind("MFG:", 0), 0u) << file;
    std::string maker = device_id.substr(4, device_id.find(';') - 4);
    if (maker == "R&X") maker = "RX";
    EXPECT_STREQ(ppd->manufacturer, maker.c_str()) << file;
    EXPECT_EQ(std::string(ppd->nickname).rfind(maker, 0), 0u) << file << ": " << ppd->nickname;
    makers.emplace(ppd->manufacturer, file);
  }
  std::vector<std::string> names;
  for (const auto& maker : makers) names.push_back(maker.first);
  EXPECT_EQ(names, (std::vector<std::string>{"PRUL", "RX", "TT VISTA", "VOLTRAN ISKELA"}));
}

// cupstestppd with every warning on and the driver's filters installed under a scratch root, so
// that the check of the cupsFilter programs runs too: nothing to complain about.
TEST(GeneratedPpd, EveryFilePassesCupstestppdWithoutWarnings) {
  TempDir root;
  std::string filter_dir = root.path() + CUPS_SERVERBIN_PATH + "/filter";
  ASSERT_EQ(system(("mkdir -p '" + filter_dir + "'").c_str()), 0);
  ASSERT_TRUE(CopyProgram(BuildPath("gdi_filter/rastertoVarnel"), filter_dir + "/rastertoVarnel"));
  ASSERT_TRUE(CopyProgram(BuildPath("ps_filter/pstoVarnel"), filter_dir + "/pstoVarnel"));
  std::vector<std::string> files = ListFiles(PpdPath(""));
  ASSERT_FALSE(files.empty());
  for (const auto& file : files) {
    ProcessResult checked = RunProgram("/usr/bin/cupstestppd", {"-W", "all", "-R", root.path(), PpdPath(file)});
    EXPECT_EQ(checked.exit_status, 0) << checked.out << checked.err;
    EXPECT_EQ(checked.out, PpdPath(file) + ": PASS\n") << checked.err;
  }
}

}  // namespace
}  // namespace varnel_test

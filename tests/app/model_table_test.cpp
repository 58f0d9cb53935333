// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// The Printer Application's model table: generated from the same PPDs as the CUPS queues, so
// every raster model is there with what the raster filter would read from its PPD, and the
// device ID of each model picks its own driver.
#include <cups/ppd.h>
#include <dirent.h>
#include <gtest/gtest.h>
#include <strings.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "cupsdll.h"
#include "models.h"
#include "prnt.h"

namespace {

struct PpdClose {
  void operator()(ppd_file_t* ppd) const { ppdClose(ppd); }
};
using Ppd = std::unique_ptr<ppd_file_t, PpdClose>;

std::vector<std::string> GeneratedPpds() {
  std::vector<std::string> files;
  DIR* dir = opendir(VARNEL_PPD_DIR);
  if (dir == nullptr) return files;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".ppd") == 0) files.push_back(std::string(VARNEL_PPD_DIR) + "/" + name);
  }
  closedir(dir);
  return files;
}

bool IsRasterPpd(ppd_file_t* ppd) {
  for (int i = 0; i < ppd->num_filters; ++i)
    if (strstr(ppd->filters[i], "rastertoVarnel") != nullptr) return true;
  return false;
}

std::string Reason(ppd_file_t* ppd, const char* keyword) {
  char text[1024] = "";
  return ppdLocalizeIPPReason(ppd, keyword, nullptr, text, sizeof text) != nullptr ? text : "";
}

int PlatformOfText(const std::string& text) {
  if (!strcasecmp(text.c_str(), "PLATFORM_C")) return PLATFORM_C;
  if (!strcasecmp(text.c_str(), "PLATFORM_Z")) return PLATFORM_Z;
  if (!strcasecmp(text.c_str(), "PLATFORM_M")) return PLATFORM_M;
  return PLATFORM_UNKNOWN;
}

TEST(ModelTable, HoldsEveryRasterModelOfThePpdsAsTheFilterReadsIt) {
  setenv("LANG", "C", 1);
  std::vector<std::string> files = GeneratedPpds();
  ASSERT_FALSE(files.empty()) << "no PPDs in " << VARNEL_PPD_DIR;
  std::set<std::string> seen;
  for (const std::string& file : files) {
    Ppd ppd(ppdOpenFile(file.c_str()));
    ASSERT_TRUE(ppd) << file;
    std::string driver = ppd->pcfilename;
    driver.erase(driver.rfind('.'));
    const VARNEL_MODEL* model = FindModel(driver.c_str());
    if (!IsRasterPpd(ppd.get())) {
      EXPECT_EQ(model, nullptr) << "a PostScript model has a raster driver: " << file;
      continue;
    }
    ASSERT_NE(model, nullptr) << "no driver for the raster model of " << file;
    seen.insert(driver);
    EXPECT_STREQ(model->modelName, ppd->modelname) << file;
    ppd_attr_t* id = ppdFindAttr(ppd.get(), "1284DeviceID", nullptr);
    ASSERT_NE(id, nullptr) << file;
    EXPECT_STREQ(model->deviceId, id->value) << file;
    EXPECT_EQ(model->platform, PlatformOfText(Reason(ppd.get(), "PlatForm"))) << file;
    EXPECT_EQ(model->supportManualDuplex, !strcasecmp(Reason(ppd.get(), "SupportManualDuplex").c_str(), "TRUE") ? 1 : 0)
        << file;
    EXPECT_EQ(model->duplexMsg, Reason(ppd.get(), "MDuplex")) << file;
    for (int i = 0; i < 4; ++i) EXPECT_EQ(model->customMargins[i], ppd->custom_margins[i]) << file;
    EXPECT_EQ(ModelOffers(model, MANUALDUPLEX), ppdFindOption(ppd.get(), "ManualDuplex") != nullptr) << file;
    EXPECT_EQ(ModelOffers(model, AUTODUPLONGEDGE), false) << "no PPD has a Sides option";
  }
  EXPECT_EQ(seen.size(), gVarnelModelCount) << "the table has models that no PPD has";
}

// What the table says about three models of different platforms.
TEST(ModelTable, PlatformsAndModes) {
  struct Case {
    const char* driver;
    int platform;
    int manualDuplex;
    int raster1200;
    PAPER_SIZE_INFO* table;
  } cases[] = {
      {"rxt30441", PLATFORM_C, 0, 1, gPaperSizeArray_QD3820},
      {"q7106mf", PLATFORM_Z, 1, 0, gPaperSizeArray_VK8244_VT9366},
      {"q7306mf", PLATFORM_Z, 0, 0, gPaperSizeArray_VK8244_VT9366},
      {"prlm6100", PLATFORM_M, 0, 0, gPaperSizeArray_VK8388_VT8674},
  };
  for (const Case& c : cases) {
    const VARNEL_MODEL* model = FindModel(c.driver);
    ASSERT_NE(model, nullptr) << c.driver;
    EXPECT_EQ(model->platform, c.platform) << c.driver;
    EXPECT_EQ(model->supportManualDuplex, c.manualDuplex) << c.driver;
    EXPECT_EQ(model->raster1200, c.raster1200) << c.driver;
    EXPECT_EQ(ModelPaperTable(model), c.table) << c.driver;
    // The PPD's defaults as the filter interprets them: density 2, collated copies.
    EXPECT_EQ(model->funcDefaults[DENSITY], 2) << c.driver;
    EXPECT_EQ(model->funcDefaults[COLLATE], 1) << c.driver;
    EXPECT_EQ(model->defaultPageW, 595) << c.driver;
    EXPECT_EQ(model->defaultPageH, 842) << c.driver;
  }
  EXPECT_EQ(FindModel("no-such-driver"), nullptr);
  EXPECT_EQ(FindModel(nullptr), nullptr);
}

TEST(ModelTable, EachDeviceIdPicksItsOwnDriverAndPassesTheFiltersDeviceCheck) {
  for (size_t i = 0; i < gVarnelModelCount; ++i) {
    const VARNEL_MODEL& model = gVarnelModels[i];
    EXPECT_STREQ(DriverForDeviceId(model.deviceId), model.driverName);
    EXPECT_TRUE(isSupportedDeviceId(model.deviceId)) << model.deviceId;
    for (size_t j = 0; j < gVarnelModelCount; ++j) {
      if (j == i) continue;
      EXPECT_FALSE(DeviceIdMatches(model.deviceId, &gVarnelModels[j])) << model.deviceId;
    }
  }
}

TEST(ModelTable, DeviceIdMatching) {
  const VARNEL_MODEL* model = FindModel("q7306mf");
  ASSERT_NE(model, nullptr);
  struct Case {
    const char* id;
    bool matches;
  } cases[] = {
      {"MFG:VOLTRAN ISKELA;MDL:quilon 7306MF series;CLS:PRINTER;DES:VOLTRAN ISKELA quilon 7306MF series;", true},
      // Keys in another order, with others between them, in other letter case, long forms.
      {"CMD:GDI;mdl:QUILON 7306MF SERIES;SN:123;mfg:voltran iskela;", true},
      {"MANUFACTURER:VOLTRAN ISKELA;MODEL:quilon 7306MF series;COMMAND SET:GDI;", true},
      {"MFG: VOLTRAN ISKELA ;MDL: quilon 7306MF series;", true},
      // Another model of the same maker, and near misses.
      {"MFG:VOLTRAN ISKELA;MDL:quilon7306MF series;", false},
      {"MFG:VOLTRAN ISKELA;MDL:quilon 7306MF;", false},
      {"MFG:VOLTRAN;MDL:quilon 7306MF series;", false},
      {"MDL:quilon 7306MF series;", false},
      {"MFG:VOLTRAN ISKELA;", false},
      {"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(DeviceIdMatches(c.id, model), c.matches) << c.id;
  EXPECT_FALSE(DeviceIdMatches(nullptr, model));
  // PostScript models are served by the CUPS queues, not by the application.
  EXPECT_EQ(DriverForDeviceId("MFG:RX;MDL:RXT415K2 series;CMD:PJL,POSTSCRIPT;CLS:PRINTER;"), nullptr);
  EXPECT_EQ(DriverForDeviceId("MFG:HP;MDL:LaserJet 1020;CMD:ACL;"), nullptr);
}

}  // namespace

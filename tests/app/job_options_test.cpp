// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// IPP job attributes as the raster filter's print functions.
#include <gtest/gtest.h>

#include <string>

#include "job_options.h"
#include "prnt.h"

namespace {

const VARNEL_MODEL* Model(const char* driver) {
  const VARNEL_MODEL* model = FindModel(driver);
  EXPECT_NE(model, nullptr) << driver;
  return model;
}

struct Funcs {
  PRINT_FUNC_INFO info[PRINT_FUNC_COUNT];
  int operator[](FuncName f) const { return info[f].value; }
};

Funcs Fill(const char* driver, const JOB_REQUEST& request) {
  Funcs funcs;
  FillPrintFunctions(Model(driver), request, funcs.info);
  return funcs;
}

TEST(JobOptions, AJobThatAsksNothingGetsThePpdDefaults) {
  const VARNEL_MODEL* model = Model("q7306mf");
  Funcs funcs = Fill("q7306mf", JOB_REQUEST());
  for (int i = 0; i < PRINT_FUNC_COUNT; ++i) {
    EXPECT_EQ(funcs.info[i].value, model->funcDefaults[i]) << funcs.info[i].name;
    EXPECT_STREQ(funcs.info[i].name, gDefaultPrintFuncInfo[i].name);
  }
}

TEST(JobOptions, SidesAreTheDuplexFunction) {
  struct Case {
    int sides;
    int duplex;
  } cases[] = {{kOneSided, 0}, {kTwoSidedLongEdge, 1}, {kTwoSidedShortEdge, 2}};
  for (const Case& c : cases) {
    JOB_REQUEST request;
    request.sides = c.sides;
    Funcs funcs = Fill("rxt30441", request);
    EXPECT_EQ(funcs[AUTODUPLEX], c.duplex) << c.sides;
    EXPECT_EQ(funcs[AUTODUPLONGEDGE], c.duplex) << c.sides;
    EXPECT_EQ(funcs[MANUALDUPLEX], 0) << c.sides;
  }
}

TEST(JobOptions, DarknessChoosesTheDensityLevel) {
  const VARNEL_MODEL* model = Model("prlm6100");
  EXPECT_EQ(DarknessForDefaultDensity(model), 50);
  struct Case {
    int darkness;
    int density;
  } cases[] = {{0, 0}, {12, 0}, {13, 1}, {37, 1}, {38, 2}, {50, 2}, {62, 2}, {63, 3}, {88, 4}, {100, 4},
               {-20, 0}, {150, 4}};
  for (const Case& c : cases) {
    EXPECT_EQ(DensityForDarkness(model, c.darkness), c.density) << c.darkness;
    JOB_REQUEST request;
    request.darkness = c.darkness;
    EXPECT_EQ(Fill("prlm6100", request)[DENSITY], c.density) << c.darkness;
  }
}

TEST(JobOptions, QualityIsTonerSaveOrThe1200DpiMode) {
  struct Case {
    const char* driver;
    int quality;
    int resolution;
    int tonerMode;
    int dpi1200;
  } cases[] = {
      {"q7306mf", kQualityDraft, 600, 1, 0},  {"q7306mf", kQualityNormal, 600, 0, 0},
      {"q7306mf", kQualityHigh, 600, 0, 1},   {"prlm6100", kQualityHigh, 600, 0, 1},
      // On the C models the 1200-dpi mode is a 1200-dpi raster, whatever the quality says.
      {"rxt30441", kQualityHigh, 600, 0, 0},  {"rxt30441", kQualityNormal, 1200, 0, 1},
      {"rxt30441", kQualityDraft, 1200, 1, 1},
  };
  for (const Case& c : cases) {
    JOB_REQUEST request;
    request.quality = c.quality;
    request.resolutionX = c.resolution;
    Funcs funcs = Fill(c.driver, request);
    EXPECT_EQ(funcs[TONERMODE], c.tonerMode) << c.driver << " " << c.quality << " " << c.resolution;
    EXPECT_EQ(funcs[DPI1200], c.dpi1200) << c.driver << " " << c.quality << " " << c.resolution;
  }
}

TEST(JobOptions, MediaSourceIsTheInputSlot) {
  const VARNEL_MODEL* model = Model("q7306mf");
  std::vector<const char*> sources = MediaSources(model);
  ASSERT_EQ(sources.size(), 3u);
  EXPECT_STREQ(sources[0], "auto");
  EXPECT_STREQ(sources[1], "manual");
  EXPECT_STREQ(sources[2], "main");
  struct Case {
    const char* source;
    int slot;
  } cases[] = {{"auto", 0}, {"manual", 1}, {"main", 2}, {"tray-7", 0}};
  for (const Case& c : cases) {
    JOB_REQUEST request;
    request.mediaSource = c.source;
    EXPECT_EQ(Fill("q7306mf", request)[INPUTSLOT], c.slot) << c.source;
    if (c.slot != 0 || std::string(c.source) == "auto") {
      EXPECT_STREQ(MediaSourceForInputSlot(c.slot), c.source);
    }
  }
}

TEST(JobOptions, VendorAttributesAndCollation) {
  // Each vendor boolean switches its function on and off; collation follows
  // multiple-document-handling the other way round in the same job.
  for (int on : {1, 0}) {
    const char* value = on ? "true" : "false";
    JOB_REQUEST request;
    request.vendor = {{kVendorNegativePrint, value}, {kVendorRotateBackSides, value}, {kVendorManualDuplex, value}};
    request.collate = 1 - on;
    Funcs funcs = Fill("q7306mf", request);
    EXPECT_EQ(funcs[NEGATIVEPRINT], on) << value;
    EXPECT_EQ(funcs[IMAGEROTATION], on) << value;
    EXPECT_EQ(funcs[MANUALDUPLEX], on) << value;
    EXPECT_EQ(funcs[COLLATE], 1 - on) << value;
  }
}

}  // namespace

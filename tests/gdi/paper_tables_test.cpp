// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "paper_tables.h"
#include "prnt.h"

namespace {

int Rows(const PAPER_SIZE_INFO* table) {
  int n = 0;
  while (table[n].cupsPaperW != -1) ++n;
  return n;
}

std::string Name(const PAPER_SIZE_INFO& row) { return reinterpret_cast<const char*>(row.strPageSize); }

struct ModelCase {
  const char* model;
  int platform;
  PAPER_SIZE_INFO* table;
};

TEST(PaperTables, ModelNameSelectsPlatformAndTable) {
  const ModelCase cases[] = {
      {"Varnel K8186 Series", PLATFORM_C, gPaperSizeArray_QD3820},
      {"Varnel K5369 Series", PLATFORM_C, gPaperSizeArray_QD3820},
      {"Varnel T8911 Series", PLATFORM_C, gPaperSizeArray_QD3820MFP},
      {"Varnel T9281 Series", PLATFORM_C, gPaperSizeArray_QD3820MFP},
      {"Varnel K5916 Series", PLATFORM_Z, gPaperSizeArray_VK8244_VT9366},
      {"Varnel T8323-T9076 Series", PLATFORM_Z, gPaperSizeArray_VK8244_VT9366},
      {"Varnel T4544DW Plus Series", PLATFORM_Z, gPaperSizeArray_VK8244_VT9366},
      {"Varnel T7584NW Series", PLATFORM_Z, gPaperSizeArray_VK8244_VT9366},
      {"Varnel K8388 Series", PLATFORM_M, gPaperSizeArray_VK8388_VT8674},
      {"Varnel W5369 Series", PLATFORM_M, gPaperSizeArray_VK8388_VT8674},
      {"Varnel TW9076NW Series", PLATFORM_M, gPaperSizeArray_VK8388_VT8674},
      // Whole, case-sensitive names only.
      {"varnel k8388 series", PLATFORM_UNKNOWN, nullptr},
      {"Varnel K8388 Series ", PLATFORM_UNKNOWN, nullptr},
      {"Varnel K8388", PLATFORM_UNKNOWN, nullptr},
      {"", PLATFORM_UNKNOWN, nullptr},
  };
  for (const ModelCase& c : cases) {
    int platform = 99;
    std::string model = c.model;
    EXPECT_EQ(GetPaperSizeArray(&model[0], &platform), c.table) << c.model;
    EXPECT_EQ(platform, c.platform) << c.model;
  }
}

TEST(PaperTables, EveryTableHasItsRowsWithA5First) {
  EXPECT_EQ(Rows(gPaperSizeArray_VK8388_VT8674), 23);
  EXPECT_EQ(Rows(gPaperSizeArray_VK8244_VT9366), 23);
  EXPECT_EQ(Rows(gPaperSizeArray_QD3820), 24);
  EXPECT_EQ(Rows(gPaperSizeArray_QD3820MFP), 23);
  for (PAPER_SIZE_INFO* table : {gPaperSizeArray_VK8388_VT8674, gPaperSizeArray_VK8244_VT9366,
                                 gPaperSizeArray_QD3820, gPaperSizeArray_QD3820MFP}) {
    EXPECT_EQ(Name(table[0]), "A5");
    const PAPER_SIZE_INFO& end = table[Rows(table)];
    EXPECT_EQ(end.fwPaperW + end.fwPaperH + end.fwPaperNum + end.fwPaperMarginX + end.fwPaperMarginY, 0);
    EXPECT_EQ(end.strPageSize[0], 0);
  }
}

TEST(PaperTables, OnlyMfpEnvelopesAndPostcardHaveMargins) {
  const char* withMargins[] = {"EnvMonarch", "EnvDL", "EnvC5", "Com10Envelope", "Postcard", "EnvC6"};
  for (PAPER_SIZE_INFO* table : {gPaperSizeArray_VK8388_VT8674, gPaperSizeArray_VK8244_VT9366,
                                 gPaperSizeArray_QD3820, gPaperSizeArray_QD3820MFP}) {
    for (int i = 0; table[i].cupsPaperW != -1; ++i) {
      bool expected = false;
      if (table == gPaperSizeArray_QD3820MFP)
        for (const char* name : withMargins) expected = expected || Name(table[i]) == name;
      EXPECT_EQ(table[i].fwPaperMarginX, expected ? 240 : 0) << Name(table[i]);
      EXPECT_EQ(table[i].fwPaperMarginY, expected ? 120 : 0) << Name(table[i]);
    }
  }
}

struct LookupCase {
  PAPER_SIZE_INFO* table;
  unsigned w, h;
  int index;
  int fwW, fwH, code;
  int feedAfter;  // LONGEDGEFEED after the call (starts at 0)
};

TEST(PaperTables, SizeLookup) {
  const LookupCase cases[] = {
      {gPaperSizeArray_VK8388_VT8674, 595, 842, 1, 4736, 6784, 9, 0},
      {gPaperSizeArray_QD3820, 595, 842, 2, 4800, 6780, 1, 0},
      {gPaperSizeArray_QD3820, 354, 499, 6, 2784, 3922, 31, 0},  // first B6, never code 30
      {gPaperSizeArray_VK8244_VT9366, 420, 595, 0, 3264, 4736, 11, 0},
      {gPaperSizeArray_VK8244_VT9366, 421, 595, 0, 3264, 4736, 11, 1},
      {gPaperSizeArray_VK8244_VT9366, 612, 1008, 3, 4864, 8164, 4, 0},
      {gPaperSizeArray_QD3820MFP, 312, 624, 13, 2128, 4724, 14, 0},
      {gPaperSizeArray_VK8388_VT8674, 354, 499, 22, 2720, 3936, 271, 0},
      {gPaperSizeArray_VK8388_VT8674, 600, 800, -1, 0, 0, 0, 0},
      {gPaperSizeArray_QD3820, 842, 595, -1, 0, 0, 0, 0},
  };
  for (const LookupCase& c : cases) {
    unsigned size[2] = {c.w, c.h};
    int feed = 0;
    int index = GetPaperArrayIndex(size, c.table, &feed);
    ASSERT_EQ(index, c.index) << c.w << "x" << c.h;
    EXPECT_EQ(feed, c.feedAfter) << c.w << "x" << c.h;
    if (index < 0) continue;
    EXPECT_EQ(c.table[index].fwPaperW, c.fwW);
    EXPECT_EQ(c.table[index].fwPaperH, c.fwH);
    EXPECT_EQ(c.table[index].fwPaperNum, c.code);
  }
}

// A sample of every table's values, row by row, so that a typo in a table shows.
TEST(PaperTables, ValuesPerPaper) {
  struct Row {
    const char* name;
    int w, h;
    int p3[3], p2[3], qd[3], mfp[3];
  };
  const Row rows[] = {
      {"A5", 420, 595, {3264, 4736, 11}, {3264, 4736, 11}, {3328, 4736, 6}, {3312, 4720, 6}},
      {"Letter", 612, 792, {4864, 6368, 1}, {4864, 6364, 2}, {4928, 6364, 0}, {4912, 6364, 0}},
      {"EnvC5", 459, 649, {3616, 5184, 28}, {3616, 5174, 8}, {3648, 5174, 15}, {3360, 4937, 15}},
      {"16K", 524, 737, {4160, 5920, 263}, {4160, 5906, 14}, {4192, 5906, 20}, {4184, 5906, 20}},
      {"Big32K", 383, 553, {2976, 4384, 260}, {2976, 4371, 17}, {3008, 4371, 23}, {3000, 4370, 23}},
      {"IOSB5", 499, 709, {3936, 5696, 34}, {3936, 5670, 20}, {3968, 5670, 25}, {3968, 5669, 25}},
      {"Oficio", 612, 972, {4864, 7872, 269}, {4864, 7866, 23}, {4928, 7866, 27}, {4920, 7866, 27}},
      {"EnvC6", 323, 459, {2464, 3616, 31}, {2464, 3591, 25}, {2528, 3591, 28}, {2224, 3354, 28}},
      {"ZL", 340, 652, {2624, 5216, 270}, {2624, 5197, 26}, {2656, 5197, 29}, {2648, 5197, 29}},
  };
  PAPER_SIZE_INFO* tables[] = {gPaperSizeArray_VK8388_VT8674, gPaperSizeArray_VK8244_VT9366,
                               gPaperSizeArray_QD3820, gPaperSizeArray_QD3820MFP};
  for (const Row& r : rows) {
    const int* expected[] = {r.p3, r.p2, r.qd, r.mfp};
    for (int t = 0; t < 4; ++t) {
      unsigned size[2] = {static_cast<unsigned>(r.w), static_cast<unsigned>(r.h)};
      int feed = 0;
      int index = GetPaperArrayIndex(size, tables[t], &feed);
      ASSERT_GE(index, 0) << r.name << " table " << t;
      EXPECT_EQ(Name(tables[t][index]), r.name);
      EXPECT_EQ(tables[t][index].fwPaperW, expected[t][0]) << r.name << " table " << t;
      EXPECT_EQ(tables[t][index].fwPaperH, expected[t][1]) << r.name << " table " << t;
      EXPECT_EQ(tables[t][index].fwPaperNum, expected[t][2]) << r.name << " table " << t;
    }
  }
}

}  // namespace

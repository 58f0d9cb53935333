// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// The paper tables as IPP media: every size has a PWG name whose page header (as libcups and
// PAPPL make it) leads back to its own row, so a job on that media prints on the table's paper
// code and not as a custom size.
#include <cups/raster.h>
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "media.h"

namespace {

struct Table {
  const char* name;
  PAPER_SIZE_INFO* rows;
};
const Table kTables[] = {{"M", gPaperSizeArray_VK8388_VT8674},
                         {"Z", gPaperSizeArray_VK8244_VT9366},
                         {"C", gPaperSizeArray_QD3820},
                         {"C MFP", gPaperSizeArray_QD3820MFP}};

class PaperTableMedia : public ::testing::TestWithParam<Table> {};

TEST_P(PaperTableMedia, EveryNameLeadsBackToItsRow) {
  const PAPER_SIZE_INFO* table = GetParam().rows;
  MEDIA_LIST media = MediaFromPaperTable(table);
  ASSERT_FALSE(media.sizes.empty());
  std::set<std::string> names;
  for (const MEDIA_SIZE& size : media.sizes) {
    EXPECT_TRUE(names.insert(size.pwgName).second) << "twice: " << size.pwgName;
    pwg_media_t* pwg = pwgMediaForPWG(size.pwgName.c_str());
    ASSERT_NE(pwg, nullptr) << size.pwgName;
    cups_page_header2_t header;
    ASSERT_TRUE(cupsRasterInitPWGHeader(&header, pwg, "sgray_8", 600, 600, "one-sided", "normal")) << size.pwgName;
    int row = FindPaperRow(table, header.PageSize[0], header.PageSize[1]);
    ASSERT_GE(row, 0) << size.pwgName << " gives " << header.PageSize[0] << "x" << header.PageSize[1];
    EXPECT_EQ(table[row].cupsPaperW, size.pointsW) << size.pwgName;
    EXPECT_EQ(table[row].cupsPaperH, size.pointsH) << size.pwgName;
  }
  // Every size of the table is offered (B6 is listed twice in one table, offered once).
  for (const PAPER_SIZE_INFO* row = table; row->cupsPaperW != -1; ++row) {
    bool offered = false;
    for (const MEDIA_SIZE& size : media.sizes) offered |= size.pointsW == row->cupsPaperW && size.pointsH == row->cupsPaperH;
    EXPECT_TRUE(offered) << row->strPageSize;
  }
}

TEST_P(PaperTableMedia, CustomRangeAndMarginsCoverTheTable) {
  const PAPER_SIZE_INFO* table = GetParam().rows;
  MEDIA_LIST media = MediaFromPaperTable(table);
  // libcups keeps a custom size in one buffer per thread: copy it before the next lookup.
  pwg_media_t* found = pwgMediaForPWG(media.customMin.c_str());
  ASSERT_NE(found, nullptr) << media.customMin;
  pwg_media_t low = *found;
  found = pwgMediaForPWG(media.customMax.c_str());
  ASSERT_NE(found, nullptr) << media.customMax;
  pwg_media_t high = *found;
  for (const PAPER_SIZE_INFO* row = table; row->cupsPaperW != -1; ++row) {
    unsigned w = static_cast<unsigned>(row->cupsPaperW), h = static_cast<unsigned>(row->cupsPaperH);
    EXPECT_LE(PointsFromHundredthsMm(low.width), w) << row->strPageSize;
    EXPECT_LE(PointsFromHundredthsMm(low.length), h) << row->strPageSize;
    EXPECT_GE(PointsFromHundredthsMm(high.width), w) << row->strPageSize;
    EXPECT_GE(PointsFromHundredthsMm(high.length), h) << row->strPageSize;
    // What the margins announce as printable lies within the row's page image (centred across
    // the page, from its top edge).
    double pageWmm = w * 25.4 / 72, pageHmm = h * 25.4 / 72;
    EXPECT_LE(pageWmm - 2 * media.leftRight / 100.0, row->fwPaperW * 25.4 / 600 + 0.01) << row->strPageSize;
    EXPECT_LE(pageHmm - media.bottomTop / 100.0, row->fwPaperH * 25.4 / 600 + 0.01) << row->strPageSize;
  }
  EXPECT_GT(media.leftRight, 0);
  EXPECT_GT(media.bottomTop, 0);
}

INSTANTIATE_TEST_SUITE_P(Tables, PaperTableMedia, ::testing::ValuesIn(kTables),
                         [](const ::testing::TestParamInfo<Table>& info) {
                           std::string name = info.param.name;
                           for (char& c : name)
                             if (c == ' ') c = '_';
                           return name;
                         });

TEST(Media, StandardNamesWhereThePaperIsStandard) {
  MEDIA_LIST media = MediaFromPaperTable(gPaperSizeArray_VK8244_VT9366);
  auto nameOf = [&](int w, int h) {
    for (const MEDIA_SIZE& size : media.sizes)
      if (size.pointsW == w && size.pointsH == h) return size.pwgName;
    return std::string();
  };
  EXPECT_EQ(nameOf(595, 842), "iso_a4_210x297mm");
  EXPECT_EQ(nameOf(420, 595), "iso_a5_148x210mm");
  EXPECT_EQ(nameOf(612, 792), "na_letter_8.5x11in");
  EXPECT_EQ(nameOf(612, 1008), "na_legal_8.5x14in");
  EXPECT_EQ(nameOf(516, 729), "jis_b5_182x257mm");
  EXPECT_EQ(nameOf(499, 709), "iso_b5_176x250mm");
  EXPECT_EQ(nameOf(297, 684), "na_number-10_4.125x9.5in");
  // No standard size of these dimensions: a name that describes itself.
  EXPECT_EQ(nameOf(524, 737), "custom_16k_184.86x260mm");
  EXPECT_EQ(nameOf(612, 972), "custom_oficio_215.9x342.9mm");
}

TEST(Media, FindPaperRow) {
  const PAPER_SIZE_INFO* qd = gPaperSizeArray_QD3820;
  struct Case {
    unsigned w, h;
    int code;  // paper code of the row found, -1 for none
  } cases[] = {
      {595, 842, 1},   {595, 841, 1},  // A4 as the table has it, and as libcups truncates it
      {354, 499, 31},  {354, 498, 31},  // B6: the first of its two rows
      {420, 595, 6},   {421, 595, 6},  {419, 595, 6},  // A5: a rounded width is the same paper
      {600, 800, -1},  {593, 842, -1}, {0, 0, -1},
  };
  for (const Case& c : cases) {
    int row = FindPaperRow(qd, c.w, c.h);
    EXPECT_EQ(row >= 0 ? qd[row].fwPaperNum : -1, c.code) << c.w << "x" << c.h;
  }
  EXPECT_EQ(FindPaperRow(nullptr, 595, 842), -1);
}

}  // namespace

// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "prnt_records.h"
#include "stream_capture.h"

using namespace varnel_test;

namespace {

template <typename R>
std::vector<unsigned char> Of(const R& r) {
  return std::vector<unsigned char>(r.bytes, r.bytes + sizeof r.bytes);
}

std::vector<unsigned char> Tail(const std::vector<unsigned char>& v, size_t n) {
  return std::vector<unsigned char>(v.end() - static_cast<long>(n), v.end());
}

GDI_START_DOC_PARAM Doc() {
  GDI_START_DOC_PARAM d{};
  d.jobID = 42;
  d.DuplexMode = 0x20;
  d.saveMode = 0x10;
  return d;
}

struct RecordCase {
  const char* name;
  std::function<std::vector<unsigned char>()> build;
  std::vector<unsigned char> expected;
};

void CheckCases(const std::vector<RecordCase>& cases) {
  for (const RecordCase& c : cases) EXPECT_EQ(c.build(), c.expected) << c.name;
}

void ExpectChecksumZero(const std::vector<unsigned char>& record, const char* name) {
  unsigned sum = 0;
  for (unsigned char b : record) sum += b;
  EXPECT_EQ(sum & 0xFF, 0u) << name;
  EXPECT_EQ(record[0], 0x0B) << name;
  EXPECT_EQ(record[1], record.size()) << name;
}

}  // namespace

TEST(JobSpecRecords, FlagsAndJobId) {
  CheckCases({
      {"C job 42 duplex save", [] { GDI_START_DOC_PARAM d = Doc(); GDI_JOB_SPEC_C r; GetJobSpecCmd_C(&d, &r); return Of(r); },
       Bytes({0x0B, 0x06, 0x11, 0x2A, 0x30, 0x84})},
      {"C job id above 255 keeps the low byte, all enables",
       [] { GDI_START_DOC_PARAM d{}; d.jobID = 0x1234; d.watermarkEnable = 1; d.bookletEnable = d.posterEnable = d.nupEnable = d.overlapEnable = 5;
            GDI_JOB_SPEC_C r; GetJobSpecCmd_C(&d, &r); return Of(r); },
       Bytes({0x0B, 0x06, 0x11, 0x34, 0x8F, 0x1B})},
      {"Z job 0x01020304", [] { GDI_START_DOC_PARAM d = Doc(); d.jobID = 0x01020304; GDI_JOB_SPEC_Z r; GetJobSpecCmd_Z(&d, &r); return Of(r); },
       Bytes({0x0B, 0x09, 0x11, 0x30, 0x04, 0x03, 0x02, 0x01, 0xA1})},
      {"fine mode", [] { GDI_START_DOC_PARAM d{}; d.FineMode = 1; GDI_FINEMODE r; GetFineModeCmd(&d, &r); return Of(r); },
       Bytes({0x0B, 0x05, 0x1F, 0x01, 0xD0})},
      {"density", [] { GDI_START_DOC_PARAM d{}; d.densityLevel = 3; GDI_DENSITY_PARAM r; GetDensityCmd(&d, &r); return Of(r); },
       Bytes({0x0B, 0x05, 0x15, 0x03, 0xD8})},
      {"toner save low byte", [] { GDI_START_DOC_PARAM d{}; d.tonerSaveEnable = 0x101; GDI_TONER_SAVE r; GetTonerSaveCmd(&d, &r); return Of(r); },
       Bytes({0x0B, 0x05, 0x19, 0x01, 0xD6})},
  });
}

TEST(TonerRecords, EndingsAndChecksums) {
  GDI_TONER_PARAM_K8244 k;
  GetTonerParamCmdForK5916(nullptr, &k);
  GDI_TONER_PARAM_T9366 t;
  GetTonerParamCmdForT9366(nullptr, &t);
  EXPECT_EQ(Tail(Of(k), 3), Bytes({0x0A, 0x00, 0xC8}));
  EXPECT_EQ(Tail(Of(t), 8), Bytes({0x08, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x59}));
  EXPECT_EQ(std::vector<unsigned char>(k.bytes, k.bytes + 10), Bytes({0x0B, 36, 0x1E, 0, 30, 36, 38, 47, 80, 6}));
  EXPECT_EQ(std::vector<unsigned char>(t.bytes, t.bytes + 11), Bytes({0x0B, 40, 0x1E, 0, 23, 38, 0, 48, 64, 32, 23}));
  ExpectChecksumZero(Of(k), "K8244");
  ExpectChecksumZero(Of(t), "T9366");

  GDI_TONER_PARAM_PLATFORM_M m;
  GetTonerParamCmdForPlatformM(&m, 88, 17, 0, 0, 0x5A5A);
  std::vector<unsigned char> mv = Of(m);
  EXPECT_EQ(std::vector<unsigned char>(mv.begin(), mv.begin() + 22),
            Bytes({0, 0, 0, 0x58, 0, 0, 0, 0x11, 0, 0, 0, 0, 0, 0, 0x5A, 0x5A, 0, 0, 0, 81, 0, 115}));
  EXPECT_EQ(Tail(mv, 10), Bytes({0x00, 0xBE, 0x01, 0x5E, 0x01, 0x90, 0x00, 0x64, 0x00, 0x64}));
}

TEST(PageRecords, PageSpecCustomPaperRasterImage) {
  GDI_START_PAGE_PARAM p{};
  p.paperSize = 9; p.mediaType = 1; p.resolutionX = 60; p.resolutionY = 120; p.tray = 2;
  p.colorMode = 0x01; p.feedEdge = 64; p.marginUnit = 0; p.copies = 0x0102; p.marginX = 100;
  p.marginY = 0x0203; p.pageNum = 7; p.userPhyPgW = 4960; p.userPhyPgH = 7016;
  p.userPrntAreaW = 4800; p.userPrntAreaH = 6800;
  CheckCases({
      {"page spec C", [&] { GDI_PAGE_SPEC r; GetPageSpecCmd(&p, &r, PLATFORM_C); return Of(r); },
       Bytes({0x0B, 18, 0x12, 9, 1, 60, 120, 2, 0x41, 0x02, 0x01, 100, 0, 0x03, 0x02, 7, 0, 0x5D})},
      {"page spec Z ignores colour/feed/margin unit", [&] { GDI_PAGE_SPEC r; GetPageSpecCmd(&p, &r, PLATFORM_Z); return Of(r); },
       Bytes({0x0B, 18, 0x12, 9, 1, 60, 120, 2, 0x00, 0x02, 0x01, 100, 0, 0x03, 0x02, 7, 0, 0x9E})},
      {"custom paper C paper 9 is zero", [&] { GDI_CUSTOM_PAPER r; GetCustomPaperCmd(&p, &r, PLATFORM_C); return Of(r); },
       Bytes({0x0B, 12, 0x13, 0, 0, 0, 0, 0, 0, 0, 0, 0xD6})},
      {"custom paper C paper 255", [&] { GDI_START_PAGE_PARAM q = p; q.paperSize = 255; GDI_CUSTOM_PAPER r; GetCustomPaperCmd(&q, &r, PLATFORM_C); return Of(r); },
       Bytes({0x0B, 12, 0x13, 0x60, 0x13, 0x68, 0x1B, 0xC0, 0x12, 0x90, 0x1A, 0x64})},
      {"custom paper Z paper 0", [&] { GDI_START_PAGE_PARAM q = p; q.paperSize = 0; GDI_CUSTOM_PAPER r; GetCustomPaperCmd(&q, &r, PLATFORM_Z); return Of(r); },
       Bytes({0x0B, 12, 0x13, 0x60, 0x13, 0x68, 0x1B, 0xC0, 0x12, 0x90, 0x1A, 0x64})},
      {"custom paper Z paper 255 is not custom", [&] { GDI_START_PAGE_PARAM q = p; q.paperSize = 255; GDI_CUSTOM_PAPER r; GetCustomPaperCmd(&q, &r, PLATFORM_Z); return Of(r); },
       Bytes({0x0B, 12, 0x13, 0, 0, 0, 0, 0, 0, 0, 0, 0xD6})},
      {"raster image", [] { GDI_SEND_PAGE_PARAM s{}; s.colorPlane = 0; s.compression = 0x20; s.whlImgW = 4800; s.whlImgH = 6800;
                             s.rasImgW = 4800; s.rasImgH = 0x10300; s.cmpImgBytes = 0x01020304;
                             GDI_RASTER_IMAGE r; GetRasterImageCmd(&s, &r); return Of(r); },
       Bytes({0x0B, 18, 0x0C, 0, 0x20, 0xC0, 0x12, 0x90, 0x1A, 0xC0, 0x12, 0x00, 0x03, 0x04, 0x03, 0x02, 0x01, 0x5C})},
  });
}

TEST(CoverageRecords, FactorBoundariesAndZBitGroups) {
  struct C { unsigned long cov; int res, dens, width; int expected; } cases[] = {
      {1000000, 600, 2, 210, 1000}, {1000000, 1200, 2, 210, 250}, {1000000, 600, 0, 210, 700},
      {1000000, 600, 1, 210, 700},  {1000000, 600, 3, 210, 1200}, {1000000, 600, 4, 210, 1200},
      {1000000, 600, 5, 210, 1000}, {1000000, 600, -1, 210, 1000}, {1000000, 600, 2, 125, 1000},
      {1000000, 600, 2, 124, 2000}, {1000000, 600, 2, 126, 1500}, {1000000, 600, 2, 174, 1500},
      {1000000, 600, 2, 175, 1000}, {999, 600, 2, 210, 0}, {70000000, 600, 2, 210, 70000 & 0xFFFF},
  };
  for (const C& c : cases) {
    gImageCoverage = c.cov;
    GDI_END_PAGE_PARAM e{};
    e.resolutionE = c.res; e.densityE = c.dens; e.paperWidthE = c.width;
    GDI_COVERAGE_C r;
    GetCoverageCmd_C(&e, &r);
    EXPECT_EQ(e.dotCnt, c.expected) << c.cov << " " << c.res << " " << c.dens << " " << c.width;
    EXPECT_EQ(r.bytes[3] | (r.bytes[4] << 8), c.expected);
    ExpectChecksumZero(Of(r), "coverage C");
  }
  gImageCoverage = 1000000;
  GDI_END_PAGE_PARAM e{};
  e.resolutionE = 600; e.densityE = 2; e.paperWidthE = 210;
  GDI_COVERAGE_C c;
  GetCoverageCmd_C(&e, &c);
  EXPECT_EQ(Of(c), Bytes({0x0B, 6, 0x1E, 0xE8, 0x03, 0xE6}));

  struct Z { unsigned long cov; std::vector<unsigned char> fields; } zcases[] = {
      {4095999, Bytes({0x3F, 0x3F, 0x00})}, {4096000, Bytes({0x00, 0x00, 0x01})},
      {65535999, Bytes({0x3F, 0x3F, 0x0F})}, {65536000, Bytes({0x00, 0x00, 0x00})}, {999, Bytes({0, 0, 0})}};
  for (const Z& z : zcases) {
    gImageCoverage = z.cov;
    GDI_COVERAGE_Z r;
    GetCoverageCmd_Z(&r);
    EXPECT_EQ(std::vector<unsigned char>(r.bytes + 3, r.bytes + 6), z.fields) << z.cov;
    ExpectChecksumZero(Of(r), "coverage Z");
  }
  gImageCoverage = 0;
}

TEST(MRecords, HeadersAndParameters) {
  CheckCases({
      {"END_PAGE_CMD", [] { GDI_JOB_SPEC_M h; SetCmdType(&h, 16, END_PAGE_CMD, 0, 0, 0x5A5A); return Of(h); },
       Bytes({0, 0, 0, 0x10, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0x5A, 0x5A})},
      {"JBIG_DATA_CMD 65536", [] { GDI_JOB_SPEC_M h; SetCmdType(&h, 16 + 65536, JBIG_DATA_CMD, 0, 0, 0x5A5A); return Of(h); },
       Bytes({0, 1, 0, 0x10, 0, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0x5A, 0x5A})},
      {"START_PAGE_CMD paper 9", [] { GDI_JOB_SPEC_M h; SetCmdType(&h, 184, START_PAGE_CMD, 14, 168, 0x5A5A); return Of(h); },
       Bytes({0, 0, 0, 0xB8, 0, 0, 0, 2, 0, 0, 0, 0x0E, 0, 0xA8, 0x5A, 0x5A})},
      {"PAPER_SIZE_PARAM 9", [] { GDI_SET_PARAM p; SetCmdParam(&p, 3, 1, 9); return Of(p); },
       Bytes({0, 0, 0, 0x0C, 0, 3, 1, 0, 0, 0, 0, 9})},
      {"JBIG_PARAM_CMD", [] { JBIG_BIH b{}; b.ParamP = 1; b.ParamImgWidth = 4800; b.ParamImgHeight = 0x010203; b.ParamL0 = 256;
                              b.ParamOrder = 3; b.ParamOption = 0x5C; GDI_SET_JBIG_PARAM r; SetJBIGCmdAndParam(&r, b, 36, 4, 0x5A5A); return Of(r); },
       Bytes({0, 0, 0, 36, 0, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0x5A, 0x5A, 0, 0, 1, 0, 0, 0, 0x12, 0xC0, 0, 1, 2, 3, 0, 0, 1, 0, 0, 0, 3, 0x5C})},
  });
}

TEST(MRecords, StartPageEntriesForCustomAndTablePaper) {
  GDI_START_PAGE_PARAM p{};
  p.paperSize = 9; p.iIs2bit = 1; p.userPrntAreaW = 1000; p.densityLevel = 4;
  M_PAGE_PARAM_ENTRY e[kMPageParamsMax];
  ASSERT_EQ(GetStartPageParams_M(&p, e), 14);
  EXPECT_STREQ(e[13].item, "DENSITY_PARAM");
  EXPECT_EQ(e[13].value, 4u);
  EXPECT_EQ(e[8].id, 0x000C);
  EXPECT_EQ(e[8].value, 2000u);  // image width in bits of a 2-bit page
  EXPECT_EQ(e[10].value, 2u);
  p.paperSize = 0;
  ASSERT_EQ(GetStartPageParams_M(&p, e), 17);
  EXPECT_STREQ(e[1].item, "CUSTOM_PAPER_UNIT_PARAM");
  EXPECT_STREQ(e[16].item, "DENSITY_PARAM");
}

TEST(TextRecords, JobTimeIsMinuteFirstAndConstantsHaveTheirLengths) {
  unsigned char text[19];
  FormatSendTime(text, 5, 14, 8, 12, 2026);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(text), 18), "05:14:08:12:2026\r\n");
  unsigned char now[19];
  ASSERT_EQ(GetSendTimePJL(now), 1);
  EXPECT_EQ(now[2], ':');
  EXPECT_EQ(now[16], '\r');
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(endOfJobCmd), 36),
            std::string("\x1b%-12345X@PJL\r\n@PJL EOJ\r\n\x1b%-12345X\r\n"));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(pjlVersion), 26), "@PJL LANGUAGEVERSION=1.0\r\n");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(UEL_CMD_C), 9), std::string("\x1b\xff-12345X"));
  for (const unsigned char* r : {abortCmd, resetCmd, formFeedCmd, manualDuplexCmd_Z, manualDuplexCmd_C, hostUseCmd, machineDuplexCmd}) {
    EXPECT_EQ(CalcChecksum(const_cast<unsigned char*>(r), 3), r[3]);
  }
  EXPECT_EQ(CalcChecksum(const_cast<unsigned char*>(queryStatusCmd), 4), queryStatusCmd[4]);
}

TEST(TextRecords, SystemDateIsToday) {
  EXPECT_EQ(GetSysTimeCmd(nullptr), 0);
  GDI_SYSTEM_DATE d;
  ASSERT_EQ(GetSysTimeCmd(&d), 1);
  time_t now = time(nullptr);
  struct tm local;
  localtime_r(&now, &local);
  EXPECT_EQ(d.bytes[3] | (d.bytes[4] << 8), local.tm_year + 1900);
  EXPECT_EQ(d.bytes[5], local.tm_mon + 1);
  EXPECT_EQ(d.bytes[6], local.tm_mday);
  ExpectChecksumZero(Of(d), "date");
}

TEST(BandRecord, LayoutAndChecksum) {
  JBIG_BIH b{};
  b.ParamP = 1; b.ParamImgWidth = 4800; b.ParamImgHeight = 88; b.ParamL0 = 88; b.ParamOrder = 3; b.ParamOption = 0x58;
  unsigned char r[kBandRecordLen];
  PutBandRecordHead(r, b);
  PutBandRecordTail(r, 0x012345, 2);
  std::vector<unsigned char> v(r, r + kBandRecordLen);
  EXPECT_EQ(v, Bytes({0x0B, 0x30, 0x1A, 0, 0, 1, 0, 0xC0, 0x12, 0, 0, 88, 0, 0, 0, 88, 0, 0, 0, 0, 0, 3, 0x58,
                      0x45, 0x23, 0x01, 0, 0x45, 0x23, 0x01, 0, 0, 0, 0, 0, 0, 0x02, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0,
                      v[47]}));
  ExpectChecksumZero(v, "band");
}

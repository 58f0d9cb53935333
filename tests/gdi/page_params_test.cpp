// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common.h"
#include "page_params.h"
#include "test_support.h"

using namespace varnel_test;

namespace {

const float kNoMargins[4] = {0, 0, 0, 0};
const float kMargins12[4] = {12, 12, 12, 12};

struct GeometryCase {
  const char* what;
  int platform;
  PAPER_SIZE_INFO* table;
  unsigned pageW, pageH, dpiX, dpiY;
  int longEdgeOption;  // LONGEDGEFEED before the page
  const float* margins;
  // expected
  unsigned imgW, imgH;  // fwImgWPixel/fwImgHPixel after the long-edge swap
  unsigned short paperSize, resX, resY, feedEdge, phyW, phyH, areaW, areaH;
};

TEST(PageGeometry, Table) {
  const GeometryCase cases[] = {
      {"A4 platform 2", PLATFORM_Z, gPaperSizeArray_VK8244_VT9366, 595, 842, 600, 600, 0, kMargins12,
       4736, 6780, 1, 60, 60, 0, 4958, 7016, 4736, 6780},
      {"A4 platform 3", PLATFORM_M, gPaperSizeArray_VK8388_VT8674, 595, 842, 600, 600, 0, kMargins12,
       4736, 6784, 9, 600, 600, 0, 4958, 7016, 4736, 6784},
      {"A4 1200 dpi platform 1", PLATFORM_C, gPaperSizeArray_QD3820, 595, 842, 1200, 1200, 0, kMargins12,
       9600, 13560, 1, 120, 120, 0, 9916, 14033, 9600, 13560},
      {"A4 1200x600 platform 1", PLATFORM_C, gPaperSizeArray_QD3820, 595, 842, 1200, 600, 0, kMargins12,
       9600, 6780, 1, 120, 60, 0, 9916, 7016, 9600, 6780},
      {"A4 1200 dpi platform 3 stays 600", PLATFORM_M, gPaperSizeArray_VK8388_VT8674, 595, 842, 1200, 1200, 0,
       kMargins12, 4736, 6784, 9, 600, 600, 0, 9916, 14033, 4736, 6784},
      {"long-edge A5 platform 2", PLATFORM_Z, gPaperSizeArray_VK8244_VT9366, 421, 595, 600, 600, 0, kMargins12,
       3264, 4736, 18, 60, 60, 64, 4958, 3508, 4736, 3264},
      {"long-edge A5 platform 3", PLATFORM_M, gPaperSizeArray_VK8388_VT8674, 421, 595, 600, 600, 0, kMargins12,
       3264, 4736, 61, 600, 600, 64, 4958, 3508, 4736, 3264},
      {"long-edge A5 platform 1", PLATFORM_C, gPaperSizeArray_QD3820, 420, 595, 600, 600, 1, kMargins12,
       3328, 4736, 6, 60, 60, 64, 4958, 3500, 4736, 3328},
      {"A5 without long edge", PLATFORM_Z, gPaperSizeArray_VK8244_VT9366, 420, 595, 600, 600, 0, kMargins12,
       3264, 4736, 11, 60, 60, 0, 3500, 4958, 3264, 4736},
      {"A4 with long-edge option is not A5", PLATFORM_Z, gPaperSizeArray_VK8244_VT9366, 595, 842, 600, 600, 1,
       kMargins12, 4736, 6780, 1, 60, 60, 0, 4958, 7016, 4736, 6780},
      // (595 - 24) / 72 * 600 = 4758.3 -> 4758 -> 4768; (842 - 24) / 72 * 600 = 6816.7 -> 6816
      {"unknown model computes its size", PLATFORM_UNKNOWN, nullptr, 595, 842, 600, 600, 0, kMargins12,
       4768, 6816, 0, 600, 600, 0, 4958, 7016, 4768, 6816},
      {"unknown size on platform 1", PLATFORM_C, gPaperSizeArray_QD3820, 600, 800, 600, 600, 0, kNoMargins,
       5024, 6672, 255, 60, 60, 0, 5000, 6666, 5024, 6672},
      {"unknown model, 421x595 is still A5 row 0 only with a table", PLATFORM_UNKNOWN, nullptr, 421, 595, 600, 600,
       0, kNoMargins, 3520, 4960, 0, 600, 600, 0, 3508, 4958, 3520, 4960},
  };
  for (const GeometryCase& c : cases) {
    cups_page_header2_t header = GreyHeader(c.pageW, c.pageH, c.dpiX);
    header.HWResolution[1] = c.dpiY;
    PRINT_FUNC_INFO funcs[PRINT_FUNC_COUNT];
    InitPrintFuncInfo(funcs);
    funcs[LONGEDGEFEED].value = c.longEdgeOption;
    PAGE_GEOMETRY geo{};
    GDI_START_PAGE_PARAM sp{};
    ASSERT_EQ(ComputePageGeometry(&header, c.table, c.platform, c.margins, &funcs[LONGEDGEFEED].value, 3, &geo, &sp),
              1)
        << c.what;
    FillStartPageParam(&header, funcs, c.platform, 0, 3, &geo, &sp);
    EXPECT_EQ(geo.fwImgWPixel, c.imgW) << c.what;
    EXPECT_EQ(geo.fwImgHPixel, c.imgH) << c.what;
    EXPECT_EQ(sp.paperSize, c.paperSize) << c.what;
    EXPECT_EQ(sp.resolutionX, c.resX) << c.what;
    EXPECT_EQ(sp.resolutionY, c.resY) << c.what;
    EXPECT_EQ(sp.feedEdge, c.feedEdge) << c.what;
    EXPECT_EQ(sp.userPhyPgW, c.phyW) << c.what;
    EXPECT_EQ(sp.userPhyPgH, c.phyH) << c.what;
    EXPECT_EQ(sp.userPrntAreaW, c.areaW) << c.what;
    EXPECT_EQ(sp.userPrntAreaH, c.areaH) << c.what;
    EXPECT_EQ(sp.pageNum, 3) << c.what;
  }
}

TEST(PageGeometry, StartPageRecordFields) {
  struct Case {
    int platform;
    unsigned mediaType, copies;
    int collate, inputSlot, tonerMode, density;
    unsigned short tray, expCopies;
    unsigned char density_;
  };
  const Case cases[] = {
      {PLATFORM_Z, 0, 3, 0, 2, 0, 4, 2, 3, 4},
      {PLATFORM_Z, 5, 3, 1, 1, 0, 2, 1, 1, 2},
      {PLATFORM_Z, 1, 1, 0, 2, 1, 4, 1, 1, 0},  // media 1 is the manual slot outside platform 3
      {PLATFORM_M, 1, 1, 0, 2, 0, 2, 2, 1, 2},
      {PLATFORM_M, 2, 2, 0, 0, 0, 2, 1, 2, 2},
  };
  for (const Case& c : cases) {
    cups_page_header2_t header = GreyHeader(595, 842);
    header.cupsMediaType = c.mediaType;
    header.NumCopies = c.copies;
    PRINT_FUNC_INFO funcs[PRINT_FUNC_COUNT];
    InitPrintFuncInfo(funcs);
    funcs[COLLATE].value = c.collate;
    funcs[INPUTSLOT].value = c.inputSlot;
    funcs[TONERMODE].value = c.tonerMode;
    funcs[DENSITY].value = c.density;
    PAGE_GEOMETRY geo{4736, 6780, 0, 0, 1};
    GDI_START_PAGE_PARAM sp{};
    FillStartPageParam(&header, funcs, c.platform, 1, 1, &geo, &sp);
    EXPECT_EQ(sp.tray, c.tray);
    EXPECT_EQ(sp.copies, c.expCopies);
    EXPECT_EQ(sp.densityLevel, c.density_);
    EXPECT_EQ(sp.mediaType, c.mediaType);
    EXPECT_EQ(sp.iIs2bit, 1u);
  }
}

TEST(PageGeometry, EnvelopeMarginsReachTheRecord) {
  cups_page_header2_t header = GreyHeader(312, 624);
  PRINT_FUNC_INFO funcs[PRINT_FUNC_COUNT];
  InitPrintFuncInfo(funcs);
  PAGE_GEOMETRY geo{};
  GDI_START_PAGE_PARAM sp{};
  ASSERT_EQ(ComputePageGeometry(&header, gPaperSizeArray_QD3820MFP, PLATFORM_C, kNoMargins,
                                &funcs[LONGEDGEFEED].value, 1, &geo, &sp),
            1);
  FillStartPageParam(&header, funcs, PLATFORM_C, 0, 1, &geo, &sp);
  EXPECT_EQ(sp.marginX, 240);
  EXPECT_EQ(sp.marginY, 120);
  EXPECT_EQ(sp.paperSize, 14);
}

struct HeaderCase {
  const char* field;  // expected in the message, nullptr: accepted
  void (*change)(cups_page_header2_t*);
};

TEST(PageHeaderCheck, RefusesWhatIsNotEightBitGreyOnRealPaper) {
  const HeaderCase cases[] = {
      {nullptr, [](cups_page_header2_t*) {}},
      {nullptr, [](cups_page_header2_t* h) { h->cupsColorSpace = CUPS_CSPACE_SW; }},
      {"cupsBitsPerColor = 1", [](cups_page_header2_t* h) { h->cupsBitsPerColor = 1; }},
      {"cupsBitsPerPixel = 24", [](cups_page_header2_t* h) { h->cupsBitsPerPixel = 24; }},
      {"cupsColorSpace = 1", [](cups_page_header2_t* h) { h->cupsColorSpace = CUPS_CSPACE_RGB; }},
      {"cupsColorSpace = 3", [](cups_page_header2_t* h) { h->cupsColorSpace = CUPS_CSPACE_K; }},
      {"cupsBytesPerLine = 4959", [](cups_page_header2_t* h) { h->cupsBytesPerLine = h->cupsWidth + 1; }},
      {"cupsWidth = 0", [](cups_page_header2_t* h) { h->cupsWidth = h->cupsBytesPerLine = 0; }},
      {"cupsHeight = 0", [](cups_page_header2_t* h) { h->cupsHeight = 0; }},
      {"HWResolution[0] = 0", [](cups_page_header2_t* h) { h->HWResolution[0] = 0; }},
      {"HWResolution[1] = 2400", [](cups_page_header2_t* h) { h->HWResolution[1] = 2400; }},
      {"PageSize[0] = 4000000000", [](cups_page_header2_t* h) { h->PageSize[0] = 4000000000u; }},
      {"PageSize[1] = 3371", [](cups_page_header2_t* h) { h->PageSize[1] = 3371; }},
      {"cupsWidth = 30000", [](cups_page_header2_t* h) { h->cupsWidth = h->cupsBytesPerLine = 30000; }},
      {"cupsHeight = 4294967295", [](cups_page_header2_t* h) { h->cupsHeight = 0xFFFFFFFFu; }},
      {"PageSize = [ 20 842 ]", [](cups_page_header2_t* h) { h->PageSize[0] = 20; }},  // inside the margins
  };
  for (const HeaderCase& c : cases) {
    cups_page_header2_t header = GreyHeader(595, 842);
    c.change(&header);
    testing::internal::CaptureStderr();
    int accepted = CheckPageHeader(&header, kMargins12, 7);
    std::string err = testing::internal::GetCapturedStderr();
    if (c.field == nullptr) {
      EXPECT_EQ(accepted, 1) << err;
      EXPECT_TRUE(err.empty()) << err;
    } else {
      EXPECT_EQ(accepted, 0) << c.field;
      EXPECT_EQ(err.rfind("ERROR: Page 7 refused: ", 0), 0u) << err;
      EXPECT_NE(err.find(c.field), std::string::npos) << err;
    }
  }
}

// The largest accepted page at the largest accepted resolution still fits every 16-bit field.
TEST(PageHeaderCheck, LargestAcceptedPageFitsTheRecords) {
  cups_page_header2_t header = GreyHeader(3370, 3370, 1200);
  ASSERT_EQ(CheckPageHeader(&header, kNoMargins, 1), 1);
  PRINT_FUNC_INFO funcs[PRINT_FUNC_COUNT];
  InitPrintFuncInfo(funcs);
  PAGE_GEOMETRY geo{};
  GDI_START_PAGE_PARAM sp{};
  ASSERT_EQ(ComputePageGeometry(&header, gPaperSizeArray_QD3820, PLATFORM_C, kNoMargins, &funcs[LONGEDGEFEED].value,
                                1, &geo, &sp),
            1);
  FillStartPageParam(&header, funcs, PLATFORM_C, 0, 1, &geo, &sp);
  EXPECT_EQ(geo.fwImgWPixel, 56192u);
  EXPECT_EQ(sp.userPrntAreaW, 56192);
  EXPECT_EQ(sp.userPhyPgW, 56166);
}

// The page must fit the printer's largest paper: the widest and the longest of its paper table
// and of its custom sizes, two points of rounding allowed.
TEST(PageSizeCheck, LargestPaperOfTheTableOrTheCustomSizes) {
  const float legal[2] = {612, 1008}, larger[2] = {700, 1200}, none[2] = {0, 0};
  struct Case {
    const char* what;
    PAPER_SIZE_INFO* table;
    const float* customMax;
    unsigned w, h;
    bool accepted;
  } cases[] = {
      {"Legal", gPaperSizeArray_QD3820, nullptr, 612, 1008, true},
      {"two points of rounding", gPaperSizeArray_QD3820, nullptr, 614, 1010, true},
      {"wider", gPaperSizeArray_QD3820, nullptr, 615, 100, false},
      {"longer", gPaperSizeArray_VK8244_VT9366, none, 100, 1011, false},
      {"landscape A4", gPaperSizeArray_VK8388_VT8674, legal, 842, 595, false},
      {"A0 square", gPaperSizeArray_QD3820MFP, legal, 3370, 3370, false},
      {"long-edge A5", gPaperSizeArray_VK8388_VT8674, nullptr, 421, 595, true},
      {"custom sizes beyond the table", gPaperSizeArray_QD3820, larger, 702, 1202, true},
      {"beyond the custom sizes", gPaperSizeArray_QD3820, larger, 703, 1000, false},
      {"custom sizes alone", nullptr, legal, 612, 1008, true},
      {"beyond custom sizes alone", nullptr, legal, 612, 1011, false},
      {"neither: CheckPageHeader bounds the page", nullptr, none, 3370, 3370, true},
  };
  for (const Case& c : cases) {
    cups_page_header2_t header = GreyHeader(c.w, c.h, 1200, 100, 100);
    testing::internal::CaptureStderr();
    int accepted = CheckPageSize(&header, c.table, c.customMax, 5);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(accepted, c.accepted ? 1 : 0) << c.what;
    if (c.accepted) {
      EXPECT_TRUE(err.empty()) << c.what << ": " << err;
    } else {
      EXPECT_EQ(err.rfind("ERROR: Page 5 refused: PageSize = [ " + std::to_string(c.w) + " " + std::to_string(c.h) +
                              " ] is larger than the largest paper of the printer (",
                          0),
                0u)
          << c.what << ": " << err;
    }
  }
  // Every paper of every table fits its own table.
  for (PAPER_SIZE_INFO* table : {gPaperSizeArray_QD3820, gPaperSizeArray_QD3820MFP, gPaperSizeArray_VK8244_VT9366,
                                 gPaperSizeArray_VK8388_VT8674}) {
    for (PAPER_SIZE_INFO* row = table; row->cupsPaperW != -1; ++row) {
      cups_page_header2_t header = GreyHeader(static_cast<unsigned>(row->cupsPaperW),
                                              static_cast<unsigned>(row->cupsPaperH), 600, 100, 100);
      EXPECT_EQ(CheckPageSize(&header, table, nullptr, 1), 1) << row->strPageSize;
    }
  }
}

TEST(StartDocRecord, Table) {
  struct Case {
    int platform, support, manual, autoDuplex, toner, density, fine;
    unsigned char duplexMode, saveMode, densityLevel, fineMode;
  };
  const Case cases[] = {
      {PLATFORM_Z, 1, 1, 0, 0, 2, 0, 0, 16, 2, 0},    // manual duplex on a Z printer that offers it
      {PLATFORM_Z, 0, 0, 1, 0, 4, 1, 32, 16, 4, 1},
      {PLATFORM_M, 0, 0, 2, 1, 4, 0, 32, 0, 0, 0},
      {PLATFORM_C, 0, 1, 0, 0, 2, 0, 32, 16, 2, 0},
      {PLATFORM_UNKNOWN, 0, 0, 0, 0, 2, 0, 0, 16, 2, 0},
  };
  for (const Case& c : cases) {
    PRINT_FUNC_INFO funcs[PRINT_FUNC_COUNT];
    InitPrintFuncInfo(funcs);
    funcs[MANUALDUPLEX].value = c.manual;
    funcs[AUTODUPLEX].value = c.autoDuplex;
    funcs[TONERMODE].value = c.toner;
    funcs[DENSITY].value = c.density;
    funcs[FINEMODE].value = c.fine;
    GDI_START_DOC_PARAM dp;
    memset(&dp, 0xAA, sizeof dp);
    FillStartDocParam("42", "A title that is longer than thirty-two bytes", funcs, c.platform, c.support, &dp);
    EXPECT_EQ(dp.jobID, 42);
    EXPECT_EQ(memcmp(dp.jobName, "A title that is longer than thir", 32), 0);
    EXPECT_EQ(dp.DuplexMode, c.duplexMode) << c.platform;
    EXPECT_EQ(dp.saveMode, c.saveMode) << c.platform;
    EXPECT_EQ(dp.densityLevel, c.densityLevel) << c.platform;
    EXPECT_EQ(dp.FineMode, c.fineMode) << c.platform;
    EXPECT_EQ(dp.watermarkEnable + dp.bookletEnable + dp.posterEnable + dp.nupEnable + dp.overlapEnable +
                  dp.tonerSaveEnable,
              0);
  }
}

TEST(SendAndEndPageRecords, Fields) {
  cups_page_header2_t header = GreyHeader(595, 842, 600);
  unsigned char bitmap[1];
  GDI_SEND_PAGE_PARAM pp;
  FillSendPageParam(&header, PLATFORM_C, 0, 4800, 6780, bitmap, &pp);
  EXPECT_EQ(pp.compression, 32);
  EXPECT_EQ(pp.whlImgW, 4800);
  EXPECT_EQ(pp.rasImgW, 4800);
  EXPECT_EQ(pp.rasImgH, 768u);
  EXPECT_EQ(pp.cmpImgBytes, 853);
  EXPECT_EQ(pp.sendImgBuf, reinterpret_cast<char*>(bitmap));
  header.HWResolution[0] = 1200;
  FillSendPageParam(&header, PLATFORM_C, 0, 9600, 13560, bitmap, &pp);
  EXPECT_EQ(pp.rasImgH, 384u);
  FillSendPageParam(&header, PLATFORM_M, 1, 4736, 6784, bitmap, &pp);
  EXPECT_EQ(pp.whlImgW, 9472);
  EXPECT_EQ(pp.whlImgH, 6784);
  EXPECT_EQ(pp.rasImgW + pp.rasImgH + static_cast<unsigned long>(pp.cmpImgBytes), 0u);

  PRINT_FUNC_INFO funcs[PRINT_FUNC_COUNT];
  InitPrintFuncInfo(funcs);
  funcs[AUTODUPLEX].value = 2;
  funcs[DENSITY].value = 3;
  GDI_END_PAGE_PARAM ep;
  FillEndPageParam(&header, funcs, 5, &ep);
  EXPECT_EQ(ep.page, 5);
  EXPECT_EQ(ep.bMachDup, 1);
  EXPECT_EQ(ep.resolutionE, 1200);
  EXPECT_EQ(ep.paperWidthE, 209);  // 595 / 72 * 25.4 = 209.9
  EXPECT_EQ(ep.densityE, 3);
}

TEST(BackSideRotation, Table) {
  struct Case {
    int autoDuplex, imageRotation, manual, platform, mDuplexType;
    unsigned short feedEdge;
    int oddPage, evenPage;  // decision for page 1 and page 2
  };
  const Case cases[] = {
      {1, 1, 0, PLATFORM_C, 0, 0, 1, 0},
      {1, 0, 0, PLATFORM_C, 0, 0, 0, 1},
      {2, 1, 0, PLATFORM_C, 0, 0, 1, 1},
      {2, 0, 0, PLATFORM_C, 0, 0, 0, 0},
      {0, 1, 0, PLATFORM_C, 0, 0, 1, 1},
      {0, 0, 0, PLATFORM_C, 0, 0, 0, 0},
      // Manual duplex on Z, long-edge type: turned over when feedEdge is 0.
      {0, 0, 1, PLATFORM_Z, 0, 0, 0, 1},
      {0, 1, 1, PLATFORM_Z, 0, 0, 1, 0},
      {0, 0, 1, PLATFORM_Z, 0, 64, 0, 0},
      // Short-edge type or other platforms: turned over when fed long edge first.
      {0, 0, 1, PLATFORM_Z, 1, 64, 0, 1},
      {0, 0, 1, PLATFORM_Z, 1, 0, 0, 0},
      {0, 0, 1, PLATFORM_M, 0, 64, 0, 1},
  };
  for (const Case& c : cases) {
    PRINT_FUNC_INFO funcs[PRINT_FUNC_COUNT];
    InitPrintFuncInfo(funcs);
    funcs[AUTODUPLEX].value = c.autoDuplex;
    funcs[IMAGEROTATION].value = c.imageRotation;
    funcs[MANUALDUPLEX].value = c.manual;
    EXPECT_EQ(DecideRotate180(funcs, 1, c.feedEdge, c.platform, c.mDuplexType), c.oddPage)
        << c.autoDuplex << c.imageRotation << c.manual << c.platform << c.mDuplexType << c.feedEdge;
    EXPECT_EQ(DecideRotate180(funcs, 2, c.feedEdge, c.platform, c.mDuplexType), c.evenPage)
        << c.autoDuplex << c.imageRotation << c.manual << c.platform << c.mDuplexType << c.feedEdge;
  }
}

}  // namespace

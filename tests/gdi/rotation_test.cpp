// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Rotations of the grey page image and the blank page.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "common.h"
#include "page_transform.h"
#include "captured_stream.h"
#include "test_support.h"

using namespace varnel_test;

namespace {

using Image = std::vector<unsigned char>;

Image RandomImage(unsigned width, unsigned height, unsigned seed) {
  std::mt19937 random(seed);
  Image image(static_cast<size_t>(width) * height);
  for (auto& pixel : image) pixel = static_cast<unsigned char>(random());
  return image;
}

// Clockwise turn written the obvious way: source (r, x) lands on row x, column height-1-r.
Image TurnedClockwise(const Image& source, unsigned width, unsigned height) {
  Image turned(source.size());
  for (unsigned r = 0; r < height; ++r)
    for (unsigned x = 0; x < width; ++x)
      turned[static_cast<size_t>(x) * height + (height - 1 - r)] = source[static_cast<size_t>(r) * width + x];
  return turned;
}

int Rotate180Of(Image& image, unsigned width, unsigned height) {
  return Rotate180(reinterpret_cast<char*>(image.data()), width, height);
}

}  // namespace

TEST(Rotate180, TurnsTheSmallImage) {
  Image image = {0, 1, 2, 3, 4, 5};
  ASSERT_EQ(Rotate180Of(image, 3, 2), 1);
  EXPECT_EQ(image, (Image{5, 4, 3, 2, 1, 0}));
}

TEST(Rotate180, MovesEveryPixelToItsMirroredPlace) {
  const unsigned width = 130, height = 70;
  Image source = RandomImage(width, height, 7);
  Image image = source;
  ASSERT_EQ(Rotate180Of(image, width, height), 1);
  for (unsigned y = 0; y < height; ++y)
    for (unsigned x = 0; x < width; ++x)
      ASSERT_EQ(image[(height - 1 - y) * width + (width - 1 - x)], source[y * width + x]) << y << "," << x;
}

TEST(Rotate90, TurnsTheSmallImageClockwise) {
  Image image = {0, 1, 2, 3, 4, 5};  // rows [0 1 2] [3 4 5]
  ASSERT_EQ(Rotate90(image.data(), 3, 2), 1);
  EXPECT_EQ(image, (Image{3, 0, 4, 1, 5, 2}));  // rows [3 0] [4 1] [5 2]
}

// Sizes around the 64-pixel tiles: exact tiles, partial tiles on either edge, single rows/columns.
TEST(Rotate90, MovesEveryPixelOnceForAnySize) {
  struct Size { unsigned width, height; };
  for (Size size : {Size{130, 70}, Size{64, 64}, Size{65, 129}, Size{1, 200}, Size{200, 1}, Size{1, 1},
                    Size{128, 63}}) {
    SCOPED_TRACE(testing::Message() << size.width << "x" << size.height);
    Image source = RandomImage(size.width, size.height, size.width * 1000 + size.height);
    Image image = source;
    ASSERT_EQ(Rotate90(image.data(), size.width, size.height), 1);
    EXPECT_EQ(image, TurnedClockwise(source, size.width, size.height));
  }
}

TEST(Rotate90, FourQuarterTurnsGiveTheImageBackAndTwoAreAHalfTurn) {
  const unsigned width = 130, height = 70;
  Image source = RandomImage(width, height, 3);
  Image image = source;
  ASSERT_EQ(Rotate90(image.data(), width, height), 1);
  ASSERT_EQ(Rotate90(image.data(), height, width), 1);
  Image halfTurn = source;
  ASSERT_EQ(Rotate180Of(halfTurn, width, height), 1);
  EXPECT_EQ(image, halfTurn);
  ASSERT_EQ(Rotate90(image.data(), width, height), 1);
  ASSERT_EQ(Rotate90(image.data(), height, width), 1);
  EXPECT_EQ(image, source);
}

TEST(Rotation, RefusesMissingBufferOrEmptySideAndLeavesTheImage) {
  struct Case { bool buffer; unsigned width, height; };
  for (Case c : {Case{false, 3, 2}, Case{true, 0, 2}, Case{true, 3, 0}}) {
    SCOPED_TRACE(testing::Message() << c.buffer << " " << c.width << "x" << c.height);
    Image image = {0, 1, 2, 3, 4, 5};
    unsigned char* buffer = c.buffer ? image.data() : nullptr;
    EXPECT_EQ(Rotate90(buffer, c.width, c.height), 0);
    EXPECT_EQ(Rotate180(reinterpret_cast<char*>(buffer), c.width, c.height), 0);
    EXPECT_EQ(image, (Image{0, 1, 2, 3, 4, 5}));
  }
}

namespace {

GDI_START_PAGE_PARAM BlankPageRecord(unsigned short width, unsigned short height, unsigned short feedEdge) {
  GDI_START_PAGE_PARAM record;
  memset(&record, 0, sizeof record);
  record.userPrntAreaW = width;
  record.userPrntAreaH = height;
  record.feedEdge = feedEdge;
  record.pageNum = 3;
  return record;
}

}  // namespace

// The blank page is numbered one past the last page; the job's page count stays.
TEST(InsertBlankPage, NumbersThePageAfterTheLastOne) {
  TempDir dir;
  g_page = 5;
  GDI_START_PAGE_PARAM record = BlankPageRecord(64, 64, 0);
  CapturedStream out(1, dir.File("out"));
  InsertBlankPage(varnel_test::GreyHeader(100, 100), &record, PLATFORM_Z);
  out.Finish();
  EXPECT_EQ(record.pageNum, 6);
  EXPECT_EQ(g_page, 5);
  g_page = 0;
}

// Each failed step is chained and logged as "ERROR: " lines on standard error; the function goes
// on with the next step and writes nothing that is not printer data on standard output.
TEST(InsertBlankPage, ReportsEveryFailedStepOnStandardError) {
  TempDir dir;
  g_page = 1;
  prntLastError[0] = '\0';
  GDI_START_PAGE_PARAM record = BlankPageRecord(64, 64, 64);
  CapturedStream out(1, dir.File("out"));
  CapturedStream err(2, dir.File("err"));
  InsertBlankPage(varnel_test::GreyHeader(100, 100), &record, PLATFORM_UNKNOWN);
  std::string errText = err.Finish();
  std::string outText = out.Finish();
  EXPECT_EQ(outText, "");
  size_t start = errText.find("ERROR: InsertBlankPage() :: Start page Fail ! \n");
  size_t send = errText.find("ERROR: InsertBlankPage() :: Send page Fail!\n");
  size_t end = errText.find("ERROR: InsertBlankPage() :: End page Fail ! \n");
  ASSERT_NE(start, std::string::npos) << errText;
  ASSERT_NE(send, std::string::npos) << errText;
  ASSERT_NE(end, std::string::npos) << errText;
  EXPECT_LT(start, send);
  EXPECT_LT(send, end);
  // The chain keeps the newest failure first.
  EXPECT_EQ(std::string(prntLastError).rfind("InsertBlankPage() :: End page Fail ! \n", 0), 0u);
  g_page = 0;
  prntLastError[0] = '\0';
}

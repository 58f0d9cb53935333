// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "common.h"
#include "halftone_tables.h"
#include "prnt.h"

namespace {

using Bitmap = std::vector<unsigned char>;

struct Page {
  unsigned w, h;
  std::vector<unsigned char> grey;
};

Bitmap Dither(const Page& p, unsigned real, int negative, int b1200, int platform, unsigned long* coverage = nullptr) {
  bool twoBit = platform == PLATFORM_M && b1200 == 1;
  Bitmap out(static_cast<size_t>(p.w) * p.h / (twoBit ? 4 : 8) + 1, 0);
  gImageCoverage = 0;
  std::vector<unsigned char> grey = p.grey;
  EXPECT_EQ(HalftoneDither(grey.data(), p.w, p.h, out.data(), real, negative, b1200, platform), 1);
  if (coverage) *coverage = gImageCoverage;
  out.pop_back();
  return out;
}

Page Flat(unsigned w, unsigned h, unsigned char v) { return Page{w, h, std::vector<unsigned char>(static_cast<size_t>(w) * h, v)}; }

Page Random(unsigned w, unsigned h, unsigned seed) {
  Page p{w, h, std::vector<unsigned char>(static_cast<size_t>(w) * h)};
  std::mt19937 rng(seed);
  for (auto& v : p.grey) v = static_cast<unsigned char>(rng());
  return p;
}

// Straightforward per-pixel model of the dither: the reference for the fast row code. In
// negative printing the first `real` pixels of a row are inverted and the rest is white.
Bitmap Reference(const Page& p, unsigned real, int negative, const unsigned char* m, unsigned n, bool twoBit) {
  Bitmap out(static_cast<size_t>(p.w) * p.h / (twoBit ? 4 : 8), 0);
  size_t bit = 0;
  for (unsigned y = 0; y < p.h; ++y) {
    for (unsigned x = 0; x < p.w; ++x) {
      unsigned t = m[(y % n) * n + (x % n)];
      unsigned s = p.grey[static_cast<size_t>(y) * p.w + x];
      if (twoBit) {
        int code = s == 0 ? 255 : std::max(0, 255 - static_cast<int>(s) - static_cast<int>(t));
        unsigned level = code == 0 ? 0 : code < 24 ? 1 : code < 64 ? 2 : 3;
        if (negative) level = x < real ? 3 - level : 0;
        out[bit / 8] |= static_cast<unsigned char>(level << (6 - bit % 8));
        bit += 2;
      } else {
        unsigned v = s < t ? 1 : 0;
        if (negative) v = x < real ? 1 - v : 0;
        out[bit / 8] |= static_cast<unsigned char>(v << (7 - bit % 8));
        bit += 1;
      }
    }
  }
  return out;
}

class HalftoneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gPPDFile[0] = '\0';
    GenerateHalftoneTables();  // the tests read the generated tiles themselves
  }
  void TearDown() override { gPPDFile[0] = '\0'; gImageCoverage = 0; }
};

}  // namespace

TEST_F(HalftoneTest, ExampleRowPositiveAndNegative) {
  Page p = Flat(16, 1, 128);
  unsigned long cov = 0;
  EXPECT_EQ(Dither(p, 16, 0, 0, PLATFORM_C, &cov), Bitmap({0x3C, 0x3C}));
  EXPECT_EQ(cov, 8u);
  EXPECT_EQ(Dither(p, 16, 1, 0, PLATFORM_Z, &cov), Bitmap({0xC3, 0xC3}));
  EXPECT_EQ(cov, 8u);
  EXPECT_EQ(Dither(p, 16, 1, 0, PLATFORM_C, &cov), Bitmap({0xC3, 0xC3}));
  EXPECT_EQ(Dither(p, 16, 1, 0, PLATFORM_M, &cov), Bitmap({0xC3, 0xC3}));
  EXPECT_EQ(cov, 0u);  // the M platform reports no coverage
}

TEST_F(HalftoneTest, BlackAndWhiteOnEveryMatrix) {
  struct Case { int platform, b1200; const char* model; } cases[] = {
      {PLATFORM_C, 0, ""}, {PLATFORM_C, 1, ""}, {PLATFORM_Z, 0, ""}, {PLATFORM_Z, 1, ""},
      {PLATFORM_Z, 0, "Varnel T4544DW Plus Series"}, {PLATFORM_Z, 1, "Varnel T4544DW Plus Series"}, {PLATFORM_M, 0, ""}};
  for (const Case& c : cases) {
    snprintf(gPPDFile, sizeof gPPDFile, "%s", c.model);
    unsigned long cov = 0;
    Bitmap black = Dither(Flat(192, 192, 0), 192, 0, c.b1200, c.platform, &cov);
    EXPECT_TRUE(std::all_of(black.begin(), black.end(), [](unsigned char b) { return b == 0xFF; })) << c.platform << c.b1200 << c.model;
    Bitmap white = Dither(Flat(192, 192, 255), 192, 0, c.b1200, c.platform, &cov);
    EXPECT_TRUE(std::all_of(white.begin(), white.end(), [](unsigned char b) { return b == 0; })) << c.platform << c.b1200 << c.model;
    EXPECT_EQ(cov, 0u);
  }
}

TEST_F(HalftoneTest, FastRowsEqualThePerPixelModel) {
  struct Case { int platform, b1200, negative; unsigned w, real; const char* model; const unsigned char* m; unsigned n; bool twoBit; } cases[] = {
      {PLATFORM_C, 0, 0, 4960, 4960, "", HT_TABLE_600, 16, false},
      {PLATFORM_C, 1, 1, 1000, 997, "", HT_TABLE_1200_C, 28, false},
      {PLATFORM_Z, 1, 0, 200, 200, "", HT_TABLE_1200_Z, 16, false},
      {PLATFORM_Z, 0, 1, 392, 300, "Varnel T4544DW Plus Series X", NEW_HT_TABLE_600_Z_M, 96, false},
      {PLATFORM_Z, 1, 0, 392, 392, "Varnel T4544DW Plus Series", NEW_HT_HALFTONE_1200_Z, 96, false},
      {PLATFORM_M, 0, 1, 104, 50, "", HT_TABLE_600, 16, false},
      {PLATFORM_M, 1, 0, 100, 100, "", HT_TABLE_600, 16, true},
      {PLATFORM_M, 1, 1, 100, 61, "", HT_TABLE_600, 16, true},
      {PLATFORM_C, 0, 0, 13, 13, "", HT_TABLE_600, 16, false},   // rows not byte-aligned
      {PLATFORM_C, 0, 1, 21, 18, "", HT_TABLE_600, 16, false},
  };
  for (const Case& c : cases) {
    snprintf(gPPDFile, sizeof gPPDFile, "%s", c.model);
    Page p = Random(c.w, 8 * 13, c.w);
    unsigned long cov = 0;
    Bitmap got = Dither(p, c.real, c.negative, c.b1200, c.platform, &cov);
    // The M printer inverts the whole row, padding included.
    Bitmap want = Reference(p, c.platform == PLATFORM_M ? c.w : c.real, c.negative, c.m, c.n, c.twoBit);
    EXPECT_EQ(got, want) << c.platform << " " << c.b1200 << " " << c.w << " " << c.model;
    if (c.platform != PLATFORM_M) {
      unsigned long bits = 0;
      for (unsigned char b : want) bits += static_cast<unsigned long>(__builtin_popcount(b));
      EXPECT_EQ(cov, bits) << c.platform << " " << c.w;
    }
  }
}

// A white page in negative: every pixel of the raster turns black. The padding right of the
// raster stays white and uncounted on C and Z; on M it is inverted with the page and prints black.
TEST_F(HalftoneTest, NegativePaddingIsWhiteOnCAndZAndBlackOnM) {
  struct Case {
    int platform, b1200;
    unsigned w, real;
  } cases[] = {
      {PLATFORM_Z, 0, 32, 20}, {PLATFORM_C, 0, 32, 20}, {PLATFORM_C, 1, 32, 20},
      {PLATFORM_Z, 0, 21, 18},  // rows that are no whole bytes
      {PLATFORM_M, 0, 32, 20}, {PLATFORM_M, 0, 21, 18}, {PLATFORM_M, 1, 32, 20},
      {PLATFORM_M, 1, 30, 17},
  };
  const unsigned rows = 8;
  for (const Case& c : cases) {
    const bool m = c.platform == PLATFORM_M;
    const unsigned bits = m && c.b1200 == 1 ? 2 : 1;
    unsigned long cov = 0;
    Bitmap out = Dither(Flat(c.w, rows, 255), c.real, 1, c.b1200, c.platform, &cov);
    Bitmap want(out.size(), 0);
    for (size_t pixel = 0; pixel < rows * c.w; ++pixel) {
      if (!m && pixel % c.w >= c.real) continue;  // padding: white
      for (unsigned b = 0; b < bits; ++b) {
        size_t bit = pixel * bits + b;
        want[bit / 8] |= static_cast<unsigned char>(0x80 >> (bit % 8));
      }
    }
    EXPECT_EQ(out, want) << c.platform << " " << c.b1200 << " " << c.w << "/" << c.real;
    EXPECT_EQ(cov, m ? 0 : rows * c.real) << c.platform << " " << c.w;  // M counts no coverage
  }
}

// The four 14 x 14 quarters of the C 1200-dpi tile are one screen cell: at every position they
// hold nearly the same threshold, so that a flat grey prints alike in all four.
TEST_F(HalftoneTest, QuartersOfThe1200CTileAgree) {
  for (unsigned y = 0; y < 14; ++y) {
    for (unsigned x = 0; x < 14; ++x) {
      int low = 255, high = 0;
      for (unsigned q = 0; q < 4; ++q) {
        int t = HT_TABLE_1200_C[(y + 14 * (q / 2)) * 28 + x + 14 * (q % 2)];
        low = std::min(low, t), high = std::max(high, t);
      }
      // 3: the known rows 0 and 6 differ that much between the upper quarters themselves.
      EXPECT_LE(high - low, 3) << "x " << x << " y " << y;
    }
  }
}

TEST_F(HalftoneTest, TwoBitLevels) {
  Page p{4, 1, {0, 255, 200, 100}};
  // thresholds of row 0: 6 82 233 254 -> codes 255, 0, max(0,55-233)=0, max(0,155-254)=0
  EXPECT_EQ(Dither(p, 4, 0, 1, PLATFORM_M), Bitmap({0xC0}));
  EXPECT_EQ(Dither(p, 4, 1, 1, PLATFORM_M), Bitmap({0x3F}));
  Page q{4, 1, {200, 150, 10, 250}};
  // codes: 55-6=49 -> 2, 105-82=23 -> 1, 245-233=12 -> 1, 5-254<0 -> 0
  EXPECT_EQ(Dither(q, 4, 0, 1, PLATFORM_M), Bitmap({0x94}));
}

TEST_F(HalftoneTest, TileIsAnchoredAtTheTopLeftPixel) {
  Page p = Flat(32, 17, 128);
  Bitmap out = Dither(p, 32, 0, 0, PLATFORM_C);
  // Row 16 repeats row 0, and columns 16-31 repeat columns 0-15 of the same matrix row.
  EXPECT_EQ(Bitmap(out.begin() + 16 * 4, out.begin() + 17 * 4), Bitmap(out.begin(), out.begin() + 4));
  EXPECT_EQ(Bitmap(out.begin(), out.begin() + 4), Bitmap({0x3C, 0x3C, 0x3C, 0x3C}));
}

TEST_F(HalftoneTest, GivenRowsAndRangesOfTheGeneratedTiles) {
  const unsigned char row0[28] = {2, 6, 24, 166, 223, 252, 255, 254, 250, 220, 163, 22, 5, 2,
                                  2, 6, 25, 168, 225, 252, 255, 255, 250, 221, 163, 22, 5, 2};
  const unsigned char row6[28] = {253, 237, 203, 107, 11, 3, 1, 1, 2, 9, 103, 201, 235, 252,
                                  253, 237, 204, 110, 11, 3, 1, 1, 2, 9, 103, 201, 235, 252};
  EXPECT_EQ(memcmp(HT_TABLE_1200_C, row0, 28), 0);
  EXPECT_EQ(memcmp(HT_TABLE_1200_C + 6 * 28, row6, 28), 0);
  const unsigned char z600[12] = {50, 28, 62, 94, 171, 111, 58, 33, 72, 87, 161, 103};
  const unsigned char z1200[12] = {36, 19, 46, 77, 165, 95, 43, 23, 55, 69, 153, 86};
  EXPECT_EQ(memcmp(NEW_HT_TABLE_600_Z_M, z600, 12), 0);
  EXPECT_EQ(memcmp(NEW_HT_HALFTONE_1200_Z, z1200, 12), 0);
  EXPECT_EQ(HT_TABLE_600[0], 6);
  EXPECT_EQ(HT_TABLE_600[255], 2);
  EXPECT_EQ(HT_TABLE_1200_Z[16 * 3 + 2], 14);
  for (int code : {0, 1, 23, 24, 63, 64, 255}) {
    int level = code == 0 ? 0 : code <= 23 ? 1 : code <= 63 ? 2 : 3;
    EXPECT_EQ(HT_TABLE_2BIG[code], level) << code;
  }
  struct Tile { const unsigned char* t; unsigned n; } tiles[] = {
      {HT_TABLE_1200_C, 28}, {NEW_HT_TABLE_600_Z_M, 96}, {NEW_HT_HALFTONE_1200_Z, 96}};
  for (const Tile& tile : tiles) {
    for (unsigned i = 0; i < tile.n * tile.n; ++i) ASSERT_GE(tile.t[i], 1) << i;
  }
}

// Flat grey from white to black darkens the page steadily, without large jumps.
TEST_F(HalftoneTest, ToneResponseOfGeneratedTilesIsMonotone) {
  struct Tile { const unsigned char* t; unsigned n; } tiles[] = {
      {HT_TABLE_1200_C, 28}, {NEW_HT_TABLE_600_Z_M, 96}, {NEW_HT_HALFTONE_1200_Z, 96}};
  for (const Tile& tile : tiles) {
    const double pixels = tile.n * tile.n;
    double previous = -1;
    for (int grey = 255; grey >= 0; --grey) {
      unsigned black = 0;
      for (unsigned i = 0; i < tile.n * tile.n; ++i) black += grey < tile.t[i];
      double share = black / pixels;
      EXPECT_GE(share, previous) << tile.n << " " << grey;
      if (previous >= 0) {
        EXPECT_LE(share - previous, 0.02) << tile.n << " " << grey;
      }
      previous = share;
    }
    EXPECT_EQ(previous, 1.0);
    unsigned mid = 0;
    for (unsigned i = 0; i < tile.n * tile.n; ++i) mid += 128 < tile.t[i];
    EXPECT_NEAR(mid / pixels, 0.5, 0.15) << tile.n;
  }
}

TEST_F(HalftoneTest, NullBufferOrPlatformZeroFails) {
  unsigned char g[8] = {0}, o[1] = {0};
  EXPECT_EQ(HalftoneDither(nullptr, 8, 1, o, 8, 0, 0, PLATFORM_C), 0);
  EXPECT_EQ(HalftoneDither(g, 8, 1, nullptr, 8, 0, 0, PLATFORM_C), 0);
  EXPECT_EQ(HalftoneDither(g, 8, 1, o, 8, 0, 0, 0), 0);
}

// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Threshold tiles. The generated ones rank the pixels of a tile by a clustered-dot spot function
// and spread the ranks evenly over the thresholds 255 (first to turn black) down to 1, so a flat
// grey darkens the page steadily from white to black.
#include "halftone_tables.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <iterator>
#include <numeric>
#include <set>
#include <vector>

const unsigned char HT_TABLE_600[kHt16 * kHt16] = {
    6,   82,  233, 254, 251, 226, 70,  5,   7,   85,  235, 255, 252, 228, 73,  5,
    55,  121, 165, 218, 211, 152, 114, 49,  57,  122, 167, 220, 213, 156, 115, 47,
    199, 134, 105, 41,  27,  95,  126, 192, 202, 136, 107, 45,  31,  97,  123, 190,
    243, 180, 18,  3,   1,   13,  172, 238, 244, 182, 19,  3,   1,   12,  170, 237,
    248, 222, 65,  4,   10,  79,  232, 253, 250, 224, 67,  4,   9,   76,  230, 252,
    208, 145, 109, 53,  62,  119, 162, 216, 210, 149, 112, 51,  59,  117, 159, 215,
    22,  88,  131, 197, 206, 142, 102, 38,  24,  91,  128, 195, 204, 139, 100, 34,
    2,   16,  177, 241, 247, 187, 21,  2,   1,   15,  175, 240, 245, 185, 20,  2,
    7,   85,  235, 255, 252, 228, 73,  5,   6,   82,  233, 254, 251, 226, 70,  5,
    57,  122, 167, 220, 213, 156, 115, 47,  55,  121, 165, 218, 211, 152, 114, 49,
    202, 136, 107, 45,  31,  97,  123, 190, 199, 134, 105, 41,  27,  95,  126, 192,
    244, 182, 19,  3,   1,   12,  170, 237, 243, 180, 18,  3,   1,   13,  172, 238,
    250, 224, 67,  4,   9,   76,  230, 252, 248, 222, 65,  4,   10,  79,  232, 253,
    210, 149, 112, 51,  59,  117, 159, 215, 208, 145, 109, 53,  62,  119, 162, 216,
    24,  91,  128, 195, 204, 139, 100, 34,  22,  88,  131, 197, 206, 142, 102, 38,
    1,   15,  175, 240, 245, 185, 20,  2,   2,   16,  177, 241, 247, 187, 21,  2};

const unsigned char HT_TABLE_1200_Z[kHt16 * kHt16] = {
    5,   82,  233, 254, 251, 226, 70,  4,   5,   85,  235, 255, 252, 228, 73,  4,
    53,  121, 165, 218, 211, 152, 114, 46,  56,  122, 167, 220, 213, 156, 115, 44,
    199, 134, 105, 37,  22,  95,  126, 192, 202, 136, 107, 41,  26,  97,  123, 190,
    243, 180, 14,  2,   1,   10,  172, 238, 244, 182, 15,  2,   1,   9,   170, 237,
    248, 222, 65,  3,   8,   79,  232, 253, 250, 224, 67,  3,   7,   76,  230, 252,
    208, 145, 109, 51,  62,  119, 162, 216, 210, 149, 112, 48,  58,  117, 159, 215,
    17,  88,  131, 197, 206, 142, 102, 33,  19,  91,  128, 195, 204, 139, 100, 29,
    2,   12,  177, 241, 247, 187, 17,  2,   1,   12,  175, 240, 245, 185, 16,  2,
    5,   85,  235, 255, 252, 228, 73,  4,   5,   82,  233, 254, 251, 226, 70,  4,
    56,  122, 167, 220, 213, 156, 115, 44,  53,  121, 165, 218, 211, 152, 114, 46,
    202, 136, 107, 41,  26,  97,  123, 190, 199, 134, 105, 37,  22,  95,  126, 192,
    244, 182, 15,  2,   1,   9,   170, 237, 243, 180, 14,  2,   1,   10,  172, 238,
    250, 224, 67,  3,   7,   76,  230, 252, 248, 222, 65,  3,   8,   79,  232, 253,
    210, 149, 112, 48,  58,  117, 159, 215, 208, 145, 109, 51,  62,  119, 162, 216,
    19,  91,  128, 195, 204, 139, 100, 29,  17,  88,  131, 197, 206, 142, 102, 33,
    1,   12,  175, 240, 245, 185, 16,  2,   2,   12,  177, 241, 247, 187, 17,  2};

namespace {

constexpr unsigned char Level2Bit(int code) { return code == 0 ? 0 : code < 24 ? 1 : code < 64 ? 2 : 3; }

struct Levels {
  unsigned char v[256];
  constexpr Levels() : v() {
    for (int i = 0; i < 256; ++i) v[i] = Level2Bit(i);
  }
};
constexpr Levels kLevels;

// Known rows of the generated tiles; they are kept as they stand.
const unsigned char k1200CRow0[kHt28] = {2, 6,  24, 166, 223, 252, 255, 254, 250, 220, 163, 22, 5, 2,
                                        2, 6,  25, 168, 225, 252, 255, 255, 250, 221, 163, 22, 5, 2};
const unsigned char k1200CRow6[kHt28] = {253, 237, 203, 107, 11, 3, 1, 1, 2, 9, 103, 201, 235, 252,
                                        253, 237, 204, 110, 11, 3, 1, 1, 2, 9, 103, 201, 235, 252};
const unsigned char k600ZMRow0[12] = {50, 28, 62, 94, 171, 111, 58, 33, 72, 87, 161, 103};
const unsigned char k1200ZRow0[12] = {36, 19, 46, 77, 165, 95, 43, 23, 55, 69, 153, 86};

const double kPi = 3.14159265358979323846;

// Position of a cell in a 4 x 4 dispersed (Bayer) order: lets the dots of a tile grow in turn,
// which gives the tile more grey levels than one cell alone has pixels.
int Bayer4(int x, int y) {
  static const int order[16] = {0, 8, 2, 10, 12, 4, 14, 6, 3, 11, 1, 9, 15, 7, 13, 5};
  return order[(y & 3) * 4 + (x & 3)];
}

// Ranks the tile's pixels by spot value (lowest first = black first) and maps ranks to 255..1.
void RankToThresholds(const std::vector<double>& spot, unsigned char* tile) {
  const size_t n = spot.size();
  std::vector<size_t> order(n);
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return spot[a] < spot[b]; });
  for (size_t rank = 0; rank < n; ++rank) {
    tile[order[rank]] = static_cast<unsigned char>(255 - rank * 255 / n);
  }
}

}  // namespace

const unsigned char HT_TABLE_2BIG[256] = {
#define L4(i) kLevels.v[i], kLevels.v[i + 1], kLevels.v[i + 2], kLevels.v[i + 3]
#define L16(i) L4(i), L4(i + 4), L4(i + 8), L4(i + 12)
#define L64(i) L16(i), L16(i + 16), L16(i + 32), L16(i + 48)
    L64(0), L64(64), L64(128), L64(192)
#undef L64
#undef L16
#undef L4
};

unsigned char HT_TABLE_1200_C[kHt28 * kHt28];
unsigned char NEW_HT_TABLE_600_Z_M[kHt96 * kHt96];
unsigned char NEW_HT_HALFTONE_1200_Z[kHt96 * kHt96];

// 28 x 28 tile of four 14 x 14 cells, each with black dots at (0, 6.5) and (6.5, 0) and white
// dots at (0, 0) and (6.5, 6.5): a 45-degree screen whose four cells print alike. The known rows
// 0 and 6 hold the two upper cells; the lower cells repeat them in rows 14 and 20. The other
// pixels are ranked by the spot function. cos * cos takes one value on whole lines of a cell (it
// is zero on x = 3, x = 10, y = 3 and y = 10), and those ties are broken by the position in the
// cell before the cell, so that the four copies of a position get neighbouring thresholds. They
// share out the even spread from 255 down to 1, less the values that the known rows hold.
static void Generate1200C() {
  const int kCell = 14;
  const int n = kHt28 * kHt28;
  std::vector<int> tile(n, -1);
  for (int top : {0, kCell}) {
    for (int x = 0; x < kHt28; ++x) {
      tile[top * kHt28 + x] = k1200CRow0[x];
      tile[(top + 6) * kHt28 + x] = k1200CRow6[x];
    }
  }
  std::multiset<int> spread;
  for (int rank = 0; rank < n; ++rank) spread.insert(255 - rank * 255 / n);
  for (int value : tile) {
    if (value < 0) continue;
    auto above = spread.lower_bound(value);
    auto nearest = above;
    if (above == spread.end() || (above != spread.begin() && value - *std::prev(above) <= *above - value))
      nearest = std::prev(above);
    spread.erase(nearest);
  }

  struct Pixel {
    long long spot;  // the spot value in billionths: values equal but for rounding are one value
    int inCell;      // position in the cell
    int turn;        // the cells take turns: upper left, lower right, upper right, lower left
    int index;
  };
  static const int turn[4] = {0, 2, 3, 1};
  std::vector<Pixel> ranked;
  for (int y = 0; y < kHt28; ++y) {
    for (int x = 0; x < kHt28; ++x) {
      if (tile[y * kHt28 + x] >= 0) continue;
      double a = std::cos(2 * kPi * (x % kCell + 0.5) / kCell) * std::cos(2 * kPi * (y % kCell + 0.5) / kCell);
      ranked.push_back({std::llround(a * 1e9), (y % kCell) * kCell + x % kCell, turn[(y / kCell) * 2 + x / kCell],
                        y * kHt28 + x});
    }
  }
  // Lowest spot first: it turns black first and takes the highest threshold.
  std::sort(ranked.begin(), ranked.end(), [](const Pixel& a, const Pixel& b) {
    if (a.spot != b.spot) return a.spot < b.spot;
    if (a.inCell != b.inCell) return a.inCell < b.inCell;
    return a.turn < b.turn;
  });
  auto threshold = spread.rbegin();
  for (const Pixel& p : ranked) tile[p.index] = *threshold++;
  for (int i = 0; i < n; ++i) HT_TABLE_1200_C[i] = static_cast<unsigned char>(tile[i]);
}

// 96 x 96 super-tile of 16 x 16 round dots with a 6-pixel period; the dots grow in a dispersed
// order. The 1200-dpi tile has the same dots with lower thresholds, compensating the larger dot
// gain of the fine mode.
static void Generate96() {
  std::vector<double> spot(kHt96 * kHt96);
  for (int y = 0; y < kHt96; ++y) {
    for (int x = 0; x < kHt96; ++x) {
      double a = std::cos(2 * kPi * (x + 0.5) / 6) + std::cos(2 * kPi * (y + 0.5) / 6);
      spot[y * kHt96 + x] = a + 1e-3 * Bayer4(x / 6, y / 6) + 1e-5 * Bayer4(x / 24, y / 24);
    }
  }
  RankToThresholds(spot, NEW_HT_TABLE_600_Z_M);
  for (int i = 0; i < kHt96 * kHt96; ++i) {
    double t = 255.0 * std::pow(NEW_HT_TABLE_600_Z_M[i] / 255.0, 1.2);
    NEW_HT_HALFTONE_1200_Z[i] = static_cast<unsigned char>(std::max(1.0, std::min(255.0, std::round(t))));
  }
  memcpy(NEW_HT_TABLE_600_Z_M, k600ZMRow0, sizeof k600ZMRow0);
  memcpy(NEW_HT_HALFTONE_1200_Z, k1200ZRow0, sizeof k1200ZRow0);
}

// Made when a page first needs a tile, not at start-up: most jobs use none of them, and making
// them costs about a millisecond.
void GenerateHalftoneTables() {
  static std::once_flag once;
  std::call_once(once, [] {
    Generate1200C();
    Generate96();
  });
}

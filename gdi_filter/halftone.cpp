// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Ordered dithering of an 8-bit grey page (0 black, 255 white) into the printer's bitmap.
//
// The tile is anchored at the top-left pixel. For speed every tile row is expanded once into a
// threshold row as wide as the page, so the inner loop compares two byte rows 16 pixels at a time
// and packs the results with one mask instruction: no per-pixel branch, division or modulo.
#include <emmintrin.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "common.h"
#include "halftone_tables.h"
#include "platforms.h"
#include "prnt.h"

unsigned long gImageCoverage = 0;

namespace {

const char kNewHalftoneModel[] = "Varnel T4544DW Plus Series";

struct Matrix {
  const unsigned char* cells;
  unsigned size;
};

struct BitReverse {
  unsigned char v[256];
  constexpr BitReverse() : v() {
    for (int i = 0; i < 256; ++i) {
      int r = 0;
      for (int b = 0; b < 8; ++b) r |= ((i >> b) & 1) << (7 - b);
      v[i] = static_cast<unsigned char>(r);
    }
  }
};
constexpr BitReverse kReverse;

// The platform's tile; the T4544DW Plus (a Z model) has 96 x 96 tiles of its own.
Matrix ChooseMatrix(bool newHalftone, int b1200dpi, const PLATFORM_FACTS& facts) {
  if (newHalftone) return {b1200dpi ? NEW_HT_HALFTONE_1200_Z : NEW_HT_TABLE_600_Z_M, kHt96};
  if (b1200dpi) return {facts.tile1200, facts.tile1200Size};
  return {facts.tile600, facts.tile600Size};
}

// Tile rows expanded to the page width (rounded up to 16), kept between pages of a job.
class ThresholdRows {
 public:
  const unsigned char* Row(unsigned i) const { return rows_.data() + static_cast<size_t>(i) * stride_; }
  void Prepare(const Matrix& m, unsigned width) {
    unsigned stride = (width + 15) & ~15u;
    if (m.cells == cells_ && stride == stride_) return;
    cells_ = m.cells;
    stride_ = stride;
    rows_.assign(static_cast<size_t>(m.size) * stride, 0);
    for (unsigned i = 0; i < m.size; ++i) {
      unsigned char* row = rows_.data() + static_cast<size_t>(i) * stride;
      for (unsigned x = 0, j = 0; x < stride; ++x) {
        row[x] = m.cells[i * m.size + j];
        if (++j == m.size) j = 0;
      }
    }
  }

 private:
  const unsigned char* cells_ = nullptr;
  unsigned stride_ = 0;
  std::vector<unsigned char> rows_;
};

ThresholdRows gThresholdRows;

// One byte-aligned row, 1 bit a pixel, black = sample < threshold.
void DitherRow1Bit(const unsigned char* src, const unsigned char* thr, unsigned width, unsigned char* out) {
  unsigned x = 0;
  for (; x + 16 <= width; x += 16) {
    __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + x));
    __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(thr + x));
    __m128i white = _mm_cmpeq_epi8(_mm_max_epu8(s, t), s);  // s >= t
    unsigned black = ~static_cast<unsigned>(_mm_movemask_epi8(white));
    out[x / 8] = kReverse.v[black & 0xFF];
    out[x / 8 + 1] = kReverse.v[(black >> 8) & 0xFF];
  }
  for (; x < width; x += 8) {
    unsigned char byte = 0;
    for (unsigned k = 0; k < 8; ++k) byte = static_cast<unsigned char>((byte << 1) | (src[x + k] < thr[x + k]));
    out[x / 8] = byte;
  }
}

// Negative printing: the first realPixels pixels of the row are inverted, the rest stays white.
void NegateRow(unsigned char* out, unsigned rowBytes, unsigned realPixels) {
  unsigned full = realPixels / 8;
  for (unsigned b = 0; b < full && b < rowBytes; ++b) out[b] = static_cast<unsigned char>(~out[b]);
  if (full < rowBytes) {
    unsigned rest = realPixels % 8;
    unsigned char keep = static_cast<unsigned char>(0xFF00u >> rest);
    out[full] = static_cast<unsigned char>(~out[full] & keep);
    for (unsigned b = full + 1; b < rowBytes; ++b) out[b] = 0;
  }
}

// Black dots of a bitmap row. The popcnt instruction is used where the processor has it; the
// baseline x86-64 build would otherwise call a library routine for every eight bytes.
template <typename Popcount64>
unsigned long CountBitsWith(const unsigned char* p, unsigned n, Popcount64 popcount) {
  unsigned long count = 0;
  unsigned i = 0;
  for (; i + 8 <= n; i += 8) {
    unsigned long long w;
    memcpy(&w, p + i, 8);
    count += popcount(w);
  }
  for (; i < n; ++i) count += popcount(p[i]);
  return count;
}

__attribute__((target("popcnt"))) unsigned long CountBitsPopcnt(const unsigned char* p, unsigned n) {
  return CountBitsWith(p, n, [](unsigned long long w) { return static_cast<unsigned long>(__builtin_popcountll(w)); });
}

unsigned long CountBitsPortable(const unsigned char* p, unsigned n) {
  return CountBitsWith(p, n, [](unsigned long long w) { return static_cast<unsigned long>(__builtin_popcountll(w)); });
}

unsigned long CountBits(const unsigned char* p, unsigned n) {
  static const bool hasPopcnt = __builtin_cpu_supports("popcnt");
  return hasPopcnt ? CountBitsPopcnt(p, n) : CountBitsPortable(p, n);
}

// 2 bits a pixel (M fine mode): four levels per byte, first pixel in the top bits.
void DitherRow2Bit(const unsigned char* src, const unsigned char* thr, unsigned width, unsigned realPixels,
                   bool negative, unsigned char* out) {
  for (unsigned x = 0; x < width; x += 4) {
    unsigned byte = 0;
    for (unsigned k = 0; k < 4; ++k) {
      int s = src[x + k];
      int code = 255 - s - thr[x + k];
      code = code < 0 ? 0 : code;
      code = s == 0 ? 255 : code;
      unsigned level = HT_TABLE_2BIG[code];
      if (negative) level = (x + k < realPixels) ? 3 - level : 0;
      byte = (byte << 2) | level;
    }
    out[x / 4] = static_cast<unsigned char>(byte);
  }
}

// Any width: a continuous bit stream across rows, one pixel at a time.
void DitherAnyWidth(const unsigned char* src, unsigned width, unsigned height, unsigned char* out,
                    unsigned realPixels, bool negative, bool twoBit, bool count, const Matrix& m) {
  const unsigned bits = twoBit ? 2 : 1;
  size_t bitPos = 0;
  unsigned i = 0;
  for (unsigned y = 0; y < height; ++y) {
    const unsigned char* row = src + static_cast<size_t>(y) * width;
    for (unsigned x = 0, j = 0; x < width; ++x) {
      unsigned t = m.cells[i * m.size + j];
      if (++j == m.size) j = 0;
      unsigned value;
      if (twoBit) {
        int code = row[x] == 0 ? 255 : (255 - row[x] - static_cast<int>(t) < 0 ? 0 : 255 - row[x] - t);
        value = HT_TABLE_2BIG[code];
        if (negative) value = x < realPixels ? 3 - value : 0;
      } else {
        value = row[x] < t ? 1 : 0;
        if (negative) value = x < realPixels ? 1 - value : 0;
        if (count) gImageCoverage += value;
      }
      size_t byte = bitPos / 8;
      unsigned shift = 8 - bits - static_cast<unsigned>(bitPos % 8);
      out[byte] = static_cast<unsigned char>(out[byte] | (value << shift));
      bitPos += bits;
    }
    if (++i == m.size) i = 0;
  }
}

}  // namespace

int HalftonePageBegin(HALFTONE_PAGE* page, unsigned int widthPixels, unsigned int realImgWByte, int bNegative,
                      int b1200dpi, int platform) {
  const bool newHalftone =
      platform == PLATFORM_Z && strncmp(gPPDFile, kNewHalftoneModel, sizeof kNewHalftoneModel - 1) == 0;
  fputs(newHalftone ? "DEBUG: EXTERNAL IMPORT NEW_HALFTONE\n" : "DEBUG: NO NEED TO EXTERNAL IMPORT NEW_HALFTONE\n",
        stderr);
  const PLATFORM_FACTS* facts = GetPlatformFacts(platform);
  if (page == nullptr || facts == nullptr) return 0;
  GenerateHalftoneTables();
  const Matrix m = ChooseMatrix(newHalftone, b1200dpi, *facts);
  page->cells = m.cells;
  page->tileSize = m.size;
  page->width = widthPixels;
  // Negative printing inverts the image area. On C and Z the padding right of it stays white (and
  // uncounted); the M printer inverts every pixel of the page, so there the padding prints black.
  page->realPixels = facts->negativeInvertsPadding ? widthPixels : std::min(realImgWByte, widthPixels);
  page->twoBit = facts->twoBitAt1200 && b1200dpi == 1;
  page->negative = bNegative != 0;
  page->countDots = facts->countsDots;
  page->rowAligned = widthPixels % (page->twoBit ? 4 : 8) == 0;
  if (page->rowAligned) gThresholdRows.Prepare(m, widthPixels);
  return 1;
}

void HalftonePageRow(const HALFTONE_PAGE* page, const unsigned char* src, unsigned int row, unsigned char* out) {
  const unsigned width = page->width;
  const unsigned char* thr = gThresholdRows.Row(row % page->tileSize);
  if (page->twoBit) {
    DitherRow2Bit(src, thr, width, page->realPixels, page->negative, out);
    return;
  }
  const unsigned rowBytes = width / 8;
  DitherRow1Bit(src, thr, width, out);
  if (page->negative) NegateRow(out, rowBytes, page->realPixels);
  if (page->countDots) gImageCoverage += CountBits(out, rowBytes);
}

int HalftoneDither(unsigned char* pSrcImgData, unsigned int srcImgWbytes, unsigned int srcImgHpixels,
                   unsigned char* pTarImgData, unsigned int realImgWByte, int bNegative, int b1200dpi,
                   int platform) {
  HALFTONE_PAGE page;
  if (!HalftonePageBegin(&page, srcImgWbytes, realImgWByte, bNegative, b1200dpi, platform)) return 0;
  if (pSrcImgData == nullptr || pTarImgData == nullptr) return 0;
  const unsigned width = srcImgWbytes;
  if (!page.rowAligned) {
    const Matrix m = {page.cells, page.tileSize};
    DitherAnyWidth(pSrcImgData, width, srcImgHpixels, pTarImgData, page.realPixels, page.negative, page.twoBit,
                   page.countDots, m);
    return 1;
  }
  const size_t rowBytes = page.twoBit ? width / 4 : width / 8;
  for (unsigned y = 0; y < srcImgHpixels; ++y)
    HalftonePageRow(&page, pSrcImgData + static_cast<size_t>(y) * width, y, pTarImgData + y * rowBytes);
  return 1;
}

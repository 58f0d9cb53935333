// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <random>
#include <vector>

extern "C" {
#include <jbig.h>
}

#include "jbigCompress.h"
#include "prnt.h"
#include "prnt_records.h"
#include "stream_capture.h"

using namespace varnel_test;

namespace {

using Stream = std::vector<unsigned char>;

// Decodes one complete JBIG image entity; returns its bitmap (empty on a decoding error).
Stream Decode(const unsigned char* data, size_t len, unsigned long* w, unsigned long* h) {
  struct jbg_dec_state s;
  jbg_dec_init(&s);
  size_t used = 0;
  int rc = jbg_dec_in(&s, const_cast<unsigned char*>(data), len, &used);
  Stream out;
  if (rc == JBG_EOK) {
    *w = jbg_dec_getwidth(&s);
    *h = jbg_dec_getheight(&s);
    unsigned char* img = jbg_dec_getimage(&s, 0);
    out.assign(img, img + jbg_dec_getsize(&s));
  }
  jbg_dec_free(&s);
  return out;
}

unsigned long LE32(const unsigned char* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<unsigned long>(p[3]) << 24; }
unsigned long BE32(const unsigned char* p) { return static_cast<unsigned long>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; }

// A bitmap with text-like strokes, or random bits that compress badly.
Stream Bitmap(unsigned w, unsigned h, bool random) {
  Stream b(static_cast<size_t>(w) / 8 * h, 0);
  std::mt19937 rng(7);
  for (size_t i = 0; i < b.size(); ++i) {
    if (random) b[i] = static_cast<unsigned char>(rng());
    else if ((i / (w / 8)) % 40 < 12 && (i % (w / 8)) % 7 < 3) b[i] = static_cast<unsigned char>(0xF0 >> (i % 3));
  }
  return b;
}

GDI_SEND_PAGE_PARAM Param(Stream& bitmap, unsigned w, unsigned h, int platform) {
  GDI_SEND_PAGE_PARAM s{};
  s.compression = 0x20;
  s.whlImgW = static_cast<unsigned short>(w);
  s.whlImgH = static_cast<unsigned short>(h);
  if (platform == PLATFORM_C) { s.rasImgW = static_cast<unsigned short>(w); s.rasImgH = 768; }
  s.sendImgBuf = reinterpret_cast<char*>(bitmap.data());
  return s;
}

class SendPageTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetSink(); }
  void TearDown() override { ResetSink(); }
};

}  // namespace

TEST_F(SendPageTest, CSendsOneImageThatDecodesToThePage) {
  const unsigned w = 1024, h = 1000;
  Stream bitmap = Bitmap(w, h, false);
  GDI_SEND_PAGE_PARAM s = Param(bitmap, w, h, PLATFORM_C);
  Stream out = CaptureStdout([&] { EXPECT_EQ(Prnt_SendPage(&s, PLATFORM_C), 1); });
  ASSERT_GT(out.size(), 18u);
  EXPECT_EQ(out[2], 0x0C);
  EXPECT_EQ(LE32(&out[13]), out.size() - 18);
  EXPECT_EQ(static_cast<size_t>(s.cmpImgBytes), out.size() - 18);
  EXPECT_EQ(BE32(&out[18 + 12]), 768u);  // L0 in the image header
  unsigned long dw = 0, dh = 0;
  EXPECT_EQ(Decode(&out[18], out.size() - 18, &dw, &dh), bitmap);
  EXPECT_EQ(dw, w);
  EXPECT_EQ(dh, h);
  unsigned sum = 0x9E;
  for (size_t i = 18; i < out.size(); ++i) sum += out[i];
  EXPECT_EQ(gImageChecksum, sum & 0xFF);
}

TEST_F(SendPageTest, ZBandGeometry) {
  for (unsigned h : {600u, 512u, 100u}) {
    const unsigned w = 640;
    Stream bitmap = Bitmap(w, h, false);
    gImageCoverage = 4096000;
    GDI_SEND_PAGE_PARAM s = Param(bitmap, w, h, PLATFORM_Z);
    Stream out = CaptureStdout([&] { EXPECT_EQ(Prnt_SendPage(&s, PLATFORM_Z), 1); });
    ASSERT_GT(out.size(), 27u);
    EXPECT_EQ(Stream(out.begin(), out.begin() + 9), Bytes({0x0B, 7, 0x19, 0, 0, 1, 0xD4, 0, 0}));
    EXPECT_EQ(LE32(&out[9 + 13]), 0u);  // compressedImageBytes of the raster record
    EXPECT_EQ(s.cmpImgBytes, 0);
    size_t pos = 27;
    Stream decoded;
    unsigned band = 0;
    while (pos < out.size()) {
      ASSERT_LE(pos + kBandRecordLen, out.size());
      const unsigned char* r = &out[pos];
      unsigned lines = std::min(256u, h - band * 256);
      EXPECT_EQ(r[2], 0x1A);
      EXPECT_EQ(CalcChecksum(const_cast<unsigned char*>(r), 47), r[47]);
      EXPECT_EQ(LE32(r + 7), w);
      EXPECT_EQ(LE32(r + 11), lines) << h << " band " << band;
      EXPECT_EQ(LE32(r + 15), lines);
      EXPECT_EQ(LE32(r + 35), band * 256u);
      unsigned long size = LE32(r + 23);
      EXPECT_EQ(LE32(r + 27), size);
      unsigned long dw = 0, dh = 0;
      Stream part = Decode(r + kBandRecordLen, size, &dw, &dh);
      EXPECT_EQ(dh, lines);
      decoded.insert(decoded.end(), part.begin(), part.end());
      pos += kBandRecordLen + size;
      ++band;
    }
    EXPECT_EQ(band, (h + 255) / 256) << h;
    EXPECT_EQ(decoded, bitmap) << h;
  }
  gImageCoverage = 0;
}

TEST_F(SendPageTest, MSplitsDataAt65536Bytes) {
  const unsigned w = 1024, h = 1024;  // 128 KiB of random bits: compresses to more than that
  Stream bitmap = Bitmap(w, h, true);
  GDI_SEND_PAGE_PARAM s = Param(bitmap, w, h, PLATFORM_M);
  Stream out = CaptureStdout([&] { EXPECT_EQ(Prnt_SendPage(&s, PLATFORM_M), 1); });
  ASSERT_GT(out.size(), 36u);
  EXPECT_EQ(Stream(out.begin(), out.begin() + 8), Bytes({0, 0, 0, 36, 0, 0, 0, 4}));
  EXPECT_EQ(Stream(out.begin() + 16, out.begin() + 36),
            Bytes({0, 0, 1, 0, 0, 0, 4, 0, 0, 0, 4, 0, 0, 0, 1, 0, 0, 0, 3, 0x5C}));
  size_t pos = 36;
  Stream data;
  std::vector<unsigned long> lengths;
  while (BE32(&out[pos + 4]) == JBIG_DATA_CMD) {
    unsigned long len = BE32(&out[pos]);
    lengths.push_back(len);
    data.insert(data.end(), out.begin() + static_cast<long>(pos) + 16, out.begin() + static_cast<long>(pos + len));
    pos += len;
  }
  EXPECT_EQ(Stream(out.begin() + static_cast<long>(pos), out.end()),
            Bytes({0, 0, 0, 16, 0, 0, 0, 6, 0, 0, 0, 0, 0, 0, 0x5A, 0x5A}));
  ASSERT_GE(lengths.size(), 3u);  // more than 128 KiB of data
  for (size_t i = 0; i + 1 < lengths.size(); ++i) EXPECT_EQ(lengths[i], 65552u);
  EXPECT_EQ(lengths.back(), 16 + data.size() % 65536);
  EXPECT_EQ(static_cast<size_t>(s.cmpImgBytes), data.size());
  unsigned long dw = 0, dh = 0;
  EXPECT_EQ(Decode(data.data(), data.size(), &dw, &dh), bitmap);
}

TEST_F(SendPageTest, FailuresAreNamed) {
  const unsigned w = 256, h = 64;
  Stream bitmap = Bitmap(w, h, false);
  GDI_SEND_PAGE_PARAM s = Param(bitmap, w, h, PLATFORM_C);
  CaptureStdout([&] { EXPECT_EQ(Prnt_SendPage(&s, PLATFORM_C), 0); }, 0);
  EXPECT_STREQ(prntLastError, "Prnt_SendPage() :: send cmdRasterImage Fail .  \n");
  ResetSink();
  CaptureStdout([&] { EXPECT_EQ(Prnt_SendPage(&s, PLATFORM_C), 0); }, 18);
  EXPECT_STREQ(prntLastError, "Prnt_SendPage() :: Send compressed data and cmd fail.  \n");
  ResetSink();
  s = Param(bitmap, w, h, PLATFORM_M);
  CaptureStdout([&] { EXPECT_EQ(Prnt_SendPage(&s, PLATFORM_M), 0); }, 36);
  EXPECT_STREQ(prntLastError, "Prnt_SendPage() :: send JBIG_DATA_CMD Fail 0 ==  \n");
  ResetSink();
  s = Param(bitmap, w, h, PLATFORM_Z);
  CaptureStdout([&] { EXPECT_EQ(Prnt_SendPage(&s, PLATFORM_Z), 0); }, 0);
  EXPECT_STREQ(prntLastError, "Prnt_SendPage() :: send cmdCoverage Fail 0 ==  \n");
  EXPECT_EQ(Prnt_SendPage(&s, 0), 0);
}

// The encoder's output never grows its buffer: output that does not fit is dropped, the encoder
// is released all the same (the leak check of the test build sees it), and the image counts as
// not compressed. With room, the buffer holds exactly the image.
TEST_F(SendPageTest, CompressionIntoAFullBufferFailsCleanly) {
  const unsigned w = 256, h = 64;
  Stream bitmap = Bitmap(w, h, true);
  JBIG_BIH bih{};
  bih.ParamP = 1;
  bih.ParamImgWidth = w;
  bih.ParamImgHeight = h;
  bih.ParamL0 = h;
  bih.ParamOrder = 3;
  bih.ParamOption = 0x58;
  for (size_t capacity : {size_t{0}, size_t{19}, size_t{100}}) {
    SCOPED_TRACE(capacity);
    std::vector<unsigned char> room(capacity + 1);
    gpCompImgData = room.data();
    gJbigCompressCapacity = capacity;
    gJbigCompressDataLen = 0;
    EXPECT_EQ(JBIGCompress(bih, bitmap.data()), 0);
    EXPECT_TRUE(gJbigCompressOverflow);
    EXPECT_LE(gJbigCompressDataLen, capacity);
  }
  gpCompImgData = nullptr;
  EXPECT_EQ(JBIGCompress(bih, bitmap.data()), 0) << "no buffer, no image";

  const unsigned long before = gIncompleteImages;
  JbigImage image;
  CompressImage(bih, bitmap.data(), &image);
  ASSERT_TRUE(image.complete);
  unsigned long dw = 0, dh = 0;
  EXPECT_EQ(Decode(image.data.get(), image.size, &dw, &dh), bitmap);
  EXPECT_EQ(gIncompleteImages, before);
}

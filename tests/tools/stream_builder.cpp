// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
#include "stream_builder.h"

extern "C" {
#include <jbig.h>
}

#include <algorithm>
#include <cstring>

namespace stream_test {

namespace {

const char kUel[] = "\x1b%-12345X";
const char kUelC[] = "\x1b\xff-12345X";
const char kEndOfJob[] = "\x1b%-12345X@PJL\r\n@PJL EOJ\r\n\x1b%-12345X\r\n";

Bytes Text(const char* text) { return Bytes(text, text + strlen(text)); }
Bytes Text(const char* text, size_t length) { return Bytes(text, text + length); }

// 0x0B, length, command, fields, checksum.
Bytes Record(uint8_t command, const Bytes& fields) {
  Bytes r(fields.size() + 4, 0);
  r[0] = 0x0B;
  r[1] = static_cast<uint8_t>(fields.size() + 4);
  r[2] = command;
  std::copy(fields.begin(), fields.end(), r.begin() + 3);
  FixChecksum(&r);
  return r;
}

void Le16(Bytes* b, unsigned v) {
  b->push_back(v & 0xFF);
  b->push_back((v >> 8) & 0xFF);
}
void Le32(Bytes* b, uint32_t v) {
  Le16(b, v & 0xFFFF);
  Le16(b, v >> 16);
}
void Be16(Bytes* b, unsigned v) {
  b->push_back((v >> 8) & 0xFF);
  b->push_back(v & 0xFF);
}
void Be32(Bytes* b, uint32_t v) {
  Be16(b, v >> 16);
  Be16(b, v & 0xFFFF);
}

void Add(Pieces* p, const std::string& name, const Bytes& bytes) { p->push_back({name, bytes}); }
void Sep(Pieces* p) { Add(p, "sep", {0, 0}); }

void JbigOut(unsigned char* data, size_t length, void* target) {
  Bytes* out = static_cast<Bytes*>(target);
  out->insert(out->end(), data, data + length);
}

Bytes PageSpecRecord(const PageSpec& page, unsigned pageNum, bool c) {
  Bytes f = {static_cast<uint8_t>(page.paper), 0, 60, 60, 1, static_cast<uint8_t>(c ? page.feedEdge : 0)};
  Le16(&f, page.copies);
  Le16(&f, 0);
  Le16(&f, 0);
  Le16(&f, pageNum);
  return Record(0x12, f);
}

unsigned long long BlackDots(const Plane& plane) {
  unsigned long long n = 0;
  for (uint8_t b : plane.rows) n += __builtin_popcount(b);
  return n;
}

Bytes MHeader(uint32_t cmdLen, uint32_t type, uint32_t count) {
  Bytes h;
  Be32(&h, cmdLen);
  Be32(&h, type);
  Be32(&h, count);
  Be16(&h, count * 12);
  Be16(&h, 0x5A5A);
  return h;
}

Bytes MParam(unsigned id, uint32_t value) {
  Bytes e;
  Be32(&e, 12);
  Be16(&e, id);
  e.push_back(1);
  e.push_back(0);
  Be32(&e, value);
  return e;
}

}  // namespace

Bytes RasterImageRecord(const Plane& plane, unsigned rasW, unsigned rasH, uint32_t compressed) {
  Bytes f = {0, 0x20};
  Le16(&f, plane.width);
  Le16(&f, plane.height);
  Le16(&f, rasW);
  Le16(&f, rasH);
  Le32(&f, compressed);
  return Record(0x0C, f);
}

Plane MakePlane(unsigned width, unsigned height, unsigned seed, bool noise) {
  Plane p;
  p.width = width;
  p.height = height;
  p.rows.assign(p.Stride() * height, 0);
  uint32_t state = seed * 2654435761u + 1;
  for (unsigned y = 0; y < height; ++y) {
    for (unsigned x = 0; x < width; ++x) {
      state = state * 1664525u + 1013904223u;
      bool black = noise ? (state >> 31) : (((x / 5 + y / 3 + seed) % 7) < 2) || (x == y % width);
      if (black) p.rows[y * p.Stride() + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    }
  }
  return p;
}

Plane Rows(const Plane& plane, unsigned first, unsigned count) {
  Plane p;
  p.width = plane.width;
  p.height = count;
  p.rows.assign(plane.rows.begin() + first * plane.Stride(), plane.rows.begin() + (first + count) * plane.Stride());
  return p;
}

Bytes EncodeJbig(const Plane& plane, unsigned long l0, int order, int options, int mx) {
  Bytes out;
  jbg_enc_state state;
  unsigned char* planes[1] = {const_cast<unsigned char*>(plane.rows.data())};
  jbg_enc_init(&state, plane.width, plane.height, 1, planes, JbigOut, &out);
  jbg_enc_layers(&state, 0);
  jbg_enc_lrange(&state, 0, -1);
  jbg_enc_options(&state, order, options, l0, mx, 0);
  jbg_enc_out(&state);
  jbg_enc_free(&state);
  return out;
}

void FixChecksum(Bytes* record) {
  unsigned sum = 0;
  for (size_t i = 0; i + 1 < record->size(); ++i) sum += (*record)[i];
  record->back() = static_cast<uint8_t>(-sum & 0xFF);
}

void PutLe32(Bytes* bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) (*bytes)[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

void PutBe32(Bytes* bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) (*bytes)[at + i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

Pieces StreamC(const std::vector<PageSpec>& pages, unsigned stripeLines) {
  Pieces p;
  Add(&p, "UEL_CMD_C", Text(kUelC, 9));
  Add(&p, "abortCmd", {0x0B, 0x04, 0x16, 0xDB});
  Add(&p, "endOfJobCmd", Text(kEndOfJob));
  Add(&p, "fwVer", Text("versions=3.1.2.1"));
  Sep(&p);
  Add(&p, "PJLheader", Text("\x1b%-12345X@PJL\r\n"));
  Add(&p, "pjlCmd", Text("@PJL ENTER LANGUAGE=PL\r\n"));
  Sep(&p);
  Add(&p, "cmdJobSpec", Record(0x11, {42, 0x30}));
  Sep(&p);
  Add(&p, "cmdTonerSave", Record(0x19, {0}));
  Sep(&p);
  Add(&p, "cmdDensity", Record(0x15, {3}));
  Add(&p, "cmdSysTime", Record(0x1F, {0xEA, 0x07, 12, 9}));
  unsigned pageNum = 0;
  for (const PageSpec& page : pages) {
    Sep(&p);
    Add(&p, "cmdPageSpec", PageSpecRecord(page, ++pageNum, true));
    Sep(&p);
    Add(&p, "cmdCustomPaper", Record(0x13, Bytes(8, 0)));
    Sep(&p);
    Add(&p, "hostUseCmd", {0x0B, 0x04, 0x32, 0xBF});
    Sep(&p);
    Bytes data = EncodeJbig(page.plane, stripeLines, 0, 0x08, 8);
    Add(&p, "cmdRasterImage", RasterImageRecord(page.plane, page.plane.width, stripeLines, data.size()));
    Add(&p, "data", data);
    Add(&p, "UEL_CMD_C", Text(kUelC, 9));
    Sep(&p);
    unsigned sum = 0x9E;
    for (uint8_t b : data) sum += b;
    Add(&p, "cmdImageDataChecksum", Record(0x1A, {static_cast<uint8_t>(sum & 0xFF), 0}));
    Sep(&p);
    Add(&p, "cmdCoverage", Record(0x1E, {0xE8, 0x03}));
    Sep(&p);
    Add(&p, "formFeedCmd", {0x0B, 0x04, 0x18, 0xD9});
  }
  Sep(&p);
  Add(&p, "queryStatusCmd", {0x0B, 0x05, 0x31, 0x80, 0x3F});
  Sep(&p);
  Add(&p, "resetCmd", {0x0B, 0x04, 0x17, 0xDA});
  Add(&p, "endOfJobCmd", Text(kEndOfJob));
  return p;
}

Pieces StreamZ(const std::vector<PageSpec>& pages) {
  Pieces p;
  Add(&p, "PJLheader", Text("\x1b%-12345X@PJL\r\n"));
  Add(&p, "pjlSendTime", Text("@PJL JOBTIME=05:14:08:12:2026\r\n"));
  Add(&p, "pjlHostName", Text("@PJL JOBOWNER=testhost\r\n"));
  Add(&p, "pjlCmd", Text("@PJL ENTER LANGUAGE=PL\r\n"));
  Sep(&p);
  Add(&p, "cmdFineMode", Record(0x1F, {1}));
  Sep(&p);
  Add(&p, "cmdJobSpec", Record(0x11, {0x20, 0x39, 0x05, 0, 0}));
  Sep(&p);
  Add(&p, "cmdDensity", Record(0x15, {2}));
  Sep(&p);
  unsigned pageNum = 0;
  for (const PageSpec& page : pages) {
    Sep(&p);
    Add(&p, "cmdPageSpec", PageSpecRecord(page, ++pageNum, false));
    Sep(&p);
    Add(&p, "cmdCustomPaper", Record(0x13, Bytes(8, 0)));
    Sep(&p);
    unsigned q = static_cast<unsigned>(BlackDots(page.plane) / 1000);
    Add(&p, "cmdCoverage", Record(0x19, {static_cast<uint8_t>(q & 0x3F), static_cast<uint8_t>((q >> 6) & 0x3F),
                                         static_cast<uint8_t>((q >> 12) & 0x0F)}));
    Sep(&p);
    Add(&p, "cmdRasterImage", RasterImageRecord(page.plane, 0, 0, 0));
    for (unsigned first = 0, band = 0; first < page.plane.height; first += 256, ++band) {
      unsigned h = page.plane.height - first < 256 ? page.plane.height - first : 256;
      Bytes data = EncodeJbig(Rows(page.plane, first, h), h, 3, 0x58, 0);
      Bytes f = {0, 0, 1, 0};
      Le32(&f, page.plane.width);
      Le32(&f, h);
      Le32(&f, h);
      f.insert(f.end(), {0, 0, 3, 0x58});
      Le32(&f, data.size());
      Le32(&f, data.size());
      Le32(&f, 0);
      Le32(&f, band * 256);
      Le32(&f, 3);
      Le32(&f, 0);
      Add(&p, "bandRecord", Record(0x1A, f));
      Add(&p, "data", data);
    }
    Sep(&p);
    Add(&p, "formFeedCmd", {0x0B, 0x04, 0x18, 0xD9});
  }
  Add(&p, "resetCmd", {0x0B, 0x04, 0x17, 0xDA});
  Add(&p, "endOfJobCmd", Text(kEndOfJob));
  return p;
}

Pieces StreamM(const std::vector<PageSpec>& pages, size_t chunk) {
  Pieces p;
  Add(&p, "UEL_CMD", Text(kUel, 9));
  Add(&p, "JZJZ", Text("JZJZ"));
  Bytes toner = MHeader(88, 17, 0);
  for (unsigned v : {0, 81, 115, 110, 150, 122, 100, 150, 200, 100, 81}) Be16(&toner, v);
  for (int i = 0; i < 13; ++i) Be16(&toner, 100);
  for (unsigned v : {120, 135, 150, 180, 200, 120, 150, 190, 350, 400, 100, 100}) Be16(&toner, v);
  Add(&p, "TONER_PARAM", toner);
  Add(&p, "START_DOC_CMD", MHeader(52, 0, 3));
  Add(&p, "TOTAL_PAGE_PARAM", MParam(0, 0));
  Add(&p, "TOTAL_PAGE_PARAM", MParam(1, 0));
  Add(&p, "TOTAL_PAGE_PARAM", MParam(2, 1));
  for (const PageSpec& page : pages) {
    unsigned bpp = page.bitsPerPixel;
    unsigned pixels = page.plane.width / bpp;
    Add(&p, "START_PAGE_CMD", MHeader(184, 2, 14));
    const unsigned ids[] = {0x3, 0x4, 0x5, 0x6, 0x7, 0x8, 0x9, 0x16, 0xC, 0xD, 0x10, 0x11, 0x12, 0xFF00};
    const uint32_t values[] = {page.paper, page.copies, 1, 0, 1, 600, 600, 0, page.plane.width, page.plane.height,
                               bpp, pixels, page.plane.height, 3};
    for (int i = 0; i < 14; ++i) Add(&p, "param", MParam(ids[i], values[i]));
    Bytes data = EncodeJbig(page.plane, 256, 3, 0x5C, 0);
    Bytes param = MHeader(36, 4, 0);
    param.insert(param.end(), data.begin(), data.begin() + 20);
    Add(&p, "JBIG_PARAM_CMD", param);
    for (size_t at = 0; at < data.size(); at += chunk) {
      size_t n = data.size() - at < chunk ? data.size() - at : chunk;
      Add(&p, "JBIG_DATA_CMD", MHeader(static_cast<uint32_t>(16 + n), 5, 0));
      Add(&p, "data", Bytes(data.begin() + at, data.begin() + at + n));
    }
    Add(&p, "JBIG_END_CMD", MHeader(16, 6, 0));
    Add(&p, "END_PAGE_CMD", MHeader(16, 3, 0));
  }
  Add(&p, "END_DOC_CMD", MHeader(16, 1, 0));
  Add(&p, "UEL_CMD", Text(kUel, 9));
  return p;
}

Bytes Join(const Pieces& pieces) {
  Bytes out;
  for (const Piece& piece : pieces) out.insert(out.end(), piece.bytes.begin(), piece.bytes.end());
  return out;
}

int Find(const Pieces& pieces, const std::string& name, int n) {
  for (size_t i = 0; i < pieces.size(); ++i) {
    if (pieces[i].name == name && n-- == 0) return static_cast<int>(i);
  }
  return -1;
}

size_t OffsetOf(const Pieces& pieces, int index) {
  size_t offset = 0;
  for (int i = 0; i < index; ++i) offset += pieces[i].bytes.size();
  return offset;
}

}  // namespace stream_test

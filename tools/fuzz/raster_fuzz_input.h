// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// The input of fuzz_raster_filter and the job it stands for. The fuzzer does not write the raster
// file byte for byte: a few bytes pick the printer, the job options and the form of the stream,
// and each page is a short record of the page header fields the filter reads, followed by the
// page's raster data as it stands in the file. The harness writes the CUPS raster file from that
// (sync word, full page headers, the data unchanged) and hands it to the filter.
//
// A page's data is as long as libcups reads for the page (PageDataLength): the next record
// follows it, and the input may end inside a page (the file then ends there). So every header
// the filter gets is one the harness wrote; libcups never reads one out of raster data.
//
// Most page records describe small pages that match no paper row, whose page buffers are sized by
// the page itself (a few kilobytes); the paper sizes of the tables and free header values stay
// reachable through rarer record kinds, which cost a full page buffer per page.
//
//   byte 0      printer: a PPD of kPrinters
//   byte 1      stream: bits 0-2 the sync word (kSyncs), bit 3 raster on standard input instead of
//               the file argument, bit 4 the print core on one thread (else with its workers)
//   bytes 2-4   job options (JobOptions)
//   then up to kMaxPages pages, each a record of kPageRecordBytes and its raster data:
//     0     kind: below kPaperKind a small page, below kFreeKind a paper size, else free values
//     1     resolution (kResolutions; free: 5 dpi steps, both directions)
//     2     bits 0-1 Duplex (0, 1, 1, 5), bits 2-3 Tumble (0, 1, 0, 2), bit 4 one byte more per
//           line than the width
//     3     NumCopies: 0 to 4, from 240 on 5 to 20 (each collated copy is a replay of the job)
//     4     cupsMediaType
//     5     bits 0-2 colour space (kColorSpaces), bits 3-5 bits per colour and pixel (kDepths)
//     6-7   cupsWidth, 8-9 cupsHeight (little endian; small and paper: 1 to 128, more than a
//           small page holds, free: as given)
//     10-11 page width, 12-13 page height: small: 20 to 35 points each (at most 11 points
//           within the fixtures' margins); paper: a row of PaperSizes() (and bit 0 of 12-13 turns
//           it); free: as given, at most the area of Legal unless one side is refused anyway
#pragma once

#include <cups/raster.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "page_params.h"
#include "paper_tables.h"

namespace raster_fuzz {

// The fixture PPDs of tests/fixtures/ppd: each platform, the multifunction paper table, platforms
// named by the PPD's PlatForm text, an unknown model, the device check by ShortNickName (listed
// and not listed) and a PPD without ModelName. The Z model with manual duplex is left out: a
// manual-duplex job ends with a ten-second pause for the turn-over message, and JobOptions never
// asks for manual duplex either.
constexpr const char* kPrinters[] = {
    "platform_c.ppd",         "platform_z.ppd",        "platform_m.ppd",         "platform_c_mfp.ppd",
    "unknown_platform_c.ppd", "unknown_platform_m.ppd", "nickname_rxt30441.ppd", "unknown.ppd",
    "nickname_unlisted.ppd",  "no_modelname.ppd",
};
constexpr size_t kPrinterCount = sizeof kPrinters / sizeof kPrinters[0];

constexpr size_t kJobBytes = 5;
constexpr size_t kPageRecordBytes = 14;
constexpr int kMaxPages = 8;
constexpr uint8_t kPaperKind = 248;
constexpr uint8_t kFreeKind = 252;

struct Sync {
  unsigned word;   // as the file holds it in this machine's byte order
  bool swapped;    // header words in the other byte order
  size_t headerBytes;
  bool compressed;
};
constexpr size_t kHeaderV1Bytes = 420;  // cups_page_header_t
constexpr Sync kSyncs[8] = {
    {CUPS_RASTER_SYNCv2, false, sizeof(cups_page_header2_t), true},
    {CUPS_RASTER_SYNCv2, false, sizeof(cups_page_header2_t), true},
    {CUPS_RASTER_SYNC, false, sizeof(cups_page_header2_t), false},  // v3
    {CUPS_RASTER_SYNCv1, false, kHeaderV1Bytes, false},
    {CUPS_RASTER_REVSYNCv2, true, sizeof(cups_page_header2_t), true},
    {CUPS_RASTER_REVSYNC, true, sizeof(cups_page_header2_t), false},
    {CUPS_RASTER_REVSYNCv1, true, kHeaderV1Bytes, false},
    {CUPS_RASTER_SYNCv2, false, sizeof(cups_page_header2_t), true},
};
constexpr uint8_t kStandardInputBit = 8;
constexpr uint8_t kOneThreadBit = 16;

constexpr unsigned kResolutions[8][2] = {{600, 600},  {600, 600},   {600, 600},  {1200, 1200},
                                         {300, 300},  {600, 1200},  {1200, 600}, {150, 150}};
constexpr unsigned kColorSpaces[8] = {CUPS_CSPACE_W,  CUPS_CSPACE_W,  CUPS_CSPACE_W, CUPS_CSPACE_W,
                                      CUPS_CSPACE_SW, CUPS_CSPACE_SW, CUPS_CSPACE_K, CUPS_CSPACE_RGB};
constexpr unsigned kDepths[8][2] = {{8, 8}, {8, 8}, {8, 8}, {8, 8}, {8, 8}, {1, 1}, {16, 16}, {8, 16}};

inline unsigned Le16(const uint8_t* p) { return p[0] | static_cast<unsigned>(p[1]) << 8; }
inline void PutLe16(uint8_t* p, unsigned v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

// The page sizes of the paper tables (points; every table lists the same sizes), then A5 fed long
// edge first (421 x 595) and A3, which is larger than Legal (the PageSize option then names the
// paper).
inline const std::vector<std::pair<unsigned, unsigned>>& PaperSizes() {
  static const std::vector<std::pair<unsigned, unsigned>> sizes = [] {
    std::vector<std::pair<unsigned, unsigned>> all;
    for (PAPER_SIZE_INFO* table : {gPaperSizeArray_QD3820, gPaperSizeArray_QD3820MFP, gPaperSizeArray_VK8244_VT9366,
                                   gPaperSizeArray_VK8388_VT8674})
      for (PAPER_SIZE_INFO* row = table; row->cupsPaperW != -1; ++row) {
        std::pair<unsigned, unsigned> size(static_cast<unsigned>(row->cupsPaperW), static_cast<unsigned>(row->cupsPaperH));
        if (std::find(all.begin(), all.end(), size) == all.end()) all.push_back(size);
      }
    all.emplace_back(421, 595);
    all.emplace_back(842, 1191);
    return all;
  }();
  return sizes;
}

// The options text (argv[5]) of three option bytes. Every value the filter reads is there, with
// a few it does not know; ManualDuplex never is.
inline std::string JobOptions(const uint8_t* o) {
  static const char* const duplex[8] = {"",
                                        "Duplex=None",
                                        "Duplex=DuplexNoTumble",
                                        "Duplex=DuplexTumble",
                                        "sides=two-sided-long-edge",
                                        "sides=two-sided-short-edge",
                                        "sides=one-sided",
                                        "Duplex=Sideways"};
  static const char* const toner[4] = {"", "TonerMode=True", "TonerMode=False", "noTonerMode"};
  static const char* const density[8] = {"", "Density=0", "Density=1", "Density=2",
                                         "Density=3", "Density=4", "Density=9", "Density=-3"};
  static const char* const slot[4] = {"", "InputSlot=Auto", "InputSlot=ManualFeed", "InputSlot=AutoFeed"};
  static const char* const pageSize[8] = {"",           "PageSize=A4",    "PageSize=Letter",
                                          "PageSize=Legal", "PageSize=Env10", "PageSize=184.86x260mm",
                                          "PageSize=FanFoldGermanLegal", "PageSize=Tabloid"};
  const bool bare = (o[2] & 0x10) != 0;  // booleans as the bare word, as CUPS also passes them
  std::string text;
  auto add = [&text](const char* option) {
    if (*option == '\0') return;
    if (!text.empty()) text += ' ';
    text += option;
  };
  auto flag = [&](bool on, const char* name) {
    if (on) add((std::string(name) + (bare ? "" : "=True")).c_str());
  };
  add(duplex[o[0] & 7]);
  flag(o[0] & 0x08, "Collate");
  flag(o[0] & 0x10, "ImageRotation");
  flag(o[0] & 0x20, "FeedLongEdge");
  flag(o[0] & 0x40, "DPI1200");
  flag(o[0] & 0x80, "NegativePrint");
  add(toner[o[1] & 3]);
  add(density[(o[1] >> 2) & 7]);
  add(slot[(o[1] >> 5) & 3]);
  flag(o[1] & 0x80, "FineMode");
  if (o[2] & 1) add("outputorder=true");
  add(pageSize[(o[2] >> 1) & 7]);
  return text;
}

// The page header of one record.
inline cups_page_header2_t PageHeader(const uint8_t* r) {
  cups_page_header2_t h;
  memset(&h, 0, sizeof h);
  const uint8_t kind = r[0];
  static const unsigned duplex[4] = {0, 1, 1, 5}, tumble[4] = {0, 1, 0, 2};
  h.Duplex = static_cast<cups_bool_t>(duplex[r[2] & 3]);
  h.Tumble = static_cast<cups_bool_t>(tumble[(r[2] >> 2) & 3]);
  h.NumCopies = r[3] < 240 ? r[3] % 5u : r[3] - 235u;
  h.cupsMediaType = r[4];
  h.cupsColorSpace = static_cast<cups_cspace_t>(kColorSpaces[r[5] & 7]);
  h.cupsBitsPerColor = kDepths[(r[5] >> 3) & 7][0];
  h.cupsBitsPerPixel = kDepths[(r[5] >> 3) & 7][1];
  h.cupsNumColors = 1;
  h.cupsColorOrder = CUPS_ORDER_CHUNKED;
  unsigned width = Le16(r + 6), height = Le16(r + 8), pageW = Le16(r + 10), pageH = Le16(r + 12);
  if (kind < kFreeKind) {
    h.HWResolution[0] = kResolutions[r[1] & 7][0];
    h.HWResolution[1] = kResolutions[r[1] & 7][1];
    width = 1 + width % 128;
    height = 1 + height % 128;
  } else {
    h.HWResolution[0] = h.HWResolution[1] = 5u * r[1];
  }
  if (kind < kPaperKind) {
    pageW = 20 + pageW % 16;
    pageH = 20 + pageH % 16;
  } else if (kind < kFreeKind) {
    const auto& sizes = PaperSizes();
    const auto& size = sizes[pageW % sizes.size()];
    pageW = size.first;
    pageH = size.second;
    if (Le16(r + 12) & 1) std::swap(pageW, pageH);
  } else {
    // Pages that the filter takes cost time in proportion to their area: larger ones than Legal
    // would only slow the search. A side that the filter refuses stays as it is.
    const unsigned long kLegalArea = 612ul * 1008;
    if (pageW <= kMaxPaperSidePoints && pageH <= kMaxPaperSidePoints && pageW > 0 &&
        static_cast<unsigned long>(pageW) * pageH > kLegalArea)
      pageH = static_cast<unsigned>(kLegalArea / pageW);
  }
  h.PageSize[0] = pageW;
  h.PageSize[1] = pageH;
  h.cupsWidth = width;
  h.cupsHeight = height;
  h.cupsBytesPerLine = (width * h.cupsBitsPerPixel + 7) / 8 + ((r[2] & 0x10) ? 1 : 0);
  return h;
}

// What the filter is run on.
struct Job {
  const char* printer = nullptr;  // a name of kPrinters
  std::string options;
  bool oneThread = false;  // VARNEL_THREADS=1
  bool standardInput = false;
  std::vector<uint8_t> raster;  // the CUPS raster file
};

inline void AppendHeader(std::vector<uint8_t>& out, cups_page_header2_t h, const Sync& sync) {
  if (sync.swapped) {
    // Every 32-bit field from AdvanceDistance on, as libcups swaps them.
    unsigned* word = &h.AdvanceDistance;
    for (int i = 0; i < 81; ++i) word[i] = __builtin_bswap32(word[i]);
  }
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&h);
  out.insert(out.end(), bytes, bytes + sync.headerBytes);
}

// Bytes of data that libcups reads for a page of header h from data[0, size): the lines, or for
// the compressed sync words their records (a repeat count, then runs of pixels: n + 1 times one
// pixel below 128, 257 - n pixels as they are above, the rest of the line white at 128). size
// when the page needs more than there is.
inline size_t PageDataLength(const cups_page_header2_t& h, bool compressed, const uint8_t* data, size_t size) {
  const unsigned long long lineBytes = h.cupsBytesPerLine;
  if (lineBytes == 0 || h.cupsHeight == 0) return 0;
  if (!compressed) return static_cast<size_t>(std::min<unsigned long long>(lineBytes * h.cupsHeight, size));
  const unsigned long long pixelBytes = std::max(1u, (h.cupsBitsPerPixel + 7) / 8);
  size_t at = 0;
  for (unsigned long long rows = 0; rows < h.cupsHeight;) {
    if (at >= size) return size;
    rows += data[at++] + 1ull;
    for (unsigned long long left = lineBytes; left > 0;) {
      if (at >= size) return size;
      const uint8_t code = data[at++];
      if (code == 128) break;
      if (code > 128) {
        const unsigned long long count = std::min((257ull - code) * pixelBytes, left);
        if (count > size - at) return size;
        at += static_cast<size_t>(count);
        left -= count;
      } else {
        const unsigned long long count = std::min((code + 1ull) * pixelBytes, left);
        if (count < pixelBytes) break;
        if (pixelBytes > size - at) return size;
        at += static_cast<size_t>(pixelBytes);
        left -= count;
      }
    }
  }
  return at;
}

// False when the input is too short to name a job.
inline bool DecodeJob(const uint8_t* data, size_t size, Job* job) {
  if (size < kJobBytes) return false;
  job->printer = kPrinters[data[0] % kPrinterCount];
  job->standardInput = (data[1] & kStandardInputBit) != 0;
  job->oneThread = (data[1] & kOneThreadBit) != 0;
  job->options = JobOptions(data + 2);
  const Sync& sync = kSyncs[data[1] & 7];
  job->raster.clear();
  job->raster.reserve(4 + size + kMaxPages * sizeof(cups_page_header2_t));
  const uint8_t* word = reinterpret_cast<const uint8_t*>(&sync.word);
  job->raster.insert(job->raster.end(), word, word + 4);
  size_t at = kJobBytes;
  for (int page = 0; page < kMaxPages && size - at >= kPageRecordBytes; ++page) {
    const cups_page_header2_t header = PageHeader(data + at);
    at += kPageRecordBytes;
    AppendHeader(job->raster, header, sync);
    const size_t length = PageDataLength(header, sync.compressed, data + at, size - at);
    job->raster.insert(job->raster.end(), data + at, data + at + length);
    at += length;
  }
  return true;
}

// Each page record of the input in turn: f(record) with a pointer to its kPageRecordBytes bytes.
template <typename F>
void ForEachPageRecord(uint8_t* data, size_t size, F f) {
  if (size < kJobBytes) return;
  const bool compressed = kSyncs[data[1] & 7].compressed;
  size_t at = kJobBytes;
  for (int page = 0; page < kMaxPages && size - at >= kPageRecordBytes; ++page) {
    const cups_page_header2_t header = PageHeader(data + at);  // before f changes the record
    f(data + at);
    at += kPageRecordBytes;
    at += PageDataLength(header, compressed, data + at, size - at);
  }
}

}  // namespace raster_fuzz

// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Independent reader of host-based printer streams (C, Z and M controller platforms): splits a
// stream into its items, checks checksums, lengths and the document/page order, and decodes the
// JBIG page images. Used by the varnel-inspect program and, in-process, by tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace varnel_inspect {

enum class Platform { Unknown = 0, C = 1, Z = 2, M = 3 };
const char* PlatformName(Platform platform);

struct Field {
  std::string name;
  long long value = 0;
};
using FieldList = std::vector<Field>;
// Value of the named field, or `fallback` when the list has none.
long long FieldValue(const FieldList& fields, const std::string& name, long long fallback = -1);
bool HasField(const FieldList& fields, const std::string& name);

enum class ItemKind { Text, ShortRecord, Filler, JbigData, MCommand, MParam, Unknown };
const char* ItemKindName(ItemKind kind);

struct Item {
  size_t offset = 0;
  size_t length = 0;
  ItemKind kind = ItemKind::Unknown;
  std::string name;  // record or command name, PJL line key, "filler", ...
  std::string text;  // printable text of a text item (without CR LF)
  FieldList fields;  // decoded fields in wire order
};

struct Defect {
  size_t offset = 0;
  std::string what;
};

// A decoded bi-level image: `width` bits per row, rows padded to whole bytes, 1 = black.
struct Bitmap {
  unsigned width = 0;
  unsigned height = 0;
  std::vector<uint8_t> rows;
  size_t Stride() const { return (width + 7) / 8; }
  bool Bit(unsigned x, unsigned y) const { return (rows[y * Stride() + x / 8] >> (7 - x % 8)) & 1; }
};

struct Page {
  int index = 0;            // 1-based position in the stream
  size_t offset = 0;        // offset of the page's first record
  FieldList fields;         // page-spec / START_PAGE_CMD fields, raster-image and coverage fields
  unsigned bitsPerPixel = 1;
  unsigned pixelWidth = 0;  // pixels per row (half the plane width for a 2-bit page)
  bool decoded = false;     // true when every JBIG image of the page decoded completely
  Bitmap plane;             // the JBIG bit plane, Z bands stacked
};

struct Document {
  FieldList fields;               // job specification, density, toner, date, ...
  std::vector<std::string> pjl;   // PJL lines of the job header
};

struct InspectResult {
  Platform platform = Platform::Unknown;
  size_t streamBytes = 0;
  std::vector<Item> items;
  std::vector<Defect> defects;
  Document document;
  std::vector<Page> pages;
  bool Clean() const { return defects.empty(); }
};

struct InspectLimits {
  // An image whose bitmap (rows padded to whole bytes) would take more is reported, not
  // decoded, and so is a Z page whose bands would stack to more; the page under assembly and
  // the band being decoded count together (a Z page is at most 28096 x 28088, 94 MiB, at
  // 600 dpi, and its bands take 0.9 MiB). The default admits the largest
  // page the filter makes: a 3370-point square at 1200 dpi on the C platform, 56192 x 56176
  // dots, 376 MiB. While an image is decoded, libjbig holds its bitmap and a layer of a quarter
  // of it and the inspector copies the bitmap out, so the peak is about 2.25 times this; images
  // are decoded one at a time. Decoding is linear in the pixels however few bytes announce them:
  // the largest takes seconds.
  unsigned long long maxImageBytes = 384ull << 20;
  // The item list: once it would take more than this (the list's capacity, the heap blocks of
  // the items' fields and strings), the stream is inspected up to there, with a defect saying
  // so. A filler pair of two bytes becomes an item of 112 bytes, an M parameter entry of 12
  // bytes one of about 300: 8 MB streams of them took 470 MB and 375 MB. A Z page (A4 at
  // 600 dpi) takes about 30 kB, a C page 3 kB, an M page 5 kB: this admits some 4000 Z pages.
  unsigned long long maxItemBytes = 128ull << 20;
  // A C or Z data block that fails to decode may hold a keep-alive pair written into it; each
  // try without one of its zero pairs decodes the whole image again. All tries of a stream
  // share this many pixels (about 15 A4 pages at 600 dpi, seconds of decoding); once they are
  // spent, a damaged block is reported as it decodes.
  unsigned long long maxRepairPixels = 512ull << 20;
  // Defects after this many are counted in one last defect instead of being listed.
  size_t maxDefects = 100000;
  // true: every decoded page keeps its plane in InspectResult::pages. false: a page's plane is
  // released once the page visitor has seen it (plane.width and plane.height stay, plane.rows
  // is emptied), so that the memory taken does not grow with the pages of the stream.
  bool keepPlanes = true;
};

// Called with each page once it is complete and checked, in stream order, before the next page
// is read: page.plane holds the page's image when page.decoded. The visitor may change or take
// the plane. The defects of the page are in the result that InspectStream returns.
using PageVisitor = std::function<void(Page& page)>;

InspectResult InspectStream(const uint8_t* data, size_t size, const InspectLimits& limits = InspectLimits());
InspectResult InspectStream(const std::vector<uint8_t>& data, const InspectLimits& limits = InspectLimits());
InspectResult InspectStream(const uint8_t* data, size_t size, const InspectLimits& limits, const PageVisitor& visitor);

// Text forms used by the program.
std::string FormatListing(const InspectResult& result);
std::string FormatSummary(const InspectResult& result);
std::string FormatDefects(const InspectResult& result);

// Page pictures: PBM (P4) is the bit plane as sent; PNG shows what is printed (a 2-bit page as
// four grey levels, 0 = white ... 3 = black). Return false with `error` set on failure.
bool WritePbm(const std::string& path, const Bitmap& plane, std::string* error);
bool WritePng(const std::string& path, const Page& page, std::string* error);
// Writes DIR/page-NNN.png and DIR/page-NNN.pbm for every decoded page whose plane was kept.
bool WritePagePictures(const std::string& folder, const InspectResult& result, std::string* error);

}  // namespace varnel_inspect

// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
#include "page_assembly.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "byte_order.h"

namespace varnel_inspect {

namespace {

constexpr unsigned kBandLines = 256;
constexpr size_t kMDataChunk = 65536;

bool IsDocumentRecord(const std::string& name) {
  return name == "cmdJobSpec" || name == "cmdTonerSave" || name == "cmdDensity" || name == "cmdSysTime" ||
         name == "cmdFineMode" || name == "cmdTonerParamK5916" || name == "cmdTonerParamT9366" ||
         name == "START_DOC_CMD" || name == "TONER_PARAM";
}

void Append(FieldList* to, const FieldList& from) { to->insert(to->end(), from.begin(), from.end()); }

void Set(FieldList* fields, const std::string& name, long long value) {
  for (Field& f : *fields) {
    if (f.name == name) {
      f.value = value;
      return;
    }
  }
  fields->push_back({name, value});
}

// The order of START_PAGE_CMD's entries; the custom-size ones only for paper 0.
std::vector<uint32_t> ExpectedStartPageIds(bool custom) {
  std::vector<uint32_t> ids = {0x0003};
  if (custom) ids.insert(ids.end(), {0x001A, 0x0018, 0x0019});
  ids.insert(ids.end(), {0x0004, 0x0005, 0x0006, 0x0007, 0x0008, 0x0009, 0x0016, 0x000C, 0x000D, 0x0010, 0x0011,
                         0x0012, 0xFF00});
  return ids;
}

// Same-named fields of the three platforms, so that summaries and tests read one set of names.
void AddMPageFields(const FieldList& params, FieldList* page) {
  const struct {
    const char* param;
    const char* field;
  } names[] = {{"PAPER_SIZE_PARAM", "paperSize"},   {"COPIES_PARAM", "copies"},
               {"INPUT_TRAY_PARAM", "tray"},        {"MEDIA_TYPE_PARAM", "mediaType"},
               {"H_RESOLUTION_PARAM", "resolutionX"}, {"V_RESOLUTION_PARAM", "resolutionY"},
               {"DENSITY_PARAM", "density"}};
  for (const auto& n : names) {
    if (HasField(params, n.param)) page->push_back({n.field, FieldValue(params, n.param)});
  }
}

unsigned long long BlackDots(const Bitmap& plane) {
  unsigned long long count = 0;
  size_t stride = plane.Stride();
  unsigned tail = plane.width % 8;
  uint8_t lastMask = tail ? static_cast<uint8_t>(0xFF << (8 - tail)) : 0xFF;
  for (unsigned y = 0; y < plane.height; ++y) {
    const uint8_t* row = plane.rows.data() + y * stride;
    for (size_t x = 0; x < stride; ++x) {
      uint8_t b = (x + 1 == stride) ? (row[x] & lastMask) : row[x];
      count += __builtin_popcount(b);
    }
  }
  return count;
}

}  // namespace

void PageAssembler::OnItem(size_t index) {
  const Item& item = r_.items[index];
  if (r_.pages.empty() && item.kind == ItemKind::Text && item.name.compare(0, 4, "@PJL") == 0) {
    r_.document.pjl.push_back(item.text);
    if (item.name == "@PJL LANGUAGEVERSION=1.0") Set(&r_.document.fields, "languageVersion", 1);
  }
  if (IsDocumentRecord(item.name)) {
    OnDocumentItem(item, index);
  } else if (item.name == "cmdPageSpec" || item.name == "START_PAGE_CMD") {
    StartPage(item, index);
  } else if (pageOpen_) {
    OnPageItem(item, index);
  }
}

void PageAssembler::OnDocumentItem(const Item& item, size_t index) {
  FieldList& doc = r_.document.fields;
  if (item.name == "START_DOC_CMD") {
    FieldList params;
    CollectMParams(index, &params);
    for (size_t i = 0; i < params.size(); ++i) Set(&doc, "startDocParam" + std::to_string(i), params[i].value);
  } else if (item.name == "TONER_PARAM") {
    Set(&doc, "tonerParamBytes", 88);
  } else if (item.name == "cmdTonerParamK5916" || item.name == "cmdTonerParamT9366") {
    Set(&doc, "tonerParamBytes", static_cast<long long>(item.length));
  } else {
    for (const Field& f : item.fields) Set(&doc, f.name, f.value);
  }
}

// The entries behind a START_DOC_CMD or START_PAGE_CMD (3, 14 or 17 of them), the first 64 of
// a command that announces more: each becomes a field of the document or the page.
void PageAssembler::CollectMParams(size_t index, FieldList* fields) {
  constexpr size_t kMaxEntries = 64;
  for (size_t i = index + 1;
       i < r_.items.size() && i - index <= kMaxEntries && r_.items[i].kind == ItemKind::MParam; ++i) {
    const Item& entry = r_.items[i];
    fields->push_back({entry.name, FieldValue(entry.fields, "value")});
    fields->push_back({"id:" + entry.name, FieldValue(entry.fields, "paramCmd")});
  }
}

void PageAssembler::StartPage(const Item& item, size_t index) {
  if (pageOpen_) FinishPage();
  Page page;
  page.index = static_cast<int>(r_.pages.size()) + 1;
  page.offset = item.offset;
  if (r_.platform == Platform::M) {
    FieldList params;
    CollectMParams(index, &params);
    CheckStartPageParams(item.offset, params);
    AddMPageFields(params, &page.fields);
    for (const Field& f : params) {
      if (f.name.compare(0, 3, "id:") != 0) page.fields.push_back(f);
    }
  } else {
    page.fields = item.fields;
  }
  r_.pages.push_back(page);
  pageOpen_ = true;
  rasterEnd_ = 0;
  imageBlock_ = -1;
  jbigParam_ = -1;
  bands_.clear();
  bandData_.clear();
  bandImages_.clear();
  zPlaneStarted_ = false;
  zStacking_ = false;
  dataChunks_.clear();
}

void PageAssembler::CheckStartPageParams(size_t offset, const FieldList& params) {
  std::vector<uint32_t> ids;
  for (const Field& f : params) {
    if (f.name.compare(0, 3, "id:") == 0) ids.push_back(static_cast<uint32_t>(f.value));
  }
  bool custom = FieldValue(params, "PAPER_SIZE_PARAM") == 0;
  std::vector<uint32_t> expected = ExpectedStartPageIds(custom);
  if (ids != expected) {
    c_.AddPageDefect(offset, "START_PAGE_CMD entries are not the " + std::to_string(expected.size()) +
                                 " page parameters in their order" + (custom ? " (custom size)" : ""));
  }
  long long depth = FieldValue(params, "VIDEO_DEPTH_PARAM");
  if (depth != 1 && depth != 2)
    c_.AddPageDefect(offset, "VIDEO_DEPTH_PARAM is " + std::to_string(depth) + ", not 1 or 2");
  if (FieldValue(params, "IMG_WIDTH_PARAM") != FieldValue(params, "VIDEO_WIDTH_PARAM") * depth)
    c_.AddPageDefect(offset, "IMG_WIDTH_PARAM is not VIDEO_WIDTH_PARAM x VIDEO_DEPTH_PARAM");
}

void PageAssembler::OnPageItem(const Item& item, size_t index) {
  Page& page = CurrentPage();
  if (item.name == "cmdCustomPaper" || item.name == "cmdCoverage" || item.name == "cmdImageDataChecksum") {
    Append(&page.fields, item.fields);
    if (item.name == "cmdImageDataChecksum") CheckImageChecksum(item);
  } else if (item.name == "cmdRasterImage") {
    Append(&page.fields, item.fields);
    rasterEnd_ = item.offset + item.length;
    summedTo_ = rasterEnd_;
    imageSum_ = 0;
    if (r_.platform == Platform::Z) StartZPlane();
  } else if (item.name == "bandRecord") {
    bands_.push_back(index);
    bandData_.push_back(-1);
    bandImages_.push_back(BandImage());
  } else if (item.name == "JBIG data" && r_.platform == Platform::C) {
    imageBlock_ = static_cast<long long>(index);
    ReleaseHeld();
    cImage_ = TakeDecode(index);
    c_.heldBitmapBytes = cImage_.image.rows.size();
  } else if (item.name == "JBIG data" && r_.platform == Platform::Z) {
    if (!bandData_.empty()) StackZBand(index);
  } else if (item.name == "JBIG_PARAM_CMD") {
    // One cut short by the end of the stream has no image header to compare.
    if (item.length >= 16 + kJbigHeaderBytes) jbigParam_ = static_cast<long long>(index);
  } else if (item.name == "JBIG_DATA_CMD") {
    if (index + 1 < r_.items.size() && r_.items[index + 1].kind == ItemKind::JbigData) dataChunks_.push_back(index + 1);
  } else if (item.name == "formFeedCmd" || item.name == "END_PAGE_CMD") {
    FinishPage();
  }
}

// The printer sums every byte between the raster-image record and the checksum record: the
// compressed image, the UEL and the filler pair behind it. The sum goes on from one checksum
// record to the next, so that a page of many of them is still summed in one pass.
void PageAssembler::CheckImageChecksum(const Item& checksum) {
  if (rasterEnd_ == 0 || checksum.offset < rasterEnd_) return;
  if (summedTo_ < rasterEnd_ || summedTo_ > checksum.offset) {
    summedTo_ = rasterEnd_;
    imageSum_ = 0;
  }
  for (; summedTo_ < checksum.offset; ++summedTo_) imageSum_ += c_.data[summedTo_];
  const unsigned sum = imageSum_;
  long long sent = FieldValue(checksum.fields, "imageChecksum");
  if (sent != (sum & 0xFF)) {
    c_.AddPageDefect(checksum.offset, "C image checksum is " + Hex(static_cast<unsigned long>(sent), 4) + ", the " +
                                          std::to_string(checksum.offset - rasterEnd_) +
                                          " bytes since the raster-image record sum to " + Hex(sum & 0xFF));
  }
}

JbigDecode PageAssembler::TakeDecode(size_t index) {
  auto found = c_.decodedBlocks.find(index);
  if (found == c_.decodedBlocks.end()) return JbigDecode();
  JbigDecode decode = std::move(found->second);
  c_.decodedBlocks.erase(found);
  return decode;
}

void PageAssembler::ReleaseHeld() {
  cImage_ = JbigDecode();
  zPlane_ = Bitmap();
  zStacking_ = false;
  c_.heldBitmapBytes = 0;
}

void PageAssembler::FinishPage() {
  if (!pageOpen_) return;
  pageOpen_ = false;
  if (r_.platform == Platform::C) FinishPageC();
  if (r_.platform == Platform::Z) FinishPageZ();
  if (r_.platform == Platform::M) FinishPageM();
  ReleaseHeld();
  DeliverPage();
}

void PageAssembler::DeliverPage() {
  Page& page = CurrentPage();
  if (c_.visitor != nullptr && *c_.visitor) (*c_.visitor)(page);
  if (!c_.limits.keepPlanes) std::vector<uint8_t>().swap(page.plane.rows);
}

void PageAssembler::CheckImageHeader(size_t offset, const uint8_t* data, size_t size, unsigned long width,
                                     unsigned long height, long long l0, const char* what) {
  JbigHeader h;
  if (!ParseJbigHeader(data, size, &h)) return;
  if (h.width != width || h.height != height || (l0 >= 0 && static_cast<long long>(h.l0) != l0)) {
    c_.AddPageDefect(offset, std::string("JBIG header ") + std::to_string(h.width) + " x " + std::to_string(h.height) +
                                 " L0 " + std::to_string(h.l0) + " differs from " + what + " (" +
                                 std::to_string(width) + " x " + std::to_string(height) +
                                 (l0 >= 0 ? " L0 " + std::to_string(l0) : "") + ")");
  }
}

void PageAssembler::FinishPageC() {
  Page& page = CurrentPage();
  if (imageBlock_ < 0) {
    c_.AddPageDefect(page.offset, "page " + std::to_string(page.index) + " has no image data");
    return;
  }
  const Item& block = r_.items[static_cast<size_t>(imageBlock_)];
  CheckImageHeader(block.offset, c_.data + block.offset, block.length,
                   static_cast<unsigned long>(FieldValue(page.fields, "wholeRasterImageW")),
                   static_cast<unsigned long>(FieldValue(page.fields, "wholeRasterImageH")),
                   FieldValue(page.fields, "rasterImageH"), "the raster-image record");
  page.pixelWidth = static_cast<unsigned>(FieldValue(page.fields, "wholeRasterImageW", 0));
  page.decoded = cImage_.complete;
  page.plane = std::move(cImage_.image);
}

bool PageAssembler::CheckBand(size_t n, size_t count, unsigned width, unsigned pageHeight) {
  const Item& band = r_.items[bands_[n]];
  const FieldList& f = band.fields;
  std::string at = "band " + std::to_string(n + 1) + " of page " + std::to_string(CurrentPage().index) + ": ";
  const unsigned long long first = static_cast<unsigned long long>(n) * kBandLines;
  unsigned expectedHeight = kBandLines;
  if (n + 1 == count) expectedHeight = first < pageHeight ? pageHeight - static_cast<unsigned>(first) : 0;
  auto expect = [&](const char* name, long long want) {
    if (FieldValue(f, name) != want)
      c_.AddPageDefect(band.offset, at + name + " is " + std::to_string(FieldValue(f, name)) + ", should be " +
                                        std::to_string(want));
  };
  expect("width", width);
  expect("height", expectedHeight);
  expect("L0", expectedHeight);
  expect("posVert", static_cast<long long>(n) * kBandLines);
  expect("posHorz", 0);
  expect("P", 1);
  expect("plane", 3);
  expect("compDataSizePadded", FieldValue(f, "compDataSize"));
  long long dataIndex = bandData_[n];
  if (dataIndex < 0) {
    c_.AddPageDefect(band.offset, at + "no data");
    return false;
  }
  const Item& data = r_.items[static_cast<size_t>(dataIndex)];
  CheckImageHeader(data.offset, c_.data + data.offset, data.length, static_cast<unsigned long>(FieldValue(f, "width")),
                   static_cast<unsigned long>(FieldValue(f, "height")), FieldValue(f, "L0"), "its band record");
  const BandImage& image = bandImages_[n];
  return image.complete && image.width == width && image.height == expectedHeight;
}

// The page's plane is set up at its raster-image record, which comes before the bands and gives
// the page size; a page larger than the bitmap limit is not stacked.
void PageAssembler::StartZPlane() {
  if (zPlaneStarted_) return;
  zPlaneStarted_ = true;
  Page& page = CurrentPage();
  const long long width = FieldValue(page.fields, "wholeRasterImageW", 0);
  const long long height = FieldValue(page.fields, "wholeRasterImageH", 0);
  if (!bands_.empty() || width <= 0 || height <= 0) return;
  const unsigned long long bytes =
      BitmapBytes(static_cast<unsigned long long>(width), static_cast<unsigned long long>(height));
  if (bytes > c_.DecodeBudget()) {
    c_.AddPageDefect(page.offset, "page " + std::to_string(page.index) + ": its " + std::to_string(width) + " x " +
                                      std::to_string(height) + " dots would take " + std::to_string(bytes) +
                                      " bytes of bitmap, more than the limit of " + std::to_string(c_.DecodeBudget()) +
                                      ": the bands are not stacked");
    return;
  }
  zPlane_.width = static_cast<unsigned>(width);
  zPlane_.height = static_cast<unsigned>(height);
  try {
    zPlane_.rows.reserve(static_cast<size_t>(bytes));
  } catch (const std::bad_alloc&) {
    c_.AddPageDefect(page.offset, "page " + std::to_string(page.index) + ": no memory for the " +
                                      std::to_string(bytes) + " bytes of its bitmap");
    zPlane_ = Bitmap();
    return;
  }
  c_.heldBitmapBytes = bytes;
  zStacking_ = true;
}

// Stacks the band's rows under those of the bands before it while every band so far has the
// page's width and the height its place on the page gives it. The last band's data replace
// any earlier data of that band.
void PageAssembler::StackZBand(size_t index) {
  const size_t n = bands_.size() - 1;
  bandData_[n] = static_cast<long long>(index);
  BandImage& image = bandImages_[n];
  const size_t stride = zPlane_.Stride();
  if (image.stacked && zStacking_) zPlane_.rows.resize(zPlane_.rows.size() - stride * image.height);
  JbigDecode decode = TakeDecode(index);
  image.complete = decode.complete;
  image.width = decode.image.width;
  image.height = decode.image.height;
  image.stacked = false;
  if (!zStacking_) return;
  const unsigned long long first = static_cast<unsigned long long>(n) * kBandLines;
  const unsigned long long height =
      first < zPlane_.height ? std::min<unsigned long long>(kBandLines, zPlane_.height - first) : 0;
  if (!decode.complete || decode.image.width != zPlane_.width || decode.image.height != height ||
      zPlane_.rows.size() != first * stride) {
    zStacking_ = false;
    zPlane_.rows = std::vector<uint8_t>();
    c_.heldBitmapBytes = 0;
    return;
  }
  zPlane_.rows.insert(zPlane_.rows.end(), decode.image.rows.begin(), decode.image.rows.end());
  image.stacked = true;
}

void PageAssembler::FinishPageZ() {
  Page& page = CurrentPage();
  // The Z raster-image record only gives the page size; the bands carry the rest.
  for (const char* name : {"rasterImageW", "rasterImageH", "compressedImageBytes"}) {
    if (FieldValue(page.fields, name, 0) != 0)
      c_.AddPageDefect(page.offset, "page " + std::to_string(page.index) + ": raster-image " + name + " is " +
                                        std::to_string(FieldValue(page.fields, name)) +
                                        ", should be 0 on this platform");
  }
  unsigned width = static_cast<unsigned>(FieldValue(page.fields, "wholeRasterImageW", 0));
  unsigned height = static_cast<unsigned>(FieldValue(page.fields, "wholeRasterImageH", 0));
  size_t expectedBands = (height + kBandLines - 1) / kBandLines;
  if (bands_.size() != expectedBands) {
    c_.AddPageDefect(page.offset, "page " + std::to_string(page.index) + " has " + std::to_string(bands_.size()) +
                                      " bands, its height " + std::to_string(height) + " needs " +
                                      std::to_string(expectedBands));
  }
  bool complete = !bands_.empty() && bands_.size() == expectedBands;
  for (size_t n = 0; n < bands_.size(); ++n) complete = CheckBand(n, bands_.size(), width, height) && complete;
  page.pixelWidth = width;
  // Bands that are all complete and fit the page were all stacked, unless the page is larger
  // than the bitmap limit (which has its own defect).
  if (!complete || !zStacking_ || zPlane_.width != width || zPlane_.height != height ||
      zPlane_.rows.size() != BitmapBytes(width, height))
    return;
  page.plane = std::move(zPlane_);
  page.decoded = true;
  CheckZCoverage();
}

// The coverage record counts the page's black dots in thousands (16 bits of them).
void PageAssembler::CheckZCoverage() {
  Page& page = CurrentPage();
  if (!HasField(page.fields, "coverageKilo")) return;
  unsigned long long dots = BlackDots(page.plane);
  long long expected = static_cast<long long>((dots / 1000) & 0xFFFF);
  if (FieldValue(page.fields, "coverageKilo") != expected) {
    c_.AddPageDefect(page.offset, "page " + std::to_string(page.index) + ": coverage record says " +
                                      std::to_string(FieldValue(page.fields, "coverageKilo")) +
                                      " thousand dots, the image has " + std::to_string(dots));
  }
}

void PageAssembler::FinishPageM() {
  Page& page = CurrentPage();
  long long depth = FieldValue(page.fields, "VIDEO_DEPTH_PARAM", 1);
  page.bitsPerPixel = depth == 2 ? 2 : 1;
  page.pixelWidth = static_cast<unsigned>(FieldValue(page.fields, "VIDEO_WIDTH_PARAM", 0));
  std::vector<uint8_t> data;
  for (size_t n = 0; n < dataChunks_.size(); ++n) {
    const Item& chunk = r_.items[dataChunks_[n]];
    if (n + 1 < dataChunks_.size() && chunk.length != kMDataChunk)
      c_.AddPageDefect(chunk.offset - 16, "JBIG_DATA_CMD with " + std::to_string(chunk.length) +
                                              " bytes before the last one of the page (all but the last carry 65536)");
    data.insert(data.end(), c_.data + chunk.offset, c_.data + chunk.offset + chunk.length);
  }
  if (jbigParam_ < 0 || data.empty()) {
    c_.AddPageDefect(page.offset, "page " + std::to_string(page.index) + " has no JBIG parameters or no image data");
    return;
  }
  // OnPageItem only takes a JBIG_PARAM_CMD that holds a whole image header.
  const Item& param = r_.items[static_cast<size_t>(jbigParam_)];
  if (data.size() >= kJbigHeaderBytes && memcmp(c_.data + param.offset + 16, data.data(), kJbigHeaderBytes) != 0)
    c_.AddPageDefect(param.offset, "JBIG_PARAM_CMD header differs from the header of the page's JBIG data");
  CheckImageHeader(param.offset, c_.data + param.offset + 16, param.length - 16,
                   static_cast<unsigned long>(FieldValue(page.fields, "IMG_WIDTH_PARAM")),
                   static_cast<unsigned long>(FieldValue(page.fields, "IMG_HEIGHT_PARAM")), -1, "START_PAGE_CMD");
  JbigDecode decode = DecodeJbig(data.data(), data.size(), c_.DecodeBudget());
  const size_t dataBytes = data.size();
  std::vector<uint8_t>().swap(data);
  size_t at = r_.items[dataChunks_[0]].offset;
  if (!decode.complete) {
    c_.AddPageDefect(at, "JBIG data of page " + std::to_string(page.index) + ": " + decode.error);
    return;
  }
  if (decode.consumed != dataBytes)
    c_.AddPageDefect(at, "JBIG data of page " + std::to_string(page.index) + ": the image ends after " +
                             std::to_string(decode.consumed) + " of " + std::to_string(dataBytes) + " bytes");
  page.decoded = true;
  page.plane = std::move(decode.image);
}

void PageAssembler::Finish() { FinishPage(); }

}  // namespace varnel_inspect

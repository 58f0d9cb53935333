// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Splits a C or Z platform stream into text lines, short records, filler pairs and JBIG data.
#include <algorithm>
#include <cstring>

#include "byte_order.h"
#include "inspect_internal.h"

namespace varnel_inspect {

namespace {

const char kUel[] = "\x1b%-12345X";
const char kUelC[] = "\x1b\xff-12345X";
constexpr size_t kUelBytes = 9;
constexpr size_t kMaxLineBytes = 512;

class CzTokenizer {
 public:
  explicit CzTokenizer(InspectContext* context)
      : c_(*context),
        data_(context->data),
        size_(context->size),
        platform_(context->result->platform),
        repairPixelsLeft_(context->limits.maxRepairPixels) {}

  void Run() {
    while (pos_ < size_ && !c_.stopped) {
      pos_ = Step(pos_);
      c_.AfterStep();
    }
  }

 private:
  size_t Step(size_t p) {
    uint8_t b = data_[p];
    if (b == 0x00) return Filler(p);
    if (b == 0x0B) return ShortRecord(p);
    if (b == 0x1B) return Uel(p);
    if (b == '@') return PjlLine(p);
    if (b == '\r' && p + 1 < size_ && data_[p + 1] == '\n') return Text(p, 2, "CRLF", "");
    if (b >= 'a' && b <= 'z') return PlainText(p);
    return UnknownRun(p, "bytes that start no known item");
  }

  bool Matches(size_t p, const char* text, size_t length) const {
    return p + length <= size_ && memcmp(data_ + p, text, length) == 0;
  }

  // A byte that can begin an item; used to judge where the stream resumes after a bad length.
  bool PlausibleStart(size_t p) const {
    if (p >= size_) return true;
    uint8_t b = data_[p];
    if (b == 0x00) return p + 1 < size_ && data_[p + 1] == 0x00;
    if (b == 0x1B || b == '@') return true;
    if (b != 0x0B || p + 1 >= size_) return false;
    size_t length = data_[p + 1];
    return length >= 4 && p + length <= size_ && RecordChecksum(data_ + p, length - 1) == data_[p + length - 1];
  }

  size_t Text(size_t p, size_t length, const std::string& name, const std::string& text) {
    Item item;
    item.offset = p;
    item.length = length;
    item.kind = ItemKind::Text;
    item.name = name;
    item.text = text;
    c_.AddItem(item);
    return p + length;
  }

  size_t Filler(size_t p) {
    if (p + 1 >= size_ || data_[p + 1] != 0x00) return UnknownRun(p, "a single zero byte, not a filler pair");
    Item item;
    item.offset = p;
    item.length = 2;
    item.kind = ItemKind::Filler;
    item.name = "filler";
    c_.AddItem(item);
    return p + 2;
  }

  size_t Uel(size_t p) {
    if (Matches(p, kUelC, kUelBytes)) return Text(p, kUelBytes, "UEL_CMD_C", "");
    if (Matches(p, kUel, kUelBytes)) return Text(p, kUelBytes, "UEL_CMD", "");
    return UnknownRun(p, "an escape byte that starts no UEL");
  }

  static std::string PjlKey(const std::string& line) {
    for (const char* prefix : {"@PJL JOBTIME=", "@PJL JOBOWNER="}) {
      if (line.compare(0, strlen(prefix), prefix) == 0) return prefix;
    }
    return line;
  }

  static bool IsJobTime(const std::string& value) {
    // minute:hour:day:month:year
    if (value.size() != 16) return false;
    for (size_t i = 0; i < value.size(); ++i) {
      bool colon = (i == 2 || i == 5 || i == 8 || i == 11);
      if (colon ? value[i] != ':' : (value[i] < '0' || value[i] > '9')) return false;
    }
    return true;
  }

  size_t PjlLine(size_t p) {
    size_t end = p;
    while (end + 1 < size_ && end - p < kMaxLineBytes && !(data_[end] == '\r' && data_[end + 1] == '\n')) ++end;
    if (end + 1 >= size_ || data_[end] != '\r' || data_[end + 1] != '\n') {
      c_.AddDefect(p, "PJL line without CR LF (stream truncated or line too long)");
      return Text(p, size_ - p < kMaxLineBytes ? size_ - p : kMaxLineBytes, "PJL", "");
    }
    std::string line(reinterpret_cast<const char*>(data_ + p), end - p);
    std::string key = PjlKey(line);
    if (key == "@PJL JOBTIME=" && !IsJobTime(line.substr(key.size())))
      c_.AddDefect(p, "job time \"" + line.substr(key.size()) + "\" is not mm:hh:dd:MM:yyyy");
    return Text(p, end + 2 - p, key, line);
  }

  size_t PlainText(size_t p) {
    size_t end = p;
    while (end < size_ && data_[end] >= 0x20 && data_[end] < 0x7F && end - p < kMaxLineBytes) ++end;
    std::string text(reinterpret_cast<const char*>(data_ + p), end - p);
    return Text(p, end - p, text.compare(0, 9, "versions=") == 0 ? "fwVer" : "text", text);
  }

  size_t UnknownRun(size_t p, const std::string& what) {
    size_t end = p + 1;
    while (end < size_ && !PlausibleStart(end)) ++end;
    c_.AddDefect(p, what + " (" + std::to_string(end - p) + " bytes skipped)");
    Item item;
    item.offset = p;
    item.length = end - p;
    item.kind = ItemKind::Unknown;
    item.name = "unknown";
    c_.AddItem(item);
    return end;
  }

  // A record whose checksum fails may have had a keep-alive pair written into it: then the
  // record without a zero pair, plus the two bytes behind it, is sound. The checksum cannot
  // tell which zero pair it was; a record that announces data is only accepted when that data
  // then holds an image of the announced length.
  bool FindFillerInside(size_t p, size_t length, std::vector<uint8_t>* repaired) {
    if (p + length + 2 > size_) return false;
    for (size_t q = p + 2; q + 1 < p + length; ++q) {
      if (data_[q] != 0 || data_[q + 1] != 0) continue;
      std::vector<uint8_t> bytes(data_ + p, data_ + q);
      bytes.insert(bytes.end(), data_ + q + 2, data_ + p + length + 2);
      if (RecordChecksum(bytes.data(), length - 1) != bytes[length - 1]) continue;
      if (!AnnouncedDataFits(bytes, p + length + 2)) continue;
      *repaired = bytes;
      return true;
    }
    return false;
  }

  long long AnnouncedData(const std::string& name, const FieldList& fields) const {
    if (name == "cmdRasterImage" && platform_ == Platform::C) return FieldValue(fields, "compressedImageBytes");
    if (name == "bandRecord") return FieldValue(fields, "compDataSize");
    return -1;
  }

  // Each try decodes the announced image, from the repair budget.
  bool AnnouncedDataFits(const std::vector<uint8_t>& record, size_t dataStart) {
    std::string name = ShortRecordName(platform_, record[2], record[1]);
    FieldList fields = DecodeShortRecord(name, platform_, record.data());
    long long declared = AnnouncedData(name, fields);
    if (declared <= 0) return true;
    if (dataStart > size_ || static_cast<unsigned long long>(declared) > size_ - dataStart) return false;
    JbigHeader header;
    if (!ParseJbigHeader(data_ + dataStart, size_ - dataStart, &header)) return false;
    const unsigned long long pixels = static_cast<unsigned long long>(header.width) * header.height + 1;
    if (pixels > repairPixelsLeft_) return false;
    repairPixelsLeft_ -= pixels;
    JbigDecode decode = DecodeJbig(data_ + dataStart, size_ - dataStart, c_.DecodeBudget());
    bool band = name == "bandRecord";
    return decode.complete && decode.consumed == static_cast<size_t>(declared) &&
           decode.image.width == FieldValue(fields, band ? "width" : "wholeRasterImageW") &&
           decode.image.height == FieldValue(fields, band ? "height" : "wholeRasterImageH");
  }

  size_t ShortRecord(size_t p) {
    if (p + 1 >= size_) {
      c_.AddDefect(p, "stream truncated inside a record: only its leading byte is present");
      return UnknownRun(p, "truncated record");
    }
    size_t length = data_[p + 1];
    if (length < 4) return UnknownRun(p, "record length " + std::to_string(length) + " is too small");
    if (p + length > size_) {
      c_.AddDefect(p, "stream truncated inside a record: length " + std::to_string(length) + ", only " +
                          std::to_string(size_ - p) + " bytes left");
      Item item;
      item.offset = p;
      item.length = size_ - p;
      item.kind = ItemKind::Unknown;
      item.name = "truncated record";
      c_.AddItem(item);
      return size_;
    }
    std::vector<uint8_t> bytes(data_ + p, data_ + p + length);
    size_t consumed = length;
    uint8_t expected = RecordChecksum(bytes.data(), length - 1);
    if (expected != bytes[length - 1]) {
      if (FindFillerInside(p, length, &bytes)) {
        c_.AddDefect(p, "filler pair 00 00 inside the record at " + OffsetText(p) + ": it is sound without a zero "
                        "pair and the 2 bytes behind its length");
        consumed = length + 2;
      } else {
        c_.AddDefect(p + length - 1, "record checksum " + Hex(bytes[length - 1]) + " of the record at " +
                                         OffsetText(p) + " should be " + Hex(expected));
      }
    }
    Item item;
    item.offset = p;
    item.length = consumed;
    item.kind = ItemKind::ShortRecord;
    item.name = ShortRecordName(platform_, bytes[2], static_cast<uint8_t>(length));
    if (item.name.empty()) {
      c_.AddDefect(p, "unknown record: command " + Hex(bytes[2]) + ", length " + std::to_string(length));
      item.name = "record " + Hex(bytes[2]);
    } else {
      item.fields = DecodeShortRecord(item.name, platform_, bytes.data());
      std::string difference = CheckConstantRecord(item.name, bytes.data());
      if (!difference.empty()) c_.AddDefect(p, difference);
    }
    c_.AddItem(item);
    size_t next = p + consumed;
    long long declared = AnnouncedData(item.name, item.fields);
    if (declared > 0) next = JbigData(next, static_cast<size_t>(declared), p);
    return next;
  }

  // A keep-alive pair written into a data block shifts its last two bytes behind it: the block
  // without the pair then holds an image of exactly the announced length. The decoder only saw
  // the bytes up to where it stopped, so the pair lies before that point; the pairs nearest to it
  // are tried first. Each try decodes a whole image, so all tries of a stream share a budget of
  // decoded pixels: a stream of large damaged images full of zero pairs is still inspected in
  // seconds (once the budget is spent, a damaged block is reported as a decoder error).
  bool FindFillerInData(size_t p, size_t declared, size_t seen, JbigDecode* repaired, size_t* filler) {
    constexpr int kMaxTries = 64;
    constexpr size_t kReadAhead = 4;  // the decoder may have looked at a few bytes it did not count
    if (declared < 2 || p > size_ || declared > size_ - p || size_ - p - declared < 2) return false;
    JbigHeader header;
    if (!ParseJbigHeader(data_ + p, declared, &header)) return false;
    const unsigned long long pixelsPerTry = static_cast<unsigned long long>(header.width) * header.height + 1;
    // Pairs start at p ... p + declared - 2; the first one tried starts just before `end`.
    size_t end = p + std::min(seen + kReadAhead, declared - 1);
    int tries = 0;
    for (size_t q = end; q-- > p && tries < kMaxTries && pixelsPerTry <= repairPixelsLeft_;) {
      if (data_[q] != 0 || data_[q + 1] != 0) continue;
      ++tries;
      repairPixelsLeft_ -= pixelsPerTry;
      std::vector<uint8_t> bytes(data_ + p, data_ + q);
      bytes.insert(bytes.end(), data_ + q + 2, data_ + p + declared + 2);
      JbigDecode decode = DecodeJbig(bytes.data(), bytes.size(), c_.DecodeBudget());
      if (decode.complete && decode.consumed == declared && PlausibleStart(p + declared + 2)) {
        *repaired = std::move(decode);
        *filler = q;
        return true;
      }
    }
    return false;
  }

  // The data block that a raster-image or band record announces. The decoder tells where the
  // image really ends, which names a wrong length and shows where the stream goes on.
  size_t JbigData(size_t p, size_t declared, size_t record) {
    size_t available = size_ - p;
    JbigDecode decode = DecodeJbig(data_ + p, available, c_.DecodeBudget());
    size_t length = declared < available ? declared : available;
    std::string where = "JBIG data at " + OffsetText(p) + " of the record at " + OffsetText(record);
    if (declared > available) {
      c_.AddDefect(p, "stream truncated inside " + where + ": " + std::to_string(declared) +
                          " bytes announced, " + std::to_string(available) + " left");
    } else if (!(decode.complete && decode.consumed == declared)) {
      size_t filler = 0;
      JbigDecode repaired;
      // A pair inside the data makes the image run 2 bytes long, or breaks its decoding.
      bool fillerPossible = !decode.complete || decode.consumed == declared + 2;
      // The tries decode one image at a time: an image that is 2 bytes long is decoded again
      // when no pair explains it.
      bool decodeAgain = fillerPossible && decode.complete;
      if (decodeAgain) decode.image = Bitmap();
      if (fillerPossible && FindFillerInData(p, declared, decode.consumed, &repaired, &filler)) {
        c_.AddDefect(filler, "filler pair 00 00 inside the " + where);
        decode = std::move(repaired);
        length = declared + 2;
      } else if (decode.complete) {
        if (decodeAgain) decode = DecodeJbig(data_ + p, available, c_.DecodeBudget());
        c_.AddDefect(p, where + ": the record announces " + std::to_string(declared) + " bytes but the image takes " +
                            std::to_string(decode.consumed));
        if (PlausibleStart(p + decode.consumed)) length = decode.consumed;
      } else {
        c_.AddDefect(p, where + ": " + decode.error);
      }
    }
    Item item;
    item.offset = p;
    item.length = length;
    item.kind = ItemKind::JbigData;
    item.name = "JBIG data";
    item.fields.push_back({"announced", static_cast<long long>(declared)});
    if (decode.complete) {
      item.fields.push_back({"width", decode.image.width});
      item.fields.push_back({"height", decode.image.height});
    }
    size_t index = c_.AddItem(item);
    if (index != InspectContext::kNoItem) c_.decodedBlocks[index] = std::move(decode);
    return p + length;
  }

  InspectContext& c_;
  const uint8_t* data_;
  size_t size_;
  Platform platform_;
  size_t pos_ = 0;
  unsigned long long repairPixelsLeft_;  // InspectLimits::maxRepairPixels less the tries so far
};

}  // namespace

void TokenizeCZ(InspectContext* context) { CzTokenizer(context).Run(); }

}  // namespace varnel_inspect

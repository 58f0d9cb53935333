// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Splits an M platform stream into its UELs, "JZJZ", command headers, parameter entries and data.
#include <cstring>

#include "byte_order.h"
#include "inspect_internal.h"
#include "m_commands.h"

namespace varnel_inspect {

namespace {

const char kUel[] = "\x1b%-12345X";
constexpr size_t kUelBytes = 9;
constexpr size_t kHeaderBytes = 16;
constexpr size_t kParamBytes = 12;
constexpr size_t kMaxDataBytes = 65536;

// 36 big-endian values of TONER_PARAM.
const uint16_t kTonerParamM[36] = {0,   81,  115, 110, 150, 122, 100, 150, 200, 100, 81,  100,
                                   100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100,
                                   120, 135, 150, 180, 200, 120, 150, 190, 350, 400, 100, 100};

struct Header {
  uint32_t cmdLen, cmdType, paramNumber;
  uint32_t paramNumberLen, signature;
};

Header ReadHeader(const uint8_t* p) {
  return {Be32(p), Be32(p + 4), Be32(p + 8), Be16(p + 12), Be16(p + 14)};
}

class MTokenizer {
 public:
  explicit MTokenizer(InspectContext* context) : c_(*context), data_(context->data), size_(context->size) {}

  void Run() {
    while (pos_ < size_ && !c_.stopped) {
      pos_ = Step(pos_);
      c_.AfterStep();
    }
  }

 private:
  bool ValidHeaderAt(size_t p) const {
    if (p + kHeaderBytes > size_) return false;
    Header h = ReadHeader(data_ + p);
    return h.signature == 0x5A5A && MCommandName(h.cmdType) != nullptr;
  }

  bool IsUel(size_t p) const { return p + kUelBytes <= size_ && memcmp(data_ + p, kUel, kUelBytes) == 0; }

  size_t Step(size_t p) {
    if (IsUel(p)) return Add(p, kUelBytes, ItemKind::Text, "UEL_CMD", {});
    if (p + 4 <= size_ && memcmp(data_ + p, "JZJZ", 4) == 0) return Add(p, 4, ItemKind::Text, "JZJZ", {});
    if (ValidHeaderAt(p)) return Command(p);
    if (p + 1 < size_ && data_[p] == 0 && data_[p + 1] == 0 && (ValidHeaderAt(p + 2) || IsUel(p + 2))) {
      c_.AddDefect(p, "filler pair 00 00 in an M stream, which carries none");
      return Add(p, 2, ItemKind::Filler, "filler", {});
    }
    if (size_ - p < kHeaderBytes && data_[p] == 0) {
      c_.AddDefect(p, "stream truncated inside a command header: " + std::to_string(size_ - p) + " bytes left");
      return Add(p, size_ - p, ItemKind::Unknown, "truncated command", {});
    }
    size_t end = p + 1;
    while (end < size_ && !ValidHeaderAt(end) && !IsUel(end)) ++end;
    c_.AddDefect(p, "bytes that start no command (" + std::to_string(end - p) + " bytes skipped)");
    return Add(p, end - p, ItemKind::Unknown, "unknown", {});
  }

  size_t Add(size_t p, size_t length, ItemKind kind, const std::string& name, FieldList fields) {
    Item item;
    item.offset = p;
    item.length = length;
    item.kind = kind;
    item.name = name;
    item.fields = std::move(fields);
    c_.AddItem(item);
    return p + length;
  }

  // The length the command's content takes, judged by its type and entry count (up to 12 x
  // 2^32 + 16 bytes, more than a 32-bit size_t holds).
  static unsigned long long ContentLength(const Header& h) {
    switch (h.cmdType) {
      case kStartDocCmd:
      case kStartPageCmd: return kHeaderBytes + static_cast<unsigned long long>(kParamBytes) * h.paramNumber;
      case kJbigParamCmd: return 36;
      case kTonerParam: return 88;
      case kJbigDataCmd: return h.cmdLen;
      default: return kHeaderBytes;
    }
  }

  void CheckCounts(size_t p, const char* name, const Header& h) {
    bool hasEntries = h.cmdType == kStartDocCmd || h.cmdType == kStartPageCmd;
    if (hasEntries && h.paramNumberLen != kParamBytes * h.paramNumber)
      c_.AddDefect(p, std::string(name) + ": cmdParamNumberLen " + std::to_string(h.paramNumberLen) +
                          " for " + std::to_string(h.paramNumber) + " entries");
    if (!hasEntries && (h.paramNumber != 0 || h.paramNumberLen != 0))
      c_.AddDefect(p, std::string(name) + " carries entry counts " + std::to_string(h.paramNumber) + "/" +
                          std::to_string(h.paramNumberLen) + ", should be 0/0");
    if (h.cmdType == kStartDocCmd && h.paramNumber != 3)
      c_.AddDefect(p, "START_DOC_CMD has " + std::to_string(h.paramNumber) + " entries, not 3");
    if (h.cmdType == kStartPageCmd && h.paramNumber != 14 && h.paramNumber != 17)
      c_.AddDefect(p, "START_PAGE_CMD has " + std::to_string(h.paramNumber) + " entries, not 14 or 17");
    if (h.cmdType == kJbigDataCmd && (h.cmdLen <= kHeaderBytes || h.cmdLen > kHeaderBytes + kMaxDataBytes))
      c_.AddDefect(p, "JBIG_DATA_CMD cmdLen " + std::to_string(h.cmdLen) + " is outside 17..65552");
  }

  size_t Command(size_t p) {
    Header h = ReadHeader(data_ + p);
    const char* name = MCommandName(h.cmdType);
    unsigned long long content = ContentLength(h);
    if (h.cmdType == kJbigDataCmd && content < kHeaderBytes) content = kHeaderBytes;
    if (h.cmdLen != content)
      c_.AddDefect(p, std::string("M length mismatch: ") + name + " has cmdLen " + std::to_string(h.cmdLen) +
                          ", its content takes " + std::to_string(content));
    CheckCounts(p, name, h);
    FieldList fields = {{"cmdLen", h.cmdLen},
                        {"cmdType", h.cmdType},
                        {"cmdParamNumber", h.paramNumber},
                        {"cmdParamNumberLen", h.paramNumberLen}};
    if (content > size_ - p) {
      c_.AddDefect(p, std::string("stream truncated inside ") + name + ": " + std::to_string(content) +
                          " bytes, only " + std::to_string(size_ - p) + " left");
      Add(p, size_ - p, ItemKind::MCommand, name, fields);
      return size_;
    }
    const size_t length = static_cast<size_t>(content);
    if (h.cmdType == kJbigParamCmd) AddJbigParamFields(p, &fields);
    if (h.cmdType == kTonerParam) CheckTonerParam(p);
    size_t headerLength = (h.cmdType == kJbigParamCmd || h.cmdType == kTonerParam) ? length : kHeaderBytes;
    size_t next = Add(p, headerLength, ItemKind::MCommand, name, fields);
    if (h.cmdType == kStartDocCmd || h.cmdType == kStartPageCmd) {
      for (uint32_t i = 0; i < h.paramNumber && !c_.stopped; ++i) next = Param(next);
    }
    if (h.cmdType == kJbigDataCmd && length > kHeaderBytes) {
      next = Add(next, length - kHeaderBytes, ItemKind::JbigData, "JBIG data",
                 {{"bytes", static_cast<long long>(length - kHeaderBytes)}});
    }
    return next;
  }

  size_t Param(size_t p) {
    const uint8_t* e = data_ + p;
    uint32_t id = Be16(e + 4);
    const char* name = MParamName(id);
    if (Be32(e) != kParamBytes) c_.AddDefect(p, "parameter entry paramLen " + std::to_string(Be32(e)) + ", not 12");
    if (e[6] != 1) c_.AddDefect(p, "parameter entry paramType " + std::to_string(e[6]) + ", not 1");
    return Add(p, kParamBytes, ItemKind::MParam, name ? name : "param " + Hex(id, 4),
               {{"paramCmd", id}, {"paramType", e[6]}, {"value", Be32(e + 8)}});
  }

  void AddJbigParamFields(size_t p, FieldList* fields) {
    JbigHeader b;
    ParseJbigHeader(data_ + p + kHeaderBytes, kJbigHeaderBytes, &b);
    for (const Field& f : FieldList{{"DL", b.dl}, {"D", b.d}, {"P", b.planes}, {"XD", static_cast<long long>(b.width)},
                                    {"YD", static_cast<long long>(b.height)}, {"L0", static_cast<long long>(b.l0)},
                                    {"MX", b.mx}, {"MY", b.my}, {"order", b.order}, {"options", b.options}})
      fields->push_back(f);
  }

  void CheckTonerParam(size_t p) {
    for (size_t i = 0; i < 36; ++i) {
      uint32_t value = Be16(data_ + p + kHeaderBytes + 2 * i);
      if (value != kTonerParamM[i]) {
        c_.AddDefect(p, "TONER_PARAM value " + std::to_string(i) + " is " + std::to_string(value) + ", its table has " +
                            std::to_string(kTonerParamM[i]));
        return;
      }
    }
  }

  InspectContext& c_;
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

}  // namespace

void TokenizeM(InspectContext* context) { MTokenizer(context).Run(); }

}  // namespace varnel_inspect

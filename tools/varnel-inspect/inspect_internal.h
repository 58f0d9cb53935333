// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Pieces shared by the stages of the stream inspector (not part of its public interface).
#pragma once

#include <map>
#include <vector>
#include <string>

#include "stream_inspect.h"

namespace varnel_inspect {

// Result of running libjbig's decoder over the bytes at the start of a buffer.
struct JbigDecode {
  bool complete = false;  // a whole image was decoded
  size_t consumed = 0;    // bytes of the buffer that the image took
  std::string error;      // decoder or header error, empty when none
  Bitmap image;
};

// The 20-byte bi-level image header that starts every JBIG image.
struct JbigHeader {
  unsigned dl = 0, d = 0, planes = 0;
  unsigned long width = 0, height = 0, l0 = 0;
  unsigned mx = 0, my = 0, order = 0, options = 0;
};
constexpr size_t kJbigHeaderBytes = 20;
bool ParseJbigHeader(const uint8_t* data, size_t size, JbigHeader* header);
// Bytes of the bitmap of a width x height image, rows padded to whole bytes.
inline unsigned long long BitmapBytes(unsigned long long width, unsigned long long height) {
  return (width + 7) / 8 * height;
}
// Decodes the image at the start of the buffer unless its bitmap would take more than
// maxImageBytes.
JbigDecode DecodeJbig(const uint8_t* data, size_t size, unsigned long long maxImageBytes);

class SequenceCheck;

// Shared state of one inspection run. The tokenizer adds items; after each of its steps the
// sequence check takes the new ones, so that a page is assembled, handed to the visitor and
// released while the stream is still being split.
struct InspectContext {
  static constexpr size_t kNoItem = static_cast<size_t>(-1);

  const uint8_t* data = nullptr;
  size_t size = 0;
  InspectResult* result = nullptr;
  InspectLimits limits;
  const PageVisitor* visitor = nullptr;
  SequenceCheck* sequence = nullptr;
  // Images decoded while splitting the stream (C and Z data blocks), by item index, until the
  // sequence check has taken their item.
  std::map<size_t, JbigDecode> decodedBlocks;
  // Bitmap bytes that the page assembly holds for the open page; an image decoded meanwhile
  // gets only what is left of maxImageBytes.
  unsigned long long heldBitmapBytes = 0;
  // Set when the item list is full: the tokenizer stops.
  bool stopped = false;
  unsigned long long itemHeapBytes = 0;  // what the items' fields and strings take

  // Defects of the splitting, listed first, and of the sequence and page checks.
  void AddDefect(size_t offset, const std::string& what) { Record(&result->defects, offset, what); }
  void AddPageDefect(size_t offset, const std::string& what) { Record(&pageDefects_, offset, what); }
  // Index of the new item, or kNoItem once the list is full.
  size_t AddItem(Item item);
  unsigned long long DecodeBudget() const {
    return heldBitmapBytes < limits.maxImageBytes ? limits.maxImageBytes - heldBitmapBytes : 0;
  }
  // Lets the sequence check take the items added by a tokenizer step.
  void AfterStep();
  // Puts the defects together in their listed order.
  void FinishDefects();

 private:
  void Record(std::vector<Defect>* to, size_t offset, const std::string& what);
  std::vector<Defect> pageDefects_;
  size_t defectsNotListed_ = 0;
};

Platform DetectPlatform(const uint8_t* data, size_t size);

// Splitting the stream into items (with per-item checks).
void TokenizeCZ(InspectContext* context);
void TokenizeM(InspectContext* context);

// C and Z short records.
std::string ShortRecordName(Platform platform, uint8_t command, uint8_t length);
FieldList DecodeShortRecord(const std::string& name, Platform platform, const uint8_t* record);
// Compares a record with constant content (toner tables) against its table; empty when equal.
std::string CheckConstantRecord(const std::string& name, const uint8_t* record);
uint8_t RecordChecksum(const uint8_t* bytes, size_t count);


std::string Hex(unsigned long value, int digits = 2);
std::string OffsetText(size_t offset);

}  // namespace varnel_inspect

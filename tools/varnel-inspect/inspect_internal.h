// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Pieces shared by the stages of the stream inspector (not part of its public interface).
#pragma once

#include <map>
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
JbigDecode DecodeJbig(const uint8_t* data, size_t size, unsigned long long maxImageBytes);

// Shared state of one inspection run.
struct InspectContext {
  const uint8_t* data = nullptr;
  size_t size = 0;
  InspectResult* result = nullptr;
  unsigned long long maxImageBytes = 0;
  // Images decoded while splitting the stream (C and Z data blocks), by item index.
  std::map<size_t, JbigDecode> decodedBlocks;

  void AddDefect(size_t offset, const std::string& what) const {
    result->defects.push_back({offset, what});
  }
  size_t AddItem(Item item) const {
    result->items.push_back(std::move(item));
    return result->items.size() - 1;
  }
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

// Order of the document and page sequences, and the pages with their cross checks.
void CheckSequence(InspectContext* context);

std::string Hex(unsigned long value, int digits = 2);
std::string OffsetText(size_t offset);

}  // namespace varnel_inspect

// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
#include "stream_inspect.h"

#include <cstdio>

#include "inspect_internal.h"

namespace varnel_inspect {

const char* PlatformName(Platform platform) {
  switch (platform) {
    case Platform::C: return "C";
    case Platform::Z: return "Z";
    case Platform::M: return "M";
    default: return "unknown";
  }
}

const char* ItemKindName(ItemKind kind) {
  switch (kind) {
    case ItemKind::Text: return "text";
    case ItemKind::ShortRecord: return "record";
    case ItemKind::Filler: return "filler";
    case ItemKind::JbigData: return "jbig";
    case ItemKind::MCommand: return "command";
    case ItemKind::MParam: return "param";
    default: return "unknown";
  }
}

long long FieldValue(const FieldList& fields, const std::string& name, long long fallback) {
  for (const Field& f : fields) {
    if (f.name == name) return f.value;
  }
  return fallback;
}

bool HasField(const FieldList& fields, const std::string& name) {
  for (const Field& f : fields) {
    if (f.name == name) return true;
  }
  return false;
}

std::string Hex(unsigned long value, int digits) {
  char text[32];
  snprintf(text, sizeof text, "0x%0*lX", digits, value);
  return text;
}

std::string OffsetText(size_t offset) { return "offset " + std::to_string(offset); }

InspectResult InspectStream(const uint8_t* data, size_t size, const InspectLimits& limits) {
  InspectResult result;
  result.streamBytes = size;
  InspectContext context;
  context.data = data;
  context.size = size;
  context.result = &result;
  context.maxImageBytes = limits.maxImageBytes;
  result.platform = DetectPlatform(data, size);
  if (result.platform == Platform::Unknown) {
    context.AddDefect(0, size == 0 ? "empty stream"
                                   : "stream starts with neither the C UEL, nor the UEL with \"@PJL\" (Z) or "
                                     "\"JZJZ\" (M)");
    return result;
  }
  if (result.platform == Platform::M) {
    TokenizeM(&context);
  } else {
    TokenizeCZ(&context);
  }
  CheckSequence(&context);
  return result;
}

InspectResult InspectStream(const std::vector<uint8_t>& data, const InspectLimits& limits) {
  return InspectStream(data.data(), data.size(), limits);
}

}  // namespace varnel_inspect

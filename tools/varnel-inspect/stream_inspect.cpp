// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
#include "stream_inspect.h"

#include <algorithm>
#include <cstdio>

#include "inspect_internal.h"
#include "sequence_check.h"

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

namespace {

// A heap block as malloc hands it out: a header word, rounded up to 16 bytes, 32 at least.
size_t BlockBytes(size_t bytes) { return std::max<size_t>(32, (bytes + 8 + 15) & ~size_t{15}); }

size_t HeapBytes(const std::string& text) {
  return text.capacity() > std::string().capacity() ? BlockBytes(text.capacity() + 1) : 0;
}

// The memory an item takes besides its place in the list: its fields and its strings.
unsigned long long ItemHeapBytes(const Item& item) {
  unsigned long long bytes = HeapBytes(item.name) + HeapBytes(item.text);
  if (item.fields.capacity() > 0) bytes += BlockBytes(item.fields.capacity() * sizeof(Field));
  for (const Field& field : item.fields) bytes += HeapBytes(field.name);
  return bytes;
}

}  // namespace

size_t InspectContext::AddItem(Item item) {
  if (stopped) return kNoItem;
  std::vector<Item>& items = result->items;
  // The list grows by doubling, done here so that its whole capacity is counted.
  const size_t capacity = items.size() < items.capacity() ? items.capacity() : std::max<size_t>(64, 2 * items.size());
  const unsigned long long heap = ItemHeapBytes(item);
  const unsigned long long bytes = itemHeapBytes + heap + static_cast<unsigned long long>(capacity) * sizeof(Item);
  if (bytes > limits.maxItemBytes) {
    stopped = true;
    // Not counted against the defect limit: it says why the rest of the stream is not read.
    result->defects.push_back({item.offset, "the " + std::to_string(items.size()) + " items so far take " +
                                                std::to_string(itemHeapBytes + items.capacity() * sizeof(Item)) +
                                                " bytes, the limit is " + std::to_string(limits.maxItemBytes) +
                                                ": the stream is not inspected beyond " + OffsetText(item.offset)});
    return kNoItem;
  }
  if (capacity != items.capacity()) items.reserve(capacity);
  itemHeapBytes += heap;
  items.push_back(std::move(item));
  return items.size() - 1;
}

void InspectContext::Record(std::vector<Defect>* to, size_t offset, const std::string& what) {
  if (result->defects.size() + pageDefects_.size() >= limits.maxDefects) {
    ++defectsNotListed_;
    return;
  }
  to->push_back({offset, what});
}

void InspectContext::FinishDefects() {
  std::vector<Defect>& defects = result->defects;
  defects.insert(defects.end(), pageDefects_.begin(), pageDefects_.end());
  pageDefects_.clear();
  if (defectsNotListed_ > 0)
    defects.push_back({size, std::to_string(defectsNotListed_) + " more defects are not listed"});
  defectsNotListed_ = 0;
}

InspectResult InspectStream(const uint8_t* data, size_t size, const InspectLimits& limits,
                            const PageVisitor& visitor) {
  InspectResult result;
  result.streamBytes = size;
  InspectContext context;
  context.data = data;
  context.size = size;
  context.result = &result;
  context.limits = limits;
  context.visitor = &visitor;
  result.platform = DetectPlatform(data, size);
  if (result.platform == Platform::Unknown) {
    context.AddDefect(0, size == 0 ? "empty stream"
                                   : "stream starts with neither the C UEL, nor the UEL with \"@PJL\" (Z) or "
                                     "\"JZJZ\" (M)");
    context.FinishDefects();
    return result;
  }
  SequenceCheck sequence(&context);
  context.sequence = &sequence;
  if (result.platform == Platform::M) {
    TokenizeM(&context);
  } else {
    TokenizeCZ(&context);
  }
  sequence.Finish();
  context.sequence = nullptr;
  context.FinishDefects();
  return result;
}

InspectResult InspectStream(const uint8_t* data, size_t size, const InspectLimits& limits) {
  return InspectStream(data, size, limits, PageVisitor());
}

InspectResult InspectStream(const std::vector<uint8_t>& data, const InspectLimits& limits) {
  return InspectStream(data.data(), data.size(), limits, PageVisitor());
}

}  // namespace varnel_inspect

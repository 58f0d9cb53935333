// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// The stream inspector on any byte stream: it must report defects, never crash or hang. Images
// are capped at 16 MiB of bitmap (an A4 or Letter page at 600 dpi fits): a 20-byte header can
// announce a poster-sized page whose decoding takes many seconds, which is linear work, not a
// fault, and would only slow the search.
#include <cstdint>

#include "stream_inspect.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  varnel_inspect::InspectLimits limits;
  limits.maxImageBytes = 16ull << 20;
  varnel_inspect::InspectResult result = varnel_inspect::InspectStream(data, size, limits);
  varnel_inspect::FormatListing(result);
  varnel_inspect::FormatSummary(result);
  return 0;
}

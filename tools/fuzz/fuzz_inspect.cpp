// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// The stream inspector on any byte stream: it must report defects, never crash or hang. It runs
// as the program does, one page in memory at a time, and every page's plane is read through.
// Images are capped at 16 MiB of bitmap (an A4 or Letter page at 600 dpi fits), and the repair
// tries of damaged blocks (each decodes the whole image again) at 64 Mi pixels: a 20-byte
// header can announce a poster-sized page whose decoding takes many seconds, which is linear
// work, not a fault, and would only slow the search.
#include <cstdint>

#include "stream_inspect.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  varnel_inspect::InspectLimits limits;
  limits.maxImageBytes = 16ull << 20;
  limits.maxRepairPixels = 64ull << 20;
  limits.keepPlanes = false;
  unsigned black = 0;
  varnel_inspect::InspectResult result =
      varnel_inspect::InspectStream(data, size, limits, [&black](varnel_inspect::Page& page) {
        const varnel_inspect::Bitmap& plane = page.plane;
        if (!page.decoded) return;
        // The plane must be as large as its size says.
        if (plane.rows.size() != plane.Stride() * plane.height) __builtin_trap();
        if (plane.width > 0 && plane.height > 0) black += plane.Bit(plane.width - 1, plane.height - 1);
      });
  for (const varnel_inspect::Page& page : result.pages) {
    if (!page.plane.rows.empty()) __builtin_trap();  // released once the visitor had it
  }
  varnel_inspect::FormatListing(result);
  varnel_inspect::FormatSummary(result);
  varnel_inspect::FormatDefects(result);
  if (black > result.pages.size()) __builtin_trap();
  return 0;
}

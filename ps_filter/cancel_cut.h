// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Ending a cancelled PostScript job at a page boundary with a fixed, well-formed trailer.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

// The 69 bytes that close a job cut by a cancellation.
extern const char kCancelTrailer[];
constexpr size_t kCancelTrailerLength = 69;

// Where a cancelled job is cut in the first length bytes of buffer: the first page start
// ("%%Page:", any letter case) that does not directly follow "%%EndSetup\n", or npos. The page
// right after the document setup is printed, so a job cancelled during its first page still
// gives that page. before is what was written before the buffer: the copiers' buffers split the
// document anywhere, also inside the setup's end.
size_t PageCutOffset(const std::string& buffer, size_t length, const std::string& before);

// Looks at the first length bytes of buffer. 0 when they hold no page start where the job may
// be cut (see PageCutOffset). Otherwise 1; when canceled is set, also writes the bytes before
// the page start and the trailer to the printer, leaves the trailer in buffer and sets
// *found_length to 69 (else 0).
int find_pageend(std::string& buffer, size_t length, int* found_length, int canceled);

// Used by the copiers once job_canceled is set: previous is the buffer written before (its end
// tells whether the setup ended right before this buffer). True when the buffer was cut: the
// bytes before the cut went through write_before (the printer by default), the trailer followed,
// and the copier stops.
using CutPrefixWriter = std::function<void(const std::string&)>;
bool CutAtPageStart(std::string& buffer, const std::string& previous, const CutPrefixWriter& write_before = nullptr);

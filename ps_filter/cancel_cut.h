// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Ending a cancelled PostScript job at a page boundary with a fixed, well-formed trailer.
#pragma once

#include <cstddef>
#include <string>

// The 69 bytes that close a job cut by a cancellation.
extern const char kCancelTrailer[];
constexpr size_t kCancelTrailerLength = 69;

// Looks at the first length bytes of buffer. 0 when they hold no usable page start ("%%Page:"
// that does not directly follow "%%EndSetup"). Otherwise 1; when canceled is set, also writes
// the bytes before the page start and the trailer to standard output, leaves the trailer in
// buffer and sets *found_length to 69 (else 0).
int find_pageend(std::string& buffer, size_t length, int* found_length, int canceled);

// Used by the copiers once job_canceled is set: previous_tail is the end of the buffer written
// before, so a page start right after "%%EndSetup" is recognised across buffer borders. True
// when buffer was cut (and written with the trailer); the copier then stops.
bool CutAtPageStart(std::string& buffer, const std::string& previous_tail);

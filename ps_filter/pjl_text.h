// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Byte-string helpers shared by the copiers and the PJL producers: case-insensitive search that
// works on binary data, and the conversion of untrusted job values into safe PJL text.
#pragma once

#include <cstddef>
#include <string>

// QuotedPjlValue, shared with the raster filter.
#include "pjl_value.h"

// Offset of the first case-insensitive occurrence of needle in text at or after from, or npos.
size_t FindNoCase(const std::string& text, const std::string& needle, size_t from = 0);
bool ContainsNoCase(const std::string& text, const std::string& needle);
bool StartsWithNoCase(const std::string& text, const std::string& prefix);
bool EndsWithNoCase(const std::string& text, const std::string& suffix);
bool EqualsNoCase(const std::string& a, const std::string& b);

// The copy count of argv[4]: its leading decimal number; anything that is not a positive number
// counts as 1.
int ParseCopyCount(const char* text);
// The job id of argv[1] as the non-negative number it starts with (0 when it has none).
int ParseJobId(const char* text);

// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Untrusted text (job options, user and host names) as the value of a PJL line, for both filters.
#pragma once

#include <cstddef>
#include <string>

// True for a byte that may stand in a PJL value: no control character (CR and LF among them), no
// DEL and no double quote, so that the value can end neither its line nor its quotes.
bool IsPjlValueByte(unsigned char byte);

// A value to be written between double quotes in a PJL line: the bytes of value that may stand
// in it.
std::string QuotedPjlValue(const std::string& value);

// The same into a buffer of size bytes (size > 0): the first size - 1 bytes of text that may
// stand in a PJL value, NUL-terminated. Returns how many it copied. Allocates nothing.
size_t CopyPjlValue(const char* text, char* out, size_t size);

// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
#include "pjl_value.h"

bool IsPjlValueByte(unsigned char byte) { return byte >= 0x20 && byte != 0x7f && byte != '"'; }

std::string QuotedPjlValue(const std::string& value) {
  std::string safe;
  for (char c : value)
    if (IsPjlValueByte(static_cast<unsigned char>(c))) safe.push_back(c);
  return safe;
}

size_t CopyPjlValue(const char* text, char* out, size_t size) {
  size_t n = 0;
  for (; *text != '\0' && n + 1 < size; ++text)
    if (IsPjlValueByte(static_cast<unsigned char>(*text))) out[n++] = *text;
  out[n] = '\0';
  return n;
}

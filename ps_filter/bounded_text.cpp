// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
#include "bounded_text.h"

#include <cctype>
#include <cstring>

bool ContainsIgnoringCaseWithin(const char* text, size_t length, const char* needle) {
  if (text == nullptr || needle == nullptr) return false;
  size_t needle_length = strlen(needle);
  if (needle_length == 0 || needle_length > length) return false;
  for (size_t start = 0; start + needle_length <= length; ++start) {
    size_t i = 0;
    while (i < needle_length && tolower(static_cast<unsigned char>(text[start + i])) ==
                                    tolower(static_cast<unsigned char>(needle[i])))
      ++i;
    if (i == needle_length) return true;
  }
  return false;
}

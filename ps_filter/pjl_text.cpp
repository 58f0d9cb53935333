// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Byte-string helpers for PJL text.
#include "pjl_text.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>

namespace {

bool SameLetter(char a, char b) {
  return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
}

long LeadingNumber(const char* text) {
  if (text == nullptr) return 0;
  while (*text == ' ' || *text == '\t') ++text;
  if (!std::isdigit(static_cast<unsigned char>(*text))) return 0;
  errno = 0;
  long value = strtol(text, nullptr, 10);
  if (errno == ERANGE || value > INT_MAX) return 0;
  return value;
}

}  // namespace

size_t FindNoCase(const std::string& text, const std::string& needle, size_t from) {
  if (from > text.size()) return std::string::npos;
  auto found = std::search(text.begin() + static_cast<std::ptrdiff_t>(from), text.end(), needle.begin(),
                           needle.end(), SameLetter);
  if (found == text.end() && !needle.empty()) return std::string::npos;
  return static_cast<size_t>(found - text.begin());
}

bool ContainsNoCase(const std::string& text, const std::string& needle) {
  return FindNoCase(text, needle) != std::string::npos;
}

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
  return text.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), text.begin(), SameLetter);
}

bool EndsWithNoCase(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         std::equal(suffix.begin(), suffix.end(), text.end() - static_cast<std::ptrdiff_t>(suffix.size()),
                    SameLetter);
}

bool EqualsNoCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), SameLetter);
}

int ParseCopyCount(const char* text) {
  long value = LeadingNumber(text);
  return value > 0 ? static_cast<int>(value) : 1;
}

int ParseJobId(const char* text) { return static_cast<int>(LeadingNumber(text)); }

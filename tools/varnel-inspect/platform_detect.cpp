// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
#include <cstring>

#include "inspect_internal.h"

namespace varnel_inspect {

namespace {
const char kUel[] = "\x1b%-12345X";
const char kUelC[] = "\x1b\xff-12345X";
constexpr size_t kUelBytes = 9;

bool StartsWith(const uint8_t* data, size_t size, const char* text, size_t length) {
  return size >= length && memcmp(data, text, length) == 0;
}
}  // namespace

// The C platform opens with its own UEL variant, the M platform with "JZJZ" behind the UEL,
// the Z platform with the PJL header.
Platform DetectPlatform(const uint8_t* data, size_t size) {
  if (StartsWith(data, size, kUelC, kUelBytes)) return Platform::C;
  if (!StartsWith(data, size, kUel, kUelBytes)) return Platform::Unknown;
  if (StartsWith(data + kUelBytes, size - kUelBytes, "JZJZ", 4)) return Platform::M;
  if (StartsWith(data + kUelBytes, size - kUelBytes, "@PJL", 4)) return Platform::Z;
  return Platform::Unknown;
}

}  // namespace varnel_inspect

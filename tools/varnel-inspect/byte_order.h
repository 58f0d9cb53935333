// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Field readers: the C and Z records are little-endian, the M commands big-endian.
#pragma once

#include <cstdint>

namespace varnel_inspect {

inline uint32_t Le16(const uint8_t* p) { return p[0] | (p[1] << 8); }
inline uint32_t Le32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint32_t Be16(const uint8_t* p) { return (p[0] << 8) | p[1]; }
inline uint32_t Be32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}

}  // namespace varnel_inspect

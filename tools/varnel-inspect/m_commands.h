// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Command types and parameter ids of the M platform.
#pragma once

#include <cstdint>

namespace varnel_inspect {

enum MCommandType : uint32_t {
  kStartDocCmd = 0,
  kEndDocCmd = 1,
  kStartPageCmd = 2,
  kEndPageCmd = 3,
  kJbigParamCmd = 4,
  kJbigDataCmd = 5,
  kJbigEndCmd = 6,
  kManualDuplexCmd = 11,
  kTonerParam = 17,
};

// Name of a command type, or null for an unknown type.
const char* MCommandName(uint32_t type);
// Name of a START_PAGE_CMD / START_DOC_CMD parameter id, or null.
const char* MParamName(uint32_t id);

}  // namespace varnel_inspect

// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
#include "m_commands.h"

namespace varnel_inspect {

const char* MCommandName(uint32_t type) {
  switch (type) {
    case kStartDocCmd: return "START_DOC_CMD";
    case kEndDocCmd: return "END_DOC_CMD";
    case kStartPageCmd: return "START_PAGE_CMD";
    case kEndPageCmd: return "END_PAGE_CMD";
    case kJbigParamCmd: return "JBIG_PARAM_CMD";
    case kJbigDataCmd: return "JBIG_DATA_CMD";
    case kJbigEndCmd: return "JBIG_END_CMD";
    case kManualDuplexCmd: return "MANUAL_DUPLEX_CMD";
    case kTonerParam: return "TONER_PARAM";
    default: return nullptr;
  }
}

const char* MParamName(uint32_t id) {
  switch (id) {
    case 0x0000:
    case 0x0001:
    case 0x0002: return "TOTAL_PAGE_PARAM";
    case 0x0003: return "PAPER_SIZE_PARAM";
    case 0x001A: return "CUSTOM_PAPER_UNIT_PARAM";
    case 0x0018: return "CUSTOM_WIDTH_PARAM";
    case 0x0019: return "CUSTOM_HEIGHT_PARAM";
    case 0x0004: return "COPIES_PARAM";
    case 0x0005: return "INPUT_TRAY_PARAM";
    case 0x0006: return "MEDIA_TYPE_PARAM";
    case 0x0007: return "CHANNEL_NUM_PARAM";
    case 0x0008: return "H_RESOLUTION_PARAM";
    case 0x0009: return "V_RESOLUTION_PARAM";
    case 0x0016: return "RET_PARAM";
    case 0x000C: return "IMG_WIDTH_PARAM";
    case 0x000D: return "IMG_HEIGHT_PARAM";
    case 0x0010: return "VIDEO_DEPTH_PARAM";
    case 0x0011: return "VIDEO_WIDTH_PARAM";
    case 0x0012: return "VIDEO_HEIGHT_PARAM";
    case 0xFF00: return "DENSITY_PARAM";
    default: return nullptr;
  }
}

}  // namespace varnel_inspect

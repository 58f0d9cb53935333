// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Identification of the supported PostScript models, by IEEE 1284 device ID or PPD nickname.
#pragma once

#include <cstddef>

struct SupportDeviceIDRow {
  char manufacturer[64];
  char model[64];
  char device_class[64];
};

extern const char support_printerinfo[9][64];
extern const SupportDeviceIDRow SupportDeviceID[9];
extern const char qd3840_printerinfo[2][64];

// Asks the backend for the device ID over the side channel. len: capacity in, ID length out.
// 1 when an ID was obtained, else 0 with id_buf empty (also when the job is cancelled while the
// backend has not answered yet: the wait ends at once then).
int query1284info(char* id_buf, int* len);
// True for a supported printer; sets *is_qd3840_out (never clears it) for the QD3840 family.
bool isSupportPrinter(const char* id, int have_id, bool* is_qd3840_out);

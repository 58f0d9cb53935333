// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// What the printer's status replies mean for this job.
#pragma once

#include <cstddef>

// Length of the status record at the end of a network status reply.
constexpr int kStatusRecordLength = 60;
// Offset of the job owner's text inside the status record.
constexpr int kStatusOwnerOffset = 4;

// 0x06 says the current job was cancelled at the printer; the printer may set the high bit.
bool isCancelStatusCode(unsigned char code);
// A network reply of length bytes cancels this job when its last 60 bytes are a cancel record whose
// owner text names owner (case-insensitive). The owner text is only searched inside the record, up
// to its first NUL, so a record without one is never read past. An empty owner never matches.
bool isCancelReplyForOwner(const unsigned char* reply, int length, const char* owner);

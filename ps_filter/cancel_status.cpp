// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
#include "cancel_status.h"

#include <cstring>

#include "bounded_text.h"

bool isCancelStatusCode(unsigned char code) { return code == 0x06 || code == 0x86; }

bool isCancelReplyForOwner(const unsigned char* reply, int length, const char* owner) {
  if (reply == nullptr || owner == nullptr || owner[0] == '\0' || length < kStatusRecordLength) return false;
  const unsigned char* record = reply + (length - kStatusRecordLength);
  if (!isCancelStatusCode(record[0])) return false;
  const char* owner_text = reinterpret_cast<const char*>(record + kStatusOwnerOffset);
  size_t owner_text_length = strnlen(owner_text, kStatusRecordLength - kStatusOwnerOffset);
  return ContainsIgnoringCaseWithin(owner_text, owner_text_length, owner);
}

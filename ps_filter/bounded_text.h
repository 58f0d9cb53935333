// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Case-insensitive search inside a buffer that need not end with a NUL.
#pragma once

#include <cstddef>

// True when needle (a C string, non-empty) occurs in the first length bytes of text, ignoring
// ASCII case. Never reads text beyond length.
bool ContainsIgnoringCaseWithin(const char* text, size_t length, const char* needle);

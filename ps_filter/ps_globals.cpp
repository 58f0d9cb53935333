// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Definitions of the job-wide globals of pstoVarnel.
#include "common.h"

static_assert(std::atomic<int>::is_always_lock_free, "job_canceled must be safe in a signal handler");

std::atomic<int> job_canceled{0};
bool isqd3840 = false;
int width = 0;
int height = 0;
bool iscollate = false;
int copies = 0;
bool isA5Page = false;

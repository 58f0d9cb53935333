// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Job-wide state of pstoVarnel, shared by the copier, the page-size helpers and the status thread.
#pragma once

#include <atomic>

// 1 once the job is to be abandoned (SIGTERM or a cancel reported by the printer); never reset.
// Lock-free, so the signal handler, the status thread and the copier can all use it.
extern std::atomic<int> job_canceled;
extern bool isqd3840;   // the printer belongs to the QD3840 family
extern int width;       // page size in points, 0 when unknown
extern int height;
extern bool iscollate;  // collated copies requested (QD3840 road)
extern int copies;      // copy count when collating, else 0
extern bool isA5Page;   // A5 fed long edge first

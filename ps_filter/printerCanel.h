// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// The status thread: polls the printer over USB or SNMP and sets job_canceled when the printer
// reports that this host's job was cancelled at its panel.
#pragma once

#include <cstdint>

struct cancel_query_arg {
  char device_uri[512];  // the queue's device URI
  int32_t job_id;        // atoi(argv[1]); carried, not used by the thread
  char job_owner[512];   // this host's name, as the printer reports the job owner
};

// Thread body for pthread_create; arg points to a cancel_query_arg that outlives the thread.
void* Printer_cancle_query_tread(void* arg);

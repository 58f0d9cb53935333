// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Cancellation cut at a page boundary.
#include "cancel_cut.h"

#include <cstdio>

#include "common.h"
#include "pjl_text.h"

const char kCancelTrailer[] =
    "%%Trailer\nend\n%%Pages: 4\n%%BoundingBox: 0 0 595 842\n%%EOF\n"
    "\x04\x1b%-12345X\n";
static_assert(sizeof kCancelTrailer - 1 == kCancelTrailerLength, "the trailer is 69 bytes");

namespace {

const char kPageStart[] = "%%Page:";
const char kSetupEnd[] = "%%EndSetup\n";

void WriteOrLog(const char* data, size_t size) {
  if (size > 0 && fwrite(data, 1, size, stdout) != size) fputs("Write data error:", stderr);
  fflush(stdout);
}

}  // namespace

int find_pageend(std::string& buffer, size_t length, int* found_length, int canceled) {
  if (found_length != nullptr) *found_length = 0;
  std::string view = buffer.substr(0, length);
  if (ContainsNoCase(view, std::string(kSetupEnd) + kPageStart)) return 0;
  size_t page = FindNoCase(view, kPageStart);
  if (page == std::string::npos) return 0;
  fputs("find page end\n", stderr);
  if (canceled == 0) return 1;
  WriteOrLog(buffer.data(), page);
  buffer.assign(kCancelTrailer, kCancelTrailerLength);
  if (found_length != nullptr) *found_length = static_cast<int>(kCancelTrailerLength);
  WriteOrLog(buffer.data(), buffer.size());
  return 1;
}

bool CutAtPageStart(std::string& buffer, const std::string& previous_tail) {
  int canceled = job_canceled.load();
  if (canceled == 0) return false;
  if (EndsWithNoCase(previous_tail, kSetupEnd) && StartsWithNoCase(buffer, kPageStart)) return false;
  int found = 0;
  find_pageend(buffer, buffer.size(), &found, canceled);
  if (found == 0) return false;
  fprintf(stderr, "data_buf = %s, len = %d\n", buffer.c_str(), found);
  return true;
}

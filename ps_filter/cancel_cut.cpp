// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Cancellation cut at a page boundary.
#include "cancel_cut.h"

#include <algorithm>
#include <cstdio>

#include "common.h"
#include "pjl_text.h"
#include "printer_output.h"

const char kCancelTrailer[] =
    "%%Trailer\nend\n%%Pages: 4\n%%BoundingBox: 0 0 595 842\n%%EOF\n"
    "\x04\x1b%-12345X\n";
static_assert(sizeof kCancelTrailer - 1 == kCancelTrailerLength, "the trailer is 69 bytes");

namespace {

const std::string kPageStart = "%%Page:";
const std::string kSetupEnd = "%%EndSetup\n";

void WriteOrLog(const char* data, size_t size) {
  if (!WriteToPrinter(data, size)) fputs("Write data error:", stderr);
}

}  // namespace

size_t PageCutOffset(const std::string& buffer, size_t length, const std::string& before) {
  // The end of what came before counts too: the setup may end in the previous buffer.
  const size_t n = kSetupEnd.size();
  std::string view = (before.size() > n ? before.substr(before.size() - n) : before) + buffer.substr(0, length);
  const size_t carried = view.size() - std::min(length, buffer.size());
  for (size_t page = FindNoCase(view, kPageStart, carried); page != std::string::npos;
       page = FindNoCase(view, kPageStart, page + 1)) {
    bool after_setup = page >= n && EqualsNoCase(view.substr(page - n, n), kSetupEnd);
    if (!after_setup) return page - carried;
  }
  return std::string::npos;
}

int find_pageend(std::string& buffer, size_t length, int* found_length, int canceled) {
  if (found_length != nullptr) *found_length = 0;
  size_t page = PageCutOffset(buffer, length, "");
  if (page == std::string::npos) return 0;
  fputs("find page end\n", stderr);
  if (canceled == 0) return 1;
  WriteOrLog(buffer.data(), page);
  buffer.assign(kCancelTrailer, kCancelTrailerLength);
  if (found_length != nullptr) *found_length = static_cast<int>(kCancelTrailerLength);
  WriteOrLog(buffer.data(), buffer.size());
  return 1;
}

bool CutAtPageStart(std::string& buffer, const std::string& previous, const CutPrefixWriter& write_before) {
  if (job_canceled.load() == 0) return false;
  size_t page = PageCutOffset(buffer, buffer.size(), previous);
  if (page == std::string::npos) return false;
  fputs("find page end\n", stderr);
  if (write_before)
    write_before(buffer.substr(0, page));
  else
    WriteOrLog(buffer.data(), page);
  buffer.assign(kCancelTrailer, kCancelTrailerLength);
  WriteOrLog(buffer.data(), buffer.size());
  fprintf(stderr, "data_buf = %s, len = %d\n", buffer.c_str(), static_cast<int>(kCancelTrailerLength));
  return true;
}

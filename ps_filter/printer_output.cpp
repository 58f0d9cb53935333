// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Output to the printer and page accounting.
#include "printer_output.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

int g_output_error = 0;  // errno of the first failed write, 0 while all went well
int g_copies_per_page = 1;
int g_pages_sent = 0;

// Follows the bytes sent, line by line, to find the DSC comments at the start of lines.
struct PageCounter {
  static constexpr size_t kHeadLength = 16;  // enough for the longest comment looked for
  char head[kHeadLength];                    // the first bytes of the current line
  size_t head_size = 0;
  bool head_complete = false;
  int embedded_depth = 0;                    // documents embedded inside the job's own

  void LineHeadKnown() {
    auto starts = [this](const char* prefix) {
      size_t n = strlen(prefix);
      return head_size >= n && memcmp(head, prefix, n) == 0;
    };
    if (head_size < 7 || head[0] != '%' || head[1] != '%') return;
    if (starts("%%BeginDocument")) {
      ++embedded_depth;
    } else if (starts("%%EndDocument")) {
      if (embedded_depth > 0) --embedded_depth;
    } else if (starts("%%Page:") && embedded_depth == 0) {
      ++g_pages_sent;
      fprintf(stderr, "PAGE: %d %d\n", g_pages_sent, g_copies_per_page);
    }
  }

  void LineEnded() {
    if (!head_complete) LineHeadKnown();
    head_size = 0;
    head_complete = false;
  }

  void Feed(const char* data, size_t size) {
    const char* end = data + size;
    const char* next_cr = nullptr;  // the next carriage return found so far (end: none left)
    for (const char* p = data; p < end; ++p) {
      if (head_complete) {
        // Only the start of a line matters: skip to its end.
        if (next_cr == nullptr || next_cr < p) {
          next_cr = static_cast<const char*>(memchr(p, '\r', static_cast<size_t>(end - p)));
          if (next_cr == nullptr) next_cr = end;
        }
        const char* lf = static_cast<const char*>(memchr(p, '\n', static_cast<size_t>(end - p)));
        p = std::min(lf != nullptr ? lf : end, next_cr);
        if (p == end) break;
        LineEnded();
        continue;
      }
      if (*p == '\n' || *p == '\r') {
        LineEnded();
        continue;
      }
      head[head_size++] = *p;
      if (head_size == kHeadLength || head[0] != '%') {  // known, or no comment
        LineHeadKnown();
        head_complete = true;
      }
    }
  }
};

PageCounter g_page_counter;

bool WriteAll(const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = write(STDOUT_FILENO, data, size);
    if (n > 0) {
      data += n;
      size -= static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd out = {STDOUT_FILENO, POLLOUT, 0};
      poll(&out, 1, -1);
      continue;
    }
    g_output_error = n < 0 ? errno : EIO;
    return false;
  }
  return true;
}

}  // namespace

bool WriteToPrinter(const char* data, size_t size) {
  if (g_output_error != 0) return false;
  if (size == 0) return true;
  if (!WriteAll(data, size)) {
    fprintf(stderr, "DEBUG: writing %zu bytes to the printer failed: %s\n", size, strerror(g_output_error));
    return false;
  }
  g_page_counter.Feed(data, size);
  return true;
}

bool WriteToPrinter(const std::string& bytes) { return WriteToPrinter(bytes.data(), bytes.size()); }

bool PrinterOutputFailed() { return g_output_error != 0; }

int PrinterOutputError() { return g_output_error; }

void SetPrinterCopiesPerPage(int copies) { g_copies_per_page = copies > 0 ? copies : 1; }

int PagesSentToPrinter() { return g_pages_sent; }

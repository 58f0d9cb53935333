// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// The PostScript filter's handling of what a user sends: the job options text and the document.
// The document is copied the generic printers' way (also as a cancelled job, cut at a page
// start), corrected line by line for a page size, and read as a device ID and a status reply.
// The document file lives in memory (a memfd, opened by its /proc path) and libcups parses the
// PPD once (ppd_cache.cpp).
#include <fuzzer/FuzzedDataProvider.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "cancel_status.h"
#include "common.h"
#include "copier.h"
#include "line_reader.h"
#include "options.h"
#include "page_size.h"
#include "pin_print.h"
#include "pjl_text.h"
#include "printer_id.h"

namespace {

int g_documentFd = -1;
std::string g_document;  // its path

void ReadOptions(const std::string& text) {
  std::string value;
  ispinPrint(text.c_str(), value);
  isDelayPrint(text.c_str(), value);
  GetMinutes(text.c_str(), value);
  isDuplexPrint(text.c_str(), value);
  QuotedPjlValue(text);
  ParseCopyCount(text.c_str());
  ParseJobId(text.c_str());
  ParsedOptions parsed = {nullptr, 0};
  ParseOptionSetting(text.c_str(), &parsed);
  cupsFreeOptions(parsed.num_options, parsed.options);
}

void CorrectPageSizes(int width, int height) {
  LineReader reader(g_document.c_str());
  std::string line;
  unsigned char state = 0;
  while (reader.Next(line)) FixPrnPageSize(line, width, height, &state);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  int null = open("/dev/null", O_WRONLY);
  dup2(null, 1);  // the printer stream
  close(null);
  g_documentFd = memfd_create("fuzz-ps-document", 0);
  if (g_documentFd < 0) abort();
  g_document = "/proc/self/fd/" + std::to_string(g_documentFd);
  setenv("PPD", VARNEL_PS_PPD, 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const bool canceled = input.ConsumeBool();
  const int width = input.ConsumeIntegralInRange(0, 2000), height = input.ConsumeIntegralInRange(0, 2000);
  std::string options = input.ConsumeRandomLengthString(300);
  std::string copies = std::to_string(input.ConsumeIntegralInRange(0, 1000));
  std::string document = input.ConsumeRemainingBytesAsString();

  ReadOptions(options);
  if (pwrite(g_documentFd, document.data(), document.size(), 0) != static_cast<ssize_t>(document.size()) ||
      ftruncate(g_documentFd, static_cast<off_t>(document.size())) != 0)
    return 0;

  std::string arg0 = "pstoVarnel", job = "7", user = "fuzz", title = "fuzz";
  char* argv[] = {&arg0[0], &job[0], &user[0], &title[0], &copies[0], &options[0], &g_document[0], nullptr};
  job_canceled = canceled ? 1 : 0;
  CopyForGenericPrinter(argv, g_document.c_str());
  job_canceled = 0;
  CorrectPageSizes(width, height);

  bool qd3840 = false;
  isSupportPrinter(document.c_str(), document.empty() ? 0 : 1, &qd3840);
  isCancelReplyForOwner(reinterpret_cast<const unsigned char*>(document.data()), static_cast<int>(document.size()),
                        options.c_str());
  return 0;
}

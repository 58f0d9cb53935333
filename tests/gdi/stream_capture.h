// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// In-process capture of what the output sink writes to standard output, optionally failing every
// write from a chosen byte offset on (the file size limit makes write(2) fail there).
#pragma once

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "common.h"

namespace varnel_test {

inline std::vector<unsigned char> CaptureStdout(const std::function<void()>& body, long failFrom = -1) {
  fflush(stdout);
  char path[] = "/tmp/varnel_captureXXXXXX";
  int fd = mkstemp(path);
  int saved = dup(1);
  dup2(fd, 1);
  setvbuf(stdout, nullptr, _IONBF, 0);
  struct rlimit oldLimit;
  getrlimit(RLIMIT_FSIZE, &oldLimit);
  void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
  if (failFrom >= 0) {
    struct rlimit limit = oldLimit;
    limit.rlim_cur = static_cast<rlim_t>(failFrom);
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  body();
  fflush(stdout);
  setrlimit(RLIMIT_FSIZE, &oldLimit);
  signal(SIGXFSZ, oldHandler);
  clearerr(stdout);
  dup2(saved, 1);
  close(saved);
  std::vector<unsigned char> data;
  lseek(fd, 0, SEEK_SET);
  unsigned char buf[65536];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) data.insert(data.end(), buf, buf + n);
  close(fd);
  unlink(path);
  return data;
}

inline std::vector<unsigned char> Bytes(std::initializer_list<int> list) {
  std::vector<unsigned char> v;
  for (int b : list) v.push_back(static_cast<unsigned char>(b));
  return v;
}

inline std::vector<unsigned char> TextBytes(const std::string& s) { return {s.begin(), s.end()}; }

// Resets the sink to "standard output only", forgets earlier output failures and clears the chain.
inline void ResetSink() {
  ResetOutputFailures();
  gSendDataToDevice = 1;
  gCollateFile = gManualDuplexOddFile = gManualDuplexEvenFile = 0;
  g_page = 1;
  prntLastError[0] = '\0';
}

}  // namespace varnel_test

// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Redirects standard output or standard error of the test process into a file for the lifetime
// of the object, so that in-process calls of the filter's functions can be checked byte for byte.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "test_support.h"

namespace varnel_test {

class CapturedStream {
 public:
  // fd is 1 (stdout) or 2 (stderr).
  CapturedStream(int fd, const std::string& file) : fd_(fd), file_(file) {
    Flush();
    saved_ = dup(fd_);
    int target = open(file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(target, fd_);
    close(target);
  }
  ~CapturedStream() { Restore(); }
  CapturedStream(const CapturedStream&) = delete;
  CapturedStream& operator=(const CapturedStream&) = delete;

  // Puts the stream back and returns what was written to it.
  std::string Finish() {
    Restore();
    return ReadFile(file_);
  }

 private:
  void Flush() {
    fflush(fd_ == 1 ? stdout : stderr);
  }
  void Restore() {
    if (saved_ < 0) return;
    Flush();
    clearerr(fd_ == 1 ? stdout : stderr);
    dup2(saved_, fd_);
    close(saved_);
    saved_ = -1;
  }

  int fd_;
  std::string file_;
  int saved_ = -1;
};

}  // namespace varnel_test

// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Line reading of raw bytes.
#include "line_reader.h"

#include <cerrno>
#include <cstdlib>

LineReader::~LineReader() {
  free(buffer_);
  if (file_ != nullptr) fclose(file_);
}

bool LineReader::Next(std::string& line) {
  if (file_ == nullptr) return false;
  ssize_t length = getdelim(&buffer_, &capacity_, '\n', file_);
  if (length <= 0) {
    if (ferror(file_) != 0 && read_error_ == 0) read_error_ = errno != 0 ? errno : EIO;
    return false;
  }
  line.assign(buffer_, static_cast<size_t>(length));
  return true;
}

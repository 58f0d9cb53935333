// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Reads a file as lines of raw bytes (NUL bytes included, no length limit); the last line may
// lack its line feed.
#pragma once

#include <cstdio>
#include <string>

class LineReader {
 public:
  explicit LineReader(const char* path) : file_(path != nullptr ? fopen(path, "rb") : nullptr) {}
  explicit LineReader(FILE* adopted) : file_(adopted) {}
  ~LineReader();
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;
  bool IsOpen() const { return file_ != nullptr; }
  FILE* file() const { return file_; }
  // False at the end of the file (or when reading fails).
  bool Next(std::string& line);
  // The errno of a failed read, 0 when every read went well.
  int ReadError() const { return read_error_; }

 private:
  FILE* file_;
  char* buffer_ = nullptr;
  size_t capacity_ = 0;
  int read_error_ = 0;
};

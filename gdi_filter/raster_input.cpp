// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Reading the job's raster: a buffered input for libcups' raster reader.
#include "raster_input.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

int OpenRasterInput(RASTER_INPUT* input, int fd, size_t capacity) {
  struct stat file;
  if (fstat(fd, &file) == 0 && S_ISREG(file.st_mode) && static_cast<unsigned long long>(file.st_size) < capacity)
    capacity = std::max(static_cast<size_t>(file.st_size), std::min(capacity, kRasterInputMinimumBuffer));
  input->fd = fd;
  input->buffer.reset(new (std::nothrow) unsigned char[capacity]);
  input->capacity = input->buffer ? capacity : 0;
  input->start = input->end = 0;
  return input->buffer ? 1 : 0;
}

namespace {

// One read(2), resumed when a signal interrupts it (the keep-alive timer fires every 10 s).
ssize_t ReadOnce(int fd, unsigned char* data, size_t length) {
  for (;;) {
    ssize_t n = read(fd, data, length);
    if (n >= 0 || errno != EINTR) return n;
  }
}

}  // namespace

ssize_t ReadRasterInput(void* ctx, unsigned char* data, size_t length) {
  RASTER_INPUT* input = static_cast<RASTER_INPUT*>(ctx);
  if (length == 0) return 0;
  if (input->start == input->end) {
    // Large requests bypass the buffer; small ones refill it.
    if (length >= input->capacity) return ReadOnce(input->fd, data, length);
    ssize_t n = ReadOnce(input->fd, input->buffer.get(), input->capacity);
    if (n <= 0) return n;
    input->start = 0;
    input->end = static_cast<size_t>(n);
  }
  size_t count = std::min(length, input->end - input->start);
  memcpy(data, input->buffer.get() + input->start, count);
  input->start += count;
  return static_cast<ssize_t>(count);
}

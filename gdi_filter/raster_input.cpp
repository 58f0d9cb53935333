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

#include "cupsdll.h"

int OpenRasterInput(RASTER_INPUT* input, int fd, size_t capacity) {
  struct stat file;
  if (fstat(fd, &file) == 0 && S_ISREG(file.st_mode) && static_cast<unsigned long long>(file.st_size) < capacity)
    capacity = std::max(static_cast<size_t>(file.st_size), std::min(capacity, kRasterInputMinimumBuffer));
  input->fd = fd;
  input->buffer.reset(new (std::nothrow) unsigned char[capacity]);
  input->capacity = input->buffer ? capacity : 0;
  input->start = input->end = 0;
  input->delivered = 0;
  input->syncBytes = 0;
  return input->buffer ? 1 : 0;
}

namespace {

// One read(2), after waiting for data unless the job is cancelled (which ends the input), and
// resumed when a signal interrupts it (the keep-alive timer fires every 10 s).
ssize_t ReadOnce(int fd, unsigned char* data, size_t length) {
  for (;;) {
    if (WaitReadableUnlessCanceled(fd, -1) < 0) return 0;
    ssize_t n = read(fd, data, length);
    if (n >= 0 || errno != EINTR) return n;
  }
}

void Delivered(RASTER_INPUT* input, const unsigned char* data, ssize_t count) {
  if (count <= 0) return;
  size_t n = static_cast<size_t>(count);
  for (size_t i = 0; i < n && input->syncBytes < sizeof input->sync; ++i) input->sync[input->syncBytes++] = data[i];
  input->delivered += n;
}

}  // namespace

ssize_t ReadRasterInput(void* ctx, unsigned char* data, size_t length) {
  RASTER_INPUT* input = static_cast<RASTER_INPUT*>(ctx);
  if (length == 0) return 0;
  if (input->start == input->end) {
    // Large requests bypass the buffer; small ones refill it.
    if (length >= input->capacity) {
      ssize_t n = ReadOnce(input->fd, data, length);
      Delivered(input, data, n);
      return n;
    }
    ssize_t n = ReadOnce(input->fd, input->buffer.get(), input->capacity);
    if (n <= 0) return n;
    input->start = 0;
    input->end = static_cast<size_t>(n);
  }
  size_t count = std::min(length, input->end - input->start);
  memcpy(data, input->buffer.get() + input->start, count);
  input->start += count;
  Delivered(input, data, static_cast<ssize_t>(count));
  return static_cast<ssize_t>(count);
}

bool RasterInputIsUncompressed(const RASTER_INPUT* input) {
  if (input->syncBytes < sizeof input->sync) return false;
  static const char* const kUncompressed[] = {"RaSt", "tSaR", "RaS3", "3SaR"};
  for (const char* sync : kUncompressed) {
    if (memcmp(input->sync, sync, 4) == 0) return true;
  }
  return false;
}

// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Reading the job's raster: a buffered input for libcups' raster reader.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <memory>

// Input descriptor read in large blocks, so that a page costs a few system calls, not one per line.
// A read waits for data only until the job is cancelled: then the input ends.
typedef struct _RASTER_INPUT {
  int fd;
  std::unique_ptr<unsigned char[]> buffer;
  size_t capacity;
  size_t start;                  // first unread byte in buffer
  size_t end;                    // one past the last buffered byte
  unsigned long long delivered;  // bytes handed to the raster reader so far
  unsigned char sync[4];         // the stream's first four bytes, as far as they were read
  size_t syncBytes;
} RASTER_INPUT;

const size_t kRasterInputBufferSize = 1 << 20;
const size_t kRasterInputMinimumBuffer = 4096;

// The buffer holds up to capacity bytes; for a regular file no more than the file (but at least
// kRasterInputMinimumBuffer), so that a small job does not take a whole megabyte. 0 when the
// buffer cannot be allocated.
int OpenRasterInput(RASTER_INPUT* input, int fd, size_t capacity = kRasterInputBufferSize);
// cups_raster_iocb_t for cupsRasterOpenIO: ctx is a RASTER_INPUT.
ssize_t ReadRasterInput(void* ctx, unsigned char* data, size_t length);
// True when the stream is one whose pages are not compressed (raster versions 1 and 3): libcups
// then reads exactly what it returns, so the bytes delivered tell where the reader stands.
bool RasterInputIsUncompressed(const RASTER_INPUT* input);

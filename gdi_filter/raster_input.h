// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Reading the job's raster: a buffered input for libcups' raster reader, and the page buffers
// that live for the whole job.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <memory>

// Input descriptor read in large blocks, so that a page costs a few system calls, not one per line.
typedef struct _RASTER_INPUT {
  int fd;
  std::unique_ptr<unsigned char[]> buffer;
  size_t capacity;
  size_t start;  // first unread byte in buffer
  size_t end;    // one past the last buffered byte
} RASTER_INPUT;

const size_t kRasterInputBufferSize = 1 << 20;

// 0 when the buffer cannot be allocated.
int OpenRasterInput(RASTER_INPUT* input, int fd, size_t capacity = kRasterInputBufferSize);
// cups_raster_iocb_t for cupsRasterOpenIO: ctx is a RASTER_INPUT.
ssize_t ReadRasterInput(void* ctx, unsigned char* data, size_t length);

// Page memory comes from malloc-family calls (large buffers are aligned for huge pages).
struct PageMemoryFree {
  void operator()(unsigned char* p) const;
};
using PageMemory = std::unique_ptr<unsigned char[], PageMemoryFree>;

// The grey page, one raster line and the bitmap. Allocated on the first page and grown when a
// page needs more, so that a job touches fresh memory once instead of on every page.
typedef struct _PAGE_BUFFERS {
  PageMemory pGrayImgLineBuf;
  PageMemory pGrayImgBuf;
  PageMemory pMonoImgBuf;
  size_t lineCapacity = 0;
  size_t grayCapacity = 0;
  size_t monoCapacity = 0;
  size_t monoBytes = 0;  // bitmap size of the current page
} PAGE_BUFFERS;

// Makes the buffers large enough for a page of fwImgWPixel x fwImgHPixel and a raster line of
// bytesPerLine bytes and zeroes the bitmap. The grey page is left as it is: the raster reader
// writes every row of it. 0 when memory cannot be had (the buffers are then released).
int PreparePageBuffers(PAGE_BUFFERS* buffers, unsigned int bytesPerLine, unsigned int fwImgWPixel,
                       unsigned int fwImgHPixel, int b2Bit);
void ReleasePageBuffers(PAGE_BUFFERS* buffers);

// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// Reading the job's raster: a buffered input for libcups' raster reader, and the page buffers.
#include "raster_input.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdlib>
#include <new>

int OpenRasterInput(RASTER_INPUT* input, int fd, size_t capacity) {
  input->fd = fd;
  input->buffer.reset(new (std::nothrow) unsigned char[capacity]);
  input->capacity = input->buffer ? capacity : 0;
  input->start = input->end = 0;
  return input->buffer ? 1 : 0;
}

void PageMemoryFree::operator()(unsigned char* p) const { free(p); }

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

namespace {

// A page buffer touches every byte of fresh memory once per job; in 2 MiB pages that costs a few
// dozen page faults instead of thousands of 4 KiB ones. Where the kernel offers no huge pages the
// advice is ignored.
constexpr size_t kHugePage = size_t{2} << 20;

unsigned char* AllocatePageMemory(size_t bytes) {
  if (bytes < 2 * kHugePage) return static_cast<unsigned char*>(malloc(bytes));
  size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
  void* p = nullptr;
  if (posix_memalign(&p, kHugePage, rounded) != 0) return nullptr;
  madvise(p, rounded, MADV_HUGEPAGE);
  return static_cast<unsigned char*>(p);
}

bool Grow(PageMemory* buffer, size_t* capacity, size_t needed) {
  if (*buffer && *capacity >= needed) return true;
  buffer->reset();
  *capacity = 0;
  buffer->reset(AllocatePageMemory(needed));
  if (!*buffer) return false;
  *capacity = needed;
  return true;
}

}  // namespace

int PreparePageBuffers(PAGE_BUFFERS* b, unsigned int bytesPerLine, unsigned int fwImgWPixel,
                       unsigned int fwImgHPixel, int b2Bit) {
  size_t width = fwImgWPixel;
  size_t height = fwImgHPixel;
  size_t lineBytes = std::max<size_t>(bytesPerLine, width);
  size_t grayBytes = width * height;
  size_t bitsPerRow = b2Bit ? 2 * width : width;
  // Whole bytes per bitmap row, so that a row width that is no multiple of 8 still fits.
  b->monoBytes = (bitsPerRow + 7) / 8 * height;
  if (lineBytes == 0 || grayBytes == 0 || !Grow(&b->pGrayImgLineBuf, &b->lineCapacity, lineBytes) ||
      !Grow(&b->pGrayImgBuf, &b->grayCapacity, grayBytes) || !Grow(&b->pMonoImgBuf, &b->monoCapacity, b->monoBytes)) {
    ReleasePageBuffers(b);
    return 0;
  }
  memset(b->pMonoImgBuf.get(), 0, b->monoBytes);
  return 1;
}

void ReleasePageBuffers(PAGE_BUFFERS* b) {
  b->pGrayImgLineBuf.reset();
  b->pGrayImgBuf.reset();
  b->pMonoImgBuf.reset();
  b->lineCapacity = b->grayCapacity = b->monoCapacity = b->monoBytes = 0;
}

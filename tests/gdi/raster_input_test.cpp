// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "raster_input.h"
#include "test_support.h"

using namespace varnel_test;

namespace {

std::string Pattern(size_t size) {
  std::string data(size, '\0');
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>((i * 131 + i / 251) & 0xFF);
  return data;
}

// Everything the reader hands out, asked for in requests of `request` bytes, up to the end.
std::string ReadAll(RASTER_INPUT* input, size_t request) {
  std::string out;
  std::vector<unsigned char> chunk(request);
  for (;;) {
    ssize_t n = ReadRasterInput(input, chunk.data(), chunk.size());
    EXPECT_GE(n, 0);
    if (n <= 0) return out;
    EXPECT_LE(static_cast<size_t>(n), request);
    out.append(reinterpret_cast<const char*>(chunk.data()), static_cast<size_t>(n));
  }
}

// The buffer of a regular file is no larger than the file (a small job takes no megabyte), and
// every byte still comes out once, in order, whatever the requests: smaller than the buffer
// (served from it), as large (read straight), or larger.
TEST(RasterInput, RegularFileComesOutWhole) {
  TempDir dir;
  const std::string path = dir.File("job.ras");
  const size_t sizes[] = {0, 1, 1795, 4096, 4097, 70000, kRasterInputBufferSize + 12345};
  const size_t requests[] = {1, 7, 1796, 4096, 65536, kRasterInputBufferSize};
  for (size_t size : sizes) {
    const std::string data = Pattern(size);
    WriteFile(path, data);
    for (size_t request : requests) {
      int fd = open(path.c_str(), O_RDONLY);
      ASSERT_GE(fd, 0);
      RASTER_INPUT input;
      ASSERT_EQ(OpenRasterInput(&input, fd), 1);
      EXPECT_LE(input.capacity, std::max(size, kRasterInputMinimumBuffer)) << size;
      EXPECT_GE(input.capacity, std::min(size, kRasterInputBufferSize)) << size;
      EXPECT_TRUE(ReadAll(&input, request) == data) << "file of " << size << " bytes, requests of " << request;
      close(fd);
    }
  }
}

// A pipe has no size to go by: the whole buffer, and a pipe's short reads lose nothing.
TEST(RasterInput, PipeKeepsFullBuffer) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const std::string data = Pattern(50000);
  ASSERT_EQ(write(fds[1], data.data(), data.size()), static_cast<ssize_t>(data.size()));
  close(fds[1]);
  RASTER_INPUT input;
  ASSERT_EQ(OpenRasterInput(&input, fds[0]), 1);
  EXPECT_EQ(input.capacity, kRasterInputBufferSize);
  EXPECT_TRUE(ReadAll(&input, 1796) == data);
  close(fds[0]);
}

}  // namespace

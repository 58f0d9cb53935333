// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "common.h"
#include "cupsdll.h"
#include "test_support.h"

using namespace varnel_test;

namespace {

// Standard output goes to a file for the lifetime of the object.
class CapturedStdout {
 public:
  explicit CapturedStdout(const std::string& path) : path_(path) {
    fflush(stdout);
    saved_ = dup(STDOUT_FILENO);
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, STDOUT_FILENO);
    close(fd);
  }
  ~CapturedStdout() { Restore(); }
  std::string Take() {
    Restore();
    return ReadFile(path_);
  }

 private:
  void Restore() {
    if (saved_ < 0) return;
    fflush(stdout);
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
    saved_ = -1;
  }
  std::string path_;
  int saved_ = -1;
};

void StopTimer() {
  itimerval off{};
  setitimer(ITIMER_REAL, &off, nullptr);
  signal(SIGALRM, SIG_IGN);
}

TEST(KeepAlive, WritesTheFillerOnlyAtQuietPoints) {
  TempDir dir;
  CapturedStdout out(dir.File("out"));
  g_ismiddlepage = 1;
  SendDummyCommand();
  g_ismiddlepage = 0;
  SendDummyCommand();
  g_ismiddlepage = 1;
  EXPECT_EQ(out.Take(), std::string(2, '\0'));
}

// The timer fires every millisecond while the sink writes blocks and the loop lowers the flag
// between them: filler pairs appear, and never inside a block.
TEST(KeepAlive, FillerNeverFallsInsideASinkWrite) {
  TempDir dir;
  const int kBlocks = 2000;
  const size_t kBlockSize = 4096;
  std::vector<unsigned char> block(kBlockSize, 0xFF);
  int savedDevice = gSendDataToDevice;
  gSendDataToDevice = 1;
  std::string data;
  {
    CapturedStdout out(dir.File("out"));
    StartKeepAlive(1);
    for (int i = 0; i < kBlocks; ++i) {
      ASSERT_EQ(SendDataToFile(block.data(), static_cast<int>(block.size()), 0), 1);
      g_ismiddlepage = 0;
      usleep(20);
    }
    g_ismiddlepage = 1;
    StopTimer();
    data = out.Take();
  }
  gSendDataToDevice = savedDevice;

  size_t blockBytes = 0, fillerPairs = 0;
  for (size_t i = 0; i < data.size();) {
    size_t j = i;
    while (j < data.size() && data[j] == data[i]) ++j;
    size_t run = j - i;
    if (static_cast<unsigned char>(data[i]) == 0xFF) {
      ASSERT_EQ(run % kBlockSize, 0u) << "a block was split at offset " << i + (run / kBlockSize) * kBlockSize;
      blockBytes += run;
    } else {
      ASSERT_EQ(data[i], '\0') << "unexpected byte at " << i;
      ASSERT_EQ(run % 2, 0u) << "a lone filler byte at " << i;
      fillerPairs += run / 2;
    }
    i = j;
  }
  EXPECT_EQ(blockBytes, kBlocks * kBlockSize);
  EXPECT_GT(fillerPairs, 0u);
}

}  // namespace

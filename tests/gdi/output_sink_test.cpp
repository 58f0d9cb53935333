// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "common.h"
#include "test_support.h"

using namespace varnel_test;

namespace {

// Standard output and the three spool descriptors go to files of a scratch folder.
class Sink : public ::testing::Test {
 protected:
  void SetUp() override {
    fflush(stdout);
    savedStdout_ = dup(STDOUT_FILENO);
    int fd = open(dir_.File("stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, STDOUT_FILENO);
    close(fd);
    prntLastError[0] = '\0';
    gCacheSize.clear();
    for (const char* name : {"collate", "odd", "even"}) unlink(dir_.File(name).c_str());
  }
  void TearDown() override {
    RestoreStdout();
    for (int* fd : {&gCollateFile, &gManualDuplexOddFile, &gManualDuplexEvenFile}) {
      if (*fd != 0) close(*fd);
      *fd = 0;
    }
    gSendDataToDevice = 1;
    g_page = 0;
    prntLastError[0] = '\0';
    gCacheSize.clear();
  }
  int Open(const char* name) { return open(dir_.File(name).c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644); }
  void RestoreStdout() {
    if (savedStdout_ < 0) return;
    fflush(stdout);
    dup2(savedStdout_, STDOUT_FILENO);
    close(savedStdout_);
    savedStdout_ = -1;
  }
  std::string Content(const char* name) { return ReadFile(dir_.File(name)); }

  TempDir dir_;
  int savedStdout_ = -1;
};

struct RouteCase {
  const char* what;
  int device, collate, odd, even, page, cache;
  int result;
  bool toStdout, toCollate, toOdd, toEven;
};

TEST_F(Sink, Routing) {
  const RouteCase cases[] = {
      {"stdout only, cached", 1, 0, 0, 0, 1, 1, 1, true, false, false, false},
      {"stdout only, uncached", 1, 0, 0, 0, 1, 0, 1, true, false, false, false},
      {"nothing enabled", 0, 0, 0, 0, 1, 1, 0, false, false, false, false},
      {"collate only, uncached", 0, 1, 0, 0, 1, 0, 0, false, false, false, false},
      {"collate only, cached", 0, 1, 0, 0, 1, 1, 1, false, true, false, false},
      {"stdout and collate", 1, 1, 0, 0, 2, 1, 1, true, true, false, false},
      {"odd page with both duplex files", 1, 0, 1, 1, 3, 1, 1, true, false, true, false},
      {"even page with both duplex files", 0, 0, 1, 1, 4, 1, 1, false, false, false, true},
      {"uncached even page", 0, 0, 1, 1, 4, 0, 0, false, false, false, false},
  };
  for (const RouteCase& c : cases) {
    TearDown();
    SetUp();
    gSendDataToDevice = c.device;
    if (c.collate) gCollateFile = Open("collate");
    if (c.odd) gManualDuplexOddFile = Open("odd");
    if (c.even) gManualDuplexEvenFile = Open("even");
    g_page = c.page;
    char block[] = "RECORD";
    EXPECT_EQ(SendDataToFile(block, 6, c.cache), c.result) << c.what;
    EXPECT_EQ(g_ismiddlepage, 1);
    RestoreStdout();
    EXPECT_EQ(Content("stdout"), c.toStdout ? "RECORD" : "") << c.what;
    EXPECT_EQ(Content("collate"), c.toCollate ? "RECORD" : "") << c.what;
    EXPECT_EQ(Content("odd"), c.toOdd ? "RECORD" : "") << c.what;
    EXPECT_EQ(Content("even"), c.toEven ? "RECORD" : "") << c.what;
    if (c.toEven) {
      ASSERT_GE(gCacheSize.size(), 2u);
      EXPECT_EQ(gCacheSize[1], 6);  // page 4 is entry 1
    }
  }
}

TEST_F(Sink, ZeroBytesAndNullBlock) {
  char block[1] = {0};
  EXPECT_EQ(SendDataToFile(block, 0, 1), 0);
  strcpy(prntLastError, "older text\n");
  EXPECT_EQ(SendDataToFile(nullptr, 4, 1), 0);
  EXPECT_STREQ(prntLastError, "SendDataToFile() :: NULL == pData");
}

TEST_F(Sink, ChecksumAndSwaps) {
  unsigned char a[] = {0x0B, 0x04, 0x16};
  unsigned char b[] = {0x0B, 0x05, 0x31, 0x80};
  EXPECT_EQ(CalcChecksum(a, 3), 0xDB);
  EXPECT_EQ(CalcChecksum(b, 4), 0x3F);
  EXPECT_EQ(CalcChecksum(a, 0), 0);
  unsigned x = 1, y = 2;
  SwapUINT(&x, &y);
  EXPECT_EQ(x * 10 + y, 21u);
  unsigned short s = 3, t = 4;
  SwapUSHORT(&s, &t);
  EXPECT_EQ(s * 10 + t, 43);
}

TEST_F(Sink, ErrorChainKeepsNewestFirstAndIsCut) {
  gSendDataToDevice = 0;  // nothing accepts the filler
  EXPECT_EQ(Insert00(), 0);
  PrependLastError("Prnt_StartDoc() :: send cmdDensity Fail 0 ==  \n");
  EXPECT_STREQ(prntLastError,
               "Prnt_StartDoc() :: send cmdDensity Fail 0 ==  \nInsert00() :: Send 00 00 to file Fail0 ==  \n");

  std::string longMessage(1500, 'x');
  longMessage += "\n";
  PrependLastError(longMessage.c_str());
  EXPECT_EQ(strlen(prntLastError), sizeof prntLastError - 1);
  EXPECT_EQ(std::string(prntLastError), longMessage.substr(0, sizeof prntLastError - 1));

  SetLastError("main() :: Start page Fail ! \n");
  PrependLastError(std::string(1000, 'y').c_str());
  EXPECT_EQ(strlen(prntLastError), sizeof prntLastError - 1);
  EXPECT_EQ(std::string(prntLastError).substr(1000), std::string("main() :: Start page Fail ! \n").substr(0, 23));
}

}  // namespace

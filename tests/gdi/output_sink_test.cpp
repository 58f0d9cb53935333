// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

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

// A spool file whose write failed is broken: nothing more is written to it, and the blocks meant
// for it are dropped without failing the write, so the records for the printer go on whole.
TEST_F(Sink, BrokenSpoolFileDropsItsBlocksQuietly) {
  ResetOutputFailures();
  gSendDataToDevice = 0;
  g_page = 2;
  gManualDuplexEvenFile = open("/dev/null", O_RDONLY);  // every write fails with EBADF
  char block[] = "RECORD";
  EXPECT_EQ(SendDataToFile(block, 6, 1), 1);
  EXPECT_EQ(SpoolFileError(kSpoolEvenPages), EBADF);
  close(gManualDuplexEvenFile);
  gManualDuplexEvenFile = Open("even");
  EXPECT_EQ(SendDataToFile(block, 6, 1), 1);
  EXPECT_EQ(Content("even"), "") << "a broken spool file takes nothing more";
  gSendDataToDevice = 1;
  EXPECT_EQ(SendDataToFile(block, 6, 1), 1);
  RestoreStdout();
  EXPECT_EQ(Content("stdout"), "RECORD");
  // A spool file that could not be created drops its blocks the same way.
  ResetOutputFailures();
  close(gManualDuplexEvenFile);
  gManualDuplexEvenFile = 0;
  gSendDataToDevice = 0;
  MarkSpoolFileBroken(kSpoolEvenPages, ENOENT);
  EXPECT_EQ(SendDataToFile(block, 6, 1), 1);
  EXPECT_EQ(SpoolFileError(kSpoolEvenPages), ENOENT);
  ResetOutputFailures();
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

namespace {

// A printer output that takes what a script says: per call either a byte count (at most what is
// offered) or -errno.
struct ScriptedOutput {
  std::vector<long> script;
  size_t calls = 0;
  std::string taken;
  int flushResult = 0;

  static ssize_t Write(void* context, const void* data, size_t count) {
    ScriptedOutput* self = static_cast<ScriptedOutput*>(context);
    long step = self->calls < self->script.size() ? self->script[self->calls] : static_cast<long>(count);
    ++self->calls;
    if (step < 0) {
      errno = static_cast<int>(-step);
      return -1;
    }
    size_t n = std::min(static_cast<size_t>(step), count);
    self->taken.append(static_cast<const char*>(data), n);
    return static_cast<ssize_t>(n);
  }
  static int Flush(void* context) {
    ScriptedOutput* self = static_cast<ScriptedOutput*>(context);
    if (self->flushResult != 0) errno = self->flushResult;
    return self->flushResult != 0 ? -1 : 0;
  }
};

class SinkFailure : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetOutputFailures();
    gSendDataToDevice = 1;
    g_page = 1;
    PRINTER_OUTPUT target = {ScriptedOutput::Write, ScriptedOutput::Flush, &output_};
    SetPrinterOutput(&target);
  }
  void TearDown() override {
    SetPrinterOutput(nullptr);
    ResetOutputFailures();
    g_ismiddlepage = 1;
  }
  int Send(const std::string& text) {
    std::string copy = text;
    return SendDataToFile(&copy[0], static_cast<int>(copy.size()), 1);
  }
  ScriptedOutput output_;
};

// Short writes are continued and interruptions tried again: the block arrives whole.
TEST_F(SinkFailure, ShortAndInterruptedWritesDeliverTheWholeBlock) {
  output_.script = {3, -EINTR, 0 + 2, -EAGAIN, 100};
  EXPECT_EQ(Send("0123456789"), 1);
  EXPECT_EQ(output_.taken, "0123456789");
  EXPECT_EQ(PrinterOutputFailed(), 0);
}

// The first final failure is remembered with its cause; from then on nothing more is offered to
// the output and every write and flush fails.
TEST_F(SinkFailure, FirstFinalFailureIsRememberedAndStopsOutput) {
  const struct {
    const char* what;
    std::vector<long> script;
    int error;
  } cases[] = {
      {"no space", {4, -ENOSPC}, ENOSPC},
      {"closed pipe", {-EPIPE}, EPIPE},
      {"I/O error after interruptions", {-EINTR, -EINTR, -EIO}, EIO},
      {"a write that takes nothing", {0}, EIO},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    output_ = ScriptedOutput();
    SetUp();
    output_.script = c.script;
    EXPECT_EQ(Send("0123456789"), 0);
    EXPECT_EQ(PrinterOutputFailed(), 1);
    EXPECT_EQ(PrinterOutputError(), c.error);
    const size_t callsAtFailure = output_.calls;
    EXPECT_EQ(Send("more"), 0);
    EXPECT_EQ(FlushPrinterOutput(), 0);
    g_ismiddlepage = 0;
    EXPECT_EQ(SendKeepAliveFiller(), 0);
    EXPECT_EQ(output_.calls, callsAtFailure) << "the failed output is not written again";
    // A later, different failure does not replace the first cause.
    EXPECT_EQ(PrinterOutputError(), c.error);
  }
}

// A full pipe is a passing failure, but not for ever: after a bounded number of tries the output
// counts as failed.
TEST_F(SinkFailure, FullPipeForEverFailsAfterBoundedTries) {
  output_.script.assign(2000, -EAGAIN);
  EXPECT_EQ(Send("x"), 0);
  EXPECT_EQ(PrinterOutputError(), EAGAIN);
  EXPECT_LT(output_.calls, 2000u);
}

TEST_F(SinkFailure, FailedFlushIsRemembered) {
  output_.flushResult = EIO;
  EXPECT_EQ(Send("abc"), 1);
  EXPECT_EQ(FlushPrinterOutput(), 0);
  EXPECT_EQ(PrinterOutputError(), EIO);
  EXPECT_EQ(Send("def"), 0);
}

// The filler goes out whole at a quiet point only.
TEST_F(SinkFailure, KeepAliveFillerOnlyAtQuietPoints) {
  g_ismiddlepage = 1;
  EXPECT_EQ(SendKeepAliveFiller(), 0);
  EXPECT_TRUE(output_.taken.empty());
  g_ismiddlepage = 0;
  output_.script = {1, 1};
  EXPECT_EQ(SendKeepAliveFiller(), 1);
  EXPECT_EQ(output_.taken, std::string(2, '\0'));
  // A full pipe skips the filler without failing the output.
  output_.script = {-EAGAIN};
  output_.calls = 0;
  EXPECT_EQ(SendKeepAliveFiller(), 0);
  EXPECT_EQ(PrinterOutputFailed(), 0);
}

}  // namespace

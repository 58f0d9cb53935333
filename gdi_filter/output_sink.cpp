// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// The output sink: every byte for the printer passes through SendDataToFile.
#include "common.h"

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>

namespace {

// Blocks the keep-alive timer signal for the lifetime of the guard, so that the filler bytes that
// the CUPS filter's SIGALRM handler writes to standard output never fall inside a block.
class KeepAliveBlock {
 public:
  KeepAliveBlock() {
    sigset_t alarm;
    sigemptyset(&alarm);
    sigaddset(&alarm, SIGALRM);
    sigprocmask(SIG_BLOCK, &alarm, &saved_);
  }
  ~KeepAliveBlock() { sigprocmask(SIG_SETMASK, &saved_, nullptr); }
  KeepAliveBlock(const KeepAliveBlock&) = delete;
  KeepAliveBlock& operator=(const KeepAliveBlock&) = delete;

 private:
  sigset_t saved_;
};

// The default printer output: standard output, which the CUPS filter shares with its keep-alive
// filler. Nothing is buffered, so it needs no flush.
ssize_t WriteStandardOutput(void*, const void* data, size_t count) {
  KeepAliveBlock block;
  return write(STDOUT_FILENO, data, count);
}

const PRINTER_OUTPUT kStandardOutput = {WriteStandardOutput, nullptr, nullptr};
PRINTER_OUTPUT gPrinterOutput = kStandardOutput;

// Hands the whole block to the printer output, again for what it did not take at once. false
// when the output fails (errno then says why).
bool WriteToPrinter(const unsigned char* data, size_t count) {
  size_t done = 0;
  while (done < count) {
    ssize_t n = gPrinterOutput.write(gPrinterOutput.context, data + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// write(2) until every byte is written or the descriptor fails; returns the bytes written.
long WriteAll(int fd, const unsigned char* data, size_t count) {
  size_t done = 0;
  while (done < count) {
    ssize_t n = write(fd, data + done, count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<long>(done);
}

void RecordEvenPageBytes(int count) {
  if (g_page < 2) return;  // no even page is current: nothing to describe
  size_t index = static_cast<size_t>(g_page / 2 - 1);
  if (gCacheSize.size() <= index) gCacheSize.resize(index + 1, 0);
  gCacheSize[index] += count;
}

}  // namespace

void SetPrinterOutput(const PRINTER_OUTPUT* output) {
  gPrinterOutput = output != nullptr ? *output : kStandardOutput;
}

int FlushPrinterOutput(void) {
  if (gPrinterOutput.flush == nullptr) return 1;
  return gPrinterOutput.flush(gPrinterOutput.context) == 0 ? 1 : 0;
}

int SendDataToFile(void* pData, int count, int bCache) {
  g_ismiddlepage = 1;

  if (pData == nullptr) {
    SetLastError("SendDataToFile() :: NULL == pData");
    return 0;
  }
  const unsigned char* data = static_cast<const unsigned char*>(pData);
  size_t size = count > 0 ? static_cast<size_t>(count) : 0;
  long result = 0;

  if (gSendDataToDevice == 1) {
    result = size > 0 && WriteToPrinter(data, size) ? 1 : 0;
  }
  if (gCollateFile != 0 && bCache == 1) {
    result = WriteAll(gCollateFile, data, size);
  }
  if (gManualDuplexOddFile != 0 && g_page % 2 == 1 && bCache == 1) {
    result = WriteAll(gManualDuplexOddFile, data, size);
  }
  if (gManualDuplexEvenFile != 0 && g_page % 2 == 0 && bCache == 1) {
    result = WriteAll(gManualDuplexEvenFile, data, size);
    RecordEvenPageBytes(count);
  }

  g_ismiddlepage = 1;
  return result != 0 ? 1 : 0;
}

int Insert00() {
  unsigned char filler[2] = {0x00, 0x00};
  if (SendDataToFile(filler, sizeof filler, 1)) return 1;
  PrependLastError("Insert00() :: Send 00 00 to file Fail0 ==  \n");
  return 0;
}

unsigned char CalcChecksum(unsigned char* pSrc, int len) {
  if (pSrc == nullptr || len <= 0) return 0;
  unsigned int sum = 0;
  for (int i = 0; i < len; ++i) sum += pSrc[i];
  return static_cast<unsigned char>(0x100 - (sum & 0xFF));
}

void SwapUINT(unsigned int* a, unsigned int* b) {
  unsigned int t = *a;
  *a = *b;
  *b = t;
}

void SwapUSHORT(unsigned short* a, unsigned short* b) {
  unsigned short t = *a;
  *a = *b;
  *b = t;
}

void PrependLastError(const char* message) {
  if (message == nullptr) return;
  std::string chain(message);
  chain += prntLastError;
  size_t keep = chain.size() < sizeof prntLastError - 1 ? chain.size() : sizeof prntLastError - 1;
  memcpy(prntLastError, chain.data(), keep);
  prntLastError[keep] = '\0';
}

void SetLastError(const char* message) {
  prntLastError[0] = '\0';
  PrependLastError(message);
}

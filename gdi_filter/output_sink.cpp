// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// The output sink: every byte for the printer passes through SendDataToFile.
#include "common.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>

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

// errno of the printer output's failure, 0 while it works. Also set from the keep-alive signal
// handler, hence lock-free.
std::atomic<int> gPrinterOutputError{0};
static_assert(std::atomic<int>::is_always_lock_free, "the failure memory must be safe in a signal handler");

// How often a passing failure (EINTR, EAGAIN) is tried again before the output counts as failed,
// and the pause before trying a full pipe again.
constexpr int kPassingFailureTries = 500;
constexpr long kFullPipePauseNs = 10 * 1000 * 1000;

bool IsPassingFailure(int error) { return error == EINTR || error == EAGAIN || error == EWOULDBLOCK; }

void RememberOutputFailure(int error) {
  int none = 0;
  gPrinterOutputError.compare_exchange_strong(none, error != 0 ? error : EIO);
}

// Hands the whole block to the printer output, again for what it did not take at once. false
// when the output has failed for good (now or before).
bool WriteToPrinter(const unsigned char* data, size_t count) {
  size_t done = 0;
  int passing = 0;
  while (done < count) {
    if (gPrinterOutputError.load() != 0) return false;
    ssize_t n = gPrinterOutput.write(gPrinterOutput.context, data + done, count - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      passing = 0;
      continue;
    }
    // A write that takes nothing makes no progress: it counts as an I/O error.
    int error = n < 0 ? errno : EIO;
    if (n < 0 && IsPassingFailure(error) && ++passing < kPassingFailureTries) {
      if (error != EINTR) {
        struct timespec pause = {0, kFullPipePauseNs};
        nanosleep(&pause, nullptr);
      }
      continue;
    }
    RememberOutputFailure(error);
    return false;
  }
  return true;
}

// ---- Spool files ----

struct SpoolTarget {
  int* fd;
  int error;  // errno of its first failure, 0 when none
};
SpoolTarget gSpoolTargets[3] = {{&gCollateFile, 0}, {&gManualDuplexOddFile, 0}, {&gManualDuplexEvenFile, 0}};

// write(2) until every byte is written; the errno of a failure (0 when all went).
int WriteAll(int fd, const unsigned char* data, size_t count) {
  size_t done = 0;
  while (done < count) {
    ssize_t n = write(fd, data + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : ENOSPC;
    done += static_cast<size_t>(n);
  }
  return 0;
}

// Whether a cached block of the current page goes to this spool file (a broken one included).
bool SpoolTakesPage(int kind) {
  const SpoolTarget& target = gSpoolTargets[kind];
  if (*target.fd == 0 && target.error == 0) return false;
  if (kind == kSpoolOddPages) return g_page % 2 == 1;
  if (kind == kSpoolEvenPages) return g_page % 2 == 0;
  return true;
}

void WriteToSpool(int kind, const unsigned char* data, size_t count) {
  SpoolTarget& target = gSpoolTargets[kind];
  if (target.error != 0 || *target.fd == 0) return;
  target.error = WriteAll(*target.fd, data, count);
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
  if (gPrinterOutputError.load() != 0) return 0;
  if (gPrinterOutput.flush == nullptr) return 1;
  if (gPrinterOutput.flush(gPrinterOutput.context) == 0) return 1;
  RememberOutputFailure(errno);
  return 0;
}

int PrinterOutputFailed(void) { return gPrinterOutputError.load() != 0 ? 1 : 0; }

int PrinterOutputError(void) { return gPrinterOutputError.load(); }

void ResetOutputFailures(void) {
  gPrinterOutputError.store(0);
  for (SpoolTarget& target : gSpoolTargets) target.error = 0;
}

int SendKeepAliveFiller(void) {
  if (g_ismiddlepage != 0 || gPrinterOutputError.load() != 0) return 0;
  static const unsigned char kFiller[2] = {0x00, 0x00};
  size_t done = 0;
  for (int tries = 0; done < sizeof kFiller && tries < kPassingFailureTries; ++tries) {
    ssize_t n = gPrinterOutput.write(gPrinterOutput.context, kFiller + done, sizeof kFiller - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    int error = n < 0 ? errno : EIO;
    // A full pipe is no failure, but the filler cannot wait for room here: it is given up, unless
    // half of it went already (a lone zero byte would shift the stream).
    if (n < 0 && error == EINTR) continue;
    if (n < 0 && (error == EAGAIN || error == EWOULDBLOCK) && done == 0) return 0;
    if (n < 0 && (error == EAGAIN || error == EWOULDBLOCK)) continue;
    RememberOutputFailure(error);
    return 0;
  }
  if (done == sizeof kFiller) return 1;
  if (done != 0) RememberOutputFailure(EIO);
  return 0;
}

int SpoolFileError(int kind) { return kind >= 0 && kind < 3 ? gSpoolTargets[kind].error : 0; }

void MarkSpoolFileBroken(int kind, int error) {
  if (kind < 0 || kind >= 3 || gSpoolTargets[kind].error != 0) return;
  gSpoolTargets[kind].error = error != 0 ? error : EIO;
}

int SendDataToFile(void* pData, int count, int bCache) {
  g_ismiddlepage = 1;

  if (pData == nullptr) {
    SetLastError("SendDataToFile() :: NULL == pData");
    return 0;
  }
  const unsigned char* data = static_cast<const unsigned char*>(pData);
  const size_t size = count > 0 ? static_cast<size_t>(count) : 0;
  bool destination = false;
  bool accepted = true;

  if (gSendDataToDevice == 1) {
    destination = true;
    accepted = WriteToPrinter(data, size);
  }
  if (bCache == 1) {
    for (int kind : {kSpoolCollate, kSpoolOddPages, kSpoolEvenPages}) {
      if (!SpoolTakesPage(kind)) continue;
      destination = true;
      WriteToSpool(kind, data, size);
      if (kind == kSpoolEvenPages) RecordEvenPageBytes(count);
    }
  }

  g_ismiddlepage = 1;
  return destination && accepted && size > 0 ? 1 : 0;
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

// In place, without allocating: the chain is extended on the way out of an allocation failure.
void PrependLastError(const char* message) {
  if (message == nullptr) return;
  const size_t room = sizeof prntLastError - 1;
  const size_t add = std::min(strlen(message), room);
  const size_t keep = std::min(strlen(prntLastError), room - add);
  memmove(prntLastError + add, prntLastError, keep);
  memcpy(prntLastError, message, add);
  prntLastError[add + keep] = '\0';
}

void SetLastError(const char* message) {
  prntLastError[0] = '\0';
  PrependLastError(message);
}

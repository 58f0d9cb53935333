// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// The filter's signal handlers: cancellation and the keep-alive filler of the printer link.
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "common.h"
#include "cupsdll.h"
#include "print_job.h"

void CancelJob(int) { PrintJobCancel(); }

// Runs as a signal handler: only async-signal-safe calls. The printer output of the filter is
// standard output, which blocks SIGALRM while it writes and buffers nothing, so write(2) here
// never lands inside a block; g_ismiddlepage keeps the filler out of a record sequence.
void SendDummyCommand(void) {
  if (g_ismiddlepage != 0) return;
  int savedErrno = errno;
  static const unsigned char kFiller[2] = {0x00, 0x00};
  size_t done = 0;
  while (done < sizeof kFiller) {
    ssize_t n = write(STDOUT_FILENO, kFiller + done, sizeof kFiller - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  errno = savedErrno;
}

namespace {

void OnKeepAliveAlarm(int) { SendDummyCommand(); }

void InstallHandler(int sig, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;  // reads of the raster resume after a signal
  sigaction(sig, &action, nullptr);
}

}  // namespace

void InstallCancelHandler(void) { InstallHandler(SIGTERM, CancelJob); }

void StartKeepAlive(long intervalMs) {
  InstallHandler(SIGALRM, OnKeepAliveAlarm);
  struct itimerval timer {};
  timer.it_value.tv_sec = intervalMs / 1000;
  timer.it_value.tv_usec = (intervalMs % 1000) * 1000;
  timer.it_interval = timer.it_value;
  setitimer(ITIMER_REAL, &timer, nullptr);
}

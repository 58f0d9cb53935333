// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// The filter's signal handlers: cancellation and the keep-alive filler of the printer link, and
// the waits that a cancel ends at once.
#include <fcntl.h>
#include <poll.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>

#include "common.h"
#include "cupsdll.h"
#include "print_job.h"

namespace {

// The cancel handler writes a byte here, so that a wait in poll(2) ends however the signal and
// the wait fall in time (a flag alone is missed when the signal comes just before the wait).
int gCancelPipe[2] = {-1, -1};

}  // namespace

void CancelJob(int) {
  int savedErrno = errno;
  PrintJobCancel();
  if (gCancelPipe[1] >= 0) {
    static const char kByte = 'c';
    ssize_t ignored = write(gCancelPipe[1], &kByte, 1);
    (void)ignored;  // a full pipe already holds a wake-up
  }
  errno = savedErrno;
}

// Runs as a signal handler: only async-signal-safe calls. The sink writes the filler only at a
// quiet point of the page loop (g_ismiddlepage 0); the printer output of the filter blocks SIGALRM
// while it writes, so the pair never lands inside a block.
void SendDummyCommand(void) {
  int savedErrno = errno;
  SendKeepAliveFiller();
  errno = savedErrno;
}

namespace {

void OnKeepAliveAlarm(int) { SendDummyCommand(); }

void InstallHandler(int sig, void (*handler)(int), int flags) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = flags;
  sigaction(sig, &action, nullptr);
}

// Descriptors below this are the CUPS filter's own (0-2 standard streams, 3 the back channel, 4
// the side channel): a job run without them must not find the cancel pipe there.
const int kFirstPrivateDescriptor = 10;

bool MakeCancelPipe() {
  if (gCancelPipe[0] >= 0) return true;
  int ends[2];
  if (pipe(ends) != 0) return false;
  for (int i = 0; i < 2; ++i) {
    gCancelPipe[i] = fcntl(ends[i], F_DUPFD_CLOEXEC, kFirstPrivateDescriptor);
    close(ends[i]);
  }
  if (gCancelPipe[0] < 0 || gCancelPipe[1] < 0) {
    for (int& fd : gCancelPipe) {
      if (fd >= 0) close(fd);
      fd = -1;
    }
    return false;
  }
  for (int fd : gCancelPipe) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  return true;
}

}  // namespace

void InstallCancelHandler(void) {
  // Without the pipe a cancel is still seen by every loop that polls Canceled; only a wait that
  // has already begun would last until its own end.
  MakeCancelPipe();
  // No SA_RESTART: a read or wait that the signal interrupts returns, so the cancel is seen.
  InstallHandler(SIGTERM, CancelJob, 0);
}

void StartKeepAlive(long intervalMs) {
  // The filler must not disturb the reads of the raster: they resume after it.
  InstallHandler(SIGALRM, OnKeepAliveAlarm, SA_RESTART);
  struct itimerval timer {};
  timer.it_value.tv_sec = intervalMs / 1000;
  timer.it_value.tv_usec = (intervalMs % 1000) * 1000;
  timer.it_interval = timer.it_value;
  setitimer(ITIMER_REAL, &timer, nullptr);
}

int WaitReadableUnlessCanceled(int fd, long timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    if (Canceled) return -1;
    long left = timeoutMs < 0 ? -1
                              : static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                      deadline - Clock::now())
                                                      .count());
    if (timeoutMs >= 0 && left <= 0) return 0;
    pollfd fds[2] = {{fd, POLLIN, 0}, {gCancelPipe[0], POLLIN, 0}};
    // Without the cancel pipe (no handler installed) the flag is looked at every 200 ms.
    const bool pipe = gCancelPipe[0] >= 0;
    int slice = pipe ? (left < 0 || left > 1000000 ? 1000000 : static_cast<int>(left))
                     : (left < 0 || left > 200 ? 200 : static_cast<int>(left));
    int ready = poll(fds, pipe ? 2 : 1, slice);
    if (ready < 0 && errno != EINTR) return 1;  // let the caller's own call report the error
    if (Canceled) return -1;
    if (ready > 0 && fds[0].revents != 0) return 1;
  }
}

int SleepUnlessCanceled(long ms) { return WaitReadableUnlessCanceled(-1, ms) < 0 ? 0 : 1; }

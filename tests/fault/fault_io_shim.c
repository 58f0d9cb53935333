/* Copyright (C) 2026 The Varnel driver authors
 * SPDX-License-Identifier: GPL-2.0-or-later
 *
 * Failing writes for the fault tests, loaded into the program with LD_PRELOAD. Set by the
 * environment:
 *   VARNEL_FAULT_STDOUT_EIO_AFTER=N    descriptor 1 takes N bytes in all (the write that reaches N
 *                                      is cut short), then every write fails with EIO
 *   VARNEL_FAULT_STDOUT_SHORT=K        descriptor 1 takes at most K bytes per write
 *   VARNEL_FAULT_STDOUT_TRANSIENT=E:P  every P-th write to descriptor 1 fails once with E
 *                                      (EINTR or EAGAIN) and writes nothing
 *   VARNEL_FAULT_SPOOL_EIO_AFTER=N     a regular file other than descriptors 0-2 takes N bytes
 *                                      (each file counts its own), then its writes fail with EIO
 * When the program ends, one line on standard error tells what was refused:
 *   "DEBUG: fault shim: refused R writes to standard output, S writes to spool files"
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "fault_shim_text.h"

static ssize_t (*real_write)(int, const void*, size_t);
static long long stdout_limit = -1;
static long long stdout_done;
static long long short_max;
static int transient_errno;
static long long transient_period;
static long long stdout_calls;
static long long spool_limit = -1;
/* Bytes taken per descriptor, for the spool fault. */
#define MAX_FD 1024
static long long spool_done[MAX_FD];
static long long refused_stdout;
static long long refused_spool;

static long long Number(const char* name, long long fallback) {
  const char* text = getenv(name);
  if (text == NULL || *text == '\0') return fallback;
  return strtoll(text, NULL, 10);
}

static void Resolve(void) {
  if (real_write == NULL) real_write = (ssize_t(*)(int, const void*, size_t))dlsym(RTLD_NEXT, "write");
}

__attribute__((constructor)) static void Init(void) {
  Resolve();
  stdout_limit = Number("VARNEL_FAULT_STDOUT_EIO_AFTER", -1);
  short_max = Number("VARNEL_FAULT_STDOUT_SHORT", 0);
  spool_limit = Number("VARNEL_FAULT_SPOOL_EIO_AFTER", -1);
  const char* transient = getenv("VARNEL_FAULT_STDOUT_TRANSIENT");
  if (transient != NULL) {
    transient_errno = strncmp(transient, "EAGAIN", 6) == 0 ? EAGAIN : EINTR;
    const char* colon = strchr(transient, ':');
    transient_period = colon != NULL ? strtoll(colon + 1, NULL, 10) : 0;
  }
}

__attribute__((destructor)) static void Report(void) {
  ShimLine line = {.length = 0};
  ShimText(&line, "DEBUG: fault shim: refused ");
  ShimNumber(&line, (unsigned long long)refused_stdout);
  ShimText(&line, " writes to standard output, ");
  ShimNumber(&line, (unsigned long long)refused_spool);
  ShimText(&line, " writes to spool files\n");
  ShimWrite(&line);
}

static int IsSpoolFile(int fd) {
  struct stat info;
  return fd > 2 && fd < MAX_FD && fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
}

ssize_t write(int fd, const void* data, size_t count) {
  Resolve();
  if (fd == 1) {
    ++stdout_calls;
    if (transient_period > 0 && stdout_calls % transient_period == 0) {
      ++refused_stdout;
      errno = transient_errno;
      return -1;
    }
    if (short_max > 0 && count > (size_t)short_max) count = (size_t)short_max;
    if (stdout_limit >= 0) {
      if (stdout_done >= stdout_limit && count > 0) {
        ++refused_stdout;
        errno = EIO;
        return -1;
      }
      if (count > (size_t)(stdout_limit - stdout_done)) count = (size_t)(stdout_limit - stdout_done);
    }
    ssize_t n = real_write(fd, data, count);
    if (n > 0) stdout_done += n;
    return n;
  }
  if (spool_limit >= 0 && IsSpoolFile(fd)) {
    if (spool_done[fd] >= spool_limit && count > 0) {
      ++refused_spool;
      errno = EIO;
      return -1;
    }
    if (count > (size_t)(spool_limit - spool_done[fd])) count = (size_t)(spool_limit - spool_done[fd]);
    ssize_t n = real_write(fd, data, count);
    if (n > 0) spool_done[fd] += n;
    return n;
  }
  return real_write(fd, data, count);
}

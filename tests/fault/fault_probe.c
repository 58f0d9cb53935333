/* Copyright (C) 2026 The Varnel driver authors
 * SPDX-License-Identifier: GPL-2.0-or-later
 *
 * A program built like the filter (with its sanitizers) for the harness's own checks of the
 * shims: "write N" writes N bytes to standard output, "spool N" to a file in TMPDIR, in blocks
 * of 1000 bytes; "alloc N" asks malloc, calloc and posix_memalign for N bytes. It says on
 * standard error what it got.
 */
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static int WriteBytes(int fd, long long total) {
  char block[1000];
  memset(block, 'x', sizeof block);
  long long done = 0;
  while (done < total) {
    size_t want = total - done < (long long)sizeof block ? (size_t)(total - done) : sizeof block;
    ssize_t n = write(fd, block, want);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      fprintf(stderr, "probe: wrote %lld bytes, then: %s\n", done, n < 0 ? strerror(errno) : "nothing taken");
      return 1;
    }
    done += n;
  }
  fprintf(stderr, "probe: wrote %lld bytes\n", done);
  return 0;
}

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  long long n = strtoll(argv[2], NULL, 10);
  if (strcmp(argv[1], "write") == 0) return WriteBytes(1, n);
  if (strcmp(argv[1], "spool") == 0) {
    const char* tmp = getenv("TMPDIR");
    char name[4096];
    snprintf(name, sizeof name, "%s/probe-XXXXXX", tmp != NULL ? tmp : "/tmp");
    int fd = mkstemp(name);
    if (fd < 0) return 3;
    unlink(name);
    int status = WriteBytes(fd, n);
    close(fd);
    return status;
  }
  if (strcmp(argv[1], "alloc") == 0) {
    void* a = malloc((size_t)n);
    void* b = calloc(1, (size_t)n);
    void* c = NULL;
    int aligned = posix_memalign(&c, 2u << 20, (size_t)n);
    fprintf(stderr, "probe: malloc %s, calloc %s, posix_memalign %s\n", a ? "ok" : "null", b ? "ok" : "null",
            aligned == 0 ? "ok" : "failed");
    free(a);
    free(b);
    if (aligned == 0) free(c);
    return 0;
  }
  return 2;
}

/* Copyright (C) 2026 The Varnel driver authors
 * SPDX-License-Identifier: GPL-2.0-or-later
 *
 * Failing allocations for the fault tests, loaded into the program with LD_PRELOAD:
 *   VARNEL_FAULT_ALLOC_FAIL=LO-HI   malloc-family calls (malloc, calloc, realloc, posix_memalign,
 *                                   aligned_alloc, memalign, valloc) of LO to HI bytes return
 *                                   null (ENOMEM); all others go to the next allocator, which is
 *                                   the sanitizer's in a sanitized program
 *   VARNEL_FAULT_ADDRESS_SPACE_MB=M  the address space may grow by M MiB beyond what the program
 *                                   has mapped when it starts (setrlimit RLIMIT_AS; for programs
 *                                   without a sanitizer, whose shadow memory the limit would stop)
 * Each refusal is logged on standard error as
 *   "DEBUG: fault shim: refused <function> of N bytes"
 * A window of sizes, not a limit, because the grey page is the largest buffer of a page: a limit
 * that stops the compression buffer stops the page buffers first.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "fault_shim_text.h"

typedef void* (*MallocFn)(size_t);
typedef void* (*CallocFn)(size_t, size_t);
typedef void* (*ReallocFn)(void*, size_t);
typedef int (*PosixMemalignFn)(void**, size_t, size_t);
typedef void* (*AlignedFn)(size_t, size_t);
typedef void (*FreeFn)(void*);

static MallocFn real_malloc;
static CallocFn real_calloc;
static ReallocFn real_realloc;
static PosixMemalignFn real_posix_memalign;
static AlignedFn real_aligned_alloc;
static AlignedFn real_memalign;
static MallocFn real_valloc;
static FreeFn real_free;

static size_t fail_low = 1;
static size_t fail_high;  /* 0: nothing fails */
static int resolving;

/* Allocations made while the real functions are looked up (dlsym may allocate) come from here
 * and are never given back. */
static unsigned char bootstrap[65536] __attribute__((aligned(64)));
static size_t bootstrap_used;

static void* Bootstrap(size_t size) {
  size = (size + 63) & ~(size_t)63;
  if (bootstrap_used + size > sizeof bootstrap) return NULL;
  void* p = bootstrap + bootstrap_used;
  bootstrap_used += size;
  return p;
}

static int FromBootstrap(const void* p) {
  return (const unsigned char*)p >= bootstrap && (const unsigned char*)p < bootstrap + sizeof bootstrap;
}

static void Resolve(void) {
  if (real_malloc != NULL || resolving) return;
  resolving = 1;
  real_calloc = (CallocFn)dlsym(RTLD_NEXT, "calloc");
  real_realloc = (ReallocFn)dlsym(RTLD_NEXT, "realloc");
  real_posix_memalign = (PosixMemalignFn)dlsym(RTLD_NEXT, "posix_memalign");
  real_aligned_alloc = (AlignedFn)dlsym(RTLD_NEXT, "aligned_alloc");
  real_memalign = (AlignedFn)dlsym(RTLD_NEXT, "memalign");
  real_valloc = (MallocFn)dlsym(RTLD_NEXT, "valloc");
  real_free = (FreeFn)dlsym(RTLD_NEXT, "free");
  real_malloc = (MallocFn)dlsym(RTLD_NEXT, "malloc");
  resolving = 0;
}

static void LimitAddressSpace(void) {
  const char* text = getenv("VARNEL_FAULT_ADDRESS_SPACE_MB");
  if (text == NULL || *text == '\0') return;
  unsigned long long budget = strtoull(text, NULL, 10) << 20;
  unsigned long long pages = 0;
  FILE* statm = fopen("/proc/self/statm", "r");
  if (statm == NULL) return;
  int got = fscanf(statm, "%llu", &pages);
  fclose(statm);
  if (got != 1) return;
  struct rlimit limit;
  limit.rlim_cur = limit.rlim_max = pages * (unsigned long long)sysconf(_SC_PAGESIZE) + budget;
  setrlimit(RLIMIT_AS, &limit);
}

/* Read when the program starts: the first allocations can come before the environment is set. */
static void ReadWindow(void) {
  const char* window = getenv("VARNEL_FAULT_ALLOC_FAIL");
  if (window == NULL || *window == '\0') return;
  char* end = NULL;
  size_t low = (size_t)strtoull(window, &end, 10);
  if (end == NULL || *end != '-') return;
  fail_low = low;
  fail_high = (size_t)strtoull(end + 1, NULL, 10);
}

__attribute__((constructor)) static void Init(void) {
  Resolve();
  ReadWindow();
  LimitAddressSpace();
}

static int Refused(const char* function, size_t size) {
  if (fail_high == 0 || size < fail_low || size > fail_high) return 0;
  ShimLine line = {.length = 0};
  ShimText(&line, "DEBUG: fault shim: refused ");
  ShimText(&line, function);
  ShimText(&line, " of ");
  ShimNumber(&line, size);
  ShimText(&line, " bytes\n");
  ShimWrite(&line);
  return 1;
}

void* malloc(size_t size) {
  Resolve();
  if (real_malloc == NULL) return Bootstrap(size);
  if (Refused("malloc", size)) {
    errno = ENOMEM;
    return NULL;
  }
  return real_malloc(size);
}

void* calloc(size_t count, size_t size) {
  Resolve();
  if (real_calloc == NULL || real_malloc == NULL) {
    if (size != 0 && count > SIZE_MAX / size) return NULL;
    return Bootstrap(count * size);  /* static memory is zero */
  }
  if (size != 0 && count <= SIZE_MAX / size && Refused("calloc", count * size)) {
    errno = ENOMEM;
    return NULL;
  }
  return real_calloc(count, size);
}

void* realloc(void* p, size_t size) {
  Resolve();
  if (p != NULL && FromBootstrap(p)) {
    void* moved = malloc(size);
    if (moved != NULL) {
      size_t room = (size_t)(bootstrap + sizeof bootstrap - (unsigned char*)p);
      memcpy(moved, p, size < room ? size : room);
    }
    return moved;
  }
  if (real_realloc == NULL) return Bootstrap(size);
  if (Refused("realloc", size)) {
    errno = ENOMEM;
    return NULL;
  }
  return real_realloc(p, size);
}

void free(void* p) {
  if (p == NULL || FromBootstrap(p)) return;
  Resolve();
  if (real_free != NULL) real_free(p);
}

int posix_memalign(void** p, size_t alignment, size_t size) {
  Resolve();
  if (Refused("posix_memalign", size)) return ENOMEM;
  return real_posix_memalign(p, alignment, size);
}

void* aligned_alloc(size_t alignment, size_t size) {
  Resolve();
  if (Refused("aligned_alloc", size)) {
    errno = ENOMEM;
    return NULL;
  }
  return real_aligned_alloc(alignment, size);
}

void* memalign(size_t alignment, size_t size) {
  Resolve();
  if (Refused("memalign", size)) {
    errno = ENOMEM;
    return NULL;
  }
  return real_memalign(alignment, size);
}

void* valloc(size_t size) {
  Resolve();
  if (Refused("valloc", size)) {
    errno = ENOMEM;
    return NULL;
  }
  return real_valloc(size);
}

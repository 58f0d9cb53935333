/* Copyright (C) 2026 The Varnel driver authors
 * SPDX-License-Identifier: GPL-2.0-or-later
 *
 * The shims' log lines, put together without stdio or allocation (the allocation shim runs
 * inside malloc, the I/O shim inside write).
 */
#pragma once

#include <stddef.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

typedef struct {
  char text[192];
  size_t length;
} ShimLine;

static inline void ShimText(ShimLine* line, const char* text) {
  size_t n = strlen(text);
  if (n > sizeof line->text - line->length) n = sizeof line->text - line->length;
  memcpy(line->text + line->length, text, n);
  line->length += n;
}

static inline void ShimNumber(ShimLine* line, unsigned long long value) {
  char digits[24];
  size_t n = 0;
  do {
    digits[n++] = (char)('0' + value % 10);
    value /= 10;
  } while (value > 0 && n < sizeof digits);
  while (n > 0 && line->length < sizeof line->text) line->text[line->length++] = digits[--n];
}

/* On standard error, by the system call itself (the I/O shim replaces write). */
static inline void ShimWrite(const ShimLine* line) { syscall(SYS_write, 2, line->text, line->length); }

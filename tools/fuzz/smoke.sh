#!/usr/bin/env bash
# Copyright (C) 2026 The Varnel driver authors
# SPDX-License-Identifier: GPL-2.0-or-later
# The fuzz smoke of scripts/test.sh: builds the three fuzzers (and only what they link) with clang
# in a build folder of their own and runs the CTest tests labelled "fuzz", each fuzzer for
# VARNEL_FUZZ_SECONDS (60) on the committed corpus. Without clang++ and its libFuzzer runtime it
# says so and does nothing. Exit status 1 when a fuzzer stopped on a crash, leak, timeout or
# out-of-memory (the input is then in BUILD/fuzz-crashes/).
# Usage: tools/fuzz/smoke.sh [BUILD]   (default build-fuzz)
set -euo pipefail
top="$(cd "$(dirname "$0")/../.." && pwd)"
build="${1:-build-fuzz}"
seconds="${VARNEL_FUZZ_SECONDS:-60}"

have_libfuzzer() {
  command -v clang >/dev/null 2>&1 && command -v clang++ >/dev/null 2>&1 || return 1
  local scratch status=0
  scratch="$(mktemp -d "${TMPDIR:-/tmp}/varnel-libfuzzer.XXXXXX")"
  printf 'extern "C" int LLVMFuzzerTestOneInput(const char*, unsigned long) { return 0; }\n' > "$scratch/probe.cpp"
  clang++ -fsanitize=fuzzer,address,undefined "$scratch/probe.cpp" -o "$scratch/probe" >/dev/null 2>&1 || status=1
  rm -rf "$scratch"
  return $status
}

if ! have_libfuzzer; then
  echo "Fuzz smoke skipped: clang++ with its libFuzzer runtime is not installed (Debian: clang, libclang-rt-14-dev)."
  exit 0
fi
cd "$top"
CC=clang CXX=clang++ cmake -S . -B "$build" -DVARNEL_FUZZ=ON -DVARNEL_BUILD_TESTS=OFF -DVARNEL_BUILD_PRINTER_APP=OFF -DVARNEL_BUILD_BENCHMARKS=OFF \
  -DVARNEL_FUZZ_SECONDS="$seconds" >/dev/null
cmake --build "$build" -j"$(nproc)" --target fuzz
ctest --test-dir "$build" -L fuzz --output-on-failure -j"$(nproc)"

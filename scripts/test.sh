#!/usr/bin/env bash
# Copyright (C) 2026 The Varnel driver authors
# SPDX-License-Identifier: GPL-2.0-or-later
# Installs what is missing, builds the driver with AddressSanitizer and UndefinedBehaviorSanitizer,
# runs the whole test suite, then the fuzz smoke (tools/fuzz/smoke.sh) when clang's libFuzzer is
# installed.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
cd "$top"
bash scripts/install-deps.sh
build="${VARNEL_TEST_BUILD:-build-test}"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DVARNEL_SANITIZE=ON -DVARNEL_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$top/tests/lsan.supp}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" "$@"

# The fuzz smoke: each fuzzer a minute on the committed corpus, in a clang build of its own
# (skipped with a message when clang's libFuzzer is not installed; VARNEL_FUZZ_SMOKE=0 skips it).
if [ "${VARNEL_FUZZ_SMOKE:-1}" != 0 ]; then
  bash tools/fuzz/smoke.sh "${VARNEL_FUZZ_BUILD:-build-fuzz}"
fi

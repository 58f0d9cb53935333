#!/usr/bin/env bash
# Copyright (C) 2026 The Varnel driver authors
# SPDX-License-Identifier: GPL-2.0-or-later
# Installs what is missing, builds the driver with AddressSanitizer and UndefinedBehaviorSanitizer,
# and runs the whole test suite.
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

#!/usr/bin/env bash
# Copyright (C) 2026 The Varnel driver authors
# SPDX-License-Identifier: GPL-2.0-or-later
# Runs each fuzzer for a while on the committed seed corpus and its working corpus, which stays
# in BUILD/fuzz-corpus/NAME between runs.
# Usage: tools/fuzz/run.sh [BUILD] [SECONDS per fuzzer] [NAME...]   (NAME: raster, ps, inspect)
# Crashing and slow inputs are written to BUILD/fuzz-crashes/; replay one with
# `BUILD/tools/fuzz/fuzz_... FILE`. Exit status 1 when a fuzzer stopped on a fault.
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-$here/../../build-fuzz}"
seconds="${2:-60}"
shift $(($# < 2 ? $# : 2))
names=("$@")
[ ${#names[@]} -gt 0 ] || names=(raster ps inspect)
failed=()
for name in "${names[@]}"; do
  bash "$here/fuzz-one.sh" "$build" "$name" "$seconds" "$build/fuzz-corpus/$name" || failed+=("$name")
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "Stopped on a fault: ${failed[*]}; inputs in $build/fuzz-crashes/"
  exit 1
fi
echo "No fault found."

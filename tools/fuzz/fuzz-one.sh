#!/usr/bin/env bash
# Copyright (C) 2026 The Varnel driver authors
# SPDX-License-Identifier: GPL-2.0-or-later
# Runs one fuzzer for a while on the committed seed corpus (tools/fuzz/corpus/NAME, only read)
# and a working corpus, where it keeps the inputs it finds.
# Usage: tools/fuzz/fuzz-one.sh BUILD NAME SECONDS [WORK]
#   NAME     raster, ps or inspect
#   WORK     working corpus folder (kept); without it a scratch folder that is removed at the end
# Crashing, leaking, slow and out-of-memory inputs are written to BUILD/fuzz-crashes/ (replay one
# with `BUILD/tools/fuzz/fuzz_... FILE`). Exit status 0 when the fuzzer found nothing, 1 when it
# stopped on a fault, 2 on a wrong call.
set -euo pipefail
top="$(cd "$(dirname "$0")/../.." && pwd)"
if [ $# -lt 3 ] || [ $# -gt 4 ]; then
  sed -n '5,11p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
fi
build="$1" name="$2" seconds="$3" work="${4:-}"
case "$name" in
  raster) program=fuzz_raster_filter; limits=(-max_len=8192 -timeout=25) ;;
  ps) program=fuzz_ps_text; limits=(-max_len=20000 -timeout=25) ;;
  inspect) program=fuzz_inspect; limits=(-max_len=65536 -timeout=25) ;;
  *) echo "unknown fuzzer: $name (raster, ps or inspect)" >&2; exit 2 ;;
esac
binary="$build/tools/fuzz/$program"
seeds="$top/tools/fuzz/corpus/$name"
crashes="$build/fuzz-crashes"
if [ ! -x "$binary" ]; then
  echo "$binary is missing: cmake --build $build --target fuzz" >&2
  exit 2
fi
if [ -z "$work" ]; then
  work="$(mktemp -d "${TMPDIR:-/tmp}/varnel-fuzz-$name.XXXXXX")"
  trap 'rm -rf "$work"' EXIT
fi
mkdir -p "$work" "$crashes"

echo "== $program: $seconds s on $seeds"
# -close_fd_mask=2: the filters' log lines go nowhere; libFuzzer's and the sanitizers' reports
# still reach standard error.
set +e
"$binary" "$work" "$seeds" -max_total_time="$seconds" -rss_limit_mb=2048 -close_fd_mask=2 \
  -print_final_stats=1 -artifact_prefix="$crashes/$program-" "${limits[@]}" 2>&1 |
  grep -E --line-buffered "^(#[0-9]+[[:space:]]+(INITED|DONE)|==[0-9]+==|    #[0-9]+ |SUMMARY|stat::|artifact_prefix|Test unit written|Base64|MS: )"
status=${PIPESTATUS[0]}
set -e
if [ "$status" -ne 0 ]; then
  echo "$program stopped on a fault (exit status $status); the input is in $crashes/" >&2
  exit 1
fi

#!/usr/bin/env bash
# Copyright (C) 2026 The Varnel driver authors
# SPDX-License-Identifier: GPL-2.0-or-later
# Runs each fuzzer for a while on its corpus (kept in BUILD/fuzz-corpus between runs).
# Usage: tools/fuzz/run.sh [BUILD] [SECONDS per fuzzer]
# Crashing and slow inputs are written to BUILD/fuzz-crashes/; replay one with `BUILD/tools/fuzz/NAME FILE`.
set -euo pipefail
top="$(cd "$(dirname "$0")/../.." && pwd)"
build="${1:-$top/build-fuzz}"
seconds="${2:-60}"
bin="$build/tools/fuzz"
corpus="$build/fuzz-corpus"
crashes="$build/fuzz-crashes"
mkdir -p "$corpus"/{raster,ps,inspect} "$crashes"

# Seeds: small rasters; the streams the filter makes of them on each platform; the PostScript
# fixtures of the tests.
"$bin/fuzz_raster_seeds" "$corpus/raster"
for seed in "$corpus"/raster/seed-*; do
  for ppd in platform_c platform_z platform_m; do
    tail -c +2 "$seed" > "$corpus/job.ras"
    PPD="$top/tests/fixtures/ppd/$ppd.ppd" "$build/gdi_filter/rastertoVarnel" 1 u t 1 "" "$corpus/job.ras" \
      > "$corpus/inspect/$(basename "$seed")-$ppd" 2>/dev/null || true
  done
done
rm -f "$corpus/job.ras"
cp "$top/tests/fixtures/sample.ps" "$corpus/ps/"
printf '\001%s\000\000\0002\000%s' "PageSize=A4 Duplex=DuplexTumble Collate=True" \
  $'\e%-12345X@PJL JOB NAME="x"\n@PJL SET USERNAME="u"\n@PJL SET QTY=1\n@PJL SET DUPLEX=OFF\n%!PS\n%%BeginSetup\n<</PageSize [595 842]>> setpagedevice\n%%EndSetup\n%%Page: 1 1\nshowpage\n%%Page: 2 2\nshowpage\n%%EOF\n\e%-12345X' \
  > "$corpus/ps/pjl-job"

run() {
  local name="$1" dir="$2"
  shift 2
  echo "== $name ($seconds s)"
  "$bin/$name" "$corpus/$dir" -max_total_time="$seconds" -close_fd_mask=2 -rss_limit_mb=4096 \
    -artifact_prefix="$crashes/$name-" -print_final_stats=1 "$@" 2>&1 | grep -E "^(#[0-9]+ +DONE|==|stat::number_of_executed_units|stat::peak_rss_mb|artifact_prefix|Test unit written|SUMMARY)" || true
}
run fuzz_raster_filter raster -max_len=200000 -timeout=60
run fuzz_ps_text ps -max_len=20000
run fuzz_inspect inspect -max_len=400000
if ls "$crashes"/* >/dev/null 2>&1; then
  echo "Crashing or slow inputs:"; ls -l "$crashes"; exit 1
fi
echo "No crash, no slow input."

#!/usr/bin/env bash
# Copyright (C) 2026 The Varnel driver authors
# SPDX-License-Identifier: GPL-2.0-or-later
# Whole-filter cost of a one-page job against JBIG-KIT's own pbmtojbg compressing the already
# halftoned bitmap of the same page with the same stripe and option settings.
set -euo pipefail

usage() {
  cat <<'TEXT'
Usage: tools/benchmark/compare.sh [BUILD-DIR]

Times the whole raster filter of BUILD-DIR (default: build) on a one-page job and on a ten-page
job of a text-like and a picture-like A4 page, for each platform (C, Z, M), beside JBIG-KIT's
pbmtojbg compressing the same halftoned bitmap. Prints per platform and page kind: the one-page
job time, the time per page of the ten-page job, pbmtojbg's time, their ratio, and the
filter's peak memory. Every time is the best of five runs.

The build needs the benchmark tools (-DVARNEL_BUILD_BENCHMARKS=ON, the default) and pbmtojbg
(Debian: jbigkit-bin). The PPD of a platform is the first generated PPD that names it; set
VARNEL_PPD_C, VARNEL_PPD_Z or VARNEL_PPD_M to choose another.
TEXT
}

case "${1:-}" in
  -h|--help) usage; exit 0 ;;
  -*) echo "compare.sh: unknown option \"$1\"" >&2; usage >&2; exit 2 ;;
esac
[ $# -le 1 ] || { echo "compare.sh: one build folder at most" >&2; usage >&2; exit 2; }
top="$(cd "$(dirname "$0")/../.." && pwd)"
build="${1:-$top/build}"
filter="$build/gdi_filter/rastertoVarnel"
maker="$build/tools/benchmark/make_test_page"
for f in "$filter" "$maker"; do [ -x "$f" ] || { echo "missing $f (build with VARNEL_BUILD_BENCHMARKS=ON)" >&2; exit 1; }; done
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# First PPD in the build whose PlatForm attribute names the platform.
find_ppd() {
  local var="VARNEL_PPD_$1"
  if [ -n "${!var:-}" ]; then echo "${!var}"; return; fi
  grep -l "PlatForm.*PLATFORM_$1" "$build"/ppd/*.ppd "$build"/ppd/generated/*.ppd 2>/dev/null | head -1 || true
}

# Best of five runs: "seconds peak-kB" (wall time in milliseconds resolution).
measure() {
  local best="" t0 t1 line
  for _ in 1 2 3 4 5; do
    t0=$(date +%s%N)
    /usr/bin/time -o "$work/time" -f '%M' "$@" >/dev/null 2>/dev/null || true
    t1=$(date +%s%N)
    line="$(awk -v ns=$((t1 - t0)) -v kb="$(tail -1 "$work/time")" 'BEGIN{printf "%.4f %s", ns / 1e9, kb}')"
    if [ -z "$best" ] || awk -v a="${line%% *}" -v b="${best%% *}" 'BEGIN{exit !(a<b)}'; then best="$line"; fi
  done
  echo "$best"
}

# filter_s: a one-page job; page_s: one page of a ten-page job (start-up and first touch of the
# page buffers shared out); pbmtojbg_s: JBIG-KIT alone on the halftoned page.
pages=10
printf '%-8s %-8s %10s %10s %10s %8s %12s\n' platform page filter_s page_s pbmtojbg_s ratio filter_peakMB
for p in C Z M; do
  num=$([ $p = C ] && echo 1 || ([ $p = Z ] && echo 2 || echo 3))
  case $p in
    C) opts="-q -s 768 -m 8 -o 0 -p 8" ;;
    Z) opts="-q -s 256 -m 0 -o 3 -p 88" ;;
    M) opts="-q -s 256 -m 0 -o 3 -p 92" ;;
  esac
  ppd="$(find_ppd $p)"
  if [ -z "$ppd" ]; then echo "$p: no PPD found, skipped" >&2; continue; fi
  for kind in text picture; do
    "$maker" $kind $num "$work/page.ras" "$work/page.pbm" 2>/dev/null
    f="$(measure env PPD="$ppd" "$filter" 1 user title 1 "" "$work/page.ras")"
    "$maker" $kind $num "$work/job.ras" "$work/page.pbm" $pages 2>/dev/null
    m="$(measure env PPD="$ppd" "$filter" 1 user title 1 "" "$work/job.ras")"
    rm -f "$work/job.ras"
    j="$(measure sh -c "pbmtojbg $opts '$work/page.pbm' '$work/page.jbg'")"
    awk -v p=$p -v k=$kind -v f="$f" -v m="$m" -v n=$pages -v j="$j" 'BEGIN{split(f,a," ");split(m,c," ");split(j,b," ");
      printf "%-8s %-8s %10.3f %10.3f %10.3f %8.2f %12.1f\n", p, k, a[1], c[1] / n, b[1], (b[1]>0?c[1]/n/b[1]:0), a[2]/1024}'
  done
done

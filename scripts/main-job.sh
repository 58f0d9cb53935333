#!/usr/bin/env bash
# Installs what is missing, builds the driver and prints a bundled sample page: an A4 600 dpi
# raster of text-like bars and a grey ramp goes through rastertoVarnel for the bundled PPD of a
# Z-platform model, and the printer stream lands in out/sample.prn.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
cd "$top"
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)"

mkdir -p out
ppd="$top/samples/varnel-t4544.ppd"
build/tools/sample-page/sample-page out/sample.ras 1
status=0
PPD="$ppd" build/gdi_filter/rastertoVarnel 1 "$(id -un)" "Sample page" 1 "" out/sample.ras \
  > out/sample.prn 2> out/sample.log || status=$?

size=$(stat -c %s out/sample.prn)
echo "PPD:      $ppd ($(sed -n 's/^\*ModelName: "\(.*\)"/\1/p' "$ppd"))"
echo "Raster:   out/sample.ras ($(stat -c %s out/sample.ras) bytes, 1 page A4 600 dpi)"
echo "Stream:   out/sample.prn ($size bytes), exit status $status"
if [ "$size" -gt 0 ]; then
  echo "First bytes:"
  head -c 64 out/sample.prn | od -A d -t x1z | head -n 5
fi
echo "Log (out/sample.log), without the debug lines:"
grep -v '^DEBUG:' out/sample.log | grep -v '% complete' || true
exit "$status"

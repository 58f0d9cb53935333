#!/usr/bin/env bash
# Copyright (C) 2026 The Varnel driver authors
# SPDX-License-Identifier: GPL-2.0-or-later
# The sample job: installs what is missing, builds the driver, and sends the bundled sample PDF
# (tests/fixtures/sample.pdf, 3 A4 pages) through the real CUPS filter chain - cupsfilter with
# the generated PPD of a default model: pdftopdf, gstoraster, rastertoVarnel - into the printer
# stream. The stream inspector then checks the stream and draws every printed page.
#
# Results in out/: sample.prn (printer stream), cupsfilter.log (the chain's log),
# inspect.txt (the inspector's summary), inspect-listing.txt (every item of the stream) and
# pages/page-NNN.png (one picture per page, as sent to the printer: with duplex the back sides
# are turned by 180 degrees; `varnel-inspect --turn even` shows them as they lie on the sheet).
#
# VARNEL_MODEL picks another generated PPD of a raster model (default q7306mf.ppd, a platform Z
# model; e.g. rxt30441.ppd for platform C, rxt415k3.ppd for platform M); further arguments are
# passed to cupsfilter as job options, e.g. `bash scripts/main-job.sh -o Duplex=DuplexNoTumble -n 2`.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
cd "$top"
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
# Only what the sample job needs: the raster filter, the PPDs and the inspector.
cmake --build build -j"$(nproc)" --target rastertoVarnel ppds varnel-inspect

model="${VARNEL_MODEL:-q7306mf.ppd}"
ppd="$top/build/ppd/generated/$model"
document="$top/tests/fixtures/sample.pdf"
inspect="$top/build/tools/varnel-inspect/varnel-inspect"
[ -f "$ppd" ] || { echo "No generated PPD $model in build/ppd/generated" >&2; exit 1; }

# cupsfilter finds its filters in a ServerBin: a private one with the stock filters and ours.
serverbin="$(mktemp -d)"
trap 'rm -rf "$serverbin"' EXIT
chmod 0755 "$serverbin"
mkdir -m 0755 "$serverbin/filter"
ln -s "$(cups-config --serverbin)"/filter/* "$serverbin/filter/"
rm -f "$serverbin/filter/rastertoVarnel"
install -m 0755 build/gdi_filter/rastertoVarnel "$serverbin/filter/"
echo "ServerBin $serverbin" > "$serverbin/cups-files.conf"

rm -rf out
mkdir -p out/pages
status=0
cupsfilter -c "$serverbin/cups-files.conf" -p "$ppd" -e -m printer/varnel -U "$(id -un)" \
  -t "Varnel sample" "$@" "$document" > out/sample.prn 2> out/cupsfilter.log || status=$?
if [ "$status" -ne 0 ] || [ ! -s out/sample.prn ]; then
  echo "The CUPS chain failed (status $status); its log, without debug lines:" >&2
  grep -v '^DEBUG' out/cupsfilter.log >&2 || true
  exit 1
fi

inspected=0
"$inspect" --summary --pages out/pages out/sample.prn > out/inspect.txt || inspected=$?
"$inspect" --list out/sample.prn > out/inspect-listing.txt || true

echo "Model:     $model ($(sed -n 's/^\*ShortNickName: "\(.*\)"/\1/p' "$ppd"))"
echo "Document:  tests/fixtures/sample.pdf"
echo "Chain:     $(cupsfilter -c "$serverbin/cups-files.conf" -p "$ppd" -e -m printer/varnel --list-filters \
  "$document" 2>/dev/null | paste -sd' ')"
echo "Stream:    out/sample.prn ($(stat -c %s out/sample.prn) bytes)"
echo "Inspector: out/inspect.txt"
grep -E '^(stream|result|defect)' out/inspect.txt | sed 's/^/           /'
echo "Pages:     $(ls out/pages/*.png 2>/dev/null | paste -sd' ')"
exit "$inspected"

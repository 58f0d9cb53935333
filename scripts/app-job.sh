#!/usr/bin/env bash
# Copyright (C) 2026 The Varnel driver authors
# SPDX-License-Identifier: GPL-2.0-or-later
# The sample job through the Printer Application: installs what is missing, builds, starts
# varnel-printer-app on a loopback port with its spool, state and log in a scratch folder, adds a
# printer of a default model on a file: device, prints the bundled sample PDF (two copies,
# long-edge duplex) with the application's own `submit` sub-command, waits for the job, stops the
# application and checks the stream with the inspector.
#
# Results in out-app/: sample.prn (printer stream), server.log (the application's log),
# inspect.txt (the inspector's summary) and pages/page-NNN.png (one picture per printed page).
#
# VARNEL_DRIVER picks another model (default q7306mf, platform Z; e.g. rxt30441 for platform C,
# prlm6100 for platform M; `build/printer_app/varnel-printer-app drivers` lists them); further
# arguments are job attributes for `submit`, e.g. `bash scripts/app-job.sh -o print-darkness=50`.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
cd "$top"
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target varnel-printer-app varnel-inspect

app="$top/build/printer_app/varnel-printer-app"
inspect="$top/build/tools/varnel-inspect/varnel-inspect"
driver="${VARNEL_DRIVER:-q7306mf}"
scratch="$(mktemp -d)"
server=""
cleanup() {
  if [ -n "$server" ]; then kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true; fi
  rm -rf "$scratch"
}
trap cleanup EXIT
mkdir -p "$scratch/spool" "$scratch/tmp" "$scratch/config" "$scratch/out"
# As root the application keeps its state and its domain socket in SNAP_COMMON, otherwise under
# XDG_CONFIG_HOME and TMPDIR: all in the scratch folder, away from an installed service.
export SNAP_COMMON="$scratch" TMPDIR="$scratch/tmp" XDG_CONFIG_HOME="$scratch/config" HOME="$scratch"

rm -rf out-app
mkdir -p out-app/pages
"$app" server -o listen-hostname=127.0.0.1 -o spool-directory="$scratch/spool" \
  -o log-file="$top/out-app/server.log" -o log-level=info &
server=$!
for _ in $(seq 100); do [ -S "$scratch/varnel-printer-app.sock" ] && break; sleep 0.1; done

"$app" add -d sample -m "$driver" -v "file://$scratch/out"
"$app" submit -d sample -t sample -o copies=2 -o sides=two-sided-long-edge "$@" tests/fixtures/sample.pdf
# `jobs` lists every job with its state: wait until none is pending or processing.
for _ in $(seq 600); do
  "$app" jobs -d sample | grep -qE ' (pending|pending-held|processing|processing-stopped) ' || break
  sleep 0.2
done
# SIGTERM ends the server at once (the `shutdown` sub-command gives running jobs 30 seconds).
kill -TERM "$server"
wait "$server" || true
server=""

[ -s "$scratch/out/sample.prn" ] || { echo "No printer stream; the application's log is in out-app/server.log" >&2; exit 1; }
cp "$scratch/out/sample.prn" out-app/sample.prn
inspected=0
"$inspect" --summary --pages out-app/pages out-app/sample.prn > out-app/inspect.txt || inspected=$?

echo "Model:     $driver"
echo "Server:    $(sed -n "s/.*Listening for connections on '\(127[^']*\)'.*/ipp:\/\/\1\/ipp\/print\/sample/p" out-app/server.log | head -1) (stopped)"
echo "Stream:    out-app/sample.prn ($(stat -c %s out-app/sample.prn) bytes)"
echo "Inspector: out-app/inspect.txt"
grep -E '^(stream|result|defect)' out-app/inspect.txt | sed 's/^/           /'
echo "Pages:     $(ls out-app/pages/*.png 2>/dev/null | paste -sd' ')"
exit "$inspected"

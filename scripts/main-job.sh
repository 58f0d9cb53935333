#!/usr/bin/env bash
# Installs what is missing, builds the driver and prints a bundled sample page.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
cd "$top"
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)"
echo "The sample job is not wired up yet." >&2

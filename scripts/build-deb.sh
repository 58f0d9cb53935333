#!/usr/bin/env bash
# Copyright (C) 2026 The Varnel driver authors
# SPDX-License-Identifier: GPL-2.0-or-later
# Builds the Debian packages printer-driver-varnel and varnel-printer-app with the
# distribution's own tools (`dpkg-buildpackage -us -uc -b`, debhelper with the cmake build
# system) in a temporary copy of this checkout - its tracked and new files, without build
# folders or ignored files - so that nothing of the checkout or of a developer's build is
# touched or reused. Leaves the .deb, .changes and .buildinfo files and build.log in OUTDIR.
# Usage: scripts/build-deb.sh OUTDIR
set -euo pipefail
case "${1:-}" in
  -h|--help) echo "Usage: scripts/build-deb.sh OUTDIR"; exit 0 ;;
  ''|-*) echo "Usage: scripts/build-deb.sh OUTDIR" >&2; exit 2 ;;
esac
top="$(cd "$(dirname "$0")/.." && pwd)"
out="$(realpath -m "$1")"
mkdir -p "$out"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
source="$work/printer-driver-varnel"
mkdir "$source"

if git -C "$top" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  (cd "$top" && git ls-files -z -co --exclude-standard |
     while IFS= read -r -d '' file; do [ -e "$file" ] && printf '%s\0' "$file"; done |
     tar --null -T - -cf -) | tar -C "$source" -xf -
else
  tar -C "$top" --exclude='./build*' --exclude=./out --exclude=./.git --exclude='./obj-*' -cf - . |
    tar -C "$source" -xf -
fi

if ! (cd "$source" && DEB_BUILD_OPTIONS="nocheck parallel=$(nproc)" dpkg-buildpackage -us -uc -b) \
     > "$out/build.log" 2>&1; then
  echo "dpkg-buildpackage failed; the end of $out/build.log:" >&2
  tail -40 "$out/build.log" >&2
  exit 1
fi
cp "$work"/*.deb "$work"/*.changes "$work"/*.buildinfo "$out/"
ls "$out"/*.deb

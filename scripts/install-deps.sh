#!/usr/bin/env bash
# Copyright (C) 2026 The Varnel driver authors
# SPDX-License-Identifier: GPL-2.0-or-later
# Installs the Debian packages that building, running, testing and packaging the driver need.
# Idempotent: when every package is present it only checks and returns.
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config
  libcups2-dev libcupsimage2-dev libjbig-dev libusb-1.0-0-dev libpng-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  cups cups-client cups-daemon cups-filters cups-ppdc cups-bsd
  ghostscript poppler-utils jbigkit-bin time
  debhelper dpkg-dev lintian
  libpappl-dev cups-ipp-utils
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}" >&2
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null

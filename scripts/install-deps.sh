#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Pelorin need.
# Only packages that are missing are installed, so a second run costs nothing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang libclang-rt-dev clang-format
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libgraphicsmagick++1-dev graphicsmagick
  libgtest-dev libgmock-dev libbenchmark-dev
  libcfitsio-dev zlib1g-dev libdeflate-dev libpng-dev python3 python3-erfa python3-pil python3-numpy
  wcslib-dev liberfa-dev python3-astropy
  qt6-translations-l10n
  xvfb xauth
  dpkg-dev file groff-base appstream desktop-file-utils
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi
echo "Installing: ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null

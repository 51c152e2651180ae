#!/usr/bin/env bash
# Builds Pelorin in Release and starts the viewer on the bundled samples. Without a
# display it says so and converts the samples with pelorin-convert instead.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)"

samples="$PWD/samples"
if [ -x build/bin/pelorin ] && { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; }; then
  exec build/bin/pelorin "$samples"
fi

echo "No display here: converting the samples with pelorin-convert instead." >&2
out="$PWD/build/samples-bmp"
mkdir -p "$out"
if [ -x build/bin/pelorin-convert ]; then
  build/bin/pelorin-convert --palettes "$PWD/palettes" --dest "$out" --caption "$samples"/*
  echo "BMP files written to $out" >&2
else
  echo "pelorin-convert is not built yet." >&2
fi

#!/usr/bin/env bash
# Builds everything and runs every test: the Release build with the core and window tests,
# then the same core tests and the fuzz corpora under AddressSanitizer and
# UndefinedBehaviorSanitizer. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

jobs=$(nproc)

echo "== Release build and tests"
# Configured for /usr as the Debian package is, so that the package test packs and checks
# the layout that gets shipped.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DPELORIN_BUILD_TESTS=ON \
  -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build build -j"$jobs"
QT_QPA_PLATFORM=offscreen ctest --test-dir build --output-on-failure -j"$jobs"

echo "== Sanitizer build, core tests and fuzz corpora"
CC=clang CXX=clang++ cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPELORIN_SANITIZE=ON -DPELORIN_FUZZ=ON -DPELORIN_BUILD_GUI=OFF -DPELORIN_BUILD_TESTS=ON >/dev/null
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs"

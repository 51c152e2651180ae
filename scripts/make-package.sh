#!/usr/bin/env bash
# Builds the Debian package pelorin_VERSION_amd64.deb from a Release build of its own
# (build-package/, no tests) and prints its path. Install it with
#     sudo apt install ./build-package/pelorin_*.deb
# which pulls in the libraries it needs; `sudo apt remove pelorin` takes it away again.
# The Maintainer field comes from PELORIN_PACKAGE_MAINTAINER when set ("Name <address>").
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

options=(-DCMAKE_BUILD_TYPE=Release -DPELORIN_BUILD_TESTS=OFF -DCMAKE_INSTALL_PREFIX=/usr)
if [ -n "${PELORIN_PACKAGE_MAINTAINER:-}" ]; then
  options+=("-DPELORIN_PACKAGE_MAINTAINER=$PELORIN_PACKAGE_MAINTAINER")
fi
if command -v ccache >/dev/null; then
  options+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B build-package -G Ninja "${options[@]}" >/dev/null
cmake --build build-package -j"$(nproc)"
rm -f build-package/pelorin_*.deb
(cd build-package && cpack -G DEB >/dev/null)
ls build-package/pelorin_*.deb

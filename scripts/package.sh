#!/usr/bin/env bash
# Builds the Debian package build/package/velktest_<version>_<arch>.deb with
# CPack from the build folder (reused when scripts/test.sh made it), then
# checks it with lintian.
#   sudo apt-get install ./build/package/velktest_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh --package
if [ -f build/CMakeCache.txt ]; then
  cmake -S . -B build >/dev/null # picks up help2man when it came just now
else
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build build -j"$(nproc)" --target VelkTest velkctl velk-sim package-files
rm -rf build/package
(cd build && cpack -G DEB >/dev/null)
deb=$(ls build/package/velktest_*.deb)
echo "package.sh: $deb"

if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net --explain build/packaging/ru.orbek.velktest.metainfo.xml
fi
# Errors fail; warnings are shown.
lintian --fail-on error "$deb"

#!/usr/bin/env bash
# Cross-builds velkctl.exe and velk-sim.exe for 64-bit Windows with MinGW-w64
# and packs them with a short README into build-windows/velktest-windows.zip.
#   scripts/build-windows.sh           the tools and the zip
#   scripts/build-windows.sh --tests   also the plain test programs (run them
#                                      under Wine with scripts/test-windows.sh)
# BUILD_DIR overrides the folder (default build-windows).
set -euo pipefail
cd "$(dirname "$0")/.."

tests=OFF
for arg in "$@"; do
  case "$arg" in
    --tests) tests=ON ;;
    *) echo "build-windows.sh: unknown option $arg (use --tests)" >&2; exit 64 ;;
  esac
done

build=${BUILD_DIR:-build-windows}
command -v x86_64-w64-mingw32-g++-posix >/dev/null || scripts/setup.sh --windows

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
  -DVELK_BUILD_TESTS="$tests" -DVELK_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null
cmake --build "$build" -j"${JOBS:-2}"

# The artefact: the two console programs and how to use them.
stage="$build/velktest-windows"
rm -rf "$stage" "$build/velktest-windows.zip"
mkdir -p "$stage"
cp "$build/tools/velkctl/velkctl.exe" "$build/tools/velk-sim/velk-sim.exe" "$stage/"
cp docs/windows/README.txt "$stage/README.txt"
(cd "$build" && cmake -E tar cf velktest-windows.zip --format=zip velktest-windows)
echo "build-windows.sh: $build/velktest-windows.zip"

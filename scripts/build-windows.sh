#!/usr/bin/env bash
# Cross-builds VelkTest for 64-bit Windows with MinGW-w64 against a static Qt
# (scripts/build-qt-windows.sh builds it once into ~/.cache/velktest) and
# packs the programs two ways:
#   build-windows/velktest-windows.zip                     VelkTest.exe, velkctl.exe,
#                                                          velk-sim.exe, README, licences
#   build-windows/package/velktest-<version>-windows-setup.exe  the same, as a 64-bit
#                                                          installer (NSIS) with a
#                                                          Start-menu entry and an uninstaller
#   scripts/build-windows.sh           the programs, the zip and the installer
#   scripts/build-windows.sh --tests   also the test programs (run them under
#                                      Wine with scripts/test-windows.sh)
# BUILD_DIR overrides the folder (default build-windows); VELK_QT_CACHE where
# the Qt for MinGW lives.
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
scripts/setup.sh --windows

qt_start=$(date +%s)
scripts/build-qt-windows.sh
qt=$(scripts/build-qt-windows.sh --print-prefix)
qt_source="qt6-base $(dpkg-query -W -f='${source:Version}' qt6-base-dev)"
echo "build-windows.sh: Qt for MinGW ready in $(($(date +%s) - qt_start)) s: $qt"

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
# Qt's own toolchain file loads the MinGW one Qt was built with.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$qt/lib/cmake/Qt6/qt.toolchain.cmake" \
  -DVELK_QT_SOURCE="$qt_source" \
  -DVELK_BUILD_TESTS="$tests" -DVELK_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null
cmake --build "$build" -j"${JOBS:-$(nproc)}"

# Nothing but Windows' own DLLs: Qt and the MinGW runtime are inside.
for exe in src/ui/VelkTest.exe tools/velkctl/velkctl.exe tools/velk-sim/velk-sim.exe; do
  dlls=$(x86_64-w64-mingw32-objdump -p "$build/$exe" | sed -n 's/^\tDLL Name: //p' | sort -f | tr '\n' ' ')
  echo "build-windows.sh: $exe imports $dlls"
  if echo "$dlls" | tr ' ' '\n' | grep -qiE '^(lib|qt[0-9]|zlib|icu)'; then
    echo "build-windows.sh: $exe needs a DLL that Windows does not have" >&2
    exit 1
  fi
done

# The zip: the programs, how to use them, the licences.
stage="$build/velktest-windows"
rm -rf "$stage" "$build/velktest-windows.zip"
DESTDIR= cmake --install "$build" --prefix "$stage" --strip >/dev/null
(cd "$build" && cmake -E tar cf velktest-windows.zip --format=zip velktest-windows)
echo "build-windows.sh: $build/velktest-windows.zip"

# The installer.
rm -rf "$build/package"
(cd "$build" && cpack -G NSIS >/dev/null)
echo "build-windows.sh: $(ls "$build"/package/velktest-*-windows-setup.exe)"

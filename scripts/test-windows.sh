#!/usr/bin/env bash
# The Windows build, tested under Wine: installs the cross compiler and Wine
# when missing, cross-builds the programs, the plain tests and the dialog's
# tests that need no Linux (and the zip and the installer), runs the tests
# under Wine, then velkctl.exe against the Linux velk-sim on a COM port of the
# Wine prefix (tests/windows/e2e.sh) and the dialog itself in a window
# (tests/windows/e2e-dialog.sh). Each step is timed.
# WINDOWS_BUILD_DIR (default build-windows) and HOST_BUILD_DIR (default
# build-host: the Linux tools without Qt) choose the folders; WINEPREFIX a
# booted prefix to reuse, else a fresh one is made and removed.
set -euo pipefail
cd "$(dirname "$0")/.."
windows=${WINDOWS_BUILD_DIR:-build-windows}
host=${HOST_BUILD_DIR:-build-host}
step_start=$(date +%s)
step() {
  local now
  now=$(date +%s)
  echo "test-windows: $1 ($((now - step_start)) s)"
  step_start=$now
}

scripts/setup.sh --windows --windows-e2e
export PATH=$PATH:/usr/lib/wine WINEDEBUG=-all DISPLAY=
step "packages"

own_prefix=""
if [ -z "${WINEPREFIX:-}" ]; then
  WINEPREFIX=$(mktemp -d)
  own_prefix=$WINEPREFIX
fi
export WINEPREFIX
wine=$(command -v wine || command -v wine64)
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  [ -n "$own_prefix" ] && rm -rf "$own_prefix"
  return 0
}
trap cleanup EXIT
# One boot per prefix; the server stays up (quietly) for every program after it.
if [ ! -d "$WINEPREFIX/dosdevices" ]; then
  "$wine" wineboot -i >/dev/null 2>&1
fi
# The dialog's tests list their own ports, COM1 to COM9, and each must open:
# the prefix maps them to /dev/ptmx, a fresh pseudo-terminal at every open,
# so that no test ever opens a serial port of the machine (a fresh prefix
# gives COM1 the machine's /dev/ttyS0; it moves past COM9).
for n in 1 2 3 4 5 6 7 8 9; do
  "$wine" reg add 'HKLM\Software\Wine\Ports' /v "COM$n" /d /dev/ptmx /f >/dev/null 2>&1
done
wineserver -k >/dev/null 2>&1 || true
"$wine" wineboot >/dev/null 2>&1
wineserver -p >/dev/null 2>&1 &
step "Wine prefix $WINEPREFIX"

BUILD_DIR=$windows scripts/build-windows.sh --tests
step "cross build"

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$host" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELK_WITH_QT=OFF \
  -DVELK_BUILD_TESTS=OFF -DVELK_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null
cmake --build "$host" -j"${JOBS:-2}" --target velk-sim velkctl
step "Linux velk-sim and velkctl (no Qt)"

ctest --test-dir "$windows" --output-on-failure -j"${JOBS:-2}"
step "tests under Wine"

# The end-to-end runs map COM5 and COM6 themselves: the tests' mapping goes
# (Wine would keep opening /dev/ptmx under those names).
wineserver -k >/dev/null 2>&1 || true
for n in 1 2 3 4 5 6 7 8 9; do
  "$wine" reg delete 'HKLM\Software\Wine\Ports' /v "COM$n" /f >/dev/null 2>&1 || true
done
rm -f "$WINEPREFIX"/dosdevices/com[1-9]
"$wine" wineboot >/dev/null 2>&1
wineserver -p >/dev/null 2>&1 &

tests/windows/e2e.sh "$host" "$windows"
step "end to end under Wine"

xvfb-run -a -s "-screen 0 1024x768x24" tests/windows/e2e-dialog.sh "$host" "$windows" \
  "$(ls "$windows"/package/velktest-*-windows-setup.exe)"
step "the dialog and its installer under Wine"

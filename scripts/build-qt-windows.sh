#!/usr/bin/env bash
# Builds a static Qt for 64-bit Windows (MinGW-w64) from Debian's own qt6-base
# source package and installs it into a cache outside the repository:
#   $VELK_QT_CACHE/qt-<version>-mingw-w64-static   (VELK_QT_CACHE defaults to
#   ~/.cache/velktest)
# Core, Gui, Widgets and Test with the windows, offscreen and minimal platform
# plugins. The host tools (moc, rcc, uic) are those of Debian's qt6-base-dev,
# so the version is the host's; it keys the cache. Does nothing when that Qt
# is already there.
#   scripts/build-qt-windows.sh                 build it when missing
#   scripts/build-qt-windows.sh --print-prefix  only print where it goes
# JOBS overrides the number of parallel jobs (default: every core).
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD

print_only=no
for arg in "$@"; do
  case "$arg" in
    --print-prefix) print_only=yes ;;
    *) echo "build-qt-windows.sh: unknown option $arg (use --print-prefix)" >&2; exit 64 ;;
  esac
done

# The host Qt's source version (e.g. 6.4.2+dfsg-10) names the source to build.
host_qt_version() {
  dpkg-query -W -f='${source:Version}' qt6-base-dev 2>/dev/null || true
}
src_version=$(host_qt_version)
if [ -z "$src_version" ]; then
  [ "$print_only" = yes ] && { echo "build-qt-windows.sh: qt6-base-dev is not installed" >&2; exit 1; }
  scripts/setup.sh
  src_version=$(host_qt_version)
fi
upstream=${src_version%%+*}
upstream=${upstream%%-*}
cache=${VELK_QT_CACHE:-$HOME/.cache/velktest}
prefix=$cache/qt-$upstream-mingw-w64-static
if [ "$print_only" = yes ]; then
  echo "$prefix"
  exit 0
fi
if [ -f "$prefix/.complete" ]; then
  echo "build-qt-windows.sh: Qt $upstream for MinGW-w64 is there: $prefix (0 s)"
  exit 0
fi

start=$(date +%s)
scripts/setup.sh --windows --qt-source
sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo

# Debian's source packages come through apt itself: a deb-src entry beside the
# system's deb entries (same addresses and suites) when there is none.
if ! apt-cache showsrc qt6-base 2>/dev/null | grep -q '^Package: qt6-base'; then
  sources=/etc/apt/sources.list.d/debian.sources
  [ -f "$sources" ] || { echo "build-qt-windows.sh: no $sources to derive a deb-src entry from" >&2; exit 1; }
  sed -n 's/^Types: deb$/Types: deb-src/; p' "$sources" |
    $sudo tee /etc/apt/sources.list.d/velktest-deb-src.sources >/dev/null
  $sudo apt-get update -qq
fi

src_root=$cache/src
mkdir -p "$src_root"
srcdir=$src_root/qt6-base-$upstream
if [ ! -f "$srcdir/.unpacked" ]; then
  rm -rf "$srcdir"
  (cd "$src_root" && apt-get source --download-only -qq "qt6-base=$src_version")
  dsc=$(ls "$src_root"/qt6-base_"${src_version#*:}".dsc)
  dpkg-source --no-check -x "$dsc" "$srcdir" >/dev/null # applies Debian's patches
  touch "$srcdir/.unpacked"
fi
echo "build-qt-windows.sh: source $srcdir ($(($(date +%s) - start)) s)"

# Qt's own toolchain file loads the one Qt was built with by its path, so
# that one lives in the cache beside the prefix, not in a checkout.
mkdir -p "$prefix"
toolchain=$cache/mingw-w64-x86_64.cmake
cp "$repo/cmake/mingw-w64-x86_64.cmake" "$toolchain"

build=$cache/build-qt-$upstream
rm -rf "$build"
mkdir -p "$build"
configure_start=$(date +%s)
# INPUT_opengl=no, not FEATURE_opengl=OFF: the latter leaves dynamic GL on and
# the windows plugin fails late. direct2d off needs directwrite3 off; Debian's
# source has no wintab.h, hence no tablet events.
cmake -S "$srcdir" -B "$build" -G Ninja -Wno-dev \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DQT_HOST_PATH=/usr \
  -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DQT_QMAKE_TARGET_MKSPEC=win32-g++ \
  -DBUILD_SHARED_LIBS=OFF \
  -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
  -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_dbus=OFF \
  -DINPUT_opengl=no -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF \
  -DFEATURE_xml=OFF -DFEATURE_vulkan=OFF -DFEATURE_direct2d=OFF \
  -DFEATURE_directwrite3=OFF -DFEATURE_tabletevent=OFF \
  >"$build/configure.log" 2>&1 || {
  tail -40 "$build/configure.log" >&2
  echo "build-qt-windows.sh: configure failed, see $build/configure.log" >&2
  exit 1
}
echo "build-qt-windows.sh: configured in $(($(date +%s) - configure_start)) s"

build_start=$(date +%s)
cmake --build "$build" --parallel "${JOBS:-$(nproc)}" >"$build/build.log" 2>&1 || {
  tail -40 "$build/build.log" >&2
  echo "build-qt-windows.sh: build failed, see $build/build.log" >&2
  exit 1
}
echo "build-qt-windows.sh: built in $(($(date +%s) - build_start)) s"
cmake --install "$build" >/dev/null
rm -rf "$build"
touch "$prefix/.complete"
echo "build-qt-windows.sh: Qt $upstream for MinGW-w64 in $prefix ($(du -sh "$prefix" | cut -f1)), $(($(date +%s) - start)) s in all"

#!/usr/bin/env bash
# Installs the Debian packages VelkTest needs, only those that are missing.
# Quiet and quick when everything is there; uses sudo when not root.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  fonts-liberation2
  libbenchmark-dev nlohmann-json3-dev libyaml-dev doctest-dev libcli11-dev
  bash-completion
)
# Extras by purpose: screenshots need Xvfb, fuzzing and sanitizers need clang,
# the Windows build the MinGW-w64 cross compiler, Wine for its tests and NSIS
# for its installer (dpkg-source to unpack Debian's Qt source for it; Xvfb,
# xdotool, ImageMagick and tesseract to drive and read its window), the
# artwork program Qt SVG, the Debian package help2man, lintian, appstream,
# the real-driver rig (scripts/test-uart.sh) QEMU, busybox and cpio.
for extra in "$@"; do
  case "$extra" in
    --screenshots) packages+=(xvfb xauth) ;;
    --fuzz) packages+=(clang libclang-rt-dev) ;;
    --windows) packages+=(g++-mingw-w64-x86-64-posix wine64 nsis) ;;
    --qt-source) packages+=(dpkg-dev) ;;
    --windows-e2e) packages+=(xvfb xauth xdotool imagemagick tesseract-ocr tesseract-ocr-rus) ;;
    --artwork) packages+=(qt6-svg-dev) ;;
    --package) packages+=(help2man lintian appstream dpkg-dev file) ;;
    --uart) packages+=(qemu-system-x86 busybox-static cpio) ;;
    *) echo "setup.sh: unknown option $extra (use --screenshots, --fuzz, --windows, --qt-source, --windows-e2e, --artwork, --package, --uart)" >&2; exit 64 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "setup.sh: need root or sudo to install: ${missing[*]}" >&2; exit 1; }
  sudo=sudo
fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null

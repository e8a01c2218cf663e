#!/usr/bin/env bash
# Sets up what is missing, builds, and runs VelkTest.
#
# Without a serial adapter on the machine (no ttyUSB/ttyACM/ttyAMA/ttymxc device
# and no link in the ports folder) it first starts the slave simulator velk-sim
# on the virtual port COM200 (registers scenario), so the dialog has a slave to
# talk to at once; the simulator stops when the program exits.
#   --sim      start the simulator even when an adapter is present
#   --no-sim   never start it
# Without a display (DISPLAY, WAYLAND_DISPLAY or QT_QPA_PLATFORM) it stops at
# once with status 69.
set -euo pipefail
cd "$(dirname "$0")/.."

want_sim=auto
for arg in "$@"; do
  case "$arg" in
    --sim) want_sim=yes ;;
    --no-sim) want_sim=no ;;
    *) echo "run.sh: unknown option $arg (use --sim or --no-sim)" >&2; exit 64 ;;
  esac
done

# Without a display Qt aborts at start; say so before building or starting anything.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "run.sh: no display (neither DISPLAY nor WAYLAND_DISPLAY is set), so VelkTest cannot open its window." >&2
  echo "run.sh: run it in a desktop session, or try it headless: scripts/setup.sh --screenshots && xvfb-run -a scripts/run.sh" >&2
  exit 69
fi

scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target VelkTest velk-sim

config="${XDG_CONFIG_HOME:-$HOME/.config}"
ports="$config/ORBEK/ports"

if [ "$want_sim" = auto ]; then
  want_sim=yes
  for dev in /dev/ttyUSB* /dev/ttyACM* /dev/ttyAMA* /dev/ttymxc* "$ports"/COM*; do
    if [ -e "$dev" ] && [ "$dev" != "$ports/COM200" ]; then
      want_sim=no
      break
    fi
  done
fi

sim_pid=""
cleanup() {
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
}
trap cleanup EXIT INT TERM

if [ "$want_sim" = yes ]; then
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  build/tools/velk-sim/velk-sim --com 200 --scenario registers --quiet >"$fifo" &
  sim_pid=$!
  read -r -t 10 ready <"$fifo" || true
  rm -f "$fifo"
  case "${ready:-}" in
    READY*) echo "velk-sim serves COM200 (${ready##* }): registers scenario" ;;
    *) echo "run.sh: velk-sim did not start" >&2; exit 69 ;;
  esac
  # First run with the simulator: preselect its port and a readable request.
  settings="$config/ORBEK/VelkTest.conf"
  if [ ! -e "$settings" ]; then
    mkdir -p "$(dirname "$settings")"
    printf '[General]\naddress_1=1\ncode=10\nindex=1\nportName=COM200\n' >"$settings"
  fi
fi

build/src/ui/VelkTest

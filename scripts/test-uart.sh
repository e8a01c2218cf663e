#!/usr/bin/env bash
# Real serial drivers in the loop: velkctl, velk-sim and tests/uart's probe in
# a small QEMU guest (Debian's own kernel, busybox) on two emulated adapters,
# a 16550 UART (ttyS1, the kernel's 8250 driver) and an FTDI USB adapter
# (ttyUSB0 on xHCI, ftdi_sio), each line's far end a pseudo-terminal here,
# served by the host's velk-sim or velkctl. One guest boot per adapter runs
# tests/uart/guest.sh: exchanges both ways at 9600, 115200 and the adapter's
# highest rate, rates the driver cannot set, RTS against the wire time, the
# scan, port names, and (FTDI) hot-unplug through QEMU's monitor. Prints one
# line per check with its figures and ends with "uart: all passed".
#
# Environment: UART_BUILD_DIR (default build; configured when missing),
# VELK_UART_CACHE (the unpacked kernel, default ~/.cache/velktest/uart),
# UART_ADAPTERS (default "16550 ftdi"), UART_GUEST_TIMEOUT (seconds a guest
# may run, default 200), UART_ACCEL (QEMU accelerator, default tcg),
# UART_KEEP (keep the work folder with the consoles and logs).
# Needs root for its installs (or sudo); the kernel package is only unpacked
# into the cache, never installed.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${UART_BUILD_DIR:-build}
cache=${VELK_UART_CACHE:-$HOME/.cache/velktest/uart}
adapters=${UART_ADAPTERS:-16550 ftdi}
guest_timeout=${UART_GUEST_TIMEOUT:-200}
accel=${UART_ACCEL:-tcg}
modules=(usb-common usbcore xhci-hcd xhci-pci usbserial ftdi_sio usbmon)

say() { echo "uart: $*"; }
fail_setup() {
  say "set-up failed: $*" >&2
  exit 1
}

scripts/setup.sh --uart

# ---- the programs ----------------------------------------------------------
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j2 --target velkctl velk-sim uart-probe >/dev/null
velkctl=$build/tools/velkctl/velkctl
velksim=$build/tools/velk-sim/velk-sim
probe=$build/tests/uart/uart-probe

# ---- the kernel: Debian's current 6.1 image, unpacked into the cache ------
kernel_package() {
  apt-cache depends linux-image-amd64 2>/dev/null |
    sed -n 's/^ *Depends: \(linux-image-[0-9][^ ]*-amd64\)$/\1/p' | head -1
}
find_kernel() {
  package=$(kernel_package)
  version=""
  [ -n "$package" ] && version=$(apt-cache policy "$package" | sed -n 's/^ *Candidate: //p')
  if [ -n "$package" ] && [ -n "$version" ] && [ "$version" != "(none)" ]; then
    kernel_dir=$cache/${package}_$version
  else
    # No package lists (offline): the newest kernel already in the cache.
    kernel_dir=$(ls -d "$cache"/linux-image-*_* 2>/dev/null | sort -V | tail -1)
  fi
}
find_kernel
if [ -z "$kernel_dir" ] || [ ! -f "$kernel_dir/vmlinuz" ]; then
  # A download follows: lists older than the mirror name a version it no
  # longer has.
  apt-get update -qq || true
  find_kernel
  [ -n "$package" ] && [ -n "$version" ] ||
    fail_setup "no kernel package (apt-cache depends linux-image-amd64)"
fi
if [ ! -f "$kernel_dir/vmlinuz" ]; then
  unpack=$(mktemp -d)
  trap 'rm -rf "$unpack"' EXIT
  chmod 755 "$unpack" # apt's download user writes here
  (cd "$unpack" && apt-get download -q "$package=$version" >/dev/null 2>&1) ||
    fail_setup "apt-get download $package=$version"
  dpkg-deb -x "$unpack"/*.deb "$unpack/x"
  mkdir -p "$unpack/keep/modules"
  cp "$unpack"/x/boot/vmlinuz-* "$unpack/keep/vmlinuz"
  for module in "${modules[@]}"; do
    found=$(find "$unpack/x/lib/modules" -name "$module.ko*" | head -1)
    [ -n "$found" ] || fail_setup "module $module missing in $package"
    cp "$found" "$unpack/keep/modules/"
  done
  mkdir -p "$cache"
  rm -rf "$kernel_dir"
  mv "$unpack/keep" "$kernel_dir"
  rm -rf "$unpack"
  trap - EXIT
fi
say "kernel $(basename "$kernel_dir")"

# ---- the initramfs -----------------------------------------------------------
work=$(mktemp -d /tmp/velk-uart.XXXXXX)
qemu_pid=""
sim_pid=""
tail_pid=""
cleanup() {
  for pid in $qemu_pid $sim_pid $tail_pid; do
    kill -KILL "$pid" 2>/dev/null || true
  done
  wait 2>/dev/null || true
  if [ -n "${UART_KEEP:-}" ]; then
    say "kept $work"
  else
    rm -rf "$work"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

image=$work/root
mkdir -p "$image/bin" "$image/velk/bin" "$image/velk/modules"
cp /bin/busybox "$image/bin/busybox"
for program in "$velkctl" "$velksim" "$probe"; do
  cp "$program" "$image/velk/bin/"
  # The shared libraries at their own paths, the loader included.
  for lib in $(ldd "$program" | grep -o '/[^ ]*'); do
    cp -L --parents "$lib" "$image/" 2>/dev/null || true
  done
done
cp "$kernel_dir"/modules/*.ko* "$image/velk/modules/"
cp tests/uart/init.sh "$image/init"
cp tests/uart/guest.sh "$image/velk/guest.sh"
chmod 755 "$image/init"
(cd "$image" && find . | cpio -o -H newc --quiet) | gzip -1 >"$work/initrd.gz"

# ---- one guest per adapter -------------------------------------------------
# How fast this machine runs a round of the probe's fixed work: the guest
# scales its CPU figures by it (the emulator runs everything slower).
calibration=$("$probe" calibrate)
say "host: $calibration ns per calibration round"
passed=0
failed=0
declare -A figure

verdict() { # PASS|FAIL TEXT
  if [ "$1" = PASS ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
  fi
  say "$adapter $1 ${*:2}"
}

monitor() { # a command on QEMU's monitor, and a moment for it to act
  echo "$*" >&"$mon"
  sleep 0.5
}

# The pseudo-terminal of QEMU's chardev "line", from the monitor.
line_pty() {
  local before
  before=$(wc -l <"$dir/monitor.log")
  echo "info chardev" >&"$mon"
  for _ in $(seq 50); do
    local pty
    pty=$(tail -n +"$((before + 1))" "$dir/monitor.log" | tr -d '\r' |
      sed -n 's/^line: filename=pty:\(\/dev\/pts\/[0-9]*\).*/\1/p' | tail -1)
    if [ -n "$pty" ]; then
      echo "$pty"
      return 0
    fi
    sleep 0.1
  done
  return 1
}

# Keeps the line's far end open, so that QEMU never sees it hang up between
# two programs there (it would look again only once a second), and raw.
hold_line() {
  exec {hold}<>"$pty"
  stty -F "$pty" raw -echo
}

stop_sim() {
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
    sim_pid=""
  fi
}
sim_args=()
start_sim() {
  stop_sim
  sim_args=("$@")
  "$velksim" --device "$pty" --quiet "$@" </dev/null >"$dir/sim.out" 2>&1 &
  sim_pid=$!
  for _ in $(seq 100); do
    grep -q READY "$dir/sim.out" && return 0
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.05
  done
  say "$adapter velk-sim on $pty did not start: $(cat "$dir/sim.out")" >&2
  return 1
}

# velkctl here against the guest's velk-sim: NAME EXPECT ARGS...
run_ctl() {
  local name=$1 expect=$2 figures status=PASS
  shift 2
  "$velkctl" --port "$pty" --json "$@" </dev/null >"$dir/ctl.json" 2>"$dir/ctl.err" || true
  figures=$("$probe" exchanges ${expect//+/ } <"$dir/ctl.json") || status=FAIL
  verdict "$status" "${name//-/ }: $figures"
}

host_action() { # the guest's request; answers on the console
  local action=$1 ok=1
  shift
  case "$action" in
  sim) start_sim "$@" || ok=0 ;;
  simstop) stop_sim ;;
  ctl) run_ctl "$@" ;;
  unplug)
    monitor "device_del ftdi"
    ;;
  replug)
    # The chardev may have gone with the device: make it again, at a new
    # pseudo-terminal, and serve that.
    if ! line_pty >/dev/null; then
      monitor "chardev-add pty,id=line"
    fi
    monitor "device_add usb-serial,chardev=line,id=ftdi,bus=xhci.0"
    local now
    now=$(line_pty) || ok=0
    if [ "$ok" = 1 ] && [ "$now" != "$pty" ]; then
      exec {hold}>&-
      pty=$now
      hold_line
    fi
    [ "$ok" = 1 ] && start_sim "${sim_args[@]}" || ok=0
    ;;
  *) ok=0 ;;
  esac
  if [ "$ok" = 1 ]; then
    echo "@@ok" >&"$con"
  else
    echo "@@fail" >&"$con"
  fi
}

for adapter in $adapters; do
  dir=$work/$adapter
  mkdir -p "$dir"
  case "$adapter" in
  16550) devices=(-chardev pty,id=line -device isa-serial,chardev=line,index=1) ;;
  ftdi)
    devices=(-device qemu-xhci,id=xhci -chardev pty,id=line
      -device usb-serial,chardev=line,id=ftdi,bus=xhci.0)
    ;;
  *) fail_setup "unknown adapter $adapter" ;;
  esac
  mkfifo "$dir/console.in" "$dir/mon.in" "$dir/mon.out"
  exec {con}<>"$dir/console.in"
  exec {mon}<>"$dir/mon.in"
  exec {monout}<>"$dir/mon.out"
  cat <&"$monout" >"$dir/monitor.log" &
  tail_pid=$!
  started=$(date +%s)
  # QEMU dies with this script, however it ends (--pdeathsig).
  setpriv --pdeathsig KILL -- qemu-system-x86_64 -accel "$accel" -m 256M -smp 1 \
    -nodefaults -display none -no-reboot -serial stdio -monitor pipe:"$dir/mon" \
    -kernel "$kernel_dir/vmlinuz" -initrd "$work/initrd.gz" \
    -append "console=ttyS0 loglevel=1 panic=-1 rdinit=/init velk_adapter=$adapter velk_calibration=$calibration" \
    "${devices[@]}" <"$dir/console.in" >"$dir/console.log" 2>"$dir/qemu.err" &
  qemu_pid=$!
  pty=$(line_pty) || fail_setup "QEMU gave no pseudo-terminal: $(cat "$dir/qemu.err")"
  hold_line
  done_seen=0
  watchdog=0
  deadline=$((started + guest_timeout))
  exec {console}< <(tail -n +1 -f --pid="$qemu_pid" "$dir/console.log" </dev/null)
  while :; do
    status=0
    IFS= read -r -t 5 raw <&"$console" || status=$?
    if [ "$status" -gt 128 ]; then
      # A time-out: only the watchdog's turn.
      if [ "$(date +%s)" -ge "$deadline" ]; then
        watchdog=1
        kill -KILL "$qemu_pid" 2>/dev/null || true
      fi
      continue
    fi
    [ "$status" -eq 0 ] || break
    line=${raw%$'\r'}
    case "$line" in
    "@@check "*)
      rest=${line#@@check }
      verdict "${rest%% *}" "${rest#* }"
      ;;
    "@@figure "*)
      rest=${line#@@figure }
      figure[$adapter.${rest%% *}]=${rest#* }
      ;;
    "@@host "*)
      # shellcheck disable=SC2086
      host_action ${line#@@host } </dev/null
      ;;
    "@@done"*) done_seen=1 ;;
    esac
  done
  exec {console}<&-
  wait "$qemu_pid" && status=0 || status=$?
  qemu_pid=""
  stop_sim
  exec {hold}>&- {con}>&- {mon}>&-
  kill "$tail_pid" 2>/dev/null || true
  exec {monout}>&-
  tail_pid=""
  if [ "$done_seen" = 1 ] && [ "$status" = 0 ]; then
    verdict PASS "guest: booted, ran its checks and powered off in $(($(date +%s) - started)) s"
  else
    verdict FAIL "guest: ended with status $status after $(($(date +%s) - started)) s$(
      [ "$watchdog" = 1 ] && echo ", stopped by the watchdog")"
    tail -20 "$dir/console.log" | sed 's/^/uart:   console: /'
    sed 's/^/uart:   qemu: /' "$dir/qemu.err"
  fi
done

# The FTDI adapter's exchange beside the 16550's: at most 5 ms at 115200, or
# where the emulator is slow on a loaded machine, no slower than the 16550's
# by more than the emulated USB's own share (half again; the drain that
# waited for nothing made it ten times).
if [ -n "${figure[ftdi.echo115200]:-}" ] && [ -n "${figure[16550.echo115200]:-}" ]; then
  adapter=ftdi
  ftdi=${figure[ftdi.echo115200]} uart=${figure[16550.echo115200]}
  status=FAIL
  awk -v f="$ftdi" -v u="$uart" 'BEGIN { exit !(f <= 5 || f <= 1.5 * u) }' && status=PASS
  verdict "$status" "exchange at 115200: median $ftdi ms (16550: $uart ms; limit 5 ms or 1.5 times" \
    "the 16550's)"
fi

say "$passed passed, $failed failed"
if [ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]; then
  say "all passed"
else
  exit 1
fi

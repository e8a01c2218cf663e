#!/usr/bin/env bash
# End to end under Wine: the Linux velk-sim serves a pseudo-terminal that the
# Wine prefix maps as COM5; velkctl.exe and the Linux velkctl each run the same
# exchanges against it, and their answers must agree (times left out).
#   tests/windows/e2e.sh LINUX_BUILD WINDOWS_BUILD
# LINUX_BUILD holds tools/velk-sim/velk-sim and tools/velkctl/velkctl;
# WINDOWS_BUILD holds tools/velkctl/velkctl.exe. WINEPREFIX must be a booted prefix.
set -euo pipefail
linux=$1
windows=$2
wine=$(command -v wine || command -v wine64 || echo /usr/lib/wine/wine64)
work=$(mktemp -d)
export XDG_CONFIG_HOME=$work/config
sim_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -f "$WINEPREFIX/dosdevices/com5" "$WINEPREFIX/dosdevices/com6"
  rm -rf "$work"
}
trap cleanup EXIT
failures=0

start_sim() { # scenario [log]: with "log" velk-sim logs every request and answer
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null || true
  local quiet=--quiet
  [ "${2:-}" = log ] && quiet=
  "$linux/tools/velk-sim/velk-sim" --com 5 $quiet --scenario "$1" >"$work/sim.out" 2>&1 &
  sim_pid=$!
  for _ in $(seq 50); do
    grep -q '^READY' "$work/sim.out" && break
    sleep 0.1
  done
  local pts
  pts=$(awk '/^READY/ {print $3}' "$work/sim.out")
  [ -n "$pts" ] || { echo "e2e: velk-sim did not start"; cat "$work/sim.out"; exit 1; }
  ln -sfn "$pts" "$WINEPREFIX/dosdevices/com5"
}

# The record without its time stamp and response time.
normalise() {
  sed -E 's/^#([0-9]+) [^ ]+ COM5 [0-9.]+ ms:/#\1 COM5:/; s/(response ms:).*/\1 .../'
}

check() { # name expected-status scenario velkctl-arguments...
  local name=$1 expected=$2 scenario=$3
  shift 3
  start_sim "$scenario"
  local win_status=0 linux_status=0
  "$wine" "$windows/tools/velkctl/velkctl.exe" --port COM5 "$@" >"$work/win.out" 2>"$work/win.err" ||
    win_status=$?
  "$linux/tools/velkctl/velkctl" --port COM5 "$@" >"$work/linux.out" 2>"$work/linux.err" ||
    linux_status=$?
  tr -d '\r' <"$work/win.out" | normalise >"$work/win.txt"
  normalise <"$work/linux.out" >"$work/linux.txt"
  if [ "$win_status" != "$expected" ] || [ "$linux_status" != "$expected" ] ||
     ! diff -u "$work/linux.txt" "$work/win.txt" >"$work/diff"; then
    echo "e2e: FAIL $name (status Windows $win_status, Linux $linux_status, expected $expected)"
    cat "$work/diff" "$work/win.err"
    failures=$((failures + 1))
    return
  fi
  echo "e2e: ok   $name"
  grep -E '^#|Rx data' "$work/win.txt" | head -2 | sed 's/^/      /'
}

check "echo" 0 echo --address 1 --code 5 --index 2 --data 1,2,3,4
check "echo with extended blocks" 0 echo --address 1 --code 7 --ef --wts --ext 1,2,3,4,5,6,7,8,9
check "registers: write" 0 registers --address 1 --code 10 --index 3 --wts --value 12.5 --type REAL32FIX --rx-type REAL32FIX
check "registers: unknown code" 0 registers --address 1 --code 99
check "extended data (40 bytes)" 0 extended=40 --address 2 --code 1 --count 3 --cycle 20
check "silent slave" 5 silent --address 1 --code 5

# The silent slave's time-out under Wine: about 151 ms per exchange.
start_sim silent
"$wine" "$windows/tools/velkctl/velkctl.exe" --port COM5 --address 1 --json >"$work/silent.json" || true
ms=$(sed -nE 's/.*"response_ms":([0-9.]+).*/\1/p' "$work/silent.json" | head -1)
if [ -z "$ms" ] || ! awk -v ms="$ms" 'BEGIN { exit !(ms >= 150 && ms < 600) }'; then
  echo "e2e: FAIL silent slave time-out: '${ms}' ms (expected about 151)"
  cat "$work/silent.json"
  failures=$((failures + 1))
else
  echo "e2e: ok   silent slave ends with code 5 after $ms ms"
fi

# Ctrl-C ends a run at once, in the middle of an exchange: the cut exchange is
# not counted, the summary is printed, the exit status is 130. Wine turns a
# Ctrl-C typed on the terminal it runs in into the console's CTRL_C_EVENT, so
# velkctl.exe runs on a pseudo-terminal (script) whose input is a FIFO here.
# The answer trickles for hours; the long byte time-out keeps a loaded machine
# from ending it.
start_sim extended=65535,slow=100 log
mkfifo "$work/keys"
script -qfec "'$wine' '$windows/tools/velkctl/velkctl.exe' --port COM5 --address 5 --json \
  --timeout 2000 --cycle 10 >'$work/ctrlc.out' 2>'$work/ctrlc.err'" /dev/null \
  <"$work/keys" >/dev/null 2>&1 &
script_pid=$!
exec 3>"$work/keys"
for _ in $(seq 100); do
  grep -q 'ANS' "$work/sim.out" && break
  sleep 0.1
done
sleep 0.3 # well into the answer
printf '\003' >&3
ctrlc_status=0
started=$(date +%s%N)
# Generous against a loaded machine; a run that ignores Ctrl-C goes on for hours.
for _ in $(seq 100); do
  kill -0 "$script_pid" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$script_pid" 2>/dev/null; then
  kill "$script_pid" 2>/dev/null
  ctrlc_status=timeout
fi
wait "$script_pid" || ctrlc_status=$?
exec 3>&-
ended_ms=$((($(date +%s%N) - started) / 1000000))
summary=$(tr -d '\r' <"$work/ctrlc.out" | tail -1)
if [ "$ctrlc_status" != 130 ] || [ "$(tr -d '\r' <"$work/ctrlc.out" | wc -l)" != 1 ] ||
   ! grep -q '"type":"summary"' <<<"$summary"; then
  echo "e2e: FAIL Ctrl-C (status $ctrlc_status, expected 130 and one summary line)"
  cat "$work/ctrlc.out" "$work/ctrlc.err"
  failures=$((failures + 1))
else
  echo "e2e: ok   Ctrl-C mid-exchange ends velkctl.exe in $ended_ms ms with status 130"
  echo "      $summary"
fi

# Ports that do not open say why, as on Linux: a COM number nothing maps, and a
# COM name that leads to a regular file.
open_failure() { # name port expected-message
  local status=0
  "$wine" "$windows/tools/velkctl/velkctl.exe" --port "$2" --address 1 >/dev/null 2>"$work/open.err" ||
    status=$?
  if [ "$status" != 74 ] || ! tr -d '\r' <"$work/open.err" | grep -qxF "$3"; then
    echo "e2e: FAIL $1 (status $status, expected 74 and: $3)"
    cat "$work/open.err"
    failures=$((failures + 1))
  else
    echo "e2e: ok   $1: $3"
  fi
}
open_failure "missing port" COM231 'velkctl: cannot open port COM231 (\\.\COM231): no such device'
: >"$work/regular-file"
ln -sfn "$work/regular-file" "$WINEPREFIX/dosdevices/com6"
open_failure "port that is a regular file" COM6 \
  'velkctl: cannot open port COM6 (\\.\COM6): not a terminal (no serial device)'

# The console services of the platform utilities need a console: Wine makes the
# terminal one. The test program checks clearConsole and openDebugConsole there.
utils="$windows/tests/plain/plain_platformutils_win.exe"
if [ -f "$utils" ]; then
  console_status=0
  script -qfec "'$wine' '$utils' --console" /dev/null </dev/null >/dev/null 2>&1 || console_status=$?
  if [ "$console_status" != 0 ]; then
    echo "e2e: FAIL console services on a terminal (check $console_status)"
    failures=$((failures + 1))
  else
    echo "e2e: ok   console services on a terminal: cleared, debug console of 512 lines"
  fi
fi

[ "$failures" -eq 0 ] || { echo "e2e: $failures failed"; exit 1; }
echo "e2e: all passed"

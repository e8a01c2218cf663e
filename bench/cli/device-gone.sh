#!/usr/bin/env bash
# Probe: velkctl in a cyclic run while its slave is gone and when it comes
# back. Prints the CPU share velkctl takes while the device is gone, the time
# from the slave's return to the first answer OK, and the exit time after
# SIGINT in the middle of a never-ending answer.
#   bench/cli/device-gone.sh [BUILD_DIR] [PERIOD_MS] [GONE_SECONDS]
set -euo pipefail
build=$(realpath "${1:-build}")
period=${2:-1}
gone_s=${3:-10}
sim=$build/tools/velk-sim/velk-sim
ctl=$build/tools/velkctl/velkctl
work=$(mktemp -d)
export XDG_CONFIG_HOME=$work
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT
com=231
link=$work/ORBEK/ports/COM$com

ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
now_ms() { date +%s%3N; }
wait_line() { # file pattern timeout_s
  local end=$(($(date +%s) + $3))
  until grep -q "$2" "$1" 2>/dev/null; do
    [ "$(date +%s)" -lt "$end" ] || return 1
    sleep 0.01
  done
}

"$sim" --com $com --quiet >"$work/sim1" &
sim_pid=$!
wait_line "$work/sim1" READY 5
"$ctl" --port COM$com --address 5 --cycle "$period" --json >"$work/out" 2>"$work/err" &
ctl_pid=$!
wait_line "$work/out" '"error_code":0' 5

kill -9 $sim_pid
wait $sim_pid 2>/dev/null || true
rm -f "$link"
sleep 0.5
t0=$(ticks $ctl_pid)
ms0=$(now_ms)
sleep "$gone_s"
t1=$(ticks $ctl_pid)
ms1=$(now_ms)
hz=$(getconf CLK_TCK)
awk -v t=$((t1 - t0)) -v hz="$hz" -v ms=$((ms1 - ms0)) -v p="$period" \
  'BEGIN { printf "velkctl --cycle %s, device gone %.1f s: CPU %.3f %% of a core\n", p, ms / 1000, 100 * t / hz / (ms / 1000) }'
before=$(grep -c '"type":"exchange"' "$work/out")

back_ms=$(now_ms)
"$sim" --com $com --quiet >"$work/sim2" &
sim_pid=$!
wait_line "$work/sim2" READY 5
until tail -n +$((before + 1)) "$work/out" | grep -q '"error_code":0'; do
  [ $(($(now_ms) - back_ms)) -lt 10000 ] || { echo "no answer OK within 10 s" >&2; exit 1; }
  sleep 0.005
done
echo "first answer OK $(($(now_ms) - back_ms)) ms after the slave was started again"
kill -INT $ctl_pid
wait $ctl_pid || true
kill $sim_pid
wait $sim_pid 2>/dev/null || true

# Ctrl-C in the middle of an answer that would last hours.
"$sim" --com $com --quiet --scenario extended=65535,slow=100 >"$work/sim3" &
sim_pid=$!
wait_line "$work/sim3" READY 5
"$ctl" --port COM$com --address 5 --timeout 2000 --json >/dev/null 2>&1 &
ctl_pid=$!
sleep 1
t=$(now_ms)
kill -INT $ctl_pid
status=0
wait $ctl_pid || status=$?
echo "exit $status $(($(now_ms) - t)) ms after SIGINT mid-answer"

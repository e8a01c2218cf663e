#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer + UndefinedBehaviorSanitizer)
# and runs each for a bounded time.
#
#   scripts/fuzz.sh                       every target, 20 s each
#   FUZZ_SECONDS=600 scripts/fuzz.sh fuzz_session_receive
#   scripts/fuzz.sh --list                the targets
#
# FUZZ_SECONDS   time per target (default 20)
# FUZZ_BUILD_DIR build folder (default build-fuzz; CI passes its ASan folder)
# The corpus grows in $FUZZ_BUILD_DIR/fuzz/corpus/<target>, starting from the
# seeds that velk-fuzz-seeds writes to $FUZZ_BUILD_DIR/fuzz/seeds. A crash is
# saved as $FUZZ_BUILD_DIR/fuzz/artifacts/<target>-crash-*; replay it with
#   $FUZZ_BUILD_DIR/fuzz/bin/<target> <file>
# The script fails when any target found something.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-20}
build=${FUZZ_BUILD_DIR:-build-fuzz}
all=(fuzz_data_block fuzz_address_block fuzz_extended_block fuzz_parameter_value
     fuzz_session_receive fuzz_ui_settings fuzz_plan_json fuzz_plan_yaml fuzz_bus_decoder)

if [ "${1:-}" = "--list" ]; then
  printf '%s\n' "${all[@]}"
  exit 0
fi
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=("${all[@]}")
for t in "${targets[@]}"; do
  [[ " ${all[*]} " == *" $t "* ]] || { echo "fuzz.sh: unknown target $t (see --list)" >&2; exit 64; }
done

scripts/setup.sh --fuzz
if [ ! -f "$build/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVELK_SANITIZE=address -DVELK_BUILD_FUZZ=ON -DVELK_BUILD_BENCH=OFF >/dev/null
fi
cmake --build "$build" -j2 --target velk-fuzz-seeds "${targets[@]}"

bin=$build/fuzz/bin
seeds=$build/fuzz/seeds
rm -rf "$seeds"
"$bin/velk-fuzz-seeds" "$seeds"
mkdir -p "$build/fuzz/artifacts"

# Leaks are reported by LeakSanitizer at the end of each run; a hang of more
# than 10 s in one input counts as a finding.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# Third-party leaks that are not ours to fix are listed in .ci/lsan.supp.
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/.ci/lsan.supp:print_suppressions=0}
export QT_QPA_PLATFORM=offscreen
failed=()
for t in "${targets[@]}"; do
  corpus=$build/fuzz/corpus/$t
  mkdir -p "$corpus"
  log=$build/fuzz/$t.log
  echo "== $t: ${seconds} s"
  set +e
  "$bin/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$build/fuzz/artifacts/$t-" "$corpus" "$seeds/$t" >"$log" 2>&1
  rc=$?
  set -e
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  echo "   ${runs:-?} executions (${rate:-?}/s), corpus $(ls "$corpus" | wc -l) inputs, exit $rc"
  if [ $rc -ne 0 ]; then
    failed+=("$t")
    # The whole report, so that a finding on a CI machine can be read from its log.
    sed -n '/ERROR\|invariant broken/,$p' "$log" | head -80 || true
  fi
done

if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzz.sh: findings in ${failed[*]} (logs in $build/fuzz/)" >&2
  exit 1
fi
echo "fuzz.sh: no findings"

#!/usr/bin/env bash
# Runs every velkctl and velk-sim command line that the documentation shows
# (the READMEs, the man pages as help2man makes them from the tools' help, and
# what the bash completion scripts offer) against velk-sim on
# pseudo-terminals, and compares what each printed, and its exit status, with
# the record in expected.txt: docs and tools cannot drift apart unnoticed.
#   doc_commands.sh SOURCE_DIR BUILD_DIR [--record]
# --record writes the record instead of comparing. Times, time stamps and
# terminal numbers are left out of it. Every COM name a command uses is served
# by a velk-sim of the test's own (XDG_CONFIG_HOME must be a fresh folder), and
# a device path such as /dev/ttyUSB0 is replaced by one, so no real port is
# ever opened.
set -uo pipefail
source_dir=$(cd "$1" && pwd)
build_dir=$(cd "$2" && pwd)
record=${3:-}
expected=$source_dir/tests/docs/expected.txt
: "${XDG_CONFIG_HOME:?run through CTest, with a fresh XDG_CONFIG_HOME}"

work=$(mktemp -d)
sims=()
cleanup() {
  local pid
  for pid in "${sims[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/bin" "$work/run"
ln -s "$build_dir/tools/velkctl/velkctl" "$work/bin/velkctl"
ln -s "$build_dir/tools/velk-sim/velk-sim" "$work/bin/velk-sim"
ln -s "$source_dir/examples" "$work/run/examples"
export PATH=$work/bin:$PATH
out=$work/actual.txt
: >"$out"

# What changes from run to run: times, time stamps, terminal numbers, folders.
normalise() {
  sed -E -e "s#$work#WORK#g" \
    -e 's/[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3}[+-][0-9]{2}:[0-9]{2}/TIME/g' \
    -e 's/timestamp="[^"]*"/timestamp="TIME"/g' \
    -e 's/[0-9]+\.[0-9]{3}/T/g' \
    -e 's#/dev/pts/[0-9]+#/dev/pts/N#g' \
    -e 's/^ *[0-9]+ us +[+-][0-9]+ us/US/' \
    -e 's/"(time_us|gap_us)":[0-9]+/"\1":N/g' \
    -e 's/port [^ ]+ open again after T ms/port P open again/'
}

# Starts velk-sim with the arguments, its output in $1; waits for READY.
# Sets sim_pid.
start_sim() {
  local log=$1
  shift
  : >"$log" # before the start: a READY left in it must not count
  velk-sim "$@" >>"$log" 2>&1 &
  sim_pid=$!
  sims+=("$sim_pid")
  local i
  for ((i = 0; i < 100; i++)); do
    grep -q '^READY' "$log" 2>/dev/null && return 0
    kill -0 "$sim_pid" 2>/dev/null || return 1
    sleep 0.05
  done
  return 1
}

stop_sim() { # pid: SIGINT, as Ctrl+C; sets stopped_status to the exit status
  kill -INT "$1" 2>/dev/null
  stopped_status=0
  wait "$1" 2>/dev/null || stopped_status=$?
}

entry() { # source command
  printf '=== %s\n$ %s\n' "$1" "$2" >>"$out"
}

section() { # title file
  if [ -s "$2" ]; then
    printf -- '--- %s\n' "$1" >>"$out"
    normalise <"$2" >>"$out"
    [ -n "$(tail -c1 "$2")" ] && echo >>"$out"
  fi
}

served=() # COM numbers a simulator of the current block serves
block_sims=()
end_block() {
  local i
  for i in "${!block_sims[@]}"; do
    stop_sim "${block_sims[$i]}"
    # Its first line: the log of the requests may miss one on a loaded machine.
    head -1 "$work/block-sim-$i.out" >"$work/block-sim.head"
    section "simulator started with &" "$work/block-sim.head"
    printf -- '--- simulator exit %s\n' "$stopped_status" >>"$out"
  done
  block_sims=()
  served=()
}

# The COM name that stands in for a device path (/dev/ttyUSB0) of the docs.
stand_in=COM250

run_command() { # source command
  local source=$1 command=$2 run=$2
  run=${run%%#*} # a comment
  run=${run%"${run##*[![:space:]]}"}
  entry "$source" "$run"
  run=${run//\/dev\/ttyUSB0/$stand_in}
  local background=0
  if [[ $run == *'&' ]]; then
    background=1
    run=${run%&}
  fi
  rm -f "$work/stdout" "$work/stderr"
  local -a words
  read -r -a words <<<"$run"
  local tool=${words[0]} i com="" port=""
  for ((i = 1; i < ${#words[@]}; i++)); do
    case ${words[i]} in
      --port | --com | --device) port=${words[i + 1]:-} ;;
    esac
  done
  [[ ${words[*]} == *--com\ * ]] && com=$port
  [[ $port =~ ^COM([0-9]+)$ ]] && port=${BASH_REMATCH[1]}

  if [ "$tool" = velk-sim ] && [ $background = 1 ]; then
    local n=${#block_sims[@]}
    # shellcheck disable=SC2086
    start_sim "$work/block-sim-$n.out" ${run#velk-sim }
    block_sims+=("$sim_pid")
    served+=("$com")
    return
  fi

  # A port no simulator of the block serves gets one for this command: a
  # plain one to be monitored or served again, else the registers scenario.
  local helper=""
  if [[ $port =~ ^[0-9]+$ ]] && [ -n "$port" ] && [ -z "$com" ] &&
    [[ " ${served[*]} " != *" $port "* ]]; then
    local scenario=(--scenario registers)
    [[ $run == *' monitor '* || $tool == velk-sim ]] && scenario=()
    start_sim "$work/helper.out" --com "$port" --quiet "${scenario[@]}" || {
      echo "--- no simulator for COM$port" >>"$out"
      return
    }
    helper=$sim_pid
  fi

  local status=0
  if [[ $tool == velk-sim && $run != *--help* ]] ||
    [[ $run == *' monitor '*--port* && $run != *--duration* ]]; then
    # Runs until Ctrl+C: given half a second, then stopped as Ctrl+C would.
    (cd "$work/run" && exec bash -c "exec $run" >"$work/stdout" 2>"$work/stderr") &
    local pid=$!
    sims+=("$pid")
    for ((i = 0; i < 10; i++)); do
      sleep 0.05
      kill -0 "$pid" 2>/dev/null || break
    done
    sleep 0.5
    stop_sim "$pid"
    status=$stopped_status
  else
    (cd "$work/run" && timeout 300 bash -c "$run" >"$work/stdout" 2>"$work/stderr") || status=$?
  fi
  section stdout "$work/stdout"
  section stderr "$work/stderr"
  printf -- '--- exit %s\n' "$status" >>"$out"
  local file
  for file in $(grep -oE '(> *|--junit +)[^ ]+' <<<"$run" | sed -E 's/^(> *|--junit +)//'); do
    section "file $file" "$work/run/$file"
  done
  if [ -n "$helper" ]; then
    stop_sim "$helper"
  fi
}

# The command lines of a Markdown file: the indented code lines that start
# with a tool (a blank line ends a block), and code spans in the text.
markdown_commands() { # file
  local file=$1 name line in_block=0
  name=${file#"$source_dir"/}
  while IFS= read -r line; do
    if [[ $line =~ ^\ {4}(velkctl|velk-sim)\  ]]; then
      in_block=1
      run_command "$name" "${line#    }"
      continue
    fi
    if [[ $line =~ ^\ {4} ]]; then
      continue # another command of the block
    fi
    if [ $in_block = 1 ]; then
      end_block
      in_block=0
    fi
    local rest=$line span
    while [[ $rest =~ \`((velkctl|velk-sim)\ [^\`]*)\` ]]; do
      span=${BASH_REMATCH[1]}
      rest=${rest#*"\`$span\`"}
      run_command "$name" "$span"
      end_block
    done
  done <"$file"
  end_block
}

markdown_commands "$source_dir/README.md"
markdown_commands "$source_dir/tools/velk-sim/README.md"

# The man pages: help2man turns the full help (the tool's and each command's)
# and the .h2m file into the page; its examples are command lines too.
for tool in velkctl velk-sim; do
  page=$work/$tool.help
  sh "$source_dir/packaging/full-help.sh" "$work/bin/$tool" --help >"$page" 2>&1
  run_command "man page of $tool" "$tool --help"
  cat "$source_dir/packaging/$tool.h2m" >>"$page"
  grep -E "^ +$tool " "$page" | sed -E 's/^ +//' | while IFS= read -r line; do
    run_command "man page of $tool" "$line"
  done
done
# The while loop above ran in a subshell: no block is left open.

# The completion scripts: what each offers after a command line.
completion=/usr/share/bash-completion/bash_completion
if [ -r "$completion" ]; then
  complete_line() { # script line: the words offered, one a line
    bash -c '
      source "$1" 2>/dev/null
      source "$2"
      line=$3
      read -r -a COMP_WORDS <<<"$line"
      [[ $line == *" " ]] && COMP_WORDS+=("")
      COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
      COMP_LINE=$line
      COMP_POINT=${#line}
      complete -p "${COMP_WORDS[0]}" >/dev/null 2>&1 || exit 3
      function=$(complete -p "${COMP_WORDS[0]}" | sed -E "s/.*-F ([^ ]+) .*/\1/")
      "$function" "${COMP_WORDS[0]}" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
      printf "%s\n" "${COMPREPLY[@]}" | sort' _ "$completion" "$1" "$2"
  }
  while IFS='|' read -r script line; do
    entry "completion $script" "$line<TAB>"
    (cd "$work/run" && complete_line "$source_dir/packaging/$script.bash-completion" "$line") \
      >"$work/stdout" 2>"$work/stderr"
    section offered "$work/stdout"
  done <<'EOF'
velkctl|velkctl 
velkctl|velkctl -
velkctl|velkctl scan -
velkctl|velkctl monitor -
velkctl|velkctl run -
velkctl|velkctl --type 
velkctl|velkctl --rx-type 
velkctl|velkctl --baud 
velk-sim|velk-sim -
velk-sim|velk-sim --scenario 
velk-sim|velk-sim --baud 
EOF
else
  echo "doc_commands: $completion missing (scripts/setup.sh installs bash-completion)" >&2
  exit 1
fi

if [ "$record" = --record ]; then
  cp "$out" "$expected"
  echo "doc_commands: recorded $(grep -c '^\$ ' "$out") command lines in $expected"
  exit 0
fi
if diff -u "$expected" "$out" >"$work/diff"; then
  echo "doc_commands: $(grep -c '^\$ ' "$out") command lines as recorded"
  exit 0
fi
echo "doc_commands: the output differs from the record (--record writes it anew):"
cat "$work/diff"
exit 1

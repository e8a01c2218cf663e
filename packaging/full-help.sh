#!/bin/sh
# For help2man: TOOL --help, followed by the help of each command that it
# lists under "Commands", so that the man page holds every option.
tool=$1
shift
[ "${1:-}" = --help ] || exec "$tool" "$@"
"$tool" --help
commands=$("$tool" --help | sed -n '/^Commands/,/^$/s/^  \([a-z][a-z-]*\) .*/\1/p')
for command in $commands; do
  printf '\n'
  "$tool" "$command" --help | sed "s/^Usage: /The $command command: /"
done

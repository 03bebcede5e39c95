#!/bin/sh
# Every program answers --help on standard output with status 0 and nothing on
# standard error, without a display or a line (administrators ask over ssh).
# Arguments: the programs' paths.
fail=0
for program in "$@"; do
  err=$(mktemp)
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY "$program" --help 2>"$err")
  status=$?
  case "$out" in
    usage:*) ;;
    *) echo "$program --help: standard output does not begin with 'usage:': $out"; fail=1 ;;
  esac
  [ "$status" -eq 0 ] || { echo "$program --help: exit status $status"; fail=1; }
  [ -s "$err" ] && { echo "$program --help: standard error: $(cat "$err")"; fail=1; }
  rm -f "$err"
done
exit $fail

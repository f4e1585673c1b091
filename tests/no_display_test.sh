#!/usr/bin/env bash
# Started where no window can be shown, the program must end at once with a
# clear line on stderr and a non-zero status, not abort with a core dump.
# Usage: no_display_test.sh <program>
set -u
program=$1
failures=0

check() {  # name, expected line count ("any" or a number), then the environment to run in
  local name=$1 lines=$2
  shift 2
  local err status ok=1
  err=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$@" timeout 20 "$program" 2>&1 >/dev/null)
  status=$?
  if [[ $status -ne 2 ]]; then
    echo "FAIL $name: exit status $status, want 2"; ok=0
  fi
  if [[ "$(tail -n 1 <<<"$err")" != "tamberlode: cannot open a window: "* ]]; then
    echo "FAIL $name: last line of stderr is '$(tail -n 1 <<<"$err")'"; ok=0
  fi
  if [[ $lines != any && $(grep -c . <<<"$err") -ne $lines ]]; then
    echo "FAIL $name: stderr has more than one line:"; echo "$err"; ok=0
  fi
  [[ $ok -eq 1 ]] || failures=$((failures + 1))
}

check "no DISPLAY at all" 1
check "a DISPLAY nobody serves" any DISPLAY=:97 QT_QPA_PLATFORM=xcb

[[ $failures -eq 0 ]] && echo "2 passed, 0 failed" || echo "$((2 - failures)) passed, $failures failed"
exit $((failures > 0))

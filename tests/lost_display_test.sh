#!/usr/bin/env bash
# The display goes away under the running program (its X server is killed):
# the program must end with one line on stderr and a non-zero status, not die
# of a signal and not hang.
# Usage: lost_display_test.sh <program>
set -u
program=$1
for tool in Xvfb xdotool timeout; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed (scripts/deps.sh test)"; exit 77; }
done
# The killed servers' sockets go with the test's own namespace, so no other
# test's X server can lose its socket to the clean-up below, even one that
# took a killed server's display number meanwhile.
source "$(dirname "$0")/private_x.sh"
private_x_sockets "$0" "$@"
work=$(mktemp -d /tmp/tamberlode-lost-display.XXXXXX)
chmod 700 "$work"
server=""
cleanup() {
  [[ -n "$server" ]] && kill -9 "$server" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
passed=0

# An X server of our own on a display it picks itself; sets $server, $display.
start_server() {
  rm -f "$work/displayfd"
  Xvfb ${TAMBERLODE_XVFB_LOCK:-} -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$work/displayfd" >/dev/null 2>&1 &
  server=$!
  for _ in $(seq 100); do [[ -s "$work/displayfd" ]] && break; sleep 0.1; done
  display=$(head -n 1 "$work/displayfd")
  [[ -n "$display" ]]
}

# A killed server leaves its lock and socket behind; they are ours to remove
# as long as the lock still names our server.
remove_leftovers() {
  local lock=/tmp/.X$display-lock
  if [[ -f $lock && $(tr -d ' \n' <"$lock") == "$1" ]]; then
    rm -f "$lock" "/tmp/.X11-unix/X$display"
  fi
}

check() {  # name, signal that ends the X server
  local name=$1 signal=$2 pid status err ok=1 waited=0
  if ! start_server; then
    echo "FAIL $name: Xvfb did not start"; failures=$((failures + 1)); return
  fi
  DISPLAY=":$display" QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$work" \
    timeout 30 "$program" >/dev/null 2>"$work/stderr" &
  pid=$!
  # Until the start notice is on the screen.
  until DISPLAY=":$display" xdotool search --name '^Tamberlode v0\.1a$' >/dev/null 2>&1; do
    sleep 0.1
    waited=$((waited + 1))
    if [[ $waited -gt 150 ]]; then
      echo "FAIL $name: the start notice never appeared"; cat "$work/stderr"; ok=0; break
    fi
  done
  local killed=$server
  kill "-$signal" "$server"
  wait "$server" 2>/dev/null
  server=""
  wait "$pid"
  status=$?
  remove_leftovers "$killed"
  err=$(cat "$work/stderr")
  if [[ $status -eq 0 || $status -ge 124 ]]; then
    echo "FAIL $name: exit status $status (124 is a hang, above 128 a signal)"; ok=0
  fi
  if [[ $(grep -c . <<<"$err") -ne 1 || "$err" != "tamberlode: lost the display: "* ]]; then
    echo "FAIL $name: stderr is not one line about the display:"; echo "$err"; ok=0
  fi
  if [[ $ok -eq 1 ]]; then
    echo "ok $name: status $status, '$err'"; passed=$((passed + 1))
  else
    failures=$((failures + 1))
  fi
}

check "X server killed (SIGKILL)" KILL
check "X server ended (SIGTERM)" TERM

echo "$passed passed, $failures failed"
exit $((failures > 0))

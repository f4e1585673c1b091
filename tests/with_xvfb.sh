#!/usr/bin/env bash
# Runs a Qt test program on an X server of its own (Xvfb, xcb platform), for
# tests that need the real screen and real input events.
# Usage: with_xvfb.sh <program> [arguments...]
set -u
for tool in Xvfb xdotool; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed (scripts/deps.sh test)"; exit 77; }
done
source "$(dirname "$0")/private_x.sh"
private_x_sockets "$0" "$@"
work=$(mktemp -d /tmp/tamberlode-xvfb.XXXXXX)
server=""
cleanup() {
  [[ -n $server ]] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
Xvfb ${TAMBERLODE_XVFB_LOCK:-} -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
server=$!
for _ in $(seq 100); do [[ -s $work/display ]] && break; sleep 0.05; done
[[ -s $work/display ]] || { echo "FAIL: Xvfb did not start"; exit 1; }
DISPLAY=":$(head -n 1 "$work/display")" QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$work" "$@"

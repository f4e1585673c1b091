#!/usr/bin/env bash
# Runs a Qt test program on an X server of its own (Xvfb, xcb platform), for
# tests that need the real screen and real input events.
# Usage: with_xvfb.sh <program> [arguments...]
set -u
for tool in Xvfb xdotool; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed (scripts/deps.sh test)"; exit 77; }
done
# As root, a mount and network namespace of its own with a private
# /tmp/.X11-unix: the X server's sockets are then this test's alone,
# whatever other tests start or kill beside it. (Only the socket folder is
# covered: the checkout may lie below /tmp.)
if [[ $(id -u) -eq 0 && -z "${TAMBERLODE_IN_NAMESPACE:-}" ]] &&
  unshare -m -n --propagation private true 2>/dev/null; then
  TAMBERLODE_IN_NAMESPACE=1 exec unshare -m -n --propagation private "$0" "$@"
fi
if [[ -n "${TAMBERLODE_IN_NAMESPACE:-}" ]]; then
  mkdir -p /tmp/.X11-unix && mount -t tmpfs -o mode=1777 tmpfs /tmp/.X11-unix ||
    { echo "FAIL: cannot mount a private /tmp/.X11-unix"; exit 1; }
fi
work=$(mktemp -d /tmp/tamberlode-xvfb.XXXXXX)
server=""
cleanup() {
  [[ -n $server ]] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
server=$!
for _ in $(seq 100); do [[ -s $work/display ]] && break; sleep 0.05; done
[[ -s $work/display ]] || { echo "FAIL: Xvfb did not start"; exit 1; }
DISPLAY=":$(head -n 1 "$work/display")" QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$work" "$@"

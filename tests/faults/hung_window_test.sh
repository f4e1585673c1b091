#!/usr/bin/env bash
# Six hung FUSE volumes of mixed types, mounted before the program starts:
# the report window appears within about 5 s of Start, Refresh and Exit
# still answer, and the process ends on Exit. Runs in a private mount
# namespace with its own Xvfb, and prints what it measured.
# With --mounted-during-refresh instead: a volume that hangs is mounted
# over a local disk (then over the folder that holds one) while a Refresh
# waits for a slow volume; Exit after the wait ends the program within the
# survey's deadline of the Refresh (and some room), and SIGTERM ends it at once.
# With --slow-refreshes: a volume that answers in 4 s; Refresh is clicked
# five times and then Exit until it is taken. The clicks that come while the
# survey waits are dropped, so only the first Refresh runs a survey and the
# program ends well before a second survey could have.
# Usage: hung_window_test.sh <program> <stuckfs.py>
#          [--mounted-during-refresh | --slow-refreshes | fuse types...]
set -u
program=$1 stuckfs=$2
shift 2
scenario=hung-at-start
if [[ ${1:-} == --mounted-during-refresh || ${1:-} == --slow-refreshes ]]; then
  scenario=${1#--}
  shift
fi
types=("$@")
[[ ${#types[@]} -gt 0 ]] || types=(rclone s3fs glusterfs sshfs curlftpfs davfs)

skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*"; exit 1; }
[[ $(id -u) -eq 0 ]] || skip "FUSE mounts need root"
[[ -c /dev/fuse && -w /dev/fuse ]] || skip "no /dev/fuse"
/usr/bin/python3 -c 'import fusepy' 2>/dev/null || skip "python3-fusepy is not installed"
command -v Xvfb >/dev/null && command -v xdotool >/dev/null || skip "Xvfb or xdotool is missing"
# A mount and network namespace of its own: the FUSE mounts stay here, and
# so do the X server's sockets (tests/private_x.sh).
if [[ -z "${TAMBERLODE_IN_NAMESPACE:-}" ]]; then
  [[ $scenario == hung-at-start ]] || set -- "--$scenario"
  TAMBERLODE_IN_NAMESPACE=1 exec unshare -m -n --propagation private "$0" "$program" "$stuckfs" "$@"
fi
source "$(dirname "$0")/../private_x.sh"
private_x_socket_folder

dir=$(mktemp -d /tmp/tamberlode-hung-XXXXXX)
daemons=() points=() xvfb='' app=''
cleanup() {
  [[ -n $app ]] && kill -9 "$app" 2>/dev/null
  # Killing the daemons ends the stuck requests, and whatever waits on them.
  for pid in "${daemons[@]}"; do kill -9 "$pid" 2>/dev/null; done
  [[ -n $xvfb ]] && kill "$xvfb" 2>/dev/null
  wait 2>/dev/null
  for ((i = ${#points[@]} - 1; i >= 0; i--)); do umount -l "${points[i]}" 2>/dev/null; done
  rm -rf "$dir"
}
trap cleanup EXIT

now() { date +%s.%N; }
since() { echo "$(now) - $1" | bc; }

mounted() { grep -q " $1 " /proc/self/mountinfo; }
stuck_mount() {  # folder, type, mode: mounts stuckfs there and waits for it
  mkdir -p "$1"
  /usr/bin/python3 "$stuckfs" "$1" "$2" "$3" 2>/dev/null &
  daemons+=($!)
  points+=("$1")
  for _ in $(seq 200); do mounted "$1" && return 0; sleep 0.05; done
  fail "stuckfs did not mount at $1"
}

# An X server that a client can reach. Xvfb names its display once it is
# ready, but one that then loses the display's lock file in the shared /tmp
# to another test's server ends again at once: start another.
export QT_QPA_PLATFORM=xcb
for _ in 1 2 3; do
  rm -f "$dir/display"
  Xvfb ${TAMBERLODE_XVFB_LOCK:-} -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$dir/display" 2>/dev/null &
  xvfb=$!
  for _ in $(seq 100); do [[ -s $dir/display ]] && break; sleep 0.05; done
  [[ -s $dir/display ]] || fail "Xvfb did not start"
  export DISPLAY=:$(head -n 1 "$dir/display")
  sleep 0.2
  xdotool getdisplaygeometry >/dev/null 2>&1 && kill -0 "$xvfb" 2>/dev/null && break
  kill "$xvfb" 2>/dev/null
  wait "$xvfb" 2>/dev/null
  xvfb=''
done
[[ -n $xvfb ]] || fail "no X server could be reached"

window() {  # window id of the visible window titled $1, if any
  xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1
}
wait_for_window() {  # title, seconds
  local end id
  end=$(echo "$(now) + $2" | bc)
  while (($(echo "$(now) < $end" | bc))); do
    id=$(window "$1")
    [[ -n $id ]] && { echo "$id"; return 0; }
    sleep 0.05
  done
  return 1
}
click() {  # window, x, y in the window's pixels
  xdotool mousemove --window "$1" "$2" "$3" click 1
}

# Starts the program and presses Start: sets app, report and appeared.
start_program() {
  "$program" &
  app=$!
  notice=$(wait_for_window "Tamberlode v0.1a" 20) || fail "the start notice did not appear"
  sleep 6  # the count from 5 runs down before the start button shows
  start=$(now)
  click "$notice" 136 300  # "Start the Application"
  report=$(wait_for_window "Free Space on Drives A: to I:" "${TAMBERLODE_WAIT:-20}") ||
    fail "no report window $(since "$start") s after Start"
  appeared=$(since "$start")
  echo "report window: $appeared s after Start"
}
# Seconds from $1 until the program has ended (within $2 s), or fails.
ended_since() {
  for _ in $(seq $(($2 * 20))); do
    if ! kill -0 "$app" 2>/dev/null || [[ $(ps -o stat= -p "$app") == Z* ]]; then
      since "$1"
      return 0
    fi
    sleep 0.05
  done
  return 1
}

# Clicks Exit until the program ends (clicks during a survey's wait are
# dropped); seconds from $1, within $2 s, or fails.
exit_until_ended() {
  for _ in $(seq $(($2 * 4))); do
    click "$report" 220 168  # Exit
    sleep 0.25
    if ! kill -0 "$app" 2>/dev/null || [[ $(ps -o stat= -p "$app") == Z* ]]; then
      since "$1"
      return 0
    fi
  done
  return 1
}

if [[ $scenario == slow-refreshes ]]; then
  stuck_mount "$dir/slow" sshfs sleep:4
  start_program
  sleep 0.5
  refresh=$(now)
  for _ in 1 2 3 4 5; do click "$report" 36 168; done  # Refresh
  ended=$(exit_until_ended "$refresh" "${TAMBERLODE_WAIT:-20}") ||
    fail "the process did not end within ${TAMBERLODE_WAIT:-20} s of Refresh and Exit"
  echo "Refresh clicked five times, then Exit: process ended $ended s after the first click"
  # One survey waits 4 s; a second one queued behind it would make it 8 s.
  # The bound between leaves a loaded machine 3.5 s to click Exit and end.
  (($(echo "$ended < 7.5" | bc))) || fail "five Refreshes and Exit took $ended s"
  echo "passed"
  exit 0
fi

if [[ $scenario == mounted-during-refresh ]]; then
  stuck_mount "$dir/late" davfs sleep:3  # D:, whose answer each survey waits for
  mkdir -p "$dir/p/e"
  truncate -s 16M "$dir/e.img" && mkfs.ext2 -q -F "$dir/e.img" &&
    mount -o loop "$dir/e.img" "$dir/p/e" || skip "no ext2 image could be loop-mounted here"
  points+=("$dir/p/e")
  for over in "$dir/p/e" "$dir/p"; do
    start_program
    sleep 0.5
    refresh=$(now)
    click "$report" 36 168  # Refresh: waits 3 s for D:
    sleep 0.5
    stuck_mount "$over" sshfs hang
    if [[ $over == "$dir/p/e" ]]; then
      sleep 3
      # Exit, clicked until the wait is over (clicks during it are dropped)
      ended=$(exit_until_ended "$refresh" 20) || fail "the process did not end after Refresh and Exit"
      echo "hung volume mounted over a local disk during Refresh; Exit: ended $ended s after the Refresh click"
      # The survey's 5 s deadline at most, and room for a loaded machine.
      (($(echo "$ended < 8" | bc))) || fail "Refresh and Exit took $ended s"
    else
      sleep 3
      term=$(now)
      kill -TERM "$app"
      ended=$(ended_since "$term" 20) || fail "the process did not end on SIGTERM"
      echo "hung volume mounted over a local disk's folder during Refresh; SIGTERM: ended $ended s after it"
      # At once: a process stuck in the kernel would not end at all.
      (($(echo "$ended < 2" | bc))) || fail "SIGTERM took $ended s"
    fi
    wait "$app" 2>/dev/null
    app=''
    # The next round starts without the hung volume of this one.
    kill -9 "${daemons[-1]}" 2>/dev/null
    wait "${daemons[-1]}" 2>/dev/null
    umount -l "$over"
  done
  echo "passed"
  exit 0
fi

n=0
for type in "${types[@]}"; do
  n=$((n + 1))
  stuck_mount "$dir/$n-$type" "$type" block
done
start_program

sleep 0.5
refresh=$(now)
click "$report" 36 168  # Refresh
ended=$(exit_until_ended "$refresh" "${TAMBERLODE_WAIT:-20}") ||
  fail "the process did not end within ${TAMBERLODE_WAIT:-20} s of Refresh and Exit"
wait "$app"
status=$?
app=''
echo "Refresh, then Exit: process ended $ended s after the Refresh click (status $status)"

(($(echo "$appeared < 7" | bc))) || fail "the report window took $appeared s"
(($(echo "$ended < 5" | bc))) || fail "Refresh and Exit took $ended s"
[[ $status -eq 0 ]] || fail "exit status $status"
echo "passed"

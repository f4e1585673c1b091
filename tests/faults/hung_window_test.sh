#!/usr/bin/env bash
# FUSE volumes of mixed types, mounted before the program starts, that hang
# (mode block) or answer late (mode sleep:S): the report window appears
# within about 5 s of Start; Refresh is clicked CLICKS times and then Exit
# again and again until the process ends. The clicks that come while a
# survey waits are dropped, so only the first Refresh runs a survey and the
# process ends within 5 s of it. Runs in a private mount namespace with its
# own Xvfb, and prints what it measured.
# Usage: hung_window_test.sh <program> <stuckfs.py> <mode> <clicks> [fuse types...]
set -u
program=$1 stuckfs=$2 mode=$3 clicks=$4
shift 4
types=("$@")
[[ ${#types[@]} -gt 0 ]] || types=(rclone s3fs glusterfs sshfs curlftpfs davfs)

skip() { echo "SKIP: $*"; exit 77; }
[[ $(id -u) -eq 0 ]] || skip "FUSE mounts need root"
[[ -c /dev/fuse && -w /dev/fuse ]] || skip "no /dev/fuse"
/usr/bin/python3 -c 'import fusepy' 2>/dev/null || skip "python3-fusepy is not installed"
command -v Xvfb >/dev/null && command -v xdotool >/dev/null || skip "Xvfb or xdotool is missing"
if [[ -z "${TAMBERLODE_IN_NAMESPACE:-}" ]]; then
  TAMBERLODE_IN_NAMESPACE=1 exec unshare -m --propagation private "$0" "$program" "$stuckfs" \
    "$mode" "$clicks" "${types[@]}"
fi

dir=$(mktemp -d /tmp/tamberlode-hung-XXXXXX)
daemons=() xvfb='' app=''
cleanup() {
  [[ -n $app ]] && kill -9 "$app" 2>/dev/null
  # Killing the daemons ends the stuck requests, and whatever waits on them.
  for pid in "${daemons[@]}"; do kill -9 "$pid" 2>/dev/null; done
  [[ -n $xvfb ]] && kill "$xvfb" 2>/dev/null
  wait 2>/dev/null
  for ((i = 1; i <= n; i++)); do umount -l "$dir/$i-${types[i - 1]}" 2>/dev/null; done
  rm -rf "$dir"
}
trap cleanup EXIT

now() { date +%s.%N; }
since() { echo "$(now) - $1" | bc; }
fail() { echo "FAIL: $*"; exit 1; }

n=0
for type in "${types[@]}"; do
  n=$((n + 1))
  mkdir -p "$dir/$n-$type"
  /usr/bin/python3 "$stuckfs" "$dir/$n-$type" "$type" "$mode" 2>/dev/null &
  daemons+=($!)
done
for _ in $(seq 200); do
  [[ $(grep -c " $dir/" /proc/self/mountinfo) -ge $n ]] && break
  sleep 0.05
done
[[ $(grep -c " $dir/" /proc/self/mountinfo) -ge $n ]] || fail "the FUSE volumes did not mount"

exec 3>"$dir/display"
Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 2>/dev/null &
xvfb=$!
for _ in $(seq 100); do [[ -s $dir/display ]] && break; sleep 0.05; done
[[ -s $dir/display ]] || fail "Xvfb did not start"
export DISPLAY=:$(cat "$dir/display") QT_QPA_PLATFORM=xcb

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

# Under AddressSanitizer: the system's D-Bus library keeps a buffer to the
# end on xcb, which is not this program's to free.
printf 'leak:libdbus-1.so\n' >"$dir/lsan.supp"
LSAN_OPTIONS="suppressions=$dir/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}" "$program" &
app=$!
notice=$(wait_for_window "Tamberlode v0.1a" 20) || fail "the start notice did not appear"
sleep 6  # the count from 5 runs down before the start button shows
start=$(now)
click "$notice" 136 300  # "Start the Application"
report=$(wait_for_window "Free Space on Drives A: to I:" "${TAMBERLODE_WAIT:-20}") ||
  fail "no report window $(since "$start") s after Start"
appeared=$(since "$start")
echo "report window: $appeared s after Start"

sleep 0.5
refresh=$(now)
for ((i = 0; i < clicks; i++)); do click "$report" 36 168; done  # Refresh
ended=''
for _ in $(seq $((${TAMBERLODE_WAIT:-20} * 4))); do
  click "$report" 220 168  # Exit, until it is not dropped
  sleep 0.25
  if ! kill -0 "$app" 2>/dev/null || [[ $(ps -o stat= -p "$app") == Z* ]]; then
    ended=$(since "$refresh")
    break
  fi
done
[[ -n $ended ]] || fail "the process did not end within ${TAMBERLODE_WAIT:-20} s of Refresh and Exit"
wait "$app"
status=$?
app=''
echo "Refresh clicked $clicks times, then Exit: process ended $ended s after the first click (status $status)"

(($(echo "$appeared < 7" | bc))) || fail "the report window took $appeared s"
(($(echo "$ended < 5" | bc))) || fail "Refresh and Exit took $ended s"
[[ $status -eq 0 ]] || fail "exit status $status"
echo "passed"

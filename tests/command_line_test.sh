#!/usr/bin/env bash
# The program's command line on Linux: --help and --version answer without a
# display, anything unknown is refused with status 2, and Qt's own options
# reach Qt.
# Usage: command_line_test.sh PROGRAM VERSION
set -u
program=$1 version=$2
passed=0 failed=0

fail() {
  echo "FAIL $1: $2"
  failed=$((failed + 1))
}

# Runs the program where no window can be shown at all: whatever answers
# must answer before it looks for a display.
run_bare() {
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout 20 "$program" "$@" 2>"$tmp/err")
  status=$?
  err=$(cat "$tmp/err")
}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# name | arguments | status | what stdout starts with | what stderr's first line is
while IFS='|' read -r name args want_status want_out want_err; do
  [[ -z $name ]] && continue
  read -ra argv <<<"$args"
  run_bare "${argv[@]}"
  ok=1
  [[ $status -eq $want_status ]] || { fail "$name" "status $status, want $want_status"; ok=0; }
  [[ $out == "$want_out"* ]] || { fail "$name" "stdout '$out' does not start with '$want_out'"; ok=0; }
  first=$(head -n 1 <<<"$err")
  [[ $first == "$want_err" ]] || { fail "$name" "stderr starts '$first', want '$want_err'"; ok=0; }
  if [[ $want_status -eq 2 ]] && ! grep -q '^Usage: tamberlode' <<<"$err"; then
    fail "$name" "no usage after the error: $err"
    ok=0
  fi
  ((ok)) && passed=$((passed + 1))
done <<EOT
help|--help|0|Usage: tamberlode [OPTION]...|
short help|-h|0|Usage: tamberlode [OPTION]...|
help wins over Qt options|-style fusion --help|0|Usage: tamberlode|
version|--version|0|Tamberlode $version|
unknown long option|--frobnicate|2||tamberlode: unknown option '--frobnicate'
unknown short option|-x|2||tamberlode: unknown option '-x'
an operand|a:|2||tamberlode: unexpected argument 'a:'
Qt option without its value|-platform|2||tamberlode: option '-platform' needs a value
Qt option joined where Qt reads two words|-platform=offscreen|2||tamberlode: unknown option '-platform=offscreen'
EOT

run_bare --version
if [[ $out != "Tamberlode $version" ]]; then
  fail "version text" "'$out' is not exactly 'Tamberlode $version'"
else
  passed=$((passed + 1))
fi

# Qt's options reach Qt: with a DISPLAY that nobody serves, the window can
# only open on the platform the command line names. Both spellings.
for args in "-platform offscreen" "--platform offscreen -style=fusion -reverse"; do
  read -ra argv <<<"$args"
  env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY=:97 "$program" "${argv[@]}" \
    >"$tmp/start.out" 2>&1 &
  pid=$!
  sleep 1.5
  if kill -0 "$pid" 2>/dev/null; then
    kill "$pid"
    wait "$pid" 2>/dev/null
    passed=$((passed + 1))
  else
    wait "$pid"
    fail "start with ${argv[*]}" "ended with status $?: $(head -3 "$tmp/start.out")"
  fi
done

echo "$passed passed, $failed failed"
((failed == 0))

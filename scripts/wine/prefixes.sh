# Wine and its prefixes for scripts/wine-tests.sh (sourced): the loaders
# called by path, bounded runs, the registry, prefixes made and remade, the
# wineservers stopped and their folders removed at the end.

# run32 CMD...: one program in the 32-bit prefix, bounded in time.
run32() { timeout "${WINE_TIMEOUT:-120}" "$wine32" "$@"; }
server_stop() { WINEPREFIX=${1:-$WINEPREFIX} timeout 20 "$wineserver" -k >/dev/null 2>&1 || true; }
# A fresh server and desktop, kept up between programs.
server_restart() {
  server_stop
  timeout 20 "$wineserver" -w >/dev/null 2>&1 || true
  timeout 20 "$wineserver" -p 300 >/dev/null 2>&1 || true
  WINE_TIMEOUT=60 run32 "$win32/tests/wintext.exe" "" >/dev/null 2>&1 || true
}
reg() { WINE_TIMEOUT=60 run32 reg "$@" >/dev/null 2>&1; }
# Wine keeps each prefix's server socket in a /tmp/wine-XXXXXX folder of
# its own, named after the prefix's device and inode; with the server down,
# that folder goes too. drop_server_dir PREFIX
drop_server_dir() {
  local dir=$1 name found
  [[ -d "$dir" ]] || return 0
  WINEPREFIX=$dir timeout 20 "$wineserver" -k >/dev/null 2>&1 || true
  WINEPREFIX=$dir timeout 20 "$wineserver" -w >/dev/null 2>&1 || true
  name=$(stat -c '%d %i' "$dir" | awk '{printf "server-%x-%x", $1, $2}')
  for found in "${TMPDIR:-/tmp}"/wine-*/"$name"; do
    [[ -d "$found" ]] || continue
    rm -rf "$found"
    rmdir "$(dirname "$found")" 2>/dev/null || true
  done
}

xvfb_pid=""
mounts=()
volume_root=""
cleanup() {
  drop_server_dir "$prefix32"
  drop_server_dir "$prefix64"
  [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null || true
  for m in "${mounts[@]}"; do umount "$m" 2>/dev/null || true; done
  [[ -n "$volume_root" ]] && rm -rf "$volume_root"
  rm -f "$prefix32"/dosdevices/[abdefghi]: 2>/dev/null || true
}
trap cleanup EXIT

# Runs one GoogleTest executable; its log goes to build/wine-logs/.
gtest_runs=0
# run_gtest LOADER EXE [ARGS]
run_gtest() {
  local loader=$1 exe=$2
  shift 2
  local name log
  name=$(basename "$exe" .exe)
  gtest_runs=$((gtest_runs + 1))
  log=$root/build/wine-logs/$gtest_runs-$name.log
  mkdir -p "$root/build/wine-logs"
  if [[ ! -f "$exe" ]]; then
    failed "$name was not built"
    return
  fi
  say "running $name under $loader"
  timeout "${WINE_TIMEOUT:-300}" "$loader" "$exe" --gtest_color=no "$@" 2>&1 | tr -d '\r' >"$log"
  # Why each skipped case was skipped, then the summary.
  grep -A1 ': Skipped$' "$log" | grep -v -e '^--$' -e ': Skipped$' | sed 's/^/  skipped: /'
  grep -E '^\[  (PASSED|FAILED|SKIPPED)  \]' "$log" | sed 's/^/  /'
  if ! grep -q '^\[  PASSED  \]' "$log" || grep -q '^\[  FAILED  \]' "$log"; then
    tail -40 "$log"
    failed "$name (log: $log)"
  fi
}

# A prefix that starts a program: one that cannot run `cmd /c exit` (made by
# another Wine, for another architecture, or broken) is made again.
# make_prefix DIR ARCH LOADER
make_prefix() {
  local dir=$1 arch=$2 loader=$3
  if [[ -f "$dir/system.reg" ]] &&
    WINEPREFIX=$dir WINEARCH=$arch timeout 60 "$loader" cmd /c exit >/dev/null 2>&1; then
    return 0
  fi
  if [[ -e "$dir" ]]; then
    say "the prefix $dir cannot start a program: making it again"
    drop_server_dir "$dir"
    rm -rf "$dir"
  fi
  say "initialising the $arch prefix $dir"
  mkdir -p "$dir"
  WINEPREFIX=$dir WINEARCH=$arch timeout 300 "$loader" wineboot -i >/dev/null 2>&1 &&
    WINEPREFIX=$dir WINEARCH=$arch timeout 60 "$loader" cmd /c exit >/dev/null 2>&1
}

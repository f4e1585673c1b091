#!/usr/bin/env bash
# Builds the two Windows targets (presets win32 and win64) and runs the
# Windows tests of the x86_64 build under Wine, with Xvfb for the windows.
# Skips (exit 0) with a reason where the cross compilers or Wine are missing.
#
# Every wine call is bounded by a timeout; the prefix lives in build/ and the
# wineserver is killed at the end. As root, the script re-runs itself in a
# private mount namespace so it can mount tmpfs volumes of known size
# (among them one of 17 TiB) behind drive letters of the prefix.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

say() { echo "wine-tests: $*"; }
skip() {
  say "SKIPPED: $*"
  exit 0
}

for tool in i686-w64-mingw32-g++-posix x86_64-w64-mingw32-g++-posix i686-w64-mingw32-windres \
  wine wineserver wineboot timeout; do
  command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/deps.sh test installs it)"
done
[[ -f /usr/src/googletest/CMakeLists.txt ]] || skip "no googletest sources in /usr/src/googletest"

# A private mount namespace (root only) for the tmpfs volumes; Wine and its
# server run inside it, so they see the mounts.
if [[ -z "${TAMBERLODE_WINE_NAMESPACE:-}" ]]; then
  export TAMBERLODE_WINE_NAMESPACE=none
  if [[ $(id -u) -eq 0 ]] && unshare -m --propagation private true 2>/dev/null; then
    TAMBERLODE_WINE_NAMESPACE=private exec unshare -m --propagation private "$0" "$@"
  fi
fi

say "building the win32 (i686) and win64 (x86_64) presets"
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j2
cmake --preset win64 >/dev/null
cmake --build --preset win64 -j2

win64=$root/build/win64
win32=$root/build/win32
failures=0
fail() {
  say "FAILED: $*"
  failures=$((failures + 1))
}

export WINEPREFIX=$root/build/wineprefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINEARCH=win64

xvfb_pid=""
mounts=()
cleanup() {
  timeout 20 wineserver -k >/dev/null 2>&1 || true
  [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null || true
  for m in "${mounts[@]}"; do umount "$m" 2>/dev/null || true; done
  rm -f "$WINEPREFIX"/dosdevices/[abdefghi]: 2>/dev/null || true
}
trap cleanup EXIT

# A stale server of this prefix (outside the namespace) would see none of
# the mounts.
timeout 20 wineserver -k >/dev/null 2>&1 || true
if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
  say "initialising the Wine prefix $WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  timeout 180 wineboot -i >/dev/null 2>&1 || skip "wineboot -i failed or timed out"
fi

# wine CMD...: one Windows program, bounded in time.
wine_run() { timeout "${WINE_TIMEOUT:-120}" wine "$@"; }

run_gtest() {
  local exe=$1
  shift
  local name log
  name=$(basename "$exe" .exe)
  log=$root/build/wine-$name.log
  say "running $name under Wine"
  wine_run "$exe" --gtest_color=no "$@" 2>&1 | tr -d '\r' >"$log" || true
  # Why each skipped case was skipped, then the summary.
  grep -A1 ': Skipped$' "$log" | grep -v -e '^--$' -e ': Skipped$' | sed 's/^/  skipped: /' || true
  grep -E '^\[  (PASSED|FAILED|SKIPPED)  \]' "$log" | sed 's/^/  /' || true
  if ! grep -q '^\[  PASSED  \]' "$log" || grep -q '^\[  FAILED  \]' "$log"; then
    tail -40 "$log"
    fail "$name (full log: $log)"
  fi
}

# ---- Unit tests built for x86_64 Windows -----------------------------------
run_gtest "$win64/tests/core_tests.exe"
# The configured .rc names the icon by its build-host path, which is not an
# absolute Windows path: that one case belongs to the Linux run.
say "artwork_tests: VersionResource.NamesTheCommittedIcon left to the Linux run (host path in the .rc)"
run_gtest "$win64/tests/artwork_tests.exe" --gtest_filter=-VersionResource.NamesTheCommittedIcon

if [[ $failures -ne 0 ]]; then
  say "$failures failure(s)"
  exit 1
fi
say "all Windows tests passed"

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

say() { echo "wine-tests: [$(date +%T)] $*"; }
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

win64=$root/build/win64
win32=$root/build/win32
failures=0
fail() {
  say "FAILED: $*"
  failures=$((failures + 1))
}

# A target that does not build fails the run, but the others still build
# and their tests still run.
for preset in win32 win64; do
  say "building preset $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j2 -- -k 0 || fail "the $preset build"
done

export WINEPREFIX=$root/build/wineprefix
export WINEDEBUG=-all
# No Mono/Gecko prompts, no menu entries, no crash debugger waiting for input.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe,winedbg.exe=d"
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
  if [[ ! -f "$exe" ]]; then
    fail "$name was not built"
    return
  fi
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

# ---- The i686 program, checked from the file --------------------------------
if /usr/bin/python3 -c 'import pefile' 2>/dev/null; then
  say "checking build/win32/Tamberlode.exe (32-bit GUI, version resource, icon, imports)"
  /usr/bin/python3 tests/win32/pe_check.py "$win32/Tamberlode.exe" ||
    fail "PE check of build/win32/Tamberlode.exe"
else
  say "SKIPPED: PE check (python3-pefile is not installed)"
fi

# ---- The installer, under 32-bit Wine in a prefix of its own ---------------
tests/win32/installer_test.sh "$win32" || fail "the installer (tests/win32/installer_test.sh)"

# ---- Xvfb for the windows ---------------------------------------------------
command -v Xvfb >/dev/null || skip "Xvfb is not installed; the window tests need it"
display=99
while [[ -e /tmp/.X11-unix/X$display || -e /tmp/.X$display-lock ]]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 50); do [[ -e /tmp/.X11-unix/X$display ]] && break; sleep 0.1; done
export DISPLAY=":$display"
# A desktop started before there was a display (by the prefix set-up or the
# console tests above) has no graphics driver, and every window created on it
# fails; a fresh server starts the next desktop on this display.
timeout 20 wineserver -k >/dev/null 2>&1 || true
timeout 20 wineserver -w >/dev/null 2>&1 || true

# ---- Drive letters: tmpfs volumes of known size, and unmapped letters -------
dosdevices=$WINEPREFIX/dosdevices
rm -f "$dosdevices"/[abdefghi]:
volumes=""
unmapped="a;b;i"
survey=""
# bytes TOTAL:FREE of a mounted folder, from statfs.
sizes() { stat -f -c '%S %b %a' "$1" | awk '{printf "%.0f:%.0f", $1 * $2, $1 * $3}'; }
megabytes() { awk -v b="$1" 'BEGIN { printf "%.0fMB", b / 1048576 }'; }
if [[ "$TAMBERLODE_WINE_NAMESPACE" == private ]] && volume_root=$(mktemp -d /tmp/tamberlode-volumes.XXXXXX) &&
  mkdir -p "$volume_root"/{small,huge,big,tiny} &&
  mount -t tmpfs -o size=64m tmpfs "$volume_root/small" 2>/dev/null; then
  mounts+=("$volume_root/small")
  ok=1
  for spec in huge:17t big:9t tiny:3m; do
    if mount -t tmpfs -o "size=${spec#*:}" tmpfs "$volume_root/${spec%%:*}" 2>/dev/null; then
      mounts+=("$volume_root/${spec%%:*}")
    else
      ok=0
    fi
  done
  mkdir "$volume_root/small/folder"
  dd if=/dev/zero of="$volume_root/small/folder/ten-mib" bs=1M count=10 status=none
  if [[ $ok -eq 1 ]]; then
    ln -s "$volume_root/small/folder" "$dosdevices/d:"  # a folder of a volume
    ln -s "$volume_root/small" "$dosdevices/e:"         # the same volume: "n/a"
    ln -s "$volume_root/huge" "$dosdevices/f:"          # 17 TiB: over 2^32 clusters
    ln -s "$volume_root/big" "$dosdevices/g:"           # 9 TiB: over 2^31 clusters
    ln -s "$volume_root/tiny" "$dosdevices/h:"
    volumes="d:$(sizes "$volume_root/small");e:$(sizes "$volume_root/small")"
    volumes+=";f:$(sizes "$volume_root/huge");g:$(sizes "$volume_root/big");h:$(sizes "$volume_root/tiny")"
    free_of() { megabytes "$(sizes "$1" | cut -d: -f2)"; }
    survey="n/a|n/a|*|$(free_of "$volume_root/small")|n/a|$(free_of "$volume_root/huge")"
    survey+="|$(free_of "$volume_root/big")|$(free_of "$volume_root/tiny")|n/a"
  fi
fi
if [[ -z "$survey" ]]; then
  say "SKIPPED: tmpfs drive letters (needs root and a private mount namespace: unshare -m)"
  survey="n/a|n/a|*|n/a|n/a|n/a|n/a|n/a|n/a"
  unmapped="a;b;d;e;f;g;h;i"
fi
say "drive letters: $volumes (unmapped: $unmapped); expected survey: $survey"
export TAMBERLODE_WINE_VOLUMES=$volumes TAMBERLODE_WINE_UNMAPPED=$unmapped TAMBERLODE_WINE_SURVEY=$survey

# ---- Registry values, added for the run and removed after -------------------
regkey='HKLM\SOFTWARE\Tamberlode Tests'
reg() { WINE_TIMEOUT=60 wine_run reg "$@" >/dev/null 2>&1; }
reg add "$regkey" /v Text /t REG_SZ /d 'C:\Program Files\Tool\tool.exe' /f
reg add "$regkey" /v Exact /t REG_SZ /d "$(printf 'x%.0s' $(seq 1023))" /f
reg add "$regkey" /v TooLong /t REG_SZ /d "$(printf 'x%.0s' $(seq 1024))" /f
reg add "$regkey" /v Empty /t REG_SZ /d '' /f
reg add "$regkey" /v Expand /t REG_EXPAND_SZ /d '%SystemRoot%' /f
export TAMBERLODE_WINE_REGKEY='SOFTWARE\Tamberlode Tests'

run_gtest "$win64/tests/win32_tests.exe"
scripts/wine-screenshots.sh "$win64/screenshots" || fail "turning the window pictures into PNG"
reg delete "$regkey" /f || true

# ---- End to end: Tamberlode.exe driven with xdotool -------------------------
if command -v xdotool >/dev/null && command -v import >/dev/null; then
  msinfo='HKLM\SOFTWARE\Microsoft\Shared Tools\MSINFO'
  original=$(WINE_TIMEOUT=60 wine_run reg query "$msinfo" /v PATH 2>/dev/null | tr -d '\r' |
    sed -n 's/^ *PATH *REG_SZ *//p' || true)
  reg add "$msinfo" /v PATH /t REG_SZ /d "$(WINE_TIMEOUT=30 wine_run winepath -w "$win64/tests/marker.exe" 2>/dev/null | tr -d '\r')" /f
  mkdir -p "$root/build/wine-e2e"
  marker=$root/build/wine-e2e/marker.txt
  rm -f "$marker"
  TAMBERLODE_MARKER=$(WINE_TIMEOUT=30 wine_run winepath -w "$marker" 2>/dev/null | tr -d '\r')
  export TAMBERLODE_MARKER
  # One server and one desktop for the whole run, up before the program:
  # when the program and the first look at its windows both start a desktop,
  # Wine now and then leaves the program without one.
  timeout 20 wineserver -p 300 >/dev/null 2>&1 || true
  WINE_TIMEOUT=60 wine_run "$win64/tests/wintext.exe" "" >/dev/null 2>&1 || true
  say "end to end: Tamberlode.exe under Xvfb and Wine"
  /usr/bin/python3 tests/win32/wine_e2e.py "$win64" "$survey" "$marker" "$win64/screenshots" ||
    fail "end-to-end run of Tamberlode.exe"
  if [[ -n "$original" ]]; then
    reg add "$msinfo" /v PATH /t REG_SZ /d "$original" /f
  else
    reg delete "$msinfo" /v PATH /f || true
  fi
else
  say "SKIPPED: end-to-end run (xdotool or imagemagick is not installed)"
fi

# ---- What a person sees: fonts at 96, 120, 144 DPI; windows in pixels ------
# The system DPI of the prefix; a fresh server and desktop take it up.
set_dpi() {
  reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f
  timeout 20 wineserver -k >/dev/null 2>&1 || true
  timeout 20 wineserver -w >/dev/null 2>&1 || true
  timeout 20 wineserver -p 300 >/dev/null 2>&1 || true
  WINE_TIMEOUT=60 wine_run "$win64/tests/wintext.exe" "" >/dev/null 2>&1 || true
}
for dpi in 96 120 144; do
  set_dpi "$dpi"
  if [[ $dpi -ne 96 ]]; then  # 96 DPI ran with the other Win32 tests
    say "the design texts against their boxes at $dpi DPI"
    run_gtest "$win64/tests/win32_tests.exe" --gtest_filter='Win32Fonts.*'
  fi
  if [[ $dpi -ne 120 ]] && command -v xdotool >/dev/null && command -v import >/dev/null; then
    say "the windows in pixels at $dpi DPI (screenshots in $win64/screenshots)"
    /usr/bin/python3 tests/win32/wine_pixels.py "$win64" "$dpi" "$win64/screenshots" ||
      fail "the windows in pixels at $dpi DPI"
  fi
done
set_dpi 96

# ---- Colour schemes: every text readable, also with white window text -----
if command -v xdotool >/dev/null && command -v import >/dev/null; then
  say "contrast: Tamberlode.exe under the default scheme and with white window text"
  /usr/bin/python3 tests/win32/wine_contrast.py "$win64" "$win64/screenshots" ||
    fail "contrast of the texts under Wine's colour schemes"
else
  say "SKIPPED: contrast check (xdotool or imagemagick is not installed)"
fi

# ---- Windows that hold still; pictures whole in a dark scheme, at 144 DPI --
if command -v xdotool >/dev/null && command -v import >/dev/null; then
  say "steady windows and whole pictures: Tamberlode.exe at 96 and 144 DPI, and dark"
  /usr/bin/python3 tests/win32/wine_steady.py "$win64" "$win64/screenshots" ||
    fail "windows that hold still and pictures that show whole"
fi

if [[ $failures -ne 0 ]]; then
  say "$failures failure(s)"
  exit 1
fi
say "all Windows tests passed"

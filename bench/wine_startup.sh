#!/usr/bin/env bash
# Start-up and shut-down of the 32-bit Tamberlode.exe under 32-bit Wine
# against the smallest Win32 program with one window (see
# wine_startup_win32.cpp). Builds the release programs in build/win32-bench,
# runs them on Xvfb in a 32-bit prefix of its own (build/wineprefix-bench)
# under one warm wineserver, and prints the medians and their ratios.
# Everything runs in a Wine virtual desktop of 1024x768 (the prefix's
# Explorer settings, as `explorer /desktop=bench,1024x768`): on a bare X
# server without a window manager, Wine's X11 driver waits up to 2 s for
# each window it hides to be withdrawn, which no window manager confirms,
# and that wait, not the program, would be the measured shut-down.
# Usage: bench/wine_startup.sh [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$root/build/win32-bench
wine32=/usr/lib/wine/wine
wineserver=/usr/lib/wine/wineserver
export WINEPREFIX=$root/build/wineprefix-bench WINEARCH=win32 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe,winedbg.exe=d"

cmake -S . -B "$build" -G Ninja --toolchain cmake/toolchains/mingw-i686.cmake \
  -DCMAKE_BUILD_TYPE=Release -DTAMBERLODE_TESTS=OFF -DTAMBERLODE_BENCH=ON >/dev/null
cmake --build "$build" --target tamberlode startup_empty wine_startup -j2 >/dev/null

xvfb_pid=""
cleanup() {
  timeout 20 "$wineserver" -k >/dev/null 2>&1 || true
  timeout 20 "$wineserver" -w >/dev/null 2>&1 || true
  [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null || true
  # The server's socket folder (/tmp/wine-XXXXXX/server-DEV-INODE) goes too.
  local name found
  name=$(stat -c '%d %i' "$WINEPREFIX" | awk '{printf "server-%x-%x", $1, $2}')
  for found in "${TMPDIR:-/tmp}"/wine-*/"$name"; do
    [[ -d "$found" ]] && rm -rf "$found" && { rmdir "$(dirname "$found")" 2>/dev/null || true; }
  done
}
trap cleanup EXIT
display=99
while [[ -e /tmp/.X11-unix/X$display || -e /tmp/.X$display-lock ]]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 50); do [[ -e /tmp/.X11-unix/X$display ]] && break; sleep 0.1; done
export DISPLAY=":$display"

if ! { [[ -f "$WINEPREFIX/system.reg" ]] && timeout 60 "$wine32" cmd /c exit >/dev/null 2>&1; }; then
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  timeout 300 "$wine32" wineboot -i >/dev/null 2>&1
fi
# The virtual desktop, for every program of this prefix.
timeout 60 "$wine32" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d bench /f >/dev/null 2>&1
timeout 60 "$wine32" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v bench /d 1024x768 /f >/dev/null 2>&1
# One server for every run, kept up between the programs.
timeout 20 "$wineserver" -k >/dev/null 2>&1 || true
timeout 20 "$wineserver" -w >/dev/null 2>&1 || true
timeout 20 "$wineserver" -p 300 >/dev/null 2>&1 || true
timeout 900 "$wine32" "$build/bench/wine_startup.exe" "$build/Tamberlode.exe" \
  "$build/bench/startup_empty.exe" "${1:-7}" | tr -d '\r'

#!/usr/bin/env bash
# Builds the two Windows targets (presets win32 and win64) and runs the
# Windows tests under Wine: the shipped 32-bit program (i686) and its tests
# under the 32-bit loader in a 32-bit prefix, the x86_64 unit tests under the
# 64-bit loader in a prefix of their own, the windows on Xvfb.
#
# Wine's loaders are called by their own paths, never through the `wine`
# wrapper, whose choice of loader depends on the Wine packages installed.
# Every call is bounded by a timeout; the prefixes live in build/ and their
# wineservers are stopped at the end. As root, the script re-runs itself in
# a private mount namespace so it can mount tmpfs volumes of known size
# (among them one of 17 TiB) behind drive letters of the prefix.
#
# The run is a list of named steps (at the bottom). A step is a function
# that returns 0 when it passed; inside it, `failed WHY` counts a failure
# and goes on, `skipped WHY; return` gives up for want of a tool or an
# earlier step. Add a step with `step NAME FUNCTION [ARGS]`. The run ends
# with one table (step, pass/fail/skipped, why) and fails when any step
# failed, whatever was skipped after it. Screenshots go to
# build/win32/screenshots, GoogleTest logs to build/wine-logs.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD

# A private mount namespace (root only) for the tmpfs volumes; Wine and its
# server run inside it, so they see the mounts.
if [[ -z "${TAMBERLODE_WINE_NAMESPACE:-}" ]]; then
  export TAMBERLODE_WINE_NAMESPACE=none
  if [[ $(id -u) -eq 0 ]] && unshare -m --propagation private true 2>/dev/null; then
    TAMBERLODE_WINE_NAMESPACE=private exec unshare -m --propagation private "$0" "$@"
  fi
fi

win32=$root/build/win32
win64=$root/build/win64
shots=$win32/screenshots
wine32=/usr/lib/wine/wine
wine64=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
prefix32=$root/build/wineprefix32
prefix64=$root/build/wineprefix64

export WINEDEBUG=-all
# No Mono/Gecko prompts, no menu entries, no crash debugger waiting for input.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe,winedbg.exe=d"
# The 32-bit prefix is the one the windows use; the Python checks take the
# loader from here.
export WINEPREFIX=$prefix32 WINEARCH=win32 TAMBERLODE_WINE=$wine32

source "$root/scripts/wine/runner.sh"
source "$root/scripts/wine/prefixes.sh"
source "$root/scripts/wine/steps.sh"

# ---- The run ----------------------------------------------------------------
rm -rf "$root/build/wine-logs"
step build-win32 build_preset win32 i686-w64-mingw32
step build-win64 build_preset win64 x86_64-w64-mingw32
step pe-check pe_check
step prefix prefix32_step
step stale-prefix stale_prefix
step unit-i686 unit32
step unit-x86_64 unit64
step installer installer
step display display_step
step drive-letters drive_letters
step window-tests window_tests
step waiting-window waiting_window
step end-to-end end_to_end
step design-texts design_texts
step pixels pixels
step contrast contrast
step steady steady
step planted-dll planted_dll

say "screenshots: $shots"
finish

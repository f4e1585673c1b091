# The steps of scripts/wine-tests.sh (sourced): builds, the PE check, the
# prefixes, unit tests, the installers, the display and drive letters, and
# the program's windows under Wine, checked in tests, screenshots and pixels.

build_preset() {
  local preset=$1 triple=$2
  command -v "$triple-g++-posix" >/dev/null ||
    { skipped "$triple-g++-posix is not installed (scripts/deps.sh test installs it)"; return; }
  [[ -f /usr/src/googletest/CMakeLists.txt ]] ||
    { skipped "no googletest sources in /usr/src/googletest"; return; }
  cmake --preset "$preset" >/dev/null || { failed "cmake --preset $preset"; return; }
  # -k 0: whatever builds is still tested.
  cmake --build --preset "$preset" -j2 -- -k 0 || failed "the $preset build"
}

pe_check() {
  /usr/bin/python3 -c 'import pefile' 2>/dev/null ||
    { skipped "python3-pefile is not installed"; return; }
  [[ -f "$win32/Tamberlode.exe" ]] || { failed "no build/win32/Tamberlode.exe"; return; }
  /usr/bin/python3 tests/win32/pe_check.py "$win32/Tamberlode.exe" || failed "PE check"
  # The import check itself: a program importing GetTickCount64 (Vista) fails it.
  local out
  [[ -f "$win32/tests/vista_import.exe" ]] || { failed "tests/vista_import.exe was not built"; return; }
  if out=$(/usr/bin/python3 tests/win32/pe_check.py --imports-only "$win32/tests/vista_import.exe"); then
    failed "the import check passed a program that imports GetTickCount64"
  elif [[ "$out" != *"KERNEL32.DLL!GetTickCount64 needs Windows Vista"* ]]; then
    failed "the import check refused vista_import.exe for another reason: $out"
  fi
}

# The Windows installer, under 32-bit Wine in a throwaway prefix of its own;
# its temporary files, Wine's server folder among them, stay in build/.
installer() {
  local log=$root/build/wine-logs/installer.log rc
  mkdir -p "$root/build/wine-logs" "$root/build/wine-tmp"
  TMPDIR=$root/build/wine-tmp tests/win32/installer_test.sh "$win32" 2>&1 | tee "$log"
  rc=${PIPESTATUS[0]}
  rm -rf "$root/build/wine-tmp"
  [[ $rc -eq 0 ]] || { failed "tests/win32/installer_test.sh (log: $log)"; return; }
  if grep -q 'SKIPPED: ' "$log"; then
    skipped "$(sed -n 's/.*SKIPPED: //p' "$log" | head -1)"
    return
  fi
}

have_prefix32=0
prefix32_step() {
  [[ -x $wine32 ]] || { skipped "no 32-bit Wine loader $wine32 (wine32:i386)"; return; }
  [[ -x $wineserver ]] || { skipped "no $wineserver"; return; }
  server_stop "$prefix32"
  make_prefix "$prefix32" win32 "$wine32" || { failed "the 32-bit prefix cannot be made"; return; }
  # The classic face of the default font comes from fonts-wine. Debian's
  # Wine 8 finds those fonts only in the prefix's C:\windows\Fonts (it never
  # looks in /usr/share/wine/fonts), so they are linked in. The count's face
  # has a free look-alike, set for this prefix only.
  if [[ -f /usr/share/wine/fonts/ms_sans_serif.ttf ]]; then
    ln -sf /usr/share/wine/fonts/* "$prefix32/drive_c/windows/Fonts/"
  else
    failed "fonts-wine is not installed: MS Sans Serif is missing"
  fi
  reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' \
    /v 'Comic Sans MS' /t REG_SZ /d 'Comic Neue' /f || failed "the font substitute"
  have_prefix32=1
}

# A prefix made by another Wine is rebuilt, not reused: here one whose
# registry says it is a 64-bit installation, which the 32-bit loader refuses.
stale_prefix() {
  [[ $have_prefix32 -eq 1 ]] || { skipped "no 32-bit prefix"; return; }
  local stale=$root/build/wineprefix-stale
  rm -rf "$stale"
  mkdir -p "$stale"
  printf 'WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win64\n' \
    >"$stale/system.reg"
  if WINEPREFIX=$stale timeout 60 "$wine32" cmd /c exit >/dev/null 2>&1; then
    failed "the 32-bit loader ran a program in a 64-bit prefix"
  elif ! make_prefix "$stale" win32 "$wine32"; then
    failed "the stale prefix was not made again"
  fi
  drop_server_dir "$stale"
  rm -rf "$stale"
}

unit32() {
  [[ $have_prefix32 -eq 1 ]] || { skipped "no 32-bit prefix"; return; }
  run_gtest "$wine32" "$win32/tests/core_tests.exe"
  # The configured .rc names the icon by its build-host path, which is not an
  # absolute Windows path: that one case belongs to the Linux run.
  run_gtest "$wine32" "$win32/tests/artwork_tests.exe" \
    --gtest_filter=-VersionResource.NamesTheCommittedIcon
}

unit64() {
  [[ -x $wine64 ]] || { skipped "no 64-bit Wine loader $wine64 (wine64)"; return; }
  [[ -f "$win64/tests/core_tests.exe" ]] || { failed "the win64 unit tests were not built"; return; }
  local WINEPREFIX=$prefix64 WINEARCH=win64
  server_stop
  make_prefix "$prefix64" win64 "$wine64" || { failed "the 64-bit prefix cannot be made"; return; }
  run_gtest "$wine64" "$win64/tests/core_tests.exe"
  server_stop
}

have_display=0
display_step() {
  [[ $have_prefix32 -eq 1 ]] || { skipped "no 32-bit prefix"; return; }
  command -v Xvfb >/dev/null || { skipped "Xvfb is not installed; the windows need it"; return; }
  # Xvfb picks a free display itself (atomically, by its lock file) and
  # names it once it is ready.
  local display='' named
  named=$(mktemp /tmp/tamberlode-wine-display.XXXXXX)
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$named" >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do [[ -s $named ]] && break; sleep 0.1; done
  display=$(head -n 1 "$named")
  rm -f "$named"
  [[ -n $display && -e /tmp/.X11-unix/X$display ]] || { failed "Xvfb did not start"; return; }
  export DISPLAY=":$display"
  # A desktop started before there was a display has no graphics driver, and
  # every window created on it fails; a fresh server starts the next one here.
  server_stop
  timeout 20 "$wineserver" -w >/dev/null 2>&1 || true
  have_display=1
}

# Drive letters: tmpfs volumes of known size, and unmapped letters.
sizes() { stat -f -c '%S %b %a' "$1" | awk '{printf "%.0f:%.0f", $1 * $2, $1 * $3}'; }
megabytes() { awk -v b="$1" 'BEGIN { printf "%.0fMB", b / 1048576 }'; }
free_of() { megabytes "$(sizes "$1" | cut -d: -f2)"; }
drive_letters() {
  local dosdevices=$prefix32/dosdevices volumes="" unmapped="a;b;i" survey="" spec
  export TAMBERLODE_WINE_VOLUMES="" TAMBERLODE_WINE_UNMAPPED="a;b;d;e;f;g;h;i"
  export TAMBERLODE_WINE_SURVEY="n/a|n/a|*|n/a|n/a|n/a|n/a|n/a|n/a"
  [[ $have_prefix32 -eq 1 ]] || { skipped "no 32-bit prefix"; return; }
  rm -f "$dosdevices"/[abdefghi]:
  [[ "$TAMBERLODE_WINE_NAMESPACE" == private ]] ||
    { skipped "tmpfs drive letters need root and a private mount namespace (unshare -m)"; return; }
  volume_root=$(mktemp -d /tmp/tamberlode-volumes.XXXXXX) || { failed "mktemp"; return; }
  mkdir -p "$volume_root"/{small,huge,big,tiny}
  for spec in small:64m huge:17t big:9t tiny:3m; do
    mount -t tmpfs -o "size=${spec#*:}" tmpfs "$volume_root/${spec%%:*}" ||
      { failed "mounting a tmpfs of ${spec#*:}"; return; }
    mounts+=("$volume_root/${spec%%:*}")
  done
  mkdir "$volume_root/small/folder"
  dd if=/dev/zero of="$volume_root/small/folder/ten-mib" bs=1M count=10 status=none
  ln -s "$volume_root/small/folder" "$dosdevices/d:" # a folder of a volume
  ln -s "$volume_root/small" "$dosdevices/e:"        # the same volume: "n/a"
  ln -s "$volume_root/huge" "$dosdevices/f:"         # 17 TiB: over 2^32 clusters
  ln -s "$volume_root/big" "$dosdevices/g:"          # 9 TiB: over 2^31 clusters
  ln -s "$volume_root/tiny" "$dosdevices/h:"
  volumes="d:$(sizes "$volume_root/small");e:$(sizes "$volume_root/small")"
  volumes+=";f:$(sizes "$volume_root/huge");g:$(sizes "$volume_root/big");h:$(sizes "$volume_root/tiny")"
  survey="n/a|n/a|*|$(free_of "$volume_root/small")|n/a|$(free_of "$volume_root/huge")"
  survey+="|$(free_of "$volume_root/big")|$(free_of "$volume_root/tiny")|n/a"
  say "drive letters: $volumes (unmapped: $unmapped); expected survey: $survey"
  export TAMBERLODE_WINE_VOLUMES=$volumes TAMBERLODE_WINE_UNMAPPED=$unmapped TAMBERLODE_WINE_SURVEY=$survey
}

need_windows() {
  [[ $have_display -eq 1 ]] || { skipped "no display (step display)"; return; }
  [[ -f "$win32/tests/win32_tests.exe" ]] || { failed "win32_tests.exe was not built"; return 1; }
}
need_xdotool() {
  need_windows || return
  command -v xdotool >/dev/null && command -v import >/dev/null ||
    { skipped "xdotool or imagemagick is not installed"; return; }
}

# The window, registry, launcher and free-space tests, at 96 DPI; the
# registry values are added for the run and removed after it.
window_tests() {
  need_windows || return
  local key='HKLM\SOFTWARE\Tamberlode Tests'
  reg add "$key" /v Text /t REG_SZ /d 'C:\Program Files\Tool\tool.exe' /f
  reg add "$key" /v Exact /t REG_SZ /d "$(printf 'x%.0s' $(seq 1023))" /f
  reg add "$key" /v TooLong /t REG_SZ /d "$(printf 'x%.0s' $(seq 1024))" /f
  reg add "$key" /v Empty /t REG_SZ /d '' /f
  reg add "$key" /v Expand /t REG_EXPAND_SZ /d '%SystemRoot%' /f
  mkdir -p "$shots"
  TAMBERLODE_WINE_REGKEY='SOFTWARE\Tamberlode Tests' run_gtest "$wine32" "$win32/tests/win32_tests.exe" \
    --gtest_filter='-Win32ReportWindowWaiting.*'
  reg delete "$key" /f || true
  scripts/wine-screenshots.sh "$shots" || failed "turning the window pictures into PNG"
}

# The report window while a survey waits: it repaints (pictures of the X
# screen, taken by ImageMagick's import, before and mid-wait) and drops the
# clicks and close requests that come meanwhile.
waiting_window() {
  need_xdotool || return
  mkdir -p "$shots"
  run_gtest "$wine32" "$win32/tests/win32_tests.exe" --gtest_filter='Win32ReportWindowWaiting.*'
  scripts/wine-screenshots.sh "$shots" || failed "turning the window pictures into PNG"
}

# Tamberlode.exe driven with xdotool, System Info through a stand-in tool,
# with the prefix set to Windows XP, 7 and 10 in turn (screenshots of the
# first two in screenshots/winxp and screenshots/win7).
end_to_end() {
  need_xdotool || return
  local msinfo='HKLM\SOFTWARE\Microsoft\Shared Tools\MSINFO' original marker version
  original=$(WINE_TIMEOUT=60 run32 reg query "$msinfo" /v PATH 2>/dev/null | tr -d '\r' |
    sed -n 's/^ *PATH *REG_SZ *//p')
  reg add "$msinfo" /v PATH /t REG_SZ /d "$(WINE_TIMEOUT=30 run32 winepath -w "$win32/tests/marker.exe" 2>/dev/null | tr -d '\r')" /f
  mkdir -p "$root/build/wine-e2e" "$shots"
  marker=$root/build/wine-e2e/marker.txt
  TAMBERLODE_MARKER=$(WINE_TIMEOUT=30 run32 winepath -w "$marker" 2>/dev/null | tr -d '\r')
  export TAMBERLODE_MARKER
  for version in winxp win7 win10; do
    windows_version "$version" || continue
    rm -f "$marker"
    # One server and one desktop for the whole run, up before the program:
    # when the program and the first look at its windows both start a desktop,
    # Wine now and then leaves the program without one.
    server_restart
    local dir=$shots
    [[ $version == win10 ]] || dir=$shots/$version
    /usr/bin/python3 tests/win32/wine_e2e.py "$win32" "$TAMBERLODE_WINE_SURVEY" "$marker" "$dir" ||
      failed "end-to-end run of Tamberlode.exe as Windows $version"
  done
  if [[ -n "$original" ]]; then
    reg add "$msinfo" /v PATH /t REG_SZ /d "$original" /f
  else
    reg delete "$msinfo" /v PATH /f || true
  fi
}

# windows_version winxp|win7|win10: the Windows version the prefix reports,
# set by winecfg and read back from the registry.
windows_version() {
  local want key='HKLM\Software\Microsoft\Windows NT\CurrentVersion' got
  case $1 in winxp) want=5.1 ;; win7) want=6.1 ;; win10) want=10.0 ;; esac
  WINE_TIMEOUT=60 run32 winecfg -v "$1" >/dev/null 2>&1 || true
  got=$(WINE_TIMEOUT=60 run32 reg query "$key" /v CurrentVersion 2>/dev/null | tr -d '\r' |
    sed -n 's/^ *CurrentVersion *REG_SZ *//p')
  say "the prefix as Windows $1: CurrentVersion $got"
  [[ "$got" == "$want" ]] || { failed "winecfg -v $1 left CurrentVersion '$got', not $want"; return 1; }
}

# A library planted beside the program under a system library's name, with
# Wine told to prefer a native copy (oleacc=n,b), is never loaded: a screen
# reader's question to a picture box makes the program load oleacc.dll, from
# the system folder. The control case shows that a load by the bare name
# does pick the planted one.
planted_dll() {
  need_windows || return
  local dir=$root/build/wine-planted answer program
  rm -rf "$dir"
  mkdir -p "$dir"
  cp "$win32/Tamberlode.exe" "$win32/tests/planted/oleacc.dll" "$win32/tests/reader.exe" "$dir/" ||
    { failed "tests/planted/oleacc.dll or tests/reader.exe was not built"; return; }
  TAMBERLODE_PLANTED_MARKER=$(WINE_TIMEOUT=30 run32 winepath -w "$dir/marker.txt" 2>/dev/null | tr -d '\r')
  export TAMBERLODE_PLANTED_MARKER
  local WINEDLLOVERRIDES="$WINEDLLOVERRIDES;oleacc=n,b"
  server_restart
  (cd "$dir" && WINE_TIMEOUT=60 run32 "$dir/reader.exe" --bare) | tr -d '\r' | sed 's/^/  bare load: /'
  if [[ ! -s "$dir/marker.txt" ]]; then
    failed "the planted oleacc.dll did not load even by its bare name: the test cannot see a planted load"
    return
  fi
  rm -f "$dir/marker.txt"
  (cd "$dir" && WINE_TIMEOUT=120 run32 "$dir/Tamberlode.exe" >/dev/null 2>&1) &
  program=$!
  answer=$(cd "$dir" && WINE_TIMEOUT=90 run32 "$dir/reader.exe" "Tamberlode v0.1a" | tr -d '\r')
  say "the notice's picture box answered WM_GETOBJECT with $answer"
  [[ "$answer" =~ ^[1-9][0-9]*$ ]] || failed "no accessible object for the picture box ($answer)"
  [[ -e "$dir/marker.txt" ]] &&
    failed "Tamberlode.exe loaded the planted oleacc.dll: $(tr -d '\r' <"$dir/marker.txt")"
  server_stop
  wait "$program" 2>/dev/null
  rm -rf "$dir"
  return 0
}

# The system DPI of the prefix; a fresh server and desktop take it up.
set_dpi() {
  reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f
  server_restart
}

# Every design text inside its box, at the design size where the face is
# the design's own (96 DPI ran with the window tests).
design_texts() {
  need_windows || return
  local dpi
  for dpi in 120 144; do
    set_dpi "$dpi"
    say "the design texts against their boxes at $dpi DPI"
    run_gtest "$wine32" "$win32/tests/win32_tests.exe" --gtest_filter='Win32Fonts.*'
  done
  set_dpi 96
}

# The windows in pixels: texts inside their boxes, the separator, the
# default button's frame.
pixels() {
  need_xdotool || return
  local dpi
  for dpi in 96 144; do
    set_dpi "$dpi"
    say "the windows in pixels at $dpi DPI"
    /usr/bin/python3 tests/win32/wine_pixels.py "$win32" "$dpi" "$shots" ||
      failed "the windows in pixels at $dpi DPI"
  done
  set_dpi 96
}

# Every text readable under the default scheme and with white window text.
contrast() {
  need_xdotool || return
  /usr/bin/python3 tests/win32/wine_contrast.py "$win32" "$shots" ||
    failed "contrast of the texts under Wine's colour schemes"
}

# Windows that hold still, pictures whole under a dark scheme and at 144 DPI,
# the credit picture's focus mark closed (sets and restores the DPI itself).
steady() {
  need_xdotool || return
  /usr/bin/python3 tests/win32/wine_steady.py "$win32" "$shots" ||
    failed "windows that hold still and pictures that show whole"
}

#!/usr/bin/env bash
# The Windows installers as a Windows user meets them, under 32-bit Wine in
# a throwaway prefix. The MSI: a silent install puts the program, its
# Start-menu shortcut and its "Apps and features" entry in place; the
# program starts from the shortcut; a newer version replaces it, an older one
# does not; removal leaves nothing. The setup program: its pages one by one
# (a screenshot of each, in BUILD/screenshots), the finish page starting the
# program, its entry read back; a silent install into a folder of the
# user's choosing; each removal leaves nothing.
# First the MSI itself: its summary information and what it must not hold
# (custom actions other than setting the install folder's property,
# services, registry or PATH changes, file associations, reboots, a desktop
# shortcut).
#
# Usage: tests/win32/installer_test.sh [BUILD]   (default build/win32)
# Skips (exit 0) with the reason where a tool or the package is missing.
# Everything lives in BUILD/installer-test; the prefix, its wineserver and
# the Xvfb are gone at the end.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
build=$(realpath "${1:-$root/build/win32}")

say() { echo "installer-test: [$(date +%T)] $*"; }
skip() {
  say "SKIPPED: $*"
  exit 0
}
faults=0
fault() {
  say "FAULT: $*"
  faults=$((faults + 1))
}
# expect WHAT ACTUAL EXPECTED
expect() {
  if [[ "$2" == "$3" ]]; then
    say "ok: $1"
  else
    fault "$1: got '$2', expected '$3'"
  fi
}

version=$(sed -n 's/^project(Tamberlode VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
IFS=. read -r major minor patch <<<"$version"
next=$major.$minor.$((patch + 1))
msi=$build/installer/Tamberlode-$version.msi
upgrade=$build/installer/upgrade-test/Tamberlode-$next.msi
exe=$build/Tamberlode.exe
wintext=$build/tests/wintext.exe
icon=$root/identity/icon/tamberlode.ico
publisher="Tamberlode Developers"
website="http://www.example.org/tamberlode/"
comments="Shows how many megabytes are free on each of the drives A: to I:."
setup=$build/installer/Tamberlode-$version-setup.exe
wine=/usr/lib/wine/wine
wineserver=/usr/lib/wine/wineserver

command -v msiinfo >/dev/null || skip "msiinfo is not installed (package msitools)"
[[ -f "$msi" && -f "$upgrade" ]] || skip "no $msi or $upgrade (wixl is not installed, or the win32 preset is not built)"
[[ -f "$setup" ]] || skip "no $setup (nsis is not installed, or the win32 preset is not built)"
command -v xdotool >/dev/null && command -v import >/dev/null || skip "xdotool or imagemagick is not installed"
[[ -x "$wine" && -x "$wineserver" ]] || skip "no 32-bit Wine at $wine (package wine32:i386)"
command -v Xvfb >/dev/null || skip "Xvfb is not installed"
[[ -f "$exe" && -f "$wintext" ]] || skip "the win32 preset has no Tamberlode.exe or tests/wintext.exe"

# ---- The package: summary information and tables ---------------------------
summary=$(msiinfo suminfo "$msi")
field() { sed -n "s/^$1: //p" <<<"$summary"; }
expect "summary title" "$(field Title)" "Installation Database"
expect "summary subject" "$(field Subject)" "Tamberlode $version"
expect "summary author" "$(field Author)" "$publisher"
expect "summary template (32-bit, US English)" "$(field Template)" "Intel;1033"
# The word count (msiinfo calls it Source): 2 is long file names, compressed,
# and elevated rights asked for, i.e. a per-machine install; 10 is per user.
expect "summary word count" "$(field Source | cut -d' ' -f1)" "2"

tables=$(msiinfo tables "$msi")
rows() {  # the rows of a table, without its three header lines
  grep -qx "$2" <<<"$tables" || return 0
  msiinfo export "$1" "$2" | tr -d '\r' | tail -n +4
}
property() { rows "$1" Property | awk -F'\t' -v p="$2" '$1 == p { print $2 }'; }
expect "installs for all users (ALLUSERS)" "$(property "$msi" ALLUSERS)" "1"
expect "installs into [ProgramFilesFolder]Tamberlode" \
  "$(rows "$msi" Directory | awk -F'\t' '$1 == "INSTALLDIR" { print $2 "/" $3 }')" "ProgramFilesFolder/Tamberlode"
expect "one shortcut, Tamberlode in the Start menu" \
  "$(rows "$msi" Shortcut | cut -f2,3 | tr '\t' '/')" "ProgramMenuFolder/Tamberlode"
# The program's file version, as its version resource gives it, decides
# whether an install may replace the file.
exe_version=$(/usr/bin/python3 -c 'import pefile, sys
f = pefile.PE(sys.argv[1]).VS_FIXEDFILEINFO[0]
print(f"{f.FileVersionMS >> 16}.{f.FileVersionMS & 0xffff}.{f.FileVersionLS >> 16}.{f.FileVersionLS & 0xffff}")' "$exe")
expect "the File table's version of Tamberlode.exe" \
  "$(rows "$msi" File | awk -F'\t' '$1 == "Tamberlode.exe" { print $5 }')" "$exe_version"
expect "one custom action: the install folder into ARPINSTALLLOCATION (type 51)" \
  "$(rows "$msi" CustomAction | cut -f1-4 | tr '\t' '/')" "SetInstallLocation/51/ARPINSTALLLOCATION/[INSTALLDIR]"
for table in ServiceInstall ServiceControl Registry Environment Extension ProgId Verb MIME Class; do
  expect "no rows in $table" "$(rows "$msi" "$table")" ""
done
expect "no reboot" "$(rows "$msi" InstallExecuteSequence | cut -f1 | grep -E 'Reboot' || true)" ""
upgrade_code=$(property "$msi" UpgradeCode)
expect "the newer package carries the same UpgradeCode" "$(property "$upgrade" UpgradeCode)" "$upgrade_code"
old_code=$(property "$msi" ProductCode)
new_code=$(property "$upgrade" ProductCode)
[[ "$old_code" != "$new_code" ]] || fault "the two versions share the product code $old_code"

# ---- The portable zip: the program as built, its licence and readme ---------
zip_files() {
  python3 - "$1" "$exe" <<'EOF'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    same = z.read("Tamberlode.exe") == open(sys.argv[2], "rb").read()
    print(" ".join(z.namelist()), "(the built exe)" if same else "(another exe)")
EOF
}
expect "the portable zip" "$(zip_files "$build/installer/Tamberlode-$version-win32.zip")" \
  "Tamberlode.exe LICENSE.txt README.txt (the built exe)"

# ---- A fresh 32-bit prefix --------------------------------------------------
work=$build/installer-test
export WINEPREFIX=$work/prefix WINEARCH=win32 WINEDEBUG=-all
# The prefix's Desktop, Documents and the like are links to $HOME: a home of
# its own keeps whatever a package puts there inside the build folder.
export HOME=$work/home
unset XDG_CONFIG_HOME XDG_DATA_HOME XDG_CACHE_HOME
# No Mono/Gecko downloads, no menu entries on this machine, no debugger.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe,winedbg.exe=d"
xvfb_pid=""
cleanup() {
  timeout 20 "$wineserver" -k >/dev/null 2>&1 || true
  timeout 20 "$wineserver" -w >/dev/null 2>&1 || true
  [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null || true
  rm -rf "$WINEPREFIX" "$HOME"
}
trap cleanup EXIT
timeout 20 "$wineserver" -k >/dev/null 2>&1 || true
rm -rf "$work"
mkdir -p "$WINEPREFIX" "$HOME"
say "a fresh 32-bit prefix in $WINEPREFIX"
if ! timeout 180 "$wine" wineboot -i >/dev/null 2>&1; then
  fault "wineboot -i failed or timed out"
  exit 1
fi
drive_c=$WINEPREFIX/drive_c

wine_run() { timeout "${WINE_TIMEOUT:-120}" "$wine" "$@"; }
windows_path() { echo "Z:${1//\//\\}"; }
unix_path() {  # C:\a\b -> the file in the prefix
  local path=${1#[Cc]:\\}
  echo "$drive_c/${path//\\//}"
}
msiexec() {  # msiexec ARGS... LOG: quiet, logged, its status checked
  local log=${*: -1}
  set -- "${@:1:$#-1}"
  wine_run msiexec "$@" /qn /l*v "$(windows_path "$work/$log")" || fault "msiexec $1 ended with status $?"
}
# The product code as Windows packs it in the Installer keys.
packed() {
  local g=${1//[\{\}-]/}
  echo "$(rev <<<"${g:0:8}")$(rev <<<"${g:8:4}")$(rev <<<"${g:12:4}")$(sed 's/\(.\)\(.\)/\2\1/g' <<<"${g:16}")"
}
uninstall='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
query() {  # nothing where the key or value is missing
  local out
  out=$(wine_run reg query "$@" 2>/dev/null) || return 0
  tr -d '\r' <<<"$out"
}
value() { sed -n "s/^    $1    REG_[A-Z_]*    //p"; }
# The uninstall entries that carry the program's name.
entries() { query "$uninstall" /s | awk '/^HKEY/ { key = $0 } /^    DisplayName    REG_SZ    Tamberlode$/ { print key }'; }
# target<TAB>working folder<TAB>icon<TAB>icon index<TAB>arguments of a .lnk file.
shell_link() {
  python3 - "$1" <<'EOF'
import struct, sys
data = open(sys.argv[1], "rb").read()
flags, = struct.unpack_from("<I", data, 0x14)
icon_index, = struct.unpack_from("<i", data, 0x38)
at = 0x4C
if flags & 0x01:  # the target as a shell item list
    at += 2 + struct.unpack_from("<H", data, at)[0]
target = ""
if flags & 0x02:  # link info: the target's local path
    size, _, _, _, base = struct.unpack_from("<5I", data, at)
    target = data[at + base:data.index(b"\0", at + base)].decode("latin-1")
    at += size
texts = {}
for bit, name in ((0x04, "name"), (0x08, "relative"), (0x10, "folder"), (0x20, "arguments"), (0x40, "icon")):
    if flags & bit:
        count, = struct.unpack_from("<H", data, at)
        texts[name] = data[at + 2:at + 2 + 2 * count].decode("utf-16-le")
        at += 2 + 2 * count
print("\t".join([target, texts.get("folder", ""), texts.get("icon", ""), str(icon_index), texts.get("arguments", "")]))
EOF
}
# Every shortcut of the prefix, also those in the Desktop and Documents that
# the prefix keeps in $HOME.
links() { find "$drive_c" "$HOME" -iname '*.lnk' | sort; }
# The lines of a registry export (regedit /E) that name the program or
# one of its codes, plain or packed.
mentions() {
  local hive
  for hive in HKEY_LOCAL_MACHINE HKEY_CURRENT_USER; do
    rm -f "$work/$hive.reg"
    wine_run regedit /E "$(windows_path "$work/$hive.reg")" "$hive" >/dev/null 2>&1 || echo "regedit /E $hive failed"
    iconv -f UTF-16LE -t UTF-8 "$work/$hive.reg" 2>/dev/null | tr -d '\r' |
      grep -i -F -e Tamberlode -e "${old_code//[\{\}]/}" -e "${new_code//[\{\}]/}" -e "${upgrade_code//[\{\}]/}" \
        -e "$(packed "$old_code")" -e "$(packed "$new_code")" -e "$(packed "$upgrade_code")" || true
  done
}

# ---- Install ------------------------------------------------------------------
say "msiexec /i $(basename "$msi") /qn"
msiexec /i "$(windows_path "$msi")" install.log
program_dir=$drive_c/Program\ Files/Tamberlode
expect "the program folder holds the program only" "$(ls "$program_dir" 2>&1)" "Tamberlode.exe"
cmp -s "$exe" "$program_dir/Tamberlode.exe" && say "ok: the installed program is the built one" ||
  fault "the installed Tamberlode.exe differs from $exe"

# Wine sets ProgramMenuFolder to the user's Start menu even for a per-machine
# package (a FIXME in its msi.dll); Windows takes the common Start menu, as
# ALLUSERS=1 above asks. The test looks where the installer put it.
menu=$(tr -d '\r' <"$work/install.log" | sed -n 's/^Property(S): ProgramMenuFolder = //p' | tail -1)
say "the installer's Start menu: $menu"
link=$(unix_path "${menu}Tamberlode.lnk")
expect "one shortcut in the whole prefix, in the Start menu (none on the desktop)" "$(links)" "$link"
product_icon=$(query "HKLM\\Software\\Classes\\Installer\\Products\\$(packed "$old_code")" /v ProductIcon | value ProductIcon)
expect "the uninstall entry's icon (ARPPRODUCTICON, as ProductIcon)" "$product_icon" \
  "C:\\windows\\Installer\\$old_code\\tamberlode.ico"
cmp -s "$icon" "$(unix_path "$product_icon")" && say "ok: that icon is the program's icon" ||
  fault "the icon at $product_icon is not identity/icon/tamberlode.ico"
if [[ -f "$link" ]]; then
  IFS=$'\t' read -r target folder link_icon link_index arguments < <(shell_link "$link")
  expect "shortcut target" "$target" 'C:\Program Files\Tamberlode\Tamberlode.exe'
  expect "shortcut working folder" "$folder" 'C:\Program Files\Tamberlode\'
  expect "shortcut icon" "$link_icon,$link_index" "$product_icon,0"
  expect "shortcut arguments" "$arguments" ""
else
  target=""
fi

entry=$(query "$uninstall\\$old_code")
say "uninstall entry as read back:"
shown='DisplayName|DisplayVersion|Publisher|InstallLocation|URLInfoAbout|HelpLink|Contact|Comments'
shown+='|DisplayIcon|Size|EstimatedSize|NoModify|NoRepair|UninstallString'
grep -E "^    ($shown) " <<<"$entry" | sed 's/^ */    /' || true
# support_info ENTRY FOLDER: what "Apps and features" and its support
# information show, the same from either installer.
support_info() {
  expect "DisplayName" "$(value DisplayName <<<"$1")" "Tamberlode"
  expect "DisplayVersion" "$(value DisplayVersion <<<"$1")" "$version"
  expect "Publisher" "$(value Publisher <<<"$1")" "$publisher"
  expect "InstallLocation" "$(value InstallLocation <<<"$1")" "$2"
  expect "URLInfoAbout (web address)" "$(value URLInfoAbout <<<"$1")" "$website"
  expect "HelpLink" "$(value HelpLink <<<"$1")" "$website"
  expect "Contact" "$(value Contact <<<"$1")" "$publisher"
  expect "Comments" "$(value Comments <<<"$1")" "$comments"
}
support_info "$entry" 'C:\Program Files\Tamberlode\'
# The size in KiB (ARPSIZE). Windows adds EstimatedSize from its own
# costing; Wine writes 0 there.
expect "Size (KiB)" "$(value Size <<<"$entry")" "$((($(stat -c %s "$exe") + 1023) / 1024))"
expect "NoModify, NoRepair" "$(value NoModify <<<"$entry"),$(value NoRepair <<<"$entry")" "0x1,0x1"
expect "UninstallString" "$(value UninstallString <<<"$entry")" "MsiExec.exe /X$old_code"
# The scan that must come back empty after removal sees the program now.
mentions | grep -q '^"DisplayName"="Tamberlode"$' && say "ok: the registry scan finds the installed program" ||
  fault "the registry scan (regedit /E) finds nothing of the installed program"

# ---- The program, started from the shortcut's target ----------------------------
# Xvfb picks a free display itself and names it once it is ready.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [[ -s "$work/display" ]] && break; sleep 0.1; done
export DISPLAY=":$(tr -d '\n' <"$work/display")"
# The server of the installs knows no display; the next one starts with it.
timeout 20 "$wineserver" -k >/dev/null 2>&1 || true
timeout 20 "$wineserver" -w >/dev/null 2>&1 || true
if [[ -n "$target" ]]; then
  say "starting $target"
  (cd "$(unix_path "$folder")" && WINE_TIMEOUT=90 wine_run "$target" >/dev/null 2>&1) &
  program=$!
  notice=""
  for _ in $(seq 60); do
    notice=$(WINE_TIMEOUT=30 wine_run "$wintext" "Tamberlode v0.1a" 2>/dev/null | tr -d '\r' |
      awk -F'\t' '$2 == "Tamberlode v0.1a" && $3 == "visible"' || true)
    [[ -n "$notice" ]] && break
    sleep 1
  done
  [[ -n "$notice" ]] && say "ok: the installed program shows its notice window" ||
    fault "no visible window \"Tamberlode v0.1a\" within 60 s"
  # Ends the program and every other Windows process of the prefix.
  timeout 20 "$wineserver" -k >/dev/null 2>&1 || true
  wait "$program" 2>/dev/null || true
fi

# ---- A newer version replaces the installed one ----------------------------------
say "msiexec /i $(basename "$upgrade") /qn"
msiexec /i "$(windows_path "$upgrade")" upgrade.log
expect "one uninstall entry, the newer one" "$(entries)" "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$new_code"
expect "its DisplayVersion" "$(query "$uninstall\\$new_code" /v DisplayVersion | value DisplayVersion)" "$next"
expect "the older product is no longer registered" \
  "$(query "HKLM\\Software\\Classes\\Installer\\Products\\$(packed "$old_code")")" ""
[[ -f "$program_dir/Tamberlode.exe" ]] && say "ok: the program is still installed" ||
  fault "the upgrade left no Tamberlode.exe"
expect "still one shortcut" "$(links)" "$link"
say "msiexec /i $(basename "$msi") /qn, the older version over the newer"
if wine_run msiexec /i "$(windows_path "$msi")" /qn /l*v "$(windows_path "$work/downgrade.log")"; then
  fault "the older package installed over the newer one"
else
  expect "the newer version stays" "$(entries)" "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$new_code"
fi

# ---- Removal leaves nothing ----------------------------------------------------------
say "msiexec /x $(basename "$upgrade") /qn"
msiexec /x "$(windows_path "$upgrade")" remove.log
expect "files left named after the program" "$(find "$drive_c" "$HOME" -iname '*tamberlode*')" ""
expect "shortcuts left" "$(links)" ""
expect "cached packages left" "$(find "$drive_c/windows/Installer" -type f 2>/dev/null)" ""
expect "uninstall entries left" "$(entries)" ""
left=$(mentions)
expect "registry keys and values left that name the program or its codes" "$left" ""

# ---- The setup program, page by page -------------------------------------------
setup_key="$uninstall\\Tamberlode"
say "$(basename "$setup"), interactive"
/usr/bin/python3 tests/win32/wine_setup.py "$build" "$setup" "$build/screenshots" ||
  fault "the interactive setup (screenshots: $build/screenshots/setup-*.png)"
# Ends the program the finish page started.
timeout 20 "$wineserver" -k >/dev/null 2>&1 || true
timeout 20 "$wineserver" -w >/dev/null 2>&1 || true
expect "the program folder holds the program and its uninstaller" \
  "$(ls "$program_dir" 2>&1 | tr '\n' ' ')" "Tamberlode.exe Uninstall.exe "
cmp -s "$exe" "$program_dir/Tamberlode.exe" && say "ok: the installed program is the built one" ||
  fault "the setup's Tamberlode.exe differs from $exe"
common_menu="$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Tamberlode.lnk"
expect "one shortcut, in the common Start menu" "$(links)" "$common_menu"
if [[ -f "$common_menu" ]]; then
  IFS=$'\t' read -r target folder link_icon link_index arguments < <(shell_link "$common_menu")
  expect "shortcut target" "$target" 'C:\Program Files\Tamberlode\Tamberlode.exe'
fi
entry=$(query "$setup_key")
say "the setup's uninstall entry as read back:"
grep -E "^    ($shown|QuietUninstallString) " <<<"$entry" | sed 's/^ */    /' || true
support_info "$entry" 'C:\Program Files\Tamberlode'
expect "DisplayIcon" "$(value DisplayIcon <<<"$entry")" 'C:\Program Files\Tamberlode\Tamberlode.exe,0'
[[ "$(value EstimatedSize <<<"$entry")" =~ ^0x[0-9a-f]+$ && "$(value EstimatedSize <<<"$entry")" != 0x0 ]] &&
  say "ok: EstimatedSize is set" || fault "EstimatedSize: '$(value EstimatedSize <<<"$entry")'"
expect "NoModify, NoRepair" "$(value NoModify <<<"$entry"),$(value NoRepair <<<"$entry")" "0x1,0x1"
expect "UninstallString" "$(value UninstallString <<<"$entry")" '"C:\Program Files\Tamberlode\Uninstall.exe"'

# remove_setup FOLDER: the uninstaller, silent, as "Apps and features" would
# run it quietly; it copies itself away and runs from there, so the test waits
# for the prefix's processes to end.
remove_setup() {
  wine_run "$(unix_path "$1")/Uninstall.exe" /S || fault "Uninstall.exe /S ended with status $?"
  timeout 60 "$wineserver" -w >/dev/null 2>&1 || true
  expect "files left named after the program" "$(find "$drive_c" "$HOME" -iname '*tamberlode*')" ""
  expect "shortcuts left" "$(links)" ""
  expect "uninstall entries left" "$(entries)" ""
  expect "registry keys and values left that name the program" "$(mentions)" ""
}
say "the setup's uninstaller, silent"
remove_setup 'C:\Program Files\Tamberlode'

# A silent install into a folder of the user's choosing.
say "$(basename "$setup") /S /D=C:\Tools\Tamberlode"
wine_run "$setup" /S '/D=C:\Tools\Tamberlode' || fault "the silent setup ended with status $?"
timeout 60 "$wineserver" -w >/dev/null 2>&1 || true
[[ -f "$drive_c/Tools/Tamberlode/Tamberlode.exe" ]] && say "ok: installed into C:\Tools\Tamberlode" ||
  fault "no Tamberlode.exe in C:\Tools\Tamberlode"
expect "InstallLocation of the chosen folder" \
  "$(query "$setup_key" /v InstallLocation | value InstallLocation)" 'C:\Tools\Tamberlode'
remove_setup 'C:\Tools\Tamberlode'
rmdir "$drive_c/Tools" 2>/dev/null || true

if [[ $faults -ne 0 ]]; then
  say "$faults fault(s); logs in $work"
  exit 1
fi
say "the installer passed (MSI $(stat -c %s "$msi") bytes)"

#!/usr/bin/env bash
# Checks what `cmake --install` and the Debian package put on a system.
# Usage: install_test.sh tree|deb SOURCE_DIR BINARY_DIR VERSION SANITIZE
#   tree  installs the build tree under a temporary DESTDIR and checks it
#   deb   (root only) builds the .deb in its own release tree, installs it,
#         starts the program, and removes the package again
set -euo pipefail

mode=$1 src=$2 bin=$3 version=$4 sanitize=$5
app_id=org.example.Tamberlode
failures=0

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
skip() {
  echo "SKIP: $*"
  exit 77
}
finish() {
  if ((failures > 0)); then
    echo "$failures check(s) failed" >&2
    exit 1
  fi
  echo "all checks passed"
}

# Prints "WIDTH HEIGHT" of a PNG from its IHDR chunk, or nothing if the file
# is not a PNG.
png_size() {
  local sig
  sig=$(od -An -tx1 -N8 "$1" | tr -d ' \n')
  [[ $sig == 89504e470d0a1a0a ]] || return 0
  od -An -tu1 -j16 -N8 "$1" | awk '{ print $1*16777216 + $2*65536 + $3*256 + $4, $5*16777216 + $6*65536 + $7*256 + $8 }'
}

# The validators must be present: a missing one is a failure, not a pass.
validate() {
  local root=$1 out
  if ! command -v desktop-file-validate >/dev/null; then
    fail "desktop-file-validate is missing (desktop-file-utils, scripts/deps.sh test)"
  elif ! out=$(desktop-file-validate "$root/share/applications/$app_id.desktop" 2>&1) || [[ -n $out ]]; then
    # It exits 0 on warnings and hints; those count too.
    fail "desktop-file-validate: $out"
  fi
  if ! command -v appstreamcli >/dev/null; then
    fail "appstreamcli is missing (appstream, scripts/deps.sh test)"
  elif ! out=$(appstreamcli validate --no-net "$root/share/metainfo/$app_id.metainfo.xml" 2>&1); then
    fail "appstreamcli validate: $out"
  fi
}

# The installed files below PREFIX_ROOT (a /usr), and how they refer to each other.
check_files() {
  local root=$1 desktop metainfo size png
  desktop=$root/share/applications/$app_id.desktop
  metainfo=$root/share/metainfo/$app_id.metainfo.xml

  [[ -f $root/bin/tamberlode && -x $root/bin/tamberlode ]] || fail "no executable $root/bin/tamberlode"
  [[ -f $desktop ]] || fail "no desktop file $desktop"
  [[ -f $metainfo ]] || fail "no metainfo file $metainfo"
  [[ -f $root/share/doc/tamberlode/copyright ]] || fail "no $root/share/doc/tamberlode/copyright"
  for size in 16 32; do
    png=$root/share/icons/hicolor/${size}x$size/apps/tamberlode.png
    if [[ ! -f $png ]]; then
      fail "no icon $png"
    elif [[ $(png_size "$png") != "$size $size" ]]; then
      fail "$png is not a ${size}x$size PNG (got '$(png_size "$png")')"
    elif ! cmp -s "$png" "$src/identity/icon/tamberlode-$size.png"; then
      fail "$png differs from identity/icon/tamberlode-$size.png, the window icon"
    fi
  done
  [[ -f $desktop && -f $metainfo ]] || return 0

  key() { sed -n "s/^$1=//p" "$desktop"; }
  [[ $(key Name) == Tamberlode ]] || fail "desktop Name is '$(key Name)'"
  [[ $(key Type) == Application ]] || fail "desktop Type is '$(key Type)'"
  [[ $(key Terminal) == false ]] || fail "desktop Terminal is '$(key Terminal)'"
  [[ -n $(key Comment) ]] || fail "desktop file has no Comment"
  [[ $(key Exec) == tamberlode ]] || fail "desktop Exec is '$(key Exec)', not the installed tamberlode"
  [[ $(key Icon) == tamberlode ]] || fail "desktop Icon is '$(key Icon)', not the installed tamberlode.png"

  grep -q "<id>$app_id</id>" "$metainfo" || fail "metainfo id is not $app_id"
  grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo" ||
    fail "metainfo does not launch $app_id.desktop"
  grep -q "<release version=\"$version\"" "$metainfo" || fail "metainfo has no release $version"
  grep -q '<screenshot' "$metainfo" || fail "metainfo has no screenshot"
  grep -q '<metadata_license>CC0-1.0</metadata_license>' "$metainfo" || fail "metainfo licence"
  grep -q '<project_license>MIT</project_license>' "$metainfo" || fail "project licence"
  grep -q '<developer_name>the Tamberlode developers</developer_name>' "$metainfo" ||
    fail "metainfo developer name"

  validate "$root"
}

# not-installed, installed, config-files, half-configured, ...
package_state() {
  local state
  state=$(dpkg-query -W -f='${db:Status-Status}' tamberlode 2>/dev/null) || state=not-installed
  echo "${state:-not-installed}"
}

tree() {
  local expected actual
  tmp=$(mktemp -d)
  trap 'rm -rf "$tmp"' EXIT
  DESTDIR=$tmp cmake --install "$bin" --prefix /usr >"$tmp.log" 2>&1 || {
    cat "$tmp.log" >&2
    rm -f "$tmp.log"
    fail "cmake --install failed"
    finish
  }
  rm -f "$tmp.log"

  check_files "$tmp/usr"

  # Exactly these files: nothing of the tests or tools leaks into the package.
  expected=$(printf '%s\n' usr/bin/tamberlode \
    usr/share/applications/$app_id.desktop \
    usr/share/doc/tamberlode/copyright \
    usr/share/icons/hicolor/16x16/apps/tamberlode.png \
    usr/share/icons/hicolor/32x32/apps/tamberlode.png \
    usr/share/metainfo/$app_id.metainfo.xml | sort)
  actual=$(cd "$tmp" && find . -type f -printf '%P\n' | sort)
  [[ $actual == "$expected" ]] || fail "installed files differ from the expected list:
$(diff <(echo "$expected") <(echo "$actual") || true)"

  # The running program names its desktop file to the desktop.
  grep -F 'setDesktopFileName' "$src/toolkit/toolkit_qt.cpp" | grep -qF "\"$app_id\"" ||
    fail "toolkit/toolkit_qt.cpp does not report the desktop file name $app_id"
  finish
}

deb() {
  [[ $sanitize == ON ]] && skip "sanitizer build: the package is built and tested by the dev build"
  [[ $(id -u) -eq 0 ]] || skip "not root: installing a package into /usr needs root"
  command -v dpkg >/dev/null && command -v apt-get >/dev/null || skip "not a Debian system (no dpkg/apt-get)"
  [[ $(package_state) == not-installed ]] ||
    skip "a tamberlode package is already on this system ($(package_state)); left alone"
  [[ -e /usr/bin/tamberlode ]] && skip "/usr/bin/tamberlode exists outside any package; left alone"
  command -v dpkg-shlibdeps >/dev/null || fail "dpkg-shlibdeps is missing (dpkg-dev, scripts/deps.sh)"
  ((failures == 0)) || finish

  local work=$bin/install-test/deb pkgs deb depends extra
  mkdir -p "$work"
  apt_opts=(-y -q -o DPkg::Lock::Timeout=120 -o Dpkg::Options::=--force-confold --no-install-recommends)
  export DEBIAN_FRONTEND=noninteractive

  # Its own release tree, only the program: the dev tree is left as it is.
  (cd "$src" && cmake --preset release -B "$work/build" -DTAMBERLODE_TESTS=OFF \
    -DTAMBERLODE_BENCH=OFF >"$work/configure.log" 2>&1) || {
    cat "$work/configure.log" >&2
    fail "configuring the release tree failed"
    finish
  }
  cmake --build "$work/build" --target tamberlode -j2 >"$work/build.log" 2>&1 || {
    tail -50 "$work/build.log" >&2
    fail "building the release program failed"
    finish
  }
  pkgs=$work/packages
  rm -rf "$pkgs"
  cpack --config "$work/build/CPackConfig.cmake" -B "$pkgs" >"$work/cpack.log" 2>&1 || {
    cat "$work/cpack.log" >&2
    fail "cpack failed"
    finish
  }
  deb=$(find "$pkgs" -maxdepth 1 -name 'tamberlode_*.deb' | head -1)
  [[ -n $deb ]] || {
    fail "cpack made no tamberlode_*.deb in $pkgs"
    finish
  }
  echo "package: $deb"
  dpkg-deb -I "$deb" | sed -n 's/^ //p' | grep -E '^(Package|Version|Section|Maintainer|Depends):'

  depends=$(dpkg-deb -f "$deb" Depends)
  for p in libc6 libqt6widgets6 libqt6gui6 libqt6core6 libmount1 fonts-liberation2 fonts-comic-neue; do
    grep -qE "(^|, )$p( |,|$)" <<<"$depends" || fail "Depends lacks $p: $depends"
  done
  [[ $(dpkg-deb -f "$deb" Version) == "$version" ]] || fail "package version is not $version"
  [[ $(dpkg-deb -f "$deb" Section) == utils ]] || fail "package section is not utils"

  # Installing must not pull anything in: removing it afterwards would then
  # not leave the system as it was.
  extra=$(apt-get -s "${apt_opts[@]}" install "$deb" 2>&1 | sed -n 's/^Inst \([^ ]*\).*/\1/p' | grep -vx tamberlode || true)
  [[ -z $extra ]] || {
    fail "installing the package would also install: $extra (missing from scripts/deps.sh?)"
    finish
  }

  run=$(mktemp -d)
  cleanup() {
    if [[ -n ${pid:-} ]]; then
      kill "$pid" 2>/dev/null || true
      wait "$pid" 2>/dev/null || true
    fi
    if [[ $(package_state) != not-installed ]]; then
      apt-get "${apt_opts[@]}" purge tamberlode >/dev/null 2>&1 || dpkg --purge tamberlode >/dev/null 2>&1 || true
    fi
    rm -rf "$run"
  }
  trap cleanup EXIT

  apt-get "${apt_opts[@]}" install "$deb" >"$run/apt.log" 2>&1 || {
    cat "$run/apt.log" >&2
    fail "apt-get install $deb failed"
    finish
  }

  check_files /usr

  local missing
  missing=$(ldd /usr/bin/tamberlode 2>&1 | grep 'not found' || true)
  [[ -z $missing ]] || fail "ldd: libraries not found: $missing"

  # A private home, so the program leaves nothing behind in the real one.
  mkdir -m 700 "$run/home" "$run/xdg-runtime"
  HOME=$run/home XDG_CONFIG_HOME=$run/home/.config XDG_CACHE_HOME=$run/home/.cache \
    XDG_RUNTIME_DIR=$run/xdg-runtime QT_QPA_PLATFORM=offscreen \
    /usr/bin/tamberlode >"$run/out.log" 2>&1 &
  pid=$!
  sleep 1
  if kill -0 "$pid" 2>/dev/null; then
    echo "tamberlode is running a second after its start; ending it"
  else
    wait "$pid" && status=0 || status=$?
    pid=
    fail "tamberlode exited within a second (status $status): $(cat "$run/out.log")"
  fi

  cleanup
  trap - EXIT
  pid=
  [[ $(package_state) == not-installed ]] || fail "the package is $(package_state) after removal"
  [[ ! -e /usr/bin/tamberlode ]] || fail "/usr/bin/tamberlode is still there after removal"
  finish
}

case $mode in
  tree) tree ;;
  deb) deb ;;
  *)
    echo "usage: $0 tree|deb SOURCE_DIR BINARY_DIR VERSION SANITIZE" >&2
    exit 2
    ;;
esac

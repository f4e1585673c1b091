#!/usr/bin/env bash
# Checks what `cmake --install` and the Debian package put on a system.
# Usage: install_test.sh tree|deb SOURCE_DIR BINARY_DIR VERSION SANITIZE
#   tree  installs the build tree under a temporary DESTDIR and checks it, the
#         software catalogue's view of it and the running window's class
#   deb   (root only) builds the .deb as `make package` does, in its own
#         release tree, runs lintian on it, then installs it into a throwaway
#         copy of this system (a private mount namespace with an overlay over
#         /), starts the program there and removes the package again. The
#         system itself is left as it was, and the test checks that it is.
set -euo pipefail

mode=$1 src=$2 bin=$3 version=$4 sanitize=$5
app_id=org.example.Tamberlode
icon_dir=$src/identity/icon
icon_sizes=(16 32 48 64 128 256)
failures=0
apt_opts=(-y -q -o Dpkg::Options::=--force-confold --no-install-recommends)

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

# The software catalogue keeps a component only with an icon of 64 px or
# more; compose drops it (and fails) otherwise.
compose() {
  local tree=$1 out catalogue
  out=$(appstreamcli compose --no-color --origin=tamberlode --result-root="$tree.compose" "$tree" 2>&1) ||
    fail "appstreamcli compose failed: $out"
  catalogue=$tree.compose/usr/share/swcatalog/xml/tamberlode.xml.gz
  if [[ ! -f $catalogue ]]; then
    fail "appstreamcli compose wrote no catalogue: $out"
  elif ! zcat "$catalogue" | grep -q "<id>$app_id</id>"; then
    fail "the composed catalogue does not list $app_id: $out"
  elif ! zcat "$catalogue" | grep -q '<icon type="cached" width="128" height="128"'; then
    fail "the composed catalogue has no 128 px icon: $(zcat "$catalogue")"
  fi
  rm -rf "$tree.compose"
}

# The window class the program gives its windows on X11 is the one its
# desktop entry names, so docks pair the two. Needs Xvfb and xprop.
window_class() {
  local program=$1 desktop=$2 display pid xvfb wid class want
  command -v Xvfb >/dev/null && command -v xprop >/dev/null && command -v xdotool >/dev/null || {
    fail "Xvfb, xprop or xdotool is missing (xvfb, x11-utils, xdotool: scripts/deps.sh test)"
    return
  }
  want=$(sed -n 's/^StartupWMClass=//p' "$desktop")
  for display in $(seq 140 160); do
    [[ -e /tmp/.X$display-lock || -e /tmp/.X11-unix/X$display ]] || break
  done
  Xvfb ":$display" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb=$!
  for _ in $(seq 50); do
    [[ -e /tmp/.X11-unix/X$display ]] && break
    sleep 0.1
  done
  env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY=":$display" HOME="$tmp/home" \
    XDG_RUNTIME_DIR="$tmp/xdg" "$program" >/dev/null 2>&1 &
  pid=$!
  wid=$(DISPLAY=":$display" timeout 20 xdotool search --sync --onlyvisible --pid "$pid" 2>/dev/null | head -1) || true
  if [[ -z $wid ]]; then
    fail "no window of $program appeared on the X display"
  else
    # WM_CLASS(STRING) = "instance", "class"
    class=$(DISPLAY=":$display" xprop -id "$wid" WM_CLASS | sed -n 's/.*", "\(.*\)"$/\1/p')
    [[ $class == "$want" ]] || fail "window class is '$class', desktop StartupWMClass is '$want'"
  fi
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
  wait "$xvfb" 2>/dev/null || true
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
  [[ -f $root/share/doc/tamberlode/changelog.gz ]] || fail "no $root/share/doc/tamberlode/changelog.gz"
  [[ -f $root/share/man/man1/tamberlode.1.gz ]] || fail "no manual page $root/share/man/man1/tamberlode.1.gz"
  for size in "${icon_sizes[@]}"; do
    png=$root/share/icons/hicolor/${size}x$size/apps/tamberlode.png
    if [[ ! -f $png ]]; then
      fail "no icon $png"
    elif [[ $(png_size "$png") != "$size $size" ]]; then
      fail "$png is not a ${size}x$size PNG (got '$(png_size "$png")')"
    elif ! cmp -s "$png" "$icon_dir/tamberlode-$size.png"; then
      fail "$png differs from $icon_dir/tamberlode-$size.png"
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
  [[ $(key StartupWMClass) == Tamberlode ]] ||
    fail "desktop StartupWMClass is '$(key StartupWMClass)', not the window class Tamberlode"

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

tree() {
  local expected actual size
  tmp=$(mktemp -d)
  trap 'rm -rf "$tmp" "$tmp.compose"' EXIT
  DESTDIR=$tmp cmake --install "$bin" --prefix /usr >"$tmp.log" 2>&1 || {
    cat "$tmp.log" >&2
    rm -f "$tmp.log"
    fail "cmake --install failed"
    finish
  }
  rm -f "$tmp.log"

  # Exactly these files: nothing of the tests or tools leaks into the package.
  expected=$(
    printf '%s\n' usr/bin/tamberlode \
      usr/share/applications/$app_id.desktop \
      usr/share/doc/tamberlode/changelog.gz \
      usr/share/doc/tamberlode/copyright \
      usr/share/man/man1/tamberlode.1.gz \
      usr/share/metainfo/$app_id.metainfo.xml
    for size in "${icon_sizes[@]}"; do echo "usr/share/icons/hicolor/${size}x$size/apps/tamberlode.png"; done
  )
  expected=$(sort <<<"$expected")
  actual=$(cd "$tmp" && find . -type f -printf '%P\n' | sort)
  [[ $actual == "$expected" ]] || fail "installed files differ from the expected list:
$(diff <(echo "$expected") <(echo "$actual") || true)"

  check_files "$tmp/usr"
  compose "$tmp"
  mkdir -m 700 "$tmp/home" "$tmp/xdg"
  window_class "$tmp/usr/bin/tamberlode" "$tmp/usr/share/applications/$app_id.desktop"

  # The running program names its desktop file to the desktop (Wayland's
  # app id).
  grep -F 'setDesktopFileName' "$src/toolkit/loop_qt.cpp" | grep -qF "\"$app_id\"" ||
    fail "toolkit/loop_qt.cpp does not report the desktop file name $app_id"
  finish
}

# What must not change on the system the test runs on.
host_state() {
  sha256sum /var/lib/dpkg/status
  ls -l --time-style=full-iso /usr/bin/tamberlode /usr/share/applications/$app_id.desktop 2>&1 || true
}

deb() {
  [[ $sanitize == ON ]] && skip "sanitizer build: the package is built and tested by the dev build"
  [[ $(id -u) -eq 0 ]] || skip "not root: a throwaway root (mount namespace, overlay) needs root"
  command -v dpkg >/dev/null && command -v apt-get >/dev/null || skip "not a Debian system (no dpkg/apt-get)"
  command -v unshare >/dev/null && command -v chroot >/dev/null || skip "no unshare or chroot (util-linux, coreutils)"
  command -v dpkg-shlibdeps >/dev/null || fail "dpkg-shlibdeps is missing (dpkg-dev, scripts/deps.sh)"
  command -v lintian >/dev/null || fail "lintian is missing (scripts/deps.sh test)"
  ((failures == 0)) || finish

  local work=$bin/install-test/deb pkgs deb depends extra built lint before after status
  mkdir -p "$work"
  export DEBIAN_FRONTEND=noninteractive

  # Its own release tree, configured and built as `make package` does: the
  # tests and benchmarks are configured but must not be built. A fresh tree,
  # so that nothing built earlier passes for what this build made.
  rm -rf "$work/build"
  (cd "$src" && cmake --preset release -B "$work/build" >"$work/configure.log" 2>&1) || {
    cat "$work/configure.log" >&2
    fail "configuring the release tree failed"
    finish
  }
  cmake --build "$work/build" --target shipped -j2 >"$work/build.log" 2>&1 || {
    tail -50 "$work/build.log" >&2
    fail "building the shipped target failed"
    finish
  }
  built=$(find "$work/build" -path '*/CMakeFiles' -prune -o -type f -perm -u+x -printf '%f\n' | sort)
  [[ $built == tamberlode ]] || fail "the shipped target built more programs than the package holds:
$built"
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
  dpkg-deb --fsys-tarfile "$deb" | tar -xOf - ./usr/share/doc/tamberlode/changelog.gz | zcat |
    head -1 | grep -qF "tamberlode ($version)" ||
    fail "the changelog's latest entry is not version $version"

  # No errors or warnings; nor the hardening and stripping notes, which are
  # only informational to lintian but are what the release build promises.
  # Lintian leaves a database file in its temporary folder: give it ours.
  mkdir -p "$work/lintian"
  lint=$(TMPDIR=$work/lintian lintian --info --display-info "$deb" 2>&1 |
    grep -v '^running with root privileges' || true)
  rm -rf "$work/lintian"
  echo "lintian: ${lint:-no tags}"
  if grep -qE '^[EW]: |^I: tamberlode: (hardening-|binary-has-unneeded-section)' <<<"$lint"; then
    fail "lintian: $lint"
  fi

  # Everything it needs must already be here: the throwaway root cannot
  # fetch anything.
  extra=$(apt-get -s "${apt_opts[@]}" install "$deb" 2>&1 | sed -n 's/^Inst \([^ ]*\).*/\1/p' | grep -vx tamberlode || true)
  [[ -z $extra ]] || {
    fail "installing the package would also install: $extra (missing from scripts/deps.sh?)"
    finish
  }

  before=$(host_state)
  status=0
  TAMBERLODE_HOST_MOUNTS=$(readlink /proc/self/ns/mnt) \
    unshare --mount --propagation private -- bash "$0" deb-root "$src" "$bin" "$version" "$sanitize" "$deb" ||
    status=$?
  after=$(host_state)
  [[ $before == "$after" ]] || fail "the system changed while the package was tested:
$(diff <(echo "$before") <(echo "$after") || true)"
  ((status == 77)) && skip "no throwaway root could be made (see above)"
  ((status == 0)) || failures=$((failures + 1))
  finish
}

# The processes whose root is the throwaway root, as "pid command" lines.
in_root_processes() {
  local proc
  for proc in /proc/[0-9]*; do
    [[ $(readlink "$proc/root" 2>/dev/null) == "$1" ]] && echo "${proc#/proc/} $(cat "$proc/comm" 2>/dev/null)"
  done
  return 0
}

# Whatever deb_root leaves: processes in the throwaway root, its mounts and
# the temporary folder they hang on.
leave_root() {
  local scratch=$1 pid
  for pid in $(in_root_processes "$scratch/root" | cut -d' ' -f1); do kill -9 "$pid" 2>/dev/null || true; done
  umount -R -l "$scratch" 2>/dev/null || true
  rmdir "$scratch" 2>/dev/null || true
}

# In a private mount namespace: an overlay over / whose changes live in a
# tmpfs that goes with the namespace. Installs, runs and removes the package
# there.
deb_root() {
  local deb=$1 scratch root pid out missing
  # Mounts and installs happen only in a mount namespace other than the one
  # the test was started in (deb passes its own).
  local here
  here=$(readlink /proc/self/ns/mnt)
  [[ -n ${TAMBERLODE_HOST_MOUNTS:-} && -n $here && $here != "$TAMBERLODE_HOST_MOUNTS" ]] ||
    { echo "not in a mount namespace of the test's own" >&2; exit 1; }
  scratch=$(mktemp -d)
  # shellcheck disable=SC2064 # the folder as it is now: the trap runs after deb_root
  trap "leave_root '$scratch'" EXIT
  mount -t tmpfs tmpfs "$scratch" || skip "cannot mount a tmpfs (not allowed here?)"
  mkdir "$scratch/upper" "$scratch/work" "$scratch/root"
  root=$scratch/root
  mount -t overlay overlay -o "lowerdir=/,upperdir=$scratch/upper,workdir=$scratch/work" "$root" ||
    skip "cannot mount an overlay over / (no overlayfs?)"
  # apt-get runs only chrooted into the overlay; anything else ends the test.
  [[ $(findmnt -n -o FSTYPE --target "$root") == overlay ]] ||
    { echo "$root is not the overlay" >&2; exit 1; }
  mount --rbind /dev "$root/dev"
  mount -t proc proc "$root/proc"
  mount -t tmpfs tmpfs "$root/tmp"
  mount -t tmpfs tmpfs "$root/run"
  cp "$deb" "$root/tmp/"
  in_root() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive "$@"; }

  in_root apt-get "${apt_opts[@]}" install "/tmp/${deb##*/}" >"$scratch/apt.log" 2>&1 || {
    cat "$scratch/apt.log" >&2
    fail "apt-get install of the package in the throwaway root failed"
    finish
  }
  [[ $(in_root dpkg-query -W -f='${db:Status-Status}' tamberlode 2>/dev/null) == installed ]] ||
    fail "the package is not installed in the throwaway root"
  check_files "$root/usr"

  missing=$(in_root ldd /usr/bin/tamberlode 2>&1 | grep 'not found' || true)
  [[ -z $missing ]] || fail "ldd: libraries not found: $missing"
  out=$(in_root /usr/bin/tamberlode --version 2>&1) || true
  [[ $out == "Tamberlode $version" ]] || fail "installed tamberlode --version says '$out'"

  mkdir -m 700 "$root/tmp/home" "$root/tmp/xdg"
  # Started without a shell function or subshell between: chroot and env
  # exec, so $! is the program itself.
  chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/tmp/home XDG_RUNTIME_DIR=/tmp/xdg \
    QT_QPA_PLATFORM=offscreen /usr/bin/tamberlode >"$scratch/out.log" 2>&1 &
  pid=$!
  sleep 1
  if kill -0 "$pid" 2>/dev/null; then
    [[ $(readlink "/proc/$pid/exe") == "$root/usr/bin/tamberlode" ]] ||
      fail "the process started is $(readlink "/proc/$pid/exe"), not the installed program"
    echo "tamberlode is running a second after its start; ending it"
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  else
    wait "$pid" && status=0 || status=$?
    fail "tamberlode exited within a second (status $status): $(cat "$scratch/out.log")"
  fi
  for _ in $(seq 50); do
    [[ -z $(in_root_processes "$root") ]] && break
    sleep 0.1
  done
  [[ -z $(in_root_processes "$root") ]] ||
    fail "processes of the throwaway root are left: $(in_root_processes "$root")"

  in_root apt-get "${apt_opts[@]}" purge tamberlode >"$scratch/apt.log" 2>&1 || {
    cat "$scratch/apt.log" >&2
    fail "apt-get purge failed"
  }
  [[ -z $(in_root dpkg-query -W -f='${db:Status-Status}' tamberlode 2>/dev/null) ]] ||
    fail "the package is still known after its removal"
  [[ ! -e $root/usr/bin/tamberlode ]] || fail "/usr/bin/tamberlode is still there after removal"
  finish
}

case $mode in
  tree) tree ;;
  deb) deb ;;
  deb-root) deb_root "$6" ;;
  *)
    echo "usage: $0 tree|deb SOURCE_DIR BINARY_DIR VERSION SANITIZE" >&2
    exit 2
    ;;
esac

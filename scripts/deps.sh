#!/usr/bin/env bash
# Installs the Debian packages the build and tests need, only those missing.
# Usage: scripts/deps.sh [run|test|package]
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev clang-format pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev libmount-dev
  fonts-liberation2 fonts-comic-neue
  dpkg-dev file
  qt6-wayland
)
if [[ "${1:-}" == package ]]; then
  # `make package` also cross-builds the 32-bit program (its preset builds
  # GoogleTest from source for the tests) and packs it: the MSI with wixl
  # (msibuild of msitools completes its tables), the setup with makensis.
  packages+=(g++-mingw-w64-i686-posix googletest wixl msitools nsis)
fi
if [[ "${1:-}" == test ]]; then
  # The installers' build (wixl, msibuild, makensis) and their checks (msiinfo).
  packages+=(wixl msitools nsis)
  packages+=(xvfb xauth util-linux e2fsprogs dosfstools desktop-file-utils appstream locales)
  # The package checks: lintian, the software catalogue's compose, the
  # window class read with xprop.
  packages+=(lintian appstream-compose x11-utils)
  # FUSE volumes that hang on purpose, for the stuck-volume tests.
  packages+=(python3-fusepy)
  # A loaded machine for the timing-sensitive tests' second run in CI.
  packages+=(stress-ng)
  # The program on a Wayland desktop: a headless compositor (weston), and the
  # accessibility bus to read and press the windows, as Wayland lets no
  # client send input to another.
  packages+=(weston at-spi2-core dbus python3-gi gir1.2-atspi-2.0)
  # The Windows builds and their tests under Wine: the shipped program is
  # 32-bit, so the 32-bit loader (wine32, from the i386 architecture) runs
  # it; wine64 runs the x86_64 build's unit tests. fonts-wine holds Wine's
  # MS Sans Serif, the design's default face.
  packages+=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix googletest wine wine32:i386
             wine64 fonts-wine xdotool imagemagick python3-pefile)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)
# An :i386 package needs the i386 architecture, added once.
if printf '%s\n' "${missing[@]}" | grep -q ':i386$' &&
  ! { dpkg --print-architecture; dpkg --print-foreign-architectures; } | grep -qx i386; then
  "${sudo[@]}" dpkg --add-architecture i386
fi
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"

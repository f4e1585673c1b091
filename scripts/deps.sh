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
)
if [[ "${1:-}" == package ]]; then
  # `make package` also cross-builds the 32-bit program (its preset builds
  # GoogleTest from source for the tests) and packs it with wixl.
  packages+=(g++-mingw-w64-i686-posix googletest wixl)
fi
if [[ "${1:-}" == test ]]; then
  # The installer's build and its checks (msiinfo).
  packages+=(wixl msitools)
  packages+=(xvfb xauth util-linux e2fsprogs dosfstools desktop-file-utils appstream locales)
  # The package checks: lintian, the software catalogue's compose, the
  # window class read with xprop.
  packages+=(lintian appstream-compose x11-utils)
  # FUSE volumes that hang on purpose, for the stuck-volume tests.
  packages+=(python3-fusepy)
  # The Windows builds and their tests under Wine (64-bit Wine only).
  packages+=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix googletest wine wine64 xdotool
             imagemagick python3-pefile)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"

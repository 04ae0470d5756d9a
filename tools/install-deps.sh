#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build QvUnInstall.exe and
# its x86-64 twin, run the host tests and run the programs under Wine. The
# 32-bit Wine installs also where the host cannot run it; should it not
# install there, the rest still does and the tests use the 64-bit Wine.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

packages=(
  cmake make g++ libgtest-dev libgmock-dev libbenchmark-dev python3
  nlohmann-json3-dev
  clang libclang-rt-14-dev
  g++-mingw-w64-i686 mingw-w64-i686-dev binutils-mingw-w64-i686
  g++-mingw-w64-x86-64 mingw-w64-x86-64-dev binutils-mingw-w64-x86-64
  wine wine32:i386 wine64 xvfb x11-utils imagemagick
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -eq 0 ]; then
  echo "install-deps: everything is installed"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
$SUDO dpkg --add-architecture i386
$SUDO apt-get update -qq
install() { DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "$@"; }
if ! install "${missing[@]}"; then
  rest=()
  for p in "${missing[@]}"; do [ "$p" = "wine32:i386" ] || rest+=("$p"); done
  [ "${#rest[@]}" -ne "${#missing[@]}" ] || exit 1
  echo "install-deps: the 32-bit Wine did not install; the rest without it (the tests then use the 64-bit Wine)"
  $SUDO dpkg --configure -a || true
  install "${rest[@]}"
fi

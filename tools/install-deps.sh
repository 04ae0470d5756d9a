#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build QvUnInstall.exe and
# its x86-64 twin, run the host tests and run the programs under Wine. The
# 32-bit Wine installs also where the host cannot run it; should it not
# install there, the rest still does and the tests use the 64-bit Wine.
# One line per thing it does; the package manager's own words only when it fails.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

groups=(
  "build tools|cmake make g++ python3"
  "test libraries|libgtest-dev libgmock-dev libbenchmark-dev"
  "JSON library|nlohmann-json3-dev"
  "clang and its sanitizer and fuzzer runtime|clang libclang-rt-14-dev"
  "mingw-w64 for i686|g++-mingw-w64-i686 mingw-w64-i686-dev binutils-mingw-w64-i686"
  "mingw-w64 for x86-64|g++-mingw-w64-x86-64 mingw-w64-x86-64-dev binutils-mingw-w64-x86-64"
  "Wine, 32- and 64-bit|wine wine32:i386 wine64"
  "a virtual display and screenshots|xvfb x11-utils imagemagick"
  "Ansible, for the playbook's syntax check|ansible"
)

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

output=$(mktemp)
trap 'rm -f "$output"' EXIT
# Runs the package manager quietly; on failure shows all it said.
quietly() {
  if ! DEBIAN_FRONTEND=noninteractive "$@" >"$output" 2>&1; then
    cat "$output" >&2
    return 1
  fi
}

missing=()
for group in "${groups[@]}"; do
  label=${group%%|*} packages=${group#*|} lacking=()
  for p in $packages; do installed "$p" || lacking+=("$p"); done
  if [ "${#lacking[@]}" -eq 0 ]; then
    echo "install-deps: $label ($packages): in place"
  else
    echo "install-deps: $label: to install: ${lacking[*]}"
    missing+=("${lacking[@]}")
  fi
done
[ "${#missing[@]}" -ne 0 ] || exit 0

echo "install-deps: adding the i386 architecture and reading the package lists"
quietly $SUDO dpkg --add-architecture i386
# A mirror caught mid-sync fails one index now and then: try again, then go
# on with the lists that did come (the install says so if that is not enough).
for attempt in 1 2 3 4 5; do
  if quietly $SUDO apt-get update; then break; fi
  [ "$attempt" -lt 5 ] || { echo "install-deps: some package lists did not come; going on with those that did"; break; }
  echo "install-deps: reading the package lists failed (above); again in 20 s"
  sleep 20
done
install() { quietly $SUDO apt-get install -y --no-install-recommends "$@"; }
echo "install-deps: installing ${missing[*]}"
if ! install "${missing[@]}"; then
  rest=()
  for p in "${missing[@]}"; do [ "$p" = "wine32:i386" ] || rest+=("$p"); done
  [ "${#rest[@]}" -ne "${#missing[@]}" ] || exit 1
  echo "install-deps: the 32-bit Wine did not install (above); the rest without it (the tests then use the 64-bit Wine)"
  $SUDO dpkg --configure -a >/dev/null 2>&1 || true
  [ "${#rest[@]}" -ne 0 ] || exit 0
  install "${rest[@]}"
  missing=("${rest[@]}")
fi
for p in "${missing[@]}"; do
  installed "$p" || { echo "install-deps: $p did not install" >&2; exit 1; }
done
echo "install-deps: ${missing[*]}: in place"

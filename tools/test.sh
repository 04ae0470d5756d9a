#!/usr/bin/env bash
# Every test: the host unit tests, the same under the address and undefined
# behaviour sanitizers, a short run of each fuzz target, the fleet playbook's
# syntax check, then the Windows build with the end-to-end suite that runs
# the real programs under Wine: the PE32 product where this host runs
# 32-bit programs, else the x86-64 twin build (windows-x64) after the
# product is built and checked unrun.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/wine-arch.sh
cmake --workflow --preset host
# The fault-injection test says how much it tried.
ctest --test-dir build/host -R FaultInjection -V | grep "fault injection:"
cmake --workflow --preset asan
tools/fuzz.sh 15
# The fleet playbook must at least parse, with every module it names found.
echo "test.sh: ansible-playbook --syntax-check deploy/ansible/uninstall.yml"
ansible-playbook --syntax-check -i localhost, deploy/ansible/uninstall.yml
if [ "$qv_wine_arch" = win32 ]; then
  cmake --workflow --preset windows
  # The x86-64 twin is what hosts without 32-bit Wine test: it must build here too.
  cmake --preset windows-x64
  cmake --build --preset windows-x64
  ctest --preset windows-x64 -L static
  unrun="; the x86-64 twin was built and checked without running it"
else
  # The product, though no Wine here runs it: built, and checked as a file.
  cmake --preset windows
  cmake --build --preset windows
  ctest --preset windows -L static
  cmake --workflow --preset windows-x64
  unrun="; the PE32 product build/windows/QvUnInstall.exe was built and checked without running it"
fi
echo "test.sh: every test passed; the end-to-end cases ran on build/$qv_preset/QvUnInstall.exe ($qv_build_kind)$unrun"
echo "test.sh: $qv_wine_line"

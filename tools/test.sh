#!/usr/bin/env bash
# Every test: the host unit tests, the same under the address and undefined
# behaviour sanitizers, a short run of each fuzz target, then the Windows
# build with the end-to-end suite that runs the real QvUnInstall.exe under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --workflow --preset host
# The fault-injection test says how much it tried.
ctest --test-dir build/host -R FaultInjection -V | grep "fault injection:"
cmake --workflow --preset asan
tools/fuzz.sh 15
cmake --workflow --preset windows

#!/usr/bin/env bash
# The main job: build the real QvUnInstall.exe and run a demonstration
# uninstall of a small Quorvan installation under Wine, as an administrator
# would do it: the plan, the run with its log, the log, the verification;
# then a quiet run (-q) with a program missing, and its exit status.
# Where this host runs no 32-bit programs the x86-64 twin build runs instead
# (tools/wine-arch.sh says which). Screenshots go to build/demo/; with
# --refresh-docs they replace the pictures in docs/ that the README shows.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/tools/wine-arch.sh"
build="$top/build/$qv_preset"
shots="$top/build/demo"
if [ "${1:-}" = "--refresh-docs" ]; then shots="$top/docs"; fi
cmake --preset "$qv_preset" -S "$top" >/dev/null
cmake --build "$build" -j2 --target QvUnInstall QvUninstCheck robot standin metabase
exec python3 "$top/e2e/demo.py" --exe "$build/QvUnInstall.exe" --check "$build/QvUninstCheck.exe" \
  --robot "$build/e2e/robot.exe" --standin "$build/e2e/standin.exe" \
  --metabase "$build/e2e/metabase.dll" --shots "$shots"

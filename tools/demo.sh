#!/usr/bin/env bash
# The main job: build the real QvUnInstall.exe and run a demonstration
# uninstall of a small Quorvan installation under Wine, printing what it did.
# Screenshots of the confirmation box and the progress dialog go to docs/.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build/windows"
cmake --preset windows -S "$top" >/dev/null
cmake --build "$build" -j2 --target QvUnInstall robot standin
exec python3 "$top/e2e/demo.py" --exe "$build/QvUnInstall.exe" \
  --robot "$build/e2e/robot.exe" --standin "$build/e2e/standin.exe" --docs "$top/docs" "$@"

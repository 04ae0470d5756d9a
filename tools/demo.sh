#!/usr/bin/env bash
# The main job: build the real QvUnInstall.exe and run a demonstration
# uninstall of a small Quorvan installation under Wine, printing what it did.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset windows >/dev/null
cmake --build --preset windows
python3 e2e/demo.py --build build/windows "$@"

#!/usr/bin/env bash
# Every test: the host unit tests, then the Windows build with the end-to-end
# suite that runs the real QvUnInstall.exe under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --workflow --preset host
cmake --workflow --preset windows

#!/usr/bin/env bash
# Measures what the uninstaller itself costs, side by side with a direct way
# of doing the same, and prints one table (median / max over several runs):
# under Wine the per-command overhead, CPU while a child runs, the longest
# time the progress dialog does not answer, start-up to the first box and
# the exe's size; on the host the list driver's and the Netscape restore's
# throughput (Google Benchmark). Builds everything it needs first.
#   tools/bench.sh [--runs N] [--cpu-runs N]     (docs/benchmarks.md explains the figures)
set -euo pipefail
# Only the table goes to standard output; what the builds say goes to standard error.
exec 3>&1 1>&2
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build"

# The exe exactly as the windows preset builds it, with the e2e robot and stand-in.
cmake --preset windows -S "$top" >/dev/null
cmake --build "$build/windows" -j2 --target QvUnInstall robot standin

# The programs that run beside it in the prefix.
cmake -S "$top/bench" -B "$build/bench-windows" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build/bench-windows" -j2

# The host benchmark over the product's logic and fake platform, optimised.
cmake -S "$top/bench" -B "$build/bench-host" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build/bench-host" -j2 --target qvbench

python3 "$top/bench/bench.py" \
  --exe "$build/windows/QvUnInstall.exe" \
  --robot "$build/windows/e2e/robot.exe" --standin "$build/windows/e2e/standin.exe" \
  --bench-bin "$build/bench-windows" --qvbench "$build/bench-host/qvbench" \
  --pristine "$build/bench-windows/pristine-prefix" \
  --json "$build/bench-results.json" --markdown "$build/bench-table.md" "$@" >&3
echo "bench: $SECONDS s in all, builds included; the table is also in build/bench-table.md"

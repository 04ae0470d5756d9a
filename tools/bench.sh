#!/usr/bin/env bash
# Measures what the uninstaller itself costs, side by side with a direct way
# of doing the same, and prints one table (median / max over several runs):
# under Wine the per-command overhead, CPU while a child runs, the longest
# time the progress dialog does not answer, start-up to the first box and
# the exe's size; on the host the list driver's and the Netscape restore's
# throughput (Google Benchmark). Builds everything it needs first: the PE32
# product where this host runs 32-bit programs, else the x86-64 twin build
# (tools/wine-arch.sh says which; the table names it).
#   tools/bench.sh [--runs N] [--cpu-runs N]     (docs/benchmarks.md explains the figures)
set -euo pipefail
# Only the table goes to standard output; what the builds say goes to standard error.
exec 3>&1 1>&2
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build"
. "$top/tools/wine-arch.sh"
exe_build="$build/$qv_preset" bench_build="$build/bench-$qv_preset"

# The exe exactly as its preset builds it, with the e2e robot and stand-in.
cmake --preset "$qv_preset" -S "$top" >/dev/null
cmake --build "$exe_build" -j2 --target QvUnInstall robot standin

# The programs that run beside it in the prefix, for the same architecture.
cmake -S "$top/bench" -B "$bench_build" -DCMAKE_TOOLCHAIN_FILE="$top/$qv_toolchain" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$bench_build" -j2

# The host benchmark over the product's logic and fake platform, optimised.
cmake -S "$top/bench" -B "$build/bench-host" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build/bench-host" -j2 --target qvbench

python3 "$top/bench/bench.py" \
  --exe "$exe_build/QvUnInstall.exe" \
  --robot "$exe_build/e2e/robot.exe" --standin "$exe_build/e2e/standin.exe" \
  --bench-bin "$bench_build" --qvbench "$build/bench-host/qvbench" \
  --pristine "$bench_build/pristine-prefix" \
  --json "$build/bench-results.json" --markdown "$build/bench-table.md" "$@" >&3
echo "bench: $SECONDS s in all, builds included; the table is also in build/bench-table.md"

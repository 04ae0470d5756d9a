#!/usr/bin/env bash
# Builds the fuzz targets (preset fuzz) and runs each for SECONDS_PER_TARGET
# (default 20) on a scratch copy of its seed corpus, as many at once as
# there are cores. Prints each target's executions; exits non-zero when any
# target found a failing input, which is kept under build/fuzz/runs/.
#
#   tools/fuzz.sh [SECONDS_PER_TARGET]
#   QV_FUZZ_JOBS=N         targets run at once (default: the number of cores)
#   QV_FUZZ_KEEP_GOING=1   go on past failing inputs, collecting them all
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-20}"
jobs="${QV_FUZZ_JOBS:-$(nproc)}"
keep_going="${QV_FUZZ_KEEP_GOING:-0}"
# The targets as the build lists them, so that a new one is named in one place.
mapfile -t targets < <(sed -n '/^set(QV_FUZZ_TARGETS/,/^)/s/^ *\(fuzz_[a-z_]*\)$/\1/p' tests/fuzz/FuzzTargets.cmake)
[ "${#targets[@]}" -gt 0 ] || { echo "fuzz.sh: no targets found in tests/fuzz/FuzzTargets.cmake" >&2; exit 2; }

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

bin=build/fuzz/fuzz
runs=build/fuzz/runs  # never the committed corpus: libFuzzer adds to the corpus it is given
rm -rf "$runs"
mkdir -p "$runs"

run_target() {
  local target=$1 dir="$runs/$1"
  mkdir -p "$dir/corpus"
  cp tests/fuzz/corpus/"$target"/* "$dir/corpus/"
  local options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
                 -artifact_prefix="$dir/")
  [ -f tests/fuzz/dict/"$target".dict ] && options+=(-dict=tests/fuzz/dict/"$target".dict)
  [ "$keep_going" = 1 ] && options+=(-fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1)
  local status=0
  "$bin/$target" "${options[@]}" "$dir/corpus" >"$dir/log" 2>&1 || status=$?
  echo "$status" >"$dir/status"
}

for target in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n || true; done
  run_target "$target" &
done
wait

failed=0
for target in "${targets[@]}"; do
  dir="$runs/$target"
  status=$(cat "$dir/status")
  # A fork-mode parent reports its children's total in its last "#N:" line.
  executions=$(grep -a 'stat::number_of_executed_units' "$dir/log" | tail -1 | awk '{print $2}' || true)
  [ -n "$executions" ] || executions=$(grep -aoE '^#[0-9]+' "$dir/log" | tail -1 | tr -d '#' || true)
  inputs=$(find "$dir" -maxdepth 1 -type f \( -name 'crash-*' -o -name 'timeout-*' -o -name 'oom-*' -o -name 'leak-*' \) | sort)
  printf '%-22s %12s executions  status %s\n' "$target" "${executions:-?}" "$status"
  if [ "$status" -ne 0 ] || [ -n "$inputs" ]; then
    failed=1
    # Each input run once more on its own, for the property or the sanitizer's report it breaks.
    for input in $(echo "$inputs" | head -10); do
      bytes=$(head -c 64 "$input" | od -An -v -tx1 | tr -d ' \n')
      [ "$(stat -c %s "$input")" -le 64 ] || bytes="$bytes..."
      why=$("$bin/$target" -timeout=10 "$input" 2>&1 |
        grep -aE -m1 'property failed|ERROR: (AddressSanitizer|LeakSanitizer)|runtime error:|broken contract|ERROR: libFuzzer' || true)
      echo "    $input"
      echo "      input: $bytes"
      echo "      ${why:-(no longer fails on its own)}"
    done
    echo "    log: $dir/log"
  fi
done
exit "$failed"

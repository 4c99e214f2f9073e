#!/usr/bin/env bash
# Builds the libFuzzer targets (preset fuzz: clang, ASan/UBSan) and runs each from its seed corpus
# in tests/fuzz/corpus/, two at a time per core pair, until 10 million executions or, with
# SECONDS given, for that many seconds. Prints one line per target: executions, executions per
# second, coverage (edges and features) and findings. Inputs that crash, leak or mismatch are kept
# in build/fuzz/findings/<target>/; the exit status says whether there were any.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
limit=(-runs=10000000)
if [[ ${1:-} =~ ^[0-9]+$ ]]; then
  limit=(-max_total_time="$1")
  shift
fi
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)" >/dev/null

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for source in tests/fuzz/*.cpp; do targets+=("$(basename "$source" .cpp)"); done
fi
out=build/fuzz/runs
mkdir -p "$out"

run() {
  local name=$1 work=build/fuzz/work/$1 findings=build/fuzz/findings/$1
  # New inputs go to a working copy, never into the repository's seeds.
  rm -rf "$findings" "$out/$name".*
  mkdir -p "$work" "$findings"
  build/fuzz/tests/fuzz/fuzz_"$name" "${limit[@]}" -print_final_stats=1 -artifact_prefix="$findings/" \
    "$work" "tests/fuzz/corpus/$name" >"$out/$name.log" 2>&1
  echo $? >"$out/$name.status"
}

jobs=$(nproc)
for name in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n || true; done
  run "$name" &
done
wait

status=0
printf '%-16s %12s %10s %8s %8s  %s\n' target executions exec/s edges features findings
for name in "${targets[@]}"; do
  log=$out/$name.log
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  edges=$(grep -oE 'cov: [0-9]+' "$log" | tail -1 | cut -d' ' -f2)
  features=$(grep -oE 'ft: [0-9]+' "$log" | tail -1 | cut -d' ' -f2)
  found=$(find "build/fuzz/findings/$name" -type f | wc -l)
  result=none
  if [ "$(cat "$out/$name.status")" != 0 ] || [ "$found" -gt 0 ]; then
    result="$found input(s) in build/fuzz/findings/$name, log $log"
    status=1
  fi
  printf '%-16s %12s %10s %8s %8s  %s\n' "$name" "${runs:-?}" "${speed:-?}" "${edges:-?}" "${features:-?}" "$result"
done
exit $status

#!/usr/bin/env bash
# run.sh: builds the fuzz targets and runs them, each for a number of seconds or all of them
# within one shared budget.
#
# Usage: fuzz/run.sh SECONDS [TARGET...]         every TARGET (default: all) for SECONDS each
#        fuzz/run.sh --share SECONDS [TARGET...]  the targets share SECONDS of wall time
#   TARGET is a folder name under fuzz/corpus (fasta, matrix, scoring, ...).
# Environment:
#   FUZZ_BUILD_DIR  the clang build folder (default: build-fuzz in the repository)
#   FUZZ_JOBS       parallel compile jobs, and targets fuzzed side by side (default: the CPUs
#                   this process may run on)
#
# With --share, a target gets time in proportion to its weight below: the readers of whole
# files and the scoring have far more paths to explore than the small text utilities, whose
# coverage stops growing within seconds. Targets run FUZZ_JOBS at a time, so the budget is wall
# time: 120 seconds on two CPUs give 240 seconds of fuzzing in all.
#
# Each target starts from its seed inputs in fuzz/corpus/<target>/ and keeps what it discovers
# in $FUZZ_BUILD_DIR/fuzz-work/<target>/corpus, so later runs go on from there; the seeds in
# the repository are never changed. A crash, a leak, a sanitizer report, a failed property
# check or an input that runs for more than 10 seconds ends that target's run; its input is
# kept as findings/crash-*, leak-* or timeout-* and the script exits with status 1 once every
# target has run.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
usage="usage: fuzz/run.sh [--share] SECONDS [TARGET...]"
share=0
if [ "${1:-}" = "--share" ]; then
  share=1
  shift
fi
seconds=${1:?$usage}
shift
if [ $# -gt 0 ]; then
  targets=("$@")
else
  targets=()
  for folder in "$root"/fuzz/corpus/*/; do targets+=("$(basename "$folder")"); done
fi
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
jobs=${FUZZ_JOBS:-$(nproc)}

# Relative shares of a --share budget; a target not listed weighs 1.
declare -A weight=([readers]=4 [fasta]=3 [gzip]=3 [matrix]=3 [scoring]=4 [getopt]=2)
total_weight=0
for target in "${targets[@]}"; do total_weight=$((total_weight + ${weight[$target]:-1})); done
# Seconds of fuzzing for one target.
time_for() {
  if [ "$share" -eq 0 ]; then
    echo "$seconds"
  else
    local slots=$((jobs < ${#targets[@]} ? jobs : ${#targets[@]}))
    local share_of_target=$((seconds * slots * ${weight[$1]:-1} / total_weight))
    echo $((share_of_target > 1 ? share_of_target : 1))
  fi
}

cmake -S "$root" -B "$build" -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DMARROWIND_FUZZ=ON -DMARROWIND_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$jobs" --target "${targets[@]/#/fuzz_}" >/dev/null

# Runs one target; prints one line of its outcome, and its log's end after a finding.
fuzz_one() {
  local target=$1 limit=$2
  local work=$build/fuzz-work/$target
  mkdir -p "$work/corpus" "$work/findings"
  local log=$work/last-run.log
  if UBSAN_OPTIONS=print_stacktrace=1 "$build/fuzz/fuzz_$target" -max_total_time="$limit" \
      -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$work/findings/" \
      "$work/corpus" "$root/fuzz/corpus/$target" >"$log" 2>&1; then
    local runs
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "fuzz_$target: no finding in ${runs:-?} executions ($limit s)"
  else
    echo "fuzz_$target: FINDING (log: $log)"
    grep -v '^#' "$log" | tail -n 40
    return 1
  fi
}

# The longest first, so that the side-by-side runs end close together.
mapfile -t ordered < <(for target in "${targets[@]}"; do
  echo "$(time_for "$target") $target"; done | sort -rn)
results=$(mktemp -d)
trap 'rm -rf "$results"' EXIT
running=0
for entry in "${ordered[@]}"; do
  target=${entry#* }
  (fuzz_one "$target" "${entry%% *}" >"$results/$target" 2>&1 || touch "$results/$target.failed") &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait -n || true
    running=$((running - 1))
  fi
done
wait

failed=()
for entry in "${ordered[@]}"; do
  target=${entry#* }
  cat "$results/$target"
  [ -e "$results/$target.failed" ] && failed+=("$target")
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "findings in: ${failed[*]}"
  exit 1
fi

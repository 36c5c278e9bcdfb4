#!/usr/bin/env bash
# run.sh: builds the fuzz targets and runs each of them for a number of seconds.
#
# Usage: fuzz/run.sh SECONDS [TARGET...]
#   TARGET is a folder name under fuzz/corpus (fasta, matrix, scoring, ...); default: all.
# Environment:
#   FUZZ_BUILD_DIR  the clang build folder (default: build-fuzz in the repository)
#   FUZZ_JOBS       parallel compile jobs (default: 2)
#
# Each target starts from its seed inputs in fuzz/corpus/<target>/ and keeps what it discovers
# in $FUZZ_BUILD_DIR/fuzz-work/<target>/corpus, so later runs go on from there; the seeds in
# the repository are never changed. A crash, a leak, a sanitizer report, a failed property
# check or an input that runs for more than 10 seconds ends that target's run; its input is
# kept as findings/crash-*, leak-* or timeout-* and the script exits with status 1 once every
# target has run.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:?usage: fuzz/run.sh SECONDS [TARGET...]}
shift
if [ $# -gt 0 ]; then
  targets=("$@")
else
  targets=()
  for folder in "$root"/fuzz/corpus/*/; do targets+=("$(basename "$folder")"); done
fi
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}

cmake -S "$root" -B "$build" -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DMARROWIND_FUZZ=ON -DMARROWIND_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "${FUZZ_JOBS:-2}" --target "${targets[@]/#/fuzz_}" >/dev/null

failed=()
for target in "${targets[@]}"; do
  work=$build/fuzz-work/$target
  mkdir -p "$work/corpus" "$work/findings"
  log=$work/last-run.log
  if UBSAN_OPTIONS=print_stacktrace=1 "$build/fuzz/fuzz_$target" -max_total_time="$seconds" \
      -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$work/findings/" \
      "$work/corpus" "$root/fuzz/corpus/$target" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "fuzz_$target: no finding in ${runs:-?} executions ($seconds s)"
  else
    echo "fuzz_$target: FINDING (log: $log)"
    grep -v '^#' "$log" | tail -n 40
    failed+=("$target")
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "findings in: ${failed[*]}"
  exit 1
fi

#!/usr/bin/env bash
# time_program.sh: times the whole program on seeded synthetic alignments, against a build of
# the plain loops, and checks that both give the same bytes.
#
# Usage: bench/time_program.sh [--large] [MATRIX...]
#   Builds build-bench-fast (the program as shipped) and build-bench-plain (the plain loops) in
#   Release mode, writes alignments of 2000 x 400, 500 x 3000 and 20000 x 300 (with --large also
#   100000 x 1000, about 100 MB, timed without the plain build) and prints wall time, peak memory
#   and the alignment file's size for each, with the shipped matrices unless others are named.
#   Runs under a few seconds are repeated (the program 7 times, the plain loops 3 times) and
#   their median is shown, since a short run is easily disturbed by other work on the machine.
set -euo pipefail
cd "$(dirname "$0")/.."

large=0
if [ "${1:-}" = "--large" ]; then large=1; shift; fi
matrices=("$@")
[ "${#matrices[@]}" -gt 0 ] || matrices=(data/blosum62.mat2 data/pet91.mat2)

build() {
  cmake -S . -B "$1" -DCMAKE_BUILD_TYPE=Release -DMARROWIND_BUILD_TESTS=OFF "${@:2}" >/dev/null
  cmake --build "$1" -j"$(nproc)" --target marrowind >/dev/null
}
build build-bench-fast
build build-bench-plain -DMARROWIND_PLAIN_STAGES=ON

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

sizes=("2000 400" "500 3000" "20000 300")
[ "$large" -eq 1 ] && sizes+=("100000 1000")

# Prints "wall_seconds peak_megabytes": the median wall time of $5 runs, and the peak memory
# that /usr/bin/time reports; the scored alignment goes to $3. The shell's own clock times the
# program alone, to the millisecond: /usr/bin/time counts hundredths, and on this virtual
# machine its own start and wait add 5 to 15 ms, as much as a fifth of a short run. So a short
# case is run once more under /usr/bin/time for its peak memory; a single long run is timed
# with /usr/bin/time around it, which then costs nothing that shows.
timed() {
  local TIMEFORMAT=%3R
  { time /usr/bin/time -f "%M" -o "$work/peak" "$1" -a "$2" -m "$4" -o "$3" >/dev/null \
      2>"$work/stderr"; } 2>"$work/times"
  if [ "$5" -gt 1 ]; then
    : >"$work/times"
    for _ in $(seq "$5"); do
      { time "$1" -a "$2" -m "$4" -o "$3" >/dev/null 2>"$work/stderr"; } 2>>"$work/times"
    done
  fi
  sort -n "$work/times" | awk -v n="$5" -v peak="$(cat "$work/peak")" \
    'NR == int((n + 1) / 2) {w = $1} END {printf "%.3f %.0f\n", w, peak / 1024}'
  rm -f "$work/times"
}
printf "%-13s %-10s %8s %9s %9s %9s %8s %s\n" alignment matrix file_MB fast_s peak_MB plain_s speedup same
for size in "${sizes[@]}"; do
  read -r nseq length <<<"$size"
  fasta="$work/synthetic_${nseq}x${length}.fasta"
  python3 bench/make_alignment.py "$nseq" "$length" 1 >"$fasta"
  file_mb=$(awk -v b="$(stat -c %s "$fasta")" 'BEGIN{printf "%.1f", b / 1048576}')
  fast_runs=1 plain_runs=1
  if [ $((nseq * length)) -le 2000000 ]; then fast_runs=7 plain_runs=3; fi
  for matrix in "${matrices[@]}"; do
    read -r fast_s peak_mb < <(timed build-bench-fast/marrowind "$fasta" "$work/fast.out" "$matrix" "$fast_runs")
    plain_s="-" speedup="-" same="-"
    if [ "$nseq" -le 20000 ]; then
      read -r plain_s _ < <(timed build-bench-plain/marrowind "$fasta" "$work/plain.out" "$matrix" "$plain_runs")
      speedup=$(awk -v p="$plain_s" -v f="$fast_s" 'BEGIN{printf "%.1f", p / (f > 0 ? f : 0.01)}')
      cmp -s "$work/fast.out" "$work/plain.out" && same=yes || same=NO
    fi
    printf "%-13s %-10s %8s %9s %9s %9s %8s %s\n" "${nseq}x${length}" "$(basename "$matrix" .mat2)" \
      "$file_mb" "$fast_s" "$peak_mb" "$plain_s" "$speedup" "$same"
  done
done

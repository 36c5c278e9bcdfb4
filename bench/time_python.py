#!/usr/bin/python3
"""time_python.py: the wall time and peak memory of an exact run from Python against the
program's, and the peak of reading each alignment format from Python.

Usage: bench/time_python.py BUILD [--runs N] [--shapes NxL,...] [--keep DIR] [--no-reading]

BUILD is a CMake build tree with the program (BUILD/marrowind) and the package (BUILD/python),
which Debian's /usr/bin/python3 runs. For each shape (default: 20000x300, 2x4000000 and
100000x300) it writes a seeded alignment with make_alignment.py (as measure_memory.py does, in
lines of 60 columns) and runs, in turn and N times over (default 3), each under /usr/bin/time:

  program  BUILD/marrowind -a FILE -m data/blosum62.mat2 -o SCORED
  table    python3 -m marrowind FILE -q -o TABLE
  scores   marrowind.score_alignment(marrowind.read_alignment(FILE)), its DOPS score printed

Taking the three in turn, run after run, gives each the same share of a machine whose load
changes. It prints, per shape and command, the median wall time with the range of the runs,
the median CPU time (user and system), the largest peak resident memory, and the table's and
the scores' medians and peaks as multiples of the program's, in full and less the
interpreter's own peak (python3 -c "import marrowind": the interpreter with NumPy, which no
alignment changes). The three must print the same DOPS score, or it stops. The load average
is printed before each shape.

Then, unless --no-reading, the peak of marrowind.read_alignment alone on 20000 x 300 and
2 x 4,000,000 written as FASTA, Stockholm, Clustal, A3M (with inserts) and gzip-compressed
FASTA, less the interpreter's, as a multiple of the residues (sequences x columns bytes).
"""
import argparse
import os
import re
import statistics
import subprocess
import sys
import tempfile
import time

from measure_memory import MATRIX, write_alignment, write_formats

DEFAULT_SHAPES = "20000x300,2x4000000,100000x300"
READING_SHAPES = [(20000, 300), (2, 4_000_000)]
SCORES = ("import sys, marrowind; s = marrowind.score_alignment(marrowind.read_alignment("
          "sys.argv[1])); print('DOPS score: ' + marrowind.format_dops(s.dops))")


def run_timed(command, environment, stdout=subprocess.DEVNULL):
    """Run command under /usr/bin/time; return (wall seconds, CPU seconds, peak MB, stdout)."""
    start = time.perf_counter()
    done = subprocess.run(["/usr/bin/time", "-f", "%U %S %M", *command], env=environment,
                          stdout=stdout, stderr=subprocess.PIPE, text=True)
    wall = time.perf_counter() - start
    if done.returncode != 0:
        sys.exit(f"failed: {' '.join(command)}\n{done.stderr[-2000:]}")
    user, system, kilobytes = done.stderr.strip().splitlines()[-1].split()
    return wall, float(user) + float(system), int(kilobytes) * 1024 / 1e6, done.stdout


def dops_line(text):
    """The DOPS score line of a command's standard output or of a table's header."""
    found = re.search(r"DOPS score: *([-0-9.na]+)", text)
    return found.group(1) if found else None


def time_shape(build, work, environment, nseq, length, runs, base):
    path = os.path.join(work, f"{nseq}x{length}.fasta")
    if not os.path.exists(path):
        write_alignment(path, nseq, length, False)
    table = os.path.join(work, "table.tsv")
    commands = {
        "program": [os.path.join(build, "marrowind"), "-a", path, "-m", MATRIX, "-o",
                    os.path.join(work, "scored.txt")],
        "table": [sys.executable, "-m", "marrowind", path, "-q", "-o", table],
        "scores": [sys.executable, "-c", SCORES, path],
    }
    walls = {name: [] for name in commands}
    cpus = {name: [] for name in commands}
    peaks = {name: 0.0 for name in commands}
    print(f"\n{nseq} x {length} ({os.path.getsize(path) / 1e6:.1f} MB), load average "
          f"{' '.join(f'{load:.1f}' for load in os.getloadavg())}", flush=True)
    for run in range(runs):
        dops = set()
        for name, command in commands.items():
            wall, cpu, peak, out = run_timed(command, environment, subprocess.PIPE)
            walls[name].append(wall)
            cpus[name].append(cpu)
            peaks[name] = max(peaks[name], peak)
            # Each run as it ends: a long shape's runs take minutes.
            print(f"  run {run + 1}, {name}: {wall:.2f} s, CPU {cpu:.2f} s, {peak:.0f} MB",
                  flush=True)
            if name == "table":
                with open(table) as text:
                    out = text.read(4096)
            dops.add(dops_line(out))
        if len(dops) != 1:
            sys.exit(f"the DOPS scores differ: {sorted(map(str, dops))}")
    print("| command | wall (median) | wall (range) | CPU (median) | peak | wall / program | "
          "peak / program | peak / program, less the interpreter |")
    print("|---|---|---|---|---|---|---|---|")
    program_wall = statistics.median(walls["program"])
    for name in commands:
        wall = statistics.median(walls[name])
        ratios = ["", "", ""] if name == "program" else [
            f"{wall / program_wall:.3f}", f"{peaks[name] / peaks['program']:.2f}",
            f"{(peaks[name] - base) / peaks['program']:.2f}"]
        print(f"| {name} | {wall:.2f} s | {min(walls[name]):.2f} to {max(walls[name]):.2f} s | "
              f"{statistics.median(cpus[name]):.2f} s | {peaks[name]:.0f} MB | "
              f"{' | '.join(ratios)} |", flush=True)


def reading_peaks(work, environment, base):
    print("\nReading alone (marrowind.read_alignment), peak less the interpreter's, as a "
          "multiple of the residues:\n")
    print("| alignment | format | file | peak | less the interpreter | / residues |")
    print("|---|---|---|---|---|---|")
    for nseq, length in READING_SHAPES:
        fasta = os.path.join(work, f"{nseq}x{length}.fasta")
        if not os.path.exists(fasta):
            write_alignment(fasta, nseq, length, False)
        for path in [fasta] + write_formats(fasta):
            _, _, peak, _ = run_timed(
                [sys.executable, "-c", "import sys, marrowind; marrowind.read_alignment("
                 "sys.argv[1])", path], environment)
            residues = nseq * length / 1e6
            print(f"| {nseq} x {length} | {path.split('.', 1)[1]} | "
                  f"{os.path.getsize(path) / 1e6:.1f} MB | {peak:.0f} MB | {peak - base:.1f} MB | "
                  f"{(peak - base) / residues:.2f} |", flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("build", help="CMake build tree")
    parser.add_argument("--runs", type=int, default=3, help="runs of each command (default 3)")
    parser.add_argument("--shapes", default=DEFAULT_SHAPES,
                        help=f"sequences x columns, comma-separated (default {DEFAULT_SHAPES})")
    parser.add_argument("--keep", help="write the alignments here and keep them")
    parser.add_argument("--no-reading", action="store_true", help="skip the reading peaks")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    environment = dict(os.environ, PYTHONPATH=os.path.join(build, "python"))
    work = args.keep or tempfile.mkdtemp(prefix="marrowind-python-")
    os.makedirs(work, exist_ok=True)
    _, _, base, _ = run_timed([sys.executable, "-c", "import marrowind"], environment)
    print(f"The interpreter with NumPy and the package: {base:.0f} MB; {os.cpu_count()} CPUs; "
          f"{args.runs} runs of each command, in turn")
    for shape in args.shapes.split(","):
        nseq, length = (int(part) for part in shape.split("x"))
        time_shape(build, work, environment, nseq, length, args.runs, base)
    if not args.no_reading:
        reading_peaks(work, environment, base)


if __name__ == "__main__":
    main()

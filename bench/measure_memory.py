#!/usr/bin/python3
"""measure_memory.py: the peak memory of the program, of the Python package and of a batch job
on alignments of every shape, against each other and against the batch's estimate.

Usage: bench/measure_memory.py BUILD [--large] [--keep DIR]

BUILD is a CMake build tree with the program (BUILD/marrowind) and the package (BUILD/python),
which Debian's /usr/bin/python3 runs (the interpreter the package is built for).
For each shape (many short sequences, a few very long ones in lines of 60 columns or in one
line, and families the batch scores approximately) it writes a seeded alignment with
make_alignment.py beside this script and runs, each under /usr/bin/time -v:

  program  BUILD/marrowind -a FILE -m data/blosum62.mat2 -o SCORED
  table    python3 -m marrowind FILE -q -o TABLE
  scores   marrowind.score_alignment(marrowind.read_alignment(FILE))
  job      python3 -m marrowind.batch --out-dir=DIR --threads=2 [--approximate] -- FILE
  outputs  the same job with --plot=png --jalview --report, on the shapes marked so

and the job alone on two shapes written in the other formats (Stockholm, Clustal, A3M with
inserts, gzip-compressed FASTA; make_batch.py's as_text).

It prints each peak in MB (10^6 bytes); the table's and the scores' peaks as multiples of the
program's, in full and less the interpreter's own (python3 -c "import marrowind", the
interpreter with NumPy, which no alignment changes); and the batch's estimate
(marrowind.batch.job_memory_mb) as a multiple of each job's peak. --large adds 2 x 20,000,000
and the approximate 10^6 x 300 (several GB of memory, minutes). Each process is started by
/usr/bin/time, itself a small process: started directly from a large Python process, a program
would count that process's resident memory in its own peak (Linux carries the larger peak over
when a process replaces its program).
"""
import argparse
import gzip
import os
import re
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE_DIR = os.path.dirname(HERE)
MATRIX = os.path.join(SOURCE_DIR, "data", "blosum62.mat2")

# (sequences, columns, one line per sequence, scored approximately by the batch, also a job
# with every output)
SHAPES = [
    (2000, 400, False, False, False),
    (20000, 300, False, False, True),
    (100000, 40, False, False, False),
    (50000, 400, False, False, False),
    (2000, 10000, False, False, True),
    (10, 1_000_000, False, False, True),
    (2, 4_000_000, False, False, False),
    (2, 4_000_000, True, False, False),
    (200000, 300, False, True, False),
]
LARGE_SHAPES = [
    (2, 20_000_000, False, False, False),
    (2, 20_000_000, True, False, False),
    (1_000_000, 300, False, True, False),
]
OUTPUTS = ["--plot=png", "--jalview", "--report"]
# Shapes whose job is measured in every format as well.
FORMAT_SHAPES = [(20000, 300), (2000, 10000)]
FORMATS = ("sto", "aln", "a3m", "fasta.gz")


def write_alignment(path, nseq, length, one_line):
    """A seeded alignment from make_alignment.py's clade form, in lines of 60 columns or with
    each sequence on one line."""
    clades = max(1, min(8, nseq // 2))
    with open(path, "wb") as out:
        subprocess.run([sys.executable, os.path.join(HERE, "make_alignment.py"), str(nseq),
                        str(length), "1", "--clades", str(clades)], stdout=out, check=True)
    if one_line:
        joined = path + ".joined"
        with open(path, "rb") as wrapped, open(joined, "wb") as out:
            residues = []
            for line in wrapped:
                if line.startswith(b">"):
                    if residues:
                        out.write(b"".join(residues) + b"\n")
                        residues = []
                    out.write(line)
                else:
                    residues.append(line.rstrip(b"\n"))
            out.write(b"".join(residues) + b"\n")
        os.replace(joined, path)


def write_formats(fasta):
    """The alignment of a FASTA file written in each of FORMATS beside it; their paths."""
    sys.path.insert(0, HERE)
    from make_batch import as_text

    with open(fasta) as text:
        records = [record.split("\n", 1) for record in text.read().split(">")[1:]]
    names = [header.split()[0] for header, _ in records]
    sequences = [body.replace("\n", "") for _, body in records]
    paths = []
    for form in FORMATS:
        path = f"{fasta[:-len('.fasta')]}.{form}"
        if not os.path.exists(path):
            data = as_text(names, sequences, form.removesuffix(".gz")).encode()
            with open(path, "wb") as out:
                out.write(gzip.compress(data) if form.endswith(".gz") else data)
        paths.append(path)
    return paths


def peak_mb(command, environment):
    """Run command under /usr/bin/time -v; return its peak resident memory in MB."""
    done = subprocess.run(["/usr/bin/time", "-v", *command], env=environment,
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    if done.returncode != 0:
        sys.exit(f"failed: {' '.join(command)}\n{done.stderr[-2000:]}")
    kilobytes = re.search(r"Maximum resident set size \(kbytes\): (\d+)", done.stderr)
    return int(kilobytes.group(1)) * 1024 / 1e6


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("build", help="CMake build tree")
    parser.add_argument("--large", action="store_true", help="add the shapes of several GB")
    parser.add_argument("--keep", help="write the alignments here and keep them")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    environment = dict(os.environ, PYTHONPATH=os.path.join(build, "python"))
    sys.path.insert(0, os.path.join(build, "python"))
    from marrowind import batch

    work = args.keep or tempfile.mkdtemp(prefix="marrowind-memory-")
    os.makedirs(work, exist_ok=True)
    python = [sys.executable]
    out = os.path.join(work, "out")
    base = peak_mb(python + ["-c", "import marrowind"], environment)
    print(f"The interpreter with NumPy and the package: {base:.0f} MB\n")
    print("| alignment | lines | text | program | table | scores | job | table/program (less "
          "the interpreter) | scores/program (less the interpreter) | estimate/job |")
    print("|---|---|---|---|---|---|---|---|---|---|")
    for nseq, length, one_line, approximate, outputs in SHAPES + LARGE_SHAPES * args.large:
        name = f"{nseq}x{length}{'-line' if one_line else ''}.fasta"
        path = os.path.join(work, name)
        if not os.path.exists(path):
            write_alignment(path, nseq, length, one_line)
        # The program scores exactly, which would take hours where the batch approximates.
        program = None if approximate else peak_mb(
            [os.path.join(build, "marrowind"), "-a", path, "-m", MATRIX, "-o",
             os.path.join(work, "scored.txt")], environment)
        mode = ["--approximate"] if approximate else []
        table = peak_mb(python + ["-m", "marrowind", path, "-q", "-o",
                                  os.path.join(work, "table.tsv"), *mode], environment)
        scores = peak_mb(python + ["-c", "import sys, marrowind; marrowind.score_alignment("
                                   "marrowind.read_alignment(sys.argv[1]), mode=sys.argv[2])",
                                   path, "approximate" if approximate else "exact"],
                         environment)
        jobs = [([], {})] + [(OUTPUTS, {"plot": "png", "report": True})] * outputs
        for options, kinds in jobs:
            job = peak_mb(python + ["-m", "marrowind.batch", f"--out-dir={out}", "--threads=2",
                                    *mode, *options, "--", path], environment)
            estimate = batch.job_memory_mb(path, 2, approximate, **kinds)
            ratios = ["", ""] if program is None else [
                f"{peak / program:.2f} ({(peak - base) / program:.2f})" for peak in (table, scores)]
            label = f"{nseq} x {length}" + " (approximate)" * approximate + \
                f" with {' '.join(options)}" * bool(options)
            print(f"| {label} | {'one' if one_line else '60 columns'} | "
                  f"{os.path.getsize(path) / 1e6:.1f} MB | "
                  f"{'' if program is None else f'{program:.0f}'} | {table:.0f} | {scores:.0f} | "
                  f"{job:.0f} | {' | '.join(ratios)} | {estimate} / {job:.0f} = "
                  f"{estimate / job:.2f} |", flush=True)
    print("\n| alignment | format | text | job | estimate/job |")
    print("|---|---|---|---|---|")
    for nseq, length in FORMAT_SHAPES:
        for path in write_formats(os.path.join(work, f"{nseq}x{length}.fasta")):
            job = peak_mb(python + ["-m", "marrowind.batch", f"--out-dir={out}", "--threads=2",
                                    "--", path], environment)
            estimate = batch.job_memory_mb(path, 2)
            text = batch.estimate_shape(path).text_bytes / 1e6
            print(f"| {nseq} x {length} | {path.split('.', 1)[1]} | {text:.1f} MB | {job:.0f} | "
                  f"{estimate} / {job:.0f} = {estimate / job:.2f} |", flush=True)

if __name__ == "__main__":
    main()

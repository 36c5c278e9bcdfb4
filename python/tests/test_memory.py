"""Peak memory: the package scores and tabulates a very long alignment within half again the
program's peak, and many short sequences within the program's peak and the interpreter's own
(the rows are scored where Python holds them, never copied); the batch's estimate of a job's memory lies between the job's peak and
twice it, for many short sequences, a few long ones, an approximate family and a job with every
output. (bench/measure_memory.py measures every shape; these are small ones of each kind.)"""
import os
import subprocess
import sys

import numpy as np
import pytest

from marrowind import batch
from conftest import DATA

TIME = "/usr/bin/time"
needs_time = pytest.mark.skipif(not os.path.exists(TIME),
                                reason="/usr/bin/time is missing (Debian: time)")
PROGRAM = os.environ.get("MARROWIND_EXE", "")


def write_family(path, sequences, columns):
    """A seeded family: one ancestor with a fifth of its residues changed in each sequence, and
    a few gaps, each sequence on one line."""
    rng = np.random.default_rng(7)
    letters = np.frombuffer(b"ACDEFGHIKLMNPQRSTVWY-", dtype=np.uint8)
    ancestor = rng.integers(0, 20, columns)
    with open(path, "wb") as out:
        for index in range(sequences):
            row = np.where(rng.random(columns) < 0.2, rng.integers(0, 21, columns), ancestor)
            out.write(b">s%d\n" % index + letters[row].tobytes() + b"\n")


def peak_mb(command):
    """The peak resident memory of command in MB (10^6 bytes). /usr/bin/time starts it, so that
    it does not count the peak of this large process, which a program started straight from it
    would inherit."""
    done = subprocess.run([TIME, "-f", "%M", *command], capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    return int(done.stderr.splitlines()[-1]) * 1024 / 1e6


@needs_time
@pytest.mark.skipif(not os.path.exists(PROGRAM), reason="MARROWIND_EXE names no program")
@pytest.mark.parametrize("python_side", [
    ["-m", "marrowind", "ALIGNMENT", "-q", "-o", "TABLE"],
    ["-c", "import sys, marrowind; marrowind.score_alignment(marrowind.read_alignment("
           "sys.argv[1]))", "ALIGNMENT"],
], ids=["table", "scores"])
def test_long_alignment_within_half_again_the_program(tmp_path, python_side):
    alignment = tmp_path / "long.fasta"
    write_family(alignment, 2, 3_000_000)
    program = peak_mb([PROGRAM, "-a", alignment, "-m", os.path.join(DATA, "blosum62.mat2"),
                       "-o", tmp_path / "scored.txt"])
    arguments = [{"ALIGNMENT": str(alignment), "TABLE": str(tmp_path / "table.tsv")}.get(a, a)
                 for a in python_side]
    python = peak_mb([sys.executable, *arguments])
    assert python <= 1.5 * program, (python, program)


@needs_time
@pytest.mark.skipif(not os.path.exists(PROGRAM), reason="MARROWIND_EXE names no program")
def test_many_sequences_within_the_program_and_the_interpreter(tmp_path):
    alignment = tmp_path / "many.fasta"
    write_family(alignment, 20000, 100)
    program = peak_mb([PROGRAM, "-a", alignment, "-m", os.path.join(DATA, "blosum62.mat2"),
                       "-o", tmp_path / "scored.txt"])
    interpreter = peak_mb([sys.executable, "-c", "import marrowind"])
    python = peak_mb([sys.executable, "-c", "import sys, marrowind; marrowind.score_alignment("
                      "marrowind.read_alignment(sys.argv[1]))", alignment])
    # A copy of the rows would add a fifth of the program's peak.
    assert python - interpreter <= 1.15 * program, (python, interpreter, program)


@needs_time
@pytest.mark.parametrize("sequences, columns, options", [
    (2, 2_000_000, []),
    (20000, 100, []),
    (30000, 60, ["--approximate"]),
    (10, 100_000, ["--plot=png", "--jalview", "--report"]),
], ids=["few-long", "many-short", "approximate", "every-output"])
def test_job_memory_estimate_covers_the_peak_within_twice(tmp_path, sequences, columns,
                                                          options):
    alignment = tmp_path / "family.fasta"
    write_family(alignment, sequences, columns)
    job = peak_mb([sys.executable, "-m", "marrowind.batch", f"--out-dir={tmp_path / 'out'}",
                   "--threads=2", *options, "--", alignment])
    estimate = batch.job_memory_mb(str(alignment), 2, "--approximate" in options,
                                   plot="--plot=png" in options, report="--report" in options)
    assert job <= estimate <= 2 * job, (job, estimate)

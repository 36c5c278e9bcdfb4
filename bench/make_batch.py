#!/usr/bin/env python3
"""make_batch.py: writes a seeded batch of synthetic alignments, in every format the Python
package reads, for timing the batch workflow.

Usage: make_batch.py DIR

Writes 24 small families (50 to 2000 sequences of 100 to 600 columns), four of 10000 x 300, one
of 30000 x 400 and one malformed file, in turn as aligned FASTA, Stockholm, A3M (with insert
states), Clustal and gzip-compressed FASTA. The alignments come from make_alignment.py beside
this script, so the same seeds give the same files.
"""
import gzip
import os
import random
import subprocess
import sys

FORMATS = ("fasta", "sto", "a3m", "aln", "fasta.gz")


def synthetic(nseq, length, seed):
    """(names, sequences) of make_alignment.py's alignment."""
    script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "make_alignment.py")
    text = subprocess.run([sys.executable, script, str(nseq), str(length), str(seed)],
                          check=True, capture_output=True, text=True).stdout
    records = [record.split("\n", 1) for record in text.split(">")[1:]]
    return ([header.split()[0] for header, _ in records],
            [body.replace("\n", "") for _, body in records])


def as_text(names, sequences, form):
    if form == "sto":
        rows = "".join(f"{name:12s} {sequence}\n" for name, sequence in zip(names, sequences))
        return f"# STOCKHOLM 1.0\n#=GF ID synthetic\n{rows}//\n"
    if form == "a3m":
        # Two inserted residues after the first column: lower case, no column of their own.
        return "".join(f">{name}\n{sequence[0]}kl{sequence[1:]}\n"
                       for name, sequence in zip(names, sequences))
    if form == "aln":
        blocks = ("".join(f"{name:16s}{sequence[start:start + 60]}\n"
                          for name, sequence in zip(names, sequences))
                  for start in range(0, len(sequences[0]), 60))
        return "CLUSTAL W (1.83) multiple sequence alignment\n\n" + "\n".join(blocks)
    return "".join(f">{name}\n{sequence}\n" for name, sequence in zip(names, sequences))


def main():
    directory = sys.argv[1]
    os.makedirs(directory, exist_ok=True)
    rng = random.Random(16)
    sizes = [(rng.randint(50, 2000), rng.randint(100, 600)) for _ in range(24)]
    sizes += [(10000, 300)] * 4 + [(30000, 400)]
    for index, (nseq, length) in enumerate(sizes):
        form = FORMATS[index % len(FORMATS)]
        text = as_text(*synthetic(nseq, length, index + 1), form).encode()
        path = os.path.join(directory, f"family{index:02d}_{nseq}x{length}.{form}")
        with open(path, "wb") as out:
            out.write(gzip.compress(text) if form.endswith(".gz") else text)
    with open(os.path.join(directory, "malformed.fasta"), "w") as out:
        out.write(">a\nACDEF\n>b\nACD\n")


if __name__ == "__main__":
    main()

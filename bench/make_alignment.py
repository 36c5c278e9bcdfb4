#!/usr/bin/env python3
"""make_alignment.py: writes a seeded synthetic protein alignment in aligned FASTA.

Usage: make_alignment.py NSEQ LENGTH SEED [--clades K] > alignment.fasta

Sequences descend from one random ancestor by point substitutions, so columns differ in how
conserved they are, as in a real family. About a quarter of all positions are gaps, in runs
(as aligners leave them: insertions in some sequences are gaps in the others). Residue lines
are wrapped at 60 columns.

With --clades K the family is a tree of two levels, as deep homology searches return them: K
clades of very different sizes (the k-th largest about 1/k of the biggest) each descend from
the ancestor at a divergence of their own, and their members from the clade's ancestor at a
rate of their own, so that the sequence weights spread widely. The clade's members share its
gaps and add a few runs of their own. This form is drawn with NumPy, quickly enough for a
million sequences, and needs it.
"""
import argparse
import random
import sys

AMINO_ACIDS = "ACDEFGHIKLMNPQRSTVWY"
LINE = 60


def single_ancestor(nseq, length, seed, out):
    rng = random.Random(seed)
    ancestor = [rng.choice(AMINO_ACIDS) for _ in range(length)]
    # Each column has its own rate of change, from invariant to saturated.
    rates = [rng.random() ** 2 for _ in range(length)]
    for index in range(nseq):
        residues = [rng.choice(AMINO_ACIDS) if rng.random() < rate else residue
                    for residue, rate in zip(ancestor, rates)]
        column = 0
        while column < length:
            if rng.random() < 0.02:
                run = min(length - column, rng.randint(1, 30))
                residues[column:column + run] = ["-"] * run
                column += run
            else:
                column += 1
        out.write(">seq%d synthetic\n" % index)
        line = "".join(residues)
        for start in range(0, length, LINE):
            out.write(line[start:start + LINE] + "\n")


def gap_runs(rng, rows, length, start_chance, longest):
    """A boolean mask of gap runs: each position starts a run with start_chance, of 1 to
    longest positions."""
    import numpy as np

    starts = rng.random((rows, length), dtype=np.float32) < start_chance
    ends = np.where(starts, np.arange(length) + rng.integers(1, longest + 1, (rows, length)), 0)
    return np.maximum.accumulate(ends, axis=1) > np.arange(length)


def clades(nseq, length, seed, count, out):
    import numpy as np

    rng = np.random.default_rng(seed)
    letters = np.frombuffer((AMINO_ACIDS + "-").encode(), dtype=np.uint8)
    gap = len(AMINO_ACIDS)
    ancestor = rng.integers(0, 20, length)
    rates = rng.random(length) ** 2
    sizes = 1.0 / np.arange(1, count + 1)
    sizes = np.maximum(1, np.floor(sizes / sizes.sum() * nseq)).astype(int)
    sizes[0] += nseq - sizes.sum()
    index = 0
    for clade, size in enumerate(sizes):
        divergence = rng.uniform(0.1, 1.0)
        spread = rng.uniform(0.05, 0.6)
        root = np.where(rng.random(length) < divergence * rates, rng.integers(0, 20, length),
                        ancestor)
        root = np.where(gap_runs(rng, 1, length, 0.01, 30)[0], gap, root)
        for first in range(0, size, 20000):
            rows = min(20000, size - first)
            changed = rng.random((rows, length), dtype=np.float32) < spread * rates
            residues = np.where(changed, rng.integers(0, 20, (rows, length)), root)
            residues[gap_runs(rng, rows, length, 0.003, 20)] = gap
            text = letters[residues.astype(np.uint8)]
            lines = [text[:, start:start + LINE] for start in range(0, length, LINE)]
            newline = np.full((rows, 1), ord("\n"), dtype=np.uint8)
            wrapped = np.hstack([part for line in lines for part in (line, newline)])
            for row in wrapped:
                out.write(b">seq%d clade%d\n" % (index, clade))
                out.write(row.tobytes())
                index += 1


def main():
    parser = argparse.ArgumentParser(description="A seeded synthetic protein alignment.")
    parser.add_argument("nseq", type=int)
    parser.add_argument("length", type=int)
    parser.add_argument("seed", type=int)
    parser.add_argument("--clades", type=int, help="a family of this many clades")
    args = parser.parse_args()
    if args.clades:
        clades(args.nseq, args.length, args.seed, args.clades, sys.stdout.buffer)
    else:
        single_ancestor(args.nseq, args.length, args.seed, sys.stdout)


if __name__ == "__main__":
    main()

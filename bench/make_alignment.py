#!/usr/bin/env python3
"""make_alignment.py: writes a seeded synthetic protein alignment in aligned FASTA.

Usage: make_alignment.py NSEQ LENGTH SEED > alignment.fasta

Sequences descend from one random ancestor by point substitutions, so columns differ in how
conserved they are, as in a real family. About a quarter of all positions are gaps, in runs
(as aligners leave them: insertions in some sequences are gaps in the others). Residue lines
are wrapped at 60 columns.
"""
import random
import sys

AMINO_ACIDS = "ACDEFGHIKLMNPQRSTVWY"


def main():
    nseq, length, seed = (int(arg) for arg in sys.argv[1:4])
    rng = random.Random(seed)
    ancestor = [rng.choice(AMINO_ACIDS) for _ in range(length)]
    # Each column has its own rate of change, from invariant to saturated.
    rates = [rng.random() ** 2 for _ in range(length)]
    out = sys.stdout
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
        for start in range(0, length, 60):
            out.write(line[start:start + 60] + "\n")


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""check_approximate.py: how far the approximate scores of an alignment are from the exact ones.

Usage: check_approximate.py ALIGNMENT [--matrix M] [--sample M ...] [--seed S] [--threads T]

Scores the alignment exactly and then approximately (for each sample size given), and prints
for each: the wall time of the scoring, the largest and the mean difference of the column
scores from the exact ones, how many of the figures that the program prints (format_score,
three decimals) differ, the median and largest relative error of the weights, and both DOPS
scores. Run it with the marrowind package on PYTHONPATH (BUILD/python of a build tree).
"""
import argparse
import time

import numpy as np

import marrowind
from marrowind.core import DEFAULT_SAMPLE, format_dops, format_score


def timed(alignment, matrix, threads, **mode):
    start = time.perf_counter()
    scores = marrowind.score_alignment(alignment, matrix, threads=threads, **mode)
    return scores, time.perf_counter() - start


def main():
    parser = argparse.ArgumentParser(description="Approximate scores against exact ones.")
    parser.add_argument("alignment")
    parser.add_argument("-m", "--matrix", default="blosum62")
    parser.add_argument("--sample", type=int, nargs="+", default=[DEFAULT_SAMPLE])
    parser.add_argument("--seed", type=int, default=0)
    parser.add_argument("--threads", type=int)
    args = parser.parse_args()

    alignment = marrowind.read_alignment(args.alignment)
    matrix = marrowind.load_matrix(args.matrix)
    print(f"{args.alignment}: {len(alignment)} sequences x {alignment.length} columns, "
          f"{args.matrix}")
    exact, seconds = timed(alignment, matrix, args.threads)
    printed = [format_score(score) for score in exact.column_scores]
    print(f"exact: {seconds:.2f} s, DOPS {format_dops(exact.dops).strip()}")
    for sample in args.sample:
        approximate, seconds = timed(alignment, matrix, args.threads, mode="approximate",
                                     sample=sample, seed=args.seed)
        difference = np.abs(approximate.column_scores - exact.column_scores)
        changed = sum(format_score(score) != figure
                      for score, figure in zip(approximate.column_scores, printed))
        positive = exact.weights > 0
        relative = np.abs(approximate.weights[positive] / exact.weights[positive] - 1)
        print(f"approximate, sample {sample}, seed {args.seed}: {seconds:.2f} s; column scores: "
              f"largest difference {difference.max():.2e}, mean {difference.mean():.2e}, "
              f"{changed} of {len(printed)} printed figures differ; weights: relative error "
              f"median {np.median(relative):.2e}, largest {relative.max():.2e}; DOPS "
              f"{format_dops(approximate.dops).strip()}")


if __name__ == "__main__":
    main()

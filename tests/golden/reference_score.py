#!/usr/bin/env python3
"""reference_score.py: an independent, deliberately plain re-computation of a scoring run.

Reads an aligned FASTA file and a matrix file and prints what the marrowind program prints on
standard output: one line per column (score, separators, residues), then the DOPS line. Every
step follows the same order of floating-point operations in Python's doubles, with the single-
precision roundings done through struct, so its output must match the program byte for byte.
The test suite uses it to check the golden files; it is not part of the program.

Usage: reference_score.py ALIGNMENT MATRIX
"""
import math
import struct
import sys


def to_float32(value):
    return struct.unpack("f", struct.pack("f", value))[0]


def read_fasta(path):
    with open(path, "rb") as handle:
        text = handle.read()
    lines = text.split(b"\n")
    if lines and lines[-1] == b"":
        lines.pop()
    records = []
    pending = b""
    for line in lines:
        if line.endswith(b"\r"):
            line = line[:-1]
        if line.startswith(b">"):
            records.append([line[1:], pending if not records else b""])
            pending = b""
        elif records:
            records[-1][1] += line
        else:
            pending += line
    return [seq for _, seq in records]


def normalise(seqs):
    if not seqs:
        raise SystemExit("no sequences")
    out = []
    for seq in seqs:
        if len(seq) != len(seqs[0]):
            raise SystemExit("ragged alignment")
        out.append(bytes(ord("-") if c == ord(".") else (c - 32 if 97 <= c <= 122 else c)
                         for c in seq))
    return out


def c_int(field):
    """The integer that sscanf's %d reads from field, or 0."""
    text = field.lstrip(b" \t\n\v\f\r")
    digits_at = 1 if text[:1] in (b"+", b"-") else 0
    end = digits_at
    while end < len(text) and text[end:end + 1].isdigit():
        end += 1
    return int(text[:end]) if end > digits_at else 0


def read_matrix(path):
    with open(path, "rb") as handle:
        lines = handle.read().split(b"\n")
    at = 0
    while lines[at][:1] in (b"#", b"!"):
        at += 1
    letters = [field[0] for field in lines[at].split(b",")]
    raw = [[c_int(f) for f in lines[at + 1 + r].split(b",")] for r in range(len(letters))]
    values = [v for row in raw for v in row]
    lo, hi = min(values), max(values)
    lookup = {}
    for r, a in enumerate(letters):
        for c, b in enumerate(letters):
            lookup[(a, b)] = to_float32((raw[r][c] - lo) / float(hi - lo))
    return lookup


def is_gap(c):
    return c in (ord("-"), ord("X"))


def mut(lookup, a, b):
    value = lookup.get((a, b), 50.0)
    if is_gap(a) or is_gap(b) or value > 1.0:
        return 0.0
    return value


def pair_distance(lookup, x, y):
    total, count = 0.0, 0
    for a, b in zip(x, y):
        total += mut(lookup, a, b)
        if not (is_gap(a) and is_gap(b)):
            count += 1
    return 1.0 - total / float(count) if count else 0.0


def weights(lookup, seqs):
    n = len(seqs)
    w = [0.0] * n
    for i in range(n):
        for j in range(i + 1, n):
            d = pair_distance(lookup, seqs[i], seqs[j]) / float(n - 1)
            w[i] += d
            w[j] += d
    return w


def column_scores(lookup, seqs, w):
    scores = []
    for col in range(len(seqs[0])):
        num = den = 0.0
        for j in range(len(seqs)):
            for k in range(j + 1, len(seqs)):
                num += (w[j] * w[k]) * mut(lookup, seqs[j][col], seqs[k][col])
                den += w[j] * w[k]
        scores.append(num / den if den != 0.0 else 0.0)
    return scores


def round_half_away(value):
    magnitude = abs(value)
    whole = math.floor(magnitude)
    if magnitude - whole >= 0.5:
        whole += 1
    return math.copysign(whole, value)


def dops(scores):
    length = len(scores)
    if length == 1:
        return 0.0
    bins = []
    for s in scores:
        for b in bins:
            if b[0] == s:
                b[1] += 1
                break
        else:
            bins.append([s, 1])
    total = 0.0
    for _, count in bins:
        freq = float(count) / float(length)
        total += freq * math.log(freq)
    entropy = (-1.0 * total) / math.log(2.0)
    largest = -1.0 * (math.log(1.0 / length) / math.log(2.0)) if length else -math.inf
    figure = (100.0 * entropy) / largest
    return 0.0 if figure <= 0.0 else figure


def main():
    seqs = normalise(read_fasta(sys.argv[1]))
    lookup = read_matrix(sys.argv[2])
    scores = column_scores(lookup, seqs, weights(lookup, seqs))
    out = sys.stdout.buffer
    for col, score in enumerate(scores):
        shown = round_half_away(score * 1000.0) / 1000.0
        out.write(b"%5.3f%s#%s" % (shown, b" " * 11, b" " * 14))
        out.write(bytes(seq[col] for seq in seqs) + b"\n")
    out.write(b"DOPS score: %6.3f\n" % dops(scores))


if __name__ == "__main__":
    main()

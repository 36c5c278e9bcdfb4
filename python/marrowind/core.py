"""Scoring: substitution matrices, conservation scores, pair distances and the DOPS score.

Every figure comes from the compiled scoring core, so it equals the command-line program's on
the same residues to the last bit; format_score and format_dops are the core's own formatting,
so the figures print as the program prints them.
"""
import os
import warnings
from dataclasses import dataclass
from typing import Optional

import numpy as np

from . import _core
from ._core import InputError, SubstitutionMatrix, format_dops, format_score

DATA_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data")
MATRIX_SUFFIX = ".mat2"


def available_matrices():
    """Return the names of the matrices shipped with the package, e.g. ["blosum62", "pet91"]."""
    return sorted(name[: -len(MATRIX_SUFFIX)] for name in os.listdir(DATA_DIR)
                  if name.endswith(MATRIX_SUFFIX))


class MatrixWarning(UserWarning):
    """A matrix file has a fault that the matrix format reads past (a lower-case or repeated
    header letter, an entry longer than one letter, a score that is not a whole number, lines
    after the last row): the scores may not be what the file seems to say."""


def load_matrix(matrix="blosum62"):
    """Return a SubstitutionMatrix for a shipped matrix's name, a matrix file's path, or a
    SubstitutionMatrix.

    A name is matched without regard to case and with or without ".mat2" ("blosum62",
    "PET91"); an existing file of the same name wins over a shipped matrix.
    SubstitutionMatrix.parse(text) reads a matrix held in memory. Raises InputError for a file
    that cannot be opened or read, or that is malformed; warns with a MatrixWarning for each
    of the file's SubstitutionMatrix.warnings, one line naming the file and the line.
    """
    if isinstance(matrix, SubstitutionMatrix):
        return matrix
    path = os.fspath(matrix)
    if os.path.exists(path):
        loaded = SubstitutionMatrix.load(path)
        for warning in loaded.warnings:
            warnings.warn(warning, MatrixWarning, stacklevel=2)
        return loaded
    name = path.lower()
    if name.endswith(MATRIX_SUFFIX):
        name = name[: -len(MATRIX_SUFFIX)]
    shipped = os.path.join(DATA_DIR, name + MATRIX_SUFFIX)
    if os.sep not in path and os.path.isfile(shipped):
        return SubstitutionMatrix.load(shipped)
    raise InputError(f"{_core.cannot_open_message(path)} (the shipped matrices are "
                     f"{', '.join(available_matrices())})")


def matrix_label(matrix):
    """Return how a matrix argument is named in output headers: its name or file name."""
    if isinstance(matrix, SubstitutionMatrix):
        return "matrix given as text"
    return os.path.basename(os.fspath(matrix))


def encode(sequence):
    """Return one aligned sequence as bytes, one byte per residue.

    bytes pass unchanged; str is encoded as UTF-8 with surrogate escapes, which gives back the
    exact bytes of a file that the readers decoded.
    """
    if isinstance(sequence, (bytes, bytearray, memoryview)):
        return bytes(sequence)
    if isinstance(sequence, str):
        return sequence.encode("utf-8", "surrogateescape")
    raise TypeError(f"a sequence must be str or bytes, not {type(sequence).__name__}")


def core_sequences(sequences):
    """The sequences (a list, or an Alignment) as the core reads them in place: bytes, and str
    of ASCII as they are (their characters are their bytes), every other str encoded."""
    sequences = getattr(sequences, "sequences", sequences)  # an Alignment
    if isinstance(sequences, (str, bytes)):
        raise TypeError("sequences must be a list of aligned sequences, not a single one")
    return [sequence if isinstance(sequence, bytes)
            or (isinstance(sequence, str) and sequence.isascii()) else encode(sequence)
            for sequence in sequences]


# The most threads a scoring call takes: the core counts them in a C int. (It never starts more
# than it has work for.)
MAX_THREADS = 2**31 - 1
# The scoring modes by name, as score_alignment's mode takes them.
SCORING_MODES = _core.SCORING_MODES
DEFAULT_SAMPLE = 256


@dataclass(frozen=True)
class ConservationScores:
    """The scores of an alignment, as the C++ library's ConservationScores holds them.

    weights: float64 array, one per sequence, its mean distance to the others (to its sampled
    partners when approximate).
    column_scores: float64 array, one per column, 0 to 1; higher is more conserved.
    dops: the DOPS score, 0 to 100: how varied the column scores are.
    approximate: whether they come from the approximate mode; sample and seed are then its
    partners per sequence and its seed (None for exact scores).
    """

    weights: np.ndarray
    column_scores: np.ndarray
    dops: float
    approximate: bool = False
    sample: Optional[int] = None
    seed: Optional[int] = None

    @property
    def mode_label(self):
        """How output headers name the mode: "exact", or "approximate (sample M, seed S)"."""
        if not self.approximate:
            return "exact"
        return f"approximate (sample {self.sample}, seed {self.seed})"


def whole_number(name, value, low, high=None):
    """Raise ValueError, naming the argument, unless value is an int (not a bool) of at least
    low and, given high, at most high."""
    if isinstance(value, bool) or not isinstance(value, int) or value < low:
        raise ValueError(f"{name} must be a whole number of at least {low}, not {value!r}")
    if high is not None and value > high:
        raise ValueError(f"{name} must be a whole number from {low} to {high}, not {value!r}")


def score_alignment(sequences, matrix="blosum62", threads=None, mode="exact",
                    sample=DEFAULT_SAMPLE, seed=0):
    """Score aligned sequences and return their ConservationScores.

    sequences: a list of str or bytes of one common length (or an Alignment); "." reads as
    "-" and lower case as upper case, as on the command line. matrix: see load_matrix.
    threads: how many threads to score with (None: MARROWIND_THREADS when that environment
    variable is set, else as many as this process may run on, its CPU affinity capped by a
    cgroup CPU quota); the scores are the same to the last bit for every count.
    mode: one of SCORING_MODES, the C++ library's ScoringMode by name. "exact": every pair of
    sequences, cost nseq^2 x length. "approximate": each weight is the mean distance to
    `sample` partners drawn at random by `seed` (all the others when sample >= nseq - 1), and
    each column score is summed by residue class, so the cost is nseq x sample x length; the
    same seed gives the same bits. The interpreter lock is released while the scores are
    computed. Raises InputError when there are no sequences or they differ in length,
    ValueError for a bad mode, sample, seed or thread count (1 to MAX_THREADS).
    """
    if threads is not None:
        whole_number("threads", threads, 1, MAX_THREADS)
    approximate = mode == "approximate"
    if approximate:
        whole_number("sample", sample, 1)
        whole_number("seed", seed, 0)
        if seed >= 2**64:
            raise ValueError(f"seed must be below 2**64, not {seed}")
    encoded = core_sequences(sequences)
    weights, column_scores, dops = _core.score_alignment(
        encoded, load_matrix(matrix), threads or 0, mode,
        # Beyond the others' number every sample is the same: all of them.
        min(sample, 2**31 - 1) if approximate else DEFAULT_SAMPLE, seed if approximate else 0)
    if approximate:
        return ConservationScores(weights, column_scores, dops, True, sample, seed)
    return ConservationScores(weights, column_scores, dops)


def pair_distance(first, second, matrix="blosum62"):
    """Return the distance of two aligned sequences (str or bytes of one length).

    One minus their mean similarity over the columns where at least one has a residue; 0.0
    when there is no such column. Raises InputError when the lengths differ.
    """
    return _core.pair_distance(encode(first), encode(second), load_matrix(matrix))


def dops_score(column_scores):
    """Return the DOPS score of column scores: the entropy of their spread over groups of
    exactly equal value, as a percentage of log2 of their number (0 for fewer than two)."""
    return _core.dops_score([float(score) for score in column_scores])


def dops_label(scores):
    """The DOPS score of ConservationScores as output headers and titles give it: its figure,
    followed by "(approximate)" when the scores are approximate."""
    figure = format_dops(scores.dops).strip()
    return f"{figure} (approximate)" if scores.approximate else figure

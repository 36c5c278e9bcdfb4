"""What one family's job costs, told from its alignment file before it is read: its Shape
(estimate_shape), and from that the threads (job_threads), the memory (job_memory_mb) and the
time limit (job_minutes) the workflow asks the scheduler for.

job_threads is where a job's thread count is decided: the workflow reserves that many CPUs
and passes the same count to the job, which scores on exactly that many.
"""
import functools
import math
import os
from typing import NamedTuple

from .. import _core
from .._core import InputError
from ..core import DEFAULT_SAMPLE
from ..report import MAX_SEQUENCES as REPORT_MAX_SEQUENCES

# The cost of a job, from measurements on 2 cores of an Intel Xeon at 2.1 GHz with AVX-512
# (README, "Scoring many alignments").
#
# Both long stages compare every pair of sequences at every column: seconds per pair-column on
# one core, with the pair distances at 16.2 G/s per core and the column scores at 6.0 G/s per
# core (AVX-512, two threads); and on the portable kernels (a processor without AVX-512, or a
# matrix outside the kernels' limits) at 1.87 and 2.6 G/s per core. The column scores work on
# vectors of 8 columns, so a narrower alignment costs as much as 8 columns.
DISTANCE_SECONDS_PER_PAIR_COLUMN = 1 / 16.2e9
COLUMN_SECONDS_PER_PAIR_COLUMN = 1 / 6.0e9
PORTABLE_SECONDS_PER_PAIR_COLUMN = 1 / 1.87e9 + 1 / 2.6e9
COLUMN_BLOCK = 8
# The approximate mode (README, "Very large alignments: the approximate mode"): the weights
# compare each sequence with its sample of partners, at 1.4 G pair-columns per second per core
# (AVX-512; the partners lie all over the alignment, so memory rather than arithmetic sets the
# pace), and the column scores pass over the residues once; the portable kernel is about three
# times slower.
APPROXIMATE_SECONDS_PER_PAIR_COLUMN = 1 / 1.4e9
APPROXIMATE_SECONDS_PER_RESIDUE = 1e-8
PORTABLE_APPROXIMATE_SLOWER = 3
# Families whose exact scores would compare more pairs of residues than this (pairs of
# sequences times columns) are scored approximately unless the batch says otherwise: 1e13 is
# about 8 minutes of exact scoring on 2 cores, 150,000 sequences of 900 columns.
APPROXIMATE_ABOVE = 1e13
# Reading, checking and writing, per byte of alignment text, with room to spare (the core reads
# every format into Python objects at 50 MB/s or more, and writes faster), and the
# interpreter's start.
SECONDS_PER_BYTE = 1 / 10e6
START_SECONDS = 1.0
# Peak memory, from the peaks of the program, the package and its jobs on alignments of every
# shape (bench/measure_memory.py; README, "How each job's resources are chosen"), with room to
# spare:
# - the interpreter with NumPy and the package, and matplotlib where the job plots;
# - per byte of alignment text, the residues held three times at the peak: the str that Python
#   keeps, the scoring core's normalised copy and the class codes of the stage that is running,
#   plus names and line ends (once less in the approximate mode, whose stages lay no alignment
#   of codes out);
# - per sequence, the objects that hold its name and residues;
# - per column, its score where the core computes it and in the array Python keeps, the
#   reference's residue table and the scored alignment's buffers; in the exact mode, for
#   alignments the AVX-512 distance kernel takes (under 2^24 columns), its codes, padded to
#   blocks of 16 sequences, and a table of 32 bytes a column for each row a thread compares;
#   a report's arrays and objects; a plot's, matplotlib's objects and renderer's for every
#   point, which grow more slowly past 100,000 points (many more than the plot has pixels);
# - a report's JSON of the residues it shows (at most 20,000 sequences);
# - the exact mode's ring of distance rows, a group of rows of doubles for each thread and one
#   more: 16 rows a group, fewer where the ring would pass 64 MiB, never none.
BASE_MB = 45
PLOT_MB = 35
BYTES_PER_TEXT_BYTE = 4
APPROXIMATE_BYTES_PER_TEXT_BYTE = 3
BYTES_PER_SEQUENCE = 400
BYTES_PER_COLUMN = 24
KERNEL_MAX_COLUMNS = 1 << 24
KERNEL_BLOCK = 16
ROW_TABLE_BYTES_PER_COLUMN = 32
PLOT_BYTES_PER_COLUMN = 2000
PLOT_DENSE_COLUMNS = 100_000
PLOT_BYTES_PER_FURTHER_COLUMN = 700
REPORT_BYTES_PER_COLUMN = 400
REPORT_BYTES_PER_TEXT_BYTE = 3
RING_ROWS = 16
RING_BYTES = 64 << 20


class Shape(NamedTuple):
    """What an alignment file tells about its size before it is read: its bytes of text
    (decompressed), and about how many sequences and columns it holds."""

    text_bytes: int
    sequences: int
    columns: int

    @property
    def pairs(self):
        """Pairs of sequences."""
        return self.sequences * (self.sequences - 1) // 2

    @property
    def pair_columns(self):
        """Pairs of residues that the exact scores compare: pairs of sequences times columns."""
        return self.pairs * self.columns

    def approximate(self, above=None):
        """Whether a batch that scores families of more than `above` pair_columns approximately
        (APPROXIMATE_ABOVE when None) scores this one so."""
        return self.pair_columns > (APPROXIMATE_ABOVE if above is None else above)

    def core_seconds(self, approximate=False):
        """Seconds that scoring takes on one core with the AVX-512 kernels, exactly, or
        approximately with the default sample: its pairs for the weights and one pass over the
        residues for the column scores."""
        if approximate:
            return self.sequences * self.columns * (
                min(DEFAULT_SAMPLE, self.sequences) * APPROXIMATE_SECONDS_PER_PAIR_COLUMN
                + APPROXIMATE_SECONDS_PER_RESIDUE)
        blocks = -(-self.columns // COLUMN_BLOCK)
        return self.pairs * (self.columns * DISTANCE_SECONDS_PER_PAIR_COLUMN
                             + blocks * COLUMN_BLOCK * COLUMN_SECONDS_PER_PAIR_COLUMN)


@functools.lru_cache(maxsize=None)
def estimate_shape(path):
    """Return the Shape of an alignment file from its size and its first record or block.

    FASTA, A2M and A3M: the columns of the first record (its match states in A2M and A3M), and
    as many sequences as records of that size fit in the text. Stockholm and Clustal: the
    sequences of the first block, and its first sequence's residues times the number of blocks
    of that size. gzip files are decompressed to count their text. A file that cannot be read,
    or that is no alignment, gives one sequence: its job fails at once.
    """
    try:
        return Shape(*_core.estimate_alignment_size(os.fspath(path)))
    except InputError:
        return Shape(0, 1, 0)


def job_threads(path, most, target_seconds=60.0, approximate=False):
    """Threads for one family's job: one per target_seconds of scoring on one core, at least 1
    and at most `most`, so that small families take one core each and large ones finish in
    about target_seconds. The job is run with exactly this count (see score_family)."""
    seconds = estimate_shape(path).core_seconds(approximate)
    return max(1, min(int(most), math.ceil(seconds / target_seconds)))


def job_memory_mb(path, threads, approximate=False, plot=False, report=False):
    """Megabytes (10^6 bytes) one family's job needs at its peak, run on `threads` threads,
    exactly or approximately, with or without a plot and a report (see the constants above)."""
    shape = estimate_shape(path)
    per_column = BYTES_PER_COLUMN
    ring = 0
    if not approximate:
        if shape.columns < KERNEL_MAX_COLUMNS:
            padding = -shape.sequences % KERNEL_BLOCK
            per_column += padding + ROW_TABLE_BYTES_PER_COLUMN * max(
                1, min(threads, shape.sequences - 1))
        row = 8 * shape.sequences * (threads + 1)
        ring = min(RING_ROWS * row, max(RING_BYTES, row))
    text = (APPROXIMATE_BYTES_PER_TEXT_BYTE if approximate else BYTES_PER_TEXT_BYTE) * \
        shape.text_bytes
    megabytes = BASE_MB
    if plot:
        dense = min(shape.columns, PLOT_DENSE_COLUMNS)
        megabytes += PLOT_MB + (PLOT_BYTES_PER_COLUMN * dense + PLOT_BYTES_PER_FURTHER_COLUMN
                                * (shape.columns - dense)) / 1e6
    if report:
        per_column += REPORT_BYTES_PER_COLUMN
        shown = min(1.0, REPORT_MAX_SEQUENCES / max(shape.sequences, 1))
        text += REPORT_BYTES_PER_TEXT_BYTE * shape.text_bytes * shown
    variable = text + BYTES_PER_SEQUENCE * shape.sequences + per_column * shape.columns + ring
    return math.ceil(megabytes + variable / 1e6)


def job_minutes(path, threads, approximate=False):
    """A time limit in minutes for one family's job on `threads` threads: twice what it would
    take on the portable kernels, and five minutes more."""
    shape = estimate_shape(path)
    if approximate:
        scoring = shape.core_seconds(True) * PORTABLE_APPROXIMATE_SLOWER
    else:
        scoring = shape.pair_columns * PORTABLE_SECONDS_PER_PAIR_COLUMN
    seconds = START_SECONDS + shape.text_bytes * SECONDS_PER_BYTE + scoring / threads
    return 5 + math.ceil(2 * seconds / 60)

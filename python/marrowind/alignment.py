"""Reading alignments: aligned FASTA, Stockholm, A2M, A3M and Clustal, plain or gzip-compressed.

The scoring core reads every format (see its <marrowind/readers.h>): it streams a file from disk,
decompresses gzip data, tells the format from the content, holds each format to its rules and
refuses rows of unequal lengths, so that a file gives exactly the sequences that the C++ library
reads, and FASTA exactly those that the command-line program scores. A2M and A3M keep only their
match columns. This module holds what is Python's own: the Alignment objects, their NumPy views
and the warning for nucleotides.

Residues are kept byte for byte, one character per byte (a byte outside ASCII as its surrogate
escape), so that a sequence has as many columns here as the scoring core and the command-line
program count: a residue written as two bytes of UTF-8 is two columns, as in the program.
Residues are kept as written otherwise: the scoring upper-cases them and reads "." as "-", as
the command line does.

A malformed file raises InputError with one line naming the file and, where there is one, the
line at fault. An alignment whose residues look like nucleotides gives a NucleotideWarning.
"""
import os
import re
import sys
import warnings
from dataclasses import dataclass, field
from typing import NamedTuple

import numpy as np

from . import _core
from ._core import InputError
from .core import encode

FORMATS = _core.FORMATS
# "name/start-end", as Pfam labels the stretch of a sequence that an alignment holds.
RANGE_LABEL = re.compile(r"/(\d+)-(\d+)$")
# The residues that DNA and RNA are written in (N: any base), either case; and the gaps, which
# are no residues of either kind.
NUCLEOTIDES = "ACGTUNacgtun"
GAPS = "-."
# The pieces in which a file object or standard input is handed to the core.
READ_PIECE = 1 << 16
# About how many residues the rows of one block hold (see Alignment.residue_blocks).
BLOCK_BYTES = 1 << 20
# The bytes counted at a time by count_nucleotides, widened to 8 bytes each: a block's worth.
TALLY_BYTES = BLOCK_BYTES // 8


class ComplexChain(NamedTuple):
    """One distinct chain of a complex whose alignment ColabFold wrote (its A3M file's first
    line, "#101,59\\t1,2", gives the chains' lengths and copies): its first column (from 0), its
    number of columns, how many copies of it the complex holds, and the chain IDs of those
    copies in ColabFold's models ("A", or "B,C")."""

    first_column: int
    length: int
    copies: int
    chain_ids: str


class NucleotideWarning(UserWarning):
    """The alignment looks like DNA or RNA, but the substitution matrices score amino acids."""


@dataclass
class Alignment:
    """Aligned sequences with their names, in input order.

    names and sequences are lists of str. A sequence holds one character per byte, as the
    scoring counts columns: str given with characters outside ASCII is stored as its UTF-8
    bytes, each byte outside ASCII as its surrogate escape, and bytes likewise, so that writing
    a sequence with errors="surrogateescape" gives back exactly its bytes. starts holds, per
    sequence, the residue number of its first residue when its name ends in "/start-end", else
    None. chains holds the ComplexChain of a complex that ColabFold's A3M file describes, in
    column order (empty for any other alignment).
    """

    names: list
    sequences: list
    format: str = "fasta"
    source: str = "<text>"
    starts: list = field(default=None)
    chains: list = field(default_factory=list)

    def __post_init__(self):
        self.sequences = [sequence if isinstance(sequence, str) and sequence.isascii()
                          else _one_per_byte(encode(sequence)) for sequence in self.sequences]
        if self.starts is None:
            self.starts = [None] * len(self.names)
            for i, name in enumerate(self.names):
                match = RANGE_LABEL.search(name)
                if match:
                    self.starts[i] = int(match.group(1))

    def __len__(self):
        return len(self.sequences)

    @property
    def length(self):
        """The number of columns."""
        return len(self.sequences[0]) if self.sequences else 0

    def index(self, reference=None):
        """Return the index of a sequence given by index, by name, or None for the first.

        A name matches in full ("HBA_HUMAN/2-142 Hemoglobin alpha"), or by its first word
        with or without its "/start-end" label ("HBA_HUMAN/2-142", "HBA_HUMAN"). Raises
        InputError when no sequence, or more than one, matches.
        """
        if reference is None:
            reference = 0
        if isinstance(reference, int):
            if not -len(self.names) <= reference < len(self.names):
                raise InputError(f"{self.source}: there is no sequence {reference}")
            return reference % len(self.names)
        if reference in self.names:
            return self.names.index(reference)
        found = [i for i, name in enumerate(self.names)
                 if reference in (identifier(name), RANGE_LABEL.sub("", identifier(name)))]
        if len(found) != 1:
            problem = "no sequence" if not found else "more than one sequence"
            raise InputError(f"{self.source}: {problem} is named {reference}")
        return found[0]

    def column_chains(self):
        """Return, per column, the index in chains of the chain it belongs to, as an int32
        array (the scoring core's column_chains); None when the alignment has no chains."""
        return _core.column_chains(self.chains) if self.chains else None

    def residue_blocks(self, most_bytes=BLOCK_BYTES):
        """Yield the rows, in order, as 2-D uint8 arrays (rows x columns) of the bytes of about
        most_bytes residues each (at least one row), so that tallies over a large alignment,
        however long its rows, never hold it whole or in wide types."""
        if not self.length:
            return
        rows = max(1, most_bytes // self.length)
        for first in range(0, len(self.sequences), rows):
            block = b"".join(encode(s) for s in self.sequences[first:first + rows])
            yield np.frombuffer(block, dtype=np.uint8).reshape(-1, self.length)

    def count_nucleotides(self):
        """Return (nucleotides, residues): how many of the residues (every character but the
        gaps "-" and ".") are A, C, G, T, U or N in either case, and how many there are.

        Every character is one byte, so the bytes are tallied, a block of rows at a time."""
        tally = np.zeros(256, dtype=np.int64)
        for block in self.residue_blocks():
            # bincount widens what it counts to 8-byte integers: a block (one row of a very long
            # alignment may be many megabytes) is tallied in slices of an eighth of a block, so
            # that the widened slice is no larger than the block.
            flat = block.ravel()
            for start in range(0, len(flat), TALLY_BYTES):
                tally += np.bincount(flat[start:start + TALLY_BYTES], minlength=256)
        residues = int(tally.sum() - sum(tally[ord(gap)] for gap in GAPS))
        nucleotides = int(sum(tally[ord(base)] for base in NUCLEOTIDES))
        return nucleotides, residues


def identifier(name):
    """Return a sequence's identifier: the first word of its name."""
    return (name.split() or [""])[0]


def detect_format(data, source=""):
    """Return the format of alignment bytes from their first line, or from a file name's
    suffix (.a2m, .a3m) for files that start with ">". Raises InputError when it cannot tell."""
    return _core.detect_format(data, source)


def read_alignment(source, format=None):
    """Read an alignment from a path, "-" for standard input, or a binary file object.

    format: one of FORMATS, or None to detect it from the content. gzip-compressed input is
    recognised from its content. Raises InputError for a file that cannot be opened or read,
    or that is not a valid alignment; warns with NucleotideWarning (see parse_alignment).
    """
    if hasattr(source, "read"):
        alignment = _read_pieces(source, format, str(getattr(source, "name", "<stream>")))
    elif os.fspath(source) == "-":
        alignment = _read_pieces(sys.stdin.buffer, format, "standard input")
    else:
        path = os.fspath(source)
        alignment = _alignment(_core.read_alignment(path, format), path)
    _warn_if_nucleotides(alignment)
    return alignment


def parse_alignment(data, format=None, source="<text>"):
    """Read an alignment held in memory (bytes or str); see read_alignment.

    Warns with NucleotideWarning when more than half of the residues (every character but the
    gaps "-" and ".") are A, C, G, T, U or N, in either case: the matrices score amino acids,
    and such an alignment is most likely DNA or RNA.
    """
    if isinstance(data, str):
        data = data.encode("utf-8", "surrogateescape")
    alignment = _alignment(_core.parse_alignment(data, format, source), source)
    _warn_if_nucleotides(alignment)
    return alignment


def _read_pieces(stream, format, source):
    """Read an alignment from a file object piece by piece: its text is never held whole."""
    reader = _core.AlignmentReader(source, format)
    while True:
        piece = stream.read(READ_PIECE)
        if not piece:
            break
        reader.feed(piece.encode("utf-8", "surrogateescape") if isinstance(piece, str) else piece)
    return _alignment(reader.finish(), source)


def _alignment(read, source):
    names, sequences, starts, format, chains = read
    return Alignment(names, sequences, format, source, starts,
                     [ComplexChain(*chain) for chain in chains])


def _warn_if_nucleotides(alignment):
    nucleotides, residues = alignment.count_nucleotides()
    if nucleotides > residues / 2:
        # Shown at the line that called read_alignment or parse_alignment.
        warnings.warn(NucleotideWarning(
            f"{alignment.source}: {nucleotides} of its {residues} residues are A, C, G, T, U or "
            f"N: this looks like a nucleotide alignment, but the substitution matrices score "
            f"amino acids"), stacklevel=3)


def _one_per_byte(raw):
    """Return bytes as str, one character per byte: ASCII as itself, any other byte as its
    surrogate escape."""
    return raw.decode("ascii", "surrogateescape")

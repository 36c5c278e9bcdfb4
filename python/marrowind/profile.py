"""Conservation profiles: an alignment's scores read along one reference sequence.

A column's score belongs to the whole column; numbered along the reference, it becomes a score
per residue of that sequence, ready for a structure or a viewer. Columns where the reference
has a gap have no residue of it and are left out of its table.

The table of a reference of millions of residues holds no Python object per residue: a
ResidueTable keeps each residue's column (four bytes) and makes its Residue when asked.
"""
from collections.abc import Sequence
from dataclasses import dataclass, field
from typing import NamedTuple

import numpy as np

from .alignment import read_alignment
from .core import DEFAULT_SAMPLE, load_matrix, matrix_label, score_alignment

GAPS = "-."
# Columns of the reference examined at a time, and residues made at a time when iterating: a
# few megabytes of temporaries however long the reference.
BLOCK = 1 << 16


class Residue(NamedTuple):
    """One residue of the reference: its number in that sequence, its letter, the alignment
    column it stands in and that column's score.

    column counts from 0: it indexes the alignment's columns and scores.column_scores. The
    table (write_tsv), the plot and the report count columns from 1, so that their column 1 is
    column 0 here.
    """

    number: int
    residue: str
    column: int
    score: float


class ResidueTable(Sequence):
    """The reference's residues in order, each a Residue made when it is read: a sequence (len,
    indexing, slicing, iteration) that equals the list of the same Residues. columns holds the
    alignment column of each residue (0-based) as an int32 array, and numbers their numbers."""

    def __init__(self, sequence, column_scores, first_number):
        self._sequence = sequence
        self._scores = column_scores
        self._first = first_number
        is_residue = np.ones(256, dtype=bool)
        is_residue[list(GAPS.encode())] = False
        # Counted first and filled a block at a time, so that the only array of the reference's
        # length is the one kept.
        blocks = [(start, is_residue[np.frombuffer(
                      sequence[start:start + BLOCK].encode("utf-8", "surrogateescape"),
                      dtype=np.uint8)]) for start in range(0, len(sequence), BLOCK)]
        self.columns = np.empty(sum(int(mask.sum()) for _, mask in blocks), dtype=np.int32)
        filled = 0
        for start, mask in blocks:
            found = np.flatnonzero(mask)
            self.columns[filled:filled + len(found)] = found + start
            filled += len(found)
        self.columns.flags.writeable = False

    @property
    def numbers(self):
        """The residues' numbers, as an int64 array."""
        return np.arange(self._first, self._first + len(self.columns), dtype=np.int64)

    def __len__(self):
        return len(self.columns)

    def _residues(self, first, stop):
        columns = self.columns[first:stop].tolist()
        scores = self._scores[self.columns[first:stop]].tolist()
        return [Residue(self._first + first + i, self._sequence[column], column, score)
                for i, (column, score) in enumerate(zip(columns, scores))]

    def __getitem__(self, index):
        if isinstance(index, slice):
            return [self[i] for i in range(*index.indices(len(self)))]
        if not -len(self) <= index < len(self):
            raise IndexError("residue index out of range")
        index %= len(self)
        return self._residues(index, index + 1)[0]

    def __iter__(self):
        for first in range(0, len(self), BLOCK):
            yield from self._residues(first, first + BLOCK)

    def __eq__(self, other):
        if not isinstance(other, Sequence) or isinstance(other, (str, bytes)):
            return NotImplemented
        return len(self) == len(other) and all(a == b for a, b in zip(self, other))

    def __repr__(self):
        return f"<ResidueTable of {len(self)} residues>"


def residue_table(alignment, scores, reference=None):
    """Return the reference's residues with their numbers, columns and scores, in order, as a
    ResidueTable.

    reference: a sequence's index or name (see Alignment.index); the first when None.
    Residues are numbered from 1, or from start when the reference's name ends in
    "/start-end". Every character other than "-" and "." is a residue.
    """
    index = alignment.index(reference)
    sequence = alignment.sequences[index]
    column_scores = np.asarray(scores.column_scores)
    if len(column_scores) != len(sequence):
        raise ValueError(f"{len(column_scores)} scores for an alignment of {len(sequence)} columns")
    return ResidueTable(sequence, column_scores, alignment.starts[index] or 1)


@dataclass
class Profile:
    """An alignment, its scores and its reference sequence, as the exports and plots take them.

    matrix names the matrix in output headers; reference is the index of the reference
    sequence; residues is its residue_table, a ResidueTable. substitution_matrix is the
    SubstitutionMatrix the scores came from, which tells the residues from the gaps and unknown
    letters in the column context; None for the one that matrix names (see matrix_object).
    """

    alignment: object
    scores: object
    matrix: str = "blosum62"
    reference: int = 0
    residues: ResidueTable = field(init=False)
    substitution_matrix: object = None

    def __post_init__(self):
        self.residues = residue_table(self.alignment, self.scores, self.reference)

    @property
    def reference_name(self):
        """The name of the reference sequence."""
        return self.alignment.names[self.reference]

    def matrix_object(self):
        """The SubstitutionMatrix of the scores: substitution_matrix, or else the shipped
        matrix or file that matrix names (see load_matrix)."""
        if self.substitution_matrix is None:
            self.substitution_matrix = load_matrix(self.matrix)
        return self.substitution_matrix

    def gap_fractions(self):
        """Return, per column, the share of sequences with a gap ("-", "." or "X") or a letter
        the matrix lacks there: the tables' gap_fraction, as a float64 array. Counted by the
        scoring core a block of columns at a time, so that nothing else of the alignment's
        size is held."""
        from .context import TableContext

        return TableContext(self).gap_fractions()


def conservation_profile(alignment, matrix="blosum62", reference=None, format=None,
                         threads=None, mode="exact", sample=DEFAULT_SAMPLE, seed=0):
    """Score an alignment and number its scores along a reference: return a Profile.

    alignment: an Alignment, or a path (or "-") read with read_alignment in the given format.
    matrix: a shipped matrix's name, a path or a SubstitutionMatrix (see load_matrix).
    threads, mode, sample, seed: as score_alignment.
    """
    if not hasattr(alignment, "sequences"):
        alignment = read_alignment(alignment, format)
    index = alignment.index(reference)
    # Loaded once, so that a file's faults are warned of once and the context reads the very
    # matrix that scored.
    loaded = load_matrix(matrix)
    scores = score_alignment(alignment, loaded, threads=threads, mode=mode, sample=sample,
                             seed=seed)
    return Profile(alignment, scores, matrix_label(matrix), index, substitution_matrix=loaded)

"""Conservation profiles: an alignment's scores read along one reference sequence.

A column's score belongs to the whole column; numbered along the reference, it becomes a score
per residue of that sequence, ready for a structure or a viewer. Columns where the reference
has a gap have no residue of it and are left out of its table.
"""
from dataclasses import dataclass, field
from typing import NamedTuple

import numpy as np

from .alignment import read_alignment
from .core import DEFAULT_SAMPLE, matrix_label, score_alignment

GAPS = "-."


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


def residue_table(alignment, scores, reference=None):
    """Return the reference's residues with their numbers, columns and scores, in order.

    reference: a sequence's index or name (see Alignment.index); the first when None.
    Residues are numbered from 1, or from start when the reference's name ends in
    "/start-end". Every character other than "-" and "." is a residue.
    """
    index = alignment.index(reference)
    sequence = alignment.sequences[index]
    column_scores = scores.column_scores
    if len(column_scores) != len(sequence):
        raise ValueError(f"{len(column_scores)} scores for an alignment of {len(sequence)} columns")
    number = alignment.starts[index] or 1
    table = []
    for column, residue in enumerate(sequence):
        if residue in GAPS:
            continue
        table.append(Residue(number, residue, column, float(column_scores[column])))
        number += 1
    return table


@dataclass
class Profile:
    """An alignment, its scores and its reference sequence, as the exports and plots take them.

    matrix names the matrix in output headers; reference is the index of the reference
    sequence; residues is its residue_table.
    """

    alignment: object
    scores: object
    matrix: str = "blosum62"
    reference: int = 0
    residues: list = field(init=False)

    def __post_init__(self):
        self.residues = residue_table(self.alignment, self.scores, self.reference)

    @property
    def reference_name(self):
        """The name of the reference sequence."""
        return self.alignment.names[self.reference]

    def gap_fractions(self):
        """Return, per column, the fraction of sequences with a gap ("-" or ".") there.

        Counted a block of rows at a time (Alignment.residue_blocks), so that a large alignment
        is never copied whole."""
        is_gap = np.zeros(256, dtype=bool)
        is_gap[list(GAPS.encode())] = True
        gaps = np.zeros(self.alignment.length, dtype=np.int64)
        for block in self.alignment.residue_blocks():
            gaps += is_gap[block].sum(axis=0)
        return gaps / max(len(self.alignment), 1)


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
    scores = score_alignment(alignment, matrix, threads=threads, mode=mode, sample=sample,
                             seed=seed)
    return Profile(alignment, scores, matrix_label(matrix), index)

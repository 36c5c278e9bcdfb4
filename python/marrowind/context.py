"""The context a column's score is read with: how many sequences stand behind it (gap_fraction,
weighted_occupancy, reliable), where it lies among the table's scores (z, grade) and the scores
around it (smoothed).

Every figure comes from the scoring core (<marrowind/context.h>); this module chooses the
columns a table shows and hands them over a block at a time, so that the context of a table of
millions of rows is never held whole.
"""
from dataclasses import dataclass
from typing import Optional

import numpy as np

from . import _core
from .core import core_sequences

DEFAULT_MIN_RESIDUES = 10
DEFAULT_MAX_GAP_FRACTION = 0.5
# The edges of the nine grades on the scale of z (grade 1 below the first, 9 from the last).
GRADE_EDGES = _core.GRADE_EDGES
# Rows handed to the core at a time.
BLOCK = 1 << 16


# How messages name the settings: by their fields from Python, by their options on the command
# line.
FIELD_NAMES = ("min_residues", "max_gap_fraction")
OPTION_NAMES = ("--min-residues", "--max-gap-fraction")


def settings_fault(min_residues, max_gap_fraction, window, names=FIELD_NAMES):
    """The first fault of these settings as one line, the first two named as names names them;
    None when they are sound."""
    if isinstance(min_residues, bool) or not isinstance(min_residues, int) or min_residues < 0:
        return f"{names[0]} must be a whole number of at least 0, not {min_residues!r}"
    if not 0 <= max_gap_fraction <= 1:
        return f"{names[1]} must be a fraction from 0 to 1, not {max_gap_fraction!r}"
    if window is not None and (isinstance(window, bool) or not isinstance(window, int)
                               or window < 1 or window % 2 == 0):
        return f"the window must be an odd whole number of at least 1, not {window!r}"
    return None


@dataclass(frozen=True)
class ContextSettings:
    """What makes a column reliable, and the smoothing window.

    min_residues: the fewest sequences that must hold a residue at a reliable column.
    max_gap_fraction: the largest gap fraction of a reliable column.
    window: an odd number of rows whose centred mean gives the smoothed column; None for none.
    Settings that do not fit raise ValueError (see settings_fault).
    """

    min_residues: int = DEFAULT_MIN_RESIDUES
    max_gap_fraction: float = DEFAULT_MAX_GAP_FRACTION
    window: Optional[int] = None

    def __post_init__(self):
        fault = settings_fault(self.min_residues, self.max_gap_fraction, self.window)
        if fault:
            raise ValueError(fault)


def grade_edges_text():
    """The grades' bins in words, as the tables' headers and the README give them."""
    bins = [f"1 below {GRADE_EDGES[0]:g}"] + [
        f"{grade} from {edge:g}" for grade, edge in enumerate(GRADE_EDGES, start=2)]
    return ", ".join(bins)


class TableContext:
    """The context of the rows of one table: the reference's residues (rows, the column of each
    row as an int32 array) or every column (rows None).

    statistics: (scored, mean, standard deviation) of the rows' finite scores, which z is
    measured by. block(first, last) gives the figures of rows first to last.
    """

    def __init__(self, profile, rows=None, settings=ContextSettings()):
        self.profile = profile
        self.settings = settings
        self.rows = rows
        self.scores = np.ascontiguousarray(profile.scores.column_scores, dtype=np.float64)
        self.count = len(self.scores) if rows is None else len(rows)
        self.statistics = _core.score_statistics(self.scores, rows)
        self._sequences = core_sequences(profile.alignment)
        self._weights = np.asarray(profile.scores.weights, dtype=np.float64)
        self._unreliable = None

    def columns(self, first, last):
        """The alignment columns (0-based) of rows first to last, as an array."""
        if self.rows is None:
            return np.arange(first, last, dtype=np.int64)
        return np.asarray(self.rows[first:last], dtype=np.int64)

    def block(self, first, last):
        """The figures of rows first to last, a dict of arrays: residues, gap_fraction,
        weighted_occupancy, reliable, z, grade and, with a window, smoothed."""
        columns = self.columns(first, last)
        residues, gaps, occupancy = _core.column_occupancy(
            self._sequences, self.profile.matrix_object(), self._weights, columns)
        z = _core.standard_scores(self.scores[columns], self.statistics)
        figures = {
            "residues": residues, "gap_fraction": gaps, "weighted_occupancy": occupancy,
            "reliable": _core.reliable_columns(residues, gaps, self.settings.min_residues,
                                               self.settings.max_gap_fraction),
            "z": z, "grade": _core.conservation_grades(z),
        }
        if self.settings.window:
            figures["smoothed"] = _core.smoothed_scores(self.scores, self.settings.window,
                                                        self.rows, first, last)
        return figures

    def blocks(self):
        """Yield (first, last, block(first, last)) over every row, BLOCK rows at a time."""
        for first in range(0, self.count, BLOCK):
            last = min(first + BLOCK, self.count)
            yield first, last, self.block(first, last)

    def gap_fractions(self):
        """Every row's gap_fraction, as one float64 array."""
        gaps = np.empty(self.count, dtype=np.float64)
        for first in range(0, self.count, BLOCK):
            last = min(first + BLOCK, self.count)
            gaps[first:last] = _core.column_occupancy(
                self._sequences, self.profile.matrix_object(), self._weights,
                self.columns(first, last))[1]
        return gaps

    def unreliable(self):
        """The number of the rows whose column is not reliable."""
        if self._unreliable is None:
            self._unreliable = sum(int((~block["reliable"]).sum()) for _, _, block in
                                   self.blocks())
        return self._unreliable

    def arrays(self):
        """Every row's figures as whole arrays (for a report or a plot, which hold them
        anyway)."""
        parts = [block for _, _, block in self.blocks()]
        names = ["residues", "gap_fraction", "weighted_occupancy", "reliable", "z", "grade"]
        if self.settings.window:
            names.append("smoothed")
        return {name: (np.concatenate([part[name] for part in parts]) if parts
                       else np.empty(0)) for name in names}

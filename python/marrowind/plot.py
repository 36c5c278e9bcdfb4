"""The conservation profile plot: score per column or per reference residue, with the gaps.

Drawn on a matplotlib Figure of its own (no pyplot state, no display needed) and saved as PNG
or SVG, chosen by the file name's suffix. Every text is plain text: matplotlib would read a
name holding two "$" as a formula. The same profile gives the same bytes in every run: an SVG
carries no date and its element ids come from a fixed salt instead of random ones.
"""
import os

import numpy as np

from .core import dops_label
from .output import open_output

PLOT_FORMATS = (".png", ".svg")
# What an SVG's element ids are hashed with, in place of a random salt per run.
SVG_HASH_SALT = "marrowind"


def plot_format(path):
    """Return the suffix of a plot's file name, or raise ValueError when it is not one of
    PLOT_FORMATS."""
    suffix = os.path.splitext(os.fspath(path))[1].lower()
    if suffix not in PLOT_FORMATS:
        raise ValueError(f"a plot is written as {' or '.join(PLOT_FORMATS)}, not {path}")
    return suffix


def plot_profile(profile, path, per="column", title=None):
    """Save a plot of a Profile's scores to path (.png or .svg).

    per="column": the score of every alignment column, with the columns where the reference
    has a gap marked below the axis. per="residue": the score at each residue number of the
    reference. Either way the fraction of sequences with a gap in each column is shaded, and
    the title carries the reference, the matrix and the DOPS score (marked approximate
    for approximate scores). An alignment without columns (or a reference without residues,
    per="residue") gives a plot that says there is nothing to plot.
    """
    from matplotlib import rc_context
    from matplotlib.figure import Figure
    from matplotlib.text import Text

    suffix = plot_format(path)
    if per not in ("column", "residue"):
        raise ValueError(f"per must be 'column' or 'residue', not {per!r}")

    scores = np.asarray(profile.scores.column_scores)
    gaps = profile.gap_fractions()
    if per == "column":
        x = np.arange(1, len(scores) + 1)
        y, shaded = scores, gaps
        label = "alignment column"
    else:
        columns = np.array([row.column for row in profile.residues], dtype=int)
        x = np.array([row.number for row in profile.residues], dtype=int)
        y, shaded = scores[columns], gaps[columns]
        label = f"residue number in {profile.reference_name}"

    figure = Figure(figsize=(max(6.0, min(24.0, len(x) / 12.0)), 3.6), layout="constrained")
    axes = figure.add_subplot()
    axes.fill_between(x, 0, shaded, step="mid", color="0.85", label="gap fraction")
    axes.plot(x, y, drawstyle="steps-mid", color="tab:blue", linewidth=1.0, label="score")
    if per == "column":
        reference = profile.alignment.sequences[profile.reference]
        holes = [i + 1 for i, residue in enumerate(reference) if residue in "-."]
        axes.plot(holes, [-0.04] * len(holes), "|", color="tab:red", markersize=6,
                  label=f"gap in {profile.reference_name}")
    axes.set_xlim(x.min() - 0.5 if len(x) else 0, x.max() + 0.5 if len(x) else 1)
    axes.set_ylim(-0.08, 1.02)
    axes.set_xlabel(label)
    axes.set_ylabel(f"conservation ({profile.matrix})")
    axes.set_title(title or f"{profile.reference_name}: DOPS score "
                            f"{dops_label(profile.scores)}")
    axes.legend(loc="upper right", fontsize="small", ncols=3, frameon=False)
    if not len(x):
        empty = "the alignment has no columns" if per == "column" else \
            f"{profile.reference_name} has no residues"
        axes.text(0.5, 0.5, f"nothing to plot: {empty}", transform=axes.transAxes,
                  ha="center", va="center")
    for text in figure.findobj(Text):
        text.set_parse_math(False)
    with open_output(path, binary=True) as out, rc_context({"svg.hashsalt": SVG_HASH_SALT}):
        figure.savefig(out, format=suffix[1:], **({"metadata": {"Date": None}}
                                                  if suffix == ".svg" else {}))

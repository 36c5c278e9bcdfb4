"""Exports of a Profile: a tab-separated table with each column's context, the sequence weights,
the scored alignment as the command-line program writes it, a Jalview annotation file, a
ChimeraX attribute file, and a structure (PDB or mmCIF) that holds the scores.

The tables and the annotation files write every figure in full (the core's format_figure: the
shortest decimal that reads back as the same float, laid out as repr lays it out), so reading
them back gives the very floats that were computed. Names, residues and other text
from the input go into them through the core's escape_field: a tab, carriage return, line feed
or backslash is written as \\t, \\r, \\n or \\\\, so that every line keeps its fields. Every
file is written through open_output: it ends up complete, or as it was before. The scored
alignment is the scoring core's own writer, reading the sequences where the Alignment holds
them.
"""
import gzip
import os

import numpy as np

from . import _core
from ._core import escape_field, format_figure, format_figures
from .alignment import RANGE_LABEL, identifier
from .context import ContextSettings, TableContext, grade_edges_text
from .core import core_sequences, dops_label
from .output import core_output, open_output
from .structure import (MIN_IDENTITY, UNSCORED, MappedStructure, StructureMapping, map_chains,
                        scored_structure)

DIRECTION = "score: 0 to 1, higher is more conserved"
# Why approximate scores get no scored alignment.
NO_ROOM_FOR_APPROXIMATE = ("the scored alignment is the program's exact output and has no room "
                           "to say that scores are approximate")


def header_lines(profile):
    """Return the "#" lines that describe a profile: input, format, matrix, sizes, reference,
    DOPS score and the direction of the scores; approximate scores say so, with their sample
    and seed, and their DOPS score is marked "(approximate)"."""
    alignment = profile.alignment
    scores = profile.scores
    mode = [f"# scores: {scores.mode_label}"] if scores.approximate else []
    return ["# marrowind conservation scores"] + mode + [
        f"# input: {escape_field(alignment.source)}",
        f"# format: {alignment.format}",
        f"# matrix: {escape_field(profile.matrix)}",
        f"# sequences: {len(alignment)}",
        f"# columns: {alignment.length}",
        f"# reference: {escape_field(profile.reference_name)}",
        f"# DOPS score: {dops_label(scores)}",
        f"# {DIRECTION}; columns are numbered from 1",
    ]


# The columns of every table, after number, residue, column (and chain) and before those of a
# structure: the score and its context.
CONTEXT_COLUMNS = ("score", "gap_fraction", "weighted_occupancy", "reliable", "z", "grade")


def context_lines(context, per):
    """The "#" lines that say what each context column of a table holds, with the numbers the
    table's figures depend on: the unreliable columns counted, the mean and standard deviation
    that z is measured by, the grades' bins and the smoothing window."""
    settings = context.settings
    scored, mean, deviation = context.statistics
    table = "the reference's residues" if per == "residue" else "every column"
    lines = [
        "# gap_fraction: the share of sequences with a gap (-, . or X) or a letter the matrix "
        "lacks at the column",
        "# weighted_occupancy: the share of the sequence weights, normalised to sum to 1, on "
        "the sequences that hold a residue at the column",
        f"# reliable: no where fewer than {settings.min_residues} sequences hold a residue or "
        f"gap_fraction exceeds {settings.max_gap_fraction:g}; unreliable columns: "
        f"{context.unreliable()} of {context.count}",
        f"# z: (score - mean) / standard deviation over the {scored} scored columns of this "
        f"table ({table}): mean {format_figure(mean)}, population standard deviation "
        f"{format_figure(deviation)}",
        f"# grade: 1 to 9, 9 the most conserved, by z: {grade_edges_text()}",
    ]
    if settings.window:
        lines += [f"# window: {settings.window}",
                  f"# smoothed: the mean score of the {settings.window} rows centred on the "
                  f"row, fewer at the table's ends"]
    if context.profile.alignment.chains:
        lines.append("# chain: the chain of the complex that the column belongs to, as "
                     "ColabFold names the chains of its models")
    return lines


def _blank_missing(figures, values):
    """Figures with "" where the value is not a number (no score, hence no z or grade)."""
    return ["" if value != value else figure for figure, value in zip(figures, values)]


def write_tsv(profile, target, per="residue", settings=None, structure=None):
    """Write the profile as tab-separated text after its header_lines and context_lines.

    Columns: number (the reference's residue number), residue, column (from 1), score and the
    column's context (see TableContext): gap_fraction, weighted_occupancy, reliable (yes or
    no), z, grade and, with settings.window, smoothed. Where the alignment is a complex that
    ColabFold described, chain (after column) names the chain of each column. With structure
    (a MappedStructure, see map_chains), the columns it adds (structure_fields).
    per="residue" writes the reference's residues; per="column" writes every column, with
    number empty and the reference's gap character where it has no residue, and z measured over
    every column. settings: a ContextSettings (default: 10 residues, gap fraction 0.5, no
    window). A residue that is a tab, carriage return, line feed or backslash is written
    escaped (see escape_field); z, grade and smoothed are empty where there is no score.
    Returns the TableContext of the rows written (its statistics, its unreliable() count).
    """
    if per not in ("residue", "column"):
        raise ValueError(f"per must be 'residue' or 'column', not {per!r}")
    settings = settings or ContextSettings()
    residues = profile.residues
    context = TableContext(profile, residues.columns if per == "residue" else None, settings)
    reference = profile.alignment.sequences[profile.reference]
    # Each character of the reference escaped once, not once per row.
    shown = {residue: escape_field(residue) for residue in set(reference)}
    chain_of = profile.alignment.column_chains()
    chain_ids = [chain.chain_ids for chain in profile.alignment.chains]
    added, fields_of = ([], {}) if structure is None else structure.table_fields()
    names = ["number", "residue", "column"] + (["chain"] if chain_of is not None else []) + \
        list(CONTEXT_COLUMNS) + (["smoothed"] if settings.window else []) + added
    empty = "\t" * len(added)
    scores = context.scores
    first_number = residues[0].number if len(residues) else 0
    with open_output(target) as out:
        out.write("\n".join(header_lines(profile) + context_lines(context, per)) + "\n")
        out.write("\t".join(names) + "\n")
        for first, last, block in context.blocks():
            columns = context.columns(first, last)
            # The number of the reference's residue in each column, -1 where it has none.
            if per == "residue":
                numbers = np.arange(first, last) + first_number
            elif len(residues):
                at = np.searchsorted(residues.columns, columns)
                found = residues.columns[np.minimum(at, len(residues) - 1)] == columns
                numbers = np.where(found, at + first_number, -1)
            else:
                numbers = np.full(len(columns), -1)
            # Whole columns of text, joined row by row in C: a loop of Python per row would
            # cost more than the scoring on alignments of millions of columns.
            fields = [[str(number) if number >= 0 else "" for number in numbers.tolist()],
                      [shown[reference[column]] for column in columns.tolist()],
                      list(map(str, (columns + 1).tolist()))]
            if chain_of is not None:
                fields.append([chain_ids[chain] for chain in chain_of[columns].tolist()])
            fields += [format_figures(scores[columns]), format_figures(block["gap_fraction"]),
                       format_figures(block["weighted_occupancy"]),
                       ["yes" if reliable else "no" for reliable in block["reliable"].tolist()],
                       _blank_missing(format_figures(block["z"]), block["z"].tolist()),
                       [str(grade) if grade else "" for grade in block["grade"].tolist()]]
            if settings.window:
                fields.append(_blank_missing(format_figures(block["smoothed"]),
                                             block["smoothed"].tolist()))
            lines = map("\t".join, zip(*fields))
            if added:
                lines = map(str.__add__, lines,
                            [fields_of.get(column, empty) for column in columns.tolist()])
            out.write("\n".join(lines) + "\n" if len(columns) else "")
    return context


def write_weights(profile, target):
    """Write the sequence weights that the scores used, as tab-separated text: the profile's
    header lines, then one row per sequence, in input order, of its name (escaped as
    escape_field escapes it) and its weight in full. Approximate weights (each the mean
    distance to a sample of partners) are said so in the header's "# weights:" line."""
    scores = profile.scores
    alignment = profile.alignment
    kind = (f"{scores.mode_label}: each the mean distance to a random sample of the other "
            f"sequences" if scores.approximate
            else "exact: each the mean distance to every other sequence")
    with open_output(target) as out:
        out.write("\n".join(header_lines(profile)[:-1]) + "\n")
        out.write(f"# weights: {kind}\n")
        out.write("name\tweight\n")
        weights = np.asarray(scores.weights, dtype=np.float64)
        for first in range(0, len(weights), 1 << 16):
            names = alignment.names[first:first + (1 << 16)]
            for name, weight in zip(names, format_figures(weights[first:first + len(names)])):
                out.write(f"{escape_field(name)}\t{weight}\n")


def write_scored_alignment(profile, target):
    """Write the scored alignment byte for byte as the command-line program writes it to its
    --output file: one line per column, in order, of the column's score as format_score gives
    it, eleven spaces, "#", fourteen spaces and the column's residue of every sequence in input
    order, as the scoring reads them ("." as "-", a-z as A-Z, every other byte unchanged). The
    DOPS score is not part of it.

    Raises ValueError for approximate scores: the format has no header or any other room to
    say so, and its readers would take them for the program's exact scores.
    """
    if profile.scores.approximate:
        raise ValueError(f"{NO_ROOM_FOR_APPROXIMATE}: it is not written for approximate scores")
    sequences = core_sequences(profile.alignment)
    with open_output(target, binary=True) as out:
        output = core_output(out)
        _core.write_scored_alignment(out.write if output is None else output, sequences,
                                     profile.scores.column_scores)


def write_jalview(profile, target, label="marrowind"):
    """Write a Jalview annotation file: one BAR_GRAPH row, labelled label, of the scores of the
    reference's residues, tied to the reference so that Jalview draws each bar on its residue.

    Jalview knows a sequence by the first word of its name less any "/start-end", numbers its
    residues from start (else from 1), and places the values of a row under SEQUENCE_REF on the
    sequence's residues, from the residue number given after the name: so the row holds one
    value per residue of the reference, in order, and the number is the reference's start.
    """
    name = identifier(profile.reference_name)
    label_range = RANGE_LABEL.search(name)
    start = int(label_range.group(1)) if label_range else 1
    description = f"marrowind column scores ({profile.matrix}); higher is more conserved"
    with open_output(target) as out:
        out.write("JALVIEW_ANNOTATION\n")
        out.write("".join(line + "\n" for line in header_lines(profile)))
        # The identifier holds no white space; written as it is, it stays Jalview's name.
        out.write(f"SEQUENCE_REF\t{RANGE_LABEL.sub('', name)}\t{start}\n")
        out.write(f"BAR_GRAPH\t{escape_field(label)}\t{escape_field(description)}\t")
        # Value by value: the row of a long reference is never held whole.
        for index, row in enumerate(profile.residues):
            out.write(f"{'|' if index else ''}{row.score!r}")
        out.write("\n")


def write_chimerax(profile, target, chain=None, attribute="conservation", structure=None):
    """Write a ChimeraX attribute file (open it with "open FILE format defattr") that gives
    residues their scores.

    Without structure, each residue of the reference by its number in the reference; chain,
    e.g. "A" (or "A,B" for several), restricts it to that chain. With structure, a
    MappedStructure (see map_chains) or a StructureMapping (see map_structure), the residues of
    every scored chain aligned with the reference, named as the structure numbers them,
    insertion codes included ("/A:52A"; ":52A" for a chain whose ID is blank).
    """
    # Made as they are written: the residues of a long reference are never held as text.
    if structure is None:
        # No chain, or a blank chain ID (which cannot follow "/"): residues by number alone.
        prefix = f"/{chain}" if chain else ""
        assigned = ((f"{prefix}:{row.number}", row.score) for row in profile.residues)
    else:
        mapped = structure if isinstance(structure, MappedStructure) else map_chains(
            profile, structure)
        assigned = ((f"{'/' + part if part else ''}:{residue.label}", residue.reference.score)
                    for part, residue in mapped.residues if residue.reference is not None)
    with open_output(target) as out:
        out.write("".join(line + "\n" for line in header_lines(profile)))
        out.write(f"attribute: {escape_field(attribute)}\nmatch mode: any\nrecipient: residues\n")
        for residues, score in assigned:
            out.write(f"\t{escape_field(residues)}\t{score!r}\n")


def structure_figures(profile, mapped, settings=None):
    """The grade and reliability of each alignment column that a residue of the mapped
    structure is aligned with, as the per-residue table gives them: {column: (grade,
    reliable)}."""
    columns = sorted(mapped.by_column())
    if not columns:
        return {}
    residues = profile.residues
    rows = np.searchsorted(residues.columns, columns).astype(np.int32)
    context = TableContext(profile, residues.columns, settings or ContextSettings())
    figures = {}
    for row, column in zip(rows.tolist(), columns):
        block = context.block(row, row + 1)
        figures[column] = (int(block["grade"][0]), bool(block["reliable"][0]))
    return figures


def write_structure(profile, structure, target, chain=None, missing=UNSCORED,
                    min_identity=MIN_IDENTITY, keep_b_factors=None, settings=None):
    """Write a structure file that holds the scores of the residues of the chains the
    reference matches; return the MappedStructure.

    structure: a PDB or mmCIF file's path (plain or gzip-compressed), or the MappedStructure
    (see map_chains) or StructureMapping (see map_structure) made for this profile. The
    reference is aligned with the residues of chain (a name, "A,B" or a list; None: every
    protein chain at least min_identity percent identical to it; see map_chains, which raises
    InputError for a chain the reference does not match). Residues of those chains that no
    reference residue is aligned with get missing (UNSCORED, -1.0: below every score). The file
    is written in its own format with every other record as it was: other chains, ligands,
    waters, headers, secondary structure, connectivity and atom serials. PDB keeps two decimals
    of a B-factor; mmCIF gets each score in full.
    keep_b_factors: True keeps every B-factor and writes the scores, with each residue's grade
    and reliability (settings: a ContextSettings, as for write_tsv), into the mmCIF category
    _marrowind_residue instead; a PDB file cannot hold them and raises InputError. None: the
    mapping's choice (kept for a predicted model, whose B-factors are pLDDT). Approximate
    scores are said so in the file (see scored_structure). gzip-compressed when target ends in
    ".gz".
    """
    if isinstance(structure, MappedStructure):
        mapped = structure
    else:
        mapped = map_chains(profile, structure, chain, min_identity)
    keep = mapped.keep_b_factors if keep_b_factors is None else keep_b_factors
    scores = profile.scores
    data = scored_structure(mapped, missing, scores.mode_label if scores.approximate else None,
                            keep, structure_figures(profile, mapped, settings) if keep else None)
    if os.fspath(target).endswith(".gz"):
        data = gzip.compress(data, mtime=0)
    with open_output(target, binary=True) as out:
        out.write(data)
    return mapped


# The name of write_structure when it wrote PDB files only.
write_pdb = write_structure

"""Exports of a Profile: a tab-separated table, the scored alignment as the command-line program
writes it, a Jalview annotation file, a ChimeraX attribute file, and a structure (PDB or mmCIF)
whose B-factors hold the scores.

The table and the annotation files write every score in full (Python's shortest exact form),
so reading them back gives the very floats that were computed. Names, residues and other text
from the input go into them through the core's escape_field: a tab, carriage return, line feed
or backslash is written as \\t, \\r, \\n or \\\\, so that every line keeps its fields. Every
file is written through open_output: it ends up complete, or as it was before. The scored
alignment is the scoring core's own writer, reading the sequences where the Alignment holds
them.
"""
import gzip
import os

from . import _core
from ._core import escape_field
from .alignment import RANGE_LABEL, identifier
from .core import core_sequences, dops_label
from .output import core_output, open_output
from .structure import MIN_IDENTITY, UNSCORED, StructureMapping, map_structure, scored_structure

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


def write_tsv(profile, target, per="residue"):
    """Write the profile as tab-separated text after its header_lines.

    Columns: number (the reference's residue number), residue, column (from 1) and score.
    per="residue" writes the reference's residues; per="column" writes every column, with
    number empty and the reference's gap character where it has no residue. A residue that is
    a tab, carriage return, line feed or backslash is written escaped (see escape_field).
    """
    if per not in ("residue", "column"):
        raise ValueError(f"per must be 'residue' or 'column', not {per!r}")
    reference = profile.alignment.sequences[profile.reference]
    # Each character of the reference escaped once, not once per row.
    shown = {residue: escape_field(residue) for residue in set(reference)}
    with open_output(target) as out:
        out.write("\n".join(header_lines(profile)) + "\n")
        out.write("number\tresidue\tcolumn\tscore\n")
        if per == "residue":
            for row in profile.residues:
                out.write(f"{row.number}\t{shown[row.residue]}\t{row.column + 1}\t"
                          f"{row.score!r}\n")
            return
        # The reference's residues come in the order of their columns: walked beside them.
        residues = iter(profile.residues)
        residue = next(residues, None)
        for column, score in enumerate(profile.scores.column_scores):
            number = ""
            if residue is not None and residue.column == column:
                number = residue.number
                residue = next(residues, None)
            out.write(f"{number}\t{shown[reference[column]]}\t{column + 1}\t{float(score)!r}\n")


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
    e.g. "A", restricts it to that chain. With structure, a StructureMapping (see
    map_structure), the residues of its chain aligned with the reference, named as the
    structure numbers them, insertion codes included ("/A:52A"; ":52A" for a chain whose ID is
    blank).
    """
    # Made as they are written: the residues of a long reference are never held as text.
    if structure is None:
        numbered = ((row.number, row.score) for row in profile.residues)
    else:
        chain = structure.chain
        numbered = ((residue.label, residue.reference.score)
                    for residue in structure.residues if residue.reference is not None)
    # No chain, or a blank chain ID (which cannot follow "/"): residues by number alone.
    prefix = f"/{chain}" if chain else ""
    assigned = ((f"{prefix}:{number}", score) for number, score in numbered)
    with open_output(target) as out:
        out.write("".join(line + "\n" for line in header_lines(profile)))
        out.write(f"attribute: {escape_field(attribute)}\nmatch mode: any\nrecipient: residues\n")
        for residues, score in assigned:
            out.write(f"\t{escape_field(residues)}\t{score!r}\n")


def write_structure(profile, structure, target, chain=None, missing=UNSCORED,
                    min_identity=MIN_IDENTITY):
    """Write a structure file in which every atom of a chain's residues has its residue's
    score as its B-factor; return the StructureMapping.

    structure: a PDB or mmCIF file's path (plain or gzip-compressed), or the StructureMapping
    that map_structure gave for this profile. The reference is aligned with the chain's
    residues (see map_structure, which raises InputError for a chain the reference does not
    match); residues of the chain that no reference residue is aligned with get missing
    (UNSCORED, -1.0: below every score). The file is written in its own format with every other
    record as it was: other chains, ligands, waters, headers, secondary structure, connectivity
    and atom serials. PDB keeps two decimals of a B-factor; mmCIF gets each score in full.
    Approximate scores are said so in the file (see scored_structure). gzip-compressed when
    target ends in ".gz".
    """
    mapping = structure if isinstance(structure, StructureMapping) else \
        map_structure(profile, structure, chain, min_identity)
    scores = profile.scores
    data = scored_structure(mapping, missing, scores.mode_label if scores.approximate else None)
    if os.fspath(target).endswith(".gz"):
        data = gzip.compress(data, mtime=0)
    with open_output(target, binary=True) as out:
        out.write(data)
    return mapping


# The name of write_structure when it wrote PDB files only.
write_pdb = write_structure

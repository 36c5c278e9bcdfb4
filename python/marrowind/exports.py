"""Exports of a Profile: a tab-separated table, the scored alignment as the command-line program
writes it, a Jalview annotation file, a ChimeraX attribute file, and a PDB file whose B-factors
hold the scores.

The table and the annotation files write every score in full (Python's shortest exact form),
so reading them back gives the very floats that were computed. Every file is written through
open_output: it ends up complete, or as it was before.
"""
import os
from typing import NamedTuple

import numpy as np

from . import _core
from ._core import InputError
from .alignment import identifier
from .core import format_dops, format_score
from .output import open_output

DIRECTION = "score: 0 to 1, higher is more conserved"
# Between a column's score and its residues in the scored alignment.
SCORED_SEPARATOR = " " * 11 + "#" + " " * 14
# Each byte as the scoring reads it: "." as "-", a-z as A-Z (toupper in the C locale), every
# other byte as it is.
_AS_SCORED = np.arange(256, dtype=np.uint8)
_AS_SCORED[ord("a"):ord("z") + 1] -= ord("a") - ord("A")
_AS_SCORED[ord(".")] = ord("-")


def header_lines(profile):
    """Return the "#" lines that describe a profile: input, format, matrix, sizes, reference,
    DOPS score and the direction of the scores."""
    alignment = profile.alignment
    return [
        "# marrowind conservation scores",
        f"# input: {alignment.source}",
        f"# format: {alignment.format}",
        f"# matrix: {profile.matrix}",
        f"# sequences: {len(alignment)}",
        f"# columns: {alignment.length}",
        f"# reference: {profile.reference_name}",
        f"# DOPS score: {format_dops(profile.scores.dops).strip()}",
        f"# {DIRECTION}; columns are numbered from 1",
    ]


def write_tsv(profile, target, per="residue"):
    """Write the profile as tab-separated text after its header_lines.

    Columns: number (the reference's residue number), residue, column (from 1) and score.
    per="residue" writes the reference's residues; per="column" writes every column, with
    number empty and the reference's gap character where it has no residue.
    """
    if per not in ("residue", "column"):
        raise ValueError(f"per must be 'residue' or 'column', not {per!r}")
    with open_output(target) as out:
        out.write("\n".join(header_lines(profile)) + "\n")
        out.write("number\tresidue\tcolumn\tscore\n")
        if per == "residue":
            for row in profile.residues:
                out.write(f"{row.number}\t{row.residue}\t{row.column + 1}\t{row.score!r}\n")
            return
        numbered = {row.column: row for row in profile.residues}
        reference = profile.alignment.sequences[profile.reference]
        for column, score in enumerate(profile.scores.column_scores):
            row = numbered.get(column)
            number = "" if row is None else row.number
            out.write(f"{number}\t{reference[column]}\t{column + 1}\t{float(score)!r}\n")


def write_scored_alignment(profile, target):
    """Write the scored alignment byte for byte as the command-line program writes it to its
    --output file: one line per column, in order, of the column's score as format_score gives
    it, eleven spaces, "#", fourteen spaces and the column's residue of every sequence in input
    order, as the scoring reads them ("." as "-", a-z as A-Z, every other byte unchanged). The
    DOPS score is not part of it.
    """
    # One transposed copy of the byte matrix turns each column into a row of contiguous bytes.
    columns = np.ascontiguousarray(_AS_SCORED[profile.residue_bytes()].T)
    with open_output(target, binary=True) as out:
        for score, residues in zip(profile.scores.column_scores, columns):
            out.write(f"{format_score(score)}{SCORED_SEPARATOR}".encode()
                      + residues.tobytes() + b"\n")


def write_jalview(profile, target, label="Conservation"):
    """Write a Jalview annotation file: one BAR_GRAPH row of the column scores, one value per
    alignment column, tied with SEQUENCE_REF to the reference's identifier (the first word
    of its name, as Jalview names sequences)."""
    values = "|".join(repr(float(score)) for score in profile.scores.column_scores)
    description = f"marrowind column scores ({profile.matrix}); higher is more conserved"
    with open_output(target) as out:
        out.write("JALVIEW_ANNOTATION\n")
        out.write("".join(line + "\n" for line in header_lines(profile)))
        out.write(f"SEQUENCE_REF\t{identifier(profile.reference_name)}\n")
        out.write(f"BAR_GRAPH\t{label}\t{description}\t{values}\n")


def write_chimerax(profile, target, chain=None, attribute="conservation"):
    """Write a ChimeraX attribute file (open it with "open FILE format defattr") that gives
    each residue of the reference, by residue number, its score; chain, e.g. "A", restricts
    it to that chain."""
    prefix = f"/{chain}" if chain else ""
    with open_output(target) as out:
        out.write("".join(line + "\n" for line in header_lines(profile)))
        out.write(f"attribute: {attribute}\nmatch mode: any\nrecipient: residues\n")
        for row in profile.residues:
            out.write(f"\t{prefix}:{row.number}\t{row.score!r}\n")


class _KeptOpen:
    """A stream for a writer that closes what it is given, as Biopython's PDBIO does: writes go
    through, and the closing is left to open_output, which syncs the file first."""

    def __init__(self, stream):
        self.write = stream.write

    def __enter__(self):
        return self

    def __exit__(self, *exception):
        return False


class PdbMapping(NamedTuple):
    """How the reference's residues met a chain: residues given a score, residues of the chain
    without one, and (number, letter in the structure, letter in the alignment) for residues
    whose amino acids differ."""

    scored: int
    unscored: int
    mismatched: list


def _row_of(residue, by_number):
    """The table row for a structure's residue: same number, no insertion code, not water."""
    hetero, number, insertion = residue.id
    return by_number.get(number) if insertion == " " and hetero != "W" else None


def write_pdb(profile, structure, target, chain, missing=0.0):
    """Write a PDB file in which every atom of chain's residues has its residue's score as
    its B-factor, matched by residue number; residues the reference lacks get `missing`.
    Other chains are written unchanged. Returns a PdbMapping.

    structure: a PDB file's path. The PDB format keeps two decimals of a B-factor.
    """
    from Bio.Data.IUPACData import protein_letters_3to1_extended
    from Bio.PDB import PDBIO, PDBParser

    try:
        model_set = PDBParser(QUIET=True).get_structure("structure", os.fspath(structure))
    except OSError as error:
        raise InputError(_core.cannot_open_message(os.fspath(structure))) from error
    except Exception as error:  # Biopython raises a variety of errors on malformed files
        raise InputError(f"{structure}: not a valid PDB file ({error})") from error
    chains = [model[chain] for model in model_set if chain in model]
    if not chains:
        raise InputError(f"{structure}: there is no chain {chain!r}")

    by_number = {row.number: row for row in profile.residues}
    scored = unscored = 0
    mismatched = []
    for residue in chains[0]:
        row = _row_of(residue, by_number)
        if row is None:
            unscored += 1
            continue
        scored += 1
        letter = protein_letters_3to1_extended.get(residue.get_resname().capitalize(), "X")
        if letter != row.residue.upper():
            mismatched.append((row.number, letter, row.residue))
    for chain_record in chains:
        for residue in chain_record:
            row = _row_of(residue, by_number)
            for atom in residue:
                atom.set_bfactor(missing if row is None else row.score)

    writer = PDBIO()
    writer.set_structure(model_set)
    with open_output(target) as out:
        writer.save(_KeptOpen(out))
    return PdbMapping(scored, unscored, mismatched)

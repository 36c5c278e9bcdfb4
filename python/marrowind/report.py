"""The HTML report of a Profile: one self-contained page that shows the conservation profile, the
alignment coloured by its column scores and, given a structure, the structure coloured the same
way, all linked by one selected column.

The page needs no network: its script (assets/report.js, bundled from web/ with the libraries it
uses) and its data (a JSON document in a script element) are written into the file itself. The
data holds each sequence as one string, so a report grows by about one byte per residue of the
alignment it shows. A browser opens 20000 sequences of 1000 columns (21 MB) in a couple of
seconds; a page of a million sequences would not open, so the alignment view holds at most
MAX_SEQUENCES of them, while the scores, the profile and the table always come from all.
"""
import html
import io
import json
import os
from string import Template

from . import __version__
import numpy as np

from .context import ContextSettings, TableContext
from .core import format_dops
from .exports import DIRECTION, write_tsv
from .output import open_output
from .resources import asset_text
from .structure import MIN_IDENTITY, MappedStructure, map_chains, residue_fields

DOPS_EXPLANATION = (
    "DOPS tells how varied the column scores are: the entropy of their spread over their "
    "distinct values, as a percentage of the largest possible, so that near 100 the alignment "
    "tells conserved and variable positions finely apart and near 0 its columns all score "
    "alike.")
# What the page says of an alignment without columns, where the profile would be.
NO_COLUMNS = "The alignment has no columns: there are no scores to show."
# The most sequences the alignment view holds: the reference and the first others in order.
MAX_SEQUENCES = 20000
# 3Dmol.js names the formats it reads.
VIEWER_FORMATS = {"pdb": "pdb", "mmcif": "cif"}


def _script_safe_json(value):
    """JSON for a script element: ASCII only, and every "<" escaped, so that no text in it (a
    sequence name holding "</script>", say) can end the element or open a comment."""
    return json.dumps(value, separators=(",", ":")).replace("<", "\\u003c")


def _numbering(profile):
    """How the reference's residues are numbered, in words."""
    residues = profile.residues
    if not residues:
        return "no residues"
    start = profile.alignment.starts[profile.reference]
    source = "from its name's /start-end" if start else "from 1"
    return f"{residues[0].number} to {residues[-1].number}, {source}"


def _tsv_name(profile):
    """The downloaded table's file name: the input's up to its first dot, with .tsv."""
    source = os.path.basename(profile.alignment.source)
    stem = source.split(".")[0] if source and not source.startswith(("<", "-")) else "scores"
    return f"{stem or 'scores'}.tsv"


def shown_sequences(profile, most=MAX_SEQUENCES):
    """The indices of the sequences the alignment view shows, in order: all of them, or the
    reference and the first most - 1 others."""
    count = len(profile.alignment)
    if count <= most:
        return range(count)
    others = [index for index in range(most) if index != profile.reference][:most - 1]
    return sorted(others + [profile.reference])


def _structure_data(mapping):
    """The structure as the page draws it: its text, the scored chains, the names of their
    polymer's residues, and each residue as [chain, number, insertion code, column (-1 for
    none), B-factor]; predicted says that the B-factors are pLDDT."""
    return {
        "format": VIEWER_FORMATS[mapping.file.format],
        "text": mapping.file.text,
        # 3Dmol.js reads a PDB file's blank chain ID as a space.
        "chains": [chain or " " for chain in mapping.chain_ids],
        # Residue names of the chains' polymer: modified residues (MSE) are HETATM records but
        # belong in the cartoon, not among the ligands.
        "polymerNames": sorted({residue.name for _, residue in mapping.residues}),
        "residues": [[chain or " ", residue.number, residue.insertion,
                      -1 if residue.reference is None else residue.reference.column,
                      residue.b_factor] for chain, residue in mapping.residues],
        "predicted": bool(mapping.predicted),
    }


def _residue_names(mapping):
    """How the tooltips name the structure's residues aligned with each column: the
    structure's numbers and, where the file gives them, UniProt's, by column."""
    uniprot = any(residue.uniprot_accession for _, residue in mapping.residues)
    names = {}
    for column, found in mapping.by_column().items():
        fields = residue_fields(found, uniprot, False)
        chains = ", ".join(chain or "(blank ID)" for chain, _ in found)
        lines = [f"structure {'chains' if len(found) > 1 else 'chain'} {chains}: residue "
                 f"{fields[0]}"]
        if uniprot and fields[1]:
            lines.append(f"UniProt {fields[1]} {fields[2]}")
        names[str(column)] = lines
    return names


def _context_data(profile, settings):
    """The column context the page shows: per column its residues, gap fraction, weighted
    occupancy and reliability; per reference residue z, grade and (with a window) the smoothed
    score, as the per-residue table gives them."""
    every = TableContext(profile, None, settings).arrays()
    residues = TableContext(profile, profile.residues.columns, settings).arrays()

    def floats(values):
        return [None if value != value else value for value in values.tolist()]

    return {
        "residues": every["residues"].tolist(),
        "gaps": every["gap_fraction"].tolist(),
        "occupancy": every["weighted_occupancy"].tolist(),
        "reliable": every["reliable"].astype(np.int8).tolist(),
        "minResidues": settings.min_residues,
        "maxGapFraction": settings.max_gap_fraction,
        "z": floats(residues["z"]),
        "grade": residues["grade"].tolist(),
        "smoothed": floats(residues["smoothed"]) if settings.window else None,
        "window": settings.window,
    }


def report_data(profile, mapping=None, most=MAX_SEQUENCES, settings=None):
    """Return the data the page draws: the sequences it shows (see shown_sequences), the
    scores, the column context (see _context_data), a complex's chains, the reference's
    residues, the per-residue table as write_tsv writes it and, given a MappedStructure, the
    structure (see _structure_data) and how its residues are numbered."""
    settings = settings or ContextSettings()
    alignment = profile.alignment
    shown = shown_sequences(profile, most)
    table = io.StringIO()
    write_tsv(profile, table, settings=settings, structure=mapping)
    context = _context_data(profile, settings)
    return {
        "referenceName": profile.reference_name,
        "reference": shown.index(profile.reference),
        "sequenceCount": len(alignment),
        "names": [alignment.names[index] for index in shown],
        "rows": [alignment.sequences[index] for index in shown],
        "scores": [float(score) for score in profile.scores.column_scores],
        "gaps": context.pop("gaps"),
        "context": context,
        "chains": [{"first": chain.first_column, "length": chain.length,
                    "ids": chain.chain_ids} for chain in alignment.chains],
        "residues": {"numbers": [row.number for row in profile.residues],
                     "letters": "".join(row.residue for row in profile.residues),
                     "columns": [row.column for row in profile.residues]},
        "tsv": table.getvalue(),
        "tsvName": _tsv_name(profile),
        "structure": None if mapping is None else _structure_data(mapping),
        "residueNames": {} if mapping is None else _residue_names(mapping),
    }


def render_report(profile, mapping=None, most=MAX_SEQUENCES, settings=None):
    """Return the report's HTML text for a Profile and, optionally, a MappedStructure (or a
    StructureMapping); the alignment view holds at most `most` sequences; settings: the
    ContextSettings of the column context (as write_tsv takes them)."""
    if mapping is not None and not isinstance(mapping, MappedStructure):
        mapping = map_chains(profile, mapping)
    alignment = profile.alignment
    approximate = profile.scores.approximate
    mode = f", {profile.scores.mode_label}" if approximate else ""
    shown = len(shown_sequences(profile, most))
    rows_note = (f" It shows the reference and the first {shown - 1:,} other sequences of "
                 f"{len(alignment):,}; the scores, the profile and the table come from all of "
                 f"them." if shown < len(alignment) else "")
    facts = [
        ("input", alignment.source), ("format", alignment.format), ("matrix", profile.matrix),
        ("sequences", f"{len(alignment):,}"), ("columns", f"{alignment.length:,}"),
        ("reference", profile.reference_name), ("reference numbering", _numbering(profile)),
        ("scores", DIRECTION.split(": ", 1)[1] + mode),
    ]
    heading = f"{profile.reference_name} in {os.path.basename(alignment.source)}"
    title = f"{heading}: conservation" + (" (approximate scores)" if approximate else "")
    fields = {
        "version": __version__,
        "title": html.escape(title),
        "heading": html.escape(heading),
        "approximate_badge": '<span class="approximate">approximate scores</span>'
                             if approximate else "",
        "facts": "\n".join(f"    <div><dt>{html.escape(name)}</dt><dd>{html.escape(value)}</dd>"
                           f"</div>" for name, value in facts),
        "dops": html.escape(format_dops(profile.scores.dops).strip()),
        "dops_explanation": html.escape(DOPS_EXPLANATION),
        "reference_name": html.escape(profile.reference_name),
        "no_columns": "" if alignment.length else
                      f'  <p class="empty">{html.escape(NO_COLUMNS)}</p>',
        "structure_hidden": "" if mapping else " hidden",
        "structure_caption": html.escape(" ".join(mapping.summary_lines())) if mapping else "",
        "plddt_hidden": "" if mapping is not None and mapping.predicted else " hidden",
        "smoothed_legend": "" if settings is None or not settings.window else
                           f'<span class="legend"><span class="swatch" style="background:'
                           f'#e8175d;height:2px;width:18px"></span> smoothed over '
                           f'{settings.window} residues</span>',
        "tsv_name": html.escape(_tsv_name(profile)),
        "rows_note": html.escape(rows_note),
        "data": _script_safe_json(report_data(profile, mapping, most, settings)),
        "script": asset_text("report.js"),
    }
    return Template(asset_text("report.html")).substitute(fields)


def write_report(profile, target, structure=None, chain=None, min_identity=MIN_IDENTITY,
                 most=MAX_SEQUENCES, settings=None):
    """Write the HTML report of a Profile to target (a path, "-" or an open text stream).

    most: the most sequences the alignment view holds (the reference and the first others);
    the scores, the profile and the table always come from every sequence. settings: the
    ContextSettings of the column context and the table (as write_tsv takes them).

    structure: a PDB or mmCIF file's path, or the MappedStructure (see map_chains) or
    StructureMapping (see map_structure) made for this profile; the chains (chain: a name, a
    list or "A,B"; None for every chain the reference matches at min_identity) are shown
    coloured by score, and a predicted model's pLDDT beside the scores. Returns the
    MappedStructure, or None without a structure.
    """
    mapping = structure
    if structure is not None and not isinstance(structure, MappedStructure):
        mapping = map_chains(profile, structure, chain, min_identity)
    page = render_report(profile, mapping, most, settings)
    with open_output(target) as out:
        out.write(page)
    return mapping

"""Scores on a structure: PDB and mmCIF files (plain or gzip-compressed) read with gemmi, the
reference sequence aligned with one chain's residues, and the file's text with only the
B-factors of that chain's residues changed.

Authors number a structure's residues as they please: rarely from 1, with insertion codes, with
gaps where loops could not be modelled and with tags the protein does not have. So residue
numbers are not trusted: a pairwise alignment of the reference's residues with the chain's
(Biopython's PairwiseAligner, BLOSUM62, free end gaps) tells which residue is which, reading each
residue's one-letter code from gemmi's table (selenomethionine MSE as M, phosphoserine SEP as
S, and so on). Nor are TER records: which residues form the chain's polymer, and which are
waters and ligands, is told from what the residues are and how they are bonded.

Every other record of the file is kept as it was: a PDB file changes only in columns 61-66 of
the scored chain's ATOM and HETATM lines; an mmCIF file only in those atoms'
_atom_site.B_iso_or_equiv values (gemmi writes the document out again, with every block, item
and loop in it). Approximate scores add the mark that says so (see scored_structure).
"""
import os
from dataclasses import dataclass
from typing import NamedTuple, Optional

from . import _core
from ._core import InputError

GZIP_MAGIC = b"\x1f\x8b"
# Two unrelated chains, and distant homologues too, align with up to 25-30 % of the shorter
# sequence identical by chance; above 40 % the residues that the alignment pairs are almost
# always the same positions of the same fold.
MIN_IDENTITY = 40.0
# The B-factor of a residue of the chain that no residue of the reference is aligned with:
# below every score (0 to 1), so that "no score" stays apart from "least conserved".
UNSCORED = -1.0
FORMAT_NAMES = {"pdb": "PDB", "mmcif": "mmCIF"}


@dataclass
class StructureFile:
    """A structure file as read: its path, its format ("pdb" or "mmcif"), its text (gzip
    undone; PDB bytes as Latin-1, so that each byte is written back as it was) and gemmi's
    parse of that text (a gemmi.Structure, entities set up)."""

    source: str
    format: str
    text: str
    structure: object


class MappedResidue(NamedTuple):
    """A residue of the chain: its number and insertion code ("" for none) as the file gives
    them, its name, its one-letter code, and the reference's residue aligned with it (a
    profile's Residue, or None)."""

    number: int
    insertion: str
    name: str
    letter: str
    reference: Optional[object]

    @property
    def label(self):
        """The residue as viewers name it: number and insertion code, e.g. "52A"."""
        return f"{self.number}{self.insertion}"


@dataclass
class StructureMapping:
    """How a profile's reference met a chain of a structure.

    residues: the chain's polymer residues in the first model, in order, as MappedResidue.
    identity: identical residue pairs, as a percentage of the shorter of the two sequences
    (the reference's residues, the chain's modelled residues). coverage: the percentage of the
    reference's residues aligned with a residue of the chain.
    """

    file: StructureFile
    chain: str
    reference: str
    residues: list
    identity: float
    coverage: float

    @property
    def source(self):
        return self.file.source

    @property
    def scored(self):
        """The number of the chain's residues that receive a score."""
        return sum(residue.reference is not None for residue in self.residues)

    @property
    def unscored(self):
        """The number of the chain's residues that no reference residue is aligned with."""
        return len(self.residues) - self.scored

    def summary(self):
        """One line on how well the reference matched the chain."""
        return (f"{self.source} {chain_label(self.chain)}: {self.identity:.1f}% identical to "
                f"{self.reference}, {self.coverage:.1f}% of its residues aligned; "
                f"{self.scored} residues scored, {self.unscored} without a score")


def chain_label(chain):
    """How messages name a chain: "chain A", or "chain (blank ID)" for a chain whose ID is
    blank, as in PDB files of a single chain."""
    return f"chain {chain}" if chain else "chain (blank ID)"


def chain_list(chains):
    """Chain IDs as messages list them: "A, B", a blank one as "(blank ID)"."""
    return ", ".join(chain or "(blank ID)" for chain in chains)


def _read_text(path):
    """Return the text of the file at path, decompressed by the scoring core when it is gzip
    data (as the program reads it). Raises InputError when it cannot be opened, or its gzip
    data is damaged or cut short."""
    try:
        with open(path, "rb") as handle:
            data = handle.read()
    except OSError as error:
        raise InputError(_core.cannot_open_message(path)) from error
    return _core.gunzip(data, path) if data.startswith(GZIP_MAGIC) else data


def read_structure(path):
    """Read a PDB or mmCIF file (told apart by its content; plain or gzip-compressed) with
    gemmi; return a StructureFile. Raises InputError for a file that cannot be opened or read,
    or that gemmi cannot parse or finds no atoms in."""
    import gemmi

    source = os.fspath(path)
    data = _read_text(source)
    format = "mmcif" if _starts_with_a_data_block(data) else "pdb"
    try:
        if format == "mmcif":
            text = data.decode("utf-8")
            structure = gemmi.make_structure_from_block(gemmi.cif.read_string(text)[0])
        else:
            text = data.decode("latin-1")
            structure = gemmi.read_pdb_string(text)
    except (UnicodeDecodeError, RuntimeError, ValueError) as error:
        raise InputError(f"{source}: not a valid {FORMAT_NAMES[format]} file ({error})") from error
    if not any(len(residue) for model in structure for chain in model for residue in chain):
        raise InputError(f"{source}: no atoms")
    _classify_residues(structure, keep_known=format == "mmcif")
    structure.setup_entities()
    return StructureFile(source, format, text, structure)


def _classify_residues(structure, keep_known):
    """Mark every residue as polymer, water or ligand by what it is, then have gemmi set up the
    chains' subchains and entities from those marks.

    A PDB file says which residues form the polymer only by where its TER records stand, and
    files put them anywhere: after the waters (which would make every water a residue of the
    chain) or nowhere (which leaves no polymer at all). So a residue counts as polymer when it
    is an amino acid or a nucleotide in gemmi's table written as ATOM, or when it is bonded to
    the residue before or after it as a polymer's residues are: a modified residue (MSE), a cap
    (ACE, NH2) or a residue gemmi does not know, all HETATM, belong to the chain they are linked
    into, while a lone amino acid written as HETATM is a ligand. An mmCIF file names each
    residue's entity itself (keep_known): only the residues it leaves unknown are classified."""
    import gemmi

    for model in structure:
        for chain in model:
            residues = list(chain)
            for index, residue in enumerate(residues):
                if keep_known and residue.entity_type != gemmi.EntityType.Unknown:
                    continue
                if residue.is_water():
                    residue.entity_type = gemmi.EntityType.Water
                elif _is_polymer_residue(residues, index):
                    residue.entity_type = gemmi.EntityType.Polymer
                else:
                    residue.entity_type = gemmi.EntityType.NonPolymer
                residue.subchain = ""  # gemmi assigns it anew, from the entity type
    # Only the chains with residues just classified; an mmCIF file's own subchains stay.
    structure.assign_subchains(False)


# The bonds that link a residue to the next in a polymer, as (atom of the first, atom of the
# next): the peptide bond C-N (1.33 A) and the phosphodiester bond O3'-P (1.6 A).
POLYMER_LINKS = (("C", "N"), ("O3'", "P"))
# The longest such bond that still counts as one: well above either length, and well below
# the contacts of atoms that are not bonded (2.5 A and more; a hydrogen bond's N-O is 2.9 A).
LINK_DISTANCE = 2.0


def _is_polymer_residue(residues, index):
    """Whether residues[index] is a residue of its chain's polymer (see _classify_residues)."""
    import gemmi

    residue = residues[index]
    info = gemmi.find_tabulated_residue(residue.name)
    if residue.het_flag != "H" and info is not None and (info.is_amino_acid()
                                                          or info.is_nucleic_acid()):
        return True
    return (index > 0 and _linked(residues[index - 1], residue)) or \
        (index + 1 < len(residues) and _linked(residue, residues[index + 1]))


def _linked(before, after):
    """Whether two residues are bonded as consecutive residues of a polymer are."""
    for first, then in POLYMER_LINKS:
        tail, head = before.find_atom(first, "*"), after.find_atom(then, "*")
        if tail is not None and head is not None and tail.pos.dist(head.pos) <= LINK_DISTANCE:
            return True
    return False


def _starts_with_a_data_block(data):
    """Whether the first line that is neither blank nor a comment opens a CIF data block."""
    for line in data.splitlines():
        line = line.strip()
        if line and not line.startswith(b"#"):
            return line[:5].lower() == b"data_"
    return False


def one_letter_code(name):
    """The one-letter code of a residue name as gemmi tabulates it, modified residues as their
    parent (MSE as M); X for a name it does not know or that has no code."""
    import gemmi

    info = gemmi.find_tabulated_residue(name)
    code = info.one_letter_code.upper() if info else " "
    return "X" if code == " " else code


def _is_polymer(residue):
    import gemmi

    return residue.entity_type == gemmi.EntityType.Polymer


def _polymer_residues(model, chain):
    """The polymer residues of every part of a model's chain (a PDB file may list a chain's
    waters apart from its residues), in file order."""
    return [residue for part in model if part.name == chain for residue in part
            if _is_polymer(residue)]


def _only_protein_chain(file):
    """The one chain of the first model whose polymer holds amino acids; InputError if there
    are more or none."""
    import gemmi

    def amino_acid(residue):
        info = gemmi.find_tabulated_residue(residue.name)
        return info is not None and info.is_amino_acid()

    chains = []
    for part in file.structure[0]:
        if part.name not in chains and any(_is_polymer(residue) and amino_acid(residue)
                                           for residue in part):
            chains.append(part.name)
    if len(chains) != 1:
        problem = (f"more than one protein chain ({chain_list(chains)})" if chains
                   else "no protein chain")
        raise InputError(f"{file.source}: {problem}; name the chain to score")
    return chains[0]


def _aligned_pairs(first, second):
    """The (i, j) index pairs that a global alignment with free end gaps pairs between two
    sequences of one-letter codes (BLOSUM62, gaps opened at -10 and extended at -0.5)."""
    from Bio.Align import PairwiseAligner, substitution_matrices

    matrix = substitution_matrices.load("BLOSUM62")
    aligner = PairwiseAligner(mode="global", substitution_matrix=matrix, open_gap_score=-10.0,
                              extend_gap_score=-0.5, target_end_gap_score=0.0,
                              query_end_gap_score=0.0)
    known = set(matrix.alphabet)
    first, second = ("".join(c if c in known else "X" for c in s) for s in (first, second))
    if not first or not second:
        return []
    target_blocks, query_blocks = aligner.align(first, second)[0].aligned
    return [(i, j) for (t_start, t_end), (q_start, _) in zip(target_blocks, query_blocks)
            for i, j in zip(range(t_start, t_end), range(q_start, q_start + t_end - t_start))]


def map_structure(profile, structure, chain=None, min_identity=MIN_IDENTITY):
    """Align a profile's reference with a chain of a structure; return a StructureMapping.

    structure: a path (see read_structure) or a StructureFile. chain: the chain's name (the
    author's chain ID); None for the structure's only protein chain. Raises InputError when
    there is no such chain, and when less than min_identity percent of the shorter sequence is
    identical: scores on a chain that the reference does not match would sit on the wrong
    residues.
    """
    file = structure if isinstance(structure, StructureFile) else read_structure(structure)
    model = file.structure[0]
    # A blank chain ID is read as "", however it was typed.
    chain = _only_protein_chain(file) if chain is None else chain.strip()
    residues = _polymer_residues(model, chain)
    if not residues:
        names = sorted({part.name for part in model})
        if chain in names:
            raise InputError(f"{file.source}: {chain_label(chain)} has no polymer residues")
        raise InputError(f"{file.source}: chain {chain!r} does not exist "
                         f"(chains: {chain_list(names)})")

    letters = [one_letter_code(residue.name) for residue in residues]
    reference = [row.residue.upper() for row in profile.residues]
    pairs = _aligned_pairs("".join(reference), "".join(letters))
    aligned = {j: profile.residues[i] for i, j in pairs}
    identical = sum(reference[i] == letters[j] != "X" for i, j in pairs)
    shorter = min(len(reference), len(letters))
    identity = 100.0 * identical / shorter if shorter else 0.0
    coverage = 100.0 * len(pairs) / len(reference) if reference else 0.0
    if identity < min_identity:
        raise InputError(
            f"{file.source}: {chain_label(chain)} is {identity:.1f}% identical to "
            f"{profile.reference_name}, below the {min_identity:g}% needed to map scores onto "
            f"it (lower the minimum identity to accept it)")
    mapped = [MappedResidue(residue.seqid.num, residue.seqid.icode.strip(), residue.name,
                            letter, aligned.get(j))
              for j, (residue, letter) in enumerate(zip(residues, letters))]
    return StructureMapping(file, chain, profile.reference_name, mapped, identity, coverage)


def scored_structure(mapping, missing=UNSCORED, approximate=None):
    """Return the bytes of the mapped structure file with the B-factor of every atom of the
    chain's polymer residues, in every model, set to its residue's score, or to missing where
    no reference residue is aligned with it. Other atoms and every other record are kept.

    approximate: for approximate scores, how they were drawn ("approximate (sample M, seed S)",
    ConservationScores.mode_label), which the file then says: in two REMARK records after the
    header's (PDB), or in the items _marrowind.chain and _marrowind.scores (mmCIF), so that
    nobody takes its B-factors for exact scores."""
    scores = {(residue.number, residue.insertion): residue.reference.score
              for residue in mapping.residues if residue.reference is not None}
    values = []  # per atom in gemmi's (the file's) order: its new B-factor, or None
    for model in mapping.file.structure:
        for part in model:
            for residue in part:
                value = None
                if part.name == mapping.chain and _is_polymer(residue):
                    value = scores.get((residue.seqid.num, residue.seqid.icode.strip()), missing)
                values.extend((atom, value) for atom in residue)
    if mapping.file.format == "pdb":
        remarks = [] if approximate is None else [
            f"marrowind conservation scores in the B-factors of {chain_label(mapping.chain)}",
            f"scores: {approximate}"]
        return _pdb_with_b_factors(mapping.file, values, remarks).encode("latin-1")
    items = {} if approximate is None else {"chain": mapping.chain, "scores": approximate}
    return _mmcif_with_b_factors(mapping.file, values, items).encode("utf-8")


def _unmatched(file):
    return InputError(f"{file.source}: the atom records do not follow the order in which gemmi "
                      f"read them")


def _check_atom(file, atom, name, serial):
    """Raise InputError unless the record with this atom name and serial (text) is gemmi's
    atom: the B-factors must go to the atoms that were scored."""
    serial = serial.strip()
    if atom.name != name or (serial.isdigit() and int(serial) != atom.serial):
        raise _unmatched(file)


# The records of a PDB file's title section, which REMARK records close.
TITLE_RECORDS = ("HEADER", "OBSLTE", "TITLE ", "SPLIT ", "CAVEAT", "COMPND", "SOURCE",
                 "KEYWDS", "EXPDTA", "NUMMDL", "MDLTYP", "AUTHOR", "REVDAT", "SPRSDE", "JRNL  ",
                 "REMARK")


def _pdb_with_b_factors(file, values, remarks=()):
    """The PDB text with the B-factor columns (61-66, two decimals) of ATOM and HETATM records
    replaced where values say so, and the lines of remarks added as REMARK records (their text
    from column 12, the number left blank) after the title section; every other byte as it
    was. Like gemmi, the records after END are not atoms of the structure."""
    lines = file.text.split("\n")
    atoms = iter(values)
    for index, line in enumerate(lines):
        record = line[:4].upper()
        if record[:3] == "END" and line[3:4] in ("", " ", "\t", "\r"):
            break
        if record not in ("ATOM", "HETA"):
            continue
        atom, value = next(atoms, (None, None))
        if atom is None:
            raise _unmatched(file)
        _check_atom(file, atom, line[12:16].strip(), line[6:11])
        if value is not None:
            body = line.rstrip("\r")
            lines[index] = f"{body[:60]:<60}{value:6.2f}{body[66:]}{line[len(body):]}"
    if next(atoms, None) is not None:
        raise _unmatched(file)
    if remarks:
        after = next((index for index, line in enumerate(lines)
                      if f"{line[:6]:<6}".upper() not in TITLE_RECORDS), len(lines))
        ending = "\r" if lines[min(after, len(lines) - 1)].endswith("\r") else ""
        lines[after:after] = [f"{'REMARK':<11}{remark:<69}{ending}" for remark in remarks]
    return "\n".join(lines)


def _mmcif_with_b_factors(file, values, items=None):
    """The mmCIF document with _atom_site.B_iso_or_equiv replaced where values say so, each
    score in full (Python's shortest exact form), and the category _marrowind given the items
    (name: text), written out again by gemmi."""
    import gemmi

    document = gemmi.cif.read_string(file.text)
    block = document[0]
    b_factors = block.find_values("_atom_site.B_iso_or_equiv")
    if not b_factors:
        raise InputError(f"{file.source}: no _atom_site.B_iso_or_equiv to hold the scores")
    names = block.find_values("_atom_site.auth_atom_id") or \
        block.find_values("_atom_site.label_atom_id")
    serials = block.find_values("_atom_site.id")
    if len(b_factors) != len(values):
        raise _unmatched(file)
    for row, (atom, value) in enumerate(values):
        _check_atom(file, atom, gemmi.cif.as_string(names[row]),
                    gemmi.cif.as_string(serials[row]) if serials else "")
        if value is not None:
            b_factors[row] = repr(float(value))
    for name, text in (items or {}).items():
        block.set_pair(f"_marrowind.{name}", gemmi.cif.quote(text))
    return document.as_string(gemmi.cif.Style.Pdbx)

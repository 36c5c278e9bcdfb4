"""Scores on a structure: PDB and mmCIF files (plain or gzip-compressed) read with gemmi, the
reference sequence aligned with the residues of one chain or of every chain it matches (so that
an oligomer of copies is scored whole), and the file's text with only the B-factors of those
chains' residues changed, or with its B-factors kept and the scores in a category of their own.

Authors number a structure's residues as they please: rarely from 1, with insertion codes, with
gaps where loops could not be modelled and with tags the protein does not have. So residue
numbers are not trusted: a pairwise alignment of the reference's residues with the chain's
(Biopython's PairwiseAligner, BLOSUM62, free end gaps) tells which residue is which, reading each
residue's one-letter code from gemmi's table (selenomethionine MSE as M, phosphoserine SEP as
S, and so on). Nor are TER records: which residues form the chain's polymer, and which are
waters and ligands, is told from what the residues are and how they are bonded.

Every other record of the file is kept as it was: a PDB file changes only in columns 61-66 of
the scored chains' ATOM and HETATM lines; an mmCIF file only in those atoms'
_atom_site.B_iso_or_equiv values (gemmi writes the document out again, with every block, item
and loop in it). Approximate scores add the mark that says so (see scored_structure).

Residues are also numbered as UniProt numbers them where the file says how (DBREF records,
_struct_ref_seq, or PDBe's SIFTS items on each atom), and a predicted model (AlphaFold's or
another ModelCIF file's _ma_qa_metric items, or a PDB file whose HEADER or TITLE names
AlphaFold) is known as one: its B-factors are pLDDT, which the tables and the report show.
"""
import os
from dataclasses import dataclass, field
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
    parse of that text (a gemmi.Structure, entities set up).

    predicted: for a predicted model, whose B-factors are pLDDT, what says so ("_ma_qa_metric
    items", "its TITLE names AlphaFold"); None for any other structure. uniprot: the UniProt
    accession and residue number of each residue the file relates to UniProt, by (author chain
    ID, residue number, insertion code).
    """

    source: str
    format: str
    text: str
    structure: object
    predicted: Optional[str] = None
    uniprot: dict = field(default_factory=dict)


class MappedResidue(NamedTuple):
    """A residue of the chain: its number and insertion code ("" for none) as the file gives
    them, its name, its one-letter code, the reference's residue aligned with it (a profile's
    Residue, or None), its UniProt accession and number where the file gives them ("" and
    None otherwise), and its B-factor as the file gives it (its alpha carbon's, else its first
    atom's; pLDDT in a predicted model)."""

    number: int
    insertion: str
    name: str
    letter: str
    reference: Optional[object]
    uniprot_accession: str = ""
    uniprot_number: Optional[int] = None
    b_factor: Optional[float] = None

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
    if format == "mmcif":
        block = gemmi.cif.read_string(text)[0]
        predicted = "_ma_qa_metric items" if any(
            name.startswith("_ma_qa_metric") for name in block.get_mmcif_category_names()) \
            else None
        uniprot = _mmcif_uniprot_numbers(block, structure)
    else:
        predicted = _pdb_names_alphafold(text)
        uniprot = _numbered_by_ranges(structure, _pdb_uniprot_ranges(text))
    return StructureFile(source, format, text, structure, predicted, uniprot)


def _pdb_names_alphafold(text):
    """What tells a PDB file for a model of AlphaFold's: its HEADER or TITLE naming it."""
    for line in text.splitlines():
        record = line[:6].upper()
        if record in ("HEADER", "TITLE ") and "ALPHAFOLD" in line.upper():
            return f"its {record.strip()} names AlphaFold"
        if record[:4] in ("ATOM", "HETA", "MODE"):
            return None
    return None


class _UniProtRange(NamedTuple):
    """Residues first to last (author numbers, no insertion code) of a chain, which are
    residues db_first to db_last of UniProt entry accession, in order."""

    chain: str
    first: int
    last: int
    accession: str
    db_first: int
    db_last: int


def _pdb_uniprot_ranges(text):
    """The UniProt ranges of a PDB file's DBREF records, and of its DBREF1 and DBREF2 pairs
    (accessions too long for DBREF); records it cannot read are passed over."""
    ranges = []
    first_halves = {}
    for line in text.splitlines():
        record = line[:6].upper()
        try:
            if record == "DBREF " and line[26:32].strip() == "UNP":
                ranges.append(_UniProtRange(line[12], int(line[14:18]), int(line[20:24]),
                                            line[33:41].strip(), int(line[55:60]),
                                            int(line[62:67])))
            elif record == "DBREF1" and line[26:32].strip() == "UNP":
                first_halves[line[12]] = (int(line[14:18]), int(line[20:24]))
            elif record == "DBREF2" and line[12] in first_halves:
                first, last = first_halves.pop(line[12])
                ranges.append(_UniProtRange(line[12], first, last, line[18:40].strip(),
                                            int(line[45:55]), int(line[57:67])))
        except (ValueError, IndexError):
            continue
    return ranges


def _mmcif_uniprot_numbers(block, structure):
    """The UniProt numbers of an mmCIF file's residues: PDBe's SIFTS items on the atoms
    (_atom_site.pdbx_sifts_xref_db_name, _acc and _num) where the file has them, else the
    ranges of _struct_ref_seq whose _struct_ref is UniProt's (UNP)."""
    import gemmi

    def column(category, tag):
        return [gemmi.cif.as_string(value) for value in block.find_values(f"{category}.{tag}")]

    databases = dict(zip(column("_struct_ref", "id"), column("_struct_ref", "db_name")))
    ranges = []
    rows = zip(*(column("_struct_ref_seq", tag) for tag in (
        "ref_id", "pdbx_strand_id", "pdbx_auth_seq_align_beg", "pdbx_auth_seq_align_end",
        "pdbx_db_accession", "db_align_beg", "db_align_end")))
    for ref, chain, first, last, accession, db_first, db_last in rows:
        if databases.get(ref) != "UNP":
            continue
        try:
            ranges.append(_UniProtRange(chain, int(first), int(last), accession, int(db_first),
                                        int(db_last)))
        except ValueError:
            continue
    numbers = _numbered_by_ranges(structure, ranges)
    numbers.update(_sifts_numbers(block))
    return numbers


def _sifts_numbers(block):
    """The UniProt accession and number of each residue of the first model that PDBe's SIFTS
    items on its atoms give, by (author chain, number, insertion code)."""
    import gemmi

    tags = ["pdbx_sifts_xref_db_name", "pdbx_sifts_xref_db_acc", "pdbx_sifts_xref_db_num",
            "auth_asym_id", "auth_seq_id", "?pdbx_PDB_ins_code", "?pdbx_PDB_model_num"]
    table = block.find("_atom_site.", tags)
    numbers = {}
    if not table:
        return numbers
    first_model = None
    for row in table:
        values = [gemmi.cif.as_string(row[i]) if row.has(i) else "" for i in range(len(tags))]
        database, accession, number, chain, residue, insertion, model = values
        first_model = first_model or model
        if model != first_model:
            break
        if database != "UNP" or not number.lstrip("-").isdigit() or not residue.lstrip(
                "-").isdigit():
            continue
        key = (chain, int(residue), insertion.strip("?. "))
        numbers.setdefault(key, (accession, int(number)))
    return numbers


def _numbered_by_ranges(structure, ranges):
    """The UniProt accession and number of each residue of the first model that a range
    covers: residue n of a range from first is db_first + (n - first), up to db_last. Residues
    with an insertion code have no place in such a count and get none."""
    numbers = {}
    for part in structure[0]:
        for residue in part:
            insertion = residue.seqid.icode.strip()
            if insertion:
                continue
            for span in ranges:
                number = span.db_first + residue.seqid.num - span.first
                if span.chain == part.name and span.first <= residue.seqid.num <= span.last \
                        and number <= span.db_last:
                    numbers.setdefault((part.name, residue.seqid.num, ""),
                                       (span.accession, number))
                    break
    return numbers


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
    chains = protein_chains(file)
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
    author's chain ID, or in mmCIF its label_asym_id); None for the structure's only protein
    chain. Raises InputError when there is no such chain, and when less than min_identity
    percent of the shorter sequence is identical: scores on a chain that the reference does
    not match would sit on the wrong residues. (map_chains maps every chain it matches.)
    """
    file = structure if isinstance(structure, StructureFile) else read_structure(structure)
    # A blank chain ID is read as "", however it was typed.
    chain = _only_protein_chain(file) if chain is None else _author_chain(file, chain.strip())
    mapping = _map_chain(profile, file, chain)
    if mapping.identity < min_identity:
        raise InputError(
            f"{file.source}: {chain_label(chain)} is {mapping.identity:.1f}% identical to "
            f"{profile.reference_name}, below the {min_identity:g}% needed to map scores onto "
            f"it (lower the minimum identity to accept it)")
    return mapping


def _author_chain(file, name):
    """The author's ID of the chain that name names: an author chain ID, or else an mmCIF
    label_asym_id (the subchain of a polymer). Raises InputError when there is none."""
    model = file.structure[0]
    names = []
    for part in model:
        if part.name not in names:
            names.append(part.name)
    if name in names:
        return name
    for part in model:
        if any(residue.subchain == name and _is_polymer(residue) for residue in part):
            return part.name
    raise InputError(f"{file.source}: chain {name!r} does not exist "
                     f"(chains: {chain_list(sorted(names))})")


def _map_chain(profile, file, chain):
    """The StructureMapping of the reference onto a chain (author ID), whatever its identity.
    Raises InputError for a chain without polymer residues."""
    residues = _polymer_residues(file.structure[0], chain)
    if not residues:
        raise InputError(f"{file.source}: {chain_label(chain)} has no polymer residues")
    letters = [one_letter_code(residue.name) for residue in residues]
    reference = [row.residue.upper() for row in profile.residues]
    pairs = _aligned_pairs("".join(reference), "".join(letters))
    aligned = {j: profile.residues[i] for i, j in pairs}
    identical = sum(reference[i] == letters[j] != "X" for i, j in pairs)
    shorter = min(len(reference), len(letters))
    identity = 100.0 * identical / shorter if shorter else 0.0
    coverage = 100.0 * len(pairs) / len(reference) if reference else 0.0
    mapped = []
    for j, (residue, letter) in enumerate(zip(residues, letters)):
        insertion = residue.seqid.icode.strip()
        accession, number = file.uniprot.get((chain, residue.seqid.num, insertion), ("", None))
        mapped.append(MappedResidue(residue.seqid.num, insertion, residue.name, letter,
                                    aligned.get(j), accession, number, _b_factor(residue)))
    return StructureMapping(file, chain, profile.reference_name, mapped, identity, coverage)


def _b_factor(residue):
    """A residue's B-factor as the file gives it: its alpha carbon's, else its first atom's."""
    atom = residue.find_atom("CA", "*") or (residue[0] if len(residue) else None)
    return None if atom is None else float(atom.b_iso)


def protein_chains(file):
    """The author IDs of the chains of the first model whose polymer holds amino acids, in
    file order."""
    import gemmi

    def amino_acid(residue):
        info = gemmi.find_tabulated_residue(residue.name)
        return info is not None and info.is_amino_acid()

    chains = []
    for part in file.structure[0]:
        if part.name not in chains and any(_is_polymer(residue) and amino_acid(residue)
                                           for residue in part):
            chains.append(part.name)
    return chains


@dataclass
class MappedStructure:
    """A profile's reference mapped onto the chains of a structure that it matches.

    chains: the StructureMapping of each scored chain, in file order. skipped: those of the
    protein chains left unscored for matching below min_identity. keep_b_factors: whether a
    structure written from it keeps the file's B-factors (and holds the scores in a category of
    their own) instead of replacing them with the scores.
    """

    file: StructureFile
    chains: list
    skipped: list
    min_identity: float = MIN_IDENTITY
    keep_b_factors: bool = False

    @property
    def source(self):
        return self.file.source

    @property
    def predicted(self):
        """What tells a predicted model (see StructureFile.predicted), or None."""
        return self.file.predicted

    @property
    def chain_ids(self):
        """The IDs of the scored chains."""
        return [mapping.chain for mapping in self.chains]

    @property
    def scored(self):
        """The number of the scored chains' residues that receive a score."""
        return sum(mapping.scored for mapping in self.chains)

    @property
    def unscored(self):
        """The number of the scored chains' residues that no reference residue is aligned
        with."""
        return sum(mapping.unscored for mapping in self.chains)

    @property
    def residues(self):
        """The residues of every scored chain, as (chain ID, MappedResidue), in order."""
        return [(mapping.chain, residue) for mapping in self.chains
                for residue in mapping.residues]

    def summary_lines(self):
        """One line per protein chain: how well the reference matched it, and whether it was
        scored."""
        lines = [mapping.summary() for mapping in self.chains]
        lines += [f"{self.source} {chain_label(mapping.chain)}: {mapping.identity:.1f}% "
                  f"identical to {mapping.reference}, below the {self.min_identity:g}% "
                  f"needed: not scored" for mapping in self.skipped]
        return lines

    def summary(self):
        """The summary lines as one text."""
        return "\n".join(self.summary_lines())

    def by_column(self):
        """For each alignment column that a scored chain's residue is aligned with: a list of
        (chain ID, MappedResidue), one per chain that has one, in chain order."""
        found = {}
        for chain, residue in self.residues:
            if residue.reference is not None:
                found.setdefault(residue.reference.column, []).append((chain, residue))
        return found

    def table_fields(self):
        """The columns a per-residue table gains: their names (structure_number; with UniProt
        numbers, uniprot_accession and uniprot_number; for a predicted model, plddt) and, by
        alignment column, the tab-led text of their fields (see residue_fields)."""
        names = ["structure_number"]
        uniprot = any(residue.uniprot_accession for _, residue in self.residues)
        if uniprot:
            names += ["uniprot_accession", "uniprot_number"]
        if self.predicted:
            names.append("plddt")
        rows = {}
        for column, found in self.by_column().items():
            fields = residue_fields(found, uniprot, bool(self.predicted))
            rows[column] = "".join(f"\t{field}" for field in fields)
        return names, rows


def _agreed(values):
    """One field from the chains' values (chain ID, text): the text where every chain that has
    one agrees (the copies of a homo-oligomer), else each chain's as "A:text", separated by
    commas."""
    texts = [(chain, text) for chain, text in values if text != ""]
    if len({text for _, text in texts}) <= 1:
        return texts[0][1] if texts else ""
    return ",".join(f"{chain}:{text}" for chain, text in texts)


def residue_fields(found, uniprot, plddt):
    """The fields of the residues (chain ID, MappedResidue) aligned with one column: the
    structure's number (with insertion code), the UniProt accession and number, and pLDDT
    (the B-factor, two decimals), each as _agreed makes it."""
    fields = [_agreed([(chain, residue.label) for chain, residue in found])]
    if uniprot:
        fields.append(_agreed([(chain, residue.uniprot_accession) for chain, residue in found]))
        fields.append(_agreed([(chain, "" if residue.uniprot_number is None
                                else str(residue.uniprot_number)) for chain, residue in found]))
    if plddt:
        fields.append(_agreed([(chain, "" if residue.b_factor is None
                                else f"{residue.b_factor:.2f}") for chain, residue in found]))
    return fields


def map_chains(profile, structure, chains=None, min_identity=MIN_IDENTITY,
               keep_b_factors=None):
    """Align a profile's reference with chains of a structure; return a MappedStructure.

    structure: a path (see read_structure), a StructureFile, or a StructureMapping (its one
    chain). chains: None for every protein chain that is at least min_identity percent
    identical to the reference (so that every copy of a homo-oligomer is scored); or a chain
    name, a comma-separated list of them ("A,B") or a list, each an author chain ID or an
    mmCIF label_asym_id, each of which must reach min_identity. keep_b_factors: whether a
    structure written from it keeps its B-factors; None for the default, True for a predicted
    model (whose B-factors are pLDDT) and False otherwise.
    Raises InputError for a chain that does not exist or matches too little, and when no
    chain matches.
    """
    if isinstance(structure, StructureMapping):
        file, mapped, skipped = structure.file, [structure], []
    else:
        file = structure if isinstance(structure, StructureFile) else read_structure(structure)
        if chains is None:
            candidates = [_map_chain(profile, file, chain) for chain in protein_chains(file)]
            mapped = [m for m in candidates if m.identity >= min_identity]
            skipped = [m for m in candidates if m.identity < min_identity]
            if not mapped:
                found = ", ".join(f"{chain_label(m.chain)} {m.identity:.1f}%"
                                  for m in candidates) or "no protein chain"
                raise InputError(
                    f"{file.source}: no chain is {min_identity:g}% identical to "
                    f"{profile.reference_name} or more ({found}); lower the minimum identity "
                    f"to map scores onto a distant homologue")
        else:
            names = chains.split(",") if isinstance(chains, str) else list(chains)
            authors = []
            for name in names:
                author = _author_chain(file, name.strip())
                if author not in authors:
                    authors.append(author)
            mapped = [map_structure(profile, file, author, min_identity) for author in authors]
            skipped = []
    if keep_b_factors is None:
        keep_b_factors = file.predicted is not None
    return MappedStructure(file, mapped, skipped, min_identity, keep_b_factors)


# The mmCIF category that holds the scores of a structure whose B-factors are kept: one row per
# scored residue.
SCORE_CATEGORY = "_marrowind_residue"
SCORE_ITEMS = ("auth_asym_id", "auth_seq_id", "pdbx_PDB_ins_code", "label_comp_id", "score",
               "grade", "reliable")


class KeptBFactorsNeedMmcif(InputError):
    """A PDB file was to keep its B-factors and hold the scores too, which it has no room for."""


def scored_structure(mapping, missing=UNSCORED, approximate=None, keep_b_factors=None,
                     figures=None):
    """Return the bytes of the mapped structure file with the B-factor of every atom of the
    scored chains' polymer residues, in every model, set to its residue's score, or to missing
    where no reference residue is aligned with it. Other atoms and every other record are kept.

    mapping: a MappedStructure (see map_chains) or a StructureMapping (one chain).
    keep_b_factors: keep every B-factor as it was and write the scores into the mmCIF category
    _marrowind_residue instead, one row per scored residue: its author chain, number and
    insertion code, its name, its score in full and, from figures (a dict of alignment column
    to (grade, reliable)), its grade and "yes" or "no"; None for the mapping's own choice
    (MappedStructure.keep_b_factors). A PDB file has no room for such a category: raises
    KeptBFactorsNeedMmcif, an InputError, for one.
    approximate: for approximate scores, how they were drawn ("approximate (sample M, seed S)",
    ConservationScores.mode_label), which the file then says: in two REMARK records after the
    header's (PDB), or in the items _marrowind.chain and _marrowind.scores (mmCIF), so that
    nobody takes its scores for exact ones."""
    if isinstance(mapping, StructureMapping):
        mapping = map_chains(None, mapping, keep_b_factors=False)
    keep = mapping.keep_b_factors if keep_b_factors is None else keep_b_factors
    file = mapping.file
    if keep and file.format == "pdb":
        raise KeptBFactorsNeedMmcif(
            f"{file.source} is a PDB file, whose only room for the scores is its B-factors; to "
            f"keep the B-factors, give the structure as mmCIF (gemmi convert FILE.pdb FILE.cif), "
            f"whose category {SCORE_CATEGORY} then holds the scores")
    chains = mapping.chain_ids
    scores = {(chain, residue.number, residue.insertion): residue.reference.score
              for chain, residue in mapping.residues if residue.reference is not None}
    values = []  # per atom in gemmi's (the file's) order: its new B-factor, or None
    for model in file.structure:
        for part in model:
            for residue in part:
                value = None
                if not keep and part.name in chains and _is_polymer(residue):
                    value = scores.get((part.name, residue.seqid.num,
                                        residue.seqid.icode.strip()), missing)
                values.extend((atom, value) for atom in residue)
    named = ", ".join(chain_label(chain) for chain in chains)
    if file.format == "pdb":
        remarks = [] if approximate is None else [
            f"marrowind conservation scores in the B-factors of {named}",
            f"scores: {approximate}"]
        return _pdb_with_b_factors(file, values, remarks).encode("latin-1")
    items = {} if approximate is None else {"chain": ",".join(chains), "scores": approximate}
    rows = None
    if keep:
        rows = []
        for chain, residue in mapping.residues:
            if residue.reference is None:
                continue
            grade, reliable = (figures or {}).get(residue.reference.column, (None, None))
            rows.append([chain, str(residue.number), residue.insertion or "?", residue.name,
                         _core.format_figure(residue.reference.score),
                         str(grade) if grade else "?",
                         "?" if reliable is None else ("yes" if reliable else "no")])
    return _mmcif_with_b_factors(file, values, items, rows).encode("utf-8")


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


def _mmcif_with_b_factors(file, values, items=None, scores=None):
    """The mmCIF document with _atom_site.B_iso_or_equiv replaced where values say so, each
    score in full (the core's format_figure), the category _marrowind given the items
    (name: text) and, given scores (rows of SCORE_ITEMS' values), the loop SCORE_CATEGORY,
    written out again by gemmi."""
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
            b_factors[row] = _core.format_figure(value)
    for name, text in (items or {}).items():
        block.set_pair(f"_marrowind.{name}", gemmi.cif.quote(text))
    if scores is not None:
        loop = block.init_loop(f"{SCORE_CATEGORY}.", list(SCORE_ITEMS))
        for row in scores:
            loop.add_row([value if value == "?" else gemmi.cif.quote(value) for value in row])
    return document.as_string(gemmi.cif.Style.Pdbx)

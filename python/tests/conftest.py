"""Shared fixtures: the source tree, the built command-line program, a small family in every
alignment format, a run of the program, and a family that holds a structure's chain."""
import os
import subprocess

import pytest

SOURCE_DIR = os.environ.get(
    "MARROWIND_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
EXAMPLES = os.path.join(SOURCE_DIR, "examples")
DATA = os.path.join(SOURCE_DIR, "data")

# One family of three sequences and 8 columns, written in each format with the awkward cases
# the readers meet in real files. Every one reads as FAMILY (as written) and scores as
# FAMILY_NORMALISED ("." as "-", upper case).
FAMILY_NAMES = ["alpha/11-17", "beta", "gamma"]
FAMILY = ["AC-DEfgH", "ACKD.FGH", "SCKDEFG-"]
FAMILY_NORMALISED = ["AC-DEFGH", "ACKD-FGH", "SCKDEFG-"]
FILES = {
    # CR LF, blank lines, sequence lines broken at odd places
    "fasta": b">alpha/11-17\r\nAC-DE\r\n\r\nfgH\r\n>beta\r\nACKD.FGH\r\n>gamma\r\nSCKD\r\nEFG-\r\n",
    # two blocks, markup lines, "." gaps
    "stockholm": (b"# STOCKHOLM 1.0\r\n#=GF ID family\r\n#=GS beta DE second\r\n\r\n"
                  b"alpha/11-17 AC-DE\r\nbeta        ACKD.\r\ngamma       SCKDE\r\n"
                  b"#=GC SS_cons HHHHH\r\n\r\n"
                  b"alpha/11-17 fgH\r\nbeta        FGH\r\ngamma       FG-\r\n"
                  b"#=GC SS_cons EE.\r\n//\r\n"),
    # two blocks with conservation lines
    "clustal": (b"CLUSTAL W (1.83) multiple sequence alignment\n\n\n"
                b"alpha/11-17     AC-DE\nbeta            ACKD.\ngamma           SCKDE\n"
                b"                 *  *\n\n"
                b"alpha/11-17     fgH\nbeta            FGH\ngamma           FG-\n"
                b"                 **\n"),
    # insert columns (lower case, "." padding) around the same match columns
    "a2m": (b">alpha/11-17\nAC-DEkk.FGH\n>beta\nACKD-..sFGH\n>gamma\nSCKDEmm.FG-\n"),
    # unpadded inserts, a leading comment and a secondary-structure line
    "a3m": (b"#A3M#\n>ss_pred\nCCHHHHCC\n>alpha/11-17\nAC-DEkkFGH\n>beta\nACKD-sFGH\n"
            b">gamma\nSCKDEmmFG-\n"),
}
# What each format gives back as written: A2M and A3M keep only the match columns.
READ_AS = {
    "fasta": FAMILY,
    "stockholm": FAMILY,
    "clustal": FAMILY,
    "a2m": ["AC-DEFGH", "ACKD-FGH", "SCKDEFG-"],
    "a3m": ["AC-DEFGH", "ACKD-FGH", "SCKDEFG-"],
}


@pytest.fixture(scope="session")
def program():
    """Run the built command-line program on an alignment and a matrix file; return stdout."""
    exe = os.environ.get("MARROWIND_EXE")
    if not exe or not os.path.exists(exe):
        pytest.skip("MARROWIND_EXE does not name the built marrowind program")

    def run(alignment, matrix):
        done = subprocess.run([exe, "--aln", alignment, "--matrix", matrix],
                              capture_output=True, check=True)
        return done.stdout.decode("latin-1")
    return run


# Structures that Debian ships (python-biopython-doc). 1A8O is the C-terminal domain of the
# HIV-1 capsid: chain A, residues 151-220 with four selenomethionines (MSE), and waters.
STRUCTURES = "/usr/share/doc/python-biopython-doc/Tests/PDB"
CHAIN_A = "MDIRQGPKEPFRDYVDRFYKTLRAEQASQEVKNWMTETLLVQNANPDCKTILKALGPGATLEEMMTACQG"
FIRST_NUMBER = 151


def structure(name):
    return os.path.join(STRUCTURES, name)


@pytest.fixture(scope="session")
def capsid(tmp_path_factory):
    """A family holding 1A8O's chain under a label numbered from 1, and two variants: its path
    and its Profile."""
    path = tmp_path_factory.mktemp("family") / "capsid.fasta"
    path.write_text(f">CAPSID_HIV1/1-70\n{CHAIN_A}\n"
                    f">variant_1\n{CHAIN_A.replace('RDYVD', 'KDYID').replace('LLVQ', 'LIVE')}\n"
                    f">variant_2\n{CHAIN_A.replace('PKEPF', 'PREPY').replace('CKTIL', 'CRSIL')}\n")
    import marrowind
    return path, marrowind.conservation_profile(str(path))


def predicted_model(tmp_path, kind):
    """1A8O written as a predicted model: an mmCIF file with _ma_qa_metric items, or a PDB file
    whose TITLE names AlphaFold, its B-factors set to 50 + residue number / 10 as pLDDT."""
    import gemmi
    model = gemmi.read_structure(structure("1A8O.cif.gz"))
    model.remove_ligands_and_waters()
    for chain in model[0]:
        for residue in chain:
            for atom in residue:
                atom.b_iso = 50 + residue.seqid.num / 10
    if kind == "pdb":
        path = tmp_path / "model.pdb"
        text = model.make_minimal_pdb()
        path.write_text("TITLE     ALPHAFOLD MONOMER V2.0 PREDICTION FOR CAPSID\n" + text)
        return path
    document = model.make_mmcif_document()
    document[0].set_mmcif_category("_ma_qa_metric.", {
        "id": ["1"], "mode": ["local"], "name": ["pLDDT"], "software_group_id": ["1"],
        "type": ["pLDDT"]})
    path = tmp_path / "model.cif"
    document.write_file(str(path))
    return path

"""Scores on real structures, Debian's copies of 1A8O (the C-terminal domain of the HIV-1
capsid, residues 151-220, with selenomethionines) as PDB and mmCIF: the mapping by sequence
alignment, every record but the scored B-factors kept, an unrelated structure refused."""
import gzip
import json
import os
import subprocess
import sys

import pytest

import marrowind
from conftest import CHAIN_A, EXAMPLES, FIRST_NUMBER, predicted_model, structure


def run(*args):
    return subprocess.run([sys.executable, "-m", "marrowind", *map(str, args)],
                          capture_output=True)


def cif_items(text):
    """Every item of an mmCIF text, by category and tag, as gemmi reads them."""
    import gemmi
    return json.loads(gemmi.cif.read_string(text).as_json())


@pytest.mark.parametrize("name", ["1A8O.pdb.gz", "1A8O.cif.gz"])
def test_scores_replace_only_the_chains_b_factors(capsid, tmp_path, name):
    alignment, profile = capsid
    out = tmp_path / name.replace(".gz", "")
    done = run(alignment, "--structure", structure(name), "--chain", "A", "--structure-out", out,
               "-o", os.devnull)
    assert done.returncode == 0, done.stderr
    assert done.stderr.decode() == (
        f"{structure(name)} chain A: 100.0% identical to CAPSID_HIV1/1-70, 100.0% of its "
        "residues aligned; 70 residues scored, 0 without a score\n")
    score_of = {FIRST_NUMBER - 1 + row.number: row.score for row in profile.residues}
    before = gzip.open(structure(name), "rt").read()
    after = out.read_text()

    if name.endswith(".pdb.gz"):
        changed = 0
        for old, new in zip(before.splitlines(), after.splitlines(), strict=True):
            number = int(old[22:26]) if old.startswith(("ATOM", "HETATM")) else None
            if number in score_of and old[17:20] != "HOH":
                assert new == old[:60] + f"{score_of[number]:6.2f}" + old[66:]
                changed += 1
            else:
                assert new == old  # header, HELIX, SHEET, CRYST1, CONECT, waters, serials
        assert changed == 556  # every atom of the 70 residues, selenomethionines included
    else:
        old, new = cif_items(before)["1a8o"], cif_items(after)["1a8o"]
        old_b, new_b = (items.pop("_atom_site.b_iso_or_equiv") for items in (old, new))
        assert new == old
        for row, number in enumerate(old["_atom_site.auth_seq_id"]):
            water = old["_atom_site.label_comp_id"][row] == "HOH"
            assert new_b[row] == (old_b[row] if water else score_of[number])

def test_mapping_survives_offsets_missing_loops_tags_and_insertion_codes(tmp_path):
    # The structure loses residues 180-184 (a loop not modelled) and calls residue 200 199A;
    # the reference lacks the first three residues and carries a tag at its end.
    kept = []
    for line in gzip.open(structure("1A8O.pdb.gz"), "rt"):
        if line.startswith(("ATOM", "HETATM")):
            number = int(line[22:26])
            if 180 <= number <= 184:
                continue
            if number == 200:
                line = line[:22] + " 199A" + line[27:]
        kept.append(line)
    edited = tmp_path / "edited.pdb"
    edited.write_text("".join(kept))
    reference = CHAIN_A[3:] + "GSHHHHHH"
    profile = marrowind.conservation_profile(marrowind.parse_alignment(
        f">tagged\n{reference}\n>variant\n{reference.replace('EVKNW', 'DIRNF')}\n"))

    mapping = marrowind.write_structure(profile, edited, tmp_path / "out.pdb.gz",
                                        chain="A").chains[0]
    assert (mapping.scored, mapping.unscored) == (62, 3)
    # Identity is counted over the shorter sequence: the 65 residues of the chain.
    assert (mapping.identity, mapping.coverage) == pytest.approx((100 * 62 / 65, 100 * 62 / 75))
    expected = {}  # structure residue -> reference residue number
    for index in range(3, len(CHAIN_A)):
        number = FIRST_NUMBER + index
        if not 180 <= number <= 184:
            expected["199A" if number == 200 else str(number)] = index - 2
    assert {r.label: r.reference.number for r in mapping.residues if r.reference} == expected
    assert [r.label for r in mapping.residues if r.reference is None] == ["151", "152", "153"]
    selenomethionine = next(r for r in mapping.residues if r.label == "214")
    assert (selenomethionine.name, selenomethionine.letter) == ("MSE", "M")

    written = gzip.open(tmp_path / "out.pdb.gz", "rt").read().splitlines()
    b_factor = {line[22:27].strip(): float(line[60:66]) for line in written
                if line.startswith(("ATOM", "HETATM")) and line[17:20] != "HOH"}
    score_of = {row.number: row.score for row in profile.residues}
    assert b_factor == {label: round(score_of[expected[label]], 2) if label in expected
                        else -1.0 for label in b_factor}

    marrowind.write_chimerax(profile, tmp_path / "s.defattr", structure=mapping)
    lines = (tmp_path / "s.defattr").read_text().splitlines()
    assert f"\t/A:199A\t{score_of[expected['199A']]!r}" in lines
    assert sum(line.startswith("\t/A:") for line in lines) == 62


def test_unrelated_structure_is_refused(tmp_path):
    out = tmp_path / "scored.cif"
    globins = os.path.join(EXAMPLES, "globins45.sto")
    done = run(globins, "--pdb", structure("1A8O.cif.gz"), "--chain", "A", "--pdb-out", out)
    assert done.returncode == 1 and done.stdout == b"" and not out.exists()
    assert done.stderr.count(b"\n") == 1
    assert b"chain A is 27.1% identical to MYG_ESCGI/1-153, below the 40% needed" in done.stderr
    done = run(globins, "--structure", structure("1A8O.cif.gz"), "--min-identity", "25",
               "--structure-out", out, "-o", os.devnull)
    assert done.returncode == 0 and out.exists()
    with pytest.raises(marrowind.InputError, match=r"chain 'B' does not exist \(chains: A\)"):
        marrowind.map_structure(marrowind.conservation_profile(globins),
                                structure("1A8O.pdb.gz"), chain="B")


def edited_1a8o(path, ter, ligand=False, chain="A"):
    """1A8O as PDB with its TER record moved after the waters (ter="after the waters") or left
    out (ter=None), optionally a lone aspartate ligand (a copy of Asp152 as HETATM residue 300,
    40 A away) after the waters, and its chain ID changed; written to path."""
    lines = gzip.open(structure("1A8O.pdb.gz"), "rt").read().splitlines(keepends=True)
    ter_line = next(line for line in lines if line.startswith("TER"))
    lines.remove(ter_line)
    extra = []
    if ligand:
        aspartate = [line for line in lines if line.startswith("ATOM") and line[22:26] == " 152"]
        extra = [f"HETATM{901 + k:5d}{line[11:22]} 300{line[26:30]}"
                 f"{float(line[30:38]) + 40:8.3f}{line[38:]}" for k, line in enumerate(aspartate)]
    if ter:
        extra.append(ter_line)
    last_water = max(i for i, line in enumerate(lines) if line[17:20] == "HOH")
    lines[last_water + 1:last_water + 1] = extra
    path.write_text("".join(line[:21] + chain + line[22:]
                            if line.startswith(("ATOM", "HETATM", "TER")) else line
                            for line in lines))
    return path


@pytest.mark.parametrize("ter, ligand, chain", [
    ("after the waters", False, "A"),
    (None, False, "A"),
    ("after the waters", True, "A"),
    (None, True, " "),
])
def test_polymer_residues_are_told_by_what_they_are(capsid, tmp_path, ter, ligand, chain):
    _, profile = capsid
    edited = edited_1a8o(tmp_path / "edited.pdb", ter, ligand, chain)
    out = tmp_path / "out.pdb"
    mapping = marrowind.write_structure(profile, edited, out, chain=chain if chain != " " else None)
    assert (mapping.scored, mapping.unscored) == (70, 0)
    score_of = {FIRST_NUMBER - 1 + row.number: row.score for row in profile.residues}
    for old, new in zip(edited.read_text().splitlines(), out.read_text().splitlines(),
                        strict=True):
        # The chain's residues (151-220) change; waters (1000-1087) and the ligand (300) keep
        # their B-factors.
        polymer = old.startswith(("ATOM", "HETATM")) and int(old[22:26]) in score_of
        assert new == (old[:60] + f"{score_of[int(old[22:26])]:6.2f}" + old[66:]
                       if polymer else old)

    if chain == " ":
        # A blank chain ID is named readably, and ChimeraX gets residues by number alone.
        assert f"{edited} chain (blank ID): 100.0% identical" in mapping.summary()
        marrowind.write_chimerax(profile, tmp_path / "s.defattr", structure=mapping)
        assert "\t:151\t" in (tmp_path / "s.defattr").read_text()
        with pytest.raises(marrowind.InputError, match=r"chain 'B' does not exist \(chains: "
                                                       r"\(blank ID\)\)"):
            marrowind.map_structure(profile, edited, chain="B")


@pytest.mark.parametrize("name", ["1A8O.pdb.gz", "1A8O.cif.gz"])
def test_approximate_scores_are_said_so_in_the_structure(capsid, tmp_path, name):
    path, _ = capsid
    profile = marrowind.conservation_profile(str(path), mode="approximate", sample=1, seed=3)
    out = tmp_path / name.replace(".gz", "")
    marrowind.write_structure(profile, structure(name), out, chain="A")
    if name.endswith(".pdb.gz"):
        lines = out.read_text().splitlines()
        marks = [i for i, line in enumerate(lines) if "marrowind" in line or "approx" in line]
        assert [lines[i] for i in marks] == [
            f"{'REMARK':<11}{text:<69}" for text in (
                "marrowind conservation scores in the B-factors of chain A",
                "scores: approximate (sample 1, seed 3)")]
        # After the header's remarks, before the records that follow them.
        assert lines[marks[0] - 1].startswith("REMARK") and lines[marks[1] + 1].startswith("DBREF")
    else:
        items = cif_items(out.read_text())["1a8o"]
        assert (items["_marrowind.chain"], items["_marrowind.scores"]) == (
            "A", "approximate (sample 1, seed 3)")


def dimer_of_1a8o(path, labels=("A", "B")):
    """1A8O's chain and a copy of it as chain B, its waters left out, as mmCIF (or PDB for a
    path ending in .pdb), the chains' label_asym_id being labels."""
    import gemmi
    model = gemmi.read_structure(structure("1A8O.cif.gz"))
    model.remove_ligands_and_waters()
    copy = model[0]["A"].clone()
    copy.name = "B"
    model[0].add_chain(copy)
    for chain, label in zip(model[0], labels):
        for residue in chain:
            residue.subchain = label
    model.setup_entities()
    if str(path).endswith(".pdb"):
        model.write_pdb(str(path))
    else:
        model.make_mmcif_document().write_file(str(path))
    return path


def test_homodimer_is_scored_whole_and_chains_are_chosen_by_either_id(capsid, tmp_path):
    alignment, profile = capsid
    dimer = dimer_of_1a8o(tmp_path / "dimer.cif", labels=("C", "D"))
    out, table = tmp_path / "scored.cif", tmp_path / "t.tsv"
    done = run(alignment, "--structure", dimer, "--structure-out", out, "-o", table)
    assert done.returncode == 0, done.stderr
    assert done.stderr.decode().splitlines() == [
        f"{dimer} chain {chain}: 100.0% identical to CAPSID_HIV1/1-70, 100.0% of its residues "
        f"aligned; 70 residues scored, 0 without a score" for chain in "AB"]
    items = cif_items(out.read_text())["1a8o"]
    b_factors = {}
    for chain, number, b in zip(items["_atom_site.auth_asym_id"],
                                items["_atom_site.auth_seq_id"],
                                items["_atom_site.b_iso_or_equiv"]):
        b_factors.setdefault((chain, number), set()).add(b)
    score_of = {FIRST_NUMBER - 1 + row.number: row.score for row in profile.residues}
    assert b_factors == {(chain, number): {score} for number, score in score_of.items()
                         for chain in "AB"}
    # Both copies number each residue alike: one structure number per row.
    rows = [line.split("\t") for line in table.read_text().splitlines() if line[0].isdigit()]
    assert [row[-1] for row in rows] == [str(number) for number in score_of]

    # The label ID D and the author ID B name the same chain; an unknown one is refused.
    for name in ("D", "B", " B,D "):
        mapped = marrowind.map_chains(profile, dimer, name)
        assert mapped.chain_ids == ["B"] and mapped.scored == 70
    done = run(alignment, "--structure", dimer, "--chain", "A,E", "-o", table)
    assert done.returncode == 1 and done.stderr == (
        f"python3 -m marrowind: {dimer}: chain 'E' does not exist (chains: A, B)\n".encode())


def test_chains_below_the_identity_are_left_unscored_and_said_so(tmp_path):
    # The globins align with the capsid's chains at 27%: below the minimum, none is scored.
    globins = os.path.join(EXAMPLES, "globins45.sto")
    dimer = dimer_of_1a8o(tmp_path / "dimer.pdb")
    done = run(globins, "--structure", dimer, "-o", os.devnull)
    assert done.returncode == 1 and done.stderr.count(b"\n") == 1
    assert (b"no chain is 40% identical to MYG_ESCGI/1-153 or more (chain A 27.1%, chain B "
            b"27.1%)") in done.stderr
    profile = marrowind.conservation_profile(globins)
    mapped = marrowind.map_chains(profile, dimer, min_identity=27)
    assert mapped.chain_ids == ["A", "B"]


def sifts_1a8o(path):
    """1A8O as mmCIF with SIFTS items on its atoms that number residue n as n + 1000 of the
    made-up entry Q99999, and without its _struct_ref_seq."""
    import gemmi
    document = gemmi.cif.read(structure("1A8O.cif.gz"))
    block = document[0]
    atoms = block.get_mmcif_category("_atom_site.")
    count = len(atoms["id"])
    polymer = [name != "HOH" for name in atoms["label_comp_id"]]
    atoms["pdbx_sifts_xref_db_name"] = ["UNP" if p else None for p in polymer]
    atoms["pdbx_sifts_xref_db_acc"] = ["Q99999" if p else None for p in polymer]
    atoms["pdbx_sifts_xref_db_num"] = [str(int(n) + 1000) if p else None
                                       for n, p in zip(atoms["auth_seq_id"], polymer)]
    assert len(atoms["pdbx_sifts_xref_db_num"]) == count
    block.set_mmcif_category("_atom_site.", atoms)
    block.set_mmcif_category("_struct_ref_seq.", {})
    document.write_file(str(path))
    return path


@pytest.mark.parametrize("name", ["1A8O.pdb.gz", "1A8O.cif.gz", "sifts"])
def test_uniprot_numbers_from_dbref_struct_ref_seq_and_sifts(capsid, tmp_path, name):
    _, profile = capsid
    path = sifts_1a8o(tmp_path / "sifts.cif") if name == "sifts" else structure(name)
    mapped = marrowind.map_chains(profile, path)
    out = tmp_path / "t.tsv"
    marrowind.write_tsv(profile, out, structure=mapped)
    lines = out.read_text().splitlines()
    rows = {row[0]: row for row in (line.split("\t") for line in lines if line[0].isdigit())}
    assert lines[lines.index(next(line for line in lines if line.startswith("number")))].split(
        "\t")[-3:] == ["structure_number", "uniprot_accession", "uniprot_number"]
    # Residue 30 of the reference is 1A8O's residue 180, which UniProt P12497 numbers 311; the
    # first residue (the initiator methionine, 151) lies outside DBREF's range.
    expected = {"sifts": (["180", "Q99999", "1180"], ["151", "Q99999", "1151"])}.get(
        name, (["180", "P12497", "311"], ["151", "", ""]))
    assert (rows["30"][-3:], rows["1"][-3:]) == expected


def test_predicted_model_keeps_its_plddt(capsid, tmp_path):
    alignment, profile = capsid
    model = predicted_model(tmp_path, "cif")
    out, table = tmp_path / "scored.cif", tmp_path / "t.tsv"
    done = run(alignment, "--structure", model, "--structure-out", out, "-o", table)
    assert done.returncode == 0, done.stderr
    assert done.stderr.decode().splitlines()[1] == (
        f"{model}: a predicted model (_ma_qa_metric items): its B-factors are pLDDT, shown as "
        f"the table's plddt column and kept in {out}, whose _marrowind_residue category holds "
        f"the scores (--no-keep-b-factors puts the scores in the B-factors)")
    rows = [line.split("\t") for line in table.read_text().splitlines() if line[0].isdigit()]
    assert rows[29][-2:] == ["180", "68.00"]  # structure number and pLDDT
    before, after = (cif_items(path.read_text())["1a8o"] for path in (model, out))
    assert after["_atom_site.b_iso_or_equiv"] == before["_atom_site.b_iso_or_equiv"]
    scores = dict(zip(after["_marrowind_residue.auth_seq_id"], after["_marrowind_residue.score"]))
    assert scores == {FIRST_NUMBER - 1 + row.number: row.score for row in profile.residues}

    done = run(alignment, "--structure", model, "--structure-out", out, "--no-keep-b-factors",
               "-o", table)
    assert done.returncode == 0 and done.stderr.count(b"\n") == 1
    assert set(cif_items(out.read_text())["1a8o"]["_atom_site.b_iso_or_equiv"]) == {
        row.score for row in profile.residues}


def test_kept_b_factors_need_an_mmcif_target(capsid, tmp_path):
    alignment, _ = capsid
    out = tmp_path / "scored.pdb"
    for source, option in [(structure("1A8O.pdb.gz"), ["--keep-b-factors"]),
                           (predicted_model(tmp_path, "pdb"), [])]:
        done = run(alignment, "--structure", source, "--structure-out", out, *option)
        assert done.returncode == 1 and done.stdout == b"" and not out.exists()
        message = done.stderr.decode()
        assert message.count("\n") == 1 and "give the structure as mmCIF" in message, message
    assert "a predicted model (its TITLE names AlphaFold) keeps its B-factors" in message
    assert message.endswith("or --no-keep-b-factors to replace the B-factors\n")

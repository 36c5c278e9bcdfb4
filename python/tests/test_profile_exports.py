"""Reference numbering, the exports read back, and the plot."""
import csv

import numpy as np
import pytest

import marrowind
from conftest import FILES


@pytest.fixture
def profile():
    alignment = marrowind.parse_alignment(FILES["stockholm"], source="family.sto")
    return marrowind.conservation_profile(alignment, reference="alpha")


def test_reference_numbering_starts_at_the_label_and_skips_gaps(profile):
    scores = profile.scores.column_scores
    assert [(r.number, r.residue, r.column) for r in profile.residues] == [
        (11, "A", 0), (12, "C", 1), (13, "D", 3), (14, "E", 4), (15, "f", 5), (16, "g", 6),
        (17, "H", 7)]
    assert [r.score for r in profile.residues] == [scores[r.column] for r in profile.residues]
    gamma = marrowind.residue_table(profile.alignment, profile.scores, "gamma")
    assert [r.number for r in gamma] == list(range(1, 8)) and gamma[-1].column == 6
    with pytest.raises(marrowind.InputError, match="no sequence is named delta"):
        marrowind.residue_table(profile.alignment, profile.scores, "delta")


@pytest.mark.parametrize("reference, start", [
    # Gaps on both sides of the boundaries between the blocks the table is built in.
    ("".join("AC-.DEF--GH"[(i * 7) % 11] for i in range(140_001)), 5),
    ("-" * 70_000 + "W", None),
    ("--..", None),
])
def test_residue_table_reads_as_the_list_of_its_residues(reference, start):
    name = f"ref/{start}-{start + 9}" if start else "ref"
    alignment = marrowind.Alignment([name], [reference])
    scores = marrowind.ConservationScores(np.zeros(1), np.linspace(0, 1, len(reference)), 0.0)
    table = marrowind.residue_table(alignment, scores)
    residues = [(column, residue) for column, residue in enumerate(reference) if residue not in "-."]
    expected = [marrowind.Residue((start or 1) + i, residue, column, scores.column_scores[column])
                for i, (column, residue) in enumerate(residues)]
    assert table == expected and list(table) == expected and len(table) == len(expected)
    assert table[-1:] == expected[-1:] and table[::50_000] == expected[::50_000]
    if expected:
        assert table[-1] == expected[-1] and table[len(expected) // 2] == expected[len(expected) // 2]
    with pytest.raises(IndexError):
        table[len(expected)]


def read_tsv(path):
    lines = path.read_text().splitlines()
    header = dict(line[2:].split(": ", 1) for line in lines
                  if line.startswith("# ") and ": " in line)
    body = [line for line in lines if not line.startswith("#")]
    return header, list(csv.DictReader(body, delimiter="\t"))


@pytest.mark.parametrize("per, count", [("residue", 7), ("column", 8)])
def test_tsv_reads_back_exactly(profile, tmp_path, per, count):
    path = tmp_path / "scores.tsv"
    marrowind.write_tsv(profile, path, per=per)
    header, rows = read_tsv(path)
    assert header["input"] == "family.sto" and header["format"] == "stockholm"
    assert (header["sequences"], header["columns"]) == ("3", "8")
    assert header["DOPS score"] == marrowind.format_dops(profile.scores.dops).strip()
    assert "higher is more conserved" in path.read_text()
    assert len(rows) == count
    for row in rows:
        assert float(row["score"]) == profile.scores.column_scores[int(row["column"]) - 1]
    assert rows[2]["number"] == ("13" if per == "residue" else "")


def test_jalview_and_chimerax_files_read_back(profile, tmp_path):
    jalview, chimerax = tmp_path / "scores.jva", tmp_path / "scores.defattr"
    marrowind.write_jalview(profile, jalview)
    marrowind.write_chimerax(profile, chimerax, chain="A")
    lines = [line for line in jalview.read_text().splitlines() if not line.startswith("#")]
    # Jalview's name for the reference, less /start-end, and its first residue's number.
    assert lines[:2] == ["JALVIEW_ANNOTATION", "SEQUENCE_REF\talpha\t11"]
    kind, label, _, values = lines[2].split("\t")
    assert (kind, label) == ("BAR_GRAPH", "marrowind")
    assert [float(v) for v in values.split("|")] == [r.score for r in profile.residues]

    lines = [line for line in chimerax.read_text().splitlines() if not line.startswith("#")]
    assert lines[:3] == ["attribute: conservation", "match mode: any", "recipient: residues"]
    assigned = dict(line.split("\t")[1:] for line in lines[3:])
    assert {atoms: float(v) for atoms, v in assigned.items()} == \
        {f"/A:{r.number}": r.score for r in profile.residues}


@pytest.mark.parametrize("name, per, magic", [
    ("profile.png", "column", b"\x89PNG"), ("profile.svg", "residue", b"<?xml")])
def test_plot_is_written(profile, tmp_path, name, per, magic):
    marrowind.plot_profile(profile, tmp_path / name, per=per)
    data = (tmp_path / name).read_bytes()
    assert data.startswith(magic) and len(data) > 1000
    if name.endswith(".svg"):
        assert "DOPS score" in data.decode()
    with pytest.raises(ValueError, match=".png or .svg"):
        marrowind.plot_profile(profile, tmp_path / "profile.pdf")

"""Reference numbering, the exports read back (whatever bytes the names and residues hold), and
the plot."""
import csv
import json
import subprocess
import sys

import matplotlib
import numpy as np
import pytest

import marrowind
import marrowind.batch as batch
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


def test_every_line_of_every_text_export_keeps_its_fields(tmp_path):
    # A source, names and residues that hold tabs, line ends and backslashes, as any byte may.
    alignment = marrowind.Alignment(["ref\tone\r\n", "two"], ["A\tC\r\\D\n", "AACCDDE"],
                                    source="in\tput.fa")
    profile = marrowind.conservation_profile(alignment)
    for per in ("residue", "column"):
        marrowind.write_tsv(profile, tmp_path / f"{per}.tsv", per=per)
    marrowind.write_jalview(profile, tmp_path / "scores.jva", label="mar\trowind")
    marrowind.write_chimerax(profile, tmp_path / "scores.defattr", chain="A\tB",
                             attribute="con\nservation")
    result = dict.fromkeys(batch.SUMMARY_FIELDS, None)
    result.update(family="fam\tily", input="in\rput", error="Error: one\ntwo\t\\")
    (tmp_path / "result.json").write_text(json.dumps(result))
    batch.write_summary([tmp_path / "result.json"], tmp_path / "summary.tsv")

    def lines(name):
        return (tmp_path / name).read_bytes().decode().split("\n")[:-1]

    for name, fields in [("residue.tsv", 9), ("column.tsv", 9), ("summary.tsv", 14)]:
        rows = [line for line in lines(name) if not line.startswith("#")]
        assert {len(row.split("\t")) for row in rows} == {fields}, name
    assert [line.split("\t")[1] for line in lines("residue.tsv")[-7:]] == [
        "A", "\\t", "C", "\\r", "\\\\", "D", "\\n"]
    assert "# input: in\\tput.fa" in lines("column.tsv")
    assert "# reference: ref\\tone\\r\\n" in lines("column.tsv")
    assert lines("summary.tsv")[1].split("\t")[:2] == ["fam\\tily", "in\\rput"]
    assert lines("summary.tsv")[1].endswith("\tError: one\\ntwo\\t\\\\")
    jalview = [line for line in lines("scores.jva") if not line.startswith("#")]
    assert [len(line.split("\t")) for line in jalview] == [1, 3, 4]
    assert jalview[2].split("\t")[1] == "mar\\trowind"
    chimerax = [line for line in lines("scores.defattr") if not line.startswith("#")]
    assert chimerax[0] == "attribute: con\\nservation"
    assert [line.split("\t")[1] for line in chimerax[3:]] == [f"/A\\tB:{n}" for n in range(1, 8)]
    # The core's function, on bytes and on str whose bytes outside UTF-8 are surrogate escapes.
    assert marrowind.escape_field(b"\xff\t\\") == b"\xff\\t\\\\"
    assert marrowind.escape_field("\udcff\u00e9\n") == "\udcff\u00e9\\n"


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


def test_plots_are_plain_text_and_the_same_every_time(tmp_path):
    # Two "$" would make matplotlib read a name as a formula (and fail on this one).
    name = r"a$\frac$ $x^2$"
    profile = marrowind.conservation_profile(
        marrowind.parse_alignment(f">{name}\nMK-EF\n>b\nMKDEW\n".encode()))
    for per in ("column", "residue"):
        for suffix in ("png", "svg"):
            drawn = [tmp_path / f"{per}{run}.{suffix}" for run in (1, 2)]
            for path in drawn:
                marrowind.plot_profile(profile, path, per=per)
            assert drawn[0].read_bytes() == drawn[1].read_bytes(), (per, suffix)
    with matplotlib.rc_context({"svg.fonttype": "none"}):
        marrowind.plot_profile(profile, tmp_path / "text.svg")
    text = (tmp_path / "text.svg").read_text()
    assert f"{name}: DOPS score" in text and f"gap in {name}" in text
    assert f"<h1>{name} in &lt;text&gt;" in marrowind.report.render_report(profile)


@pytest.mark.parametrize("data", [b">a\n>b\n", b"#A3M#\n>a\nacd\n>b\nefg\n"])
def test_alignment_without_columns_says_so_in_the_plot_and_the_report(tmp_path, data):
    path = tmp_path / "empty.fasta"
    path.write_bytes(data)
    outputs = [tmp_path / name for name in ("e.jva", "e.png", "e.html")]
    done = subprocess.run([sys.executable, "-m", "marrowind", path, "-o", tmp_path / "e.tsv",
                           "--jalview", outputs[0], "--plot", outputs[1], "--report", outputs[2]],
                          capture_output=True)
    assert done.returncode == 0 and done.stderr == b"", done.stderr
    assert "# columns: 0" in (tmp_path / "e.tsv").read_text()
    assert marrowind.report.NO_COLUMNS in outputs[2].read_text()

    profile = marrowind.conservation_profile(str(path))
    for per, message in (("column", "the alignment has no columns"),
                         ("residue", "a has no residues")):
        with matplotlib.rc_context({"svg.fonttype": "none"}):
            marrowind.plot_profile(profile, tmp_path / "e.svg", per=per)
        assert f"nothing to plot: {message}" in (tmp_path / "e.svg").read_text()

"""The alignment readers: each format, compressed and standard input, detection, bad files."""
import gzip
import io
import sys

import numpy as np
import pytest

import marrowind
from conftest import FAMILY_NAMES, FAMILY_NORMALISED, FILES, READ_AS


@pytest.mark.parametrize("fmt", sorted(FILES))
@pytest.mark.parametrize("given", [True, False], ids=["named", "detected"])
def test_each_format_reads_the_family(tmp_path, fmt, given):
    path = tmp_path / "family.txt"  # no telling suffix: detection reads the content
    path.write_bytes(FILES[fmt])
    alignment = marrowind.read_alignment(path, fmt if given else None)
    # An A2M file is aligned FASTA too; only its suffix or a named format reads it as A2M.
    expected_format = "fasta" if fmt == "a2m" and not given else fmt
    assert alignment.format == expected_format
    assert alignment.names == FAMILY_NAMES
    if expected_format == fmt:
        assert alignment.sequences == READ_AS[fmt]
        scores = marrowind.score_alignment(alignment)
        assert np.array_equal(scores.column_scores,
                              marrowind.score_alignment(FAMILY_NORMALISED).column_scores)


def test_gzip_standard_input_and_suffix(tmp_path, monkeypatch):
    packed = gzip.compress(FILES["stockholm"])
    monkeypatch.setattr(sys, "stdin", io.TextIOWrapper(io.BytesIO(packed)))
    assert marrowind.read_alignment("-").sequences == READ_AS["stockholm"]
    path = tmp_path / "family.a2m.gz"
    path.write_bytes(gzip.compress(FILES["a2m"]))
    assert marrowind.read_alignment(path).format == "a2m"
    with open(path, "rb") as stream:
        assert marrowind.read_alignment(stream).sequences == READ_AS["a2m"]
    described = marrowind.parse_alignment(FILES["a3m"].decode().replace("beta", "beta b2"))
    assert described.starts == [11, None, None] and described.index("beta") == 1


@pytest.mark.parametrize("data, fmt, message", [
    (b">a\nACD\n>b\nAC\n", None, "differ in length"),
    # Lower case all through and ragged: FASTA with unequal lengths, not A3M without a name.
    (b">a\nacdef\n>b\nacd\n", None, r"differ in length \(a has 5 columns, b has 3\)"),
    (b"", None, "not an alignment in a known format"),
    (b"hello\n", None, "not an alignment in a known format"),
    (b"# STOCKHOLM 1.0\na ACD\nb AC\n//\n", None, "not a valid stockholm"),
    (b"CLUSTAL W\n\na ACD\nb AC\n", None, "not a valid clustal"),
    (b">a\nACD\n", "stockholm", "not a valid stockholm"),
    (b"\x1f\x8bnot gzip", None, "bad could not be read: its gzip data is damaged or cut short"),
    (b"#A3M#\n", None, "no sequences"),
])
def test_bad_files_raise_input_errors(tmp_path, data, fmt, message):
    path = tmp_path / "bad"
    path.write_bytes(data)
    with pytest.raises(marrowind.InputError, match=message):
        marrowind.read_alignment(path, fmt)


def test_a3m_without_its_name_is_still_recognised():
    # No "#A3M#" line and no suffix: ragged FASTA whose first sequence has match states only.
    data = FILES["a3m"].replace(b"#A3M#\n", b"")
    alignment = marrowind.parse_alignment(data)
    assert alignment.format == "a3m" and alignment.names == FAMILY_NAMES
    assert alignment.sequences == READ_AS["a3m"]


def test_gzip_members_and_padding_read_as_the_program_reads_them():
    members = gzip.compress(FILES["fasta"][:30]) + gzip.compress(FILES["fasta"][30:])
    assert marrowind.parse_alignment(members + bytes(9)).sequences == READ_AS["fasta"]
    for damaged in (members + b"junk", members[:-1], members[:len(members) // 2]):
        with pytest.raises(marrowind.InputError, match="could not be read"):
            marrowind.parse_alignment(damaged, source="family.fasta.gz")


def test_missing_file_and_unknown_format(tmp_path):
    with pytest.raises(marrowind.InputError, match="could not be opened"):
        marrowind.read_alignment(tmp_path / "absent.fasta")
    with pytest.raises(ValueError, match="unknown alignment format"):
        marrowind.parse_alignment(b">a\nA\n", "phylip")

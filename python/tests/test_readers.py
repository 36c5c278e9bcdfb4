"""The alignment readers: each format (after a byte-order mark, with any line ends), compressed
and standard input, detection, bad files, residues counted in bytes, and the warning for
nucleotides."""
import glob
import gzip
import io
import os
import subprocess
import sys
import warnings

import numpy as np
import pytest

import marrowind
from conftest import DATA, EXAMPLES, FAMILY_NAMES, FAMILY_NORMALISED, FILES, READ_AS

# Deliberately broken and well-formed alignments of Debian's hmmer-examples package.
HMMER_EXAMPLES = "/usr/share/doc/hmmer/examples"
MSA_TEST_FILES = os.path.join(HMMER_EXAMPLES, "easel", "esl_msa_testfiles")


def hmmer_example(*parts):
    path = os.path.join(MSA_TEST_FILES, *parts)
    if not os.path.exists(path):
        pytest.skip(f"{path} is missing: install Debian's hmmer-examples")
    return path


# Each file as written, after the UTF-8 byte-order mark that editors write, and with old Mac
# line ends (a lone CR): every one reads the same.
VARIANTS = {
    "as written": lambda data: data,
    "byte-order mark": lambda data: b"\xef\xbb\xbf" + data,
    "CR line ends": lambda data: data.replace(b"\r\n", b"\n").replace(b"\n", b"\r"),
}


@pytest.mark.parametrize("fmt", sorted(FILES))
@pytest.mark.parametrize("given", [True, False], ids=["named", "detected"])
@pytest.mark.parametrize("variant", sorted(VARIANTS))
def test_each_format_reads_the_family(tmp_path, fmt, given, variant):
    path = tmp_path / "family.txt"  # no telling suffix: detection reads the content
    path.write_bytes(VARIANTS[variant](FILES[fmt]))
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


STOCKHOLM_HEAD = b"# STOCKHOLM 1.0\n"


@pytest.mark.parametrize("data, fmt, message", [
    (b">a\nACD\n>b\nAC\n", None, "differ in length"),
    # Lower case all through and ragged: FASTA with unequal lengths, not A3M without a name.
    (b">a\nacdef\n>b\nacd\n", None, r"differ in length \(a has 5 columns, b has 3\)"),
    (b"", None, "not an alignment in a known format"),
    (b"hello\n", None, "not an alignment in a known format"),
    (b"CLUSTAL W\n\na ACD\nb AC\n", None, "differ in length"),
    (b"CLUSTAL W\n\na ACD\n  b AC\n", None, "line 4: a line that starts with a space holds"),
    (b"CLUSTAL W\n\na AC D\n", None, "line 3: a sequence line is a name and its residues"),
    (b"CLUSTAL W\n\na AC\nb AC\n\nb DE\na DE\n", None, "line 6: b where the first block has a"),
    (b">a\nACD\n", "stockholm", 'does not start with a "# STOCKHOLM 1.0" line'),
    (STOCKHOLM_HEAD + b"a ACD\nb AC\n//\n", None, "differ in length"),
    (STOCKHOLM_HEAD + b"a AC\na DE\n//\n", None, "line 3: a appears twice in one block"),
    (STOCKHOLM_HEAD + b"a AC\n\na DE\nb DE\n//\n", None, "line 5: b where the first block has none"),
    (STOCKHOLM_HEAD + b"a AC D\n//\n", None, "line 2: a sequence line is a name and its"),
    (STOCKHOLM_HEAD + b"a ACD\n#=GR a SS HH\n//\n", None, "line 3: the SS annotation has 2 columns"),
    (STOCKHOLM_HEAD + b"a ACD\n#=GC SS_cons HH\n\na E\n#=GC SS_cons H\n//\n", None,
     "line 3: the SS_cons annotation has 3 columns, the sequences 4"),
    (STOCKHOLM_HEAD + b"a ACD\n//\nb ACD\n", None, 'line 4: text after the "//" line'),
    (STOCKHOLM_HEAD + b"a ACD\n//\n" + STOCKHOLM_HEAD + b"a ACD\n//\n", None,
     "line 4: a second alignment starts here"),
    (b"\x1f\x8bnot gzip", None, "bad could not be read: its gzip data is damaged or cut short"),
    (b"#A3M#\n", None, "no sequences"),
])
def test_bad_files_raise_input_errors(tmp_path, data, fmt, message):
    path = tmp_path / "bad"
    path.write_bytes(data)
    with pytest.raises(marrowind.InputError, match=message):
        marrowind.read_alignment(path, fmt)


@pytest.mark.parametrize("number, rule", [
    (1, "not an alignment in a known format"),   # no header
    (2, "line 6: the block starting here lacks seq2"),
    (3, "line 4: markup for seq2, which is no sequence of the alignment"),
    (4, 'it does not end with a "//" line'),
    (5, "it holds no sequences"),
    (6, "line 3: #=GF needs a feature"),
    (7, "line 3: unknown markup #=GFX"),
    (8, "line 2: #=GF ID needs the alignment's name"),
])
def test_every_broken_stockholm_file_of_hmmer_examples_is_refused(number, rule):
    path = hmmer_example("stockholm", f"stockholm.bad.{number}")
    with pytest.raises(marrowind.InputError, match=rule):
        marrowind.read_alignment(path)


def test_readers_agree_with_biopython_on_well_formed_files():
    from Bio import AlignIO

    paths = sorted(glob.glob(os.path.join(HMMER_EXAMPLES, "*", "*.sto"))
                   + glob.glob(os.path.join(MSA_TEST_FILES, "stockholm", "*.good.*"))
                   + glob.glob(os.path.join(MSA_TEST_FILES, "clustal", "*.good.*")))
    if not paths:
        pytest.skip("no alignments of hmmer-examples: install the Debian package")
    for path in paths:
        with open(path, "rb") as stream:
            fmt = marrowind.detect_format(stream.read(), path)
        expected = AlignIO.read(path, fmt)
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", marrowind.NucleotideWarning)  # MADE1 is DNA
            ours = marrowind.read_alignment(path)
        assert ours.names == [record.id for record in expected], path
        # Biopython writes Stockholm's "." gaps as "-"; the scoring reads both alike.
        assert [s.replace(".", "-") for s in ours.sequences] == [
            str(record.seq).replace(".", "-") for record in expected], path


def test_one_line_and_status_1_from_the_command_line(tmp_path):
    ragged = tmp_path / "ragged.fasta"
    ragged.write_bytes(b">a\nacdef\n>b\nacd\n")
    for path in (hmmer_example("stockholm", "stockholm.bad.8"), ragged):
        done = subprocess.run([sys.executable, "-m", "marrowind", path], capture_output=True)
        assert done.returncode == 1 and done.stdout == b""
        assert done.stderr.startswith(b"python3 -m marrowind: ") and done.stderr.count(b"\n") == 1


def test_residues_are_counted_in_bytes_as_the_program_counts_them(tmp_path, program):
    # "\xc3\xa9" is e-acute in UTF-8: two bytes, so two columns, in every format.
    fasta = b">a\nA\xc3\xa9DE\n>b\nACDEF\n>c\nAKDEF\n"
    path = tmp_path / "accent.fasta"
    path.write_bytes(fasta)
    stockholm = b"# STOCKHOLM 1.0\na A\xc3\xa9DE\nb ACDEF\nc AKDEF\n//\n"
    clustal = b"CLUSTAL W\n\na A\xc3\xa9DE\nb ACDEF\nc AKDEF\n"
    expected = "A\udcc3\udca9DE"
    for data in (fasta, stockholm, clustal):
        alignment = marrowind.parse_alignment(data)
        assert alignment.length == 5 and alignment.sequences[0] == expected
    assert marrowind.Alignment(["a"], ["A\u00e9DE"]).sequences == [expected]

    scores = marrowind.score_alignment(marrowind.read_alignment(path))
    printed = program(str(path), os.path.join(DATA, "blosum62.mat2")).splitlines()[:-1]
    assert [marrowind.format_score(s) for s in scores.column_scores] == [
        line.split()[0] for line in printed]
    profile = marrowind.conservation_profile(path, reference="a")
    assert [row.residue for row in profile.residues] == list(expected)


def test_nucleotides_bring_a_warning_and_amino_acids_none(tmp_path):
    # Gaps are no residues; X, N's protein look-alike, is one but no nucleotide.
    with pytest.warns(marrowind.NucleotideWarning, match="dna: 5 of its 8 residues are A, C"):
        marrowind.parse_alignment(b">a\nAC-GX\n>b\nu.XXn\n", source="dna")
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        marrowind.parse_alignment(b">a\nAC-GX\n>b\nu.XXX\n")  # exactly half
        marrowind.read_alignment(os.path.join(EXAMPLES, "globins45.sto"))
    path = tmp_path / "rna.fasta"
    path.write_bytes(b">a\nACGUACGU\n>b\nACGUUCGU\n")
    done = subprocess.run([sys.executable, "-m", "marrowind", "-q", path], capture_output=True)
    assert done.returncode == 0
    assert done.stderr.decode() == (
        f"python3 -m marrowind: warning: {path}: 16 of its 16 residues are A, C, G, T, U or N: "
        f"this looks like a nucleotide alignment, but the substitution matrices score amino "
        f"acids\n")


def test_residue_blocks_hold_whole_rows_in_order_within_their_size():
    alignment = marrowind.Alignment(["a", "b", "c"], ["AC-GX", "u.XXn", "A\u00e9CG"])
    rows = "".join(alignment.sequences).encode("ascii", "surrogateescape")
    for most_bytes in (1, 10, 11, 1 << 20):
        blocks = list(alignment.residue_blocks(most_bytes))
        assert b"".join(block.tobytes() for block in blocks) == rows
        assert all(block.shape[1] == 5 and block.size <= max(most_bytes, 5) for block in blocks)
    assert alignment.count_nucleotides() == (8, 13)
    assert marrowind.Alignment(["a", "b"], ["", ""]).count_nucleotides() == (0, 0)


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

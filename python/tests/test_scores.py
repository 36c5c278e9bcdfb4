"""The bound scoring core: scores equal to the command line's to the last bit, matrices and their
warnings, pair distances, the DOPS score, the released interpreter lock, and errors as
exceptions."""
import os
import subprocess
import sys
import threading
import time
import warnings

import numpy as np
import pytest

import marrowind
from conftest import DATA, EXAMPLES, FAMILY, FAMILY_NORMALISED, FILES

SEPARATOR = "           #              "


def program_output(sequences, scores):
    """The command line's standard output, rebuilt from the package's scores."""
    shown = [s.upper().replace(".", "-") for s in sequences]
    lines = [marrowind.format_score(score) + SEPARATOR + "".join(s[c] for s in shown)
             for c, score in enumerate(scores.column_scores)]
    dops = f"DOPS score: {marrowind.format_dops(scores.dops)}\n"
    return "".join(line + "\n" for line in lines) + dops


@pytest.mark.parametrize("source, fasta", [
    ("globins45.fasta", "globins45.fasta"),
    ("globins45.sto", "globins45.fasta"),  # the same alignment in Stockholm form
])
@pytest.mark.parametrize("matrix", ["blosum62", "pet91"])
def test_scores_equal_the_command_line(program, source, fasta, matrix):
    alignment = marrowind.read_alignment(os.path.join(EXAMPLES, source))
    scores = marrowind.score_alignment(alignment, matrix)
    printed = program(os.path.join(EXAMPLES, fasta), os.path.join(DATA, matrix + ".mat2"))
    # The DOPS line groups columns by exactly equal score, so it checks every bit.
    assert program_output(alignment.sequences, scores) == printed
    assert scores.column_scores.dtype == np.float64 and scores.weights.shape == (45,)


def test_awkward_fasta_scores_as_on_the_command_line(program, tmp_path):
    path = tmp_path / "family.fasta"
    path.write_bytes(FILES["fasta"])
    alignment = marrowind.read_alignment(path)
    assert alignment.sequences == FAMILY
    matrix = os.path.join(DATA, "blosum62.mat2")
    scores = marrowind.score_alignment(alignment.sequences, matrix)
    assert program_output(alignment.sequences, scores) == program(str(path), matrix)


def test_family_in_any_case_scores_as_on_the_command_line(program, tmp_path):
    """Rows are scored where Python holds them, "." and lower case read as the program's
    validation rewrites them: on a family large enough for every block and group of the fast
    stages, written half in lower case with "." gaps, the program's bytes to the DOPS line."""
    rng = np.random.default_rng(26)
    letters = np.frombuffer(b"ACDEFGHIKLMNPQRSTVWYacdefghiklmnpqrstvwy-.", dtype=np.uint8)
    rows = [letters[rng.integers(0, len(letters), 203)].tobytes().decode() for _ in range(70)]
    path = tmp_path / "family.fasta"
    path.write_text("".join(f">s{i}\n{row}\n" for i, row in enumerate(rows)))
    alignment = marrowind.read_alignment(path)
    assert alignment.sequences == rows
    matrix = os.path.join(DATA, "pet91.mat2")
    scores = marrowind.score_alignment(alignment, matrix, threads=3)
    assert program_output(rows, scores) == program(str(path), matrix)
    assert alignment.sequences == rows


def test_same_scores_for_str_bytes_and_normalised_input():
    as_str = marrowind.score_alignment(FAMILY)
    for other in ([s.encode() for s in FAMILY], FAMILY_NORMALISED):
        again = marrowind.score_alignment(other, marrowind.load_matrix("BLOSUM62.mat2"))
        assert np.array_equal(again.column_scores, as_str.column_scores)
        assert np.array_equal(again.weights, as_str.weights) and again.dops == as_str.dops
    assert marrowind.dops_score(as_str.column_scores) == as_str.dops
    for threads in (1, 3):
        again = marrowind.score_alignment(FAMILY, threads=threads)
        assert np.array_equal(again.column_scores, as_str.column_scores)
        assert np.array_equal(again.weights, as_str.weights) and again.dops == as_str.dops
    with pytest.raises(ValueError, match="threads"):
        marrowind.score_alignment(FAMILY, threads=0)


def test_format_score_rounds_halves_away_from_zero():
    # 0.0625 and 2.5e-4 are exact in binary, so their halves really are halves.
    assert [marrowind.format_score(x) for x in (0.0625, -0.0625, 0.00025, 1.0, -0.0001)] == \
        ["0.063", "-0.063", "0.000", "1.000", "-0.000"]
    assert marrowind.format_score(0.0015) == "0.002"  # 1.5 after scaling, as C's round sees it
    assert marrowind.format_dops(99.2851) == "99.285" and marrowind.format_dops(5) == " 5.000"


def test_matrices_and_pair_distance():
    text = open(os.path.join(DATA, "blosum62.mat2")).read()
    from_text = marrowind.SubstitutionMatrix.parse(text)
    assert from_text.letters == marrowind.load_matrix("blosum62").letters
    assert from_text.similarity("W", "W") == 1.0
    assert from_text.similarity("A", "-") == from_text.similarity("X", "A") == 0.0
    assert marrowind.available_matrices() == ["blosum62", "pet91"]
    near = marrowind.pair_distance("ACDE", b"acde", from_text)
    assert near < marrowind.pair_distance("ACDE", "WWWW")
    assert marrowind.pair_distance("--", "--") == 0.0


def test_names_are_the_libraries_and_the_earlier_ones_remain():
    assert marrowind.Matrix is marrowind.SubstitutionMatrix
    assert marrowind.Scores is marrowind.ConservationScores
    assert {"Matrix", "Scores", "SubstitutionMatrix", "ConservationScores"} <= set(
        marrowind.__all__)
    assert isinstance(marrowind.score_alignment(FAMILY), marrowind.ConservationScores)
    # The binding takes the mode by the names of SCORING_MODES, as the C++ ScoringMode.
    assert marrowind.SCORING_MODES == ("exact", "approximate")
    matrix = marrowind.load_matrix()
    exact, _, _ = marrowind._core.score_alignment(FAMILY, matrix, 0, "exact", 1, 0)
    sampled, _, _ = marrowind._core.score_alignment(FAMILY, matrix, 0, "approximate", 1, 0)
    assert not np.array_equal(exact, sampled)  # one partner each instead of both others
    # The flag the binding once took is refused, not read as a mode.
    with pytest.raises(ValueError, match="mode must be one of exact, approximate, not True"):
        marrowind._core.score_alignment(FAMILY, matrix, 0, True)


def test_approximate_scores_are_marked_reproducible_and_exact_with_every_partner():
    alignment = marrowind.read_alignment(os.path.join(EXAMPLES, "globins45.fasta"))
    exact = marrowind.score_alignment(alignment)
    every = marrowind.score_alignment(alignment, mode="approximate", sample=44, seed=7)
    assert (every.approximate, every.sample, every.seed) == (True, 44, 7)
    assert (exact.approximate, exact.sample, exact.seed) == (False, None, None)
    assert np.array_equal(every.weights, exact.weights)
    assert np.abs(every.column_scores - exact.column_scores).max() < 1e-12

    def sampled(seed, threads):
        return marrowind.score_alignment(alignment, mode="approximate", sample=8, seed=seed,
                                         threads=threads)
    first = sampled(1, 1)
    again = sampled(1, 3)
    assert first.weights.tobytes() == again.weights.tobytes()
    assert first.column_scores.tobytes() == again.column_scores.tobytes()
    assert not np.array_equal(sampled(2, 1).weights, first.weights)


@pytest.mark.parametrize("call, error, message", [
    (lambda: marrowind.score_alignment(["ACD", "AC"]), marrowind.InputError,
     "aren't aligned to the same length"),
    (lambda: marrowind.score_alignment([]), marrowind.InputError, "No sequences parsed"),
    (lambda: marrowind.pair_distance("AC", "A"), marrowind.InputError, "aren't aligned"),
    (lambda: marrowind.load_matrix("/nonexistent/m.mat2"), marrowind.InputError,
     "/nonexistent/m.mat2 could not be opened"),
    (lambda: marrowind.load_matrix("blosum99"), marrowind.InputError, "blosum62, pet91"),
    (lambda: marrowind.SubstitutionMatrix.parse("A,B\n1,x\n", "mine"), marrowind.InputError,
     "mine"),
    (lambda: marrowind.SubstitutionMatrix.parse("A\n3\n"), marrowind.InputError,
     "all scores are equal"),
    (lambda: marrowind.score_alignment("ACD"), TypeError, "not a single one"),
    (lambda: marrowind.score_alignment(FAMILY, mode="fast"), ValueError, "exact, approximate"),
    (lambda: marrowind.score_alignment(FAMILY, mode="approximate", sample=0), ValueError,
     "sample must be a whole number of at least 1"),
    (lambda: marrowind.score_alignment([1, 2]), TypeError, "str or bytes"),
    (lambda: marrowind.score_alignment(FAMILY, threads=2**40), ValueError,
     "^threads must be a whole number from 1 to 2147483647, not 1099511627776$"),
])
def test_errors_are_exceptions_with_the_library_messages(call, error, message, capfd):
    with pytest.raises(error, match=message) as raised:
        call()
    if error is marrowind.InputError:
        assert isinstance(raised.value, marrowind.Error)
        assert str(raised.value) == str(raised.value).strip()
    assert capfd.readouterr() == ("", "")  # nothing printed


def test_matrix_faults_are_warnings_in_python_and_on_the_command_line(tmp_path):
    matrix_file = tmp_path / "m.mat2"
    matrix_file.write_text("a,R,R\n1,2,3\n4,5.5,6\n7,8,9\nextra\n")
    with pytest.warns(marrowind.MatrixWarning) as heard:
        matrix = marrowind.load_matrix(matrix_file)
    at = f"{matrix_file} line "
    assert [str(warning.message) for warning in heard] == matrix.warnings == [
        at + "1: header letter 'a' is lower case; alignments are read in upper case, so its "
             "scores are never used",
        at + "1: header letter 'R' appears again as entry 3 (first as entry 2); its later row "
             "and column replace the earlier ones",
        at + "3: score row 2 field 2 '5.5' is not a whole number and is read as 5",
        at + "5: 1 line after the last score row is never read: the header's 3 letters take 3 "
             "rows",
    ]
    alignment = tmp_path / "in.fa"
    alignment.write_text(">a\nAR\n>b\nAR\n")
    done = subprocess.run([sys.executable, "-m", "marrowind", alignment, "-m", matrix_file, "-q"],
                          capture_output=True, text=True)
    assert done.returncode == 0
    assert done.stderr.splitlines() == [f"python3 -m marrowind: warning: {warning}"
                                        for warning in matrix.warnings]
    # A profile loads the file once for its scores and its column context: each fault once.
    with pytest.warns(marrowind.MatrixWarning) as heard:
        marrowind.conservation_profile(str(alignment), matrix_file)
    assert [str(warning.message) for warning in heard] == matrix.warnings
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        for shipped in marrowind.available_matrices():
            assert marrowind.load_matrix(shipped).warnings == []


def test_the_interpreter_lock_is_released_while_scoring():
    rng = np.random.default_rng(7)
    letters = np.frombuffer(b"ACDEFGHIKLMNPQRSTVWY-", dtype=np.uint8)
    sequences = [rng.choice(letters, 1000).tobytes() for _ in range(1500)]
    matrix = marrowind.load_matrix("blosum62")
    span = {}

    def score():
        span["start"] = time.monotonic()
        marrowind.score_alignment(sequences, matrix)
        span["end"] = time.monotonic()

    worker = threading.Thread(target=score)
    ticks = [time.monotonic()]
    worker.start()
    while worker.is_alive():
        ticks.append(time.monotonic())
    duration = span["end"] - span["start"]
    if duration < 0.05:
        pytest.skip(f"scoring took {duration:.3f} s, too short to see the lock")
    # Held through the call, the lock would stop this thread for all of it.
    assert max(np.diff(ticks)) < duration / 2

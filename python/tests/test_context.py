"""The column context of the tables, against figures worked by hand: a family of three
sequences with known gaps and weights, and z and grades on scores of known mean and standard
deviation; the weights file; a complex from ColabFold."""
import math
import os
import random
import subprocess
import sys

import numpy as np
import pytest

import marrowind
from marrowind import _core
from conftest import EXAMPLES

# Two letters that score 1 against themselves and 0 against each other.
MATRIX = marrowind.SubstitutionMatrix.parse("A,C\n1,0\n0,1\n")


def table(profile, per="residue", **settings):
    """The rows of a profile's table as dicts by column name, and its "#" lines."""
    import io
    out = io.StringIO()
    marrowind.write_tsv(profile, out, per=per,
                        settings=marrowind.ContextSettings(**settings) if settings else None)
    lines = out.getvalue().splitlines()
    header = [line for line in lines if line.startswith("#")]
    rows = [line.split("\t") for line in lines if not line.startswith("#")]
    return [dict(zip(rows[0], row)) for row in rows[1:]], header


def test_three_sequences_with_known_gaps_and_weights(tmp_path):
    # Distances over the columns where either has a residue: a-b 1/2, a-c 1, b-c 2/3, so the
    # weights (mean distances) are 3/4, 7/12 and 5/6, summing to 13/6. Column 3 holds a residue
    # only in c: gap fraction 2/3, weighted occupancy (5/6) / (13/6) = 5/13.
    alignment = marrowind.Alignment(["a", "b", "c"], ["AA-", "AC-", "CCA"])
    profile = marrowind.conservation_profile(alignment, MATRIX, reference="c")
    assert profile.scores.weights == pytest.approx([3 / 4, 7 / 12, 5 / 6], abs=1e-7)
    rows, header = table(profile, min_residues=2)
    assert [float(row["gap_fraction"]) for row in rows] == pytest.approx([0, 0, 2 / 3])
    assert [float(row["weighted_occupancy"]) for row in rows] == pytest.approx(
        [1, 1, 5 / 13], abs=1e-7)
    assert [row["reliable"] for row in rows] == ["yes", "yes", "no"]
    assert "# reliable: no where fewer than 2 sequences hold a residue or gap_fraction exceeds " \
           "0.5; unreliable columns: 1 of 3" in header

    weights = tmp_path / "w.tsv"
    done = subprocess.run([sys.executable, "-m", "marrowind", "-", "--weights", weights, "-o",
                           tmp_path / "t.tsv"], input=b">a\nAA-\n>b\nAC-\n>c\nCCA\n",
                          capture_output=True)
    assert done.returncode == 0, done.stderr
    lines = weights.read_text().splitlines()
    assert "# weights: exact: each the mean distance to every other sequence" in lines
    rows = [line.split("\t") for line in lines if not line.startswith("#")]
    assert rows[0] == ["name", "weight"] and [name for name, _ in rows[1:]] == ["a", "b", "c"]
    scores = marrowind.score_alignment(["AA-", "AC-", "CCA"])
    assert [float(weight) for _, weight in rows[1:]] == list(scores.weights)


def test_z_and_grades_on_scores_of_known_mean_and_deviation():
    # Mean 0.5 and population standard deviation sqrt(0.08): z is 0, +-0.707 and +-1.414.
    alignment = marrowind.Alignment(["a", "b"], ["ACACA", "ACACA"])
    scores = marrowind.ConservationScores(np.array([0.5, 0.5]),
                                          np.array([0.1, 0.3, 0.5, 0.7, 0.9]), 100.0)
    rows, header = table(marrowind.Profile(alignment, scores), per="column", window=3)
    assert [float(row["z"]) for row in rows] == pytest.approx(
        [-math.sqrt(2), -math.sqrt(0.5), 0, math.sqrt(0.5), math.sqrt(2)])
    assert [row["grade"] for row in rows] == ["2", "4", "5", "6", "8"]
    # The window shrinks at the ends; the scores themselves never change.
    assert [float(row["smoothed"]) for row in rows] == pytest.approx([0.2, 0.3, 0.5, 0.7, 0.8])
    assert [float(row["score"]) for row in rows] == [0.1, 0.3, 0.5, 0.7, 0.9]
    assert "# window: 3" in header
    mean, deviation = next(line for line in header if line.startswith("# z:")).split(
        ": mean ")[1].split(", population standard deviation ")
    assert (float(mean), float(deviation)) == pytest.approx((0.5, math.sqrt(0.08)))


def test_grades_rise_with_the_score_on_a_real_family():
    globins = marrowind.conservation_profile(os.path.join(EXAMPLES, "globins45.sto"),
                                             reference="MYG_HORSE")
    rows, _ = table(globins)
    ranked = sorted(rows, key=lambda row: float(row["score"]))
    grades = [int(row["grade"]) for row in ranked]
    assert grades == sorted(grades) and set(grades) == set(range(1, 10))


def test_figures_are_written_as_repr_writes_them():
    generator = random.Random(5)
    values = [generator.uniform(-1, 1) * 10 ** generator.randint(-30, 30) for _ in range(5000)]
    values += [0.1, 1e16, 1e-5, 123456789012345678.0, -0.0, float("inf"), 2.0 ** -1074]
    assert _core.format_figures(np.array(values)) == [repr(value) for value in values]


def test_settings_and_options_are_checked(tmp_path):
    for bad in ({"window": 4}, {"window": 0}, {"max_gap_fraction": 1.5}, {"min_residues": -1}):
        with pytest.raises(ValueError):
            marrowind.ContextSettings(**bad)
    for option, value, message in [
            ("--window", "2", "the window must be an odd whole number of at least 1, not 2"),
            ("--min-residues", "-1", "--min-residues must be a whole number of at least 0, "
                                     "not -1"),
            ("--max-gap-fraction", "nan", "--max-gap-fraction must be a fraction from 0 to 1, "
                                          "not nan")]:
        done = subprocess.run([sys.executable, "-m", "marrowind", "-", option, value],
                              input=b">a\nAC\n>b\nAD\n", capture_output=True)
        assert (done.returncode, done.stdout) == (1, b"")
        assert done.stderr.decode() == f"python3 -m marrowind: {message}\n"


def test_approximate_weights_are_marked(tmp_path):
    weights = tmp_path / "w.tsv"
    done = subprocess.run([sys.executable, "-m", "marrowind", "-", "--approximate", "--sample",
                           "1", "--weights", weights, "-o", tmp_path / "t.tsv"],
                          input=b">a\nACD\n>b\nACE\n>c\nGCE\n", capture_output=True)
    assert done.returncode == 0, done.stderr
    assert "# weights: approximate (sample 1, seed 0): each the mean distance to a random " \
           "sample of the other sequences" in weights.read_text().splitlines()


COMPLEX = (b"#5,3\t1,2\n>101\t102\nMKTAYIAK\n>paired\nMKSAYgIAK\n>unpaired_1\nMKTAF---\n"
           b">unpaired_2\n-----IAR\n")


def test_colabfold_complex_gives_each_column_its_chain(tmp_path):
    path = tmp_path / "complex.a3m"
    path.write_bytes(COMPLEX)
    alignment = marrowind.read_alignment(path)
    assert alignment.chains == [marrowind.ComplexChain(0, 5, 1, "A"),
                                marrowind.ComplexChain(5, 3, 2, "B,C")]
    assert alignment.column_chains().tolist() == [0, 0, 0, 0, 0, 1, 1, 1]
    # Any sequence may be the reference; the chain follows the column.
    for reference, per, expected in [("101\t102", "column", ["A"] * 5 + ["B,C"] * 3),
                                     ("unpaired_2", "residue", ["B,C"] * 3)]:
        rows, header = table(marrowind.conservation_profile(alignment, reference=reference),
                             per=per)
        assert [row["chain"] for row in rows] == expected
    assert any(line.startswith("# chain: ") for line in header)

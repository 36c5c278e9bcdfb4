"""bench/peers as a user reruns it: its NumPy code computes the package's weights and scores,
and a run on a small family reports every scorer, names the peers that are missing and stops a
run at the time limit."""
import os
import runpy
import subprocess
import sys
from types import SimpleNamespace

import numpy as np
import pytest

import marrowind
from conftest import EXAMPLES, SOURCE_DIR

PEERS = os.path.join(SOURCE_DIR, "bench", "peers")
OURS = ("program", "python3 -m marrowind", "score_alignment")
PEERS_AND_PACKAGES = (("ProDy", "python3-prody"), ("scikit-bio", "python3-skbio"),
                      ("NumPy", "python3-numpy"))


def load_peers():
    """The script's functions, its main part not run."""
    return SimpleNamespace(**runpy.run_path(PEERS))


@pytest.mark.parametrize("sequences", [
    marrowind.read_alignment(os.path.join(EXAMPLES, "globins45.fasta")).sequences,
    ["AC-DE", "AC-DX", "-----", "SCKDE"],  # a sequence of gaps only; X counts as a gap
    ["A-", "C-"],                          # a column of gaps only
    ["WW", "WW"],                          # distance 0: every weight 0, so every score 0
], ids=["globins45", "gap-only sequence", "gap-only column", "zero weights"])
def test_numpy_code_gives_the_packages_scores(sequences):
    weights, scores = load_peers().numpy_scores(sequences, marrowind.load_matrix("blosum62"))
    expected = marrowind.score_alignment(sequences)
    np.testing.assert_allclose(weights, expected.weights, rtol=0, atol=1e-12)
    np.testing.assert_allclose(scores, expected.column_scores, rtol=0, atol=1e-12)


def run_peers(*arguments):
    build = os.environ.get("MARROWIND_BUILD_DIR")
    if not build or not os.path.exists(os.path.join(build, "marrowind")):
        pytest.skip("MARROWIND_BUILD_DIR does not name a build with the program")
    done = subprocess.run([sys.executable, PEERS, "--build", build, "--sizes", "40x30",
                           *arguments], capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    assert done.stderr == ""
    rows = [line.split(" | ") for line in done.stdout.splitlines() if line.startswith("| 40 x 30")]
    return done.stdout, {row[1]: row for row in rows}


def test_a_run_reports_each_scorer_or_names_it_missing():
    stdout, rows = run_peers("--repeats", "0")
    for tool in OURS:
        assert rows[tool][2].endswith(" s") and rows[tool][4].endswith(" MB"), rows[tool]
    assert rows["program"][5] == "1.00x"
    for peer, package in PEERS_AND_PACKAGES:
        missing = f"{peer}: not installed (Debian's {package}); skipped"
        assert (peer in rows) != (missing in stdout), peer
    if "NumPy" in rows:
        difference = float(rows["NumPy"][8].split("within ")[1].split()[0])
        assert difference < 1e-12


def test_a_run_past_the_limit_is_reported_not_waited_for():
    # No interpreter starts, let alone scores, in a millisecond.
    _, rows = run_peers("--limit", "0.001")
    for tool in OURS[1:]:
        assert rows[tool][2:5] == ["over 0.001 s", "", ""], rows[tool]

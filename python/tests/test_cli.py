"""python3 -m marrowind: the table, the exports and the plot from one command, standard input,
errors, and the progress bar."""
import gzip
import io
import json
import os
import subprocess
import sys
import time

import pytest

import marrowind
from marrowind.cli import Progress
from conftest import DATA, EXAMPLES, FILES

STOCKHOLM = os.path.join(EXAMPLES, "globins45.sto")


def run(*args, stdin=b""):
    return subprocess.run([sys.executable, "-m", "marrowind", *args], input=stdin,
                          capture_output=True)


def test_table_exports_and_plot_from_one_command(tmp_path):
    outputs = {name: tmp_path / name for name in ("t.jva", "t.defattr", "t.svg")}
    done = run(STOCKHOLM, "-r", "MYG_HORSE", "-m", "pet91", "--jalview", outputs["t.jva"],
               "--chimerax", outputs["t.defattr"], "--plot", outputs["t.svg"])
    assert done.returncode == 0, done.stderr
    assert done.stderr == b""  # not a terminal: no progress bar
    lines = done.stdout.decode().splitlines()
    assert "# reference: MYG_HORSE/1-153" in lines and "# matrix: pet91" in lines
    rows = [line.split("\t") for line in lines if line[0].isdigit()]
    expected = marrowind.conservation_profile(STOCKHOLM, "pet91", "MYG_HORSE").residues
    assert len(rows) == len(expected) == 153
    assert [(int(n), r, int(c) - 1, float(s)) for n, r, c, s, *_ in rows] == expected
    assert all(path.stat().st_size > 0 for path in outputs.values())


def test_approximate_runs_say_so_in_every_output(tmp_path):
    done = run(STOCKHOLM, "--approximate", "--sample", "10", "--jalview", tmp_path / "t.jva")
    assert done.returncode == 0, done.stderr
    lines = done.stdout.decode().splitlines()
    assert "# scores: approximate (sample 10, seed 0)" in lines
    dops = [line for line in lines if line.startswith("# DOPS score: ")]
    assert len(dops) == 1 and dops[0].endswith(" (approximate)")
    assert dops[0] in (tmp_path / "t.jva").read_text().splitlines()
    # The plot's title, with its text kept as text.
    import matplotlib
    profile = marrowind.conservation_profile(STOCKHOLM, mode="approximate", sample=10)
    with matplotlib.rc_context({"svg.fonttype": "none"}):
        marrowind.plot_profile(profile, tmp_path / "t.svg")
    assert dops[0][len("# DOPS score: "):] in (tmp_path / "t.svg").read_text()


def test_approximate_scores_get_no_scored_alignment(tmp_path):
    # The format has no room for the mark: the command line refuses before writing anything,
    # the function raises, and a batch job writes none (and removes an exact run's).
    done = run(STOCKHOLM, "--approximate", "--jalview", tmp_path / "t.jva",
               "--scored-alignment", tmp_path / "scored.txt")
    assert done.returncode == 1 and done.stdout == b"" and os.listdir(tmp_path) == []
    assert done.stderr == (b"python3 -m marrowind: --scored-alignment cannot be written with "
                           b"--approximate: the scored alignment is the program's exact output "
                           b"and has no room to say that scores are approximate\n")
    profile = marrowind.conservation_profile(STOCKHOLM, mode="approximate")
    with pytest.raises(ValueError, match="not written for approximate scores"):
        marrowind.write_scored_alignment(profile, tmp_path / "scored.txt")
    assert os.listdir(tmp_path) == []

    from marrowind import batch
    exact = batch.score_family(STOCKHOLM, tmp_path, family="f")
    assert exact["mode"] == "exact" and (tmp_path / "f.scored.txt").exists()
    # The summary counts the unreliable columns as the column table's header does.
    assert f"unreliable columns: {exact['unreliable_columns']} of {exact['columns']}" in \
        (tmp_path / "f.columns.tsv").read_text()
    approximate = batch.score_family(STOCKHOLM, tmp_path, family="f", approximate=True)
    assert approximate["mode"] == "approximate (sample 256, seed 0)"
    assert sorted(os.listdir(tmp_path)) == ["f.columns.tsv", "result.json"]


def test_standard_input_compressed_to_a_file(tmp_path):
    done = run("-", "--columns", "-o", tmp_path / "t.tsv",
               stdin=gzip.compress(FILES["a3m"]))
    assert done.returncode == 0, done.stderr
    text = (tmp_path / "t.tsv").read_text()
    assert "# format: a3m" in text and "\n\t-\t3\t" in text  # the reference's gap column


@pytest.mark.parametrize("args, message", [
    (["/nonexistent.sto"], b"/nonexistent.sto could not be opened"),
    ([STOCKHOLM, "-r", "NOPE"], b"no sequence is named NOPE"),
    ([STOCKHOLM, "-m", "blosum99"], b"blosum99"),
    ([STOCKHOLM, "--pdb-out", "x.pdb"], b"--structure-out needs --structure"),
    ([STOCKHOLM, "--min-identity", "120"], b"a percentage from 0 to 100, not 120"),
    ([STOCKHOLM, "--plot", "x.gif"], b".png or .svg"),
    ([STOCKHOLM, "--seed", "3"], b"--sample and --seed need --approximate"),
    # Usage errors too, as the README promises: one line, status 1.
    ([], b"python3 -m marrowind: the following arguments are required: input (see -h)"),
    ([STOCKHOLM, "--plot-by", "atom"], b"argument --plot-by: invalid choice: 'atom'"),
])
def test_errors_exit_with_status_1(args, message):
    done = run(*args)
    assert done.returncode == 1 and message in done.stderr
    assert done.stderr.count(b"\n") == 1 and done.stdout == b""


def test_scored_alignment_is_the_programs_output(tmp_path, program):
    path = tmp_path / "awkward.fasta"
    # Lower case, "." gaps, X, "*" and a byte that is not ASCII, each written as the program
    # writes it.
    path.write_bytes(FILES["fasta"].replace(b"fgH", b"f\xe9H").replace(b"SCKD", b"X*kD"))
    done = run(path, "--scored-alignment", tmp_path / "scored.txt", "-o", os.devnull)
    assert done.returncode == 0, done.stderr
    printed = program(str(path), os.path.join(DATA, "blosum62.mat2"))
    scored = printed[:printed.index("DOPS score: ")].encode("latin-1")
    assert (tmp_path / "scored.txt").read_bytes() == scored and b"\xe9" in scored


def test_installed_package_runs_on_its_own(tmp_path):
    build = os.environ.get("MARROWIND_BUILD_DIR")
    site = os.environ.get("MARROWIND_PYTHON_INSTALL_DIR")
    if not build or not site:
        pytest.skip("MARROWIND_BUILD_DIR and MARROWIND_PYTHON_INSTALL_DIR name no build")
    prefix = tmp_path / "prefix"
    subprocess.run(["cmake", "--install", build, "--prefix", prefix], check=True,
                   capture_output=True)
    environment = dict(os.environ, PYTHONPATH=str(prefix / site))
    done = subprocess.run([sys.executable, "-m", "marrowind", STOCKHOLM, "-m", "pet91"],
                          capture_output=True, env=environment, cwd=tmp_path)
    assert done.returncode == 0, done.stderr
    assert done.stdout == run(STOCKHOLM, "-m", "pet91").stdout
    # The batch subpackage is installed with it; a job not told its threads takes the default
    # count and records it.
    job = subprocess.run([sys.executable, "-m", "marrowind.batch", STOCKHOLM, "--out-dir", "out"],
                         capture_output=True, env=dict(environment, MARROWIND_THREADS="3"),
                         cwd=tmp_path)
    assert job.returncode == 0, job.stderr
    result = json.loads((tmp_path / "out" / "result.json").read_text())
    assert result["error"] is None and result["threads"] == 3


def test_progress_bar_draws_and_clears():
    stream = io.StringIO()
    progress = Progress(stages=2, stream=stream, enabled=True)
    progress.DELAY = 0.0
    with progress:
        progress.stage("reading")
        progress.stage("scoring")
        time.sleep(0.35)
    assert "1/2 scoring" in stream.getvalue() and "[" + "#" * 15 + "-" in stream.getvalue()
    assert stream.getvalue().endswith("\r\033[K")

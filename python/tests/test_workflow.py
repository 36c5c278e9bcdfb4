"""The batch workflow under snakemake: a mixed batch scored as the program scores each file, one
summary row per input with the failed ones' errors, files of any name, settings and outputs
refused before any job, a batch interrupted and resumed, a dry run through the SLURM profile, the
profile's reading of each SLURM job state, and the size estimates behind each job's resources."""
import gzip
import os
import re
import runpy
import shutil
import signal
import subprocess
import time
from pathlib import Path
from types import SimpleNamespace

import pytest

import marrowind
from marrowind import batch
from conftest import DATA, EXAMPLES, FILES, SOURCE_DIR

SNAKEMAKE = shutil.which("snakemake")
needs_snakemake = pytest.mark.skipif(SNAKEMAKE is None,
                                     reason="the snakemake command is missing (Debian: snakemake)")
SNAKEFILE = os.path.join(SOURCE_DIR, "workflow", "Snakefile")
SLURM_PROFILE = os.path.join(SOURCE_DIR, "workflow", "profiles", "slurm")
# The package these tests import, which the jobs must run too.
PACKAGE_DIR = os.path.dirname(os.path.dirname(os.path.abspath(marrowind.__file__)))
MALFORMED = b">a\nACDE\n>b\nACD\n"


def make_batch(directory):
    """Alignments in every format, one compressed and one malformed; return {family: file}."""
    directory.mkdir()
    files = {
        "globins45.fasta": Path(EXAMPLES, "globins45.fasta").read_bytes(),
        "globins45.sto.gz": gzip.compress(Path(EXAMPLES, "globins45.sto").read_bytes()),
        "family.sto": FILES["stockholm"],
        "family.a3m": FILES["a3m"],
        "family.aln": FILES["clustal"],
        "ragged.fasta": MALFORMED,
    }
    for name, data in files.items():
        (directory / name).write_bytes(data)
    # Files that share a family name keep their whole name, less ".gz".
    return {"family.a3m": "family.a3m", "family.aln": "family.aln", "family.sto": "family.sto",
            "globins45.fasta": "globins45.fasta", "globins45.sto": "globins45.sto.gz",
            "ragged": "ragged.fasta"}


def snakemake_command(*options, settings=("alignments=batch",), package=PACKAGE_DIR):
    return [SNAKEMAKE, "-s", SNAKEFILE, *options, "--config", "out=out",
            f"marrowind_python={package}", *settings]


def run_snakemake(directory, *options, settings=("alignments=batch",)):
    done = subprocess.run(snakemake_command(*options, settings=settings), cwd=directory,
                          capture_output=True)
    assert done.returncode == 0, (done.stdout + done.stderr).decode()[-3000:]
    return done


def read_table(path):
    header, *rows = path.read_text().splitlines()
    return [dict(zip(header.split("\t"), row.split("\t"))) for row in rows]


def result(directory, family):
    return directory / "out" / "families" / family / "result.json"


def assert_scored_as_the_program_scores(tmp_path, source, row, program):
    """The family's scored alignment in tmp_path/out holds the program's bytes for the same
    sequences, and its row the program's DOPS score and columns."""
    family = row["family"]
    # The program reads FASTA only: other formats go to it as the sequences they hold.
    if source.suffix == ".fasta":
        fasta = source
    else:
        alignment = marrowind.read_alignment(source)
        fasta = tmp_path / f"{family}.as.fasta"
        fasta.write_text("".join(f">{name}\n{sequence}\n" for name, sequence
                                 in zip(alignment.names, alignment.sequences)))
    *lines, dops = program(str(fasta), os.path.join(DATA, "blosum62.mat2")).splitlines(
        keepends=True)
    scored = tmp_path / "out" / "families" / family / f"{family}.scored.txt"
    assert scored.read_bytes() == "".join(lines).encode("latin-1"), family
    assert dops == f"DOPS score: {marrowind.format_dops(float(row['dops']))}\n"
    assert int(row["columns"]) == len(lines)


@needs_snakemake
def test_batch_scores_every_file_as_the_program_does(tmp_path, program):
    families = make_batch(tmp_path / "batch")
    families["absent"] = "absent.fasta"
    # A list of the files, in an order of its own, that names one file that is not there.
    order = sorted(families, reverse=True)
    (tmp_path / "batch.txt").write_text(
        "# families\n" + "".join(f"batch/{families[family]}\n" for family in order))
    # Each job would take several threads to finish in a nanosecond; snakemake gives it the
    # two of --cores, and the job records what it got.
    run_snakemake(tmp_path, "--cores", "2",
                  settings=["alignments=batch.txt", "report=true", "target_seconds=1e-9"])

    rows = read_table(tmp_path / "out" / "summary.tsv")
    assert [row["family"] for row in rows] == order
    errors = {"ragged": "differ in length", "absent": "absent.fasta could not be opened"}
    for row in rows:
        family, source = row["family"], tmp_path / "batch" / families[row["family"]]
        assert int(row["threads"]) == min(2, batch.job_threads(source, 16, 1e-9))
        if family in errors:
            assert errors[family] in row["error"] and row["dops"] == ""
            assert not (tmp_path / "out" / "families" / family / f"{family}.scored.txt").exists()
            continue
        assert row["error"] == "" and float(row["peak_mb"]) > 0
        assert_scored_as_the_program_scores(tmp_path, source, row, program)
    # The index links each scored family's report, by a path relative to the index.
    index = (tmp_path / "out" / "index.html").read_text()
    links = re.findall(r'<a href="([^"]+)">([^<]+)</a>', index)
    assert links == [(f"families/{row['family']}/{row['family']}.report.html", row["family"])
                     for row in rows if not row["error"]]
    by_dops = read_table(tmp_path / "out" / "summary.by_dops.tsv")
    assert {row["family"] for row in by_dops[-2:]} == set(errors)
    assert [float(row["dops"]) for row in by_dops[:-2]] == sorted(
        float(row["dops"]) for row in rows if row["dops"])


# File names that a shell, an option parser or snakemake's patterns could take for something
# else; a line break too, where the file system allows one.
AWKWARD_NAMES = ["-dash", "--dash", "a{b}", "a{b,c}", "}{", "with space", "it's", 'say "hi"',
                 "$HOME`id`;x", "50%", "a%7Bb%7D", "n\u00f6n-ascii \u03b1", "back\\slash", "new\nline"]


@needs_snakemake
def test_batch_scores_files_of_any_name(tmp_path):
    directory = tmp_path / "batch"
    directory.mkdir()
    sequences = {}
    for count, name in enumerate(AWKWARD_NAMES, start=2):
        try:
            (directory / f"{name}.fasta").write_text("".join(
                f">s{i}\nACDEFGHIK{'LMNPQ'[i % 5]}\n" for i in range(count)))
        except OSError:
            continue
        sequences[name] = count
    run_snakemake(tmp_path, "--cores", "2")

    rows = read_table(tmp_path / "out" / "summary.tsv")
    assert [row["error"] for row in rows] == [""] * len(sequences)
    for name, count in sequences.items():
        scored = Path(batch.family_dir(str(tmp_path / "out"), name)) / f"{name}.scored.txt"
        assert scored.read_text().count("\n") == 10, name
        assert len(scored.read_text().split("\n")[0].split()[-1]) == count, name
    # Every job's output is where snakemake looks for it: nothing is left to do.
    again = run_snakemake(tmp_path, "--cores", "2")
    assert b"Nothing to be done" in again.stdout + again.stderr


def refusal_lines(done):
    """snakemake's standard error less the line it prints for every --config."""
    return [line for line in done.stderr.decode().splitlines()
            if not line.startswith("Config file ")]


@needs_snakemake
@pytest.mark.parametrize("settings, package, refusal", [
    (["matrix=nosuch"], PACKAGE_DIR,
     "matrix=nosuch: nosuch could not be opened (the shipped matrices are blosum62, pet91)"),
    (["sample=0"], PACKAGE_DIR, "sample=0: must be a whole number of at least 1"),
    # The summary would replace an input, and a second run would score the batch's own files.
    (["out=batch"], PACKAGE_DIR, "out=batch holds the input batch/family.a3m: the results would "
                                 "mix with the inputs; choose an out outside them"),
    ([], "broken", "cannot import the marrowind package (the package is broken): install it "
                   "for this interpreter"),
], ids=["matrix", "number", "out", "package"])
def test_batch_refused_in_one_line_before_any_job(tmp_path, settings, package, refusal):
    make_batch(tmp_path / "batch")
    (tmp_path / "broken" / "marrowind").mkdir(parents=True)
    (tmp_path / "broken" / "marrowind" / "__init__.py").write_text(
        "raise ImportError('the package is broken')\n")
    before = sorted((tmp_path / "batch").iterdir())
    done = subprocess.run(snakemake_command("--cores", "2", package=package,
                                            settings=["alignments=batch", *settings]),
                          cwd=tmp_path, capture_output=True)
    assert done.returncode == 1
    [line] = refusal_lines(done)
    assert line.startswith("marrowind batch: ") and refusal in line
    assert sorted((tmp_path / "batch").iterdir()) == before
    assert not (tmp_path / "out").exists() and not (tmp_path / "batch" / "families").exists()


@pytest.mark.parametrize("setting, value, refusal", [
    ("matix", "pet91", "unknown setting matix (the settings are alignments, out, matrix,"),
    ("matrix", "README.md", "matrix=README.md: !!!! Error in Matrix !!!! README.md:"),
    ("max_threads", 0, "max_threads=0: must be a whole number of at least 1"),
    ("max_threads", "two", "max_threads=two: must be a whole number of at least 1"),
    ("target_seconds", 0, "target_seconds=0: must be a number above 0"),
    ("target_seconds", "nan", "target_seconds=nan: must be a number above 0"),
    ("approximate_above", -1, "approximate_above=-1: must be a number of at least 0"),
    ("sample", 1.5, "sample=1.5: must be a whole number of at least 1"),
    ("seed", 2**64, f"seed={2**64}: must be a whole number of at least 0 and below {2**64}"),
    ("seed", True, "seed=True: must be a whole number"),
    ("plot", "jpg", "plot=jpg: must be png or svg, or empty for none"),
    ("report", "maybe", "report=maybe: must be true or false"),
    # snakemake's --config reads out=007 as the number 7.
    ("out", 7, "out=7 is read as a number, not a path: write it as a path, such as out=./7"),
    ("out", "o{x}", "out=o{x}: snakemake reads braces in a path as a wildcard"),
    ("alignments", "", "name the alignments and where the results go"),
    ("alignments", "absent", "absent: neither a directory of alignments nor a list of them"),
])
def test_each_setting_is_checked(tmp_path, monkeypatch, setting, value, refusal):
    monkeypatch.chdir(tmp_path)
    make_batch(tmp_path / "batch")
    shutil.copy(os.path.join(SOURCE_DIR, "README.md"), "README.md")
    config = {"alignments": "batch", "out": "out", setting: value}
    with pytest.raises(ValueError) as refused:
        batch.check_settings(config)
    assert refusal in str(refused.value) and "\n" not in str(refused.value)


def test_settings_as_config_yaml_and_the_command_line_give_them():
    settings = batch.check_settings({
        "alignments": [os.path.join(EXAMPLES, "globins45.fasta")], "out": "out",
        "matrix": "pet91", "plot": None, "jalview": "yes", "report": "False",
        "max_threads": "8", "target_seconds": "1e-9", "approximate_above": "1e13",
        "sample": 64, "seed": "18446744073709551615", "marrowind_python": ""})
    assert settings._replace(families=None) == batch.Settings(
        None, "out", "pet91", "", True, False, 8, 1e-9, 1e13, 64, 2**64 - 1)
    assert list(settings.families) == ["globins45"]


def link_input(target, link):
    """Make link a symbolic link to the input target, its folders first."""
    link.parent.mkdir(parents=True, exist_ok=True)
    link.symlink_to(target.resolve())


def hard_link_input(target, link):
    link.parent.mkdir(parents=True, exist_ok=True)
    os.link(target, link)


# Layouts of a batch's inputs and its out, each set up in a folder that holds batch/ with
# a.fasta and b.fasta, and the refusal that each gets (None: the batch may run).
@pytest.mark.parametrize("out, settings, prepare, refusal", [
    ("batch", {}, None, "out=batch holds the input batch/a.fasta"),
    ("batch/a.fasta", {}, None, "out=batch/a.fasta is a file, not a directory for the results"),
    ("res", {}, lambda: link_input(Path("batch/a.fasta"), Path("res/summary.tsv")),
     "out=res: the batch would write res/summary.tsv, which is the input batch/a.fasta"),
    ("res", {"jalview": True},
     lambda: hard_link_input(Path("batch/b.fasta"), Path("res/families/a/a.jva")),
     "out=res: the batch would write res/families/a/a.jva, which is the input batch/b.fasta"),
    ("res", {"alignments": "res/list.txt"},
     lambda: (Path("res").mkdir(), Path("res/list.txt").write_text("batch/a.fasta\n")),
     "out=res holds the input res/list.txt"),
    ("res", {"matrix": "res/m.mat2"},
     lambda: (Path("res").mkdir(), shutil.copy(os.path.join(DATA, "pet91.mat2"), "res/m.mat2")),
     "out=res holds the input res/m.mat2"),
    ("link", {}, lambda: Path("link").symlink_to("batch"), "out=link holds the input"),
    # Results inside the folder of alignments: a folder is no alignment, so a second run takes
    # none of the batch's own files.
    ("batch/res", {}, lambda: (Path("batch/res").mkdir(), Path("batch/res/summary.tsv").touch()),
     None),
])
def test_outputs_never_replace_or_hold_inputs(tmp_path, monkeypatch, out, settings, prepare,
                                              refusal):
    monkeypatch.chdir(tmp_path)
    Path("batch").mkdir()
    for name in ("a.fasta", "b.fasta"):
        Path("batch", name).write_bytes(FILES["fasta"])
    if prepare:
        prepare()
    config = {"alignments": "batch", "out": out, **settings}
    if refusal is None:
        assert list(batch.check_settings(config).families) == ["a", "b"]
        return
    with pytest.raises(ValueError) as refused:
        batch.check_settings(config)
    assert str(refused.value).startswith(refusal)


@needs_snakemake
@pytest.mark.parametrize("stop, rerun_options, most_redone", [
    # kill: snakemake lets the running job finish, and the same command finishes the batch.
    ("kill", (), 0),
    # Ctrl-C: the running job is cut off too, and a job that had only just finished can be taken
    # for one cut off and be scored again.
    ("ctrl-c", ("--rerun-incomplete",), 1),
])
def test_interrupted_batch_resumes_with_the_unfinished_families(tmp_path, stop, rerun_options,
                                                                 most_redone):
    families = make_batch(tmp_path / "batch")
    # One job at a time, stopped once the first result is in.
    batch_run = subprocess.Popen(snakemake_command("--cores", "1"), cwd=tmp_path,
                                 start_new_session=True, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.PIPE)
    deadline = time.monotonic() + 120
    while not any(result(tmp_path, family).exists() for family in families):
        assert batch_run.poll() is None and time.monotonic() < deadline, batch_run.stderr.read()
        time.sleep(0.01)
    if stop == "kill":
        batch_run.send_signal(signal.SIGTERM)
    else:
        os.killpg(batch_run.pid, signal.SIGINT)
    batch_run.communicate(timeout=120)
    assert batch_run.returncode != 0
    finished = {family: result(tmp_path, family).stat() for family in families
                if result(tmp_path, family).exists()}
    assert 0 < len(finished) < len(families)
    assert not (tmp_path / "out" / "summary.tsv").exists()

    log = run_snakemake(tmp_path, "--cores", "2", *rerun_options).stderr.decode()
    redone = {family for family in families if f"wildcards: family={family}\n" in log}
    assert redone >= families.keys() - finished.keys()
    assert len(redone & finished.keys()) <= most_redone
    for family in finished.keys() - redone:
        after = result(tmp_path, family).stat()
        before = finished[family]
        assert (after.st_ino, after.st_mtime_ns) == (before.st_ino, before.st_mtime_ns)
    assert len(read_table(tmp_path / "out" / "summary.tsv")) == len(families)
    assert not list((tmp_path / "out").rglob(".*"))  # no temporary file left behind


@needs_snakemake
def test_slurm_profile_dry_run_sizes_each_job(tmp_path):
    families = make_batch(tmp_path / "batch")
    big = tmp_path / "batch" / "big.fasta"
    # 3000 sequences of 1000 columns, about a second of scoring on one core: several threads
    # where a job should take a quarter of a second.
    big.write_text("".join(f">s{i}\n{'ACDEFGHIKL' * 100}\n" for i in range(3000)))
    # A dry run counts one core unless told more; a cluster run has no such limit.
    done = run_snakemake(tmp_path, "--profile", SLURM_PROFILE, "--dry-run", "--printshellcmds",
                         "--cores", "16", settings=["alignments=batch", "target_seconds=0.25"])
    log = done.stdout.decode() + done.stderr.decode()
    assert log.count("rule score:") == len(families) + 1
    threads = batch.job_threads(str(big), 16, 0.25)
    # A submitted job asks for the memory of the snakemake that runs it there too.
    memory = batch.job_memory_mb(str(big), threads, submitted=True)
    assert 1 < threads < 16
    assert f"--threads={threads} " in log and "MARROWIND_THREADS" not in log
    assert f"mem_mb={memory}," in log
    assert not (tmp_path / "out").exists()


def load_profile_script(name):
    """The script's functions, run as a module of its own (its main part not run)."""
    return SimpleNamespace(**runpy.run_path(os.path.join(SLURM_PROFILE, f"{name}.py")))


@pytest.mark.parametrize("state, verdict", [
    ("COMPLETED", "success"),
    # scancel by root, by a user; sacct's "+" where the state is cut short.
    ("CANCELLED by 0", "failed"), ("CANCELLED by 1000", "failed"), ("CANCELLED+", "failed"),
    ("OUT_OF_MEMORY", "failed"), ("TIMEOUT", "failed"), ("NODE_FAIL", "failed"),
    ("FAILED", "failed"), ("PREEMPTED", "failed"), ("BOOT_FAIL", "failed"),
    ("PENDING", "running"), ("RUNNING", "running"), ("COMPLETING", "running"),
    ("REQUEUED", "running"), ("SUSPENDED", "running"),
])
def test_status_script_reads_every_state(state, verdict):
    assert load_profile_script("status").verdict(state) == verdict


def test_size_estimates_from_the_first_record_or_block(tmp_path):
    names = [f"sequence{i}" for i in range(40)]
    rows = ["".join("ACDEFGHIKLMNPQRSTVWY-"[(i * 7 + c * 3) % 21] for c in range(300))
            for i in range(40)]
    blocks = ["".join(f"{name:14s}{row[start:start + 60]}\n" for name, row in zip(names, rows))
              for start in range(0, 300, 60)]
    files = {
        "family.fasta.gz": gzip.compress("".join(
            f">{name} described\n{row[:150]}\n{row[150:]}\n" for name, row in zip(names, rows)
        ).encode()),
        # Inserts in lower case, which are no columns.
        "family.a3m": "".join(f">{name}\n{row[:100]}{'kw' * 30}{row[100:]}\n"
                              for name, row in zip(names, rows)).encode(),
        # Markup per sequence before the first block, which holds no residues.
        "family.sto": ("# STOCKHOLM 1.0\n"
                       + "".join(f"#=GS {name} DE a protein\n" for name in names)
                       + "\n".join(blocks) + "//\n").encode(),
        "family.aln": ("CLUSTAL W multiple sequence alignment\n\n" + "\n".join(blocks)).encode(),
    }
    for name, data in files.items():
        (tmp_path / name).write_bytes(data)
        shape = batch.estimate_shape(str(tmp_path / name))
        assert shape.sequences == pytest.approx(40, rel=0.1), name
        assert shape.columns == pytest.approx(300, rel=0.1), name
        assert shape.text_bytes == len(gzip.decompress(data) if name.endswith(".gz") else data)

"""The batch workflow under snakemake: a mixed batch scored as the program scores each file, one
summary row per input with the failed ones' errors, a batch interrupted and resumed, a dry run
through the SLURM profile, and the size estimates behind each job's resources."""
import gzip
import os
import re
import shutil
import signal
import subprocess
import time
from pathlib import Path

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


def snakemake_command(*options, settings=("alignments=batch",)):
    return [SNAKEMAKE, "-s", SNAKEFILE, *options, "--config", "out=out",
            f"marrowind_python={PACKAGE_DIR}", *settings]


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
    matrix = os.path.join(DATA, "blosum62.mat2")

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
        # The program reads FASTA only: other formats go to it as the sequences they hold.
        if source.suffix == ".fasta":
            fasta = source
        else:
            alignment = marrowind.read_alignment(source)
            fasta = tmp_path / f"{family}.as.fasta"
            fasta.write_text("".join(f">{name}\n{sequence}\n" for name, sequence
                                     in zip(alignment.names, alignment.sequences)))
        *lines, dops = program(str(fasta), matrix).splitlines(keepends=True)
        scored = tmp_path / "out" / "families" / family / f"{family}.scored.txt"
        assert scored.read_bytes() == "".join(lines).encode("latin-1")
        assert dops == f"DOPS score: {marrowind.format_dops(float(row['dops']))}\n"
        assert int(row["columns"]) == len(lines)
    # The index links each scored family's report, by a path relative to the index.
    index = (tmp_path / "out" / "index.html").read_text()
    links = re.findall(r'<a href="([^"]+)">([^<]+)</a>', index)
    assert links == [(f"families/{row['family']}/{row['family']}.report.html", row["family"])
                     for row in rows if not row["error"]]
    by_dops = read_table(tmp_path / "out" / "summary.by_dops.tsv")
    assert {row["family"] for row in by_dops[-2:]} == set(errors)
    assert [float(row["dops"]) for row in by_dops[:-2]] == sorted(
        float(row["dops"]) for row in rows if row["dops"])


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
    memory = batch.job_memory_mb(str(big), threads)
    assert 1 < threads < 16
    assert f"--threads {threads} " in log and "MARROWIND_THREADS" not in log
    assert f"mem_mb={memory}," in log
    assert not (tmp_path / "out").exists()


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

"""The batch on a SLURM cluster of one node (tools/slurm-one-node.sh), through the shipped
profile and with USER unset: every family scored as the program scores it, on no more CPUs
than the node has, each by one job that memory did not stop, in under two minutes; a job
cancelled in the queue noticed and its family scored again; a batch stopped with SIGTERM ended
once its jobs had, and resumed by the same command. Skipped, with the reason, where this
machine cannot run the cluster."""
import os
import shutil
import signal
import subprocess
import time

import pytest

from conftest import SOURCE_DIR
from test_workflow import (SLURM_PROFILE, assert_scored_as_the_program_scores, make_batch,
                           read_table, result, snakemake_command)

CLUSTER_SCRIPT = os.path.join(SOURCE_DIR, "tools", "slurm-one-node.sh")
CANNOT_RUN_HERE = 3


@pytest.fixture(scope="module")
def cluster(tmp_path_factory):
    """The environment of a command run against a fresh cluster: its slurm.conf, no USER."""
    if shutil.which("snakemake") is None:
        pytest.skip("the snakemake command is missing (Debian: snakemake)")
    directory = tmp_path_factory.mktemp("cluster")
    started = subprocess.run([CLUSTER_SCRIPT, "start", directory], capture_output=True,
                             text=True, timeout=300)
    if started.returncode == CANNOT_RUN_HERE:
        pytest.skip(started.stderr.strip())
    try:
        assert started.returncode == 0, started.stderr
        environment = {name: value for name, value in os.environ.items() if name != "USER"}
        environment["SLURM_CONF"] = str(directory / "etc" / "slurm.conf")
        yield environment
    finally:
        subprocess.run([CLUSTER_SCRIPT, "stop", directory], timeout=300, check=True)


def slurm(environment, *command):
    return subprocess.run(command, env=environment, capture_output=True, text=True,
                          check=True, timeout=60).stdout


def batch_jobs(environment):
    """The batch's jobs that the accounting recorded, in order: (id, name, state)."""
    lines = slurm(environment, "sacct", "-a", "-X", "-n", "-P",
                  "-o", "JobIDRaw,JobName,State").splitlines()
    return [tuple(line.split("|")) for line in lines if line.split("|")[1].startswith("marrowind.")]


def queued(environment):
    """The batch's jobs in the queue: {id: name}."""
    lines = slurm(environment, "squeue", "-h", "-o", "%i %j").splitlines()
    return dict(line.split() for line in lines if line.split()[1].startswith("marrowind."))


def wait_for(condition, seconds, what):
    deadline = time.monotonic() + seconds
    while not condition():
        assert time.monotonic() < deadline, f"waited {seconds} s for {what}"
        time.sleep(0.2)


def set_node(environment, state):
    node = slurm(environment, "sinfo", "-h", "-N", "-o", "%N").split()[0]
    slurm(environment, "scontrol", "update", f"NodeName={node}", f"State={state}",
          *(["Reason=held by the test"] if state == "DRAIN" else []))


def test_batch_on_slurm_scores_every_family_once(tmp_path, cluster, program):
    families = make_batch(tmp_path / "batch")
    before = batch_jobs(cluster)
    node_cpus = int(slurm(cluster, "sinfo", "-h", "-N", "-o", "%c").split()[0])
    started = time.monotonic()
    # Every family asks for all of max_threads (16), more CPUs than the node has.
    done = subprocess.run(snakemake_command("--profile", SLURM_PROFILE, settings=[
        "alignments=batch", "target_seconds=1e-9"]), cwd=tmp_path, env=cluster,
        capture_output=True, timeout=300)
    seconds = time.monotonic() - started
    assert done.returncode == 0, (done.stdout + done.stderr).decode()[-3000:]
    assert seconds < 120

    rows = read_table(tmp_path / "out" / "summary.tsv")
    assert sorted(row["family"] for row in rows) == sorted(families)
    for row in rows:
        if row["family"] == "ragged":
            assert "differ in length" in row["error"]
        else:
            assert row["error"] == "" and int(row["threads"]) == min(16, node_cpus)
            assert_scored_as_the_program_scores(tmp_path, tmp_path / "batch" /
                                                families[row["family"]], row, program)
    # One job per family, each done at its first attempt: none was stopped for its memory.
    wait_for(lambda: len(batch_jobs(cluster)) >= len(before) + len(families), 30,
             "the accounting")
    assert [state for _, _, state in batch_jobs(cluster)[len(before):]] == \
        ["COMPLETED"] * len(families)


def test_cancelled_family_and_a_batch_stopped_with_sigterm_are_scored_again(tmp_path, cluster):
    make_batch(tmp_path / "batch")
    # Four of its files, each its family's only file.
    families = {"family.a3m": "family.a3m", "family.aln": "family.aln",
                "family.sto": "family.sto", "globins45": "globins45.fasta"}
    settings = [f"alignments=[{','.join('batch/' + name for name in families.values())}]"]
    command = snakemake_command("--profile", SLURM_PROFILE, "--jobs", "3", settings=settings)
    before = {job_id for job_id, *_ in batch_jobs(cluster)}
    # The node takes no job until told, so that the jobs wait in the queue.
    set_node(cluster, "DRAIN")
    try:
        batch_run = subprocess.Popen(command, cwd=tmp_path, env=cluster,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        wait_for(lambda: len(queued(cluster)) == 3, 60, "three jobs in the queue")
        cancelled = min(queued(cluster), key=int)
        slurm(cluster, "scancel", cancelled)
        # snakemake sees the job cancelled ("CANCELLED by 0") and submits another in its place:
        # the cancelled family again, or the fourth.
        wait_for(lambda: len(queued(cluster)) == 3 and cancelled not in queued(cluster), 60,
                 "a job submitted in place of the cancelled one")
        batch_run.send_signal(signal.SIGTERM)
    finally:
        set_node(cluster, "RESUME")
    # The batch ends once the jobs it had submitted have, and submits no more.
    _, errors = batch_run.communicate(timeout=120)
    assert batch_run.returncode != 0
    finished = {family: result(tmp_path, family).stat() for family in families
                if result(tmp_path, family).exists()}
    assert len(finished) == 3, errors.decode()[-3000:]
    states = {job_id: state for job_id, _, state in batch_jobs(cluster)
              if job_id not in before}
    assert states[cancelled] == "CANCELLED by 0"
    assert sorted(states.values()) == ["CANCELLED by 0"] + ["COMPLETED"] * 3

    # The same command scores the family left, and leaves the others alone.
    done = subprocess.run(command, cwd=tmp_path, env=cluster, capture_output=True, timeout=300)
    assert done.returncode == 0, (done.stdout + done.stderr).decode()[-3000:]
    rows = read_table(tmp_path / "out" / "summary.tsv")
    assert [row["error"] for row in rows] == [""] * len(families)
    for family, before_stat in finished.items():
        assert result(tmp_path, family).stat().st_mtime_ns == before_stat.st_mtime_ns


#!/usr/bin/env python3
"""status.py: tells snakemake whether a SLURM job is running, succeeded or failed.

    status.py JOBID     prints one word: running, success or failed

The job's state comes from the accounting (sacct), or from the controller (scontrol) while the
accounting has no record of it yet. A job cancelled by anyone, whatever sacct adds to the word
("CANCELLED by 0"), failed: snakemake then submits it again or reports it, instead of waiting
for it forever. A job that neither knows any more failed too.
"""
import subprocess
import sys

# The states of a job that ended without its work done. sacct writes some with more words
# after them ("CANCELLED by 1000"), so only the first word counts.
FAILED = {"BOOT_FAIL", "CANCELLED", "DEADLINE", "FAILED", "NODE_FAIL", "OUT_OF_MEMORY",
          "PREEMPTED", "REVOKED", "TIMEOUT"}
SUCCEEDED = {"COMPLETED"}
# Every other state (PENDING, RUNNING, COMPLETING, REQUEUED, SUSPENDED, ...) may still end well.


def verdict(state):
    """running, success or failed for a job state as sacct or scontrol writes it."""
    words = state.split()
    word = words[0].rstrip("+") if words else ""
    if word in SUCCEEDED:
        return "success"
    if word in FAILED:
        return "failed"
    return "running"


def read(command):
    """The command's standard output, or "" where it fails or cannot be run."""
    try:
        done = subprocess.run(command, capture_output=True, text=True, timeout=60)
    except (OSError, subprocess.SubprocessError):
        return ""
    return done.stdout if done.returncode == 0 else ""


def job_state(job_id):
    """The job's state, "" where neither the accounting nor the controller knows the job. A job
    sent back to the queue has a record for each run: the last one counts."""
    lines = read(["sacct", "-X", "-n", "-P", "-o", "JobIDRaw,State", "-j", job_id]).splitlines()
    states = [line.split("|", 1)[1] for line in lines if line.split("|", 1)[0] == job_id]
    if states:
        return states[-1]
    for field in read(["scontrol", "-o", "show", "job", job_id]).split():
        if field.startswith("JobState="):
            return field[len("JobState="):]
    return ""


def main(argv):
    if len(argv) != 2:
        print("usage: status.py JOBID", file=sys.stderr)
        return 2
    # sbatch --parsable writes JOBID;CLUSTER on a cluster of several.
    job_id = argv[1].split(";")[0]
    state = job_state(job_id)
    print(verdict(state) if state else "failed")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

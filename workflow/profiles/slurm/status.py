#!/usr/bin/env python3
"""status.py: tells snakemake whether a SLURM job is running, succeeded or failed.

    status.py JOBID     prints one word: running, success or failed

The job's state comes from the accounting (sacct), or from the controller (scontrol) while the
accounting has no record of it yet. A job cancelled by anyone, whatever sacct adds to the word
("CANCELLED by 0"), failed: snakemake then submits it again or reports it, instead of waiting
for it forever. A job that neither knows any more failed too; one whose state could not be
asked for (the controller out of reach) is still running, and is asked for again.
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


def run(command):
    """The command's exit status, standard output and standard error; status None where it
    cannot be run or does not answer within a minute."""
    try:
        done = subprocess.run(command, capture_output=True, text=True, timeout=60)
    except (OSError, subprocess.SubprocessError) as error:
        return None, "", str(error)
    return done.returncode, done.stdout, done.stderr


def job_state(job_id):
    """The job's state; "" where the controller has no such job and the accounting no record
    of it; None where neither answered. A job sent back to the queue has a record for each run:
    the last one counts."""
    status, output, _ = run(["sacct", "-X", "-n", "-P", "-o", "JobIDRaw,State", "-j", job_id])
    if status == 0:
        states = [line.split("|", 1)[1] for line in output.splitlines()
                  if line.split("|", 1)[0] == job_id]
        if states:
            return states[-1]
    # The accounting may not have recorded a job that was submitted a moment ago.
    status, output, errors = run(["scontrol", "-o", "show", "job", job_id])
    if status == 0:
        for field in output.split():
            if field.startswith("JobState="):
                return field[len("JobState="):]
    if "Invalid job id" in errors:
        return ""
    return None


def main(argv):
    if len(argv) != 2:
        print("usage: status.py JOBID", file=sys.stderr)
        return 2
    # sbatch --parsable writes JOBID;CLUSTER on a cluster of several.
    job_id = argv[1].split(";")[0]
    state = job_state(job_id)
    if state is None:
        # The scheduler did not answer: asked again at the next round.
        print("running")
    else:
        print(verdict(state) if state else "failed")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

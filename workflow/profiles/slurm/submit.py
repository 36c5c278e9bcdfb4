#!/usr/bin/env python3
"""submit.py: submits one snakemake job script to SLURM and prints the job's id.

    submit.py JOBSCRIPT

The job asks for what its rule decided (the properties snakemake writes into the script):
--cpus-per-task its threads, --mem its mem_mb and -t its runtime in minutes, and, where the
resources name them, -A slurm_account, -p slurm_partition and the options of slurm_extra. A job
that asked for more CPUs than any node of its partition has would wait in the queue forever, so
its CPUs stop at the most that one node has (sinfo, read before each submission); in the job,
the workflow scores on the CPUs SLURM gave it.
"""
import json
import os
import re
import shlex
import subprocess
import sys

PROPERTIES = re.compile(r"# properties = (.*)")
LOGS = os.path.join(".snakemake", "slurm_logs")


def job_properties(jobscript):
    with open(jobscript) as lines:
        for line in lines:
            found = PROPERTIES.match(line)
            if found:
                return json.loads(found.group(1))
    raise ValueError(f"{jobscript} holds no job properties")


def largest_node_cpus(partition):
    """The most CPUs one node of the partition (or of the cluster) has, or None where sinfo
    cannot tell."""
    command = ["sinfo", "-h", "-N", "-o", "%c"] + (["-p", partition] if partition else [])
    try:
        done = subprocess.run(command, capture_output=True, text=True, timeout=60)
    except (OSError, subprocess.SubprocessError):
        return None
    counts = [int(word) for word in done.stdout.split() if word.isdigit()]
    return max(counts) if done.returncode == 0 and counts else None


def sbatch_command(properties, jobscript, cpus):
    resources = properties.get("resources", {})
    name = f"marrowind.{properties.get('rule', 'job')}.{properties.get('jobid', 0)}"
    command = ["sbatch", "--parsable", "-J", name,
               "-o", os.path.join(LOGS, "%j.log"), f"--cpus-per-task={cpus}"]
    if resources.get("mem_mb"):
        command.append(f"--mem={resources['mem_mb']}")
    if resources.get("runtime"):
        command.append(f"--time={resources['runtime']}")
    if resources.get("slurm_account"):
        command.append(f"--account={resources['slurm_account']}")
    if resources.get("slurm_partition"):
        command.append(f"--partition={resources['slurm_partition']}")
    command += shlex.split(str(resources.get("slurm_extra") or ""))
    return command + [jobscript]


def main(argv):
    if len(argv) != 2:
        print("usage: submit.py JOBSCRIPT", file=sys.stderr)
        return 2
    jobscript = argv[1]
    properties = job_properties(jobscript)
    cpus = int(properties.get("threads", 1))
    most = largest_node_cpus(properties.get("resources", {}).get("slurm_partition") or "")
    if most is not None:
        cpus = min(cpus, most)
    os.makedirs(LOGS, exist_ok=True)
    done = subprocess.run(sbatch_command(properties, jobscript, cpus), capture_output=True,
                          text=True)
    if done.returncode != 0:
        sys.stderr.write(done.stderr)
        return done.returncode
    # sbatch --parsable prints JOBID, or JOBID;CLUSTER on a cluster of several.
    print(done.stdout.strip().splitlines()[-1])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

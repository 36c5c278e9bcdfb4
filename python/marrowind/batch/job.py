"""One family's job: score_family scores one alignment and writes its outputs and, last, its
result; main is its command line, which workflow/Snakefile runs in a process of its own for
each family:

    python3 -m marrowind.batch --out-dir=DIR [--threads=T] [--family=NAME] [--matrix=M]
                               [--plot=png|svg] [--jalview] [--report]
                               [--approximate [--sample=M] [--seed=S]] -- ALIGNMENT

(the workflow writes each value after "=" and the alignment after "--", so that a name that
starts with "-" is never taken for an option),

writes DIR/NAME.scored.txt (the scored alignment, byte for byte as the command-line program
writes it; not for approximate scores, which it could not mark), DIR/NAME.columns.tsv (every column's score in full), optionally the plot, a
Jalview file and the HTML report, and last DIR/result.json: the family's figures, or the
one-line error that stopped it. A malformed or unreadable alignment is such an error and the
job still succeeds, so that one bad file does not stop a batch; anything else (a bad matrix, a
full disk, exhausted memory) fails the job, and a rerun tries it again.

The job scores on exactly the threads it is given (the workflow gives it what job_threads chose
and the scheduler reserved, whatever MARROWIND_THREADS says; unless told, as many as scoring
uses by default), and records that count.
"""
import contextlib
import json
import os
import resource
import signal
import sys
import time

import numpy as np

from .. import _core
from .._core import Error, InputError, SubstitutionMatrix, escape_field
from ..cli import ArgumentParser
from ..core import DEFAULT_SAMPLE, load_matrix, matrix_label, whole_number
from ..exports import write_jalview, write_scored_alignment, write_tsv
from ..output import (end_by_signal, open_output, refuse_to_overwrite_inputs,
                      remove_temporaries_on_signals)
from ..plot import plot_profile
from ..profile import conservation_profile
from ..report import write_report
from .inputs import family_name

RESULT = "result.json"
SUMMARY_FIELDS = ("family", "input", "format", "sequences", "columns", "unreliable_columns",
                  "mode", "dops", "mean_score", "median_score", "wall_s", "peak_mb", "threads",
                  "error")


def one_line(message):
    """A message (or any value) as one field of a table's line: without the blank lines and
    spaces around it, its tabs, carriage returns, line feeds and backslashes escaped by the
    core's escape_field, so that every byte is kept and the row keeps its fields."""
    return escape_field(str(message).strip())


def family_outputs(out_dir, family, plot=None, jalview=False, report=False):
    """The files a family's job writes besides its result, by kind."""
    outputs = {"scored_alignment": f"{family}.scored.txt", "columns": f"{family}.columns.tsv"}
    if plot:
        outputs["plot"] = f"{family}.{plot}"
    if jalview:
        outputs["jalview"] = f"{family}.jva"
    if report:
        outputs["report"] = f"{family}.report.html"
    return {kind: os.path.join(out_dir, name) for kind, name in outputs.items()}


def score_family(path, out_dir, family=None, matrix="blosum62", threads=None, plot=None,
                 jalview=False, report=False, approximate=False, sample=DEFAULT_SAMPLE, seed=0):
    """Score one alignment, write its outputs and then its result; return the result.

    threads: the threads to score on, a whole number of at least 1 (ValueError otherwise),
    exactly these; None: as many as scoring uses unless told (MARROWIND_THREADS when it is set,
    else the CPUs this process may run on).
    approximate, sample, seed: score it in the approximate mode (see score_alignment), which
    its outputs and its result then say.
    The result holds the family, the input, its format, sequences and columns, how many of
    those columns are not reliable (as the column table's "# reliable:" line counts them), the
    mode
    ("exact", or "approximate (sample M, seed S)"), the DOPS score, the mean and median column
    score, the wall time from reading to the last output, the process's peak memory and the
    threads it scored on; or, for an alignment that cannot be read or is malformed, the
    error's one line, with the family's earlier outputs removed. A matrix that cannot be loaded
    raises InputError, since it is no fault of the family.
    """
    start = time.monotonic()
    if threads is None:
        threads = _core.default_thread_count()
    whole_number("threads", threads, 1)
    family = family or family_name(path)
    loaded = load_matrix(matrix)
    os.makedirs(out_dir, exist_ok=True)
    outputs = family_outputs(out_dir, family, plot, jalview, report)
    inputs = [path] if isinstance(matrix, SubstitutionMatrix) else [path, matrix]
    for output in [*outputs.values(), os.path.join(out_dir, RESULT)]:
        refuse_to_overwrite_inputs(output, inputs)
    result = dict.fromkeys(SUMMARY_FIELDS)
    result.update(family=family, input=os.fspath(path), threads=threads)
    try:
        profile = conservation_profile(path, loaded, threads=threads,
                                       mode="approximate" if approximate else "exact",
                                       sample=sample, seed=seed)
    except InputError as error:
        result["error"] = one_line(error)
        for stale in outputs.values():
            with contextlib.suppress(FileNotFoundError):
                os.unlink(stale)
    else:
        profile.matrix = matrix_label(matrix)
        if profile.scores.approximate:
            # The scored alignment has no room to say that its scores are approximate: such a
            # family has none, and an exact run's earlier one goes.
            with contextlib.suppress(FileNotFoundError):
                os.unlink(outputs["scored_alignment"])
        else:
            write_scored_alignment(profile, outputs["scored_alignment"])
        unreliable = write_tsv(profile, outputs["columns"], per="column").unreliable()
        if plot:
            plot_profile(profile, outputs["plot"])
        if jalview:
            write_jalview(profile, outputs["jalview"])
        if report:
            write_report(profile, outputs["report"])
        scores = profile.scores.column_scores
        result.update(format=profile.alignment.format, sequences=len(profile.alignment),
                      columns=profile.alignment.length,
                      unreliable_columns=unreliable, mode=profile.scores.mode_label,
                      dops=float(profile.scores.dops),
                      mean_score=float(np.mean(scores)) if len(scores) else None,
                      median_score=float(np.median(scores)) if len(scores) else None)
    result["wall_s"] = round(time.monotonic() - start, 3)
    # ru_maxrss is in kilobytes on Linux.
    result["peak_mb"] = round(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024, 1)
    with open_output(os.path.join(out_dir, RESULT)) as out:
        json.dump(result, out, indent=1)
        out.write("\n")
    return result


def build_parser():
    """Return the argparse parser of python3 -m marrowind.batch."""
    parser = ArgumentParser(
        prog="python3 -m marrowind.batch",
        description="Score one alignment of a batch: the scored alignment, the column table, "
                    "optionally the plot and a Jalview file, and last its result file.")
    parser.add_argument("alignment", help="alignment file, plain or gzip-compressed")
    parser.add_argument("--out-dir", required=True, help="directory of this family's files")
    parser.add_argument("--family", help="the family's name (default: the file's name less "
                                         "its suffixes)")
    parser.add_argument("-m", "--matrix", default="blosum62",
                        help="shipped matrix or matrix file (default: blosum62)")
    parser.add_argument("-t", "--threads", type=int,
                        help="scoring threads, as job_threads chose them (default: the CPUs "
                             "this process may run on, or MARROWIND_THREADS)")
    parser.add_argument("--plot", choices=("png", "svg"), help="also write the profile plot")
    parser.add_argument("--jalview", action="store_true", help="also write a Jalview file")
    parser.add_argument("--report", action="store_true", help="also write the HTML report")
    parser.add_argument("--approximate", action="store_true",
                        help="approximate scores (weights from a sample of partners)")
    parser.add_argument("--sample", type=int, default=DEFAULT_SAMPLE,
                        help=f"with --approximate, partners per sequence (default: "
                             f"{DEFAULT_SAMPLE})")
    parser.add_argument("--seed", type=int, default=0,
                        help="with --approximate, the seed of the partners (default: 0)")
    return parser


def main(argv=None):
    """Entry point of python3 -m marrowind.batch; returns the exit status: 0 once the result is
    written (a family's own error included), 1 for any other failure, with one line on
    standard error. A signal (SIGINT, SIGTERM, SIGHUP) ends the job as that signal would, after
    removing the temporary file of any output being written."""
    args = build_parser().parse_args(argv)
    try:
        with remove_temporaries_on_signals():
            score_family(args.alignment, args.out_dir, args.family, args.matrix, args.threads,
                         args.plot, args.jalview, args.report, args.approximate, args.sample,
                         args.seed)
    except (Error, ValueError, OSError) as error:
        print(f"python3 -m marrowind.batch: {error}", file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        return end_by_signal(signal.SIGINT)
    return 0

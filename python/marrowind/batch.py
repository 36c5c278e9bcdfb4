"""Batch scoring, one family per process: the job that workflow/Snakefile runs for each alignment,
the threads and memory it asks for, and the summary of a whole batch.

    python3 -m marrowind.batch ALIGNMENT --out-dir DIR [--family NAME] [--matrix M]
                               [--threads T] [--plot png|svg] [--jalview] [--report]
                               [--approximate [--sample M] [--seed S]]

writes DIR/NAME.scored.txt (the scored alignment, byte for byte as the command-line program
writes it), DIR/NAME.columns.tsv (every column's score in full), optionally the plot, a
Jalview file and the HTML report, and last DIR/result.json: the family's figures, or the
one-line error that stopped it. A malformed or unreadable alignment is such an error and the
job still succeeds, so that one bad file does not stop a batch; anything else (a bad matrix, a
full disk, exhausted memory) fails the job, and a rerun tries it again. write_summary sums a
batch up in tables and an index page.
"""
import argparse
import contextlib
import functools
import html
import json
import math
import os
import resource
import signal
import sys
import time
import urllib.parse
from string import Template
from typing import NamedTuple

import numpy as np

from . import __version__, _core
from ._core import Error, InputError, SubstitutionMatrix
from .core import DEFAULT_SAMPLE, format_dops, format_score, load_matrix, matrix_label
from .exports import write_jalview, write_scored_alignment, write_tsv
from .output import (end_by_signal, open_output, refuse_to_overwrite_inputs,
                     remove_temporaries_on_signals)
from .plot import plot_profile
from .profile import conservation_profile
from .report import _asset, write_report

RESULT = "result.json"
SUMMARY_FIELDS = ("family", "input", "format", "sequences", "columns", "mode", "dops",
                  "mean_score", "median_score", "wall_s", "peak_mb", "threads", "error")

# The cost of a job, from measurements on 2 cores of an Intel Xeon at 2.1 GHz with AVX-512
# (README, "Scoring many alignments").
#
# Both long stages compare every pair of sequences at every column: seconds per pair-column on
# one core, with the pair distances at 16.2 G/s per core and the column scores at 6.0 G/s per
# core (AVX-512, two threads); and on the portable kernels (a processor without AVX-512, or a
# matrix outside the kernels' limits) at 1.87 and 2.6 G/s per core. The column scores work on
# blocks of 64 columns, so a narrower alignment costs as much as 64 columns.
DISTANCE_SECONDS_PER_PAIR_COLUMN = 1 / 16.2e9
COLUMN_SECONDS_PER_PAIR_COLUMN = 1 / 6.0e9
PORTABLE_SECONDS_PER_PAIR_COLUMN = 1 / 1.87e9 + 1 / 2.6e9
COLUMN_BLOCK = 64
# The approximate mode (README, "Very large alignments: the approximate mode"): the weights
# compare each sequence with its sample of partners, at 1.4 G pair-columns per second per core
# (AVX-512; the partners lie all over the alignment, so memory rather than arithmetic sets the
# pace), and the column scores pass over the residues once; the portable kernel is about three
# times slower.
APPROXIMATE_SECONDS_PER_PAIR_COLUMN = 1 / 1.4e9
APPROXIMATE_SECONDS_PER_RESIDUE = 1e-8
PORTABLE_APPROXIMATE_SLOWER = 3
# Families whose exact scores would compare more pairs of residues than this (pairs of
# sequences times columns) are scored approximately unless the batch says otherwise: 1e13 is
# about 8 minutes of exact scoring on 2 cores, 150,000 sequences of 900 columns.
APPROXIMATE_ABOVE = 1e13
# Reading, checking and writing, per byte of alignment text, with room to spare (the core reads
# every format into Python objects at 50 MB/s or more, and writes faster), and the
# interpreter's start.
SECONDS_PER_BYTE = 1 / 10e6
START_SECONDS = 1.0
# Peak memory: the interpreter with NumPy, Biopython and the package; per byte of alignment text
# its copies (the file's bytes, the decoded sequences, the bytes the core scores, its class
# codes, the transposed copy for the scored alignment); per sequence the objects that hold its
# name and residues; and the scoring's ring of distance rows, a group of rows of doubles for
# each thread and one more: 16 rows a group, fewer where the ring would pass 64 MiB, never none.
BASE_MB = 100
BYTES_PER_TEXT_BYTE = 8
BYTES_PER_SEQUENCE = 400
RING_ROWS = 16
RING_BYTES = 64 << 20


class Shape(NamedTuple):
    """What an alignment file tells about its size before it is read: its bytes of text
    (decompressed), and about how many sequences and columns it holds."""

    text_bytes: int
    sequences: int
    columns: int

    @property
    def pairs(self):
        """Pairs of sequences."""
        return self.sequences * (self.sequences - 1) // 2

    @property
    def pair_columns(self):
        """Pairs of residues that the exact scores compare: pairs of sequences times columns."""
        return self.pairs * self.columns

    def approximate(self, above=None):
        """Whether a batch that scores families of more than `above` pair_columns approximately
        (APPROXIMATE_ABOVE when None) scores this one so."""
        return self.pair_columns > (APPROXIMATE_ABOVE if above is None else above)

    def core_seconds(self, approximate=False):
        """Seconds that scoring takes on one core with the AVX-512 kernels, exactly, or
        approximately with the default sample: its pairs for the weights and one pass over the
        residues for the column scores."""
        if approximate:
            return self.sequences * self.columns * (
                min(DEFAULT_SAMPLE, self.sequences) * APPROXIMATE_SECONDS_PER_PAIR_COLUMN
                + APPROXIMATE_SECONDS_PER_RESIDUE)
        blocks = -(-self.columns // COLUMN_BLOCK)
        return self.pairs * (self.columns * DISTANCE_SECONDS_PER_PAIR_COLUMN
                             + blocks * COLUMN_BLOCK * COLUMN_SECONDS_PER_PAIR_COLUMN)


@functools.lru_cache(maxsize=None)
def estimate_shape(path):
    """Return the Shape of an alignment file from its size and its first record or block.

    FASTA, A2M and A3M: the columns of the first record (its match states in A2M and A3M), and
    as many sequences as records of that size fit in the text. Stockholm and Clustal: the
    sequences of the first block, and its first sequence's residues times the number of blocks
    of that size. gzip files are decompressed to count their text. A file that cannot be read,
    or that is no alignment, gives one sequence: its job fails at once.
    """
    try:
        return Shape(*_core.estimate_alignment_size(os.fspath(path)))
    except InputError:
        return Shape(0, 1, 0)


def job_threads(path, most, target_seconds=60.0, approximate=False):
    """Threads for one family's job: one per target_seconds of scoring on one core, at least 1
    and at most `most`, so that small families take one core each and large ones finish in
    about target_seconds."""
    seconds = estimate_shape(path).core_seconds(approximate)
    return max(1, min(int(most), math.ceil(seconds / target_seconds)))


def job_memory_mb(path, threads):
    """Megabytes one family's job needs at its peak, run on `threads` threads."""
    shape = estimate_shape(path)
    row = 8 * shape.sequences * (threads + 1)
    ring = min(RING_ROWS * row, max(RING_BYTES, row))
    text = BYTES_PER_TEXT_BYTE * shape.text_bytes + BYTES_PER_SEQUENCE * shape.sequences
    return math.ceil(BASE_MB + (text + ring) / 1e6)


def job_minutes(path, threads, approximate=False):
    """A time limit in minutes for one family's job on `threads` threads: twice what it would
    take on the portable kernels, and five minutes more."""
    shape = estimate_shape(path)
    if approximate:
        scoring = shape.core_seconds(True) * PORTABLE_APPROXIMATE_SLOWER
    else:
        scoring = shape.pair_columns * PORTABLE_SECONDS_PER_PAIR_COLUMN
    seconds = START_SECONDS + shape.text_bytes * SECONDS_PER_BYTE + scoring / threads
    return 5 + math.ceil(2 * seconds / 60)


def family_name(path):
    """The family a file holds, named after its file without ".gz" and its last suffix."""
    name = os.path.basename(os.fspath(path))
    if name.endswith(".gz"):
        name = name[:-3]
    return os.path.splitext(name)[0] or name


def list_alignments(source):
    """Return [(family, path)] of a batch, in a stable order.

    source: a directory (every file in it whose name does not start with ".", by name), a text
    file that lists one path per line (blank lines and lines starting with "#" skipped), or a
    list of paths; paths relative to the working directory. Families are named by family_name;
    files that would share a name keep their whole file name, less ".gz". Raises ValueError when
    there is nothing to score or two files still share a name.
    """
    if isinstance(source, (list, tuple)):
        paths = [os.fspath(path) for path in source]
    elif os.path.isdir(source):
        paths = sorted(os.path.join(source, name) for name in os.listdir(source)
                       if not name.startswith(".")
                       and os.path.isfile(os.path.join(source, name)))
    else:
        try:
            with open(source, encoding="utf-8") as listing:
                paths = [line.strip() for line in listing
                         if line.strip() and not line.startswith("#")]
        except OSError as error:
            raise ValueError(f"{source}: neither a directory of alignments nor a list of "
                             f"them ({error.strerror})") from error
    if not paths:
        raise ValueError(f"{source}: no alignments to score")
    names = [family_name(path) for path in paths]
    clashing = {name for name in names if names.count(name) > 1}
    names = [os.path.basename(path).removesuffix(".gz") if name in clashing else name
             for name, path in zip(names, paths)]
    for name in set(names):
        if names.count(name) > 1:
            files = ", ".join(path for path, other in zip(paths, names) if other == name)
            raise ValueError(f"these files would all be family {name}: {files}")
    return list(zip(names, paths))


def one_line(message):
    """A message as one line of a table: its lines joined and its tabs made spaces."""
    return " ".join(str(message).split())


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

    approximate, sample, seed: score it in the approximate mode (see score_alignment), which
    its outputs and its result then say.
    The result holds the family, the input, its format, sequences and columns, the mode
    ("exact", or "approximate (sample M, seed S)"), the DOPS score,
    the mean and median column score, the wall time from reading to the last output, the
    process's peak memory and the threads; or, for an alignment that cannot be read or is
    malformed, the error's one line, with the family's earlier outputs removed. A matrix that
    cannot be loaded raises InputError, since it is no fault of the family.
    """
    start = time.monotonic()
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
        write_scored_alignment(profile, outputs["scored_alignment"])
        write_tsv(profile, outputs["columns"], per="column")
        if plot:
            plot_profile(profile, outputs["plot"])
        if jalview:
            write_jalview(profile, outputs["jalview"])
        if report:
            write_report(profile, outputs["report"])
        scores = profile.scores.column_scores
        result.update(format=profile.alignment.format, sequences=len(profile.alignment),
                      columns=profile.alignment.length, mode=profile.scores.mode_label,
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


def _cell(value):
    if value is None:
        return ""
    if isinstance(value, float):
        return repr(value)
    return one_line(value)


def write_summary(result_paths, target, by_dops=None, index=None):
    """Write the summary of a batch: a tab-separated table with a header of SUMMARY_FIELDS and
    one row per result file, in the order given. by_dops, when given, receives the same rows
    from the lowest DOPS score to the highest (the families whose column scores tell least apart
    first), and the failed families last. index, when given, receives the rows as an HTML page
    (see write_index)."""
    results = []
    for path in result_paths:
        with open(path, encoding="utf-8") as result:
            results.append(json.load(result))
    tables = [(target, results)]
    if by_dops:
        scored = sorted((r for r in results if r["dops"] is not None), key=lambda r: r["dops"])
        tables.append((by_dops, scored + [r for r in results if r["dops"] is None]))
    for path, rows in tables:
        with open_output(path) as out:
            out.write("\t".join(SUMMARY_FIELDS) + "\n")
            for row in rows:
                out.write("\t".join(_cell(row[field]) for field in SUMMARY_FIELDS) + "\n")
    if index:
        write_index(results, [os.path.dirname(path) for path in result_paths], index)


# The index page's columns: heading, result field, how a value is shown, and whether the column
# sorts as numbers.
INDEX_COLUMNS = (
    ("Family", "family", str, False),
    ("Sequences", "sequences", str, True),
    ("Columns", "columns", str, True),
    ("DOPS", "dops", format_dops, True),
    ("Mean score", "mean_score", format_score, True),
    ("Mode", "mode", str, False),
    ("Format", "format", str, False),
    ("Error", "error", str, False),
)


def write_index(results, family_dirs, target):
    """Write a batch's results as an HTML page: one row per family, in the order given, sortable
    by any column; a family's name links to its report where family_dirs holds one, else to its
    column table. Links are relative to the page, so the batch's directory can move whole."""
    base = os.path.dirname(os.path.abspath(target))
    headings = "".join(
        f'<th data-type="{"number" if numeric else "text"}"><button>{title}</button></th>'
        for title, _, _, numeric in INDEX_COLUMNS)
    rows = []
    for result, family_dir in zip(results, family_dirs):
        outputs = family_outputs(family_dir, result["family"], report=True)
        linked = next((outputs[kind] for kind in ("report", "columns")
                       if os.path.exists(outputs[kind])), None)
        cells = []
        for _, field, shown, numeric in INDEX_COLUMNS:
            value = result[field]
            text = "" if value is None else html.escape(one_line(shown(value)))
            if field == "family" and linked:
                href = urllib.parse.quote(os.path.relpath(os.path.abspath(linked), base))
                text = f'<a href="{html.escape(href)}">{text}</a>'
            raw = "" if value is None else html.escape(one_line(value), quote=True)
            cells.append(f'<td{" class=number" if numeric else ""} data-value="{raw}">'
                         f"{text}</td>")
        failed = ' class="failed"' if result["error"] else ""
        rows.append(f"<tr{failed}>{''.join(cells)}</tr>")
    page = Template(_asset("index.html")).substitute(
        version=__version__, count=len(results), headings=headings, rows="\n".join(rows),
        script=_asset("index.js"))
    with open_output(target) as out:
        out.write(page)


def build_parser():
    """Return the argparse parser of python3 -m marrowind.batch."""
    parser = argparse.ArgumentParser(
        prog="python3 -m marrowind.batch",
        description="Score one alignment of a batch: the scored alignment, the column table, "
                    "optionally the plot and a Jalview file, and last its result file.")
    parser.add_argument("alignment", help="alignment file, plain or gzip-compressed")
    parser.add_argument("--out-dir", required=True, help="directory of this family's files")
    parser.add_argument("--family", help="the family's name (default: the file's name less "
                                         "its suffixes)")
    parser.add_argument("-m", "--matrix", default="blosum62",
                        help="shipped matrix or matrix file (default: blosum62)")
    parser.add_argument("-t", "--threads", type=int, help="scoring threads (default: all)")
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


if __name__ == "__main__":
    sys.exit(main())

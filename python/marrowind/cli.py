"""The command line of the package: python3 -m marrowind INPUT [options], installed by pip as
the console script marrowind-profile.

Reads an alignment in any supported format (or "-" for standard input), scores it, and writes
the reference's per-residue table (to standard output unless --output names a file) and any of
the exports, the plot and the HTML report. On a terminal, a progress bar on standard error
follows long runs.
"""
import argparse
import os
import signal
import sys
import threading
import time
import warnings

from . import __version__
from ._core import Error
from .alignment import FORMATS, read_alignment
from .context import (DEFAULT_MAX_GAP_FRACTION, DEFAULT_MIN_RESIDUES, OPTION_NAMES,
                      ContextSettings, settings_fault)
from .core import (DEFAULT_SAMPLE, available_matrices, load_matrix, matrix_label,
                   score_alignment)
from .exports import (NO_ROOM_FOR_APPROXIMATE, write_chimerax, write_jalview,
                      write_scored_alignment, write_structure, write_tsv, write_weights)
from .output import (end_by_signal, refuse_shared_outputs, refuse_to_overwrite_inputs,
                     remove_temporaries_on_signals)
from .plot import plot_format, plot_profile
from .profile import Profile
from .report import write_report
from .structure import (MIN_IDENTITY, SCORE_CATEGORY, UNSCORED, KeptBFactorsNeedMmcif,
                        map_chains)


MODULE_PROG = "python3 -m marrowind"


class ArgumentParser(argparse.ArgumentParser):
    """argparse's parser, but a usage error is one line and status 1, as every other error of
    the package's command lines is (argparse prints the whole usage and exits with 2)."""

    def error(self, message):
        self.exit(1, f"{self.prog}: {message} (see -h)\n")


def build_parser(prog=MODULE_PROG):
    """Return the argparse parser of the command line, whose usage and messages name prog."""
    parser = ArgumentParser(
        prog=prog,
        description="Score the conservation of a protein multiple sequence alignment and "
                    "number the scores along a reference sequence.")
    parser.add_argument("input", help='alignment file, plain or gzip-compressed, or "-" for '
                                      "standard input")
    parser.add_argument("-f", "--format", choices=FORMATS,
                        help="alignment format (default: detected from the content)")
    parser.add_argument("-m", "--matrix", default="blosum62",
                        help=f"shipped matrix ({', '.join(available_matrices())}) or a matrix "
                             "file (default: blosum62)")
    parser.add_argument("-r", "--reference",
                        help="reference sequence, by name or its first word, with or without "
                             "/start-end (default: the first)")
    parser.add_argument("-o", "--output", default="-",
                        help='tab-separated table file (default: "-", standard output)')
    parser.add_argument("--columns", action="store_true",
                        help="table of every alignment column instead of the reference's residues")
    parser.add_argument("--min-residues", metavar="N", type=int, default=DEFAULT_MIN_RESIDUES,
                        help="a column where fewer sequences hold a residue is not reliable "
                             f"(default: {DEFAULT_MIN_RESIDUES})")
    parser.add_argument("--max-gap-fraction", metavar="F", type=float,
                        default=DEFAULT_MAX_GAP_FRACTION,
                        help="a column whose gap fraction exceeds F is not reliable (default: "
                             f"{DEFAULT_MAX_GAP_FRACTION:g})")
    parser.add_argument("--window", metavar="N", type=int,
                        help="add a smoothed column: the mean score of the N (odd) rows centred "
                             "on each row")
    parser.add_argument("--weights", metavar="FILE",
                        help="write each sequence's name and the weight the scores used")
    parser.add_argument("--scored-alignment", metavar="FILE",
                        help="write the scored alignment as the command-line program writes it "
                             "(exact scores only)")
    parser.add_argument("--jalview", metavar="FILE", help="write a Jalview annotation file")
    parser.add_argument("--chimerax", metavar="FILE", help="write a ChimeraX attribute file")
    parser.add_argument("--structure", "--pdb", metavar="FILE",
                        help="PDB or mmCIF file, plain or gzip-compressed, to map the scores "
                             "onto: the reference is aligned with the residues of --chain")
    parser.add_argument("--chain", help="chain of --structure to score, or several separated by "
                                        "commas (A,B), by author or label ID (default: every "
                                        "protein chain that matches at --min-identity); "
                                        "without --structure, the chain that --chimerax names")
    parser.add_argument("--structure-out", "--pdb-out", metavar="FILE",
                        help="write --structure in its own format with each scored residue's "
                             f"score as its atoms' B-factor ({UNSCORED:.2f} for residues "
                             "without a score)")
    parser.add_argument("--keep-b-factors", action=argparse.BooleanOptionalAction,
                        help="--structure-out keeps the structure's B-factors and holds the "
                             f"scores in the mmCIF category {SCORE_CATEGORY} (mmCIF only; the "
                             "default for a predicted model, whose B-factors are pLDDT)")
    parser.add_argument("--min-identity", metavar="PERCENT", type=float, default=MIN_IDENTITY,
                        help="refuse a chain with fewer identical residues, as a percentage of "
                             f"the shorter sequence (default: {MIN_IDENTITY:g})")
    parser.add_argument("--plot", metavar="FILE", help="write the profile plot (.png or .svg)")
    parser.add_argument("--plot-by", choices=("column", "residue"), default="column",
                        help="plot per alignment column or per reference residue")
    parser.add_argument("--report", metavar="FILE",
                        help="write a self-contained HTML report: the profile, the alignment "
                             "and any --structure, coloured by score")
    parser.add_argument("--approximate", action="store_true",
                        help="approximate scores, for very large alignments: each weight from "
                             "a random sample of partners, column scores summed by residue "
                             "(every output says so)")
    parser.add_argument("--sample", metavar="M", type=int,
                        help="with --approximate, partners per sequence "
                             f"(default: {DEFAULT_SAMPLE})")
    parser.add_argument("--seed", metavar="S", type=int,
                        help="with --approximate, the seed that draws the partners (default: 0)")
    parser.add_argument("-q", "--quiet", action="store_true", help="no progress bar")
    parser.add_argument("--version", action="version", version=f"marrowind {__version__}")
    return parser


class Progress:
    """A one-line progress bar over the stages of a run, redrawn on standard error while a
    stage runs (the scoring releases the interpreter lock, so the drawing goes on during it).
    It appears only on a terminal and only once a run has taken more than half a second."""

    DELAY = 0.5
    WIDTH = 30

    def __init__(self, stages, stream=sys.stderr, enabled=None):
        self.stages = stages
        self.stream = stream
        self.enabled = stream.isatty() if enabled is None else enabled
        self.start = time.monotonic()
        self.done = 0
        self.current = ""
        self.drawn = False
        self._stop = threading.Event()
        self._thread = None

    def __enter__(self):
        if self.enabled:
            self._thread = threading.Thread(target=self._run, daemon=True)
            self._thread.start()
        return self

    def __exit__(self, *exc):
        if self._thread:
            self._stop.set()
            self._thread.join()
        if self.drawn:
            self.stream.write("\r\033[K")
            self.stream.flush()

    def stage(self, name):
        """Mark the previous stage as finished and `name` as running."""
        if self.current:
            self.done += 1
        self.current = name

    def _run(self):
        while not self._stop.wait(0.1):
            elapsed = time.monotonic() - self.start
            if elapsed < self.DELAY:
                continue
            filled = self.WIDTH * self.done // self.stages
            bar = "#" * filled + "-" * (self.WIDTH - filled)
            self.stream.write(f"\r[{bar}] {self.done}/{self.stages} {self.current} "
                              f"({elapsed:.1f} s)\033[K")
            self.stream.flush()
            self.drawn = True


# The options that name output files.
OUTPUT_OPTIONS = ("output", "scored_alignment", "weights", "jalview", "chimerax", "structure_out",
                  "plot", "report")


def check_outputs(args):
    """Raise InputError when an output path names one of the input files (standard input
    included): writing the results over an input would destroy it before the user notices.
    Raise ValueError when two outputs name one file, which would keep only the last."""
    inputs = [path for path in (args.input, args.matrix, args.structure) if path]
    outputs = [(f"--{option.replace('_', '-')}", getattr(args, option))
               for option in OUTPUT_OPTIONS if getattr(args, option)]
    for _, output in outputs:
        refuse_to_overwrite_inputs(output, inputs)
    refuse_shared_outputs(outputs)


def run(args):
    """Carry out a parsed command line; return the exit status."""
    # Arguments are checked before any work, so that a mistake leaves no partial output.
    if args.structure_out and not args.structure:
        raise ValueError("--structure-out needs --structure")
    fault = settings_fault(args.min_residues, args.max_gap_fraction, args.window, OPTION_NAMES)
    if fault:
        raise ValueError(fault)
    settings = ContextSettings(args.min_residues, args.max_gap_fraction, args.window)
    if not 0 <= args.min_identity <= 100:
        raise ValueError(f"--min-identity must be a percentage from 0 to 100, not "
                         f"{args.min_identity:g}")
    if args.plot:
        plot_format(args.plot)
    if not args.approximate and (args.sample is not None or args.seed is not None):
        raise ValueError("--sample and --seed need --approximate")
    if args.approximate and args.scored_alignment:
        raise ValueError(f"--scored-alignment cannot be written with --approximate: "
                         f"{NO_ROOM_FOR_APPROXIMATE}")
    check_outputs(args)
    outputs = sum(bool(x) for x in (args.scored_alignment, args.weights, args.jalview,
                                    args.chimerax, args.structure, args.structure_out, args.plot,
                                    args.report))
    with Progress(stages=2 + outputs, enabled=False if args.quiet else None) as progress:
        progress.stage("reading")
        alignment = read_alignment(args.input, args.format)
        reference = alignment.index(args.reference)
        matrix = load_matrix(args.matrix)
        mode = "approximate" if args.approximate else "exact"
        progress.stage(f"scoring {len(alignment)} sequences x {alignment.length} columns "
                       f"({mode})")
        scores = score_alignment(
            alignment, matrix, mode=mode,
            sample=DEFAULT_SAMPLE if args.sample is None else args.sample,
            seed=args.seed or 0)
        profile = Profile(alignment, scores, matrix_label(args.matrix), reference,
                          substitution_matrix=matrix)
        mapping = None
        if args.structure:
            # Before any output, so that a chain the reference does not match leaves none.
            progress.stage("aligning the reference with the structure")
            mapping = map_chains(profile, args.structure, args.chain, args.min_identity,
                                 args.keep_b_factors)
            if args.structure_out and mapping.keep_b_factors and mapping.file.format == "pdb":
                raise KeptBFactorsNeedMmcif(kept_b_factors_refusal(mapping, args))
        if args.scored_alignment:
            progress.stage("writing the scored alignment")
            write_scored_alignment(profile, args.scored_alignment)
        if args.weights:
            progress.stage("writing the weights")
            write_weights(profile, args.weights)
        if args.jalview:
            progress.stage("writing the Jalview file")
            write_jalview(profile, args.jalview)
        if args.chimerax:
            progress.stage("writing the ChimeraX file")
            write_chimerax(profile, args.chimerax, chain=args.chain, structure=mapping)
        if args.structure_out:
            progress.stage("writing the structure")
            write_structure(profile, mapping, args.structure_out, settings=settings)
        if args.plot:
            progress.stage("plotting")
            plot_profile(profile, args.plot, per=args.plot_by)
        if args.report:
            progress.stage("writing the report")
            write_report(profile, args.report, mapping, settings=settings)
    # The table comes once the bar is gone, since both may be on the one terminal.
    write_tsv(profile, args.output, per="column" if args.columns else "residue",
              settings=settings, structure=mapping)
    if mapping is not None:
        for line in mapping.summary_lines():
            print(line, file=sys.stderr)
        if mapping.predicted and args.keep_b_factors is None:
            print(f"{mapping.source}: a predicted model ({mapping.predicted}): its B-factors are "
                  f"pLDDT, shown as the table's plddt column"
                  + (f" and kept in {args.structure_out}, whose {SCORE_CATEGORY} category holds "
                     f"the scores (--no-keep-b-factors puts the scores in the B-factors)"
                     if args.structure_out else ""), file=sys.stderr)
    return 0


def kept_b_factors_refusal(mapping, args):
    """Why a PDB file cannot be written with its B-factors kept, and what to do instead."""
    why = ("--keep-b-factors" if args.keep_b_factors
           else f"a predicted model ({mapping.predicted}) keeps its B-factors, its pLDDT")
    return (f"{why}: {args.structure_out} would be a PDB file, whose only room for the scores "
            f"is its B-factors; give the structure as mmCIF (gemmi convert "
            f"{os.path.basename(mapping.source)} model.cif) to have the scores in its "
            f"{SCORE_CATEGORY} category"
            + ("" if args.keep_b_factors else ", or --no-keep-b-factors to replace the B-factors"))


def drop_unwritable_standard_output():
    """After a failed write to standard output, what is still buffered would fail again when
    the interpreter exits, with a report of its own: send it nowhere instead."""
    try:
        sys.stdout.flush()
    except OSError:
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())


def main(argv=None, prog=MODULE_PROG):
    """Entry point of python3 -m marrowind; returns the exit status (1 for an error). Usage,
    warning and error lines start with prog. A signal (SIGINT, SIGTERM, SIGHUP) ends the run
    as that signal would, after removing the temporary file of any output being written."""
    args = build_parser(prog).parse_args(argv)

    def print_warning(message, category, filename, lineno, file=None, line=None):
        # A warning (a nucleotide alignment, say) is one line, as the errors are.
        print(f"{prog}: warning: {message}", file=sys.stderr)

    try:
        with warnings.catch_warnings(), remove_temporaries_on_signals():
            warnings.showwarning = print_warning
            return run(args)
    except (Error, ValueError) as error:
        print(f"{prog}: {error}", file=sys.stderr)
        drop_unwritable_standard_output()
        return 1
    except BrokenPipeError:
        # The reader of standard output has gone (as `| head` does): nothing more to say.
        drop_unwritable_standard_output()
        return 1
    except KeyboardInterrupt:
        return end_by_signal(signal.SIGINT)


def script_main():
    """Entry point of the console script: the same command line, its lines led by the name it
    was run under (marrowind-profile), as a user who typed that name expects."""
    return main(prog=os.path.basename(sys.argv[0]))

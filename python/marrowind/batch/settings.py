"""A batch's settings, checked once before any job: check_settings turns the workflow's
configuration into Settings, or raises ValueError with one line that names the setting at
fault; and where the batch writes (summary_outputs, family_dir, log_path), which is checked
against its inputs so that no output can replace one.

snakemake reads "{name}" in any path it is given as a wildcard, and has no way to write a brace
that stands for itself: a family's folder and log are therefore named by family_key, its name
with its braces (and percent signs) percent-encoded, and an out with braces is refused.
"""
import math
import os
from typing import NamedTuple

from .._core import InputError
from ..core import DEFAULT_SAMPLE, load_matrix
from .cost import APPROXIMATE_ABOVE
from .inputs import list_alignments
from .job import RESULT, family_outputs

# Every setting the workflow knows (workflow/config.yaml documents each), with its value when
# the configuration leaves it out; alignments and out have none.
DEFAULTS = {
    "alignments": None,
    "out": None,
    "matrix": "blosum62",
    "plot": "",
    "jalview": False,
    "report": False,
    "max_threads": 16,
    "target_seconds": 60,
    "approximate_above": APPROXIMATE_ABOVE,
    "sample": DEFAULT_SAMPLE,
    "seed": 0,
    "marrowind_python": "",
}
PLOT_FORMATS = ("png", "svg")
# How a yes or no may be written: YAML's words, and what snakemake's --config makes of them.
SWITCH_WORDS = {"true": True, "yes": True, "on": True, "1": True,
                "false": False, "no": False, "off": False, "0": False}
# The batch's own files in OUT.
SUMMARY_OUTPUTS = {"table": "summary.tsv", "by_dops": "summary.by_dops.tsv",
                   "index": "index.html"}


class Settings(NamedTuple):
    """A batch's checked settings: families maps each family to its alignment file, in the
    batch's order; plot is "" for none."""

    families: dict
    out: str
    matrix: str
    plot: str
    jalview: bool
    report: bool
    max_threads: int
    target_seconds: float
    approximate_above: float
    sample: int
    seed: int


def summary_outputs(out):
    """The batch's own files, by kind (table, by_dops, index)."""
    return {kind: os.path.join(out, name) for kind, name in SUMMARY_OUTPUTS.items()}


FAMILIES_DIR = "families"
LOGS_DIR = "logs"
LOG_SUFFIX = ".log"


def family_key(family):
    """The name of a family's folder and log: its name with "%", "{" and "}" written as "%25",
    "%7B" and "%7D", so that no family's files are taken for a pattern; two families never
    share one."""
    return family.replace("%", "%25").replace("{", "%7B").replace("}", "%7D")


def family_dir(out, family):
    """The directory of one family's files."""
    return os.path.join(out, FAMILIES_DIR, family_key(family))


def log_path(out, family):
    """Where one family's job leaves its standard error."""
    return os.path.join(out, LOGS_DIR, family_key(family) + LOG_SUFFIX)


def _path(name, value):
    # snakemake reads --config out=2024 as the number 2024 (and 007 as 7), so a number is no
    # trustworthy path.
    if not isinstance(value, str):
        raise ValueError(f"{name}={value} is read as a number, not a path: write it as a path, "
                         f"such as {name}=./{value}")
    return value


def _whole_number(name, value, low, high=None):
    number = None
    if isinstance(value, int) and not isinstance(value, bool):
        number = value
    elif isinstance(value, str) and value.isascii() and value.isdigit():
        number = int(value)
    if number is None or number < low or (high is not None and number >= high):
        limit = f" and below {high}" if high is not None else ""
        raise ValueError(f"{name}={value}: must be a whole number of at least {low}{limit}")
    return number


def _number(name, value, low, above_low):
    number = None
    if isinstance(value, (int, float, str)) and not isinstance(value, bool):
        try:
            number = float(value)
        except ValueError:
            pass
    if number is None or math.isnan(number) or number < low or (above_low and number == low):
        bound = "above" if above_low else "of at least"
        raise ValueError(f"{name}={value}: must be a number {bound} {low:g}")
    return number


def _switch(name, value):
    word = str(value).lower()
    if word not in SWITCH_WORDS:
        raise ValueError(f"{name}={value}: must be true or false")
    return SWITCH_WORDS[word]


def check_settings(config):
    """Return the Settings of a batch's configuration (a mapping of setting to value, as
    snakemake's config holds it), every one checked; raise ValueError with one line naming
    the first setting at fault: an unknown setting, a missing alignments or out, a path given
    as a number, a matrix that cannot be loaded, a plot format, switch or number out of its
    range, alignments that cannot be listed, and an out that would replace an input (see
    check_outputs)."""
    unknown = sorted(set(config) - set(DEFAULTS))
    if unknown:
        raise ValueError(f"unknown setting {unknown[0]} (the settings are "
                         f"{', '.join(DEFAULTS)})")
    given = {**DEFAULTS, **{name: value for name, value in config.items() if value is not None}}
    if not given["alignments"] or not given["out"]:
        raise ValueError("name the alignments and where the results go: "
                         "--config alignments=DIR out=OUT")
    alignments = given["alignments"]
    if not isinstance(alignments, (list, tuple)):
        alignments = _path("alignments", alignments)
    out = _path("out", given["out"])
    if "{" in out or "}" in out:
        raise ValueError(f"out={out}: snakemake reads braces in a path as a wildcard; choose "
                         f"an out without them")
    matrix = _path("matrix", given["matrix"] or DEFAULTS["matrix"])
    try:
        load_matrix(matrix)
    except InputError as error:
        # One line on a terminal: the message's lines joined, as a reader would read them.
        reason = " ".join(str(error).split())
        raise ValueError(f"matrix={matrix}: {reason.removeprefix('Error: ')}") from None
    plot = given["plot"] or ""
    if plot not in PLOT_FORMATS and plot != "":
        raise ValueError(f"plot={plot}: must be {' or '.join(PLOT_FORMATS)}, or empty for none")
    settings = Settings(
        families={}, out=out, matrix=matrix, plot=plot,
        jalview=_switch("jalview", given["jalview"]),
        report=_switch("report", given["report"]),
        max_threads=_whole_number("max_threads", given["max_threads"], 1),
        target_seconds=_number("target_seconds", given["target_seconds"], 0, True),
        approximate_above=_number("approximate_above", given["approximate_above"], 0, False),
        sample=_whole_number("sample", given["sample"], 1),
        seed=_whole_number("seed", given["seed"], 0, 2**64))
    families = dict(list_alignments(alignments))
    # The listing and the matrix are read by the batch too.
    inputs = list(families.values()) + [path for path in (alignments, matrix)
                                        if isinstance(path, str) and os.path.isfile(path)]
    check_outputs(settings._replace(families=families), inputs)
    return settings._replace(families=families)


def batch_outputs(settings):
    """Every path that a batch with these settings writes."""
    outputs = list(summary_outputs(settings.out).values())
    for family in settings.families:
        directory = family_dir(settings.out, family)
        outputs += family_outputs(directory, family, settings.plot, settings.jalview,
                                  settings.report).values()
        outputs += [os.path.join(directory, RESULT), log_path(settings.out, family)]
    return outputs


def _under(path, directory):
    return path == directory or path.startswith(directory.rstrip(os.sep) + os.sep)


def check_outputs(settings, inputs):
    """Raise ValueError unless the batch can write all its outputs without replacing one of
    its inputs (paths): out must not be a file, nor hold an input (links followed), and no
    output may already be an input under another name (a link, a hard link)."""
    out = settings.out
    if os.path.exists(out) and not os.path.isdir(out):
        raise ValueError(f"out={out} is a file, not a directory for the results")
    real_out = os.path.realpath(out)
    identities = {}
    for path in inputs:
        if _under(os.path.realpath(path), real_out):
            raise ValueError(f"out={out} holds the input {path}: the results would mix with "
                             f"the inputs; choose an out outside them")
        try:
            status = os.stat(path)
        except OSError:
            continue
        identities[(status.st_dev, status.st_ino)] = path
    for output in batch_outputs(settings):
        try:
            status = os.stat(output)
        except OSError:
            continue
        named = identities.get((status.st_dev, status.st_ino))
        if named is not None:
            raise ValueError(f"out={out}: the batch would write {output}, which is the input "
                             f"{named}")

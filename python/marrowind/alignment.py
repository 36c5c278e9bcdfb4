"""Reading alignments: aligned FASTA, Stockholm, A2M, A3M and Clustal, plain or gzip-compressed.

Aligned FASTA goes through the scoring core's own reader, so a file gives exactly the sequences
that the command line scores. Stockholm and Clustal are read with Biopython's AlignIO. A2M and
A3M mark insert states, residues that the model did not align, in lower case (and pad them with
"." in A2M); only the match columns (upper case and "-") form the alignment, so the inserts are
dropped. Residues are kept as written otherwise: the scoring upper-cases them and reads "." as
"-", as the command line does. gzip data is decompressed by the scoring core, exactly as the
program decompresses a file.
"""
import io
import os
import re
import sys
from dataclasses import dataclass, field

from . import _core
from ._core import InputError

FORMATS = ("fasta", "stockholm", "a2m", "a3m", "clustal")
GZIP_MAGIC = b"\x1f\x8b"
# "name/start-end", as Pfam labels the stretch of a sequence that an alignment holds.
RANGE_LABEL = re.compile(r"/(\d+)-(\d+)$")
# Pseudo-sequences that HH-suite adds to A3M files: secondary structure, not residues.
A3M_ANNOTATIONS = ("ss_pred", "ss_conf", "ss_dssp", "sa_dssp", "ss_cons")


@dataclass
class Alignment:
    """Aligned sequences with their names, in input order.

    names and sequences are lists of str (bytes that are not UTF-8 are kept as surrogate
    escapes and scored as the bytes they were). starts holds, per sequence, the residue
    number of its first residue when its name ends in "/start-end", else None.
    """

    names: list
    sequences: list
    format: str = "fasta"
    source: str = "<text>"
    starts: list = field(default=None)

    def __post_init__(self):
        if self.starts is None:
            self.starts = [None] * len(self.names)
            for i, name in enumerate(self.names):
                match = RANGE_LABEL.search(name)
                if match:
                    self.starts[i] = int(match.group(1))

    def __len__(self):
        return len(self.sequences)

    @property
    def length(self):
        """The number of columns."""
        return len(self.sequences[0]) if self.sequences else 0

    def index(self, reference=None):
        """Return the index of a sequence given by index, by name, or None for the first.

        A name matches in full ("HBA_HUMAN/2-142 Hemoglobin alpha"), or by its first word
        with or without its "/start-end" label ("HBA_HUMAN/2-142", "HBA_HUMAN"). Raises
        InputError when no sequence, or more than one, matches.
        """
        if reference is None:
            reference = 0
        if isinstance(reference, int):
            if not -len(self.names) <= reference < len(self.names):
                raise InputError(f"{self.source}: there is no sequence {reference}")
            return reference % len(self.names)
        if reference in self.names:
            return self.names.index(reference)
        found = [i for i, name in enumerate(self.names)
                 if reference in (identifier(name), RANGE_LABEL.sub("", identifier(name)))]
        if len(found) != 1:
            problem = "no sequence" if not found else "more than one sequence"
            raise InputError(f"{self.source}: {problem} is named {reference}")
        return found[0]


def identifier(name):
    """Return a sequence's identifier: the first word of its name."""
    return (name.split() or [""])[0]


def detect_format(data, source=""):
    """Return the format of alignment bytes from their first line, or from a file name's
    suffix (.a2m, .a3m) for files that start with ">". Raises InputError when it cannot tell."""
    first = next((line.strip() for line in data.splitlines() if line.strip()), b"")
    if first.startswith(b"# STOCKHOLM"):
        return "stockholm"
    if first.startswith((b"CLUSTAL", b"MUSCLE", b"PROBCONS")):
        return "clustal"
    suffix = os.path.splitext(source[:-3] if source.endswith(".gz") else source)[1].lower()
    if suffix in (".a2m", ".a3m"):
        return suffix[1:]
    if first.startswith(b"#"):
        return "a3m"  # HH-suite's A3M files start with "#A3M#" or a comment
    if first.startswith(b">"):
        return "fasta"
    raise InputError(f"{source or 'the input'}: not an alignment in a known format "
                     f"({', '.join(FORMATS)})")


def read_alignment(source, format=None):
    """Read an alignment from a path, "-" for standard input, or a binary file object.

    format: one of FORMATS, or None to detect it from the content. gzip-compressed input is
    recognised from its content. Raises InputError for a file that cannot be opened or read,
    or that is not a valid alignment.
    """
    if hasattr(source, "read"):
        data = source.read()
        name = getattr(source, "name", "<stream>")
    elif os.fspath(source) == "-":
        data = sys.stdin.buffer.read()
        name = "standard input"
    else:
        name = os.fspath(source)
        try:
            with open(name, "rb") as handle:
                data = handle.read()
        except OSError as error:
            raise InputError(_core.cannot_open_message(name)) from error
    return parse_alignment(data, format, source=str(name))


def parse_alignment(data, format=None, source="<text>"):
    """Read an alignment held in memory (bytes or str); see read_alignment."""
    if isinstance(data, str):
        data = data.encode("utf-8", "surrogateescape")
    if data.startswith(GZIP_MAGIC):
        try:
            data = _core.gunzip(data, source)
        except InputError as error:
            raise InputError(f"{error}: its gzip data is damaged or cut short") from None
    detected = format is None
    if detected:
        format = detect_format(data, source)
    if format not in FORMATS:
        raise ValueError(f"unknown alignment format {format!r}; one of {', '.join(FORMATS)}")

    if format in ("stockholm", "clustal"):
        names, sequences = _read_with_biopython(data, format, source)
    else:
        names, sequences = _read_fasta_family(data, format)
        if detected and format == "fasta" and _ragged(sequences) and _is_a3m(names, sequences):
            format = "a3m"
            names, sequences = _a3m_match_columns(names, sequences)
    _check_aligned(names, sequences, source)
    return Alignment(names, sequences, format, source)


def _decode(text):
    return text.decode("utf-8", "surrogateescape")


def _read_fasta_family(data, format):
    if format in ("a2m", "a3m"):
        # Comment lines before the first record ("#A3M#") are not residues.
        lines = data.splitlines(keepends=True)
        while lines and not lines[0].startswith(b">"):
            lines.pop(0)
        data = b"".join(lines)
    raw_names, raw_sequences = _core.parse_fasta(data)
    names = [_decode(name) for name in raw_names]
    sequences = [_decode(sequence) for sequence in raw_sequences]
    if format in ("a2m", "a3m"):
        names, sequences = _a3m_match_columns(names, sequences)
    return names, sequences


def _a3m_match_columns(names, sequences):
    """Drop the annotation pseudo-sequences and every sequence's insert states."""
    kept = [i for i, name in enumerate(names) if identifier(name) not in A3M_ANNOTATIONS]
    return [names[i] for i in kept], [_match_states(sequences[i]) for i in kept]


def _match_states(sequence):
    return "".join(c for c in sequence if not (c.islower() or c == "."))


def _is_a3m(names, sequences):
    """Whether ragged aligned FASTA is A3M without its name: in A3M the first sequence, the
    query, has only match states, and every other one has as many once its inserts are gone.
    A file whose first sequence has inserts (lower case FASTA, for one) is ragged FASTA."""
    _, kept = _a3m_match_columns(names, sequences)
    query = kept[0] if kept else ""
    return query != "" and _match_states(query) == query and not _ragged(
        [_match_states(sequence) for sequence in kept])


def _read_with_biopython(data, format, source):
    from Bio import AlignIO

    text = io.StringIO(_decode(data), newline=None)
    try:
        alignment = AlignIO.read(text, format)
    except (ValueError, AssertionError, IndexError, KeyError) as error:
        problem = str(error) or "malformed"
        raise InputError(f"{source}: not a valid {format} alignment ({problem})") from error
    return [record.id for record in alignment], [str(record.seq) for record in alignment]


def _ragged(sequences):
    return len({len(sequence) for sequence in sequences}) > 1


def _check_aligned(names, sequences, source):
    if not sequences:
        raise InputError(f"{source}: no sequences")
    for name, sequence in zip(names, sequences):
        if len(sequence) != len(sequences[0]):
            raise InputError(f"{source}: sequences differ in length ({names[0]} has "
                             f"{len(sequences[0])} columns, {name} has {len(sequence)})")

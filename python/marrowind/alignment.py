"""Reading alignments: aligned FASTA, Stockholm, A2M, A3M and Clustal, plain or gzip-compressed.

Residues are kept byte for byte, one character per byte (a byte outside ASCII as its surrogate
escape), so that a sequence has as many columns here as the scoring core and the command-line
program count: a residue written as two bytes of UTF-8 is two columns, as in the program.
Aligned FASTA goes through the scoring core's own reader, so a file gives exactly the sequences
that the command line scores. A2M and A3M mark insert states, residues that the model did not
align, in lower case (and pad them with "." in A2M); only the match columns (upper case and "-")
form the alignment, so the inserts are dropped. Stockholm and Clustal are read here line by
line and held to their formats' rules, which Biopython's lenient reader does not enforce (it
also takes ASCII residues only). Residues are kept as written otherwise: the scoring
upper-cases them and reads "." as "-", as the command line does. gzip data is decompressed by
the scoring core, exactly as the program decompresses a file.

A malformed file raises InputError with one line naming the file and, where there is one, the
line at fault. An alignment whose residues look like nucleotides gives a NucleotideWarning.
"""
import os
import re
import sys
import warnings
from dataclasses import dataclass, field

import numpy as np

from . import _core
from ._core import InputError
from .core import encode

FORMATS = ("fasta", "stockholm", "a2m", "a3m", "clustal")
GZIP_MAGIC = b"\x1f\x8b"
# "name/start-end", as Pfam labels the stretch of a sequence that an alignment holds.
RANGE_LABEL = re.compile(r"/(\d+)-(\d+)$")
# Pseudo-sequences that HH-suite adds to A3M files: secondary structure, not residues.
A3M_ANNOTATIONS = ("ss_pred", "ss_conf", "ss_dssp", "sa_dssp", "ss_cons")
# The first words of the Clustal files that Clustal and other aligners write.
CLUSTAL_HEADERS = (b"CLUSTAL", b"MUSCLE", b"PROBCONS", b"MSAPROBS", b"Kalign")
# Stockholm's markup lines, what each must hold and its least number of fields: "#=GF feature
# text", "#=GS name feature text" (the text may be empty, as in some databases' files),
# "#=GR name feature annotation", "#=GC feature annotation".
STOCKHOLM_MARKUP = {b"#=GF": ("a feature", 2),
                    b"#=GS": ("a sequence name and a feature", 3),
                    b"#=GR": ("a sequence name, a feature and its annotation", 4),
                    b"#=GC": ("a feature and its annotation", 3)}
# The residues that DNA and RNA are written in (N: any base), either case; and the gaps, which
# are no residues of either kind.
NUCLEOTIDES = "ACGTUNacgtun"
GAPS = "-."


class NucleotideWarning(UserWarning):
    """The alignment looks like DNA or RNA, but the substitution matrices score amino acids."""


@dataclass
class Alignment:
    """Aligned sequences with their names, in input order.

    names and sequences are lists of str. A sequence holds one character per byte, as the
    scoring counts columns: str given with characters outside ASCII is stored as its UTF-8
    bytes, each byte outside ASCII as its surrogate escape, and bytes likewise, so that writing
    a sequence with errors="surrogateescape" gives back exactly its bytes. starts holds, per
    sequence, the residue number of its first residue when its name ends in "/start-end", else
    None.
    """

    names: list
    sequences: list
    format: str = "fasta"
    source: str = "<text>"
    starts: list = field(default=None)

    def __post_init__(self):
        self.sequences = [sequence if isinstance(sequence, str) and sequence.isascii()
                          else _one_per_byte(encode(sequence)) for sequence in self.sequences]
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

    def count_nucleotides(self, chunk=4096):
        """Return (nucleotides, residues): how many of the residues (every character but the
        gaps "-" and ".") are A, C, G, T, U or N in either case, and how many there are.

        Every character is one byte, so the bytes are tallied, `chunk` sequences at a time."""
        tally = np.zeros(256, dtype=np.int64)
        for first in range(0, len(self.sequences), chunk):
            rows = b"".join(encode(s) for s in self.sequences[first:first + chunk])
            tally += np.bincount(np.frombuffer(rows, dtype=np.uint8), minlength=256)
        residues = int(tally.sum() - sum(tally[ord(gap)] for gap in GAPS))
        nucleotides = int(sum(tally[ord(base)] for base in NUCLEOTIDES))
        return nucleotides, residues


def identifier(name):
    """Return a sequence's identifier: the first word of its name."""
    return (name.split() or [""])[0]


def _first_line(data):
    """The first line of data that is not blank, stripped (b"" when there is none), found
    without splitting the rest: an alignment can be gigabytes."""
    start = 0
    while start < len(data):
        end = data.find(b"\n", start)
        end = len(data) if end < 0 else end
        line = data[start:end].strip()
        if line:
            return line
        start = end + 1
    return b""


def detect_format(data, source=""):
    """Return the format of alignment bytes from their first line, or from a file name's
    suffix (.a2m, .a3m) for files that start with ">". Raises InputError when it cannot tell."""
    first = _first_line(data)
    if first.startswith(b"# STOCKHOLM"):
        return "stockholm"
    if first.startswith(CLUSTAL_HEADERS):
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


def read_file(path):
    """Return the bytes of the file at path. Raises InputError when it cannot be opened."""
    try:
        with open(path, "rb") as handle:
            return handle.read()
    except OSError as error:
        raise InputError(_core.cannot_open_message(path)) from error


def decompressed(data, source):
    """Return data, decompressed by the scoring core when it is gzip data (as the program
    reads it). Raises InputError naming source when the gzip data is damaged or cut short."""
    if not data.startswith(GZIP_MAGIC):
        return data
    try:
        return _core.gunzip(data, source)
    except InputError as error:
        raise InputError(f"{error}: its gzip data is damaged or cut short") from None


def read_alignment(source, format=None):
    """Read an alignment from a path, "-" for standard input, or a binary file object.

    format: one of FORMATS, or None to detect it from the content. gzip-compressed input is
    recognised from its content. Raises InputError for a file that cannot be opened or read,
    or that is not a valid alignment; warns with NucleotideWarning (see parse_alignment).
    """
    if hasattr(source, "read"):
        data = source.read()
        name = getattr(source, "name", "<stream>")
    elif os.fspath(source) == "-":
        data = sys.stdin.buffer.read()
        name = "standard input"
    else:
        name = os.fspath(source)
        alignment = _read_fasta_file(name, format)
        if alignment is None:
            alignment = _parse(read_file(name), format, name)
        _warn_if_nucleotides(alignment)
        return alignment
    alignment = _parse(data, format, str(name))
    _warn_if_nucleotides(alignment)
    return alignment


def _read_fasta_file(path, format):
    """Read a plain aligned FASTA file through the scoring core's file reader, which streams it:
    its text is never held whole, which an alignment of a million sequences cannot spare. None
    for any other file (another format, gzip data, a first line beyond the first 64 KiB), which
    is read whole."""
    try:
        with open(path, "rb") as handle:
            head = handle.read(1 << 16)
    except OSError as error:
        raise InputError(_core.cannot_open_message(path)) from error
    if head.startswith(GZIP_MAGIC) or not _first_line(head):
        return None
    if (format or detect_format(head, path)) != "fasta":
        return None
    names, sequences = _decoded(*_core.read_fasta(path))
    return _fasta_alignment(names, sequences, format is None, path)


def parse_alignment(data, format=None, source="<text>"):
    """Read an alignment held in memory (bytes or str); see read_alignment.

    Warns with NucleotideWarning when more than half of the residues (every character but the
    gaps "-" and ".") are A, C, G, T, U or N, in either case: the matrices score amino acids,
    and such an alignment is most likely DNA or RNA.
    """
    alignment = _parse(data, format, source)
    _warn_if_nucleotides(alignment)
    return alignment


def _warn_if_nucleotides(alignment):
    nucleotides, residues = alignment.count_nucleotides()
    if nucleotides > residues / 2:
        # Shown at the line that called read_alignment or parse_alignment.
        warnings.warn(NucleotideWarning(
            f"{alignment.source}: {nucleotides} of its {residues} residues are A, C, G, T, U or "
            f"N: this looks like a nucleotide alignment, but the substitution matrices score "
            f"amino acids"), stacklevel=3)


def _parse(data, format, source):
    if isinstance(data, str):
        data = data.encode("utf-8", "surrogateescape")
    data = decompressed(data, source)
    detected = format is None
    if detected:
        format = detect_format(data, source)
    if format not in FORMATS:
        raise ValueError(f"unknown alignment format {format!r}; one of {', '.join(FORMATS)}")

    if format == "stockholm":
        names, sequences = _read_stockholm(data, source)
    elif format == "clustal":
        names, sequences = _read_clustal(data, source)
    else:
        names, sequences = _read_fasta_family(data, format)
        if format == "fasta":
            return _fasta_alignment(names, sequences, detected, source)
    _check_aligned(names, sequences, source)
    return Alignment(names, sequences, format, source)


def _fasta_alignment(names, sequences, detected, source):
    """The Alignment of aligned FASTA records; ragged records whose format was not given are
    read as A3M when they look like it."""
    format = "fasta"
    if detected and _ragged(sequences) and _is_a3m(names, sequences):
        format = "a3m"
        names, sequences = _a3m_match_columns(names, sequences)
    _check_aligned(names, sequences, source)
    return Alignment(names, sequences, format, source)


def _one_per_byte(raw):
    """Return bytes as str, one character per byte: ASCII as itself, any other byte as its
    surrogate escape."""
    return raw.decode("ascii", "surrogateescape")


def _name(raw):
    return raw.decode("utf-8", "surrogateescape")


def _decoded(names, sequences):
    """The core's records as str, converted in place so that each record's bytes go as its str
    arrives."""
    for i, name in enumerate(names):
        names[i] = _name(name)
    for i, sequence in enumerate(sequences):
        sequences[i] = _one_per_byte(sequence)
    return names, sequences


def _read_fasta_family(data, format):
    if format in ("a2m", "a3m"):
        # Comment lines before the first record ("#A3M#") are not residues.
        lines = data.splitlines(keepends=True)
        while lines and not lines[0].startswith(b">"):
            lines.pop(0)
        data = b"".join(lines)
    names, sequences = _decoded(*_core.parse_fasta(data))
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


class _Blocks:
    """The sequences of an interleaved alignment (Stockholm, Clustal): blocks of lines, each
    a name and a stretch of that sequence's residues. Every block lists the same sequences in
    the same order; a sequence's residues are its stretches joined."""

    def __init__(self, refuse):
        self.refuse = refuse  # refuse(line_number, problem) raises the InputError
        self.names = []       # in the first block's order
        self.stretches = {}
        self.block = set()    # the names of the block being read
        self.block_line = 0
        self.first_done = False

    def add(self, number, name, residues):
        if not self.block:
            self.block_line = number
        if name in self.block:
            self.refuse(number, f"{_name(name)} appears twice in one block")
        self.block.add(name)
        position = len(self.block) - 1
        if not self.first_done:
            self.names.append(name)
            self.stretches[name] = []
        elif position >= len(self.names) or name != self.names[position]:
            expected = _name(self.names[position]) if position < len(self.names) else "none"
            self.refuse(number, f"{_name(name)} where the first block has {expected} (every "
                                f"block lists the same sequences in the same order)")
        self.stretches[name].append(residues)

    def end(self):
        """Close the block being read, if any."""
        if self.first_done and 0 < len(self.block) < len(self.names):
            self.refuse(self.block_line, f"the block starting here lacks "
                                         f"{_name(self.names[len(self.block)])} (every block "
                                         f"lists the same sequences in the same order)")
        if self.block:
            self.first_done = True
        self.block = set()

    def sequences(self):
        return ([_name(name) for name in self.names],
                [_one_per_byte(b"".join(self.stretches[name])) for name in self.names])


def _refuser(source, format):
    def refuse(number, problem):
        where = f"line {number}: " if number else ""
        raise InputError(f"{source}: not a valid {format} alignment: {where}{problem}")
    return refuse


def _header_line(lines, accepted, refuse, header):
    """Return the index of the first line that is not blank, which must start with one of
    `accepted`."""
    first = next((i for i, line in enumerate(lines) if line.strip()), None)
    if first is None or not lines[first].lstrip().startswith(accepted):
        refuse(0, f"it does not start with {header}")
    return first


def _read_stockholm(data, source):
    """Read one Stockholm alignment: a "# STOCKHOLM 1.x" line, then blocks of "name residues"
    lines separated by blank lines, markup ("#=GF", "#=GS", "#=GR", "#=GC") and comment lines
    among them, and a closing "//" line. Markup is checked and set aside."""
    refuse = _refuser(source, "Stockholm")
    lines = data.splitlines()
    start = _header_line(lines, b"# STOCKHOLM 1.", refuse, 'a "# STOCKHOLM 1.0" line')
    blocks = _Blocks(refuse)
    named = []        # (line number, sequence name) of every #=GS and #=GR line
    annotations = {}  # (name or None, feature) of #=GR and #=GC lines -> [first line, columns]
    end = None
    for number, line in enumerate(lines[start + 1:], start + 2):
        fields = line.split()
        if not fields:
            blocks.end()
        elif fields == [b"//"]:
            end = number
            break
        elif line.startswith(b"#="):
            what, count = STOCKHOLM_MARKUP.get(fields[0], (None, 0))
            if what is None:
                refuse(number, f"unknown markup {_name(fields[0])} (there are #=GF, #=GS, "
                               f"#=GR and #=GC)")
            parts = line.split(None, count - 1)
            if len(parts) < count:
                refuse(number, f"{_name(fields[0])} needs {what}")
            if fields[0] == b"#=GF" and fields[1] == b"ID" and len(fields) < 3:
                refuse(number, "#=GF ID needs the alignment's name")
            if fields[0] in (b"#=GS", b"#=GR"):
                named.append((number, parts[1]))
            if fields[0] in (b"#=GR", b"#=GC"):
                key = (parts[1], parts[2]) if fields[0] == b"#=GR" else (None, parts[1])
                entry = annotations.setdefault(key, [number, 0])
                entry[1] += len(parts[-1].strip())
        elif line.startswith(b"#"):
            continue  # a comment
        elif len(fields) != 2:
            refuse(number, "a sequence line is a name and its residues, with no space among "
                           "the residues")
        else:
            blocks.add(number, *fields)
    if end is None:
        refuse(0, 'it does not end with a "//" line')
    blocks.end()
    rest = next((i for i in range(end, len(lines)) if lines[i].strip()), None)
    if rest is not None:
        another = lines[rest].startswith(b"# STOCKHOLM")
        refuse(rest + 1, "a second alignment starts here; give one alignment per file"
               if another else 'text after the "//" line that ends the alignment')
    names, sequences = blocks.sequences()
    if not names:
        refuse(0, "it holds no sequences")
    lengths = {name: len(residues) for name, residues in zip(blocks.names, sequences)}
    for number, name in named:
        if name not in lengths:
            refuse(number, f"markup for {_name(name)}, which is no sequence of the alignment")
    for (name, feature), (number, columns) in annotations.items():
        expected = lengths[name] if name is not None else len(sequences[0])
        if columns != expected:
            refuse(number, f"the {_name(feature)} annotation has {columns} columns, the "
                           f"sequences {expected}")
    return names, sequences


def _read_clustal(data, source):
    """Read a Clustal alignment: a "CLUSTAL" (or "MUSCLE", "PROBCONS") line, then blocks of
    "name residues" lines, each line perhaps ending in a count of residues, and under each block
    perhaps a line of conservation marks ("*", ":", "."), which starts with a space."""
    refuse = _refuser(source, "Clustal")
    lines = data.splitlines()
    start = _header_line(lines, CLUSTAL_HEADERS, refuse, 'a "CLUSTAL" line')
    blocks = _Blocks(refuse)
    for number, line in enumerate(lines[start + 1:], start + 2):
        fields = line.split()
        if not fields:
            blocks.end()
        elif line[:1].isspace():
            if line.strip(b" \t*:.\r"):
                refuse(number, "a line that starts with a space holds conservation marks "
                               "(*, :, .) only")
        elif len(fields) == 2 or (len(fields) == 3 and fields[2].isdigit()):
            blocks.add(number, fields[0], fields[1])
        else:
            refuse(number, "a sequence line is a name and its residues, perhaps followed by "
                           "their count")
    blocks.end()
    names, sequences = blocks.sequences()
    if not names:
        refuse(0, "it holds no sequences")
    return names, sequences


def _ragged(sequences):
    return len({len(sequence) for sequence in sequences}) > 1


def _check_aligned(names, sequences, source):
    if not sequences:
        raise InputError(f"{source}: no sequences")
    for name, sequence in zip(names, sequences):
        if len(sequence) != len(sequences[0]):
            raise InputError(f"{source}: sequences differ in length ({names[0]} has "
                             f"{len(sequences[0])} columns, {name} has {len(sequence)})")

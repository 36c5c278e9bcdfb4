"""Output files that end up complete or exactly as they were before, written by the scoring core.

open_output is the one way the package writes a file. It hands each file to the core's
OutputFile, the very one the command-line program writes with: a temporary file beside the
target, renamed over it only once all of it is written, flushed and synced; the file open on
standard output or standard error written through that stream; a pipe, terminal or device
written directly. A failure or an exception while writing leaves the old file byte for byte,
and two processes writing one target at once leave one of their results whole. Python's own
buffers sit in front of it, so that a table of a million rows costs a call into the core per
megabyte, not per row.

remove_temporaries_on_signals lets a command line have SIGINT, SIGTERM, SIGHUP and SIGXFSZ
remove the temporary file of every output being written before they end the process;
refuse_to_overwrite_inputs is the guard against an output that names an input, and
refuse_shared_outputs the guard against two outputs that name one file, of which only the last
written would be left.
"""
import contextlib
import io
import os
import signal
import stat
import sys

from . import _core

# Bytes that Python gathers before each call into the core.
BUFFER_BYTES = 1 << 20


class _CoreWriter(io.RawIOBase):
    """The raw layer under Python's buffers: each write goes to the core's output file, until
    drop() sends what is left nowhere (a file being discarded)."""

    def __init__(self, output):
        super().__init__()
        self.output = output

    def writable(self):
        return True

    def write(self, data):
        if self.output is None:
            return memoryview(data).nbytes
        return self.output.write(data)

    def drop(self):
        self.output = None


def _is_process_stdout(stream):
    """Whether a Python stream writes to descriptor 1 (not a capture or a notebook's stream)."""
    try:
        return stream.fileno() == 1
    except (AttributeError, OSError, ValueError):
        return False


@contextlib.contextmanager
def open_output(target, binary=False):
    """Yield a stream for one output, text (UTF-8, "\\n" line ends) or binary.

    target: a path; "-" for standard output; or an open stream, used as it is and left open
    ("-" too, where sys.stdout is not the process's standard output but a stream within Python).
    A path that names the file already open on standard output or standard error
    (/dev/stdout, or the file that stream goes to) is written through that stream; one that is
    not a regular file (a pipe, a terminal, /dev/null) is written directly; any other is written
    to a temporary file beside it (a symbolic link is followed and stays a link) that replaces
    it when the block ends without an exception. Raises OutputError, naming the path, when the
    file cannot be opened or written; the target is then left as it was.
    """
    if hasattr(target, "write"):
        yield target
        return
    path = os.fspath(target)
    if path == "-" and not _is_process_stdout(sys.stdout):
        yield sys.stdout if not binary else getattr(sys.stdout, "buffer", sys.stdout)
        return
    # What Python holds for the standard streams goes out first, in its place.
    for stream in (sys.stdout, sys.stderr):
        with contextlib.suppress(AttributeError, OSError, ValueError):
            stream.flush()
    output = (_core.OutputFile.standard_output() if path == "-"
              else _core.OutputFile(os.fsencode(path)))
    raw = _CoreWriter(output)
    stream = io.BufferedWriter(raw, BUFFER_BYTES)
    if not binary:
        stream = io.TextIOWrapper(stream, encoding="utf-8", errors="surrogateescape",
                                  newline="\n")
    try:
        yield stream
        stream.flush()
        output.commit()
    finally:
        raw.drop()
        stream.close()
        output.discard()


def core_output(stream):
    """The core's OutputFile under a binary stream that open_output gave, with Python's buffer
    flushed into it, so that the core may write to it directly; None for any other stream."""
    raw = getattr(stream, "raw", None)
    if not isinstance(raw, _CoreWriter) or raw.output is None:
        return None
    stream.flush()
    return raw.output


def remove_temporaries_on_signals():
    """Return a context manager within which SIGINT, SIGTERM, SIGHUP and SIGXFSZ remove the
    temporary file of every output being written, then end the process as the signal would
    (status 128 + its number in a shell). A signal that is ignored stays ignored (Python
    ignores SIGXFSZ, so a write past a file-size limit fails with OutputError instead). For
    command lines: the package's functions never change what a signal does on their own."""
    return _core.SignalCleanup()


def refuse_to_overwrite_inputs(output, inputs):
    """Raise InputError when the path output names the same file as one of the paths inputs
    (links followed; "-" and /dev/stdin are standard input): writing the results over an input
    would destroy it before the user notices. An output "-" is standard output, never refused."""
    if os.fspath(output) == "-":
        return
    _core.refuse_to_overwrite_inputs(os.fsencode(output), [os.fsencode(path) for path in inputs])


def _replaced_file(path):
    """What names the file that writing path would replace: its device and inode; for a file
    not there yet, its directory's and its name. None for a target written in place, not
    replaced: standard output ("-"), a pipe, a terminal, a device, or the file open on standard
    output or standard error (see open_output)."""
    if os.fspath(path) == "-":
        return None
    real = os.path.realpath(path)  # symbolic links followed, as the output file follows them
    try:
        status = os.stat(real)
    except FileNotFoundError:
        try:
            directory = os.stat(os.path.dirname(real))
        except OSError:
            return ("unreachable", real)  # cannot be opened: the writing says so
        return (directory.st_dev, directory.st_ino, os.path.basename(real))
    except OSError:
        return ("unreachable", real)
    if not stat.S_ISREG(status.st_mode):
        return None
    for descriptor in (1, 2):
        with contextlib.suppress(OSError):
            standard = os.fstat(descriptor)
            if (standard.st_dev, standard.st_ino) == (status.st_dev, status.st_ino):
                return None
    return (status.st_dev, status.st_ino)


def refuse_shared_outputs(outputs):
    """Raise ValueError when two of outputs, (what it is, path) pairs, name the same file: the
    last one written would replace the other in silence. Files are compared as the system
    knows them (device and inode, links followed), not by spelling; targets written in place
    (standard output, pipes, devices) may be shared, since both outputs reach them."""
    seen = {}
    for kind, path in outputs:
        identity = _replaced_file(path)
        if identity is None:
            continue
        if identity in seen:
            raise ValueError(f"{seen[identity]} and {kind} {os.fspath(path)} name one file: each "
                             f"output needs a file of its own")
        seen[identity] = f"{kind} {os.fspath(path)}"


def end_by_signal(signal_number):
    """End the process by the signal's default action, so that its parent sees which signal it
    was (a shell reports status 128 + the signal's number)."""
    signal.signal(signal_number, signal.SIG_DFL)
    os.kill(os.getpid(), signal_number)
    return 128 + signal_number

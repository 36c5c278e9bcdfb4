"""Output files that end up complete or exactly as they were before.

open_output is the one way the package writes a file: to a temporary file beside the target,
renamed over it only once all of it is written, flushed and synced. A failure, an exception or
a signal while writing leaves the old file byte for byte, and two processes writing one target
at once leave one of their results whole. Interrupted and signals_as_exceptions let the command
line turn SIGTERM and SIGHUP into an exception while it writes, so that the temporary goes too.
"""
import contextlib
import errno
import os
import secrets
import signal
import stat
import sys

from ._core import OutputError

# As the kernel: symbolic links followed before a lookup gives up.
_MOST_LINKS = 40
# The longest file name most file systems take, less the temporary's dot and suffix.
_MOST_STEM = 255 - 8


def _error(path, action, error):
    return OutputError(f"Error: {path} could not be {action} ({error.strerror or error})")


def _standard_stream(path, binary):
    """sys.stdout or sys.stderr when path names the file open on descriptor 1 or 2, else None."""
    if path == "-":
        return sys.stdout.buffer if binary else sys.stdout
    try:
        target = os.stat(path)
    except OSError:
        return None
    for descriptor, stream in ((1, sys.stdout), (2, sys.stderr)):
        try:
            open_file = os.fstat(descriptor)
        except OSError:
            continue
        if (open_file.st_dev, open_file.st_ino) == (target.st_dev, target.st_ino):
            return stream.buffer if binary else stream
    return None


def _followed_links(path):
    """The path that path leads to once every symbolic link is followed; the last link's target
    need not exist yet. Raises OSError for a loop."""
    for _ in range(_MOST_LINKS + 1):
        if not os.path.islink(path):
            return path
        target = os.readlink(path)
        path = os.path.join(os.path.dirname(path), target)
    raise OSError(errno.ELOOP, os.strerror(errno.ELOOP), path)


def _sync(descriptor):
    """fsync, where a file system with nothing to sync to (EINVAL) counts as done."""
    try:
        os.fsync(descriptor)
    except OSError as error:
        if error.errno not in (errno.EINVAL, errno.ENOTSUP, errno.ENOSYS):
            raise


def _create_temporary(final):
    """Open a new file beside final with the permissions (and owner, where allowed) of the file
    it replaces, or those a plain create gives; return (descriptor, path)."""
    directory, name = os.path.split(final)
    for _ in range(100):
        temporary = os.path.join(directory, f".{name[:_MOST_STEM]}.{secrets.token_hex(3)}")
        try:
            # Mode 0666 leaves the permissions to the umask, as a plain create does.
            descriptor = os.open(temporary, os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_CLOEXEC,
                                 0o666)
            break
        except FileExistsError:
            continue
    else:
        raise FileExistsError(errno.EEXIST, os.strerror(errno.EEXIST), final)
    try:
        replaced = os.stat(final)
    except FileNotFoundError:
        return descriptor, temporary
    try:
        created = os.fstat(descriptor)
        if (created.st_uid, created.st_gid) != (replaced.st_uid, replaced.st_gid):
            with contextlib.suppress(PermissionError):  # only the superuser may give files away
                os.fchown(descriptor, replaced.st_uid, replaced.st_gid)
        os.fchmod(descriptor, stat.S_IMODE(replaced.st_mode))
    except OSError:
        os.close(descriptor)
        os.unlink(temporary)
        raise
    return descriptor, temporary


@contextlib.contextmanager
def open_output(target, binary=False):
    """Yield a stream for one output, text (UTF-8, "\\n" line ends) or binary.

    target: a path; "-" for standard output; or an open stream, used as it is and left open.
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
    standard = _standard_stream(path, binary)
    if standard is not None:
        name = "standard output" if path == "-" else path
        try:
            yield standard
            standard.flush()
        except OSError as error:
            raise _error(name, "written", error) from error
        return

    def text_or_binary(descriptor_or_path):
        if binary:
            return open(descriptor_or_path, "wb")
        return open(descriptor_or_path, "w", encoding="utf-8", errors="surrogateescape",
                    newline="\n")

    try:
        direct = not stat.S_ISREG(os.stat(path).st_mode)
    except OSError:
        direct = False
    try:
        if direct:
            stream, temporary, final = text_or_binary(path), None, path
        else:
            final = _followed_links(path)
            descriptor, temporary = _create_temporary(final)
            stream = text_or_binary(descriptor)
    except OSError as error:
        raise _error(path, "opened", error) from error

    try:
        yield stream
        stream.flush()
        if temporary:
            _sync(stream.fileno())
        stream.close()
        if temporary:
            os.replace(temporary, final)
    except BaseException as error:
        with contextlib.suppress(OSError):
            stream.close()
        if temporary:
            with contextlib.suppress(OSError):
                os.unlink(temporary)
        if isinstance(error, OSError):
            raise _error(path, "written", error) from error
        raise
    if temporary:
        # The rename lasts once the directory is synced; the result is in place either way.
        with contextlib.suppress(OSError):
            held = os.open(os.path.dirname(final) or ".", os.O_RDONLY | os.O_DIRECTORY)
            try:
                _sync(held)
            finally:
                os.close(held)


class Interrupted(BaseException):
    """A signal that arrived while the command line was writing its outputs."""

    def __init__(self, signal_number):
        super().__init__(signal_number)
        self.signal_number = signal_number


@contextlib.contextmanager
def signals_as_exceptions(signals=(signal.SIGTERM, signal.SIGHUP)):
    """Within the block, each of the signals raises Interrupted (as SIGINT raises
    KeyboardInterrupt), so that open_output removes its temporary file; a signal that is
    ignored (as nohup ignores SIGHUP) stays ignored. Only the main thread can do this; elsewhere
    the block runs unchanged.

    Python runs a signal's handler only between its own instructions, so this is for blocks
    that run Python code: around a long call into the compiled core it would hold the signal
    back until the call returns.
    """
    def interrupt(signal_number, frame):
        raise Interrupted(signal_number)

    previous = {}
    with contextlib.suppress(ValueError):  # not the main thread
        for signal_number in signals:
            if signal.getsignal(signal_number) != signal.SIG_IGN:
                previous[signal_number] = signal.signal(signal_number, interrupt)
    try:
        yield
    finally:
        for signal_number, handler in previous.items():
            signal.signal(signal_number, handler)


def end_by_signal(signal_number):
    """End the process by the signal's default action, so that its parent sees which signal it
    was (a shell reports status 128 + the signal's number)."""
    signal.signal(signal_number, signal.SIG_DFL)
    os.kill(os.getpid(), signal_number)
    return 128 + signal_number

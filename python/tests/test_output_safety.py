"""Every file the package writes ends up complete or exactly as it was: under a file-size limit,
on a signal while writing, with two writers at once; outputs never overwrite inputs or files the
user could not write, and a failure is one line and status 1."""
import os
import resource
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import threading

import pytest

from conftest import EXAMPLES
from marrowind.output import open_output

STOCKHOLM = os.path.join(EXAMPLES, "globins45.sto")
OLD = "an earlier result that must survive\n"


def run(*args, **options):
    return subprocess.run([sys.executable, "-m", "marrowind", *map(str, args)],
                          capture_output=True, **options)


def one_line(stderr):
    return stderr.count(b"\n") == 1 and stderr.startswith(b"python3 -m marrowind: ")


def test_outputs_that_name_an_input_are_refused(tmp_path):
    alignment = tmp_path / "family.sto"
    alignment.write_bytes(open(STOCKHOLM, "rb").read())
    for option in ("-o", "--jalview", "--chimerax"):
        done = run(alignment, option, f"{tmp_path}/./family.sto")
        assert done.returncode == 1 and one_line(done.stderr), done.stderr
        assert b"is an input file and will not be overwritten" in done.stderr
        assert done.stdout == b""
    # Standard input is an input too: "-" reads the file open on descriptor 0.
    with open(alignment, "rb") as stdin:
        done = run("-", "-q", "-o", alignment, stdin=stdin)
    assert done.returncode == 1 and one_line(done.stderr), done.stderr
    assert b"is an input file and will not be overwritten" in done.stderr
    assert alignment.read_bytes() == open(STOCKHOLM, "rb").read()


def test_a_file_the_user_could_not_write_is_refused():
    # The superuser may write any file, so the superuser runs the command line as "nobody", in a
    # directory that anyone may write, whose read-only file only the rename would replace.
    directory = tempfile.mkdtemp()
    try:
        os.chmod(directory, 0o777)
        target = os.path.join(directory, "t.tsv")
        with open(target, "w") as out:
            out.write(OLD)
        os.chmod(target, 0o444)
        os.symlink("t.tsv", os.path.join(directory, "link.tsv"))
        for name in ("t.tsv", "link.tsv"):
            path = os.path.join(directory, name)
            done = run(STOCKHOLM, "-q", "-o", path, user=65534 if os.geteuid() == 0 else None)
            assert done.returncode == 1 and done.stdout == b""
            assert done.stderr == (f"python3 -m marrowind: Error: {path} could not be opened "
                                   f"(Permission denied)\n").encode()
            assert open(target).read() == OLD
            assert sorted(os.listdir(directory)) == ["link.tsv", "t.tsv"]
    finally:
        shutil.rmtree(directory)


@pytest.mark.parametrize("outputs", [
    ["--jalview", "X", "--chimerax", "X", "-o", "X"],
    ["-o", "t.tsv", "--jalview", "./sub/../t.tsv"],
    ["-o", "old.tsv", "--plot", "link.svg"],  # a link to old.tsv
    ["--report", "old.tsv", "--chimerax", "hard.tsv"],  # another name of old.tsv
])
def test_outputs_that_name_one_file_are_refused(tmp_path, outputs):
    (tmp_path / "sub").mkdir()
    (tmp_path / "old.tsv").write_text(OLD)
    (tmp_path / "link.svg").symlink_to("old.tsv")
    os.link(tmp_path / "old.tsv", tmp_path / "hard.tsv")
    before = sorted(os.listdir(tmp_path))
    done = run(STOCKHOLM, *outputs, cwd=tmp_path)
    assert done.returncode == 1 and one_line(done.stderr), done.stderr
    assert b"name one file: each output needs a file of its own" in done.stderr
    assert done.stdout == b"" and sorted(os.listdir(tmp_path)) == before
    assert (tmp_path / "old.tsv").read_text() == OLD
    # Targets written in place take every output given them.
    assert run(STOCKHOLM, "-o", os.devnull, "--jalview", os.devnull).returncode == 0


def test_standard_output_that_cannot_be_written_is_one_line():
    with open("/dev/full", "wb") as full:
        done = subprocess.run([sys.executable, "-m", "marrowind", STOCKHOLM], stdout=full,
                              stderr=subprocess.PIPE)
    assert done.returncode == 1
    assert done.stderr == (b"python3 -m marrowind: Error: standard output could not be written "
                           b"(No space left on device)\n")


def structure_file(path):
    atoms = "".join(f"ATOM  {n:5d}  CA  GLY A{n:4d}    {n:8.3f}{0:8.3f}{0:8.3f}  1.00  0.00"
                    f"           C\n" for n in range(1, 60))
    path.write_text(atoms + "END\n")
    return path


@pytest.mark.parametrize("option, name", [
    ("-o", "t.tsv"), ("--jalview", "t.jva"), ("--chimerax", "t.defattr"), ("--plot", "t.svg"),
    ("--pdb-out", "t.pdb")])
def test_each_output_past_a_file_size_limit_leaves_the_old_file(tmp_path, option, name):
    target = tmp_path / name
    target.write_text(OLD)
    extra = []
    if option == "--pdb-out":
        # A chain of glycines: nothing like the reference, so any identity is accepted.
        extra = ["--pdb", structure_file(tmp_path / "in.pdb"), "--min-identity", "0"]
    if option == "--plot":
        import matplotlib.font_manager  # noqa: F401  (its cache is made now, not under the limit)
    before = sorted(os.listdir(tmp_path))
    # Python ignores SIGXFSZ, so a write past the limit fails with EFBIG.
    limit = lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (1000, 1000))  # noqa: E731
    done = run(STOCKHOLM, "-r", "MYG_HORSE", option, target, *extra, preexec_fn=limit)
    assert done.returncode == 1
    assert one_line(done.stderr) and b"could not be written" in done.stderr, done.stderr
    assert target.read_text() == OLD
    assert sorted(os.listdir(tmp_path)) == before


# The table's header is written once its temporary file exists: the signal comes then.
SIGNAL_WHILE_WRITING = """
import os, signal, sys
import marrowind.exports as exports
from marrowind.cli import main
real_header_lines = exports.header_lines
def header_lines(profile):
    os.kill(os.getpid(), int(sys.argv[1]))
    return real_header_lines(profile)
exports.header_lines = header_lines
sys.exit(main(sys.argv[2:]))
"""


@pytest.mark.parametrize("signal_number", [signal.SIGTERM, signal.SIGINT, signal.SIGHUP])
def test_signal_while_writing_leaves_the_old_file(tmp_path, signal_number):
    target = tmp_path / "t.tsv"
    target.write_text(OLD)
    done = subprocess.run([sys.executable, "-c", SIGNAL_WHILE_WRITING, str(int(signal_number)),
                           STOCKHOLM, "-o", target], capture_output=True)
    assert done.returncode == -signal_number, done.stderr
    assert done.stderr == b""
    assert target.read_text() == OLD
    assert os.listdir(tmp_path) == ["t.tsv"]


def test_concurrent_writers_leave_one_whole_file(tmp_path):
    target = tmp_path / "t.txt"
    contents = ["".join(f"{writer} {line}\n" for line in range(20000)) for writer in "ab"]

    def write(text):
        with open_output(target) as out:
            for start in range(0, len(text), 512):
                out.write(text[start:start + 512])

    for _ in range(20):
        writers = [threading.Thread(target=write, args=(text,)) for text in contents]
        for writer in writers:
            writer.start()
        for writer in writers:
            writer.join()
        assert target.read_text() in contents
        assert os.listdir(tmp_path) == ["t.txt"]


def test_links_permissions_and_standard_output(tmp_path):
    real, link = tmp_path / "real.tsv", tmp_path / "link.tsv"
    real.write_text(OLD)
    real.chmod(0o640)
    link.symlink_to("real.tsv")
    assert run(STOCKHOLM, "-o", link).returncode == 0
    assert link.is_symlink() and real.read_text().startswith("# marrowind")
    assert stat.S_IMODE(real.stat().st_mode) == 0o640

    with open(tmp_path / "redirected.tsv", "wb") as redirected:
        assert subprocess.run([sys.executable, "-m", "marrowind", STOCKHOLM, "-o", "/dev/stdout"],
                              stdout=redirected).returncode == 0
    assert (tmp_path / "redirected.tsv").read_text() == real.read_text()

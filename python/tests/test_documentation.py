"""The README's examples as a user runs them: the program's output as "What a run prints" shows
it, and the structure commands and the Python example, which must run as written from the
source tree."""
import os
import re
import shlex
import subprocess
import sys

import pytest

from conftest import SOURCE_DIR

README = open(os.path.join(SOURCE_DIR, "README.md"), encoding="utf-8").read()


def blocks(language):
    """The text of every fenced block of the README in that language ("" for none)."""
    return re.findall(rf"^```{language}\n(.*?)^```$", README, re.S | re.M)


def section(title):
    start = README.index(f"\n## {title}\n")
    return README[start:README.index("\n## ", start + 1)]


@pytest.fixture
def source_tree(tmp_path, monkeypatch):
    """A folder to run in whose examples/ is the source tree's."""
    (tmp_path / "examples").symlink_to(os.path.join(SOURCE_DIR, "examples"))
    monkeypatch.chdir(tmp_path)
    return tmp_path


def test_what_a_run_prints_is_the_programs_output():
    exe = os.environ.get("MARROWIND_EXE")
    if not exe or not os.path.exists(exe):
        pytest.skip("MARROWIND_EXE does not name the built marrowind program")
    text = section("What a run prints")
    command, *shown = re.search(r"```\n(.*?)```", text, re.S).group(1).splitlines()
    arguments = shlex.split(command.removeprefix("$ "))
    assert arguments[0] == "build/marrowind" and arguments[-2:] == ["2>", "progress.txt"]
    done = subprocess.run([exe, *arguments[1:-2]], cwd=SOURCE_DIR, capture_output=True,
                          check=True)
    printed = done.stdout.decode().splitlines()
    head, tail = shown[:shown.index("...")], shown[shown.index("...") + 1:]
    assert printed[:len(head)] == head and printed[-len(tail):] == tail
    prose = " ".join(text.split())
    columns, left_out = map(int, re.search(r"(\d+) lines of columns \(the \"...\" stands for "
                                           r"the (\d+) left out", prose).groups())
    assert (columns, left_out) == (len(printed) - 1, len(printed) - len(head) - len(tail))
    progress = re.search(r"here `progress.txt`: (.*?), one a line", prose).group(1)
    assert re.findall(r"`([^`]+)`", progress) == done.stderr.decode().splitlines()


def test_structure_commands_run_as_written(source_tree):
    commands = [line for block in blocks("sh") for line in block.splitlines()
                if line.startswith("python3 -m marrowind examples/capsid.sto")]
    assert len(commands) == 2  # the scores on the structure, and its report
    for command in commands:
        arguments = shlex.split(command)[1:]
        done = subprocess.run([sys.executable, *arguments], capture_output=True)
        assert done.returncode == 0, (command, done.stderr)
    # The last run's report of the mapping, as the README shows it.
    mapping_line = done.stderr.decode().splitlines()[-1]
    assert f"```\n{mapping_line}\n```" in README
    assert (source_tree / "scored.cif").exists() and (source_tree / "capsid.html").exists()
    # The rows of the table that the README shows, UniProt's numbers among them.
    shown = re.search(r"```\n(number\t[^\n]*\tuniprot_number\n.*?)```", README, re.S)
    table = (source_tree / "capsid.tsv").read_text().splitlines()
    assert set(shown.group(1).splitlines()) - {"..."} <= set(table)


def test_python_example_runs_as_written(source_tree):
    example = next(block for block in blocks("python") if block.startswith("import marrowind"))
    exec(compile(example, "README.md", "exec"), {})
    for name in ("scores.tsv", "scored.txt", "scores.jva", "profile.svg", "scored.cif",
                 "capsid.defattr", "report.html"):
        assert (source_tree / name).stat().st_size > 0, name

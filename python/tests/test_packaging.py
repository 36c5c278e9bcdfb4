"""pip and the wheel: a copy of the source tree installed offline into a fresh virtual environment
gives a console script that scores as the program and the built package do, and leaves the tree
as it was; `python3 -m build` makes a wheel with the compiled core, the matrices and the report's
assets; an interpreter that lacks a piece of the build is told which, and how to get it; and the
README's build commands share one fast build."""
import os
import re
import shutil
import subprocess
import sys
import zipfile

import pytest

from conftest import DATA, EXAMPLES, SOURCE_DIR


def not_sources(directory, names):
    """shutil.copytree's ignore: the history, build trees, virtual environments and npm's
    packages."""
    return [name for name in names
            if name in (".git", "__pycache__", "node_modules")
            or any(os.path.exists(os.path.join(directory, name, marker))
                   for marker in ("CMakeCache.txt", "pyvenv.cfg"))]


def snapshot(tree):
    """Every path under tree with its size and modification time."""
    found = {}
    for directory, _, files in os.walk(tree):
        for name in [""] + files:
            path = os.path.join(directory, name)
            status = os.stat(path)
            found[os.path.relpath(path, tree)] = (status.st_size, status.st_mtime_ns)
    return found


@pytest.fixture(scope="module")
def installed(tmp_path_factory):
    """Install a copy of the source tree with pip, then build a wheel from it; return the
    virtual environment, its environment variables and the wheel's path."""
    work = tmp_path_factory.mktemp("packaging")
    source = work / "source"
    shutil.copytree(SOURCE_DIR, source, ignore=not_sources)
    # Both builds share one build folder, so that the core is compiled once.
    (source / "setup.cfg").write_text(f"[build]\nbuild_base = {work / 'setuptools'}\n")
    before = snapshot(source)

    venv = work / "venv"
    subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", venv], check=True)
    # The venv must find its own copy of the package, not the build tree's of the test run.
    environment = {key: value for key, value in os.environ.items() if key != "PYTHONPATH"}
    for command in ([venv / "bin" / "pip", "install", "--no-build-isolation", "--no-index",
                     "."],
                    [venv / "bin" / "python", "-m", "build", "--no-isolation", "--wheel",
                     "--outdir", work / "dist", "."]):
        done = subprocess.run(command, cwd=source, env=environment, capture_output=True)
        assert done.returncode == 0, done.stdout.decode()[-3000:] + done.stderr.decode()[-3000:]
    assert snapshot(source) == before
    wheels = list((work / "dist").glob("marrowind-*.whl"))
    assert len(wheels) == 1
    return venv, environment, wheels[0]


def test_console_script_scores_as_the_program(installed, program, tmp_path):
    venv, environment, _ = installed
    script = venv / "bin" / "marrowind-profile"
    sto = os.path.join("examples", "globins45.sto")
    scored = tmp_path / "scored.txt"
    done = subprocess.run([script, sto, "--scored-alignment", scored], cwd=SOURCE_DIR,
                          env=environment, capture_output=True)
    assert done.returncode == 0, done.stderr
    # The table in full precision equals that of the package built with the program...
    from_build_tree = subprocess.run([sys.executable, "-m", "marrowind", sto], cwd=SOURCE_DIR,
                                     capture_output=True, check=True)
    assert done.stdout == from_build_tree.stdout
    # ...and the scored alignment and the DOPS score equal the program's.
    *lines, dops = program(os.path.join(EXAMPLES, "globins45.fasta"),
                           os.path.join(DATA, "blosum62.mat2")).splitlines(keepends=True)
    assert scored.read_bytes() == "".join(lines).encode("latin-1")
    assert f"# {dops}".encode() in done.stdout

    # The package imported is the venv's, at the version CMake gives the project.
    located = subprocess.run(
        [venv / "bin" / "python", "-c", "import importlib.metadata, marrowind; print("
         "marrowind.__file__, marrowind.__version__, importlib.metadata.version('marrowind'))"],
        cwd=tmp_path, env=environment, capture_output=True, text=True, check=True)
    path, version, distribution_version = located.stdout.split()
    assert path.startswith(str(venv)) and version == distribution_version

    # Its messages name the command the user typed.
    refused = subprocess.run([script, "missing.sto"], cwd=tmp_path, env=environment,
                             capture_output=True)
    assert refused.returncode == 1
    assert refused.stderr.startswith(b"marrowind-profile: ") and refused.stderr.count(b"\n") == 1


def test_wheel_holds_the_core_the_matrices_and_the_report(installed):
    *_, wheel = installed
    with zipfile.ZipFile(wheel) as archive:
        names = archive.namelist()
        entry_points = next(archive.read(name).decode() for name in names
                            if name.endswith(".dist-info/entry_points.txt"))
    assert any(name.startswith("marrowind/_core.") and name.endswith(".so") for name in names)
    assert {"marrowind/cli.py", "marrowind/batch/__init__.py", "marrowind/batch/__main__.py",
            "marrowind/data/blosum62.mat2", "marrowind/data/pet91.mat2",
            "marrowind/assets/report.html", "marrowind/assets/report.js",
            "marrowind/assets/index.html"} <= set(names)
    assert "marrowind-profile = marrowind.cli:script_main" in entry_points


@pytest.mark.parametrize("route, lacks", [
    # A bare interpreter, as a python3 from pyenv or conda is to Debian's packages.
    ("setup.py", "setuptools, wheel"),
    # The README's pip line, in an environment that does not see Debian's packages.
    ("pip", "wheel"),
])
def test_build_names_what_the_interpreter_lacks(tmp_path, route, lacks):
    venv = tmp_path / "venv"
    subprocess.run([sys.executable, "-m", "venv", *(["--without-pip"] if route == "setup.py"
                                                    else []), venv], check=True)
    command = ([venv / "bin" / "python", "setup.py", "bdist_wheel"] if route == "setup.py"
               else [venv / "bin" / "pip", "install", "--no-build-isolation", "--no-index", "."])
    environment = {key: value for key, value in os.environ.items() if key != "PYTHONPATH"}
    done = subprocess.run(command, cwd=SOURCE_DIR, env=environment, capture_output=True,
                          text=True)
    output = done.stdout + done.stderr
    assert done.returncode != 0 and "invalid command" not in output
    assert (f"setup.py: {venv / 'bin'}/python" in output
            and f"lacks what building marrowind needs: {lacks} (and to run it: numpy, "
                f"biopython, matplotlib); use Debian's /usr/bin/python3" in output), output


def fenced_command(text, after):
    """The command in the first fenced block of text after the line that starts with after."""
    return re.search(re.escape(after) + r".*?```sh\n(.*?)\n```", text, re.S).group(1)


def test_readme_test_command_is_ci_first_and_keeps_the_fast_build():
    readme = open(os.path.join(SOURCE_DIR, "README.md"), encoding="utf-8").read()
    ci = open(os.path.join(SOURCE_DIR, ".ci", "run"), encoding="utf-8").read()
    quick_start = fenced_command(readme, "Build and score the bundled example")
    tests = fenced_command(readme, "Build and run the whole test suite")
    first = next(line for line in ci.splitlines() if line and not line.startswith(("#", "set ",
                                                                                    "cd ")))
    # CI installs the SLURM test's cluster too, which the README's command leaves out.
    assert first == "{} || exit 1".format(
        tests.replace("tools/install-deps.sh ", "tools/install-deps.sh --slurm ", 1))
    # Both configure build/ alike, so that build/marrowind is the fast program after either.
    build_type = re.compile(r"cmake -S \. -B build -DCMAKE_BUILD_TYPE=(\w+) ")
    assert build_type.search(quick_start).group(1) == build_type.search(tests).group(1) == "Release"

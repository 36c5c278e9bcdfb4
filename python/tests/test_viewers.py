"""The exports in the viewers that Debian ships: Jalview places the annotation's bars on the
reference's residues (read back from the project file it saves), and PyMOL reads the scored
PDB and mmCIF files with every atom and the scores as B-factors, or the B-factors as they were
when they are kept."""
import gzip
import json
import os
import shutil
import subprocess
import sys
import zipfile
from xml.etree import ElementTree

import pytest

import marrowind
from conftest import FIRST_NUMBER, structure

# Jalview's project files keep the alignment and its annotations in this namespace.
JALVIEW_MODEL = "{www.vamsas.ac.uk/jalview/version2}"
# References with gaps before and among their residues, with and without /start-end.
GAPPED = ">other\nMMACKDEFQGH\n>plain\n-MSC-DEFQG-\n>numbered/11-17\n--AC-DEF-GH\n"


def jalview_rows(project):
    """The sequence-bound annotation rows of a Jalview project file:
    {(sequence name, label): [(column, value), ...]}."""
    with zipfile.ZipFile(project) as archive:
        model = ElementTree.fromstring(archive.read(".xml"))
    names = {sequence.get("id"): sequence.find(JALVIEW_MODEL + "name").text
             for sequence in model.iter(JALVIEW_MODEL + "Sequence")}
    return {(names[row.get("sequenceRef")], row.find(JALVIEW_MODEL + "label").text):
            [(int(element.get("position")), float(element.find(JALVIEW_MODEL + "value").text))
             for element in row.iter(JALVIEW_MODEL + "annotationElement")]
            for row in model.iter(JALVIEW_MODEL + "Annotation") if row.get("sequenceRef")}


@pytest.mark.parametrize("reference, name", [("numbered/11-17", "numbered"),
                                             ("plain", "plain")])
def test_jalview_draws_each_bar_on_its_residue(tmp_path, reference, name):
    jalview = shutil.which("jalview")
    if jalview is None:
        pytest.skip("Jalview is not installed (Debian: jalview)")
    alignment = tmp_path / "gapped.fasta"
    alignment.write_text(GAPPED)
    profile = marrowind.conservation_profile(str(alignment), reference=reference)
    marrowind.write_jalview(profile, tmp_path / "scores.jva")
    project = tmp_path / "saved.jvp"
    # Jalview keeps its settings in HOME; it runs headless, without a display.
    done = subprocess.run([jalview, "-nodisplay", "-open", str(alignment), "-annotations",
                           str(tmp_path / "scores.jva"), "-jalview", str(project)],
                          capture_output=True, env=dict(os.environ, HOME=str(tmp_path)),
                          timeout=300)
    assert project.exists(), done.stdout.decode(errors="replace")[-3000:]
    scores = profile.scores.column_scores
    assert jalview_rows(project) == {(name, "marrowind"): [
        (row.column, pytest.approx(scores[row.column], rel=1e-6)) for row in profile.residues]}


PYMOL_READER = """
import json, sys
from pymol import cmd
for path in sys.argv[1:]:
    cmd.load(path, "scored")
    atoms = []
    cmd.iterate("scored", "atoms.append((chain, resi, resn, b))", space={"atoms": atoms})
    cmd.delete("scored")
    print("atoms " + json.dumps(atoms))
"""


def test_pymol_reads_the_scores_as_b_factors_or_the_kept_ones(capsid, tmp_path):
    import importlib.util
    if shutil.which("pymol") is None or importlib.util.find_spec("pymol") is None:
        pytest.skip(f"PyMOL is not installed for {sys.executable} (Debian: pymol)")
    _, profile = capsid
    outputs = [tmp_path / "scored.pdb", tmp_path / "scored.cif", tmp_path / "kept.cif",
               tmp_path / "original.cif"]
    for name, target in zip(["1A8O.pdb.gz", "1A8O.cif.gz"], outputs):
        marrowind.write_structure(profile, structure(name), target, chain="A")
    marrowind.write_structure(profile, structure("1A8O.cif.gz"), outputs[2],
                              keep_b_factors=True)
    outputs[3].write_bytes(gzip.open(structure("1A8O.cif.gz")).read())
    (tmp_path / "read.py").write_text(PYMOL_READER)
    # Debian's pymol starts the python3 found first on PATH: the one running these tests.
    path = os.path.dirname(sys.executable) + os.pathsep + os.environ.get("PATH", "")
    done = subprocess.run(["pymol", "-cq", str(tmp_path / "read.py"), "--", *map(str, outputs)],
                          capture_output=True, env=dict(os.environ, PATH=path), timeout=120)
    assert done.returncode == 0, done.stderr
    loaded = [json.loads(line[len("atoms "):]) for line in done.stdout.decode().splitlines()
              if line.startswith("atoms ")]
    assert len(loaded) == 4
    # With the B-factors kept, PyMOL reads the very atoms and B-factors of the original.
    assert loaded[2] == loaded[3]

    score_of = {str(FIRST_NUMBER - 1 + row.number): row.score for row in profile.residues}
    for atoms, precision in zip(loaded[:2], [0.005, 1e-6]):  # PDB keeps two decimals
        assert len(atoms) == 644  # every atom of 1A8O, waters included
        scored = [(resi, b) for chain, resi, resn, b in atoms if resn != "HOH"]
        assert len(scored) == 556 and {resi for resi, _ in scored} == set(score_of)
        for resi, b in scored:
            assert b == pytest.approx(score_of[resi], abs=precision)

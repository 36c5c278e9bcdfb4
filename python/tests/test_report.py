"""The HTML report in a real browser: Debian's headless Chromium opens reports of the globins and
of a family with a structure (1A8O, as PDB and mmCIF) with networking cut off, and the tests check
that every view is drawn, that nothing is logged as an error, that hovering and clicking give
the right residue, and that the embedded table is write_tsv's. Screenshots are kept in the build
tree (BUILD/test-artefacts/report) to look at."""
import base64
import gzip
import io
import json
import os
import re
import shutil
import subprocess
import sys

import pytest

import marrowind
from marrowind import batch
from conftest import EXAMPLES, predicted_model, structure

ARTEFACTS = os.path.join(os.environ.get("MARROWIND_BUILD_DIR", "."), "test-artefacts", "report")
# Headless, with every host name unresolvable and a proxy that answers nothing: a page that
# reached for the network would log errors. WebGL (the structure) runs on SwiftShader.
CHROMIUM_ARGUMENTS = [
    "--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--window-size=1400,1700",
    "--host-resolver-rules=MAP * ~NOTFOUND", "--proxy-server=http://127.0.0.1:9",
    "--proxy-bypass-list=<-loopback>", "--use-angle=swiftshader", "--enable-unsafe-swiftshader",
    "--force-device-scale-factor=1",
]


@pytest.fixture(scope="module")
def browser():
    try:
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
    except ImportError:
        pytest.skip("selenium is not installed (Debian: python3-selenium)")
    driver_path = shutil.which("chromedriver") or "/usr/bin/chromedriver"
    options = webdriver.ChromeOptions()
    for argument in CHROMIUM_ARGUMENTS:
        options.add_argument(argument)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    try:
        driver = webdriver.Chrome(service=Service(driver_path), options=options)
    except Exception as error:  # no chromium, no driver, or it cannot start here
        pytest.skip(f"Chromium could not start (Debian: chromium chromium-driver): {error}")
    driver.set_script_timeout(30)
    yield driver
    driver.quit()


def open_report(browser, path, screenshot):
    """Load a report, wait until it has drawn, save a screenshot; return the browser's log."""
    browser.get(f"file://{os.path.abspath(path)}")
    browser.execute_async_script(
        "const done = arguments[0]; requestAnimationFrame(() => requestAnimationFrame(done));")
    os.makedirs(ARTEFACTS, exist_ok=True)
    browser.save_screenshot(os.path.join(ARTEFACTS, screenshot))
    return browser.get_log("browser")


def assert_no_errors(log):
    assert [entry for entry in log if entry["level"] == "SEVERE"] == []


def colours_in(browser, element_id):
    """How many different colours the element shows on screen."""
    from PIL import Image
    element = browser.find_element("id", element_id)
    image = Image.open(io.BytesIO(element.screenshot_as_png)).convert("RGB")
    return len(image.getcolors(maxcolors=1 << 20))


def point_at(browser, element_id, point):
    """Scroll the element into the middle of the window and move the pointer to where the page's
    marrowindReport.POINT(...) expression puts it; return an ActionBuilder to click there."""
    from selenium.webdriver.common.actions.action_builder import ActionBuilder
    browser.execute_script(f"document.getElementById('{element_id}')"
                           ".scrollIntoView({block: 'center'});")
    at = browser.execute_script(f"return marrowindReport.{point};")
    actions = ActionBuilder(browser)
    actions.pointer_action.move_to_location(int(at["x"]), int(at["y"]))
    actions.perform()
    return actions


def click(actions):
    actions.pointer_action.click()
    actions.perform()


def embedded_data(page):
    start = page.index('<script type="application/json" id="marrowind-data">')
    body = page[page.index(">", start) + 1:]
    return json.loads(body[:body.index("</script>")])


def test_large_alignment_view_holds_the_reference_and_the_first_others():
    alignment = marrowind.parse_alignment(b">a\nACDE\n>b\nACFE\n>c\nACGE\n>d\nACHE\n")
    profile = marrowind.conservation_profile(alignment, reference="d")
    page = marrowind.report.render_report(profile, most=2)
    data = embedded_data(page)
    assert (data["names"], data["rows"], data["reference"]) == (["a", "d"], ["ACDE", "ACHE"], 1)
    assert len(data["scores"]) == 4 and data["tsv"] == embedded_data(
        marrowind.report.render_report(profile))["tsv"]
    assert "the first 1 other sequences of 4" in page


def test_data_cannot_end_its_script_element():
    # A name that would close the element and open a comment, were "<" not escaped.
    hostile = "evil</script><!--<script>"
    alignment = marrowind.parse_alignment(f">{hostile}\nACDE\n>b\nACDF\n".encode())
    profile = marrowind.conservation_profile(alignment)
    data = embedded_data(marrowind.report.render_report(profile))
    assert data["names"] == [hostile, "b"]
    table = io.StringIO()
    marrowind.write_tsv(profile, table)
    assert data["tsv"] == table.getvalue()


def test_approximate_scores_are_said_so():
    alignment = marrowind.parse_alignment(b">a\nACDE\n>b\nACDF\n")
    pages = [marrowind.report.render_report(marrowind.Profile(
                 alignment, marrowind.score_alignment(alignment, mode=mode, sample=1, seed=7)))
             for mode in ("exact", "approximate")]
    assert ["approximate" in page[page.index("<body>"):page.index("<script")]
            for page in pages] == [False, True]
    assert "approximate (sample 1, seed 7)" in pages[1]
    assert "<title>a in &lt;text&gt;: conservation (approximate scores)</title>" in pages[1]


def test_globins_report(browser, tmp_path):
    report = tmp_path / "globins.html"
    globins = os.path.join(EXAMPLES, "globins45.sto")
    done = subprocess.run([sys.executable, "-m", "marrowind", globins, "--reference", "MYG_HORSE",
                           "--report", report, "-o", tmp_path / "t.tsv"], capture_output=True)
    assert done.returncode == 0, done.stderr
    assert_no_errors(open_report(browser, report, "globins.png"))

    text = browser.find_element("tag name", "body").text
    for fact in ("MYG_HORSE/1-153", "stockholm", "blosum62", "45", "154", "99.285",
                 "1 to 153, from its name's /start-end", "higher is more conserved"):
        assert fact in text
    assert len(browser.find_elements("css selector", ".facts dt")) == 8
    assert not browser.find_element("id", "structure-section").is_displayed()
    assert colours_in(browser, "profile") > 20 and colours_in(browser, "alignment") > 20

    # His64, the distal histidine, under the pointer: the tooltip gives it and its exact score.
    profile = marrowind.conservation_profile(globins, reference="MYG_HORSE")
    his64 = next(row for row in profile.residues if row.number == 64)
    click(point_at(browser, "profile", f"profilePoint({his64.column})"))
    lines = browser.find_element("id", "tooltip").text.splitlines()
    assert lines[:3] == ["MYG_HORSE/1-153 H64", f"column {his64.column + 1}",
                         f"score {his64.score!r}"]
    assert browser.execute_script("return marrowindReport.selected();") == his64.column

    # The download link holds the very table write_tsv writes.
    embedded = browser.execute_async_script("""
        const done = arguments[0], link = document.getElementById('tsv-link');
        fetch(link.href).then(r => r.text()).then(text => done([link.download, text]));""")
    assert embedded == ["globins45.tsv", (tmp_path / "t.tsv").read_text()]


def test_report_without_columns_opens_and_says_so(browser, tmp_path):
    report = tmp_path / "empty.html"
    empty = marrowind.parse_alignment(b">a\n>b\n", source="empty.fasta")
    marrowind.write_report(marrowind.conservation_profile(empty), report)
    assert_no_errors(open_report(browser, report, "empty.png"))
    assert marrowind.report.NO_COLUMNS in browser.find_element("tag name", "body").text


@pytest.mark.parametrize("name", ["1A8O.pdb.gz", "1A8O.cif.gz"])
def test_structure_report_links_the_views(browser, capsid, tmp_path, name):
    _, profile = capsid
    report = tmp_path / "capsid.html"
    marrowind.write_report(profile, report, structure=structure(name), chain="A")
    assert_no_errors(open_report(browser, report, f"capsid-{name.split('.')[1]}.png"))
    assert browser.find_element("id", "structure-section").is_displayed()
    assert colours_in(browser, "structure") > 50

    # A click on a residue in 3D selects its column; its CA may sit behind another residue, so
    # the click must select some scored residue of the chain, and the alignment and the profile
    # must follow it.
    target = next(row for row in profile.residues if row.number == 30)
    click(point_at(browser, "structure", f"structurePoint({target.column})"))
    selected = browser.execute_script("return marrowindReport.selected();")
    assert selected in {row.column for row in profile.residues}
    status = browser.find_element("id", "structure-status").text
    assert re.match(r"Selected: chain A residue \d+, CAPSID_HIV1/1-70 [A-Z]\d+, column \d+",
                    status), status

    # The other way: a column chosen in the profile is named in the structure's status line,
    # by the structure's own numbering (1A8O starts at residue 151).
    click(point_at(browser, "profile", f"profilePoint({target.column})"))
    status = browser.find_element("id", "structure-status").text
    assert status.startswith(f"Selected: chain A residue 180, CAPSID_HIV1/1-70 "
                             f"{target.residue}30, column {target.column + 1}")
    browser.save_screenshot(os.path.join(ARTEFACTS, f"capsid-{name.split('.')[1]}-selected.png"))
    assert_no_errors(browser.get_log("browser"))


def test_structure_of_a_blank_chain_is_drawn(browser, capsid, tmp_path):
    _, profile = capsid
    blank = tmp_path / "blank.pdb"
    blank.write_text("".join(line[:21] + " " + line[22:] if line.startswith(("ATOM", "HETATM"))
                             else line for line in gzip.open(structure("1A8O.pdb.gz"), "rt")))
    report = tmp_path / "blank.html"
    marrowind.write_report(profile, report, structure=blank)
    assert_no_errors(open_report(browser, report, "capsid-blank-chain.png"))
    assert colours_in(browser, "structure") > 50
    # The status line names the chain as the command line does.
    target = next(row for row in profile.residues if row.number == 30)
    click(point_at(browser, "profile", f"profilePoint({target.column})"))
    status = browser.find_element("id", "structure-status").text
    assert status.startswith("Selected: chain (blank ID) residue 180,"), status


def colours_of(browser, element_id):
    """The set of RGB colours the element shows on screen."""
    from PIL import Image
    element = browser.find_element("id", element_id)
    image = Image.open(io.BytesIO(element.screenshot_as_png)).convert("RGB")
    return {colour for _, colour in image.getcolors(maxcolors=1 << 20)}


# The pLDDT bands the model's residues fall in (65.1 to 72.0): yellow below 70, light blue
# above.
LOW, CONFIDENT = (255, 219, 19), (101, 203, 243)


def test_predicted_model_draws_its_plddt_track_and_colours_by_it(browser, capsid, tmp_path):
    _, profile = capsid
    report = tmp_path / "model.html"
    marrowind.write_report(profile, report, structure=predicted_model(tmp_path, "cif"),
                           settings=marrowind.ContextSettings(max_gap_fraction=0.35))
    assert_no_errors(open_report(browser, report, "capsid-plddt.png"))
    browser.execute_script("document.getElementById('profile').scrollIntoView();")
    assert {LOW, CONFIDENT} <= colours_of(browser, "profile")

    # A residue's tooltip gives its column's context, its numbers in the structure and UniProt,
    # and its pLDDT.
    target = next(row for row in profile.residues if row.number == 30)
    click(point_at(browser, "profile", f"profilePoint({target.column})"))
    assert browser.find_element("id", "tooltip").text.splitlines() == [
        "CAPSID_HIV1/1-70 E30", "column 30", f"score {target.score!r}",
        "grade 5 of 9 (z -0.06)", "3 of 3 sequences hold a residue, gaps 0.0%",
        "weighted occupancy 100.0%", "unreliable: fewer than 10 residues or over 35% gaps",
        "structure chain A: residue 180", "pLDDT 68.00"]

    # The 3D view takes the same bands once pLDDT is chosen, and its scores' colours before.
    choice = browser.find_element("id", "colour-by")
    assert choice.is_displayed()
    browser.execute_script("document.getElementById('structure').scrollIntoView();")
    assert not {LOW, CONFIDENT} & colours_of(browser, "structure")
    from selenium.webdriver.support.ui import Select
    Select(choice).select_by_value("plddt")
    browser.execute_async_script(
        "const done = arguments[0]; requestAnimationFrame(() => requestAnimationFrame(done));")
    shades = colours_of(browser, "structure")
    browser.save_screenshot(os.path.join(ARTEFACTS, "capsid-plddt-3d.png"))
    assert len(shades) > 50 and not [c for c in shades if c[0] < 30 and c[1] < 30 and c[2] > 60]
    assert_no_errors(browser.get_log("browser"))


def test_batch_index_sorts_and_links(browser, tmp_path):
    # Three families as a batch leaves them: two scored, one with a report, one failed.
    results, family_dirs = [], []
    for family, dops, sequences in (("b", 60.5, 9), ("a", None, None), ("c", 12.25, 1200)):
        family_dir = tmp_path / "families" / family
        family_dir.mkdir(parents=True)
        if dops:
            (family_dir / f"{family}.columns.tsv").write_text("column\tscore\n")
        results.append(dict.fromkeys(batch.SUMMARY_FIELDS) | dict(
            family=family, dops=dops, sequences=sequences, error=None if dops else "bad file"))
        family_dirs.append(family_dir)
    (tmp_path / "families" / "c" / "c.report.html").write_text("<title>c</title>")
    index = tmp_path / "index.html"
    batch.write_index(results, family_dirs, index)
    assert_no_errors(open_report(browser, index, "index.png"))

    def order():
        return [row.text.split()[0] for row in
                browser.find_elements("css selector", "#families tbody tr")]

    assert order() == ["b", "a", "c"]
    headings = {th.text.strip(): th for th in browser.find_elements("css selector", "th button")}
    headings["DOPS"].click()
    assert order() == ["c", "b", "a"]  # ascending, the failed family last
    headings["DOPS"].click()
    assert order() == ["b", "c", "a"]
    headings["Sequences"].click()
    assert order() == ["b", "c", "a"]  # as numbers: 9 before 1200
    browser.find_element("link text", "c").click()
    assert browser.title == "c"

"""The summary of a batch: write_summary, its tables of every family's result, and
write_index, the same results as a page that sorts by any column and links each family's
files."""
import html
import json
import os
import urllib.parse
from string import Template

from .. import __version__
from ..core import format_dops, format_score
from ..output import open_output
from ..resources import asset_text
from .job import SUMMARY_FIELDS, family_outputs, one_line


def _cell(value):
    if value is None:
        return ""
    if isinstance(value, float):
        return repr(value)
    return one_line(value)


def write_summary(result_paths, target, by_dops=None, index=None):
    """Write the summary of a batch: a tab-separated table with a header of SUMMARY_FIELDS and
    one row per result file, in the order given. by_dops, when given, receives the same rows
    from the lowest DOPS score to the highest (the families whose column scores tell least apart
    first), and the failed families last. index, when given, receives the rows as an HTML page
    (see write_index)."""
    results = []
    for path in result_paths:
        with open(path, encoding="utf-8") as result:
            results.append(json.load(result))
    tables = [(target, results)]
    if by_dops:
        scored = sorted((r for r in results if r["dops"] is not None), key=lambda r: r["dops"])
        tables.append((by_dops, scored + [r for r in results if r["dops"] is None]))
    for path, rows in tables:
        with open_output(path) as out:
            out.write("\t".join(SUMMARY_FIELDS) + "\n")
            for row in rows:
                out.write("\t".join(_cell(row[field]) for field in SUMMARY_FIELDS) + "\n")
    if index:
        write_index(results, [os.path.dirname(path) for path in result_paths], index)


# The index page's columns: heading, result field, how a value is shown, and whether the column
# sorts as numbers.
INDEX_COLUMNS = (
    ("Family", "family", str, False),
    ("Sequences", "sequences", str, True),
    ("Columns", "columns", str, True),
    ("Unreliable", "unreliable_columns", str, True),
    ("DOPS", "dops", format_dops, True),
    ("Mean score", "mean_score", format_score, True),
    ("Mode", "mode", str, False),
    ("Format", "format", str, False),
    ("Error", "error", str, False),
)


def write_index(results, family_dirs, target):
    """Write a batch's results as an HTML page: one row per family, in the order given, sortable
    by any column; a family's name links to its report where family_dirs holds one, else to its
    column table. Links are relative to the page, so the batch's directory can move whole."""
    base = os.path.dirname(os.path.abspath(target))
    headings = "".join(
        f'<th data-type="{"number" if numeric else "text"}"><button>{title}</button></th>'
        for title, _, _, numeric in INDEX_COLUMNS)
    rows = []
    for result, family_dir in zip(results, family_dirs):
        outputs = family_outputs(family_dir, result["family"], report=True)
        linked = next((outputs[kind] for kind in ("report", "columns")
                       if os.path.exists(outputs[kind])), None)
        cells = []
        for _, field, shown, numeric in INDEX_COLUMNS:
            value = result[field]
            text = "" if value is None else html.escape(one_line(shown(value)))
            if field == "family" and linked:
                href = urllib.parse.quote(os.path.relpath(os.path.abspath(linked), base))
                text = f'<a href="{html.escape(href)}">{text}</a>'
            raw = "" if value is None else html.escape(one_line(value), quote=True)
            cells.append(f'<td{" class=number" if numeric else ""} data-value="{raw}">'
                         f"{text}</td>")
        failed = ' class="failed"' if result["error"] else ""
        rows.append(f"<tr{failed}>{''.join(cells)}</tr>")
    page = Template(asset_text("index.html")).substitute(
        version=__version__, count=len(results), headings=headings, rows="\n".join(rows),
        script=asset_text("index.js"))
    with open_output(target) as out:
        out.write(page)

"""The files the package ships beside its modules: asset_text, the text of one of its assets.

The assets (the HTML report's page and script, the batch index page and its script) live in
the package's assets/ folder, wherever the package was installed or built, zipped or not.
"""
from importlib import resources


def asset_text(name):
    """Return the text (UTF-8) of the asset `name`, such as "report.html"; raises
    FileNotFoundError for an asset the package does not ship."""
    return resources.files(__package__).joinpath("assets", name).read_text(encoding="utf-8")

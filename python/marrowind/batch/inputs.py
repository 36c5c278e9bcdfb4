"""A batch's inputs: the alignment files it scores (list_alignments) and the family each one
holds (family_name)."""
import os


def family_name(path):
    """The family a file holds, named after its file without ".gz" and its last suffix."""
    name = os.path.basename(os.fspath(path))
    if name.endswith(".gz"):
        name = name[:-3]
    return os.path.splitext(name)[0] or name


def list_alignments(source):
    """Return [(family, path)] of a batch, in a stable order.

    source: a directory (every file in it whose name does not start with ".", by name), a text
    file that lists one path per line (blank lines and lines starting with "#" skipped), or a
    list of paths; paths relative to the working directory. Families are named by family_name;
    files that would share a name keep their whole file name, less ".gz". Raises ValueError when
    there is nothing to score or two files still share a name.
    """
    if isinstance(source, (list, tuple)):
        paths = [os.fspath(path) for path in source]
    elif os.path.isdir(source):
        paths = sorted(os.path.join(source, name) for name in os.listdir(source)
                       if not name.startswith(".")
                       and os.path.isfile(os.path.join(source, name)))
    else:
        try:
            with open(source, encoding="utf-8") as listing:
                paths = [line.strip() for line in listing
                         if line.strip() and not line.startswith("#")]
        except OSError as error:
            raise ValueError(f"{source}: neither a directory of alignments nor a list of "
                             f"them ({error.strerror})") from error
    if not paths:
        raise ValueError(f"{source}: no alignments to score")
    names = [family_name(path) for path in paths]
    clashing = {name for name in names if names.count(name) > 1}
    names = [os.path.basename(path).removesuffix(".gz") if name in clashing else name
             for name, path in zip(names, paths)]
    for name in set(names):
        if names.count(name) > 1:
            files = ", ".join(path for path, other in zip(paths, names) if other == name)
            raise ValueError(f"these files would all be family {name}: {files}")
    return list(zip(names, paths))

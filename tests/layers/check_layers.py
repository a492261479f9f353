#!/usr/bin/env python3
"""Checks that no file of src/ includes a header of a layer it may not use.

The layers and what each may include are data, in layers.toml beside this
script. Every C++ file under src/ belongs to the first layer whose globs match
its path. Each #include is resolved the way the compiler resolves it (a quoted
name beside the including file first, then under src/, which is the include
root of every target); a header found under src/ must belong to the file's
own layer or to one it may include, and any other header must not match the
layer's forbidden system headers.

Usage: check_layers.py [--src DIR] [--table FILE]
Exit status 0 when every include is allowed, 1 with one line per offending
include otherwise, 2 when the table itself is wrong.

check_layers_test.py covers it.
"""
import argparse
import fnmatch
import os
import re
import sys
import tomllib

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_SRC = os.path.normpath(os.path.join(HERE, "..", "..", "src"))
DEFAULT_TABLE = os.path.join(HERE, "layers.toml")

SOURCE_SUFFIXES = (".h", ".hpp", ".cpp", ".cc")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


class TableError(Exception):
    """The layer table is malformed."""


def load_table(path):
    """The list of layers, each a dict with name, files, may_include and
    forbid_system, in the table's order."""
    with open(path, "rb") as stream:
        data = tomllib.load(stream)
    layers = data.get("layer")
    if not isinstance(layers, list) or not layers:
        raise TableError(f"{path}: no [[layer]] entries")
    names = [layer.get("name") for layer in layers]
    for layer in layers:
        name = layer.get("name")
        if not isinstance(name, str) or names.count(name) != 1:
            raise TableError(f"{path}: layer names must be unique strings, got {name!r}")
        if not layer.get("files"):
            raise TableError(f"{path}: layer {name} has no files")
        layer.setdefault("may_include", [])
        layer.setdefault("forbid_system", [])
        for other in layer["may_include"]:
            if other not in names:
                raise TableError(f"{path}: layer {name} may include unknown layer {other}")
    return layers


def layer_of(relative, layers):
    """The first layer whose globs match `relative` (a path under src/ with
    forward slashes), or None."""
    for layer in layers:
        if any(fnmatch.fnmatchcase(relative, glob) for glob in layer["files"]):
            return layer
    return None


def source_files(src):
    """Every C++ file under `src`, as paths relative to it, sorted."""
    found = []
    for folder, _, names in os.walk(src):
        for name in names:
            if name.endswith(SOURCE_SUFFIXES):
                path = os.path.relpath(os.path.join(folder, name), src)
                found.append(path.replace(os.sep, "/"))
    return sorted(found)


def resolve(src, including, quote, name):
    """The path under `src` that an include names, or None for a header from
    outside src/ (a system header)."""
    candidates = []
    if quote == '"':
        candidates.append(os.path.join(src, os.path.dirname(including), name))
    candidates.append(os.path.join(src, name))
    root = os.path.realpath(src)
    for candidate in candidates:
        if os.path.isfile(candidate):
            real = os.path.realpath(candidate)
            if real.startswith(root + os.sep):
                return os.path.relpath(real, root).replace(os.sep, "/")
    return None


def check(src, layers):
    """The offending includes as messages "path:line: reason"; empty when
    every include is allowed. Also returns the number of files checked."""
    problems = []
    files = source_files(src)
    for relative in files:
        layer = layer_of(relative, layers)
        if layer is None:
            problems.append(f"src/{relative}:1: belongs to no layer of the table")
            continue
        allowed = {layer["name"], *layer["may_include"]}
        with open(os.path.join(src, relative), encoding="utf-8", errors="replace") as stream:
            lines = stream.readlines()
        for number, line in enumerate(lines, start=1):
            match = INCLUDE.match(line)
            if not match:
                continue
            quote, name = match.groups()
            where = f"src/{relative}:{number}"
            target = resolve(src, relative, quote, name)
            if target is None:
                if quote == '"':
                    problems.append(f'{where}: includes "{name}", which is not under src/')
                elif any(fnmatch.fnmatchcase(name, glob) for glob in layer["forbid_system"]):
                    problems.append(f"{where}: layer {layer['name']} must not include <{name}>")
                continue
            target_layer = layer_of(target, layers)
            if target_layer is None:
                problems.append(f"{where}: includes {target}, which belongs to no layer")
            elif target_layer["name"] not in allowed:
                may = ", ".join(layer["may_include"]) or "nothing below it"
                problems.append(
                    f"{where}: layer {layer['name']} includes {target} of layer "
                    f"{target_layer['name']} (it may include {may})")
    return problems, len(files)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--src", default=DEFAULT_SRC, help="the source folder (default: src/)")
    parser.add_argument("--table", default=DEFAULT_TABLE, help="the layer table")
    args = parser.parse_args(argv)
    try:
        layers = load_table(args.table)
    except (OSError, tomllib.TOMLDecodeError, TableError) as error:
        print(f"check_layers: {error}", file=sys.stderr)
        return 2
    problems, count = check(args.src, layers)
    for problem in problems:
        print(problem)
    if problems:
        print(f"{len(problems)} include(s) cross the layers; the table is {args.table}")
        return 1
    print(f"{count} files checked; every include stays within its layers")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

#!/usr/bin/python3
"""Fails when a source folder includes a header of a folder above it.

The order of the layers is the one CMakeLists.txt declares in
MARLOD_LAYERS, bottom first. Usage: check_layers.py PROJECT_ROOT
"""
import pathlib
import re
import sys


def declared_layers(root):
    cmake = (root / "CMakeLists.txt").read_text()
    match = re.search(r"set\(MARLOD_LAYERS ([a-z_ ]+)\)", cmake)
    if not match:
        sys.exit("CMakeLists.txt declares no MARLOD_LAYERS")
    return match.group(1).split()


def upward_includes(root, layers):
    rank = {name: index for index, name in enumerate(layers)}
    include = re.compile(r'^\s*#\s*include\s+"([a-z_]+)/')
    for path in sorted((root / "src").rglob("*")):
        if path.suffix not in (".h", ".cc"):
            continue
        folder = path.relative_to(root / "src").parts[0]
        if folder not in rank:
            yield f"src/{folder}: a source folder missing from MARLOD_LAYERS"
            continue
        for number, line in enumerate(path.read_text().splitlines(), 1):
            found = include.match(line)
            if found and rank.get(found.group(1), -1) > rank[folder]:
                yield (f"{path.relative_to(root)}:{number}: {folder}/ includes "
                       f"{found.group(1)}/, a layer above it")


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".").resolve()
    faults = sorted(set(upward_includes(root, declared_layers(root))))
    for fault in faults:
        print(fault)
    print(f"{len(faults)} upward includes" if faults else "layers: every include points down")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Lists the include graph of src/ by folder and fails on an edge that goes up.

Each folder of src/ is a layer; a file may include headers of its own layer
and of the layers below it, never above. Usage: check_layers.py [SRC_FOLDER]
"""
import collections
import os
import re
import sys

# Lowest first; the order the README's architecture section draws.
LAYERS = ["platform", "support", "report", "transfer", "engine", "run", "shell"]
INCLUDE = re.compile(r'\s*#\s*include\s+"([^"/]+)/[^"]+"')


def include_edges(src):
    """(from layer, to layer) -> ["file: included header", ...]"""
    edges = collections.defaultdict(list)
    for root, _, files in os.walk(src):
        for name in sorted(files):
            if not name.endswith((".cpp", ".h", ".inc")):
                continue
            path = os.path.join(root, name)
            layer = os.path.relpath(path, src).split(os.sep)[0]
            with open(path, encoding="utf-8", errors="replace") as text:
                for line in text:
                    match = INCLUDE.match(line)
                    if match and match.group(1) in LAYERS:
                        edges[(layer, match.group(1))].append(
                            f"{os.path.relpath(path, src)}: {line.strip()}")
    return edges


def main():
    src = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "src")
    folders = sorted(entry.name for entry in os.scandir(src) if entry.is_dir())
    unknown = [folder for folder in folders if folder not in LAYERS]
    edges = include_edges(src)
    wrong = []
    for (layer, below), lines in sorted(edges.items(),
                                        key=lambda e: (LAYERS.index(e[0][0]) if e[0][0] in LAYERS else -1,
                                                       LAYERS.index(e[0][1]))):
        print(f"{layer:9} -> {below:9} {len(lines):4} includes")
        if layer in LAYERS and LAYERS.index(below) > LAYERS.index(layer):
            wrong.extend(lines)
    for folder in unknown:
        print(f"error: src/{folder} is in no layer; add it to LAYERS in {sys.argv[0]}")
    for line in wrong:
        print(f"error: includes a layer above its own: {line}")
    return 1 if unknown or wrong else 0


if __name__ == "__main__":
    sys.exit(main())

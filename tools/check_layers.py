#!/usr/bin/env python3
"""Holds the sources against the program's layers, as a configured build
lists them in its layers.txt (cmake/Layers.cmake): a file may include the
headers of its own layer and of the layers it links, directly or through
their public links, and no other of the project; and the layers' links form
no circle. The build enforces the same for what it compiles; this also
reaches the other platform's files and headers no one includes.

Tests (*_test.cpp) and the test support link what they need
(cmake/Tests.cmake) and are not held to a layer.

    tools/check_layers.py LAYERS_TXT [--root DIR] [FILE...]

Without FILEs, every tracked C++ source and header under DIR (the current
folder by default). Prints one line per include that climbs and exits 1 if
there is any."""

import argparse
import os
import re
import subprocess
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
TEST_SUPPORT = "kelpo32_testing"


def read_layers(path):
    """{name: (paths, [(link, private)])} in the order the build made them."""
    layers = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.rstrip("\n")
            if not line:
                continue
            name, paths, links = (line.split("\t") + ["", ""])[:3]
            parsed = []
            for link in filter(None, links.split(",")):
                target, _, how = link.partition(":")
                parsed.append((target, how == "private"))
            layers[name] = ([p for p in paths.split(",") if p], parsed)
    return layers


def circle(layers):
    """A circle of links as a list of names, or None."""
    state = {}

    def visit(name, trail):
        state[name] = "open"
        for target, _ in layers.get(name, ((), ()))[1]:
            if state.get(target) == "open":
                return trail[trail.index(target):] + [target]
            if target not in state:
                found = visit(target, trail + [target])
                if found:
                    return found
        state[name] = "done"
        return None

    for name in layers:
        if name not in state:
            found = visit(name, [name])
            if found:
                return found
    return None


def visible(layers):
    """{name: the layers whose headers it may include}."""
    public = {}

    def exported(name):
        # A layer and what its public links bring along to those that link it.
        if name not in public:
            public[name] = {name}
            for target, private in layers[name][1]:
                if not private:
                    public[name] |= exported(target)
        return public[name]

    seen = {}
    for name, (_, links) in layers.items():
        seen[name] = {name}
        for target, _ in links:
            seen[name] |= exported(target)
    return seen


def owner(layers, path):
    """The layer whose paths hold `path` (the longest match), or None."""
    best, length = None, -1
    for name, (paths, _) in layers.items():
        for p in paths:
            if (path == p or path.startswith(p + "/")) and len(p) > length:
                best, length = name, len(p)
    return best


def tracked_sources(root):
    out = subprocess.run(["git", "ls-files", "--", "*.cpp", "*.h"], cwd=root, check=True,
                         capture_output=True, text=True).stdout
    return out.split()


def check(layers, root, files):
    """The findings, one text each."""
    findings = []
    found = circle(layers)
    if found:
        findings.append("layers.txt: the layers link in a circle: " + " -> ".join(found))
    may = visible(layers)
    for rel in files:
        if rel.endswith("_test.cpp"):
            continue
        layer = owner(layers, rel)
        if layer is None or layer == TEST_SUPPORT:
            continue
        with open(os.path.join(root, rel), encoding="utf-8", errors="replace") as f:
            for number, line in enumerate(f, 1):
                m = INCLUDE.match(line)
                if not m:
                    continue
                target = owner(layers, m.group(1))
                if target is not None and target not in may[layer]:
                    findings.append(f"{rel}:{number}: includes {m.group(1)} of {target}, "
                                    f"which {layer} does not link")
    return findings


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("layers")
    parser.add_argument("--root", default=".")
    parser.add_argument("files", nargs="*")
    args = parser.parse_intermixed_args()
    layers = read_layers(args.layers)
    files = args.files or tracked_sources(args.root)
    findings = check(layers, args.root, files)
    for finding in findings:
        print(finding)
    return 1 if findings else 0


if __name__ == "__main__":
    sys.exit(main())

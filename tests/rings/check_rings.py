#!/usr/bin/env python3
"""The rings of the source tree: the folders' includes form no cycle, no folder includes another
folder's internal header, and the core (plain C++) includes neither Qt nor the windows.

    check_rings.py SOURCE_DIR

Prints every breach with the file and line that makes it; exit 0 when there is none, 1 otherwise.
The build refuses an include its targets' links do not allow; this check sees what the links
cannot: a cycle made by linking both ways, and a private header reached within a link.
"""
import os
import re
import sys

# Folders of the core: no Qt, no windows.
CORE = {"output", "engine", "loader", "map", "sequence", "traceset", "sumo", "vissim",
        "timeline", "controller", "sumo_files"}
WINDOWS = {"gui", "app"}
# Not part of the rings: they may reach anything they test or measure.
OUTSIDE = {"tests", "bench", "fuzz", "build", "docs", "examples", "macros", "scripts", "cmake"}
PRIVATE_HEADER = "internal.h"  # a folder's helpers shared by its own sources only

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def source_files(root):
    for folder, dirs, files in os.walk(root):
        rel = os.path.relpath(folder, root)
        top = rel.split(os.sep)[0]
        if top in OUTSIDE or (top.startswith(".") and top != "."):
            dirs[:] = []
            continue
        for name in sorted(files):
            if name.endswith((".cpp", ".h")):
                yield rel.replace(os.sep, "/"), os.path.join(folder, name)


def includes(path):
    with open(path, encoding="utf-8", errors="replace") as f:
        for number, line in enumerate(f, 1):
            m = INCLUDE.match(line)
            if m:
                yield number, m.group(1) == "<", m.group(2)


def cycles(edges):
    """The strongly connected components of more than one folder (Tarjan)."""
    index, low, stack, on_stack, found = {}, {}, [], set(), []

    def visit(v):
        index[v] = low[v] = len(index)
        stack.append(v)
        on_stack.add(v)
        for w in sorted(edges.get(v, ())):
            if w not in index:
                visit(w)
                low[v] = min(low[v], low[w])
            elif w in on_stack:
                low[v] = min(low[v], index[w])
        if low[v] == index[v]:
            component = []
            while True:
                w = stack.pop()
                on_stack.discard(w)
                component.append(w)
                if w == v:
                    break
            if len(component) > 1:
                found.append(sorted(component))

    for v in sorted(edges):
        if v not in index:
            visit(v)
    return found


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    root = os.path.abspath(sys.argv[1])
    breaches, edges, where = [], {}, {}
    for folder, path in source_files(root):
        rel = os.path.relpath(path, root)
        for number, system, name in includes(path):
            place = f"{rel}:{number}"
            if system:
                if folder.split("/")[0] in CORE and re.match(r"Q[A-Za-z]+", name):
                    breaches.append(f"{place}: the core includes Qt <{name}>")
                continue
            target = os.path.dirname(name)
            if not target or target == folder:
                continue
            edges.setdefault(folder, set()).add(target)
            where.setdefault((folder, target), place)
            if os.path.basename(name) == PRIVATE_HEADER:
                breaches.append(f"{place}: {name} is private to {target}/")
            if folder.split("/")[0] in CORE and target.split("/")[0] in WINDOWS:
                breaches.append(f"{place}: the core includes the windows' {name}")
    for component in cycles(edges):
        links = [f"{a} -> {b} ({where[(a, b)]})" for a in component for b in component
                 if (a, b) in where]
        breaches.append("include cycle among " + ", ".join(component) + ": " + "; ".join(links))
    for breach in breaches:
        print(breach)
    print(f"{len(edges)} folders, {sum(len(t) for t in edges.values())} links between them, "
          f"{len(breaches)} breach(es)")
    return 1 if breaches else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Checks that the #include graph of the C++ code has no cycle.

A header and the .cpp of the same name are one unit. No unit may reach
itself through includes, and no folder may reach itself through the
includes of its files. The program's top (app/driver.* and app/main.cpp)
counts as a folder of its own: it calls into every folder, nothing includes
it, and the rest of app/ (the run's state, its end, the log) is the bottom
that every routine may include. So do the unit tests of a folder (*_test),
which stand above its code and the test support they include.

    python3 scripts/check_includes.py [SOURCE_DIR] [--list]

Exits 1, naming a cycle, when there is one; --list prints the folder edges.
"""
import os
import re
import sys

TOP = {"app/driver", "app/main"}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def unit_graph(root):
    graph = {}
    for folder, dirs, files in os.walk(root):
        dirs[:] = [d for d in dirs if not d.startswith((".", "build"))]
        for name in files:
            if not name.endswith((".cpp", ".h")):
                continue
            path = os.path.relpath(os.path.join(folder, name), root)
            unit = os.path.splitext(path)[0]
            with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
                targets = {os.path.splitext(t)[0] for t in INCLUDE.findall(f.read())}
            graph.setdefault(unit, set()).update(targets - {unit})
    return graph


def folder_of(unit):
    if unit in TOP:
        return "app (top)"
    return os.path.dirname(unit) + (" (tests)" if unit.endswith("_test") else "")


def folder_graph(units):
    graph = {}
    for unit, targets in units.items():
        for target in targets:
            if folder_of(unit) != folder_of(target):
                graph.setdefault(folder_of(unit), set()).add(folder_of(target))
    return graph


def find_cycle(graph):
    """A list of nodes that closes a cycle, or None."""
    state = {}
    for start in sorted(graph):
        stack = [(start, iter(sorted(graph.get(start, ()))))]
        path = [start]
        state[start] = "open"
        while stack:
            node, children = stack[-1]
            child = next(children, None)
            if child is None:
                state[node] = "done"
                stack.pop()
                path.pop()
            elif state.get(child) == "open":
                return path[path.index(child):] + [child]
            elif child not in state:
                state[child] = "open"
                stack.append((child, iter(sorted(graph.get(child, ())))))
                path.append(child)
    return None


def main(argv):
    root = next((a for a in argv[1:] if not a.startswith("--")),
                os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
    units = unit_graph(root)
    folders = folder_graph(units)
    if "--list" in argv:
        for folder in sorted(folders):
            print(folder, "->", ", ".join(sorted(folders[folder])))
    failed = False
    for kind, graph in (("files", units), ("folders", folders)):
        cycle = find_cycle(graph)
        if cycle:
            print(f"include cycle between {kind}: " + " -> ".join(cycle))
            failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

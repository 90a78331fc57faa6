#!/usr/bin/env python3
"""Checks the include arrows between the product folders.

Each folder is a layer and may include only from the layers below it (skipping a layer is
fine); only the Qt layers may include Qt. Prints file:line and the arrow for every include
that breaks this and exits 1; exits 0 when there is none.

usage: check-layers.py [ROOT]     check the tree at ROOT (default: this repository)
       check-layers.py --self-test  check that a tree with bad arrows is refused
"""
import os
import re
import sys
import tempfile

# The layers one step below each folder; a folder may include any layer reachable from it.
BELOW = {
    "app": ["panel", "service", "slot"],
    "panel": ["dialogs", "slot"],
    "dialogs": ["ui", "slot"],
    "ui": ["res"],
    "res": [],
    "service": ["slot"],
    "slot": ["net"],
    "net": ["filter", "log", "capture"],
    "filter": [],
    "log": [],
    "capture": [],
}
QT_LAYERS = {"ui", "dialogs", "panel", "app"}
# Single files that bridge two layers on purpose, with the folder each may reach beyond its own.
# The loop notifier is how the Qt event loop drives the socket loop, so it needs the loop's type.
BRIDGES = {"ui/NetLoopNotifier.cpp": {"net"}}

SOURCE_SUFFIXES = (".h", ".hpp", ".cpp", ".cc", ".h.in", ".cpp.in")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')
QT_HEADER = re.compile(r"^(Qt\w*/|Q[A-Z]\w*$|q\w+\.h$)")


def reachable(layer):
    seen, todo = set(), [layer]
    while todo:
        for below in BELOW[todo.pop()]:
            if below not in seen:
                seen.add(below)
                todo.append(below)
    return seen


def judge(rel_file, layer, bracket, target):
    """The reason the include is refused, or None when it is allowed."""
    if bracket == "<":
        if QT_HEADER.match(target) and layer not in QT_LAYERS:
            return f"{layer}/ includes Qt (<{target}>); only {', '.join(sorted(QT_LAYERS))} may"
        return None
    parts = target.split("/")
    if ".." in parts:
        return f'"{target}" climbs out of its folder; name the layer instead'
    if len(parts) == 1 or parts[0] == layer:
        return None
    if parts[0] not in BELOW:
        return f'{layer} -> {parts[0]}: "{parts[0]}/" is not a layer'
    if parts[0] in reachable(layer) or parts[0] in BRIDGES.get(rel_file, ()):
        return None
    return f"{layer} -> {parts[0]} is not an allowed arrow (\"{target}\")"


def check(root):
    faults = []
    for layer in sorted(BELOW):
        top = os.path.join(root, layer)
        for folder, dirs, files in os.walk(top):
            dirs.sort()
            for name in sorted(files):
                if not name.endswith(SOURCE_SUFFIXES):
                    continue
                path = os.path.join(folder, name)
                rel = os.path.relpath(path, root)
                with open(path, encoding="utf-8", errors="replace") as f:
                    for number, line in enumerate(f, 1):
                        m = INCLUDE.match(line)
                        why = m and judge(rel, layer, m.group(1), m.group(2))
                        if why:
                            faults.append(f"{rel}:{number}: {why}")
    return faults


def self_test():
    planted = {
        "net/Loop.h": '#include "filter/Rule.h"\n#include "log/Line.h"\n#include <vector>\n',
        "net/Up.cpp": '#include "net/Loop.h"\n#include "slot/Slot.h"\n',
        "slot/Qt.cpp": "#include <QObject>\n",
        "dialogs/Ok.cpp": '#include "net/Loop.h"\n#include "ui/Dialog.h"\n#include <QWidget>\n',
        "ui/Side.cpp": '#include "../slot/Slot.h"\n#include "bench/X.h"\n',
        "res/Up.cpp.in": '#include "app/Version.h"\n',
        "ui/NetLoopNotifier.cpp": '#include "net/Loop.h"\n',
        "bench/Any.cpp": '#include "app/Version.h"\n#include <QObject>\n',
    }
    expected = [
        "net/Up.cpp:2: net -> slot",
        "res/Up.cpp.in:1: res -> app",
        "slot/Qt.cpp:1: slot/ includes Qt",
        'ui/Side.cpp:1: "../slot/Slot.h" climbs',
        'ui/Side.cpp:2: ui -> bench: "bench/" is not a layer',
    ]
    with tempfile.TemporaryDirectory() as root:
        for rel, text in planted.items():
            os.makedirs(os.path.join(root, os.path.dirname(rel)), exist_ok=True)
            with open(os.path.join(root, rel), "w", encoding="utf-8") as f:
                f.write(text)
        faults = check(root)
    ok = len(faults) == len(expected) and all(f.startswith(e) for f, e in zip(faults, expected))
    print("\n".join(faults))
    print("self-test " + ("passed" if ok else "FAILED: expected, in order:\n" + "\n".join(expected)))
    return 0 if ok else 1


def main():
    if sys.argv[1:] == ["--self-test"]:
        return self_test()
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    faults = check(root)
    for fault in faults:
        print(fault)
    print(f"{len(faults)} include(s) against the layers" if faults else "the includes follow the layers")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())

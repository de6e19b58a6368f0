#!/usr/bin/env python3
"""Fails when a file includes a project header from outside what its folder may use.

The bot (npc/) and what the server shares with it (server/runtime/, server/shared/) must not reach
into the game server; the virtual machine and the transport stand on their own. Only quoted
includes count: system headers are everyone's.

Usage: include_rules.py <source root>
"""
import os
import re
import sys

COMMON = ["common/"]
# Folder (relative to the root, with its sub-folders) -> the folders its files may include from.
RULES = {
    "npc/": ["npc/", "net/", "server/vm/", "server/runtime/", "server/shared/"] + COMMON,
    "server/runtime/": ["server/runtime/", "server/vm/"] + COMMON,
    "server/shared/": ["server/shared/", "net/"] + COMMON,
    "server/vm/": ["server/vm/"] + COMMON,
    "net/": ["net/"] + COMMON,
    "common/": COMMON,
}
TOP_LEVEL = ("common/", "net/", "npc/", "server/", "tests/", "tools/", "bench/")
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')
SOURCES = (".c", ".cpp", ".h")


def rule_for(path):
    """The allowed folders of the most specific rule covering `path`, or None."""
    best = None
    for folder in RULES:
        if path.startswith(folder) and (best is None or len(folder) > len(best)):
            best = folder
    return best


def resolve(including, target):
    """`target` as a path from the root: includes are written from the root, or next to the file."""
    if target.startswith(TOP_LEVEL):
        return os.path.normpath(target)
    return os.path.normpath(os.path.join(os.path.dirname(including), target))


def check(root):
    faults = []
    for folder in RULES:
        base = os.path.join(root, folder)
        for directory, _, files in os.walk(base):
            for name in sorted(files):
                if not name.endswith(SOURCES):
                    continue
                path = os.path.relpath(os.path.join(directory, name), root)
                rule = rule_for(path)
                if rule != folder:
                    continue  # a sub-folder with a rule of its own
                allowed = RULES[rule]
                with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
                    for number, line in enumerate(f, 1):
                        match = INCLUDE.match(line)
                        if not match:
                            continue
                        target = resolve(path, match.group(1))
                        if not target.startswith(tuple(allowed)):
                            faults.append(f"{path}:{number}: includes {target}, outside what {rule} may use "
                                          f"({', '.join(allowed)})")
    return faults


def main():
    if len(sys.argv) != 2:
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    faults = check(sys.argv[1])
    for fault in faults:
        print(fault)
    if faults:
        print(f"{len(faults)} include(s) break the folder rules")
        return 1
    print(f"include rules hold for {', '.join(RULES)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())

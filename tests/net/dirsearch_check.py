#!/usr/bin/env python3
"""The directory search against os.scandir + fnmatch over a temporary tree.

Expected for a pattern dir/filter: every real subdirectory of dir (attribute 16, size 0) and every
regular file whose name matches filter (attribute 0, its size); nothing reached through a link,
no "." or "..", nothing else. Order is the directory's own, so the listings are compared as sets.
"""
import fnmatch
import os
import subprocess
import sys
import tempfile


def expected(directory, pattern):
    out = set()
    with os.scandir(directory) as entries:
        for e in entries:
            if e.is_dir(follow_symlinks=False):
                out.add((e.name, 16, 0))
            elif e.is_file(follow_symlinks=False) and fnmatch.fnmatchcase(e.name, pattern):
                out.add((e.name, 0, e.stat(follow_symlinks=False).st_size))
    return out


def listings(tool, patterns):
    text = subprocess.run([tool] + patterns, check=True, capture_output=True, text=True).stdout
    result, current = {}, None
    for line in text.splitlines():
        fields = line.split("\t")
        if fields[0] == "pattern":
            current = fields[1]
            result[current] = None
        elif fields[0] == "none":
            result[current] = "none"
        else:
            if result[current] is None:
                result[current] = []
            result[current].append((fields[0], int(fields[1]), int(fields[2])))
    return result


def main():
    tool = sys.argv[1]
    failures = 0
    with tempfile.TemporaryDirectory() as root:
        tree = os.path.join(root, "tree")
        os.mkdir(tree)
        files = {"a.txt": 0, "b.txt": 1, "noext": 4097, "with space.dat": 70000, ".hidden": 3,
                 "A.TXT": 12, "x.dat": 5, "ab.txt.bak": 9}
        for name, size in files.items():
            with open(os.path.join(tree, name), "wb") as f:
                f.write(os.urandom(size))
        for sub in ("sub", "sub.txt", "Zdir"):
            os.mkdir(os.path.join(tree, sub))
        with open(os.path.join(tree, "sub", "inner.txt"), "wb") as f:
            f.write(b"12345678")
        os.symlink("a.txt", os.path.join(tree, "link.txt"))
        os.symlink("sub", os.path.join(tree, "linkdir"))
        os.mkfifo(os.path.join(tree, "pipe.txt"))
        empty = os.path.join(root, "empty")
        os.mkdir(empty)
        files_only = os.path.join(root, "files")
        os.mkdir(files_only)
        with open(os.path.join(files_only, "one.bin"), "wb") as f:
            f.write(b"x")

        cases = [(tree, p) for p in ("*", "*.txt", "?.txt", "[ab]*", "*.none", "with *", "*.TXT")]
        cases += [(os.path.join(tree, "sub"), "*.txt"), (empty, "*"), (files_only, "*.txt"),
                  (files_only, "*")]
        patterns = [d + "/" + p for d, p in cases]
        got = listings(tool, patterns)
        for (directory, pattern), full in zip(cases, patterns):
            want = expected(directory, pattern)
            have = got.get(full)
            if not want:
                ok = have == "none"
            else:
                ok = isinstance(have, list) and len(have) == len(set(have)) and set(have) == want
            if not ok:
                failures += 1
                print(f"FAIL {full}: want {sorted(want) if want else 'none'} got {have}")
        # A missing directory.
        if listings(tool, [os.path.join(root, "missing") + "/*"]).get(os.path.join(root, "missing") + "/*") != "none":
            failures += 1
            print("FAIL missing directory gives a handle")

        # A pattern without a directory searches the working directory.
        text = subprocess.run([tool, "*.bin"], cwd=files_only, check=True, capture_output=True,
                              text=True).stdout
        if text.splitlines()[1:] != ["one.bin\t0\t1"]:
            failures += 1
            print(f"FAIL pattern without directory: {text!r}")

    print("dirsearch check:", "ok" if failures == 0 else f"{failures} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

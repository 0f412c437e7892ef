#!/usr/bin/env python3
"""Regenerates every EDAM source into a scratch folder and fails when any
checked-in file differs from it (or is missing).

Usage: check_generated.py <repository root> <scratch folder>
"""
import filecmp
import os
import shutil
import subprocess
import sys


def main() -> int:
    root, scratch = sys.argv[1], sys.argv[2]
    if os.path.exists(scratch):
        shutil.rmtree(scratch)
    os.makedirs(scratch)
    generator = os.path.join(root, "tools", "edamgen", "edamgen.py")
    subprocess.run([sys.executable, generator, "--out", scratch], check=True)
    differ = []
    count = 0
    for folder, _, names in os.walk(scratch):
        for name in names:
            fresh = os.path.join(folder, name)
            rel = os.path.relpath(fresh, scratch)
            count += 1
            checked_in = os.path.join(root, rel)
            if not os.path.exists(checked_in) or not filecmp.cmp(fresh, checked_in, shallow=False):
                differ.append(rel)
    for rel in differ:
        print("generated file differs from the table's output: " + rel, file=sys.stderr)
    if differ:
        print("regenerate with: python3 tools/edamgen/edamgen.py --out .", file=sys.stderr)
        return 1
    print("%d generated files match the table" % count)
    return 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Checks of the synthetic catalogue script.

    python3 test_catalogue.py --out DIR

1. The written catalogue passes korgen's checks, the type list and the flag
   list (korgen --check).
2. Every total of the complete catalogue holds (check_catalogue.py).
3. The same seed writes the same files; another seed writes other contents.
4. The recount notices a catalogue that misses one property, so a passing
   step 2 means something.
"""
import argparse
import filecmp
import os
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
KORGEN = os.path.join(ROOT, "tools", "korgen")


def run(*cmd, cwd=None):
    p = subprocess.run([sys.executable, *cmd], cwd=cwd, capture_output=True, text=True)
    return p.returncode, p.stdout + p.stderr


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--out", required=True)
    args = ap.parse_args()
    shutil.rmtree(args.out, ignore_errors=True)
    a, b, c, d = (os.path.join(args.out, n) for n in "abcd")
    results = []

    def check(name, ok, detail=""):
        results.append(ok)
        print(f"{'PASS' if ok else 'FAIL'}: {name}" + ("" if ok else f"\n{detail}"))

    make = os.path.join(HERE, "make_catalogue.py")
    rc, out = run(make, "--out", a)
    check("make_catalogue writes a catalogue", rc == 0, out)
    rc, out = run("-m", "korgen", "--schema", a, "--check",
                  "--type-list", os.path.join(ROOT, "tests", "data", "catalogue-types.tsv"),
                  "--flag-list", os.path.join(ROOT, "tests", "data", "special-flags.tsv"), cwd=KORGEN)
    check("korgen accepts it with the type and flag lists", rc == 0, out)
    rc, out = run(os.path.join(HERE, "check_catalogue.py"), a)
    check("it meets the complete catalogue's totals", rc == 0, out)

    run(make, "--out", b)
    same = filecmp.dircmp(a, b)
    check("the same seed writes the same files",
          not same.diff_files and not same.left_only and not same.right_only, str(same.diff_files))
    run(make, "--out", d, "--seed", "7")
    other = filecmp.dircmp(a, d)
    check("another seed writes other contents", bool(other.diff_files))

    shutil.copytree(a, c)
    path = os.path.join(c, "kor.vm.schema")
    with open(path, encoding="utf-8") as fh:
        lines = fh.read().split("\n")
    # drop the first plain property line of a data type
    for i in range(1, len(lines)):
        if lines[i].startswith("  ") and not lines[i].startswith("  method") and ":" in lines[i] \
                and lines[i - 1].startswith("data "):
            del lines[i]
            break
    with open(path, "w", encoding="utf-8") as fh:
        fh.write("\n".join(lines))
    rc, out = run(os.path.join(HERE, "check_catalogue.py"), c)
    check("the recount notices a missing property",
          rc != 0 and "FAIL properties.data" in out, out)

    passed = sum(results)
    print(f"{passed} passed, {len(results) - passed} failed")
    return 0 if passed == len(results) else 1


if __name__ == "__main__":
    sys.exit(main())

"""Helpers shared by the generator tests: running korgen, writing small
schemas into temporary folders and comparing output trees."""
import contextlib
import difflib
import io
import os
import subprocess
import sys

TESTS_DIR = os.path.dirname(os.path.abspath(__file__))
KORGEN_ROOT = os.path.dirname(TESTS_DIR)
SAMPLE_DIR = os.path.join(KORGEN_ROOT, "testdata", "sample")
GOLDEN_DIR = os.path.join(KORGEN_ROOT, "testdata", "golden")
# The golden output is made with small source files, so that a module spans
# several of them.
GOLDEN_ARGS = ("--chunk-types", "8")
REGEN_HINT = ("generated output differs from the golden files; if the change is intended, "
              "regenerate them with: python3 tests/regen_golden.py")


if KORGEN_ROOT not in sys.path:
    sys.path.insert(0, KORGEN_ROOT)


def run_korgen_process(*args):
    """Runs `python3 -m korgen ARGS` from the generator's folder."""
    return subprocess.run([sys.executable, "-m", "korgen", *args], cwd=KORGEN_ROOT,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, universal_newlines=True)


def run_korgen(*args):
    """The same in this process, which is much faster: the exit status is the
    value korgen's main() hands to sys.exit."""
    from korgen.__main__ import main
    out, err = io.StringIO(), io.StringIO()
    with contextlib.redirect_stdout(out), contextlib.redirect_stderr(err):
        try:
            code = main(list(args))
        except SystemExit as e:  # argparse
            code = e.code if isinstance(e.code, int) else 1
    return subprocess.CompletedProcess(["korgen", *args], code, out.getvalue(), err.getvalue())


def generate(schema_dir, out_dir, *extra, process=False):
    """Generates and raises with korgen's messages when it fails."""
    r = (run_korgen_process if process else run_korgen)("--schema", schema_dir, "--out", out_dir, *extra)
    if r.returncode != 0:
        raise AssertionError(f"korgen failed ({r.returncode}):\n{r.stderr}")
    return r


# The generator's list of the files it wrote: bookkeeping, not output.
MANIFEST = ".korgen-outputs"


def files_under(root, manifest=False):
    """Relative paths of every file below root, sorted; the generator's
    manifest only when asked for."""
    found = []
    for dirpath, _, filenames in os.walk(root):
        for f in filenames:
            if f == MANIFEST and dirpath == root and not manifest:
                continue
            found.append(os.path.relpath(os.path.join(dirpath, f), root).replace(os.sep, "/"))
    return sorted(found)


def _read(path):
    with open(path, encoding="utf-8") as fh:
        return fh.read()


def compare_trees(expected_dir, actual_dir):
    """None when both trees hold the same files with the same content, else a
    message naming the missing and unexpected files and showing a unified diff
    of the first file whose content differs."""
    expected, actual = set(files_under(expected_dir)), set(files_under(actual_dir))
    problems = []
    missing = sorted(expected - actual)
    extra = sorted(actual - expected)
    if missing:
        problems.append("not generated (only in the golden files): " + ", ".join(missing))
    if extra:
        problems.append("generated but not in the golden files: " + ", ".join(extra))
    for rel in sorted(expected & actual):
        want, got = _read(os.path.join(expected_dir, rel)), _read(os.path.join(actual_dir, rel))
        if want != got:
            diff = difflib.unified_diff(want.splitlines(True), got.splitlines(True),
                                        fromfile="golden/" + rel, tofile="generated/" + rel)
            problems.append("".join(diff))
            break
    if not problems:
        return None
    return REGEN_HINT + "\n" + "\n".join(problems)


def write_files(root, files):
    """Writes {relative name: text} below root."""
    for name, text in files.items():
        path = os.path.join(root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", encoding="utf-8") as fh:
            fh.write(text)

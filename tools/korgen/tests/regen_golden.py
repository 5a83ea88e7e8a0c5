"""Regenerates the golden output of the sample schema.

    cd tools/korgen && python3 tests/regen_golden.py

Run it after an intended change to the generated code, then review the
difference of testdata/golden before committing it.
"""
import os
import shutil
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import support  # noqa: E402


def main():
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "out")
        os.mkdir(out)
        try:
            support.generate(support.SAMPLE_DIR, out, *support.GOLDEN_ARGS, process=True)
        except AssertionError as e:
            print(e, file=sys.stderr)
            return 1
        if os.path.isdir(support.GOLDEN_DIR):
            shutil.rmtree(support.GOLDEN_DIR)
        shutil.copytree(out, support.GOLDEN_DIR)
    print(f"golden files rewritten: {len(support.files_under(support.GOLDEN_DIR))} files in "
          f"{os.path.relpath(support.GOLDEN_DIR)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())

"""Inputs that once made the generator fail with a traceback (or a misleading
message) are reported as `file:line: message`, with nothing written."""
import os
import tempfile
import unittest

import support
from test_errors import CATALOGUE, MODULE, OTHER


class UnreadableInputTest(unittest.TestCase):
    def setUp(self):
        tmp = tempfile.TemporaryDirectory()
        self.addCleanup(tmp.cleanup)
        self.tmp = tmp.name
        self.schema = os.path.join(tmp.name, "schema")
        self.out = os.path.join(tmp.name, "out")
        support.write_files(self.schema, {"t.catalogue": CATALOGUE, "t.schema": MODULE, "t.other.schema": OTHER})

    def fails(self, *args, message):
        """Runs korgen in a process and checks the failure it reports."""
        r = support.run_korgen_process("--schema", self.schema, "--out", self.out, *args)
        self.assertEqual(r.returncode, 1, r.stderr)
        self.assertNotIn("Traceback", r.stderr)
        self.assertIn(message, r.stderr)
        self.assertFalse(os.path.exists(self.out), "files written despite the error")
        return r.stderr

    def test_schema_files_that_are_folders(self):
        with self.subTest("module file"):
            path = os.path.join(self.schema, "t.other.schema")
            os.remove(path)
            os.mkdir(path)
            self.fails(message=f"{path}:0: cannot read the file: Is a directory")
        with self.subTest("catalogue"):
            path = os.path.join(self.schema, "t.catalogue")
            os.remove(path)
            os.mkdir(path)
            self.fails(message=f"{path}:0: cannot read the file: Is a directory")

    def test_byte_order_mark(self):
        path = os.path.join(self.schema, "t.schema")
        with open(path, "wb") as fh:
            fh.write(b"\xef\xbb\xbf" + MODULE.encode())
        self.fails(message=f"{path}:1: the file starts with a UTF-8 byte-order mark")

    def test_control_characters_outside_comments(self):
        path = os.path.join(self.schema, "t.schema")
        for char, code in (("\x0c", "000C"), ("\r", "000D"), ("\x7f", "007F")):
            with self.subTest(code):
                with open(path, "w", encoding="utf-8", newline="") as fh:
                    fh.write(MODULE + f"data A since=v1  # caf\u00e9 and {char} in a comment are fine\n"
                                      f"  x:{char}int\n")
                self.fails(message=f"{path}:{MODULE.count(chr(10)) + 2}: character U+{code} is not allowed")

    def test_lists_that_cannot_be_read(self):
        missing = os.path.join(self.tmp, "missing.tsv")
        binary = os.path.join(self.tmp, "binary.tsv")
        with open(binary, "wb") as fh:
            fh.write(b"# header\nwire\tkind\tmodule\tcpp\nt.Base\tdata\tt\tT::Ba\xffse\n")
        for option in ("--type-list", "--flag-list"):
            with self.subTest(option, file="missing"):
                self.fails(option, missing, message=f"{missing}:0: cannot read the file: No such file or directory")
            with self.subTest(option, file="not UTF-8"):
                self.fails(option, binary, message=f"{binary}:3: not UTF-8 text")
            with self.subTest(option, file="folder"):
                self.fails(option, self.tmp, message=f"{self.tmp}:0: cannot read the file: Is a directory")
        with self.subTest("control character quoted in a message"):
            listed = os.path.join(self.tmp, "types.tsv")
            with open(listed, "w", encoding="utf-8", newline="") as fh:
                fh.write("wire\tkind\tmodule\tcpp\nt.Base\tdata\tt\tT::\r Base\n")
            stderr = self.fails("--type-list", listed, message="the catalogue lists T::\\x0d Base")
            self.assertTrue(all(line.startswith(("/", "korgen: ")) for line in stderr.splitlines()), stderr)


class LongChainTest(unittest.TestCase):
    """Parent chains are walked without recursion; a chain whose headers
    would nest deeper than compilers allow is refused."""

    def chain(self, count):
        # Declared child first: each type names a parent declared after it.
        lines = [f"data C{i} : C{i + 1} since=v1\n  p{i}: int?\n" for i in range(count - 1)]
        lines.append(f"data C{count - 1} since=v1\n")
        return "".join(lines)

    def run_chain(self, count):
        with tempfile.TemporaryDirectory() as tmp:
            support.write_files(tmp, {"t.catalogue": CATALOGUE, "t.schema": MODULE + self.chain(count),
                                      "t.other.schema": OTHER})
            return support.run_korgen_process("--schema", tmp, "--check")

    def test_chain_of_1500_types(self):
        r = self.run_chain(1500)
        self.assertNotIn("Traceback", r.stderr)
        self.assertEqual(r.returncode, 1)
        self.assertIn("would include headers more than 180 deep", r.stderr)
        # One report per chain, at the type where the limit is crossed.
        self.assertEqual(r.stderr.count("more than 180 deep"), 1, r.stderr)

    def test_chain_within_the_limit(self):
        r = self.run_chain(170)
        self.assertEqual(r.returncode, 0, r.stderr)


if __name__ == "__main__":
    unittest.main()

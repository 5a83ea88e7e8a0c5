"""The sample schema against its golden output, and the comparison itself."""
import os
import tempfile
import unittest

import support


class GoldenTest(unittest.TestCase):
    def test_sample_matches_golden(self):
        self.assertTrue(os.path.isdir(support.GOLDEN_DIR),
                        "no golden files; create them with: python3 tests/regen_golden.py")
        with tempfile.TemporaryDirectory() as out:
            support.generate(support.SAMPLE_DIR, out, *support.GOLDEN_ARGS, process=True)
            problem = support.compare_trees(support.GOLDEN_DIR, out)
        if problem:
            self.fail(problem)

    def test_list_outputs_and_check_name_what_is_written_and_write_nothing(self):
        # The build declares the listed files as the generator's outputs: a
        # file written but not listed, or listed but not written, breaks it.
        with tempfile.TemporaryDirectory() as tmp:
            out = os.path.join(tmp, "out")
            listed = support.run_korgen("--schema", support.SAMPLE_DIR, "--out", out, "--list-outputs")
            self.assertEqual(listed.returncode, 0, listed.stderr)
            checked = support.run_korgen("--schema", support.SAMPLE_DIR, "--check")
            self.assertEqual(checked.returncode, 0, checked.stderr)
            self.assertFalse(os.path.exists(out), "--list-outputs wrote files")
            support.generate(support.SAMPLE_DIR, out)
            names = sorted(os.path.relpath(p, out).replace(os.sep, "/")
                           for p in listed.stdout.splitlines() if p)
            self.assertEqual(names, support.files_under(out))


class CompareTreesTest(unittest.TestCase):
    """The golden test is only as good as the comparison it relies on."""

    def setUp(self):
        tmp = tempfile.TemporaryDirectory()
        self.addCleanup(tmp.cleanup)
        self.golden, self.out = os.path.join(tmp.name, "golden"), os.path.join(tmp.name, "out")
        files = {"a.h": "one\ntwo\n", "src/b.cpp": "int b;\n", "src/c.cpp": "int c;\n"}
        support.write_files(self.golden, files)
        support.write_files(self.out, files)

    def test_identical_trees_pass(self):
        self.assertIsNone(support.compare_trees(self.golden, self.out))

    def test_content_change_shows_a_diff_of_the_first_differing_file(self):
        support.write_files(self.out, {"src/b.cpp": "long b;\n", "src/c.cpp": "long c;\n"})
        problem = support.compare_trees(self.golden, self.out)
        self.assertIsNotNone(problem)
        self.assertIn("regenerate them with: python3 tests/regen_golden.py", problem)
        self.assertIn("--- golden/src/b.cpp", problem)
        self.assertIn("+++ generated/src/b.cpp", problem)
        self.assertIn("-int b;", problem)
        self.assertIn("+long b;", problem)
        self.assertNotIn("src/c.cpp", problem)

    def test_files_missing_on_either_side_are_named(self):
        os.remove(os.path.join(self.out, "a.h"))
        support.write_files(self.out, {"src/new.cpp": ""})
        problem = support.compare_trees(self.golden, self.out)
        self.assertIsNotNone(problem)
        self.assertRegex(problem, r"not generated \(only in the golden files\): a\.h")
        self.assertRegex(problem, r"generated but not in the golden files: src/new\.cpp")


if __name__ == "__main__":
    unittest.main()

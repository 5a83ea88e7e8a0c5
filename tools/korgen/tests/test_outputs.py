"""The output folder: the generator removes only what an earlier run of its
own wrote, and a run that cannot write everything writes nothing."""
import os
import shutil
import stat
import tempfile
import unittest

import support

MANIFEST = support.MANIFEST
HAND_WRITTEN = {
    "src/app/main.cpp": "int main() {}\n",
    "src/helper.h": "#pragma once\n",
    "include/kortypes/extra.h": "// kept\n",
    "include/kortypes/types/mine.h": "// mine\n",
}


class OutputFolderTest(unittest.TestCase):
    def setUp(self):
        tmp = tempfile.TemporaryDirectory()
        self.addCleanup(tmp.cleanup)
        self.tmp = tmp.name
        self.schema = os.path.join(tmp.name, "schema")
        self.out = os.path.join(tmp.name, "out")
        shutil.copytree(support.SAMPLE_DIR, self.schema)

    def generate(self, *extra):
        return support.run_korgen("--schema", self.schema, "--out", self.out, *extra)

    def drop_module_tail(self):
        """Removes the last two types of smp.extra (and their files)."""
        path = os.path.join(self.schema, "smp.extra.schema")
        with open(path, encoding="utf-8") as fh:
            text = fh.read()
        with open(path, "w", encoding="utf-8") as fh:
            fh.write(text[:text.index("managed SpecialTask")])

    def assert_hand_written_kept(self):
        for rel, text in HAND_WRITTEN.items():
            path = os.path.join(self.out, rel)
            self.assertTrue(os.path.exists(path), f"{rel} was removed")
            with open(path, encoding="utf-8") as fh:
                self.assertEqual(fh.read(), text)

    def test_hand_written_files_survive_generation(self):
        with self.subTest("first run into a folder holding them"):
            support.write_files(self.out, HAND_WRITTEN)
            self.assertEqual(self.generate().returncode, 0)
            self.assert_hand_written_kept()
        with self.subTest("a later run that removes types"):
            self.drop_module_tail()
            self.assertEqual(self.generate("--chunk-types", "2").returncode, 0)
            self.assert_hand_written_kept()
            self.assertFalse(os.path.exists(os.path.join(self.out, "include/kortypes/types/smp.extra.Level.h")))

    def test_manifest_lists_exactly_what_was_written(self):
        self.assertEqual(self.generate().returncode, 0)
        with open(os.path.join(self.out, MANIFEST), encoding="utf-8") as fh:
            listed = fh.read().splitlines()
        self.assertEqual(listed, support.files_under(self.out))
        self.drop_module_tail()
        self.assertEqual(self.generate().returncode, 0)
        with open(os.path.join(self.out, MANIFEST), encoding="utf-8") as fh:
            self.assertEqual(fh.read().splitlines(), support.files_under(self.out))
        self.assertNotIn("include/kortypes/types/smp.extra.Level.h", support.files_under(self.out))

    def test_folder_written_before_the_manifest(self):
        # Outputs of an earlier generator carry the banner; other files do not.
        self.assertEqual(self.generate("--chunk-types", "2").returncode, 0)
        os.remove(os.path.join(self.out, MANIFEST))
        support.write_files(self.out, HAND_WRITTEN)
        self.drop_module_tail()
        self.assertEqual(self.generate("--chunk-types", "2").returncode, 0)
        self.assert_hand_written_kept()
        for gone in ("include/kortypes/types/smp.extra.Level.h", "src/smp.extra/types_01.cpp"):
            self.assertFalse(os.path.exists(os.path.join(self.out, gone)), gone)

    def test_manifest_cannot_reach_outside_the_output_folder(self):
        outside = os.path.join(self.tmp, "victim.h")
        support.write_files(self.tmp, {"victim.h": "// not ours\n"})
        os.makedirs(self.out)
        with open(os.path.join(self.out, MANIFEST), "w", encoding="utf-8") as fh:
            fh.write("../victim.h\n" + outside + "\nsrc/../../victim.h\n")
        self.assertEqual(self.generate().returncode, 0)
        self.assertTrue(os.path.exists(outside))

    def test_run_that_cannot_write_changes_nothing(self):
        self.assertEqual(self.generate("--chunk-types", "2").returncode, 0)
        before = {rel: os.stat(os.path.join(self.out, rel)).st_mtime_ns
                  for rel in support.files_under(self.out, manifest=True)}
        # A file where the generator needs a folder for a new module's sources.
        with open(os.path.join(self.schema, "smp.catalogue"), "a", encoding="utf-8") as fh:
            fh.write("module smp.more\n")
        support.write_files(self.schema, {"smp.more.schema": "module smp.more\n\ndata More since=v1\n"})
        support.write_files(self.out, {"src/smp.more": "in the way\n"})
        self.edit_sample_type()
        r = self.generate("--chunk-types", "2")
        self.assertEqual(r.returncode, 1)
        self.assertNotIn("Traceback", r.stderr)
        self.assertIn(os.path.join(self.out, "src/smp.more"), r.stderr)
        after = {rel: os.stat(os.path.join(self.out, rel)).st_mtime_ns
                 for rel in support.files_under(self.out, manifest=True)}
        self.assertEqual(after, {**before, "src/smp.more": after["src/smp.more"]},
                         "files were written or removed by the failed run")

    def edit_sample_type(self):
        path = os.path.join(self.schema, "smp.extra.schema")
        with open(path, encoding="utf-8") as fh:
            text = fh.read()
        with open(path, "w", encoding="utf-8") as fh:
            fh.write(text.replace("  depth: short\n", "  depth: short\n  width: short?\n", 1))

    @unittest.skipIf(os.geteuid() == 0, "root writes into read-only folders")
    def test_read_only_folder(self):
        os.makedirs(self.out)
        os.chmod(self.out, stat.S_IRUSR | stat.S_IXUSR)
        self.addCleanup(os.chmod, self.out, stat.S_IRWXU)
        r = self.generate()
        self.assertEqual(r.returncode, 1)
        self.assertNotIn("Traceback", r.stderr)
        self.assertIn("cannot write", r.stderr)

    def test_out_naming_a_file(self):
        support.write_files(self.tmp, {"plain": "x\n"})
        r = support.run_korgen("--schema", self.schema, "--out", os.path.join(self.tmp, "plain"))
        self.assertEqual(r.returncode, 1)
        self.assertNotIn("Traceback", r.stderr)
        self.assertIn(f"{os.path.join(self.tmp, 'plain')}:0: the output folder is not a folder", r.stderr)

    def test_type_name_longer_than_a_file_name_may_be(self):
        name = "L" + "o" * 260
        with open(os.path.join(self.schema, "smp.bare.schema"), "a", encoding="utf-8") as fh:
            fh.write(f"\ndata {name} since=v1\n")
        with open(os.path.join(self.schema, "smp.bare.schema"), encoding="utf-8") as fh:
            line = fh.read().count("\n")
        for args in ((), ("--list-outputs",)):
            with self.subTest(args=args):
                r = self.generate(*args)
                self.assertEqual(r.returncode, 1)
                self.assertNotIn("Traceback", r.stderr)
                self.assertIn(f"smp.bare.schema:{line}: the output file name smp.bare.{name}.h is longer",
                              r.stderr)
                self.assertFalse(os.path.exists(self.out), "files written despite the error")


if __name__ == "__main__":
    unittest.main()

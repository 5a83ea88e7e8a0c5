"""Output files are rewritten only when their content changes, and files of
types that are gone are removed, so that a schema edit rebuilds little."""
import os
import shutil
import tempfile
import unittest

import support

MODULES = ("smp.extra", "smp.bare", "smp")  # longest first
OLD = 1_000_000_000 * 10 ** 9  # 2001, in nanoseconds
INDEX = "catalogue.tsv"  # lists every type with its member counts


def module_of(rel):
    """The module a generated file belongs to, or None for shared files."""
    parts = rel.split("/")
    if parts[0] == "src" and len(parts) == 3:
        return parts[1]
    if parts[:3] == ["include", "kortypes", "types"]:
        wire = parts[3][:-len(".h")]
        return next(m for m in MODULES if wire.startswith(m + "."))
    if parts[:2] == ["include", "kortypes"] and parts[2][:-len(".h")] in MODULES:
        return parts[2][:-len(".h")]
    return None


class IncrementalTest(unittest.TestCase):
    def setUp(self):
        tmp = tempfile.TemporaryDirectory()
        self.addCleanup(tmp.cleanup)
        self.schema = os.path.join(tmp.name, "schema")
        self.out = os.path.join(tmp.name, "out")
        shutil.copytree(support.SAMPLE_DIR, self.schema)
        # Two types per source file, so that smp.extra has two of them.
        self.generate()

    def generate(self):
        return support.generate(self.schema, self.out, "--chunk-types", "2")

    def edit(self, module, old, new):
        path = os.path.join(self.schema, module + ".schema")
        with open(path, encoding="utf-8") as fh:
            text = fh.read()
        self.assertIn(old, text)
        with open(path, "w", encoding="utf-8") as fh:
            fh.write(text.replace(old, new, 1))

    def age(self):
        """Sets every output file's mtime far back; returns their inodes."""
        inodes = {}
        for rel in support.files_under(self.out):
            path = os.path.join(self.out, rel)
            os.utime(path, ns=(OLD, OLD))
            inodes[rel] = os.stat(path).st_ino
        return inodes

    def rewritten(self, inodes):
        """Files of the aged tree that were rewritten or replaced since."""
        changed = set()
        for rel, ino in inodes.items():
            path = os.path.join(self.out, rel)
            if os.path.exists(path):
                st = os.stat(path)
                if st.st_mtime_ns != OLD or st.st_ino != ino:
                    changed.add(rel)
        return changed

    def test_second_run_rewrites_nothing(self):
        inodes = self.age()
        r = self.generate()
        self.assertEqual(self.rewritten(inodes), set())
        self.assertEqual(sorted(inodes), support.files_under(self.out))
        self.assertIn(" 0 updated", r.stderr)

    def test_edit_rewrites_only_the_files_of_its_module(self):
        with self.subTest("property added in smp.extra"):
            inodes = self.age()
            self.edit("smp.extra", "  depth: short\n", "  depth: short\n  width: short?\n")
            self.generate()
            # Leaf shares its source file with DeepFault; SpecialTask and Level
            # live in the second one, which stays as it was.
            self.assertEqual(self.rewritten(inodes) - {INDEX},
                             {"include/kortypes/types/smp.extra.Leaf.h", "src/smp.extra/types_00.cpp"})
        with self.subTest("property added in smp"):
            inodes = self.age()
            self.edit("smp", "  states: Machine.State[]?\n", "  states: Machine.State[]?\n  spare: int?\n")
            self.generate()
            changed = self.rewritten(inodes)
            self.assertIn("include/kortypes/types/smp.Machine.h", changed)
            self.assertEqual({f for f in changed if module_of(f) != "smp"} - {INDEX}, set())
        with self.subTest("type added in smp.extra"):
            inodes = self.age()
            self.edit("smp.extra", "enum Level", "data Added since=v3\n  n: int\n\nenum Level")
            self.generate()
            changed = self.rewritten(inodes)
            # No header lists every type: the module's own header and loader
            # change, nothing shared does.
            self.assertIn("include/kortypes/smp.extra.h", changed)
            self.assertIn("src/smp.extra/loader.cpp", changed)
            self.assertEqual({f for f in changed if module_of(f) is None} - {INDEX}, set())
            self.assertTrue(os.path.exists(os.path.join(self.out, "include/kortypes/types/smp.extra.Added.h")))
            self.assertEqual({f for f in changed if module_of(f) in ("smp", "smp.bare")}, set())

    def test_removed_types_lose_their_files(self):
        keep = {"CMakeFiles/build.make": "", "include/other/keep.h": "", "notes.cpp": ""}
        support.write_files(self.out, keep)
        extra_sources = [f for f in support.files_under(self.out) if f.startswith("src/smp.extra/types_")]
        self.assertEqual(extra_sources, ["src/smp.extra/types_00.cpp", "src/smp.extra/types_01.cpp"])
        inodes = self.age()
        # SpecialTask and Level fill the module's second source file.
        path = os.path.join(self.schema, "smp.extra.schema")
        with open(path, encoding="utf-8") as fh:
            text = fh.read()
        with open(path, "w", encoding="utf-8") as fh:
            fh.write(text[:text.index("managed SpecialTask")])
        self.generate()
        files = set(support.files_under(self.out))
        for gone in ("include/kortypes/types/smp.extra.SpecialTask.h", "include/kortypes/types/smp.extra.Level.h",
                     "src/smp.extra/types_01.cpp"):
            self.assertNotIn(gone, files)
        self.assertIn("src/smp.extra/types_00.cpp", files)
        self.assertLessEqual(set(keep), files, "files the generator did not make were removed")
        self.assertEqual({f for f in self.rewritten(inodes) if module_of(f) in ("smp", "smp.bare")}, set())
        listed = support.run_korgen("--schema", self.schema, "--out", self.out, "--chunk-types", "2",
                                    "--list-outputs")
        self.assertEqual(sorted(files - set(keep)),
                         sorted(os.path.relpath(p, self.out) for p in listed.stdout.split()))

    def test_failed_run_leaves_the_output_alone(self):
        before = support.files_under(self.out)
        inodes = self.age()
        self.edit("smp.extra", "  depth: short\n", "  depth: Nowhere\n")
        r = support.run_korgen("--schema", self.schema, "--out", self.out, "--chunk-types", "2")
        self.assertEqual(r.returncode, 1)
        self.assertEqual(support.files_under(self.out), before)
        self.assertEqual(self.rewritten(inodes), set())


if __name__ == "__main__":
    unittest.main()

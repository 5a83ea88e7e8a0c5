#!/usr/bin/env python3
"""Holds the catalogue to the totals of the complete catalogue.

Usage: test_totals.py PATH-TO-KORTYPES TOTALS-FILE [unittest arguments]

`kortypes stats --totals` must report every row of TOTALS-FILE as holding.
The same totals are recounted here from `kortypes describe --all --json` (a
second path through the registered types, not the tool's counting code) and
compared with the file directly, so a counting mistake in either path shows.
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

TOOL = TOTALS = None


def run(*args):
    proc = subprocess.run([TOOL, *args], capture_output=True, text=True, timeout=300)
    return proc.returncode, proc.stdout, proc.stderr


def read_totals(path):
    """{key: value text} in file order, read independently of the tool."""
    rows = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.rstrip("\r\n")
            if not line or line.startswith("#"):
                continue
            key, value = line.split("\t")[:2]
            rows[key] = value
    return rows


def flag_words(text):
    words = set()
    for item in text.split(","):
        first, _, last = item.partition("..")
        words.update(range(int(first, 16), int(last or first, 16) + 1))
    return words


RUNTIME_PARENTS = {
    "tydef.RuntimeFault": "parents.runtimeFault",
    "tydef.fault.NotEnoughLicenses": "parents.notEnoughLicenses",
    "tydef.fault.InvalidArgument": "parents.invalidArgument",
    "tydef.fault.SecurityError": "parents.securityError",
    "tydef.MethodFault": "parents.methodFault",
    "tydef.fault.NotSupported": "parents.notSupported",
}
FLAG_BITS = {"array": 0x001, "optional": 0x002, "readonly": 0x004, "linkable": 0x010,
             "link": 0x020, "secret": 0x200, "stat": 0x400}


def recount(types):
    """The catalogue's totals recounted from the describe output of the library's types."""
    c = {}

    def add(key, n=1):
        c[key] = c.get(key, 0) + n

    def flags(word, suffix):
        for name, bit in FLAG_BITS.items():
            if word & bit:
                add(f"flags.{name}.{suffix}")

    data_words, managed_words = set(), set()
    for d in types:
        add("types.total")
        add("types." + d["kind"])
        parent = d.get("parents", [None])[0] if d.get("parents") else None
        own = [p for p in d.get("properties", []) if not p["inherited"]]
        if d["kind"] in ("data", "fault"):
            if parent == "tydef.DynamicData":
                add("parents.dynamicData")
            if d["kind"] == "fault" and parent in RUNTIME_PARENTS:
                add(RUNTIME_PARENTS[parent])
            add("redeclaresDynamicProperty", int(d["redeclaresDynamicProperty"]))
            for p in own:
                add("properties.data")
                add("dataProperties.withPrivilege", int(p["privilege"] is not None))
                add("dataProperties.localizable", int(p["localizable"]))
                flags(p["flagsWord"], "dataProps")
                data_words.add(p["flagsWord"])
        elif d["kind"] == "managed":
            if parent == "tydef.ManagedObject":
                add("parents.managedObject")
            for p in own:
                add("properties.managed")
                add("managedProperties.privilegeNull", int(p["privilege"] is None))
                flags(p["flagsWord"], "managedProps")
                managed_words.add(p["flagsWord"])
            add("methodObjects.entries", len(d["methods"]) + len(d["propertyReads"]))
            add("methodConstants.types", int(bool(d["methods"])))
            for m in d["methods"]:
                add("methods")
                add("methods.task", int("task" in m["flags"]))
                add("methods.internal", int("internal" in m["flags"]))
                add("methods.withPrivilegeOverrides", int(bool(m["privilegeOverrides"])))
                for p in m["parameters"]:
                    add("parameters")
                    flags(p["flagsWord"], "params")
                if m["result"] is not None:
                    flags(m["result"]["flagsWord"], "results")
    return c, data_words, managed_words


class Totals(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.expected = read_totals(TOTALS)
        code, out, err = run("stats", "--totals", "--check", "--json", "--totals-file", TOTALS)
        cls.code, cls.doc = code, json.loads(out)
        code, out, err = run("describe", "--all", "--json")
        assert code == 0, err
        library = [d for d in json.loads(out)["types"] if d["module"]]
        cls.recounted, cls.data_words, cls.managed_words = recount(library)

    def test_the_tool_reports_every_total_as_holding(self):
        self.assertEqual([t["key"] for t in self.doc["totals"]], list(self.expected))
        differing = [f"{t['key']}: expected {t['expected']}, counted {t['counted']} {t['note']}"
                     for t in self.doc["totals"] if not t["holds"]]
        self.assertEqual(differing, [])
        self.assertTrue(self.doc["allHold"])
        self.assertEqual(self.code, 0)

    def test_counts_differ_by_zero(self):
        for t in self.doc["totals"]:
            self.assertEqual(t["expected"], self.expected[t["key"]], t["key"])
            if t["kind"] == "count":
                self.assertEqual(t["difference"], 0, t["key"])
                self.assertEqual(int(t["counted"]), int(self.expected[t["key"]]), t["key"])

    def test_recount_from_describe_matches_the_file(self):
        checked = 0
        for key, value in self.expected.items():
            if key.startswith("flags.") and key.endswith("Values") or key == "exports.total":
                continue
            self.assertEqual(self.recounted.get(key, 0), int(value), key)
            checked += 1
        self.assertGreater(checked, 40)

    def test_flag_words_are_exactly_the_allowed_ones(self):
        self.assertEqual(self.data_words, flag_words(self.expected["flags.dataPropertyValues"]))
        self.assertEqual(self.managed_words, flag_words(self.expected["flags.managedPropertyValues"]))

    def test_exports_stay_under_the_ceiling_and_match_the_symbol_table(self):
        row = next(t for t in self.doc["totals"] if t["key"] == "exports.total")
        self.assertEqual(row["kind"], "ceiling")
        counted = int(row["counted"])
        self.assertLessEqual(counted, int(self.expected["exports.total"]))
        self.assertEqual(row["difference"], counted - int(self.expected["exports.total"]))
        library = os.path.join(os.path.dirname(TOOL), "..", "lib", "libkor-types.so")
        if shutil.which("nm") and os.path.exists(library):
            out = subprocess.run(["nm", "-D", "--defined-only", library], capture_output=True,
                                 text=True, check=True).stdout
            self.assertEqual(counted, len([l for l in out.splitlines() if l.strip()]))


class TotalsFileErrors(unittest.TestCase):
    """A total that differs fails --check; a bad file is a usage error naming the line."""

    def write(self, text):
        fd, path = tempfile.mkstemp(suffix=".tsv")
        with os.fdopen(fd, "w") as f:
            f.write(text)
        self.addCleanup(os.remove, path)
        return path

    def test_one_total_off_by_one_fails_check_and_says_which(self):
        rows = read_totals(TOTALS)
        rows["methods"] = str(int(rows["methods"]) + 1)
        path = self.write("".join(f"{k}\t{v}\twhat\n" for k, v in rows.items()))
        code, out, _ = run("stats", "--totals", "--check", "--json", "--totals-file", path)
        self.assertEqual(code, 1)
        doc = json.loads(out)
        bad = [t for t in doc["totals"] if not t["holds"]]
        self.assertEqual([(t["key"], t["difference"]) for t in bad], [("methods", -1)])
        code, out, _ = run("stats", "--totals", "--totals-file", path)
        self.assertEqual(code, 0)  # without --check the table is only shown
        self.assertIn("1 of %d totals differ" % len(rows), out)

    def test_flag_word_outside_the_allowed_set_is_reported(self):
        rows = read_totals(TOTALS)
        rows["flags.managedPropertyValues"] = "0x004,0x005,0x006"
        path = self.write("".join(f"{k}\t{v}\twhat\n" for k, v in rows.items()))
        code, out, _ = run("stats", "--totals", "--check", "--json", "--totals-file", path)
        self.assertEqual(code, 1)
        row = next(t for t in json.loads(out)["totals"] if t["key"] == "flags.managedPropertyValues")
        self.assertFalse(row["holds"])
        self.assertIn("not allowed", row["note"])

    def test_unknown_key_does_not_hold(self):
        path = self.write("types.total\t3393\tx\nno.such.total\t1\tx\n")
        code, out, _ = run("stats", "--totals", "--check", "--json", "--totals-file", path)
        self.assertEqual(code, 1)
        self.assertEqual([t["holds"] for t in json.loads(out)["totals"]], [True, False])

    def test_malformed_files_are_usage_errors(self):
        for text, line in (("types.total\tmany\tx\n", 1), ("# c\ntypes.total\t1\tx\ntypes.total\t2\tx\n", 3),
                           ("flags.dataPropertyValues\t0x007..0x001\tx\n", 1), ("", 0)):
            path = self.write(text)
            code, out, err = run("stats", "--totals", "--totals-file", path)
            self.assertEqual(code, 2, text)
            self.assertEqual(out, "")
            self.assertIn(f"{path}:{line}:", err)
        code, _, err = run("stats", "--totals", "--totals-file", "/nonexistent/totals.tsv")
        self.assertEqual(code, 2)
        self.assertIn("cannot read", err)
        code, _, err = run("stats", "--totals", "--module", "kor")
        self.assertEqual(code, 2)


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    TOOL, TOTALS = sys.argv[1], sys.argv[2]
    unittest.main(argv=[sys.argv[0]] + sys.argv[3:])

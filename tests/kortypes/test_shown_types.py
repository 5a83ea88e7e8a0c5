#!/usr/bin/env python3
"""Reads the fully described types back through the runtime and compares
them with the fixture of their facts.

Usage: test_shown_types.py PATH-TO-KORTYPES FIXTURE [unittest arguments]

Every row of FIXTURE (tests/data/shown-types.tsv; its header explains the
rows) is checked against `kortypes describe --all --json`, which reports what
the registered types carry: names, kinds, parents, own properties in order
with their types, flags, privileges and versions, methods with their
operation names, privileges, versions, results, parameters and overrides,
and enumeration values.
"""
import json
import subprocess
import sys
import unittest

TOOL = FIXTURE = None


def read_fixture(path):
    rows = []
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\r\n")
            if line and not line.startswith("#"):
                rows.append((number, line.split("\t")))
    return rows


def base(type_name):
    return type_name[:-2] if type_name.endswith("[]") else type_name


def form(flags):
    """The array and optional flags of a member, as the fixture writes them."""
    shown = [f for f in ("array", "optional") if f in flags]
    return ",".join(shown) or "-"


class ShownTypes(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        proc = subprocess.run([TOOL, "describe", "--all", "--json"], capture_output=True, text=True,
                              timeout=300)
        assert proc.returncode == 0, proc.stderr
        cls.types = {d["name"]: d for d in json.loads(proc.stdout)["types"]}
        cls.rows = read_fixture(FIXTURE)

    def rows_of(self, kind):
        found = [(n, r[1:]) for n, r in self.rows if r[0] == kind]
        self.assertTrue(found, f"the fixture has no '{kind}' rows")
        return found

    def described(self, name, line):
        self.assertIn(name, self.types, f"fixture line {line}: {name} is not registered")
        return self.types[name]

    def own_properties(self, name, line):
        return [p for p in self.described(name, line).get("properties", []) if not p["inherited"]]

    def method(self, owner, name, line):
        methods = self.described(owner, line).get("methods", [])
        found = [m for m in methods if m["name"] == name]
        self.assertEqual(len(found), 1, f"fixture line {line}: {owner}.{name}")
        return found[0]

    def test_fixture_rows_are_well_formed(self):
        widths = {"type": 5, "parent": 3, "property": 8, "method": 7, "value": 4, "counts": 4, "flag": 4,
                  "result": 5, "param": 7, "mflag": 4, "override": 5}
        for line, r in self.rows:
            self.assertIn(r[0], widths, f"line {line}")
            self.assertEqual(len(r), widths[r[0]], f"line {line}: {r}")

    def test_types(self):
        for line, (name, kind, wsdl, version) in self.rows_of("type"):
            d = self.described(name, line)
            self.assertEqual((d["kind"], d["wsdlName"], d["version"]), (kind, wsdl, version), f"line {line}")

    def test_parents(self):
        for line, (name, parent) in self.rows_of("parent"):
            self.assertEqual(self.described(name, line)["parents"][:1], [parent], f"line {line}")

    def test_own_properties_in_order(self):
        for line, (owner, index, name, type_name, flags, privilege, version) in self.rows_of("property"):
            own = self.own_properties(owner, line)
            where = f"line {line}: {owner}.{name}"
            self.assertLess(int(index), len(own), where)
            p = own[int(index)]
            self.assertEqual(p["name"], name, where)
            if type_name == "primitive":
                # A value type of the runtime, not one of the catalogue's.
                self.assertFalse(base(p["type"]).startswith("kor."), where)
            elif type_name != "*":
                self.assertEqual(base(p["type"]), type_name, where)
            if flags != "*":
                self.assertEqual(form(p["flags"]), flags, where)
            if privilege == "-":
                self.assertIsNone(p["privilege"], where)
            elif privilege not in ("", "*"):
                self.assertEqual(p["privilege"], privilege, where)
            if version != "*":
                self.assertEqual(p["version"], version, where)

    def test_managed_properties_are_read_only(self):
        for name, d in self.types.items():
            if d["kind"] == "managed" and d["module"]:
                for p in d["properties"]:
                    self.assertIn("read-only", p["flags"], f"{name}.{p['name']}")

    def test_methods_in_order(self):
        for line, (owner, index, name, wsdl, privilege, version) in self.rows_of("method"):
            methods = self.described(owner, line).get("methods", [])
            where = f"line {line}: {owner}.{name}"
            self.assertLess(int(index), len(methods), where)
            m = methods[int(index)]
            self.assertEqual((m["name"], m["index"]), (name, int(index)), where)
            if wsdl != "*":
                self.assertEqual(m["wsdlName"], wsdl, where)
            if privilege == "-":
                self.assertIsNone(m["privilege"], where)
            elif privilege != "*":
                self.assertEqual(m["privilege"], privilege, where)
            if version != "*":
                self.assertEqual(m["version"], version, where)

    def test_counts(self):
        for line, (owner, properties, methods) in self.rows_of("counts"):
            d = self.described(owner, line)
            self.assertEqual(len(self.own_properties(owner, line)), int(properties), f"line {line}")
            self.assertEqual(len(d.get("methods", [])), int(methods), f"line {line}")

    def test_enumeration_values(self):
        for line, (name, ordinal, value) in self.rows_of("value"):
            values = self.described(name, line)["values"]
            self.assertIn({"name": value, "value": int(ordinal)}, values, f"line {line}")
        for name in {r[1] for _, r in self.rows if r[0] == "value"}:
            listed = [r for _, r in self.rows if r[0] == "value" and r[1] == name]
            self.assertEqual(len(self.types[name]["values"]), len(listed), name)

    def test_property_flags(self):
        for line, (owner, name, flag) in self.rows_of("flag"):
            p = next(p for p in self.own_properties(owner, line) if p["name"] == name)
            if flag == "localizable":
                self.assertTrue(p["localizable"], f"line {line}")
            else:
                self.assertIn(flag, p["flags"], f"line {line}")

    def test_results_parameters_and_method_flags(self):
        for line, (owner, name, type_name, flags) in self.rows_of("result"):
            r = self.method(owner, name, line)["result"]
            self.assertIsNotNone(r, f"line {line}")
            self.assertEqual((base(r["type"]), form(r["flags"])), (type_name, flags), f"line {line}")
        for line, (owner, name, index, param, type_name, flags) in self.rows_of("param"):
            p = self.method(owner, name, line)["parameters"][int(index)]
            self.assertEqual((p["name"], base(p["type"]), form(p["flags"])), (param, type_name, flags),
                             f"line {line}")
        for line, (owner, name, flag) in self.rows_of("mflag"):
            self.assertIn(flag, self.method(owner, name, line)["flags"], f"line {line}")

    def test_privilege_overrides_in_order(self):
        expected = {}
        for line, (owner, name, type_name, privilege) in self.rows_of("override"):
            expected.setdefault((owner, name), []).append({"type": type_name, "privilege": privilege})
        for (owner, name), overrides in expected.items():
            self.assertEqual(self.method(owner, name, 0)["privilegeOverrides"], overrides, f"{owner}.{name}")


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    TOOL, FIXTURE = sys.argv[1], sys.argv[2]
    unittest.main(argv=[sys.argv[0]] + sys.argv[3:])

#!/usr/bin/env python3
"""Holds the catalogue to its budget.

Usage: test_budget.py PATH-TO-KORTYPES BUDGET-FILE TOTALS-FILE [unittest arguments]

Fails when a registered module declares more than its budget in any column
(counted by the kortypes tool from the registered types), when a registered
module has no budget row, or when the budget's columns do not add up to the
totals of the complete catalogue. TOTALS-FILE ("key<TAB>value<TAB>what" per
line) may be absent; the sums are then skipped, the rest still runs. A module
declaring less than its budget is work in progress, not a failure.
"""
import json
import os
import subprocess
import sys
import tempfile
import unittest

TOOL = BUDGET = TOTALS = None


def run(*args):
    proc = subprocess.run([TOOL, *args], capture_output=True, text=True, timeout=120)
    return proc.returncode, proc.stdout, proc.stderr


def stats(*args):
    code, out, err = run("stats", "--json", *args)
    if code not in (0, 1):
        raise AssertionError(f"kortypes stats {' '.join(args)} exited {code}: {err}")
    return code, json.loads(out)


def read_budget(path):
    """The budget file read independently of the tool: (columns, {module: {key: value}})."""
    columns, rows = None, {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.rstrip("\r\n")
            if not line:
                continue
            if line.startswith("#"):
                fields = line[1:].lstrip(" ").split("\t")
                if fields[0] == "module":
                    columns = fields[1:]
                continue
            fields = line.split("\t")
            rows[fields[0]] = dict(zip(columns, (int(v) for v in fields[1:])))
    return columns, rows


def read_totals(path):
    totals = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            if line.startswith("#") or not line.strip():
                continue
            key, value = line.rstrip("\n").split("\t")[:2]
            if value.isdigit():
                totals[key] = int(value)
    return totals


class CatalogueWithinBudget(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.code, cls.doc = stats("--budget", BUDGET)
        cls.columns, cls.rows = read_budget(BUDGET)

    def test_no_module_declares_more_than_its_budget(self):
        over = [f"{o['module']} {o['column']}: declares {o['declared']}, budget {o['budget']}"
                for o in self.doc["budget"]["overruns"]]
        self.assertEqual(over, [], "modules over budget")

    def test_every_registered_module_has_a_budget_row(self):
        b = self.doc["budget"]
        self.assertEqual(b["unbudgetedModules"], [])
        self.assertEqual(b["unknownModules"], [])
        self.assertEqual(sorted(m["name"] for m in self.doc["modules"]), sorted(self.rows))

    def test_check_exit_status_agrees(self):
        # Without --check the comparison is only a report; with it, a budget
        # that does not fit fails the command.
        self.assertEqual(self.code, 0)
        expected = 0 if self.doc["budget"]["fits"] else 1
        self.assertEqual(run("stats", "--check", "--budget", BUDGET)[0], expected)

    def test_tool_reads_the_file_as_written(self):
        # The tool's view of the budget is the file's: same columns, same
        # numbers per module.
        b = self.doc["budget"]
        self.assertEqual(b["columns"], self.columns)
        for m in b["modules"]:
            self.assertEqual(m["budget"], self.rows[m["name"]], m["name"])
        for key in self.columns:
            self.assertEqual(b["total"]["budget"][key], sum(r[key] for r in self.rows.values()), key)

    def test_declared_type_counts_agree_with_the_plain_counts(self):
        # The budget comparison and the count table count types the same way.
        plain = {m["name"]: m for m in self.doc["modules"]}
        for m in self.doc["budget"]["modules"]:
            for kind in ("managed", "data", "fault", "enum"):
                key = "types." + kind
                if key in m["declared"]:
                    self.assertEqual(m["declared"][key], plain[m["name"]][kind], (m["name"], kind))

    def test_the_main_quantities_are_budgeted(self):
        required = {"types.managed", "types.data", "types.fault", "types.enum", "properties.data",
                    "properties.managed", "methods", "parameters", "methods.task",
                    "methods.internal", "flags.array.dataProps", "flags.optional.dataProps",
                    "flags.readonly.dataProps", "dataProperties.localizable",
                    "managedProperties.privilegeNull"}
        self.assertEqual(required - set(self.columns), set())


class BudgetSumsToTheCompleteCatalogue(unittest.TestCase):
    def setUp(self):
        if not TOTALS or not os.path.exists(TOTALS):
            self.skipTest(f"no totals file at {TOTALS}")
        self.totals = read_totals(TOTALS)
        self.columns, self.rows = read_budget(BUDGET)

    def test_every_column_sums_to_its_total(self):
        wrong = {}
        for key in self.columns:
            self.assertIn(key, self.totals, f"budget column {key} has no total")
            total = sum(r[key] for r in self.rows.values())
            if total != self.totals[key]:
                wrong[key] = (total, self.totals[key])
        self.assertEqual(wrong, {}, "column: (budget sum, catalogue total)")


class TheCheckCatchesOverruns(unittest.TestCase):
    """The check itself: a budget one below what a module declares must fail it."""

    def budget_with(self, edit):
        columns, rows = read_budget(BUDGET)
        edit(columns, rows)
        f = tempfile.NamedTemporaryFile("w", suffix=".tsv", delete=False, encoding="utf-8")
        with f:
            f.write("# module\t" + "\t".join(columns) + "\n")
            for module, values in rows.items():
                f.write(module + "\t" + "\t".join(str(values[c]) for c in columns) + "\n")
        self.addCleanup(os.unlink, f.name)
        return f.name

    def test_one_below_declared_is_reported(self):
        _, doc = stats("--budget", BUDGET)
        # The first module and column with something declared.
        module, column, declared = next(
            (m["name"], c, v) for m in doc["budget"]["modules"] for c, v in m["declared"].items() if v > 0)

        def lower(columns, rows):
            rows[module][column] = declared - 1
        path = self.budget_with(lower)
        code, doc = stats("--budget", path)
        self.assertEqual(code, 0)  # without --check the report is not a failure
        self.assertIn({"module": module, "column": column, "declared": declared, "budget": declared - 1},
                      doc["budget"]["overruns"])
        self.assertFalse(doc["budget"]["fits"])
        code, out, _ = run("stats", "--check", "--budget", path)
        self.assertEqual(code, 1)
        self.assertIn(f"over budget: {module} {column}: declares {declared}, budget {declared - 1}", out)

    def test_a_missing_module_row_is_reported(self):
        _, doc = stats("--budget", BUDGET)
        module = doc["modules"][-1]["name"]

        def drop(columns, rows):
            del rows[module]
        path = self.budget_with(drop)
        code, doc = stats("--check", "--budget", path)
        self.assertEqual(code, 1)
        self.assertEqual(doc["budget"]["unbudgetedModules"], [module])

    def test_an_unreadable_or_malformed_budget_is_a_usage_error(self):
        code, out, err = run("stats", "--budget", "/nonexistent/budget.tsv")
        self.assertEqual((code, out), (2, ""))
        self.assertIn("/nonexistent/budget.tsv: cannot read", err)

        def rename(columns, rows):
            columns[0] = "no.such.quantity"
            for r in rows.values():
                r["no.such.quantity"] = 0
        code, _, err = run("stats", "--budget", self.budget_with(rename))
        self.assertEqual(code, 2)
        self.assertIn(":1: 'no.such.quantity' is not a quantity kortypes counts", err)


if __name__ == "__main__":
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    TOOL, BUDGET, TOTALS = sys.argv[1:4]
    unittest.main(argv=[sys.argv[0], *sys.argv[4:]])

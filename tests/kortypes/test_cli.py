#!/usr/bin/env python3
"""Runs the built kortypes tool and checks what it prints.

Usage: test_cli.py PATH-TO-KORTYPES [unittest arguments]

Counts are checked against what other commands (and so other code paths of
the tool) report, not against numbers copied from the schema.
"""
import json
import os
import re
import subprocess
import sys
import tempfile
import unittest

TOOL = None


def run(*args):
    proc = subprocess.run([TOOL, *args], capture_output=True, text=True, timeout=60)
    return proc.returncode, proc.stdout, proc.stderr


_described = None


def described_library_types():
    """describe --all --json of every library type, by name (computed once)."""
    global _described
    if _described is None:
        _described = {d["name"]: d for d in run_json("describe", "--all")["types"] if d["module"]}
    return _described


def run_json(*args):
    code, out, err = run(*args, "--json")
    if code != 0:
        raise AssertionError(f"kortypes {' '.join(args)} --json exited {code}: {err}")
    return json.loads(out)


class ServiceInstance(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.d = run_json("describe", "kor.ServiceInstance")

    def test_methods_then_property_reads_in_one_index_space(self):
        self.assertEqual([m["index"] for m in self.d["methods"]], list(range(6)))
        self.assertEqual([r["index"] for r in self.d["propertyReads"]], [6, 7, 8])
        wsdl = [m["wsdlName"] for m in self.d["methods"]]
        self.assertEqual(wsdl[0], "CurrentTime")
        self.assertEqual(wsdl[1], "RetrieveServiceContent")
        # One read per own property, in property order.
        own = [p["name"] for p in self.d["properties"] if not p["inherited"]]
        self.assertEqual([r["name"] for r in self.d["propertyReads"]], own)

    def test_header_facts(self):
        self.assertEqual(self.d["kind"], "managed")
        self.assertEqual(self.d["cppClass"], "Kor::ServiceInstance")
        self.assertEqual(self.d["recordSymbol"], "gKorServiceInstanceTypeInfo")
        self.assertTrue(self.d["recordSymbolExported"])
        self.assertEqual(self.d["versionId"], "2.0")

    def test_method_details(self):
        by_name = {m["name"]: m for m in self.d["methods"]}
        vm = by_name["validateMigration"]
        self.assertEqual(vm["faults"], ["kor.fault.InvalidState"])
        self.assertEqual(vm["result"]["type"], "kor.event.Event[]")
        self.assertIn("optional", vm["result"]["flags"])
        self.assertEqual(vm["parameters"][0]["type"], "kor.VirtualMachine[]")
        self.assertIn("internal", by_name["retrieveInternalContent"]["flags"])

    def test_text_form(self):
        code, out, err = run("describe", "kor.ServiceInstance")
        self.assertEqual(code, 0, err)
        self.assertIn("[0] currentTime  (wire operation CurrentTime)", out)
        self.assertIn("(wire operation RetrieveServiceContent)", out)
        self.assertIn("kor.version.version1 (2.0)", out)
        self.assertIn("Kor::ServiceInstance", out)


class Lookup(unittest.TestCase):
    def test_wsdl_name_finds_the_type(self):
        self.assertEqual(run_json("describe", "ServiceContent")["name"], "kor.ServiceInstanceContent")
        code, out, _ = run("describe", "ServiceContent")
        self.assertEqual(code, 0)
        self.assertTrue(out.startswith("kor.ServiceInstanceContent"))

    def test_unknown_name(self):
        for extra in ([], ["--json"]):
            code, out, err = run("describe", "NoSuchType", *extra)
            self.assertEqual(code, 1)
            self.assertEqual(out, "")
            self.assertEqual(err.strip(), "kortypes: no type named 'NoSuchType'")

    def test_inherited_properties_name_their_owner(self):
        d = run_json("describe", "kor.fault.InvalidState")
        self.assertEqual(d["parents"][0], "kor.fault.KorFault")
        inherited = [p for p in d["properties"] if p["inherited"]]
        self.assertTrue(inherited)
        for p in inherited:
            self.assertIn(p["owner"], d["parents"])


class EveryType(unittest.TestCase):
    """describe agrees with list and stats for every library type."""

    @classmethod
    def setUpClass(cls):
        cls.listed = run_json("list")["types"]
        cls.described = described_library_types()

    def test_describe_matches_list(self):
        for t in self.listed:
            d = self.described[t["name"]]
            for key in ("kind", "wsdlName", "version", "module"):
                self.assertEqual(d[key], t[key], (t["name"], key))
            self.assertTrue(d["recordSymbolExported"], d["recordSymbol"])
            self.assertTrue(t["name"].startswith(t["module"] + "."), t)

    def test_enum_values_are_numbered_in_order(self):
        enums = [d for d in self.described.values() if d["kind"] == "enum"]
        self.assertTrue(enums)
        for d in enums:
            self.assertEqual([v["value"] for v in d["values"]], list(range(len(d["values"]))))

    def test_stats_totals_match_describe(self):
        total = run_json("stats")["total"]
        managed = [d for d in self.described.values() if d["kind"] == "managed"]
        data = [d for d in self.described.values() if d["kind"] in ("data", "fault")]
        own = lambda d: [p for p in d["properties"] if not p["inherited"]]
        self.assertEqual(total["methods"], sum(len(d["methods"]) for d in managed))
        self.assertEqual(total["methodObjectEntries"],
                         sum(len(d["methods"]) + len(d["propertyReads"]) for d in managed))
        self.assertEqual(total["parameters"],
                         sum(len(m["parameters"]) for d in managed for m in d["methods"]))
        self.assertEqual(total["managedObjectProperties"], sum(len(own(d)) for d in managed))
        self.assertEqual(total["dataObjectProperties"], sum(len(own(d)) for d in data))
        all_own = [p for d in self.described.values() if "properties" in d for p in own(d)]
        self.assertEqual(total["arrayProperties"], sum("array" in p["flags"] for p in all_own))
        self.assertEqual(total["optionalProperties"], sum("optional" in p["flags"] for p in all_own))


class DescribeAll(unittest.TestCase):
    """describe --all is every registered type, each as describe NAME shows it."""

    @classmethod
    def setUpClass(cls):
        cls.doc = run_json("describe", "--all")

    def test_every_registered_type_once(self):
        names = [d["name"] for d in self.doc["types"]]
        self.assertEqual(len(names), len(set(names)))
        self.assertEqual(self.doc["count"], len(names))
        listed = [t["name"] for t in run_json("list", "--all")["types"]]
        self.assertEqual(sorted(names), sorted(listed))
        self.assertEqual(self.doc["libraryTypes"], len(run_json("list")["types"]))
        self.assertEqual(self.doc["runtimeTypes"] + self.doc["libraryTypes"], len(names))

    def test_entries_equal_single_describes(self):
        types = self.doc["types"]
        # Every kind, both the runtime's and the library's, and a spread of the rest.
        picked = {d["kind"]: d for d in types}
        picked.update({d["name"]: d for d in types[::211]})
        picked.update({d["name"]: d for d in types if d["module"] is None})
        for d in picked.values():
            self.assertEqual(run_json("describe", d["name"]), d, d["name"])

    def test_usage_errors(self):
        for args in (("--all", "kor.Folder"), ()):
            code, out, err = run("describe", *args)
            self.assertEqual(code, 2, args)
            self.assertEqual(out, "")
            self.assertIn("describe", err)


class Inheritance(unittest.TestCase):
    def test_inherited_methods_are_the_parents_own_methods(self):
        folder = run_json("describe", "kor.Folder")
        expected = sum(len(run_json("describe", p).get("methods", [])) for p in folder["parents"])
        self.assertGreater(expected, 0)
        code, out, _ = run("describe", "kor.Folder")
        self.assertEqual(code, 0)
        self.assertIn(f"Inherited methods: {expected} (", out)

    def test_task_methods_and_privilege_overrides(self):
        entity = run_json("describe", "kor.ManagedEntity")
        rename = next(m for m in entity["methods"] if m["name"] == "rename")
        self.assertIn("task", rename["flags"])
        self.assertEqual(rename["wsdlName"], "Rename_Task")
        overrides = {o["type"]: o["privilege"] for o in rename["privilegeOverrides"]}
        self.assertEqual(overrides.get("kor.Folder"), "Folder.Rename")
        # Every overridden type is a registered managed type deriving from the owner.
        for type_name in overrides:
            d = run_json("describe", type_name)
            self.assertEqual(d["kind"], "managed")
            self.assertIn("kor.ManagedEntity", d["parents"])


class ListFilters(unittest.TestCase):
    def test_kinds_partition_the_list(self):
        everything = [t["name"] for t in run_json("list")["types"]]
        parts = []
        for kind in ("managed", "data", "fault", "enum"):
            types = run_json("list", "--kind", kind)["types"]
            self.assertTrue(all(t["kind"] == kind for t in types))
            parts += [t["name"] for t in types]
        self.assertEqual(sorted(parts), sorted(everything))
        self.assertEqual(len(set(everything)), len(everything))

    def test_module_filter(self):
        types = run_json("list", "--module", "kor.host")["types"]
        self.assertTrue(types)
        for t in types:
            self.assertEqual(t["module"], "kor.host")
            self.assertTrue(t["name"].startswith("kor.host."))

    def test_all_adds_the_runtime_types_first(self):
        library = run_json("list")["types"]
        everything = run_json("list", "--all")["types"]
        self.assertEqual(everything[len(everything) - len(library):], library)
        runtime = everything[:len(everything) - len(library)]
        self.assertIn("string", [t["name"] for t in runtime])
        self.assertTrue(all(t["module"] is None for t in runtime))

    def test_unknown_module_or_kind(self):
        for args in (["--module", "kor.nothing"], ["--kind", "widget"]):
            code, out, err = run("list", *args)
            self.assertEqual(code, 1, args)
            self.assertEqual(out, "")
            self.assertIn(args[1], err)

    def test_text_columns_are_aligned(self):
        code, out, _ = run("list")
        self.assertEqual(code, 0)
        lines = out.splitlines()
        header, rows = lines[0], lines[2:-1]
        starts = [header.index(h) for h in ("NAME", "WSDL NAME", "VERSION")]
        for row in rows:
            for s in starts:
                self.assertEqual(row[s - 1], " ", row)
                self.assertNotEqual(row[s], " ", row)
        self.assertEqual(lines[-1], f"{len(rows)} types")


# Every quantity the budget may name, derived here from describe output.
QUANTITIES = [
    "types.total", "types.managed", "types.data", "types.fault", "types.enum",
    "properties.data", "properties.managed", "methods", "parameters", "methods.task",
    "methods.internal", "methods.withPrivilegeOverrides", "methodConstants.types",
    "methodObjects.entries", "parents.dynamicData", "parents.managedObject",
    "parents.runtimeFault", "parents.notEnoughLicenses", "parents.invalidArgument",
    "parents.securityError", "parents.methodFault", "parents.notSupported",
    "redeclaresDynamicProperty", "managedProperties.privilegeNull",
    "dataProperties.withPrivilege", "dataProperties.localizable",
] + [f"flags.{bit}.{where}"
     for bit, wheres in (("array", ("dataProps", "managedProps", "params", "results")),
                         ("optional", ("dataProps", "managedProps", "params", "results")),
                         ("readonly", ("dataProps", "managedProps")),
                         ("linkable", ("dataProps",)), ("link", ("dataProps",)),
                         ("secret", ("dataProps", "params", "results")),
                         ("stat", ("dataProps", "managedProps")))
     for where in wheres]

FLAG_NAMES = {"array": "array", "optional": "optional", "readonly": "read-only",
              "linkable": "linkable", "link": "link", "secret": "secret", "stat": "statistics"}
FAULT_PARENTS = {"tydef.RuntimeFault": "runtimeFault", "tydef.fault.NotEnoughLicenses": "notEnoughLicenses",
                 "tydef.fault.InvalidArgument": "invalidArgument", "tydef.fault.SecurityError": "securityError",
                 "tydef.MethodFault": "methodFault", "tydef.fault.NotSupported": "notSupported"}


def derive_quantities(d):
    """The budget quantities of one described type, counted from its description."""
    q = dict.fromkeys(QUANTITIES, 0)
    q["types.total"] = 1
    q["types." + d["kind"]] = 1

    def flags(where, flag_list):
        for bit, name in FLAG_NAMES.items():
            key = f"flags.{bit}.{where}"
            if name in flag_list and key in q:
                q[key] += 1

    own = [p for p in d.get("properties", []) if not p["inherited"]]
    parent = d["parents"][0] if d.get("parents") else None
    if d["kind"] in ("data", "fault"):
        q["parents.dynamicData"] = parent == "tydef.DynamicData"
        if d["kind"] == "fault" and parent in FAULT_PARENTS:
            q["parents." + FAULT_PARENTS[parent]] = 1
        q["redeclaresDynamicProperty"] = d["redeclaresDynamicProperty"]
        q["properties.data"] = len(own)
        for p in own:
            q["dataProperties.withPrivilege"] += p["privilege"] is not None
            q["dataProperties.localizable"] += p["localizable"]
            flags("dataProps", p["flags"])
    elif d["kind"] == "managed":
        q["parents.managedObject"] = parent == "tydef.ManagedObject"
        q["properties.managed"] = len(own)
        for p in own:
            q["managedProperties.privilegeNull"] += p["privilege"] is None
            flags("managedProps", p["flags"])
        q["methods"] = len(d["methods"])
        q["methodConstants.types"] = bool(d["methods"])
        q["methodObjects.entries"] = len(d["methods"]) + len(d["propertyReads"])
        for m in d["methods"]:
            q["methods.task"] += "task" in m["flags"]
            q["methods.internal"] += "internal" in m["flags"]
            q["methods.withPrivilegeOverrides"] += bool(m["privilegeOverrides"])
            q["parameters"] += len(m["parameters"])
            for p in m["parameters"]:
                flags("params", p["flags"])
            if m["result"] is not None:  # null for a method without result
                flags("results", m["result"]["flags"])
    return {k: int(v) for k, v in q.items()}


class Stats(unittest.TestCase):
    def test_budget_counts_match_describe_for_every_quantity(self):
        # A budget naming every quantity, with room for anything: the tool's
        # per-module declared counts must equal those derived from describe.
        described = described_library_types().values()
        expected = {}
        for d in described:
            per_module = expected.setdefault(d["module"], dict.fromkeys(QUANTITIES, 0))
            for k, v in derive_quantities(d).items():
                per_module[k] += v
        modules = [m["name"] for m in run_json("stats")["modules"]]
        with tempfile.NamedTemporaryFile("w", suffix=".tsv", delete=False) as f:
            f.write("# module\t" + "\t".join(QUANTITIES) + "\n")
            for m in modules:
                f.write(m + "\t" + "\t".join(["99999"] * len(QUANTITIES)) + "\n")
        try:
            code, out, err = run("stats", "--json", "--check", "--budget", f.name)
        finally:
            os.unlink(f.name)
        self.assertEqual(code, 0, err)
        budget = json.loads(out)["budget"]
        self.assertEqual(budget["columns"], QUANTITIES)
        self.assertTrue(budget["fits"])
        for m in budget["modules"]:
            want = expected.get(m["name"], dict.fromkeys(QUANTITIES, 0))
            for key in QUANTITIES:
                self.assertEqual(m["declared"][key], want[key], (m["name"], key))
        # Something of each family was counted at all.
        total = budget["total"]["declared"]
        for key in ("methods.task", "flags.secret.params", "flags.secret.results",
                    "flags.stat.managedProps", "parents.dynamicData", "parents.managedObject",
                    "redeclaresDynamicProperty", "dataProperties.localizable"):
            self.assertGreater(total[key], 0, key)

    def test_module_option_narrows_to_one_module(self):
        s = run_json("stats", "--module", "kor")
        self.assertEqual([m["name"] for m in s["modules"]], ["kor"])
        self.assertEqual([m["name"] for m in s["budget"]["modules"]], ["kor"])
        self.assertEqual(s["budget"]["unknownModules"], [])
        code, out, _ = run("stats", "--module", "kor")
        self.assertEqual(code, 0)
        self.assertNotIn("\nkor.host ", out)
        code, _, err = run("stats", "--module", "kor.nothing")
        self.assertEqual(code, 1)
        self.assertIn("unknown module 'kor.nothing'", err)

    def test_text_fits_100_columns(self):
        code, out, _ = run("stats")
        self.assertEqual(code, 0)
        long_lines = [l for l in out.splitlines() if len(l) > 100]
        self.assertEqual(long_lines, [])
        self.assertIn("Declared against the budget in ", out)

    def test_totals_are_the_sum_of_the_modules(self):
        s = run_json("stats")
        for key, value in s["total"].items():
            self.assertEqual(value, sum(m[key] for m in s["modules"]), key)
        self.assertEqual(len(s["modules"]) + s["emptyLoaders"], s["loaders"])
        types = run_json("list")["types"]
        for kind in ("managed", "data", "fault", "enum"):
            self.assertEqual(s["total"][kind], sum(t["kind"] == kind for t in types), kind)

    def test_text_form(self):
        s = run_json("stats")
        code, out, _ = run("stats")
        self.assertEqual(code, 0)
        total_line = [l for l in out.splitlines() if l.startswith("total ")][0]
        self.assertEqual(int(total_line.split()[1]), s["total"]["managed"])
        self.assertIn(f"loaders: {s['loaders']} ({s['emptyLoaders']} register nothing)", out)


class Versions(unittest.TestCase):
    def test_descent(self):
        self.assertEqual(run("versions", "--is", "kor.version.version7", "kor.version.version5")[0], 0)
        self.assertEqual(run("versions", "--is", "kor.version.version5", "kor.version.version7")[0], 1)
        self.assertEqual(run("versions", "--is", "kor.version.version5", "kor.version.version5")[0], 0)
        code, _, err = run("versions", "--is", "kor.version.nope", "kor.version.version5")
        self.assertEqual(code, 2)
        self.assertIn("kor.version.nope", err)

    def test_table(self):
        v = run_json("versions")
        self.assertEqual(v["namespace"], "kor")
        rows = {r["name"]: r for r in v["versions"]}
        self.assertEqual(rows["kor.version.version7"]["versionId"], "5.0")
        self.assertEqual([r["ordinal"] for r in v["versions"]], list(range(len(v["versions"]))))
        seen = set()
        for r in v["versions"]:
            self.assertEqual(r["flagBytes"], [r["flags"] & 0xFF, (r["flags"] >> 8) & 0xFF])
            for parent in r["parents"]:
                # Parents are earlier rows or versions of an imported namespace.
                self.assertTrue(parent in seen or
                                any(parent.startswith(ns + ".") for ns in v["imports"]), parent)
            seen.add(r["name"])
        # --is agrees with the parent lists for each direct pair.
        child = v["versions"][-1]
        for parent in child["parents"]:
            self.assertTrue(run_json("versions", "--is", child["name"], parent)["sameOrDescendant"])


class CommandLine(unittest.TestCase):
    def test_usage_help_version_demo(self):
        code, out, err = run()
        self.assertEqual((code, out), (2, ""))
        self.assertIn("usage:", err)
        code, out, _ = run("--help")
        self.assertEqual(code, 0)
        for command in ("list", "describe", "versions", "stats", "demo"):
            self.assertIn(f"\n  {command} ", out)
        code, out, _ = run("--version")
        self.assertEqual(code, 0)
        self.assertRegex(out, r"^kortypes \d+\.\d+\.\d+\n$")

    def test_demo_runs_end_to_end(self):
        code, out, err = run("demo")
        self.assertEqual(code, 0, err)
        # The content came back through the stub, the task ran, the fault was
        # caught as its ancestor, and the diff named the changed properties.
        self.assertRegex(out, r"product +kor demo server")
        self.assertRegex(out, r"task state +success, progress 100%")
        self.assertRegex(out, r"virtual machine now +poweredOn")
        self.assertRegex(out, r"caught +kor.fault.InvalidPowerState \(as kor.fault.InvalidState\)")
        self.assertRegex(out, r"not served +tydef.fault.NotSupported")
        # The alarm made on the datacenter turned red with the power-on and
        # was acknowledged.
        self.assertRegex(out, r"state on web-frontend +green\n")
        self.assertRegex(out, r"state on web-frontend +red since ")
        self.assertRegex(out, r"acknowledged +yes, by demo")
        # The reconfiguration added a disk and a card; the disk's controller
        # lists it.
        self.assertRegex(out, r"Reconfigure answered +kor.Task:task-\d+, success")
        self.assertRegex(out, r"device 2001 +added kor.vm.device.VirtualDisk\n")
        self.assertRegex(out, r"device 4001 +added kor.vm.device.VirtualE1000e\n")
        self.assertRegex(out, r"device 1000 +changed kor.vm.device.ParaVirtualSCSIController \(device\)")
        self.assertRegex(out, r"removing key 2999 +kor.fault.DeviceNotFound")
        # Event pages came through a collector; the alarm's own events are in
        # the history.
        self.assertRegex(out, r"latest page, 4 events \(4\)")
        alarm_events = out.split("alarm events only")[1].split("\n\n")[0]
        self.assertEqual(re.findall(r"^ +(\w+) #\d+ ", alarm_events, re.M),
                         ["AlarmCreatedEvent", "AlarmStatusChangedEvent",
                          "AlarmStatusChangedEvent", "AlarmAcknowledgedEvent"])
        self.assertRegex(out, r"VmReconfiguredEvent #\d+ web-frontend \S+ demo: Virtual machine web-frontend on hv-01\.lab in lab reconfigured\n")
        changed = re.findall(r"changed: (\S+)", out)
        self.assertEqual(changed, ["info.entityName", "info.locked", "info.state", "info.progress"])

    def test_demo_derives_the_host_network_configuration(self):
        code, out, err = run("demo")
        self.assertEqual(code, 0, err)
        # Port groups come by switch, in each switch's order; the unlisted one
        # is left out; only manual IPv6 addresses stay.
        self.assertRegex(out, r"configured port groups +Management, Guests, Storage \(")
        self.assertRegex(out, r"vnic0 on Management +keeps 2001:db8::10 \(manual\)\n")
        self.assertRegex(out, r"IPv6 filter dropped fe80::200:5eff:fe6a:1 \(linklayer\), "
                              r"2001:db8::11 \(dhcp\)")
        self.assertRegex(out, r"IPv6 filter dropped 2001:db8:1::21 \(random\)")

    def test_json_may_come_before_the_command(self):
        self.assertEqual(run("--json", "stats")[1], run("stats", "--json")[1])

    def test_demo_prints_text_only(self):
        # The demo has no JSON form: asking for one is a usage error, before
        # anything runs, and its usage does not offer it.
        for args in (["demo", "--json"], ["--json", "demo"]):
            code, out, err = run(*args)
            self.assertEqual(code, 2, args)
            self.assertEqual(out, "")
            self.assertIn("--json is not available", err)
        code, out, _ = run("demo", "--help")
        self.assertEqual(code, 0)
        self.assertNotIn("--json", out)
        self.assertIn("[--json]", run("stats", "--help")[1])

    def test_bad_arguments(self):
        for args in (["frobnicate"], ["list", "--bogus"], ["describe"], ["list", "--kind"]):
            code, out, err = run(*args)
            self.assertEqual(code, 2, args)
            self.assertTrue(err, args)


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    TOOL = sys.argv.pop(1)
    unittest.main(verbosity=1)

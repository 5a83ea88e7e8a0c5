"""The schema against the catalogue's lists: every declared type is listed
with its kind, module and C++ name, complete modules declare every listed
type, and special flags stand only where the flag list allows them."""
import os
import tempfile
import unittest

import support
from test_errors import CATALOGUE, OTHER
from test_errors import MODULE as PLAIN_MODULE

# The flag list below makes t.Base.name secret, and module t is complete.
MODULE = PLAIN_MODULE.replace("  name: string\n", "  name: string secret\n")

TYPES = """\
wire\tkind\tmodule\tcpp
t.Base\tdata\tt\tT::Base
t.Problem\tfault\tt\tT::Problem
t.Thing\tmanaged\tt\tT::Thing
t.other.Other\tdata\tt.other\tT::Other::Other
t.other.Later\tenum\tt.other\tT::Other::Later
"""

FLAGS = """\
# flag\towner\tname
secret\tt.Base\tname
secret-param\tact\tpassword
"""


class ConsistencyTest(unittest.TestCase):

    def check(self, module=MODULE, types=TYPES, flags=FLAGS, complete="t"):
        with tempfile.TemporaryDirectory() as tmp:
            schema = os.path.join(tmp, "schema")
            support.write_files(schema, {"t.catalogue": CATALOGUE, "t.schema": module,
                                         "t.other.schema": OTHER})
            support.write_files(tmp, {"types.tsv": types, "flags.tsv": flags})
            r = support.run_korgen("--schema", schema, "--check", "--complete", complete,
                                   "--type-list", os.path.join(tmp, "types.tsv"),
                                   "--flag-list", os.path.join(tmp, "flags.tsv"))
            return r.returncode, r.stderr.replace(tmp + os.sep, "")

    def test_consistent_schema_passes(self):
        # t.other is not complete: its listed enum may still be missing.
        self.assertEqual(self.check(), (0, ""))

    def test_seeded_errors_are_reported_where_they_stand(self):
        cases = {
            "type outside the list": (MODULE + "data Extra since=v1\n", "schema/t.schema:12:",
                                      "type t.Extra is not in the catalogue list"),
            "wrong kind": (MODULE.replace("fault Problem : tydef.MethodFault", "data Problem"),
                           "schema/t.schema:7:", "type t.Problem is declared data; the catalogue lists it as fault"),
            "listed type missing from a complete module": (
                MODULE.replace("managed Thing since=v1\n  label: string\n  method act\n", ""),
                "types.tsv:4:", "managed type t.Thing of module t is not declared"),
            "secret where the list has none": (MODULE.replace("parts: Base[]?", "note: string? secret"),
                                               "schema/t.schema:5:",
                                               "property note of t.Base may not be secret"),
            "secret parameter": (MODULE.replace("method act", "method act\n    token: string secret"),
                                 "schema/t.schema:12:", "parameter token of act may not be secret"),
        }
        for name, (module, where, message) in cases.items():
            with self.subTest(name):
                code, err = self.check(module)
                self.assertEqual(code, 1, err)
                self.assertIn(where + " " + message, err)

    def test_cpp_names_must_agree_with_the_list(self):
        code, err = self.check(types=TYPES.replace("T::Other::Other", "T::OtherOther"))
        self.assertEqual(code, 1)
        self.assertIn("maps to T::Other::Other; the catalogue lists T::OtherOther", err)

    def test_complete_modules_carry_every_listed_flag(self):
        # The list says t.Base.name is secret; t is complete, so it must be.
        code, err = self.check(PLAIN_MODULE)
        self.assertEqual(code, 1)
        self.assertIn("schema/t.schema:4: property name of t.Base must be secret", err)
        self.assertEqual(self.check(PLAIN_MODULE, complete="")[0], 0)
        code, err = self.check(MODULE, flags=FLAGS + "stat\tt.Base\tname\n")
        self.assertEqual(code, 1)
        self.assertIn("schema/t.schema:4: property name of t.Base must be stat", err)
        code, err = self.check(MODULE, flags=FLAGS + "link\tt.Base\tnothing\n")
        self.assertIn("t.Base has no property nothing", err)

    def test_allowed_flags_pass(self):
        module = MODULE.replace("method act", "method act\n    password: string secret")
        self.assertEqual(self.check(module), (0, ""))


if __name__ == "__main__":
    unittest.main()

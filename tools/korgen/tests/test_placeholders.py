"""The placeholder list: members typed anyType or tydef.KeyAnyValue, with the
reason their schema line gives, and the exit status of --placeholders."""
import os
import tempfile
import unittest

import support
from korgen import parser, placeholders
from korgen.validate import validate

CATALOGUE = """\
namespace t
import tydef.query
task-type t.Thing
service-namespace t1
version t.version.v1 wire-namespace=t1 id=1.0 flags=0x101 extends=tydef.query.version.version1
module t
"""

JUSTIFIED = """\
module t

# Values of a setting.
data Setting since=v1
  key: string
  value: anyType?  # any: a setting holds a value of the type its definition names
  extra: tydef.KeyAnyValue[]?  # any:   named values of a plug-in, an open set

managed Thing since=v1
  method apply -> anyType?  # any: the result of the applied action
    arguments: anyType[]?  # any: arguments of the applied action
"""


def schema_dir(tmp, module):
    support.write_files(tmp, {"t.catalogue": CATALOGUE, "t.schema": module})
    return tmp


class Placeholders(unittest.TestCase):
    def uses(self, module):
        with tempfile.TemporaryDirectory() as tmp:
            cat = parser.load(schema_dir(tmp, module))
            self.assertEqual(validate(cat), [])
            found = placeholders.find_uses(cat)
            return [(u.where.line, u.member, u.type_name, u.reason) for u in found]

    def test_every_kind_of_member_with_its_reason(self):
        self.assertEqual(self.uses(JUSTIFIED), [
            (6, "t.Setting.value", "anyType", "a setting holds a value of the type its definition names"),
            (7, "t.Setting.extra", "tydef.KeyAnyValue", "named values of a plug-in, an open set"),
            (10, "t.Thing.apply -> result", "anyType", "the result of the applied action"),
            (11, "t.Thing.apply(arguments)", "anyType", "arguments of the applied action"),
        ])

    def test_a_comment_without_the_mark_or_without_text_is_no_reason(self):
        module = JUSTIFIED.replace("# any: a setting holds", "# a setting holds").replace(
            "# any:   named values of a plug-in, an open set", "# any:")
        reasons = {member: reason for _, member, _, reason in self.uses(module)}
        self.assertIsNone(reasons["t.Setting.value"])
        self.assertIsNone(reasons["t.Setting.extra"])
        self.assertIsNotNone(reasons["t.Thing.apply -> result"])

    def test_real_types_are_not_listed(self):
        self.assertEqual(self.uses("module t\n\ndata A since=v1\n  x: string\n  y: A[]?\n"), [])

    def test_exit_status_and_listing(self):
        with tempfile.TemporaryDirectory() as tmp:
            r = support.run_korgen("--schema", schema_dir(tmp, JUSTIFIED), "--placeholders")
            self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
            self.assertIn("4 placeholder use(s), 0 without a reason", r.stdout)
        with tempfile.TemporaryDirectory() as tmp:
            module = JUSTIFIED.replace("  # any: arguments of the applied action", "")
            r = support.run_korgen("--schema", schema_dir(tmp, module), "--placeholders")
            self.assertEqual(r.returncode, 1)
            path = os.path.join(tmp, "t.schema")
            self.assertIn(f"{path}:11: t.Thing.apply(arguments) is typed anyType and gives no reason", r.stdout)
            self.assertIn("4 placeholder use(s), 1 without a reason", r.stdout)

    def test_an_invalid_schema_is_reported_before_any_listing(self):
        with tempfile.TemporaryDirectory() as tmp:
            r = support.run_korgen("--schema", schema_dir(tmp, JUSTIFIED + "data B since=v1\n  x: Missing\n"),
                                   "--placeholders")
            self.assertEqual(r.returncode, 1)
            self.assertEqual(r.stdout, "")
            self.assertIn("refers to unknown type t.Missing", r.stderr)


if __name__ == "__main__":
    unittest.main()

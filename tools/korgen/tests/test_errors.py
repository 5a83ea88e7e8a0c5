"""Schema mistakes: each is reported as `file:line: message`, korgen exits
non-zero and writes nothing.

Every case starts from a small valid schema and changes one thing. The line
that must be reported carries the comment `# error`; the parser drops
comments, so the marker does not change what is read.
"""
import os
import tempfile
import unittest

import support

CATALOGUE = """\
namespace t
import tydef.query
task-type t.Thing
service-namespace t1
version t.version.v1 wire-namespace=t1 id=1.0 flags=0x101 extends=tydef.query.version.version1
version t.version.v2 wire-namespace=t1 id=1.1 flags=0x100 extends=t.version.v1
version t.version.v3 wire-namespace=t1 id=1.2 flags=0x100 extends=t.version.v2
module t
empty
module t.other
"""

MODULE = """\
module t

data Base since=v1
  name: string
  parts: Base[]?

fault Problem : tydef.MethodFault since=v1

managed Thing since=v1
  label: string
  method act
"""

OTHER = """\
module t.other

data Other since=v1
  base: t.Base?
"""

MARKER = "# error"


class SchemaErrorTest(unittest.TestCase):

    def reject(self, added="", message="", files=None, process=False):
        """Writes the base schema with `added` appended to t.schema and any
        replaced or extra `files`, runs korgen, and checks that it fails at the
        marked line with `message`, leaving the output folder empty."""
        tree = {"t.catalogue": CATALOGUE, "t.schema": MODULE + added, "t.other.schema": OTHER}
        tree.update(files or {})
        marked = [k for k, v in tree.items() if MARKER in v]
        self.assertEqual(len(marked), 1, "exactly one file carries the marker")
        marked = marked[0]
        lines = [i for i, l in enumerate(tree[marked].splitlines(), 1) if MARKER in l]
        self.assertEqual(len(lines), 1, "exactly one line carries the marker")
        with tempfile.TemporaryDirectory() as tmp:
            schema, out = os.path.join(tmp, "schema"), os.path.join(tmp, "out")
            support.write_files(schema, tree)
            os.mkdir(out)
            run = support.run_korgen_process if process else support.run_korgen
            r = run("--schema", schema, "--out", out)
            self.assertNotIn("Traceback", r.stderr)
            self.assertEqual(r.returncode, 1, f"accepted; stderr:\n{r.stderr}")
            self.assertEqual(os.listdir(out), [], "files written despite the error")
            prefix = f"{os.path.join(schema, marked)}:{lines[0]}: "
            reported = [l for l in r.stderr.splitlines() if l.startswith(prefix)]
            self.assertTrue(reported, f"nothing reported at {marked}:{lines[0]}; stderr:\n{r.stderr}")
            self.assertTrue(any(message in l for l in reported),
                            f"no '{message}' at {marked}:{lines[0]}; stderr:\n{r.stderr}")
        return r.stderr

    def test_base_schema_is_valid(self):
        # Otherwise the cases below could fail for reasons of their own.
        with tempfile.TemporaryDirectory() as tmp:
            support.write_files(tmp, {"t.catalogue": CATALOGUE, "t.schema": MODULE, "t.other.schema": OTHER})
            r = support.run_korgen("--schema", tmp, "--check")
            self.assertEqual(r.returncode, 0, r.stderr)

    def test_command_fails_with_the_message_alone(self):
        stderr = self.reject("data A since=v1\n  x: Missing  # error\n", "refers to unknown type t.Missing",
                             process=True)
        self.assertEqual(len(stderr.splitlines()), 2, stderr)
        self.assertIn("korgen: 1 error(s); nothing written", stderr)

    def test_unknown_type_references(self):
        cases = {
            "property": ("data A since=v1\n  x: Missing  # error\n", "refers to unknown type t.Missing"),
            "module-qualified property": ("data A since=v1\n  x: t.other.Missing?  # error\n",
                                          "refers to unknown type t.other.Missing"),
            "parameter": ("managed M since=v1\n  method f\n    p: Missing[]  # error\n",
                          "parameter p of method f of t.M refers to unknown type t.Missing"),
            "result": ("managed M since=v1\n  method f -> Missing?  # error\n",
                       "result of method f of t.M refers to unknown type t.Missing"),
            "throws": ("managed M since=v1\n  method f throws=Problem,Missing  # error\n",
                       "throws unknown type t.Missing"),
            "throws a non-fault": ("managed M since=v1\n  method f throws=Base  # error\n",
                                   "throws t.Base, which is not a fault"),
            "parent": ("data A : Missing since=v1  # error\n", "parent t.Missing of t.A is not a known type"),
            "override": ("managed M since=v1\n  method f\n    override t.Base Some.Privilege  # error\n",
                         "names t.Base, which is not a managed type"),
        }
        for what, (added, message) in cases.items():
            with self.subTest(what):
                self.reject(added, message)

    def test_duplicate_names(self):
        cases = {
            "wire name": ("data Base since=v2  # error\n", "duplicate wire name t.Base"),
            "wire name of another kind": ("enum Thing since=v1  # error\n  a\n", "duplicate wire name t.Thing"),
            "WSDL name": ("data A wsdl=Same since=v1\ndata B wsdl=Same since=v1  # error\n",
                          "duplicate WSDL name Same of t.B"),
            "WSDL name of a runtime type": ("data A wsdl=DynamicData since=v1  # error\n",
                                            "duplicate WSDL name DynamicData"),
            "default WSDL names": ("data Base.Info since=v1\ndata BaseInfo since=v1  # error\n",
                                   "duplicate WSDL name BaseInfo"),
            "method": ("managed M since=v1\n  method f\n  method f -> string  # error\n",
                       "method f of t.M declared twice"),
            "property": ("data A since=v1\n  x: int\n  x: string  # error\n", "property x of t.A declared twice"),
            "inherited property": ("data A : Base since=v1\n  name: string  # error\n",
                                   "redeclares the one of t.Base"),
        }
        for what, (added, message) in cases.items():
            with self.subTest(what):
                self.reject(added, message)
        with self.subTest("WSDL name across modules"):
            self.reject("data Other since=v1\n", "duplicate WSDL name Other of t.other.Other",
                        files={"t.other.schema": OTHER.replace("data Other since=v1", "data Other since=v1  # error")})

    def test_versions_outside_the_table(self):
        missing = "names version 't.version.v9', which is not in the version table"
        cases = {
            "type": "data A since=v9  # error\n",
            "property": "data A since=v1\n  x: int since=v9  # error\n",
            "method": "managed M since=v1\n  method f since=v9  # error\n",
            "parameter": "managed M since=v1\n  method f\n    p: int since=v9  # error\n",
        }
        for what, added in cases.items():
            with self.subTest(what):
                self.reject(added, missing)

    def test_members_older_than_their_owner(self):
        cases = {
            "property": ("data A since=v2\n  x: int since=v1  # error\n",
                         "property x of t.A is added in t.version.v1, before its type's t.version.v2"),
            "method": ("managed M since=v3\n  method f since=v2  # error\n",
                       "method f of t.M is added in t.version.v2, before its type's t.version.v3"),
            "parameter": ("managed M since=v1\n  method f since=v3\n    p: int since=v2  # error\n",
                          "parameter p of method f of t.M is added in t.version.v2, before its method's"),
        }
        for what, (added, message) in cases.items():
            with self.subTest(what):
                self.reject(added, message)
        with self.subTest("version of another branch"):
            # v2b descends from v1 but not from v2: a later row is not enough.
            cat = CATALOGUE.replace("module t\n", "version t.version.v2b wire-namespace=t1 id=1.1b flags=0x100 "
                                                  "extends=t.version.v1\nmodule t\n")
            self.reject("data A since=v2\n  x: int since=v2b  # error\n", "is added in t.version.v2b, before",
                        files={"t.catalogue": cat})

    def test_flag_combinations(self):
        cases = {
            "linkable on a non-array": ("data A since=v1\n  x: Base? linkable  # error\n",
                                        "linkable needs an array of data objects"),
            "linkable on an array of strings": ("data A since=v1\n  x: string[]? linkable  # error\n",
                                                "linkable needs an array of data objects"),
            "link to a managed type": ("data A since=v1\n  x: Thing? link  # error\n",
                                       "a link refers to a data object type, not t.Thing"),
            "link to a primitive": ("data A since=v1\n  x: int? link  # error\n",
                                    "a link refers to a data object type, not int"),
            "secret non-string": ("data A since=v1\n  x: int secret  # error\n", "only single strings can be secret"),
            "secret array": ("data A since=v1\n  x: string[]? secret  # error\n",
                             "only single strings can be secret"),
            "secret non-string parameter": ("managed M since=v1\n  method f\n    p: long secret  # error\n",
                                            "parameter p of method f of t.M: only single strings can be secret"),
            "rw on a managed property": ("managed M since=v1\n  x: string rw  # error\n",
                                         "managed object properties are always read-only"),
            "loc on a managed property": ("managed M since=v1\n  x: string loc  # error\n",
                                          "only data object properties are localizable"),
            "stat on a single managed value": ("managed M since=v1\n  x: int stat  # error\n",
                                               "flags 0x404 are not allowed on a managed object property"),
            "stat with link": ("data A since=v1\n  x: Base? link stat  # error\n",
                               "flag combination 0x422 is not allowed"),
            "ro and rw": ("data A since=v1\n  x: int ro rw  # error\n", "either ro or rw"),
            "secret without a result": ("managed M since=v1\n  method f secret  # error\n",
                                        "the method has none"),
            "own privilege beside overrides": (
                "managed M since=v1\n  method f priv=A.B  # error\n    override t.Thing C.D\n",
                "a method with privilege overrides has no privilege of its own"),
        }
        for what, (added, message) in cases.items():
            with self.subTest(what):
                self.reject(added, message)

    def test_parent_chains(self):
        cases = {
            "fault reaching no fault root": ("data Plain since=v1\nfault F : Plain since=v1  # error\n",
                                             "parent chain reaches no fault root"),
            "fault without parent": ("fault F since=v1  # error\n", "fault t.F needs a parent fault"),
            "data on a fault": ("data D : Problem since=v1  # error\n", "derives from a fault"),
            "data on a runtime fault": ("data D : tydef.RuntimeFault since=v1  # error\n", "derives from a fault"),
            "managed on data": ("managed M : Base since=v1  # error\n", "managed type t.M has data parent t.Base"),
            "data on managed": ("data D : Thing since=v1  # error\n", "data type t.D has managed parent t.Thing"),
            "loop": ("data A : B since=v1\ndata B : A since=v1  # error\n", "parent chain of t.B loops"),
        }
        for what, (added, message) in cases.items():
            with self.subTest(what):
                self.reject(added, message)

    def test_enumerations(self):
        cases = {
            "duplicate value": ("enum Mode since=v1\n  on off\n  auto on  # error\n",
                                'enumeration t.Mode: duplicate value "on"'),
            "values naming one constant": ("enum Mode since=v1\n  a-b\n  a_b  # error\n", "map to the same constant"),
            "no values": ("enum Mode since=v1  # error\n", "enumeration t.Mode has no values"),
            "nested in an enumeration": ("enum Mode since=v1\n  a\ndata Mode.X since=v1  # error\n",
                                         "cannot be nested in enumeration t.Mode"),
            "enumeration with a parent": ("enum Mode : Base since=v1  # error\n  a\n", "an enumeration has no parent"),
        }
        for what, (added, message) in cases.items():
            with self.subTest(what):
                self.reject(added, message)

    def test_task_flag_must_agree_with_operation_name(self):
        with self.subTest("task without _Task"):
            self.reject("managed M since=v1\n  method f task wsdl=Foo  # error\n",
                        "task flag set but operation name Foo does not end in _Task")
        with self.subTest("_Task without task"):
            self.reject("managed M since=v1\n  method f wsdl=Foo_Task  # error\n",
                        "task flag clear but operation name Foo_Task ends in _Task")

    def test_nested_type_without_enclosing_type(self):
        with self.subTest("missing"):
            self.reject("data Missing.Inner since=v1  # error\n",
                        "nested type t.Missing.Inner is declared in t.Missing, which is not a type of module t")
        with self.subTest("enclosing type in another module"):
            self.reject("data Other.Inner since=v1  # error\n", "which is not a type of module t")

    def test_parse_errors(self):
        cases = {
            "odd indentation": ("data A since=v1\n   x: int  # error\n", "multiple of two spaces"),
            "tab": ("data A since=v1\n\tx: int  # error\n", "indent with spaces, not tabs"),
            "too deep": ("managed M since=v1\n  method f\n      p: int  # error\n", "too deeply indented"),
            "unknown flag": ("data A since=v1\n  x: int bogus  # error\n", "unknown attribute 'bogus'"),
            "unknown key": ("data A since=v1\n  x: int wsdl=X  # error\n", "unknown attribute 'wsdl='"),
            "unknown type attribute": ("data A since=v1 abstract  # error\n", "unknown attribute 'abstract'"),
            "flag given twice": ("data A since=v1\n  x: int? ro ro  # error\n", "attribute 'ro' given twice"),
            "unknown kind": ("struct A since=v1  # error\n", "unknown type kind 'struct'"),
            "missing since": ("data A  # error\n", "type t.A needs since="),
            "malformed type": ("data A since=v1\n  x: int?[]  # error\n", "malformed type 'int?[]'"),
            "method in a data type": ("data A since=v1\n  method f  # error\n", "only managed types have methods"),
            "parameter outside a method": ("managed M since=v1\n  x: int\n    p: int  # error\n",
                                           "parameter outside a method"),
        }
        for what, (added, message) in cases.items():
            with self.subTest(what):
                self.reject(added, message)
        with self.subTest("member outside a type"):
            self.reject(message="member outside a type",
                        files={"t.schema": "module t\n  x: int  # error\n" + MODULE[len("module t\n"):]})
        with self.subTest("file naming another module"):
            self.reject(message="file declares module 't.wrong', expected 't'",
                        files={"t.schema": MODULE.replace("module t\n", "module t.wrong  # error\n")})
        with self.subTest("not UTF-8"):
            with tempfile.TemporaryDirectory() as tmp:
                support.write_files(tmp, {"t.catalogue": CATALOGUE, "t.other.schema": OTHER})
                with open(os.path.join(tmp, "t.schema"), "wb") as fh:
                    fh.write(MODULE.encode() + b"data A since=v1\n  caf\xe9: int\n")
                r = support.run_korgen("--schema", tmp, "--check")
                self.assertEqual(r.returncode, 1)
                self.assertIn(f"{os.path.join(tmp, 't.schema')}:{MODULE.count(chr(10)) + 2}: not UTF-8", r.stderr)

    def test_catalogue_errors(self):
        with self.subTest("module file not listed"):
            self.reject(message="module file is not listed in t.catalogue",
                        files={"t.stray.schema": "module t.stray  # error\ndata S since=v1\n"})
        with self.subTest("module listed without a file"):
            self.reject(message="module t.ghost has no file t.ghost.schema",
                        files={"t.catalogue": CATALOGUE + "module t.ghost  # error\n"})
        with self.subTest("module listed twice"):
            self.reject(message="module t listed twice", files={"t.catalogue": CATALOGUE + "module t  # error\n"})
        with self.subTest("extends an undeclared version"):
            self.reject(message="extends 't.version.v9', which is not declared before it",
                        files={"t.catalogue": CATALOGUE + "version t.version.v4 wire-namespace=t1 id=1.3 "
                                                          "flags=0x100 extends=t.version.v9  # error\n"})
        with self.subTest("extends a version declared after it"):
            cat = CATALOGUE.replace("extends=t.version.v1\n", "extends=t.version.v3  # error\n")
            self.reject(message="extends 't.version.v3', which is not declared before it",
                        files={"t.catalogue": cat})
        with self.subTest("extends a runtime version not imported"):
            cat = CATALOGUE.replace("extends=t.version.v2\n",
                                    "extends=t.version.v2,tydef.reflect.version.version1  # error\n")
            self.reject(message="of a namespace the catalogue does not import", files={"t.catalogue": cat})
        with self.subTest("version missing a key"):
            cat = CATALOGUE.replace("id=1.2 ", "").replace("extends=t.version.v2\n", "extends=t.version.v2  # error\n")
            self.reject(message="version t.version.v3 needs id=", files={"t.catalogue": cat})
        with self.subTest("module outside the namespace"):
            self.reject(message="module 'u.x' is outside namespace 't'",
                        files={"t.catalogue": CATALOGUE + "module u.x  # error\n", "u.x.schema": "module u.x\n"})
        with self.subTest("no schema folder"):
            with tempfile.TemporaryDirectory() as tmp:
                missing = os.path.join(tmp, "nowhere")
                r = support.run_korgen("--schema", missing, "--check")
                self.assertEqual(r.returncode, 1)
                self.assertIn(f"{missing}:0: cannot read the schema folder", r.stderr)

    def test_every_mistake_is_reported_in_one_run(self):
        # The duplicate WSDL name is found in an earlier pass than the others.
        stderr = self.reject(
            "data A since=v1\n  x: Missing\n  y: int secret  # error\ndata B wsdl=A since=v1\n",
            "only single strings can be secret")
        self.assertIn("korgen: 3 error(s); nothing written", stderr)
        reported = [l for l in stderr.splitlines() if l.startswith("/")]
        self.assertEqual(len(reported), 3, stderr)
        self.assertEqual(reported, sorted(reported, key=lambda l: int(l.split(":")[1])),
                         "errors are listed in line order")

    def test_message_templates(self):
        cases = {
            "unknown property": ('fault F : Problem since=v1 msg="Bad {missing}"  # error\n',
                                 "'{missing}' names unknown property 'missing' of t.F"),
            "unknown nested property": ('data A since=v1 msg="In {b.nope}"  # error\n  b: Base?\n',
                                        "'{b.nope}' names unknown property 'nope' of t.Base"),
            "path through a value": ('data A since=v1 msg="{x.y}"  # error\n  x: string\n',
                                     "'{x.y}' goes through 'x', which is not a single data object"),
            "path through an array": ('data A since=v1 msg="{bs.name}"  # error\n  bs: Base[]?\n',
                                      "goes through 'bs', which is not a single data object"),
            "secret property": ('data A since=v1 msg="Login with {pw}"  # error\n  pw: string secret\n',
                                "names secret property 'pw'"),
            "secret nested property": ('data S since=v1\n  pw: string? secret\n'
                                       'data A since=v1 msg="{s.pw}"  # error\n  s: S\n',
                                       "names secret property 'pw'"),
            "unbalanced open brace": ('data A since=v1 msg="Value {x"  # error\n  x: int\n', "unbalanced '{'"),
            "unbalanced close brace": ('data A since=v1 msg="Value x}"  # error\n  x: int\n', "unbalanced '}'"),
            "brace inside an argument": ('data A since=v1 msg="{x{y}}"  # error\n  x: int\n', "unbalanced '{'"),
            "empty argument": ('data A since=v1 msg="Value {}"  # error\n', "empty '{}'"),
            "malformed path": ('data A since=v1 msg="Value {x..y}"  # error\n  x: int\n',
                               "is not a property name or dotted path"),
            "managed type": ('managed M since=v1 msg="M"  # error\n', "only fault and event (data) types"),
            "enumeration": ('enum E since=v1 msg="E"  # error\n  a\n', "only fault and event (data) types"),
            "unterminated quote": ('data A since=v1 msg="Value  # error\n', "unterminated quote"),
            "given twice": ('data A since=v1 msg="a" msg="b"  # error\n', "attribute 'msg=' given twice"),
            "empty": ('data A since=v1 msg=""  # error\n', "msg= is empty"),
            "unknown escape": ('data A since=v1 msg="a\\n"  # error\n', "unknown escape"),
            "on a property": ('data A since=v1\n  x: int msg="x"  # error\n', "unknown attribute"),
        }
        for what, (added, message) in cases.items():
            with self.subTest(what):
                self.reject(added, message)

    def test_message_templates_that_are_valid(self):
        # Inherited properties, the runtime's own, nested paths, escapes,
        # literal braces and a '#' that is text, not a comment.
        added = ('data Holder since=v1 msg="{base.name} has {base.parts} # {{literal}} \\"q\\""\n'
                 '  base: Base?\n'
                 'fault Sub : Problem since=v1 msg="Sub {faultCause} of {code}"\n  code: int\n'
                 'fault Arg : tydef.fault.InvalidArgument since=v1 msg="Bad {invalidProperty}"\n')
        with tempfile.TemporaryDirectory() as tmp:
            support.write_files(tmp, {"t.catalogue": CATALOGUE, "t.schema": MODULE + added,
                                      "t.other.schema": OTHER})
            r = support.run_korgen("--schema", tmp, "--check")
            self.assertEqual(r.returncode, 0, r.stderr)
            from korgen import parser as schema_parser
            cat = schema_parser.load(tmp)
            holder = [t for t in cat.modules["t"] if t.name == "t.Holder"][0]
            self.assertEqual(holder.message, '{base.name} has {base.parts} # {{literal}} "q"')

    def test_cross_references_across_the_catalogue(self):
        cases = {
            "operation name of another type": (
                "managed M since=v1\n  method act\n",
                "managed M since=v1\n  method act  # error\n",
                "operation Act of t.M.act is also t.Thing.act"),
            "operation named by wsdl= like another's default": (
                "managed M since=v1\n  method run wsdl=Act\n",
                "managed M since=v1\n  method run wsdl=Act  # error\n",
                "operation Act of t.M.run is also t.Thing.act"),
            "operation with a type's WSDL name": (
                "managed M since=v1\n  method base wsdl=Base\n",
                "managed M since=v1\n  method base wsdl=Base  # error\n",
                "operation Base of t.M.base has the WSDL name of type t.Base"),
            "fault listed twice": (
                "managed M since=v1\n  method f throws=Problem,tydef.MethodFault,Problem\n",
                "managed M since=v1\n  method f throws=Problem,tydef.MethodFault,Problem  # error\n",
                "method f of t.M lists fault t.Problem twice"),
        }
        for what, (_, added, message) in cases.items():
            with self.subTest(what):
                self.reject(added, message)
        with self.subTest("operation name taken in another module"):
            self.reject("", "operation Act of t.other.N.act is also t.Thing.act", files={
                "t.other.schema": OTHER + "managed N since=v1\n  method act  # error\n"})
        with self.subTest("the same name in one type stays a per-type error"):
            self.reject("managed M since=v1\n  method f\n  method g wsdl=F  # error\n",
                        "operation F of t.M declared twice")

    def test_class_definitions_that_need_each_other(self):
        # Each enclosing class names the other's nested class, so each needs
        # the other complete first.
        self.reject("data A since=v1\n  y: B.Y?\ndata B since=v1  # error\n  x: A.X?\n"
                    "data A.X since=v1\ndata B.Y since=v1\n",
                    "class definitions depend on each other: t.A -> t.B -> t.A")
        with self.subTest("nested classes naming each other are no cycle"):
            # A.X needs A and B complete, B.Y needs B and A: the enclosing
            # classes only declare their nested ones, so all can be ordered.
            with tempfile.TemporaryDirectory() as tmp:
                support.write_files(tmp, {
                    "t.catalogue": CATALOGUE, "t.other.schema": OTHER,
                    "t.schema": MODULE + "data A since=v1\ndata B since=v1\n"
                                         "data A.X since=v1\n  y: B.Y?\ndata B.Y since=v1\n  x: A.X?\n"})
                r = support.run_korgen("--schema", tmp, "--check")
                self.assertEqual(r.returncode, 0, r.stderr)


if __name__ == "__main__":
    unittest.main()

"""Schemas whose generated C++ would not compile, or would silently misbehave,
are refused at the schema line that causes it: two schema names that come out
as one C++ name, C++ names that are keywords, macros or names the generated
code relies on, and members that would hide the runtime's.

When a compiler is named (KORGEN_CXX, set by ctest), schemas full of names
that come close to these are generated and compiled, so the checks are also
seen not to refuse what compiles.
"""
import glob
import os
import shutil
import subprocess
import tempfile
import unittest

import support
import test_errors
from test_errors import CATALOGUE, MODULE, OTHER


class CollidingNamesTest(unittest.TestCase):
    reject = test_errors.SchemaErrorTest.reject

    def check_cases(self, cases):
        for what, (added, message) in cases.items():
            with self.subTest(what):
                self.reject(added, message)

    def test_properties_of_one_class(self):
        self.check_cases({
            "names differing in case, objects": ("data A since=v1\n  item: Base?\n  Item: Base?  # error\n",
                                                 "differ only in the case of their first letter"),
            "names differing in case, values": ("data A since=v1\n  item: int\n  Item: int  # error\n",
                                                "differ only in the case of their first letter"),
            "object foo and value foo_": ("data A since=v1\n  foo: Base?\n  foo_: int  # error\n",
                                          "are both foo_ in C++ in class T::A"),
            "value named like an accessor": ("data A since=v1\n  parts: Base[]?\n  GetParts: int  # error\n",
                                             "are both GetParts in C++"),
            "property named like its class": ("data Cls since=v1\n  Cls: int  # error\n",
                                              "taken by the constructor of Cls"),
            "accessor named like its class": ("data PeekItem since=v1\n  item: Base?  # error\n",
                                              "taken by the constructor of PeekItem"),
            "property hiding a runtime namespace": ("data A since=v1\n  Movel: int  # error\n",
                                                    "taken by the runtime's namespace Movel"),
            "escaped keyword next to its escape": ("data A since=v1\n  delete: int\n  delete_: int  # error\n",
                                                   "are both delete_ in C++"),
        })

    def test_properties_along_the_parent_chain(self):
        self.check_cases({
            # Also two parameters of the full constructor.
            "escaped keyword next to its escape": ("data P since=v1\n  delete: Base?\ndata C : P since=v1\n"
                                                   "  delete_: int  # error\n", "hides the one of property delete of t.P"),
            "accessor hiding the parent's": ("data P since=v1\n  item: Base?\ndata C : P since=v1\n"
                                             "  Item: Base?  # error\n", "hides the one of property item of t.P"),
            "runtime accessor": ("fault F : tydef.MethodFault since=v1\n  faultCause: Base?  # error\n",
                                 "taken by Movel::MethodFault::SetFaultCause"),
        })

    def test_faults(self):
        self.check_cases({
            "nested type Exception": ("fault F : tydef.MethodFault since=v1\ndata F.Exception since=v1  # error\n",
                                      "taken by the generated member Exception"),
            "property Throw": ("fault F : tydef.MethodFault since=v1\n  Throw: int  # error\n",
                               "taken by the generated member Throw"),
        })

    def test_managed_types(self):
        self.check_cases({
            "property name and method getName": ("managed M since=v1\n  method getName -> string\n"
                                                 "  name: string  # error\n", "are both GetName in C++ in class T::M"),
            "boolean property and method isOn": ("managed M since=v1\n  method isOn -> boolean\n"
                                                 "  on: boolean  # error\n", "are both IsOn in C++"),
            "properties differing in case": ("managed M since=v1\n  item: int\n  Item: int  # error\n",
                                             "are both GetItem in C++"),
            "method incRef": ("managed M since=v1\n  method incRef  # error\n", "taken by the runtime's member IncRef"),
            "method decRef": ("managed M since=v1\n  method decRef  # error\n", "taken by the runtime's member DecRef"),
            "method named like the stub": ("managed M since=v1\n  method mStub  # error\n",
                                           "is the name of the stub class"),
            "method named like its class": ("managed M since=v1\n  method m wsdl=MakeM  # error\n",
                                            "taken by the constructor of M"),
            "method overriding the parent's": ("managed P since=v1\n  method act wsdl=ActP\nmanaged C : P since=v1\n"
                                               "  method act wsdl=ActC  # error\n", "hides the one of method act of t.P"),
            "parameters escaping alike": ("managed M since=v1\n  method f\n    new: int\n    new_: int  # error\n",
                                          "among the parameters of method f of t.M"),
            "methods naming one constant": ("managed M since=v1\n  method f\n  method F  # error\n",
                                            "map to the same constant"),
        })

    def test_type_names(self):
        self.check_cases({
            "runtime namespace": ("data Movel since=v1  # error\n", "taken by the runtime's namespace Movel"),
            "root namespace": ("data T since=v1  # error\n", "taken by the root namespace T"),
            "macro EOF": ("data EOF since=v1  # error\n", "EOF is a predefined macro"),
            "macro linux": ("data linux since=v1  # error\n", "linux is a predefined macro"),
            "macro unix": ("enum unix since=v1  # error\n  a\n", "unix is a predefined macro"),
            "keyword": ("data class since=v1  # error\n", "class is a C++ keyword"),
            "reserved spelling": ("data _Hidden since=v1  # error\n", "reserved to the C++ implementation"),
            "stub class of another type": ("data ThingStub since=v1  # error\n",
                                           "are both ThingStub in C++ in namespace T"),
            "nested like its class": ("data A since=v1\ndata A.A since=v1  # error\n", "taken by the constructor of A"),
        })

    def test_enumeration_values(self):
        self.check_cases({
            "delete and delete_": ("enum E since=v1\n  delete delete_  # error\n", "are both delete_ in C++"),
            "1a and _1a": ("enum E since=v1\n  1a\n  _1a  # error\n", "are both _1a in C++"),
            "constants of nested enumerations": ("data A since=v1\nenum A.B_C since=v1\n  d\nenum A.B since=v1\n"
                                                 "  c_d  # error\n", "are both B_C_D in C++ in class T::A"),
            "constant named like a type": ("data COLOR_RED since=v1\nenum Color since=v1\n  red  # error\n",
                                           "are both COLOR_RED in C++ in namespace T"),
            "value that is a macro": ("enum E since=v1\n  EINVAL  # error\n", "EINVAL is a predefined macro"),
            "constant that is a macro": ("enum Exit since=v1\n  success  # error\n", "EXIT_SUCCESS is a predefined macro"),
            "NUL byte": ("enum E since=v1\n  a\0b  # error\n", "character U+0000 is not allowed"),
            "non-ASCII letter": ("enum E since=v1\n  caf\u00e9  # error\n", "character U+00E9 is not allowed"),
        })

    def test_module_and_namespace_names(self):
        with self.subTest("module smp.1x"):
            self.reject(message="module name 't.1x' is not a dotted name of identifiers",
                        files={"t.catalogue": CATALOGUE + "module t.1x  # error\n", "t.1x.schema": "module t.1x\n"})
        with self.subTest("module hiding the runtime"):
            self.reject(message="taken by the runtime's namespace Movel",
                        files={"t.catalogue": CATALOGUE + "module t.movel  # error\n",
                               "t.movel.schema": "module t.movel\n"})
        with self.subTest("modules sharing their loader's name"):
            self.reject(message="are both LoadTAB in C++ in namespace kortypes_detail",
                        files={"t.catalogue": CATALOGUE + "module t.a.b\nmodule t.aB  # error\n",
                               "t.a.b.schema": "module t.a.b\n", "t.aB.schema": "module t.aB\n"})
        with self.subTest("namespace that is a path"):
            self.reject(message="namespace name '../t' is not a dotted name",
                        files={"t.catalogue": CATALOGUE.replace("namespace t\n", "namespace ../t  # error\n")})

    def test_record_names(self):
        # Internal records join the type and method names: t.A's method b_c
        # and t.A_b's method c name one parameter list.
        self.reject("managed A since=v1\n  method b_c\n    x: int\nmanaged A_b since=v1\n  method c  # error\n"
                    "    x: int\n", "are both kTA_b_cParams in C++ in namespace kortypes_detail")


NEAR_MISSES = """
data Near since=v1
  value: Base?
  ref: Base?
  other: int
  round: int
  set: Base[]?
  items: Base[]?
  item: int
  getItems: int
  near_: string
  exception: string
  incRef: int
  EOF_: int
  linux_: int
  Kor: int

data Near.Part since=v1
  part: Near.Part?

enum Near.Kind since=v1
  delete new 1a EOF_ _x linux_

data Near2 : Near since=v1
  parts: Near.Part[]?
  itemsCount: int

fault Fail : tydef.fault.SystemError since=v1
  cause: string?
  fault: Base?
  message: string?

data Exception since=v1
  throw: int

managed Client since=v1
  name: string
  ready: boolean
  method getStatus -> string
    name: string
    value: int?
  method isReadyNow -> boolean
  method toText -> string
    format: string
  method clone
    _result: int

managed Client.Session since=v1
  method close

managed SpecialClient : Client since=v1
  method getNameAgain -> string
"""


def runtime_includes():
    root = os.path.abspath(os.path.join(support.KORGEN_ROOT, "..", ".."))
    return [os.path.join(root, "contracts", lib, "include") for lib in ("movel", "basekit")]


class NearMissesCompileTest(unittest.TestCase):
    """Names that come close to the refused ones are accepted, and what is
    generated for them compiles."""

    def test_near_misses_are_accepted_and_compile(self):
        schema = MODULE + NEAR_MISSES.replace("    _result: int\n", "    result: int\n")
        with tempfile.TemporaryDirectory() as tmp:
            support.write_files(tmp + "/schema", {"t.catalogue": CATALOGUE, "t.schema": schema,
                                                  "t.other.schema": OTHER})
            support.generate(tmp + "/schema", tmp + "/out", "--chunk-types", "100")
            cxx = os.environ.get("KORGEN_CXX")
            if not cxx:
                self.skipTest("no compiler named (KORGEN_CXX)")
            includes = [tmp + "/out/include", tmp + "/out/src"] + runtime_includes()
            # The classes, their code and records; the loaders are the
            # same for every schema.
            for source in sorted(glob.glob(tmp + "/out/src/t/*.cpp")):
                r = subprocess.run([cxx, "-std=gnu++17", "-fsyntax-only", "-Wall", "-Werror", "-Wno-unused-parameter",
                                    "-Wno-invalid-offsetof"] + ["-I" + i for i in includes] + [source],
                                   stdout=subprocess.PIPE, stderr=subprocess.STDOUT, universal_newlines=True)
                self.assertEqual(r.returncode, 0, f"{os.path.relpath(source, tmp)}:\n{r.stdout[:3000]}")

    def test_parameter_names_start_with_a_letter(self):
        # `_result` is the generated out-parameter; schema parameters cannot
        # take the name.
        self.reject("managed M since=v1\n  method f\n    _result: int  # error\n", "start with a letter")

    reject = test_errors.SchemaErrorTest.reject


class MacroListTest(unittest.TestCase):
    """The list of macros is only as good as its agreement with the compiler."""

    def test_every_macro_of_the_runtime_headers_is_known(self):
        from korgen import cppnames
        cxx = os.environ.get("KORGEN_CXX") or shutil.which("c++")
        if not cxx:
            self.skipTest("no compiler")
        with tempfile.TemporaryDirectory() as tmp:
            source = os.path.join(tmp, "m.cpp")
            with open(source, "w") as fh:
                fh.write('#include "movel/movel.h"\n#include <atomic>\n#include <string>\n#include <vector>\n')
            found = set()
            for std in ("c++17", "gnu++17"):
                r = subprocess.run([cxx, "-std=" + std, "-dM", "-E"] + ["-I" + i for i in runtime_includes()]
                                   + [source], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                   universal_newlines=True)
                self.assertEqual(r.returncode, 0, r.stderr)
                for line in r.stdout.splitlines():
                    name = line.split()[1].split("(")[0]
                    if not cppnames.is_reserved(name):
                        found.add(name)
        self.assertTrue(found, "the compiler listed no macro")
        self.assertEqual(sorted(found - cppnames.MACROS), [], "macros missing from korgen/cppnames.py")
        for name in ("EOF", "linux", "unix", "NULL", "errno"):
            self.assertIsNotNone(cppnames.problem(name), name)
        self.assertIsNone(cppnames.problem("Linux"))


if __name__ == "__main__":
    unittest.main()

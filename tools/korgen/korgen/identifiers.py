"""Every C++ identifier the generated code declares, checked before anything
is written.

The emitters turn schema names into C++ names by fixed rules (upper-cased
first letters, accessor prefixes, escaped keywords, joined constants), so
two different schema names can come out as one C++ name, or as a keyword, a
macro, or a name the generated code itself relies on. Each such name is
reported at the schema line that produced it, instead of as a compiler error
in generated code. The names are taken from the emitters' own rules (kinds,
managed, classes), so this check follows the code that is written.

Scopes modelled, each with what it holds:
- the global namespace: the exported records, the root namespace and the
  runtime's namespaces;
- namespace kortypes_detail: every internal record and function;
- each module namespace: its child namespaces, its top-level classes and
  enumerations, the stub and skeleton classes, the constants of its top-level
  enumerations;
- each class: nested types and their constants, members, accessors,
  operations and METHOD_ constants, the generated members, the members of
  the runtime classes it derives from, and (for data classes) the members of
  its generated ancestors; the constructor's parameters (every property of
  the chain); each operation's parameters;
- each enumeration: its enumerators.
"""
import re

from . import cppnames, names
from .builtins import BUILTINS
from .context import Context
from .emit import classes, managed
from .kinds import PointerField, field_for
from .model import Where

# Namespaces the generated code names from inside every scope; a name that
# hides one of them breaks every later use.
RUNTIME_NAMESPACES = ("Movel", "Basekit", "std", "kortypes_detail")

# Public and protected members of the runtime classes the generated classes
# derive from. A generated member of the same name hides them: reference
# counting, the virtual operations and the runtime's accessors stop working
# through the generated class.
_OBJECT = {"IncRef", "DecRef", "ToString", "GetRefCount"}
_ANY = _OBJECT | {"RoundFn", "_GetType", "_GetSize", "_Clone", "_IsEqual", "_DiffProperties"}
_DYNAMIC_DATA = _ANY | {"_GetDataType", "GetDynamicType", "SetDynamicType", "GetDynamicProperty",
                        "GetOrCreateDynamicProperty", "SetDynamicProperty", "_GetRootMembersSize",
                        "_fields", "_layout"}
_METHOD_FAULT = _DYNAMIC_DATA | {"Exception", "Throw", "GetFaultCause", "SetFaultCause", "GetFaultMessage",
                                 "GetOrCreateFaultMessage", "SetFaultMessage"}
RUNTIME_MEMBERS = {
    "tydef.DynamicData": ("Movel::DynamicData", _DYNAMIC_DATA),
    "tydef.DynamicProperty": ("Movel::DynamicProperty", _DYNAMIC_DATA | {"GetName", "SetName", "GetVal", "SetVal"}),
    "tydef.KeyAnyValue": ("Movel::KeyAnyValue", _DYNAMIC_DATA | {"GetKey", "SetKey", "GetValue", "SetValue"}),
    "tydef.LocalizableMessage": ("Movel::LocalizableMessage", _DYNAMIC_DATA | {
        "GetKey", "SetKey", "GetArg", "GetOrCreateArg", "SetArg", "GetMessage", "SetMessage"}),
    "tydef.MethodFault": ("Movel::MethodFault", _METHOD_FAULT),
    "tydef.RuntimeFault": ("Movel::RuntimeFault", _METHOD_FAULT),
    "tydef.fault.InvalidArgument": ("Movel::Fault::InvalidArgument",
                                    _METHOD_FAULT | {"GetInvalidProperty", "SetInvalidProperty"}),
    "tydef.fault.InvalidType": ("Movel::Fault::InvalidType", _METHOD_FAULT | {"GetArgument", "SetArgument"}),
    "tydef.fault.ManagedObjectNotFound": ("Movel::Fault::ManagedObjectNotFound",
                                          _METHOD_FAULT | {"GetObj", "SetObj"}),
    "tydef.fault.SystemError": ("Movel::Fault::SystemError", _METHOD_FAULT | {"GetReason", "SetReason"}),
}
for _name in ("NotEnoughLicenses", "NotSupported", "RequestCanceled", "SecurityError"):
    RUNTIME_MEMBERS["tydef.fault." + _name] = ("Movel::Fault::" + _name, _METHOD_FAULT)
# Managed interfaces derive from Movel::ManagedObject, stubs also from
# Movel::StubImpl and skeletons from Basekit::ObjectImpl.
MANAGED_RUNTIME_MEMBERS = _OBJECT | {
    "_GetType", "_GetRef", "_Unregistered", "_BindRef",
    "_Invoke", "_Invoke_Task", "_StartInvoke", "_StartInvoke_Task", "_GetStubAdapter",
    "_GetRequestContext", "_SetRequestContext", "FirstIncRef", "FinalDecRef"}

DATA_MEMBERS = ("_GetType", "_GetDataType", "_Clone", "_GetSize", "_IsEqual", "_DiffProperties", "_fields",
                "_layout", "_CreateObject", "_CreateArray")
FAULT_MEMBERS = ("Exception", "Throw")
MANAGED_MEMBERS = ("_GetType", "operator=")
OPERATION_PARAMS = ("_result", "_callback", "_item")
DETAIL_FIXED = ("kNoProperties", "kNoParams", "kNoFaults", "kNoMethods", "NoPropGet", "NoPropPeek", "NoPropSet",
                "NoPropSwap", "NoPropIsSet", "NoPropUnset", "NoDispatch")
DYNAMIC_PROPERTY = "dynamicProperty"

_FUNCTION_NAME = re.compile(r"(\w+)\(")


class Scope:
    """The identifiers one C++ scope declares, with the schema item behind each."""

    def __init__(self, checker, what):
        self.checker = checker
        self.what = what
        self.entries = {}  # identifier -> (where or None, item, kind)

    def fixed(self, ident, item, kind="fixed"):
        """A name the generated code or the runtime declares here itself."""
        self.entries.setdefault(ident, (None, item, kind))

    def add(self, ident, where, item, kind="name", hides_runtime=False):
        self.checker.spelling(ident, where, item)
        prev = self.entries.get(ident)
        if prev is None:
            self.entries[ident] = (where, item, kind)
            return
        pwhere, pitem, pkind = prev
        if kind == "namespace" and pkind == "namespace":
            return  # namespaces reopen
        if hides_runtime and pkind == "runtime":
            return
        if pitem == item:
            return
        if pwhere is None:
            self.checker.error(where, f"{item}: its C++ name {ident} {self.what} is taken by {pitem}", (item, pitem))
        else:
            self.checker.error(where, f"{item} and {pitem} (at {pwhere}) are both {ident} in C++ {self.what}",
                               (item, pitem))


class Checker:
    def __init__(self, cat):
        self.cat = cat
        self.ctx = Context(cat)
        self.errors = []
        self.reported = set()
        self.root = names.upper_first(cat.namespace)
        self.namespaces = {}  # C++ namespace path -> Scope
        self.classes = {}  # wire name -> Scope of the class
        self.own = {}  # wire name -> {member identifier: (where, item)} for ancestor checks

    def error(self, where, message, key=None):
        key = key or (str(where), message)
        if key in self.reported:
            return
        self.reported.add(key)
        self.errors.append((where, message))

    def spelling(self, ident, where, item):
        why = cppnames.problem(ident)
        if why:
            self.error(where, f"{item}: its C++ name {ident} {why}", (item, ident))

    def reserve(self, scope):
        scope.fixed(self.root, f"the root namespace {self.root}")
        for ns in RUNTIME_NAMESPACES:
            scope.fixed(ns, f"the runtime's namespace {ns}")

    # -- scopes ----------------------------------------------------------------

    def namespace(self, path):
        scope = self.namespaces.get(path)
        if scope is None:
            scope = self.namespaces[path] = Scope(self, f"in namespace {path}")
            self.reserve(scope)
        return scope

    def class_scope(self, t):
        scope = self.classes.get(t.name)
        if scope is None:
            scope = self.classes[t.name] = Scope(self, f"in class {names.cpp_class(t.name)}")
            self.reserve(scope)
        return scope

    def scope_of(self, t):
        """The scope a type's own name is declared in."""
        outer = names.enclosing(t.name, t.module)
        if outer is None:
            return self.namespace(names.module_namespace(t.module))
        return self.class_scope(self.cat.types[outer])

    # -- checks ----------------------------------------------------------------

    def run(self):
        cat = self.cat
        where_cat = Where(cat.catalogue_file, 1)
        for part in cat.namespace.split("."):
            if not cppnames.is_identifier(part):
                self.error(where_cat, f"namespace {cat.namespace}: '{part}' is not an identifier")
                return self.errors
        global_scope = Scope(self, "at global scope")
        for ns in RUNTIME_NAMESPACES:
            global_scope.fixed(ns, f"the runtime's namespace {ns}")
        for b in BUILTINS.values():
            global_scope.fixed(b.symbol, f"the runtime's record {b.symbol}")
        global_scope.add(self.root, where_cat, f"namespace {cat.namespace}", "namespace")
        self.namespace(self.root).fixed("GetModuleNames", "the function GetModuleNames")
        detail = Scope(self, "in namespace kortypes_detail")
        for n in DETAIL_FIXED:
            detail.fixed(n, f"the shared record {n}")
        for loader in cat.loaders:
            if loader.module:
                self.check_module(loader, detail)
        if self.errors:
            return self.errors  # names below are built from module names
        for t in cat.all_types():
            self.declare_type(t, global_scope, detail)
        for t in cat.all_types():
            self.check_ancestors(t)
        return self.errors

    def check_module(self, loader, detail):
        module, where = loader.module, loader.where
        parts = module.split(".")
        bad = [p for p in parts if not cppnames.is_identifier(p)]
        if bad:
            self.error(where, f"module {module}: '{bad[0]}' is not an identifier")
            return
        path = self.root
        for part in parts[1:]:
            ident = names.upper_first(part)
            self.namespace(path).add(ident, where, f"namespace of module {module}", "namespace")
            path += "::" + ident
        ident = self.ctx.module_ident(module)
        detail.add(ident + "Slots", where, f"the type slots of module {module}")
        detail.add("Load" + ident, where, f"the loader of module {module}")

    def declare_type(self, t, global_scope, detail):
        ctx = self.ctx
        item = f"type {t.name}"
        scope = self.scope_of(t)
        short = names.simple_name(t.name)
        scope.add(short, t.where, item)
        global_scope.add(ctx.symbol(t.name), t.where, item)
        records = {"enum": ["Values", "EnumTypeInfo", "Registration"],
                   "managed": ["ManagedTypeInfo", "CreateStub"]}.get(t.kind, ["DataTypeInfo", "Registration"])
        if t.properties:
            records.append("Properties")
        if t.kind == "managed":
            global_scope.add(names.symbol(t.name, "MethodObjects"), t.where, item)
            ns = self.namespace(names.module_namespace(t.module))
            ns.add(managed.stub_name(t), t.where, f"the stub class of {t.name}")
            ns.add(managed.skeleton_name(t), t.where, f"the skeleton class of {t.name}")
            if t.methods:
                records.append("Methods")
            if t.methods or t.properties:
                records.append("Dispatch")
            for m in t.methods:
                for what, present in (("Params", m.params), ("Faults", m.faults), ("Overrides", m.overrides)):
                    if present:
                        detail.add(ctx.record_name(t, f"_{m.name}{what}"), m.where, f"method {m.name} of {t.name}")
        for r in records:
            detail.add(ctx.record_name(t, r), t.where, item)
        if t.kind == "enum":
            self.declare_enum(t, scope)
        elif t.is_data:
            self.declare_data(t)
        else:
            self.declare_managed(t)

    def declare_enum(self, t, outer_scope):
        enumerators = Scope(self, f"in enumeration {names.cpp_class(t.name)}")
        for v, where in zip(t.values, t.value_lines):
            enumerators.add(names.identifier(v), where, f"value \"{v}\" of {t.name}")
        for (const, v), where in zip(classes.enum_constant_names(t), t.value_lines):
            outer_scope.add(const, where, f"the constant of value \"{v}\" of {t.name}")

    def declare_data(self, t):
        scope = self.class_scope(t)
        short = names.simple_name(t.name)
        scope.fixed(short, f"the constructor of {short}")
        for m in DATA_MEMBERS + (FAULT_MEMBERS if t.kind == "fault" else ()):
            scope.fixed(m, f"the generated member {m}")
        runtime = self.runtime_base(t)
        if runtime:
            cls, members = RUNTIME_MEMBERS[runtime]
            for m in members:
                scope.fixed(m, f"{cls}::{m}", "runtime")
        own = self.own[t.name] = {}
        caps = {}
        for p in t.properties:
            item = f"property {p.name} of {t.name}"
            cap = names.upper_first(p.name)
            if cap in caps and caps[cap].name != p.name:
                self.error(p.where, f"{item} and property {caps[cap].name} (at {caps[cap].where}) differ only in "
                           "the case of their first letter", (item, caps[cap].name))
            caps.setdefault(cap, p)
            f = field_for(self.ctx, p, t.read_only)
            hides = p.name == DYNAMIC_PROPERTY  # redeclares the runtime's, on purpose
            idents = [f.member] + [_FUNCTION_NAME.search(d).group(1) for d in f.accessor_decls()]
            for ident in idents:
                scope.add(ident, p.where, item, hides_runtime=hides)
                own.setdefault(ident, (p.where, item))

    def declare_managed(self, t):
        scope = self.class_scope(t)
        short = names.simple_name(t.name)
        scope.fixed(short, f"the constructor of {short}")
        for m in MANAGED_MEMBERS:
            scope.fixed(m, f"the generated member {m}")
        for m in MANAGED_RUNTIME_MEMBERS:
            scope.fixed(m, f"the runtime's member {m}", "runtime")
        stub, skeleton = managed.stub_name(t), managed.skeleton_name(t)
        own = self.own[t.name] = {}
        for m in t.methods:
            scope.add("METHOD_" + m.name.upper(), m.where, f"method {m.name} of {t.name}")
        for o in managed.operations(self.ctx, t):
            x = o.method if o.method is not None else o.prop
            item = f"{'method' if o.method is not None else 'property'} {x.name} of {t.name}"
            scope.add(o.cpp_name, x.where, item)
            own.setdefault(o.cpp_name, (x.where, item))
            for cls, what in ((stub, "stub"), (skeleton, "skeleton")):
                if o.cpp_name == cls:
                    self.error(x.where, f"{item}: its C++ name {cls} is the name of the {what} class")
            params = Scope(self, f"among the parameters of {item}")
            self.reserve(params)
            for n in OPERATION_PARAMS:
                params.fixed(n, f"the generated parameter {n}")
            for p in o.params:
                params.add(names.identifier(p.name), p.where, f"parameter {p.name} of {item}")

    # -- inheritance -------------------------------------------------------------

    def ancestors(self, t):
        """Generated ancestors of t, nearest first (loops were reported earlier)."""
        out, seen, name = [], {t.name}, t.parent
        while name in self.cat.types and name not in seen:
            seen.add(name)
            out.append(self.cat.types[name])
            name = self.cat.types[name].parent
        return out

    def runtime_base(self, t):
        chain = [t] + self.ancestors(t)
        root = chain[-1].parent or "tydef.DynamicData"
        return root if root in RUNTIME_MEMBERS else None

    def check_ancestors(self, t):
        if t.kind == "enum":
            return
        chain = self.ancestors(t)
        inherited = {}
        for a in chain:
            for ident, (where, item) in self.own.get(a.name, {}).items():
                inherited.setdefault(ident, (where, item))
        for ident, (where, item) in self.own.get(t.name, {}).items():
            if ident in inherited:
                pwhere, pitem = inherited[ident]
                self.error(where, f"{item}: its C++ name {ident} hides the one of {pitem} (at {pwhere})",
                           (item, pitem))
        if not t.is_data:
            return
        # The full constructor takes every property of the chain, root first.
        params = Scope(self, f"among the constructor parameters of {names.cpp_class(t.name)}")
        self.reserve(params)
        for c in reversed([t] + chain):
            for p in c.properties:
                params.add(field_for(self.ctx, p, c.read_only).ident, p.where, f"property {p.name} of {c.name}")


def check(cat):
    """(where, message) for every generated identifier that cannot stand."""
    return Checker(cat).run()

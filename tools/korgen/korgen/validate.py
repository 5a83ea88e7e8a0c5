"""Checks the whole catalogue before anything is written.

Every problem is reported as `file:line: message`; the generator writes nothing
when there is one. Defaults (WSDL names, member versions) are filled in first
so that the checks see what the records will carry.
"""
from . import messages, model, names
from .builtins import BUILTIN_PROPERTIES, BUILTINS, FAULT_ROOTS, RUNTIME_NAMESPACES, RUNTIME_VERSIONS
from .xref import check_cross_references
from .model import ARRAY, LINK, LINKABLE, OPTIONAL, READ_ONLY, SECRET, STATISTICS

DYNAMIC_PROPERTY = "dynamicProperty"
RUNTIME_VERSION0 = "tydef.version.version0"

# Flag words a data-object property may carry, and a managed-object property.
DATA_PROPERTY_FLAGS = frozenset(list(range(0x000, 0x008)) + [
    0x013, 0x017, 0x022, 0x024, 0x026, 0x027, 0x200, 0x202, 0x204, 0x403, 0x404, 0x406])
MANAGED_PROPERTY_FLAGS = frozenset([0x004, 0x005, 0x006, 0x007, 0x407])


def fill_defaults(cat):
    for t in cat.all_types():
        if not t.wsdl:
            t.wsdl = names.wsdl_default(t.name, t.module)
        for p in t.properties:
            if p.version is None:
                p.version = t.version
        for m in t.methods:
            if m.version is None:
                m.version = t.version
            for p in m.params:
                if p.version is None:
                    p.version = m.version


class Validator:
    def __init__(self, cat):
        self.cat = cat
        self.errors = []
        self.versions = {}  # name -> set of names it descends from (itself included)

    def error(self, where, message):
        self.errors.append((where, message))

    # -- lookups -------------------------------------------------------------

    def kind_of(self, name):
        """"data", "fault", "managed", "enum", "primitive", "any", or None."""
        if name in BUILTINS:
            return BUILTINS[name].kind
        t = self.cat.types.get(name)
        return t.kind if t else None

    def parent_of(self, name):
        if name in BUILTINS:
            return BUILTINS[name].parent
        t = self.cat.types.get(name)
        return t.parent if t else None

    def is_fault(self, name):
        seen = set()
        while name and name not in seen:
            if name in FAULT_ROOTS:
                return True
            seen.add(name)
            name = self.parent_of(name)
        return False

    def check_version(self, where, version, what):
        if version not in self.versions and version not in RUNTIME_VERSIONS:
            self.error(where, f"{what} names version '{version}', which is not in the version table")
            return False
        return True

    def descends(self, version, ancestor):
        return ancestor in self.versions.get(version, {version})

    # -- checks --------------------------------------------------------------

    def run(self):
        self.check_catalogue()
        self.collect_types()
        for t in self.cat.all_types():
            self.check_type(t)
        self.errors.sort(key=lambda e: (e[0].file, e[0].line))
        return self.errors

    def check_catalogue(self):
        cat = self.cat
        for imp in cat.imports:
            if imp not in RUNTIME_NAMESPACES:
                self.error(model.Where(cat.catalogue_file, 1), f"imports unknown namespace '{imp}'")
        for v in cat.versions:
            if v.name in self.versions or v.name in RUNTIME_VERSIONS:
                self.error(v.where, f"version '{v.name}' declared twice")
                continue
            ancestry = {v.name}
            for parent in v.extends:
                if parent in self.versions:
                    ancestry |= self.versions[parent]
                elif parent in RUNTIME_VERSIONS:
                    ns = parent.rsplit(".version.", 1)[0]
                    if ns not in cat.imports:
                        self.error(v.where, f"version '{v.name}' extends '{parent}' of a namespace the catalogue does not import")
                    ancestry.add(parent)
                else:
                    self.error(v.where, f"version '{v.name}' extends '{parent}', which is not declared before it")
            if not 0 <= v.flags <= 0xFFFF:
                self.error(v.where, f"version flags {v.flags:#x} do not fit two bytes")
            self.versions[v.name] = ancestry
        for loader in cat.loaders:
            if loader.module and not (loader.module == cat.namespace
                                      or loader.module.startswith(cat.namespace + ".")):
                self.error(loader.where, f"module '{loader.module}' is outside namespace '{cat.namespace}'")

    def collect_types(self):
        wsdl_names = {b.wsdl: None for b in BUILTINS.values() if b.kind not in ("primitive", "any")}
        symbols = {}
        namespaces = {names.module_namespace(m) for m in self.cat.modules}
        for t in self.cat.all_types():
            sym = names.symbol(t.name)
            if sym in symbols and symbols[sym].name != t.name:
                self.error(t.where, f"type {t.name} maps to the same C++ names as {symbols[sym].name} "
                           f"(at {symbols[sym].where})")
            symbols.setdefault(sym, t)
            if names.cpp_class(t.name) in namespaces:
                self.error(t.where, f"type {t.name} has the C++ name of a module namespace")
            if t.name in BUILTINS:
                self.error(t.where, f"type {t.name} is a runtime type")
            elif t.name in self.cat.types:
                self.error(t.where, f"duplicate wire name {t.name} (first at {self.cat.types[t.name].where})")
                continue
            self.cat.types[t.name] = t
            if t.wsdl in wsdl_names:
                first = wsdl_names[t.wsdl]
                self.error(t.where, f"duplicate WSDL name {t.wsdl} of {t.name}"
                           + (f" (first at {first.where})" if first else " (a runtime type's)"))
            else:
                wsdl_names[t.wsdl] = t

    def check_type(self, t):
        self.check_version(t.where, t.version, f"type {t.name}")
        outer = names.enclosing(t.name, t.module)
        if outer is not None:
            o = self.cat.types.get(outer)
            if o is None or o.module != t.module:
                self.error(t.where, f"nested type {t.name} is declared in {outer}, which is not a type of module {t.module}")
            elif o.kind == "enum":
                self.error(t.where, f"type {t.name} cannot be nested in enumeration {outer}")
        if t.message is not None:
            self.check_message(t)
        if t.kind == "enum":
            self.check_enum(t)
            return
        self.check_parent(t)
        read_only_default = t.read_only or t.kind == "managed"
        seen = {}
        inherited = self.inherited_properties(t)
        for i, p in enumerate(t.properties):
            if p.name in seen:
                self.error(p.where, f"property {p.name} of {t.name} declared twice (first at {seen[p.name].where})")
            seen[p.name] = p
            if p.name in inherited and p.name != DYNAMIC_PROPERTY:
                self.error(p.where, f"property {p.name} of {t.name} redeclares the one of {inherited[p.name]}")
            self.check_property(t, p, i, read_only_default)
        methods, wsdls, constants = {}, {}, {}
        for m in t.methods:
            if m.name.upper() in constants and constants[m.name.upper()] != m.name:
                self.error(m.where, f"methods {constants[m.name.upper()]} and {m.name} of {t.name} map to the same constant")
            constants.setdefault(m.name.upper(), m.name)
            if m.name in methods:
                self.error(m.where, f"method {m.name} of {t.name} declared twice")
            methods[m.name] = m
            if m.wsdl in wsdls:
                self.error(m.where, f"operation {m.wsdl} of {t.name} declared twice")
            wsdls[m.wsdl] = m
            self.check_method(t, m)

    def find_property(self, type_name, prop):
        """(type name, array, secret) of property `prop` of a type or its
        ancestors (catalogue or runtime), or None."""
        seen = set()
        while type_name and type_name not in seen:
            seen.add(type_name)
            t = self.cat.types.get(type_name)
            if t is not None:
                for p in t.properties:
                    if p.name == prop:
                        return p.type.name, p.type.array, p.secret
            for name, ptype, array, secret in BUILTIN_PROPERTIES.get(type_name, []):
                if name == prop:
                    return ptype, array, secret
            type_name = self.parent_of(type_name)
            if type_name is None and t is not None and t.is_data:
                type_name = "tydef.DynamicData"
        return None

    def check_message(self, t):
        where = t.where
        if t.kind not in ("fault", "data"):
            self.error(where, f"msg= of {t.name}: only fault and event (data) types carry a message")
            return
        try:
            parts = messages.parse(t.message)
        except messages.TemplateError as e:
            self.error(where, f"msg= of {t.name}: {e}")
            return
        for kind, segments in parts:
            if kind != "arg":
                continue
            path = ".".join(segments)
            owner = t.name
            for i, seg in enumerate(segments):
                found = self.find_property(owner, seg)
                if found is None:
                    at = owner if i else t.name
                    self.error(where, f"msg= of {t.name}: '{{{path}}}' names unknown property '{seg}' of {at}")
                    break
                ptype, array, secret = found
                if secret:
                    self.error(where, f"msg= of {t.name}: '{{{path}}}' names secret property '{seg}', "
                               "which is never shown")
                    break
                if i + 1 < len(segments):
                    if array or self.kind_of(ptype) not in ("data", "fault"):
                        self.error(where, f"msg= of {t.name}: '{{{path}}}' goes through '{seg}', "
                                   "which is not a single data object")
                        break
                owner = ptype

    def inherited_properties(self, t):
        found, seen, name = {}, set(), t.parent
        while name and name not in seen and name in self.cat.types:
            seen.add(name)
            for p in self.cat.types[name].properties:
                found.setdefault(p.name, name)
            name = self.cat.types[name].parent
        return found

    def check_parent(self, t):
        p = t.parent
        if t.kind == "fault" and p is None:
            self.error(t.where, f"fault {t.name} needs a parent fault")
            return
        if p is None:
            return
        where = t.parent_where or t.where
        pk = self.kind_of(p)
        if pk is None:
            self.error(where, f"parent {p} of {t.name} is not a known type")
            return
        if t.kind == "managed" and pk != "managed":
            self.error(where, f"managed type {t.name} has {pk} parent {p}")
        if t.is_data and pk not in ("data", "fault"):
            self.error(where, f"{t.kind} type {t.name} has {pk} parent {p}")
        seen, name = {t.name}, p
        while name in self.cat.types:
            if name in seen:
                self.error(where, f"parent chain of {t.name} loops through {name}")
                return
            seen.add(name)
            name = self.cat.types[name].parent
        if t.kind == "fault" and not self.is_fault(t.name):
            self.error(where, f"fault {t.name}: parent chain reaches no fault root (tydef.MethodFault, tydef.RuntimeFault or a runtime fault)")
        if t.kind == "data" and self.is_fault(t.name):
            self.error(where, f"data type {t.name} derives from a fault; declare it as 'fault'")

    def check_ref(self, where, ref, what):
        kind = self.kind_of(ref.name)
        if kind is None:
            self.error(where, f"{what} refers to unknown type {ref.name}")
        return kind

    def check_property(self, t, p, index, read_only_default):
        what = f"property {p.name} of {t.name}"
        if not p.name[:1].isalpha():
            self.error(p.where, f"{what}: property names start with a letter")
        kind = self.check_ref(p.where, p.type, what)
        if self.check_version(p.where, p.version, what) and p.name != DYNAMIC_PROPERTY:
            if t.version in self.versions and not self.descends(p.version, t.version):
                self.error(p.where, f"{what} is added in {p.version}, before its type's {t.version}")
        flags = p.flags(read_only_default)
        if t.kind == "managed":
            if p.read_only is False:
                self.error(p.where, f"{what}: managed object properties are always read-only")
            if flags not in MANAGED_PROPERTY_FLAGS:
                self.error(p.where, f"{what}: flags {flags:#05x} are not allowed on a managed object property")
            if p.localizable:
                self.error(p.where, f"{what}: only data object properties are localizable")
        elif flags not in DATA_PROPERTY_FLAGS:
            self.error(p.where, f"{what}: flag combination {flags:#05x} is not allowed")
        if p.linkable and (not p.type.array or kind not in ("data", "fault")):
            self.error(p.where, f"{what}: linkable needs an array of data objects")
        if p.link and kind not in ("data", "fault"):
            self.error(p.where, f"{what}: a link refers to a data object type, not {p.type.name}")
        if p.secret and (p.type.name != "string" or p.type.array):
            self.error(p.where, f"{what}: only single strings can be secret")
        if p.name == DYNAMIC_PROPERTY:
            ok = (index == 0 and t.is_data and p.type.name == "tydef.DynamicProperty" and flags == 0x003
                  and p.version == RUNTIME_VERSION0)
            if not ok:
                self.error(p.where, f"{what}: a redeclared dynamicProperty comes first, typed "
                           "tydef.DynamicProperty[]? rw, since=tydef.version.version0")
        if p.privilege is not None and p.privilege == "dynamic":
            self.error(p.where, f"{what}: 'dynamic' privileges belong to methods")

    def check_method(self, t, m):
        what = f"method {m.name} of {t.name}"
        self.check_version(m.where, m.version, what)
        if t.version in self.versions and m.version in self.versions and not self.descends(m.version, t.version):
            self.error(m.where, f"{what} is added in {m.version}, before its type's {t.version}")
        if m.task != m.wsdl.endswith("_Task"):
            self.error(m.where, f"{what}: task flag {'set' if m.task else 'clear'} but operation name {m.wsdl}"
                       + (" does not end" if m.task else " ends") + " in _Task")
        if m.result is not None:
            self.check_ref(m.where, m.result, f"result of {what}")
        seen = set()
        for p in m.params:
            pw = f"parameter {p.name} of {what}"
            if not p.name[:1].isalpha():
                self.error(p.where, f"{pw}: parameter names start with a letter")
            if p.name in seen:
                self.error(p.where, f"{pw} declared twice")
            seen.add(p.name)
            self.check_ref(p.where, p.type, pw)
            if self.check_version(p.where, p.version, pw) and m.version in self.versions \
                    and not self.descends(p.version, m.version):
                self.error(p.where, f"{pw} is added in {p.version}, before its method's {m.version}")
            if p.secret and (p.type.name != "string" or p.type.array):
                self.error(p.where, f"{pw}: only single strings can be secret")
        for f in m.faults:
            if self.kind_of(f) is None:
                self.error(m.where, f"{what} throws unknown type {f}")
            elif not self.is_fault(f):
                self.error(m.where, f"{what} throws {f}, which is not a fault")
        if m.overrides and m.privilege is not None:
            self.error(m.where, f"{what}: a method with privilege overrides has no privilege of its own")
        for o in m.overrides:
            if self.kind_of(o.type_name) != "managed":
                self.error(o.where, f"privilege override of {what} names {o.type_name}, which is not a managed type")

    def check_enum(self, t):
        if not t.values:
            self.error(t.where, f"enumeration {t.name} has no values")
        seen, idents = {}, {}
        for v, where in zip(t.values, t.value_lines):
            if v in seen:
                self.error(where, f"enumeration {t.name}: duplicate value \"{v}\"")
                continue
            seen[v] = where
            ident = names.upper_identifier(v)
            if ident in idents:
                self.error(where, f"enumeration {t.name}: values \"{idents[ident]}\" and \"{v}\" map to the same constant")
            idents[ident] = v


def validate(cat):
    fill_defaults(cat)
    errors = Validator(cat).run()
    if not errors:
        errors = check_cross_references(cat)
    return errors

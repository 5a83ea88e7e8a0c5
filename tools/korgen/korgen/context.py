"""What every emitter needs to know about the validated catalogue."""
from . import names
from .builtins import BUILTINS

RUNTIME_VERSION0 = "tydef.version.version0"


def c_string(s):
    """A C++ string literal, or nullptr."""
    if s is None:
        return "nullptr"
    return '"' + s.replace("\\", "\\\\").replace('"', '\\"') + '"'


class Context:
    def __init__(self, cat, chunk_types=40):
        self.cat = cat
        self.chunk_types = chunk_types
        self.types = cat.types

    # -- names ---------------------------------------------------------------

    def symbol(self, name):
        """Exported TypeInfo record of a type (catalogue or runtime)."""
        if name in BUILTINS:
            return BUILTINS[name].symbol
        return names.symbol(name)

    def kind(self, name):
        if name in BUILTINS:
            return BUILTINS[name].kind
        return self.types[name].kind

    def cpp(self, name):
        """C++ class of a type's values (a managed type's values are references)."""
        if name in BUILTINS:
            return BUILTINS[name].cpp
        t = self.types[name]
        if t.kind == "managed":
            return "Movel::MoRef"
        return names.cpp_class(name)

    def cpp_interface(self, name):
        """C++ class of a managed type's interface."""
        return names.cpp_class(name)

    def type_version(self, name):
        if name in BUILTINS:
            return RUNTIME_VERSION0
        return self.types[name].version

    def outer(self, t):
        return names.enclosing(t.name, t.module)

    def record_name(self, t, what):
        """Internal (hidden) record names: kKorAboutInfoProperties, ..."""
        return "k" + "".join(names.components(t.name)) + what

    def header(self, name):
        return f"kortypes/types/{name}.h"

    # -- grouping ------------------------------------------------------------

    def module_types(self, module):
        return self.cat.modules[module]

    def slot_order(self, module):
        """Managed types, then data and fault types, then enumerations."""
        types = self.cat.modules[module]
        return ([t for t in types if t.kind == "managed"] + [t for t in types if t.is_data]
                + [t for t in types if t.kind == "enum"])

    def chunks(self, module):
        types = self.cat.modules[module]
        n = self.chunk_types
        return [types[i:i + n] for i in range(0, len(types), n)] or []

    def module_ident(self, module):
        return "".join(names.components(module))

    # -- header dependencies ---------------------------------------------------

    def referenced(self, t):
        """Type names the class body of t names."""
        refs = []
        for p in t.properties:
            refs.append(p.type.name)
        for m in t.methods:
            if m.result:
                refs.append(m.result.name)
            refs += [p.type.name for p in m.params]
        return refs

    def header_deps(self, t):
        """Headers whose class definitions must precede t's: its parent, the
        class it is nested in, and the classes enclosing the nested types it
        names (a nested name needs its enclosing class complete)."""
        deps = []
        if t.parent and t.parent in self.types:
            deps.append(t.parent)
        o = self.outer(t)
        if o:
            deps.append(o)
        for r in self.referenced(t):
            if r in self.types:
                ro = self.outer(self.types[r])
                if ro and ro != t.name:
                    deps.append(ro)
        seen, out = set(), []
        for d in deps:
            if d not in seen and d != t.name:
                seen.add(d)
                out.append(d)
        return out

    def nested_in(self, name, outer):
        return name.startswith(outer + ".")

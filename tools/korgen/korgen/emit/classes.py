"""C++ classes: data objects, faults, enumerations and managed interfaces.

Data object classes are built by one rule from their properties (see kinds);
this module lays out the class and its out-of-line code.
"""
from .. import names
from ..builtins import BUILTINS
from ..context import c_string
from ..kinds import PointerField, field_for
from . import managed

SHARED_NO_PROPERTY_FUNCS = ["kortypes_detail::NoPropGet", "kortypes_detail::NoPropPeek",
                            "kortypes_detail::NoPropSet", "kortypes_detail::NoPropSwap",
                            "kortypes_detail::NoPropIsSet", "kortypes_detail::NoPropUnset"]


def cls_name(t):
    return names.cpp_class(t.name)


def short(t):
    return names.simple_name(t.name)


def base_class(ctx, t):
    if t.kind == "managed":
        return ctx.cpp_interface(t.parent) if t.parent and t.parent in ctx.types else "Movel::ManagedObject"
    if t.parent is None:
        return "Movel::DynamicData"
    return ctx.cpp(t.parent)


def scope_qualifier(t):
    """"Outer::Inner::" for a nested type, relative to its module namespace."""
    parts = t.name[len(t.module) + 1:].split(".")[:-1]
    return "".join(p + "::" for p in parts)


def fields(ctx, t):
    return [field_for(ctx, p, t.read_only) for p in t.properties]


def generated_parent(ctx, t):
    return ctx.types.get(t.parent) if t.parent else None


def full_ctor_chain(ctx, t):
    """Fields of the generated ancestors (root first), then t's own."""
    chain = []
    c = t
    while c is not None:
        chain.append(c)
        c = generated_parent(ctx, c)
    out = []
    for c in reversed(chain):
        out += fields(ctx, c)
    return out


# -- nested declarations -------------------------------------------------------

def nested_types(ctx, t):
    prefix = t.name + "."
    return [n for n in ctx.cat.modules[t.module]
            if n.name.startswith(prefix) and "." not in n.name[len(prefix):]]


def enum_body(t, indent):
    values = ", ".join(names.identifier(v) for v in t.values)
    return [f"{indent}enum class {short(t)} : int {{ {values} }};"]


def enum_constant_names(t):
    prefix = names.upper_identifier(short(t))
    return [(prefix + "_" + names.upper_identifier(v), v) for v in t.values]


def nested_decls(ctx, t, indent="  "):
    out = []
    for n in nested_types(ctx, t):
        if n.kind == "enum":
            out += enum_body(n, indent)
            for const, _ in enum_constant_names(n):
                out.append(f"{indent}static const char* const {const};")
        else:
            out.append(f"{indent}class {short(n)};")
    return out


# -- headers -------------------------------------------------------------------

def data_class_header(ctx, t):
    cls = short(t)
    fs = fields(ctx, t)
    base = base_class(ctx, t)
    lines = []
    qual = scope_qualifier(t)
    lines.append(f"class KOR_API {qual}{cls} : public {base} {{")
    lines.append(" public:")
    nd = nested_decls(ctx, t)
    if nd:
        lines += nd
        lines.append("")
    if t.kind == "fault":
        parent_exc = f"{base}::Exception"
        lines += [
            f"  // Thrown for this fault; caught as this class or any ancestor fault's.",
            f"  class KOR_API Exception : public {parent_exc} {{",
            "   public:",
            f"    explicit Exception({cls}* fault);",
            "    Exception(const Exception&);",
            "    ~Exception() override;",
            f"    {cls}* GetFault() const;",
            "    Basekit::Exception* Clone() const override;",
            "    [[noreturn]] void Rethrow() const override;",
            "    [[noreturn]] void Throw() const override;",
            "  };",
            "  // Throws this fault as its Exception.",
            "  [[noreturn]] void Throw() override;",
            "",
        ]
    lines.append(f"  {cls}();")
    chain = full_ctor_chain(ctx, t)
    if chain:
        params = ", ".join(f.param() for f in chain)
        lines.append(f"  {'explicit ' if len(chain) == 1 else ''}{cls}({params});")
    lines.append(f"  ~{cls}() override;")
    lines.append("  Movel::Type* _GetType() const override;")
    lines.append("  Movel::DataObjectType* _GetDataType() const override;")
    lines.append("  Movel::Any* _Clone() const override;")
    if fs:
        lines.append("  unsigned _GetSize(Movel::RoundFn round) const override;")
        lines.append("  bool _IsEqual(const Movel::Any* other, bool lenient) const override;")
        lines.append("  void _DiffProperties(const Movel::Any* other, const std::string& prefix,")
        lines.append("                       Movel::PropertyDiffSet& set) const override;")
    acc = [a for f in fs for a in f.accessor_decls()]
    if acc:
        lines.append("")
        lines += ["  " + a for a in acc]
    lines.append("")
    lines.append("  // Property functions of the type's descriptor; index counts own properties.")
    lines.append("  // Reached through the descriptor only, so not exported.")
    if fs:
        lines += [
            "  KOR_HIDDEN static void _PropGet(Movel::DataObject* object, int index, void* out);",
            "  KOR_HIDDEN static const void* _PropPeek(const Movel::DataObject* object, int index);",
            "  KOR_HIDDEN static void _PropSet(Movel::DataObject* object, int index, const void* in);",
            "  KOR_HIDDEN static void _PropSwap(Movel::DataObject* object, int index, void* io);",
            "  KOR_HIDDEN static bool _PropIsSet(const Movel::DataObject* object, int index);",
            "  KOR_HIDDEN static void _PropUnset(Movel::DataObject* object, int index);",
        ]
    lines += ["  KOR_HIDDEN static Movel::DataObject* _CreateObject();",
              "  KOR_HIDDEN static Movel::Any* _CreateArray();"]
    # Members in property order; value kinds are public, object kinds and
    # arrays private behind their accessors.
    access = "public"
    for f in fs:
        want = "private" if isinstance(f, PointerField) else "public"
        if want != access:
            lines.append(f"\n {want}:")
            access = want
        lines.append(f"  {f.decl()}")
    lines.append("\n protected:")
    lines.append(f"  {cls}(const {cls}& other);")
    ptr = [f for f in fs if isinstance(f, PointerField)]
    if fs:
        lines.append("\n private:")
        lines.append("  KOR_HIDDEN void _ReleaseMembers();")
        lines += [f"  KOR_HIDDEN {f.raw_swap_decl()}" for f in ptr]
    lines.append("};")
    return lines


def managed_class_header(ctx, t):
    return (managed.interface_header(ctx, t, nested_decls(ctx, t), scope_qualifier(t)) + [""]
            + managed.stub_header(ctx, t) + [""] + managed.skeleton_header(ctx, t))


def enum_header(ctx, t):
    """A namespace-scope enumeration (nested ones live in their class)."""
    lines = enum_body(t, "")
    for const, _ in enum_constant_names(t):
        lines.append(f"KOR_API extern const char* const {const};")
    return lines


# -- out-of-line code ----------------------------------------------------------

def _switch(fs, hook, o, default=None, decl=None):
    out = [f"  switch (_index) {{"]
    for i, f in enumerate(fs):
        body = getattr(f, hook)(o)
        if not body:
            continue
        out.append(f"    case {i}: {{")
        out += ["      " + b for b in body]
        if not body[-1].startswith("return"):
            out.append("      break;")
        out.append("    }")
    out.append("    default:")
    out.append(f"      {default or 'break;'}")
    out.append("  }")
    return out


def data_class_source(ctx, t):
    cls = cls_name(t)
    s = short(t)
    fs = fields(ctx, t)
    base = base_class(ctx, t)
    gen_parent = generated_parent(ctx, t)
    on_runtime_fault = t.kind == "fault" and gen_parent is None
    out = []
    chain = full_ctor_chain(ctx, t)
    own_params = [f.ident for f in fs]
    out.append(f"{cls}::{s}() = default;")
    if chain:
        params = ", ".join(f.param() for f in chain)
        base_args = [f.ident for f in chain[:len(chain) - len(fs)]]
        init = f" : {base}({', '.join(base_args)})" if base_args else ""
        out.append(f"{cls}::{s}({params}){init} {{")
        body = [line for f in fs for line in f.ctor_init()]
        if body:
            out.append("  try {")
            out += ["    " + b for b in body]
            out += ["  } catch (...) {", "    _ReleaseMembers();", "    throw;", "  }"]
        out.append("}")
        del own_params
    # Copy constructor: deep.
    out.append(f"{cls}::{s}(const {cls}& _other) : {base}(_other) {{")
    body = [line for f in fs for line in f.copy("_other")]
    if body:
        out.append("  try {")
        out += ["    " + b for b in body]
        out += ["  } catch (...) {", "    _ReleaseMembers();", "    throw;", "  }"]
    out.append("}")
    if fs:
        out.append(f"{cls}::~{s}() {{ _ReleaseMembers(); }}")
        out.append(f"void {cls}::_ReleaseMembers() {{")
        for f in reversed(fs):
            out += ["  " + b for b in f.release("this")]
        out.append("}")
    else:
        out.append(f"{cls}::~{s}() = default;")
    out.append(f"Movel::Type* {cls}::_GetType() const {{ return Movel::GetDoType<{cls}>(); }}")
    out.append(f"Movel::DataObjectType* {cls}::_GetDataType() const {{ return Movel::GetDoType<{cls}>(); }}")
    out.append(f"Movel::Any* {cls}::_Clone() const {{ return new {s}(*this); }}")
    out.append(f"Movel::DataObject* {cls}::_CreateObject() {{ return new {s}(); }}")
    out.append(f"Movel::Any* {cls}::_CreateArray() {{ return new Movel::DataArray<{cls}>(); }}")
    if t.kind == "fault":
        out += [
            f"{cls}::Exception::Exception({cls}* fault) : {base}::Exception(fault) {{}}",
            f"{cls}::Exception::Exception(const Exception&) = default;",
            f"{cls}::Exception::~Exception() = default;",
            f"{cls}* {cls}::Exception::GetFault() const {{ return static_cast<{cls}*>({base}::Exception::GetFault()); }}",
            f"Basekit::Exception* {cls}::Exception::Clone() const {{ return new Exception(*this); }}",
            f"void {cls}::Exception::Rethrow() const {{ throw Exception(*this); }}",
            f"void {cls}::Exception::Throw() const {{ throw Exception(*this); }}",
            f"void {cls}::Throw() {{ throw Exception(this); }}",
        ]
    for f in fs:
        out += f.accessor_defs(cls)
    if not fs:
        return out
    o = "_o"
    # Equality, difference and size.
    out.append(f"bool {cls}::_IsEqual(const Movel::Any* _other, bool _lenient) const {{")
    if gen_parent is not None or on_runtime_fault:
        out.append(f"  if (!{base}::_IsEqual(_other, _lenient)) return false;")
    out.append(f"  const auto* {o} = static_cast<const {cls}*>(_other);")
    for f in fs:
        out += ["  " + b for b in f.equal(o)]
    out.append("  return true;")
    out.append("}")
    out.append(f"void {cls}::_DiffProperties(const Movel::Any* _other, const std::string& _prefix,")
    out.append(f"                             Movel::PropertyDiffSet& _set) const {{")
    if gen_parent is not None or on_runtime_fault:
        out.append(f"  {base}::_DiffProperties(_other, _prefix, _set);")
    out.append(f"  const auto* {o} = static_cast<const {cls}*>(_other);")
    for f in fs:
        out += ["  " + b for b in f.diff(o)]
    out.append("}")
    out.append(f"unsigned {cls}::_GetSize(Movel::RoundFn _round) const {{")
    out.append(f"  unsigned _size = _round(sizeof({s})) - _round(sizeof({base})) + {base}::_GetSize(_round);")
    for f in fs:
        out += ["  " + b for b in f.size("this")]
    out.append("  return _size;")
    out.append("}")
    # Property functions.
    out.append(f"void {cls}::_PropGet(Movel::DataObject* _object, int _index, void* _out) {{")
    out.append(f"  auto* _o = static_cast<{cls}*>(_object);")
    out += _switch(fs, "get", o)
    out.append("}")
    out.append(f"const void* {cls}::_PropPeek(const Movel::DataObject* _object, int _index) {{")
    out.append(f"  const auto* _o = static_cast<const {cls}*>(_object);")
    out += _switch(fs, "peek", o, "return nullptr;")
    out.append("}")
    out.append(f"void {cls}::_PropSet(Movel::DataObject* _object, int _index, const void* _in) {{")
    out.append(f"  auto* _o = static_cast<{cls}*>(_object);")
    out += _switch(fs, "set", o)
    out.append("}")
    out.append(f"void {cls}::_PropSwap(Movel::DataObject* _object, int _index, void* _io) {{")
    out.append(f"  auto* _o = static_cast<{cls}*>(_object);")
    out += _switch(fs, "swap", o)
    out.append("}")
    out.append(f"bool {cls}::_PropIsSet(const Movel::DataObject* _object, int _index) {{")
    out.append(f"  const auto* _o = static_cast<const {cls}*>(_object);")
    out.append("  (void)_o;")
    out += _switch(fs, "is_set", o, "return true;")
    out.append("}")
    out.append(f"void {cls}::_PropUnset(Movel::DataObject* _object, int _index) {{")
    if any(f.unset("_o") for f in fs):
        out.append(f"  auto* _o = static_cast<{cls}*>(_object);")
        out += _switch(fs, "unset", o)
    else:
        out.append("  (void)_object;")
        out.append("  (void)_index;")
    out.append("}")
    return out


def data_funcs(ctx, t):
    """The eight functions a data type's descriptor points at."""
    cls = cls_name(t)
    if t.properties:
        own = [f"&{cls}::_Prop{n}" for n in ("Get", "Peek", "Set", "Swap", "IsSet", "Unset")]
    else:
        own = list(SHARED_NO_PROPERTY_FUNCS)
    return own + [f"&{cls}::_CreateObject", f"&{cls}::_CreateArray"]


def managed_source(ctx, t):
    out = managed.interface_source(ctx, t)
    out += managed.stub_source(ctx, t)
    out.append("namespace kortypes_detail {")
    if t.methods or t.properties:
        out += managed.dispatch_source(ctx, t)
    out += managed.create_stub_source(ctx, t)
    out.append("}  // namespace kortypes_detail")
    return out


def managed_funcs(ctx, t):
    # A type without entries shares the dispatch that only clears the result.
    dispatch = managed.dispatch_name(ctx, t) if (t.methods or t.properties) else "NoDispatch"
    return [dispatch, managed.create_stub_name(ctx, t)]


def managed_forward_decls(ctx, t):
    out = []
    if t.methods or t.properties:
        out += [f"void {managed.dispatch_name(ctx, t)}(Movel::ManagedObject*, int, Basekit::RefVector<Movel::Any>&,",
                "    Basekit::Ref<Movel::Any>&);"]
    return out + [f"Movel::Stub* {managed.create_stub_name(ctx, t)}(Movel::MoRef*, Movel::StubAdapter*, Movel::RequestContext*);"]


def enum_source(ctx, t):
    outer = ctx.outer(t)
    scope = names.cpp_class(outer) + "::" if outer else names.module_namespace(t.module) + "::"
    return [f"const char* const {scope}{const} = {c_string(v)};" for const, v in enum_constant_names(t)]

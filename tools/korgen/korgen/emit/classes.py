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
            f"  // Throw() anchors its tables in the library; the rest is inline.",
            f"  class KOR_API Exception : public {parent_exc} {{",
            "   public:",
            f"    explicit Exception({cls}* fault) : {parent_exc}(fault) {{}}",
            f"    {cls}* GetFault() const {{ return static_cast<{cls}*>({parent_exc}::GetFault()); }}",
            "    Basekit::Exception* Clone() const override { return new Exception(*this); }",
            "    [[noreturn]] void Rethrow() const override { throw Exception(*this); }",
            "    [[noreturn]] void Throw() const override;",
            "  };",
            "  // Throws this fault as its Exception.",
            "  [[noreturn]] void Throw() override;",
            "",
        ]
    # Construction needs no call into the library: members start as their
    # declarations say. A class whose members own nothing needs no
    # out-of-line destructor either.
    lines.append(f"  {cls}() = default;")
    chain = full_ctor_chain(ctx, t)
    if chain:
        params = ", ".join(f.param() for f in chain)
        lines.append(f"  {'explicit ' if len(chain) == 1 else ''}{cls}({params});")
    if any(f.owns() for f in fs):
        lines.append(f"  ~{cls}() override;")
    else:
        lines.append(f"  ~{cls}() override = default;")
    lines.append(f"  Movel::Type* _GetType() const override {{ return Movel::GetDoType<{cls}>(); }}")
    lines.append(f"  Movel::DataObjectType* _GetDataType() const override {{ return Movel::GetDoType<{cls}>(); }}")
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
    lines.append("  // A deep copy.")
    lines.append(f"  Basekit::Ref<{cls}> Clone() const {{ return Basekit::Ref<{cls}>(static_cast<{cls}*>(_Clone())); }}")
    lines.append("")
    lines.append(" private:")
    lines.append("  // How the class holds its own members, for the runtime's table-driven")
    lines.append("  // operations and the descriptor's property functions: reached only")
    lines.append("  // through Movel::LayoutFunctions. Not exported.")
    lines.append("  template <class> friend struct Movel::LayoutFunctions;")
    if fs:
        lines.append("  KOR_HIDDEN static const Movel::FieldInfo _fields[];")
    lines.append("  KOR_HIDDEN static const Movel::DataLayout _layout;")
    lines += ["  KOR_HIDDEN static Movel::DataObject* _CreateObject();",
              "  KOR_HIDDEN static Movel::Any* _CreateArray();"]
    # Members in property order; value kinds are public, object kinds and
    # arrays private behind their accessors.
    access = "private"
    for f in fs:
        want = "private" if isinstance(f, PointerField) else "public"
        if want != access:
            lines.append(f"\n {want}:")
            access = want
        lines.append(f"  {f.decl()}")
    lines.append("\n protected:")
    lines.append("  // Deep copy, reached through _Clone.")
    lines.append(f"  KOR_HIDDEN {cls}(const {cls}& other);")
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

def parent_layout(ctx, t):
    """The layout of the nearest ancestor whose members count, or nullptr."""
    if t.parent is None:
        return "nullptr"
    if t.parent in ctx.types:
        return f"Movel::LayoutFunctions<{ctx.cpp(t.parent)}>::kLayout"
    if t.parent == "tydef.DynamicData":
        return "nullptr"
    return f"&{BUILTINS[t.parent].cpp}::_layout"


def data_class_source(ctx, t, properties):
    """Out-of-line code of a data class; `properties` names its property list.
    Every operation is a thin entry into the runtime's table-driven code."""
    cls = cls_name(t)
    s = short(t)
    fs = fields(ctx, t)
    base = base_class(ctx, t)
    out = []
    chain = full_ctor_chain(ctx, t)
    owning = any(f.owns() for f in fs)
    if fs:
        out.append(f"const Movel::FieldInfo {cls}::_fields[] = {{")
        out += [f"    {f.field_info(cls)}," for f in fs]
        out.append("};")
    sized = sum(1 << i for i, f in enumerate(fs[:64]) if f.sized())
    out.append(f"const Movel::DataLayout {cls}::_layout = {{{parent_layout(ctx, t)}, {properties}, "
               f"{'_fields' if fs else 'nullptr'}, {len(fs)}, sizeof({s}), {sized:#x}}};")
    if chain:
        params = ", ".join(f.param() for f in chain)
        base_args = [f.ident for f in chain[:len(chain) - len(fs)]]
        init = f" : {base}({', '.join(base_args)})" if base_args else ""
        body = [line for f in fs for line in f.ctor_init()]
        if body and owning:
            out.append(f"{cls}::{s}({params}){init} {{")
            out.append("  try {")
            out += ["    " + b for b in body]
            out += ["  } catch (...) {", "    Movel::ReleaseFields(this, _layout);", "    throw;", "  }", "}"]
        else:
            out.append(f"{cls}::{s}({params}){init} {{")
            out += ["  " + b for b in body]
            out.append("}")
    if fs:
        out.append(f"{cls}::{s}(const {cls}& _other) : {base}(_other) {{ Movel::CopyFields(this, &_other, _layout); }}")
    else:
        out.append(f"{cls}::{s}(const {cls}& _other) : {base}(_other) {{}}")
    if owning:
        out.append(f"{cls}::~{s}() {{ Movel::ReleaseFields(this, _layout); }}")
    out.append(f"Movel::Any* {cls}::_Clone() const {{ return new {s}(*this); }}")
    out.append(f"Movel::DataObject* {cls}::_CreateObject() {{ return new {s}(); }}")
    out.append(f"Movel::Any* {cls}::_CreateArray() {{ return new Movel::DataArray<{cls}>(); }}")
    if t.kind == "fault":
        out += [
            f"void {cls}::Exception::Throw() const {{ throw Exception(*this); }}",
            f"void {cls}::Throw() {{ throw Exception(this); }}",
        ]
    for f in fs:
        out += f.accessor_defs(cls)
    if fs:
        out += [
            f"bool {cls}::_IsEqual(const Movel::Any* _other, bool _lenient) const {{",
            "  return Movel::FieldsEqual(this, static_cast<const Movel::DataObject*>(_other), _layout, _lenient);",
            "}",
            f"void {cls}::_DiffProperties(const Movel::Any* _other, const std::string& _prefix,",
            f"{' ' * (len(cls) + 22)}Movel::PropertyDiffSet& _set) const {{",
            "  Movel::DiffFields(this, static_cast<const Movel::DataObject*>(_other), _prefix, _set, _layout);",
            "}",
            f"unsigned {cls}::_GetSize(Movel::RoundFn _round) const {{ return Movel::FieldsSize(this, _layout, _round); }}",
        ]
    return out


def data_funcs(ctx, t):
    """The eight functions a data type's descriptor points at."""
    cls = cls_name(t)
    if t.properties:
        own = [f"&Movel::LayoutFunctions<{cls}>::{n}" for n in ("Get", "Peek", "Set", "Swap", "IsSet", "Unset")]
    else:
        own = list(SHARED_NO_PROPERTY_FUNCS)
    return own + [f"Movel::LayoutFunctions<{cls}>::kCreateObject",
                  f"Movel::LayoutFunctions<{cls}>::kCreateArray"]


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

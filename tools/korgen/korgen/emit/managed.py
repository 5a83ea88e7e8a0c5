"""Managed object interfaces, their dispatch functions and their stubs.

Every operation follows one mapping from the API's value kinds to declared
parameter and result forms; the dispatch function and the stub are the two
ends of the same boxing rules (see movel/dispatch_support.h).
"""
from .. import names
from ..builtins import BUILTINS
from ..context import c_string
from .records import method_object_count

SCALAR_BY_VALUE = {"boolean", "byte", "short", "int", "long", "float", "double", "dateTime"}


class Operation:
    """One entry of the method-object array: an own method or property read."""

    def __init__(self, ctx, t, index, method=None, prop=None):
        self.ctx, self.t, self.index, self.method, self.prop = ctx, t, index, method, prop
        if method is not None:
            self.cpp_name = names.upper_first(method.name)
            self.params = method.params
            self.result = method.result
            self.task = method.task
        else:
            boolean = prop.type.name == "boolean" and not prop.type.array
            self.cpp_name = ("Is" if boolean else "Get") + names.upper_first(prop.name)
            self.params = []
            self.result = prop.type
            self.task = False

    # -- value forms -----------------------------------------------------------

    def kind(self, ref):
        return self.ctx.kind(ref.name)

    def is_pointer(self, ref):
        return ref.array or self.kind(ref) in ("data", "fault", "managed", "any")

    def pointer_class(self, ref):
        """The class a pointer-kind value is held as."""
        cpp = self.ctx.cpp(ref.name)
        if not ref.array:
            return cpp
        if self.kind(ref) in ("data", "fault", "managed", "any"):
            return f"Movel::DataArray<{cpp}>"
        return f"Movel::Array<{cpp}>"

    def scalar(self, ref):
        return self.ctx.cpp(ref.name)

    def param_decl(self, p):
        ref = p.type
        ident = names.identifier(p.name)
        if self.is_pointer(ref):
            return f"{self.pointer_class(ref)}* {ident}"
        s = self.scalar(ref)
        if ref.optional:
            return f"const Basekit::Optional<{s}>& {ident}"
        if ref.name in SCALAR_BY_VALUE or self.kind(ref) == "enum":
            return f"{s} {ident}"
        return f"const {s}& {ident}"

    def result_kind(self):
        """"none", "pointer", "optional" or "scalar"."""
        if self.task:
            return "pointer"
        r = self.result
        if r is None:
            return "none"
        if self.is_pointer(r):
            return "pointer"
        return "optional" if r.optional else "scalar"

    def result_class(self):
        if self.task:
            return "Movel::MoRef"
        return self.pointer_class(self.result)

    def return_type(self):
        k = self.result_kind()
        if k in ("none", "pointer"):
            return "void"
        s = self.scalar(self.result)
        return f"Basekit::Optional<{s}>" if k == "optional" else s

    def sync_params(self):
        ps = [self.param_decl(p) for p in self.params]
        if self.result_kind() == "pointer":
            ps.append(f"Basekit::Ref<{self.result_class()}>& _result")
        return ps

    def async_params(self):
        return [self.param_decl(p) for p in self.params] + [
            "const Movel::Completion& _callback", "Basekit::Ref<Basekit::System::ScheduledItem>& _item"]

    # -- boxing ------------------------------------------------------------------

    def box_arg(self, i, p):
        ident = names.identifier(p.name)
        if self.is_pointer(p.type):
            return f"_args[{i}] = {ident};"
        if p.type.optional:
            return f"_args[{i}] = Movel::BoxOptional({ident});"
        return f"_args[{i}] = Movel::BoxValue<{self.scalar(p.type)}>({ident});"

    def unbox_arg(self, i, p):
        slot = f"Movel::ArgAt(args, {i})"
        if self.is_pointer(p.type):
            return f"{self.pointer_class(p.type)}* a{i} = Movel::NarrowAny<{self.pointer_class(p.type)}>({slot});"
        s = self.scalar(p.type)
        if p.type.optional:
            return f"Basekit::Optional<{s}> a{i} = Movel::UnboxOptional<{s}>({slot});"
        return f"{s} a{i} = Movel::UnboxValue<{s}>({slot});"


def operations(ctx, t):
    ops = [Operation(ctx, t, i, method=m) for i, m in enumerate(t.methods)]
    ops += [Operation(ctx, t, len(t.methods) + i, prop=p) for i, p in enumerate(t.properties)]
    return ops


def _flat_name(t):
    """Stubs and skeletons live at namespace scope, so a nested managed type's
    path is joined: kor.host.DiskManager.Lease gives DiskManagerLease."""
    return "".join(t.name[len(t.module) + 1:].split("."))


def stub_name(t):
    return _flat_name(t) + "Stub"


def stub_class(t):
    return names.module_namespace(t.module) + "::" + stub_name(t)


def interface_header(ctx, t, nested_decls, qual):
    cls = names.simple_name(t.name)
    base = names.cpp_class(t.parent) if t.parent and t.parent in ctx.types else "Movel::ManagedObject"
    lines = [f"class KOR_API {qual}{cls} : public virtual {base} {{", " public:"]
    if nested_decls:
        lines += nested_decls
        lines.append("")
    for m in t.methods:
        lines.append(f"  static const char* const METHOD_{m.name.upper()};")
    if t.methods:
        lines.append("")
    ops = operations(ctx, t)
    props = [o for o in ops if o.prop is not None]
    meths = [o for o in ops if o.method is not None]
    for o in props + meths:  # getters first, then methods
        lines.append(f"  virtual {o.return_type()} {o.cpp_name}({', '.join(o.sync_params())}) = 0;")
    if ops:
        lines.append("")
    lines.append("  Movel::ManagedObjectType* _GetType() const override;")
    lines.append("\n protected:")
    lines.append(f"  {cls}() = default;")
    lines.append(f"  {cls}(const {cls}&) = default;")
    lines.append(f"  {cls}& operator=(const {cls}&) = default;")
    lines.append("};")
    return lines


def stub_header(ctx, t):
    s = stub_name(t)
    iface = names.cpp_class(t.name)
    parent = stub_class(ctx.types[t.parent]) if t.parent and t.parent in ctx.types else "Movel::StubImpl"
    ops = operations(ctx, t)
    props = [o for o in ops if o.prop is not None]
    meths = [o for o in ops if o.method is not None]
    lines = [f"// Client side of {t.name}: forwards every operation to the object's server.",
             f"class KOR_API {s} : public virtual {iface}, public {parent} {{", " public:",
             f"  {s}(Movel::MoRef* ref, Movel::StubAdapter* adapter, Movel::RequestContext* context);",
             f"  {s}(const std::string& id, Movel::StubAdapter* adapter, Movel::RequestContext* context);",
             f"  ~{s}() override;"]
    for o in props + meths:
        lines.append(f"  {o.return_type()} {o.cpp_name}({', '.join(o.sync_params())}) override;")
        lines.append(f"  void {o.cpp_name}({', '.join(o.async_params())});")
    lines.append("};")
    return lines


def interface_source(ctx, t):
    cls = names.cpp_class(t.name)
    out = [f"Movel::ManagedObjectType* {cls}::_GetType() const {{ return Movel::GetMoType<{cls}>(); }}"]
    for m in t.methods:
        out.append(f"const char* const {cls}::METHOD_{m.name.upper()} = {c_string(t.name + '.' + m.name)};")
    return out


def dispatch_name(ctx, t):
    return ctx.record_name(t, "Dispatch")


def create_stub_name(ctx, t):
    return ctx.record_name(t, "CreateStub")


def dispatch_source(ctx, t):
    """moDispatch: clear the result, narrow the target, select by index,
    unbox, call, box."""
    cls = names.cpp_class(t.name)
    ops = operations(ctx, t)
    out = [f"void {dispatch_name(ctx, t)}(Movel::ManagedObject* object, int index,",
           "    Basekit::RefVector<Movel::Any>& args, Basekit::Ref<Movel::Any>& result) {",
           "  Movel::ClearResult(result);"]
    if not ops:
        out += ["  (void)object;", "  (void)index;", "  (void)args;", "}"]
        return out
    out.append(f"  {cls}* target = Movel::NarrowTarget<{cls}>(object);")
    out.append("  if (!target) return;")
    out.append("  switch (index) {")
    for o in ops:
        out.append(f"    case {o.index}: {{")
        body = [o.unbox_arg(i, p) for i, p in enumerate(o.params)]
        call_args = [f"a{i}" for i in range(len(o.params))]
        k = o.result_kind()
        if k == "pointer":
            body.append(f"Basekit::Ref<{o.result_class()}> answer;")
            body.append(f"target->{o.cpp_name}({', '.join(call_args + ['answer'])});")
            body.append("result = answer.Get();")
        elif k == "none":
            body.append(f"target->{o.cpp_name}({', '.join(call_args)});")
        elif k == "optional":
            body.append(f"result = Movel::BoxOptional(target->{o.cpp_name}({', '.join(call_args)}));")
        else:
            s = o.scalar(o.result)
            body.append(f"result = Movel::BoxValue<{s}>(target->{o.cpp_name}({', '.join(call_args)}));")
        out += ["      " + b for b in body]
        out.append("      break;")
        out.append("    }")
    out += ["    default:", "      break;  // an index out of range calls nothing", "  }", "}"]
    return out


def stub_source(ctx, t):
    s = stub_name(t)
    cls = stub_class(t)
    parent = stub_class(ctx.types[t.parent]) if t.parent and t.parent in ctx.types else "Movel::StubImpl"
    objects = names.symbol(t.name, "MethodObjects")
    out = [f"{cls}::{s}(Movel::MoRef* ref, Movel::StubAdapter* adapter, Movel::RequestContext* context)",
           f"    : {parent}(ref, adapter, context) {{}}",
           f"{cls}::{s}(const std::string& id, Movel::StubAdapter* adapter, Movel::RequestContext* context)",
           f"    : {parent}(id, adapter, context) {{}}",
           f"{cls}::~{s}() = default;"]
    for o in operations(ctx, t):
        boxing = [f"Basekit::RefVector<Movel::Any> _args({len(o.params)});"]
        boxing += [o.box_arg(i, p) for i, p in enumerate(o.params)]
        method = f"{objects}[{o.index}]"
        k = o.result_kind()
        out.append(f"{o.return_type()} {cls}::{o.cpp_name}({', '.join(o.sync_params())}) {{")
        out += ["  " + b for b in boxing]
        if k == "none":
            out.append(f"  Movel::StubImpl::_Invoke_Task({method}, _args);")
        else:
            out.append("  Basekit::Ref<Movel::Any> _answer;")
            out.append(f"  static_cast<Movel::Stub*>(this)->_Invoke_Task({method}, _args, _answer);")
            if k == "pointer":
                rc = o.result_class()
                if rc == "Movel::Any":
                    out.append("  _result = _answer;")
                elif o.task or not o.result.array:
                    out.append(f"  _result = Movel::NarrowAny<{rc}>(_answer.Get());")
                else:
                    out.append(f"  _result = Movel::NarrowArray<{rc}>(_answer.Get());")
            elif k == "optional":
                out.append(f"  return Movel::UnboxOptional<{o.scalar(o.result)}>(_answer.Get());")
            else:
                out.append(f"  return Movel::UnboxValue<{o.scalar(o.result)}>(_answer.Get());")
        out.append("}")
        out.append(f"void {cls}::{o.cpp_name}({', '.join(o.async_params())}) {{")
        out += ["  " + b for b in boxing]
        out.append(f"  static_cast<Movel::Stub*>(this)->_StartInvoke_Task({method}, _args, _callback, _item);")
        out.append("}")
    return out


def create_stub_source(ctx, t):
    return [f"Movel::Stub* {create_stub_name(ctx, t)}(Movel::MoRef* ref, Movel::StubAdapter* adapter,",
            "                               Movel::RequestContext* context) {",
            f"  return new {stub_class(t)}(ref, adapter, context);",
            "}"]


def skeleton_name(t):
    return _flat_name(t) + "Skeleton"


def skeleton_class(t):
    return names.module_namespace(t.module) + "::" + skeleton_name(t)


def skeleton_header(ctx, t):
    """A server-side base: every operation answers the NotSupported fault, so an
    implementation overrides only what it serves. Defined inline: only the
    programs that serve objects pay for its tables."""
    s = skeleton_name(t)
    iface = names.cpp_class(t.name)
    parent = skeleton_class(ctx.types[t.parent]) if t.parent and t.parent in ctx.types else "Basekit::ObjectImpl"
    lines = [f"// Server side of {t.name}: derive, override what the object serves.",
             f"class {s} : public virtual {iface}, public {parent} {{", " public:"]
    ops = operations(ctx, t)
    props = [o for o in ops if o.prop is not None]
    meths = [o for o in ops if o.method is not None]
    for o in props + meths:
        # Parameters are unused: keep their types, drop their names.
        unnamed = [p.rsplit(" ", 1)[0] for p in o.sync_params()]
        full = t.name + "." + (o.method.name if o.method is not None else o.prop.name)
        lines.append(f"  {o.return_type()} {o.cpp_name}({', '.join(unnamed)}) override {{")
        lines.append(f"    Movel::ThrowNotImplemented({c_string(full)});")
        lines.append("  }")
    lines.append("\n protected:")
    lines.append(f"  {s}() = default;")
    lines.append(f"  ~{s}() override = default;")
    lines.append("};")
    return lines

"""One small rule per property kind.

Each rule knows, for one property of a data object class, how the member is
declared, constructed, copied, released, reached by index through the eight
property functions, compared, diffed and sized. The data class emitter only
walks the properties and asks the rule of each for its piece, like the field
generators of a protocol compiler.
"""
from . import names
from .builtins import BUILTINS

VALUE_TYPES = {"boolean", "byte", "short", "int", "long", "float", "double"}
CLASS_VALUE_TYPES = {"dateTime", "binary", "typeName", "methodName", "propertyPath", "uri"}
STRING_LIKE = {"string", "typeName", "methodName", "propertyPath", "uri"}


class Field:
    """Shared state of every rule: the property, its C++ names and types."""

    def __init__(self, ctx, prop, read_only_default):
        self.ctx = ctx
        self.prop = prop
        self.name = prop.name
        self.cap = names.upper_first(prop.name)
        self.ident = names.identifier(prop.name)  # public member / parameter
        self.member = self.ident
        self.flags = prop.flags(read_only_default)
        self.value_type = ctx.cpp(prop.type.name)
        self.path = f'_prefix + ".{prop.name}"'

    # Hooks with neutral defaults.
    def release(self, o):
        return []

    def unset(self, o):
        return []  # required properties: nothing

    def size(self, o):
        return []

    def accessor_decls(self):
        return []

    def accessor_defs(self, cls):
        return []


class ValueField(Field):
    """Required bool, numbers, enums, date-times, binaries and string kinds."""

    def decl(self):
        init = "{}" if self.prop.type.name in VALUE_TYPES or self.ctx.kind(self.prop.type.name) == "enum" else ""
        return f"{self.value_type} {self.member}{init};"

    def param(self):
        by_value = self.prop.type.name in VALUE_TYPES or self.ctx.kind(self.prop.type.name) == "enum"
        return f"{self.value_type} {self.ident}" if by_value else f"const {self.value_type}& {self.ident}"

    def ctor_init(self):
        return [f"this->{self.member} = {self.ident};"]

    def copy(self, src):
        return [f"{self.member} = {src}.{self.member};"]

    def get(self, o):
        return [f"*static_cast<{self.value_type}*>(_out) = {o}->{self.member};"]

    def peek(self, o):
        return [f"return &{o}->{self.member};"]

    def set(self, o):
        return [f"{o}->{self.member} = *static_cast<const {self.value_type}*>(_in);"]

    def swap(self, o):
        return [f"std::swap({o}->{self.member}, *static_cast<{self.value_type}*>(_io));"]

    def is_set(self, o):
        return ["return true;"]

    def equal_expr(self, a, b):
        t = self.prop.type.name
        if t == "dateTime":
            return f"{a}.GetUtcTime() == {b}.GetUtcTime()"
        return f"{a} == {b}"

    def equal(self, o):
        return [f"if (!({self.equal_expr(self.member, o + '->' + self.member)})) return false;"]

    def diff(self, o):
        return [f"if (!({self.equal_expr(self.member, o + '->' + self.member)})) "
                f"_set.Append(Movel::PropertyPath({self.path}));"]


class StringField(ValueField):
    """Required std::string."""

    def decl(self):
        return f"std::string {self.member};"

    def swap(self, o):
        return [f"{o}->{self.member}.swap(*static_cast<std::string*>(_io));"]

    def size(self, o):
        return [f"_size += Movel::GetExtraSize(_round, {self.member});"]


class OptionalValueField(ValueField):
    """Basekit::Optional<T>: value, then the is-set flag."""

    def decl(self):
        return f"Basekit::Optional<{self.value_type}> {self.member};"

    def param(self):
        return f"const Basekit::Optional<{self.value_type}>& {self.ident}"

    def ctor_init(self):
        return [f"if ({self.ident}.IsSet()) this->{self.member} = {self.ident}.GetValue();"]

    def copy(self, src):
        return [f"if ({src}.{self.member}.IsSet()) {self.member} = {src}.{self.member}.GetValue();"]

    def get(self, o):
        return [f"*static_cast<{self.value_type}*>(_out) = {o}->{self.member}.GetValue();"]

    def peek(self, o):
        return [f"return {o}->{self.member}.IsSet() ? &{o}->{self.member}.GetValue() : nullptr;"]

    def set(self, o):
        return [f"{o}->{self.member} = *static_cast<const {self.value_type}*>(_in);"]

    def swap(self, o):
        return [f"{o}->{self.member}.Swap(*static_cast<Basekit::Optional<{self.value_type}>*>(_io));"]

    def is_set(self, o):
        return [f"return {o}->{self.member}.IsSet();"]

    def unset(self, o):
        return [f"{o}->{self.member}.Unset();"]

    def _equal(self, o):
        a, b = self.member, f"{o}->{self.member}"
        same = self.equal_expr(f"{a}.GetValue()", f"{b}.GetValue()")
        return f"({a}.IsSet() == {b}.IsSet() && (!{a}.IsSet() || ({same})))"

    def equal(self, o):
        return [f"if (!{self._equal(o)} && !(_lenient && !{o}->{self.member}.IsSet())) return false;"]

    def diff(self, o):
        return [f"if (!{self._equal(o)}) _set.Append(Movel::PropertyPath({self.path}));"]


class OptionalStringField(Field):
    """An optional string: a separately allocated std::string, null when unset."""

    def decl(self):
        return f"std::string* {self.member} = nullptr;"

    def param(self):
        return f"const Basekit::Optional<std::string>& {self.ident}"

    def ctor_init(self):
        return [f"if ({self.ident}.IsSet()) this->{self.member} = new std::string({self.ident}.GetValue());"]

    def copy(self, src):
        return [f"if ({src}.{self.member}) {self.member} = new std::string(*{src}.{self.member});"]

    def release(self, o):
        return [f"delete {self.member};", f"{self.member} = nullptr;"]

    def get(self, o):
        return [f"*static_cast<std::string*>(_out) = {o}->{self.member} ? *{o}->{self.member} : std::string();"]

    def peek(self, o):
        return [f"return {o}->{self.member};"]

    def set(self, o):
        return [f"Movel::SetOptionalString({o}->{self.member}, *static_cast<const std::string*>(_in));"]

    def swap(self, o):
        return [f"std::swap({o}->{self.member}, *static_cast<std::string**>(_io));"]

    def is_set(self, o):
        return [f"return {o}->{self.member} != nullptr;"]

    def unset(self, o):
        return [f"delete {o}->{self.member};", f"{o}->{self.member} = nullptr;"]

    def _equal(self, o):
        a, b = self.member, f"{o}->{self.member}"
        return f"Movel::OptionalStringsEqual({a}, {b})"

    def equal(self, o):
        return [f"if (!{self._equal(o)} && !(_lenient && !{o}->{self.member})) return false;"]

    def diff(self, o):
        return [f"if (!{self._equal(o)}) _set.Append(Movel::PropertyPath({self.path}));"]

    def size(self, o):
        return [f"if ({self.member}) _size += _round(sizeof(std::string)) + Movel::GetExtraSize(_round, *{self.member});"]


class PointerField(Field):
    """Object kinds and arrays: one owned reference, reached through Peek, Set,
    Swap (and Get for arrays)."""

    def __init__(self, ctx, prop, read_only_default):
        super().__init__(ctx, prop, read_only_default)
        self.member = prop.name + "_"
        self.runtime_flags = self.flags & ~0x004

    def param(self):
        return f"{self.held}* {self.ident}"

    def swap(self, o):
        # The incoming value is checked before anything changes.
        return [f"auto* slot = static_cast<Basekit::Ref<Movel::Any>*>(_io);",
                f"{self.held}* incoming = {self.narrow('slot->Get()')};",
                f"{o}->Swap{self.cap}Raw(incoming, slot);"]

    def equal(self, o):
        return [f"if (!Movel::AreEqualAnysInt({self.load()}, {self.load(o + '->')}, {self.runtime_flags:#x}, _lenient)) return false;"]

    def diff(self, o):
        return [f"Movel::DiffAnyPropertiesInt({self.load()}, {self.load(o + '->')}, {self.path}, {self.runtime_flags:#x}, _set);"]

    def size(self, o):
        return [f"if (const auto* held = {self.load()}) _size += held->_GetSize(_round);"]

    def narrow(self, expr):
        if self.held == "Movel::Any":
            return expr
        return f"Movel::NarrowAny<{self.held}>({expr})"

    def accessor_decls(self):
        h = self.held
        return [f"const {h}* Peek{self.cap}() const;",
                f"void Set{self.cap}({h}* value);",
                f"void Swap{self.cap}(Basekit::Ref<{h}>* const ref);"]

    def raw_swap_decl(self):
        return f"void Swap{self.cap}Raw({self.held}* incoming, Basekit::Ref<Movel::Any>* slot);"


class ObjectField(PointerField):
    """A data object, fault, managed object reference or any value."""

    def __init__(self, ctx, prop, read_only_default):
        super().__init__(ctx, prop, read_only_default)
        self.held = self.value_type

    def decl(self):
        return f"{self.held}* {self.member} = nullptr;"

    def load(self, prefix=""):
        return f"{prefix}{self.member}"

    def ctor_init(self):
        return [f"this->{self.member} = {self.ident};", f"if (this->{self.member}) this->{self.member}->IncRef();"]

    def copy(self, src):
        return [f"if ({src}.{self.member}) {{",
                f"  {self.member} = static_cast<{self.held}*>({src}.{self.member}->_Clone());",
                f"  {self.member}->IncRef();",
                "}"]

    def release(self, o):
        return [f"if ({self.member}) {self.member}->DecRef();", f"{self.member} = nullptr;"]

    def get(self, o):
        return [f"*static_cast<Basekit::Ref<Movel::Any>*>(_out) = {o}->{self.member};"]

    def peek(self, o):
        return [f"return {o}->{self.member};"]

    def set(self, o):
        return [f"{o}->Set{self.cap}({self.narrow('*static_cast<Movel::Any* const*>(_in)')});"]

    def is_set(self, o):
        return [f"return {o}->{self.member} != nullptr;"]

    def unset(self, o):
        return [f"{o}->Set{self.cap}(nullptr);"] if self.prop.type.optional else []

    def accessor_defs(self, cls):
        h, m = self.held, self.member
        return [
            f"const {h}* {cls}::Peek{self.cap}() const {{ return {m}; }}",
            f"void {cls}::Set{self.cap}({h}* value) {{",
            f"  if (value) value->IncRef();",
            f"  {h}* old = {m};",
            f"  {m} = value;",
            f"  if (old) old->DecRef();",
            "}",
            f"void {cls}::Swap{self.cap}(Basekit::Ref<{h}>* const ref) {{ {m} = ref->ExchangeRaw({m}); }}",
            f"void {cls}::Swap{self.cap}Raw({h}* incoming, Basekit::Ref<Movel::Any>* slot) {{",
            f"  slot->ExchangeRaw({m});",
            f"  {m} = incoming;",
            "}",
        ]


class ArrayField(PointerField):
    """Arrays: DataArray<X> of data objects, references and any values; Array<T>
    of primitives, strings and enumerations. The member is replaced only by
    atomic exchange, and Get installs a new array by compare-and-swap."""

    def __init__(self, ctx, prop, read_only_default):
        super().__init__(ctx, prop, read_only_default)
        kind = ctx.kind(prop.type.name)
        template = "Movel::DataArray" if kind in ("data", "fault", "managed", "any") else "Movel::Array"
        self.held = f"{template}<{self.value_type}>"

    def decl(self):
        return f"mutable std::atomic<{self.held}*> {self.member}{{nullptr}};"

    def load(self, prefix=""):
        return f"{prefix}{self.member}.load(std::memory_order_acquire)"

    def ctor_init(self):
        return [f"Set{self.cap}({self.ident});"]

    def copy(self, src):
        return [f"if (const {self.held}* from = {src}.{self.member}.load(std::memory_order_acquire)) {{",
                f"  auto* copy = static_cast<{self.held}*>(from->_Clone());",
                "  copy->IncRef();",
                f"  {self.member}.store(copy, std::memory_order_release);",
                "}"]

    def release(self, o):
        return [f"if ({self.held}* old = {self.member}.exchange(nullptr, std::memory_order_acq_rel)) old->DecRef();"]

    def get(self, o):
        return [f"*static_cast<Basekit::Ref<Movel::Any>*>(_out) = {o}->Get{self.cap}();"]

    def peek(self, o):
        return [f"return {o}->Peek{self.cap}();"]

    def set(self, o):
        return [f"{o}->Set{self.cap}({self.narrow('*static_cast<Movel::Any* const*>(_in)')});"]

    def is_set(self, o):
        return [f"return {o}->Peek{self.cap}() != nullptr;"]

    def unset(self, o):
        return [f"{o}->Set{self.cap}(nullptr);"] if self.prop.type.optional else []

    def accessor_decls(self):
        return super().accessor_decls() + [f"{self.held}* Get{self.cap}() const;"]

    def accessor_defs(self, cls):
        h, m = self.held, self.member
        return [
            f"const {h}* {cls}::Peek{self.cap}() const {{",
            f"  const {h}* held = {m}.load(std::memory_order_acquire);",
            "  return held && held->GetLength() > 0 ? held : nullptr;",
            "}",
            f"void {cls}::Set{self.cap}({h}* value) {{",
            "  if (value) value->IncRef();",
            f"  if ({h}* old = {m}.exchange(value, std::memory_order_acq_rel)) old->DecRef();",
            "}",
            f"void {cls}::Swap{self.cap}(Basekit::Ref<{h}>* const ref) {{",
            f"  ref->ExchangeRaw({m}.exchange(ref->Get(), std::memory_order_acq_rel));",
            "}",
            f"{h}* {cls}::Get{self.cap}() const {{",
            f"  {h}* held = {m}.load(std::memory_order_acquire);",
            "  if (held) return held;",
            f"  auto* made = new {h}();",
            "  made->IncRef();",
            f"  if ({m}.compare_exchange_strong(held, made, std::memory_order_acq_rel)) return made;",
            "  made->DecRef();  // another caller installed one first",
            "  return held;",
            "}",
            f"void {cls}::Swap{self.cap}Raw({h}* incoming, Basekit::Ref<Movel::Any>* slot) {{",
            f"  slot->ExchangeRaw({m}.exchange(incoming, std::memory_order_acq_rel));",
            "}",
        ]


def field_for(ctx, prop, read_only_default):
    """The rule of one property."""
    t = prop.type
    kind = ctx.kind(t.name)
    if t.array:
        return ArrayField(ctx, prop, read_only_default)
    if kind in ("data", "fault", "managed", "any"):
        return ObjectField(ctx, prop, read_only_default)
    if t.name == "string":
        return OptionalStringField(ctx, prop, read_only_default) if t.optional else StringField(
            ctx, prop, read_only_default)
    if t.optional:
        return OptionalValueField(ctx, prop, read_only_default)
    return ValueField(ctx, prop, read_only_default)

"""One small rule per property kind.

Each rule knows, for one property of a data object class, how the member is
declared, how the full constructor stores it, how the class's layout table
describes it, and which accessors it has. Copying, releasing, equality,
difference, size and access by index are the runtime's, driven by the layout
(movel/fields.h), so each kind's behaviour is written once, there.
"""
import dataclasses

from . import names
from .builtins import BUILTINS

VALUE_TYPES = {"boolean", "byte", "short", "int", "long", "float", "double"}
CLASS_VALUE_TYPES = {"dateTime", "binary", "typeName", "methodName", "propertyPath", "uri"}
STRING_LIKE = {"string", "typeName", "methodName", "propertyPath", "uri"}


# The runtime's member kind of each value type (movel/fields.h FieldKind).
FIELD_KINDS = {
    "string": "kString", "boolean": "kBool", "byte": "kByte", "short": "kShort", "int": "kInt",
    "long": "kLong", "float": "kFloat", "double": "kDouble", "dateTime": "kDateTime",
    "binary": "kBinary", "typeName": "kTypeName", "methodName": "kMethodName",
    "propertyPath": "kPropertyPath", "uri": "kUri",
}


class Field:
    """Shared state of every rule: the property, its C++ names and types.

    A rule says how the member is declared, how the full constructor takes
    and stores it, and how the class's layout describes it to the runtime,
    which does everything else (copy, release, equality, diff, size and the
    property functions) from that description."""

    def __init__(self, ctx, prop, read_only_default):
        self.ctx = ctx
        self.prop = prop
        self.name = prop.name
        self.cap = names.upper_first(prop.name)
        self.ident = names.identifier(prop.name)  # public member / parameter
        self.member = self.ident
        self.flags = prop.flags(read_only_default)
        self.value_type = ctx.cpp(prop.type.name)

    def ctor_init(self):
        return [f"Movel::InitField(this->{self.member}, {self.ident});"]

    def field_info(self, cls):
        """The FieldInfo initializer of the member in class cls."""
        kind = "kEnum" if self.ctx.kind(self.prop.type.name) == "enum" else FIELD_KINDS[self.prop.type.name]
        optional = "true" if self.prop.type.optional else "false"
        return (f"{{offsetof({cls}, {self.member}), {self.runtime_flags():#x}, Movel::FieldKind::{kind}, "
                f"{optional}, false, nullptr, nullptr}}")

    def runtime_flags(self):
        """The flag word the runtime is handed: the read-only bit cleared."""
        return self.flags & ~0x004

    def accessor_decls(self):
        return []

    def accessor_defs(self, cls):
        return []

    def owns(self):
        """True when the member owns memory the runtime must release."""
        return False

    def sized(self):
        """True when the member may own memory outside the object (texts,
        objects, arrays): the members sizes and releases visit."""
        return self.owns() or self.prop.type.name == "string"


class ValueField(Field):
    """Required bool, numbers, enums, date-times, binaries and string kinds."""

    def decl(self):
        init = "{}" if self.prop.type.name in VALUE_TYPES or self.ctx.kind(self.prop.type.name) == "enum" else ""
        return f"{self.value_type} {self.member}{init};"

    def param(self):
        by_value = self.prop.type.name in VALUE_TYPES or self.ctx.kind(self.prop.type.name) == "enum"
        return f"{self.value_type} {self.ident}" if by_value else f"const {self.value_type}& {self.ident}"


class StringField(ValueField):
    """Required std::string."""

    def decl(self):
        return f"std::string {self.member};"


class OptionalValueField(ValueField):
    """Basekit::Optional<T>: value, then the is-set flag."""

    def decl(self):
        return f"Basekit::Optional<{self.value_type}> {self.member};"

    def param(self):
        return f"const Basekit::Optional<{self.value_type}>& {self.ident}"


class OptionalStringField(Field):
    """An optional string: Movel::OptionalString, one owning pointer to a
    separately allocated std::string, null when unset."""

    def decl(self):
        return f"Movel::OptionalString {self.member};"

    def param(self):
        return f"const Basekit::Optional<std::string>& {self.ident}"

    def owns(self):
        return True


class PointerField(Field):
    """Object kinds and arrays: one owned reference, reached through Peek, Set,
    Swap (and Get for arrays)."""

    def __init__(self, ctx, prop, read_only_default):
        super().__init__(ctx, prop, read_only_default)
        self.member = prop.name + "_"
        kind = ctx.kind(prop.type.name)
        self.data_objects = kind in ("data", "fault")

    def param(self):
        return f"{self.held}* {self.ident}"

    def owns(self):
        return True

    def narrow_fn(self):
        if self.held == "Movel::Any":
            return "nullptr"
        return f"&Movel::NarrowField<{self.held}>"

    def accessor_decls(self):
        h = self.held
        return [f"const {h}* Peek{self.cap}() const;",
                f"void Set{self.cap}({h}* value);",
                f"void Swap{self.cap}(Basekit::Ref<{h}>* const ref);"]


class ObjectField(PointerField):
    """A data object, fault, managed object reference or any value."""

    def __init__(self, ctx, prop, read_only_default):
        super().__init__(ctx, prop, read_only_default)
        self.held = self.value_type
        # Edit<Name> makes an absent object: only for the library's own
        # data classes, which are all default-constructible.
        self.editable = self.data_objects and prop.type.name in ctx.types

    def decl(self):
        return f"{self.held}* {self.member} = nullptr;"

    def field_info(self, cls):
        optional = "true" if self.prop.type.optional else "false"
        data = "true" if self.data_objects else "false"
        return (f"{{offsetof({cls}, {self.member}), {self.runtime_flags():#x}, Movel::FieldKind::kObject, {optional}, {data}, "
                f"{self.narrow_fn()}, nullptr}}")

    def accessor_decls(self):
        decls = super().accessor_decls()
        if self.editable:
            # The held object for editing in place, made empty when absent.
            # A member template: it is made where it is called, with the held
            # class complete there, and adds nothing to the library's exports.
            decls.append(f"template <class Held_ = {self.held}> Held_* Edit{self.cap}() "
                         f"{{ return Movel::GetOrCreateObject<Held_>({self.member}); }}")
        return decls

    def accessor_defs(self, cls):
        h, m = self.held, self.member
        return [
            f"const {h}* {cls}::Peek{self.cap}() const {{ return {m}; }}",
            f"void {cls}::Set{self.cap}({h}* value) {{ Movel::AssignObject({m}, value); }}",
            f"void {cls}::Swap{self.cap}(Basekit::Ref<{h}>* const ref) {{ {m} = ref->ExchangeRaw({m}); }}",
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

    def field_info(self, cls):
        optional = "true" if self.prop.type.optional else "false"
        data = "true" if self.data_objects else "false"
        return (f"{{offsetof({cls}, {self.member}), {self.runtime_flags():#x}, Movel::FieldKind::kArray, {optional}, {data}, "
                f"{self.narrow_fn()}, &Movel::MakeArrayField<{self.held}>}}")

    def accessor_decls(self):
        return super().accessor_decls() + [f"{self.held}* Get{self.cap}() const;"]

    def accessor_defs(self, cls):
        h, m, c = self.held, self.member, self.cap
        return [
            f"const {h}* {cls}::Peek{c}() const {{ return Movel::PeekArray({m}); }}",
            f"void {cls}::Set{c}({h}* value) {{ Movel::AssignArray({m}, value); }}",
            f"void {cls}::Swap{c}(Basekit::Ref<{h}>* const ref) {{ Movel::SwapArray({m}, ref); }}",
            f"{h}* {cls}::Get{c}() const {{ return Movel::GetOrCreateArray({m}); }}",
        ]


def field_for(ctx, prop, read_only_default):
    """The rule of one property.

    A link holds the key (or keys) of its target, not the target itself: the
    descriptor names the target's data type, the member is a string or a list
    of strings, and a link resolver finds the object behind each key within
    the same tree. The flag word keeps the link bit."""
    if prop.link:
        prop = dataclasses.replace(prop, type=dataclasses.replace(prop.type, name="string"))
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

"""Descriptor records: TypeInfo, the registration record of each kind and the
lists they point to."""
from ..builtins import BUILTINS
from ..context import RUNTIME_VERSION0, c_string
from ..model import READ_ONLY


def type_info(ctx, t):
    return (f"const Movel::TypeInfo {ctx.symbol(t.name)} = {{{t.kind_word}, {c_string(t.name)}, "
            f"{c_string(t.wsdl)}, {c_string(t.version)}}};")


def _flags(f):
    return f"{f:#05x}"


def property_list(ctx, t, out):
    """Writes the property list of t; returns its name (shared when empty)."""
    if not t.properties:
        return "kortypes_detail::kNoProperties"
    name = ctx.record_name(t, "Properties")
    read_only_default = t.read_only or t.kind == "managed"
    out.append(f"const Movel::PropertyInfo {name}[] = {{")
    for p in t.properties:
        loc = '""' if p.localizable else "nullptr"
        out.append(f"    {{{c_string(p.name)}, {c_string(p.privilege)}, {loc}, "
                   f"&{ctx.symbol(p.type.name)}, {_flags(p.flags(read_only_default))}, {c_string(p.version)}}},")
    out.append("    {nullptr, nullptr, nullptr, nullptr, Movel::kFlagsEndOfList, nullptr},")
    out.append("};")
    return name


def _result(ctx, m):
    if m.result is None:
        return f'{{"result", nullptr, nullptr, 0x000, {c_string(RUNTIME_VERSION0)}}}'
    flags = (1 if m.result.array else 0) | (2 if m.result.optional else 0) | (0x200 if m.result_secret else 0)
    return (f'{{"result", nullptr, &{ctx.symbol(m.result.name)}, {_flags(flags)}, '
            f"{c_string(ctx.type_version(m.result.name))}}}")


def method_list(ctx, t, out):
    if not t.methods:
        return "kortypes_detail::kNoMethods"
    entries = []
    for m in t.methods:
        base = ctx.record_name(t, "_" + m.name)
        params = "kortypes_detail::kNoParams"
        if m.params:
            params = base + "Params"
            out.append(f"const Movel::ParamInfo {params}[] = {{")
            for p in m.params:
                out.append(f"    {{{c_string(p.name)}, {c_string(p.privilege)}, &{ctx.symbol(p.type.name)}, "
                           f"{_flags(p.flags())}, {c_string(p.version)}}},")
            out.append("    {nullptr, nullptr, nullptr, Movel::kFlagsEndOfList, nullptr},")
            out.append("};")
        faults = "kortypes_detail::kNoFaults"
        if m.faults:
            faults = base + "Faults"
            refs = ", ".join(f"&{ctx.symbol(f)}" for f in m.faults)
            out.append(f"const Movel::TypeInfo* const {faults}[] = {{{refs}, nullptr}};")
        overrides = "nullptr"
        if m.overrides:
            overrides = base + "Overrides"
            out.append(f"const Movel::PrivilegeOverride {overrides}[] = {{")
            for o in m.overrides:
                out.append(f"    {{{c_string(o.type_name)}, {c_string(o.privilege)}}},")
            out.append("    {nullptr, nullptr},")
            out.append("};")
        entries.append(f"    {{{c_string(m.name)}, {c_string(m.wsdl)}, {c_string(m.privilege)}, {overrides},\n"
                       f"     {_result(ctx, m)},\n"
                       f"     {params}, {faults}, {m.flags():#05x}, {c_string(m.version)}}},")
    name = ctx.record_name(t, "Methods")
    out.append(f"const Movel::MethodInfo {name}[] = {{")
    out += entries
    out.append("    {},")
    out.append("};")
    return name


def parent_symbol(ctx, t):
    if t.kind == "managed":
        return ctx.symbol(t.parent or "tydef.ManagedObject")
    return ctx.symbol(t.parent or "tydef.DynamicData")


def registration_record(ctx, t, funcs):
    """The kind's registration record (hidden; the module loader passes it to
    the runtime). `funcs` names the per-type functions the record points at."""
    out = []
    if t.is_data:
        props = property_list(ctx, t, out)
        redeclares = 1 if t.properties and t.properties[0].name == "dynamicProperty" else 0
        out.append(f"extern const Movel::DataTypeInfo {ctx.record_name(t, 'DataTypeInfo')};")
        out.append(f"const Movel::DataTypeInfo {ctx.record_name(t, 'DataTypeInfo')} = {{")
        out.append(f"    &{ctx.symbol(t.name)}, &{parent_symbol(ctx, t)}, {props},")
        out.append("    " + ", ".join(funcs) + ",")
        out.append(f"    {redeclares}}};")
    elif t.kind == "managed":
        props = property_list(ctx, t, out)
        methods = method_list(ctx, t, out)
        out.append(f"extern const Movel::ManagedTypeInfo {ctx.record_name(t, 'ManagedTypeInfo')};")
        out.append(f"const Movel::ManagedTypeInfo {ctx.record_name(t, 'ManagedTypeInfo')} = {{")
        out.append(f"    &{ctx.symbol(t.name)}, &{parent_symbol(ctx, t)}, {props}, {methods},")
        out.append("    " + ", ".join(funcs) + ",")
        objects = ctx.symbol(t.name).replace('TypeInfo', 'MethodObjects') if method_object_count(t) else "nullptr"
        out.append(f"    {objects}}};")
    else:
        values = ctx.record_name(t, "Values")
        out.append(f"const char* const {values}[] = {{" + ", ".join(c_string(v) for v in t.values) + ", nullptr};")
        out.append(f"extern const Movel::EnumTypeInfo {ctx.record_name(t, 'EnumTypeInfo')};")
        out.append(f"const Movel::EnumTypeInfo {ctx.record_name(t, 'EnumTypeInfo')} = "
                   f"{{&{ctx.symbol(t.name)}, {values}}};")
    return out


def method_object_count(t):
    return len(t.methods) + len(t.properties)

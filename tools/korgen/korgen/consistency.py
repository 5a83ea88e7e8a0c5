"""Checks of the schema against the catalogue's published lists.

The type list names every type the catalogue holds (wire name, kind, module,
C++ name); the flag list names the only places where the special flags
(linkable, link, secret, statistics) may stand. Both are tab-separated files
with a header line; lines starting with "#" are comments.
"""
from . import names
from .model import Where
from .parser import SchemaError

SPECIAL = {"linkable": 0x010, "link": 0x020, "secret": 0x200, "stat": 0x400}


def _rows(path):
    try:
        with open(path, "rb") as fh:
            data = fh.read()
    except OSError as e:
        raise SchemaError(Where(path, 0), f"cannot read the file: {e.strerror}") from None
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError as e:
        raise SchemaError(Where(path, data.count(b"\n", 0, e.start) + 1), "not UTF-8 text") from None
    for no, line in enumerate(text.split("\n"), 1):
        line = line.rstrip("\r")
        if not line or line.startswith("#"):
            continue
        yield no, line.split("\t")


def check_type_list(cat, path, complete_modules=()):
    """Every declared type is listed with its kind, module and C++ name; every
    listed type of a complete module is declared."""
    errors, listed = [], {}
    for no, row in _rows(path):
        if row[0] == "wire":
            continue
        if len(row) != 4:
            errors.append((Where(path, no), "expected four tab-separated columns"))
            continue
        listed[row[0]] = (row[1], row[2], row[3], Where(path, no))
    for t in cat.all_types():
        entry = listed.get(t.name)
        if entry is None:
            errors.append((t.where, f"type {t.name} is not in the catalogue list"))
            continue
        kind, module, cpp, _ = entry
        if kind != t.kind:
            errors.append((t.where, f"type {t.name} is declared {t.kind}; the catalogue lists it as {kind}"))
        if module != t.module:
            errors.append((t.where, f"type {t.name} is declared in module {t.module}; the catalogue lists {module}"))
        if cpp != names.cpp_class(t.name):
            errors.append((t.where, f"type {t.name} maps to {names.cpp_class(t.name)}; the catalogue lists {cpp}"))
    for wire, (kind, module, _, where) in listed.items():
        if module in complete_modules and wire not in cat.types:
            errors.append((where, f"{kind} type {wire} of module {module} is not declared"))
    return errors


def check_special_flags(cat, path, complete_modules=()):
    """Special flags stand only where the flag list allows them; in complete
    modules, every property the list names carries its flag."""
    errors, allowed = [], set()
    for no, row in _rows(path):
        if len(row) != 3:
            errors.append((Where(path, no), "expected three tab-separated columns"))
            continue
        allowed.add(tuple(row))
        flag, owner, name = row
        t = cat.types.get(owner)
        if flag in SPECIAL and t is not None and t.module in complete_modules:
            prop = next((p for p in t.properties if p.name == name), None)
            attr = {"linkable": "linkable", "link": "link", "secret": "secret", "stat": "statistics"}[flag]
            if prop is None:
                errors.append((Where(path, no), f"{owner} has no property {name}"))
            elif not getattr(prop, attr):
                errors.append((prop.where, f"property {name} of {owner} must be {flag}"))
    for t in cat.all_types():
        for p in t.properties:
            for word, attr in (("linkable", p.linkable), ("link", p.link), ("secret", p.secret),
                               ("stat", p.statistics)):
                if attr and (word, t.name, p.name) not in allowed:
                    errors.append((p.where, f"property {p.name} of {t.name} may not be {word}"))
        for m in t.methods:
            for p in m.params:
                if p.secret and ("secret-param", m.name, p.name) not in allowed:
                    errors.append((p.where, f"parameter {p.name} of {m.name} may not be secret"))
            if m.result_secret and ("secret-result", m.name, "result") not in allowed:
                errors.append((m.where, f"the result of {m.name} may not be secret"))
    return errors

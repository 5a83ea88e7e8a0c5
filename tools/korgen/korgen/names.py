"""Naming rules shared by every emitter.

One rule maps a wire name to its C++ class, its exported record symbol and its
method-object array: split at the dots, raise the first letter of every
component, join with "::" (class) or with nothing (symbols).
"""
from .cppnames import KEYWORDS

# Keywords, and the standard library's object-like macros that user code
# meets everywhere: a generated name never takes one of them unescaped.
CPP_KEYWORDS = KEYWORDS | frozenset("NULL EOF errno assert stdin stdout stderr".split())


def upper_first(s: str) -> str:
    return s[:1].upper() + s[1:]


def lower_first(s: str) -> str:
    return s[:1].lower() + s[1:]


def components(wire: str):
    return [upper_first(c) for c in wire.split(".")]


def cpp_class(wire: str) -> str:
    """"kor.vm.device.VirtualDevice" -> "Kor::Vm::Device::VirtualDevice"."""
    return "::".join(components(wire))


def symbol(wire: str, suffix: str = "TypeInfo") -> str:
    """"kor.AboutInfo" -> "gKorAboutInfoTypeInfo"."""
    return "g" + "".join(components(wire)) + suffix


def module_namespace(module: str) -> str:
    return cpp_class(module)


def identifier(name: str) -> str:
    """A C++ identifier for a schema name: keywords and reserved spellings get
    a trailing underscore, other characters become underscores."""
    out = "".join(c if (c.isalnum() or c == "_") else "_" for c in name)
    if not out or out[0].isdigit():
        out = "_" + out
    if out in CPP_KEYWORDS or out.startswith("__") or (out[0] == "_" and out[1:2].isupper()):
        out += "_"
    return out


def upper_identifier(name: str) -> str:
    """Enumeration value constant part: "bios" -> "BIOS", "2.5u2" -> "2_5U2"."""
    return "".join(c.upper() if c.isalnum() else "_" for c in name)


def enclosing(wire: str, module: str):
    """The wire name of the type a nested type is declared in, or None."""
    rest = wire[len(module) + 1:]
    if "." not in rest:
        return None
    return module + "." + rest.rsplit(".", 1)[0]


def simple_name(wire: str) -> str:
    return wire.rsplit(".", 1)[1]


def wsdl_default(wire: str, module: str) -> str:
    """The class components joined: "kor.TaskInfo.State" -> "TaskInfoState"."""
    return "".join(wire[len(module) + 1:].split("."))

"""Naming rules shared by every emitter.

One rule maps a wire name to its C++ class, its exported record symbol and its
method-object array: split at the dots, raise the first letter of every
component, join with "::" (class) or with nothing (symbols).
"""
import keyword as _unused  # noqa: F401  (kept out: Python keywords are not C++ ones)

CPP_KEYWORDS = frozenset("""
alignas alignof and and_eq asm auto bitand bitor bool break case catch char char8_t char16_t
char32_t class compl concept const consteval constexpr constinit const_cast continue co_await
co_return co_yield decltype default delete do double dynamic_cast else enum explicit export
extern false float for friend goto if inline int long mutable namespace new noexcept not not_eq
nullptr operator or or_eq private protected public register reinterpret_cast requires return
short signed sizeof static static_assert static_cast struct switch template this thread_local
throw true try typedef typeid typename union unsigned using virtual void volatile wchar_t while
xor xor_eq final override import module NULL EOF errno assert stdin stdout stderr
""".split())


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

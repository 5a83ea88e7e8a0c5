"""Message templates of fault and event types.

A template is one line of text in which `{name}` stands for the value of a
property of the type (own or inherited) and `{a.b}` for property `b` of the
data object held in property `a`. `{{` and `}}` stand for literal braces.
The runtime renders the same syntax (movel/message.h); both sides must agree.
"""
import re

SEGMENT_RE = re.compile(r"^[A-Za-z_][A-Za-z0-9_]*$")


class TemplateError(ValueError):
    pass


def parse(text):
    """[("text", s) | ("arg", [segment, ...])]; raises TemplateError."""
    parts, literal, i, n = [], [], 0, len(text)
    while i < n:
        c = text[i]
        if c == "{":
            if text.startswith("{{", i):
                literal.append("{")
                i += 2
                continue
            end = text.find("}", i + 1)
            inner_open = text.find("{", i + 1)
            if end < 0 or (0 <= inner_open < end):
                raise TemplateError(f"unbalanced '{{' at column {i + 1} of the message")
            path = text[i + 1:end].strip()
            if not path:
                raise TemplateError(f"empty '{{}}' at column {i + 1} of the message")
            segments = path.split(".")
            for s in segments:
                if not SEGMENT_RE.match(s):
                    raise TemplateError(f"'{{{path}}}' is not a property name or dotted path")
            if literal:
                parts.append(("text", "".join(literal)))
                literal = []
            parts.append(("arg", segments))
            i = end + 1
        elif c == "}":
            if text.startswith("}}", i):
                literal.append("}")
                i += 2
                continue
            raise TemplateError(f"unbalanced '}}' at column {i + 1} of the message")
        else:
            literal.append(c)
            i += 1
    if literal:
        parts.append(("text", "".join(literal)))
    return parts


def arguments(text):
    """The dotted paths a valid template names, in order."""
    return [".".join(p) for kind, p in parse(text) if kind == "arg"]

"""Parser of the catalogue schema.

A catalogue is one `<namespace>.catalogue` file (version table and module
order) plus one `<module>.schema` file per module. Module files are indented
by two spaces per level:

    module kor

    data AboutInfo since=version1 readonly
      name: string loc
      instanceUuid: string? since=version5

    managed ServiceInstance
      content: ServiceInstanceContent priv=System.Anonymous
      method validateMigration -> kor.event.Event[]? wsdl=ValidateMigration throws=kor.fault.InvalidState
        vm: VirtualMachine[]
        state: VirtualMachine.PowerState?

    enum TaskInfo.State
      queued running success error

    fault FileNotFound : FileFault since=version1 msg="File {file} was not found"

A fault or data (event) type may carry a one-line message template,
`msg="..."` (see messages.py); inside the quotes \\" is a quote and \\\\ a
backslash, and '#' does not start a comment.

Type names are relative to the module; references are relative to the module
unless they start with the namespace ("kor.") or name a runtime type.
"""
import os
import re

from . import model
from .builtins import BUILTINS
from .model import Where


class SchemaError(Exception):
    def __init__(self, where, message):
        super().__init__(f"{where}: {message}")
        self.where = where
        self.message = message


NAME_RE = re.compile(r"^[A-Za-z_][A-Za-z0-9_]*(\.[A-Za-z_][A-Za-z0-9_]*)*$")
MEMBER_RE = re.compile(r"^([A-Za-z_][A-Za-z0-9_]*)\s*:\s*(\S+)(.*)$")
TYPE_RE = re.compile(r"^([A-Za-z_][A-Za-z0-9_.]*)(\[\])?(\?)?$")


def _strip_comment(line):
    """The line without its comment; a '#' inside double quotes is text."""
    quoted = False
    i = 0
    while i < len(line):
        c = line[i]
        if quoted and c == "\\":
            i += 2
            continue
        if c == '"':
            quoted = not quoted
        elif c == "#" and not quoted:
            return line[:i]
        i += 1
    return line


MSG_RE = re.compile(r'(^|\s)msg="((?:[^"\\]|\\.)*)"(?=\s|$)')


def _take_message(text, where):
    """Splits `msg="..."` off a type line: (rest of the line, template or None).
    Inside the quotes, \\" stands for a quote and \\\\ for a backslash."""
    found = list(MSG_RE.finditer(text))
    if len(found) > 1:
        raise SchemaError(where, "attribute 'msg=' given twice")
    if not found:
        if re.search(r'(^|\s)msg=', text):
            raise SchemaError(where, 'msg= takes a quoted text: msg="..." (unterminated quote?)')
        return text, None
    m = found[0]
    raw, out, i = m.group(2), [], 0
    while i < len(raw):
        if raw[i] == "\\":
            if raw[i + 1] not in '"\\':
                raise SchemaError(where, f"msg=: unknown escape '\\{raw[i + 1]}' (only \\\" and \\\\)")
            out.append(raw[i + 1])
            i += 2
        else:
            out.append(raw[i])
            i += 1
    message = "".join(out)
    if not message.strip():
        raise SchemaError(where, "msg= is empty")
    if any(ord(c) < 0x20 or ord(c) > 0x7E for c in message):
        raise SchemaError(where, "msg= holds printable ASCII only")
    rest = (text[:m.start()] + " " + text[m.end():]).strip()
    return rest, message


BOM = b"\xef\xbb\xbf"


def _read(path):
    """The bytes of a schema file; SchemaError when it cannot be read."""
    try:
        with open(path, "rb") as fh:
            return fh.read()
    except OSError as e:
        raise SchemaError(Where(path, 0), f"cannot read the file: {e.strerror}") from None


def _check_characters(text, where):
    """Outside comments the schema is printable ASCII: names, values and
    privileges land in C++ string literals and identifiers."""
    for c in text:
        if c != "\t" and not " " <= c <= "~":
            raise SchemaError(where, f"character U+{ord(c):04X} is not allowed (outside comments the schema "
                                     "is printable ASCII)")


def _lines(path):
    """(line number, indent, text) of each non-blank line."""
    data = _read(path)
    if data.startswith(BOM):
        raise SchemaError(Where(path, 1), "the file starts with a UTF-8 byte-order mark; save it without one")
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError as e:
        raise SchemaError(Where(path, data.count(b"\n", 0, e.start) + 1), "not UTF-8 text") from None
    for no, raw in enumerate(text.split("\n"), 1):
        line = _strip_comment(raw.rstrip("\r")).rstrip()
        if not line.strip():
            continue
        _check_characters(line, Where(path, no))
        if "\t" in line[:len(line) - len(line.lstrip())]:
            raise SchemaError(Where(path, no), "indent with spaces, not tabs")
        indent = len(line) - len(line.lstrip(" "))
        if indent % 2:
            raise SchemaError(Where(path, no), "indentation must be a multiple of two spaces")
        yield no, indent // 2, line.strip()


def _attrs(words, where, allowed_flags, allowed_keys):
    """Splits `flag` and `key=value` words; rejects the unknown ones."""
    flags, keys = set(), {}
    for w in words:
        if "=" in w:
            k, v = w.split("=", 1)
            if k not in allowed_keys:
                raise SchemaError(where, f"unknown attribute '{k}='")
            if not v:
                raise SchemaError(where, f"attribute '{k}=' needs a value")
            if k in keys:
                raise SchemaError(where, f"attribute '{k}=' given twice")
            keys[k] = v
        else:
            if w not in allowed_flags:
                raise SchemaError(where, f"unknown attribute '{w}'")
            if w in flags:
                raise SchemaError(where, f"attribute '{w}' given twice")
            flags.add(w)
    return flags, keys


class Parser:
    def __init__(self, namespace="kor"):
        self.namespace = namespace

    # -- names ---------------------------------------------------------------

    def version_name(self, short):
        """"version5" -> "kor.version.version5"; dotted names stay."""
        return short if "." in short else f"{self.namespace}.version.{short}"

    def resolve(self, name, module):
        """Absolute wire name of a type reference written in `module`."""
        if name in BUILTINS or name.startswith(self.namespace + "."):
            return name
        return module + "." + name

    def type_ref(self, text, module, where):
        m = TYPE_RE.match(text)
        if not m:
            raise SchemaError(where, f"malformed type '{text}' (expected NAME, NAME?, NAME[] or NAME[]?)")
        return model.TypeRef(self.resolve(m.group(1), module), bool(m.group(2)), bool(m.group(3)))

    # -- catalogue file ------------------------------------------------------

    def parse_catalogue(self, path):
        cat = model.Catalogue(catalogue_file=path)
        for no, indent, text in _lines(path):
            where = Where(path, no)
            if indent:
                raise SchemaError(where, "unexpected indentation")
            words = text.split()
            head, rest = words[0], words[1:]
            if head in ("namespace", "import", "task-type", "service-namespace", "module"):
                if len(rest) != 1:
                    raise SchemaError(where, f"'{head}' takes one name")
            if head in ("namespace", "module") and not NAME_RE.match(rest[0]):
                raise SchemaError(where, f"{head} name '{rest[0]}' is not a dotted name of identifiers")
            if head == "namespace":
                cat.namespace = rest[0]
                self.namespace = rest[0]
            elif head == "import":
                cat.imports.append(rest[0])
            elif head == "task-type":
                cat.task_type = rest[0]
            elif head == "service-namespace":
                cat.service_namespace = rest[0]
            elif head == "module":
                cat.loaders.append(model.Loader(where, rest[0]))
            elif head == "empty":
                if rest:
                    raise SchemaError(where, "'empty' takes nothing")
                cat.loaders.append(model.Loader(where, None))
            elif head == "version":
                if not rest:
                    raise SchemaError(where, "'version' needs a name")
                _, keys = _attrs(rest[1:], where, set(), {"wire-namespace", "id", "flags", "extends"})
                for k in ("wire-namespace", "id", "flags"):
                    if k not in keys:
                        raise SchemaError(where, f"version {rest[0]} needs {k}=")
                try:
                    flags = int(keys["flags"], 0)
                except ValueError:
                    raise SchemaError(where, f"flags '{keys['flags']}' is not a number") from None
                extends = keys["extends"].split(",") if "extends" in keys else []
                cat.versions.append(model.Version(where, rest[0], keys["wire-namespace"], keys["id"],
                                                  flags, extends))
            else:
                raise SchemaError(where, f"unknown statement '{head}'")
        if not cat.namespace:
            raise SchemaError(Where(path, 1), "the catalogue names no namespace")
        return cat

    # -- module files --------------------------------------------------------

    def parse_module(self, path, expected_module=None):
        module = None
        types = []
        current = None  # type being read
        method = None  # method being read
        for no, indent, text in _lines(path):
            where = Where(path, no)
            words = text.split()
            if module is None:
                if indent or words[0] != "module" or len(words) != 2:
                    raise SchemaError(where, "a module file starts with 'module NAME'")
                module = words[1]
                if expected_module and module != expected_module:
                    raise SchemaError(where, f"file declares module '{module}', expected '{expected_module}'")
                continue
            if indent == 0:
                rest, message = _take_message(text, where)
                current = self._type_header(rest.split(), module, where)
                current.message = message
                types.append(current)
                method = None
            elif current is None:
                raise SchemaError(where, "member outside a type")
            elif indent == 1:
                method = None
                if current.kind == "enum":
                    for v in words:
                        current.values.append(v)
                        current.value_lines.append(where)
                elif words[0] == "method":
                    if current.kind != "managed":
                        raise SchemaError(where, f"only managed types have methods ({current.kind} type {current.name})")
                    method = self._method(words[1:], module, where)
                    current.methods.append(method)
                else:
                    current.properties.append(self._property(text, module, where))
            elif indent == 2:
                if method is None:
                    raise SchemaError(where, "parameter outside a method")
                if words[0] == "override":
                    if len(words) != 3:
                        raise SchemaError(where, "'override' takes a managed type and a privilege")
                    method.overrides.append(model.Override(where, self.resolve(words[1], module), words[2]))
                else:
                    method.params.append(self._param(text, module, where))
            else:
                raise SchemaError(where, "too deeply indented")
        if module is None:
            raise SchemaError(Where(path, 1), "empty module file")
        return module, types

    def _type_header(self, words, module, where):
        kind = words[0]
        if kind not in model.KIND_NAMES:
            raise SchemaError(where, f"unknown type kind '{kind}' (expected data, fault, managed or enum)")
        if len(words) < 2 or not NAME_RE.match(words[1]):
            raise SchemaError(where, f"'{kind}' needs a type name")
        name = module + "." + words[1]
        rest = words[2:]
        parent = parent_where = None
        if rest and rest[0] == ":":
            if len(rest) < 2:
                raise SchemaError(where, "':' needs a parent type")
            parent, parent_where, rest = self.resolve(rest[1], module), where, rest[2:]
        flags, keys = _attrs(rest, where, {"readonly"}, {"wsdl", "since"})
        if "since" not in keys:
            raise SchemaError(where, f"type {name} needs since=")
        t = model.Type(where, kind, module, name, keys.get("wsdl", ""), self.version_name(keys["since"]),
                       parent, "readonly" in flags, parent_where=parent_where)
        if kind == "enum" and (parent or flags):
            raise SchemaError(where, "an enumeration has no parent and no readonly mark")
        return t

    def _property(self, text, module, where):
        m = MEMBER_RE.match(text)
        if not m:
            raise SchemaError(where, "expected 'name: TYPE attributes' or 'method ...'")
        name, type_text, rest = m.groups()
        flags, keys = _attrs(rest.split(), where,
                             {"ro", "rw", "link", "linkable", "secret", "stat", "loc"}, {"priv", "since"})
        if "ro" in flags and "rw" in flags:
            raise SchemaError(where, "a property is either ro or rw")
        p = model.Property(where, name, self.type_ref(type_text, module, where))
        p.read_only = True if "ro" in flags else False if "rw" in flags else None
        p.link, p.linkable = "link" in flags, "linkable" in flags
        p.secret, p.statistics, p.localizable = "secret" in flags, "stat" in flags, "loc" in flags
        p.privilege = keys.get("priv")
        p.version = self.version_name(keys["since"]) if "since" in keys else None
        return p

    def _param(self, text, module, where):
        m = MEMBER_RE.match(text)
        if not m:
            raise SchemaError(where, "expected 'name: TYPE attributes' or 'override TYPE PRIVILEGE'")
        name, type_text, rest = m.groups()
        flags, keys = _attrs(rest.split(), where, {"secret"}, {"priv", "since"})
        p = model.Param(where, name, self.type_ref(type_text, module, where), "secret" in flags,
                        keys.get("priv"))
        p.version = self.version_name(keys["since"]) if "since" in keys else None
        return p

    def _method(self, words, module, where):
        if not words or not re.match(r"^[A-Za-z_][A-Za-z0-9_]*$", words[0]):
            raise SchemaError(where, "'method' needs a name")
        m = model.Method(where, words[0])
        rest = words[1:]
        if rest and rest[0] == "->":
            if len(rest) < 2:
                raise SchemaError(where, "'->' needs a result type")
            m.result = self.type_ref(rest[1], module, where)
            rest = rest[2:]
        flags, keys = _attrs(rest, where, {"task", "internal", "secret"}, {"wsdl", "priv", "throws", "since"})
        m.task, m.internal, m.result_secret = "task" in flags, "internal" in flags, "secret" in flags
        m.wsdl_given = "wsdl" in keys
        m.wsdl = keys.get("wsdl") or (m.name[:1].upper() + m.name[1:] + ("_Task" if m.task else ""))
        m.privilege = keys.get("priv")
        m.version = self.version_name(keys["since"]) if "since" in keys else None
        m.faults = [self.resolve(f, module) for f in keys["throws"].split(",")] if "throws" in keys else []
        if m.result_secret and m.result is None:
            raise SchemaError(where, "'secret' marks the result, but the method has none")
        return m


def load(schema_dir):
    """Parses the catalogue in schema_dir: exactly one *.catalogue file and one
    <module>.schema file per module it names. Raises SchemaError."""
    try:
        entries = os.listdir(schema_dir)
    except OSError as e:
        raise SchemaError(Where(schema_dir, 0), f"cannot read the schema folder: {e.strerror}") from None
    catalogues = sorted(f for f in entries if f.endswith(".catalogue"))
    if len(catalogues) != 1:
        raise SchemaError(Where(schema_dir, 0), "expected exactly one .catalogue file")
    parser = Parser()
    cat = parser.parse_catalogue(os.path.join(schema_dir, catalogues[0]))
    named = [l.module for l in cat.loaders if l.module]
    for loader in cat.loaders:
        if loader.module is None:
            continue
        path = os.path.join(schema_dir, loader.module + ".schema")
        if loader.module in cat.modules:
            raise SchemaError(loader.where, f"module {loader.module} listed twice")
        if not os.path.exists(path):
            raise SchemaError(loader.where, f"module {loader.module} has no file {loader.module}.schema")
        module, types = parser.parse_module(path, loader.module)
        cat.modules[module] = types
        cat.module_files[module] = path
    for f in sorted(os.listdir(schema_dir)):
        if f.endswith(".schema") and f[:-len(".schema")] not in named:
            raise SchemaError(Where(os.path.join(schema_dir, f), 1),
                              f"module file is not listed in {os.path.basename(cat.catalogue_file)}")
    return cat

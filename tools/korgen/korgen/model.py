"""The catalogue as the generator sees it, after parsing.

Every object remembers where it was written (file, line) so that validation
can point at it.
"""
from dataclasses import dataclass, field
from typing import Dict, List, Optional

# Property, parameter and result flags.
ARRAY = 0x001
OPTIONAL = 0x002
READ_ONLY = 0x004
LINKABLE = 0x010
LINK = 0x020
SECRET = 0x200
STATISTICS = 0x400

# Method flags.
TASK = 0x001
INTERNAL = 0x100

# TypeInfo kinds.
KIND_ENUM = 15
KIND_DATA = 16
KIND_FAULT = 17
KIND_MANAGED = 18
KIND_NAMES = {"enum": KIND_ENUM, "data": KIND_DATA, "fault": KIND_FAULT, "managed": KIND_MANAGED}


@dataclass
class Where:
    file: str
    line: int

    def __str__(self):
        return f"{self.file}:{self.line}"


@dataclass
class TypeRef:
    """A reference to a type as written: resolved name plus array/optional marks."""
    name: str
    array: bool = False
    optional: bool = False


@dataclass
class Property:
    where: Where
    name: str
    type: TypeRef
    read_only: Optional[bool] = None  # None: the owning type's default
    link: bool = False
    linkable: bool = False
    secret: bool = False
    statistics: bool = False
    localizable: bool = False
    privilege: Optional[str] = None
    version: Optional[str] = None  # None: the owning type's version

    def flags(self, read_only_default: bool) -> int:
        f = 0
        if self.type.array:
            f |= ARRAY
        if self.type.optional:
            f |= OPTIONAL
        if self.read_only if self.read_only is not None else read_only_default:
            f |= READ_ONLY
        if self.linkable:
            f |= LINKABLE
        if self.link:
            f |= LINK
        if self.secret:
            f |= SECRET
        if self.statistics:
            f |= STATISTICS
        return f


@dataclass
class Param:
    where: Where
    name: str
    type: TypeRef
    secret: bool = False
    privilege: Optional[str] = None
    version: Optional[str] = None  # None: the method's version

    def flags(self) -> int:
        return (ARRAY if self.type.array else 0) | (OPTIONAL if self.type.optional else 0) | (
            SECRET if self.secret else 0)


@dataclass
class Override:
    where: Where
    type_name: str
    privilege: str


@dataclass
class Method:
    where: Where
    name: str
    wsdl: Optional[str] = None  # None: derived from the name and the task flag
    result: Optional[TypeRef] = None
    result_secret: bool = False
    privilege: Optional[str] = None
    task: bool = False
    internal: bool = False
    version: Optional[str] = None
    faults: List[str] = field(default_factory=list)
    params: List[Param] = field(default_factory=list)
    overrides: List[Override] = field(default_factory=list)
    wsdl_given: bool = False

    def flags(self) -> int:
        return (TASK if self.task else 0) | (INTERNAL if self.internal else 0)


@dataclass
class Type:
    where: Where
    kind: str  # "data", "fault", "managed", "enum"
    module: str
    name: str  # wire name, "kor.host.PortGroup"
    wsdl: str = ""
    version: str = ""
    parent: Optional[str] = None  # wire name of the parent, or a runtime root
    read_only: bool = False  # default read-only mark of the properties
    properties: List[Property] = field(default_factory=list)
    methods: List[Method] = field(default_factory=list)
    values: List[str] = field(default_factory=list)
    value_lines: List[Where] = field(default_factory=list)
    parent_where: Optional[Where] = None
    # Message template (`msg="..."`) of a fault or event type, or None.
    message: Optional[str] = None

    @property
    def kind_word(self) -> int:
        return KIND_NAMES[self.kind]

    @property
    def is_data(self) -> bool:
        return self.kind in ("data", "fault")


@dataclass
class Version:
    where: Where
    name: str
    wire_namespace: str
    version_id: str
    flags: int
    extends: List[str]


@dataclass
class Loader:
    where: Where
    module: Optional[str]  # None: a loader that registers nothing


@dataclass
class Catalogue:
    namespace: str = ""
    imports: List[str] = field(default_factory=list)
    task_type: str = ""
    service_namespace: str = ""
    versions: List[Version] = field(default_factory=list)
    loaders: List[Loader] = field(default_factory=list)
    catalogue_file: str = ""
    # Types per module in declaration order, modules in file order.
    modules: Dict[str, List[Type]] = field(default_factory=dict)
    module_files: Dict[str, str] = field(default_factory=dict)
    types: Dict[str, Type] = field(default_factory=dict)

    def all_types(self):
        for types in self.modules.values():
            yield from types

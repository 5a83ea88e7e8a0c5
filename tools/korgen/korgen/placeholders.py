"""Members typed with a placeholder: `anyType` or `tydef.KeyAnyValue`.

Such a member says nothing about what it holds, so each use must either be
replaced by the catalogue type the domain names or carry, on its schema line,
a comment starting with `# any:` that says why no narrower type fits:

    value: anyType?  # any: an option is a string, number, boolean or data object

`python3 -m korgen --schema DIR --placeholders` lists every use and exits 1
when one of them gives no reason.
"""
from dataclasses import dataclass
from typing import Optional

PLACEHOLDER_TYPES = ("anyType", "tydef.KeyAnyValue")
REASON_MARK = "# any:"


@dataclass
class Use:
    where: object  # model.Where
    member: str  # "kor.option.OptionValue.value", "kor.Folder.create(spec)", "kor.Folder.find -> result"
    type_name: str
    reason: Optional[str]  # None when the line gives none


def _reason(lines, where):
    """The text after the reason mark on the member's line, or None."""
    if where.line < 1 or where.line > len(lines):
        return None
    line = lines[where.line - 1]
    i = line.find(REASON_MARK)
    if i < 0:
        return None
    text = line[i + len(REASON_MARK):].strip()
    return text or None


def find_uses(cat):
    """Every property, parameter and result typed with a placeholder, in file order."""
    uses, files = [], {}

    def lines_of(path):
        if path not in files:
            try:
                with open(path, encoding="utf-8") as fh:
                    files[path] = fh.read().split("\n")
            except OSError:
                files[path] = []
        return files[path]

    def add(where, member, ref):
        if ref is not None and ref.name in PLACEHOLDER_TYPES:
            uses.append(Use(where, member, ref.name, _reason(lines_of(where.file), where)))

    for t in cat.all_types():
        for p in t.properties:
            add(p.where, f"{t.name}.{p.name}", p.type)
        for m in t.methods:
            add(m.where, f"{t.name}.{m.name} -> result", m.result)
            for p in m.params:
                add(p.where, f"{t.name}.{m.name}({p.name})", p.type)
    uses.sort(key=lambda u: (u.where.file, u.where.line))
    return uses


def report(cat, out):
    """Writes one line per use; returns the number of uses without a reason."""
    uses = find_uses(cat)
    missing = 0
    for u in uses:
        if u.reason is None:
            missing += 1
            out.write(f"{u.where}: {u.member} is typed {u.type_name} and gives no reason "
                      f"(name the real type, or say why with '{REASON_MARK} ...')\n")
        else:
            out.write(f"{u.where}: {u.member} is typed {u.type_name}: {u.reason}\n")
    out.write(f"korgen: {len(uses)} placeholder use(s), {missing} without a reason\n")
    return missing

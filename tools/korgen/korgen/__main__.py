"""korgen: validate the catalogue schema and emit the C++ bindings.

    python3 -m korgen --schema schema --out build/types           # generate
    python3 -m korgen --schema schema --check                      # validate only
    python3 -m korgen --schema schema --out DIR --list-outputs     # file list

Schema mistakes are reported as `file:line: message`, exit status 1, and
nothing is written. Files whose content did not change are left untouched, so
an edit to one module rebuilds only what depends on it.
"""
import argparse
import os
import sys

from . import consistency
from . import placeholders
from . import parser as schema_parser
from .context import Context
from .emit import files as emit_files
from .validate import validate


def header_cycles(ctx):
    """Classes whose definitions need each other cannot be emitted; find them."""
    errors, state = [], {}

    def visit(name, stack):
        state[name] = 1
        stack.append(name)
        for dep in ctx.header_deps(ctx.types[name]):
            if state.get(dep) == 1:
                cycle = stack[stack.index(dep):] + [dep]
                t = ctx.types[name]
                errors.append((t.where, "class definitions depend on each other: " + " -> ".join(cycle)))
            elif dep not in state:
                visit(dep, stack)
        stack.pop()
        state[name] = 2

    for t in ctx.cat.all_types():
        if t.name not in state:
            visit(t.name, [])
    return errors


def load_and_check(schema_dir, chunk_types=40):
    cat = schema_parser.load(schema_dir)
    errors = validate(cat)
    ctx = Context(cat, chunk_types)
    if not errors:
        errors = header_cycles(ctx)
    return ctx, errors


def write_outputs(out_dir, outputs):
    """Writes changed files and removes generated files no longer produced."""
    written = 0
    for rel, content in sorted(outputs.items()):
        path = os.path.join(out_dir, rel)
        try:
            with open(path, encoding="utf-8") as fh:
                if fh.read() == content:
                    continue
        except FileNotFoundError:
            pass
        os.makedirs(os.path.dirname(path), exist_ok=True)
        tmp = path + ".tmp"
        with open(tmp, "w", encoding="utf-8") as fh:
            fh.write(content)
        os.replace(tmp, path)
        written += 1
    keep = {os.path.normpath(os.path.join(out_dir, r)) for r in outputs}
    for top in ("include/kortypes", "src"):
        root = os.path.join(out_dir, top)
        for dirpath, _, filenames in os.walk(root):
            for f in filenames:
                p = os.path.normpath(os.path.join(dirpath, f))
                if p not in keep and f.endswith((".h", ".cpp", ".tmp")):
                    os.remove(p)
    return written


def main(argv=None):
    ap = argparse.ArgumentParser(prog="korgen", description=__doc__.splitlines()[0])
    ap.add_argument("--schema", required=True, help="folder holding the .catalogue and .schema files")
    ap.add_argument("--out", help="output folder (include/ and src/ are made below it)")
    ap.add_argument("--check", action="store_true", help="validate only")
    ap.add_argument("--list-outputs", action="store_true", help="print the files that would be written")
    ap.add_argument("--chunk-types", type=int, default=40, help="types per generated source file")
    ap.add_argument("--type-list", help="check the types against this catalogue list (TSV)")
    ap.add_argument("--complete", default="",
                    help="comma-separated modules that must declare every listed type, or 'all'")
    ap.add_argument("--flag-list", help="check the special flags against this list (TSV)")
    ap.add_argument("--placeholders", action="store_true",
                    help="list the members typed anyType or tydef.KeyAnyValue; exit 1 if one gives no reason")
    args = ap.parse_args(argv)
    if args.chunk_types < 1:
        ap.error("--chunk-types must be at least 1")
    try:
        ctx, errors = load_and_check(args.schema, args.chunk_types)
    except schema_parser.SchemaError as e:
        print(str(e), file=sys.stderr)
        return 1
    complete = [m for m in args.complete.split(",") if m]
    if complete == ["all"]:
        complete = list(ctx.cat.modules)
    if not errors and args.type_list:
        errors += consistency.check_type_list(ctx.cat, args.type_list, complete)
    if not errors and args.flag_list:
        errors += consistency.check_special_flags(ctx.cat, args.flag_list, complete)
    if errors:
        for where, message in errors:
            print(f"{where}: {message}", file=sys.stderr)
        print(f"korgen: {len(errors)} error(s); nothing written", file=sys.stderr)
        return 1
    if args.placeholders:
        return 1 if placeholders.report(ctx.cat, sys.stdout) else 0
    if args.check:
        return 0
    if not args.out:
        ap.error("--out is required unless --check is given")
    outputs = emit_files.generate(ctx)
    if args.list_outputs:
        for rel in sorted(outputs):
            print(os.path.join(args.out, rel))
        return 0
    written = write_outputs(args.out, outputs)
    print(f"korgen: {len(outputs)} files, {written} updated", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())

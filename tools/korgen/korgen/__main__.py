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

from . import consistency, identifiers, outputs, placeholders
from . import parser as schema_parser
from .context import Context
from .emit import files as emit_files
from .validate import validate


# Compilers stop at 200 nested #include (GCC and Clang alike); a type's
# header includes its parent's and its enclosing class's, and the runtime and
# standard headers below them take some levels too.
MAX_INCLUDE_DEPTH = 180


def header_cycles(ctx):
    """Classes whose definitions need each other cannot be emitted, and a
    chain of headers each including the next cannot nest deeper than the
    compilers allow; find both. Walks without recursion: parent chains may
    be thousands of types long."""
    errors, state, depth = [], {}, {}
    for t in ctx.cat.all_types():
        if t.name in state:
            continue
        state[t.name] = 1
        path = [t.name]
        pending = [iter(ctx.header_deps(t))]
        while pending:
            dep = next(pending[-1], None)
            if dep is None:
                name = path.pop()
                pending.pop()
                state[name] = 2
                depth[name] = 1 + max((depth.get(d, 0) for d in ctx.header_deps(ctx.types[name])), default=0)
                if depth[name] == MAX_INCLUDE_DEPTH + 1:
                    errors.append((ctx.types[name].where, f"the header of {name} would include headers "
                                   f"more than {MAX_INCLUDE_DEPTH} deep (its parents and enclosing "
                                   "classes); compilers stop at 200"))
            elif state.get(dep) == 1:
                cycle = path[path.index(dep):] + [dep]
                errors.append((ctx.types[path[-1]].where,
                               "class definitions depend on each other: " + " -> ".join(cycle)))
            elif dep not in state:
                state[dep] = 1
                path.append(dep)
                pending.append(iter(ctx.header_deps(ctx.types[dep])))
    return errors


def load_and_check(schema_dir, chunk_types=40):
    cat = schema_parser.load(schema_dir)
    errors = validate(cat)
    ctx = Context(cat, chunk_types)
    if not errors:
        errors = header_cycles(ctx) or identifiers.check(cat)
    return ctx, errors


def write_outputs(out_dir, files):
    """Writes changed files and removes the files of earlier runs that are no
    longer produced (see outputs)."""
    return outputs.write(out_dir, files)


def printable(text):
    """One line of text: control characters quoted from input (type and
    flag lists, file names) are shown escaped."""
    return "".join(c if c >= " " and c != "\x7f" else f"\\x{ord(c):02x}" for c in text)


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
    if args.out and not args.check and not args.list_outputs and outputs.check_out_dir(args.out):
        where, message = outputs.check_out_dir(args.out)
        print(printable(f"{where}: {message}"), file=sys.stderr)
        return 1
    try:
        ctx, errors = load_and_check(args.schema, args.chunk_types)
        complete = [m for m in args.complete.split(",") if m]
        if complete == ["all"]:
            complete = list(ctx.cat.modules)
        if not errors and args.type_list:
            errors += consistency.check_type_list(ctx.cat, args.type_list, complete)
        if not errors and args.flag_list:
            errors += consistency.check_special_flags(ctx.cat, args.flag_list, complete)
    except schema_parser.SchemaError as e:
        print(printable(str(e)), file=sys.stderr)
        return 1
    generated = None
    if not errors and args.out and not args.check:
        generated = emit_files.generate(ctx)
        errors = outputs.check_paths(ctx, args.out, generated)
    if errors:
        for where, message in errors:
            print(printable(f"{where}: {message}"), file=sys.stderr)
        print(f"korgen: {len(errors)} error(s); nothing written", file=sys.stderr)
        return 1
    if args.placeholders:
        return 1 if placeholders.report(ctx.cat, sys.stdout) else 0
    if args.check:
        return 0
    if not args.out:
        ap.error("--out is required unless --check is given")
    if args.list_outputs:
        for rel in sorted(generated):
            print(os.path.join(args.out, rel))
        return 0
    try:
        written = write_outputs(args.out, generated)
    except outputs.OutputError as e:
        print(printable(str(e)), file=sys.stderr)
        return 1
    print(f"korgen: {len(generated)} files, {written} updated", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())

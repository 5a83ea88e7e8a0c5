"""A coverage-guided mutational fuzzer for korgen's schema parser, validator
and emitters.

    cd tools/korgen && python3 fuzz/fuzz.py --seconds 600

Each input is a bundle of schema files: lines `=== NAME` start a file
(`t.catalogue`, `t.schema`, ...); text before the first marker is t.schema.
Every input runs through korgen in this process, writing into a fresh output
folder, and must end one of two ways:
- exit status 0, with the output written;
- exit status 1, every message `file:line: message` (then the count line),
  and the output folder not created.
Anything else fails the run: an exception (a traceback), another status, a
message of another form, files written despite errors, or an input running
longer than --timeout seconds (a hang). The failing input is saved under
--crashes, and the run exits 1.

Feedback is line coverage of the korgen package, taken with sys.settrace:
pairs of consecutive lines executed in one function. An input that reaches a
pair no earlier input reached joins the corpus, and mutations (bytes, lines,
schema tokens, splices of two inputs) start from the corpus. The seeds are
the bundles in fuzz/corpus and the sample schema in testdata/sample; with
--save-corpus, new inputs are written back to fuzz/corpus.
"""
import argparse
import contextlib
import hashlib
import io
import os
import random
import re
import shutil
import signal
import sys
import tempfile
import time
import traceback

FUZZ_DIR = os.path.dirname(os.path.abspath(__file__))
KORGEN_ROOT = os.path.dirname(FUZZ_DIR)
PACKAGE_DIR = os.path.join(KORGEN_ROOT, "korgen")
sys.path.insert(0, KORGEN_ROOT)

from korgen.__main__ import main as korgen_main  # noqa: E402

MARKER = b"=== "
MAX_INPUT = 16384
MESSAGE_RE = re.compile(r"^.+:\d+: \S.*$")
COUNT_RE = re.compile(r"^korgen: \d+ error\(s\); nothing written$")

# Words the mutator splices in: the schema's own vocabulary, names the
# generator maps specially, and bytes that text handling gets wrong.
TOKENS = [
    b"data", b"fault", b"managed", b"enum", b"method", b"module", b"override", b"namespace", b"import",
    b"version", b"empty", b"task-type", b"service-namespace", b"since=v1", b"since=v2", b"since=v9",
    b"since=tydef.version.version0", b"readonly", b"ro", b"rw", b"link", b"linkable", b"secret", b"stat",
    b"loc", b"task", b"internal", b"priv=System.Read", b"priv=dynamic", b"wsdl=Op", b"wsdl=Op_Task",
    b"throws=Problem", b"throws=tydef.fault.RequestCanceled", b"->", b":", b"[]", b"?", b"[]?", b".", b"=",
    b"string", b"int", b"long", b"boolean", b"byte", b"short", b"float", b"double", b"dateTime", b"binary",
    b"typeName", b"methodName", b"propertyPath", b"uri", b"anyType", b"tydef.DynamicData",
    b"tydef.DynamicProperty", b"tydef.MethodFault", b"tydef.RuntimeFault", b"tydef.ManagedObject",
    b"tydef.LocalizableMessage", b"tydef.fault.InvalidArgument", b"t.Base", b"t.sub.S", b"Base", b"Thing",
    b"Problem", b"A.B", b"A.B.C", b"dynamicProperty", b"Exception", b"Throw", b"incRef", b"getName",
    b"class", b"delete", b"delete_", b"new", b"EOF", b"linux", b"unix", b"Movel", b"Basekit", b"std",
    b"kortypes_detail", b"T", b"_X", b"__x", b"1a", b"_1a", b"x" * 300, b"extends=t.version.v1",
    b"flags=0x100", b"flags=99999999", b"id=1.0", b"wire-namespace=t1", b"#", b"\t", b"\r", b"\x00",
    b"\xef\xbb\xbf", b"\xff", b"\xc3\xa9", b"\xe2\x80\xa8", b"\x0c", b"  ", b"    ", b"      ", b"\n",
]


# -- coverage ----------------------------------------------------------------

class Coverage:
    """Pairs of consecutive lines run in the korgen package."""

    def __init__(self):
        self.edges = set()
        self.lines = set()
        self._current = None

    def _local(self, frame, event, arg):
        if event == "line":
            key = (frame.f_code.co_filename, frame.f_lineno)
            prev = self._last.get(frame)
            self._current.add((key, prev))
            self._last[frame] = frame.f_lineno
        return self._local

    def _global(self, frame, event, arg):
        if frame.f_code.co_filename.startswith(PACKAGE_DIR):
            return self._local
        return None

    @contextlib.contextmanager
    def tracing(self):
        self._current, self._last = set(), {}
        sys.settrace(self._global)
        try:
            yield
        finally:
            sys.settrace(None)

    def merge(self):
        """Adds the last run's pairs; True when one of them is new."""
        new = self._current - self.edges
        self.edges |= new
        self.lines |= {key for key, _ in new}
        return bool(new)


def executable_lines():
    """Every line of the korgen package that can run."""
    total = set()
    for dirpath, _, filenames in os.walk(PACKAGE_DIR):
        for f in filenames:
            if not f.endswith(".py"):
                continue
            path = os.path.join(dirpath, f)
            with open(path, encoding="utf-8") as fh:
                code = compile(fh.read(), path, "exec")
            stack = [code]
            while stack:
                c = stack.pop()
                total |= {(path, line) for _, _, line in c.co_lines() if line is not None}
                stack += [k for k in c.co_consts if hasattr(k, "co_lines")]
    return total


# -- inputs --------------------------------------------------------------------

def unbundle(data):
    """{file name: bytes} of a bundle."""
    files, name, chunk = {}, "t.schema", []
    for line in data.splitlines(keepends=True):
        if line.startswith(MARKER):
            files[name] = files.get(name, b"") + b"".join(chunk)
            name = line[len(MARKER):].strip().decode("ascii", "replace")
            chunk = []
        else:
            chunk.append(line)
    files[name] = files.get(name, b"") + b"".join(chunk)
    if not files["t.schema"] and len(files) > 1:
        del files["t.schema"]
    return files


def bundle_dir(path):
    out = b""
    for f in sorted(os.listdir(path)):
        with open(os.path.join(path, f), "rb") as fh:
            out += MARKER + f.encode() + b"\n" + fh.read()
    return out


# Bundle names that are not schema files: the type and flag lists handed to
# korgen, and a file standing where the output folder should be made.
SPECIAL = {"@types": "--type-list", "@flags": "--flag-list", "@out": None}


def _snapshot(path):
    """What is at path: None, the bytes of a file, or a folder's listing."""
    if os.path.isfile(path):
        with open(path, "rb") as fh:
            return fh.read()
    if os.path.isdir(path):
        return sorted(os.path.relpath(os.path.join(d, f), path) for d, _, fs in os.walk(path) for f in fs)
    return None


class Timeout(Exception):
    pass


def _alarm(signum, frame):
    raise Timeout()


class Runner:
    def __init__(self, work, timeout):
        self.work = work
        self.timeout = timeout
        self.count = 0
        self.accepted = 0  # inputs that generated
        self.last_accepted = False

    def run(self, data, coverage):
        """None when the input keeps the invariant, else what went wrong."""
        self.count += 1
        self.last_accepted = False
        case = os.path.join(self.work, "case")
        if os.path.exists(case):
            shutil.rmtree(case)
        schema, out = os.path.join(case, "schema"), os.path.join(case, "out")
        os.makedirs(schema)
        options = []
        for name, content in unbundle(data).items():
            # A bundle names files of its folder, never paths outside it.
            folder = name.endswith("/")
            name = name.rstrip("/")
            if folder and os.path.isfile(os.path.join(schema, name)):
                os.remove(os.path.join(schema, name))
            if not name or "/" in name or name in (".", "..") or "\x00" in name:
                continue
            path = os.path.join(schema, name)
            if name in SPECIAL:
                option, path = SPECIAL[name], os.path.join(case, name[1:])
                if option:
                    options += [option, path]
            try:
                if folder:
                    os.mkdir(path)
                else:
                    with open(path, "wb") as fh:
                        fh.write(content)
            except OSError:
                continue  # a name the file system refuses: the file is missing
        out_before = _snapshot(out)
        stdout, stderr = io.StringIO(), io.StringIO()
        signal.signal(signal.SIGALRM, _alarm)
        signal.setitimer(signal.ITIMER_REAL, self.timeout)
        try:
            with coverage.tracing(), contextlib.redirect_stdout(stdout), contextlib.redirect_stderr(stderr):
                code = korgen_main(["--schema", schema, "--out", out, "--chunk-types", "3"] + options)
        except Timeout:
            return f"no answer within {self.timeout} s (a hang)"
        except SystemExit as e:
            return f"exited through SystemExit({e.code!r}):\n{stderr.getvalue()}"
        except BaseException:
            return "traceback:\n" + traceback.format_exc()
        finally:
            signal.setitimer(signal.ITIMER_REAL, 0)
        err = stderr.getvalue()
        if code == 0:
            self.accepted += 1
            self.last_accepted = True
            if not os.path.isdir(out) or not os.listdir(out):
                return "exit status 0 but nothing written"
            left = [f for f in _snapshot(out) if f.endswith(".korgen-tmp")]
            if left:
                return "temporary files left behind: " + ", ".join(left)
            return None
        if code != 1:
            return f"exit status {code!r}:\n{err}"
        lines = err.splitlines()
        if not lines:
            return "exit status 1 without a message"
        bad = [l for l in lines[:-1] if not MESSAGE_RE.match(l)]
        if len(lines) > 1 and not COUNT_RE.match(lines[-1]):
            bad.append(lines[-1])
        if len(lines) == 1 and not MESSAGE_RE.match(lines[0]):
            bad.append(lines[0])
        if bad:
            return "messages not in the form file:line: message:\n" + "\n".join(bad)
        if _snapshot(out) != out_before:
            return f"errors reported but the output folder was changed:\n{err}"
        return None


# -- mutations -------------------------------------------------------------------

def mutate(rng, data, corpus):
    data = bytearray(data)
    for _ in range(rng.choice((1, 1, 1, 1, 2, 3))):
        op = rng.randrange(13)
        lines = bytes(data).splitlines(keepends=True)
        if op == 0 and data:  # flip a byte
            i = rng.randrange(len(data))
            data[i] = rng.randrange(256)
        elif op == 1:  # insert a token
            i = rng.randrange(len(data) + 1)
            data[i:i] = rng.choice(TOKENS) + (b" " if rng.random() < 0.5 else b"")
        elif op == 2 and data:  # delete a range
            i = rng.randrange(len(data))
            del data[i:i + rng.randrange(1, 16)]
        elif op == 3 and lines:  # delete a line
            del lines[rng.randrange(len(lines))]
            data = bytearray(b"".join(lines))
        elif op == 4 and lines:  # duplicate a line
            i = rng.randrange(len(lines))
            lines.insert(rng.randrange(len(lines) + 1), lines[i])
            data = bytearray(b"".join(lines))
        elif op == 5 and len(lines) > 1:  # swap two lines
            i, j = rng.randrange(len(lines)), rng.randrange(len(lines))
            lines[i], lines[j] = lines[j], lines[i]
            data = bytearray(b"".join(lines))
        elif op == 6 and lines:  # replace a word by a token
            i = rng.randrange(len(lines))
            words = re.split(rb"(\s+)", lines[i])
            spots = [k for k, w in enumerate(words) if w.strip()]
            if spots:
                words[rng.choice(spots)] = rng.choice(TOKENS)
                lines[i] = b"".join(words)
                data = bytearray(b"".join(lines))
        elif op == 7 and lines:  # change a line's indentation
            i = rng.randrange(len(lines))
            lines[i] = b"  " * rng.randrange(4) + lines[i].lstrip(b" ")
            data = bytearray(b"".join(lines))
        elif op == 8 and corpus:  # splice lines of another input
            other = rng.choice(corpus).splitlines(keepends=True)
            if other:
                i = rng.randrange(len(other))
                piece = other[i:i + rng.randrange(1, 6)]
                at = rng.randrange(len(lines) + 1)
                lines[at:at] = piece
                data = bytearray(b"".join(lines))
        elif op == 9 and lines:  # repeat a line many times
            i = rng.randrange(len(lines))
            lines[i:i + 1] = [lines[i]] * rng.randrange(2, 40)
            data = bytearray(b"".join(lines))
        elif op == 11 and lines:  # stretch a word far past usual lengths
            i = rng.randrange(len(lines))
            m = list(re.finditer(rb"[A-Za-z_][A-Za-z0-9_]*", lines[i]))
            if m:
                w = rng.choice(m)
                lines[i] = lines[i][:w.end()] + w.group(0)[-1:] * rng.choice((50, 120, 260, 5000)) + lines[i][w.end():]
                data = bytearray(b"".join(lines))
        elif op == 12:  # a file turned into a folder, or a list or folder added
            data += rng.choice((b"=== t.sub.schema/\n", b"=== @out\nx\n", b"=== @types\n", b"=== @flags\n",
                                b"=== t.schema/\n"))
        elif op == 10 and data:  # duplicate a range
            i = rng.randrange(len(data))
            piece = data[i:i + rng.randrange(1, 64)]
            j = rng.randrange(len(data) + 1)
            data[j:j] = piece
    return bytes(data[:MAX_INPUT])


# -- driver ------------------------------------------------------------------------

def load_seeds(corpus_dir):
    seeds = []
    for f in sorted(os.listdir(corpus_dir)):
        with open(os.path.join(corpus_dir, f), "rb") as fh:
            seeds.append(fh.read())
    seeds.append(bundle_dir(os.path.join(KORGEN_ROOT, "testdata", "sample")))
    return seeds


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--seconds", type=float, default=60, help="how long to fuzz")
    ap.add_argument("--max-execs", type=int, default=0, help="stop after this many inputs (0: no limit)")
    ap.add_argument("--seed", type=int, default=None, help="random seed (default: from the clock)")
    ap.add_argument("--timeout", type=float, default=10, help="seconds one input may take")
    ap.add_argument("--corpus", default=os.path.join(FUZZ_DIR, "corpus"), help="seed bundles")
    ap.add_argument("--crashes", default=os.path.join(FUZZ_DIR, "crashes"), help="where failing inputs go")
    ap.add_argument("--save-corpus", action="store_true", help="write inputs that found new coverage to --corpus")
    ap.add_argument("--replay", nargs="*", default=None, help="only run these input files and report")
    args = ap.parse_args(argv)
    seed = args.seed if args.seed is not None else int(time.time())
    rng = random.Random(seed)
    coverage = Coverage()
    failures = 0
    with tempfile.TemporaryDirectory() as work:
        runner = Runner(work, args.timeout)

        def check(data, origin):
            nonlocal failures
            problem = runner.run(data, coverage)
            new = coverage.merge()
            if problem is not None:
                failures += 1
                os.makedirs(args.crashes, exist_ok=True)
                name = os.path.join(args.crashes, hashlib.sha1(data).hexdigest()[:16] + ".bundle")
                with open(name, "wb") as fh:
                    fh.write(data)
                print(f"FAILURE ({origin}) saved as {name}:\n{problem[-3000:]}", file=sys.stderr)
            return new and problem is None

        if args.replay is not None:
            for path in args.replay:
                with open(path, "rb") as fh:
                    check(fh.read(), path)
            print(f"replayed {len(args.replay)} input(s): {failures} failure(s)")
            return 1 if failures else 0

        # Inputs that generate reach the emitters and the writing of files;
        # half of the mutations start from one of them.
        corpus, generating = [], []
        for data in load_seeds(args.corpus):
            check(data, "seed")
            corpus.append(data)
            if runner.last_accepted:
                generating.append(data)
        seeds_lines = len(coverage.lines)
        start = time.monotonic()
        while time.monotonic() - start < args.seconds and not (args.max_execs and runner.count >= args.max_execs):
            parent = rng.choice(generating if generating and rng.random() < 0.5 else corpus)
            data = mutate(rng, parent, corpus)
            if check(data, "mutation"):
                corpus.append(data)
                if runner.last_accepted:
                    generating.append(data)
                if args.save_corpus:
                    name = hashlib.sha1(data).hexdigest()[:16] + ".bundle"
                    with open(os.path.join(args.corpus, name), "wb") as fh:
                        fh.write(data)
        elapsed = time.monotonic() - start
        total = executable_lines()
        covered = len(coverage.lines & total)
        print(f"korgen fuzz: seed {seed}, {runner.count} executions in {elapsed:.0f} s "
              f"({runner.count / max(elapsed, 1e-9):.1f}/s; {runner.accepted} generated), corpus {len(corpus)} inputs, "
              f"lines covered {covered} of {len(total)} ({100.0 * covered / len(total):.1f}%; "
              f"seeds alone {seeds_lines}), {len(coverage.edges)} line pairs, {failures} failure(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

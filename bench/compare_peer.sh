#!/usr/bin/env bash
# Data object benchmarks beside the protobuf peer harness, in one run, as a
# Markdown table of kor/protobuf time ratios per operation.
#
#   bench/compare_peer.sh [extra benchmark flags...]
#
# Builds the peer (shared/peers/protobuf, into PEER_BUILD_DIR, default
# ./build-peer: the peer's folder may be read-only) and our data_object_bench,
# which runs both workloads (W1 a task info, W2 a host network state) on the
# real library (and data_object_bench_synthetic when the build is configured
# with -DKORTYPES_SYNTHETIC=ON). Then runs the programs in turn, ROUNDS times
# (default 3), 5 repetitions each, and compares medians of real time: each
# ratio is the median over the rounds of the ratio within a round; for W2 it also
# checks the speed goals against the peer and reports the derivation of the
# host's network configuration from the state. JSON results are kept in
# OUT_DIR (default: BUILD_DIR/compare-peer).
#
# Environment: BUILD_DIR (our build, default build), PEER_DIR (the peer's
# sources, default ../shared/peers/protobuf beside the repository),
# PEER_BUILD_DIR, OUT_DIR. The peer needs the Debian packages libprotobuf-dev,
# protobuf-compiler and libbenchmark-dev.
#
# Compare ratios, not absolute times: on a shared machine absolute times drift
# from run to run much more than ratios within one run. The two sides are not
# compiled alike: the peer's harness at -O2, our generated code at -O1 and the
# benchmark program at -O3 (Release).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/.." && pwd)"
build="$(cd "${BUILD_DIR:-$root/build}" && pwd)"
peer_dir="${PEER_DIR:-$root/../shared/peers/protobuf}"
peer_build="${PEER_BUILD_DIR:-$PWD/build-peer}"
out="${OUT_DIR:-$build/compare-peer}"
flags=(--benchmark_format=json --benchmark_repetitions=5 --benchmark_report_aggregates_only=true "$@")

[[ -f "$peer_dir/build.sh" ]] || { echo "compare_peer: no peer harness in $peer_dir" >&2; exit 1; }
mkdir -p "$out"

echo "compare_peer: building the peer in $peer_build" >&2
BUILD_DIR="$peer_build" nice -n 10 "$peer_dir/build.sh" >"$out/peer-build.log" 2>&1 ||
  { tail -30 "$out/peer-build.log" >&2; exit 1; }

ours=(data_object_bench)
if ninja -C "$build" -t query data_object_bench_synthetic >/dev/null 2>&1; then
  ours+=(data_object_bench_synthetic)
fi
echo "compare_peer: building ${ours[*]} in $build" >&2
nice -n 10 ninja -C "$build" "${ours[@]}" >"$out/build.log" 2>&1 || { tail -30 "$out/build.log" >&2; exit 1; }

# The programs take turns, ROUNDS times (default 3): on a shared machine the
# load drifts over minutes, and alternating spreads the drift over both sides.
# REPORT_ONLY=1 reports on the results already in OUT_DIR.
status=0
rounds="${ROUNDS:-3}"
for ((round = 1; round <= rounds && ${REPORT_ONLY:-0} == 0; round++)); do
  echo "compare_peer: round $round of $rounds: the peer (about 100 s)" >&2
  "$peer_build/pb_peer_bench" "${flags[@]}" >"$out/protobuf.$round.json" 2>"$out/protobuf.err" || status=1
  for prog in "${ours[@]}"; do
    echo "compare_peer: round $round of $rounds: $prog" >&2
    "$build/bin/$prog" "${flags[@]}" >"$out/$prog.$round.json" 2>"$out/$prog.err" || status=1
  done
done
(( status == 0 )) || echo "compare_peer: a benchmark reported a wrong result (see $out/*.json)" >&2

python3 - "$out" "$rounds" "${ours[@]}" <<'PY'
import json, os, statistics, sys

out, rounds, progs = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
UNIT = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


class Rounds(dict):
    """Each benchmark's median in every round; [k] is the median of those."""

    def __getitem__(self, k):
        return statistics.median(dict.__getitem__(self, k))

    def get(self, k, default=None):
        return self[k] if k in self else default

    def ratio(self, k, peer, p):
        """The median over the rounds of ours/peer's, each round's pair run
        back to back: a load that comes and goes affects both of a pair."""
        if k not in self or p not in peer:
            return None
        pairs = zip(dict.__getitem__(self, k), dict.__getitem__(peer, p))
        return statistics.median(o / t for o, t in pairs if t)


def medians(name, clock="real_time"):
    """Each benchmark's median per round, and errors."""
    per_round, errors = Rounds(), {}
    for r in range(1, rounds + 1):
        with open(os.path.join(out, f"{name}.{r}.json")) as f:
            doc = json.load(f)
        for b in doc["benchmarks"]:
            if b.get("error_occurred"):
                errors[b["run_name"]] = b.get("error_message", "error")
            elif b.get("run_type") == "aggregate" and b.get("aggregate_name") == "median":
                per_round.setdefault(b["run_name"], []).append(b[clock] * UNIT[b.get("time_unit", "ns")])
    return per_round, errors


pb, pb_err = medians("protobuf")
runs = {p: medians(p) for p in progs}

# (operation, our variant, the peer's variant)
PAIRS = [("copy", "copy/_Clone", "copy/CopyFrom"),
         ("equal", "equal/_IsEqual", "equal/MessageDifferencer"),
         ("diff", "diff/_DiffProperties", "diff/MessageDifferencer_paths"),
         ("size", "size/_GetSize", "size/SpaceUsedLong"),
         ("field", "field/propPeek_index", "field/reflection_index"),
         ("field (copy out)", "field/propGet_index", "field/reflection_index_copy"),
         ("create+destroy", "create_destroy/heap", "create_destroy/heap")]


def fmt(v):
    if v is None:
        return "n/a"
    return f"{v:,.0f}" if v >= 100 else f"{v:.1f}" if v >= 10 else f"{v:.2f}"


print("| workload | operation | library | kor ns/op | protobuf ns/op | kor/protobuf |")
print("|---|---|---|---:|---:|---:|")
for prog in progs:
    med, err = runs[prog]
    lib = "synthetic" if prog.endswith("_synthetic") else "real"
    for w in ("W1", "W2"):
        for op, ours, theirs in PAIRS:
            k, p = f"{w}/{ours}", f"{w}/{theirs}"
            if k not in med and k not in err:
                continue
            kv, pv = med.get(k), pb.get(p)
            if k in err or p in pb_err:
                ratio = "ERROR: " + (err.get(k) or pb_err.get(p))
            else:
                r = med.ratio(k, pb, p)
                ratio = f"{r:.2f}" if r else "n/a"
            print(f"| {w} | {op} | {lib} | {fmt(kv)} | {fmt(pv)} | {ratio} |")

# W2 goals: our time at most this share of the peer's.
GOALS = [("clone", "copy/_Clone", "copy/CopyFrom", 0.5, "at most 0.5x the peer's copy"),
         ("equality", "equal/_IsEqual", "equal/MessageDifferencer", 1 / 30, "at least 30x faster"),
         ("one-leaf diff", "diff/_DiffProperties", "diff/MessageDifferencer_paths", 1 / 20,
          "at least 20x faster"),
         ("size", "size/_GetSize", "size/SpaceUsedLong", 1 / 10, "at least 10x faster")]
# On a loaded machine real time also counts the waits for a core; CPU time
# (the process's own) is shown beside it.
pb_cpu, _ = medians("protobuf", "cpu_time")
for prog in progs:
    med, err = runs[prog]
    if not any(k.startswith("W2/") for k in med):
        continue
    med_cpu, _ = medians(prog, "cpu_time")
    lib = "synthetic" if prog.endswith("_synthetic") else "real"
    print(f"\nW2 goals ({lib} library; kor/protobuf by real time and by CPU time):\n")
    print("| operation | goal | real kor/protobuf | met | CPU kor/protobuf | met |")
    print("|---|---|---:|---|---:|---|")
    for op, ours, theirs, limit, text in GOALS:
        cells = []
        for m, p in ((med, pb), (med_cpu, pb_cpu)):
            r = m.ratio("W2/" + ours, p, "W2/" + theirs)
            if not r:
                cells += ["n/a", "n/a"]
            else:
                cells += [f"{r:.3f} ({1 / r:.1f}x)", "yes" if r <= limit else "NO"]
        print(f"| {op} | {text} | " + " | ".join(cells) + " |")
    derive = med.get("W2/derive/CreateNetworkConfig")
    if derive:
        copy = med.get("W2/copy/_Clone")
        rel = f", {derive / copy:.2f}x our clone of the state" if copy else ""
        print(f"\nW2 configuration derived from the state (network factory): {fmt(derive)} ns/op{rel}")

print("\nDiff down a chain of TaskInfo objects linked through `result`, one changed leaf at the bottom:\n")
print("| library | depth | ns/op | ns per level |")
print("|---|---:|---:|---:|")
for prog in progs:
    med, err = runs[prog]
    lib = "synthetic" if prog.endswith("_synthetic") else "real"
    for name in sorted((n for n in med if n.startswith("Chain/diff/")), key=lambda n: int(n.rsplit("/", 1)[1])):
        depth = int(name.rsplit("/", 1)[1])
        print(f"| {lib} | {depth} | {fmt(med[name])} | {fmt(med[name] / depth)} |")
    for name, e in err.items():
        print(f"| {lib} | {name} | ERROR: {e} | |")
PY
exit $status

#!/usr/bin/env bash
# W1 and W2 through our XML and JSON wire forms beside protobuf's binary and
# JSON serialisation of the peer's W1 and W2, in one run, as a Markdown table
# of ratios.
#
#   bench/compare_wire.sh [extra benchmark flags...]
#
# Builds the peer harness (shared/peers/protobuf) into PEER_BUILD_DIR and
# our peer_wire_bench.cc against its workload library, builds wire_bench in
# BUILD_DIR, runs both (5 repetitions each) and compares medians of real
# time. Environment as for compare_peer.sh: BUILD_DIR (default build),
# PEER_DIR, PEER_BUILD_DIR (default ./build-peer), OUT_DIR. The peer needs
# libprotobuf-dev, protobuf-compiler and libbenchmark-dev.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/.." && pwd)"
build="$(cd "${BUILD_DIR:-$root/build}" && pwd)"
peer_dir="${PEER_DIR:-$root/../shared/peers/protobuf}"
peer_build="${PEER_BUILD_DIR:-$PWD/build-peer}"
out="${OUT_DIR:-$build/compare-wire}"
flags=(--benchmark_format=json --benchmark_repetitions=5 --benchmark_report_aggregates_only=true "$@")

[[ -f "$peer_dir/build.sh" ]] || { echo "compare_wire: no peer harness in $peer_dir" >&2; exit 1; }
mkdir -p "$out"
echo "compare_wire: building the peer in $peer_build" >&2
BUILD_DIR="$peer_build" nice -n 10 "$peer_dir/build.sh" >"$out/peer-build.log" 2>&1 ||
  { tail -30 "$out/peer-build.log" >&2; exit 1; }
nice -n 10 g++ -O2 -DNDEBUG -std=c++17 "$here/peer_wire_bench.cc" -I"$peer_build" -I"$peer_dir" \
  "$peer_build/libpb_peer_workloads.a" -lprotobuf -lbenchmark -lpthread -o "$out/peer_wire_bench" \
  >>"$out/peer-build.log" 2>&1 || { tail -30 "$out/peer-build.log" >&2; exit 1; }
echo "compare_wire: building wire_bench in $build" >&2
nice -n 10 ninja -C "$build" wire_bench >"$out/build.log" 2>&1 || { tail -30 "$out/build.log" >&2; exit 1; }

status=0
"$out/peer_wire_bench" "${flags[@]}" >"$out/protobuf.json" 2>"$out/protobuf.err" || status=1
"$build/bin/wire_bench" "${flags[@]}" >"$out/wire.json" 2>"$out/wire.err" || status=1
(( status == 0 )) || echo "compare_wire: a benchmark reported a wrong result (see $out/*.json)" >&2

python3 - "$out" <<'PY'
import json, os, sys
out = sys.argv[1]
UNIT = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}
def medians(path):
    with open(path) as f:
        doc = json.load(f)
    return {b["run_name"]: b["real_time"] * UNIT[b.get("time_unit", "ns")]
            for b in doc["benchmarks"]
            if b.get("run_type") == "aggregate" and b.get("aggregate_name") == "median"}
kor = medians(os.path.join(out, "wire.json"))
pb = medians(os.path.join(out, "protobuf.json"))
rows = []
for w in ("W1", "W2"):
    for op in ("encode", "decode"):
        rows.append((op, f"{w}/xml/{op}", f"{w}/binary/{op}", "3"))
    for op in ("encode", "decode"):
        rows.append((op, f"{w}/json/{op}", f"{w}/json/{op}", "1"))
print("| workload | operation | kor form | kor ns/op | protobuf form | protobuf ns/op | ratio | goal |")
print("|---|---|---|---:|---|---:|---:|---:|")
for op, k, p, goal in rows:
    kv, pv = kor.get(k), pb.get(p)
    ratio = f"{kv / pv:.2f}" if kv and pv else "n/a"
    print(f"| {k.split('/')[0]} | {op} | {k.split('/')[1]} | {kv or 0:,.0f} | {p.split('/')[1]} | {pv or 0:,.0f} | {ratio} | <= {goal} |")
PY
exit $status

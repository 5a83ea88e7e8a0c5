#!/usr/bin/env bash
# Footprint of a kor-types library: size, exported symbols, relocations and
# the time from dlopen until every type is registered.
#
#   bench/footprint.sh                  the real library of the build
#   bench/footprint.sh --synthetic      the full-size synthetic library
#   bench/footprint.sh path/to/lib.so   any library of this kind
#   bench/footprint.sh --synthetic --build-times
#                                       also time a clean build of the library
#                                       target and the rebuild after one type
#                                       of one module's schema changes
#
# BUILD_DIR (default: build) is the build folder: registration_bench comes from
# there, and so do the libraries unless a path is given. The synthetic library
# needs a build configured with -DKORTYPES_SYNTHETIC=ON; the script builds what
# is missing (nice'd). Build times are wall clock and CPU (user+sys) of the
# ninja run; on a shared machine compare the CPU figures.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/.." && pwd)"
build="$(cd "${BUILD_DIR:-$root/build}" 2>/dev/null && pwd)" || {
  echo "footprint: no build folder ${BUILD_DIR:-$root/build}" >&2; exit 1; }

lib="" target=kor-types build_times=0
for arg in "$@"; do
  case "$arg" in
    --synthetic) target=kor-types-synthetic ;;
    --build-times) build_times=1 ;;
    -h|--help) sed -n '2,18p' "$0"; exit 0 ;;
    -*) echo "footprint: unknown option $arg" >&2; exit 2 ;;
    *) lib="$arg"; target="" ;;
  esac
done

ninja_build() {  # nice'd, quiet unless it fails
  local log; log=$(mktemp)
  if ! nice -n 10 ninja -C "$build" "$@" >"$log" 2>&1; then
    tail -30 "$log" >&2; rm -f "$log"; return 1
  fi
  rm -f "$log"
}

if [[ -n "$target" ]]; then
  if ! ninja -C "$build" -t query "$target" >/dev/null 2>&1; then
    echo "footprint: $build has no target $target" \
         "(configure with -DKORTYPES_SYNTHETIC=ON for the synthetic library)" >&2
    exit 1
  fi
  lib="$build/lib/lib$target.so"
fi

# -- build times (before the measurements, so they see the final library) -----
tmp=$(mktemp -d)
module_file=""
cleanup() {
  if [[ -n "$module_file" && -f "$tmp/module.orig" ]]; then cp "$tmp/module.orig" "$module_file"; fi
  rm -rf "$tmp"
}
trap cleanup EXIT

timed() {  # label, then the ninja arguments
  local label=$1; shift
  local TIMEFORMAT="%R %U %S" wall user sys
  { time ninja_build "$@" 2>&3; } 3>&2 2>"$tmp/time"
  read -r wall user sys <"$tmp/time"
  awk -v l="$label" -v w="$wall" -v c="$(awk -v u="$user" -v s="$sys" 'BEGIN{print u+s}')" \
    'BEGIN { printf "%-52s wall %7.1f s   cpu %7.1f s\n", l, w, c }'
}

if (( build_times )); then
  [[ -n "$target" ]] || { echo "footprint: --build-times needs the real or the synthetic target" >&2; exit 2; }
  ninja_build registration_bench
  echo "== build times ($target)"
  nice -n 10 ninja -C "$build" -t clean "$target" >/dev/null
  timed "clean build: ninja $target" "$target"
  if [[ "$target" == kor-types-synthetic ]]; then
    schema_dir="$build/synthetic/schema"
  else
    schema_dir=$(sed -n 's/^KORTYPES_SCHEMA_DIR:PATH=//p' "$build/CMakeCache.txt")
  fi
  module_file="$schema_dir/kor.vm.schema"
  cp -p "$module_file" "$tmp/module.orig"
  # One more optional property on the first data type of the module; the file
  # is put back afterwards (also on failure or interruption).
  awk 'done == 0 && /^data / { print; print "  footprintProbe: int?"; done = 1; next } { print }' \
    "$tmp/module.orig" >"$module_file"
  changed=$(grep -m1 -B1 '^  footprintProbe' "$module_file" | head -1 | cut -d' ' -f2)
  timed "rebuild after one type changes (kor.vm.$changed)" "$target"
  cp "$tmp/module.orig" "$module_file"
  module_file=""
  ninja_build "$target"   # back to the unchanged library, untimed
  echo
fi

[[ -f "$lib" ]] || { [[ -n "$target" ]] && ninja_build "$target"; }
[[ -f "$lib" ]] || { echo "footprint: no library $lib" >&2; exit 1; }
lib="$(readlink -f "$lib")"

echo "== $lib"
stripped="$tmp/stripped.so"
strip --strip-all -o "$stripped" "$lib"
printf '%-36s %12s bytes\n' "file size" "$(stat -c %s "$lib")" "stripped size" "$(stat -c %s "$stripped")"
size -A "$lib" | awk '$1 ~ /^\.(text|rodata|data\.rel\.ro|data|bss|eh_frame|gcc_except_table|dynsym|dynstr|gnu\.hash|rela\.dyn|rela\.plt|relr\.dyn)$/ {
  printf "  %-34s %12d bytes\n", $1, $2 }'

echo
nm -D --defined-only "$lib" >"$stripped.syms"
nm -DC --defined-only "$lib" >"$stripped.csyms"
total=$(wc -l <"$stripped.syms")
vtables=$(awk '$3 ~ /^_ZTV/' "$stripped.syms" | wc -l)
typeinfo=$(awk '$3 ~ /^_ZTI/' "$stripped.syms" | wc -l)
typenames=$(awk '$3 ~ /^_ZTS/' "$stripped.syms" | wc -l)
# template instances: demangled names with template arguments, vtables and
# type information excluded (counted above)
templates=$(grep -v -e 'vtable for' -e 'typeinfo for' -e 'typeinfo name for' "$stripped.csyms" | grep -c '<' || true)
functions=$(awk '$2 ~ /^[TtWi]$/' "$stripped.syms" | wc -l)
objects=$(awk '$2 ~ /^[DdBbRrVvu]$/' "$stripped.syms" | wc -l)
undefined=$(nm -D --undefined-only "$lib" | wc -l)
# The complete catalogue's ceiling for the exported functions and data.
ceiling=$(awk -F'\t' '$1 == "exports.total" { print $2 }' "$root/tests/data/catalogue-totals.tsv" 2>/dev/null || true)
if [[ -n "$ceiling" ]]; then
  printf '%-36s %12d   (%+d against the ceiling of %d)\n' "exported dynamic symbols" "$total" \
    "$((total - ceiling))" "$ceiling"
else
  printf '%-36s %12d\n' "exported dynamic symbols" "$total"
fi
printf '%-36s %12d\n' \
  "  functions (T, W)" "$functions" "  data objects (D, B, R, V)" "$objects" \
  "  vtables (_ZTV)" "$vtables" "  typeinfo (_ZTI)" "$typeinfo" "  typeinfo names (_ZTS)" "$typenames" \
  "  other template instances" "$templates" "undefined (imported) symbols" "$undefined"

echo
readelf -rW "$lib" >"$stripped.rel"
count() { grep -c " $1 " "$stripped.rel" || true; }
printf '%-36s %12d\n' "R_X86_64_RELATIVE" "$(count R_X86_64_RELATIVE)" \
  "R_X86_64_64 (symbolic)" "$(count R_X86_64_64)" \
  "R_X86_64_GLOB_DAT" "$(count R_X86_64_GLOB_DAT)" \
  "R_X86_64_JUMP_SLOT" "$(count R_X86_64_JUMP_SLOT)" \
  "R_X86_64_DTPMOD64/TPOFF64/COPY/other" \
  "$(grep -E ' R_X86_64_' "$stripped.rel" | grep -vcE ' R_X86_64_(RELATIVE|64|GLOB_DAT|JUMP_SLOT) ' || true)"
relr=$(sed -n "s/^Relocation section '\.relr\.dyn'.* contains \([0-9]*\) entr.*/\1/p" "$stripped.rel")
printf '%-36s %12s\n' "RELR entries (.relr.dyn)" "${relr:-none}"
# Each distinct symbol is one lookup through every loaded object at load time;
# the most named ones show which tables still bind to other libraries.
awk '$3 ~ /^R_X86_64_(64|GLOB_DAT|JUMP_SLOT)$/ { sub(/@.*/, "", $5); print $5 }' "$stripped.rel" |
  sort | uniq -c | sort -rn >"$stripped.targets"
printf '%-36s %12d\n' "symbols named by relocations" "$(wc -l <"$stripped.targets")"
echo "  most named:"
head -8 "$stripped.targets" | while read -r n sym; do
  printf '  %8d  %s\n' "$n" "$(echo "$sym" | c++filt | cut -c1-90)"
done

echo
bench="$build/bin/registration_bench"
[[ -x "$bench" ]] || ninja_build registration_bench
json=$("$bench" --library="$lib" --benchmark_filter='^BM_DlopenToRegistered' --benchmark_format=json 2>/dev/null)
python3 - "$json" <<'PY'
import json, sys
doc = json.loads(sys.argv[1])
b = [x for x in doc["benchmarks"] if x["name"].startswith("BM_DlopenToRegistered")]
if not b or b[0].get("error_occurred"):
    sys.exit("footprint: dlopen benchmark failed: " + (b[0].get("error_message", "") if b else "no result"))
b = b[0]
print(f"{'dlopen until registered, median':36} {b['median_ms']:12.2f} ms"
      f"   (min {b['min_ms']:.2f}, max {b['max_ms']:.2f}, {b['iterations']} processes, "
      f"{int(b['types'])} types)")
if 'cpu_median_ms' in b:
    print(f"{'  CPU time of the loading thread':36} {b['cpu_median_ms']:12.2f} ms"
          "   (median; the wall time above also counts waiting for a busy machine)")
PY

# The loader's floor: a library of nothing but as many relocated pointers as
# the library's relocated tables (.data.rel.ro) hold, linked the same way.
# Its load time is what writing those pages costs on this machine, before
# any registration.
relro=$(readelf -SW "$lib" | awk '$2 == ".data.rel.ro" { print $6 }')
if [[ -n "$relro" ]] && command -v cc >/dev/null; then
  words=$(( 16#$relro / 8 ))
  python3 - "$words" >"$tmp/floor.c" <<'PY'
import sys
n = int(sys.argv[1])
print("static int target[64];")
print(f"const void* const relocated[{n}] = {{")
for i in range(0, n, 16):
    print(",".join(f"&target[{(i + j) % 64}]" for j in range(min(16, n - i))) + ",")
print("};")
PY
  if cc -O1 -shared -fPIC -Wl,-z,pack-relative-relocs -o "$tmp/libfloor.so" "$tmp/floor.c" 2>/dev/null ||
     cc -O1 -shared -fPIC -o "$tmp/libfloor.so" "$tmp/floor.c"; then
    json=$("$bench" --library="$tmp/libfloor.so" --benchmark_filter='^BM_DlopenOnly' --benchmark_format=json 2>/dev/null)
    python3 - "$json" "$words" <<'PY'
import json, sys
doc = json.loads(sys.argv[1])
b = [x for x in doc["benchmarks"] if x["name"].startswith("BM_DlopenOnly")]
if b and not b[0].get("error_occurred"):
    b = b[0]
    print(f"{'floor: dlopen of the relocated bytes':36} {b['median_ms']:12.2f} ms"
          f"   (a library of {int(sys.argv[2])} relocated pointers and nothing else, median)")
PY
  fi
fi

#!/usr/bin/env bash
# Sanitizer and fuzzing runs, each variant in its own build folder:
#
#   build-fuzz   clang, libFuzzer + AddressSanitizer + UndefinedBehaviorSanitizer:
#                the five fuzzers over the sample library, FUZZ_SECONDS each
#                (default 60), starting from their seed corpora.
#   build-tsan   clang + ThreadSanitizer: the sample library's stress test and
#                the runtime's stub tests (asynchronous calls, shutdown) and
#                values released across threads.
#   build-asan   clang + AddressSanitizer (LeakSanitizer included) +
#                UndefinedBehaviorSanitizer: every test of the runtime, the
#                core library, the sample library, the full library (random
#                graphs over the whole catalogue, reliability, wire forms),
#                the factories and the demo server.
#
# Usage: scripts/sanitize.sh [fuzz|tsan|asan ...]   (default: all three)
# Environment: FUZZ_SECONDS, JOBS (default: nproc), BUILD_ROOT (default: the
# repository). Exits non-zero on the first failure; prints the time of each
# part.
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD_ROOT="${BUILD_ROOT:-$ROOT}"
FUZZ_SECONDS="${FUZZ_SECONDS:-60}"
JOBS="${JOBS:-$(nproc)}"
CXX="${SANITIZE_CXX:-clang++-14}"
parts=("$@")
[ ${#parts[@]} -eq 0 ] && parts=(fuzz tsan asan)

# The sanitizer runtimes and libFuzzer come with clang.
if ! command -v "$CXX" >/dev/null || [ -z "$(ls /usr/lib/llvm-14/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a 2>/dev/null)" ]; then
  echo "sanitize.sh: installing clang-14 and its runtimes"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq clang-14 libclang-rt-14-dev
fi
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

configure() {  # dir, extra cmake arguments...
  local dir="$1"
  shift
  nice cmake -S "$ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER="$CXX" "${launcher[@]}" -DKORTYPES_BUILD_BENCH=OFF "$@" >/dev/null
}

build() {  # dir, targets...
  local dir="$1"
  shift
  nice cmake --build "$dir" -j "$JOBS" --target "$@"
}

timed() {  # label, command...
  local label="$1" start
  shift
  start=$(date +%s)
  "$@"
  echo "== $label: $(($(date +%s) - start)) s"
}

run_fuzz() {
  local dir="$BUILD_ROOT/build-fuzz"
  configure "$dir" -DKORTYPES_FUZZ=ON
  build "$dir" fuzz_enum fuzz_property fuzz_dispatch fuzz_wire_xml fuzz_wire_json
  for name in enum property dispatch wire_xml wire_json; do
    # New inputs go to a scratch corpus; the committed seeds stay as they are.
    local scratch="$dir/corpus-$name"
    mkdir -p "$scratch"
    (cd "$dir" && nice "./bin/fuzz_$name" -max_total_time="$FUZZ_SECONDS" -print_final_stats=1 \
      -detect_leaks=1 "$scratch" "$ROOT/tests/fuzz/corpus/$name" 2>&1 | tail -n 12)
  done
}

run_tsan() {
  local dir="$BUILD_ROOT/build-tsan"
  configure "$dir" -DKORTYPES_SANITIZE=thread
  build "$dir" korgen_sample_tests movel_tests
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
    "$dir/bin/korgen_sample_tests" --gtest_filter='Stress.*'
  # Stubs (asynchronous calls, shutdown) and values released on other threads
  # than the ones that made them.
  TSAN_OPTIONS="halt_on_error=1" "$dir/bin/movel_tests" --gtest_filter='StubTest.*:ValuesMemory.*'
}

run_asan() {
  local dir="$BUILD_ROOT/build-asan"
  # -O1 with line tables only: the usual level for AddressSanitizer, exact
  # stack traces, and about half the compile time of -O2 with full debug
  # information over the whole generated catalogue.
  configure "$dir" -DKORTYPES_SANITIZE=address,undefined \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -DNDEBUG" -DKORTYPES_SANITIZE_DEBUG=-g1
  build "$dir" types_tests movel_tests basekit_tests korgen_sample_tests factory_tests demo_tests
  export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
  local t
  for t in basekit_tests movel_tests korgen_sample_tests types_tests factory_tests demo_tests; do
    echo "== $t"
    # Failures and each program's summary only; the test count per program
    # shows that nothing was filtered out.
    "$dir/bin/$t" --gtest_brief=1
  done
}

total=$(date +%s)
for part in "${parts[@]}"; do
  case "$part" in
    fuzz) timed "fuzzers (ASan+UBSan, ${FUZZ_SECONDS} s each)" run_fuzz ;;
    tsan) timed "ThreadSanitizer stress" run_tsan ;;
    asan) timed "AddressSanitizer catalogue" run_asan ;;
    *) echo "sanitize.sh: unknown part $part (fuzz, tsan, asan)" >&2; exit 2 ;;
  esac
done
echo "== sanitize.sh: all parts passed in $(($(date +%s) - total)) s"

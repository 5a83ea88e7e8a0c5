#!/usr/bin/env bash
# Builds the library and the kortypes tool, then runs the end-to-end demo.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
BUILD=${BUILD:-build}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-Release}
cmake --build "$BUILD" --target kortypes
exec "$BUILD/bin/kortypes" demo

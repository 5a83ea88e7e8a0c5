#!/usr/bin/env bash
# Installs the build into a temporary prefix, then builds and runs a program
# against it twice: through the CMake package and through pkg-config.
set -euo pipefail
build=$1
source=$2
prefix=$(mktemp -d)
work=$(mktemp -d)
trap 'rm -rf "$prefix" "$work"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
for lib in libbasekit.so libmovel.so libkor-types.so; do
  test -e "$prefix/lib/$lib" || { echo "missing $prefix/lib/$lib"; exit 1; }
done
"$prefix/bin/kortypes" list --kind enum >/dev/null
cmake -S "$source/examples/consumer" -B "$work/cmake" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$work/cmake" >/dev/null
LD_LIBRARY_PATH="$prefix/lib" "$work/cmake/consumer" | grep -q '^kor.AboutInfo 2.0$'
if command -v pkg-config >/dev/null; then
  PKG_CONFIG_PATH="$prefix/lib/pkgconfig" c++ "$source/examples/consumer/main.cpp" \
    $(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --cflags --libs kor-types) -o "$work/pc"
  LD_LIBRARY_PATH="$prefix/lib" "$work/pc" | grep -q '^kor.AboutInfo 2.0$'
fi
echo "install: ok"

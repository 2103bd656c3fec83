#!/usr/bin/env bash
# Configures and builds the plug-in, its tools and its tests for both Windows
# targets (i686 and x86_64) and, with --native, the native sanitizer build.
# Usage: tools/build.sh [--native] [--no-tests]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build"
native=0
tests=ON
for arg in "$@"; do
  case "$arg" in
    --native) native=1 ;;
    --no-tests) tests=OFF ;;
    *) echo "build.sh: unknown argument $arg" >&2; exit 2 ;;
  esac
done

"$root/tools/setup.sh"
jobs="$(nproc)"
for arch in i686 x86_64; do
  cmake -S "$root" -B "$build/$arch" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DVELMORA_TESTS=$tests -DVELMORA_WINEPREFIX="$build/wineprefix" >/dev/null
  cmake --build "$build/$arch" -j "$jobs"
done
if [ "$native" = 1 ]; then
  cmake -S "$root" -B "$build/native" -DCMAKE_BUILD_TYPE=Debug -DVELMORA_SANITIZE=ON \
    -DVELMORA_TESTS=$tests >/dev/null
  cmake --build "$build/native" -j "$jobs"
fi

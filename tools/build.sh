#!/usr/bin/env bash
# Configures and builds the plug-in, its tools and its tests for both Windows
# targets (i686 and x86_64) and the NSIS that makes the installer (once, by
# tools/setup-nsis.sh), with --arm64 also for ARM64 Windows (its
# toolchain built first by tools/setup-arm64.sh, once), and, with --native,
# the native sanitizer build.
# Usage: tools/build.sh [--native] [--arm64] [--no-tests]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build"
native=0
arm64=0
tests=ON
for arg in "$@"; do
  case "$arg" in
    --native) native=1 ;;
    --arm64) arm64=1 ;;
    --no-tests) tests=OFF ;;
    *) echo "build.sh: unknown argument $arg" >&2; exit 2 ;;
  esac
done

"$root/tools/setup.sh"
"$root/tools/setup-nsis.sh"
jobs="$(nproc)"
for arch in i686 x86_64; do
  cmake -S "$root" -B "$build/$arch" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DVELMORA_TESTS=$tests -DVELMORA_WINEPREFIX="$build/wineprefix" >/dev/null
  cmake --build "$build/$arch" -j "$jobs"
done
if [ "$arm64" = 1 ]; then
  # Its tests run in an arm64 Wine prefix of their own.
  "$root/tools/setup-arm64.sh" toolchain
  cmake -S "$root" -B "$build/aarch64" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-aarch64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DVELMORA_TESTS=$tests -DVELMORA_WINEPREFIX="$build/wineprefix-arm64" >/dev/null
  cmake --build "$build/aarch64" -j "$jobs"
fi
if [ "$native" = 1 ]; then
  cmake -S "$root" -B "$build/native" -DCMAKE_BUILD_TYPE=Debug -DVELMORA_SANITIZE=ON \
    -DVELMORA_TESTS=$tests >/dev/null
  cmake --build "$build/native" -j "$jobs"
fi

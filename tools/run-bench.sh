#!/usr/bin/env bash
# Builds and runs the benchmarks. Not a test: it prints figures and fails only
# when a benchmark cannot be built or run.
#
# Usage: tools/run-bench.sh [converters] [transfer] [-- OPTIONS...]
#   converters  every converter instantiation on 1000-pixel chunks next to
#               memcpy of the same bytes: the native Release build
#               (build/bench) and the i686 and x86_64 Windows builds under Wine
#               (build/bench-converters-<arch>)
#   transfer    the plug-in's export and import through the command-line host
#               under Wine next to plain file I/O, and its memory, at 24 and
#               100 megapixels, both architectures (tools/run-transfer-bench.sh)
# With no section named, every section runs. Options after "--" go to the
# converter benchmark (--filter=TEXT, --repetitions=N, --min-time=SECONDS)
# or, for the transfer section alone, to tools/run-transfer-bench.sh.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
sections=()
options=()
while [ $# -gt 0 ]; do
  case "$1" in
    --) shift; options=("$@"); break ;;
    converters|transfer) sections+=("$1") ;;
    *) echo "run-bench.sh: unknown section $1" >&2; exit 2 ;;
  esac
  shift
done
[ ${#sections[@]} -gt 0 ] || sections=(converters transfer)

"$root/tools/setup.sh" >/dev/null

run_converters() {
  local build="$root/build/bench"
  cmake -S "$root/bench" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" -j 2 --target converter_benchmark >/dev/null
  for arch in i686 x86_64; do
    cmake -S "$root/bench" -B "$root/build/bench-converters-$arch" -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" \
      -DVELMORA_WINEPREFIX="$root/build/bench-wineprefix" >/dev/null
    cmake --build "$root/build/bench-converters-$arch" -j 2 --target converter_benchmark >/dev/null
  done
  "$root/build/bench-converters-x86_64/wine-init.sh"
  # Each case is the fastest of several runs: the machine is shared.
  echo "=== converter benchmark, native ==="
  "$build/converter_benchmark" ${options[@]+"${options[@]}"}
  for arch in x86_64 i686; do
    echo
    echo "=== converter benchmark, $arch under Wine ($(wine --version)) ==="
    "$root/build/bench-converters-$arch/wine-run.sh" \
      "$root/build/bench-converters-$arch/converter_benchmark.exe" ${options[@]+"${options[@]}"} |
      tr -d '\r'
  done
}

run_transfer() {
  if [ ${#sections[@]} -eq 1 ]; then
    "$root/tools/run-transfer-bench.sh" ${options[@]+"${options[@]}"}
  else
    "$root/tools/run-transfer-bench.sh"
  fi
}

for section in "${sections[@]}"; do
  "run_$section"
done

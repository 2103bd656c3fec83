#!/usr/bin/env bash
# Builds and runs the benchmarks. Not a test: it prints figures and fails only
# when a benchmark cannot be built or run.
#
# Usage: tools/run-bench.sh [converters] [transfer] [-- BENCHMARK_OPTIONS...]
#   converters  every converter instantiation on 1000-pixel chunks next to
#               memcpy of the same bytes (native Release build in build/bench)
#   transfer    the plug-in's export and import through the command-line host
#               under Wine next to plain file I/O, and its memory, at 24 and
#               100 megapixels (tools/run-transfer-bench.sh)
# With no section named, every section runs. Options after "--" go to Google
# Benchmark (e.g. --benchmark_filter=Gray --benchmark_repetitions=10).
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
  echo "=== converter benchmark ==="
  # Three repetitions, the median of each kept: the machine is shared.
  "$build/converter_benchmark" --benchmark_repetitions=3 --benchmark_display_aggregates_only=true \
    ${options[@]+"${options[@]}"}
}

run_transfer() {
  "$root/tools/run-transfer-bench.sh"
}

for section in "${sections[@]}"; do
  "run_$section"
done

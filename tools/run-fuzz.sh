#!/usr/bin/env bash
# Builds the libFuzzer targets natively with clang (build/fuzz) and runs each
# one for a fixed budget, starting from its corpus in fuzz/corpus/<target>
# (every file there is replayed first, including the inputs that once found
# a fault). Fails on any crash, broken invariant, sanitizer finding, leak or
# timeout; the failing input is saved in build/fuzz/artifacts/.
#
# Usage: tools/run-fuzz.sh [BUDGET] [TARGET...]
#   BUDGET  seconds per target with a suffix "s", "m" or "h" (e.g. 20s, 10m),
#           or a plain number of runs per target (e.g. 20000). Default: 15s.
#   TARGET  ini, import, job (default: all three).
# New inputs that add coverage are kept in build/fuzz/corpus/<target>, so
# later runs on the same machine go on from there.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build/fuzz"
budget="${1:-15s}"
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(ini import job)
for target in "${targets[@]}"; do
  case "$target" in
    ini | import | job) ;;
    *) echo "run-fuzz.sh: unknown target $target (ini, import, job)" >&2; exit 2 ;;
  esac
done

case "$budget" in
  *s) limit=(-max_total_time="${budget%s}") ;;
  *m) limit=(-max_total_time="$(( ${budget%m} * 60 ))") ;;
  *h) limit=(-max_total_time="$(( ${budget%h} * 3600 ))") ;;
  *[!0-9]* | "") echo "run-fuzz.sh: budget is a number of runs or seconds like 20s" >&2; exit 2 ;;
  *) limit=(-runs="$budget") ;;
esac

"$root/tools/setup.sh" >/dev/null
CC=clang CXX=clang++ cmake -S "$root/fuzz" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j 2 --target "${targets[@]/#/fuzz_}"

# Symbolised stacks, and undefined behaviour reported with its stack.
symbolizer="$(command -v llvm-symbolizer || true)"
[ -n "$symbolizer" ] || symbolizer=/usr/lib/llvm-14/bin/llvm-symbolizer
[ -x "$symbolizer" ] && export ASAN_SYMBOLIZER_PATH="$symbolizer"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"

passed=0
failed=0
for target in "${targets[@]}"; do
  case "$target" in
    ini) max_len=1100 ;;     # past the reader's 1022-byte limit
    import) max_len=8192 ;;  # a 1001-pixel row of 16-bit samples and more
    job) max_len=512 ;;      # folder names past the 260-byte path limit
  esac
  corpus="$build/corpus/$target"
  mkdir -p "$corpus" "$build/artifacts"
  log="$build/fuzz_$target.log"
  echo "=== fuzz: $target (${limit[*]}) ==="
  if "$build/fuzz_$target" "${limit[@]}" -max_len="$max_len" -timeout=10 -rss_limit_mb=4096 \
      -print_final_stats=1 -artifact_prefix="$build/artifacts/$target-" \
      "$corpus" "$root/fuzz/corpus/$target" >"$log" 2>&1; then
    runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")"
    seconds="$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log")"
    echo "fuzz_$target: ${runs:-?} runs in ${seconds:-?} s, no finding"
    passed=$((passed + 1))
  else
    tail -n 60 "$log"
    echo "fuzz_$target: FAILED (log: $log)"
    failed=$((failed + 1))
  fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]

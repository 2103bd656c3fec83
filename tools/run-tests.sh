#!/usr/bin/env bash
# Builds everything and runs every test: both Windows targets under Wine (in
# a virtual X display, for the dialog tests) and the native sanitizer build,
# and checks that the release files rebuild bit for bit from another folder.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build"
"$root/tools/check-layers.sh"
"$root/tools/build.sh" --native

status=0
run_ctest() {
  local dir="$1"
  echo "=== tests: $(basename "$dir") ==="
  (cd "$dir" && xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure -j 2) || status=1
}
"$root/tools/run-fuzz.sh" || status=1
"$root/tools/check-reproducible.sh" || status=1
run_ctest "$build/i686"
run_ctest "$build/x86_64"
run_ctest "$build/native"
exit $status

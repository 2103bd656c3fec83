#!/usr/bin/env bash
# Builds everything and runs every test: both Windows targets under Wine (in
# a virtual X display, for the dialog tests), the native sanitizer build and
# the ARM64 build under emulation (Wine in an arm64 root through qemu-user),
# and checks that the release files rebuild bit for bit from another folder.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build"
"$root/tools/check-layers.sh"
"$root/tools/setup.sh"
# The arm64 root is mostly downloads and emulated package scripts: it is made
# (once) while the compilers have the processors.
mkdir -p "$build"
# In a session of its own, so that a failed build ends it with all it runs.
setsid "$root/tools/setup-arm64.sh" root >"$build/setup-arm64-root.log" 2>&1 &
arm64_root=$!
trap 'kill -- -"$arm64_root" 2>/dev/null || true' EXIT
"$root/tools/build.sh" --native --arm64

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
if wait "$arm64_root"; then
  cat "$build/setup-arm64-root.log"
  run_ctest "$build/aarch64"
  # Wine's services in the arm64 root end with their server.
  "$build/aarch64/wine-run.sh" wineserver -k 2>/dev/null || true
else
  cat "$build/setup-arm64-root.log"
  echo "FAIL: the arm64 root for the ARM64 tests could not be made" >&2
  status=1
fi
exit $status

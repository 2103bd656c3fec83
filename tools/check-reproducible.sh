#!/usr/bin/env bash
# Checks that the release rebuilds bit for bit: packages the plug-ins of this
# checkout's build (build/i686, build/x86_64 and build/aarch64, made by
# tools/build.sh --arm64), then
# builds and packages the same sources again from a copy in another, deeper
# folder, with a build folder of its own and without the compiler cache, and
# compares the SHA-256 of every unsigned release file of the two, printing
# them. The copy builds only the plug-ins, the ARM64 one with this checkout's
# ARM64 toolchain and the installer with this checkout's NSIS: the same
# Debian packages, built once.
# Usage: tools/check-reproducible.sh
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build"
work="$build/reproduce"

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH="$(git -C "$root" log -1 --format=%ct)"
fi
export SOURCE_DATE_EPOCH
# Both unsigned, whatever this shell has set for signing.
unset VELMORA_SIGN_PKCS12 VELMORA_SIGN_PASSWORD_FILE VELMORA_SIGN_TIMESTAMP_URL

rm -rf "$work"
copy="$work/second/checkout/of/the/same/sources"
mkdir -p "$copy"
# The sources as they are in this checkout, changes not yet committed too.
if git -C "$root" rev-parse --git-dir >/dev/null 2>&1; then
  (cd "$root" && git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' file; do
      [ -f "$file" ] && printf '%s\0' "$file"
    done | tar --null -T - -cf -) | tar -C "$copy" -xf -
else
  tar -C "$root" --exclude=./build --exclude=./dist -cf - . | tar -C "$copy" -xf -
fi

echo "=== reproducible release: packaging $build"
"$root/tools/package.sh" --no-build --build "$build" --out "$work/first"
echo "=== reproducible release: building and packaging a copy in $copy"
start="$(date +%s)"
if ! CCACHE_DISABLE=1 VELMORA_ARM64_TOOLCHAIN="${VELMORA_ARM64_TOOLCHAIN:-$build/arm64-toolchain}" \
    VELMORA_NSIS="${VELMORA_NSIS:-$build/nsis}" \
    "$copy/tools/package.sh" --out "$work/second" >"$work/second.log" 2>&1; then
  tail -n 40 "$work/second.log"
  echo "FAIL: the second build failed (all of its words in $work/second.log)" >&2
  exit 1
fi
grep '^package.sh:' "$work/second.log"
seconds=$(($(date +%s) - start))

# The files that a release publishes, and the plug-ins in them unsigned.
for side in first second; do
  unzip -q "$work/$side"/VelmoraPlugin-*.zip x64/Velmora.8bf x86/Velmora.8bf arm64/Velmora.8bf \
    -d "$work/$side"
done
status=0
echo "SHA-256 of the release files (SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH):"
for file in x64/Velmora.8bf x86/Velmora.8bf arm64/Velmora.8bf \
    "$(cd "$work/first" && ls VelmoraPlugin-*.zip)" "$(cd "$work/first" && ls VelmoraPlugin-*-setup.exe)"; do
  one="$(sha256sum <"$work/first/$file" | cut -d' ' -f1)"
  two="$(sha256sum <"$work/second/$file" 2>/dev/null | cut -d' ' -f1)"
  if [ "$one" = "$two" ]; then
    printf '  %s  %s  identical\n' "$one" "$file"
  else
    printf '  %s  %s  first build\n  %s  %s  second build: DIFFERENT\n' "$one" "$file" "${two:-missing}" "$file"
    status=1
  fi
done
echo "second build and packaging: ${seconds} s"
if [ "$status" != 0 ]; then
  echo "FAIL: the release does not rebuild bit for bit; both are kept in $work" >&2
  exit 1
fi
rm -rf "$copy/build"
echo "reproducible release: both builds identical"

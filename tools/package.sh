#!/usr/bin/env bash
# Builds both plug-ins and writes the release files:
#   dist/VelmoraPlugin-<version>-setup.exe  the installer, both architectures
#   dist/VelmoraPlugin-<version>.zip        x64/ and x86/Velmora.8bf, an
#                                           example plugin.ini and the install
#                                           text, for copying by hand
# The version and the publisher are the ones of the plug-in's version
# resource (ui/Version.h).
# Usage: tools/package.sh [--no-build] [--build DIR] [--out DIR]
#   --no-build  package the plug-ins as they are in build/<arch>/plugin
#   --build DIR the build folder that holds i686/ and x86_64/ (build/)
#   --out DIR   write into DIR instead of dist/
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build"
out="$root/dist"
do_build=1
while [ $# -gt 0 ]; do
  case "$1" in
    --no-build) do_build=0 ;;
    --build) build="${2:?--build needs a folder}"; shift ;;
    --out) out="${2:?--out needs a folder}"; shift ;;
    *) echo "package.sh: unknown argument $1" >&2; exit 2 ;;
  esac
  shift
done

define() {
  sed -n "s/^#define $1 \"\{0,1\}\([^\"]*\)\"\{0,1\}\$/\1/p" "$root/ui/Version.h"
}
version="$(define VELMORA_VERSION_TEXT)"
major="$(define VELMORA_VERSION_MAJOR)"
minor="$(define VELMORA_VERSION_MINOR)"
publisher="$(define VELMORA_COMPANY_NAME)"
if [ -z "$version" ] || [ -z "$major" ] || [ -z "$minor" ] || [ -z "$publisher" ]; then
  echo "package.sh: ui/Version.h lacks the version or the company name" >&2
  exit 1
fi

if [ "$do_build" = 1 ]; then
  "$root/tools/setup.sh"
  for arch in i686 x86_64; do
    if [ ! -f "$build/$arch/CMakeCache.txt" ]; then
      cmake -S "$root" -B "$build/$arch" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DVELMORA_TESTS=OFF -DVELMORA_WINEPREFIX="$build/wineprefix" >/dev/null
    fi
    cmake --build "$build/$arch" -j "$(nproc)" --target velmora_plugin
  done
fi
x64="$build/x86_64/plugin/Velmora.8bf"
x86="$build/i686/plugin/Velmora.8bf"
for f in "$x64" "$x86"; do
  [ -f "$f" ] || { echo "package.sh: $f is not built" >&2; exit 1; }
done

mkdir -p "$out"
out="$(cd "$out" && pwd)"
setup="$out/VelmoraPlugin-$version-setup.exe"
zip="$out/VelmoraPlugin-$version.zip"
rm -f "$setup" "$zip"

# The released files carry no symbols or debug information (a third of the
# size); -p keeps the build's time stamp, so the same build gives the same
# files.
stage="$(mktemp -d "$out/.stage.XXXXXX")"
trap 'rm -rf "$stage"' EXIT
mkdir "$stage/x64" "$stage/x86"
x86_64-w64-mingw32-strip -p -o "$stage/x64/Velmora.8bf" "$x64"
i686-w64-mingw32-strip -p -o "$stage/x86/Velmora.8bf" "$x86"
# Windows line ends: the plug-in reads only lines that end in CR LF.
printf '[General]\r\nApplicationPath=C:\\Program Files\\Velmora\\\r\n' >"$stage/plugin.ini"
# The install text in English and, beside it, in every other language of
# the plug-in (Install.de.txt...), UTF-8 with a byte-order mark so that any
# editor on any code page shows it.
texts=(Install.txt)
sed -e "s/@VERSION@/$version/g" -e 's/$/\r/' "$root/tools/installer/Install.txt" >"$stage/Install.txt"
for text in "$root"/tools/installer/lang/Install.*.txt; do
  name="$(basename "$text")"
  sed -e "s/@VERSION@/$version/g" -e 's/$/\r/' "$text" >"$stage/$name"
  texts+=("$name")
done
(cd "$stage" && touch -r "$x64" plugin.ini "${texts[@]}" x*/Velmora.8bf)
(cd "$stage" && zip -q -X "$zip" x64/Velmora.8bf x86/Velmora.8bf plugin.ini "${texts[@]}")

makensis -V2 -WX -NOCD \
  "-DVERSION=$version" "-DVERSION4=$major.$minor.0.0" "-DPUBLISHER=$publisher" \
  "-DX64_PLUGIN=$stage/x64/Velmora.8bf" "-DX86_PLUGIN=$stage/x86/Velmora.8bf" "-DOUTFILE=$setup" \
  "$root/tools/installer/VelmoraPlugin.nsi"

echo "package.sh: wrote $setup ($(stat -c %s "$setup") bytes)"
echo "package.sh: wrote $zip ($(stat -c %s "$zip") bytes)"

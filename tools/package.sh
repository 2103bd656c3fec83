#!/usr/bin/env bash
# Builds both plug-ins and writes the release files:
#   dist/VelmoraPlugin-<version>-setup.exe  the installer, both architectures
#   dist/VelmoraPlugin-<version>.zip        x64/, x86/ and arm64/Velmora.8bf,
#                                           an example plugin.ini and the
#                                           install text, for copying by hand
# The version and the publisher are the ones of the plug-in's version
# resource (ui/Version.h).
#
# Signing: with VELMORA_SIGN_PKCS12 and VELMORA_SIGN_PASSWORD_FILE set (and
# optionally VELMORA_SIGN_TIMESTAMP_URL, see tools/sign.sh), both plug-ins,
# the per-user step (VelmoraPerUser.exe), the program of every elevated
# write and delete (VelmoraFiles.exe),
# the uninstaller and the installer are signed with Authenticode (SHA-256).
# Without them the release files are built unsigned, and it says so.
#
# Reproducible: the same commit gives the same unsigned files, byte for byte,
# wherever it is built. The one time the files carry (the entries' times in
# the zip and in the installer) is the commit's, SOURCE_DATE_EPOCH when set.
# Usage: tools/package.sh [--no-build] [--build DIR] [--out DIR]
#   --no-build  package the plug-ins as they are in build/<arch>/plugin
#   --build DIR the build folder that holds i686/, x86_64/ and aarch64/ (build/)
# The ARM64 build's toolchain is tools/setup-arm64.sh's, in build/ of this
# checkout or where VELMORA_ARM64_TOOLCHAIN says; the NSIS that makes the
# installer is tools/setup-nsis.sh's, there or where VELMORA_NSIS says.
#   --out DIR   write into DIR instead of dist/
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build"
export VELMORA_NSIS="${VELMORA_NSIS:-$root/build/nsis}"
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

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH="$(git -C "$root" log -1 --format=%ct 2>/dev/null)" || {
    echo "package.sh: $root is no git checkout: set SOURCE_DATE_EPOCH to the release's time (seconds since 1970)" >&2
    exit 1
  }
fi
case "$SOURCE_DATE_EPOCH" in
  '' | *[!0-9]*) echo "package.sh: SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH is no number of seconds" >&2; exit 1 ;;
esac
export SOURCE_DATE_EPOCH

sign=0
if [ -n "${VELMORA_SIGN_PKCS12:-}" ]; then
  for name in VELMORA_SIGN_PKCS12 VELMORA_SIGN_PASSWORD_FILE; do
    if [ -z "${!name:-}" ] || [ ! -r "${!name}" ]; then
      echo "package.sh: $name does not name a readable file: nothing is signed or packaged" >&2
      exit 1
    fi
  done
  # makensis hands the uninstaller to this command by a shell's quotes.
  case "$root" in
    *[\\\"\$\`]*) echo "package.sh: to sign, the checkout's path must not hold \\ \" \$ or \`: $root" >&2; exit 1 ;;
  esac
  sign=1
else
  echo "package.sh: VELMORA_SIGN_PKCS12 is not set: building UNSIGNED release files"
fi

if [ "$do_build" = 1 ]; then
  "$root/tools/setup.sh"
  "$root/tools/setup-arm64.sh" toolchain
  "$root/tools/setup-nsis.sh"
  for arch in i686 x86_64 aarch64; do
    if [ ! -f "$build/$arch/CMakeCache.txt" ]; then
      prefix="$build/wineprefix"
      [ "$arch" = aarch64 ] && prefix="$build/wineprefix-arm64"
      cmake -S "$root" -B "$build/$arch" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DVELMORA_TESTS=OFF -DVELMORA_WINEPREFIX="$prefix" >/dev/null
    fi
    targets=(velmora_plugin)
    # The installer's per-user step serves Affinity, which is 64-bit only;
    # the program of its file operations is 32-bit, to run on any Windows.
    [ "$arch" = x86_64 ] && targets+=(velmora_peruser)
    [ "$arch" = i686 ] && targets+=(velmora_files)
    cmake --build "$build/$arch" -j "$(nproc)" --target "${targets[@]}"
  done
fi
x64="$build/x86_64/plugin/Velmora.8bf"
x86="$build/i686/plugin/Velmora.8bf"
peruser="$build/x86_64/tools/VelmoraPerUser.exe"
filesprogram="$build/i686/tools/VelmoraFiles.exe"
arm64="$build/aarch64/plugin/Velmora.8bf"
for f in "$x64" "$x86" "$arm64" "$peruser" "$filesprogram"; do
  [ -f "$f" ] || { echo "package.sh: $f is not built" >&2; exit 1; }
done
"$root/tools/setup-nsis.sh" --check || exit 1

mkdir -p "$out"
out="$(cd "$out" && pwd)"
setup="$out/VelmoraPlugin-$version-setup.exe"
zip="$out/VelmoraPlugin-$version.zip"
rm -f "$setup" "$zip"

# The release files are made in a stage and moved out only when complete:
# packaging that fails, signing too, leaves none.
stage="$(mktemp -d "$out/.stage.XXXXXX")"
trap 'rm -rf "$stage"' EXIT
mkdir "$stage/x64" "$stage/x86" "$stage/arm64" "$stage/release"
staged_setup="$stage/release/$(basename "$setup")"
staged_zip="$stage/release/$(basename "$zip")"
# The released plug-ins carry no symbols or debug information (a third of
# the size). They are signed before they go into the zip and the installer.
# strip writes the header's time stamp anew: SOURCE_DATE_EPOCH's.
x86_64-w64-mingw32-strip -o "$stage/x64/Velmora.8bf" "$x64"
i686-w64-mingw32-strip -o "$stage/x86/Velmora.8bf" "$x86"
x86_64-w64-mingw32-strip -o "$stage/x64/VelmoraPerUser.exe" "$peruser"
# In the installer and the uninstaller only (they run it from their temporary
# folder), never installed.
mkdir "$stage/installer"
i686-w64-mingw32-strip -o "$stage/installer/VelmoraFiles.exe" "$filesprogram"
# llvm-strip keeps the linker's time stamp, none: the header gets the same
# SOURCE_DATE_EPOCH as the other two.
llvm-strip-19 -o "$stage/arm64/Velmora.8bf" "$arm64"
perl -e '
  use strict; use warnings;
  my ($name, $time) = @ARGV;
  open(my $file, "+<:raw", $name) or die "$name: $!\n";
  local $/; my $pe = <$file>;
  my $at = unpack("V", substr($pe, 0x3c, 4));
  die "$name: no PE image\n" unless substr($pe, $at, 4) eq "PE\0\0";
  substr($pe, $at + 8, 4) = pack("V", $time);  # TimeDateStamp in the file header
  seek($file, 0, 0) or die; print $file $pe or die; close($file) or die "$name: $!\n";
' "$stage/arm64/Velmora.8bf" "$SOURCE_DATE_EPOCH"
# A signature goes after a module's bytes padded to a multiple of 8, with the
# header's checksum made anew. Padded and summed here already, a signed
# plug-in less its signature (osslsigncode remove-signature) is this very
# file, which anyone can compare with a build of their own.
pad_for_signing() {
  perl -e '
    use strict; use warnings;
    my ($name) = @ARGV;
    open(my $file, "+<:raw", $name) or die "$name: $!\n";
    local $/; my $pe = <$file>;
    $pe .= "\0" x ((8 - length($pe) % 8) % 8);
    my $at = unpack("V", substr($pe, 0x3c, 4)) + 24 + 64;  # CheckSum in the optional header
    substr($pe, $at, 4) = pack("V", 0);
    my $sum = 0;
    $sum = (($sum + $_) & 0xffff) + (($sum + $_) >> 16) for unpack("v*", $pe);
    substr($pe, $at, 4) = pack("V", $sum + length($pe));
    seek($file, 0, 0) or die; print $file $pe or die; close($file) or die "$name: $!\n";
  ' "$1"
}
pad_for_signing "$stage/x64/Velmora.8bf"
pad_for_signing "$stage/x86/Velmora.8bf"
pad_for_signing "$stage/x64/VelmoraPerUser.exe"
pad_for_signing "$stage/installer/VelmoraFiles.exe"
pad_for_signing "$stage/arm64/Velmora.8bf"
if [ "$sign" = 1 ]; then
  "$root/tools/sign.sh" "$stage/x64/Velmora.8bf" "$stage/x86/Velmora.8bf" "$stage/arm64/Velmora.8bf" \
    "$stage/x64/VelmoraPerUser.exe" "$stage/installer/VelmoraFiles.exe"
fi
# Windows line ends: the plug-in reads only lines that end in CR LF.
printf '[General]\r\nApplicationPath=C:\\Program Files\\Velmora\\\r\n' >"$stage/plugin.ini"
# The install text in English and, beside it, in every other language of
# the plug-in (Install.de.txt...), UTF-8 with a byte-order mark so that any
# editor on any code page shows it.
texts=(Install.txt)
sed -e "s/@VERSION@/$version/g" -e 's/$/\r/' "$root/installer/Install.txt" >"$stage/Install.txt"
LC_COLLATE=C  # the same order of entries in every locale
for text in "$root"/installer/lang/Install.*.txt; do
  name="$(basename "$text")"
  sed -e "s/@VERSION@/$version/g" -e 's/$/\r/' "$text" >"$stage/$name"
  texts+=("$name")
done
# The zip and the installer keep each file's time and the zip its mode: the
# commit's time, in UTC (the zip's times are local times), and the same mode
# whatever the umask.
(cd "$stage" && chmod 0644 plugin.ini "${texts[@]}" x*/Velmora.8bf arm64/Velmora.8bf x64/VelmoraPerUser.exe \
  installer/VelmoraFiles.exe)
(cd "$stage" && touch -d "@$SOURCE_DATE_EPOCH" plugin.ini "${texts[@]}" x*/Velmora.8bf arm64/Velmora.8bf \
  x64/VelmoraPerUser.exe installer/VelmoraFiles.exe)
(cd "$stage" && TZ=UTC0 zip -q -X "$staged_zip" x64/Velmora.8bf x86/Velmora.8bf arm64/Velmora.8bf \
  plugin.ini "${texts[@]}")

# The installer's icon and pictures, from their drawings, with the time the
# installer keeps of each file its pages unpack.
"$root/installer/art/render.sh" "$stage/art"
touch -d "@$SOURCE_DATE_EPOCH" "$stage"/art/*

sign_uninstaller=()
if [ "$sign" = 1 ]; then
  sign_uninstaller=("-DSIGN_UNINSTALLER=$root/tools/sign.sh")
fi
# makensis leaves its temporary files behind when signing fails: in the
# stage, they go with it. No configuration of this machine's user takes part.
TMPDIR="$stage" "$VELMORA_NSIS/Bin/makensis" -NOCONFIG -V2 -WX -NOCD \
  "-DVERSION=$version" "-DVERSION4=$major.$minor.0.0" "-DPUBLISHER=$publisher" \
  "-DX64_PLUGIN=$stage/x64/Velmora.8bf" "-DX86_PLUGIN=$stage/x86/Velmora.8bf" \
  "-DARM64_PLUGIN=$stage/arm64/Velmora.8bf" \
  "-DX64_PERUSER=$stage/x64/VelmoraPerUser.exe" "-DTEXTS=$stage" \
  "-DFILES_PROGRAM=$stage/installer/VelmoraFiles.exe" "-DOUTFILE=$staged_setup" \
  "-DART=$stage/art" \
  "${sign_uninstaller[@]}" "$root/installer/VelmoraPlugin.nsi"
if [ "$sign" = 1 ]; then
  "$root/tools/sign.sh" "$staged_setup"
  echo "package.sh: signed the three plug-ins, the per-user step, the uninstaller and the installer (Authenticode, SHA-256)"
fi
mv "$staged_setup" "$setup"
mv "$staged_zip" "$zip"

echo "package.sh: wrote $setup ($(stat -c %s "$setup") bytes)"
echo "package.sh: wrote $zip ($(stat -c %s "$zip") bytes)"

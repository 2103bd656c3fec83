#!/usr/bin/env bash
# Turns the installer's pictures, drawn as SVG here, into what NSIS takes:
#   Velmora.ico  the installer's and uninstaller's icon, 16, 24, 32 and 48
#                pixels (32-bit with alpha) and 256 (PNG)
#   Wizard.bmp   the welcome and finish pages' picture, 164x314, 24-bit
#   Header.bmp   the pages' header picture, 150x57, 24-bit
# with Debian's librsvg (rsvg-convert), netpbm and icoutils (icotool), none
# of which writes a time or a path into its output: the same sources and
# packages give the same bytes.
# Usage: installer/art/render.sh OUT_DIR
set -euo pipefail
art="$(cd "$(dirname "$0")" && pwd)"
out="${1:?render.sh needs the folder to write into}"
mkdir -p "$out"
work="$(mktemp -d "$out/.art.XXXXXX")"
trap 'rm -rf "$work"' EXIT

sizes=()
for size in 16 24 32 48 256; do
  rsvg-convert -w "$size" -h "$size" "$art/Velmora.svg" -o "$work/$size.png"
  [ "$size" = 256 ] || sizes+=("$work/$size.png")
done
icotool -c -o "$work/Velmora.ico" "${sizes[@]}" --raw="$work/256.png"

# On white, as the pages are: BMP has no alpha that NSIS would honour.
bitmap() {
  rsvg-convert -b '#FFFFFF' "$art/$1.svg" | pngtopnm | ppmtobmp -windows -bpp 24 >"$work/$1.bmp" 2>/dev/null
}
bitmap Wizard
bitmap Header
mv "$work/Velmora.ico" "$work/Wizard.bmp" "$work/Header.bmp" "$out/"

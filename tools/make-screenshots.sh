#!/usr/bin/env bash
# Makes the pictures of docs/user-guide.md from the built programs, under
# Wine in a virtual display, so that they can be made again after a change:
#
#   host-menu.png          the command-line host's window (--window), its
#                          Filter menu open at the plug-in, as a host lists it
#   note.png               that window while the stand-in Velmora.exe has the
#                          image: the plug-in's note in front of it
#   failure-box-en.png     the plug-in's own box for a host that shows no words
#   failure-box-de.png     (a host of signature PSP9), Velmora.exe missing, in
#                          English and, through Language=de, in German
#   installer-start.png    the page the installer starts with after the
#                          language choice: its welcome page where it has one
#   installer-finish.png   its finish page, for a machine with Photoshop
#
# Everything runs in a Wine prefix of its own (build/screenshots), with a
# fresh virtual display; the x86_64 build's programs, the installer made by
# tools/package.sh from the i686 and x86_64 builds (unsigned; the ARM64
# plug-in in it is the ARM64 build when there is one, else the x64 build in
# its place, which no picture shows). Each picture is the X display's image
# (xwd) cut to the window (netpbm), reduced to at most 256 colours and
# written as PNG into docs/images/. Look at every picture before committing it.
# Usage: tools/make-screenshots.sh
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build"
work="$build/screenshots"
images="$root/docs/images"

if [ "${1:-}" != --inside ]; then
  "$root/tools/setup.sh"
  for arch in i686 x86_64; do
    if [ ! -f "$build/$arch/CMakeCache.txt" ]; then
      cmake -S "$root" -B "$build/$arch" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DVELMORA_TESTS=OFF -DVELMORA_WINEPREFIX="$build/wineprefix" \
        >/dev/null
    fi
  done
  cmake --build "$build/x86_64" -j "$(nproc)" --target velmora_plugin velmora_standin \
    velmora_cmdhost velmora_windows velmora_peruser
  cmake --build "$build/i686" -j "$(nproc)" --target velmora_plugin velmora_files
  # The installer, from a build folder of links to the two builds.
  rm -rf "$work"
  mkdir -p "$work/builds/aarch64/plugin" "$work/dist"
  ln -s "$build/i686" "$work/builds/i686"
  ln -s "$build/x86_64" "$work/builds/x86_64"
  if [ -f "$build/aarch64/plugin/Velmora.8bf" ]; then
    ln -s "$build/aarch64/plugin/Velmora.8bf" "$work/builds/aarch64/plugin/Velmora.8bf"
  else
    # Stripped first: llvm-strip, which package.sh uses for the ARM64 file,
    # does not read the symbols that the MinGW linker leaves in the x64 one.
    x86_64-w64-mingw32-strip -o "$work/builds/aarch64/plugin/Velmora.8bf" \
      "$build/x86_64/plugin/Velmora.8bf"
  fi
  env -u VELMORA_SIGN_PKCS12 "$root/tools/package.sh" --no-build --build "$work/builds" \
    --out "$work/dist" >"$work/package.log" 2>&1 || {
    cat "$work/package.log" >&2
    echo "make-screenshots: the installer could not be made" >&2
    exit 1
  }
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" --inside
fi

export WINEPREFIX="$work/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d"
export LC_ALL=C.UTF-8
winpath() { printf 'Z:%s' "${1//\//\\}"; }
windows="$build/x86_64/tools/VelmoraWindows.exe"
host="$build/x86_64/tools/VelmoraHost.exe"
plugin="$(winpath "$build/x86_64/plugin/Velmora.8bf")"
setup="$(ls "$work"/dist/VelmoraPlugin-*-setup.exe)"

# A prefix of its own with a Wine desktop of 1024 x 768 pixels, which the
# display shows at its top left.
wineboot -i >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Velmora /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Velmora /d 1024x768 /f >/dev/null 2>&1
wineserver -w
# The sample under a name a user might have, so that no build folder shows
# in the host's title bar.
mkdir -p "$WINEPREFIX/drive_c/Pictures"
cp "$root/samples/sample.ppm" "$WINEPREFIX/drive_c/Pictures/Sample.ppm"
sample='C:\Pictures\Sample.ppm'
trap 'wineserver -k 2>/dev/null || true' EXIT

profile="$WINEPREFIX/drive_c/users/$(id -un)"
settings="$profile/VelmoraPro/plugin.ini"
mkdir -p "$(dirname "$settings")" "$images"

# shot NAME WINDOW: the window (and the menus it has open) as NAME.png. The
# display's root image lacks what Wine draws into X windows of their own
# while it is not the active window (open menus, the note): each X window
# inside the picture is taken by itself and laid over it, largest first.
shot() {
  local name="$1" title="$2" left top width height picture="$work/shot.ppm"
  read -r left top width height < <(wine "$windows" rect "$title" | tr -d '\r')
  xwd -root -silent | xwdtopnm 2>/dev/null | pnmdepth 255 |
    pnmcut -left "$left" -top "$top" -width "$width" -height "$height" >"$picture"
  local id w h x y
  while read -r id w h x y; do
    xwininfo -id "$id" | grep -q IsViewable || continue
    if [ "$x" -ge "$left" ] && [ "$y" -ge "$top" ] && [ $((x + w)) -le $((left + width)) ] &&
      [ $((y + h)) -le $((top + height)) ] && [ "$w" -gt 1 ] && [ "$h" -gt 1 ]; then
      xwd -id "$id" -silent | xwdtopnm 2>/dev/null | pnmdepth 255 >"$work/window.ppm"
      pnmpaste "$work/window.ppm" $((x - left)) $((y - top)) "$picture" >"$work/pasted.ppm"
      mv "$work/pasted.ppm" "$picture"
    fi
  done < <(xwininfo -root -tree |
    sed -nE 's/^ *(0x[0-9a-f]+) .* ([0-9]+)x([0-9]+)[+-]-?[0-9]+[+-]-?[0-9]+ +\+(-?[0-9]+)\+(-?[0-9]+)$/\1 \2 \3 \4 \5/p' |
    sort -k2,2nr -k3,3nr)
  pnmquant -quiet 256 "$picture" 2>/dev/null | pnmtopng -compression 9 >"$images/$name.png"
  rm -f "$picture" "$work/window.ppm"
  echo "make-screenshots: docs/images/$name.png ($width x $height)"
}

# The host's window with the filter in its menu, then the note while the
# stand-in has the image (it sleeps, then copies).
printf '[General]\r\nApplicationPath=%s\r\n' "$(winpath "$build/x86_64/app")" >"$settings"
VELMORA_STANDIN_MODE=sleep:6000 wine "$host" --window "$plugin" "$sample" 'C:\result.ppm' >"$work/host.log" 2>&1 &
wine "$windows" menu "VelmoraHost" F
wine "$windows" keys "VelmoraHost" right
sleep 2
shot host-menu "VelmoraHost"
wine "$windows" keys "VelmoraHost" enter
wine "$windows" rect "Velmora" >/dev/null  # the note
sleep 1
shot note "VelmoraHost"
wait

# The plug-in's box in a host that shows no words of its own, for a folder
# without Velmora.exe: in English, and in German as the settings choose.
for language in en de; do
  printf '[General]\r\nApplicationPath=C:\\Program Files\\Velmora\r\n' >"$settings"
  [ "$language" = de ] && printf 'Language=de\r\n' >>"$settings"
  wine "$host" --window --host-sig PSP9 "$plugin" "$sample" 'C:\result.ppm' >"$work/box-$language.log" 2>&1 &
  wine "$windows" menu "VelmoraHost" F
  wine "$windows" keys "VelmoraHost" right enter
  shot "failure-box-$language" "Velmora"
  wine "$windows" click "Velmora" 1
  wait || true
done

# The installer on a machine with Photoshop and Velmora: the page it starts
# with (the welcome page, where it has one), then, past every page, its
# finish page.
mkdir -p "$WINEPREFIX/drive_c/Program Files/Adobe/Adobe Photoshop 2024/Plug-ins" \
  "$WINEPREFIX/drive_c/Program Files/Velmora"
cp "$build/x86_64/app/Velmora.exe" "$WINEPREFIX/drive_c/Program Files/Velmora/"
wine reg add 'HKLM\SOFTWARE\Adobe\Photoshop\180.0' /v PluginPath \
  /d 'C:\Program Files\Adobe\Adobe Photoshop 2024\Plug-ins\' /f /reg:64 >/dev/null 2>&1
wine "$setup" >"$work/setup.log" 2>&1 &
wine "$windows" click "Installer Language" 1
shot installer-start "Setup"
for _ in $(seq 1 10); do
  [ "$(wine "$windows" text "Setup" 1 | tr -d '\r&')" = Finish ] && break
  wine "$windows" click "Setup" 1
  sleep 2
done
shot installer-finish "Setup"
wine "$windows" click "Setup" 1
wait || true

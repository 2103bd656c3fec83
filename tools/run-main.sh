#!/usr/bin/env bash
# The main job: builds both Velmora.8bf files, the stand-in Velmora.exe and
# the command-line host, points the Wine user's settings file at the stand-in,
# and applies the plug-in to the sample image for each architecture with the
# stand-in inverting it. The results land next to the build:
# build/result-<arch>.ppm (and a .png to look at).
# Usage: tools/run-main.sh
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build"
sample="$root/samples/sample.ppm"
archs=(i686 x86_64)

"$root/tools/build.sh" --no-tests

# A Unix path as Windows programs under Wine see it, through drive Z:.
winpath() { printf 'Z:%s' "${1//\//\\}"; }

# Both build trees share one Wine prefix.
"$build/${archs[0]}/wine-init.sh"
export WINEPREFIX="$build/wineprefix"
export WINEDEBUG=-all
profile_win="$(wine cmd /c echo %USERPROFILE% 2>/dev/null | tr -d '\r\n' || true)"
profile=""
if [ -n "$profile_win" ] && [ "$profile_win" != "%USERPROFILE%" ]; then
  profile="$(winepath -u "$profile_win" 2>/dev/null || true)"
fi
if [ -z "$profile" ]; then
  profile="$WINEPREFIX/drive_c/users/$(id -un)"
fi
settings="$profile/VelmoraPro/plugin.ini"
mkdir -p "$(dirname "$settings")"

status=0
for arch in "${archs[@]}"; do
  plugin="$build/$arch/plugin/Velmora.8bf"
  host="$build/$arch/tools/VelmoraHost.exe"
  result="$build/result-$arch.ppm"
  rm -f "$result" "$build/result-$arch.png"
  echo
  echo "=== $arch: Velmora.8bf on samples/sample.ppm, the stand-in inverting ==="
  # The plug-in reads the application's folder from here; CR LF line ends.
  printf '[General]\r\nApplicationPath=%s\r\n' "$(winpath "$build/$arch/app")" >"$settings"
  if ! VELMORA_STANDIN_MODE=invert "$build/$arch/wine-run.sh" "$host" \
      "$(winpath "$plugin")" "$(winpath "$sample")" "$(winpath "$result")"; then
    echo "run-main: the command-line host failed for $arch" >&2
    status=1
    continue
  fi
  if [ ! -s "$result" ]; then
    echo "run-main: no result written for $arch" >&2
    status=1
    continue
  fi
  if cmp -s "$sample" "$result"; then
    echo "run-main: the $arch result equals the input: nothing was applied" >&2
    status=1
    continue
  fi
  # Every sample should be the inverse of the input's, up to 16-bit rounding.
  difference="$(pnminvert "$sample" | pamarith -difference - "$result" | pamsumm -max -brief)"
  if [ "$difference" -gt 2 ]; then
    echo "run-main: the $arch result is not the inverted sample (largest difference $difference of 65535)" >&2
    status=1
    continue
  fi
  echo "verified: the result is the inverted sample (largest difference $difference of 65535)"
  pnmtopng "$result" >"$build/result-$arch.png" 2>/dev/null || rm -f "$build/result-$arch.png"
done

echo
echo "Plug-ins:"
echo "  32-bit hosts: $build/i686/plugin/Velmora.8bf"
echo "  64-bit hosts: $build/x86_64/plugin/Velmora.8bf"
echo "Command-line hosts: $build/<arch>/tools/VelmoraHost.exe (run with --help)"
echo "Results, the sample inverted by the stand-in application:"
for arch in "${archs[@]}"; do
  if [ -s "$build/result-$arch.ppm" ]; then
    echo "  $arch: $build/result-$arch.ppm$([ -s "$build/result-$arch.png" ] && echo " (preview $build/result-$arch.png)")"
  else
    echo "  $arch: none"
  fi
done
exit $status

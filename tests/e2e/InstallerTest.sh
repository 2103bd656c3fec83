#!/usr/bin/env bash
# The release files end to end, under Wine, in a fresh prefix of its own:
# builds the installer and the zip from the built plug-ins, checks the zip,
# makes fake hosts (the shared Adobe folders and Photoshop versions whose
# PluginPath is in the 64-bit and in the 32-bit registry view), installs
# silently with an application path and checks that every file landed where
# its architecture belongs and nowhere else, the settings file byte for byte,
# a round trip through each installed plug-in with the command-line host and
# the stand-in, a reinstall while a host has a plug-in loaded (the settings
# file kept, the file replaced at the next start of Windows), and a silent
# uninstall that leaves exactly what was there before, plus the settings file.
# Usage: InstallerTest.sh SOURCE_DIR BUILD_DIR (the folder of i686/ and x86_64/)
set -euo pipefail
src="$(cd "$1" && pwd)"
build="$(cd "$2" && pwd)"
work="$build/installer-test"

fail() { echo "FAIL: $*" >&2; exit 1; }
winpath() { printf 'Z:%s' "${1//\//\\}"; }
now() { date +%s.%N; }
seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", b - a }'; }

built64="$build/x86_64/plugin/Velmora.8bf"
built86="$build/i686/plugin/Velmora.8bf"
for f in "$built64" "$built86" "$build/x86_64/tools/VelmoraHost.exe" "$build/i686/tools/VelmoraHost.exe" \
    "$build/x86_64/app/Velmora.exe"; do
  [ -f "$f" ] || fail "$f is not built (both architectures are needed)"
done

export WINEPREFIX="$work/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d"
# Programs of an earlier run of this test in its own prefix finish first.
if [ -d "$WINEPREFIX" ]; then
  touch "$work/done"
  timeout 60 wineserver -w || wineserver -k || true
fi
rm -rf "$work"
mkdir -p "$work"
# A stand-in still waiting for its cue when a check fails ends with the test.
trap 'touch "$work/done" 2>/dev/null || true' EXIT
C="$WINEPREFIX/drive_c"

# --- The release files -------------------------------------------------------
version="$(sed -n 's/^#define VELMORA_VERSION_TEXT "\(.*\)"$/\1/p' "$src/ui/Version.h")"
publisher="$(sed -n 's/^#define VELMORA_COMPANY_NAME "\(.*\)"$/\1/p' "$src/ui/Version.h")"
"$src/tools/package.sh" --no-build --build "$build" --out "$work/dist" >/dev/null
setup="$work/dist/VelmoraPlugin-$version-setup.exe"
zip="$work/dist/VelmoraPlugin-$version.zip"
[ -f "$setup" ] || fail "no installer $(basename "$setup")"
[ -f "$zip" ] || fail "no zip $(basename "$zip")"
texts="Install.de.txt Install.es.txt Install.fr.txt Install.it.txt Install.ja.txt Install.ko.txt"
texts+=" Install.nl.txt Install.pl.txt Install.pt-BR.txt Install.ru.txt Install.txt"
texts+=" Install.zh-CN.txt Install.zh-TW.txt"
[ "$(unzip -Z1 "$zip" | LC_ALL=C sort | tr '\n' ' ')" = "$texts plugin.ini x64/Velmora.8bf x86/Velmora.8bf " ] ||
  fail "the zip holds $(unzip -Z1 "$zip" | tr '\n' ' ')"
# The released builds: this build's plug-ins without their symbols, each of
# its own architecture. The installed files must be these.
unzip -q "$zip" x64/Velmora.8bf x86/Velmora.8bf -d "$work/release"
x64="$work/release/x64/Velmora.8bf"
x86="$work/release/x86/Velmora.8bf"
x86_64-w64-mingw32-strip -p -o "$work/stripped64.8bf" "$built64"
i686-w64-mingw32-strip -p -o "$work/stripped86.8bf" "$built86"
cmp -s "$x64" "$work/stripped64.8bf" || fail "the zip's x64/Velmora.8bf is not this build's 64-bit plug-in"
cmp -s "$x86" "$work/stripped86.8bf" || fail "the zip's x86/Velmora.8bf is not this build's 32-bit plug-in"
[[ "$(x86_64-w64-mingw32-objdump -f "$x64")" == *"file format pei-x86-64"* ]] || fail "x64/Velmora.8bf is no x86-64 DLL"
[[ "$(x86_64-w64-mingw32-objdump -f "$x86")" == *"file format pei-i386"* ]] || fail "x86/Velmora.8bf is no i386 DLL"
printf '[General]\r\nApplicationPath=C:\\Program Files\\Velmora\\\r\n' | cmp -s - <(unzip -p "$zip" plugin.ini) ||
  fail "the zip's plugin.ini is not the example with CR LF line ends"
install_text="$(unzip -p "$zip" Install.txt)"
[ -n "$install_text" ] && ! grep -qv $'\r$' <<<"$install_text" || fail "Install.txt has lines without CR LF"
grep -q 'x64\\Velmora.8bf' <<<"$install_text" && grep -q 'x86\\Velmora.8bf' <<<"$install_text" ||
  fail "Install.txt does not say which file goes where"
# The translations: UTF-8 with its mark, the version filled in, CR LF.
german="$(unzip -p "$zip" Install.de.txt)"
[ "$(unzip -p "$zip" Install.de.txt | head -c3 | od -An -tx1 | tr -d ' \n')" = efbbbf ] ||
  fail "Install.de.txt has no UTF-8 byte-order mark"
grep -q "Velmora Plugin $version, Installation von Hand" <<<"$german" && ! grep -qv $'\r$' <<<"$german" ||
  fail "Install.de.txt is not the German text with its version and CR LF line ends"

# --- A fresh prefix with fake hosts -------------------------------------------
wineboot -i >/dev/null 2>&1 || fail "wineboot could not create the prefix"
wineserver -w
ps64="Program Files/Adobe/Adobe Photoshop 2024/Plug-ins"
ps32="Program Files (x86)/Adobe/Adobe Photoshop CS6/Plug-ins"
cc64="Program Files/Common Files/Adobe/Plug-Ins/CC"
cc32="Program Files (x86)/Common Files/Adobe/Plug-Ins/CC"
app="Apps/Velmora Standin"
mkdir -p "$C/$ps64" "$C/$ps32" "$C/$cc64" "$C/$cc32" "$C/$app"
cp "$build/x86_64/app/Velmora.exe" "$C/$app/"
# Batch files keep the quoting of reg's arguments away from the shell.
run_cmd() {
  printf '%s\r\n' '@echo off' "$@" >"$work/batch.cmd"
  wine cmd /c "$(winpath "$work/batch.cmd")"
}
# One version with a trailing backslash, one without, one whose folder is
# gone, one without PluginPath.
run_cmd \
  'reg add "HKLM\SOFTWARE\Adobe\Photoshop\180.0" /v PluginPath /d "C:\Program Files\Adobe\Adobe Photoshop 2024\Plug-ins\\" /f /reg:64 >nul' \
  'reg add "HKLM\SOFTWARE\Adobe\Photoshop\110.0" /f /reg:64 >nul' \
  'reg add "HKLM\SOFTWARE\Adobe\Photoshop\60.0" /v PluginPath /d "C:\Program Files (x86)\Adobe\Adobe Photoshop CS6\Plug-ins" /f /reg:32 >nul' \
  'reg add "HKLM\SOFTWARE\Adobe\Photoshop\55.0" /v PluginPath /d "C:\Old Photoshop\Plug-ins" /f /reg:32 >nul' \
  "echo %USERPROFILE%> $(winpath "$work/profile.txt")"
wineserver -w
profile_win="$(tr -d '\r\n' <"$work/profile.txt")"
case "$profile_win" in
  [Cc]:\\*) profile_rel="${profile_win:3}"; profile_rel="${profile_rel//\\//}" ;;
  *) fail "the profile folder $profile_win is not on drive C:" ;;
esac
settings="$C/$profile_rel/VelmoraPro/plugin.ini"
[ -d "$C/$profile_rel" ] || fail "no profile folder $profile_win"

# Every folder and file of drive C: with its checksum, but Windows and the
# temporary folders, which Wine itself and the programs' runs change.
snapshot() {
  (cd "$C" && find . \( -path ./windows -o -path './users/*/Temp' -o -path './users/*/AppData/Local/Temp' \) -prune \
    -o \( -type d -o -type f \) -printf '%y %p\n') |
    while read -r kind path; do
      sum=-
      if [ "$kind" = f ]; then
        sum="$(md5sum <"$C/$path" | cut -c1-32)"
      fi
      printf '%s %s %s\n' "$kind" "$sum" "$path"
    done | sort -k3
}
# The paths that are new or changed in $2 against $1, and those gone or
# changed: lines "+ path" and "- path".
changes() {
  { diff "$1" "$2" || true; } | sed -n 's/^> [df] [^ ]* \.\//+ /p; s/^< [df] [^ ]* \.\//- /p' | sort -k2
}
snapshot >"$work/before.txt"

# --- A relative application path is refused, before anything is placed -------
set +e
wine "$setup" /S APPLICATIONPATH=Velmora
rc=$?
set -e
wineserver -w
[ "$rc" = 2 ] || fail "a relative APPLICATIONPATH gave exit code $rc, not 2"
snapshot >"$work/refused.txt"
[ -z "$(changes "$work/before.txt" "$work/refused.txt")" ] || fail "the refused install changed files"

# --- Silent install ------------------------------------------------------------
start="$(now)"
wine "$setup" /S "APPLICATIONPATH=C:\\${app//\//\\}" || fail "the silent install failed (exit code $?)"
wineserver -w
install_time="$(seconds "$start" "$(now)")"
snapshot >"$work/installed.txt"

own="Program Files/Velmora Plugin"
user_dir="$profile_rel/VelmoraPro"
expected="$(printf '+ %s\n' "$own" "$own/x64" "$own/x86" "$own/Uninstall.exe" "$own/x64/Velmora.8bf" \
  "$own/x86/Velmora.8bf" "$ps64/Velmora.8bf" "$cc64/Velmora.8bf" "$ps32/Velmora.8bf" "$cc32/Velmora.8bf" \
  "$user_dir" "$user_dir/plugin.ini" | sort -k2)"
placed="$(changes "$work/before.txt" "$work/installed.txt")"
[ "$placed" = "$expected" ] || fail "the install changed other paths than expected:
$(diff <(echo "$expected") <(echo "$placed") | sed -n 's/^< + /  missing: /p; s/^> [+-] /  unexpected: /p')"
for folder in "$own/x64" "$ps64" "$cc64"; do
  cmp -s "$C/$folder/Velmora.8bf" "$x64" || fail "$folder/Velmora.8bf is not the 64-bit build"
done
for folder in "$own/x86" "$ps32" "$cc32"; do
  cmp -s "$C/$folder/Velmora.8bf" "$x86" || fail "$folder/Velmora.8bf is not the 32-bit build"
done
printf '[General]\r\nApplicationPath=C:\\Apps\\Velmora Standin\\\r\n' | cmp -s - "$settings" ||
  fail "plugin.ini is not as expected: $(od -c "$settings" | head -5)"

# Apps and Features: version and publisher, in the 64-bit view only.
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\VelmoraPlugin'
run_cmd "reg query \"$uninstall_key\" /reg:64 > $(winpath "$work/entry64.txt")" \
  "reg query \"$uninstall_key\" /reg:32 > $(winpath "$work/entry32.txt") 2>nul" 'exit /b 0'
grep -q "DisplayVersion *REG_SZ *$version" "$work/entry64.txt" || fail "no DisplayVersion $version in $uninstall_key"
grep -q "Publisher *REG_SZ *$publisher" "$work/entry64.txt" || fail "no Publisher $publisher in $uninstall_key"
grep -q 'QuietUninstallString' "$work/entry64.txt" || fail "no QuietUninstallString in $uninstall_key"
! grep -q DisplayName "$work/entry32.txt" || fail "an Apps and Features entry in the 32-bit view too"

# --- Each installed plug-in runs a round trip -----------------------------------
for arch in x86_64 i686; do
  if [ "$arch" = x86_64 ]; then plugin="C:\\${ps64//\//\\}\\Velmora.8bf"; else plugin="C:\\${ps32//\//\\}\\Velmora.8bf"; fi
  result="$work/result-$arch.ppm"
  VELMORA_STANDIN_MODE=invert wine "$build/$arch/tools/VelmoraHost.exe" "$plugin" \
    "$(winpath "$src/samples/sample.ppm")" "$(winpath "$result")" >"$work/host-$arch.txt" 2>&1 ||
    fail "the installed $arch plug-in failed its round trip: $(cat "$work/host-$arch.txt")"
  difference="$(pnminvert "$src/samples/sample.ppm" | pamarith -difference - "$result" | pamsumm -max -brief)"
  [ "$difference" -le 2 ] || fail "the $arch round trip is not the inverted sample (difference $difference)"
done
wineserver -w

# --- Reinstall while a host has a plug-in loaded ---------------------------------
# An older build in the 64-bit Photoshop's folder, loaded by a host whose
# application is still open: the file cannot be replaced now.
printf 'older' >>"$C/$ps64/Velmora.8bf"
cp "$C/$ps64/Velmora.8bf" "$work/older.8bf"
cp "$settings" "$work/settings.ini"
VELMORA_STANDIN_MODE="until:$(winpath "$work/done")" VELMORA_STANDIN_LOG="$(winpath "$work/busy.log")" \
  wine "$build/x86_64/tools/VelmoraHost.exe" "C:\\${ps64//\//\\}\\Velmora.8bf" \
  "$(winpath "$src/samples/sample.ppm")" "$(winpath "$work/busy.ppm")" >"$work/busy.txt" 2>&1 &
host_pid=$!
for _ in $(seq 300); do
  [ -s "$work/busy.log" ] && break
  kill -0 "$host_pid" 2>/dev/null || break
  sleep 0.2
done
[ -s "$work/busy.log" ] || fail "the host did not start the stand-in: $(cat "$work/busy.txt")"
set +e
wine "$setup" /S 'APPLICATIONPATH=C:\Elsewhere'
rc=$?
set -e
touch "$work/done"  # the application's run ends, and with it the host
# 3010, a restart is needed, as the low byte that Wine passes on.
[ "$rc" = $((3010 % 256)) ] || fail "the install over a file in use gave exit code $rc, not 3010"
cmp -s "$C/$ps64/Velmora.8bf" "$work/older.8bf" || fail "the file in use changed under the host"
cmp -s "$C/$ps64/Velmora.8bf.new" "$x64" || fail "the new build does not wait beside the file in use"
cmp -s "$settings" "$work/settings.ini" || fail "the existing plugin.ini was changed"
wait "$host_pid" || fail "the host with the file in use failed: $(cat "$work/busy.txt")"
wineboot -r >/dev/null 2>&1
wineserver -w
snapshot >"$work/restarted.txt"
[ -z "$(changes "$work/installed.txt" "$work/restarted.txt")" ] ||
  fail "after the restart the files differ from the first install's:
$(changes "$work/installed.txt" "$work/restarted.txt")"

# --- Silent uninstall ------------------------------------------------------------
start="$(now)"
wine "C:\\${own//\//\\}\\Uninstall.exe" /S || fail "the silent uninstall failed (exit code $?)"
# The uninstaller runs on from a copy in the temporary folder.
wineserver -w
uninstall_time="$(seconds "$start" "$(now)")"
snapshot >"$work/uninstalled.txt"
left="$(changes "$work/before.txt" "$work/uninstalled.txt")"
[ "$left" = "$(printf '+ %s\n' "$user_dir" "$user_dir/plugin.ini" | sort -k2)" ] ||
  fail "the uninstall left other changes than the settings file:
$left"
cmp -s "$settings" "$work/settings.ini" || fail "the uninstall changed plugin.ini"
run_cmd "reg query \"$uninstall_key\" /reg:64 > $(winpath "$work/entry64.txt") 2>nul" 'exit /b 0'
! grep -q DisplayName "$work/entry64.txt" || fail "the Apps and Features entry is still there"
wineserver -w

echo "installer: $(basename "$setup"), $(stat -c %s "$setup") bytes; zip $(stat -c %s "$zip") bytes"
echo "placed:"
echo "$placed" | sed 's/^+ /  /'
echo "silent install ${install_time} s, silent uninstall ${uninstall_time} s (each with Wine's start and settling)"
echo "installer test: 1 passed, 0 failed"

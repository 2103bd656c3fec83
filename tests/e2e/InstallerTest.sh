#!/usr/bin/env bash
# The release files end to end, under Wine, in a fresh prefix of its own:
# builds the installer and the zip from the built plug-ins, unsigned and then
# signed with a throwaway code-signing certificate made here (a wrong password
# stops the packaging, and no log shows the password), checks the signatures
# of both plug-ins, the installer and the uninstaller it writes, checks the zip,
# checks that the installer's icon and pictures are the ones drawn for it (none
# of NSIS's own) and that its manifest names the NSIS built from Debian's source,
# makes fake hosts (the shared Adobe folders, Photoshop versions whose
# PluginPath is in the 64-bit and in the 32-bit registry view, one of them
# inside a user's profile, one holding an earlier release's copy, Photoshop
# Elements, Paint.NET with PSFilterPdn, PhotoPlus and IrfanView of both
# architectures, host folders outside Program Files and behind a link, hosts
# that are only told where to look, Affinity's plug-in folders in users'
# profiles) and fake accounts (users, one with a settings file of its own, one
# whose VelmoraPro and Affinity folders are links to admin-only folders, one
# whose profile is gone, one in a moved profile behind a link, the default
# profile, service and virtual accounts), refuses application paths that the
# plug-in could not read, an existing installation folder outside Program
# Files with a link planted in it, and an install whose file program cannot
# run (exit code 2 and its own words, nothing written), installs silently
# with an application path in letters outside the code page and checks that
# every file landed where its architecture belongs and nowhere else (one copy
# for each Photoshop, the earlier copy gone, nothing in any profile, nothing
# through a link, nothing outside Program Files, each refusal said), the
# finish page's words for the hosts found and for those left out, the
# machine-wide setting in the registry view both plug-ins read and the Active
# Setup entry of the per-user step, a round trip through each installed
# plug-in with the command-line host and the stand-in for a user without a
# settings file (through the machine-wide setting), the user's own settings
# file winning over it, the per-user step run as the user (a copy into that
# user's Affinity folder and nowhere else, none through a link; an earlier
# release's plugin.ini moved aside, an edited one kept), a reinstall while a
# host has a plug-in loaded (the file replaced at the next start of Windows),
# a reinstall with /D= that moves the installation folder and one that keeps
# it, a reinstall that keeps a REG_EXPAND_SZ setting as it is, and a silent
# uninstall that leaves exactly what was there before, plus the user's own
# copy for Affinity, and deletes nothing through a link that an earlier
# release's record points into; last, on a machine with only Affinity and a
# Photoshop outside Program Files, the words say that Photoshop got nothing
# and which file to copy where; and that Escape at the language choice
# cancels with exit code 1 and the uninstaller of an install in German speaks
# German.
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
    "$build/x86_64/app/Velmora.exe" "$build/x86_64/tools/VelmoraPerUser.exe" \
    "$build/i686/tools/VelmoraFiles.exe"; do
  [ -f "$f" ] || fail "$f is not built (both architectures are needed)"
done

export WINEPREFIX="$work/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d"
# Arguments reach Windows programs as UTF-8, and Windows' code page is 1252,
# which has no Japanese letters.
export LC_ALL=C.UTF-8
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
unset VELMORA_SIGN_PKCS12 VELMORA_SIGN_PASSWORD_FILE VELMORA_SIGN_TIMESTAMP_URL
# The release's one time, in the zip's entries and the modules' headers.
export SOURCE_DATE_EPOCH=1700000000
"$src/tools/package.sh" --no-build --build "$build" --out "$work/unsigned" >"$work/package-unsigned.txt" ||
  fail "unsigned packaging failed: $(cat "$work/package-unsigned.txt")"
[ "$(grep -ci "building unsigned" "$work/package-unsigned.txt")" = 1 ] ||
  fail "packaging without a certificate does not say once that it is unsigned: $(cat "$work/package-unsigned.txt")"
unzip -q "$work/unsigned/VelmoraPlugin-$version.zip" x64/Velmora.8bf x86/Velmora.8bf -d "$work/unsigned"
! osslsigncode verify -in "$work/unsigned/x64/Velmora.8bf" >/dev/null 2>&1 || fail "the unsigned x64/Velmora.8bf has a signature"

# A throwaway code-signing certificate, made for this run only.
cert="$work/cert"
mkdir "$cert"
subject="/CN=Velmora Test Signing $$/O=Throwaway"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$cert/key.pem" -out "$cert/cert.pem" -days 2 -subj "$subject" \
  -addext "extendedKeyUsage=critical,codeSigning" -addext "keyUsage=critical,digitalSignature" >/dev/null 2>&1 ||
  fail "openssl could not make a test certificate"
password="test-$RANDOM$RANDOM-password"
# The password on the first line, and a note after it, as people keep them.
printf '%s\n# release signing, not for sharing\n' "$password" >"$cert/password"
printf 'not-%s\n' "$password" >"$cert/wrong-password"
openssl pkcs12 -export -inkey "$cert/key.pem" -in "$cert/cert.pem" -out "$cert/cert.p12" -passout "file:$cert/password" ||
  fail "openssl could not make the PKCS#12 file"
export VELMORA_SIGN_PKCS12="$cert/cert.p12"

# Asked to sign but unable to: no release files at all, rather than unsigned ones.
set +e
VELMORA_SIGN_PASSWORD_FILE="$cert/wrong-password" \
  "$src/tools/package.sh" --no-build --build "$build" --out "$work/refused" >"$work/package-refused.txt" 2>&1
rc=$?
set -e
[ "$rc" != 0 ] || fail "packaging with a wrong password succeeded"
[ -z "$(ls -A "$work/refused")" ] || fail "packaging with a wrong password left $(ls -A "$work/refused")"
# Nor when the time-stamping server does not answer (nothing listens there).
set +e
VELMORA_SIGN_PASSWORD_FILE="$cert/password" VELMORA_SIGN_TIMESTAMP_URL=http://127.0.0.1:9/ \
  "$src/tools/package.sh" --no-build --build "$build" --out "$work/unstamped" >>"$work/package-refused.txt" 2>&1
rc=$?
set -e
[ "$rc" != 0 ] || fail "packaging with a time-stamping server that does not answer succeeded"
[ -z "$(ls -A "$work/unstamped")" ] || fail "packaging without its time stamps left $(ls -A "$work/unstamped")"

export VELMORA_SIGN_PASSWORD_FILE="$cert/password"
"$src/tools/package.sh" --no-build --build "$build" --out "$work/dist" >"$work/package-signed.txt" 2>&1 ||
  fail "signed packaging failed: $(cat "$work/package-signed.txt")"
unset VELMORA_SIGN_PKCS12 VELMORA_SIGN_PASSWORD_FILE
! grep -q -e "$password" "$work/package-unsigned.txt" "$work/package-refused.txt" "$work/package-signed.txt" ||
  fail "packaging shows the certificate's password"
setup="$work/dist/VelmoraPlugin-$version-setup.exe"
zip="$work/dist/VelmoraPlugin-$version.zip"
[ -f "$setup" ] || fail "no installer $(basename "$setup")"
[ -f "$zip" ] || fail "no zip $(basename "$zip")"
texts="Install.de.txt Install.es.txt Install.fr.txt Install.it.txt Install.ja.txt Install.ko.txt"
texts+=" Install.nl.txt Install.pl.txt Install.pt-BR.txt Install.ru.txt Install.txt"
texts+=" Install.zh-CN.txt Install.zh-TW.txt"
[ "$(unzip -Z1 "$zip" | LC_ALL=C sort | tr '\n' ' ')" = "$texts arm64/Velmora.8bf plugin.ini x64/Velmora.8bf x86/Velmora.8bf " ] ||
  fail "the zip holds $(unzip -Z1 "$zip" | tr '\n' ' ')"
[ "$(TZ=UTC0 unzip -Z -T "$zip" | awk '/^-/ { print $7 }' | sort -u)" = 20231114.221320 ] ||
  fail "the zip's entries do not carry the release's time: $(TZ=UTC0 unzip -Z -T "$zip")"

# $1 = a signed file, $2 = its name for the record: an Authenticode signature
# with a SHA-256 digest by the test certificate, which osslsigncode verifies.
signatures="$work/signatures.txt"
: >"$signatures"
check_signature() {
  local report
  report="$(osslsigncode verify -CAfile "$cert/cert.pem" -in "$1" 2>&1)" || fail "the signature of $2 does not verify:
$report"
  grep -q '^Message digest algorithm *: SHA256' <<<"$report" || fail "$2 is not signed with a SHA-256 digest"
  grep -q "Subject: $subject\$" <<<"$report" || fail "$2 is not signed by the test certificate"
  grep -q '^Signature verification: ok' <<<"$report" || fail "the signature of $2 is not ok"
  [ "$(grep -c 'Signature Index:' <<<"$report")" = 1 ] || fail "$2 has more than one signature"
  printf '=== osslsigncode verify %s\n%s\n' "$2" "$report" >>"$signatures"
}

# The released builds: this build's plug-ins without their symbols, each of
# its own architecture, then signed. The installed files must be these.
unzip -q "$zip" x64/Velmora.8bf x86/Velmora.8bf arm64/Velmora.8bf -d "$work/release"
x64="$work/release/x64/Velmora.8bf"
x86="$work/release/x86/Velmora.8bf"
# strip stamps the header with SOURCE_DATE_EPOCH, as package.sh's does.
x86_64-w64-mingw32-strip -o "$work/stripped64.8bf" "$built64"
i686-w64-mingw32-strip -o "$work/stripped86.8bf" "$built86"
# $1 = a released plug-in, $2 = the build's stripped: the same bytes, padded
# with zeros to a multiple of 8 for the signature, but the header's checksum.
same_module() {
  local size at
  size="$(stat -c %s "$2")"
  at="$(($(od -An -tu4 -j60 -N4 "$2") + 24 + 64))"
  [ "$(stat -c %s "$1")" = $(((size + 7) / 8 * 8)) ] || return 1
  [ -z "$(tail -c +$((size + 1)) "$1" | tr -d '\0')" ] || return 1
  { cmp -l -n "$size" "$1" "$2" || true; } | awk -v at="$at" '$1 <= at || $1 > at + 4 { bad = 1 } END { exit bad }'
}
same_module "$work/unsigned/x64/Velmora.8bf" "$work/stripped64.8bf" || fail "the zip's x64/Velmora.8bf is not this build's 64-bit plug-in"
same_module "$work/unsigned/x86/Velmora.8bf" "$work/stripped86.8bf" || fail "the zip's x86/Velmora.8bf is not this build's 32-bit plug-in"
check_signature "$x64" x64/Velmora.8bf
check_signature "$x86" x86/Velmora.8bf
check_signature "$work/release/arm64/Velmora.8bf" arm64/Velmora.8bf
check_signature "$setup" "$(basename "$setup")"
unzip -q "$work/unsigned/VelmoraPlugin-$version.zip" arm64/Velmora.8bf -d "$work/unsigned"
for arch in x64 x86 arm64; do
  osslsigncode remove-signature -in "$work/release/$arch/Velmora.8bf" -out "$work/removed-$arch.8bf" >/dev/null ||
    fail "osslsigncode could not remove the signature of $arch/Velmora.8bf"
  cmp -s "$work/removed-$arch.8bf" "$work/unsigned/$arch/Velmora.8bf" ||
    fail "the signed $arch/Velmora.8bf is not the unsigned one with a signature added"
done
[[ "$(x86_64-w64-mingw32-objdump -f "$x64")" == *"file format pei-x86-64"* ]] || fail "x64/Velmora.8bf is no x86-64 DLL"
[[ "$(x86_64-w64-mingw32-objdump -f "$x86")" == *"file format pei-i386"* ]] || fail "x86/Velmora.8bf is no i386 DLL"
[[ "$(llvm-readobj-19 --file-headers "$work/release/arm64/Velmora.8bf")" == *"IMAGE_FILE_MACHINE_ARM64 (0xAA64)"* ]] ||
  fail "arm64/Velmora.8bf is no ARM64 DLL"
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

# --- Its look, and the NSIS it is made with --------------------------------------
# The icon is the one drawn for it, and so are the pictures its pages unpack,
# none of them one of the NSIS's own (Contrib\Graphics, from Debian's source;
# an icon's images are compared, as a module holds them apart); the manifest
# names the NSIS built here, one with the fixes for installers run as the
# system account (3.11 on).
nsis="${VELMORA_NSIS:-$src/build/nsis}"
look="$work/look"
"$src/installer/art/render.sh" "$look/drawn"
# $1 = an .ico file: the SHA-256 of each of its images, sorted.
icon_images() {
  rm -rf "$look/images" && mkdir "$look/images" && icotool -x -o "$look/images" "$1" 2>/dev/null &&
    (cd "$look/images" && sha256sum -- * | cut -d' ' -f1 | sort)
}
wrestool -x -t 14 "$setup" >"$look/icon.ico"
drawn_icon="$(icon_images "$look/drawn/Velmora.ico")"
[ "$(icon_images "$look/icon.ico")" = "$drawn_icon" ] || fail "the installer's icon is not installer/art/Velmora.svg"
7zz e -y -bso0 -o"$look" "$setup" '$PLUGINSDIR/modern-wizard.bmp' '$PLUGINSDIR/modern-header.bmp' ||
  fail "the installer holds no pictures for its pages"
cmp -s "$look/modern-wizard.bmp" "$look/drawn/Wizard.bmp" && cmp -s "$look/modern-header.bmp" "$look/drawn/Header.bmp" ||
  fail "the installer's pictures are not installer/art/Wizard.svg and Header.svg"
while IFS= read -r -d '' stock; do
  if [[ "$stock" == *.ico ]]; then
    [ -z "$(comm -12 <(icon_images "$stock") <(echo "$drawn_icon"))" ] || fail "the installer's icon is NSIS's ${stock#"$nsis/"}"
  fi
  for mine in modern-wizard.bmp modern-header.bmp; do
    ! cmp -s "$look/$mine" "$stock" || fail "the installer's $mine is NSIS's ${stock#"$nsis/"}"
  done
done < <(find "$nsis/Contrib/Graphics" -type f -print0)
made_with="$(wrestool -x --raw -t 24 "$setup" | grep -ao 'Nullsoft Install System v[0-9.]*' | sed 's/.* v//')"
[ "v$made_with" = "$("$nsis/Bin/makensis" -VERSION)" ] &&
  [ "$(printf '3.11\n%s\n' "$made_with" | sort -V | head -n 1)" = 3.11 ] ||
  fail "the installer's manifest names NSIS ${made_with:-none}, not this build's $("$nsis/Bin/makensis" -VERSION)"
echo "ok: the installer's icon and pictures are Velmora's own; made with NSIS $made_with"

# --- A fresh prefix with fake hosts -------------------------------------------
wineboot -i >/dev/null 2>&1 || fail "wineboot could not create the prefix"
wineserver -w

# The installer cannot run on Windows on ARM here, but its choices there are
# the answers of its helper program, read from real modules' headers: which
# build a host of each kind loads, and which build Adobe's 64-bit shared
# folder, read by ARM64 and x64 Photoshops alike, gets.
built_arm64="$build/aarch64/plugin/Velmora.8bf"
[ -f "$built_arm64" ] || fail "$built_arm64 is not built"
build_answer() {
  local status=0
  wine "$build/i686/tools/VelmoraFiles.exe" "$@" >/dev/null 2>&1 || status=$?
  echo "$status"
}
expect_build() {
  local expected="$1"; shift
  [ "$(build_answer "$@")" = "$expected" ] || fail "VelmoraFiles.exe $* answers $(build_answer "$@"), not $expected"
}
a64="$(winpath "$built_arm64")" x64m="$(winpath "$built64")" x86m="$(winpath "$built86")"
expect_build 2 --build-for arm64 "$a64"
expect_build 1 --build-for arm64 "$x64m"
expect_build 0 --build-for arm64 "$x86m"
expect_build 1 --build-for x64 "$x64m"
expect_build 3 --build-for x64 "$a64"
expect_build 3 --build-for arm64 'C:\no such Photoshop\Photoshop.exe'
expect_build 2 --shared-build arm64
expect_build 2 --shared-build arm64 "$x64m" "$a64"
expect_build 1 --shared-build arm64 "$x64m"
expect_build 1 --shared-build x64 "$a64"
expect_build 4 --build-for arm32 "$a64"
echo "ok: the builds for Windows on ARM: ARM64, x64 and x86 hosts each their own, the shared folder ARM64 unless only x64 Photoshops"
ps64="Program Files/Adobe/Adobe Photoshop 2025/Plug-ins"
ps32="Program Files (x86)/Adobe/Adobe Photoshop CS6/Plug-ins"
cc64="Program Files/Common Files/Adobe/Plug-Ins/CC"
cc32="Program Files (x86)/Common Files/Adobe/Plug-Ins/CC"
# The application in a folder whose name the code page cannot hold.
app="Apps/ベルモラ"
# Hosts placed into: Photoshop Elements (64-bit only), Paint.NET with
# PSFilterPdn in its Effects folder, PhotoPlus and IrfanView's Adobe 8BF
# folder in both architectures. Refused: an Elements folder outside Program
# Files and a PhotoPlus folder behind a link to a folder outside.
el64="Program Files/Adobe/Photoshop Elements 2024/Plug-Ins"
el_outside="Elements 2021/Plug-Ins"
pdn="Program Files/paint.net/Effects"
pp64="Program Files/Serif/PhotoPlus X8/Plugins"
pp32="Program Files (x86)/Serif/PhotoPlus X8/Plugins"
iv64="Program Files/IrfanView/Plugins/Adobe 8BF"
iv32="Program Files (x86)/IrfanView/Plugins/Adobe 8BF"
mkdir -p "$C/$ps64" "$C/$ps32" "$C/$cc64" "$C/$cc32" "$C/$app" "$C/Velmora Tools" "$C/$el64" "$C/$el_outside" \
  "$C/$pdn/PSFilterPdn" "$C/$pp64" "$C/$pp32" "$C/$iv64" "$C/$iv32" "$C/AdminOnly4/Plugins"
printf 'not PSFilterPdn' >"$C/$pdn/PSFilterPdn/PSFilterPdn.dll"
ln -s ../../AdminOnly4 "$C/Program Files/Serif/PhotoPlus X7"
[ -d "$C/Program Files/Serif/PhotoPlus X7/Plugins/" ] || fail "the link of PhotoPlus X7 leads nowhere"
cp "$build/x86_64/app/Velmora.exe" "$C/$app/"
# Batch files keep the quoting of reg's arguments away from the shell.
run_cmd() {
  printf '%s\r\n' '@echo off' "$@" >"$work/batch.cmd"
  wine cmd /c "$(winpath "$work/batch.cmd")"
}
# One version with a trailing backslash, one without, one whose folder is
# gone, one without PluginPath.
run_cmd \
  'reg add "HKLM\SOFTWARE\Adobe\Photoshop\190.0" /v PluginPath /d "C:\Program Files\Adobe\Adobe Photoshop 2025\Plug-ins\\" /f /reg:64 >nul' \
  'reg add "HKLM\SOFTWARE\Adobe\Photoshop\110.0" /f /reg:64 >nul' \
  'reg add "HKLM\SOFTWARE\Adobe\Photoshop\60.0" /v PluginPath /d "C:\Program Files (x86)\Adobe\Adobe Photoshop CS6\Plug-ins" /f /reg:32 >nul' \
  'reg add "HKLM\SOFTWARE\Adobe\Photoshop\55.0" /v PluginPath /d "C:\Old Photoshop\Plug-ins" /f /reg:32 >nul' \
  'reg add "HKLM\SOFTWARE\Adobe\Photoshop Elements\22.0\PluginPath" /ve /d "C:\Program Files\Adobe\Photoshop Elements 2024\Plug-Ins" /f /reg:64 >nul' \
  'reg add "HKLM\SOFTWARE\Adobe\Photoshop Elements\19.0\PluginPath" /ve /d "C:\Elements 2021\Plug-Ins" /f /reg:64 >nul' \
  'reg add "HKLM\SOFTWARE\Paint.NET" /v TARGETDIR /d "C:\Program Files\paint.net" /f /reg:64 >nul' \
  'reg add "HKLM\SOFTWARE\Serif\PhotoPlus\18.0\Directories" /v PluginRootDir /d "C:\Program Files\Serif\PhotoPlus X8\Plugins" /f /reg:64 >nul' \
  'reg add "HKLM\SOFTWARE\Serif\PhotoPlus\17.0\Directories" /v PluginRootDir /d "C:\Program Files\Serif\PhotoPlus X7\Plugins" /f /reg:64 >nul' \
  'reg add "HKLM\SOFTWARE\Serif\PhotoPlus\18.0\Directories" /v PluginRootDir /d "C:\Program Files (x86)\Serif\PhotoPlus X8\Plugins" /f /reg:32 >nul' \
  'reg add "HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\IrfanView64" /v InstallLocation /d "C:\Program Files\IrfanView" /f /reg:64 >nul' \
  'reg add "HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\IrfanView" /v InstallLocation /d "C:\Program Files (x86)\IrfanView\\" /f /reg:32 >nul' \
  'reg add "HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\PaintShop Pro 2023" /v DisplayName /d "Corel PaintShop Pro 2023 (64-bit)" /f /reg:64 >nul' \
  'reg add "HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\XnView MP (x64)_is1" /v DisplayName /d "XnView MP (x64)" /f /reg:64 >nul' \
  'reg add "HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\GIMP-2_is1" /v DisplayName /d "GIMP 2.10.38" /f /reg:64 >nul' \
  'reg add "HKCU\Software\Computerinsel\PhotoLine\Settings" /v PlugInPathNew1 /d "" /f >nul' \
  "echo %USERPROFILE%> $(winpath "$work/profile.txt")"
wineserver -w
profile_win="$(tr -d '\r\n' <"$work/profile.txt")"
case "$profile_win" in
  [Cc]:\\*) profile_rel="${profile_win:3}"; profile_rel="${profile_rel//\\//}" ;;
  *) fail "the profile folder $profile_win is not on drive C:" ;;
esac
settings="$C/$profile_rel/VelmoraPro/plugin.ini"
[ -d "$C/$profile_rel" ] || fail "no profile folder $profile_win"

# The accounts of the machine, beside Wine's own user: three more users (one
# with a Japanese name, one with a settings file of its own, one who made
# their VelmoraPro and Affinity plug-in folders links to folders only
# administrators may write), a user whose profile folder is gone, the default
# profile, the three service accounts and a virtual account, each with a
# profile folder. The reg calls run directly: batch files cannot carry
# Japanese letters.
profile_list='HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\ProfileList'
add_profile() {
  wine reg add "$profile_list\\$1" /v ProfileImagePath /t REG_EXPAND_SZ /d "$2" /f /reg:64 >/dev/null ||
    fail "could not add the profile $1"
}
sid="S-1-5-21-3405691582-3735928559-2343432205"
add_profile "$sid-1001" '%SystemDrive%\users\花子'
add_profile "$sid-1002" 'C:\users\bob'
add_profile "$sid-1003" 'C:\users\gone'
add_profile "$sid-1005" 'C:\users\mallory'
add_profile S-1-5-18 '%systemroot%\system32\config\systemprofile'
add_profile S-1-5-19 '%systemroot%\ServiceProfiles\LocalService'
add_profile S-1-5-20 '%systemroot%\ServiceProfiles\NetworkService'
add_profile S-1-5-82-3006700770-424185619-1745488364-794895919-4004696415 'C:\users\DefaultAppPool'
wine reg add "$profile_list" /v Default /t REG_EXPAND_SZ /d '%SystemDrive%\users\Default' /f /reg:64 >/dev/null ||
  fail "could not name the default profile"
wineserver -w
hanako="users/花子"
mkdir -p "$C/$hanako" "$C/users/bob/VelmoraPro" "$C/users/Default" "$C/users/DefaultAppPool" \
  "$C/windows/system32/config/systemprofile" "$C/windows/ServiceProfiles/LocalService" \
  "$C/windows/ServiceProfiles/NetworkService"
printf '[General]\r\nApplicationPath=D:\\Bob\\Velmora\\\r\n' >"$C/users/bob/VelmoraPro/plugin.ini"
cp "$C/users/bob/VelmoraPro/plugin.ini" "$work/bob.ini"
# Affinity's plug-in folders: Affinity Photo 2's under the roaming application
# data, later ones' and Affinity 3's under .affinity; none is served in the
# default profile or for a service account.
affinity2="$profile_rel/AppData/Roaming/Affinity/Photo/2.0/Plugins"
affinity2b="$hanako/.affinity/Photo/2.0/Plugins"
affinity3="users/bob/.affinity/Affinity/3.0/Plugins"
mkdir -p "$C/$affinity2" "$C/$affinity2b" "$C/$affinity3" "$C/users/Default/AppData/Roaming/Affinity/Photo/2.0/Plugins" \
  "$C/windows/system32/config/systemprofile/AppData/Roaming/Affinity/Photo/2.0/Plugins"
# Mallory's links: Wine has Unix symbolic links where Windows has junctions,
# and reports them as reparse points as Windows does.
mallory_plugins="users/mallory/AppData/Roaming/Affinity/Photo/2.0/Plugins"
mkdir -p "$C/AdminOnly" "$C/AdminOnly2" "$C/AdminOnly3" "$(dirname "$C/$mallory_plugins")"
ln -s ../../AdminOnly "$C/users/mallory/VelmoraPro"
ln -s ../../../../../../../AdminOnly2 "$C/$mallory_plugins"
[ -d "$C/users/mallory/VelmoraPro/" ] && [ -d "$C/$mallory_plugins/" ] || fail "mallory's links lead nowhere"
# An unrelated file of the plug-in's name, and an earlier release's record of
# a copy it placed in mallory's Affinity folder, which mallory can point
# anywhere before the uninstaller runs.
printf 'not the plug-in' >"$C/AdminOnly3/Velmora.8bf"
# A link in the file's own place in the 32-bit IrfanView's folder: nothing is
# written through it.
ln -s ../../../../AdminOnly3/Velmora.8bf "$C/$iv32/Velmora.8bf"
wine reg add 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\VelmoraPlugin\PlacedFiles' \
  /v 'C:\users\mallory\AppData\Roaming\Affinity\Photo\2.0\Plugins\Velmora.8bf' /d '1.00 1' /f /reg:64 >/dev/null ||
  fail "could not add an earlier release's record"
# A copy an earlier release placed in Photoshop 2025's own folder, which reads
# Adobe's shared folder too: it goes, so that Photoshop sees one copy.
printf 'an earlier copy' >"$C/$ps64/Velmora.8bf"
wine reg add 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\VelmoraPlugin\PlacedFiles' \
  /v "C:\\${ps64//\//\\}\\Velmora.8bf" /d '1.00 1' /f /reg:64 >/dev/null || fail "could not add the earlier copy's record"
# An earlier release's record of a copy in a profile that lies outside
# today's profiles folder (a moved profile), whose folder eve has since made
# a link to a folder administrators own.
add_profile "$sid-1006" 'C:\OldProfiles\eve'
eve_plugins="OldProfiles/eve/AppData/Roaming/Affinity/Photo/2.0/Plugins"
mkdir -p "$(dirname "$C/$eve_plugins")"
ln -s ../../../../../../../AdminOnly3 "$C/$eve_plugins"
wine reg add 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\VelmoraPlugin\PlacedFiles' \
  /v 'C:\OldProfiles\eve\AppData\Roaming\Affinity\Photo\2.0\Plugins\Velmora.8bf' /d '1.00 1' /f /reg:64 >/dev/null ||
  fail "could not add eve's record"
# A Photoshop whose plug-in folder an administrator named inside bob's profile.
mkdir -p "$C/users/bob/Photoshop Plug-ins"
wine reg add 'HKLM\SOFTWARE\Adobe\Photoshop\170.0' /v PluginPath /d 'C:\users\bob\Photoshop Plug-ins' /f /reg:64 \
  >/dev/null || fail "could not add a Photoshop inside a profile"
wineserver -w

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
wine "$setup" /S APPLICATIONPATH=Velmora 2>"$work/refused-relative.txt"
rc=$?
set -e
wineserver -w
[ "$rc" = 2 ] || fail "a relative APPLICATIONPATH gave exit code $rc, not 2"
# A silent install says why on its standard error.
grep -q '"Velmora" is not a full path' "$work/refused-relative.txt" ||
  fail "the refusal does not say why: $(cat "$work/refused-relative.txt")"
snapshot >"$work/refused.txt"
[ -z "$(changes "$work/before.txt" "$work/refused.txt")" ] || fail "the refused install changed files"

# --- So is a folder in letters outside the code page that has no short name -----
set +e
wine "$setup" /S 'APPLICATIONPATH=C:\Apps\未だない' 2>"$work/refused-code-page.txt"
rc=$?
set -e
wineserver -w
[ "$rc" = 2 ] || fail "an APPLICATIONPATH without a readable form gave exit code $rc, not 2"
grep -q 'C:\\Apps\\未だない.*code page.*short (8.3) name.*Nothing was installed' "$work/refused-code-page.txt" ||
  fail "the refusal does not say why: $(cat "$work/refused-code-page.txt")"
snapshot >"$work/refused.txt"
[ -z "$(changes "$work/before.txt" "$work/refused.txt")" ] || fail "the install refused for the code page changed files"

# --- An existing folder outside Program Files is no installation folder ---------
# Any user can make folders below C:\; one planted a link where the builds go.
mkdir -p "$C/VelmoraPlug" "$C/AdminOnly5"
ln -s ../AdminOnly5 "$C/VelmoraPlug/x64"
run_cmd "\"$(winpath "$setup")\" /S /D=C:\\VelmoraPlug 2>$(winpath "$work/refused-folder.txt")" \
  "echo rc=%errorlevel%> $(winpath "$work/refused-folder-rc.txt")" || true
wineserver -w
[ "$(tr -d '\r\n ' <"$work/refused-folder-rc.txt")" = rc=2 ] ||
  fail "an existing folder outside Program Files gave exit code $(cat "$work/refused-folder-rc.txt"), not 2"
grep -q 'C:\\VelmoraPlug cannot hold the plug-in: it exists already and is not in a Program Files folder' \
  "$work/refused-folder.txt" || fail "the refusal of C:\\VelmoraPlug does not say why: $(cat "$work/refused-folder.txt")"
[ -z "$(ls -A "$C/AdminOnly5")" ] && [ "$(ls -A "$C/VelmoraPlug")" = x64 ] || fail "the refused install wrote into C:\\VelmoraPlug"
wine reg query 'HKLM\SOFTWARE\Microsoft\Active Setup\Installed Components\{6F1B3C2E-8D4A-4B7F-9E21-5A7C0D3E9B14}' \
  /reg:64 >/dev/null 2>&1 && fail "the refused install registered a per-user step"
rm -r "$C/VelmoraPlug" "$C/AdminOnly5"

# --- The file program cannot run (antivirus, AppLocker): exit 2, its own words ---
set +e
WINEDLLOVERRIDES="$WINEDLLOVERRIDES;velmorafiles.exe=d" wine "$setup" /S 2>"$work/refused-program.txt"
rc=$?
set -e
wineserver -w
[ "$rc" = 2 ] || fail "an install whose file program cannot run gave exit code $rc, not 2"
grep -q 'file program (VelmoraFiles.exe) could not run.*not placed' "$work/refused-program.txt" ||
  fail "the install without its file program does not say why: $(cat "$work/refused-program.txt")"
snapshot >"$work/refused.txt"
[ -z "$(changes "$work/before.txt" "$work/refused.txt")" ] || fail "the install without its file program changed files"

# --- Silent install ------------------------------------------------------------
start="$(now)"
wine "$setup" /S "APPLICATIONPATH=C:\\${app//\//\\}" >"$work/install-out.txt" || fail "the silent install failed (exit code $?)"
wineserver -w
install_time="$(seconds "$start" "$(now)")"
snapshot >"$work/installed.txt"

own="Program Files/Velmora Plugin"
# The installation folder and the hosts' folders outside the profiles, and
# nothing else: no settings file and no Affinity copy in any profile, none
# in the Photoshop folder inside bob's, nothing through mallory's links.
# The install texts go beside the plug-ins' folders, never into them.
own_files() {
  printf '%s\n' "$1" "$1/x64" "$1/x86" "$1/Uninstall.exe" "$1/VelmoraPerUser.exe" "$1/x64/Velmora.8bf" \
    "$1/x86/Velmora.8bf"
  for text in $texts; do printf '%s/%s\n' "$1" "$text"; done
}
pdn_own="$pdn/Velmora Plugin"
expected="$( ( (own_files "$own"; printf '%s\n' "$cc64/Velmora.8bf" "$ps32/Velmora.8bf" \
  "$cc32/Velmora.8bf" "$el64/Velmora.8bf" "$pp64/Velmora.8bf" "$pp32/Velmora.8bf" "$iv64/Velmora.8bf" \
  "$pdn_own" "$pdn_own/x64" "$pdn_own/x86" "$pdn_own/x64/Velmora.8bf" \
  "$pdn_own/x86/Velmora.8bf") | sed 's/^/+ /'; echo "- $ps64/Velmora.8bf") | sort -k2)"
placed="$(changes "$work/before.txt" "$work/installed.txt")"
[ "$placed" = "$expected" ] || fail "the install changed other paths than expected:
$(diff <(echo "$expected") <(echo "$placed") | sed -n 's/^< [+-] /  missing: /p; s/^> [+-] /  unexpected: /p')"
for folder in "$own/x64" "$cc64" "$el64" "$pp64" "$iv64" "$pdn_own/x64"; do
  cmp -s "$C/$folder/Velmora.8bf" "$x64" || fail "$folder/Velmora.8bf is not the 64-bit build"
done
for folder in "$own/x86" "$ps32" "$cc32" "$pp32" "$pdn_own/x86"; do
  cmp -s "$C/$folder/Velmora.8bf" "$x86" || fail "$folder/Velmora.8bf is not the 32-bit build"
done
[ -z "$(find "$C/AdminOnly" "$C/AdminOnly2" -mindepth 1)" ] || fail "the install wrote through mallory's links"
[ -z "$(find "$C/AdminOnly4" -mindepth 2)" ] || fail "the install wrote through the link of PhotoPlus X7"
[ "$(cat "$C/AdminOnly3/Velmora.8bf")" = 'not the plug-in' ] || fail "the install wrote through the link in IrfanView's folder"
# It says which host folders it left out, and why.
install_out="$(tr -d '\r' <"$work/install-out.txt")"
grep -qxF 'Left out, not in a Program Files folder: C:\Elements 2021\Plug-Ins' <<<"$install_out" ||
  fail "the install does not say that it left out the folder outside Program Files:
$install_out"
grep -qxF 'Left out, a link on the way: C:\Program Files\Serif\PhotoPlus X7\Plugins' <<<"$install_out" ||
  fail "the install does not say that it left out the folder behind a link:
$install_out"
# The finish page's words (a silent install writes them to its output): a
# line for each host placed into, in the order of the page; for each host
# found whose folder was left out, why and which file to copy there; then the
# hosts that are told which folder to add, and Affinity's copy and tick.
finish_text() { sed -n '/^Start your image editor again/,/^Menus and steps for each editor:/p' <<<"$1"; }
finish_lines() { finish_text "$1" | sed -n 's/^\(Photoshop[^:]*\|Paint\.NET\|PhotoPlus\|IrfanView\|Affinity\): .*/\1/p'; }
ownwin="C:\\${own//\//\\}"
told="Add $ownwin\\x64 (32-bit editors: x86) as a plug-in folder in:"
[ "$(finish_lines "$install_out" | tr '\n' '|')" = \
  'Photoshop|Photoshop Elements (Expert mode)|Paint.NET|PhotoPlus|IrfanView|Photoshop Elements|PhotoPlus|IrfanView|Affinity|Affinity|' ] &&
  grep -qxF "$told PaintShop Pro, PhotoLine, XnView, GIMP (pspi)" <<<"$(finish_text "$install_out")" &&
  grep -qxF 'IrfanView: Ctrl+K (Adobe 8BF filters)' <<<"$(finish_text "$install_out")" &&
  grep -qxF "Photoshop Elements: not placed, its folder is not in a Program Files folder. Copy $ownwin\\x64\\Velmora.8bf into C:\\Elements 2021\\Plug-Ins." <<<"$install_out" &&
  grep -qxF "PhotoPlus: not placed, a link lies on the way to its folder. Copy $ownwin\\x64\\Velmora.8bf into C:\\Program Files\\Serif\\PhotoPlus X7\\Plugins." <<<"$install_out" &&
  grep -qxF "IrfanView: not placed, a link lies on the way to its folder. Copy $ownwin\\x86\\Velmora.8bf into C:\\Program Files (x86)\\IrfanView\\Plugins\\Adobe 8BF." <<<"$install_out" &&
  grep -qxF "Affinity: each user's copy comes at their next sign-in." <<<"$install_out" ||
  fail "the finish page does not name each host found, what it did and what to do:
$install_out"
grep -qxF "Menus and steps for each editor: C:\\${own//\//\\}\\Install.txt" <<<"$install_out" ||
  fail "the finish page does not name the install text: $install_out"
# Drive C: below windows\ is left out of the snapshots: the service accounts'
# profiles there are looked at by themselves.
[ -z "$(find "$C/windows/system32/config/systemprofile" "$C/windows/ServiceProfiles" -iname 'velmora*')" ] ||
  fail "the install wrote into a service account's profile"
[ ! -e "$settings" ] || fail "the install wrote a settings file into the installing account's profile"
cmp -s "$C/users/bob/VelmoraPro/plugin.ini" "$work/bob.ini" || fail "bob's own plugin.ini was changed"

# $1 = a key, $2 = a value's name, $3 = the view (32 or 64): the value's data,
# empty when there is none.
reg_value() {
  run_cmd "reg query \"$1\" /v \"$2\" /reg:$3 > $(winpath "$work/value.txt") 2>nul" 'exit /b 0' >/dev/null
  wineserver -w
  tr -d '\r' <"$work/value.txt" | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}
# The machine-wide setting: the application's folder by its short name, which
# the plug-in can read (ASCII), in the 64-bit view, where both plug-ins read
# it; the round trips below find Velmora.exe through it.
setting_key='HKLM\SOFTWARE\Velmora Plugin'
app_setting="$(reg_value "$setting_key" ApplicationPath 64)"
[[ "$app_setting" == 'C:\Apps\'*'\' ]] && [ "$app_setting" != 'C:\Apps\ベルモラ\' ] &&
  ! LC_ALL=C grep -q '[^ -~]' <<<"$app_setting" ||
  fail "the machine-wide setting names the application's folder as \"$app_setting\", not by its short name"
[ -z "$(reg_value "$setting_key" ApplicationPath 32)" ] ||
  fail "the machine-wide setting is in the 32-bit view too, where it could go its own way"
# The per-user step, for Windows to start at each user's sign-in.
active_setup='HKLM\SOFTWARE\Microsoft\Active Setup\Installed Components\{6F1B3C2E-8D4A-4B7F-9E21-5A7C0D3E9B14}'
stub="$(reg_value "$active_setup" StubPath 64)"
[ "$stub" = "\"C:\\${own//\//\\}\\VelmoraPerUser.exe\" /place" ] || fail "the Active Setup entry runs $stub"
[[ "$(reg_value "$active_setup" Version 64)" =~ ^20[0-9][0-9],[0-9]+,[0-9]+,0$ ]] ||
  fail "the Active Setup entry has no version of this install: $(reg_value "$active_setup" Version 64)"
[ "$(reg_value "$active_setup" IsInstalled 64)" = 0x1 ] || fail "the Active Setup entry is not switched on"
check_signature "$C/$own/VelmoraPerUser.exe" VelmoraPerUser.exe
[ "$(x86_64-w64-mingw32-objdump -p "$C/$own/VelmoraPerUser.exe" | sed -n 's/^\tDLL Name: //p' | sort -f | tr '\n' ' ')" = \
  "KERNEL32.dll msvcrt.dll ole32.dll SHELL32.dll " ] || fail "VelmoraPerUser.exe imports more than the system's DLLs"

# Apps and Features: version and publisher, in the 64-bit view only.
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\VelmoraPlugin'
run_cmd "reg query \"$uninstall_key\" /reg:64 > $(winpath "$work/entry64.txt")" \
  "reg query \"$uninstall_key\" /reg:32 > $(winpath "$work/entry32.txt") 2>nul" 'exit /b 0'
grep -q "DisplayVersion *REG_SZ *$version" "$work/entry64.txt" || fail "no DisplayVersion $version in $uninstall_key"
grep -q "Publisher *REG_SZ *$publisher" "$work/entry64.txt" || fail "no Publisher $publisher in $uninstall_key"
grep -q 'QuietUninstallString' "$work/entry64.txt" || fail "no QuietUninstallString in $uninstall_key"
! grep -q DisplayName "$work/entry32.txt" || fail "an Apps and Features entry in the 32-bit view too"

# --- Each installed plug-in runs a round trip -----------------------------------
# For Wine's user, who has no settings file: through the machine-wide setting.
for arch in x86_64 i686; do
  if [ "$arch" = x86_64 ]; then plugin="C:\\${cc64//\//\\}\\Velmora.8bf"; else plugin="C:\\${ps32//\//\\}\\Velmora.8bf"; fi
  result="$work/result-$arch.ppm"
  VELMORA_STANDIN_MODE=invert wine "$build/$arch/tools/VelmoraHost.exe" "$plugin" \
    "$(winpath "$src/samples/sample.ppm")" "$(winpath "$result")" >"$work/host-$arch.txt" 2>&1 ||
    fail "the installed $arch plug-in failed its round trip: $(cat "$work/host-$arch.txt")"
  difference="$(pnminvert "$src/samples/sample.ppm" | pamarith -difference - "$result" | pamsumm -max -brief)"
  [ "$difference" -le 2 ] || fail "the $arch round trip is not the inverted sample (difference $difference)"

  # The user's own settings file wins: one that names a folder without the
  # application is what the words name, and nothing runs.
  mkdir -p "$(dirname "$settings")"
  printf '[General]\r\nApplicationPath=C:\\Nowhere\\\r\n' >"$settings"
  set +e
  VELMORA_STANDIN_MODE=invert wine "$build/$arch/tools/VelmoraHost.exe" "$plugin" \
    "$(winpath "$src/samples/sample.ppm")" "$(winpath "$work/own-$arch.ppm")" >"$work/own-$arch.txt" 2>&1
  rc=$?
  set -e
  rm -r "$(dirname "$settings")"
  [ "$rc" = 1 ] && grep -q 'Velmora.exe was not found at C:\\Nowhere\\Velmora.exe' "$work/own-$arch.txt" &&
    [ ! -e "$work/own-$arch.ppm" ] ||
    fail "the $arch plug-in did not take the user's own settings file: $(cat "$work/own-$arch.txt")"
done
wineserver -w
# The uninstaller the installer wrote was signed as the installer was built.
check_signature "$C/$own/Uninstall.exe" Uninstall.exe
wrestool -x -t 14 "$C/$own/Uninstall.exe" >"$look/uninstall.ico"
[ "$(icon_images "$look/uninstall.ico")" = "$drawn_icon" ] || fail "the uninstaller's icon is not installer/art/Velmora.svg"

# --- The per-user step, run as the user -------------------------------------------
# As Active Setup runs it at Wine's user's sign-in: its StubPath, started by
# that user without elevation. Wine's user has made one of Affinity's folders
# a link to a folder of administrators.
affinity3_own="$profile_rel/.affinity/Affinity/3.0"
mkdir -p "$C/$affinity3_own"
ln -s ../../../../../AdminOnly3 "$C/$affinity3_own/Plugins"
[ -d "$C/$affinity3_own/Plugins/" ] || fail "the link in Wine's user's .affinity leads nowhere"
snapshot >"$work/before-step.txt"
printf '%s\r\n' '@echo off' "$stub" >"$work/step.cmd"
set +e
wine cmd /c "$(winpath "$work/step.cmd")" >"$work/step.txt" 2>&1
rc=$?
set -e
wineserver -w
# 1: a folder was refused, the link; the others are served all the same.
[ "$rc" = 1 ] || fail "the per-user step gave exit code $rc: $(cat "$work/step.txt")"
grep -q 'refused, a link on the way: .*\\\.affinity\\Affinity\\3\.0\\Plugins' "$work/step.txt" ||
  fail "the per-user step does not say that it refused the link: $(cat "$work/step.txt")"
snapshot >"$work/after-step.txt"
[ "$(changes "$work/before-step.txt" "$work/after-step.txt")" = "+ $affinity2/Velmora.8bf" ] ||
  fail "the per-user step did not copy into exactly Wine's user's Affinity folder:
$(changes "$work/before-step.txt" "$work/after-step.txt")"
cmp -s "$C/$affinity2/Velmora.8bf" "$x64" || fail "the per-user step's copy is not the 64-bit build"
[ "$(cat "$C/AdminOnly3/Velmora.8bf")" = 'not the plug-in' ] || fail "the per-user step wrote through a link"
# An earlier release wrote each user a plugin.ini naming the application's
# folder of the time. Once that folder holds no Velmora.exe the step moves the
# file aside, so that the machine-wide setting reaches the user; a file the
# user edited stays as it is.
mkdir -p "$(dirname "$settings")"
printf '[General]\r\nApplicationPath=C:\\Old Velmora\r\n' >"$settings"
cp "$settings" "$work/edited.ini"
wine cmd /c "$(winpath "$work/step.cmd")" >"$work/step-edited.txt" 2>&1 || true
cmp -s "$settings" "$work/edited.ini" && [ ! -e "$settings.old" ] ||
  fail "the per-user step touched a plugin.ini the user edited: $(cat "$work/step-edited.txt")"
printf '[General]\r\nApplicationPath=C:\\Old Velmora\\\r\n' >"$settings"
cp "$settings" "$work/earlier.ini"
wine cmd /c "$(winpath "$work/step.cmd")" >"$work/step-earlier.txt" 2>&1 || true
wineserver -w
[ ! -e "$settings" ] && cmp -s "$settings.old" "$work/earlier.ini" &&
  grep -q 'moved aside, no Velmora.exe in its folder: .*plugin.ini' "$work/step-earlier.txt" ||
  fail "the per-user step did not move aside an earlier release's plugin.ini: $(cat "$work/step-earlier.txt")"
rm -r "$(dirname "$settings")" "$C/$profile_rel/.affinity"
snapshot >"$work/installed.txt"

# --- Reinstall while a host has a plug-in loaded ---------------------------------
# An older build in Adobe's shared folder, loaded by a host whose application
# is still open: the file cannot be replaced now.
printf 'older' >>"$C/$cc64/Velmora.8bf"
cp "$C/$cc64/Velmora.8bf" "$work/older.8bf"
VELMORA_STANDIN_MODE="until:$(winpath "$work/done")" VELMORA_STANDIN_LOG="$(winpath "$work/busy.log")" \
  wine "$build/x86_64/tools/VelmoraHost.exe" "C:\\${cc64//\//\\}\\Velmora.8bf" \
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
cmp -s "$C/$cc64/Velmora.8bf" "$work/older.8bf" || fail "the file in use changed under the host"
cmp -s "$C/$cc64/Velmora.8bf.new" "$x64" || fail "the new build does not wait beside the file in use"
[ "$(reg_value "$setting_key" ApplicationPath 64)" = 'C:\Elsewhere\' ] ||
  fail "the reinstall did not record its APPLICATIONPATH: $(reg_value "$setting_key" ApplicationPath 64)"
wait "$host_pid" || fail "the host with the file in use failed: $(cat "$work/busy.txt")"
wineboot -r >/dev/null 2>&1
wineserver -w
snapshot >"$work/restarted.txt"
[ -z "$(changes "$work/installed.txt" "$work/restarted.txt")" ] ||
  fail "after the restart the files differ from the first install's:
$(changes "$work/installed.txt" "$work/restarted.txt")"

# --- Reinstall into another folder, and over it again --------------------------
# /D= comes last and unquoted, spaces and all: a batch file passes the line
# as it is.
run_cmd "\"$(winpath "$setup")\" /S /D=C:\\Velmora Tools\\Velmora Plugin" "echo %errorlevel%> $(winpath "$work/moved-rc.txt")"
wineserver -w
[ "$(tr -d '\r\n ' <"$work/moved-rc.txt")" = 0 ] || fail "the install with /D= gave exit code $(cat "$work/moved-rc.txt")"
snapshot >"$work/moved.txt"
moved="Velmora Tools/Velmora Plugin"
expected="$(
  own_files "$own" | sed 's/^/- /'
  own_files "$moved" | sed 's/^/+ /'
)"
[ "$(changes "$work/restarted.txt" "$work/moved.txt")" = "$(sort -k2 <<<"$expected")" ] ||
  fail "the install with /D= did not move the installation folder:
$(changes "$work/restarted.txt" "$work/moved.txt")"
[ "$(reg_value "$active_setup" StubPath 64)" = "\"C:\\${moved//\//\\}\\VelmoraPerUser.exe\" /place" ] ||
  fail "the Active Setup entry still runs $(reg_value "$active_setup" StubPath 64)"
# Without /D= a reinstall stays where the last one went; so does one whose
# /D= names the same folder in another form (short names, other case).
wine "$setup" /S || fail "the reinstall into the moved folder failed (exit code $?)"
run_cmd "for %%I in (\"C:\\Velmora Tools\\velmora plugin\") do \"$(winpath "$setup")\" /S /D=%%~sI" \
  "echo %errorlevel%> $(winpath "$work/same-rc.txt")"
wineserver -w
[ "$(tr -d '\r\n ' <"$work/same-rc.txt")" = 0 ] || fail "the install with /D= in short form gave exit code $(cat "$work/same-rc.txt")"
snapshot >"$work/reinstalled.txt"
[ -z "$(changes "$work/moved.txt" "$work/reinstalled.txt")" ] ||
  fail "a reinstall without /D=, or with /D= naming the same folder, did not keep it:
$(changes "$work/moved.txt" "$work/reinstalled.txt")"
own="$moved"

# --- A reinstall leaves an administrator's machine-wide setting as it is -----------
wine reg add "$setting_key" /v ApplicationPath /t REG_EXPAND_SZ /d '%ProgramFiles%\Velmora\' /f /reg:64 >/dev/null ||
  fail "could not set a REG_EXPAND_SZ setting"
wine "$setup" /S >/dev/null || fail "the reinstall over a REG_EXPAND_SZ setting failed (exit code $?)"
wineserver -w
wine reg query "$setting_key" /v ApplicationPath /reg:64 >"$work/expand.txt" 2>&1
grep -q 'ApplicationPath *REG_EXPAND_SZ *%ProgramFiles%\\Velmora\\'$'\r''*$' "$work/expand.txt" ||
  fail "a reinstall without APPLICATIONPATH changed the REG_EXPAND_SZ setting: $(cat "$work/expand.txt")"

# --- Silent uninstall ------------------------------------------------------------
# Mallory points the Affinity link, which an earlier release's record names,
# at a folder that holds an unrelated file of the plug-in's name.
rm "$C/$mallory_plugins"
ln -s ../../../../../../../AdminOnly3 "$C/$mallory_plugins"
[ -f "$C/$mallory_plugins/Velmora.8bf" ] || fail "mallory's new link leads nowhere"
start="$(now)"
wine "C:\\${own//\//\\}\\Uninstall.exe" /S || fail "the silent uninstall failed (exit code $?)"
# The uninstaller runs on from a copy in the temporary folder.
wineserver -w
uninstall_time="$(seconds "$start" "$(now)")"
snapshot >"$work/uninstalled.txt"
left="$(changes "$work/before.txt" "$work/uninstalled.txt")"
# The copy that the per-user step made is the user's, and stays with them;
# the earlier release's copy in Photoshop 2025's folder went with the install.
[ "$left" = "$(printf '%s\n' "- $ps64/Velmora.8bf" "+ $affinity2/Velmora.8bf" | sort -k2)" ] ||
  fail "the uninstall left other changes than the user's own copy:
$left"
[ "$(cat "$C/AdminOnly3/Velmora.8bf")" = 'not the plug-in' ] || fail "the uninstall deleted through mallory's or eve's link"
run_cmd "reg query \"$uninstall_key\" /reg:64 > $(winpath "$work/entry64.txt") 2>nul" 'exit /b 0'
! grep -q DisplayName "$work/entry64.txt" || fail "the Apps and Features entry is still there"
wineserver -w
[ -z "$(reg_value "$setting_key" ApplicationPath 64)" ] || fail "the machine-wide setting is still there"
[ -z "$(reg_value "$active_setup" StubPath 64)" ] || fail "the Active Setup entry is still there"

# --- A machine with only Affinity and a Photoshop outside Program Files ------------
# No folder of Adobe's that Photoshop 2025 reads lies in a Program Files
# folder: the filter is not announced as there, and the page says which file
# to copy where.
run_cmd \
  'reg delete "HKLM\SOFTWARE\Adobe" /f /reg:64 >nul' \
  'reg delete "HKLM\SOFTWARE\Adobe" /f /reg:32 >nul' \
  'reg add "HKLM\SOFTWARE\Adobe\Photoshop\190.0" /v PluginPath /d "C:\Adobe\Photoshop 2025\Plug-ins\\" /f /reg:64 >nul' \
  'reg delete "HKLM\SOFTWARE\Paint.NET" /f /reg:64 >nul' \
  'reg delete "HKLM\SOFTWARE\Serif" /f /reg:64 >nul' \
  'reg delete "HKLM\SOFTWARE\Serif" /f /reg:32 >nul' \
  'reg delete "HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\IrfanView64" /f /reg:64 >nul' \
  'reg delete "HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\IrfanView" /f /reg:32 >nul' \
  'reg delete "HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\PaintShop Pro 2023" /f /reg:64 >nul' \
  'reg delete "HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\XnView MP (x64)_is1" /f /reg:64 >nul' \
  'reg delete "HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\GIMP-2_is1" /f /reg:64 >nul' \
  'reg delete "HKCU\Software\Computerinsel" /f >nul'
wineserver -w
rm -r "$C/Program Files/Common Files/Adobe" "$C/Program Files (x86)/Common Files/Adobe"
mkdir -p "$C/Adobe/Photoshop 2025/Plug-ins"
wine "$setup" /S >"$work/outside-out.txt" || fail "the install with a Photoshop outside Program Files failed (exit code $?)"
wineserver -w
outside_out="$(tr -d '\r' <"$work/outside-out.txt")"
[ -z "$(ls -A "$C/Adobe/Photoshop 2025/Plug-ins")" ] || fail "the install wrote into the Photoshop folder outside Program Files"
! grep -qE 'Start your image editor again|^Photoshop: Filter|Elements|Paint\.NET|PhotoPlus|IrfanView|PaintShop|PhotoLine|XnView|GIMP' \
  <<<"$outside_out" &&
  grep -qxF 'Photoshop: not placed, its folder is not in a Program Files folder. Copy C:\Program Files\Velmora Plugin\x64\Velmora.8bf into C:\Adobe\Photoshop 2025\Plug-ins.' \
    <<<"$outside_out" &&
  grep -qxF "Affinity: each user's copy comes at their next sign-in." <<<"$outside_out" ||
  fail "the install with a Photoshop outside Program Files does not say what it did and what to do:
$outside_out"
wine "C:\\Program Files\\Velmora Plugin\\Uninstall.exe" /S || fail "the second uninstall failed (exit code $?)"
wineserver -w

# --- Its languages -------------------------------------------------------------------
# Escape at the language choice cancels the install: exit code 1, as on any
# later page (2 is for a file not placed), and nothing is installed.
[ -n "${DISPLAY:-}" ] || fail "the language choice needs an X display (xvfb-run)"
# $1 = a window's title (a regular expression); waits for it, then presses Escape.
escape_from() {
  local window
  window="$(timeout 60 xdotool search --sync --onlyvisible --name "$1" | head -n 1)" || return 1
  xdotool windowfocus "$window" 2>/dev/null || true
  sleep 0.5
  xdotool key Escape
}
wine "$setup" &
setup_pid=$!
escape_from '^Installer Language$' || fail "the installer showed no language choice"
set +e
wait "$setup_pid"
rc=$?
set -e
wineserver -w
[ "$rc" = 1 ] || fail "cancelling at the language choice gave exit code $rc, not 1"
[ -z "$(reg_value "$uninstall_key" UninstallString 64)" ] || fail "cancelling at the language choice installed"
# Installed in German, the uninstaller speaks German on an English desktop.
LC_ALL=de_DE.UTF-8 wine "$setup" /S >/dev/null || fail "the German install failed (exit code $?)"
wineserver -w
[ "$(reg_value "$uninstall_key" Language 64)" = 1031 ] ||
  fail "the German install recorded the language $(reg_value "$uninstall_key" Language 64), not 1031"
wine "C:\\Program Files\\Velmora Plugin\\Uninstall.exe" &
escape_from '^Deinstallation von Velmora Plugin' || fail "the uninstaller of a German install does not speak German"
wait $! || true
wineserver -w
wine "C:\\Program Files\\Velmora Plugin\\Uninstall.exe" /S || fail "the German uninstall failed (exit code $?)"
wineserver -w
echo "ok: the language choice cancels with exit code 1; the uninstaller speaks the install's language"

echo "installer: $(basename "$setup"), $(stat -c %s "$setup") bytes; zip $(stat -c %s "$zip") bytes"
echo "signed and verified (test certificate $subject, records in $signatures):"
grep '^=== osslsigncode verify' "$signatures" | sed 's/^=== osslsigncode verify /  /'
echo "placed:"
echo "$placed" | sed 's/^+ /  /'
echo "the installer's output:"
sed 's/^/  /' <<<"$install_out"
echo "machine-wide setting: $setting_key ApplicationPath=$app_setting (64-bit view); Active Setup: $stub"
echo "written into profiles by the install: none; through mallory's links: none; deleted through them: none"
echo "silent install ${install_time} s, silent uninstall ${uninstall_time} s (each with Wine's start and settling)"
echo "installer test: 1 passed, 0 failed"

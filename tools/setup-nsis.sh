#!/usr/bin/env bash
# Builds the NSIS that makes the installer, from Debian's source package of
# a version pinned here, cached in the build tree (build/nsis, or where
# VELMORA_NSIS says) so that a second run only checks and returns:
#
#   Bin/makensis   the compiler, built for this machine
#   Stubs/         the installers' and uninstallers' x86 heads, and
#   Plugins/       their plug-ins (System, LangDLL, nsDialogs...), built with
#                  Debian 12's MinGW-w64 cross compiler
#   Include/ and Contrib/  the script headers, Modern UI 2, the language
#                  files, NSIS's own pictures and UIs
#
# Debian 12 carries NSIS 3.08, which lacks the fixes for installers run as
# the system account (CVE-2025-43715, fixed in 3.11: the race when the
# installer makes its plug-ins folder in the system's temporary folder;
# CVE-2026-42171, fixed in 3.12). The newer source builds on Debian 12 with
# Debian 12's compilers and scons.
#
# makensis finds its stubs, plug-ins and headers beside its own folder, so
# the folder can move. The source package comes through an apt configuration
# of its own (its own source list, lists and caches): the machine's apt
# sources and state stay as they are, and apt checks it against Debian's
# signed indexes. The modules that go into an installer are built with the
# package's changelog time as their time stamp: the same source and
# compilers give the same bytes.
#
# Usage: tools/setup-nsis.sh [--check]
#   --check  build nothing: exit 1, with words, unless the build is present
#            and made from what this script names now
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
nsis="${VELMORA_NSIS:-$root/build/nsis}"

# The version built, and the suites searched for it (Debian 13 and
# unstable: the archive drops a version from unstable when a newer one
# arrives). When the pinned version is gone from both, the newest version
# they offer that is not older than it is built instead, with a warning, so
# that a fresh machine still builds; the stamp, the installer's manifest and
# its version information name the version used. Update the pin then, after
# reading the new version's changelog.
nsis_version=3.12-1
nsis_suites=(sid trixie)
# Raised when this script builds NSIS differently.
script_version=1
# The plug-ins the installer may use; the others are not built (NSISdl would
# need MinGW's threads DLL beside the installer).
plugins=(System LangDLL nsDialogs nsExec UserInfo InstallOptions StartMenu Banner)

check_only=0
for arg in "$@"; do
  case "$arg" in
    --check) check_only=1 ;;
    *) echo "setup-nsis.sh: unknown argument $arg" >&2; exit 2 ;;
  esac
done

# What the build is made of: a new version of any of these builds it anew.
version_of() { dpkg-query -W -f='${Version}' "$1" 2>/dev/null || echo none; }
key="nsis>=$nsis_version gcc-mingw-w64-i686-posix=$(version_of gcc-mingw-w64-i686-posix)"
key+=" mingw-w64-i686-dev=$(version_of mingw-w64-i686-dev) g++=$(version_of g++) scons=$(version_of scons)"
key+=" script=$script_version"
if [ -f "$nsis/stamp" ] && [ "$(cat "$nsis/stamp")" = "$key" ] && [ -x "$nsis/Bin/makensis" ]; then
  [ "$check_only" = 1 ] || echo "setup-nsis: NSIS $("$nsis/Bin/makensis" -VERSION) present ($nsis)"
  exit 0
fi
if [ "$check_only" = 1 ]; then
  if [ -f "$nsis/stamp" ]; then
    echo "NSIS in $nsis was built from other sources or compilers than tools/setup-nsis.sh names now: run tools/setup-nsis.sh" >&2
  else
    echo "NSIS $nsis_version is not built in $nsis: run tools/setup-nsis.sh (or tools/build.sh)" >&2
  fi
  exit 1
fi

# The Debian mirror the machine's own apt sources name for bookworm, in
# either source format: the same archive carries every suite.
mirror="$(awk '/^URIs:/ { uris = $2 } /^Suites:/ { for (i = 2; i <= NF; i++) if ($i == "bookworm") found = uris }
    /^$/ { uris = "" } END { print found }' /etc/apt/sources.list.d/*.sources 2>/dev/null || true)"
if [ -z "$mirror" ]; then
  mirror="$(awk '$1 == "deb" && $0 !~ /\[/ && $3 == "bookworm" { print $2; exit }' \
    /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null || true)"
fi
mirror="${mirror:-http://deb.debian.org/debian}"

start="$(date +%s)"
echo "setup-nsis: building NSIS $nsis_version from Debian's source package in $nsis (about 2 minutes on 2 idle cores)"
rm -rf "$nsis" "$nsis.partial"
work="$nsis.partial"
apt="$work/apt" src="$work/src" log="$work/build.log"
mkdir -p "$apt/lists/partial" "$apt/archives/partial" "$apt/cache" "$apt/parts" "$src"
for suite in "${nsis_suites[@]}"; do
  echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $mirror $suite main"
done >"$apt/sources.list"
apto=(-o "Dir::Etc::SourceList=$apt/sources.list" -o "Dir::Etc::SourceParts=$apt/parts"
  -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache" -o "Dir::Cache::Archives=$apt/archives"
  -o "APT::Sandbox::User=root" -o "Debug::NoLocking=1")
if ! apt-get "${apto[@]}" -qq update >"$log" 2>&1; then
  cat "$log" >&2
  echo "setup-nsis: failed: the source indexes of Debian's ${nsis_suites[*]} could not be read from $mirror" >&2
  exit 1
fi
offered="$(apt-cache "${apto[@]}" showsrc nsis 2>/dev/null | sed -n 's/^Version: //p' | sort -u)"
use="$nsis_version"
if ! grep -qxF "$nsis_version" <<<"$offered"; then
  use=""
  for v in $offered; do
    if dpkg --compare-versions "$v" ge "$nsis_version" &&
        { [ -z "$use" ] || dpkg --compare-versions "$v" gt "$use"; }; then
      use="$v"
    fi
  done
  if [ -z "$use" ]; then
    echo "setup-nsis: failed: Debian's ${nsis_suites[*]} offer no NSIS source of version $nsis_version or" \
      "later (they offer: $(paste -sd ' ' - <<<"${offered:-none}")). Set nsis_version in tools/setup-nsis.sh" \
      "to a version they carry, after reading its changelog." >&2
    exit 1
  fi
  echo "setup-nsis: warning: NSIS $nsis_version is gone from Debian's ${nsis_suites[*]}; building $use," \
    "the newest they offer. Pin it in tools/setup-nsis.sh after reading its changelog." >&2
fi
if ! (cd "$src" && apt-get "${apto[@]}" -qq source "nsis=$use") >>"$log" 2>&1; then
  tail -n 5 "$log" >&2
  echo "setup-nsis: failed: the source of NSIS $use could not be fetched from $mirror" >&2
  exit 1
fi
tree="$src/nsis-${use%-*}"
[ -f "$tree/SConstruct" ] || { echo "setup-nsis: failed: no NSIS source in $tree" >&2; exit 1; }

# Debian's own build of its nsis-common package, for x86 alone and without
# the documentation and the tools that run on Windows (but the UIs, which
# the Modern UI needs). makensis looks for its files beside its own folder.
epoch="$(dpkg-parsechangelog -l "$tree/debian/changelog" -STimestamp)"
skip_plugins="$(cd "$tree" && sed -n "/^plugins = \[/,/^]/s/^\t'\(.*\)',\$/\1/p" SConstruct |
  grep -vxF "${plugins[@]/#/-e}" | paste -sd, -)"
upstream="${use%-*}"
if ! (cd "$tree" && SOURCE_DATE_EPOCH="$epoch" scons -j "$(nproc)" \
    NSIS_CONFIG_CONST_DATA_PATH=no UNICODE=yes \
    VERSION="$upstream" VER_MAJOR="${upstream%%.*}" VER_MINOR="${upstream#*.}" VER_REVISION=0 \
    TARGET_ARCH=x86 XGCC_W32_PREFIX=i686-w64-mingw32- STRIP_CP=no \
    SKIPSTUBS=bzip2 SKIPPLUGINS="$skip_plugins" SKIPMISC=MultiUser,VPatch SKIPDOC=all \
    SKIPUTILS='Library/RegTool,MakeLangId,Makensisw,NSIS Menu,SubStart,VPatch/Source/GenPat,zip2exe' \
    PREFIX="$work/nsis" PREFIX_BIN="$work/nsis/Bin" PREFIX_CONF="$work/nsis" \
    install-compiler install-stubs install-plugins install-data install-utils) >>"$log" 2>&1; then
  tail -n 40 "$log" >&2
  echo "setup-nsis: failed: building NSIS $use (all of its output in $log)" >&2
  exit 1
fi
# An installer carries its stubs and plug-ins to machines that have only
# Windows' own DLLs.
for module in "$work/nsis"/Stubs/*-x86-unicode "$work/nsis"/Plugins/x86-unicode/*.dll; do
  if i686-w64-mingw32-objdump -p "$module" | grep -qiE 'DLL Name: (libwinpthread|libgcc|libstdc)'; then
    echo "setup-nsis: failed: $module needs a MinGW runtime DLL" >&2
    exit 1
  fi
done
built="$("$work/nsis/Bin/makensis" -VERSION)"
[ "$built" = "v$upstream" ] || { echo "setup-nsis: failed: the built makensis says $built, not v$upstream" >&2; exit 1; }

mv "$work/nsis" "$nsis"
echo "$key" >"$nsis/stamp"
rm -rf "$work"
echo "setup-nsis: NSIS $upstream built in $(($(date +%s) - start)) s"

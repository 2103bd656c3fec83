#!/usr/bin/env bash
# Installs, from Debian's packages, everything the build and the tests need.
# Idempotent: when every package is present it only checks and returns.
set -euo pipefail

packages=(
  cmake make ninja-build
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  googletest libgtest-dev
  wine wine64 wine32:i386
  xvfb xauth x11-utils
  libxml2-utils netpbm x11-apps
  zip unzip osslsigncode openssl
  # The installer: tools/setup-nsis.sh builds NSIS from Debian's source with
  # scons and the MinGW-w64 compilers above; its icon and pictures are drawn
  # as SVG and rendered with librsvg and icoutils; its test presses keys in
  # its dialogs with xdotool and unpacks the pictures it carries with 7-Zip.
  scons librsvg2-bin icoutils xdotool 7zip
  clang libclang-rt-14-dev llvm-14
  locales
  # ARM64: the compiler, linker and tools tools/setup-arm64.sh builds the
  # runtimes with (dpkg-dev unpacks the source packages), and qemu-user,
  # binfmt and mmdebstrap for the emulated arm64 root its tests run in.
  clang-19 lld-19 llvm-19 dpkg-dev
  qemu-user-static binfmt-support mmdebstrap arch-test
)

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  as_root dpkg --add-architecture i386
  need_update=1
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  as_root apt-get update -qq
  as_root apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
# Some tests run programs under Wine in the double-byte code page 932, which
# Wine takes from this locale, and in Japanese.
if ! locale -a 2>/dev/null | grep -qix 'ja_JP.utf8'; then
  echo "setup: generating the locale ja_JP.UTF-8"
  as_root localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
fi
# And in German, for the plug-in's words in the user's display language.
if ! locale -a 2>/dev/null | grep -qix 'de_DE.utf8'; then
  echo "setup: generating the locale de_DE.UTF-8"
  as_root localedef -i de_DE -f UTF-8 de_DE.UTF-8
fi
echo "setup: all build and test packages present"

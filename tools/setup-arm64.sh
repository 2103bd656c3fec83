#!/usr/bin/env bash
# Sets up what the ARM64 Windows build and its emulated tests need, from
# Debian's archive alone, cached in the build tree so that a second run only
# checks and returns:
#
#   toolchain  a C++17 cross compiler for aarch64-w64-mingw32: Debian's
#              clang-19/lld-19/llvm-19 with the mingw-w64 headers and CRT
#              built from Debian's mingw-w64 source package, and compiler-rt's
#              builtins, libunwind, libc++abi and libc++ built from Debian's
#              llvm-toolchain-19 source package (build/arm64-toolchain).
#   root       a Debian 12 arm64 root with Debian's arm64 Wine, made with
#              mmdebstrap and run through qemu-user-static and binfmt
#              (build/arm64-root); Debian 12's arm64 Wine runs ARM64 Windows
#              code only.
#
# The source packages come through an apt configuration of the toolchain's
# own (its own source list, lists and caches): the machine's apt sources and
# state stay as they are. Everything is checked against Debian's signed
# indexes by apt and mmdebstrap.
#
# The runtimes are built from the very source version of the installed
# clang-19, and the CRT from that of the installed mingw-w64 headers the x86
# builds use, looked up in bookworm, bookworm-updates and bookworm-security:
# when apt updates the compiler, the toolchain is built anew from the
# matching sources, and when Debian no longer publishes them the script says
# so and stops.
#
# Usage: tools/setup-arm64.sh [toolchain] [root] [sources]
#   (toolchain and root without arguments; sources only checks that Debian
#   still publishes the sources of the installed compilers, building nothing)
# VELMORA_ARM64_TOOLCHAIN and VELMORA_ARM64_ROOT name other folders.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
toolchain="${VELMORA_ARM64_TOOLCHAIN:-$root/build/arm64-toolchain}"
armroot="${VELMORA_ARM64_ROOT:-$root/build/arm64-root}"

# The source versions the toolchain is built from: those of the installed
# packages, so that the runtimes match the compiler that apt keeps up to date.
# A change of either changes the key, and the toolchain is built anew.
source_version_of() {
  dpkg-query -W -f='${source:Version}' "$1" 2>/dev/null || true
}
# Debian 12's Wine 8: Debian 13's arm64 Wine does not start under qemu-user.
root_suite=bookworm
# Raised when this script builds the toolchain or the root differently.
toolchain_version=2
root_version=1

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

want_toolchain=0
want_root=0
want_sources=0
[ $# -eq 0 ] && set -- toolchain root
for arg in "$@"; do
  case "$arg" in
    toolchain) want_toolchain=1 ;;
    root) want_root=1 ;;
    sources) want_sources=1 ;;
    *) echo "setup-arm64.sh: unknown argument $arg" >&2; exit 2 ;;
  esac
done

# The Debian mirror (and the security mirror) the machine's own apt sources
# name for bookworm, in either source format.
mirror_for() {
  local suite="$1" fallback="$2" uri
  # deb822 stanzas: URIs and Suites in either order, a blank line between.
  uri="$(awk -v suite="$suite" '
      function take() { if (!found && has) found = uris; uris = ""; has = 0 }
      FNR == 1 { take() } /^[[:space:]]*$/ { take() }
      /^URIs:/ { uris = $2 } /^Suites:/ { for (i = 2; i <= NF; i++) if ($i == suite) has = 1 }
      END { take(); print found }' \
      /etc/apt/sources.list.d/*.sources 2>/dev/null || true)"
  if [ -z "$uri" ]; then
    uri="$(awk -v suite="$suite" '$1 == "deb" && $0 !~ /\[/ && $3 == suite { print $2; exit }
        $1 == "deb" && $0 ~ /\[/ { for (i = 2; i <= NF; i++) if ($i ~ /\]$/) break; if ($(i + 2) == suite) { print $(i + 1); exit } }' \
      /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null || true)"
  fi
  echo "${uri:-$fallback}"
}
mirror="$(mirror_for bookworm http://deb.debian.org/debian)"
security_mirror="$(mirror_for bookworm-security http://deb.debian.org/debian-security)"

# Runs a step with its output in a log, shown only when the step fails.
quietly() {
  local log="$1"
  shift
  "$@" >"$log" 2>&1 || {
    tail -n 40 "$log" >&2
    echo "setup-arm64: failed: $* (all of its output in $log)" >&2
    return 1
  }
}

# The source versions to build from: those of the installed clang-19 (lld-19
# and llvm-19 come from the same source and must agree with it) and of the
# installed mingw-w64 headers. Sets llvm_version and mingw_version.
installed_sources() {
  llvm_version="$(source_version_of clang-19)"
  if [ -z "$llvm_version" ]; then
    echo "setup-arm64: clang-19 is not installed; run tools/setup.sh first" >&2
    exit 1
  fi
  local package other
  for package in lld-19 llvm-19; do
    other="$(source_version_of "$package")"
    if [ "$other" != "$llvm_version" ]; then
      echo "setup-arm64: clang-19 is built from llvm-toolchain-19 $llvm_version but $package" \
        "from ${other:-nothing (not installed)}; bring them to one version:" \
        "apt-get install clang-19 lld-19 llvm-19" >&2
      exit 1
    fi
  done
  mingw_version="$(source_version_of mingw-w64-common)"
  if [ -z "$mingw_version" ]; then
    echo "setup-arm64: the mingw-w64 headers are not installed; run tools/setup.sh first" >&2
    exit 1
  fi
}

# Debian's source indexes for bookworm, its updates and its security
# updates, in a private apt configuration under $1 (its own source list,
# lists and caches; the machine's stay as they are). Sets apto.
fetch_source_indexes() {
  local apt="$1"
  mkdir -p "$apt/lists/partial" "$apt/archives/partial" "$apt/cache" "$apt/parts"
  {
    echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $mirror bookworm main"
    echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $mirror bookworm-updates main"
    echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $security_mirror bookworm-security main"
  } >"$apt/sources.list"
  apto=(-o "Dir::Etc::SourceList=$apt/sources.list" -o "Dir::Etc::SourceParts=$apt/parts"
    -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache" -o "Dir::Cache::Archives=$apt/archives"
    -o "APT::Sandbox::User=$(id -un)" -o "Debug::NoLocking=1")
  quietly "$apt/update.log" apt-get "${apto[@]}" update
}

# Fails with words unless the source indexes hold `package` at `version`.
require_source() {
  local package="$1" version="$2" binary="$3"
  if ! apt-cache "${apto[@]}" showsrc --only-source "$package" 2>/dev/null |
      grep -qx "Version: $version"; then
    local published
    published="$(apt-cache "${apto[@]}" showsrc --only-source "$package" 2>/dev/null |
      sed -n 's/^Version: //p' | sort -u | paste -sd ' ')"
    echo "setup-arm64: the installed $binary is built from $package $version, which Debian" \
      "no longer publishes (bookworm, bookworm-updates and bookworm-security at $mirror and" \
      "$security_mirror have ${published:-none}). Update the compilers to Debian's current" \
      "version (apt-get update && apt-get install clang-19 lld-19 llvm-19 mingw-w64), then run" \
      "this again." >&2
    exit 1
  fi
}

# Checks, without building anything, that the sources of the installed
# compilers can still be had: what a fresh machine needs.
check_sources() {
  installed_sources
  local apt
  apt="$(mktemp -d)"
  fetch_source_indexes "$apt"
  require_source llvm-toolchain-19 "$llvm_version" clang-19
  require_source mingw-w64 "$mingw_version" mingw-w64-common
  rm -rf "$apt"
  echo "setup-arm64: Debian publishes llvm-toolchain-19 $llvm_version and mingw-w64 $mingw_version," \
    "the sources of the installed compilers"
}

build_toolchain() {
  installed_sources
  local key
  key="mingw-w64=$mingw_version llvm-toolchain-19=$llvm_version"
  key+=" clang-19=$(dpkg-query -W -f='${Version}' clang-19) lld-19=$(dpkg-query -W -f='${Version}' lld-19)"
  key+=" script=$toolchain_version"
  if [ -f "$toolchain/stamp" ] && [ "$(cat "$toolchain/stamp")" = "$key" ]; then
    echo "setup-arm64: toolchain present ($toolchain)"
    return
  fi
  local start
  start="$(date +%s)"
  echo "setup-arm64: building the aarch64-w64-mingw32 toolchain in $toolchain from" \
    "llvm-toolchain-19 $llvm_version and mingw-w64 $mingw_version (about 3 minutes)"
  rm -rf "$toolchain"
  local w="$toolchain" src="$toolchain/src" apt="$toolchain/apt"
  local triple=aarch64-w64-mingw32 prefix="$toolchain/prefix/aarch64-w64-mingw32"
  mkdir -p "$src" "$w/bin"

  fetch_source_indexes "$apt"
  require_source llvm-toolchain-19 "$llvm_version" clang-19
  require_source mingw-w64 "$mingw_version" mingw-w64-common
  (cd "$src" && quietly "$apt/source.log" apt-get "${apto[@]}" source "mingw-w64=$mingw_version")
  (cd "$src" && quietly "$apt/source.log" apt-get "${apto[@]}" source --download-only \
    "llvm-toolchain-19=$llvm_version")
  mkdir -p "$src/llvm"
  # Only the runtimes and the CMake modules they build with (llvm/cmake among
  # them: tar names a member only by the first pattern that matches it).
  tar -C "$src/llvm" --strip-components=1 -xJf "$src"/llvm-toolchain-19_*.orig.tar.xz --wildcards \
    '*/compiler-rt/*' '*/libunwind/*' '*/libcxxabi/*' '*/libcxx/*' '*/runtimes/*' '*/cmake/*' \
    '*/llvm/utils/*' '*/third-party/*'
  rm -f "$src"/llvm-toolchain-19_*

  # The compiler drivers: Debian's clang-19 aimed at the target and at the
  # libraries built here. Found relative to themselves, so the folder moves.
  local resource
  resource="$(clang-19 -print-resource-dir)"
  mkdir -p "$w/resdir/lib/aarch64-w64-windows-gnu"
  ln -s "$resource/include" "$w/resdir/include"
  for driver in clang clang++; do
    local compiler=clang-19
    [ "$driver" = clang++ ] && compiler=clang++-19
    cat >"$w/bin/$triple-$driver" <<EOF
#!/bin/sh
here="\$(cd "\$(dirname "\$0")/.." && pwd)"
exec $compiler --target=$triple --sysroot="\$here/prefix" -resource-dir "\$here/resdir" \\
  -rtlib=compiler-rt -unwindlib=libunwind -stdlib=libc++ -fuse-ld=lld -Qunused-arguments "\$@"
EOF
    chmod +x "$w/bin/$triple-$driver"
  done
  for tool in ar ranlib dlltool nm strip objcopy objdump readobj; do
    ln -s "/usr/bin/llvm-$tool-19" "$w/bin/$triple-$tool"
  done
  # llvm-windres preprocesses with the driver beside it, given the whole
  # command as GNU windres takes it.
  cat >"$w/bin/$triple-windres" <<EOF
#!/bin/sh
here="\$(cd "\$(dirname "\$0")" && pwd)"
exec llvm-windres-19 --target=$triple --preprocessor="\$here/$triple-clang" \\
  --preprocessor-arg=-E --preprocessor-arg=-xc --preprocessor-arg=-DRC_INVOKED "\$@"
EOF
  chmod +x "$w/bin/$triple-windres"
  export PATH="$w/bin:$PATH"
  # Until compiler-rt's builtins exist the driver cannot link for the target.
  llvm-ar-19 rc "$w/resdir/lib/aarch64-w64-windows-gnu/libclang_rt.builtins.a"

  local mingw
  mingw="$(find "$src" -maxdepth 1 -type d -name 'mingw-w64-*' | head -n 1)"
  mkdir -p "$src/headers" "$src/crt"
  (cd "$src/headers" && quietly "$w/headers.log" "$mingw/mingw-w64-headers/configure" --host=$triple \
    --prefix="$prefix" --with-default-msvcrt=msvcrt && quietly "$w/headers.log" make install)
  (cd "$src/crt" && quietly "$w/crt.log" "$mingw/mingw-w64-crt/configure" --host=$triple \
    --prefix="$prefix" --disable-lib32 --disable-lib64 --disable-libarm32 --enable-libarm64 \
    --with-default-msvcrt=msvcrt CC=$triple-clang CFLAGS="-O2 -g -ffile-prefix-map=$w=/arm64-toolchain" \
    AR=llvm-ar-19 RANLIB=llvm-ranlib-19 \
    DLLTOOL=llvm-dlltool-19 &&
    quietly "$w/crt.log" make -j "$(nproc)" && quietly "$w/crt.log" make install)

  # The runtimes' assertions name their source files, which end up in every
  # module: named from a fixed folder, not the toolchain's, so that a module
  # is the same bytes whichever folder its toolchain was built in.
  local map="-ffile-prefix-map=$w=/arm64-toolchain"
  local common=(-G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_SYSTEM_NAME=Windows
    -DCMAKE_C_FLAGS="$map" -DCMAKE_CXX_FLAGS="$map" -DCMAKE_ASM_FLAGS="$map"
    -DCMAKE_SYSTEM_PROCESSOR=ARM64 -DCMAKE_AR=/usr/bin/llvm-ar-19 -DCMAKE_RANLIB=/usr/bin/llvm-ranlib-19
    -DCMAKE_C_COMPILER="$w/bin/$triple-clang" -DCMAKE_CXX_COMPILER="$w/bin/$triple-clang++"
    -DCMAKE_ASM_COMPILER="$w/bin/$triple-clang" -DCMAKE_C_COMPILER_WORKS=1 -DCMAKE_CXX_COMPILER_WORKS=1 -Wno-dev --no-warn-unused-cli
    -DCMAKE_C_COMPILER_TARGET=aarch64-w64-windows-gnu -DCMAKE_ASM_COMPILER_TARGET=aarch64-w64-windows-gnu
    -DLLVM_CMAKE_DIR="$src/llvm/llvm/cmake/modules")
  quietly "$w/builtins.log" cmake "${common[@]}" -S "$src/llvm/compiler-rt/lib/builtins" \
    -B "$src/builtins" -DCOMPILER_RT_DEFAULT_TARGET_ONLY=TRUE
  quietly "$w/builtins.log" ninja -C "$src/builtins"
  cp "$(find "$src/builtins" -name 'libclang_rt.builtins*.a' | head -n 1)" \
    "$w/resdir/lib/aarch64-w64-windows-gnu/libclang_rt.builtins.a"

  # Static runtimes on Windows threads: a module links them in and imports
  # only Windows' own DLLs.
  quietly "$w/runtimes.log" cmake "${common[@]}" -S "$src/llvm/runtimes" -B "$src/runtimes" \
    -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DLLVM_ENABLE_RUNTIMES="libunwind;libcxxabi;libcxx" \
    -DLIBUNWIND_USE_COMPILER_RT=ON -DLIBUNWIND_ENABLE_SHARED=OFF \
    -DLIBCXXABI_USE_COMPILER_RT=ON -DLIBCXXABI_USE_LLVM_UNWINDER=ON -DLIBCXXABI_ENABLE_SHARED=OFF \
    -DLIBCXXABI_ENABLE_STATIC_UNWINDER=ON -DLIBCXXABI_HAS_WIN32_THREAD_API=ON \
    -DLIBCXX_USE_COMPILER_RT=ON -DLIBCXX_ENABLE_SHARED=OFF -DLIBCXX_ENABLE_STATIC_ABI_LIBRARY=ON \
    -DLIBCXX_CXX_ABI=libcxxabi -DLIBCXX_HAS_WIN32_THREAD_API=ON -DLIBCXX_INCLUDE_TESTS=OFF \
    -DLIBCXX_INCLUDE_BENCHMARKS=OFF -DLIBCXXABI_INCLUDE_TESTS=OFF -DLIBUNWIND_INCLUDE_TESTS=OFF \
    -DLIBCXX_INCLUDE_DOCS=OFF -DLIBUNWIND_INCLUDE_DOCS=OFF
  quietly "$w/runtimes.log" ninja -C "$src/runtimes" -j "$(nproc)" install

  rm -rf "$src" "$apt" "$w"/*.log
  echo "$key" >"$toolchain/stamp"
  echo "setup-arm64: toolchain built in $(($(date +%s) - start)) s"
}

# binfmt_misc runs arm64 programs through qemu, also inside the root: the F
# flag keeps the host's qemu open for them, so the root needs no copy.
enable_binfmt() {
  if [ ! -e /proc/sys/fs/binfmt_misc/register ]; then
    as_root mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
  fi
  if [ ! -e /proc/sys/fs/binfmt_misc/qemu-aarch64 ]; then
    as_root update-binfmts --enable qemu-aarch64
  fi
  grep -q '^flags: .*F' /proc/sys/fs/binfmt_misc/qemu-aarch64 || {
    echo "setup-arm64: qemu-aarch64 is registered without the F flag" >&2
    exit 1
  }
}

make_root() {
  enable_binfmt
  local key="suite=$root_suite wine script=$root_version"
  if [ -f "$armroot/.velmora-stamp" ] && [ "$(cat "$armroot/.velmora-stamp")" = "$key" ]; then
    echo "setup-arm64: arm64 root present ($armroot)"
    return
  fi
  local start
  start="$(date +%s)"
  echo "setup-arm64: making the Debian 12 arm64 root with Wine in $armroot (about 4 minutes)"
  as_root rm -rf "$armroot" "$armroot.partial"
  as_root mmdebstrap --quiet --mode=root --architectures=arm64 --variant=apt --include=wine,wine64 \
    "$root_suite" "$armroot.partial" \
    "deb $mirror $root_suite main" "deb $mirror $root_suite-updates main" \
    "deb $security_mirror $root_suite-security main"
  # The package lists and downloaded packages are of no use once installed.
  as_root rm -rf "$armroot.partial"/var/lib/apt/lists/* "$armroot.partial"/var/cache/apt/*.bin
  echo "$key" | as_root tee "$armroot.partial/.velmora-stamp" >/dev/null
  as_root mv "$armroot.partial" "$armroot"
  echo "setup-arm64: arm64 root made in $(($(date +%s) - start)) s ($(du -sh "$armroot" | cut -f1))"
}

[ "$want_sources" = 1 ] && check_sources
[ "$want_toolchain" = 1 ] && build_toolchain
[ "$want_root" = 1 ] && make_root
exit 0

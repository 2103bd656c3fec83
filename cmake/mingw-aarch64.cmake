# Cross build of the plug-in for ARM64 Windows (Windows on ARM) with Debian's
# clang-19 and lld-19 and the mingw-w64 runtime, compiler-rt, libunwind,
# libc++abi and libc++ that tools/setup-arm64.sh builds from Debian's source
# packages into build/arm64-toolchain (VELMORA_ARM64_TOOLCHAIN names another
# one). Test programs run under Debian's arm64 Wine in an arm64 root, through
# qemu-user: that Wine runs ARM64 Windows code only.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ARM64)
set(VELMORA_ARCH aarch64)

if(DEFINED ENV{VELMORA_ARM64_TOOLCHAIN})
  set(VELMORA_ARM64_TOOLCHAIN "$ENV{VELMORA_ARM64_TOOLCHAIN}")
else()
  get_filename_component(VELMORA_ARM64_TOOLCHAIN "${CMAKE_CURRENT_LIST_DIR}/../build/arm64-toolchain" ABSOLUTE)
endif()
if(NOT EXISTS "${VELMORA_ARM64_TOOLCHAIN}/stamp")
  message(FATAL_ERROR "No ARM64 toolchain in ${VELMORA_ARM64_TOOLCHAIN}: run tools/setup-arm64.sh toolchain")
endif()
set(_bin "${VELMORA_ARM64_TOOLCHAIN}/bin/aarch64-w64-mingw32")
set(CMAKE_C_COMPILER ${_bin}-clang)
set(CMAKE_CXX_COMPILER ${_bin}-clang++)
set(CMAKE_RC_COMPILER ${_bin}-windres)
set(CMAKE_AR ${_bin}-ar)
set(CMAKE_RANLIB ${_bin}-ranlib)
set(CMAKE_OBJDUMP ${_bin}-objdump)

set(CMAKE_FIND_ROOT_PATH "${VELMORA_ARM64_TOOLCHAIN}/prefix/aarch64-w64-mingw32")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# The runner script is generated into the build tree by the project: Wine in
# the arm64 root, with the Wine prefix of that tree.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run.sh)

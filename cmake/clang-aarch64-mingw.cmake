# Cross build for ARM64 Windows with Debian's clang and lld, on the C runtime
# and C++ library that scripts/toolchain-arm64 makes (its folder given as
# SPECTRA_ARM64_TOOLCHAIN).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ARM64)
set(SPECTRA_ARM64_TOOLCHAIN "" CACHE PATH "Where scripts/toolchain-arm64 made the toolchain")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES SPECTRA_ARM64_TOOLCHAIN)
set(triple aarch64-w64-mingw32)
set(CMAKE_C_COMPILER ${SPECTRA_ARM64_TOOLCHAIN}/bin/${triple}-clang)
set(CMAKE_CXX_COMPILER ${SPECTRA_ARM64_TOOLCHAIN}/bin/${triple}-clang++)
set(CMAKE_RC_COMPILER ${SPECTRA_ARM64_TOOLCHAIN}/bin/${triple}-windres)
set(CMAKE_AR llvm-ar-14 CACHE FILEPATH "")
set(CMAKE_RANLIB llvm-ranlib-14 CACHE FILEPATH "")
set(CMAKE_FIND_ROOT_PATH ${SPECTRA_ARM64_TOOLCHAIN}/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# ctest runs the Windows test programs through wine (in an ARM64 root).
set(CMAKE_CROSSCOMPILING_EMULATOR wine)

# Cross build of the macOS plug-in bundles' code for one processor
# (SPECTRA_MACOS_ARCH: x86_64 or arm64) with Debian's clang and lld, on the
# Darwin declarations and libSystem stub in platform/macos and libc++'s
# headers; scripts/build-macos joins the two builds into universal bundles.
set(CMAKE_SYSTEM_NAME Darwin)
set(SPECTRA_MACOS_ARCH x86_64 CACHE STRING "x86_64 or arm64")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES SPECTRA_MACOS_ARCH)
set(CMAKE_SYSTEM_PROCESSOR ${SPECTRA_MACOS_ARCH})
# Intel Macs from Catalina on, Apple silicon from its first system.
if(SPECTRA_MACOS_ARCH STREQUAL arm64)
  set(target arm64-apple-macos11)
  set(CMAKE_OSX_DEPLOYMENT_TARGET 11.0)
else()
  set(target x86_64-apple-macos10.15)
  set(CMAKE_OSX_DEPLOYMENT_TARGET 10.15)
endif()
set(CMAKE_OSX_ARCHITECTURES ${SPECTRA_MACOS_ARCH})
set(CMAKE_OSX_SYSROOT ${CMAKE_CURRENT_LIST_DIR}/../platform/macos)
set(CMAKE_C_COMPILER clang-19)
set(CMAKE_CXX_COMPILER clang++-19)
set(CMAKE_C_COMPILER_TARGET ${target})
set(CMAKE_CXX_COMPILER_TARGET ${target})
set(CMAKE_AR llvm-ar-19 CACHE FILEPATH "")
set(CMAKE_RANLIB llvm-ranlib-19 CACHE FILEPATH "")
set(CMAKE_INSTALL_NAME_TOOL true CACHE FILEPATH "")
# libc++'s headers, used without its library: no exceptions, no type
# information, no streams or wide characters.
set(CMAKE_CXX_FLAGS_INIT "-nostdinc++ -isystem /usr/lib/llvm-19/include/c++/v1 -D_LIBCPP_HAS_NO_WIDE_CHARACTERS -D_LIBCPP_HAS_NO_LOCALIZATION -fno-exceptions -fno-rtti")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld -nostdlib++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-fuse-ld=lld -nostdlib++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-fuse-ld=lld -nostdlib++")
set(CMAKE_FIND_ROOT_PATH ${CMAKE_OSX_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Cross build for arm64 Linux with Debian's aarch64-linux-gnu GCC, of the
# host library and the test programs that run the macOS bundles' arm64 code
# under qemu-user. FFTW and GoogleTest come from Debian's arm64 packages,
# unpacked by scripts/sysroot-arm64 (its folder given as SPECTRA_ARM64_SYSROOT).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(SPECTRA_ARM64_SYSROOT "" CACHE PATH "Where scripts/sysroot-arm64 unpacked FFTW and GoogleTest")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES SPECTRA_ARM64_SYSROOT)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_FIND_ROOT_PATH ${SPECTRA_ARM64_SYSROOT} /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_LIBDIR} ${SPECTRA_ARM64_SYSROOT}/usr/lib/aarch64-linux-gnu/pkgconfig)
set(ENV{PKG_CONFIG_SYSROOT_DIR} ${SPECTRA_ARM64_SYSROOT})
# The programs run under qemu-user, with the cross toolchain's C library.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64-static -L /usr/aarch64-linux-gnu)

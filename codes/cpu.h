/* cpu.h - whether this processor, and the system under it, runs a vector
 * path. GCC's and clang's __builtin_cpu_supports reads a table that their
 * runtime library fills; the macOS bundles link no such library (only
 * libSystem), so there the answer comes from the system's own report,
 * sysctl's hw.optional keys, which also say whether the system saves the
 * AVX-512 registers, and from CPUID for VBMI, which has no key of its own. */
#ifndef SPECTRA_CPU_H
#define SPECTRA_CPU_H

#if defined(__x86_64__) || defined(__i386__)
#if defined(__APPLE__)
#include <cpuid.h>
#include <cstddef>
#include <sys/sysctl.h>

inline bool apple_optional(const char* key) {
    int value = 0;
    size_t size = sizeof value;
    return sysctlbyname(key, &value, &size, nullptr, 0) == 0 && value != 0;
}

inline bool cpu_runs_avx2_fma() {
    return apple_optional("hw.optional.avx2_0") && apple_optional("hw.optional.fma");
}
inline bool cpu_runs_avx512() {
    return apple_optional("hw.optional.avx512f") && apple_optional("hw.optional.avx512dq") &&
           apple_optional("hw.optional.avx512bw") && apple_optional("hw.optional.avx512vl");
}
inline bool cpu_runs_avx512vbmi() {
    unsigned a, b, c, d;
    return cpu_runs_avx512() && __get_cpuid_count(7, 0, &a, &b, &c, &d) && (c & bit_AVX512VBMI);
}
#else
inline bool cpu_runs_avx2_fma() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}
inline bool cpu_runs_avx512() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
           __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl");
}
inline bool cpu_runs_avx512vbmi() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512vbmi") != 0;
}
#endif
#endif

#endif

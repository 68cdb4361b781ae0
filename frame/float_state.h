/* float_state.h - the floating-point state in which the plug-ins compute,
 * whatever state their host calls them in.
 *
 * Hosts leave the processor's floating-point state as they like: some round
 * toward zero or flush subnormals, some unmask exceptions (a trap in a lane
 * that a vector coder computes and then discards would take the host down),
 * and 32-bit Direct3D programs run the x87 unit at single precision, where
 * the x86 build's C library does its maths. So every call of the entry
 * function saves the host's state, computes in one fixed state, and gives
 * the host back exactly what it had, sticky flags included.
 *
 * FFTW's worker threads are made inside the transforms' executions, on the
 * thread that runs them, and on Linux a thread starts in its creator's
 * state: made only while the fixed state is in force, they compute in it
 * too. On Windows every thread starts in the system's default state, which
 * is the same as far as SSE and ARM64's FPCR go. */
#ifndef SPECTRA_FLOAT_STATE_H
#define SPECTRA_FLOAT_STATE_H

#include <cstdint>

#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>

/* Round to nearest, every exception masked, no flush-to-zero, no
 * denormals-are-zero, no flags. */
const unsigned plugin_mxcsr = 0x1f80;
/* x87: every exception masked, round to nearest, 64-bit mantissas, which
 * the x87 routines of the x86 build's C library are written for. */
const uint16_t plugin_x87_control = 0x037f;

struct FloatState {
    unsigned mxcsr;
#if defined(__i386__)
    uint32_t x87[7]; /* the x87 environment as fnstenv stores it in 32-bit mode */
#endif
};

inline FloatState enter_plugin_float_state() {
    FloatState host;
    host.mxcsr = _mm_getcsr();
    _mm_setcsr(plugin_mxcsr);
#if defined(__i386__)
    /* fnstenv also masks the x87 exceptions; fnclex keeps a pending one of
     * the host's from trapping in our first x87 instruction */
    __asm__ volatile("fnstenv %0" : "=m"(host.x87));
    __asm__ volatile("fnclex\n\tfldcw %0" : : "m"(plugin_x87_control));
#endif
    return host;
}

inline void leave_plugin_float_state(const FloatState& host) {
#if defined(__i386__)
    __asm__ volatile("fldenv %0" : : "m"(host.x87));
#endif
    _mm_setcsr(host.mxcsr);
}

#elif defined(__aarch64__)

/* FPCR: round to nearest, no flush-to-zero, no default NaN, every trap
 * off. The host's sticky flags live apart, in FPSR. */
const uint64_t plugin_fpcr = 0;

struct FloatState {
    uint64_t fpcr, fpsr;
};

inline FloatState enter_plugin_float_state() {
    FloatState host;
    __asm__ volatile("mrs %0, fpcr\n\tmrs %1, fpsr" : "=r"(host.fpcr), "=r"(host.fpsr));
    __asm__ volatile("msr fpcr, %0\n\tmsr fpsr, xzr" : : "r"(plugin_fpcr));
    return host;
}

inline void leave_plugin_float_state(const FloatState& host) {
    __asm__ volatile("msr fpcr, %0\n\tmsr fpsr, %1" : : "r"(host.fpcr), "r"(host.fpsr));
}

#else
#include <cfenv>

struct FloatState {
    std::fenv_t env;
};

inline FloatState enter_plugin_float_state() {
    FloatState host;
    std::fegetenv(&host.env);
    std::fesetenv(FE_DFL_ENV);
    return host;
}

inline void leave_plugin_float_state(const FloatState& host) {
    std::fesetenv(&host.env);
}
#endif

#endif

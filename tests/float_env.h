/* float_env.h - the floating-point states that real hosts leave when they
 * call a filter, for the test hosts to set: rounding toward zero, up or
 * down, flush-to-zero with denormals-are-zero, the invalid, divide-by-zero
 * and overflow exceptions unmasked, and on 32-bit x86 the x87 unit at
 * single precision with its exceptions unmasked. On ARM64 the rounding
 * modes and flush-to-zero: trapping is optional there, and the processors
 * that Windows runs on have none. */
#ifndef SPECTRA_FLOAT_ENV_H
#define SPECTRA_FLOAT_ENV_H

#include <cstdint>
#include <cstring>

#if defined(__aarch64__)

/* FPCR, and FPSR with its sticky flags. */
struct FloatEnv {
    uint64_t fpcr, fpsr;
    bool operator==(const FloatEnv& o) const { return fpcr == o.fpcr && fpsr == o.fpsr; }
};

inline FloatEnv float_env_now() {
    FloatEnv env;
    __asm__ volatile("mrs %0, fpcr\n\tmrs %1, fpsr" : "=r"(env.fpcr), "=r"(env.fpsr));
    return env;
}

inline void float_env_set(const FloatEnv& env) {
    __asm__ volatile("msr fpcr, %0\n\tmsr fpsr, %1" : : "r"(env.fpcr), "r"(env.fpsr));
}

/* The state of a name: "default" (a C program's own), "zero", "up",
 * "down" (FPCR's RMode) and "ftz" (FZ). False for other names. */
inline bool float_env_named(const char* name, FloatEnv* env) {
    *env = {0, 0};
    if (std::strcmp(name, "zero") == 0)
        env->fpcr = 3u << 22;
    else if (std::strcmp(name, "up") == 0)
        env->fpcr = 1u << 22;
    else if (std::strcmp(name, "down") == 0)
        env->fpcr = 2u << 22;
    else if (std::strcmp(name, "ftz") == 0)
        env->fpcr = 1u << 24;
    else if (std::strcmp(name, "default") != 0)
        return false;
    return true;
}

#else
#include <xmmintrin.h>

/* MXCSR, and the x87 control and status words (zero on x86-64, where the
 * plug-ins do not use the x87 unit). */
struct FloatEnv {
    unsigned mxcsr;
    uint16_t x87_control, x87_status;
    bool operator==(const FloatEnv& o) const {
        return mxcsr == o.mxcsr && x87_control == o.x87_control && x87_status == o.x87_status;
    }
};

inline FloatEnv float_env_now() {
    FloatEnv env = {_mm_getcsr(), 0, 0};
#if defined(__i386__)
    __asm__ volatile("fnstcw %0\n\tfnstsw %1" : "=m"(env.x87_control), "=m"(env.x87_status));
#endif
    return env;
}

inline void float_env_set(const FloatEnv& env) {
#if defined(__i386__)
    __asm__ volatile("fnclex\n\tfldcw %0" : : "m"(env.x87_control));
#endif
    _mm_setcsr(env.mxcsr);
}

/* The state of a name: "default" (a C program's own), "zero", "up",
 * "down", "ftz" (with denormals-are-zero), "traps", and on 32-bit x86
 * "x87". False for other names. */
inline bool float_env_named(const char* name, FloatEnv* env) {
    const unsigned masked = 0x1f80, ftz = 0x8000, daz = 0x0040;
    const unsigned invalid = 0x0080, divide = 0x0200, overflow = 0x0400;
    *env = {masked, 0, 0};
#if defined(__i386__)
    env->x87_control = 0x037f;
#endif
    if (std::strcmp(name, "zero") == 0)
        env->mxcsr |= 0x6000;
    else if (std::strcmp(name, "up") == 0)
        env->mxcsr |= 0x4000;
    else if (std::strcmp(name, "down") == 0)
        env->mxcsr |= 0x2000;
    else if (std::strcmp(name, "ftz") == 0)
        env->mxcsr |= ftz | daz;
    else if (std::strcmp(name, "traps") == 0)
        env->mxcsr &= ~(invalid | divide | overflow);
#if defined(__i386__)
    /* precision control 00: 24-bit mantissas; invalid, zero-divide and
     * overflow unmasked */
    else if (std::strcmp(name, "x87") == 0)
        env->x87_control = 0x037f & ~0x0300 & ~0x000d;
#endif
    else if (std::strcmp(name, "default") != 0)
        return false;
    return true;
}

#endif

#endif

/* fast_codes.h - the coefficient codes of codes.h for whole rows, at a small
 * fraction of the cost of log10 and atan2 per coefficient.
 *
 * Every sample written is the one that write_coefficient() writes, bit for
 * bit. A vector path of the coder (coder.h) writes the samples of most
 * coefficients from fast approximations and hands back the few it cannot
 * vouch for; those are coded here with the exact formula. */
#ifndef SPECTRA_FAST_CODES_H
#define SPECTRA_FAST_CODES_H

#include "codes.h"
#include "coder.h"

#include <cstdint>
#include <fftw3.h>
#include <type_traits>

/* A path's procedure for one sample type. */
template <typename T> CodeProc<T> code_proc(const CoderPath& path);
template <> inline CodeProc<uint8_t> code_proc<uint8_t>(const CoderPath& path) {
    return path.code8;
}
template <> inline CodeProc<uint16_t> code_proc<uint16_t>(const CoderPath& path) {
    return path.code16;
}
template <> inline CodeProc<float> code_proc<float>(const CoderPath& path) {
    return path.code32;
}

/* A path's scatter for one sample type, or null. */
template <typename T> ScatterProc<T> scatter_proc(const CoderPath& path);
template <> inline ScatterProc<uint8_t> scatter_proc<uint8_t>(const CoderPath& path) {
    return path.scatter ? path.scatter->scatter8 : nullptr;
}
template <> inline ScatterProc<uint16_t> scatter_proc<uint16_t>(const CoderPath& path) {
    return path.scatter ? path.scatter->scatter16 : nullptr;
}
template <> inline ScatterProc<float> scatter_proc<float>(const CoderPath& path) {
    return path.scatter ? path.scatter->scatter32 : nullptr;
}

/* A path's fill for one sample type, or null. */
template <typename T> FillProc<T> fill_proc(const CoderPath& path);
template <> inline FillProc<uint8_t> fill_proc<uint8_t>(const CoderPath& path) {
    return path.fill ? path.fill->fill8 : nullptr;
}
template <> inline FillProc<uint16_t> fill_proc<uint16_t>(const CoderPath& path) {
    return path.fill ? path.fill->fill16 : nullptr;
}
template <> inline FillProc<float> fill_proc<float>(const CoderPath& path) {
    return path.fill ? path.fill->fill32 : nullptr;
}

/* A path's writer of moduli for one sample type, or null. */
template <typename T> ModulusProc<T> modulus_proc(const CoderPath& path);
template <> inline ModulusProc<uint8_t> modulus_proc<uint8_t>(const CoderPath& path) {
    return path.modulus ? path.modulus->modulus8 : nullptr;
}
template <> inline ModulusProc<uint16_t> modulus_proc<uint16_t>(const CoderPath& path) {
    return path.modulus ? path.modulus->modulus16 : nullptr;
}
template <> inline ModulusProc<float> modulus_proc<float>(const CoderPath& path) {
    return path.modulus ? path.modulus->modulus32 : nullptr;
}

/* The scale of the codes of a depth with magnitude divisor D. */
template <typename T> CodeScale code_scale(double D, double margin = 1) {
    CodeScale scale;
    scale.c = 1 / (2 * 2.302585092994045684 * D);
    scale.K = degrees_per_radian * Depth<T>::phase_scale;
    scale.half = Depth<T>::half;
    scale.white = Depth<T>::white;
    scale.margin = margin;
    return scale;
}

/* Writes the magnitude and phase samples of `count` coefficients: those of
 * X[i] to magnitude[i * stride] and phase[i * stride]. `path` is for tests
 * and benchmarks that try each path; by default the best for the machine.
 * Returns how many coefficients took the exact formula. */
template <typename T>
int64_t write_coefficients(const fftw_complex* X, int64_t count, double D, T* magnitude, T* phase,
                           int64_t stride, const CoderPath* path = nullptr, double margin = 1) {
    if (!path) path = &coder_for_this_machine();
    /* a transform of one value has no scale (D = 0): the exact formula */
    const CodeScale scale = code_scale<T>(D, margin);
    if (!(D > 0 && scale.c < 1e300)) {
        for (int64_t i = 0; i < count; i++)
            write_coefficient<T>(X[i][0], X[i][1], D, magnitude + i * stride, phase + i * stride);
        return count;
    }
    const CodeProc<T> code = code_proc<T>(*path);
    const ScatterProc<T> scatter = scatter_proc<T>(*path);
    const int block = 1024;
    T m[block], p[block];
    int32_t redo[block];
    int64_t redone = 0;
    for (int64_t start = 0; start < count; start += block) {
        int len = int(count - start < block ? count - start : int64_t(block));
        const fftw_complex* x = X + start;
        int r = code(&x[0][0], len, scale, m, p, redo);
        for (int j = 0; j < r; j++) {
            int i = redo[j];
            write_coefficient<T>(x[i][0], x[i][1], D, &m[i], &p[i]);
        }
        T* to_m = magnitude + start * stride;
        T* to_p = phase + start * stride;
        if (scatter) {
            scatter(to_m, stride, m, len);
            scatter(to_p, stride, p, len);
        } else {
            for (int i = 0; i < len; i++) {
                to_m[i * stride] = m[i];
                to_p[i * stride] = p[i];
            }
        }
        redone += r;
    }
    return redone;
}

#endif

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
    const CodeProc<T> code = procs_for<T>(*path).code;
    const ScatterProc<T> scatter = procs_for<T>(*path).scatter;
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

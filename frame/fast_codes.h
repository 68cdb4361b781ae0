/* fast_codes.h - the coefficient codes of codes.h for whole rows, at a small
 * fraction of the cost of log10 and atan2 per coefficient.
 *
 * Every sample written is the one that write_coefficient() writes, bit for
 * bit. Fast approximations of ln |X|^2 and arg X (approx.cpp), computed four
 * at a time, place each code between two rounding boundaries: the boundaries
 * of the 8- and 16-bit codes (half-integers) or of the conversion to single
 * precision. Where an approximation lies closer to a boundary than its error
 * bound (times a wide safety factor), or outside the range where the bounds
 * hold, the exact formula of codes.h decides. */
#ifndef SPECTRA_FAST_CODES_H
#define SPECTRA_FAST_CODES_H

#include "approx.h"
#include "codes.h"

#include <cstdint>
#include <cstring>
#include <fftw3.h>
#include <type_traits>

/* Writes the magnitude and phase samples of `count` coefficients: those of
 * X[i] to magnitude[i * stride] and phase[i * stride]. `approximate` is for
 * tests that try each kernel; by default the best for the machine. */
template <typename T>
void write_coefficients(const fftw_complex* X, int64_t count, double D, T* magnitude, T* phase,
                        int64_t stride, ApproximateProc approximate = nullptr) {
    static const ApproximateProc best = approximate_for_this_machine();
    if (!approximate) approximate = best;
    CodeScale scale;
    scale.c = 1 / (2 * 2.302585092994045684 * D);
    scale.K = degrees_per_radian * Depth<T>::phase_scale;
    scale.half = Depth<T>::half;
    scale.white = Depth<T>::white;
    scale.integers = !std::is_same<T, float>::value;
    /* a transform of one value has no scale (D = 0): the exact formula */
    const bool fast = D > 0 && scale.c < 1e300;

    const int block = 256;
    alignas(32) double codes[2][block];
    alignas(32) double tail[8] = {};
    for (int64_t start = 0; start < count; start += block) {
        int len = int(count - start < block ? count - start : int64_t(block)), whole = len & ~3;
        const double* x = &X[start][0];
        if (fast) {
            approximate(x, whole, scale, codes[0], codes[1]);
            if (whole < len) {
                std::memcpy(tail, x + 2 * whole, sizeof(double) * 2 * size_t(len - whole));
                approximate(tail, 4, scale, codes[0] + whole, codes[1] + whole);
            }
        }
        T* m = magnitude + start * stride;
        T* p = phase + start * stride;
        for (int i = 0; i < len; i++, m += stride, p += stride) {
            if (fast && codes[0][i] == codes[0][i]) {
                *m = T(codes[0][i]);
                *p = T(codes[1][i]);
            } else {
                write_coefficient<T>(x[2 * i], x[2 * i + 1], D, m, p);
            }
        }
    }
}

#endif

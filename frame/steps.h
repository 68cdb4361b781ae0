/* steps.h - the steps that the transform bodies share around their FFTW
 * executions: filling the buffer from a colour plane and coding a
 * spectrum into the picture, the coding on every thread. The benchmark
 * times each step on its own. */
#ifndef SPECTRA_STEPS_H
#define SPECTRA_STEPS_H

#include "axes.h"
#include "fast_codes.h"
#include "frame.h"
#include "parallel.h"

#include <fftw3.h>

/* Columns 0 to n - 1 of plane k, rows 0 to rows - 1, into rows of reals
 * `stride` doubles apart, each negated where row plus column is odd: the
 * transform's zero frequency then lands at row rows / 2, column n / 2. On
 * the calling thread alone: filling runs at memory speed, and it is the
 * first touch of the fresh buffer, whose huge pages the kernel made more
 * slowly for two threads at once (a 4096 x 2048 16-bit run took 0.25 s
 * longer in half the runs on the development machine). */
template <typename T>
void fill_real_centred(double* real, int64_t stride, const Samples<const T>& in, int32_t k,
                       int32_t rows, int32_t n, const CoderPath* path = nullptr) {
    const FillProc<T> fill = procs_for<T>(path ? *path : coder_for_this_machine()).fill;
    for (int32_t y = 0; y < rows; y++) {
        double* row = real + y * stride;
        const T* s = &in.at(0, y, k);
        const int64_t planes = in.planes;
        if (fill) {
            fill(s, planes, n, y & 1, row);
            continue;
        }
        for (int32_t x = 0; x < n; x++) {
            double v = s[x * planes];
            row[x] = (x + y) & 1 ? -v : v;
        }
    }
}

/* Codes rows x n coefficients into plane k: magnitudes in columns 0 to
 * n - 1, phases in columns n to 2n - 1. Returns how many coefficients took
 * the exact formula. */
template <typename T>
int64_t code_halves(const fftw_complex* spectrum, const Samples<T>& out, int32_t k, int32_t rows,
                    int32_t n, double D, const CoderPath* path = nullptr) {
    return over_rows(rows, n, [&](int32_t first, int32_t end) {
        int64_t exact = 0;
        for (int32_t y = first; y < end; y++)
            exact += write_coefficients<T>(spectrum + int64_t(y) * n, n, D, &out.at(0, y, k),
                                           &out.at(n, y, k), out.planes, path);
        return exact;
    });
}

/* Codes rows x n coefficients of a real plane's transform into plane k, as
 * code_halves() does, from the columns 0 to m - 1 that were computed
 * (m = n / 2 + 1, rows m values apart). Each of the others is the complex
 * conjugate of a computed one at minus its indices, in `mirror`: the same
 * spectrum for a plane, or the volume's plane at minus its colour frequency.
 * It is coded from that conjugate like any other coefficient, so its phase
 * code is that of its own angle, with its own rounding: the code of -theta
 * is not always white minus the code of theta. */
template <typename T>
int64_t code_mirrored_halves(const fftw_complex* spectrum, const fftw_complex* mirror,
                             const Samples<T>& out, int32_t k, int32_t rows, int32_t n, double D,
                             const CoderPath* path = nullptr) {
    const int32_t m = n / 2 + 1;
    return over_rows(rows, n, [&](int32_t first, int32_t end) {
        int64_t exact = 0;
        const int32_t block = 512;
        fftw_complex conjugates[block];
        for (int32_t y = first; y < end; y++) {
            exact += write_coefficients<T>(spectrum + int64_t(y) * m, m, D, &out.at(0, y, k),
                                           &out.at(n, y, k), out.planes, path);
            const fftw_complex* other = mirror + int64_t((rows - y) % rows) * m;
            for (int32_t u = m; u < n; u += block) {
                const int32_t count = n - u < block ? n - u : block;
                for (int32_t j = 0; j < count; j++) {
                    conjugates[j][0] = other[n - u - j][0];
                    conjugates[j][1] = -other[n - u - j][1];
                }
                exact += write_coefficients<T>(conjugates, count, D, &out.at(u, y, k),
                                               &out.at(n + u, y, k), out.planes, path);
            }
        }
        return exact;
    });
}

#endif

/* steps.h - the steps that the transform bodies share around their FFTW
 * executions: filling the complex buffer from a colour plane and coding a
 * spectrum into the picture, the coding on every thread. The benchmark
 * times each step on its own. */
#ifndef SPECTRA_STEPS_H
#define SPECTRA_STEPS_H

#include "axes.h"
#include "fast_codes.h"
#include "frame.h"
#include "parallel.h"

#include <fftw3.h>

/* Columns 0 to n - 1 of plane k, rows 0 to rows - 1, into rows x n complex
 * values, each negated where row plus column is odd: the transform's zero
 * frequency then lands at row rows / 2, column n / 2. On the calling thread
 * alone: filling runs at memory speed, and it is the first touch of the
 * fresh buffer, whose huge pages the kernel made more slowly for two
 * threads at once (a 4096 x 2048 16-bit run took 0.25 s longer in half the
 * runs on the development machine). */
template <typename T>
void fill_centred(fftw_complex* buffer, const Samples<const T>& in, int32_t k, int32_t rows,
                  int32_t n, const CoderPath* path = nullptr) {
    const FillProc<T> fill = procs_for<T>(path ? *path : coder_for_this_machine()).fill;
    for (int32_t y = 0; y < rows; y++) {
        fftw_complex* row = buffer + int64_t(y) * n;
        const T* s = &in.at(0, y, k);
        const int32_t planes = in.planes;
        if (fill) {
            fill(s, planes, n, y & 1, &row[0][0]);
            continue;
        }
        for (int32_t x = 0; x < n; x++) {
            double v = s[int64_t(x) * planes];
            row[x][0] = (x + y) & 1 ? -v : v;
            row[x][1] = 0;
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

#endif

/* row.cpp - SpectraRow's body: the 1-D spectrum of every row of every colour
 * plane, on its own.
 *
 * A row of W samples is transformed over its first N = W - 2 columns (the
 * last two take no part) by a real-to-complex transform, which yields the
 * n = N / 2 + 1 frequencies from 0 to N / 2. The row then holds their
 * magnitude codes in columns 0 to n - 1 and their phase codes in columns n
 * to 2n - 1; an odd width leaves one column, which is set to 0. No centring
 * sign is applied. One plan and one pair of buffers serve all rows. */
#include "fast_codes.h"
#include "frame.h"

#include <fftw3.h>

namespace {

/* One row's transform: n complex values out (obtained first), N reals in. */
int row_work_buffers(int32_t, int32_t columns, uint64_t bytes[]) {
    int32_t N = columns - 2;
    if (N < 1) return 0;
    bytes[0] = sizeof(fftw_complex) * uint64_t(N / 2 + 1);
    bytes[1] = sizeof(double) * uint64_t(N);
    return 2;
}

template <typename T> int16_t row(const Image<T>& image, void* const work[]) {
    fftw_complex* spectrum = static_cast<fftw_complex*>(work[0]);
    double* real = static_cast<double*>(work[1]);
    int32_t W = image.columns, N = W - 2, n = N / 2 + 1;
    double D = magnitude_divisor<T>(double(N));

    fftw_plan plan =
        spectra_fault() ? nullptr : fftw_plan_dft_r2c_1d(N, real, spectrum, FFTW_ESTIMATE);
    if (!plan) return memFullErr;
    for (int32_t p = 0; p < 3; p++)
        for (int32_t y = 0; y < image.rows; y++) {
            for (int32_t k = 0; k < N; k++) real[k] = image.in.at(k, y, p);
            fftw_execute(plan);
            write_coefficients<T>(spectrum, n, D, &image.out.at(0, y, p), &image.out.at(n, y, p),
                                  image.out.planes);
            for (int32_t x = 2 * n; x < W; x++) image.out.at(x, y, p) = 0;
        }
    fftw_destroy_plan(plan);
    return noErr;
}

/* Every column: magnitudes, phases and the 0 of an odd width. */
int32_t every_column(int32_t columns, int32_t) {
    return columns;
}

} // namespace

const TransformBody spectra_transform_body = {row_work_buffers, every_column, SPECTRA_RUNS(row), false};

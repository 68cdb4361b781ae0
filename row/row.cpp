/* row.cpp - SpectraRow's body: the 1-D spectrum of every row of every colour
 * plane, on its own.
 *
 * A row of W samples is transformed over its first N = W - 2 columns (the
 * last two take no part) by a real-to-complex transform, which yields the
 * n = N / 2 + 1 frequencies from 0 to N / 2. The row then holds their
 * magnitude codes in columns 0 to n - 1 and their phase codes in columns n
 * to 2n - 1; an odd width leaves one column, which is set to 0. No centring
 * sign is applied. */
#include "fast_codes.h"
#include "frame.h"
#include "parallel.h"

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

/* The rows of every colour plane, spread over the machine's threads. Each
 * thread has a plan for one thread and a pair of row buffers: a row's
 * transform is too short for FFTW to spread over threads with a gain, and
 * on the development machine a plan for two threads took 2.4 times as long
 * per row as two threads that each transform rows on their own. The first
 * thread uses the frame's buffers; the others share one allocation. */
template <typename T> int16_t row(const Image<T>& image, void* const work[]) {
    const int32_t W = image.columns, N = W - 2, n = N / 2 + 1, rows = image.rows;
    const double D = magnitude_divisor<T>(double(N));
    /* each at a multiple of 64 bytes, so that the plan runs on every pair */
    const int64_t spectrum_bytes = (int64_t(sizeof(fftw_complex)) * n + 63) / 64 * 64,
                  real_bytes = (int64_t(sizeof(double)) * N + 63) / 64 * 64;

    const int64_t parts = threads_for(int64_t(rows) * N / least_per_thread);
    const int64_t pair_bytes = spectrum_bytes + real_bytes; /* the spectrum first */
    char* others = nullptr;
    if (parts > 1 && (spectra_fault() || !(others = static_cast<char*>(
                                               fftw_malloc(size_t(pair_bytes * (parts - 1)))))))
        return memFullErr;

    fftw_complex* spectrum = static_cast<fftw_complex*>(work[0]);
    double* real = static_cast<double*>(work[1]);
    const int threads = fftw_planner_nthreads();
    fftw_plan_with_nthreads(1);
    fftw_plan plan =
        spectra_fault() ? nullptr : fftw_plan_dft_r2c_1d(N, real, spectrum, FFTW_ESTIMATE);
    fftw_plan_with_nthreads(threads);
    if (!plan) {
        fftw_free(others);
        return memFullErr;
    }

    /* a plane at a time, so that progress and the request to stop are
     * heard between planes, on the host's thread */
    Progress& progress = *image.progress;
    progress.total = 3;
    for (int32_t p = 0; p < 3; p++) {
        over_rows(int32_t(parts), least_per_thread, [&](int32_t first, int32_t end) {
            for (int32_t part = first; part < end; part++) {
                fftw_complex* X = spectrum;
                double* x = real;
                if (part > 0) {
                    X = reinterpret_cast<fftw_complex*>(others + pair_bytes * (part - 1));
                    x = reinterpret_cast<double*>(reinterpret_cast<char*>(X) + spectrum_bytes);
                }
                for (int32_t y = int32_t(rows * part / parts);
                     y < int32_t(rows * (part + 1) / parts); y++) {
                    for (int32_t k = 0; k < N; k++) x[k] = image.in.at(k, y, p);
                    fftw_execute_dft_r2c(plan, x, X);
                    write_coefficients<T>(X, n, D, &image.out.at(0, y, p), &image.out.at(n, y, p),
                                          image.out.planes);
                    for (int32_t c = 2 * n; c < W; c++) image.out.at(c, y, p) = 0;
                }
            }
            return int64_t(0);
        });
        if (progress.cancelled_after(1)) {
            fftw_destroy_plan(plan);
            fftw_free(others);
            return userCanceledErr;
        }
    }
    fftw_destroy_plan(plan);
    fftw_free(others);
    return noErr;
}

/* Every column: magnitudes, phases and the 0 of an odd width. */
int32_t every_column(int32_t columns, int32_t) {
    return columns;
}

} // namespace

const TransformBody spectra_transform_body = {row_work_buffers, every_column, SPECTRA_RUNS(row),
                                              false};

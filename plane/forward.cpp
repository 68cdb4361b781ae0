/* forward.cpp - SpectraPlane's body: the centred 2-D spectrum of the left half
 * of each colour plane, log-magnitude written left and phase right.
 *
 * Each sample is negated where row plus column is odd before the transform,
 * which moves the zero frequency from the corner to row H / 2, column n / 2.
 * The plane is real, so the transform computes half its frequencies, in
 * place in the work buffer: each row of n reals padded to n / 2 + 1 complex
 * values. The other half are their mirror images. */
#include "planar.h"
#include "steps.h"

namespace {

template <typename T> int16_t forward(const Image<T>& image, void* const work[]) {
    fftw_complex* buffer = static_cast<fftw_complex*>(work[0]);
    double* real = reinterpret_cast<double*>(buffer);
    int32_t H = image.rows, n = image.columns / 2, m = n / 2 + 1;
    double D = magnitude_divisor<T>(double(H * n));

    Progress& progress = *image.progress;
    progress.total = 3 * planar_steps;
    for (int32_t k = 0; k < 3; k++) {
        fill_real_centred<T>(real, 2 * int64_t(m), image.in, k, H, n);
        if (progress.cancelled_after(1)) return userCanceledErr;
        const int32_t dims[] = {H, n};
        if (int16_t error = transform_real_axes(real, 2 * int64_t(m), buffer, dims, 2))
            return error;
        if (progress.cancelled_after(2)) return userCanceledErr;
        code_mirrored_halves<T>(buffer, buffer, image.out, k, H, n, D);
        if (progress.cancelled_after(1)) return userCanceledErr;
    }
    return noErr;
}

} // namespace

const TransformBody spectra_transform_body = {planar_work_buffers, both_halves,
                                              SPECTRA_RUNS(forward), false};

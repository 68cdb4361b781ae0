/* volume.cpp - SpectraVolume's body: one 3-D transform over the colour
 * planes, rows and columns of the image's left half.
 *
 * The three planes of the left half form a volume of 3 x rows x n values,
 * plane slowest and column fastest, which is FFTW's row-major order for a
 * transform of dimensions (3, rows, n). The centring sign depends on row and
 * column only, so the zero colour frequency stays in plane 0 while the zero
 * spatial frequency moves to row rows / 2, column n / 2. Plane p of the
 * picture then holds colour frequency p. */
#include "frame.h"
#include "steps.h"

#include <fftw3.h>

namespace {

/* One buffer of 3 x rows x m = n / 2 + 1 complex values. The volume is
 * real, so half its frequencies are the mirror images of the other half,
 * and it is transformed in place: its rows of n reals, each padded to 2m,
 * become rows of m values. Out of place, FFTW's estimated plans for odd
 * rows were 2.6 times as slow (n = 2049). */
int volume_work_buffers(int32_t rows, int32_t columns, uint64_t bytes[]) {
    int32_t n = columns / 2;
    if (n < 1) return 0;
    bytes[0] = sizeof(fftw_complex) * 3 * uint64_t(rows) * uint64_t(n / 2 + 1);
    return 1;
}

template <typename T> int16_t volume(const Image<T>& image, void* const work[]) {
    fftw_complex* spectrum = static_cast<fftw_complex*>(work[0]);
    double* in = reinterpret_cast<double*>(spectrum);
    int32_t rows = image.rows, n = image.columns / 2, m = n / 2 + 1;
    double D = magnitude_divisor<T>(double(3 * rows * n));

    /* progress: each plane's filling and coding, and the transform as six */
    Progress& progress = *image.progress;
    progress.total = 12;
    for (int32_t p = 0; p < 3; p++) {
        fill_real_centred<T>(in + int64_t(p) * rows * 2 * m, 2 * m, image.in, p, rows, n);
        if (progress.cancelled_after(1)) return userCanceledErr;
    }
    const int32_t dims[] = {3, rows, n};
    if (int16_t error = transform_real_axes(in, 2 * m, spectrum, dims, 3)) return error;
    if (progress.cancelled_after(6)) return userCanceledErr;

    /* plane p's mirror images lie in the plane of colour frequency -p */
    for (int32_t p = 0; p < 3; p++) {
        code_mirrored_halves<T>(spectrum + int64_t(p) * rows * m,
                                spectrum + int64_t((3 - p) % 3) * rows * m, image.out, p, rows, n,
                                D);
        if (progress.cancelled_after(1)) return userCanceledErr;
    }
    return noErr;
}

} // namespace

const TransformBody spectra_transform_body = {volume_work_buffers, both_halves,
                                              SPECTRA_RUNS(volume), false};

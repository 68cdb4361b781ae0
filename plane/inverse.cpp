/* inverse.cpp - SpectraPlaneInverse's body: turns a planar spectrum picture
 * back into an image.
 *
 * Each plane's coefficients are decoded from its magnitude and phase halves,
 * transformed back, and the modulus of the normalised result is written into
 * the left half (planar.h). */
#include "planar.h"
#include "steps.h"

namespace {

template <typename T> int16_t inverse(const Image<T>& image, void* const work[]) {
    fftw_complex* buffer = static_cast<fftw_complex*>(work[0]);
    int32_t H = image.rows, n = image.columns / 2;
    double N = double(H * n);
    /* the 8- and 16-bit tables are an allocation, which the fault hook may
     * fail; 32-bit samples have none */
    const CoefficientReader<T> reader(magnitude_divisor<T>(N),
                                      std::is_same<T, float>::value || !spectra_fault());

    Progress& progress = *image.progress;
    progress.total = 3 * planar_steps;
    for (int32_t k = 0; k < 3; k++) {
        read_halves<T>(buffer, image.in, k, H, n, reader);
        if (progress.cancelled_after(1)) return userCanceledErr;
        const int32_t dims[] = {H, n};
        if (int16_t error = transform_axes(buffer, buffer, dims, 2, FFTW_BACKWARD)) return error;
        if (progress.cancelled_after(2)) return userCanceledErr;
        write_modulus<T>(buffer, image.out, k, H, n);
        if (progress.cancelled_after(1)) return userCanceledErr;
    }
    return noErr;
}

/* The left half; at 32 bits the cleared phase half too. */
int32_t written_columns(int32_t columns, int32_t depth) {
    return depth == 32 ? both_halves(columns, depth) : columns / 2;
}

} // namespace

const TransformBody spectra_transform_body = {planar_work_buffers, written_columns,
                                              SPECTRA_RUNS(inverse), false};

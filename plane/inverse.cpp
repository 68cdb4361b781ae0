/* inverse.cpp - SpectraPlaneInverse's body: turns a planar spectrum picture
 * back into an image.
 *
 * Each plane's coefficients are decoded from its magnitude and phase halves,
 * transformed back, and the modulus of the normalised result is written into
 * the left half. The modulus also removes the centring sign that the forward
 * transform applied, so no sign is applied here. */
#include "codes.h"
#include "planar.h"

namespace {

template <typename T> int16_t inverse(const Image<T>& image, void* const work[]) {
    fftw_complex* buffer = static_cast<fftw_complex*>(work[0]);
    int32_t H = image.rows, n = image.columns / 2;
    double N = double(H * n);
    const CoefficientReader<T> reader(magnitude_divisor<T>(N));

    for (int32_t k = 0; k < 3; k++) {
        for (int32_t y = 0; y < H; y++) {
            fftw_complex* row = buffer + int64_t(y) * n;
            for (int32_t x = 0; x < n; x++)
                reader.read(image.in.at(x, y, k), &image.in.at(x + n, y, k), &row[x][0],
                            &row[x][1]);
        }

        fftw_plan plan = spectra_fault()
                             ? nullptr
                             : fftw_plan_dft_2d(H, n, buffer, buffer, FFTW_BACKWARD, FFTW_ESTIMATE);
        if (!plan) return memFullErr;
        fftw_execute(plan);
        fftw_destroy_plan(plan);

        for (int32_t y = 0; y < H; y++) {
            const fftw_complex* row = buffer + int64_t(y) * n;
            for (int32_t x = 0; x < n; x++) {
                double re = row[x][0] / N, im = row[x][1] / N;
                image.out.at(x, y, k) = to_sample<T>(std::sqrt(im * im + re * re));
                /* At 32 bits the phase half carries no image: it is cleared.
                 * At 8 and 16 bits it keeps the input's samples. */
                if (Depth<T>::white == 1.0) image.out.at(x + n, y, k) = 0;
            }
        }
    }
    return noErr;
}

/* The left half; at 32 bits the cleared phase half too. */
int32_t written_columns(int32_t columns, int32_t depth) {
    return depth == 32 ? both_halves(columns, depth) : columns / 2;
}

} // namespace

const TransformBody spectra_transform_body = {planar_work_buffers, written_columns,
                                              SPECTRA_RUNS(inverse)};

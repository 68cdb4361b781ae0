/* planar.h - the geometry shared by the forward and inverse planar bodies.
 *
 * A planar spectrum picture holds, for each colour plane, the transform of
 * the image's left half: H rows by n = columns / 2 columns, magnitudes in
 * columns 0 to n - 1 and phases in columns n to 2n - 1. Both bodies work in
 * one complex buffer, in place, reused for the three planes. */
#ifndef SPECTRA_PLANAR_H
#define SPECTRA_PLANAR_H

#include "codes.h"
#include "fast_codes.h"
#include "frame.h"
#include "parallel.h"

#include <cmath>
#include <fftw3.h>
#include <type_traits>

/* The steps of a plane's work that progress counts: its filling (the
 * inverse: reading), its transform, which counts twice, and its coding (the
 * inverse: writing). */
const int32_t planar_steps = 4;

/* One complex buffer of (rows + 4) x (n + 4) + 4 values; the first rows x n
 * hold the transform, row-major. An image narrower than two columns has an
 * empty half and nothing to transform. */
inline int planar_work_buffers(int32_t rows, int32_t columns, uint64_t bytes[]) {
    int32_t n = columns / 2;
    if (n < 1) return 0;
    bytes[0] = sizeof(fftw_complex) * ((uint64_t(rows) + 4) * (uint64_t(n) + 4) + 4);
    return 1;
}

/* The inverse's first step: the coefficients coded in plane k's halves. At
 * 32 bits a vector reader, where the path has one, reads all but a few,
 * within two double ulps of the plain reader's values. */
template <typename T>
void read_halves(fftw_complex* buffer, const Samples<const T>& in, int32_t k, int32_t rows,
                 int32_t n, const CoefficientReader<T>& reader, const CoderPath* path = nullptr) {
    const ReadProc vector_read =
        std::is_same<T, float>::value ? (path ? *path : coder_for_this_machine()).read32 : nullptr;
    over_rows(rows, n, [&](int32_t first, int32_t end) {
        for (int32_t y = first; y < end; y++) {
            fftw_complex* row = buffer + int64_t(y) * n;
            if (!vector_read) {
                for (int32_t x = 0; x < n; x++)
                    reader.read(in.at(x, y, k), &in.at(x + n, y, k), &row[x][0], &row[x][1]);
                continue;
            }
            const int32_t block = 1024;
            int32_t redo[block];
            for (int32_t start = 0; start < n; start += block) {
                int32_t len = n - start < block ? n - start : block;
                int r = vector_read(reinterpret_cast<const float*>(&in.at(start, y, k)),
                                    reinterpret_cast<const float*>(&in.at(start + n, y, k)),
                                    in.planes, len, reader.divisor(), &row[start][0], redo);
                for (int j = 0; j < r; j++) {
                    int32_t x = start + redo[j];
                    reader.read(in.at(x, y, k), &in.at(x + n, y, k), &row[x][0], &row[x][1]);
                }
            }
        }
        return int64_t(0);
    });
}

/* The inverse's last step: the modulus of each value divided by N into plane
 * k's left half. The modulus also removes the centring sign that the forward
 * transform applied. At 32 bits the phase half carries no image and is
 * cleared; at 8 and 16 bits it keeps the input's samples. */
template <typename T>
void write_modulus(const fftw_complex* buffer, const Samples<T>& out, int32_t k, int32_t rows,
                   int32_t n, const CoderPath* path = nullptr) {
    const double N = double(rows) * double(n);
    const ModulusProc<T> modulus = procs_for<T>(path ? *path : coder_for_this_machine()).modulus;
    over_rows(rows, n, [&](int32_t first, int32_t end) {
        for (int32_t y = first; y < end; y++) {
            const fftw_complex* row = buffer + int64_t(y) * n;
            if (modulus) {
                modulus(&row[0][0], n, N, &out.at(0, y, k), out.planes);
            } else {
                for (int32_t x = 0; x < n; x++) {
                    double re = row[x][0] / N, im = row[x][1] / N;
                    out.at(x, y, k) = to_sample<T>(std::sqrt(im * im + re * re));
                }
            }
            if (Depth<T>::white == 1.0)
                for (int32_t x = 0; x < n; x++) out.at(x + n, y, k) = 0;
        }
        return int64_t(0);
    });
}

#endif

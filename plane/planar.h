/* planar.h - the geometry shared by the forward and inverse planar bodies.
 *
 * A planar spectrum picture holds, for each colour plane, the transform of
 * the image's left half: H rows by n = columns / 2 columns, magnitudes in
 * columns 0 to n - 1 and phases in columns n to 2n - 1. Both bodies work in
 * one complex buffer, in place, reused for the three planes. */
#ifndef SPECTRA_PLANAR_H
#define SPECTRA_PLANAR_H

#include "frame.h"

#include <fftw3.h>

/* One complex buffer of (rows + 4) x (n + 4) + 4 values; the first rows x n
 * hold the transform, row-major. An image narrower than two columns has an
 * empty half and nothing to transform. */
inline int planar_work_buffers(int32_t rows, int32_t columns, uint64_t bytes[]) {
    int32_t n = columns / 2;
    if (n < 1) return 0;
    bytes[0] = sizeof(fftw_complex) * ((uint64_t(rows) + 4) * (uint64_t(n) + 4) + 4);
    return 1;
}

#endif

/* axes.h - the unnormalised complex DFT of a row-major array, made of
 * one-dimensional transforms, one axis at a time.
 *
 * FFTW_ESTIMATE's plan for a whole 2-D or 3-D transform walks the outer
 * axes at the stride of a row, which at power-of-two sizes lands every
 * access in the same few cache sets: a 1024 x 1024 transform took 91 ms on
 * the development machine, against 9 ms for a measured plan. Planned axis
 * by axis, with the outer axes' columns gathered a few at a time into a
 * small contiguous block, the same flag gives plans close to measured ones
 * in speed, with no planning time and the same plan, and so the same
 * samples, on every run. */
#ifndef SPECTRA_AXES_H
#define SPECTRA_AXES_H

#include <cstdint>
#include <fftw3.h>

/* The DFT with `sign` over every axis of dims[0] x ... x dims[rank - 1]
 * values (rank 3 at most, the last axis contiguous), from `in` into `out`
 * (the same array or another). noErr, or memFullErr when FFTW makes no
 * plan or the gathering block cannot be had. */
int16_t transform_axes(fftw_complex* in, fftw_complex* out, const int32_t dims[], int rank,
                       int sign);

/* The forward DFT of real values: dims[0] x ... x dims[rank - 1] reals at
 * `in`, rows along the last axis `in_row` doubles apart, into their
 * frequencies 0 to m - 1 along the last axis, m = dims[rank - 1] / 2 + 1,
 * and all frequencies along the others, at `out` (rows m values apart).
 * The frequencies left out are the complex conjugates of those given, at
 * minus their indices. `in` may be `out` seen as doubles, with in_row = 2m.
 * noErr or memFullErr, as transform_axes(). */
int16_t transform_real_axes(double* in, int64_t in_row, fftw_complex* out, const int32_t dims[],
                            int rank);

/* Its inverse, unnormalised: the half spectrum at `in`, laid out as
 * transform_real_axes() gives it, back to dims[0] x ... x dims[rank - 1]
 * reals at `out`, rows `out_row` doubles apart. `in` is overwritten; `out`
 * may be `in` seen as doubles, with out_row = 2m. noErr or memFullErr. */
int16_t transform_real_axes_back(fftw_complex* in, double* out, int64_t out_row,
                                 const int32_t dims[], int rank);

#endif

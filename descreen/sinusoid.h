/* sinusoid.h - stripes laid over a picture, measured as sinusoids and
 * subtracted. */
#ifndef SPECTRA_DESCREEN_SINUSOID_H
#define SPECTRA_DESCREEN_SINUSOID_H

#include <cstdint>

/* re cos(2 pi (fx x + fy y)) - im sin(2 pi (fx x + fy y)), frequencies in
 * cycles per pixel. */
struct Sinusoid {
    double fy, fx, re, im;
};

/* Doubles of work space that fitting in an H x W plane needs. */
int64_t sinusoid_work(int32_t H, int32_t W);

/* The sinusoid of the plane (H rows of W values, `stride` apart) whose
 * frequency is the nearest to (fy, fx) at which the plane's transform
 * peaks. */
Sinusoid fit_sinusoid(const double* plane, int32_t H, int32_t W, int32_t stride, double fy,
                      double fx, double* work);

/* Sinusoids along one axis at the harmonics of a whole number of pixels P
 * are a comb: lines every P rows or columns, as a scanner's sensor leaves,
 * which also darken or lighten the picture as a whole. Subtracted, they
 * take that out too if the rows of the most common level, where most rows
 * are, are left as they were. Returns the level to add back to the plane. */
double comb_level(const Sinusoid* z, int n, int32_t H, int32_t W);

void subtract_sinusoid(double* plane, int32_t H, int32_t W, int32_t stride, const Sinusoid& z,
                       double* work);

#endif

/* sinusoid.h - stripes laid over a picture, measured as sinusoids and
 * subtracted. */
#ifndef SPECTRA_DESCREEN_SINUSOID_H
#define SPECTRA_DESCREEN_SINUSOID_H

#include <cstdint>

/* re cos(2 pi (fx x + fy y)) - im sin(2 pi (fx x + fy y)), frequencies in
 * cycles per pixel; where the pattern follows the picture, its amplitude
 * also grows by (follow_re, follow_im) for each unit of the picture's local
 * level above its mean. */
struct Sinusoid {
    double fy, fx, re, im;
    double follow_re, follow_im;
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

/* The longest period, in pixels, whose pattern the local level leaves out. */
const int32_t level_period = 33;

/* The plane's local level, less its mean under the fit's window, into
 * `level` (H x W floats): its mean over a box a period or more wide, taken
 * three times along the rows and down the columns, which holds too little
 * of a pattern of that period or finer to matter. False when the plane is
 * too small for the box. `work` holds sinusoid_work doubles, as below. */
bool local_level(const double* plane, int32_t H, int32_t W, int32_t stride, double period,
                 float* level, double* work);

/* z's follow_re and follow_im, measured in the plane against its level. */
void fit_follow(const double* plane, int32_t H, int32_t W, int32_t stride, const float* level,
                Sinusoid* z, double* work);

/* z subtracted from the plane; `level` is null when z does not follow it. */
void subtract_sinusoid(double* plane, int32_t H, int32_t W, int32_t stride, const Sinusoid& z,
                       const float* level, double* work);

#endif

/* approx.h - fast approximations for the coefficient coder (approx.cpp). */
#ifndef SPECTRA_APPROX_H
#define SPECTRA_APPROX_H

/* How ln |X|^2 and arg X become the samples of a depth. */
struct CodeScale {
    double c;      /* L = ln |X|^2 * c: 1 / (2 ln 10 D) */
    double K;      /* P = arg X * K + half: degrees per radian times white / 360 */
    double half;   /* white / 2 */
    double white;  /* 255, 32768, or 1 */
    bool integers; /* 8 or 16 bits: rounded codes; otherwise single-precision values */
};

/* For `count` coefficients (a multiple of 4; X holds real and imaginary
 * parts in turn) the magnitude and phase samples, as doubles: the rounded
 * codes at 8 and 16 bits, the values to narrow to single precision at 32.
 * A magnitude of NaN means that the coefficient needs the exact formula. */
typedef void (*ApproximateProc)(const double* X, int count, const CodeScale& scale,
                                double* magnitude, double* phase);

void approximate_baseline(const double* X, int count, const CodeScale& scale, double* magnitude,
                          double* phase);
void approximate_avx2(const double* X, int count, const CodeScale& scale, double* magnitude,
                      double* phase);

/* The best of the two for this processor. */
ApproximateProc approximate_for_this_machine();

#endif

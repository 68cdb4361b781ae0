/* coder_kernel.h - the coefficient coder's portable vector path, in GCC's
 * vector types for any number of lanes, compiled by coder_portable.cpp for the
 * baseline instruction set. The AVX2 and AVX-512 paths write the same
 * approximations with their instruction sets' own operations
 * (vector_math.h).
 *
 * The approximations need not be correctly rounded, only within their error
 * bounds. Wherever a sample's value lies closer to a rounding boundary than
 * the bound allows, or outside the range where the bounds hold, the lane is
 * handed back and the exact formula decides. So every path writes the same
 * samples, and those of the exact formula.
 *
 * ln q, q = |X|^2 = 2^e f: f is folded into [sqrt(1/2), sqrt(2)) and
 * ln f = 2 atanh(s) with s = (f - 1) / (f + 1), |s| < 0.1716, whose series to
 * s^11 leaves a remainder below 1.8e-11.
 *
 * arg X: t = min / max of |re| and |im| in [0, 1] falls in one of three
 * sectors around 0, pi/8 and pi/4; with c the tangent of the sector's angle,
 * atan t = atan c + atan u where u = (min - c max) / (max + c min) lies within
 * tan(pi/16) < 0.2, so the series of atan u to u^13 leaves a remainder below
 * 2.1e-12. One division for each.
 *
 * The series are no longer than the codes need: an error of 10^-11 in ln q
 * moves a 32-bit sample by a small part of a float's step. Of the tests'
 * random coefficients 6 in 10^4 then take the exact formula (8 in 10^6 with
 * series to s^17 and u^21), which costs less than the terms saved. */
#include "coder.h"

#include <cstdint>
#include <cstring>

namespace {

const int W = SPECTRA_LANES;
typedef double vd __attribute__((vector_size(8 * W)));
typedef long long vl __attribute__((vector_size(8 * W)));
typedef int vi __attribute__((vector_size(4 * W)));
typedef float vf __attribute__((vector_size(4 * W)));

inline vd splat(double x) {
    vd v;
    for (int k = 0; k < W; k++) v[k] = x;
    return v;
}

inline vd abs_of(vd v) {
    return (vd)((vl)v & ~(vl)splat(-0.0));
}

inline vd select(vl mask, vd a, vd b) {
    return (vd)(((vl)a & mask) | ((vl)b & ~mask));
}

inline bool all_of(vl mask) {
    long long all = -1;
    for (int k = 0; k < W; k++) all &= mask[k];
    return all != 0;
}

/* The real and imaginary parts of W coefficients. */
inline void load(const double* X, vd* re, vd* im) {
    vd lo, hi;
    std::memcpy(&lo, X, sizeof lo);
    std::memcpy(&hi, X + W, sizeof hi);
    *re = *im = lo; /* every lane is set below; this tells the compiler so */
    for (int k = 0; k < W / 2; k++) {
        (*re)[k] = lo[2 * k];
        (*im)[k] = lo[2 * k + 1];
        (*re)[k + W / 2] = hi[2 * k];
        (*im)[k + W / 2] = hi[2 * k + 1];
    }
}

/* ln q for q in [2^-1000, 2^1000]. */
inline vd ln_of(vd q) {
    vl bits = (vl)q;
    vl e = ((bits >> 52) & 0x7ff) - 1023;
    vd f = (vd)((bits & 0xfffffffffffffLL) | 0x3ff0000000000000LL);
    vl big = f >= 1.4142135623730951;
    f = select(big, f * 0.5, f);
    e -= big; /* big is -1 where true */
    vd x = f - 1.0, s = x / (x + 2.0), s2 = s * s;
    vd p = splat(1.0 / 11);
    p = p * s2 + 1.0 / 9;
    p = p * s2 + 1.0 / 7;
    p = p * s2 + 1.0 / 5;
    p = p * s2 + 1.0 / 3;
    vd ln_f = 2.0 * s + (2.0 * s) * (s2 * p);
    vd ed = __builtin_convertvector(__builtin_convertvector(e, vi), vd);
    /* ln 2 in two parts, the first exact in products with any exponent */
    return ed * 0.693147180369123816490 + (ln_f + ed * 1.90821492927058770002e-10);
}

/* arg(x + i y) for x + i y != 0. */
inline vd arg_of(vd y, vd x) {
    const double pi = 3.14159265358979323846;
    const double tan_pi_8 = 0.41421356237309503;      /* the double nearest tan(pi/8) */
    const double atan_tan_pi_8 = 0.39269908169872414; /* atan of that double */
    vd ax = abs_of(x), ay = abs_of(y);
    vl swap = ay > ax;
    vd num = select(swap, ax, ay), den = select(swap, ay, ax);
    vl middle = num > 0.19891236737965800 * den, top = num > 0.66817863791929891 * den;
    vd c = select(top, splat(1.0), select(middle, splat(tan_pi_8), splat(0.0)));
    vd base = select(top, splat(pi / 4), select(middle, splat(atan_tan_pi_8), splat(0.0)));
    vd u = (num - c * den) / (den + c * num), u2 = u * u;
    vd p = splat(-1.0 / 13);
    p = p * u2 + 1.0 / 11;
    p = p * u2 - 1.0 / 9;
    p = p * u2 + 1.0 / 7;
    p = p * u2 - 1.0 / 5;
    p = p * u2 + 1.0 / 3;
    vd r = base + (u - u * u2 * p);
    r = select(swap, pi / 2 - r, r);
    r = select(x < 0.0, pi - r, r);
    return (vd)((vl)r | ((vl)y & (vl)splat(-0.0))); /* the sign of im, also of a zero */
}

/* The largest integer not above a, for 0 <= a < 2^51. */
inline vd floor_of(vd a) {
    vd r = (a + 4503599627370496.0) - 4503599627370496.0; /* a rounded to an integer */
    return select(r > a, r - 1.0, r);
}

/* |v| + 0.5 rounded down and saturated at white; `safe` is cleared in the
 * lanes that lie within err of a rounding boundary. */
inline vd integer_code(vd v, vd err, double white, vl* safe) {
    vd a = abs_of(v) + 0.5;
    vd k = floor_of(select(a < white, a, splat(white)));
    vl saturated = a >= white + err;
    *safe &= saturated | ((a - k > err) & (k + 1.0 - a > err));
    return select(saturated, splat(white), k);
}

/* v, whose narrowing to single precision `safe` vouches for: it is cleared
 * in the lanes that lie within err of the midpoint between two floats.
 * Rounding to nearest is monotonic: where v - err and v + err narrow to the
 * same float, so does every value between them. */
inline vd float_code(vd v, vd err, vl* safe) {
    vi low = (vi) __builtin_convertvector(v - err, vf);
    vi high = (vi) __builtin_convertvector(v + err, vf);
    *safe &= __builtin_convertvector(low == high, vl);
    return v;
}

template <typename T> inline void store(T* to, vd v, int len) {
    vi n = __builtin_convertvector(v, vi);
    for (int k = 0; k < len; k++) to[k] = T(n[k]);
}
template <> inline void store<float>(float* to, vd v, int len) {
    vf f = __builtin_convertvector(v, vf);
    for (int k = 0; k < len; k++) to[k] = f[k];
}

template <typename T>
int code(const double* X, int count, const CodeScale& scale, T* magnitude, T* phase,
         int32_t* redo) {
    const bool integers = scale.white != 1.0;
    const double white = scale.white, c = scale.c, K = scale.K, half = scale.half;
    const double margin = scale.margin;
    int redone = 0;
    for (int i = 0; i < count; i += W) {
        int len = count - i < W ? count - i : W;
        vd re, im;
        if (len == W) {
            load(X + 2 * i, &re, &im);
        } else {
            double tail[2 * W];
            for (int k = 0; k < 2 * W; k++) tail[k] = k < 2 * len ? X[2 * i + k] : 1.0;
            load(tail, &re, &im);
        }
        /* This |X|^2 may be fused, unlike the exact formula's: lanes where
         * the two could fall on either side of 1 are left to that formula. */
        vd q = im * im + re * re;
        vl safe = (q >= 0x1p-1000) & (q <= 0x1p1000) & (abs_of(q - 1.0) > 1e-14);
        q = select(safe, q, splat(1.0));
        vd l = ln_of(q), theta = arg_of(im, select(safe, re, splat(1.0)));

        /* The bounds: twice the series' remainders, and some forty times
         * what the roundings of the approximations and of the exact formula,
         * and the library's log10 and atan2, can reach. */
        vd L = l * c, P = theta * K + half;
        vd err_L = ((4e-11 + 4e-14 * abs_of(l)) * c + 1e-13 * abs_of(L)) * margin;
        vd err_P = (5e-12 * K + 1e-13 * abs_of(P)) * margin;
        vd m, p;
        if (integers) {
            /* a magnitude below 1 codes as magnitude 1 does: 0 */
            vl below_one = q < 1.0, magnitude_safe = safe;
            m = integer_code(L, err_L, white, &magnitude_safe);
            m = select(below_one, splat(0.0), m);
            safe = (below_one & safe) | (~below_one & magnitude_safe);
            p = integer_code(P, err_P, white, &safe);
        } else {
            safe &= abs_of(P) > 1e-6;
            m = float_code(L, err_L, &safe);
            p = abs_of(float_code(P, err_P, &safe));
        }
        if (!all_of(safe)) {
            m = select(safe, m, splat(0.0));
            p = select(safe, p, splat(0.0));
            for (int k = 0; k < len; k++)
                if (!safe[k]) redo[redone++] = i + k;
        }
        store(magnitude + i, m, len);
        store(phase + i, p, len);
    }
    return redone;
}

} // namespace

#define SPECTRA_PATH_NAME_(a, b) a##b
#define SPECTRA_PATH_NAME(a, b) SPECTRA_PATH_NAME_(a, b)

/* no vector fill, scatter, writer of moduli or reader: the plain loops */
extern const CoderPath SPECTRA_PATH_NAME(coder_, SPECTRA_PATH) = {
    SPECTRA_PATH_STRING,
    SPECTRA_PATH_RUNS_HERE,
    {code<uint8_t>, nullptr, nullptr, nullptr},
    {code<uint16_t>, nullptr, nullptr, nullptr},
    {code<float>, nullptr, nullptr, nullptr},
    nullptr,
};

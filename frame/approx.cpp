/* approx.cpp - the coefficient coder's fast path: the samples of blocks of
 * coefficients from tightly bounded approximations of ln |X|^2 and arg X,
 * several coefficients at a time.
 *
 * The approximations need not be correctly rounded, only within their error
 * bounds: wherever a sample's value lies closer to a rounding boundary than
 * the bound (times a wide safety factor) allows, or outside the range where
 * the bounds hold, the lane is marked and the exact formula decides
 * (fast_codes.h). So any instruction set gives the same samples. This file is
 * compiled once for the baseline instruction set (two lanes) and, where the
 * build can, once more with AVX2 and FMA (approx_avx2.cpp, four lanes).
 *
 * ln q: q = 2^e f with f in [1, 2); with c the midpoint of f's 1/128th of
 * [1, 2) and g the double nearest 1 / c, ln f = ln(f g) - ln g and
 * r = f g - 1 is below 1/250, so eight terms of the series of ln(1 + r)
 * leave a remainder below 1e-18. The error is below 4e-16 (1 + |ln q|).
 *
 * arg X: t = min / max of |re| and |im| lies in one of eight sectors of
 * [0, pi/4]; with c the tangent of the sector's middle, atan t = atan c +
 * atan u where u = (min - c max) / (max + c min) is below tan(pi/64), so
 * seven terms of the series of atan u leave a remainder below 1e-18. The
 * error is below 1e-15. */
#include "approx.h"

#include <cmath>
#include <cstring>

#ifndef SPECTRA_APPROX
#define SPECTRA_APPROX approximate_baseline
#define SPECTRA_LANES 2
#endif

namespace {

const int W = SPECTRA_LANES;
typedef double vd __attribute__((vector_size(8 * SPECTRA_LANES)));
typedef long long vl __attribute__((vector_size(8 * SPECTRA_LANES)));
typedef float vf __attribute__((vector_size(4 * SPECTRA_LANES)));
typedef int vi __attribute__((vector_size(4 * SPECTRA_LANES)));

inline vd splat(double x) {
    vd v;
    for (int k = 0; k < W; k++) v[k] = x;
    return v;
}

inline vd abs_of(vd v) {
    return (vd)((vl)v & ~(vl)splat(-0.0));
}

/* table[index[k]] in each lane k. (Separate loads: the gather instruction
 * is slower than they are on several processors.) */
inline vd gather(const double* table, vl index) {
#if SPECTRA_LANES == 4
    return vd{table[index[0]], table[index[1]], table[index[2]], table[index[3]]};
#else
    return vd{table[index[0]], table[index[1]]};
#endif
}

/* The real and imaginary parts of W coefficients. */
inline void load(const double* X, vd* re, vd* im) {
    vd lo, hi;
    std::memcpy(&lo, X, sizeof lo);
    std::memcpy(&hi, X + W, sizeof hi);
#if defined(__clang__) && SPECTRA_LANES == 4
    *re = __builtin_shufflevector(lo, hi, 0, 2, 4, 6);
    *im = __builtin_shufflevector(lo, hi, 1, 3, 5, 7);
#elif defined(__clang__)
    *re = __builtin_shufflevector(lo, hi, 0, 2);
    *im = __builtin_shufflevector(lo, hi, 1, 3);
#elif SPECTRA_LANES == 4
    *re = __builtin_shuffle(lo, hi, vl{0, 2, 4, 6});
    *im = __builtin_shuffle(lo, hi, vl{1, 3, 5, 7});
#else
    *re = __builtin_shuffle(lo, hi, vl{0, 2});
    *im = __builtin_shuffle(lo, hi, vl{1, 3});
#endif
}

struct Tables {
    double inverse[128], ln_inverse[128]; /* g and -ln g for each 1/128th of [1, 2) */
    double tangent[8], arc[8];            /* c and atan c for each sector */
    double boundary[8];                   /* tan(k pi / 32): the sectors' lower ends */
    Tables() {
        const long double pi = 3.141592653589793238462643383279502884L;
        for (int i = 0; i < 128; i++) {
            inverse[i] = double(1 / (1 + (i + 0.5L) / 128));
            ln_inverse[i] = double(-std::log((long double)inverse[i]));
        }
        for (int j = 0; j < 8; j++) {
            tangent[j] = double(std::tan((2 * j + 1) * pi / 64));
            arc[j] = double(std::atan((long double)tangent[j]));
            boundary[j] = double(std::tan(j * pi / 32));
        }
    }
};

inline vd ln_of(vd q, const Tables& t) {
    vl bits = (vl)q;
    vd e = __builtin_convertvector(((bits >> 52) & 0x7ff) - 1023, vd);
    vd f = (vd)((bits & 0xfffffffffffffLL) | 0x3ff0000000000000LL);
    vl index = (bits >> 45) & 127;
    vd g = gather(t.inverse, index), ln_g = gather(t.ln_inverse, index);
    vd r = f * g - 1.0;
    vd p = splat(-1.0 / 8);
    p = p * r + 1.0 / 7;
    p = p * r - 1.0 / 6;
    p = p * r + 1.0 / 5;
    p = p * r - 1.0 / 4;
    p = p * r + 1.0 / 3;
    p = p * r - 1.0 / 2;
    p = p * r + 1.0;
    /* ln 2 in two parts, the first exact in products with any exponent */
    return e * 0.693147180369123816490 + (ln_g + r * p + e * 1.90821492927058770002e-10);
}

inline vd arg_of(vd y, vd x, const Tables& t) {
    vd ax = abs_of(x), ay = abs_of(y);
    vl swap = ay > ax;
    vd num = swap ? ax : ay, den = swap ? ay : ax;
    vl sector = (vl)splat(0);
    for (int j = 1; j < 8; j++) sector -= num > t.boundary[j] * den;
    vd c = gather(t.tangent, sector), base = gather(t.arc, sector);
    vd u = (num - c * den) / (den + c * num), u2 = u * u;
    vd p = splat(1.0 / 13);
    p = p * u2 - 1.0 / 11;
    p = p * u2 + 1.0 / 9;
    p = p * u2 - 1.0 / 7;
    p = p * u2 + 1.0 / 5;
    p = p * u2 - 1.0 / 3;
    vd r = base + (u + u * u2 * p);
    r = swap ? (1.57079632679489661923 - r) : r;
    r = x < 0.0 ? (3.14159265358979323846 - r) : r;
    return (vd)((vl)r | ((vl)y & (vl)splat(-0.0))); /* the sign of im, also of a zero */
}

/* The largest integer not above a, for |a| < 2^51. */
inline vd floor_of(vd a) {
    vd r = (a + 4503599627370496.0) - 4503599627370496.0; /* a rounded to an integer */
    return r > a ? r - 1.0 : r;
}

/* |v| + 0.5 rounded down and saturated at white; `safe` clears the lanes that
 * lie within err of a rounding boundary. */
inline vd integer_code(vd v, vd err, double white, vl* safe) {
    vd a = abs_of(v) + 0.5, k = floor_of(a < white ? a : splat(white));
    vl saturated = a >= white + err;
    *safe &= saturated | ((a - k > err) & (k + 1.0 - a > err));
    return saturated ? splat(white) : k;
}

/* v, whose narrowing to single precision `safe` vouches for: it clears the
 * lanes that lie within err of the midpoint between two floats. */
inline vd float_code(vd v, vd err, vl* safe) {
    vd a = abs_of(v);
    vf f = __builtin_convertvector(a, vf);
    vi bits = (vi)f, exponent = bits & 0x7f800000;
    /* half the gap to the next float up, and down (half that at a power of 2) */
    vf up = (vf)(exponent - (24 << 23));
    vf down = (bits & 0x7fffff) == 0 ? up * 0.5f : up;
    vi normal = (exponent > (25 << 23)) & (exponent < 0x7f800000);
    vd d = a - __builtin_convertvector(f, vd);
    vl inside = d >= 0.0 ? (d + err < __builtin_convertvector(up, vd))
                         : (err - d < __builtin_convertvector(down, vd));
    *safe &= inside & __builtin_convertvector(normal, vl);
    return v;
}

} // namespace

void SPECTRA_APPROX(const double* X, int count, const CodeScale& scale, double* magnitude,
                    double* phase) {
    static const Tables tables;
    const vd nan = splat(__builtin_nan(""));
    for (int i = 0; i + W <= count; i += W) {
        vd re, im;
        load(X + 2 * i, &re, &im);
        /* This |X|^2 may be fused, unlike the exact formula's: lanes where
         * the two could fall on either side of 1 are left to that formula. */
        vd q = im * im + re * re;
        vl safe = (q >= 1e-290) & (q <= 1e290) & ((q - 1.0 > 1e-14) | (1.0 - q > 1e-14));
        q = safe ? q : splat(1.0);
        vd l = ln_of(q, tables), theta = arg_of(im, safe ? re : splat(1.0), tables);

        /* The bounds: some forty times what the approximations, the exact
         * formula's roundings and the library's log10 and atan2 can reach. */
        vd L = l * scale.c, P = theta * scale.K + scale.half;
        vd err_L = 4e-14 * (1.0 + abs_of(l)) * scale.c + 1e-13 * abs_of(L);
        vd err_P = 4e-15 * scale.K + 1e-13 * abs_of(P);
        vd m, p;
        if (scale.integers) {
            /* a magnitude below 1 codes as magnitude 1 does: 0 */
            vl below_one = q < 1.0, magnitude_safe = safe;
            m = integer_code(L, err_L, scale.white, &magnitude_safe);
            m = below_one ? splat(0.0) : m;
            safe = below_one ? safe : magnitude_safe;
            p = integer_code(P, err_P, scale.white, &safe);
        } else {
            safe &= abs_of(P) > 1e-6;
            m = float_code(L, err_L, &safe);
            p = abs_of(float_code(P, err_P, &safe));
        }
        m = safe ? m : nan;
        std::memcpy(magnitude + i, &m, sizeof m);
        std::memcpy(phase + i, &p, sizeof p);
    }
}

#if !defined(SPECTRA_APPROX_VARIANT)
ApproximateProc approximate_for_this_machine() {
#if defined(SPECTRA_HAVE_AVX2)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return approximate_avx2;
#endif
    return approximate_baseline;
}
#endif

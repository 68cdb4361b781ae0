/* avx512.h - what the AVX-512 files of the coder share: the operations of
 * both precisions under one name each, and the approximations of ln q and
 * arg X written once over them (see coder_kernel.h for the method). Included
 * by those files alone: compiled for AVX-512 in each, with internal linkage,
 * so no copy can be called on a processor without it. */
#ifndef SPECTRA_AVX512_H
#define SPECTRA_AVX512_H

#include <immintrin.h>

namespace {

typedef __m512d vd; /* eight doubles */
typedef __m512 vf;  /* sixteen floats */

inline vd splat(double x) {
    return _mm512_set1_pd(x);
}
inline vf splat(float x) {
    return _mm512_set1_ps(x);
}

inline vd add(vd a, vd b) {
    return _mm512_add_pd(a, b);
}
inline vf add(vf a, vf b) {
    return _mm512_add_ps(a, b);
}
inline vd sub(vd a, vd b) {
    return _mm512_sub_pd(a, b);
}
inline vf sub(vf a, vf b) {
    return _mm512_sub_ps(a, b);
}
inline vd mul(vd a, vd b) {
    return _mm512_mul_pd(a, b);
}
inline vf mul(vf a, vf b) {
    return _mm512_mul_ps(a, b);
}
inline vd div(vd a, vd b) {
    return _mm512_div_pd(a, b);
}
inline vf div(vf a, vf b) {
    return _mm512_div_ps(a, b);
}
/* a b + c, and c - a b */
inline vd fma(vd a, vd b, vd c) {
    return _mm512_fmadd_pd(a, b, c);
}
inline vf fma(vf a, vf b, vf c) {
    return _mm512_fmadd_ps(a, b, c);
}
inline vd fnma(vd a, vd b, vd c) {
    return _mm512_fnmadd_pd(a, b, c);
}
inline vf fnma(vf a, vf b, vf c) {
    return _mm512_fnmadd_ps(a, b, c);
}
inline vd abs_of(vd a) {
    return _mm512_abs_pd(a);
}
inline vf abs_of(vf a) {
    return _mm512_abs_ps(a);
}
inline vd min_of(vd a, vd b) {
    return _mm512_min_pd(a, b);
}
inline vf min_of(vf a, vf b) {
    return _mm512_min_ps(a, b);
}
inline vd floor_of(vd a) {
    return _mm512_roundscale_pd(a, _MM_FROUND_TO_NEG_INF);
}
inline vf floor_of(vf a) {
    return _mm512_roundscale_ps(a, _MM_FROUND_TO_NEG_INF);
}
/* q = 2^exponent mantissa, the mantissa in [1, 2) */
inline vd exponent_of(vd q) {
    return _mm512_getexp_pd(q);
}
inline vf exponent_of(vf q) {
    return _mm512_getexp_ps(q);
}
inline vd mantissa_of(vd q) {
    return _mm512_getmant_pd(q, _MM_MANT_NORM_1_2, _MM_MANT_SIGN_zero);
}
inline vf mantissa_of(vf q) {
    return _mm512_getmant_ps(q, _MM_MANT_NORM_1_2, _MM_MANT_SIGN_zero);
}
/* a with the sign bit of b added */
inline vd with_sign_of(vd a, vd b) {
    return _mm512_or_pd(a, _mm512_and_pd(b, splat(-0.0)));
}
inline vf with_sign_of(vf a, vf b) {
    return _mm512_or_ps(a, _mm512_and_ps(b, splat(-0.0f)));
}
/* the lanes where a > b, a >= b, a < b */
inline __mmask8 greater(vd a, vd b) {
    return _mm512_cmp_pd_mask(a, b, _CMP_GT_OQ);
}
inline __mmask16 greater(vf a, vf b) {
    return _mm512_cmp_ps_mask(a, b, _CMP_GT_OQ);
}
inline __mmask8 at_least(vd a, vd b) {
    return _mm512_cmp_pd_mask(a, b, _CMP_GE_OQ);
}
inline __mmask16 at_least(vf a, vf b) {
    return _mm512_cmp_ps_mask(a, b, _CMP_GE_OQ);
}
inline __mmask8 less(vd a, vd b) {
    return _mm512_cmp_pd_mask(a, b, _CMP_LT_OQ);
}
inline __mmask16 less(vf a, vf b) {
    return _mm512_cmp_ps_mask(a, b, _CMP_LT_OQ);
}
/* b in the lanes of m, a in the others */
inline vd blend(__mmask8 m, vd a, vd b) {
    return _mm512_mask_blend_pd(m, a, b);
}
inline vf blend(__mmask16 m, vf a, vf b) {
    return _mm512_mask_blend_ps(m, a, b);
}
/* rounded towards zero */
inline __m256i to_integers(vd a) {
    return _mm512_cvttpd_epi32(a);
}
inline __m512i to_integers(vf a) {
    return _mm512_cvttps_epi32(a);
}

/* c[0] x^(n-1) + c[1] x^(n-2) + ... + c[n-1], by Horner's rule. */
template <typename V, typename S, int n> inline V horner(V x, const S (&c)[n]) {
    V p = splat(c[0]);
    for (int i = 1; i < n; i++) p = fma(p, x, splat(c[i]));
    return p;
}

/* The constants of each precision, by its scalar type. */
template <typename S> struct Precision;

template <> struct Precision<double> {
    typedef double S;
    typedef __mmask8 Mask;
    static constexpr S sqrt2 = 1.4142135623730951;
    /* ln 2 in two parts, the first exact in products with any exponent */
    static constexpr S ln2_high = 0.693147180369123816490, ln2_low = 1.90821492927058770002e-10;
    /* 1 / (2j + 1), j = 8 down to 1: ln f = 2s (1 + s^2 series(s^2)) */
    static constexpr S ln_series[] = {1.0 / 17, 1.0 / 15, 1.0 / 13, 1.0 / 11,
                                      1.0 / 9,  1.0 / 7,  1.0 / 5,  1.0 / 3};
    /* tan(pi/16), tan(3 pi/16): the sectors' bounds; tan(pi/8), the middle
     * sector's tangent, as a double, and its arc tangent */
    static constexpr S bound1 = 0.19891236737965800, bound2 = 0.66817863791929891;
    static constexpr S tan_pi_8 = 0.41421356237309503, atan_tan_pi_8 = 0.39269908169872414;
    static constexpr S pi = 3.14159265358979323846;
    /* (-1)^j / (2j + 3), j = 9 down to 0: atan u = u - u^3 series(u^2) */
    static constexpr S atan_series[] = {-1.0 / 21, 1.0 / 19, -1.0 / 17, 1.0 / 15, -1.0 / 13,
                                        1.0 / 11,  -1.0 / 9, 1.0 / 7,   -1.0 / 5, 1.0 / 3};
};

template <> struct Precision<float> {
    typedef float S;
    typedef __mmask16 Mask;
    static constexpr S sqrt2 = 1.41421356f;
    /* the first part exact in products with exponents up to 2^8 */
    static constexpr S ln2_high = 0.693145752f, ln2_low = 1.42860677e-6f;
    static constexpr S ln_series[] = {1.0f / 7, 1.0f / 5, 1.0f / 3};
    static constexpr S bound1 = 0.198912367f, bound2 = 0.668178638f;
    static constexpr S tan_pi_8 = 0.414213562f, atan_tan_pi_8 = 0.392699082f;
    static constexpr S pi = 3.14159265358979f;
    static constexpr S atan_series[] = {1.0f / 11, -1.0f / 9, 1.0f / 7, -1.0f / 5, 1.0f / 3};
};

/* The precision of a vector type. */
inline Precision<double> precision_of(vd) {
    return {};
}
inline Precision<float> precision_of(vf) {
    return {};
}

/* ln q for q in the range of the precision's bounds ([2^-1000, 2^1000] in
 * double precision, [2^-100, 2^100] in single). */
template <typename V> inline V ln_of(V q) {
    typedef decltype(precision_of(q)) P;
    typedef typename P::S S;
    V e = exponent_of(q), f = mantissa_of(q);
    typename P::Mask big = at_least(f, splat(P::sqrt2));
    f = blend(big, f, mul(f, splat(S(0.5))));
    e = blend(big, e, add(e, splat(S(1))));
    V x = sub(f, splat(S(1)));
    V s = div(x, add(x, splat(S(2)))), s2 = mul(s, s);
    V two_s = add(s, s);
    V ln_f = fma(two_s, mul(s2, horner(s2, P::ln_series)), two_s);
    return fma(e, splat(P::ln2_high), fma(e, splat(P::ln2_low), ln_f));
}

/* arg(x + i y) for x + i y != 0. */
template <typename V> inline V arg_of(V y, V x) {
    typedef decltype(precision_of(x)) P;
    typedef typename P::S S;
    V ax = abs_of(x), ay = abs_of(y);
    typename P::Mask swap = greater(ay, ax);
    V num = blend(swap, ay, ax), den = blend(swap, ax, ay);
    typename P::Mask middle = greater(num, mul(splat(P::bound1), den));
    typename P::Mask top = greater(num, mul(splat(P::bound2), den));
    V c = blend(top, blend(middle, splat(S(0)), splat(P::tan_pi_8)), splat(S(1)));
    V base = blend(top, blend(middle, splat(S(0)), splat(P::atan_tan_pi_8)), splat(P::pi / 4));
    V u = div(fnma(c, den, num), fma(c, num, den)), u2 = mul(u, u);
    V r = add(base, fnma(mul(u, u2), horner(u2, P::atan_series), u));
    r = blend(swap, r, sub(splat(P::pi / 2), r));
    r = blend(less(x, splat(S(0))), r, sub(splat(P::pi), r));
    /* the sign of im, also of a zero */
    return with_sign_of(r, y);
}

/* |v| + 0.5 rounded down and saturated at white, as 32-bit integers; the
 * lanes that lie within err of a rounding boundary are cleared in `safe`. */
template <typename V, typename Mask> inline auto integer_code(V v, V err, V white, Mask* safe) {
    typedef typename decltype(precision_of(v))::S S;
    V a = add(abs_of(v), splat(S(0.5)));
    V k = floor_of(min_of(a, white));
    auto saturated = at_least(a, add(white, err));
    auto clear = greater(sub(a, k), err) & greater(sub(add(k, splat(S(1))), a), err);
    *safe &= saturated | clear;
    return to_integers(blend(saturated, k, white));
}

} // namespace

#endif

/* reader_math.h - 10^x, cos and sin for the 32-bit inverse's vector
 * readers (reader_avx512.cpp, reader_avx2.cpp), written once over the
 * operations of a vector type of doubles (avx512.h, avx2.h), with internal
 * linkage as those are. Include after them.
 *
 * 10^x: x = n log10 2 + r with |r| <= 0.151, 10^r by its series to r^13
 * (remainder below 5e-18) and 2^n exactly; the result errs by about one
 * double ulp. cos and sin: theta = k pi/2 + r with pi/2 in three parts
 * (exact for |k| < 2^17) and |r| <= pi/4, then their series to r^16 and
 * r^17 (remainders below 3e-18, a fortieth of an ulp of their smallest
 * values): within two double ulps. 10^x's series is summed in two chains
 * that the processor runs side by side: the reading loop waited on its one
 * long chain of dependent operations (6.8 ns a coefficient with it on AVX2,
 * 6.0 with two). Only explicit fused multiply-adds are fused: the files
 * that include this are compiled without contraction. */
#ifndef SPECTRA_READER_MATH_H
#define SPECTRA_READER_MATH_H

namespace {

/* 10^x for |x| <= 37. */
template <typename V> inline V exp10_of(V x) {
    /* log10 2 in two parts, the first of 32 bits: n times it is exact */
    const V log10_2_hi = splat(0.30102999560767785), log10_2_lo = splat(5.630334806675098e-11);
    V n = nearest_of(mul(x, splat(3.321928094887362)));
    V r = fnma(n, log10_2_hi, x);
    r = fnma(n, log10_2_lo, r);
    V t = mul(r, splat(2.302585092994046)); /* r ln 10, |t| < 0.35 */
    /* the series in two halves, even and odd powers, each by Horner's rule
     * in t^2: two chains of half the length, which run side by side */
    const double even[] = {1.0 / 479001600.0,
                           1.0 / 3628800.0,
                           1.0 / 40320.0,
                           1.0 / 720.0,
                           1.0 / 24.0,
                           0.5,
                           1.0}; /* 1 / k!, k = 12, 10, ..., 0 */
    const double odd[] = {1.0 / 6227020800.0,
                          1.0 / 39916800.0,
                          1.0 / 362880.0,
                          1.0 / 5040.0,
                          1.0 / 120.0,
                          1.0 / 6.0,
                          1.0}; /* k = 13, 11, ..., 1 */
    V t2 = mul(t, t);
    return times_power_of_2(fma(t, horner(t2, odd), horner(t2, even)), n);
}

/* cos theta and sin theta for |theta| <= 10^5. */
template <typename V> inline void cos_sin_of(V theta, V* cosine, V* sine) {
    V k = nearest_of(mul(theta, splat(0.6366197723675814)));
    /* pi/2 in three parts of 32 bits or fewer: k times each is exact */
    V r = fnma(k, splat(1.5707963267341256), theta);
    r = fnma(k, splat(6.077100506303966e-11), r);
    r = fnma(k, splat(2.0222662487959506e-21), r);
    V z = mul(r, r);
    /* sin r = r + r^3 S(z), S to z^7: 1 / (2j + 3)! with alternating signs */
    const double sine_series[] = {
        1.0 / 355687428096000.0, -1.0 / 1307674368000.0, 1.0 / 6227020800.0, -1.0 / 39916800.0,
        1.0 / 362880.0,          -1.0 / 5040.0,          1.0 / 120.0,        -1.0 / 6.0};
    V s = fma(mul(r, z), horner(z, sine_series), r);
    /* cos r = 1 - z/2 + z^2 C(z), C to z^6: 1 / (2j + 4)!, alternating; the
     * sum formed so that 1 - z/2 loses nothing */
    const double cosine_series[] = {
        1.0 / 20922789888000.0, -1.0 / 87178291200.0, 1.0 / 479001600.0, -1.0 / 3628800.0,
        1.0 / 40320.0,          -1.0 / 720.0,         1.0 / 24.0};
    V hz = mul(z, splat(0.5)), w = sub(splat(1.0), hz);
    V tail = sub(sub(splat(1.0), w), hz);
    V c = add(w, fma(mul(z, z), horner(z, cosine_series), tail));
    /* the quadrant, k mod 4, from k's exact value */
    V q = sub(k, mul(splat(4.0), floor_of(mul(k, splat(0.25)))));
    auto odd = (at_least(q, splat(1.0)) & less(q, splat(2.0))) | at_least(q, splat(3.0));
    auto sine_negative = at_least(q, splat(2.0));
    auto cosine_negative = at_least(q, splat(1.0)) & less(q, splat(3.0));
    V sn = blend(odd, s, c), cs = blend(odd, c, s);
    *sine = negated_where(sine_negative, sn);
    *cosine = negated_where(cosine_negative, cs);
}

} // namespace

#endif

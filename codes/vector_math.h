/* vector_math.h - the approximations that the vector coders share, written
 * once over the operations of a vector type: ln q and arg X (the method is
 * coder_kernel.h's), and the rounding of a code with its error bound. A file
 * includes it after the header of its instruction set's operations (avx2.h,
 * avx512.h), which name the operations alike for every vector type and give
 * each type its scalar_of(). Everything here has internal linkage, so
 * each file's copy is compiled for that file's instruction set alone. */
#ifndef SPECTRA_VECTOR_MATH_H
#define SPECTRA_VECTOR_MATH_H

#include "coder.h"

namespace {

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
    /* The bounds of the codes' errors: L errs by less than
     * L_of_c c + L_of_L |L| and P by less than P_of_K K + P_of_P |P|: twice
     * the series' remainders (1.8e-11 in ln q, 2.1e-12 in arg X), and some
     * forty times what the roundings of the approximations and of the exact
     * formula, and the library's log10 and atan2, can reach. */
    static constexpr double L_of_c = 4e-11, L_of_L = 1.4e-13, P_of_K = 5e-12, P_of_P = 1e-13;
    static constexpr S sqrt2 = 1.4142135623730951;
    /* ln 2 in two parts, the first exact in products with any exponent */
    static constexpr S ln2_high = 0.693147180369123816490, ln2_low = 1.90821492927058770002e-10;
    /* 1 / (2j + 1), j = 5 down to 1: ln f = 2s (1 + s^2 series(s^2)) */
    static constexpr S ln_series[] = {1.0 / 11, 1.0 / 9, 1.0 / 7, 1.0 / 5, 1.0 / 3};
    /* tan(pi/16), tan(3 pi/16): the sectors' bounds; tan(pi/8), the middle
     * sector's tangent, as a double, and its arc tangent */
    static constexpr S bound1 = 0.19891236737965800, bound2 = 0.66817863791929891;
    static constexpr S tan_pi_8 = 0.41421356237309503, atan_tan_pi_8 = 0.39269908169872414;
    static constexpr S pi = 3.14159265358979323846;
    /* (-1)^j / (2j + 3), j = 5 down to 0: atan u = u - u^3 series(u^2) */
    static constexpr S atan_series[] = {-1.0 / 13, 1.0 / 11, -1.0 / 9, 1.0 / 7, -1.0 / 5, 1.0 / 3};
};

template <> struct Precision<float> {
    typedef float S;
    /* about twice the bounds that coder_avx512_single.cpp works out */
    static constexpr double L_of_c = 8e-7, L_of_L = 4e-7, P_of_K = 1.5e-6, P_of_P = 1.5e-7;
    static constexpr S sqrt2 = 1.41421356f;
    /* the first part exact in products with exponents up to 2^8 */
    static constexpr S ln2_high = 0.693145752f, ln2_low = 1.42860677e-6f;
    static constexpr S ln_series[] = {1.0f / 7, 1.0f / 5, 1.0f / 3};
    static constexpr S bound1 = 0.198912367f, bound2 = 0.668178638f;
    static constexpr S tan_pi_8 = 0.414213562f, atan_tan_pi_8 = 0.392699082f;
    static constexpr S pi = 3.14159265358979f;
    static constexpr S atan_series[] = {1.0f / 11, -1.0f / 9, 1.0f / 7, -1.0f / 5, 1.0f / 3};
};

/* The error bounds of the codes of a scale in precision S: the margins of
 * Precision<S> times the scale's own margin (1 but in the tests that shrink
 * it), for the L or P of each lane. */
template <typename S> struct ErrorBounds {
    S L0, L1, P0, P1;
    explicit ErrorBounds(const CodeScale& scale)
        : L0(S(Precision<S>::L_of_c * scale.c * scale.margin)),
          L1(S(Precision<S>::L_of_L * scale.margin)),
          P0(S(Precision<S>::P_of_K * scale.K * scale.margin)),
          P1(S(Precision<S>::P_of_P * scale.margin)) {}
    template <typename V> V of_L(V L) const { return fma(abs_of(L), splat(L1), splat(L0)); }
    template <typename V> V of_P(V P) const { return fma(abs_of(P), splat(P1), splat(P0)); }
};

/* ln q for q in the range of the precision's bounds ([2^-1000, 2^1000] in
 * double precision, [2^-100, 2^100] in single). */
template <typename V> inline V ln_of(V q) {
    typedef decltype(scalar_of(V())) S;
    typedef Precision<S> P;
    V e = exponent_of(q), f = mantissa_of(q);
    auto big = at_least(f, splat(P::sqrt2));
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
    typedef decltype(scalar_of(V())) S;
    typedef Precision<S> P;
    V ax = abs_of(x), ay = abs_of(y);
    auto swap = greater(ay, ax);
    V num = blend(swap, ay, ax), den = blend(swap, ax, ay);
    auto middle = greater(num, mul(splat(P::bound1), den));
    auto top = greater(num, mul(splat(P::bound2), den));
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
 * lanes that lie within err of a rounding boundary are cleared in `safe`.
 * The boundaries lie halfway between integers: |v| is clear of them where
 * it lies less than 0.5 - err from its nearest integer (their difference is
 * exact), and that integer is then the code. Clamped at white first, every
 * lane at or beyond white is clear and codes as white. */
template <typename V, typename Mask> inline auto integer_code(V v, V err, V white, Mask* safe) {
    typedef decltype(scalar_of(V())) S;
    V a = min_of(abs_of(v), white);
    *safe &= less(abs_of(off_integer(a)), sub(splat(S(0.5)), err));
    return nearest_integers(a);
}

} // namespace

#endif

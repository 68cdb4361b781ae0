/* avx2.h - the operations of AVX2's vectors of both precisions, eight floats
 * or four doubles, under the names that vector_math.h uses. A lane mask is
 * a vector of integers as wide as the lanes, all ones or all zeros, so that
 * & and | combine masks as AVX-512's do. Included by the AVX2 files alone:
 * compiled for AVX2 and FMA in each, with internal linkage, so no copy can
 * be called on a processor without them. */
#ifndef SPECTRA_AVX2_H
#define SPECTRA_AVX2_H

#include <immintrin.h>

namespace {

typedef __m256d vd4; /* four doubles */
typedef __m256 vf8;  /* eight floats */

/* A mask of the lanes of V. The two are distinct types, so that each
 * operation on masks is chosen by the precision. */
struct lanes4 {
    __m256i bits;
};
struct lanes8 {
    __m256i bits;
};
inline lanes4 operator&(lanes4 a, lanes4 b) {
    return {_mm256_and_si256(a.bits, b.bits)};
}
inline lanes4 operator|(lanes4 a, lanes4 b) {
    return {_mm256_or_si256(a.bits, b.bits)};
}
inline lanes4& operator&=(lanes4& a, lanes4 b) {
    return a = a & b;
}
inline lanes8 operator&(lanes8 a, lanes8 b) {
    return {_mm256_and_si256(a.bits, b.bits)};
}
inline lanes8 operator|(lanes8 a, lanes8 b) {
    return {_mm256_or_si256(a.bits, b.bits)};
}
inline lanes8& operator&=(lanes8& a, lanes8 b) {
    return a = a & b;
}
/* one bit per lane, lane 0 lowest */
inline unsigned bits_of(lanes4 m) {
    return unsigned(_mm256_movemask_pd(_mm256_castsi256_pd(m.bits)));
}
inline unsigned bits_of(lanes8 m) {
    return unsigned(_mm256_movemask_ps(_mm256_castsi256_ps(m.bits)));
}

inline vd4 splat(double x) {
    return _mm256_set1_pd(x);
}
inline vf8 splat(float x) {
    return _mm256_set1_ps(x);
}
inline vd4 add(vd4 a, vd4 b) {
    return _mm256_add_pd(a, b);
}
inline vf8 add(vf8 a, vf8 b) {
    return _mm256_add_ps(a, b);
}
inline vd4 sub(vd4 a, vd4 b) {
    return _mm256_sub_pd(a, b);
}
inline vf8 sub(vf8 a, vf8 b) {
    return _mm256_sub_ps(a, b);
}
inline vd4 mul(vd4 a, vd4 b) {
    return _mm256_mul_pd(a, b);
}
inline vf8 mul(vf8 a, vf8 b) {
    return _mm256_mul_ps(a, b);
}
inline vd4 div(vd4 a, vd4 b) {
    return _mm256_div_pd(a, b);
}
inline vf8 div(vf8 a, vf8 b) {
    return _mm256_div_ps(a, b);
}
/* a b + c, and c - a b */
inline vd4 fma(vd4 a, vd4 b, vd4 c) {
    return _mm256_fmadd_pd(a, b, c);
}
inline vf8 fma(vf8 a, vf8 b, vf8 c) {
    return _mm256_fmadd_ps(a, b, c);
}
inline vd4 fnma(vd4 a, vd4 b, vd4 c) {
    return _mm256_fnmadd_pd(a, b, c);
}
inline vf8 fnma(vf8 a, vf8 b, vf8 c) {
    return _mm256_fnmadd_ps(a, b, c);
}
inline vd4 abs_of(vd4 a) {
    return _mm256_andnot_pd(splat(-0.0), a);
}
inline vf8 abs_of(vf8 a) {
    return _mm256_andnot_ps(splat(-0.0f), a);
}
inline vd4 min_of(vd4 a, vd4 b) {
    return _mm256_min_pd(a, b);
}
inline vf8 min_of(vf8 a, vf8 b) {
    return _mm256_min_ps(a, b);
}
/* a rounded to the nearest integer (and down, floor_of); a minus that
 * integer, and the integer as a 32-bit integer */
inline vd4 nearest_of(vd4 a) {
    return _mm256_round_pd(a, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
}
inline vf8 nearest_of(vf8 a) {
    return _mm256_round_ps(a, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
}
inline vd4 off_integer(vd4 a) {
    return _mm256_sub_pd(a, nearest_of(a));
}
inline vf8 off_integer(vf8 a) {
    return _mm256_sub_ps(a, nearest_of(a));
}
inline __m128i nearest_integers(vd4 a) {
    return _mm256_cvttpd_epi32(nearest_of(a));
}
inline __m256i nearest_integers(vf8 a) {
    return _mm256_cvttps_epi32(nearest_of(a));
}
inline vd4 floor_of(vd4 a) {
    return _mm256_floor_pd(a);
}
/* p 2^n for integral n in [-1022, 1023], where 2^n is a normal double */
inline vd4 times_power_of_2(vd4 p, vd4 n) {
    __m256i e =
        _mm256_add_epi64(_mm256_cvtepi32_epi64(_mm256_cvtpd_epi32(n)), _mm256_set1_epi64x(1023));
    return _mm256_mul_pd(p, _mm256_castsi256_pd(_mm256_slli_epi64(e, 52)));
}
/* q = 2^exponent mantissa, the mantissa in [1, 2), for normal q > 0; the
 * exponent's 11 bits become a double by the bits of 2^52 + e */
inline vd4 exponent_of(vd4 q) {
    __m256i biased = _mm256_srli_epi64(_mm256_castpd_si256(q), 52);
    __m256i magic = _mm256_set1_epi64x(0x4330000000000000);
    vd4 e = _mm256_castsi256_pd(_mm256_or_si256(biased, magic));
    return _mm256_sub_pd(e, splat(4503599627370496.0 + 1023));
}
inline vf8 exponent_of(vf8 q) {
    __m256i bits = _mm256_srli_epi32(_mm256_castps_si256(q), 23);
    return _mm256_cvtepi32_ps(_mm256_sub_epi32(bits, _mm256_set1_epi32(127)));
}
inline vd4 mantissa_of(vd4 q) {
    __m256i bits = _mm256_and_si256(_mm256_castpd_si256(q), _mm256_set1_epi64x(0x000fffffffffffff));
    return _mm256_castsi256_pd(_mm256_or_si256(bits, _mm256_set1_epi64x(0x3ff0000000000000)));
}
inline vf8 mantissa_of(vf8 q) {
    __m256i bits = _mm256_and_si256(_mm256_castps_si256(q), _mm256_set1_epi32(0x007fffff));
    return _mm256_castsi256_ps(_mm256_or_si256(bits, _mm256_set1_epi32(0x3f800000)));
}
/* a with the sign bit of b added */
inline vd4 with_sign_of(vd4 a, vd4 b) {
    return _mm256_or_pd(a, _mm256_and_pd(b, splat(-0.0)));
}
inline vf8 with_sign_of(vf8 a, vf8 b) {
    return _mm256_or_ps(a, _mm256_and_ps(b, splat(-0.0f)));
}
/* the lanes where a > b, a >= b, a < b */
inline lanes4 greater(vd4 a, vd4 b) {
    return {_mm256_castpd_si256(_mm256_cmp_pd(a, b, _CMP_GT_OQ))};
}
inline lanes8 greater(vf8 a, vf8 b) {
    return {_mm256_castps_si256(_mm256_cmp_ps(a, b, _CMP_GT_OQ))};
}
inline lanes4 at_least(vd4 a, vd4 b) {
    return {_mm256_castpd_si256(_mm256_cmp_pd(a, b, _CMP_GE_OQ))};
}
inline lanes8 at_least(vf8 a, vf8 b) {
    return {_mm256_castps_si256(_mm256_cmp_ps(a, b, _CMP_GE_OQ))};
}
inline lanes4 less(vd4 a, vd4 b) {
    return {_mm256_castpd_si256(_mm256_cmp_pd(a, b, _CMP_LT_OQ))};
}
inline lanes8 less(vf8 a, vf8 b) {
    return {_mm256_castps_si256(_mm256_cmp_ps(a, b, _CMP_LT_OQ))};
}
/* -v in the lanes of m, v in the others */
inline vd4 negated_where(lanes4 m, vd4 v) {
    return _mm256_xor_pd(v, _mm256_and_pd(_mm256_castsi256_pd(m.bits), splat(-0.0)));
}
/* b in the lanes of m, a in the others */
inline vd4 blend(lanes4 m, vd4 a, vd4 b) {
    return _mm256_blendv_pd(a, b, _mm256_castsi256_pd(m.bits));
}
inline vf8 blend(lanes8 m, vf8 a, vf8 b) {
    return _mm256_blendv_ps(a, b, _mm256_castsi256_ps(m.bits));
}

/* The scalar type of each vector type, as decltype(scalar_of(v)). */
inline double scalar_of(vd4) {
    return 0;
}
inline float scalar_of(vf8) {
    return 0;
}

} // namespace

#include "vector_math.h"

#endif

/* avx2.h - the operations of AVX2's vectors of eight floats under the names
 * that vector_math.h uses. A lane mask is a vector of 32-bit integers, all
 * ones or all zeros, so that & and | combine masks as AVX-512's do. Included
 * by the AVX2 files alone: compiled for AVX2 and FMA in each, with internal
 * linkage, so no copy can be called on a processor without them. */
#ifndef SPECTRA_AVX2_H
#define SPECTRA_AVX2_H

#include <immintrin.h>

namespace {

typedef __m256 vf8;     /* eight floats */
typedef __m256i lanes8; /* a mask of eight lanes */

inline vf8 splat(float x) {
    return _mm256_set1_ps(x);
}
inline vf8 add(vf8 a, vf8 b) {
    return _mm256_add_ps(a, b);
}
inline vf8 sub(vf8 a, vf8 b) {
    return _mm256_sub_ps(a, b);
}
inline vf8 mul(vf8 a, vf8 b) {
    return _mm256_mul_ps(a, b);
}
inline vf8 div(vf8 a, vf8 b) {
    return _mm256_div_ps(a, b);
}
/* a b + c, and c - a b */
inline vf8 fma(vf8 a, vf8 b, vf8 c) {
    return _mm256_fmadd_ps(a, b, c);
}
inline vf8 fnma(vf8 a, vf8 b, vf8 c) {
    return _mm256_fnmadd_ps(a, b, c);
}
inline vf8 abs_of(vf8 a) {
    return _mm256_andnot_ps(splat(-0.0f), a);
}
inline vf8 min_of(vf8 a, vf8 b) {
    return _mm256_min_ps(a, b);
}
/* a minus its nearest integer, and that integer as a 32-bit integer */
inline vf8 nearest_of(vf8 a) {
    return _mm256_round_ps(a, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
}
inline vf8 off_integer(vf8 a) {
    return _mm256_sub_ps(a, nearest_of(a));
}
inline __m256i nearest_integers(vf8 a) {
    return _mm256_cvttps_epi32(nearest_of(a));
}
/* q = 2^exponent mantissa, the mantissa in [1, 2), for normal q > 0 */
inline vf8 exponent_of(vf8 q) {
    __m256i bits = _mm256_srli_epi32(_mm256_castps_si256(q), 23);
    return _mm256_cvtepi32_ps(_mm256_sub_epi32(bits, _mm256_set1_epi32(127)));
}
inline vf8 mantissa_of(vf8 q) {
    __m256i bits = _mm256_and_si256(_mm256_castps_si256(q), _mm256_set1_epi32(0x007fffff));
    return _mm256_castsi256_ps(_mm256_or_si256(bits, _mm256_set1_epi32(0x3f800000)));
}
/* a with the sign bit of b added */
inline vf8 with_sign_of(vf8 a, vf8 b) {
    return _mm256_or_ps(a, _mm256_and_ps(b, splat(-0.0f)));
}
/* the lanes where a > b, a >= b, a < b */
inline lanes8 greater(vf8 a, vf8 b) {
    return _mm256_castps_si256(_mm256_cmp_ps(a, b, _CMP_GT_OQ));
}
inline lanes8 at_least(vf8 a, vf8 b) {
    return _mm256_castps_si256(_mm256_cmp_ps(a, b, _CMP_GE_OQ));
}
inline lanes8 less(vf8 a, vf8 b) {
    return _mm256_castps_si256(_mm256_cmp_ps(a, b, _CMP_LT_OQ));
}
/* b in the lanes of m, a in the others */
inline vf8 blend(lanes8 m, vf8 a, vf8 b) {
    return _mm256_blendv_ps(a, b, _mm256_castsi256_ps(m));
}
/* The scalar type of each vector type, as decltype(scalar_of(v)). */
inline float scalar_of(vf8) {
    return 0;
}

} // namespace

#include "vector_math.h"

#endif

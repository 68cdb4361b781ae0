/* avx512.h - the operations of AVX-512's vectors of both precisions under
 * one name each, for the approximations of vector_math.h. Included by the
 * AVX-512 files alone: compiled for AVX-512 in each, with internal linkage,
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
/* a minus its nearest integer, and that integer as a 32-bit integer */
inline vd off_integer(vd a) {
    return _mm512_reduce_pd(a, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
}
inline vf off_integer(vf a) {
    return _mm512_reduce_ps(a, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
}
inline __m256i nearest_integers(vd a) {
    return _mm512_cvt_roundpd_epi32(a, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
}
inline __m512i nearest_integers(vf a) {
    return _mm512_cvt_roundps_epi32(a, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
}
/* a rounded to the nearest integer, and down */
inline vd nearest_of(vd a) {
    return _mm512_roundscale_pd(a, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
}
inline vd floor_of(vd a) {
    return _mm512_roundscale_pd(a, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
}
/* p 2^n for integral n */
inline vd times_power_of_2(vd p, vd n) {
    return _mm512_scalef_pd(p, n);
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
/* -v in the lanes of m, v in the others */
inline vd negated_where(__mmask8 m, vd v) {
    return _mm512_mask_xor_pd(v, m, v, splat(-0.0));
}
/* b in the lanes of m, a in the others */
inline vd blend(__mmask8 m, vd a, vd b) {
    return _mm512_mask_blend_pd(m, a, b);
}
inline vf blend(__mmask16 m, vf a, vf b) {
    return _mm512_mask_blend_ps(m, a, b);
}
/* The scalar type of each vector type, as decltype(scalar_of(v)). */
inline double scalar_of(vd) {
    return 0;
}
inline float scalar_of(vf) {
    return 0;
}

} // namespace

#include "vector_math.h"

#endif

/* reader_avx512.cpp - the 32-bit inverse's reading of codes with AVX-512,
 * eight coefficients at a time: m = 10^(M D) narrowed to single precision,
 * theta = (P - 1/2) 2 pi, and m cos theta + i m sin theta.
 *
 * M D and theta are formed by the plain reader's operations, so they are the
 * same numbers. 10^x, cos and sin come from reader_math.h: 10^x errs by
 * about one double ulp, far less than the narrowing's half float ulp, and
 * lanes that lie closer to a float midpoint than 2^-40 of their value are
 * handed to pow, so m is pow's, narrowed, to the bit; cos and sin lie within
 * two double ulps. Lanes outside the approximations' ranges (|x| > 37,
 * |theta| > 10^5, NaN, inf) take the plain formula. This file is compiled
 * without fused multiply-adds except where they are written out. */
#include "coder.h"

#include "avx512.h"
#include "reader_math.h"

#include <immintrin.h>

namespace {

/* Whether narrowing v to single precision is decided beyond doubt: v lies
 * farther than err from the midpoint between two floats. Rounding to
 * nearest is monotonic: where v - err and v + err narrow to the same float,
 * so does every value between them. */
inline __mmask8 narrows_surely(vd v, vd err) {
    __m256 low = _mm512_cvtpd_ps(_mm512_sub_pd(v, err));
    __m256 high = _mm512_cvtpd_ps(_mm512_add_pd(v, err));
    return _mm256_cmpeq_epi32_mask(_mm256_castps_si256(low), _mm256_castps_si256(high));
}

/* The len <= 8 floats from[0], from[stride], ...: up to a stride of 4 from
 * two vector loads that read nothing beyond the last of them, with `index`
 * the multiples of the stride; a gather otherwise. */
inline __m256 samples(const float* from, int64_t stride, int len, __m512i index) {
    if (stride > 4) {
        __m256i at = _mm256_mullo_epi32(_mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7),
                                        _mm256_set1_epi32(int(stride)));
        return _mm256_mmask_i32gather_ps(_mm256_setzero_ps(), __mmask8((1u << len) - 1), at, from,
                                         4);
    }
    int floats = int(stride) * (len - 1) + 1;
    __mmask16 first = __mmask16(floats >= 16 ? 0xffff : (1u << floats) - 1);
    __mmask16 second = __mmask16(floats <= 16 ? 0 : (1u << (floats - 16)) - 1);
    __m512 a = _mm512_maskz_loadu_ps(first, from), b = _mm512_maskz_loadu_ps(second, from + 16);
    return _mm512_castps512_ps256(_mm512_permutex2var_ps(a, index, b));
}

} // namespace

int read_avx512(const float* M, const float* P, int64_t stride, int count, double D, double* X,
                int32_t* redo) {
    const __m512i even = _mm512_setr_epi64(0, 8, 1, 9, 2, 10, 3, 11);
    const __m512i odd = _mm512_setr_epi64(4, 12, 5, 13, 6, 14, 7, 15);
    const vd d = splat(D);
    const __m512i index =
        _mm512_mullo_epi32(_mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 0, 0, 0, 0, 0, 0, 0, 0),
                           _mm512_set1_epi32(stride <= 4 ? int(stride) : 0));
    int redone = 0;
    for (int i = 0; i < count; i += 8) {
        int len = count - i < 8 ? count - i : 8;
        __mmask8 lanes = __mmask8((1u << len) - 1);
        /* the buffer is written once, over memory not in the cache: take
         * its lines for writing ahead of the stores */
        _mm_prefetch(reinterpret_cast<const char*>(X + 2 * i + 256), _MM_HINT_ET0);
        _mm_prefetch(reinterpret_cast<const char*>(X + 2 * i + 264), _MM_HINT_ET0);
        __m256 m = samples(M + i * stride, stride, len, index);
        __m256 p = samples(P + i * stride, stride, len, index);
        vd x = _mm512_mul_pd(_mm512_cvtps_pd(m), d);
        vd theta = _mm512_div_pd(_mm512_sub_pd(_mm512_cvtps_pd(p), splat(0.5)),
                                 splat(0.15915494309189535));
        /* a magnitude sample of 0 reads as the coefficient 0 */
        __mmask8 zero = _mm256_cmp_ps_mask(m, _mm256_setzero_ps(), _CMP_EQ_OQ);
        __mmask8 safe = _mm512_cmp_pd_mask(_mm512_abs_pd(x), splat(37.0), _CMP_LE_OQ) &
                        _mm512_cmp_pd_mask(_mm512_abs_pd(theta), splat(1e5), _CMP_LE_OQ);
        x = _mm512_mask_blend_pd(safe, splat(0.0), x);
        theta = _mm512_mask_blend_pd(safe, splat(0.0), theta);
        vd magnitude = exp10_of(x);
        safe &= narrows_surely(magnitude, _mm512_mul_pd(magnitude, splat(0x1p-40)));
        magnitude = _mm512_cvtps_pd(_mm512_cvtpd_ps(magnitude));
        vd cosine, sine;
        cos_sin_of(theta, &cosine, &sine);
        vd re = _mm512_maskz_mul_pd(__mmask8(~zero), cosine, magnitude);
        vd im = _mm512_maskz_mul_pd(__mmask8(~zero), sine, magnitude);
        safe |= zero;
        double* to = X + 2 * i;
        __mmask16 parts = __mmask16((1u << (2 * len)) - 1);
        _mm512_mask_storeu_pd(to, __mmask8(parts), _mm512_permutex2var_pd(re, even, im));
        _mm512_mask_storeu_pd(to + 8, __mmask8(parts >> 8), _mm512_permutex2var_pd(re, odd, im));
        for (unsigned unsafe = __mmask8(~safe) & lanes; unsafe; unsafe &= unsafe - 1)
            redo[redone++] = i + __builtin_ctz(unsafe);
    }
    return redone;
}

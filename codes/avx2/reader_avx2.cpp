/* reader_avx2.cpp - the 32-bit inverse's reading of codes with AVX2 and FMA,
 * four coefficients at a time: reader_avx512.cpp on processors without
 * AVX-512, with the same approximations (reader_math.h) and the same
 * decisions. m = 10^(M D) narrowed to single precision, theta =
 * (P - 1/2) 2 pi, formed by the plain reader's operations; lanes that lie
 * closer to a float midpoint than 2^-40 of their value, and lanes outside
 * the approximations' ranges (|x| > 37, |theta| > 10^5, NaN, inf), take the
 * plain formula. This file is compiled without fused multiply-adds except
 * where they are written out. */
#include "coder.h"

#include "avx2.h"
#include "reader_math.h"

#include <immintrin.h>

namespace {

/* Whether narrowing v to single precision is decided beyond doubt: v lies
 * farther than err from the midpoint between two floats. Rounding to
 * nearest is monotonic: where v - err and v + err narrow to the same float,
 * so does every value between them. */
inline lanes4 narrows_surely(vd4 v, vd4 err) {
    __m128i low = _mm_castps_si128(_mm256_cvtpd_ps(sub(v, err)));
    __m128i high = _mm_castps_si128(_mm256_cvtpd_ps(add(v, err)));
    return {_mm256_cvtepi32_epi64(_mm_cmpeq_epi32(low, high))};
}

/* The len <= 4 floats from[0], from[stride], ..., as doubles; 0 beyond.
 * Four are inserted into a register one by one: stored to memory and loaded
 * back as a vector, they would wait for the stores to drain. */
inline vd4 samples(const float* from, int64_t stride, int len) {
    if (len == 4)
        return _mm256_cvtps_pd(
            _mm_set_ps(from[3 * stride], from[2 * stride], from[stride], from[0]));
    alignas(16) float v[4] = {};
    for (int k = 0; k < len; k++) v[k] = from[k * stride];
    return _mm256_cvtps_pd(_mm_load_ps(v));
}

} // namespace

int read_avx2(const float* M, const float* P, int64_t stride, int count, double D, double* X,
              int32_t* redo) {
    const vd4 d = splat(D);
    int redone = 0;
    for (int i = 0; i < count; i += 4) {
        int len = count - i < 4 ? count - i : 4;
        vd4 m = samples(M + i * stride, stride, len);
        vd4 x = mul(m, d);
        vd4 theta =
            div(sub(samples(P + i * stride, stride, len), splat(0.5)), splat(0.15915494309189535));
        /* a magnitude sample of 0 reads as the coefficient 0 */
        lanes4 zero = {_mm256_castpd_si256(_mm256_cmp_pd(m, splat(0.0), _CMP_EQ_OQ))};
        lanes4 safe = at_least(splat(37.0), abs_of(x)) & at_least(splat(1e5), abs_of(theta));
        x = blend(safe, splat(0.0), x);
        theta = blend(safe, splat(0.0), theta);
        vd4 magnitude = exp10_of(x);
        safe &= narrows_surely(magnitude, mul(magnitude, splat(0x1p-40)));
        magnitude = _mm256_cvtps_pd(_mm256_cvtpd_ps(magnitude));
        vd4 cosine, sine;
        cos_sin_of(theta, &cosine, &sine);
        vd4 re = blend(zero, mul(cosine, magnitude), splat(0.0));
        vd4 im = blend(zero, mul(sine, magnitude), splat(0.0));
        safe = safe | zero;
        /* re and im side by side: coefficients 0 and 1, then 2 and 3 */
        vd4 lo = _mm256_unpacklo_pd(re, im), hi = _mm256_unpackhi_pd(re, im);
        vd4 first = _mm256_permute2f128_pd(lo, hi, 0x20),
            second = _mm256_permute2f128_pd(lo, hi, 0x31);
        double* to = X + 2 * i;
        if (len == 4) {
            _mm256_storeu_pd(to, first);
            _mm256_storeu_pd(to + 4, second);
        } else {
            alignas(32) double pairs[8];
            _mm256_store_pd(pairs, first);
            _mm256_store_pd(pairs + 4, second);
            for (int k = 0; k < 2 * len; k++) to[k] = pairs[k];
        }
        for (unsigned unsafe = ~bits_of(safe) & ((1u << len) - 1); unsafe; unsafe &= unsafe - 1)
            redo[redone++] = i + __builtin_ctz(unsafe);
    }
    return redone;
}

/* modulus_avx512.cpp - the inverse's last step with AVX-512, eight values at
 * a time: the sample of |x / N| for each value x of a transformed row, by
 * the same IEEE operations as the plain loop (plane/planar.h), each rounded
 * on its own (this file is compiled without fused multiply-adds), so the
 * samples are the same to the bit. */
#include "coder.h"

#include <immintrin.h>
#include <type_traits>

namespace {

/* The samples of the moduli of count values, each divided by the whole
 * number N first. When N is a power of 2, 1 / N is a double and x * (1 / N)
 * is the same number as x / N. */
template <typename T> void modulus(const double* X, int count, double N, T* out, int64_t stride) {
    const __m512i even = _mm512_setr_epi64(0, 2, 4, 6, 8, 10, 12, 14);
    const __m512i odd = _mm512_setr_epi64(1, 3, 5, 7, 9, 11, 13, 15);
    const __m512d n = _mm512_set1_pd(N), inverse = _mm512_set1_pd(1 / N);
    const bool power_of_2 = __builtin_popcountll(uint64_t(N)) == 1;
    const __m512d white = _mm512_set1_pd(std::is_same<T, uint8_t>::value ? 255 : 32768);
    for (int i = 0; i < count; i += 8) {
        int len = count - i < 8 ? count - i : 8;
        __mmask16 parts = __mmask16((1u << (2 * len)) - 1);
        __m512d lo = _mm512_maskz_loadu_pd(__mmask8(parts), X + 2 * i);
        __m512d hi = _mm512_maskz_loadu_pd(__mmask8(parts >> 8), X + 2 * i + 8);
        _mm_prefetch(reinterpret_cast<const char*>(X + 2 * i + 256), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char*>(X + 2 * i + 264), _MM_HINT_T0);
        __m512d re = _mm512_permutex2var_pd(lo, even, hi), im = _mm512_permutex2var_pd(lo, odd, hi);
        if (power_of_2) {
            re = _mm512_mul_pd(re, inverse);
            im = _mm512_mul_pd(im, inverse);
        } else {
            re = _mm512_div_pd(re, n);
            im = _mm512_div_pd(im, n);
        }
        __m512d m = _mm512_sqrt_pd(_mm512_add_pd(_mm512_mul_pd(im, im), _mm512_mul_pd(re, re)));
        if constexpr (std::is_same<T, float>::value) {
            alignas(32) float f[8];
            _mm256_store_ps(f, _mm512_cvtpd_ps(m));
            for (int k = 0; k < len; k++) out[(i + k) * stride] = f[k];
        } else {
            /* rounded half up and saturated at white; NaN saturates too,
             * as in the plain rounder */
            __m512d a = _mm512_add_pd(m, _mm512_set1_pd(0.5));
            a = _mm512_mask_blend_pd(_mm512_cmp_pd_mask(a, white, _CMP_LT_OQ), white, a);
            alignas(32) int32_t v[8];
            _mm256_store_si256(reinterpret_cast<__m256i*>(v), _mm512_cvttpd_epi32(a));
            for (int k = 0; k < len; k++) out[(i + k) * stride] = T(v[k]);
        }
    }
}

} // namespace

void modulus_avx512(const double* X, int count, double N, uint8_t* out, int64_t stride) {
    modulus(X, count, N, out, stride);
}
void modulus_avx512(const double* X, int count, double N, uint16_t* out, int64_t stride) {
    modulus(X, count, N, out, stride);
}
void modulus_avx512(const double* X, int count, double N, float* out, int64_t stride) {
    modulus(X, count, N, out, stride);
}

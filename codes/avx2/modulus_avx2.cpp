/* modulus_avx2.cpp - the inverse's last step with AVX2, four values at a
 * time: modulus_avx512.cpp on processors without AVX-512. The same IEEE
 * operations as the plain loop (plane/planar.h), each rounded on its own
 * (this file is compiled without fused multiply-adds), so the samples are
 * the same to the bit. */
#include "coder.h"

#include <immintrin.h>
#include <type_traits>

namespace {

/* The samples of the moduli of count values, each divided by the whole
 * number N first. When N is a power of 2, 1 / N is a double and x * (1 / N)
 * is the same number as x / N. */
template <typename T> void modulus(const double* X, int count, double N, T* out, int64_t stride) {
    const __m256d n = _mm256_set1_pd(N), inverse = _mm256_set1_pd(1 / N);
    const bool power_of_2 = __builtin_popcountll(uint64_t(N)) == 1;
    const __m256d white = _mm256_set1_pd(std::is_same<T, uint8_t>::value ? 255 : 32768);
    for (int i = 0; i < count; i += 4) {
        int len = count - i < 4 ? count - i : 4;
        const double* x = X + 2 * i;
        double tail[8] = {};
        if (len < 4) {
            for (int k = 0; k < 2 * len; k++) tail[k] = x[k];
            x = tail;
        }
        _mm_prefetch(reinterpret_cast<const char*>(X + 2 * i + 256), _MM_HINT_T0);
        /* values 0 and 2, 1 and 3 side by side; then their parts */
        __m256d a = _mm256_loadu_pd(x), b = _mm256_loadu_pd(x + 4);
        __m256d even = _mm256_permute2f128_pd(a, b, 0x20);
        __m256d odd = _mm256_permute2f128_pd(a, b, 0x31);
        __m256d re = _mm256_unpacklo_pd(even, odd), im = _mm256_unpackhi_pd(even, odd);
        if (power_of_2) {
            re = _mm256_mul_pd(re, inverse);
            im = _mm256_mul_pd(im, inverse);
        } else {
            re = _mm256_div_pd(re, n);
            im = _mm256_div_pd(im, n);
        }
        __m256d m = _mm256_sqrt_pd(_mm256_add_pd(_mm256_mul_pd(im, im), _mm256_mul_pd(re, re)));
        if constexpr (std::is_same<T, float>::value) {
            alignas(16) float f[4];
            _mm_store_ps(f, _mm256_cvtpd_ps(m));
            for (int k = 0; k < len; k++) out[(i + k) * stride] = f[k];
        } else {
            /* rounded half up and saturated at white; NaN saturates too,
             * as in the plain rounder */
            __m256d a = _mm256_add_pd(m, _mm256_set1_pd(0.5));
            a = _mm256_blendv_pd(white, a, _mm256_cmp_pd(a, white, _CMP_LT_OQ));
            alignas(16) int32_t v[4];
            _mm_store_si128(reinterpret_cast<__m128i*>(v), _mm256_cvttpd_epi32(a));
            for (int k = 0; k < len; k++) out[(i + k) * stride] = T(v[k]);
        }
    }
}

} // namespace

void modulus_avx2(const double* X, int count, double N, uint8_t* out, int64_t stride) {
    modulus(X, count, N, out, stride);
}
void modulus_avx2(const double* X, int count, double N, uint16_t* out, int64_t stride) {
    modulus(X, count, N, out, stride);
}
void modulus_avx2(const double* X, int count, double N, float* out, int64_t stride) {
    modulus(X, count, N, out, stride);
}

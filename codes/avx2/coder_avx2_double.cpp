/* coder_avx2_double.cpp - the AVX2 path's coder in double precision, four
 * coefficients at a time: 32-bit samples, and the 16-bit coder's second
 * pass over the lanes that single precision left undecided. The AVX-512
 * double-precision coder (coder_avx512.cpp) on processors without AVX-512:
 * the same approximations (vector_math.h), bounds and decisions. */
#include "coder.h"

#include "avx2.h"

#include <immintrin.h>
#include <type_traits>

namespace {

/* v narrowed to single precision; `safe` is cleared in the lanes that lie
 * within err of the midpoint between two floats. Rounding to nearest is
 * monotonic: where v - err and v + err narrow to the same float, so does
 * every value between them. */
inline __m128 float_code(vd4 v, vd4 err, lanes4* safe) {
    __m128i low = _mm_castps_si128(_mm256_cvtpd_ps(sub(v, err)));
    __m128i high = _mm_castps_si128(_mm256_cvtpd_ps(add(v, err)));
    *safe &= lanes4{_mm256_cvtepi32_epi64(_mm_cmpeq_epi32(low, high))};
    return _mm256_cvtpd_ps(v);
}

/* The first `len` of four samples. */
inline void store(uint16_t* to, __m128i v, int len) {
    alignas(16) uint16_t all[8];
    _mm_store_si128(reinterpret_cast<__m128i*>(all), _mm_packus_epi32(v, v));
    for (int k = 0; k < len; k++) to[k] = all[k];
}
inline void store(float* to, __m128 v, int len) {
    if (len == 4) {
        _mm_storeu_ps(to, v);
        return;
    }
    alignas(16) float all[4];
    _mm_store_ps(all, v);
    for (int k = 0; k < len; k++) to[k] = all[k];
}

template <typename T>
int code(const double* X, int count, const CodeScale& scale, T* magnitude, T* phase,
         int32_t* redo) {
    const vd4 white = splat(scale.white), c = splat(scale.c), K = splat(scale.K);
    const vd4 half = splat(scale.half);
    const ErrorBounds<double> bounds(scale);
    int redone = 0;
    for (int i = 0; i < count; i += 4) {
        int len = count - i < 4 ? count - i : 4;
        const double* x = X + 2 * i;
        double tail[8];
        if (len < 4) {
            for (int k = 0; k < 8; k++) tail[k] = k < 2 * len ? x[k] : 1.0;
            x = tail;
        }
        /* coefficients 0 and 2, 1 and 3 side by side; then their parts */
        vd4 a = _mm256_loadu_pd(x), b = _mm256_loadu_pd(x + 4);
        vd4 even = _mm256_permute2f128_pd(a, b, 0x20), odd = _mm256_permute2f128_pd(a, b, 0x31);
        vd4 re = _mm256_unpacklo_pd(even, odd), im = _mm256_unpackhi_pd(even, odd);
        /* the spectrum is read once, from memory: ask for it 2 KB ahead */
        _mm_prefetch(reinterpret_cast<const char*>(X + 2 * i + 256), _MM_HINT_T0);

        /* This |X|^2 may be fused, unlike the exact formula's: lanes where
         * the two could fall on either side of 1 are left to that formula. */
        vd4 q = fma(re, re, mul(im, im));
        lanes4 safe = at_least(q, splat(0x1p-1000)) & at_least(splat(0x1p1000), q) &
                      greater(abs_of(sub(q, splat(1.0))), splat(1e-14));
        q = blend(safe, splat(1.0), q);
        re = blend(safe, splat(1.0), re);
        vd4 L = mul(ln_of(q), c);
        vd4 P = fma(arg_of(im, re), K, half);
        vd4 err_L = bounds.of_L(L), err_P = bounds.of_P(P);
        if constexpr (!std::is_same<T, float>::value) {
            /* a magnitude below 1 codes as magnitude 1 does: 0, and clear */
            L = blend(less(q, splat(1.0)), L, splat(0.0));
            __m128i m = integer_code(L, err_L, white, &safe);
            __m128i p = integer_code(P, err_P, white, &safe);
            store(magnitude + i, m, len);
            store(phase + i, p, len);
        } else {
            safe &= greater(abs_of(P), splat(1e-6));
            __m128 m = float_code(L, err_L, &safe);
            __m128 p = float_code(abs_of(P), err_P, &safe);
            store(magnitude + i, m, len);
            store(phase + i, p, len);
        }
        for (unsigned unsafe = ~bits_of(safe) & ((1u << len) - 1); unsafe; unsafe &= unsafe - 1)
            redo[redone++] = i + __builtin_ctz(unsafe);
    }
    return redone;
}

} // namespace

int code16_avx2_double(const double* X, int count, const CodeScale& scale, uint16_t* magnitude,
                       uint16_t* phase, int32_t* redo) {
    return code<uint16_t>(X, count, scale, magnitude, phase, redo);
}

int code32_avx2_double(const double* X, int count, const CodeScale& scale, float* magnitude,
                       float* phase, int32_t* redo) {
    return code<float>(X, count, scale, magnitude, phase, redo);
}

/* coder_avx2_single.cpp - the AVX2 path's coder for 8- and 16-bit samples
 * in single precision, eight coefficients at a time: the AVX-512 coder of
 * coder_avx512_single.cpp on processors without AVX-512. The same
 * approximations (vector_math.h) by the same float operations, so the same
 * error bounds and margins hold; see that file for them. Each exponent and
 * mantissa here is taken from the bits, exactly as getexp and getmant give
 * them.
 *
 * At 16 bits the lanes too near a boundary are coded again in double
 * precision (coder_avx2_double.cpp). */
#include "coder.h"

#include "avx2.h"

#include <immintrin.h>
#include <type_traits>

/* The path's double-precision coder (coder_avx2_double.cpp). */
int code16_avx2_double(const double* X, int count, const CodeScale& scale, uint16_t* magnitude,
                       uint16_t* phase, int32_t* redo);

namespace {

/* Each lane's code narrowed to T: the first `len` of eight. */
inline void store(uint8_t* to, __m256i v, int len) {
    __m128i words = _mm_packus_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    __m128i bytes = _mm_packus_epi16(words, words);
    if (len == 8) {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(to), bytes);
        return;
    }
    alignas(16) uint8_t all[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(all), bytes);
    for (int k = 0; k < len; k++) to[k] = all[k];
}
inline void store(uint16_t* to, __m256i v, int len) {
    __m128i words = _mm_packus_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    if (len == 8) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to), words);
        return;
    }
    alignas(16) uint16_t all[8];
    _mm_store_si128(reinterpret_cast<__m128i*>(all), words);
    for (int k = 0; k < len; k++) to[k] = all[k];
}

/* For each mask of eight lanes, the lanes set in it, first to last, then
 * zeros: a permutation that packs the indices of those lanes. */
struct Packing {
    alignas(32) int32_t lanes[256][8] = {};
    constexpr Packing() {
        for (int mask = 0; mask < 256; mask++) {
            int n = 0;
            for (int k = 0; k < 8; k++)
                if (mask & (1 << k)) lanes[mask][n++] = k;
        }
    }
};
/* made by the compiler: no code of this file runs before the path is chosen */
constexpr Packing packing;

template <typename T>
int code(const double* X, int count, const CodeScale& scale, T* magnitude, T* phase,
         int32_t* redo) {
    const vf8 white = splat(float(scale.white)), c = splat(float(scale.c));
    const vf8 K = splat(float(scale.K)), half = splat(float(scale.half));
    const ErrorBounds<float> bounds(scale);
    const __m256i iota = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    int redone = 0;
    for (int i = 0; i < count; i += 8) {
        int len = count - i < 8 ? count - i : 8;
        const double* x = X + 2 * i;
        double tail[16];
        if (len < 8) {
            for (int k = 0; k < 16; k++) tail[k] = k < 2 * len ? x[k] : 1.0;
            x = tail;
        }
        /* pairs of coefficients 0 1 | 4 5 and 2 3 | 6 7, so that picking the
         * even and the odd floats of each 128-bit half keeps their order */
        __m256 a = _mm256_set_m128(_mm256_cvtpd_ps(_mm256_loadu_pd(x + 8)),
                                   _mm256_cvtpd_ps(_mm256_loadu_pd(x)));
        __m256 b = _mm256_set_m128(_mm256_cvtpd_ps(_mm256_loadu_pd(x + 12)),
                                   _mm256_cvtpd_ps(_mm256_loadu_pd(x + 4)));
        /* the spectrum is read once, from memory: ask for it 2 KB ahead */
        _mm_prefetch(reinterpret_cast<const char*>(X + 2 * i + 256), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char*>(X + 2 * i + 264), _MM_HINT_T0);
        vf8 re = _mm256_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0));
        vf8 im = _mm256_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1));
        vf8 q = fma(re, re, mul(im, im));

        lanes8 safe = at_least(q, splat(0x1p-100f)) & at_least(splat(0x1p100f), q);
        q = blend(safe, splat(1.0f), q);
        re = blend(safe, splat(1.0f), re);
        /* A magnitude below 1 codes as magnitude 1 does, as 0, and near 1
         * both codes are 0: L is clamped at 0 and never falls back there. */
        vf8 L = _mm256_max_ps(mul(ln_of(q), c), splat(0.0f));
        vf8 P = fma(arg_of(im, re), K, half);
        vf8 err_L = bounds.of_L(L), err_P = bounds.of_P(P);
        __m256i m = integer_code(L, err_L, white, &safe);
        __m256i p = integer_code(abs_of(P), err_P, white, &safe);
        store(magnitude + i, m, len);
        store(phase + i, p, len);
        /* At 8 bits about two coefficients in 10^4 are unsafe: a
         * branch skips the packing. At 16 bits a few lanes in a hundred are,
         * too many for a well predicted branch. */
        unsigned unsafe = ~bits_of(safe) & ((1u << len) - 1);
        if (std::is_same<T, uint8_t>::value && !unsafe) continue;
        __m256i order = _mm256_load_si256(reinterpret_cast<const __m256i*>(packing.lanes[unsafe]));
        __m256i index = _mm256_add_epi32(_mm256_set1_epi32(i), iota);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(redo + redone),
                            _mm256_permutevar8x32_epi32(index, order));
        redone += __builtin_popcount(unsafe);
    }
    if constexpr (std::is_same<T, uint16_t>::value)
        redone = code_again(code16_avx2_double, X, redone, scale, magnitude, phase, redo);
    return redone;
}

} // namespace

int code8_avx2_single(const double* X, int count, const CodeScale& scale, uint8_t* magnitude,
                      uint8_t* phase, int32_t* redo) {
    return code<uint8_t>(X, count, scale, magnitude, phase, redo);
}

int code16_avx2_single(const double* X, int count, const CodeScale& scale, uint16_t* magnitude,
                       uint16_t* phase, int32_t* redo) {
    return code<uint16_t>(X, count, scale, magnitude, phase, redo);
}

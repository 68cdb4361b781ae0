/* coder_avx512_single.cpp - the AVX-512 path's coder for 8- and 16-bit
 * samples in single precision: sixteen coefficients at a time, twice the
 * lanes of the double-precision coder (coder_avx512.cpp). The parts of X
 * are narrowed to floats as they are loaded, and all the rest is single
 * precision.
 *
 * The same approximations as the other coders (coder_kernel.h), to fewer
 * terms: ln f to s^7, atan u to u^11. Each float operation errs by at most
 * 2^-24 of its result; adding up the steps (|X|^2 from the narrowed parts
 * errs by 4 of them), L errs by less than 3.6e-7 c + 1.8e-7 |L| and P by
 * less than 6.6e-7 K + 6e-8 |P| (the angle by 4.7e-7 radians, most of it
 * from unfolding it to pi - r). The bounds used (Precision<float> in
 * vector_math.h) are about twice those; on 10^7 random coefficients the
 * largest errors seen were a third of the bound for L and a fifth of it
 * for P.
 *
 * At 8 bits about one coefficient in ten thousand falls back to the exact
 * formula. At 16 bits the codes are 1/32768 of the scale apart and a few
 * coefficients in a hundred lie too near a boundary: those are coded again
 * in double precision, and only the rare ones still undecided take the
 * exact formula. */
#include "coder.h"

#include "avx512.h"

#include <immintrin.h>
#include <type_traits>

namespace {

typedef __mmask16 mask;

} // namespace

/* The double-precision coder (coder_avx512.cpp). */
int code16_avx512_double(const double* X, int count, const CodeScale& scale, uint16_t* magnitude,
                         uint16_t* phase, int32_t* redo);

namespace {

/* 16 doubles as floats. */
inline vf narrow(__m512d lo, __m512d hi) {
    return _mm512_insertf32x8(_mm512_castps256_ps512(_mm512_cvtpd_ps(lo)), _mm512_cvtpd_ps(hi), 1);
}

inline void store(uint8_t* to, __m512i v, mask lanes) {
    _mm512_mask_cvtepi32_storeu_epi8(to, lanes, v);
}
inline void store(uint16_t* to, __m512i v, mask lanes) {
    _mm512_mask_cvtepi32_storeu_epi16(to, lanes, v);
}

template <typename T>
int code(const double* X, int count, const CodeScale& scale, T* magnitude, T* phase,
         int32_t* redo) {
    const vf white = splat(float(scale.white)), c = splat(float(scale.c));
    const vf K = splat(float(scale.K)), half = splat(float(scale.half));
    const ErrorBounds<float> bounds(scale);
    /* re and im of sixteen coefficients, from two vectors of eight pairs */
    const __m512i even =
        _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30);
    const __m512i odd =
        _mm512_setr_epi32(1, 3, 5, 7, 9, 11, 13, 15, 17, 19, 21, 23, 25, 27, 29, 31);
    const __m512i iota = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    int redone = 0;
    for (int i = 0; i < count; i += 16) {
        int len = count - i < 16 ? count - i : 16;
        mask lanes = mask((1u << len) - 1);
        vf pairs_lo, pairs_hi;
        if (len == 16) {
            pairs_lo = narrow(_mm512_loadu_pd(X + 2 * i), _mm512_loadu_pd(X + 2 * i + 8));
            pairs_hi = narrow(_mm512_loadu_pd(X + 2 * i + 16), _mm512_loadu_pd(X + 2 * i + 24));
        } else {
            __m512d part[4];
            for (int j = 0; j < 4; j++) {
                int left = 2 * len - 8 * j;
                __mmask8 m = __mmask8(left >= 8 ? 0xff : left <= 0 ? 0 : (1u << left) - 1);
                part[j] = _mm512_mask_loadu_pd(_mm512_set1_pd(1.0), m, X + 2 * i + 8 * j);
            }
            pairs_lo = narrow(part[0], part[1]);
            pairs_hi = narrow(part[2], part[3]);
        }
        /* the spectrum is read once, from memory: ask for it 2 KB ahead */
        for (int j = 0; j < 4; j++)
            _mm_prefetch(reinterpret_cast<const char*>(X + 2 * i + 256 + 8 * j), _MM_HINT_T0);
        vf re = _mm512_permutex2var_ps(pairs_lo, even, pairs_hi);
        vf im = _mm512_permutex2var_ps(pairs_lo, odd, pairs_hi);
        vf q = _mm512_fmadd_ps(re, re, _mm512_mul_ps(im, im));

        mask safe = _mm512_cmp_ps_mask(q, splat(0x1p-100f), _CMP_GE_OQ) &
                    _mm512_cmp_ps_mask(q, splat(0x1p100f), _CMP_LE_OQ);
        q = _mm512_mask_blend_ps(safe, splat(1.0f), q);
        re = _mm512_mask_blend_ps(safe, splat(1.0f), re);
        /* A magnitude below 1 codes as magnitude 1 does, as 0, and near 1
         * both codes are 0: L is clamped at 0 and never falls back there. */
        vf L = _mm512_max_ps(_mm512_mul_ps(ln_of(q), c), splat(0.0f));
        vf P = _mm512_fmadd_ps(arg_of(im, re), K, half);
        vf err_L = bounds.of_L(L), err_P = bounds.of_P(P);
        __m512i m = integer_code(L, err_L, white, &safe);
        __m512i p = integer_code(_mm512_abs_ps(P), err_P, white, &safe);
        store(magnitude + i, m, lanes);
        store(phase + i, p, lanes);
        /* without a branch: at 16 bits a few lanes in a hundred are unsafe,
         * too many for a well predicted one */
        mask unsafe = mask(~safe) & lanes;
        __m512i index = _mm512_add_epi32(_mm512_set1_epi32(i), iota);
        _mm512_storeu_si512(redo + redone, _mm512_maskz_compress_epi32(unsafe, index));
        redone += __builtin_popcount(unsafe);
    }
    if constexpr (std::is_same<T, uint16_t>::value)
        redone = code_again(code16_avx512_double, X, redone, scale, magnitude, phase, redo);
    return redone;
}

} // namespace

int code8_avx512_single(const double* X, int count, const CodeScale& scale, uint8_t* magnitude,
                        uint8_t* phase, int32_t* redo) {
    return code<uint8_t>(X, count, scale, magnitude, phase, redo);
}

int code16_avx512_single(const double* X, int count, const CodeScale& scale, uint16_t* magnitude,
                         uint16_t* phase, int32_t* redo) {
    return code<uint16_t>(X, count, scale, magnitude, phase, redo);
}

/* coder_avx512.cpp - the coder's vector path with AVX-512 F, DQ, BW and VL:
 * eight lanes, written with the instruction set's own operations (exponent
 * and mantissa extraction, rounding, masks; avx512.h), which the generic
 * kernel (coder_kernel.h) can only imitate. The same approximations and
 * bounds as there: see that file. */
#include "coder.h"
#include "cpu.h"

#include "avx512.h"

#include <immintrin.h>
#include <type_traits>

namespace {

/* v narrowed to single precision; `safe` is cleared in the lanes that lie
 * within err of the midpoint between two floats. Rounding to nearest is
 * monotonic: where v - err and v + err narrow to the same float, so does
 * every value between them. */
inline __m256 float_code(vd v, vd err, __mmask8* safe) {
    __m256 low = _mm512_cvtpd_ps(_mm512_sub_pd(v, err));
    __m256 high = _mm512_cvtpd_ps(_mm512_add_pd(v, err));
    *safe &= _mm256_cmpeq_epi32_mask(_mm256_castps_si256(low), _mm256_castps_si256(high));
    return _mm512_cvtpd_ps(v);
}

inline void store(uint16_t* to, __m256i v, __mmask8 lanes) {
    _mm256_mask_cvtepi32_storeu_epi16(to, lanes, v);
}
inline void store(float* to, __m256 v, __mmask8 lanes) {
    _mm256_mask_storeu_ps(to, lanes, v);
}

template <typename T>
int code(const double* X, int count, const CodeScale& scale, T* magnitude, T* phase,
         int32_t* redo) {
    const vd white = splat(scale.white), c = splat(scale.c), K = splat(scale.K);
    const vd half = splat(scale.half);
    const ErrorBounds<double> bounds(scale);
    const __m512i even = _mm512_setr_epi64(0, 2, 4, 6, 8, 10, 12, 14);
    const __m512i odd = _mm512_setr_epi64(1, 3, 5, 7, 9, 11, 13, 15);
    int redone = 0;
    for (int i = 0; i < count; i += 8) {
        int len = count - i < 8 ? count - i : 8;
        __mmask8 lanes = __mmask8((1u << len) - 1);
        __mmask16 parts = __mmask16((1u << (2 * len)) - 1);
        vd lo = _mm512_mask_loadu_pd(splat(1.0), __mmask8(parts), X + 2 * i);
        vd hi = _mm512_mask_loadu_pd(splat(1.0), __mmask8(parts >> 8), X + 2 * i + 8);
        vd re = _mm512_permutex2var_pd(lo, even, hi), im = _mm512_permutex2var_pd(lo, odd, hi);
        /* the spectrum is read once, from memory: ask for it 2 KB ahead */
        _mm_prefetch(reinterpret_cast<const char*>(X + 2 * i + 256), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char*>(X + 2 * i + 264), _MM_HINT_T0);

        /* This |X|^2 may be fused, unlike the exact formula's: lanes where
         * the two could fall on either side of 1 are left to that formula. */
        vd q = _mm512_fmadd_pd(re, re, _mm512_mul_pd(im, im));
        __mmask8 safe =
            _mm512_cmp_pd_mask(q, splat(0x1p-1000), _CMP_GE_OQ) &
            _mm512_cmp_pd_mask(q, splat(0x1p1000), _CMP_LE_OQ) &
            _mm512_cmp_pd_mask(abs_of(_mm512_sub_pd(q, splat(1.0))), splat(1e-14), _CMP_GT_OQ);
        q = _mm512_mask_blend_pd(safe, splat(1.0), q);
        re = _mm512_mask_blend_pd(safe, splat(1.0), re);
        vd L = _mm512_mul_pd(ln_of(q), c);
        vd P = _mm512_fmadd_pd(arg_of(im, re), K, half);
        vd err_L = bounds.of_L(L), err_P = bounds.of_P(P);
        if constexpr (!std::is_same<T, float>::value) {
            /* a magnitude below 1 codes as magnitude 1 does: 0 */
            __mmask8 below_one = _mm512_cmp_pd_mask(q, splat(1.0), _CMP_LT_OQ);
            __mmask8 magnitude_safe = safe;
            __m256i m = integer_code(L, err_L, white, &magnitude_safe);
            m = _mm256_maskz_mov_epi32(__mmask8(~below_one), m);
            safe = (below_one & safe) | magnitude_safe;
            __m256i p = integer_code(P, err_P, white, &safe);
            store(magnitude + i, m, lanes);
            store(phase + i, p, lanes);
        } else {
            safe &= _mm512_cmp_pd_mask(abs_of(P), splat(1e-6), _CMP_GT_OQ);
            __m256 m = float_code(L, err_L, &safe);
            __m256 p = float_code(abs_of(P), err_P, &safe);
            store(magnitude + i, m, lanes);
            store(phase + i, p, lanes);
        }
        for (unsigned unsafe = __mmask8(~safe) & lanes; unsafe; unsafe &= unsafe - 1)
            redo[redone++] = i + __builtin_ctz(unsafe);
    }
    return redone;
}

bool runs_here() {
    return cpu_runs_avx512();
}

} // namespace

/* 8- and 16-bit samples, in single precision first: coder_avx512_single.cpp */
int code8_avx512_single(const double* X, int count, const CodeScale& scale, uint8_t* magnitude,
                        uint8_t* phase, int32_t* redo);
int code16_avx512_single(const double* X, int count, const CodeScale& scale, uint16_t* magnitude,
                         uint16_t* phase, int32_t* redo);

int code16_avx512_double(const double* X, int count, const CodeScale& scale, uint16_t* magnitude,
                         uint16_t* phase, int32_t* redo) {
    return code<uint16_t>(X, count, scale, magnitude, phase, redo);
}

/* fill_avx512.cpp, scatter_avx512.cpp, modulus_avx512.cpp, reader_avx512.cpp */
void fill_avx512(const uint8_t* s, int64_t stride, int32_t n, int parity, double* row);
void fill_avx512(const uint16_t* s, int64_t stride, int32_t n, int parity, double* row);
void fill_avx512(const float* s, int64_t stride, int32_t n, int parity, double* row);
void scatter_avx512(uint8_t* out, int64_t stride, const uint8_t* samples, int count);
void scatter_avx512(uint16_t* out, int64_t stride, const uint16_t* samples, int count);
void scatter_avx512(float* out, int64_t stride, const float* samples, int count);
void modulus_avx512(const double* X, int count, double N, uint8_t* out, int64_t stride);
void modulus_avx512(const double* X, int count, double N, uint16_t* out, int64_t stride);
void modulus_avx512(const double* X, int count, double N, float* out, int64_t stride);
int read_avx512(const float* M, const float* P, int64_t stride, int count, double D, double* X,
                int32_t* redo);

/* The AVX-512 path's procedures for samples of type T. */
template <typename T> constexpr SampleProcs<T> avx512_procs(CodeProc<T> code) {
    return {code, fill_avx512, scatter_avx512, modulus_avx512};
}

extern const CoderPath coder_avx512 = {"avx512",
                                       runs_here,
                                       avx512_procs<uint8_t>(code8_avx512_single),
                                       avx512_procs<uint16_t>(code16_avx512_single),
                                       avx512_procs<float>(code<float>),
                                       read_avx512};

/* fill_avx512.cpp - filling a row of reals from a colour plane with
 * AVX-512, eight values at a time: the samples of one plane of an RGB or
 * RGBA row (strides 3 and 4) are picked out of two vector loads by a
 * permutation, widened to doubles, negated where the column's parity says,
 * and stored. The same doubles as the plain loop
 * (steps.h): a negation flips the sign bit there too. Bytes are permuted
 * with VBMI where the processor has it; other strides and processors take
 * the plain loop. */
#include "coder.h"
#include "cpu.h"

#include <immintrin.h>
#include <type_traits>

namespace {

bool has_vbmi() {
    static const bool vbmi = cpu_runs_avx512vbmi();
    return vbmi;
}

/* The 8 samples from[0], from[stride], ..., widened to doubles; the loads
 * read nothing beyond from[7 * stride]. */
template <typename T> __m512d eight(const T* from, int stride, __m512i index);
template <> __m512d eight<uint8_t>(const uint8_t* from, int stride, __m512i index) {
    __m512i v = _mm512_maskz_loadu_epi8((uint64_t(1) << (7 * stride + 1)) - 1, from);
    __m512i picked = _mm512_permutexvar_epi8(index, v);
    return _mm512_cvtepi32_pd(_mm256_cvtepu8_epi32(_mm512_castsi512_si128(picked)));
}
template <> __m512d eight<uint16_t>(const uint16_t* from, int stride, __m512i index) {
    __m512i v = _mm512_maskz_loadu_epi16(__mmask32((uint64_t(1) << (7 * stride + 1)) - 1), from);
    __m512i picked = _mm512_permutexvar_epi16(index, v);
    return _mm512_cvtepi32_pd(_mm256_cvtepu16_epi32(_mm512_castsi512_si128(picked)));
}
template <> __m512d eight<float>(const float* from, int stride, __m512i index) {
    unsigned floats = unsigned(7 * stride + 1);
    __m512 a = _mm512_maskz_loadu_ps(__mmask16(floats >= 16 ? 0xffff : (1u << floats) - 1), from);
    __m512 b =
        _mm512_maskz_loadu_ps(__mmask16(floats <= 16 ? 0 : (1u << (floats - 16)) - 1), from + 16);
    return _mm512_cvtps_pd(_mm512_castps512_ps256(_mm512_permutex2var_ps(a, index, b)));
}

/* row[x] = s[x * stride], negated where x + parity is odd, for x < n. */
template <typename T> void fill(const T* s, int64_t stride, int32_t n, int parity, double* row) {
    int32_t x = 0;
    if ((stride == 3 || stride == 4) && (sizeof(T) != 1 || has_vbmi())) {
        const int st = int(stride);
        /* element k of the index: k * stride, in the element size of T */
        alignas(64) uint8_t bytes[64] = {};
        alignas(64) uint16_t words[32] = {};
        alignas(64) uint32_t dwords[16] = {};
        for (int k = 0; k < 8; k++) {
            bytes[k] = uint8_t(k * st);
            words[k] = uint16_t(k * st);
            dwords[k] = uint32_t(k * st);
        }
        const __m512i index = _mm512_load_si512(sizeof(T) == 1   ? (const void*)bytes
                                                : sizeof(T) == 2 ? (const void*)words
                                                                 : (const void*)dwords);
        /* the sign of the odd columns, from the first of each eight */
        const __m512d sign = _mm512_castsi512_pd(
            _mm512_setr_epi64(0, INT64_MIN, 0, INT64_MIN, 0, INT64_MIN, 0, INT64_MIN));
        const __m512d flip =
            parity & 1 ? _mm512_castsi512_pd(_mm512_set1_epi64(INT64_MIN)) : _mm512_setzero_pd();
        const __m512d signs = _mm512_xor_pd(sign, flip);
        for (; x + 8 <= n; x += 8)
            _mm512_storeu_pd(row + x,
                             _mm512_xor_pd(eight<T>(s + int64_t(x) * stride, st, index), signs));
    }
    for (; x < n; x++) {
        double v = s[int64_t(x) * stride];
        row[x] = (x + parity) & 1 ? -v : v;
    }
}

} // namespace

void fill_avx512(const uint8_t* s, int64_t stride, int32_t n, int parity, double* row) {
    fill(s, stride, n, parity, row);
}
void fill_avx512(const uint16_t* s, int64_t stride, int32_t n, int parity, double* row) {
    fill(s, stride, n, parity, row);
}
void fill_avx512(const float* s, int64_t stride, int32_t n, int parity, double* row) {
    fill(s, stride, n, parity, row);
}

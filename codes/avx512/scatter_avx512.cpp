/* scatter_avx512.cpp - spreading a row of samples into an interleaved
 * picture with AVX-512: for strides of 3 and 4 (RGB and RGBA pictures), each
 * vector of samples is permuted into place within the picture's own bytes,
 * which are read and written back unchanged around them. That is several
 * times faster than a store per sample. Bytes are permuted with VBMI where
 * the processor has it; samples of other strides are stored one by one. */
#include "coder.h"
#include "cpu.h"

#include <immintrin.h>

namespace {

/* For each stride s (3 or 4) and each of the s vectors that G samples span:
 * which sample goes to each element, and the mask of the elements that take
 * one. */
template <int G> struct Layout {
    alignas(64) uint8_t byte_index[2][4][64];
    alignas(64) uint16_t word_index[2][4][32];
    alignas(64) uint32_t dword_index[2][4][16];
    uint64_t mask[2][4];
    Layout() {
        for (int s = 3; s <= 4; s++)
            for (int j = 0; j < s; j++) {
                mask[s - 3][j] = 0;
                for (int e = 0; e < G; e++) {
                    int position = j * G + e, from = position % s == 0 ? position / s : 0;
                    if (position % s == 0) mask[s - 3][j] |= uint64_t(1) << e;
                    byte_index[s - 3][j][e % 64] = uint8_t(from);
                    word_index[s - 3][j][e % 32] = uint16_t(from);
                    dword_index[s - 3][j][e % 16] = uint32_t(from);
                }
            }
    }
};

bool has_vbmi() {
    static const bool vbmi = cpu_runs_avx512vbmi();
    return vbmi;
}

template <typename T> __m512i permute(const void* index, __m512i v);
template <> __m512i permute<uint8_t>(const void* index, __m512i v) {
    return _mm512_permutexvar_epi8(_mm512_load_si512(index), v);
}
template <> __m512i permute<uint16_t>(const void* index, __m512i v) {
    return _mm512_permutexvar_epi16(_mm512_load_si512(index), v);
}
template <> __m512i permute<float>(const void* index, __m512i v) {
    return _mm512_permutexvar_epi32(_mm512_load_si512(index), v);
}

template <typename T> __m512i blend(uint64_t mask, __m512i a, __m512i b);
template <> __m512i blend<uint8_t>(uint64_t mask, __m512i a, __m512i b) {
    return _mm512_mask_blend_epi8(mask, a, b);
}
template <> __m512i blend<uint16_t>(uint64_t mask, __m512i a, __m512i b) {
    return _mm512_mask_blend_epi16(__mmask32(mask), a, b);
}
template <> __m512i blend<float>(uint64_t mask, __m512i a, __m512i b) {
    return _mm512_mask_blend_epi32(__mmask16(mask), a, b);
}

template <typename T> void scatter(T* out, int64_t stride, const T* samples, int count) {
    const int G = 64 / sizeof(T);
    static const Layout<G> layout;
    int done = 0;
    if ((stride == 3 || stride == 4) && (sizeof(T) != 1 || has_vbmi())) {
        const int s = int(stride);
        /* the groups whose vectors end at or before the last sample: only
         * the picture's bytes from the first sample to the last are read
         * and written back */
        for (; done + G < count; done += G) {
            __m512i v = _mm512_loadu_si512(samples + done);
            T* to = out + int64_t(done) * s;
            for (int j = 0; j < s; j++) {
                const void* index = sizeof(T) == 1   ? (const void*)layout.byte_index[s - 3][j]
                                    : sizeof(T) == 2 ? (const void*)layout.word_index[s - 3][j]
                                                     : (const void*)layout.dword_index[s - 3][j];
                __m512i kept = _mm512_loadu_si512(to + j * G);
                _mm512_storeu_si512(to + j * G,
                                    blend<T>(layout.mask[s - 3][j], kept, permute<T>(index, v)));
            }
        }
    }
    for (; done < count; done++) out[done * stride] = samples[done];
}

} // namespace

void scatter_avx512(uint8_t* out, int64_t stride, const uint8_t* samples, int count) {
    scatter(out, stride, samples, count);
}
void scatter_avx512(uint16_t* out, int64_t stride, const uint16_t* samples, int count) {
    scatter(out, stride, samples, count);
}
void scatter_avx512(float* out, int64_t stride, const float* samples, int count) {
    scatter(out, stride, samples, count);
}

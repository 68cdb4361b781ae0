/* avx512.h - small helpers shared by the AVX-512 files of the coder, and
 * included by those alone: they are compiled for AVX-512 in each, with
 * internal linkage, so no copy can be called on a processor without it. */
#ifndef SPECTRA_AVX512_H
#define SPECTRA_AVX512_H

#include <immintrin.h>

namespace {

inline __m512d splat(double x) {
    return _mm512_set1_pd(x);
}

inline __m512 splat(float x) {
    return _mm512_set1_ps(x);
}

/* c[0] x^(n-1) + c[1] x^(n-2) + ... + c[n-1], by Horner's rule. */
template <int n> inline __m512d horner(__m512d x, const double (&c)[n]) {
    __m512d p = splat(c[0]);
    for (int i = 1; i < n; i++) p = _mm512_fmadd_pd(p, x, splat(c[i]));
    return p;
}

template <int n> inline __m512 horner(__m512 x, const float (&c)[n]) {
    __m512 p = splat(c[0]);
    for (int i = 1; i < n; i++) p = _mm512_fmadd_ps(p, x, splat(c[i]));
    return p;
}

} // namespace

#endif

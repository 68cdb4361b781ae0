/* approx_avx2.cpp - the fast path of approx.cpp, four lanes with AVX2 and FMA. */
#define SPECTRA_APPROX approximate_avx2
#define SPECTRA_APPROX_VARIANT
#define SPECTRA_LANES 4
#include "approx.cpp"

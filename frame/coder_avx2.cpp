/* coder_avx2.cpp - the coder's vector path with AVX2 and FMA: four lanes of
 * doubles at 32 bits and for the 16-bit coder's second pass; 8- and 16-bit
 * samples in single precision (coder_avx2_single.cpp). */
#include "coder.h"

int code8_avx2_single(const double* X, int count, const CodeScale& scale, uint8_t* magnitude,
                      uint8_t* phase, int32_t* redo);
int code16_avx2_single(const double* X, int count, const CodeScale& scale, uint16_t* magnitude,
                       uint16_t* phase, int32_t* redo);

#define SPECTRA_LANES 4
#define SPECTRA_PATH avx2
#define SPECTRA_PATH_STRING "avx2"
#define SPECTRA_PATH_RUNS_HERE                                                                     \
    [] {                                                                                           \
        __builtin_cpu_init();                                                                      \
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");                    \
    }
#define SPECTRA_CODE8 code8_avx2_single
#define SPECTRA_CODE16 code16_avx2_single
#include "coder_kernel.h"

int code16_avx2_double(const double* X, int count, const CodeScale& scale, uint16_t* magnitude,
                       uint16_t* phase, int32_t* redo) {
    return code<uint16_t>(X, count, scale, magnitude, phase, redo);
}

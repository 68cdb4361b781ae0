/* coder_avx2.cpp - the coder's vector path with AVX2 and FMA: four lanes. */
#define SPECTRA_LANES 4
#define SPECTRA_PATH avx2
#define SPECTRA_PATH_STRING "avx2"
#define SPECTRA_PATH_RUNS_HERE                                                                     \
    [] {                                                                                           \
        __builtin_cpu_init();                                                                      \
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");                    \
    }
#include "coder_kernel.h"

/* coder_avx2.cpp - the coder's vector path with AVX2 and FMA: 8- and 16-bit
 * samples in single precision, eight at a time (coder_avx2_single.cpp), and
 * 32-bit samples in double precision, four at a time
 * (coder_avx2_double.cpp); the inverse's moduli and its 32-bit reading
 * four at a time (modulus_avx2.cpp, reader_avx2.cpp). Filling and
 * scattering take the plain loops. */
#include "coder.h"
#include "cpu.h"

int code8_avx2_single(const double* X, int count, const CodeScale& scale, uint8_t* magnitude,
                      uint8_t* phase, int32_t* redo);
int code16_avx2_single(const double* X, int count, const CodeScale& scale, uint16_t* magnitude,
                       uint16_t* phase, int32_t* redo);
int code32_avx2_double(const double* X, int count, const CodeScale& scale, float* magnitude,
                       float* phase, int32_t* redo);
void modulus_avx2(const double* X, int count, double N, uint8_t* out, int64_t stride);
void modulus_avx2(const double* X, int count, double N, uint16_t* out, int64_t stride);
void modulus_avx2(const double* X, int count, double N, float* out, int64_t stride);
int read_avx2(const float* M, const float* P, int64_t stride, int count, double D, double* X,
              int32_t* redo);

namespace {

bool runs_here() {
    return cpu_runs_avx2_fma();
}

} // namespace

extern const CoderPath coder_avx2 = {"avx2",
                                     runs_here,
                                     {code8_avx2_single, nullptr, nullptr, modulus_avx2},
                                     {code16_avx2_single, nullptr, nullptr, modulus_avx2},
                                     {code32_avx2_double, nullptr, nullptr, modulus_avx2},
                                     read_avx2};

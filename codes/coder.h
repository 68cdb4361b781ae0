/* coder.h - the vector paths of the coefficient coder (coder_kernel.h) and
 * the choice among them.
 *
 * A path codes a run of coefficients into magnitude and phase samples with
 * fast approximations of ln |X|^2 and arg X, several coefficients at a time,
 * and hands back the coefficients whose samples it could not vouch for: those
 * the caller codes with the exact formula (fast_codes.h). */
#ifndef SPECTRA_CODER_H
#define SPECTRA_CODER_H

#include <cstdint>

/* How ln |X|^2 and arg X become the samples of a depth. */
struct CodeScale {
    double c;      /* L = ln |X|^2 * c: 1 / (2 ln 10 D) */
    double K;      /* P = arg X * K + half: degrees per radian times white / 360 */
    double half;   /* white / 2 */
    double white;  /* 255, 32768, or 1 */
    double margin; /* 1; tests shrink it to show that a wrong bound is caught */
};

/* Codes X[0] to X[count - 1] (real and imaginary parts in turn) into
 * magnitude[i] and phase[i], and stores in redo[] the indices whose samples
 * need the exact formula; returns how many there are. The samples at those
 * indices are left written with something else. redo[] has room for count
 * rounded up to a multiple of 16: a path may write a whole vector of
 * indices past the last one it keeps. */
template <typename T>
using CodeProc = int (*)(const double* X, int count, const CodeScale& scale, T* magnitude, T* phase,
                         int32_t* redo);

/* The single-precision coders' second pass at 16 bits: the coefficients at
 * redo[0] to redo[count - 1] of X coded again by `code`, a double-precision
 * coder, into magnitude[] and phase[]. Returns how many of them still need
 * the exact formula, and leaves their indices at the start of redo[]. */
int code_again(CodeProc<uint16_t> code, const double* X, int count, const CodeScale& scale,
               uint16_t* magnitude, uint16_t* phase, int32_t* redo);

/* A forward transform's first step for one row of reals: row[x] =
 * s[x * stride], negated where x + parity is odd, for x < n. */
template <typename T>
using FillProc = void (*)(const T* s, int64_t stride, int32_t n, int parity, double* row);

/* Copies samples[i] to out[i * stride] for i < count; other bytes between
 * the first and the last written may be read and written back unchanged. */
template <typename T>
using ScatterProc = void (*)(T* out, int64_t stride, const T* samples, int count);

/* The inverse's last step: the sample of |X[i] / N| into out[i * stride],
 * by the plain loop's IEEE operations. */
template <typename T>
using ModulusProc = void (*)(const double* X, int count, double N, T* out, int64_t stride);

/* The 32-bit inverse's reading: the coefficients coded by the samples
 * M[i * stride] and P[i * stride] into X (real and imaginary parts in turn),
 * for magnitude divisor D; stores in redo[] the indices left to the plain
 * reader and returns how many there are. */
typedef int (*ReadProc)(const float* M, const float* P, int64_t stride, int count, double D,
                        double* X, int32_t* redo);

/* A path's procedures for one sample type. Null ones are done by the plain
 * loops. */
template <typename T> struct SampleProcs {
    CodeProc<T> code;
    FillProc<T> fill;
    ScatterProc<T> scatter;
    ModulusProc<T> modulus;
};

struct CoderPath {
    const char* name;
    bool (*runs_here)(); /* whether this processor has the instructions */
    SampleProcs<uint8_t> samples8;
    SampleProcs<uint16_t> samples16;
    SampleProcs<float> samples32;
    ReadProc read32;
};

/* A path's procedures for samples of type T. */
template <typename T> const SampleProcs<T>& procs_for(const CoderPath& path);
template <> inline const SampleProcs<uint8_t>& procs_for<uint8_t>(const CoderPath& path) {
    return path.samples8;
}
template <> inline const SampleProcs<uint16_t>& procs_for<uint16_t>(const CoderPath& path) {
    return path.samples16;
}
template <> inline const SampleProcs<float>& procs_for<float>(const CoderPath& path) {
    return path.samples32;
}

/* Every path this build has, best last, and how many there are: portable
 * (two lanes; SSE2 on x86-64), then on x86-64 AVX2 with FMA (four lanes) and
 * AVX-512 F, DQ, BW and VL (eight). */
extern const CoderPath* const coder_paths[];
extern const int coder_path_count;

/* The path of that name ("portable", "avx2", "avx512") if it runs here,
 * else the best that does. */
const CoderPath& coder_named(const char* name);

/* coder_named() of the environment variable SPECTRA_CODER, once per process:
 * benchmarks and tests use it to try each path in the plug-ins. */
const CoderPath& coder_for_this_machine();

#endif

/* coder.cpp - the choice of the coder's path for this processor, and the
 * 16-bit coders' second pass, which every single-precision path shares. */
#include "coder.h"

#include <cstdlib>
#include <cstring>

extern const CoderPath coder_portable;
#if defined(SPECTRA_HAVE_AVX2)
extern const CoderPath coder_avx2, coder_avx512;
const CoderPath* const coder_paths[] = {&coder_portable, &coder_avx2, &coder_avx512};
#else
const CoderPath* const coder_paths[] = {&coder_portable};
#endif
const int coder_path_count = sizeof coder_paths / sizeof coder_paths[0];

const CoderPath& coder_named(const char* wanted) {
    const CoderPath* best = &coder_portable;
    for (const CoderPath* path : coder_paths) {
        if (!path->runs_here()) continue;
        if (wanted && std::strcmp(wanted, path->name) == 0) return *path;
        best = path;
    }
    return *best;
}

const CoderPath& coder_for_this_machine() {
    static const CoderPath& chosen = coder_named(std::getenv("SPECTRA_CODER"));
    return chosen;
}

int code_again(CodeProc<uint16_t> code, const double* X, int count, const CodeScale& scale,
               uint16_t* magnitude, uint16_t* phase, int32_t* redo) {
    const int block = 256;
    double again[2 * block];
    uint16_t m[block], p[block];
    int32_t left[block + 16];
    int kept = 0;
    for (int start = 0; start < count; start += block) {
        int len = count - start < block ? count - start : block;
        for (int j = 0; j < len; j++) {
            again[2 * j] = X[2 * redo[start + j]];
            again[2 * j + 1] = X[2 * redo[start + j] + 1];
        }
        int r = code(again, len, scale, m, p, left);
        for (int j = 0; j < len; j++) {
            magnitude[redo[start + j]] = m[j];
            phase[redo[start + j]] = p[j];
        }
        /* in place: each index kept lies at or after the place it takes */
        for (int j = 0; j < r; j++) redo[kept++] = redo[start + left[j]];
    }
    return kept;
}

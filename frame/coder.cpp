/* coder.cpp - the coder's portable vector path (two lanes), and the choice of
 * the path for this processor. */
#define SPECTRA_LANES 2
#define SPECTRA_PATH portable
#define SPECTRA_PATH_STRING "portable"
#define SPECTRA_PATH_RUNS_HERE [] { return true; }
#include "coder_kernel.h"

#include <cstdlib>
#include <cstring>

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

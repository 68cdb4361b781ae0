/* axes.cpp - the axis-by-axis complex DFT (axes.h). */
#include "axes.h"
#include "frame.h"
#include "parallel.h"

#include <cstring>

namespace {

/* Columns gathered at a time: 16 complex values are four cache lines of a
 * row. Narrower blocks cost more calls; wider ones spill a long column's
 * block out of the cache (both slower on the development machine). */
const int32_t block = 16;

/* A gathered column starts a cache line further on than a column of the
 * axis's length would: at power-of-two lengths the block's 16 columns
 * would otherwise start in the same cache set, more of them than a set
 * holds, and gathering and putting back would evict each other's lines
 * (2048 x 1025 values: 14.1 ms against 10.9 for the whole pass). */
const int32_t pad = 4;

/* Axes of at most this many values are not gathered. */
const int32_t short_axis = 16;

/* The DFT of length `length` down each of the `width` columns of `repeats`
 * consecutive length x width arrays at `a`, in place. Each thread gathers
 * `block` columns into its own block, one after another, transforms them
 * there with a plan for one thread, and puts them back. FFTW_ESTIMATE plans
 * contiguous columns far better than interleaved ones: 16 columns of 4000
 * values took 9.7 ms against 24.4 interleaved (a measured plan, 7.4). */
int16_t transform_columns(fftw_complex* a, int32_t length, int64_t width, int32_t repeats,
                          int sign) {
    /* A short axis, such as the volume's three colours, is one batched plan
     * over FFTW's threads, which walks the rows in order: gathered, its
     * columns would cost a call of FFTW each for a few values. */
    if (length <= short_axis) {
        fftw_iodim axis = {length, int(width), int(width)};
        fftw_iodim others[2] = {{int(width), 1, 1},
                                {repeats, int(width) * length, int(width) * length}};
        fftw_plan plan = spectra_fault()
                             ? nullptr
                             : fftw_plan_guru_dft(1, &axis, 2, others, a, a, sign, FFTW_ESTIMATE);
        if (!plan) return memFullErr;
        fftw_execute(plan);
        fftw_destroy_plan(plan);
        return noErr;
    }
    const int64_t blocks = (width + block - 1) / block * repeats;
    const int64_t parts = threads_for(blocks);
    const int32_t distance = length + pad;
    const int64_t per_part = int64_t(distance) * block;
    fftw_complex* gathered =
        spectra_fault() ? nullptr
                        : static_cast<fftw_complex*>(
                              fftw_malloc(sizeof(fftw_complex) * size_t(parts * per_part)));
    if (!gathered) return memFullErr;

    /* One plan serves every thread: FFTW executes a plan on other arrays of
     * the same alignment, from any thread. */
    const int threads = fftw_planner_nthreads();
    fftw_plan_with_nthreads(1);
    fftw_plan plan = spectra_fault()
                         ? nullptr
                         : fftw_plan_many_dft(1, &length, block, gathered, nullptr, 1, distance,
                                              gathered, nullptr, 1, distance, sign, FFTW_ESTIMATE);
    fftw_plan_with_nthreads(threads);
    if (!plan) {
        fftw_free(gathered);
        return memFullErr;
    }

    const int64_t per_repeat = (width + block - 1) / block;
    over_rows(int32_t(parts), least_per_thread, [&](int32_t first, int32_t end) {
        for (int32_t part = first; part < end; part++) {
            fftw_complex* g = gathered + part * per_part;
            for (int64_t i = blocks * part / parts; i < blocks * (part + 1) / parts; i++) {
                fftw_complex* array = a + i / per_repeat * length * width;
                const int64_t x = i % per_repeat * block;
                const int64_t count = width - x < block ? width - x : block;
                for (int32_t y = 0; y < length; y++) {
                    const fftw_complex* row = array + y * width + x;
                    for (int64_t c = 0; c < count; c++) {
                        g[c * distance + y][0] = row[c][0];
                        g[c * distance + y][1] = row[c][1];
                    }
                }
                if (count < block)
                    std::memset(g + count * distance, 0,
                                sizeof(fftw_complex) * size_t((block - count) * distance));
                fftw_execute_dft(plan, g, g);
                for (int32_t y = 0; y < length; y++) {
                    fftw_complex* row = array + y * width + x;
                    for (int64_t c = 0; c < count; c++) {
                        row[c][0] = g[c * distance + y][0];
                        row[c][1] = g[c * distance + y][1];
                    }
                }
            }
        }
        return int64_t(0);
    });
    fftw_destroy_plan(plan);
    fftw_free(gathered);
    return noErr;
}

/* The axes other than the last, innermost first, as columns of the axes
 * within them; `width` values make a row of the last. */
int16_t transform_outer_axes(fftw_complex* a, int64_t width, const int32_t dims[], int rank,
                             int sign) {
    for (int axis = rank - 2; axis >= 0; axis--) {
        int32_t repeats = 1;
        for (int b = 0; b < axis; b++) repeats *= dims[b];
        if (dims[axis] > 1)
            if (int16_t error = transform_columns(a, dims[axis], width, repeats, sign))
                return error;
        width *= dims[axis];
    }
    return noErr;
}

int32_t outer_rows(const int32_t dims[], int rank) {
    int32_t rows = 1;
    for (int axis = 0; axis + 1 < rank; axis++) rows *= dims[axis];
    return rows;
}

} // namespace

/* The last axis's rows are contiguous: one batched plan over FFTW's threads
 * does them all. */
int16_t transform_axes(fftw_complex* in, fftw_complex* out, const int32_t dims[], int rank,
                       int sign) {
    int32_t length = dims[rank - 1], rows = outer_rows(dims, rank);
    fftw_plan plan = spectra_fault()
                         ? nullptr
                         : fftw_plan_many_dft(1, &length, rows, in, nullptr, 1, length, out,
                                              nullptr, 1, length, sign, FFTW_ESTIMATE);
    if (!plan) return memFullErr;
    fftw_execute(plan);
    fftw_destroy_plan(plan);
    return transform_outer_axes(out, length, dims, rank, sign);
}

int16_t transform_real_axes(double* in, int64_t in_row, fftw_complex* out, const int32_t dims[],
                            int rank) {
    int32_t length = dims[rank - 1], m = length / 2 + 1, rows = outer_rows(dims, rank);
    fftw_plan plan = spectra_fault()
                         ? nullptr
                         : fftw_plan_many_dft_r2c(1, &length, rows, in, nullptr, 1, int(in_row),
                                                  out, nullptr, 1, m, FFTW_ESTIMATE);
    if (!plan) return memFullErr;
    fftw_execute(plan);
    fftw_destroy_plan(plan);
    return transform_outer_axes(out, m, dims, rank, FFTW_FORWARD);
}

/* The outer axes first, as complex columns of the half; then the rows,
 * each of which is now the half spectrum of a real row. */
int16_t transform_real_axes_back(fftw_complex* in, double* out, int64_t out_row,
                                 const int32_t dims[], int rank) {
    int32_t length = dims[rank - 1], m = length / 2 + 1, rows = outer_rows(dims, rank);
    if (int16_t error = transform_outer_axes(in, m, dims, rank, FFTW_BACKWARD)) return error;
    fftw_plan plan = spectra_fault()
                         ? nullptr
                         : fftw_plan_many_dft_c2r(1, &length, rows, in, nullptr, 1, m, out, nullptr,
                                                  1, int(out_row), FFTW_ESTIMATE);
    if (!plan) return memFullErr;
    fftw_execute(plan);
    fftw_destroy_plan(plan);
    return noErr;
}

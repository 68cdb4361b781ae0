/* parallel.h - the bodies' row loops that compute around the transforms
 * (coding, the inverse's reading of codes and writing of moduli, the
 * descreen's passes over its spectrum) spread over the machine's threads,
 * as FFTW spreads the transforms between them. Without it one core codes
 * while the others wait: coding costs as much as a fifth of a run.
 *
 * Every row's samples are computed alone, so the picture is the same
 * whatever the number of threads. */
#ifndef SPECTRA_PARALLEL_H
#define SPECTRA_PARALLEL_H

#include "float_state.h"

#include <cstdint>
#if defined(__APPLE__)
/* The macOS bundles import from libSystem alone, and std::thread lives in
 * libc++: their helpers are POSIX threads. */
#include <pthread.h>
#include <unistd.h>
#else
#include <thread>
#endif

/* The machine's hardware threads; 0 where it cannot tell. */
inline unsigned hardware_threads() {
#if defined(__APPLE__)
    long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? unsigned(n) : 0;
#else
    return std::thread::hardware_concurrency();
#endif
}

/* Each thread takes at least this many coefficients (about a tenth of a
 * millisecond of coding): fewer are not worth making a thread for. */
const int64_t least_per_thread = int64_t(1) << 15;

/* The threads for work that splits into at most `most` parts: as many as
 * the machine has, at most 64, at least 1. */
inline int64_t threads_for(int64_t most) {
    int64_t parts = int64_t(hardware_threads());
    if (parts > 64) parts = 64;
    if (parts > most) parts = most;
    return parts < 1 ? 1 : parts;
}

/* Calls work(first, end) for consecutive runs of rows [first, end) that
 * cover rows 0 to rows - 1, on up to as many threads as the machine has,
 * the calling thread among them, and returns the sum of what the calls
 * return. Each row holds `per_row` coefficients. A helper thread computes
 * in the plug-ins' floating-point state: on Windows a new thread starts in
 * the system's, whose x87 unit rounds to 53 bits. If no thread can be
 * made, the calling thread does the rest. */
template <typename Work> int64_t over_rows(int32_t rows, int64_t per_row, Work work) {
    const int64_t most = rows * per_row / least_per_thread;
    const int64_t parts = threads_for(most < rows ? most : rows);
    if (parts <= 1) return work(int32_t(0), rows);

    const int max_helpers = 63;
    int64_t sums[max_helpers] = {};
    int32_t start = int32_t(rows / parts), started = start;
#if defined(__APPLE__)
    struct Part {
        Work* work;
        int32_t first, end;
        int64_t* sum;
    } part[max_helpers];
    pthread_t helpers[max_helpers];
    bool made[max_helpers] = {};
    for (int64_t h = 0; h + 1 < parts; h++) {
        int32_t first = int32_t(rows * (h + 1) / parts), end = int32_t(rows * (h + 2) / parts);
        part[h] = Part{&work, first, end, &sums[h]};
        made[h] = pthread_create(
                      &helpers[h], nullptr,
                      [](void* p) -> void* {
                          Part& part = *static_cast<Part*>(p);
                          (void)enter_plugin_float_state();
                          *part.sum = (*part.work)(part.first, part.end);
                          return nullptr;
                      },
                      &part[h]) == 0;
        if (!made[h]) break;
        started = end;
    }
    int64_t sum = work(int32_t(0), start);
    if (started < rows) sum += work(started, rows);
    for (int64_t h = 0; h + 1 < parts; h++) {
        if (made[h]) pthread_join(helpers[h], nullptr);
        sum += sums[h];
    }
#else
    std::thread helpers[max_helpers];
    for (int64_t h = 0; h + 1 < parts; h++) {
        int32_t first = int32_t(rows * (h + 1) / parts), end = int32_t(rows * (h + 2) / parts);
        try {
            helpers[h] = std::thread([&work, &sums, h, first, end] {
                (void)enter_plugin_float_state();
                sums[h] = work(first, end);
            });
        } catch (...) {
            break;
        }
        started = end;
    }
    int64_t sum = work(int32_t(0), start);
    if (started < rows) sum += work(started, rows);
    for (int64_t h = 0; h + 1 < parts; h++) {
        if (helpers[h].joinable()) helpers[h].join();
        sum += sums[h];
    }
#endif
    return sum;
}

#endif

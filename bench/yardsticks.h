/* yardsticks.h - what the bench measures each plug-in's Continue call
 * against, for one case (plug-in, depth, size):
 *
 * - the plans: the same FFTW plans and executions on the same sizes, with
 *   no filling and no coding;
 * - the best floor: the plug-in's own filling, FFTW's best plan of the same
 *   transform (real-to-complex where the input is real), made ahead from
 *   FFTW_MEASURE and not timed, and a pass that writes the samples the
 *   codes take (for a real input, those of the mirrored half read from the
 *   half computed). What a plug-in costs beyond it is the cost of its plans
 *   and its codes;
 * - the bare pipeline: everything a plug-in must do at the least around
 *   its own plans, at the plug-in's own depth. A fresh buffer with the
 *   huge-page advice, filled from the interleaved picture with the
 *   centring sign by the plug-ins' own step (the inverse: two samples per
 *   coefficient taken as they are), the same plans and executions, and a
 *   pass that reads the whole result and writes two samples per coefficient,
 *   the mirrored half's from the half computed (the inverse: one per
 *   value), into the picture at its stride, as the plug-ins write theirs,
 *   the pass and the inverse's copying on every thread as the plug-ins'
 *   coding and reading are. It computes no code: what a plug-in costs
 *   beyond it is the cost of its codes. */
#ifndef SPECTRA_BENCH_YARDSTICKS_H
#define SPECTRA_BENCH_YARDSTICKS_H

#include "parallel.h"
#include "steps.h"

#include <chrono>
#include <cstdint>
#include <cstring>
#include <fftw3.h>
#include <string>
#include <vector>

struct Case {
    std::string plugin;
    int depth, columns, rows;
};

inline double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

/* SpectraRow's scheme: `count` rows of N reals, each transformed by a plan
 * for one thread, on every thread with buffers of its own. before(i, real)
 * fills row i; after(i, spectrum) takes its N / 2 + 1 values. */
template <typename Before, typename After>
void rows_on_threads(int N, int32_t count, Before before, After after) {
    double* r = fftw_alloc_real(size_t(N));
    fftw_complex* s = fftw_alloc_complex(size_t(N / 2 + 1));
    const int threads = fftw_planner_nthreads();
    fftw_plan_with_nthreads(1);
    fftw_plan p = fftw_plan_dft_r2c_1d(N, r, s, FFTW_ESTIMATE);
    fftw_plan_with_nthreads(threads);
    over_rows(count, N, [&](int32_t first, int32_t end) {
        double* x = fftw_alloc_real(size_t(N));
        fftw_complex* X = fftw_alloc_complex(size_t(N / 2 + 1));
        for (int32_t i = first; i < end; i++) {
            before(i, x);
            fftw_execute_dft_r2c(p, x, X);
            after(i, X);
        }
        fftw_free(x);
        fftw_free(X);
        return int64_t(0);
    });
    fftw_destroy_plan(p);
    fftw_free(r);
    fftw_free(s);
}

/* Seconds for the plans, executions and destructions of one run. */
struct Floor {
    const Case& c;
    uint64_t bytes() const {
        uint64_t n = uint64_t(c.columns / 2), rows = uint64_t(c.rows);
        if (c.plugin == "SpectraVolume") return 16 * 3 * rows * (n / 2 + 1);
        if (c.plugin == "SpectraRow") {
            uint64_t N = uint64_t(c.columns - 2);
            return 8 * N + 16 * (N / 2 + 1);
        }
        return 16 * ((rows + 4) * (n + 4) + 4);
    }
    double run(void* a) const {
        int n = c.columns / 2, rows = c.rows;
        double start = now();
        if (c.plugin == "SpectraVolume") {
            const int32_t dims[] = {3, rows, n};
            transform_real_axes(static_cast<double*>(a), 2 * (n / 2 + 1),
                                static_cast<fftw_complex*>(a), dims, 3);
        } else if (c.plugin == "SpectraRow") {
            rows_on_threads(
                c.columns - 2, 3 * rows, [](int32_t, double*) {}, [](int32_t, fftw_complex*) {});
        } else if (c.plugin == "SpectraPlaneInverse") {
            const int32_t dims[] = {rows, n};
            for (int k = 0; k < 3; k++)
                transform_axes(static_cast<fftw_complex*>(a), static_cast<fftw_complex*>(a), dims,
                               2, FFTW_BACKWARD);
        } else {
            const int32_t dims[] = {rows, n};
            for (int k = 0; k < 3; k++)
                transform_real_axes(static_cast<double*>(a), 2 * (n / 2 + 1),
                                    static_cast<fftw_complex*>(a), dims, 2);
        }
        return now() - start;
    }
};

/* A sample from a value without computing a code: the top bits of the
 * double, or the float it narrows to. */
template <typename T> inline T bare_sample(double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return T(bits >> (64 - 8 * sizeof(T)));
}
template <> inline float bare_sample<float>(double v) {
    return float(v);
}

/* Seconds for one bare run on `in`, writing into `out`. */
template <typename T> struct Bare {
    const Case& c;
    Samples<const T> in;
    Samples<T> out;

    static void* fresh(uint64_t bytes) {
        void* p = fftw_malloc(bytes);
        if (p) prefer_huge_pages(p, bytes);
        return p;
    }
    /* The inverse's filling: the two samples of each coefficient as they
     * are. */
    void fill(fftw_complex* to, int k, int rows, int n) const {
        over_rows(rows, n, [&](int32_t first, int32_t end) {
            for (int y = first; y < end; y++)
                for (int x = 0; x < n; x++) {
                    to[int64_t(y) * n + x][0] = in.at(x, y, k);
                    to[int64_t(y) * n + x][1] = in.at(x + n, y, k);
                }
            return int64_t(0);
        });
    }
    /* count samples of values at `from` (a stride of 2 doubles) into the
     * picture at `to`, as the plug-ins write theirs: a block at a time,
     * spread by the path's scatter where it has one. */
    static void write(const double* from, int64_t count, T* to, int64_t stride) {
        const ScatterProc<T> scatter = procs_for<T>(coder_for_this_machine()).scatter;
        const int block = 1024;
        T s[block];
        for (int64_t start = 0; start < count; start += block) {
            int len = int(count - start < block ? count - start : int64_t(block));
            for (int i = 0; i < len; i++) s[i] = bare_sample<T>(from[2 * (start + i)]);
            if (scatter) {
                scatter(to + start * stride, stride, s, len);
            } else {
                for (int i = 0; i < len; i++) to[(start + i) * stride] = s[i];
            }
        }
    }
    /* Both samples of the n coefficients of each row of plane k of a real
     * input's spectrum, of which columns 0 to m - 1 were computed (rows m
     * values apart): the others are the mirror images of those in
     * `mirror` (steps.h). */
    void pass_mirrored(const fftw_complex* spectrum, const fftw_complex* mirror, int k, int rows,
                       int n) const {
        const int m = n / 2 + 1;
        over_rows(rows, n, [&](int32_t first, int32_t end) {
            std::vector<double> row(2 * size_t(n));
            for (int y = first; y < end; y++) {
                const fftw_complex* s = spectrum + int64_t(y) * m;
                const fftw_complex* t = mirror + int64_t((rows - y) % rows) * m;
                for (int u = 0; u < n; u++) {
                    row[2 * size_t(u)] = u < m ? s[u][0] : t[n - u][0];
                    row[2 * size_t(u) + 1] = u < m ? s[u][1] : -t[n - u][1];
                }
                write(&row[0], n, &out.at(0, y, k), out.planes);
                write(&row[1], n, &out.at(n, y, k), out.planes);
            }
            return int64_t(0);
        });
    }
    /* One sample of each value (the inverse's moduli). */
    void pass(const fftw_complex* from, int k, int rows, int n) const {
        over_rows(rows, n, [&](int32_t first, int32_t end) {
            for (int y = first; y < end; y++) {
                const double* row = from[int64_t(y) * n];
                write(row, n, &out.at(0, y, k), out.planes);
            }
            return int64_t(0);
        });
    }
    double run() const {
        int n = c.columns / 2, rows = c.rows;
        double start = now();
        Floor floor{c};
        if (c.plugin == "SpectraRow") {
            int N = c.columns - 2, m = N / 2 + 1;
            rows_on_threads(
                N, 3 * rows,
                [&](int32_t i, double* real) {
                    for (int x = 0; x < N; x++) real[x] = in.at(x, i % rows, i / rows);
                },
                [&](int32_t i, fftw_complex* spectrum) {
                    write(spectrum[0], m, &out.at(0, i % rows, i / rows), out.planes);
                    write(spectrum[0] + 1, m, &out.at(m, i % rows, i / rows), out.planes);
                });
        } else if (c.plugin == "SpectraVolume") {
            int64_t m = n / 2 + 1, count = int64_t(rows) * 2 * m;
            fftw_complex* b = static_cast<fftw_complex*>(fresh(16 * 3 * size_t(rows * m)));
            double* a = reinterpret_cast<double*>(b);
            for (int k = 0; k < 3; k++) fill_real_centred<T>(a + k * count, 2 * m, in, k, rows, n);
            const int32_t dims[] = {3, rows, n};
            transform_real_axes(a, 2 * m, b, dims, 3);
            for (int k = 0; k < 3; k++)
                pass_mirrored(b + k * rows * m, b + (3 - k) % 3 * rows * m, k, rows, n);
            fftw_free(b);
        } else if (c.plugin == "SpectraPlaneInverse") {
            fftw_complex* buffer = static_cast<fftw_complex*>(fresh(floor.bytes()));
            const int32_t dims[] = {rows, n};
            for (int k = 0; k < 3; k++) {
                fill(buffer, k, rows, n);
                transform_axes(buffer, buffer, dims, 2, FFTW_BACKWARD);
                pass(buffer, k, rows, n);
            }
            fftw_free(buffer);
        } else {
            fftw_complex* buffer = static_cast<fftw_complex*>(fresh(floor.bytes()));
            double* real = reinterpret_cast<double*>(buffer);
            const int32_t dims[] = {rows, n}, m = n / 2 + 1;
            for (int k = 0; k < 3; k++) {
                fill_real_centred<T>(real, 2 * m, in, k, rows, n);
                transform_real_axes(real, 2 * m, buffer, dims, 2);
                pass_mirrored(buffer, buffer, k, rows, n);
            }
            fftw_free(buffer);
        }
        return now() - start;
    }
};

/* Seconds for one run of the best floor. The plan and its buffers are made
 * once, ahead, by the constructor. */
template <typename T> struct Best {
    const Bare<T>& bare;
    int planes = 1, rows, n, m; /* the spectrum: planes x rows x m values */
    double* real = nullptr;
    fftw_complex* spectrum = nullptr;
    fftw_plan plan = nullptr;

    explicit Best(const Bare<T>& b) : bare(b), rows(b.c.rows), n(b.c.columns / 2), m(n / 2 + 1) {
        const std::string& name = b.c.plugin;
        if (name == "SpectraPlaneInverse") {
            m = n;
            spectrum = static_cast<fftw_complex*>(Bare<T>::fresh(16 * size_t(rows) * n));
            plan = fftw_plan_dft_2d(rows, n, spectrum, spectrum, FFTW_BACKWARD, FFTW_MEASURE);
        } else if (name == "SpectraRow") {
            planes = 3 * rows;
            int N = b.c.columns - 2;
            n = N, m = N / 2 + 1, rows = 1;
            real = static_cast<double*>(Bare<T>::fresh(8 * size_t(planes) * N));
            spectrum = static_cast<fftw_complex*>(Bare<T>::fresh(16 * size_t(planes) * m));
            plan = fftw_plan_many_dft_r2c(1, &N, planes, real, nullptr, 1, N, spectrum, nullptr, 1,
                                          m, FFTW_MEASURE);
        } else if (name == "SpectraVolume") {
            planes = 3;
            real = static_cast<double*>(Bare<T>::fresh(8 * size_t(3) * rows * n));
            spectrum = static_cast<fftw_complex*>(Bare<T>::fresh(16 * size_t(3) * rows * m));
            plan = fftw_plan_dft_r2c_3d(3, rows, n, real, spectrum, FFTW_MEASURE);
        } else { /* in place: each row of n reals padded to m complex values */
            spectrum = static_cast<fftw_complex*>(Bare<T>::fresh(16 * size_t(rows) * m));
            real = reinterpret_cast<double*>(spectrum);
            plan = fftw_plan_dft_r2c_2d(rows, n, real, spectrum, FFTW_MEASURE);
        }
        /* The plug-ins share this process's FFTW: they must not plan from
         * what measuring taught it. */
        fftw_forget_wisdom();
    }
    ~Best() {
        fftw_destroy_plan(plan);
        fftw_free(spectrum);
        if (real != reinterpret_cast<double*>(spectrum)) fftw_free(real);
    }

    double run() const {
        double start = now();
        const std::string& name = bare.c.plugin;
        if (name == "SpectraPlaneInverse") {
            for (int k = 0; k < 3; k++) {
                bare.fill(spectrum, k, rows, n);
                fftw_execute(plan);
                bare.pass(spectrum, k, rows, n);
            }
        } else if (name == "SpectraRow") {
            for (int i = 0; i < planes; i++)
                for (int x = 0; x < n; x++)
                    real[int64_t(i) * n + x] = bare.in.at(x, i % bare.c.rows, i / bare.c.rows);
            fftw_execute(plan);
            over_rows(planes, m, [&](int32_t first, int32_t end) {
                for (int i = first; i < end; i++) {
                    int y = i % bare.c.rows, k = i / bare.c.rows;
                    Bare<T>::write(spectrum[int64_t(i) * m], m, &bare.out.at(0, y, k),
                                   bare.out.planes);
                    Bare<T>::write(spectrum[int64_t(i) * m] + 1, m, &bare.out.at(m, y, k),
                                   bare.out.planes);
                }
                return int64_t(0);
            });
        } else if (name == "SpectraVolume") {
            for (int k = 0; k < 3; k++)
                fill_real_centred<T>(real + int64_t(k) * rows * n, n, bare.in, k, rows, n);
            fftw_execute(plan);
            for (int k = 0; k < 3; k++)
                bare.pass_mirrored(spectrum + int64_t(k) * rows * m,
                                   spectrum + int64_t((3 - k) % 3) * rows * m, k, rows, n);
        } else {
            for (int k = 0; k < 3; k++) {
                fill_real_centred<T>(real, 2 * int64_t(m), bare.in, k, rows, n);
                fftw_execute(plan);
                bare.pass_mirrored(spectrum, spectrum, k, rows, n);
            }
        }
        return now() - start;
    }
};

#endif

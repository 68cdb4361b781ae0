/* bench.cpp - each plug-in's Continue call against the best floor and the
 * bare pipeline (yardsticks.h).
 *
 *   bench [--repeat N] [--size WxH]... [--plugin NAME]... [--depth D]...
 *
 * For every plug-in, depth and size it measures, with medians over N runs
 * taken in turns after one run to warm up: the Continue call through the
 * host library (no file I/O), the best floor and the bare pipeline. It prints
 * the medians of the ratios of the runs taken side by side,
 * and the first run's peak memory against the host's two image buffers plus
 * the transform's buffers. A second table splits the run: the time of
 * filling the buffer, of the plug-in's FFTW plans alone and of coding, and
 * the coder's nanoseconds per coefficient with each of its paths that runs
 * here.
 *
 * With --descreen WxH it measures SpectraDescreen instead, side by side
 * with the route that a user takes by hand: SpectraPlane and then
 * SpectraPlaneInverse on a canvas twice as wide that holds the picture in
 * its left half.
 *
 * Every case runs in a child process of its own, so that its peak memory is
 * its own and no FFTW state is shared between cases. */
#include "host.h"
#include "planar.h"
#include "steps.h"
#include "yardsticks.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fftw3.h>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

enum { max_paths = 4 };

struct Figures {
    double continue_ms, floor_ms, best_ms, bare_ms, peak_mb, buffers_mb, images_mb;
    /* the medians of the ratios of each run to the best floor's and the
     * bare pipeline's runs beside it (the descreen: to the manual route's) */
    double ratio, bare_ratio;
    /* the steps around FFTW of one run, on the host's thread: filling the
     * buffer (the inverse: reading the codes) and coding (the inverse:
     * writing the moduli) with the best path; and ns per coefficient of
     * coding with each path that runs here (0 for the others) */
    double fill_ms, code_ms, path_ns[max_paths];
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

/* A picture with some structure: smooth colours, a grating and noise. */
HostImage test_image(const Case& c) {
    HostImage image = host_image(c.rows, c.columns, 3, c.depth);
    double w = c.depth == 8 ? 255 : c.depth == 16 ? 32768 : 1;
    uint32_t state = 12345;
    for (int y = 0; y < c.rows; y++)
        for (int x = 0; x < c.columns; x++)
            for (int p = 0; p < 3; p++) {
                state = state * 1664525u + 1013904223u;
                double v = 0.3 + 0.2 * ((x * 7 + y * 3 + p * 50) % 97) / 97.0 +
                           0.1 * ((state >> 8) & 0xff) / 255.0 + 0.2 * ((x / 16 + y / 16) % 2);
                host_set_sample(image, x, y, p, c.depth == 32 ? v * w : std::round(v * w));
            }
    return image;
}

long resident_kb() {
    long pages = 0, resident = 0;
    FILE* f = std::fopen("/proc/self/statm", "r");
    if (f) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

template <typename T> Samples<T> samples_of(HostImage& image) {
    return {reinterpret_cast<T*>(image.data()), image.row_bytes / int64_t(sizeof(T)), image.planes};
}

/* Times the steps of one run of the plug-in around its FFTW executions, with
 * the bodies' own step functions, on `in` (the plug-in's input) and `out`. */
template <typename T> void time_steps(const Case& c, HostImage& in, HostImage& out, Figures* f) {
    int32_t rows = c.rows, n = c.columns / 2;
    Samples<const T> from = samples_of<const T>(in);
    Samples<T> to = samples_of<T>(out);
    std::vector<const CoderPath*> here;
    for (int i = 0; i < coder_path_count && i < max_paths; i++)
        if (coder_paths[i]->runs_here()) here.push_back(coder_paths[i]);
    auto time = [](auto step) {
        double start = now();
        step();
        return now() - start;
    };

    if (c.plugin == "SpectraRow") {
        int32_t N = c.columns - 2, m = N / 2 + 1;
        double* real = static_cast<double*>(fftw_malloc(sizeof(double) * size_t(N)));
        fftw_complex* spectrum =
            static_cast<fftw_complex*>(fftw_malloc(sizeof(fftw_complex) * size_t(m)));
        fftw_plan plan = fftw_plan_dft_r2c_1d(N, real, spectrum, FFTW_ESTIMATE);
        double D = magnitude_divisor<T>(double(N));
        std::vector<double> path_s(here.size());
        for (int32_t p = 0; p < 3; p++)
            for (int32_t y = 0; y < rows; y++) {
                f->fill_ms += 1000 * time([&] {
                                  for (int32_t k = 0; k < N; k++) real[k] = from.at(k, y, p);
                              });
                fftw_execute(plan);
                for (size_t i = 0; i < here.size(); i++) {
                    double s = time([&] {
                        write_coefficients<T>(spectrum, m, D, &to.at(0, y, p), &to.at(m, y, p),
                                              to.planes, here[i]);
                    });
                    path_s[i] += s;
                    if (i + 1 == here.size()) f->code_ms += 1000 * s;
                }
            }
        for (size_t i = 0; i < here.size(); i++) f->path_ns[i] = 1e9 * path_s[i] / (3.0 * rows * m);
        fftw_destroy_plan(plan);
        fftw_free(real);
        fftw_free(spectrum);
        return;
    }

    /* the planar plug-ins and the volume: three planes of rows x n values */
    uint64_t count = uint64_t(rows) * uint64_t(n);
    const size_t bytes = sizeof(fftw_complex) * 3 * (count + 2 * uint64_t(rows));
    fftw_complex* buffer = static_cast<fftw_complex*>(fftw_malloc(bytes));
    std::memset(buffer, 0, bytes);
    if (c.plugin == "SpectraPlaneInverse") {
        const CoefficientReader<T> reader(magnitude_divisor<T>(double(count)));
        for (int32_t k = 0; k < 3; k++) {
            f->fill_ms += 1000 * time([&] { read_halves<T>(buffer, from, k, rows, n, reader); });
            f->code_ms += 1000 * time([&] { write_modulus<T>(buffer, to, k, rows, n); });
        }
    } else {
        /* the volume's real input, rows 2m apart, in place of its spectrum of
         * 3 x rows x m values */
        bool volume = c.plugin == "SpectraVolume";
        int32_t m = n / 2 + 1;
        double D = magnitude_divisor<T>(double(count) * (volume ? 3 : 1));
        double* real = reinterpret_cast<double*>(buffer);
        for (int32_t k = 0; k < 3; k++)
            f->fill_ms +=
                1000 * time([&] {
                    fill_real_centred<T>(real + int64_t(k) * rows * 2 * m, 2 * m, from, k, rows, n);
                });
        const int32_t dims[] = {3, rows, n};
        transform_real_axes(real, 2 * m, buffer, dims, 3);
        for (size_t i = 0; i < here.size(); i++) {
            double s = 0;
            for (int32_t k = 0; k < 3; k++)
                s += time([&] {
                    code_mirrored_halves<T>(buffer + int64_t(k) * rows * m,
                                            buffer + int64_t((3 - k) % 3) * rows * m, to, k, rows,
                                            n, D, here[i]);
                });
            f->path_ns[i] = 1e9 * s / (3.0 * double(count));
            if (i + 1 == here.size()) f->code_ms = 1000 * s;
        }
    }
    fftw_free(buffer);
}

/* A halftone screen over test_image: dots of period 5 at 15 degrees. */
HostImage screened_image(const Case& c) {
    HostImage image = test_image(c);
    double w = c.depth == 8 ? 255 : c.depth == 16 ? 32768 : 1, t = 15 * 3.14159265358979 / 180;
    for (int y = 0; y < c.rows; y++)
        for (int x = 0; x < c.columns; x++) {
            double u = (x * std::cos(t) + y * std::sin(t)) * 2 * 3.14159265358979 / 5;
            double v = (y * std::cos(t) - x * std::sin(t)) * 2 * 3.14159265358979 / 5;
            for (int p = 0; p < 3; p++) {
                double s = host_sample(image, x, y, p) / w + 0.1 * (std::cos(u) + std::cos(v));
                s = std::min(1.0, std::max(0.0, s)) * w;
                host_set_sample(image, x, y, p, c.depth == 32 ? s : std::round(s));
            }
        }
    return image;
}

/* In the child: SpectraDescreen on a screened picture and the manual route
 * on its canvas, in turns; figures as for the other plug-ins, with the
 * manual route in place of the floor and no bare pipeline. */
int measure_descreen(const Case& c, int repeat, const std::string& plugin_dir, int out) {
    long base_kb = resident_kb();
    Figures f = {};
    HostImage in = screened_image(c), result;
    f.images_mb = 2.0 * double(in.storage.size() * 8) / 1048576;
    HostPlugin descreen, forward, inverse;
    PiplInfo info;
    std::string error;
    for (auto [name, plugin] : {std::pair<const char*, HostPlugin*>{"SpectraDescreen", &descreen},
                                {"SpectraPlane", &forward},
                                {"SpectraPlaneInverse", &inverse}})
        if (!host_open(plugin_dir + "/" + name + ".8bf", plugin, &info, &error)) {
            std::fprintf(stderr, "bench: %s\n", error.c_str());
            return 1;
        }
    auto timed = [](const HostPlugin& plugin, const HostImage& from, HostImage* to) {
        HostLog log;
        return host_run(plugin, from, to, HostOptions(), &log) == noErr ? log.continue_seconds
                                                                        : -1.0;
    };
    if (timed(descreen, in, &result) < 0) return 1;
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    f.peak_mb = double(usage.ru_maxrss - base_kb) / 1024;

    HostImage canvas = host_image(c.rows, 2 * c.columns, 3, c.depth), spectrum, back;
    for (int y = 0; y < c.rows; y++)
        std::memcpy(canvas.data() + y * canvas.row_bytes, in.data() + y * in.row_bytes,
                    size_t(in.row_bytes));
    std::vector<double> runs, manual, ratios;
    for (int i = 0; i < repeat; i++) {
        runs.push_back(timed(descreen, in, &result));
        double a = timed(forward, canvas, &spectrum), b = timed(inverse, spectrum, &back);
        if (runs.back() < 0 || a < 0 || b < 0) return 1;
        manual.push_back(a + b);
        ratios.push_back(runs.back() / manual.back());
    }
    f.continue_ms = 1000 * median(runs);
    f.best_ms = 1000 * median(manual);
    f.ratio = median(ratios);
    return write(out, &f, sizeof f) == sizeof f ? 0 : 1;
}

/* In the child: measures the case and writes its figures to `out`. */
int measure(const Case& c, int repeat, const std::string& plugin_dir, int out) {
    long base_kb = resident_kb();
    Figures f = {};
    HostImage in = test_image(c), result;
    f.images_mb = 2.0 * double(in.storage.size() * 8) / 1048576;

    HostPlugin plugin;
    PiplInfo info;
    std::string error;
    if (!host_open(plugin_dir + "/" + c.plugin + ".8bf", &plugin, &info, &error)) {
        std::fprintf(stderr, "bench: %s\n", error.c_str());
        return 1;
    }
    if (c.plugin == "SpectraPlaneInverse") { /* a picture such as the forward plug-in makes */
        HostPlugin forward;
        if (!host_open(plugin_dir + "/SpectraPlane.8bf", &forward, &info, &error) ||
            host_run(forward, HostImage(in), &in) != noErr) {
            std::fprintf(stderr, "bench: cannot make the spectrum: %s\n", error.c_str());
            return 1;
        }
    }
    auto run_plugin = [&](double* seconds) {
        HostLog log;
        if (host_run(plugin, in, &result, HostOptions(), &log) != noErr) {
            std::fprintf(stderr, "bench: %s failed\n", c.plugin.c_str());
            return false;
        }
        *seconds = log.continue_seconds;
        return true;
    };
    /* A first run, whose peak memory is the plug-in's alone: the floor's
     * buffers do not exist yet. */
    double seconds = 0;
    if (!run_plugin(&seconds)) return 1;
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    f.peak_mb = double(usage.ru_maxrss - base_kb) / 1024;

    Floor floor{c};
    f.buffers_mb = double(floor.bytes()) / 1048576;
    void* a = fftw_malloc(floor.bytes());
    std::memset(a, 0, floor.bytes());
    unsigned threads = std::thread::hardware_concurrency();
    fftw_init_threads();
    fftw_plan_with_nthreads(threads ? int(threads) : 1);
    HostImage bare_out = in;
    const Bare<uint8_t> bare8{c, samples_of<const uint8_t>(in), samples_of<uint8_t>(bare_out)};
    const Bare<uint16_t> bare16{c, samples_of<const uint16_t>(in), samples_of<uint16_t>(bare_out)};
    const Bare<float> bare32{c, samples_of<const float>(in), samples_of<float>(bare_out)};
    std::unique_ptr<Best<uint8_t>> best8;
    std::unique_ptr<Best<uint16_t>> best16;
    std::unique_ptr<Best<float>> best32;
    if (c.depth == 8)
        best8.reset(new Best<uint8_t>(bare8));
    else if (c.depth == 16)
        best16.reset(new Best<uint16_t>(bare16));
    else
        best32.reset(new Best<float>(bare32));
    auto bare = [&] {
        return c.depth == 8 ? bare8.run() : c.depth == 16 ? bare16.run() : bare32.run();
    };
    auto best = [&] {
        return c.depth == 8 ? best8->run() : c.depth == 16 ? best16->run() : best32->run();
    };
    /* Then the plug-in, the floors and the bare pipeline in turns, so that
     * all meet the machine (and its neighbours, on a virtual one) in the
     * same state. */
    std::vector<double> runs, floors, bests, bares, ratios, bare_ratios;
    for (int i = 0; i < repeat; i++) {
        if (!run_plugin(&seconds)) return 1;
        runs.push_back(seconds);
        floors.push_back(floor.run(a));
        bests.push_back(best());
        bares.push_back(bare());
        ratios.push_back(runs.back() / bests.back());
        bare_ratios.push_back(runs.back() / bares.back());
    }
    f.continue_ms = 1000 * median(runs);
    f.floor_ms = 1000 * median(floors);
    f.best_ms = 1000 * median(bests);
    f.bare_ms = 1000 * median(bares);
    f.ratio = median(ratios);
    f.bare_ratio = median(bare_ratios);
    fftw_free(a);
    if (c.depth == 8)
        time_steps<uint8_t>(c, in, result, &f);
    else if (c.depth == 16)
        time_steps<uint16_t>(c, in, result, &f);
    else
        time_steps<float>(c, in, result, &f);
    return write(out, &f, sizeof f) == sizeof f ? 0 : 1;
}

bool run_case(const Case& c, int repeat, const std::string& plugin_dir, Figures* f) {
    int fds[2];
    if (pipe(fds) != 0) return false;
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        _exit(c.plugin == "SpectraDescreen" ? measure_descreen(c, repeat, plugin_dir, fds[1])
                                            : measure(c, repeat, plugin_dir, fds[1]));
    }
    close(fds[1]);
    bool ok = read(fds[0], f, sizeof *f) == sizeof *f;
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string command_folder() {
    char buffer[4096];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return ".";
    std::string path(buffer, size_t(n));
    return path.substr(0, path.rfind('/'));
}

/* SpectraDescreen against the manual route, and its work memory per pixel
 * beyond the host's two images. */
int descreen_table(const std::vector<std::pair<int, int>>& sizes, std::vector<int> depths,
                   int repeat, const std::string& plugin_dir) {
    if (depths.empty()) depths = {8};
    std::printf("%u hardware threads, median of %d runs\n\n"
                "| depth | size | SpectraDescreen ms | SpectraPlane + SpectraPlaneInverse on "
                "the canvas ms | ratio | work MB | work bytes per pixel |\n"
                "|---|---|---|---|---|---|---|\n",
                std::thread::hardware_concurrency(), repeat);
    int failed = 0;
    for (int depth : depths)
        for (auto [w, h] : sizes) {
            Figures f;
            if (!run_case(Case{"SpectraDescreen", depth, w, h}, repeat, plugin_dir, &f)) {
                std::printf("| %d | %dx%d | failed |\n", depth, w, h);
                failed++;
                continue;
            }
            double work = f.peak_mb - f.images_mb;
            std::printf("| %d | %dx%d | %.0f | %.0f | %.3f | %.0f | %.1f |\n", depth, w, h,
                        f.continue_ms, f.best_ms, f.ratio, work, work * 1048576 / (double(w) * h));
            std::fflush(stdout);
        }
    return failed ? 1 : 0;
}

} // namespace

int main(int argc, char** argv) {
    int repeat = 5;
    std::vector<std::string> plugins;
    std::vector<int> depths;
    std::vector<std::pair<int, int>> sizes, descreen_sizes;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
        int w, h;
        if (a == "--repeat" && v)
            repeat = std::max(1, std::atoi(argv[++i]));
        else if (a == "--plugin" && v)
            plugins.push_back(argv[++i]);
        else if (a == "--depth" && v)
            depths.push_back(std::atoi(argv[++i]));
        else if (a == "--size" && v && std::sscanf(argv[++i], "%dx%d", &w, &h) == 2)
            sizes.push_back({w, h});
        else if (a == "--descreen" && v && std::sscanf(argv[++i], "%dx%d", &w, &h) == 2)
            descreen_sizes.push_back({w, h});
        else {
            std::fprintf(stderr, "usage: bench [--repeat N] [--size WxH]... [--plugin NAME]... "
                                 "[--depth D]... [--descreen WxH]...\n");
            return 1;
        }
    }
    std::string plugin_dir = command_folder() + "/../plugins";
    if (!descreen_sizes.empty()) return descreen_table(descreen_sizes, depths, repeat, plugin_dir);
    if (plugins.empty())
        plugins = {"SpectraPlane", "SpectraPlaneInverse", "SpectraVolume", "SpectraRow"};
    if (depths.empty()) depths = {8, 16, 32};
    if (sizes.empty()) sizes = {{1024, 1024}, {2048, 2048}, {4096, 2048}};

    std::printf("%u hardware threads, median of %d runs\n\n", std::thread::hardware_concurrency(),
                repeat);
    std::printf("coder path: %s (SPECTRA_CODER picks another)\n\n", coder_for_this_machine().name);
    std::printf("| plug-in | depth | size | Continue ms | best floor ms | bare ms | "
                "Continue / best floor | "
                "Continue / bare | peak MB | images + buffers MB | memory ratio |\n"
                "|---|---|---|---|---|---|---|---|---|---|---|\n");
    int failed = 0;
    std::vector<std::string> steps;
    for (const std::string& plugin : plugins)
        for (int depth : depths)
            for (auto [w, h] : sizes) {
                Case c{plugin, depth, w, h};
                Figures f;
                if (!run_case(c, repeat, plugin_dir, &f)) {
                    std::printf("| %s | %d | %dx%d | failed |\n", plugin.c_str(), depth, w, h);
                    failed++;
                    continue;
                }
                double needed = f.images_mb + f.buffers_mb;
                std::printf(
                    "| %s | %d | %dx%d | %.1f | %.1f | %.1f | %.3f | %.3f | %.1f | %.1f | %.3f |\n",
                    plugin.c_str(), depth, w, h, f.continue_ms, f.best_ms, f.bare_ms, f.ratio,
                    f.bare_ratio, f.peak_mb, needed, f.peak_mb / needed);
                std::fflush(stdout);
                char line[512];
                int used =
                    std::snprintf(line, sizeof line, "| %s | %d | %dx%d | %.1f | %.1f | %.1f |",
                                  plugin.c_str(), depth, w, h, f.fill_ms, f.floor_ms, f.code_ms);
                for (int i = 0; i < coder_path_count && i < max_paths; i++)
                    used += std::snprintf(line + used, sizeof line - size_t(used),
                                          f.path_ns[i] > 0 ? " %.2f |" : " - |", f.path_ns[i]);
                steps.push_back(line);
            }
    std::printf("\nThe steps on the host's thread around the FFTW executions: filling the "
                "buffer (SpectraPlaneInverse: reading the codes), the plug-in's FFTW plans "
                "alone, and coding with the best path "
                "(SpectraPlaneInverse: writing the moduli); ns per coefficient of coding with "
                "each path.\n\n| plug-in | depth | size | fill ms | FFTW ms | code ms |");
    for (int i = 0; i < coder_path_count && i < max_paths; i++)
        std::printf(" %s ns |", coder_paths[i]->name);
    std::printf("\n|---|---|---|---|---|---|");
    for (int i = 0; i < coder_path_count && i < max_paths; i++) std::printf("---|");
    std::printf("\n");
    for (const std::string& line : steps) std::printf("%s\n", line.c_str());
    return failed ? 1 : 0;
}

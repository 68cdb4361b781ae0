/* dump.cpp - runs a plug-in on fixed test images and writes every output
 * sample to a file, so that the Windows and Linux builds can be compared,
 * also when the plug-ins are called the ways that real hosts call them.
 *
 *   dump run PLUGIN-DIR PLUGIN DEPTH OUTPUT [PROFILE]
 *   dump compare A B DEPTH
 *   dump state PLUGIN-DIR PLUGIN STATE OUTPUT [RUNS]
 *   dump codes
 *
 * The profiles, each a way of calling that a real host has:
 *   default    this project's host: About, Parameters, Prepare, Start, one
 *              Continue, Finish
 *   photoshop  the same, with padded rows in and out
 *   paintnet   four planes, junk in outData, the library loaded and unloaded
 *              around each run, five runs of each image, Parameters only on
 *              the first
 *   gimp       outData a copy of the input, no Finish after a success, the
 *              library unloaded after each run
 *   right      Continue called while inRect.right or outRect.right is not 0;
 *              one call must be enough
 *   two        a second plug-in loaded beside the first and run in turn
 *   thread     each run on a thread other than the one that loaded the
 *              library
 *
 * `run` writes the samples as little-endian doubles. SpectraPlaneInverse is
 * given the pictures that SpectraPlane makes of the test images. `compare`
 * accepts samples that differ by one code step at 8 and 16 bits, or by one
 * single-precision step at 32 bits: where a value lies on a rounding
 * boundary, the two C libraries' last bit of log10 or atan2 may decide it.
 * It fails on any other difference, or on more than one such sample in ten
 * thousand.
 *
 * `state` runs the plug-in at every depth on harder images (zeros, flat
 * areas whose coefficients lie on ties of the codes, and at 32 bits huge,
 * subnormal, negative-zero and infinite floats) in a floating-point state
 * that a host may leave (float_env.h), set before the plug-in is loaded and
 * before each run. It fails when a call of the entry function returns the
 * state other than it found it, sticky flags included; a trap ends the
 * process. With RUNS, each image is run that many times (the larger a tenth
 * as many), the host leaving junk and a copy of the input in outData in
 * turn, and every run must write the same bytes. It writes what `run`
 * writes.
 *
 * `codes` prints the coefficient coder's nanoseconds per coefficient at
 * each depth with each of its paths that runs on this processor, on a
 * million coefficients of a photograph's range: the figure for processors
 * where the bench does not run, such as ARM64 Windows.
 *
 * SpectraDescreen's images carry a dot screen over their noise, so that it
 * has something to find and take out. */
#include "fast_codes.h"
#include "host.h"
#if defined(__x86_64__) || defined(__i386__) || defined(__aarch64__)
#include "float_env.h"
#endif

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

HostImage test_image(int rows, int columns, int planes, int depth, uint32_t seed,
                     int64_t row_padding) {
    HostImage image = host_image(rows, columns, planes, depth, row_padding);
    uint64_t state = seed * 2654435761u + 1;
    for (int y = 0; y < rows; y++)
        for (int x = 0; x < columns; x++)
            for (int p = 0; p < planes; p++) {
                state = state * 6364136223846793005ull + 1442695040888963407ull;
                uint32_t r = uint32_t(state >> 33);
                double v = depth == 8    ? r % 256
                           : depth == 16 ? r % 32769
                                         : double(float((r % 100001) / 80000.0));
                host_set_sample(image, x, y, p, v);
            }
    return image;
}

/* A dot screen of period 4.6 at 20 degrees added to planes 0 to 2; at 32
 * bits the odd floats are left as they are. */
void add_screen(HostImage* image) {
    double white = image->depth == 8 ? 255 : image->depth == 16 ? 32768 : 1.0;
    double t = 20 * 3.14159265358979 / 180, k = 2 * 3.14159265358979 / 4.6;
    for (int y = 0; y < image->rows; y++)
        for (int x = 0; x < image->columns; x++)
            for (int p = 0; p < 3; p++) {
                double u = k * (x * std::cos(t) + y * std::sin(t));
                double v = k * (y * std::cos(t) - x * std::sin(t));
                double s = host_sample(*image, x, y, p);
                if (!(std::fabs(s) <= white)) continue;
                s += 0.25 * white * (std::cos(u) + std::cos(v));
                if (image->depth != 32) s = std::round(std::min(white, std::max(0.0, s)));
                host_set_sample(*image, x, y, p, s);
            }
}

bool open_plugin(const std::string& dir, const std::string& name, HostPlugin* plugin) {
    PiplInfo info;
    std::string error;
    if (host_open(host_plugin_file(dir, name), plugin, &info, &error)) return true;
    std::fprintf(stderr, "dump: %s\n", error.c_str());
    return false;
}

bool failed(const std::string& name, int16_t result) {
    if (result == noErr) return false;
    std::fprintf(stderr, "dump: %s: %s\n", name.c_str(), host_result_name(result).c_str());
    return true;
}

/* Runs the plug-in on one image the way the profile says; false on any
 * failure, with a message. */
bool run_profile(const std::string& profile, const std::string& dir, const std::string& name,
                 HostPlugin& plugin, const HostImage& in, HostImage* out) {
    HostOptions options;
    if (profile == "photoshop") options.out_row_padding = 5 * host_sample_bytes(in.depth);
    if (profile == "default" || profile == "photoshop")
        return !failed(name, host_run(plugin, in, out, options));
    if (profile == "paintnet") {
        options.fill = HostFill::junk;
        for (int run = 0; run < 5; run++) {
            HostPlugin loaded;
            HostImage again;
            if (!open_plugin(dir, name, &loaded)) return false;
            options.parameters = run == 0;
            options.junk_seed = uint32_t(run + 7);
            bool ok = !failed(name, host_run(loaded, in, run == 0 ? out : &again, options));
            host_unload(&loaded);
            if (!ok) return false;
            if (run > 0 && !host_same_samples(*out, again)) {
                std::fprintf(stderr, "dump: %s: run %d wrote other samples\n", name.c_str(), run);
                return false;
            }
        }
        return true;
    }
    if (profile == "gimp") {
        HostPlugin loaded;
        if (!open_plugin(dir, name, &loaded)) return false;
        options.finish_after_success = false;
        bool ok = !failed(name, host_run(loaded, in, out, options));
        host_unload(&loaded);
        return ok;
    }
    if (profile == "right") {
        options.until_right_is_zero = true;
        HostLog log;
        if (failed(name, host_run(plugin, in, out, options, &log))) return false;
        if (log.continues.size() != 1) {
            std::fprintf(stderr, "dump: %s: %zu Continue calls\n", name.c_str(),
                         log.continues.size());
            return false;
        }
        return true;
    }
    if (profile == "two") {
        std::string other_name = name == "SpectraRow" ? "SpectraPlane" : "SpectraRow";
        HostPlugin other;
        if (!open_plugin(dir, other_name, &other)) return false;
        HostImage between, again;
        bool ok = !failed(name, host_run(plugin, in, out)) &&
                  !failed(other_name, host_run(other, in, &between)) &&
                  !failed(name, host_run(plugin, in, &again));
        host_unload(&other);
        if (ok && !host_same_samples(*out, again)) {
            std::fprintf(stderr, "dump: %s wrote other samples after %s\n", name.c_str(),
                         other_name.c_str());
            ok = false;
        }
        return ok;
    }
    if (profile == "thread") {
        int16_t result = noErr;
        std::thread runner([&]() { result = host_run(plugin, in, out); });
        runner.join();
        return !failed(name, result);
    }
    std::fprintf(stderr, "dump: no profile %s\n", profile.c_str());
    return false;
}

void append_samples(const HostImage& out, std::vector<double>* samples) {
    for (int y = 0; y < out.rows; y++)
        for (int x = 0; x < out.columns; x++)
            for (int p = 0; p < out.planes; p++) samples->push_back(host_sample(out, x, y, p));
}

bool write_samples(const char* output, const std::vector<double>& samples) {
    FILE* f = std::fopen(output, "wb");
    if (!f || std::fwrite(samples.data(), sizeof(double), samples.size(), f) != samples.size() ||
        std::fclose(f) != 0) {
        std::fprintf(stderr, "dump: cannot write %s\n", output);
        return false;
    }
    return true;
}

int run(const std::string& dir, const std::string& name, int depth, const char* output,
        const std::string& profile) {
    HostPlugin plugin, forward;
    if (!open_plugin(dir, name, &plugin)) return 1;
    bool inverse = name == "SpectraPlaneInverse";
    if (inverse && !open_plugin(dir, "SpectraPlane", &forward)) return 1;
    const int shapes[][3] = {{7, 12, 3}, {16, 20, 4}, {5, 9, 3}, {32, 64, 3}};
    std::vector<double> samples;
    uint32_t seed = 1;
    int64_t padding = profile == "photoshop" ? 3 * host_sample_bytes(depth) : 0;
    for (const auto& s : shapes) {
        int planes = profile == "paintnet" ? 4 : s[2];
        HostImage in = test_image(s[0], s[1], planes, depth, seed++, padding), out;
        if (name == "SpectraDescreen") add_screen(&in);
        if (inverse && failed("SpectraPlane", host_run(forward, HostImage(in), &in))) return 1;
        if (!run_profile(profile, dir, name, plugin, in, &out)) return 1;
        append_samples(out, &samples);
    }
    return write_samples(output, samples) ? 0 : 1;
}

/* The images of `state` at a depth: 96 x 160 and 256 x 512. */
HostImage hard_image(int index, int depth) {
    int rows = index == 0 ? 96 : 256, columns = index == 0 ? 160 : 512;
    HostImage image = test_image(rows, columns, 3, depth, uint32_t(index + 11), 0);
    double white = depth == 8 ? 255 : depth == 16 ? 32768 : 1.0;
    for (int y = 0; y < rows; y++)
        for (int p = 0; p < 3; p++) {
            for (int x = columns / 16; x < columns / 4; x++)
                host_set_sample(image, x, y, p, y < rows / 2 ? white / 2 : white);
            for (int x = columns / 4; x < columns / 4 + 8 && y < rows / 3; x++)
                host_set_sample(image, x, y, p, 0);
        }
    if (depth == 32) {
        const double odd[] = {1e30, -1e30, 3e38, 1e-40, -1e-42, -0.0, 1e-45, INFINITY};
        for (int i = 0; i < 8; i++)
            host_set_sample(image, 3 + 5 * i, 2 + i, i % 3, index == 0 && i >= 6 ? 1e20 : odd[i]);
        /* a row of subnormals alone */
        for (int x = 0; x < columns; x++) host_set_sample(image, x, rows - 1, 0, (x % 7) * 1e-40);
    }
    return image;
}

#if defined(__x86_64__) || defined(__i386__) || defined(__aarch64__)
/* The entry function of the plug-in being run, called through one that
 * counts the calls that return another state than they were given. */
FilterEntryProc checked;
int changed_state;

void checking_entry(int16_t selector, FilterRecord* record, intptr_t* data, int16_t* result) {
    FloatEnv before = float_env_now();
    checked(selector, record, data, result);
    if (!(float_env_now() == before)) {
        changed_state++;
        float_env_set(before);
    }
}

/* host_run in the host's floating-point state, through checking_entry. */
int16_t run_in_state(const HostPlugin& plugin, const HostImage& in, HostImage* out,
                     const FloatEnv& state, const HostOptions& options = HostOptions()) {
    HostPlugin through = plugin;
    through.entry = checking_entry;
    checked = plugin.entry;
    FloatEnv plain = float_env_now();
    float_env_set(state);
    int16_t result = host_run(through, in, out, options);
    float_env_set(plain);
    return result;
}

int run_state(const std::string& dir, const std::string& name, const char* state_name,
              const char* output, int runs) {
    FloatEnv state, plain = float_env_now();
    if (!float_env_named(state_name, &state)) {
        std::fprintf(stderr, "dump: no floating-point state %s\n", state_name);
        return 2;
    }
    /* the host's state also while the libraries load */
    float_env_set(state);
    HostPlugin plugin, forward;
    bool inverse = name == "SpectraPlaneInverse";
    bool opened =
        open_plugin(dir, name, &plugin) && (!inverse || open_plugin(dir, "SpectraPlane", &forward));
    float_env_set(plain);
    if (!opened) return 1;
    std::vector<double> samples;
    for (int depth : {8, 16, 32})
        for (int index = 0; index < 2; index++) {
            HostImage in = hard_image(index, depth), first, again;
            if (name == "SpectraDescreen") add_screen(&in);
            if (inverse && failed("SpectraPlane", run_in_state(forward, HostImage(in), &in, state)))
                return 1;
            for (int run = 0; run < (index == 0 ? runs : (runs + 9) / 10); run++) {
                HostOptions options;
                options.fill = run % 2 ? HostFill::input : HostFill::junk;
                options.junk_seed = uint32_t(run + 1);
                if (failed(name, run_in_state(plugin, in, run ? &again : &first, state, options)))
                    return 1;
                if (run && std::memcmp(first.data(), again.data(), first.storage.size() * 8)) {
                    std::fprintf(stderr, "dump: %s at %d bits: run %d wrote other bytes\n",
                                 name.c_str(), depth, run + 1);
                    return 1;
                }
            }
            append_samples(first, &samples);
        }
    if (changed_state) {
        std::fprintf(stderr, "dump: %s: %d calls returned another floating-point state\n",
                     name.c_str(), changed_state);
        return 1;
    }
    return write_samples(output, samples) ? 0 : 1;
}
#else
int run_state(const std::string&, const std::string&, const char*, const char*, int) {
    std::fprintf(stderr, "dump: floating-point states are set on x86 and ARM64 only\n");
    return 2;
}
#endif

std::vector<double> read_samples(const char* path) {
    std::vector<double> v;
    FILE* f = std::fopen(path, "rb");
    if (!f) return v;
    double d;
    while (std::fread(&d, sizeof d, 1, f) == 1) v.push_back(d);
    std::fclose(f);
    return v;
}

int compare(const char* a_path, const char* b_path, int depth) {
    std::vector<double> a = read_samples(a_path), b = read_samples(b_path);
    if (a.empty() || a.size() != b.size()) {
        std::fprintf(stderr, "compare: %s and %s hold %zu and %zu samples\n", a_path, b_path,
                     a.size(), b.size());
        return 1;
    }
    size_t near = 0;
    for (size_t i = 0; i < a.size(); i++) {
        if (std::memcmp(&a[i], &b[i], sizeof(double)) == 0) continue;
        bool one_step = depth == 32 ? std::nextafter(float(a[i]), float(b[i])) == float(b[i])
                                    : std::fabs(a[i] - b[i]) == 1;
        if (!one_step) {
            std::fprintf(stderr, "compare: sample %zu is %.9g and %.9g\n", i, a[i], b[i]);
            return 1;
        }
        near++;
    }
    std::printf("%zu samples, %zu one step apart\n", a.size(), near);
    return near * 10000 > a.size() ? 1 : 0;
}

/* 2^20 coefficients of magnitudes from 1 to 10^8, in every direction, at a
 * magnitude divisor of a 4096-column transform. The angles are not on a
 * grid: on one of 2^16 steps, every 16-bit phase would lie on a boundary
 * between two codes, where the coder takes its slower ways. */
template <typename T> double ns_per_coefficient(const CoderPath& path) {
    const int64_t count = 1 << 20;
    std::vector<double> X(2 * static_cast<size_t>(count));
    std::mt19937_64 random(12345);
    std::uniform_real_distribution<double> exponent(0, 8),
        angle(-3.14159265358979, 3.14159265358979);
    for (size_t i = 0; i < X.size(); i += 2) {
        double m = std::pow(10.0, exponent(random)), a = angle(random);
        X[i] = m * std::cos(a);
        X[i + 1] = m * std::sin(a);
    }
    std::vector<T> out(2 * static_cast<size_t>(count));
    double best = 1e300;
    for (int run = 0; run < 3; run++) {
        auto start = std::chrono::steady_clock::now();
        write_coefficients<T>(reinterpret_cast<const fftw_complex*>(X.data()), count,
                              magnitude_divisor<T>(4096), out.data(), out.data() + count, 1, &path);
        std::chrono::duration<double> s = std::chrono::steady_clock::now() - start;
        best = std::min(best, s.count());
    }
    return 1e9 * best / double(count);
}

int codes() {
    for (int i = 0; i < coder_path_count; i++) {
        const CoderPath& path = *coder_paths[i];
        if (!path.runs_here()) continue;
        std::printf("%s: %.1f ns per coefficient at 8 bits, %.1f at 16, %.1f at 32\n", path.name,
                    ns_per_coefficient<uint8_t>(path), ns_per_coefficient<uint16_t>(path),
                    ns_per_coefficient<float>(path));
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if ((argc == 6 || argc == 7) && std::strcmp(argv[1], "run") == 0)
        return run(argv[2], argv[3], std::atoi(argv[4]), argv[5], argc == 7 ? argv[6] : "default");
    if (argc == 5 && std::strcmp(argv[1], "compare") == 0)
        return compare(argv[2], argv[3], std::atoi(argv[4]));
    if ((argc == 6 || argc == 7) && std::strcmp(argv[1], "state") == 0)
        return run_state(argv[2], argv[3], argv[4], argv[5], argc == 7 ? std::atoi(argv[6]) : 1);
    if (argc == 2 && std::strcmp(argv[1], "codes") == 0) return codes();
    std::fprintf(stderr, "usage: dump run PLUGIN-DIR PLUGIN DEPTH OUTPUT [PROFILE]\n"
                         "       dump compare A B DEPTH\n"
                         "       dump state PLUGIN-DIR PLUGIN STATE OUTPUT [RUNS]\n"
                         "       dump codes\n");
    return 2;
}

/* dump.cpp - runs a plug-in on fixed test images and writes every output
 * sample to a file, so that the Windows and Linux builds can be compared.
 *
 *   dump run PLUGIN-DIR PLUGIN DEPTH OUTPUT
 *   dump compare A B DEPTH
 *
 * `run` writes the samples as little-endian doubles. SpectraPlaneInverse is
 * given the pictures that SpectraPlane makes of the test images. `compare`
 * accepts samples that differ by one code step at 8 and 16 bits, or by one
 * single-precision step at 32 bits: where a value lies on a rounding
 * boundary, the two C libraries' last bit of log10 or atan2 may decide it.
 * It fails on any other difference, or on more than one such sample in ten
 * thousand. */
#include "host.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

HostImage test_image(int rows, int columns, int planes, int depth, uint32_t seed) {
    HostImage image = host_image(rows, columns, planes, depth);
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

bool open_plugin(const std::string& dir, const std::string& name, HostPlugin* plugin) {
    PiplInfo info;
    std::string error;
    if (host_open(dir + "/" + name + ".8bf", plugin, &info, &error)) return true;
    std::fprintf(stderr, "dump: %s\n", error.c_str());
    return false;
}

int run(const std::string& dir, const std::string& name, int depth, const char* output) {
    HostPlugin plugin, forward;
    if (!open_plugin(dir, name, &plugin)) return 1;
    bool inverse = name == "SpectraPlaneInverse";
    if (inverse && !open_plugin(dir, "SpectraPlane", &forward)) return 1;
    const int shapes[][3] = {{7, 12, 3}, {16, 20, 4}, {5, 9, 3}, {32, 64, 3}};
    std::vector<double> samples;
    uint32_t seed = 1;
    for (const auto& s : shapes) {
        HostImage in = test_image(s[0], s[1], s[2], depth, seed++), out;
        if (inverse && host_run(forward, HostImage(in), &in) != noErr) return 1;
        int16_t result = host_run(plugin, in, &out);
        if (result != noErr) {
            std::fprintf(stderr, "dump: %s: %s\n", name.c_str(), host_result_name(result).c_str());
            return 1;
        }
        for (int y = 0; y < out.rows; y++)
            for (int x = 0; x < out.columns; x++)
                for (int p = 0; p < out.planes; p++) samples.push_back(host_sample(out, x, y, p));
    }
    FILE* f = std::fopen(output, "wb");
    if (!f || std::fwrite(samples.data(), sizeof(double), samples.size(), f) != samples.size() ||
        std::fclose(f) != 0) {
        std::fprintf(stderr, "dump: cannot write %s\n", output);
        return 1;
    }
    return 0;
}

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

} // namespace

int main(int argc, char** argv) {
    if (argc == 6 && std::strcmp(argv[1], "run") == 0)
        return run(argv[2], argv[3], std::atoi(argv[4]), argv[5]);
    if (argc == 5 && std::strcmp(argv[1], "compare") == 0)
        return compare(argv[2], argv[3], std::atoi(argv[4]));
    std::fprintf(stderr, "usage: dump run PLUGIN-DIR PLUGIN DEPTH OUTPUT\n"
                         "       dump compare A B DEPTH\n");
    return 2;
}

/* support.cpp - plug-in loading, test images and the oracle of the tests. */
#include "support.h"

#include <cmath>
#include <cstdlib>

/* The build's plug-ins, or those of the folder SPECTRA_TEST_PLUGINS names:
 * the macOS bundles, run through the host library's loader of them. */
std::string plugin_path(const std::string& name) {
    const char* other = std::getenv("SPECTRA_TEST_PLUGINS");
    return host_plugin_file(other && *other ? other : SPECTRA_PLUGIN_DIR, name);
}

Plugin::Plugin(const std::string& name) {
    std::string error;
    PiplInfo info;
    if (!host_open(plugin_path(name), &plugin, &info, &error))
        ADD_FAILURE() << "cannot open " << name << ": " << error;
}

HostImage Plugin::run(const HostImage& in, int16_t* result, const HostOptions& options,
                      HostLog* log) const {
    if (!plugin.entry) return in; /* the constructor has reported it */
    HostImage out;
    int16_t code = host_run(plugin, in, &out, options, log);
    if (result)
        *result = code;
    else
        EXPECT_EQ(code, noErr) << host_result_name(code);
    return out;
}

double white_of(int32_t depth) {
    return depth == 8 ? 255 : depth == 16 ? 32768 : 1.0;
}

HostImage noise_image(int32_t rows, int32_t columns, int32_t planes, int32_t depth, uint32_t seed,
                      int64_t row_padding) {
    uint64_t state = seed * 2654435761u + 1;
    auto next = [&state]() {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return uint32_t(state >> 33);
    };
    return make_image(
        rows, columns, planes, depth,
        [&](int, int, int) {
            if (depth == 32) return double(float((next() % 100001) / 80000.0));
            return double(next() % uint32_t(white_of(depth) + 1));
        },
        row_padding);
}

std::string shape_name(const Shape& s, int depth) {
    return std::to_string(s.rows) + "x" + std::to_string(s.columns) + "x" +
           std::to_string(s.planes) + " at " + std::to_string(depth);
}

HostImage run_on_noise(const Plugin& plugin, const Shape& s, int depth, uint32_t seed,
                       HostImage* in) {
    int bytes = host_sample_bytes(depth);
    *in = noise_image(s.rows, s.columns, s.planes, depth, seed, s.in_padding * bytes);
    HostOptions options;
    options.fill = HostFill::junk;
    options.out_row_padding = s.out_padding * bytes;
    return plugin.run(*in, nullptr, options);
}

std::vector<cld> direct_dft(const std::vector<cld>& a, const std::vector<int>& dims, int sign) {
    const long double pi = 3.141592653589793238462643383279502884L;
    std::vector<cld> out = a;
    /* One axis after another: along axis d the array is `outer` blocks of
     * `size` lines, `inner` values apart. */
    size_t inner = a.size();
    for (size_t d = 0; d < dims.size(); d++) {
        size_t size = size_t(dims[d]);
        inner /= size;
        size_t outer = a.size() / (inner * size);
        std::vector<cld> w(size), line(size);
        for (size_t k = 0; k < size; k++) w[k] = std::polar(1.0L, sign * 2 * pi * k / size);
        for (size_t o = 0; o < outer; o++)
            for (size_t i = 0; i < inner; i++) {
                cld* base = &out[o * size * inner + i];
                for (size_t u = 0; u < size; u++) {
                    cld sum = 0;
                    for (size_t x = 0; x < size; x++) sum += base[x * inner] * w[u * x % size];
                    line[u] = sum;
                }
                for (size_t u = 0; u < size; u++) base[u * inner] = line[u];
            }
    }
    return out;
}

long double magnitude_sum(const std::vector<cld>& a) {
    long double s = 0;
    for (const cld& v : a) s += std::abs(v);
    return s;
}

namespace {

/* The samples that the codes give a coefficient, from their definition,
 * before rounding: the magnitude code and the phase code. */
long double oracle_magnitude(long double m, long double N, int depth) {
    long double w = white_of(depth);
    long double D = std::log10(N * w) / w;
    if (depth == 32 && N == 1) return 0; /* no scale to code on: written as 0 */
    if (depth != 32 && m < 1) return 0;  /* below 1 codes as magnitude 1 does */
    return std::log10(m) / D;
}

long double oracle_phase(cld X, int depth) {
    long double w = white_of(depth);
    const long double pi = 3.141592653589793238462643383279502884L;
    return std::atan2(X.imag(), X.real()) / (2 * pi) * w + w / 2;
}

/* The 8- or 16-bit code of v: |v| rounded half up and saturated at white.
 * Sets *near when v lies within 1e-9 of a rounding boundary. */
long double rounded(long double v, long double white, bool* near) {
    long double a = std::fabs(v) + 0.5L;
    *near = a < white && std::fabs(a - std::nearbyint(a)) < 1e-9L;
    return a < white ? std::floor(a) : white;
}

} // namespace

void expect_codes(cld X, long double N, int depth, long double zero, double magnitude, double phase,
                  const std::string& where) {
    long double m = std::abs(X), w = white_of(depth);
    bool real_negative = X.real() < 0 && std::fabs(X.imag()) <= zero;
    if (depth != 32) {
        bool near;
        if (m <= zero) {
            EXPECT_EQ(magnitude, 0) << where << " X=" << (double)m << " (zero)";
            return;
        }
        long double L = oracle_magnitude(m, N, depth);
        long double expect = rounded(L, w, &near);
        if (near)
            EXPECT_NEAR(magnitude, expect, 1) << where;
        else
            EXPECT_EQ(magnitude, expect) << where << " L=" << (double)L;

        long double P = oracle_phase(X, depth);
        expect = rounded(P, w, &near);
        if (real_negative)
            EXPECT_TRUE(phase == 0 || phase == w) << where << " phase " << phase;
        else if (near)
            EXPECT_NEAR(phase, expect, 1) << where;
        else
            EXPECT_EQ(phase, expect) << where << " P=" << (double)P;
        return;
    }
    if (m <= zero) {
        EXPECT_LE(magnitude, 0) << where << " (zero)";
        return;
    }
    long double L = oracle_magnitude(m, N, depth);
    EXPECT_NEAR(magnitude, (double)L, 1e-6 * std::max(1e-3, std::fabs((double)L)))
        << where << " m=" << (double)m;
    long double P = oracle_phase(X, depth);
    if (real_negative)
        EXPECT_TRUE(std::fabs(phase) < 1e-6 || std::fabs(phase - 1) < 1e-6) << where;
    else
        EXPECT_NEAR(phase, (double)P, 1e-6) << where;
}

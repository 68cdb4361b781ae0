/* support.h - what the plug-in tests share: loading a plug-in through the
 * host library, making test images, and the independent oracle (direct DFTs
 * in long double and the codes evaluated from their definition). */
#ifndef SPECTRA_TEST_SUPPORT_H
#define SPECTRA_TEST_SUPPORT_H

#include "host.h"

#include <complex>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

typedef std::complex<long double> cld;

/* A file in the temporary folder that is this process's alone: the tests
 * of another build may run beside it. */
inline std::string temp_file(const std::string& name) {
    return testing::TempDir() + "spectra-" + std::to_string(getpid()) + "-" + name;
}

/* A plug-in of the build, loaded for the lifetime of the object. */
struct Plugin {
    HostPlugin plugin;
    explicit Plugin(const std::string& name);
    ~Plugin() { host_unload(&plugin); }
    /* Runs the plug-in on `in` and returns the document after the run. */
    HostImage run(const HostImage& in, int16_t* result = nullptr,
                  const HostOptions& options = HostOptions(), HostLog* log = nullptr) const;
};

std::string plugin_path(const std::string& name);

/* Every plug-in of the build. */
const char* const all_plugins[] = {"SpectraPlane", "SpectraPlaneInverse", "SpectraVolume",
                                   "SpectraRow", "SpectraDescreen"};

/* Images filled by a formula, f(x, y, p) in the depth's own scale. */
template <typename F>
HostImage make_image(int32_t rows, int32_t columns, int32_t planes, int32_t depth, F f,
                     int64_t row_padding = 0) {
    HostImage image = host_image(rows, columns, planes, depth, row_padding);
    for (int32_t y = 0; y < rows; y++)
        for (int32_t x = 0; x < columns; x++)
            for (int32_t p = 0; p < planes; p++) host_set_sample(image, x, y, p, f(x, y, p));
    return image;
}

/* Noise in the depth's range (floats up to 1.25 at 32 bits, some above white). */
HostImage noise_image(int32_t rows, int32_t columns, int32_t planes, int32_t depth, uint32_t seed,
                      int64_t row_padding = 0);

/* An image shape for the table-driven tests; padding in whole samples, as
 * hosts deliver row strides. */
struct Shape {
    int rows, columns, planes, in_padding, out_padding;
};

/* "7x13x4 at 16". */
std::string shape_name(const Shape& s, int depth);

/* Runs the plug-in on noise of that shape and depth, the host leaving junk
 * in outData; *in receives the noise. */
HostImage run_on_noise(const Plugin& plugin, const Shape& s, int depth, uint32_t seed,
                       HostImage* in);

/* The depth's white: 255, 32768 or 1.0. */
double white_of(int32_t depth);

/* The unnormalised DFT of a row-major array of the given dimensions (slowest
 * first) with exponent sign `sign`, summed directly in long double, one
 * axis after another. */
std::vector<cld> direct_dft(const std::vector<cld>& a, const std::vector<int>& dims, int sign);

/* The sum of |a|: a scale for the round-off of a transform of `a`. */
long double magnitude_sum(const std::vector<cld>& a);

/* Checks the two samples that code coefficient X at `depth` with transform
 * size N, against the codes' definition evaluated in long double.
 * `zero` is the magnitude below which X is zero up to round-off (its phase
 * is then anything). 8 and 16 bits: exact, except within 1e-9 of a rounding
 * boundary; 32 bits: within a relative 1e-6. */
void expect_codes(cld X, long double N, int depth, long double zero, double magnitude, double phase,
                  const std::string& where);

#endif

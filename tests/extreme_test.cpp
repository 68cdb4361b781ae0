/* extreme_test.cpp - the plug-ins on images at the edges of what a host can
 * hand them: sides of 1 and of 32767, 32-bit samples that are not ordinary
 * numbers, 16-bit samples above the host's white, and ten planes. Nothing
 * may be written outside the picture, and the input stays as it was. */
#include "support.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace {

const int depths[] = {8, 16, 32};

bool same_number(double a, double b) {
    return a == b || (std::isnan(a) && std::isnan(b));
}

/* Runs `plugin` with padded rows on both sides and checks what holds for
 * any image: noErr, the input unchanged, the output rows' padding unwritten,
 * planes from the fourth on copied from the input. */
HostImage run_checked(const Plugin& plugin, const HostImage& in, const std::string& what) {
    HostImage before = in;
    HostOptions options;
    options.out_row_padding = 3 * host_sample_bytes(in.depth);
    int16_t result;
    HostImage out = plugin.run(in, &result, options);
    EXPECT_EQ(result, noErr) << what << ": " << host_result_name(result);
    EXPECT_EQ(std::memcmp(before.data(), in.data(), size_t(in.rows) * size_t(in.row_bytes)), 0)
        << what << ": the input changed";
    int64_t pixels = int64_t(in.columns) * in.planes * host_sample_bytes(in.depth);
    for (int32_t y = 0; y < out.rows; y++)
        for (int64_t b = pixels; b < out.row_bytes; b++)
            if (out.data()[y * out.row_bytes + b] != 0) {
                ADD_FAILURE() << what << ": padding of row " << y << " written";
                return out;
            }
    for (int32_t y = 0; y < in.rows; y++)
        for (int32_t x = 0; x < in.columns; x++)
            for (int32_t p = 3; p < in.planes; p++)
                if (!same_number(host_sample(out, x, y, p), host_sample(in, x, y, p))) {
                    ADD_FAILURE() << what << ": plane " << p << " changed";
                    return out;
                }
    return out;
}

/* The transform of `a` (rows x columns, row-major) at one frequency,
 * summed directly. */
cld coefficient(const std::vector<cld>& a, int rows, int columns, int v, int u) {
    const long double pi = 3.141592653589793238462643383279502884L;
    cld sum = 0;
    for (int y = 0; y < rows; y++)
        for (int x = 0; x < columns; x++)
            sum += a[size_t(y) * columns + x] *
                   std::polar(1.0L,
                              -2 * pi * ((long double)v * y / rows + (long double)u * x / columns));
    return sum;
}

struct Side {
    int rows, columns;
};

const Side sides[] = {{2, 32767}, {32767, 2}, {1, 1}, {1, 32767}, {32767, 1}};

TEST(Extreme, LongAndTinySidesAtEveryDepth) {
    for (const char* name : all_plugins) {
        Plugin plugin(name);
        for (const Side& s : sides)
            for (int depth : depths) {
                std::string what = std::string(name) + " " + std::to_string(s.rows) + "x" +
                                   std::to_string(s.columns) + " at " + std::to_string(depth);
                HostImage in =
                    noise_image(s.rows, s.columns, 3, depth, 3, 2 * host_sample_bytes(depth));
                HostImage out = run_checked(plugin, in, what);
                bool nothing =
                    s.columns < 2 || (std::string(name) == "SpectraRow" && s.columns < 3);
                if (nothing) {
                    EXPECT_TRUE(host_same_samples(in, out)) << what;
                }
                for (int32_t y = 0; y < out.rows; y++)
                    for (int32_t x = 0; x < out.columns; x++)
                        for (int p = 0; p < 3; p++) {
                            double v = host_sample(out, x, y, p);
                            if (!std::isfinite(v) || v < (depth == 32 ? -1e30 : 0)) {
                                ADD_FAILURE() << what << ": sample " << v;
                                y = out.rows, x = out.columns, p = 3;
                            }
                        }
            }
    }
}

TEST(Extreme, LongSidesMatchDirectSums) {
    /* A few coefficients of each long transform, summed directly: at 32767
     * the offsets and sizes are as large as the interface allows. */
    Plugin plane("SpectraPlane"), row("SpectraRow");
    for (int depth : depths) {
        for (const Side& s : {Side{2, 32767}, Side{32767, 2}}) {
            HostImage in = noise_image(s.rows, s.columns, 3, depth, 5);
            HostImage out = plane.run(in);
            int H = s.rows, n = s.columns / 2;
            for (int k = 0; k < 3; k++) {
                std::vector<cld> a(size_t(H) * n);
                for (int y = 0; y < H; y++)
                    for (int x = 0; x < n; x++)
                        a[size_t(y) * n + x] =
                            ((x + y) & 1 ? -1.0L : 1.0L) * host_sample(in, x, y, k);
                long double zero = 1e-10L * (1 + magnitude_sum(a));
                for (int y : {0, H / 2, H - 1})
                    for (int x : {0, n / 2, n - 1})
                        expect_codes(coefficient(a, H, n, y, x), (long double)H * n, depth, zero,
                                     host_sample(out, x, y, k), host_sample(out, x + n, y, k),
                                     "SpectraPlane " + std::to_string(H) + "x" +
                                         std::to_string(s.columns) + " at " +
                                         std::to_string(depth) + " (" + std::to_string(x) + ", " +
                                         std::to_string(y) + ")");
            }
        }
        HostImage in = noise_image(2, 32767, 3, depth, 6);
        HostImage out = row.run(in);
        int N = 32765, n = N / 2 + 1;
        for (int y = 0; y < 2; y++)
            for (int p = 0; p < 3; p++) {
                std::vector<cld> a(static_cast<size_t>(N));
                for (int x = 0; x < N; x++) a[size_t(x)] = host_sample(in, x, y, p);
                long double zero = 1e-10L * (1 + magnitude_sum(a));
                for (int k : {0, 1, n / 2, n - 1})
                    expect_codes(coefficient(a, 1, N, 0, k), N, depth, zero,
                                 host_sample(out, k, y, p), host_sample(out, n + k, y, p),
                                 "SpectraRow at " + std::to_string(depth) + " k " +
                                     std::to_string(k));
            }
    }
}

/* 32-bit samples that are no ordinary numbers. */
HostImage special_floats(int rows, int columns, const std::vector<float>& values) {
    size_t i = 0;
    return make_image(rows, columns, 4, 32,
                      [&](int, int, int) { return double(values[i++ % values.size()]); });
}

TEST(Extreme, SpecialFloatsWriteNothingOutsideThePicture) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float denormal = std::numeric_limits<float>::denorm_min();
    struct Case {
        const char* what;
        std::vector<float> values;
        bool finite; /* the forward plug-ins write finite numbers only */
    } cases[] = {
        {"negative zero", {-0.0f}, true},
        {"denormals", {denormal, 1e-40f, -denormal, 0.25f}, true},
        {"1e30", {1e30f, -1e30f, 0.5f}, true},
        {"infinities", {inf, 0.5f, -inf, 0.25f, 0.75f}, false},
        {"NaN", {nan, 0.5f, 0.25f}, false},
    };
    for (const char* name : all_plugins) {
        Plugin plugin(name);
        for (const Case& c : cases) {
            HostImage in = special_floats(6, 10, c.values);
            std::string what = std::string(name) + " with " + c.what;
            HostImage out = run_checked(plugin, in, what);
            /* The forward plug-ins code a coefficient that is not a number
             * as 0, so they never write NaN; an infinite one codes as an
             * infinite magnitude. The inverse reads its input as codes, and
             * 10^1e30 is no number: it writes NaN there. */
            bool inverse = std::string(name) == "SpectraPlaneInverse";
            /* The descreen leaves a plane that holds one as it came. */
            if (!c.finite && std::string(name) == "SpectraDescreen") {
                EXPECT_TRUE(host_same_samples(in, out)) << what;
                continue;
            }
            for (int32_t y = 0; y < out.rows; y++)
                for (int32_t x = 0; x < out.columns; x++)
                    for (int p = 0; p < 3; p++) {
                        double v = host_sample(out, x, y, p);
                        if (c.finite && !inverse) {
                            ASSERT_TRUE(std::isfinite(v)) << what << " (" << x << ", " << y << ")";
                        } else if (!inverse) {
                            ASSERT_FALSE(std::isnan(v)) << what << " (" << x << ", " << y << ")";
                        }
                    }
        }
    }
}

TEST(Extreme, SixteenBitSamplesAboveWhiteSaturate) {
    for (const char* name : all_plugins) {
        Plugin plugin(name);
        uint32_t state = 9;
        HostImage in = make_image(6, 12, 3, 16, [&](int, int, int) {
            state = state * 1103515245 + 12345;
            return double(32768 + (state >> 16) % 32768);
        });
        HostImage out = run_checked(plugin, in, std::string(name) + " above white");
        for (int32_t y = 0; y < out.rows; y++)
            for (int32_t x = 0; x < out.columns; x++)
                for (int p = 0; p < 3; p++)
                    if (host_sample(out, x, y, p) > 32768 &&
                        host_sample(out, x, y, p) != host_sample(in, x, y, p))
                        ADD_FAILURE() << name << ": wrote " << host_sample(out, x, y, p);
    }
}

TEST(Extreme, TenPlanesAsThreeAndTheRestCopied) {
    for (const char* name : all_plugins) {
        Plugin plugin(name);
        for (int depth : depths) {
            HostImage ten = noise_image(5, 14, 10, depth, 8);
            HostImage three = make_image(
                5, 14, 3, depth, [&](int x, int y, int p) { return host_sample(ten, x, y, p); });
            HostImage out_ten = run_checked(plugin, ten, std::string(name) + " ten planes");
            HostImage out_three = plugin.run(three);
            for (int32_t y = 0; y < 5; y++)
                for (int32_t x = 0; x < 14; x++)
                    for (int p = 0; p < 3; p++)
                        ASSERT_EQ(host_sample(out_ten, x, y, p), host_sample(out_three, x, y, p))
                            << name << " at " << depth << " (" << x << ", " << y << ", " << p
                            << ")";
        }
    }
}

} // namespace

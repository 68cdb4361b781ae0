/* plane_test.cpp - SpectraPlane against a direct DFT computed in the test,
 * sample by sample, and the pictures whose codes are known by heart. */
#include "support.h"

#include <cmath>

namespace {

const int depths[] = {8, 16, 32};

/* Checks every sample of SpectraPlane's picture `out` of `in`: the codes of
 * the centred transform of each colour plane's left half in columns 0 to
 * 2n - 1 of planes 0 to 2, and the input everywhere else. */
void check_forward(const HostImage& in, const HostImage& out, const std::string& what) {
    int H = in.rows, n = in.columns / 2;
    for (int k = 0; k < 3; k++) {
        std::vector<cld> a(size_t(H) * n);
        for (int y = 0; y < H; y++)
            for (int x = 0; x < n; x++)
                a[size_t(y) * n + x] = ((x + y) & 1 ? -1.0L : 1.0L) * host_sample(in, x, y, k);
        std::vector<cld> X = direct_dft(a, {H, n}, -1);
        long double zero = 1e-10L * (1 + magnitude_sum(a));
        for (int y = 0; y < H; y++)
            for (int x = 0; x < n; x++)
                expect_codes(X[size_t(y) * n + x], (long double)H * n, in.depth, zero,
                             host_sample(out, x, y, k), host_sample(out, x + n, y, k),
                             what + " plane " + std::to_string(k) + " row " + std::to_string(y) +
                                 " column " + std::to_string(x));
    }
    for (int y = 0; y < H; y++)
        for (int x = 0; x < in.columns; x++)
            for (int p = 0; p < in.planes; p++)
                if (p >= 3 || x >= 2 * n) {
                    ASSERT_EQ(host_sample(out, x, y, p), host_sample(in, x, y, p))
                        << what << " untouched sample " << x << "," << y << "," << p;
                }
}

TEST(Plane, MatchesDirectTransformSampleBySample) {
    const Shape shapes[] = {
        {4, 8, 3, 0, 0},
        {5, 10, 3, 0, 0},
        {6, 7, 4, 0, 0},
        {1, 8, 3, 0, 0},
        {3, 2, 3, 0, 0},
        {1, 2, 3, 0, 0},
        {1, 3, 4, 0, 0},
        {7, 13, 4, 5, 3},
        {16, 12, 3, 1, 0},
        {9, 30, 5, 0, 7},
        {12, 26, 3, 0, 0},
        {2, 5, 3, 2, 2},
        /* columns long enough to be gathered a block at a time, the last
         * block part full */
        {37, 22, 3, 0, 0},
        {20, 70, 4, 1, 2},
    };
    Plugin plugin("SpectraPlane");
    uint32_t seed = 1;
    for (const Shape& s : shapes)
        for (int depth : depths) {
            HostImage in, out = run_on_noise(plugin, s, depth, seed++, &in);
            check_forward(in, out, shape_name(s, depth));
        }
}

TEST(Plane, FlatColoursLeaveEmptyFrequenciesBlack) {
    /* Vertical bands in plane 0, horizontal bands in plane 1, one colour in
     * plane 2: all their frequencies but one row, one column or one value
     * are empty, and FFTW's round-off there must not code as bright noise. */
    Plugin plugin("SpectraPlane");
    for (int depth : depths) {
        double w = white_of(depth);
        HostImage in = make_image(20, 60, 3, depth, [w](int x, int y, int p) {
            double band = p == 0 ? (x < 10) : p == 1 ? (y % 7 < 3) : 1;
            return std::round(w * (0.1 + 0.3 * p + 0.5 * band));
        });
        HostImage out = plugin.run(in);
        check_forward(in, out, "flat colours at " + std::to_string(depth));
        if (depth == 32) continue;
        const int most_lit[] = {30, 20, 1}; /* row H / 2, column n / 2, the centre */
        for (int p = 0; p < 3; p++) {
            int lit = 0;
            for (int y = 0; y < 20; y++)
                for (int x = 0; x < 30; x++) lit += host_sample(out, x, y, p) != 0;
            EXPECT_LE(lit, most_lit[p]) << depth << " plane " << p;
            EXPECT_GE(lit, 1) << depth << " plane " << p;
        }
    }
}

TEST(Plane, BlackImageIsBlack) {
    Plugin plugin("SpectraPlane");
    for (int depth : depths) {
        HostImage in = host_image(6, 12, 3, depth);
        HostOptions junk;
        junk.fill = HostFill::junk;
        HostImage out = plugin.run(in, nullptr, junk);
        EXPECT_TRUE(host_same_samples(in, out)) << depth;
    }
}

TEST(Plane, WhiteHalfCodesWhiteAtTheCentre) {
    Plugin plugin("SpectraPlane");
    for (int depth : depths) {
        double w = white_of(depth);
        /* the right half is black: it must not count */
        HostImage in = make_image(6, 16, 4, depth, [w](int x, int, int) { return x < 8 ? w : 0; });
        HostImage out = plugin.run(in);
        for (int k = 0; k < 3; k++) {
            EXPECT_NEAR(host_sample(out, 4, 3, k), w, depth == 32 ? 1e-6 : 0) << depth;
            EXPECT_NEAR(host_sample(out, 8 + 4, 3, k), w / 2 + (depth == 8 ? 0.5 : 0), 1e-6);
            EXPECT_EQ(host_sample(out, 0, 0, k), 0) << depth; /* an empty frequency */
        }
    }
}

TEST(Plane, RightHalfHasNoEffect) {
    Plugin plugin("SpectraPlane");
    for (int depth : depths) {
        HostImage a = noise_image(5, 11, 3, depth, 21), b = noise_image(5, 11, 3, depth, 22);
        for (int y = 0; y < 5; y++)
            for (int x = 0; x < 5; x++)
                for (int p = 0; p < 3; p++) host_set_sample(b, x, y, p, host_sample(a, x, y, p));
        HostImage fa = plugin.run(a), fb = plugin.run(b);
        for (int y = 0; y < 5; y++)
            for (int x = 0; x < 10; x++)
                for (int p = 0; p < 3; p++)
                    ASSERT_EQ(host_sample(fa, x, y, p), host_sample(fb, x, y, p)) << depth;
    }
}

TEST(Plane, ImpulseCodesAtN1024) {
    /* An impulse of value a at the top-left corner has every coefficient
     * equal to a: the picture is one magnitude code and the phase of 0. */
    struct Case {
        int depth;
        double a, magnitude, phase;
    } cases[] = {
        {8, 100, 94, 128},
        {8, 2, 14, 128},
        {8, 1, 0, 128},
        {16, 100, 8708, 16384},
        {16, 2, 1311, 16384},
        {16, 1, 0, 16384},
        {32, 100, 2 / std::log10(1024.0), 0.5},
        {32, 0.01, -2 / std::log10(1024.0), 0.5},
        {32, 0.5, -0.1, 0.5},
        {32, 1, 0, 0.5},
    };
    Plugin plugin("SpectraPlane");
    for (const Case& c : cases) {
        HostImage in = make_image(32, 64, 3, c.depth,
                                  [&](int x, int y, int) { return x == 0 && y == 0 ? c.a : 0; });
        HostImage out = plugin.run(in);
        for (int y = 0; y < 32; y++)
            for (int x = 0; x < 32; x++)
                for (int k = 0; k < 3; k++) {
                    ASSERT_NEAR(host_sample(out, x, y, k), c.magnitude, 1e-6)
                        << c.depth << " " << c.a;
                    ASSERT_NEAR(host_sample(out, x + 32, y, k), c.phase, 1e-6) << c.depth;
                }
    }
}

TEST(Plane, SingleValueAt32BitsIsFinite) {
    /* One row of two columns: N = 1, whose divisor log10(1) is 0. */
    Plugin plugin("SpectraPlane");
    HostImage in = make_image(1, 2, 3, 32, [](int, int, int p) { return 0.25 * (p + 1); });
    HostImage out = plugin.run(in);
    for (int p = 0; p < 3; p++) {
        EXPECT_EQ(host_sample(out, 0, 0, p), 0);
        EXPECT_EQ(host_sample(out, 1, 0, p), 0.5);
    }
}

} // namespace

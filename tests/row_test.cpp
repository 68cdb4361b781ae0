/* row_test.cpp - SpectraRow against a direct 1-D DFT of each row computed in
 * the test, the row layout, and a large image under a memory limit. */
#include "limit.h"
#include "support.h"

#include <cmath>

namespace {

const int depths[] = {8, 16, 32};

/* Checks row y of SpectraRow's picture `out` of `in` in planes 0 to 2. */
void check_row(const HostImage& in, const HostImage& out, int y, const std::string& what) {
    int W = in.columns, N = W - 2, n = N / 2 + 1;
    for (int p = 0; p < 3; p++) {
        std::vector<cld> a(static_cast<size_t>(N));
        for (int k = 0; k < N; k++) a[size_t(k)] = host_sample(in, k, y, p);
        std::vector<cld> X = direct_dft(a, {N}, -1);
        long double zero = 1e-10L * (1 + magnitude_sum(a));
        for (int k = 0; k < n; k++)
            expect_codes(X[size_t(k)], N, in.depth, zero, host_sample(out, k, y, p),
                         host_sample(out, n + k, y, p),
                         what + " row " + std::to_string(y) + " plane " + std::to_string(p) +
                             " k " + std::to_string(k));
        for (int x = 2 * n; x < W; x++) EXPECT_EQ(host_sample(out, x, y, p), 0) << what;
    }
    for (int x = 0; x < W; x++)
        for (int p = 3; p < in.planes; p++)
            ASSERT_EQ(host_sample(out, x, y, p), host_sample(in, x, y, p)) << what;
}

TEST(Row, MatchesDirectTransformSampleBySample) {
    const Shape shapes[] = {{3, 8, 3, 0, 0}, {3, 7, 3, 0, 0},  {2, 3, 4, 0, 0},  {2, 4, 3, 0, 0},
                            {1, 5, 3, 0, 0}, {1, 34, 3, 0, 0}, {5, 21, 4, 3, 1}, {4, 64, 5, 0, 2}};
    Plugin plugin("SpectraRow");
    uint32_t seed = 200;
    for (const Shape& s : shapes)
        for (int depth : depths) {
            HostImage in, out = run_on_noise(plugin, s, depth, seed++, &in);
            for (int y = 0; y < s.rows; y++) check_row(in, out, y, shape_name(s, depth));
        }
}

TEST(Row, RowsAndPlanesAreIndependentAndTheLastTwoColumnsIgnored) {
    Plugin plugin("SpectraRow");
    for (int depth : depths) {
        HostImage a = noise_image(6, 8, 3, depth, 31);
        HostImage b = a;
        for (int y = 0; y < 6; y++)
            for (int p = 0; p < 3; p++) {
                host_set_sample(b, 6, y, p, host_sample(a, 7, y, p));
                host_set_sample(b, 7, y, p, host_sample(a, 6, y, p) / 2);
            }
        EXPECT_TRUE(host_same_samples(plugin.run(a), plugin.run(b))) << depth;

        HostImage c = a;
        host_set_sample(c, 2, 4, 1, host_sample(a, 2, 4, 1) / 3);
        HostImage fa = plugin.run(a), fc = plugin.run(c);
        for (int y = 0; y < 6; y++)
            for (int x = 0; x < 8; x++)
                for (int p = 0; p < 3; p++)
                    if (y != 4 || p != 1) {
                        ASSERT_EQ(host_sample(fa, x, y, p), host_sample(fc, x, y, p)) << depth;
                    }
        bool changed = false;
        for (int x = 0; x < 8; x++) changed |= host_sample(fa, x, 4, 1) != host_sample(fc, x, 4, 1);
        EXPECT_TRUE(changed) << depth;
    }
}

TEST(Row, KnownCodesAtWidthEight) {
    /* Width 8: N = 6, n = 4. A row that starts with a and is 0 elsewhere has
     * every frequency equal to a; a flat row only the frequency 0. */
    struct Case {
        int depth;
        double first, rest, magnitude0, phase0, magnitude1;
    } cases[] = {
        {8, 2, 0, 24, 128, 24},     /* magnitude 2 */
        {8, 1, 0, 0, 128, 0},       /* magnitude 1 */
        {8, 255, 255, 255, 128, 0}, /* a white row: 1530; nothing else */
        {8, 100, 100, 222, 128, 0}, /* a flat row: 600, 255 log 600 / log 1530 = 222.45 */
        {16, 32768, 32768, 32768, 16384, 0},
        {32, 60, 0, 2.285, 0.5, 2.285},
        {32, 0.5, 0, -0.3869, 0.5, -0.3869}, /* below 1 keeps its sign */
    };
    Plugin plugin("SpectraRow");
    for (const Case& c : cases) {
        HostImage in = make_image(2, 8, 3, c.depth, [&](int x, int, int) {
            return x == 0 ? c.first : x < 6 ? c.rest : 77 % int(white_of(c.depth) + 1);
        });
        HostImage out = plugin.run(in);
        for (int p = 0; p < 3; p++) {
            EXPECT_NEAR(host_sample(out, 0, 1, p), c.magnitude0, 1e-3) << c.depth << " " << c.first;
            EXPECT_NEAR(host_sample(out, 4, 1, p), c.phase0, 1e-6) << c.depth << " " << c.first;
            for (int k = 1; k < 4; k++)
                EXPECT_NEAR(host_sample(out, k, 1, p), c.magnitude1, 1e-3) << c.depth << " k " << k;
        }
    }
}

TEST(Row, WidthThreeAt32BitsIsFinite) {
    /* N = 1: the divisor log10(1) is 0; the magnitude writes 0. */
    Plugin plugin("SpectraRow");
    HostImage out = plugin.run(make_image(2, 3, 3, 32, [](int, int, int) { return 0.75; }));
    for (int y = 0; y < 2; y++)
        for (int p = 0; p < 3; p++) {
            EXPECT_EQ(host_sample(out, 0, y, p), 0);
            EXPECT_EQ(host_sample(out, 1, y, p), 0.5);
            EXPECT_EQ(host_sample(out, 2, y, p), 0);
        }
}

TEST(Row, LargeImageUnderMemoryLimit) {
    /* 4000 x 4000 at 8 bits: 48 MB a document. Buffers sized from the whole
     * image (4 (H + 4) (N + 4) values) would take 1.5 GB; one row's take
     * 48 KB. */
    if (!address_limits_work()) GTEST_SKIP() << "no address-space limits here";
    if (!in_limited_child(uint64_t(512) << 20, true)) {
        EXPECT_TRUE(run_limited_child());
        return;
    }
    HostImage in = noise_image(4000, 4000, 3, 8, 5);
    Plugin plugin("SpectraRow");
    HostImage out = plugin.run(in);
    check_row(in, out, 0, "first row");
    check_row(in, out, 3999, "last row");
}

} // namespace

/* volume_test.cpp - SpectraVolume against a direct 3-D DFT over (plane, row,
 * column) computed in the test, and the symmetries of its picture. */
#include "support.h"

#include <cmath>

namespace {

const int depths[] = {8, 16, 32};

/* The spectrum of the volume of `in`'s left half, centring sign on row and
 * column only. */
std::vector<cld> volume_spectrum(const HostImage& in, long double* zero) {
    int rows = in.rows, n = in.columns / 2;
    std::vector<cld> a(size_t(3) * rows * n);
    for (int p = 0; p < 3; p++)
        for (int y = 0; y < rows; y++)
            for (int j = 0; j < n; j++)
                a[(size_t(p) * rows + y) * n + j] =
                    ((y + j) & 1 ? -1.0L : 1.0L) * host_sample(in, j, y, p);
    *zero = 1e-10L * (1 + magnitude_sum(a));
    return direct_dft(a, {3, rows, n}, -1);
}

void check_volume(const HostImage& in, const HostImage& out, const std::string& what) {
    int rows = in.rows, n = in.columns / 2;
    long double zero;
    std::vector<cld> X = volume_spectrum(in, &zero);
    for (int p = 0; p < 3; p++)
        for (int y = 0; y < rows; y++)
            for (int j = 0; j < n; j++)
                expect_codes(X[(size_t(p) * rows + y) * n + j], 3.0L * rows * n, in.depth, zero,
                             host_sample(out, j, y, p), host_sample(out, n + j, y, p),
                             what + " element " + std::to_string(p) + "," + std::to_string(y) +
                                 "," + std::to_string(j));
    for (int y = 0; y < rows; y++)
        for (int x = 0; x < in.columns; x++)
            for (int p = 0; p < in.planes; p++)
                if (p >= 3 || x >= 2 * n) {
                    ASSERT_EQ(host_sample(out, x, y, p), host_sample(in, x, y, p)) << what;
                }
}

TEST(Volume, MatchesDirectTransformSampleBySample) {
    const Shape shapes[] = {{4, 8, 3, 0, 0},  {5, 10, 3, 0, 0}, {6, 7, 4, 0, 0},  {1, 8, 3, 0, 0},
                            {1, 2, 3, 0, 0},  {3, 3, 4, 0, 0},  {7, 13, 4, 2, 1}, {10, 24, 3, 0, 3},
                            {9, 18, 5, 1, 0}, {18, 20, 3, 0, 0}};
    Plugin plugin("SpectraVolume");
    uint32_t seed = 100;
    for (const Shape& s : shapes)
        for (int depth : depths) {
            HostImage in, out = run_on_noise(plugin, s, depth, seed++, &in);
            check_volume(in, out, shape_name(s, depth));
        }
}

TEST(Volume, PlanesAgreeWhenOnlyPlaneZeroHoldsAnything) {
    /* Then every colour frequency sees the same plane: the three planes of
     * the picture are the same picture. */
    Plugin plugin("SpectraVolume");
    for (int depth : depths) {
        HostImage noise = noise_image(6, 20, 3, depth, 7);
        HostImage in = make_image(6, 20, 3, depth, [&](int x, int y, int p) {
            return p == 0 ? host_sample(noise, x, y, 0) : 0.0;
        });
        HostImage out = plugin.run(in);
        check_volume(in, out, "plane 0 only at " + std::to_string(depth));
        for (int y = 0; y < 6; y++)
            for (int x = 0; x < 20; x++)
                for (int p = 1; p < 3; p++)
                    EXPECT_NEAR(host_sample(out, x, y, p), host_sample(out, x, y, 0),
                                depth == 32 ? 1e-9 : 0)
                        << depth << " at " << x << "," << y;
    }
}

TEST(Volume, WhiteImageIsWhiteAtPlaneZerosCentre) {
    Plugin plugin("SpectraVolume");
    for (int depth : depths) {
        double w = white_of(depth);
        HostImage in = make_image(4, 12, 3, depth, [w](int, int, int) { return w; });
        HostImage out = plugin.run(in);
        EXPECT_NEAR(host_sample(out, 3, 2, 0), w, depth == 32 ? 1e-6 : 0) << depth;
        EXPECT_EQ(host_sample(out, 3, 2, 1), 0) << depth;
        EXPECT_EQ(host_sample(out, 3, 2, 2), 0) << depth;
    }
}

TEST(Volume, ColourFrequenciesOneAndTwoAreConjugate) {
    /* Element (2, y, j) is the conjugate of (1, -y, -j): equal magnitudes,
     * opposite angles (phase codes that add up to white). */
    Plugin plugin("SpectraVolume");
    int rows = 5, n = 6;
    HostImage out = plugin.run(noise_image(rows, 2 * n, 3, 32, 12));
    for (int y = 0; y < rows; y++)
        for (int j = 0; j < n; j++) {
            int y1 = (rows - y) % rows, j1 = (n - j) % n;
            EXPECT_NEAR(host_sample(out, j, y, 2), host_sample(out, j1, y1, 1), 1e-6);
            EXPECT_NEAR(host_sample(out, n + j, y, 2) + host_sample(out, n + j1, y1, 1), 1, 1e-6);
        }
}

TEST(Volume, CentringSignIgnoresThePlane) {
    /* A one-row image that is the same in all three planes: were the sign to
     * depend on the plane, planes 1 and 2 of the volume would differ from
     * plane 0 and colour frequencies 1 and 2 would light up. Columns 1, 3, 5
     * ... are negated, so 200, 0, 200, 0 ... has frequencies 0 and n / 2. */
    Plugin plugin("SpectraVolume");
    HostImage in = make_image(1, 16, 3, 8, [](int x, int, int) { return x % 2 ? 0.0 : 200.0; });
    HostImage out = plugin.run(in);
    check_volume(in, out, "alternating row");
    for (int j = 0; j < 8; j++)
        for (int p = 0; p < 3; p++)
            EXPECT_EQ(host_sample(out, j, 0, p) != 0, p == 0 && (j == 0 || j == 4))
                << j << " " << p;
}

} // namespace

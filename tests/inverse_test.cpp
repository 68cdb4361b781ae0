/* inverse_test.cpp - SpectraPlaneInverse against a direct inverse DFT of the
 * decoded picture, computed in the test, and the round trip through both
 * planar plug-ins. */
#include "support.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const int depths[] = {8, 16, 32};

/* The coefficient that samples M and P code, by the reading rule: 0 for a
 * magnitude sample of 0, otherwise 10^(M D) at the angle of P; at 32 bits
 * the magnitude is rounded to single precision. */
cld decode(double M, double P, long double N, int depth) {
    if (M == 0) return 0;
    long double w = white_of(depth);
    const long double pi = 3.141592653589793238462643383279502884L;
    long double D = std::log10(N * w) / w;
    long double m = std::pow(10.0L, M * D);
    if (depth == 32) m = float(m);
    return std::polar(m, (P - w / 2) / (w / (2 * pi)));
}

/* Checks every sample of SpectraPlaneInverse's output `out` for the
 * picture `in`. */
void check_inverse(const HostImage& in, const HostImage& out, const std::string& what) {
    int H = in.rows, n = in.columns / 2, depth = in.depth;
    long double N = (long double)H * n, w = white_of(depth);
    for (int k = 0; k < 3; k++) {
        std::vector<cld> X(size_t(H) * n);
        for (int y = 0; y < H; y++)
            for (int x = 0; x < n; x++)
                X[size_t(y) * n + x] =
                    decode(host_sample(in, x, y, k), host_sample(in, x + n, y, k), N, depth);
        std::vector<cld> a = direct_dft(X, {H, n}, +1);
        long double scale = magnitude_sum(X) / N;
        for (int y = 0; y < H; y++)
            for (int x = 0; x < n; x++) {
                long double v = std::abs(a[size_t(y) * n + x]) / N;
                double got = host_sample(out, x, y, k);
                std::string where = what + " plane " + std::to_string(k) + " row " +
                                    std::to_string(y) + " column " + std::to_string(x);
                if (depth == 32) {
                    /* a magnitude whose single-precision rounding flips moves
                     * v by at most 6e-8 of the mean magnitude */
                    ASSERT_NEAR(got, (double)v, 1e-6 * (double)v + 1e-7 * (double)scale) << where;
                    continue;
                }
                long double r = v + 0.5L;
                if (r < w && std::fabs(r - std::nearbyint(r)) < 1e-9L)
                    ASSERT_NEAR(got, std::floor(r), 1) << where;
                else
                    ASSERT_EQ(got, std::min(std::floor(r), w)) << where;
            }
    }
    /* The phase half is cleared at 32 bits; everything else keeps the input. */
    for (int y = 0; y < H; y++)
        for (int x = n; x < in.columns; x++)
            for (int p = 0; p < in.planes; p++) {
                double expect = depth == 32 && p < 3 && x < 2 * n ? 0 : host_sample(in, x, y, p);
                ASSERT_EQ(host_sample(out, x, y, p), expect) << what << " at " << x << "," << y;
            }
    for (int y = 0; y < H; y++)
        for (int x = 0; x < n; x++)
            for (int p = 3; p < in.planes; p++)
                ASSERT_EQ(host_sample(out, x, y, p), host_sample(in, x, y, p)) << what;
}

/* A picture of random codes: sparse magnitude samples (so that the image is
 * not simply saturated) and any phase samples. */
HostImage random_picture(int rows, int columns, int planes, int depth, uint32_t seed,
                         int64_t padding = 0) {
    HostImage noise = noise_image(rows, columns, planes, depth, seed, padding);
    int n = columns / 2;
    return make_image(
        rows, columns, planes, depth,
        [&](int x, int y, int p) {
            double s = host_sample(noise, x, y, p);
            if (x >= n || p >= 3) return s;
            if ((x * 7 + y * 3 + p) % 4 != 0) return 0.0;
            return depth == 32 ? (s - 0.6) * 0.5 : std::floor(s * 0.6);
        },
        padding);
}

TEST(Inverse, MatchesDirectInverseTransformSampleBySample) {
    const Shape shapes[] = {{4, 8, 3, 0, 0},   {5, 10, 3, 0, 0}, {6, 7, 4, 0, 0},
                            {1, 8, 3, 0, 0},   {3, 2, 3, 0, 0},  {9, 13, 4, 2, 0},
                            {16, 12, 3, 0, 0}, {8, 30, 5, 1, 0}, {11, 22, 3, 0, 0},
                            {19, 40, 3, 0, 0}};
    Plugin forward("SpectraPlane"), inverse("SpectraPlaneInverse");
    HostOptions junk;
    junk.fill = HostFill::junk;
    uint32_t seed = 40;
    for (const Shape& s : shapes)
        for (int depth : depths) {
            int64_t padding = s.in_padding * host_sample_bytes(depth);
            std::string what = shape_name(s, depth);
            HostImage picture = random_picture(s.rows, s.columns, s.planes, depth, seed++, padding);
            check_inverse(picture, inverse.run(picture, nullptr, junk), what + " (random codes)");
            /* and a picture such as the forward plug-in writes */
            HostImage spectrum =
                forward.run(noise_image(s.rows, s.columns, s.planes, depth, seed++));
            check_inverse(spectrum, inverse.run(spectrum, nullptr, junk), what + " (spectrum)");
        }
}

TEST(Inverse, ZeroMagnitudesGiveBlackWhateverThePhase) {
    Plugin inverse("SpectraPlaneInverse");
    for (int depth : depths) {
        HostImage picture = noise_image(6, 14, 3, depth, 8);
        for (int y = 0; y < 6; y++)
            for (int x = 0; x < 7; x++)
                for (int p = 0; p < 3; p++) host_set_sample(picture, x, y, p, 0);
        HostImage out = inverse.run(picture);
        for (int y = 0; y < 6; y++)
            for (int x = 0; x < 7; x++)
                for (int p = 0; p < 3; p++) ASSERT_EQ(host_sample(out, x, y, p), 0) << depth;
    }
}

TEST(Inverse, OneWhiteMagnitudeGivesWhite) {
    /* One coefficient of magnitude N w is a wave of modulus w everywhere. */
    Plugin inverse("SpectraPlaneInverse");
    for (int depth : depths) {
        double w = white_of(depth);
        for (int at : {0, 5, 17}) {
            HostImage picture = noise_image(4, 12, 3, depth, 30 + at);
            for (int y = 0; y < 4; y++)
                for (int x = 0; x < 6; x++)
                    for (int p = 0; p < 3; p++)
                        host_set_sample(picture, x, y, p, y * 6 + x == at ? w : 0);
            HostImage out = inverse.run(picture);
            for (int y = 0; y < 4; y++)
                for (int x = 0; x < 6; x++)
                    for (int p = 0; p < 3; p++)
                        ASSERT_NEAR(host_sample(out, x, y, p), w, depth == 32 ? 1e-6 : 0)
                            << depth << " " << at;
        }
    }
}

TEST(Inverse, RoundTripGivesBackTheLeftHalf) {
    struct Picture {
        const char* name;
        int rows, columns;
        double (*f)(int x, int y, int p); /* in [0, 1] */
    } pictures[] = {
        {"smooth", 96, 192,
         [](int x, int y, int p) {
             double dx = x - 30.0 - 10 * p, dy = y - 50.0;
             return 0.15 + 0.7 * std::exp(-(dx * dx + dy * dy) / 900) + 0.1 * x / 96.0;
         }},
        {"noisy", 75, 150,
         [](int x, int y, int p) {
             uint32_t h =
                 uint32_t(x) * 73856093u ^ uint32_t(y) * 19349663u ^ uint32_t(p) * 83492791u;
             h = (h ^ (h >> 13)) * 0x5bd1e995u;
             return 0.2 + 0.6 * ((h >> 8) & 0xffff) / 65535.0;
         }},
        {"periodic", 64, 128,
         [](int x, int y, int p) {
             return 0.5 + 0.3 * std::sin(x * 0.6 + p) * std::cos(y * 0.25) +
                    0.15 * ((x / 4 + y / 4) % 2);
         }},
        {"flat colours", 100, 300,
         [](int x, int y, int p) {
             return (x < 60 ? 0.2 : 0.7) + (y < 40 ? 0.1 * p : 0.25) - (p == 2 && x > 110) * 0.15;
         }},
        {"odd sizes", 81, 123,
         [](int x, int y, int p) { return 0.4 + 0.3 * std::sin((x * x + y * 3 + p * 20) / 50.0); }},
        /* large enough for both transforms' row loops to be spread over threads */
        {"large", 257, 602,
         [](int x, int y, int p) { return 0.3 + 0.2 * std::cos((x * y + p * 40) / 300.0); }},
    };
    const double floors[] = {35, 75, 130}; /* dB, at 8, 16 and 32 bits */
    Plugin forward("SpectraPlane"), inverse("SpectraPlaneInverse");
    for (const Picture& pic : pictures)
        for (int d = 0; d < 3; d++) {
            int depth = depths[d];
            double w = white_of(depth);
            HostImage in = make_image(pic.rows, pic.columns, 3, depth, [&](int x, int y, int p) {
                double v = pic.f(x, y, p) * w;
                return depth == 32 ? v : std::round(v);
            });
            HostImage back = inverse.run(forward.run(in));
            double db = host_psnr(in, back);
            std::printf("round trip %-13s %3d x %3d at %2d bits: %6.1f dB\n", pic.name, pic.rows,
                        pic.columns, depth, db);
            EXPECT_GE(db, floors[d]) << pic.name << " at " << depth;
        }
}

} // namespace

#if !defined(_WIN32)
/* The pictures for the comparison below: photo-like, or noise. */
HostImage reading_image(const std::string& name) {
    const int rows = 256, columns = 1024;
    if (name == "noise") return noise_image(rows, columns, 3, 32, 5);
    return make_image(rows, columns, 3, 32, [](int x, int y, int p) {
        double u = x / 512.0, v = y / 256.0, disc = (u - 0.5) * (u - 0.5) + (v - 0.4) * (v - 0.4);
        return 0.2 + 0.5 * u * v + 0.1 * p + (disc < 0.05 ? 0.2 : 0) + 0.03 * std::sin(x * 0.7);
    });
}

/* Run by the test below in a process of its own, where SPECTRA_CODER can
 * still choose the coder's path: writes SpectraPlaneInverse's output for
 * SpectraPlane's picture of the image SPECTRA_READING_IMAGE to the file
 * SPECTRA_READING_OUTPUT. Skipped otherwise. */
TEST(Inverse, ReadingWorker) {
    const char* image = std::getenv("SPECTRA_READING_IMAGE");
    const char* output = std::getenv("SPECTRA_READING_OUTPUT");
    if (!image || !output) GTEST_SKIP() << "run by VectorReadingAgreesWithThePlainReader";
    HostImage picture = Plugin("SpectraPlane").run(reading_image(image));
    HostImage out = Plugin("SpectraPlaneInverse").run(picture);
    FILE* f = std::fopen(output, "wb");
    ASSERT_TRUE(f);
    ASSERT_EQ(std::fwrite(out.data(), 1, out.storage.size() * 8, f), out.storage.size() * 8);
    ASSERT_EQ(std::fclose(f), 0);
}

std::vector<float> inverse_with_path(const std::string& image, const std::string& path) {
    std::string file = temp_file("reading-" + image + "-" + path);
    std::string command = "SPECTRA_CODER=" + path + " SPECTRA_READING_IMAGE=" + image +
                          " SPECTRA_READING_OUTPUT=" + file + " " SPECTRA_TEST_PROGRAM +
                          " --gtest_filter=Inverse.ReadingWorker >/dev/null";
    std::vector<float> samples;
    if (std::system(command.c_str()) != 0) return samples;
    FILE* f = std::fopen(file.c_str(), "rb");
    if (!f) return samples;
    float v;
    while (std::fread(&v, sizeof v, 1, f) == 1) samples.push_back(v);
    std::fclose(f);
    std::remove(file.c_str());
    return samples;
}

/* At 32 bits the inverse reads codes with vector approximations of 10^x, cos
 * and sin where the processor has them: its samples equal the plain
 * reader's in at least 99.99% of places and lie one float step away at most
 * elsewhere, on a photo-like picture and on noise. */
TEST(Inverse, VectorReadingAgreesWithThePlainReader) {
    for (const char* image : {"photo", "noise"}) {
        std::vector<float> plain = inverse_with_path(image, "portable");
        std::vector<float> vector = inverse_with_path(image, "best");
        ASSERT_FALSE(plain.empty());
        ASSERT_EQ(plain.size(), vector.size());
        int64_t samples = int64_t(plain.size()), same = 0, far = 0;
        for (int64_t i = 0; i < samples; i++) {
            const float a = plain[size_t(i)], b = vector[size_t(i)];
            if (std::memcmp(&a, &b, sizeof a) == 0)
                same++;
            else if (std::nextafter(a, INFINITY) != b && std::nextafter(a, -INFINITY) != b)
                far++;
        }
        EXPECT_GE(double(same) / double(samples), 0.9999) << image;
        EXPECT_EQ(far, 0) << image;
        std::printf("%s: %lld of %lld samples the same, %lld one float step apart\n", image,
                    (long long)same, (long long)samples, (long long)(samples - same - far));
    }
}
#endif

/* fast_codes_test.cpp - the fast coder writes exactly the samples of the
 * exact formula: on 10^8 random coefficients at each depth, with each fast
 * kernel this machine can run, and on the hard cases (angles of exactly 0
 * and plus or minus pi, magnitudes of exactly 0 and 1, values at and next to
 * every rounding boundary, denormals, huge values, infinities and NaN). */
#include "fast_codes.h"

#include <cfloat>
#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace {

#if defined(SPECTRA_SANITIZE)
const int64_t random_count = 2000000; /* the sanitizers make each call far slower */
#else
const int64_t random_count = 100000000;
#endif

std::vector<std::pair<const char*, ApproximateProc>> kernels() {
    std::vector<std::pair<const char*, ApproximateProc>> k = {{"baseline", approximate_baseline}};
#if defined(SPECTRA_HAVE_AVX2)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"))
        k.push_back({"avx2", approximate_avx2});
#endif
    return k;
}

/* Codes `count` coefficients both ways and counts the samples that differ. */
template <typename T>
int64_t differences(const std::vector<double>& X, double D, ApproximateProc kernel,
                    std::string* first) {
    size_t count = X.size() / 2;
    std::vector<T> fast(2 * count), exact(2 * count);
    /* interleaved as in an image of two planes: magnitude, then phase */
    write_coefficients<T>(reinterpret_cast<const fftw_complex*>(X.data()), int64_t(count), D,
                          fast.data(), fast.data() + 1, 2, kernel);
    for (size_t i = 0; i < count; i++)
        write_coefficient<T>(X[2 * i], X[2 * i + 1], D, &exact[2 * i], &exact[2 * i + 1]);
    int64_t n = 0;
    for (size_t i = 0; i < 2 * count; i++)
        if (std::memcmp(&fast[i], &exact[i], sizeof(T)) != 0) {
            if (n++ == 0)
                *first = "re " + std::to_string(X[i & ~size_t(1)]) + " im " +
                         std::to_string(X[i | 1]) + (i & 1 ? " phase " : " magnitude ") +
                         std::to_string(double(fast[i])) + " vs " +
                         std::to_string(double(exact[i]));
        }
    return n;
}

/* 10^8 coefficients with the machine's best kernel, 10^7 with each other
 * (fewer under the sanitizers). */
template <typename T> void random_coefficients(int depth) {
    std::mt19937_64 random(depth);
    std::uniform_real_distribution<double> unit(0, 1);
    const int64_t block = 1 << 20, run = 1024;
    ApproximateProc best = approximate_for_this_machine();
    for (auto [name, kernel] : kernels()) {
        int64_t wrong = 0, count = kernel == best ? random_count : random_count / 10;
        std::string first;
        std::vector<double> X(2 * size_t(block));
        for (int64_t done = 0; done < count; done += block) {
            /* a transform size for the block; for each run of coefficients a
             * scale from 1e-4 to beyond the largest code, and in it values at
             * every angle */
            double N = std::floor(std::exp(unit(random) * std::log(32767.0 * 32767.0))) + 2;
            double D = magnitude_divisor<T>(N), scale = 1;
            for (int64_t i = 0; i < block; i++) {
                if (i % run == 0) scale = std::exp((unit(random) * 1.3 - 0.2) * std::log(N * 4e4));
                X[2 * i] = (2 * unit(random) - 1) * scale;
                X[2 * i + 1] = (2 * unit(random) - 1) * scale;
            }
            wrong += differences<T>(X, D, kernel, &first);
        }
        EXPECT_EQ(wrong, 0) << name << " at " << depth << " bits; first: " << first;
    }
}

TEST(FastCodes, RandomCoefficients8) {
    random_coefficients<uint8_t>(8);
}
TEST(FastCodes, RandomCoefficients16) {
    random_coefficients<uint16_t>(16);
}
TEST(FastCodes, RandomCoefficients32) {
    random_coefficients<float>(32);
}

/* Every coefficient that sits on, or one step beside, a boundary of the
 * codes: magnitudes 10^((k - 0.5) D) and angles of phase codes k - 0.5, and
 * the neighbouring doubles of each. */
template <typename T> std::vector<double> hard_cases(double D) {
    std::vector<double> X;
    auto add = [&X](double re, double im) {
        X.push_back(re);
        X.push_back(im);
    };
    auto around = [&](double m, double theta) {
        for (double mm : {std::nextafter(m, 0.0), m, std::nextafter(m, INFINITY)})
            for (double t : {std::nextafter(theta, -4.0), theta, std::nextafter(theta, 4.0)})
                add(mm * std::cos(t), mm * std::sin(t));
    };
    const double w = Depth<T>::white, K = degrees_per_radian * Depth<T>::phase_scale;
    const int steps = w == 1.0 ? 4096 : int(w);
    for (int k = 0; k <= steps + 1; k++) {
        double code = w == 1.0 ? k / 1024.0 - 1 : k - 0.5;
        around(std::pow(10.0, code * D), 0.7);
        around(37.5, ((w == 1.0 ? k / double(steps) : k - 0.5) - Depth<T>::half) / K);
    }
    const double specials[] = {0.0,   -0.0,  1.0,   -1.0,   1e-310,  -1e-310,  1e-160,    1e-150,
                               1e150, 1e200, 1e300, -1e300, DBL_MAX, INFINITY, -INFINITY, NAN};
    for (double a : specials)
        for (double b : specials) add(a, b);
    for (double m : {1.0, std::nextafter(1.0, 0.0), std::nextafter(1.0, 2.0), 0.5, 2.0, 100.0})
        for (double s : {1.0, -1.0}) {
            add(s * m, 0.0);  /* angle 0 or pi */
            add(s * m, -0.0); /* angle 0 or -pi */
            add(0.0, s * m);  /* plus or minus pi / 2 */
            add(s * m * std::sqrt(0.5), m * std::sqrt(0.5));
        }
    while ((X.size() / 2) % 7 != 3) add(3.0, 4.0); /* an uneven tail for the kernel */
    return X;
}

TEST(FastCodes, HardCases) {
    for (auto [name, kernel] : kernels())
        for (double N : {1.0, 2.0, 3.0, 1024.0, 12345.0, 1073676289.0}) {
            std::string first;
            EXPECT_EQ(differences<uint8_t>(hard_cases<uint8_t>(magnitude_divisor<uint8_t>(N)),
                                           magnitude_divisor<uint8_t>(N), kernel, &first),
                      0)
                << name << " 8 bits, N " << N << ": " << first;
            EXPECT_EQ(differences<uint16_t>(hard_cases<uint16_t>(magnitude_divisor<uint16_t>(N)),
                                            magnitude_divisor<uint16_t>(N), kernel, &first),
                      0)
                << name << " 16 bits, N " << N << ": " << first;
            EXPECT_EQ(differences<float>(hard_cases<float>(magnitude_divisor<float>(N)),
                                         magnitude_divisor<float>(N), kernel, &first),
                      0)
                << name << " 32 bits, N " << N << ": " << first;
        }
}

TEST(FastCodes, ReaderTablesMatchTheFormula) {
    double D8 = magnitude_divisor<uint8_t>(5000), D16 = magnitude_divisor<uint16_t>(5000);
    CoefficientReader<uint8_t> r8(D8);
    CoefficientReader<uint16_t> r16(D16);
    for (int M = 0; M < 256; M++)
        for (int P = 0; P < 256; P += 5) {
            uint8_t m = uint8_t(M), p = uint8_t(P);
            double a[2], b[2];
            r8.read(m, &p, &a[0], &a[1]);
            read_coefficient<uint8_t>(m, &p, D8, &b[0], &b[1]);
            ASSERT_EQ(std::memcmp(a, b, sizeof a), 0) << M << " " << P;
        }
    for (int M = 0; M < 65536; M += 7)
        for (int P : {0, 1, 16383, 16384, 16385, 32768, 40000, 65535}) {
            uint16_t m = uint16_t(M), p = uint16_t(P);
            double a[2], b[2];
            r16.read(m, &p, &a[0], &a[1]);
            read_coefficient<uint16_t>(m, &p, D16, &b[0], &b[1]);
            ASSERT_EQ(std::memcmp(a, b, sizeof a), 0) << M << " " << P;
        }
}

} // namespace

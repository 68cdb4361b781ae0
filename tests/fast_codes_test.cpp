/* fast_codes_test.cpp - the fast coder writes exactly the samples of the
 * exact formula: on 10^8 random coefficients at each depth, with each fast
 * kernel this machine can run, and on the hard cases (angles of exactly 0
 * and plus or minus pi, magnitudes of exactly 0 and 1, values at and next to
 * every rounding boundary, denormals, huge values, infinities and NaN). */
#include "fast_codes.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <type_traits>
#include <vector>

namespace {

#if defined(SPECTRA_SANITIZE)
const int64_t random_count = 2000000; /* the sanitizers make each call far slower */
#elif defined(_WIN32) && defined(__aarch64__)
/* Only the portable path runs here, which the x86 builds hold to the full
 * count; the ARM64 tests run under emulation, some twenty times slower. */
const int64_t random_count = 4000000;
#else
const int64_t random_count = 100000000;
#endif

/* Every path of the coder that runs on this processor. */
std::vector<const CoderPath*> paths() {
    std::vector<const CoderPath*> here;
    for (int i = 0; i < coder_path_count; i++)
        if (coder_paths[i]->runs_here()) here.push_back(coder_paths[i]);
    return here;
}

/* How many of the paths that run here, times the three sample types, a
 * check tried: check(path, T()) says whether the path has that procedure. */
template <typename F> int on_every_path(F check) {
    int tried = 0;
    for (const CoderPath* path : paths())
        tried += check(*path, uint8_t()) + check(*path, uint16_t()) + check(*path, float());
    return tried;
}

/* The samples of the exact formula: magnitude, then phase. */
template <typename T> std::vector<T> exact_samples(const std::vector<double>& X, double D) {
    size_t count = X.size() / 2;
    std::vector<T> exact(2 * count);
    for (size_t i = 0; i < count; i++)
        write_coefficient<T>(X[2 * i], X[2 * i + 1], D, &exact[2 * i], &exact[2 * i + 1]);
    return exact;
}

/* Codes the coefficients with `path` and counts the samples that differ from
 * the exact formula's; *exact_count gets how many coefficients the path left
 * to that formula. */
template <typename T>
int64_t differences(const std::vector<double>& X, const std::vector<T>& exact, double D,
                    const CoderPath* path, std::string* first, double margin = 1,
                    int64_t* exact_count = nullptr) {
    size_t count = X.size() / 2;
    /* as in a picture of three planes: magnitude, phase, and a plane that
     * must keep its samples */
    const T kept = T(77);
    std::vector<T> fast(3 * count, kept);
    int64_t redone =
        write_coefficients<T>(reinterpret_cast<const fftw_complex*>(X.data()), int64_t(count), D,
                              fast.data(), fast.data() + 1, 3, path, margin);
    if (exact_count) *exact_count += redone;
    int64_t n = 0;
    for (size_t i = 0; i < 2 * count; i++) {
        const T& sample = fast[i / 2 * 3 + i % 2];
        if (std::memcmp(&sample, &exact[i], sizeof(T)) != 0) {
            if (n++ == 0)
                *first = "re " + std::to_string(X[i & ~size_t(1)]) + " im " +
                         std::to_string(X[i | 1]) + (i & 1 ? " phase " : " magnitude ") +
                         std::to_string(double(sample)) + " vs " + std::to_string(double(exact[i]));
        }
    }
    for (size_t i = 0; i < count; i++)
        if (fast[3 * i + 2] != kept && n++ == 0) *first = "a sample of the third plane changed";
    return n;
}

template <typename T>
int64_t differences(const std::vector<double>& X, double D, const CoderPath* path,
                    std::string* first, double margin = 1) {
    return differences<T>(X, exact_samples<T>(X, D), D, path, first, margin);
}

/* 10^8 coefficients with every path (fewer under the sanitizers), and the
 * share that each path left to the exact formula. */
template <typename T> void random_coefficients(int depth) {
    std::mt19937_64 random(depth);
    std::uniform_real_distribution<double> unit(0, 1);
    const int64_t block = 1 << 20, run = 1024;
    const std::vector<const CoderPath*> here = paths();
    std::vector<int64_t> wrong(here.size()), redone(here.size());
    std::vector<std::string> first(here.size());
    std::vector<double> X(2 * size_t(block));
    for (int64_t done = 0; done < random_count; done += block) {
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
        const std::vector<T> exact = exact_samples<T>(X, D);
        for (size_t k = 0; k < here.size(); k++)
            wrong[k] += differences<T>(X, exact, D, here[k], &first[k], 1, &redone[k]);
    }
    for (size_t k = 0; k < here.size(); k++) {
        EXPECT_EQ(wrong[k], 0) << here[k]->name << " at " << depth << " bits; first: " << first[k];
        std::printf("%s, %d bits: %.3g of the coefficients took the exact formula\n", here[k]->name,
                    depth, double(redone[k]) / double(random_count));
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
    if (w == 1.0) /* values halfway between two floats, where the narrowing decides */
        for (int k = 1; k < 2000; k++) {
            float f = float(k) / 1024 - 0.9f, g = std::nextafter(f, 2.0f);
            long double middle = ((long double)f + g) / 2;
            around(double(std::pow(10.0L, middle * D)), 0.7);
            if (middle > 0 && middle < 1)
                around(37.5, double((middle - 0.5L) * 2 * 3.141592653589793238462643383279502884L));
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
    for (const CoderPath* path : paths())
        for (double N : {1.0, 2.0, 3.0, 1024.0, 12345.0, 1073676289.0}) {
            std::string first;
            EXPECT_EQ(differences<uint8_t>(hard_cases<uint8_t>(magnitude_divisor<uint8_t>(N)),
                                           magnitude_divisor<uint8_t>(N), path, &first),
                      0)
                << path->name << " 8 bits, N " << N << ": " << first;
            EXPECT_EQ(differences<uint16_t>(hard_cases<uint16_t>(magnitude_divisor<uint16_t>(N)),
                                            magnitude_divisor<uint16_t>(N), path, &first),
                      0)
                << path->name << " 16 bits, N " << N << ": " << first;
            EXPECT_EQ(differences<float>(hard_cases<float>(magnitude_divisor<float>(N)),
                                         magnitude_divisor<float>(N), path, &first),
                      0)
                << path->name << " 32 bits, N " << N << ": " << first;
        }
}

/* The tests above can fail: with its error margins shrunk, every path writes
 * wrong samples on the hard cases at every depth. */
TEST(FastCodes, MarginsTooSmallAreCaught) {
    const double N = 12345.0;
    for (const CoderPath* path : paths())
        for (double margin : {0.0, 1e-3}) {
            std::string first;
            double D8 = magnitude_divisor<uint8_t>(N), D16 = magnitude_divisor<uint16_t>(N),
                   D32 = magnitude_divisor<float>(N);
            EXPECT_GT(differences<uint8_t>(hard_cases<uint8_t>(D8), D8, path, &first, margin), 0)
                << path->name << " " << margin;
            EXPECT_GT(differences<uint16_t>(hard_cases<uint16_t>(D16), D16, path, &first, margin),
                      0)
                << path->name << " " << margin;
            EXPECT_GT(differences<float>(hard_cases<float>(D32), D32, path, &first, margin), 0)
                << path->name << " " << margin;
        }
}

/* A path is chosen by name where it runs here; otherwise the best is. */
TEST(FastCodes, PathChosenByName) {
    const std::vector<const CoderPath*> here = paths();
    for (const CoderPath* path : here) EXPECT_EQ(&coder_named(path->name), path);
    EXPECT_EQ(&coder_named(nullptr), here.back());
    EXPECT_EQ(&coder_named("sse9"), here.back());
    for (int i = 0; i < coder_path_count; i++)
        if (!coder_paths[i]->runs_here()) {
            EXPECT_EQ(&coder_named(coder_paths[i]->name), here.back());
        }
}

/* The inverse's vector writers of moduli give the plain loop's samples, with
 * N a power of 2 or not, for values of every size, and write nothing
 * between their strided samples. */
template <typename T> bool moduli_match(const CoderPath& path) {
    const ModulusProc<T> modulus = procs_for<T>(path).modulus;
    const char* name = path.name;
    if (!modulus) return false;
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> unit(-1, 1);
    std::vector<double> X;
    const double specials[] = {0.0,   -0.0,   1e-320,  -1e-310,  1e-160,    0.5, 1e150,
                               1e300, -1e308, DBL_MAX, INFINITY, -INFINITY, NAN};
    for (double a : specials)
        for (double b : specials) X.insert(X.end(), {a, b});
    for (int i = 0; i < 200000; i++) {
        double scale = std::pow(10.0, 12 * unit(random));
        X.insert(X.end(), {unit(random) * scale, unit(random) * scale});
    }
    int count = int(X.size() / 2);
    for (double N : {2048.0 * 1024, 12345.0, 3.0, 1.0, 1073676289.0}) {
        const int64_t stride = 3;
        std::vector<T> fast(size_t(count) * stride, T(7)), plain(fast);
        modulus(X.data(), count, N, fast.data() + 1, stride);
        for (int i = 0; i < count; i++) {
            double re = X[2 * i] / N, im = X[2 * i + 1] / N;
            plain[size_t(i) * stride + 1] = to_sample<T>(std::sqrt(im * im + re * re));
        }
        EXPECT_EQ(std::memcmp(fast.data(), plain.data(), fast.size() * sizeof(T)), 0)
            << name << " N " << N;
    }
    return true;
}

TEST(FastCodes, ModuliMatchThePlainLoop) {
    if (on_every_path([](const CoderPath& path, auto sample) {
            return moduli_match<decltype(sample)>(path);
        }) == 0)
        GTEST_SKIP() << "no vector writer of moduli runs here";
}

/* A path's scatter writes every sample in place and leaves every other byte
 * as it was, for strides of 1 to 5 and counts around whole vectors; the
 * buffers end at the last sample, so the sanitizers see any access beyond. */
template <typename T> bool scatter_places(const CoderPath& path) {
    const ScatterProc<T> scatter = procs_for<T>(path).scatter;
    const char* name = path.name;
    if (!scatter) return false;
    const int G = 64 / int(sizeof(T));
    for (int64_t stride = 1; stride <= 5; stride++)
        for (int count = 1; count <= 3 * G + 2; count++) {
            std::vector<T> samples(static_cast<size_t>(count));
            for (int i = 0; i < count; i++) samples[size_t(i)] = T(i % 200 + 1);
            std::vector<T> out(size_t((count - 1) * stride + 1), T(0));
            scatter(out.data(), stride, samples.data(), count);
            for (size_t i = 0; i < out.size(); i++) {
                T want = i % size_t(stride) == 0 ? samples[i / size_t(stride)] : T(0);
                if (out[i] != want) {
                    ADD_FAILURE() << name << " stride " << stride << " count " << count;
                    return true;
                }
            }
        }
    return true;
}

TEST(FastCodes, ScattersPutEverySampleInPlace) {
    if (on_every_path([](const CoderPath& path, auto sample) {
            return scatter_places<decltype(sample)>(path);
        }) == 0)
        GTEST_SKIP() << "no vector scatter runs here";
}

/* A path's fill writes the plain loop's doubles, bit for bit (negative
 * zeros and NaN included), for strides of 1 to 5, both parities and row
 * lengths around whole vectors; the rows end at their last sample. */
template <typename T> bool fills_match(const CoderPath& path) {
    const FillProc<T> fill = procs_for<T>(path).fill;
    const char* name = path.name;
    if (!fill) return false;
    for (int64_t stride = 1; stride <= 5; stride++)
        for (int32_t n = 1; n <= 40; n++)
            for (int parity = 0; parity < 2; parity++) {
                std::vector<T> s(size_t((n - 1) * stride + 1));
                for (size_t i = 0; i < s.size(); i++) s[i] = T(i * 37 % 251);
                if (std::is_same<T, float>::value) {
                    s[0] = T(NAN);
                    s[s.size() - 1] = T(-0.0);
                }
                std::vector<double> fast(size_t(n) + 1, 7.0), plain(fast);
                fill(s.data(), stride, n, parity, fast.data());
                for (int32_t x = 0; x < n; x++) {
                    double v = s[size_t(x * stride)];
                    plain[size_t(x)] = (x + parity) & 1 ? -v : v;
                }
                if (std::memcmp(fast.data(), plain.data(), fast.size() * sizeof(double)) != 0) {
                    ADD_FAILURE() << name << " stride " << stride << " n " << n << " parity "
                                  << parity;
                    return true;
                }
            }
    return true;
}

TEST(FastCodes, FillsMatchThePlainLoop) {
    if (on_every_path([](const CoderPath& path, auto sample) {
            return fills_match<decltype(sample)>(path);
        }) == 0)
        GTEST_SKIP() << "no vector fill runs here";
}

/* How far apart two doubles are, in units in the last place of the larger. */
double ulps(double a, double b, double scale) {
    if (a == b || (a != a && b != b)) return 0;
    int e;
    std::frexp(scale, &e);
    return std::fabs(a - b) / std::ldexp(1.0, std::max(e, -1021) - 53);
}

/* The 32-bit inverse's vector readers: every coefficient within two double
 * ulps of the plain reader's, most of them the same to the bit, on codes of
 * every kind (strided, as in a picture of three planes). */
TEST(FastCodes, VectorReadersStayWithinTwoUlps) {
    int tried = 0;
    std::mt19937_64 random(32);
    std::uniform_real_distribution<double> unit(0, 1);
    for (const CoderPath* path : paths()) {
        if (!path->read32) continue;
        tried++;
        for (double N : {2.0, 1000.0, 2048.0 * 1024, 1073676289.0}) {
            double D = magnitude_divisor<float>(N);
            /* strides of 3 and 4 are read by vector loads, others gathered */
            const int count = 1 << 20, stride = N == 1000.0 ? 6 : N == 2.0 ? 4 : 3;
            std::vector<float> M(size_t(count) * stride), P(M.size());
            for (int i = 0; i < count; i++) {
                double u = unit(random);
                M[size_t(i) * stride] = float(i % 97 == 0 ? 0 : i % 89 == 0 ? -u : u * 1.2);
                P[size_t(i) * stride] = float(i % 83 == 0 ? 4 * u - 1.5 : u);
            }
            const float specials[] = {0.0f,   -0.0f, 1e-40f,   1.0f,      40.0f,
                                      -40.0f, 1e30f, INFINITY, -INFINITY, NAN};
            for (int i = 0; i < 10; i++)
                for (int j = 0; j < 10; j++) {
                    M[size_t(10 * i + j) * stride] = specials[i];
                    P[size_t(10 * i + j) * stride] = j < 5 ? specials[j] : 0.25f * float(j - 5);
                }
            std::vector<double> fast(2 * size_t(count)), plain(fast.size());
            std::vector<int32_t> redo(static_cast<size_t>(count));
            int r = path->read32(M.data(), P.data(), stride, count, D, fast.data(), redo.data());
            CoefficientReader<float> reader(D);
            for (int j = 0; j < r; j++) {
                size_t i = size_t(redo[j]);
                reader.read(M[i * stride], &P[i * stride], &fast[2 * i], &fast[2 * i + 1]);
            }
            int64_t same = 0;
            double worst = 0;
            for (size_t i = 0; i < size_t(count); i++) {
                reader.read(M[i * stride], &P[i * stride], &plain[2 * i], &plain[2 * i + 1]);
                for (int part = 0; part < 2; part++) {
                    double a = fast[2 * i + part], b = plain[2 * i + part];
#if defined(_WIN32)
                    /* The C library for Windows takes cos and sin on the x87
                     * unit, whose pi has 66 bits: near their zeros its values
                     * are off by far more than an ulp of their own, though
                     * not of the coefficient's magnitude. */
                    double scale = std::hypot(plain[2 * i], plain[2 * i + 1]);
#else
                    double scale = std::max(std::fabs(a), std::fabs(b));
#endif
                    double u = ulps(a, b, scale);
                    worst = std::max(worst, u);
                    same += u == 0 && std::signbit(a) == std::signbit(b);
                }
            }
            EXPECT_LE(worst, 2) << path->name << " N " << N;
            EXPECT_GT(double(same) / (2.0 * count), 0.5) << path->name << " N " << N;
            std::printf("%s, N %.0f: %.4f of the values the same to the bit, at most %.2f ulps "
                        "apart, %d of %d read by the plain reader\n",
                        path->name, N, double(same) / (2.0 * count), worst, r, count);
        }
    }
    if (tried == 0) GTEST_SKIP() << "no vector reader runs here";
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
    /* every value around white, where the tables end */
    for (int M = 0; M < 65536; M += M >= 32760 && M <= 32780 ? 1 : 7)
        for (int P : {0, 1, 16383, 16384, 16385, 32767, 32768, 32769, 40000, 65535}) {
            uint16_t m = uint16_t(M), p = uint16_t(P);
            double a[2], b[2];
            r16.read(m, &p, &a[0], &a[1]);
            read_coefficient<uint16_t>(m, &p, D16, &b[0], &b[1]);
            ASSERT_EQ(std::memcmp(a, b, sizeof a), 0) << M << " " << P;
        }
}

} // namespace

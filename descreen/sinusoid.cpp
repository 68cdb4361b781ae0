/* sinusoid.cpp - stripes laid over a picture, measured as sinusoids and
 * subtracted.
 *
 * Stripes and scan lines added to a picture are sums of sinusoids of one
 * amplitude everywhere. Taking out their peaks in the transform removes
 * only what falls on its bins: a sinusoid whose period does not divide the
 * picture's size spreads a little over every bin. So each is measured and
 * subtracted in space: its frequency where the picture's transform, under a
 * Blackman window, is largest near the peak (a parabola through three
 * values of the log-magnitude along each axis, at half a bin apart and then
 * a tenth), its amplitude and phase from that transform's value there. The
 * window's side lobes fall fast, so the picture's own spectrum, strongest
 * near zero, hardly leaks into the measurement. */
#include "sinusoid.h"
#include "parallel.h"

#include <algorithm>
#include <cmath>
#include <complex>

namespace {

const double pi = 3.14159265358979323846;
typedef std::complex<double> Complex;

double blackman(int32_t n, int32_t N) {
    double t = 2 * pi * (n + 0.5) / N;
    return 0.42 - 0.5 * std::cos(t) + 0.08 * std::cos(2 * t);
}

/* The windowed transform of every row at frequency fx, of the plane less
 * `mean`: row y's into sums[y]. */
void row_sums(const double* plane, int32_t H, int32_t W, int32_t stride, double mean, double fx,
              Complex* table, Complex* sums) {
    for (int32_t x = 0; x < W; x++)
        table[x] = blackman(x, W) * std::polar(1.0, -2 * pi * std::fmod(fx * x, 1.0));
    over_rows(H, W, [&](int32_t first, int32_t end) {
        for (int32_t y = first; y < end; y++) {
            const double* row = plane + int64_t(y) * stride;
            Complex s = 0;
            for (int32_t x = 0; x < W; x++) s += (row[x] - mean) * table[x];
            sums[y] = s;
        }
        return int64_t(0);
    });
}

/* The rows' sums taken down the columns at frequency fy. */
Complex column_sum(const Complex* sums, int32_t H, double fy) {
    Complex s = 0;
    for (int32_t y = 0; y < H; y++)
        s += blackman(y, H) * std::polar(1.0, -2 * pi * std::fmod(fy * y, 1.0)) * sums[y];
    return s;
}

/* The vertex of the parabola through (-h, a), (0, b), (h, c), within h. */
double vertex(double a, double b, double c, double h) {
    double d = a - 2 * b + c;
    if (!(d < 0)) return a > c ? -h : c > a ? h : 0;
    return std::min(std::max(h * (a - c) / (2 * d), -h), h);
}

double log_abs(Complex v) {
    return std::log(std::abs(v) + 1e-300);
}

} // namespace

int64_t sinusoid_work(int32_t H, int32_t W) {
    return 2 * (int64_t(W) + 3 * int64_t(H));
}

Sinusoid fit_sinusoid(const double* plane, int32_t H, int32_t W, int32_t stride, double fy,
                      double fx, double* work) {
    Complex* table = reinterpret_cast<Complex*>(work);
    Complex* sums[3] = {table + W, table + W + H, table + W + 2 * H};
    /* the window's mean of the plane, which would leak from zero */
    double across = 0, down = 0;
    for (int32_t x = 0; x < W; x++) across += blackman(x, W);
    for (int32_t y = 0; y < H; y++) down += blackman(y, H);
    const double weight = across * down;
    row_sums(plane, H, W, stride, 0, 0, table, sums[0]);
    const double mean = column_sum(sums[0], H, 0).real() / weight;
    for (double step : {0.5, 0.1}) {
        const double hx = step / W, hy = step / H;
        for (int k = 0; k < 3; k++)
            row_sums(plane, H, W, stride, mean, fx + (k - 1) * hx, table, sums[k]);
        fx += vertex(log_abs(column_sum(sums[0], H, fy)), log_abs(column_sum(sums[1], H, fy)),
                     log_abs(column_sum(sums[2], H, fy)), hx);
        row_sums(plane, H, W, stride, mean, fx, table, sums[1]);
        fy += vertex(log_abs(column_sum(sums[1], H, fy - hy)), log_abs(column_sum(sums[1], H, fy)),
                     log_abs(column_sum(sums[1], H, fy + hy)), hy);
    }
    /* z = (B e^{i theta} + conj) / 2 puts B / 2 times the window's sum there */
    Complex B = 2.0 * column_sum(sums[1], H, fy) / weight;
    return Sinusoid{fy, fx, B.real(), B.imag()};
}

double comb_level(const Sinusoid* z, int n, int32_t H, int32_t W) {
    double level = 0;
    for (int axis = 0; axis < 2; axis++) {
        /* the frequencies along the axis, and across it */
        auto along = [&](const Sinusoid& s) { return std::fabs(axis == 0 ? s.fy : s.fx); };
        auto across = [&](const Sinusoid& s) { return std::fabs(axis == 0 ? s.fx : s.fy); };
        const int32_t length = axis == 0 ? W : H;
        double lowest = 1;
        for (int j = 0; j < n; j++)
            if (across(z[j]) < 0.5 / length && along(z[j]) > 0)
                lowest = std::min(lowest, along(z[j]));
        const int32_t P = int32_t(std::lround(1 / lowest));
        if (P < 2 || P > 32 || std::fabs(1 / lowest - P) > 0.02 * P) continue;
        double comb[32] = {};
        for (int j = 0; j < n; j++) {
            if (across(z[j]) >= 0.5 / length) continue;
            double harmonic = along(z[j]) * P;
            if (std::fabs(harmonic - std::round(harmonic)) > 0.05) continue;
            for (int32_t r = 0; r < P; r++) {
                double t = 2 * pi * (axis == 0 ? z[j].fy * r : z[j].fx * r);
                comb[r] += z[j].re * std::cos(t) - z[j].im * std::sin(t);
            }
        }
        /* lines: most rows at one level, the median; a sinusoid that only
         * happens to fit P has no such level, and no mean to give back */
        std::sort(comb, comb + P);
        const double median = P % 2 ? comb[P / 2] : (comb[P / 2 - 1] + comb[P / 2]) / 2;
        const double range = comb[P - 1] - comb[0];
        int flat = 0;
        for (int32_t r = 0; r < P; r++) flat += std::fabs(comb[r] - median) <= 0.1 * range;
        if (2 * flat > P) level += median;
    }
    return level;
}

void subtract_sinusoid(double* plane, int32_t H, int32_t W, int32_t stride, const Sinusoid& z,
                       double* work) {
    Complex* table = reinterpret_cast<Complex*>(work);
    for (int32_t x = 0; x < W; x++) table[x] = std::polar(1.0, 2 * pi * std::fmod(z.fx * x, 1.0));
    const Complex B(z.re, z.im);
    over_rows(H, W, [&](int32_t first, int32_t end) {
        for (int32_t y = first; y < end; y++) {
            const Complex b = B * std::polar(1.0, 2 * pi * std::fmod(z.fy * y, 1.0));
            double* row = plane + int64_t(y) * stride;
            for (int32_t x = 0; x < W; x++)
                row[x] -= b.real() * table[x].real() - b.imag() * table[x].imag();
        }
        return int64_t(0);
    });
}

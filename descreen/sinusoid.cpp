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
 * near zero, hardly leaks into the measurement.
 *
 * A pattern that multiplies the picture, as a grating photographed through
 * another does, is stronger where the picture is bright: subtracted with
 * one amplitude, it is left behind in the lights and the darks alike. So
 * its amplitude is also measured against the picture's local level, by
 * least squares under the same window, and subtracted in proportion. */
#include "sinusoid.h"
#include "parallel.h"

#include <algorithm>
#include <cmath>
#include <complex>

namespace {

const double pi = 3.14159265358979323846;
typedef std::complex<double> Complex;

/* The root mean square of the local level, in units of white, below which
 * a pattern is not measured against it. */
const double least_level = 0.01;

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
    return 2 * (int64_t(W) + 3 * int64_t(H)) + int64_t(W);
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
    return Sinusoid{fy, fx, B.real(), B.imag(), 0, 0};
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
        /* (the comparator is written out: macOS's C++ library exports
         * the default one's sort of doubles, and the bundle imports from
         * libSystem alone) */
        std::sort(comb, comb + P, [](double u, double v) { return u < v; });
        const double median = P % 2 ? comb[P / 2] : (comb[P / 2 - 1] + comb[P / 2]) / 2;
        const double range = comb[P - 1] - comb[0];
        int flat = 0;
        for (int32_t r = 0; r < P; r++) flat += std::fabs(comb[r] - median) <= 0.1 * range;
        if (2 * flat > P) level += median;
    }
    return level;
}

namespace {

/* Three passes of a box of 2 h + 1 samples along a line of n > 2 h + 1
 * floats, `step` apart, in place, its ends mirrored. A ring holds the
 * samples under the box as they were; the last h + 1 are kept aside, as
 * the mirrored end reads them after they are overwritten. */
void box_line(float* v, int32_t n, int64_t step, int32_t h) {
    const int32_t L = 2 * h + 1;
    float ring[level_period], tail[level_period / 2 + 1];
    for (int pass = 0; pass < 3; pass++) {
        for (int32_t k = 0; k <= h; k++) tail[k] = v[int64_t(n - 1 - k) * step];
        double sum = 0;
        for (int32_t j = -h; j <= h; j++) {
            ring[j + h] = v[int64_t(j < 0 ? -j - 1 : j) * step];
            sum += ring[j + h];
        }
        /* position p's sample is in ring[(p + h) % L]: the one leaving at
         * x - h and the one entering at x + h + 1 share a place */
        for (int32_t x = 0; x < n; x++) {
            v[int64_t(x) * step] = float(sum / L);
            const int32_t p = x + h + 1;
            const float entering = p < n ? v[int64_t(p) * step] : tail[p - n];
            sum += double(entering) - ring[x % L];
            ring[x % L] = entering;
        }
    }
}

} // namespace

bool local_level(const double* plane, int32_t H, int32_t W, int32_t stride, double period,
                 float* level, double* work) {
    const int32_t h = std::max(1, int32_t(std::ceil(period / 2)));
    if (2 * h + 1 > level_period || 4 * h + 2 >= std::min(H, W)) return false;
    over_rows(H, W, [&](int32_t first, int32_t end) {
        for (int32_t y = first; y < end; y++) {
            float* row = level + int64_t(y) * W;
            for (int32_t x = 0; x < W; x++) row[x] = float(plane[int64_t(y) * stride + x]);
            box_line(row, W, 1, h);
        }
        return int64_t(0);
    });
    over_rows(W, H, [&](int32_t first, int32_t end) {
        for (int32_t x = first; x < end; x++) box_line(level + x, H, W, h);
        return int64_t(0);
    });
    /* less its mean under the window, so that the level and the constant
     * amplitude are measured apart */
    double* window = work;
    double across = 0, sum = 0, weight = 0;
    for (int32_t x = 0; x < W; x++) across += window[x] = blackman(x, W);
    for (int32_t y = 0; y < H; y++) {
        double s = 0;
        for (int32_t x = 0; x < W; x++) s += window[x] * level[int64_t(y) * W + x];
        sum += blackman(y, H) * s;
        weight += blackman(y, H) * across;
    }
    const float mean = float(sum / weight);
    over_rows(H, W, [&](int32_t first, int32_t end) {
        for (int64_t i = int64_t(first) * W; i < int64_t(end) * W; i++) level[i] -= mean;
        return int64_t(0);
    });
    return true;
}

void fit_follow(const double* plane, int32_t H, int32_t W, int32_t stride, const float* level,
                Sinusoid* z, double* work) {
    Complex* table = reinterpret_cast<Complex*>(work);
    Complex* along = table + W;                           /* each row's sum of level times plane */
    double* power = reinterpret_cast<double*>(along + H); /* and of the level squared */
    double* window = power + H;
    for (int32_t x = 0; x < W; x++) {
        window[x] = blackman(x, W);
        table[x] = window[x] * std::polar(1.0, -2 * pi * std::fmod(z->fx * x, 1.0));
    }
    over_rows(H, W, [&](int32_t first, int32_t end) {
        for (int32_t y = first; y < end; y++) {
            const double* row = plane + int64_t(y) * stride;
            const float* l = level + int64_t(y) * W;
            Complex s = 0;
            double p = 0;
            for (int32_t x = 0; x < W; x++) {
                s += double(l[x]) * row[x] * table[x];
                p += window[x] * double(l[x]) * l[x];
            }
            along[y] = s;
            power[y] = p;
        }
        return int64_t(0);
    });
    /* A level that hardly varies, as over a flat background, has too
     * little to measure against: its own faint ripple would be taken for
     * the pattern's following, and the ratio would blow it up. */
    double p = 0, weight = 0, across = 0;
    for (int32_t x = 0; x < W; x++) across += window[x];
    for (int32_t y = 0; y < H; y++) {
        p += blackman(y, H) * power[y];
        weight += blackman(y, H) * across;
    }
    if (!(p > least_level * least_level * weight)) return;
    const Complex B = 2.0 * column_sum(along, H, z->fy) / p;
    z->follow_re = B.real();
    z->follow_im = B.imag();
}

void subtract_sinusoid(double* plane, int32_t H, int32_t W, int32_t stride, const Sinusoid& z,
                       const float* level, double* work) {
    Complex* table = reinterpret_cast<Complex*>(work);
    for (int32_t x = 0; x < W; x++) table[x] = std::polar(1.0, 2 * pi * std::fmod(z.fx * x, 1.0));
    const Complex B(z.re, z.im), F(z.follow_re, z.follow_im);
    over_rows(H, W, [&](int32_t first, int32_t end) {
        for (int32_t y = first; y < end; y++) {
            const Complex turn = std::polar(1.0, 2 * pi * std::fmod(z.fy * y, 1.0));
            const Complex b = B * turn, f = F * turn;
            double* row = plane + int64_t(y) * stride;
            const float* l = level ? level + int64_t(y) * W : nullptr;
            for (int32_t x = 0; x < W; x++) {
                Complex a = l ? b + double(l[x]) * f : b;
                row[x] -= a.real() * table[x].real() - a.imag() * table[x].imag();
            }
        }
        return int64_t(0);
    });
}

/* gain.cpp - how much of each coefficient a descreen keeps.
 *
 * Around a peak the cut brings each coefficient down to its background, no
 * further: what a pattern adds is taken out and what the picture has there
 * stays. The cut is then widened by a bin and smoothed, so that the filter
 * has no sharp edges in frequency, which would ring in the picture.
 *
 * A screen also spreads noise between its peaks: the dots' edges and their
 * aliases. There the gain follows the picture's own spectrum against the
 * screen's, as a Wiener filter does: the power that the picture is expected
 * to have (a power law fitted below the screen's frequency, where the
 * picture dominates) over the power observed around each coefficient. */
#include "descreen.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

/* A filter along the rows, from `from` into `to`, then along the columns
 * back into `from`; columns beyond the half read its mirror image and rows
 * wrap around, as frequencies do. `combine` folds one neighbour at distance
 * d into a running value. */
template <typename Start, typename Combine>
void separable(const HalfSpectrum& s, float* from, float* to, int32_t reach, Start start,
               Combine combine) {
    for (int32_t i = 0; i < s.H; i++) {
        float* out = to + size_t(i) * size_t(s.C);
        const float* row = from + size_t(i) * size_t(s.C);
        for (int32_t c = 0; c < s.C; c++) {
            double v = start(row[c]);
            for (int32_t d = 1; d <= reach; d++) {
                bool inside = c - d >= 0 && c + d < s.C;
                float left = inside ? row[c - d] : from[s.index(i, c - d)];
                float right = inside ? row[c + d] : from[s.index(i, c + d)];
                v = combine(v, d, left, right);
            }
            out[c] = float(v);
        }
    }
    for (int32_t i = 0; i < s.H; i++) {
        float* out = from + size_t(i) * size_t(s.C);
        const float* row = to + size_t(i) * size_t(s.C);
        for (int32_t c = 0; c < s.C; c++) out[c] = float(start(row[c]));
        for (int32_t d = 1; d <= reach; d++) {
            const float* up = to + size_t((i - d % s.H + s.H) % s.H) * size_t(s.C);
            const float* down = to + size_t((i + d) % s.H) * size_t(s.C);
            for (int32_t c = 0; c < s.C; c++) out[c] = float(combine(out[c], d, up[c], down[c]));
        }
    }
}

void widen(const HalfSpectrum& s, float* a, float* spare) {
    separable(
        s, a, spare, 1, [](float v) { return double(v); },
        [](double v, int32_t, float l, float r) { return std::max(v, double(std::max(l, r))); });
}

void blur(const HalfSpectrum& s, float* a, float* spare, double sigma) {
    const int32_t reach = int32_t(std::ceil(4 * sigma));
    double w[64] = {1}, sum = 1;
    for (int32_t d = 1; d <= reach && d < 64; d++) {
        w[d] = std::exp(-0.5 * d * d / (sigma * sigma));
        sum += 2 * w[d];
    }
    for (int32_t d = 0; d <= reach && d < 64; d++) w[d] /= sum;
    separable(
        s, a, spare, std::min(reach, 63), [&](float v) { return w[0] * v; },
        [&](double v, int32_t d, float l, float r) { return v + w[d] * (double(l) + r); });
}

} // namespace

void shape_cut(Analysis* a) {
    const HalfSpectrum& s = a->s;
    for (int32_t i = 0; i < s.H; i++)
        for (int32_t c = 0; c < s.C; c++) {
            size_t k = size_t(i) * size_t(s.C) + size_t(c);
            double e = a->region[k] ? a->level[k] - background(*a, i, c) : 0;
            a->cut[k] = e > 0 ? float(1 - std::exp(-e)) : 0.0f;
        }
    widen(s, a->cut, a->spare);
    blur(s, a->cut, a->spare, 1.0);
}

bool picture_model(const Analysis& a, double screen, PictureModel* model) {
    const HalfSpectrum& s = a.s;
    /* seven rings from 0.03 cycles per pixel to half the screen's frequency */
    const int rings = 7;
    const double low = 0.03, high = 0.5 * screen, width = (high - low) / rings;
    if (width <= 0) return false;
    size_t count[rings] = {}, start[rings + 1] = {};
    auto ring_of = [&](int32_t i, int32_t c) {
        double r = s.cycles(i, c);
        return r < low || r >= high ? -1 : std::min(int((r - low) / width), rings - 1);
    };
    for (int32_t i = 0; i < s.H; i++)
        for (int32_t c = 0; c < s.C; c++) {
            int k = ring_of(i, c);
            if (k >= 0) count[k]++;
        }
    for (int k = 0; k < rings; k++) start[k + 1] = start[k] + count[k];
    /* the rings' values side by side in the spare buffer */
    size_t fill[rings];
    std::copy(start, start + rings, fill);
    for (int32_t i = 0; i < s.H; i++)
        for (int32_t c = 0; c < s.C; c++) {
            int k = ring_of(i, c);
            if (k >= 0) a.spare[fill[k]++] = a.level[size_t(i) * size_t(s.C) + size_t(c)];
        }
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    int n = 0;
    for (int k = 0; k < rings; k++) {
        if (count[k] <= 20) continue;
        float* v = a.spare + start[k];
        std::nth_element(v, v + count[k] / 2, v + count[k]);
        double x = std::log(low + (k + 0.5) * width), y = v[count[k] / 2];
        sx += x;
        sy += y;
        sxx += x * x;
        sxy += x * y;
        n++;
    }
    double d = n * sxx - sx * sx;
    if (n < 2 || d <= 0) return false;
    model->b = (n * sxy - sx * sy) / d;
    model->a = (sy - model->b * sx) / n;
    return true;
}

void screen_gain(Analysis* a, double screen, const PictureModel& model) {
    const HalfSpectrum& s = a->s;
    blur(s, a->level, a->spare, 2.0);
    /* The fitted medians are of magnitudes; the mean power of a spread of
     * them is the median squared over ln 2. */
    const double ln2 = 0.6931471805599453;
    for (int32_t i = 0; i < s.H; i++)
        for (int32_t c = 0; c < s.C; c++) {
            size_t k = size_t(i) * size_t(s.C) + size_t(c);
            double r = s.cycles(i, c);
            /* from a quarter of the screen's frequency to a half, the
             * Wiener gain comes in gradually */
            double ramp = std::min(std::max((r / screen - 0.25) / 0.25, 0.0), 1.0);
            double gain = 1;
            if (ramp > 0) {
                double expected = std::exp(2 * (model.a + model.b * std::log(r))) / ln2;
                double observed = a->level[k];
                gain = observed > expected ? expected / observed : 1;
            }
            a->level[k] = float(1 - ramp * (1 - gain));
        }
}

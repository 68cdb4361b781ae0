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
 * picture dominates) over the power observed around each coefficient.
 * What the Wiener gain leaves of the dots' edges and of the scan's noise
 * lies mostly at and above the screen's frequency, beyond the picture's
 * own detail: the gain also rolls off as a Gaussian blur of a tenth of the
 * screen's period (0.75 at the screen's frequency), which took 0.3 dB more
 * of the screen out of the prints measured, in one ink and four. */
#include "descreen.h"
#include "parallel.h"

#include <algorithm>
#include <cmath>

namespace {

/* A filter that reaches `reach` bins along the rows and along the columns,
 * in place: columns beyond the half read its mirror image and rows wrap
 * around, as frequencies do. The field is 0 in most rows, as a cut is: rows
 * far from anything else stay 0 without being filtered. `start(v)` begins
 * a value and `fold(out, d, l, r, n)` folds in the values at distance d on
 * either side, for out[0 .. n). The rows are shared between the threads,
 * and then the columns, in strips. */
template <typename Start, typename Fold>
void separable(Analysis* a, float* field, int32_t reach, Start start, Fold fold) {
    const HalfSpectrum& s = a->s;
    const size_t C = size_t(s.C), R = size_t(reach), line = 2 * (C + 2 * max_reach);
    for (int32_t i = 0; i < s.H; i++) {
        const float* row = field + size_t(i) * C;
        a->active[i] = std::any_of(row, row + C, [](float v) { return v != 0; });
    }
    /* Along the rows. The mirror images beyond the ends come from other
     * rows, which are filtered in turn: they are taken first. */
    for (int32_t i = 0; i < s.H; i++)
        for (int32_t d = 1; d <= reach; d++) {
            a->edges[size_t(i) * 2 * R + size_t(d - 1)] = field[s.index(i, -d)];
            a->edges[size_t(i) * 2 * R + R + size_t(d - 1)] = field[s.index(i, s.C - 1 + d)];
        }
    over_rows(int32_t(a->line_parts), int64_t(s.bins() / a->line_parts),
              [&](int32_t first_part, int32_t end_part) {
                  for (int32_t part = first_part; part < end_part; part++) {
                      float* padded = a->line + size_t(part) * line;
                      float* result = padded + C + 2 * max_reach;
                      const int32_t i0 = int32_t(int64_t(s.H) * part / a->line_parts);
                      const int32_t i1 = int32_t(int64_t(s.H) * (part + 1) / a->line_parts);
                      for (int32_t i = i0; i < i1; i++) {
                          if (!a->active[i] && !a->active[s.mirror(i)]) continue;
                          float* row = field + size_t(i) * C;
                          const float* edge = a->edges + size_t(i) * 2 * R;
                          for (size_t d = 1; d <= R; d++) {
                              padded[R - d] = edge[d - 1];
                              padded[R + C - 1 + d] = edge[R + d - 1];
                          }
                          std::copy(row, row + C, padded + R);
                          const float* x = padded + R;
                          for (size_t c = 0; c < C; c++) result[c] = start(x[c]);
                          for (int32_t d = 1; d <= reach; d++) fold(result, d, x - d, x + d, C);
                          std::copy(result, result + C, row);
                      }
                  }
                  return int64_t(0);
              });
    /* Along the columns: the rows above are kept as they were in a ring,
     * and the first rows, which the last ones reach round to, on the side. */
    float *ring = a->rows, *first = a->rows + R * C;
    auto row_at = [&](int32_t i, int32_t k) { /* row k as it was, while filtering row i */
                                              k = (k % s.H + s.H) % s.H;
                                              if (k >= i) return field + size_t(k) * C;
                                              if (i - k <= reach)
                                                  return ring + size_t(k % reach) * C;
                                              return first +
                                                     size_t(k) *
                                                         C; /* reached round from the last rows */
    };
    for (int32_t k = 0; k < std::min(reach, s.H); k++)
        std::copy(field + size_t(k) * C, field + size_t(k + 1) * C, first + size_t(k) * C);
    /* the rows near anything, in a->active's upper bits */
    for (int32_t i = 0; i < s.H; i++) {
        bool near = false;
        for (int32_t d = -reach; d <= reach && !near; d++) {
            int32_t k = ((i + d) % s.H + s.H) % s.H;
            near = (a->active[k] & 1) || (a->active[s.mirror(k)] & 1);
        }
        a->active[i] = uint8_t(a->active[i] | (near ? 2 : 0));
    }
    over_rows(int32_t(a->line_parts), int64_t(s.bins() / a->line_parts),
              [&](int32_t first_part, int32_t end_part) {
                  for (int32_t part = first_part; part < end_part; part++) {
                      float* result = a->line + size_t(part) * line;
                      const size_t c0 = C * size_t(part) / size_t(a->line_parts);
                      const size_t n = C * size_t(part + 1) / size_t(a->line_parts) - c0;
                      for (int32_t i = 0; i < s.H; i++) {
                          const bool near = a->active[i] & 2;
                          float* row = field + size_t(i) * C + c0;
                          if (near) {
                              const float* x = row_at(i, i) + c0;
                              for (size_t c = 0; c < n; c++) result[c] = start(x[c]);
                              for (int32_t d = 1; d <= reach; d++)
                                  fold(result, d, row_at(i, i - d) + c0, row_at(i, i + d) + c0, n);
                          }
                          std::copy(row, row + n, ring + size_t(i % reach) * C + c0);
                          if (near) std::copy(result, result + n, row);
                      }
                  }
                  return int64_t(0);
              });
}

void widen(Analysis* a, float* field) {
    separable(
        a, field, 1, [](float v) { return v; },
        [](float* out, int32_t, const float* l, const float* r, size_t n) {
            for (size_t c = 0; c < n; c++) out[c] = std::max(out[c], std::max(l[c], r[c]));
        });
}

void blur(Analysis* a, float* field, double sigma) {
    const int32_t reach = std::min(int32_t(std::ceil(3 * sigma)), int32_t(max_reach));
    float w[max_reach + 1];
    double sum = 1;
    for (int32_t d = 1; d <= reach; d++) sum += 2 * std::exp(-0.5 * d * d / (sigma * sigma));
    for (int32_t d = 0; d <= reach; d++)
        w[d] = float(std::exp(-0.5 * d * d / (sigma * sigma)) / sum);
    separable(
        a, field, reach, [&](float v) { return w[0] * v; },
        [&](float* out, int32_t d, const float* l, const float* r, size_t n) {
            for (size_t c = 0; c < n; c++) out[c] += w[d] * (l[c] + r[c]);
        });
}

} // namespace

void shape_cut(Analysis* a) {
    const HalfSpectrum& s = a->s;
    over_rows(s.H, s.C, [&](int32_t first, int32_t end) {
        for (int32_t i = first; i < end; i++)
            for (int32_t c = 0; c < s.C; c++) {
                size_t k = size_t(i) * size_t(s.C) + size_t(c);
                double e = a->region[k] ? a->level[k] - background(*a, i, c) : 0;
                a->cut[k] = e > 0 ? float(1 - std::exp(-e)) : 0.0f;
            }
        return int64_t(0);
    });
    widen(a, a->cut);
    blur(a, a->cut, 1.0);
}

bool picture_model(Analysis& a, double screen, PictureModel* model) {
    const HalfSpectrum& s = a.s;
    /* seven rings from 0.03 cycles per pixel to half the screen's frequency */
    const int rings = 7;
    const double low = 0.03, high = 0.5 * screen, width = (high - low) / rings;
    if (width <= 0) return false;
    size_t count[rings] = {}, start[rings + 1] = {};
    auto ring_of = [&](int32_t i, int32_t c) {
        double r2 = s.cycles2(i, c);
        if (r2 < low * low || r2 >= high * high) return -1;
        return std::min(int((std::sqrt(r2) - low) / width), rings - 1);
    };
    /* the rows and columns that reach below `high` */
    const int32_t i0 = std::max(0, s.H / 2 - int32_t(high * s.H) - 1);
    const int32_t i1 = std::min(s.H, s.H / 2 + int32_t(high * s.H) + 2);
    const int32_t c1 = std::min(s.C, int32_t(high * s.W) + 2);
    for (int32_t i = i0; i < i1; i++)
        for (int32_t c = 0; c < c1; c++) {
            int k = ring_of(i, c);
            if (k >= 0) count[k]++;
        }
    for (int k = 0; k < rings; k++) start[k + 1] = start[k] + count[k];
    /* the rings' values side by side where the cut will be */
    size_t fill[rings];
    std::copy(start, start + rings, fill);
    for (int32_t i = i0; i < i1; i++)
        for (int32_t c = 0; c < c1; c++) {
            int k = ring_of(i, c);
            if (k >= 0) a.cut[fill[k]++] = a.level[size_t(i) * size_t(s.C) + size_t(c)];
        }
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    int n = 0;
    for (int k = 0; k < rings; k++) {
        if (count[k] <= 20) continue;
        float* v = a.cut + start[k];
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

namespace {

/* The picture's expected power at each radius, from a quarter of the
 * screen's frequency on: the smaller of the power law and what the quietest
 * tenth of each ring holds. The screen's copies of the picture cover most of
 * a ring at high frequencies but not all of it, so the quiet part of a ring
 * is an upper bound on the picture there; a picture's power does not grow
 * with frequency, so each ring is held to the rings inside it. The flat
 * floor of noise, the outermost ring, is noise and not picture. */
void expected_power(Analysis* a, double screen, const PictureModel& model, float* expected) {
    const HalfSpectrum& s = a->s;
    const int32_t rings = ring_count(s);
    const double width = ring_width(s);
    /* log-power histograms, one per ring, over the range the level spans,
     * in histogram_parts bands of rows, each measured and counted on its
     * own, on as many threads, then summed. The level is smooth by now: a
     * coefficient in every two rows and two columns is enough. */
    float least[histogram_parts], most[histogram_parts];
    auto rows_of = [&](int32_t part, int32_t* first, int32_t* end) {
        *first = s.H * part / histogram_parts;
        *first += *first % 2;
        *end = s.H * (part + 1) / histogram_parts;
    };
    over_rows(histogram_parts, int64_t(s.bins() / histogram_parts),
              [&](int32_t first, int32_t end) {
                  for (int32_t part = first; part < end; part++) {
                      int32_t i0, i1;
                      rows_of(part, &i0, &i1);
                      float low = HUGE_VALF, high = -HUGE_VALF;
                      for (int32_t i = i0; i < i1; i += 2) {
                          const float* level = a->level + size_t(i) * size_t(s.C);
                          for (int32_t c = 0; c < s.C; c += 2) {
                              low = std::min(low, level[c]);
                              high = std::max(high, level[c]);
                          }
                      }
                      least[part] = low;
                      most[part] = high;
                  }
                  return int64_t(0);
              });
    const float lo = log_of(std::max(*std::min_element(least, least + histogram_parts), 1e-30f));
    const float hi = log_of(std::max(*std::max_element(most, most + histogram_parts), 1e-30f));
    const float step = std::max((hi - lo) / histogram_bins, 1e-6f);
    uint32_t* counts = a->ring_counts;
    const size_t histogram = size_t(rings) * histogram_bins;
    std::fill(counts, counts + histogram_parts * histogram, 0u);
    over_rows(
        histogram_parts, int64_t(s.bins() / histogram_parts), [&](int32_t first, int32_t end) {
            for (int32_t part = first; part < end; part++) {
                uint32_t* own = counts + size_t(part) * histogram;
                int32_t i0, i1;
                rows_of(part, &i0, &i1);
                for (int32_t i = i0; i < i1; i += 2) {
                    const double v = double(s.fy(i)) / s.H, v2 = v * v;
                    const float* level = a->level + size_t(i) * size_t(s.C);
                    for (int32_t c = 0; c < s.C; c += 2) {
                        const double u = double(c) / s.W;
                        int32_t k = std::min(int32_t(std::sqrt(v2 + u * u) / width), rings - 1);
                        float e = log_of(std::max(level[c], 1e-30f));
                        int32_t b = std::min(int32_t((e - lo) / step), int32_t(histogram_bins) - 1);
                        own[size_t(k) * histogram_bins + size_t(b)]++;
                    }
                }
            }
            return int64_t(0);
        });
    for (int part = 1; part < histogram_parts; part++)
        for (size_t n = 0; n < histogram; n++) counts[n] += counts[size_t(part) * histogram + n];
    double held = HUGE_VAL;
    for (int32_t k = 0; k < rings; k++) {
        const uint32_t* h = counts + size_t(k) * histogram_bins;
        uint64_t total = 0, sum = 0;
        for (int b = 0; b < histogram_bins; b++) total += h[b];
        int b = 0;
        while (b < histogram_bins - 1 && (sum += h[b]) * 10 < total) b++;
        double quiet = total ? std::exp(lo + (b + 0.5) * step) : held;
        held = std::min(held, quiet);
        /* the law's medians are of magnitudes; the mean power of a spread
         * of them is the median squared over ln 2 */
        double r = std::max((k + 0.5) * width, 0.25 * screen);
        double law = std::exp(2 * model.a + 2 * model.b * std::log(r)) / 0.6931471805599453;
        expected[k] = float(std::min(held, law));
    }
    const float noise = float(held);
    for (int32_t k = 0; k < rings; k++) expected[k] = std::max(expected[k] - noise, 0.0f);
}

} // namespace

int32_t ring_count(const HalfSpectrum& s) {
    return int32_t(0.75 / ring_width(s)) + 2;
}

void screen_gain(Analysis* a, double screen, const PictureModel& model) {
    const HalfSpectrum& s = a->s;
    blur(a, a->level, 2.0);
    float* expected = a->block; /* the blocks' work space is free by now */
    expected_power(a, screen, model, expected);
    const int32_t rings = ring_count(s);
    const double per_ring = 1 / ring_width(s), per_screen = 1 / screen, per_column = 1.0 / s.W;
    /* A Gaussian blur of a tenth of the screen's period, 2 pi^2 sigma^2 in
     * units of the screen's frequency; it is the product of a row's factor
     * and a column's, which a line of the blur's work space holds. */
    const double pi = 3.14159265358979323846, roll_off = 2 * pi * pi * 0.1 * 0.1;
    const double per_cycle2 = roll_off * per_screen * per_screen;
    float* column_soft = a->line;
    for (int32_t c = 0; c < s.C; c++)
        column_soft[c] = float(std::exp(-per_cycle2 * (c * per_column) * (c * per_column)));
    /* In blocks of a row, on this thread's stack: the radii, the expected
     * power read at each, then the gain, in loops that run in vector
     * registers but the middle one. */
    const float ring_scale = float(per_ring), screen_scale = float(per_screen);
    const float last_ring = float(rings - 1.001);
    over_rows(s.H, s.C, [&](int32_t first, int32_t end) {
        const int32_t block = 1024;
        float radius[block], power[block];
        for (int32_t i = first; i < end; i++) {
            float* level = a->level + size_t(i) * size_t(s.C);
            const double v = double(s.fy(i)) / s.H;
            const float v2 = float(v * v), row_soft = float(std::exp(-per_cycle2 * v * v));
            for (int32_t c0 = 0; c0 < s.C; c0 += block) {
                const int32_t n = std::min(block, s.C - c0);
                for (int32_t j = 0; j < n; j++) {
                    float u = float((c0 + j) * per_column);
                    radius[j] = std::sqrt(v2 + u * u);
                }
                for (int32_t j = 0; j < n; j++) {
                    float t = std::min(std::max(radius[j] * ring_scale - 0.5f, 0.0f), last_ring);
                    int32_t k = int32_t(t);
                    power[j] = expected[k] + (t - float(k)) * (expected[k + 1] - expected[k]);
                }
                float* l = level + c0;
                const float* column = column_soft + c0;
                for (int32_t j = 0; j < n; j++) {
                    /* from a quarter of the screen's frequency to a half,
                     * the Wiener gain comes in gradually */
                    float ramp =
                        std::min(std::max((radius[j] * screen_scale - 0.25f) * 4, 0.0f), 1.0f);
                    float gain = l[j] > power[j] ? power[j] / l[j] : 1.0f;
                    l[j] = row_soft * column[j] * (1 - ramp * (1 - gain));
                }
            }
        }
        return int64_t(0);
    });
}

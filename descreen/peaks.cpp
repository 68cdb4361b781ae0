/* peaks.cpp - finding a periodic pattern in one plane's half spectrum.
 *
 * A periodic pattern puts sharp peaks into the spectrum, far above the
 * coefficients around them; a picture's own spectrum falls off smoothly from
 * the zero frequency, with the ragged spread of a random process. So each
 * log-magnitude is measured against a robust local background, the medians
 * of blocks interpolated between their centres, which a few peaks do not
 * move. A peak is a local maximum that stands well above that background
 * and above the ring of coefficients two bins around it: broad bumps, such
 * as the irregular rows of a brick wall, are the picture's. Each peak then
 * grows into the region around it that stands out less strongly, where a
 * pattern that modulates the picture spreads the picture's own spectrum.
 *
 * A screen is a lattice: among the strongest peaks, two of about the same
 * frequency at about right angles. */
#include "descreen.h"

#include <algorithm>
#include <cmath>

namespace {

const double pi = 3.14159265358979323846;

/* Natural logarithms of magnitude ratios. A peak stands 14 times above its
 * background and twice above its ring; its region spreads while the
 * coefficients stand 3 times above. */
const double peak_excess = 2.6390573296152584; /* ln 14 */
const double peak_sharpness = 0.7;
const double region_excess = 1.0986122886681098; /* ln 3 */

/* The excess of coefficient (i, c) over the background; 0 near the zero
 * frequency, which belongs to the picture. */
double excess(const Analysis& a, int32_t i, int32_t c) {
    if (a.s.radius2(i, c) < (a.protect + 1.5) * (a.protect + 1.5)) return 0;
    return a.level[size_t(i) * size_t(a.s.C) + size_t(c)] - background(a, i, c);
}

/* (i, c) taken into the half, by the mirror image and the rows' wrapping. */
void resolve(const HalfSpectrum& s, int32_t* i, int32_t* c) {
    size_t k = s.index(*i, *c);
    *i = int32_t(k / size_t(s.C));
    *c = int32_t(k % size_t(s.C));
}

bool is_peak(const Analysis& a, int32_t i, int32_t c, double e) {
    const HalfSpectrum& s = a.s;
    double ring = -HUGE_VAL;
    for (int32_t dy = -2; dy <= 2; dy++)
        for (int32_t dx = -2; dx <= 2; dx++) {
            if (dy == 0 && dx == 0) continue;
            int32_t ni = i + dy, nc = c + dx;
            resolve(s, &ni, &nc);
            if (excess(a, ni, nc) > e) return false;
            if (dy == -2 || dy == 2 || dx == -2 || dx == 2)
                ring = std::max(ring, double(a.level[s.index(ni, nc)]));
        }
    return a.level[s.index(i, c)] - ring > peak_sharpness;
}

/* Keeps the strongest peaks in order, strongest first. */
void keep_strongest(Analysis* a, int kept, Peak p) {
    int n = std::min(kept, int(strongest_kept));
    if (n == strongest_kept && a->strongest[n - 1].excess >= p.excess) return;
    int j = n < strongest_kept ? n : n - 1;
    while (j > 0 && a->strongest[j - 1].excess < p.excess) {
        a->strongest[j] = a->strongest[j - 1];
        j--;
    }
    a->strongest[j] = p;
}

/* Two strong peaks of about the same frequency at about right angles, above
 * 0.08 cycles per pixel (periods below 12.5 pixels): the lowest such
 * frequency, or 0. */
double screen_frequency(const Analysis& a, int count) {
    const HalfSpectrum& s = a.s;
    int n = std::min(count, int(strongest_kept));
    double r[strongest_kept], angle[strongest_kept], screen = 0;
    for (int k = 0; k < n; k++) {
        double fy = double(s.fy(a.strongest[k].i)) / s.H, fx = double(a.strongest[k].c) / s.W;
        r[k] = std::hypot(fy, fx);
        angle[k] = std::atan2(fy, fx) * 180 / pi;
    }
    for (int j = 0; j < n; j++)
        for (int k = j + 1; k < n; k++) {
            if (std::fabs(r[j] - r[k]) >= 0.12 * r[j] || r[j] <= 0.08) continue;
            double turn = std::fmod(std::fabs(angle[j] - angle[k]), 180.0);
            if (turn > 60 && turn < 120) {
                double f = std::min(r[j], r[k]);
                if (screen == 0 || f < screen) screen = f;
            }
        }
    return screen;
}

} // namespace

size_t HalfSpectrum::index(int32_t i, int32_t c) const {
    /* Coefficient (v, -u) is the conjugate of (-v, u): same magnitude. */
    for (int k = 0; k < 4 && (c < 0 || c >= C); k++) {
        c = c < 0 ? -c : W - c;
        i = H / 2 - fy(i);
    }
    c = std::min(std::max(c, 0), C - 1);
    i = ((i % H) + H) % H;
    return size_t(i) * size_t(C) + size_t(c);
}

void background_grid(Analysis* a) {
    const HalfSpectrum& s = a->s;
    /* Large blocks are sampled at every other row and column: their median
     * barely changes. */
    const int32_t step = a->side >= 16 ? 2 : 1;
    for (int32_t gy = 0; gy < a->grid_rows; gy++)
        for (int32_t gx = 0; gx < a->grid_columns; gx++) {
            int32_t i0 = gy * a->side, i1 = std::min(i0 + a->side, s.H);
            int32_t c0 = gx * a->side, c1 = std::min(c0 + a->side, s.C);
            size_t n = 0;
            for (int32_t i = i0; i < i1; i += step)
                for (int32_t c = c0; c < c1; c += step)
                    a->block[n++] = a->level[size_t(i) * size_t(s.C) + size_t(c)];
            std::nth_element(a->block, a->block + n / 2, a->block + n);
            a->grid[size_t(gy) * size_t(a->grid_columns) + size_t(gx)] = a->block[n / 2];
        }
}

namespace {

/* Where k falls between the centres of blocks lo and hi: the weight of hi.
 * Beyond the outer centres the background is constant. */
double place(const Analysis& a, int32_t k, int32_t count, int32_t* lo, int32_t* hi) {
    double t = (k + 0.5) / a.side - 0.5;
    t = std::min(std::max(t, 0.0), double(count - 1));
    *lo = int32_t(t);
    *hi = std::min(*lo + 1, count - 1);
    return t - *lo;
}

/* The grid's column x between rows y0 and y1. */
double between_rows(const Analysis& a, int32_t y0, int32_t y1, double wy, int32_t x) {
    double top = a.grid[size_t(y0) * size_t(a.grid_columns) + size_t(x)];
    double bottom = a.grid[size_t(y1) * size_t(a.grid_columns) + size_t(x)];
    return top + wy * (bottom - top);
}

} // namespace

double background(const Analysis& a, int32_t i, int32_t c) {
    int32_t y0, y1, x0, x1;
    double wy = place(a, i, a.grid_rows, &y0, &y1), wx = place(a, c, a.grid_columns, &x0, &x1);
    double left = between_rows(a, y0, y1, wy, x0);
    return left + wx * (between_rows(a, y0, y1, wy, x1) - left);
}

void background_columns(Analysis* a) {
    for (int32_t c = 0; c < a->s.C; c++) {
        int32_t x1;
        a->column_weight[c] = float(place(*a, c, a->grid_columns, &a->column_block[c], &x1));
    }
}

void background_row(const Analysis& a, int32_t i, float* line) {
    int32_t y0, y1;
    double wy = place(a, i, a.grid_rows, &y0, &y1);
    /* the grid between the two rows of block centres, then along the row */
    float* blend = a.block;
    for (int32_t x = 0; x < a.grid_columns; x++) blend[x] = float(between_rows(a, y0, y1, wy, x));
    blend[a.grid_columns] = blend[a.grid_columns - 1];
    for (int32_t c = 0; c < a.s.C; c++) {
        const float* g = blend + a.column_block[c];
        line[c] = g[0] + a.column_weight[c] * (g[1] - g[0]);
    }
}

Finding find_peaks(Analysis* a) {
    const HalfSpectrum& s = a->s;
    uint32_t* stack = reinterpret_cast<uint32_t*>(a->cut); /* free until the cut */
    size_t top = 0;
    int count = 0;
    std::fill(a->region, a->region + s.bins(), uint8_t(0));
    const double guard = (a->protect + 1.5) * (a->protect + 1.5);
    for (int32_t i = 0; i < s.H; i++) {
        background_row(*a, i, a->line);
        const float* level = a->level + size_t(i) * size_t(s.C);
        for (int32_t c = 0; c < s.C; c++) {
            double e = double(level[c]) - a->line[c];
            if (e <= peak_excess || s.radius2(i, c) < guard || !is_peak(*a, i, c, e)) continue;
            keep_strongest(a, count++, Peak{i, c, float(e)});
            size_t k = size_t(i) * size_t(s.C) + size_t(c);
            a->region[k] = 1;
            stack[top++] = uint32_t(k);
        }
    }
    /* Each peak's region: the coefficients around it, eight-connected,
     * that stand out by more than region_excess. */
    while (top > 0) {
        size_t k = stack[--top];
        int32_t i = int32_t(k / size_t(s.C)), c = int32_t(k % size_t(s.C));
        for (int32_t dy = -1; dy <= 1; dy++)
            for (int32_t dx = -1; dx <= 1; dx++) {
                int32_t ni = i + dy, nc = c + dx;
                resolve(s, &ni, &nc);
                size_t n = size_t(ni) * size_t(s.C) + size_t(nc);
                if (a->region[n] || excess(*a, ni, nc) <= region_excess) continue;
                a->region[n] = 1;
                stack[top++] = uint32_t(n);
            }
    }
    Finding found = {count, 0};
    if (count > 0) found.screen = screen_frequency(*a, count);
    return found;
}

/* where.cpp - where a screen lies in the picture.
 *
 * A magazine page holds a screened photograph beside text, line art and
 * bare paper that were printed solid; the screen's removal must not touch
 * those. Two bands of the spectrum are transformed back alone: discs around
 * the screen's strongest peaks, and the rings around those discs. Where the
 * screen lies, the dots put far more power into the discs than into the
 * rings beside them; text, edges and paper spread theirs evenly over both.
 * The ratio of the two bands' power per coefficient, averaged over cells of
 * 8 x 8 pixels and smoothed, and its geometric mean over the planes, gives
 * the map: 0 where it is below 2, 1 from 6 on, between in proportion to its
 * logarithm. The discs are a sixteenth of a cycle per pixel wide, so that
 * the map can change within about 16 pixels. */
#include "where.h"
#include "parallel.h"
#include "axes.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

const int32_t cell_side = 8;

void set_geometry(ScreenMap* m, int32_t H, int32_t W) {
    m->H = H;
    m->W = W;
    m->cell = cell_side;
    m->rows = (H + cell_side - 1) / cell_side;
    m->columns = (W + cell_side - 1) / cell_side;
}

/* A Gaussian of sigma 1.5 cells along the rows and then the columns of the
 * map, the ends held. */
void smooth(ScreenMap* m, float* cells) {
    const int reach = 4;
    float w[reach + 1];
    double sum = 0;
    for (int d = 0; d <= reach; d++) sum += (d ? 2 : 1) * std::exp(-d * d / (2 * 1.5 * 1.5));
    for (int d = 0; d <= reach; d++) w[d] = float(std::exp(-d * d / (2 * 1.5 * 1.5)) / sum);
    auto pass = [&](int32_t lines, int32_t length, size_t along, size_t across) {
        for (int32_t l = 0; l < lines; l++) {
            float* v = cells + size_t(l) * across;
            for (int32_t k = 0; k < length; k++) m->scratch[k] = v[size_t(k) * along];
            for (int32_t k = 0; k < length; k++) {
                float s = w[0] * m->scratch[k];
                for (int d = 1; d <= reach; d++)
                    s += w[d] *
                         (m->scratch[std::max(k - d, 0)] + m->scratch[std::min(k + d, length - 1)]);
                v[size_t(k) * along] = s;
            }
        }
    };
    pass(m->rows, m->columns, 1, size_t(m->columns));
    pass(m->columns, m->rows, size_t(m->columns), 1);
}

/* The largest (or smallest) value within `reach` cells along the rows and
 * then the columns, from `from` into `to`. */
void extreme(ScreenMap* m, const float* from, float* to, bool largest, int reach) {
    auto pick = [&](float a, float b) { return largest ? std::max(a, b) : std::min(a, b); };
    const size_t cells = size_t(m->rows) * size_t(m->columns);
    float* middle = m->cells + 2 * cells; /* room past both arrays */
    auto pass = [&](const float* in, float* out, int32_t lines, int32_t length, size_t along,
                    size_t across) {
        for (int32_t l = 0; l < lines; l++)
            for (int32_t k = 0; k < length; k++) {
                float v = in[size_t(l) * across + size_t(k) * along];
                for (int d = -reach; d <= reach; d++) {
                    int32_t j = std::min(std::max(k + d, 0), length - 1);
                    v = pick(v, in[size_t(l) * across + size_t(j) * along]);
                }
                out[size_t(l) * across + size_t(k) * along] = v;
            }
    };
    pass(from, middle, m->rows, m->columns, 1, size_t(m->columns));
    pass(middle, to, m->columns, m->rows, size_t(m->columns), 1);
}

} // namespace

uint64_t screen_map_bytes(int32_t H, int32_t W) {
    ScreenMap m;
    set_geometry(&m, H, W);
    return sizeof(fftw_complex) * uint64_t(H) * (uint64_t(W) / 2 + 1) +
           4 * (5 * uint64_t(m.rows) * uint64_t(m.columns) + uint64_t(std::max(m.rows, m.columns)));
}

void screen_map_carve(ScreenMap* m, int32_t H, int32_t W, void* buffer) {
    set_geometry(m, H, W);
    m->band = static_cast<fftw_complex*>(buffer);
    const size_t cells = size_t(m->rows) * size_t(m->columns);
    m->map = reinterpret_cast<float*>(m->band + size_t(H) * size_t(W / 2 + 1));
    m->cells = m->map + cells;
    m->window = m->cells + 3 * cells;
    m->scratch = m->window + cells;
    std::fill(m->map, m->map + cells, 0.0f);
    m->planes = 0;
    m->whole = false;
    m->screen = 0;
}

namespace {

/* A band's coefficients lie within `reach` cycles per pixel of the peaks
 * (py, px) and their mirror images: the columns of centred row i that may
 * hold some, as merged spans [first, end), and how many. */
int row_spans(const HalfSpectrum& s, int32_t i, const double* py, const double* px, int n,
              double reach, int32_t (*spans)[2]) {
    const double fy = double(s.fy(i)) / s.H;
    int count = 0;
    for (int k = 0; k < 2 * n; k++) {
        double y = k < n ? py[k] : -py[k - n], x = k < n ? px[k] : -px[k - n];
        double dy = fy - y, across = reach * reach - dy * dy;
        if (across < 0) continue;
        double half = std::sqrt(across);
        int32_t first = std::max(int32_t(std::floor((x - half) * s.W)), int32_t(0));
        int32_t end = std::min(int32_t(std::ceil((x + half) * s.W)) + 1, s.C);
        if (first >= end) continue;
        int j = count++;
        for (; j > 0 && spans[j - 1][0] > first; j--) {
            spans[j][0] = spans[j - 1][0];
            spans[j][1] = spans[j - 1][1];
        }
        spans[j][0] = first;
        spans[j][1] = end;
    }
    int merged = 0;
    for (int j = 0; j < count; j++) {
        if (merged > 0 && spans[j][0] <= spans[merged - 1][1]) {
            spans[merged - 1][1] = std::max(spans[merged - 1][1], spans[j][1]);
        } else {
            spans[merged][0] = spans[j][0];
            spans[merged][1] = spans[j][1];
            merged++;
        }
    }
    return merged;
}

/* The power of the band's picture in each cell, after the band's
 * coefficients were transformed back alone: those within `reach` cycles per
 * pixel of the peaks (py, px) and their mirror images where in(d2) holds,
 * d2 being the squared distance to the nearest of them. Returns how many
 * coefficients the band holds, or -1 when the transform cannot be made.
 *
 * A cell's power is measured at every other pixel along both axes: the
 * band's picture changes little within a pixel or two, and those pixels'
 * values come from a transform of a quarter of the size, the band folded:
 * coefficient (q, r) of the whole spectrum added into (q mod H / 2, r mod
 * W / 2). Planes of an odd side are measured at every pixel. */
template <typename In>
int64_t band_power(ScreenMap* m, const fftw_complex* spectrum, const HalfSpectrum& s, float* cells,
                   const double* py, const double* px, int n, double reach, In in) {
    const int32_t H = s.H, W = s.W, C = s.C;
    const int32_t fold = H % 2 == 0 && W % 2 == 0 && H >= 2 * m->cell && W >= 2 * m->cell ? 2 : 1;
    const int32_t FH = H / fold, FW = W / fold, FC = FW / 2 + 1;
    /* Adds source row q's coefficients of the band into `b`, a row of the
     * folded half: at r mod FW, or conjugated at FW - r. */
    auto add_row = [&](int32_t q, fftw_complex* b, bool conjugate) {
        int32_t spans[2 * strongest_kept][2];
        double near_y[2 * strongest_kept], near_x[2 * strongest_kept];
        const int32_t i = s.centred(q);
        int pieces = row_spans(s, i, py, px, n, reach, spans);
        /* only the peaks within reach of the row can be nearest */
        const double fy = double(s.fy(i)) / s.H;
        int near = 0;
        for (int k = 0; k < 2 * n; k++) {
            double y = k < n ? py[k] : -py[k - n], dy = fy - y;
            if (dy * dy >= reach * reach) continue;
            near_y[near] = dy * dy;
            near_x[near++] = k < n ? px[k] : -px[k - n];
        }
        const fftw_complex* x = spectrum + int64_t(q) * C;
        int64_t count = 0;
        for (int p = 0; p < pieces; p++)
            for (int32_t r = spans[p][0]; r < spans[p][1]; r++) {
                double fx = double(r) / s.W, d2 = HUGE_VAL;
                for (int k = 0; k < near; k++) {
                    double dx = fx - near_x[k];
                    d2 = std::min(d2, near_y[k] + dx * dx);
                }
                if (!in(d2)) continue;
                count++;
                /* a coefficient of column 0 or W / 2 has its mirror image
                 * in its own column, a row of its own */
                int32_t to = conjugate ? FW - r : r % FW;
                if (conjugate && (r == 0 || 2 * r == W)) continue;
                if (to >= FC) continue;
                b[to][0] += x[r][0];
                b[to][1] += conjugate ? -x[r][1] : x[r][1];
            }
        return count;
    };
    int64_t taken = over_rows(FH, int64_t(C) * fold * fold, [&](int32_t first, int32_t end) {
        int64_t count = 0;
        for (int32_t q = first; q < end; q++) {
            fftw_complex* b = m->band + int64_t(q) * FC;
            std::memset(static_cast<void*>(b), 0, sizeof(fftw_complex) * size_t(FC));
            for (int32_t k = 0; k < fold; k++) count += add_row(q + k * FH, b, false);
            /* the rows whose mirror images fold into row q */
            if (fold == 2)
                for (int32_t k = 0; k < fold; k++) add_row((H - q - k * FH + H) % H, b, true);
        }
        return count;
    });
    double* real = reinterpret_cast<double*>(m->band);
    const int32_t dims[2] = {FH, FW}, side = m->cell / fold;
    if (transform_real_axes_back(m->band, real, 2 * int64_t(FC), dims, 2)) return -1;
    over_rows(m->rows, int64_t(m->cell) * s.W, [&](int32_t first, int32_t end) {
        for (int32_t cy = first; cy < end; cy++) {
            float* row_cells = cells + size_t(cy) * size_t(m->columns);
            for (int32_t cx = 0; cx < m->columns; cx++) {
                double sum = 0;
                const int32_t x0 = cx * side, x1 = std::min(FW, x0 + side);
                for (int32_t y = cy * side; y < std::min(FH, (cy + 1) * side); y++) {
                    const double* row = real + int64_t(y) * 2 * FC;
                    for (int32_t x = x0; x < x1; x++) sum += row[x] * row[x];
                }
                row_cells[cx] = float(sum);
            }
        }
        return int64_t(0);
    });
    return taken;
}

} // namespace

bool screen_map_add(ScreenMap* m, const fftw_complex* spectrum, const Analysis& a, double screen,
                    int peaks) {
    const HalfSpectrum& s = a.s;
    /* Discs around the strongest peaks, wide enough in frequency to be
     * narrow in space (a radius of a sixteenth of a cycle per pixel, less
     * for coarse screens), and the rings around them, clear of every disc. */
    const double radius = std::min(1.0 / 16, 0.3 * screen), reach = 1.6 * radius;
    const int n = std::min(peaks, int(strongest_kept));
    double py[strongest_kept], px[strongest_kept];
    for (int k = 0; k < n; k++) {
        py[k] = double(s.fy(a.strongest[k].i)) / s.H;
        px[k] = double(a.strongest[k].c) / s.W;
    }
    const double radius2 = radius * radius, reach2 = reach * reach;
    const size_t cells = size_t(m->rows) * size_t(m->columns);
    float* on = m->cells;
    float* off = m->cells + cells;
    int64_t on_bins =
        band_power(m, spectrum, s, on, py, px, n, radius, [&](double d2) { return d2 < radius2; });
    if (on_bins < 0) return false;
    int64_t off_bins = band_power(m, spectrum, s, off, py, px, n, reach,
                                  [&](double d2) { return d2 >= radius2 && d2 < reach2; });
    if (off_bins < 0) return false;
    if (m->planes++ == 0) m->screen = screen;
    if (on_bins == 0 || off_bins == 0) { /* no rings to compare: everywhere */
        m->whole = true;
        return true;
    }
    /* the power per coefficient of each band, smoothed, and their ratio */
    for (size_t k = 0; k < cells; k++) {
        on[k] /= float(on_bins);
        off[k] /= float(off_bins);
    }
    smooth(m, on);
    smooth(m, off);
    /* A plane whose screen stands out in full over nine tenths of the
     * picture shows a screened picture: the others need not be measured. */
    size_t full = 0;
    for (size_t k = 0; k < cells; k++) {
        double ratio = std::max(double(on[k]) / std::max(off[k], 1e-30f), 1e-9);
        m->map[k] += float(std::log(ratio));
        full += ratio >= 6;
    }
    m->whole = full >= 0.9 * double(cells);
    return true;
}

namespace {

/* The map from the sum of the planes' log ratios in `values`, in place. */
void finish(ScreenMap* m, float* values) {
    /* The geometric mean of the planes' ratios: no screen where it is below
     * 2, full from 6 on. */
    const size_t cells = size_t(m->rows) * size_t(m->columns);
    if (m->whole) {
        std::fill(values, values + cells, 1.0f);
        return;
    }
    if (m->planes == 0) return;
    for (size_t k = 0; k < cells; k++) {
        double t = (values[k] / m->planes - std::log(2.0)) / std::log(3.0);
        values[k] = float(std::min(std::max(t, 0.0), 1.0));
    }
    /* Within a screened photograph, solid shadows and bare highlights hold
     * few dots, but the screen's rosettes beat across them: the map is
     * closed over holes up to about a hundred pixels across, and a screen
     * over most of the picture is taken out everywhere. */
    extreme(m, values, m->cells, true, 6);
    extreme(m, m->cells, values, false, 6);
    double covered = 0;
    for (size_t k = 0; k < cells; k++) covered += values[k];
    if (covered > 0.6 * double(cells)) std::fill(values, values + cells, 1.0f);
}

} // namespace

void screen_map_finish(ScreenMap* m) {
    finish(m, m->map);
}

bool screen_map_window(ScreenMap* m) {
    const size_t cells = size_t(m->rows) * size_t(m->columns);
    if (m->planes == 0 || m->whole) return false;
    std::copy(m->map, m->map + cells, m->window);
    finish(m, m->window);
    return std::any_of(m->window, m->window + cells, [](float v) { return v < 1; });
}

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
#include "parallel.h"

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

/* Below this frequency, in cycles per pixel (periods above 12.5 pixels), a
 * pattern is coarser than any screen or scan artefact. */
const double coarse = 0.08;

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
    /* Away from the half's edges the neighbours are at fixed offsets, and
     * their background is within the grid's slope of this one's, to the
     * float rounding of `e`: most are told above or below from their
     * log-magnitudes alone. */
    const bool inside = i >= 2 && i < s.H - 2 && c >= 2 && c < s.C - 2;
    const double guard = (a.protect + 1.5) * (a.protect + 1.5);
    const double here = a.level[s.index(i, c)];
    double ring = -HUGE_VAL;
    /* The nearest eight first: most coefficients that stand out are not
     * maxima, and a neighbour above them says so soonest. */
    for (int32_t reach = 1; reach <= 2; reach++)
        for (int32_t dy = -reach; dy <= reach; dy++)
            for (int32_t dx = -reach; dx <= reach; dx++) {
                if (std::max(std::abs(dy), std::abs(dx)) != reach) continue;
                int32_t ni = i + dy, nc = c + dx;
                if (!inside) resolve(s, &ni, &nc);
                const double level = a.level[size_t(ni) * size_t(s.C) + size_t(nc)];
                const double bound =
                    std::abs(dy) * a.slope_rows + std::abs(dx) * a.slope_columns + 1e-3;
                const double rise = level - here;
                if (inside && rise > bound && s.radius2(ni, nc) >= guard) return false;
                if ((!inside || rise >= -bound) && excess(a, ni, nc) > e) return false;
                if (reach == 2) ring = std::max(ring, level);
            }
    return here - ring > peak_sharpness;
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

/* A screen among the strongest peaks, above 0.08 cycles per pixel (periods
 * below 12.5 pixels): two peaks of about the same frequency at about right
 * angles (a lattice of dots), or a peak with its second harmonic beside it
 * (lines whose width follows the picture; a sinusoid has none). The lowest
 * such frequency, or 0; `dots` tells whether a lattice was among them. */
double screen_frequency(const Analysis& a, int count, bool* dots) {
    const HalfSpectrum& s = a.s;
    int n = std::min(count, int(strongest_kept));
    double r[strongest_kept], angle[strongest_kept], fy[strongest_kept], fx[strongest_kept],
        level[strongest_kept];
    double screen = 0;
    for (int k = 0; k < n; k++) {
        fy[k] = double(s.fy(a.strongest[k].i)) / s.H, fx[k] = double(a.strongest[k].c) / s.W;
        r[k] = std::hypot(fy[k], fx[k]);
        angle[k] = std::atan2(fy[k], fx[k]) * 180 / pi;
        level[k] = a.level[s.index(a.strongest[k].i, a.strongest[k].c)];
    }
    const double bin = 1.5 / std::min(s.H, s.W);
    /* The pairs: one ink's two directions (within 5 times as strong as
     * each other), or a line and its harmonic; a pair's strength is its
     * weaker member's, or the line's. */
    struct Pair {
        double frequency, strength;
        bool lattice;
    } pairs[strongest_kept * strongest_kept];
    int found = 0;
    for (int j = 0; j < n; j++)
        for (int k = 0; k < n; k++) {
            if (j == k || r[j] <= coarse) continue;
            double turn = std::fmod(std::fabs(angle[j] - angle[k]), 180.0);
            bool lattice = std::fabs(r[j] - r[k]) < 0.12 * r[j] && turn > 60 && turn < 120 &&
                           std::fabs(level[j] - level[k]) < 1.6094379;
            bool harmonic =
                std::hypot(std::fabs(fy[k]) - 2 * std::fabs(fy[j]), fx[k] - 2 * fx[j]) < bin &&
                (fy[k] == 0 || fy[j] == 0 || (fy[k] > 0) == (fy[j] > 0));
            if (lattice || harmonic)
                pairs[found++] = {std::min(r[j], r[k]),
                                  lattice ? std::min(level[j], level[k]) : level[j], lattice};
        }
    /* The aliases of the dots' edges and the inks' rosettes make pairs too,
     * but weaker: the screen is the lowest frequency of the pairs within 4
     * times of the strongest. */
    double strongest = -HUGE_VAL;
    for (int p = 0; p < found; p++) strongest = std::max(strongest, pairs[p].strength);
    for (int p = 0; p < found; p++) {
        if (pairs[p].strength < strongest - 1.3862944) continue;
        *dots |= pairs[p].lattice;
        if (screen == 0 || pairs[p].frequency < screen) screen = pairs[p].frequency;
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
     * barely changes. Each thread takes its own rows of blocks, with its
     * own block's space. */
    const int32_t step = a->side >= 16 ? 2 : 1;
    const int64_t parts = a->line_parts;
    over_rows(int32_t(parts), int64_t(s.bins() / parts), [&](int32_t first, int32_t end) {
        for (int32_t part = first; part < end; part++) {
            float* block = a->block + size_t(part) * a->block_size;
            for (int32_t gy = int32_t(a->grid_rows * part / parts);
                 gy < int32_t(a->grid_rows * (part + 1) / parts); gy++)
                for (int32_t gx = 0; gx < a->grid_columns; gx++) {
                    int32_t i0 = gy * a->side, i1 = std::min(i0 + a->side, s.H);
                    int32_t c0 = gx * a->side, c1 = std::min(c0 + a->side, s.C);
                    size_t n = 0;
                    for (int32_t i = i0; i < i1; i += step)
                        for (int32_t c = c0; c < c1; c += step)
                            block[n++] = a->level[size_t(i) * size_t(s.C) + size_t(c)];
                    std::nth_element(block, block + n / 2, block + n);
                    a->grid[size_t(gy) * size_t(a->grid_columns) + size_t(gx)] = block[n / 2];
                }
        }
        return int64_t(0);
    });
    double rows = 0, columns = 0;
    for (int32_t gy = 0; gy < a->grid_rows; gy++)
        for (int32_t gx = 0; gx < a->grid_columns; gx++) {
            const float* g = a->grid + size_t(gy) * size_t(a->grid_columns) + size_t(gx);
            if (gy + 1 < a->grid_rows)
                rows = std::max(rows, double(std::fabs(g[a->grid_columns] - g[0])));
            if (gx + 1 < a->grid_columns)
                columns = std::max(columns, double(std::fabs(g[1] - g[0])));
        }
    a->slope_rows = rows / a->side;
    a->slope_columns = columns / a->side;
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

void background_row(const Analysis& a, int32_t i, float* line, float* blend) {
    int32_t y0, y1;
    double wy = place(a, i, a.grid_rows, &y0, &y1);
    /* the grid between the two rows of block centres, then along the row */
    for (int32_t x = 0; x < a.grid_columns; x++) blend[x] = float(between_rows(a, y0, y1, wy, x));
    blend[a.grid_columns] = blend[a.grid_columns - 1];
    for (int32_t c = 0; c < a.s.C; c++) {
        const float* g = blend + a.column_block[c];
        line[c] = g[0] + a.column_weight[c] * (g[1] - g[0]);
    }
}

namespace {

/* The frequency of (i, c) in cycles per pixel. */
struct Frequency {
    double y, x;
};
Frequency frequency_of(const HalfSpectrum& s, int32_t i, int32_t c) {
    return Frequency{double(s.fy(i)) / s.H, double(c) / s.W};
}

/* Does the spectrum stand `threshold` above its background near frequency
 * f, at a local maximum? The strongest bin of the nearest three by three. */
bool stands_out(const Analysis& a, Frequency f, double threshold) {
    const HalfSpectrum& s = a.s;
    int32_t i0 = int32_t(std::lround(f.y * s.H)) + s.H / 2, c0 = int32_t(std::lround(f.x * s.W));
    int32_t bi = 0, bc = 0;
    double best = -HUGE_VAL;
    for (int32_t dy = -1; dy <= 1; dy++)
        for (int32_t dx = -1; dx <= 1; dx++) {
            int32_t i = i0 + dy, c = c0 + dx;
            resolve(s, &i, &c);
            double e = excess(a, i, c);
            if (e > best) best = e, bi = i, bc = c;
        }
    if (best <= threshold) return false;
    for (int32_t dy = -1; dy <= 1; dy++)
        for (int32_t dx = -1; dx <= 1; dx++) {
            int32_t i = bi + dy, c = bc + dx;
            resolve(s, &i, &c);
            if (excess(a, i, c) > best) return false;
        }
    return true;
}

/* The amplitude, in units of white, of the sinusoid whose coefficient
 * (i, c) is: a sinusoid of amplitude A puts A N / 2 into it. */
double amplitude_of(const Analysis& a, int32_t i, int32_t c) {
    return 2 * std::exp(double(a.level[a.s.index(i, c)])) / (double(a.s.H) * double(a.s.W));
}

/* The 8 x 8 blocks of a JPEG file leave faint peaks, less than an 8-bit
 * step, at the multiples of an eighth of a cycle per pixel along both axes,
 * an eighth itself on both among them: they are the file's, not the
 * print's. */
bool on_block_grid(const HalfSpectrum& s, Frequency f) {
    double y = f.y * 8, x = f.x * 8;
    return std::fabs(y - std::round(y)) * s.H / 8 < 1.5 &&
           std::fabs(x - std::round(x)) * s.W / 8 < 1.5;
}

/* A fine peak that is one of a row of evenly spaced peaks through zero,
 * coarser than a screen (lines of text, a drawn grid, a checkerboard's large
 * squares), belongs to the picture's own structure: its neighbours in the
 * row, f m / n for m from n - 2 to n + 1 (n up to 16), stand out too, the
 * row's first member, its fundamental, as a peak. The harmonics of
 * irregular rows, such as lines of text whose dark bands take a fraction of
 * each line, are patchy far out: there the fundamental stands out as a peak
 * and so do two fifths of the row's members up to the Nyquist frequency,
 * three at least. A row's members are of about the same strength: a strong
 * sinusoid on a clean picture is not one of them. */
bool in_coarse_row(const Analysis& a, Frequency f, double e) {
    const double r = std::hypot(f.y, f.x), clear = (a.protect + 2) / std::min(a.s.H, a.s.W);
    /* 5 times above the background, and within 10 times of the peak */
    const double threshold = std::max(1.6094379124341003, e - 2.302585092994046);
    auto member = [&](int m, int n) {
        return stands_out(a, Frequency{f.y * m / n, f.x * m / n},
                          m == 1 ? std::max(peak_excess, threshold) : threshold);
    };
    for (int n = 2; n <= 64; n++) {
        if (r / n >= coarse) continue;
        /* members closer than three bins are the peak itself */
        if (r / n * std::min(a.s.H, a.s.W) < 3) break;
        /* f m / n for m = n - 2 .. n + 1, where they are clear of zero and
         * below the Nyquist frequency */
        if (n <= 16) {
            int looked = 0;
            bool all = true;
            for (int m = n - 2; m <= n + 1 && all; m++) {
                double rm = r * m / n;
                if (m == n || rm < clear || rm > 0.5) continue;
                looked++;
                all = member(m, n);
            }
            if (looked >= 2 && all) return true;
        }
        /* The whole row, from its fundamental, but for the members next to
         * the peak: a screen's peak is wide, for the picture's own spectrum
         * lies around it, and its neighbours a few bins away stand out. */
        if (r / n < clear || !member(1, n)) continue;
        int found = 0, looked = 0;
        for (int m = 2; r * m / n <= 0.5; m++)
            if (std::abs(m - n) > 2) {
                looked++;
                found += member(m, n);
            }
        if (found >= 3 && 5 * found >= 2 * looked) return true;
    }
    return false;
}

/* A coarse peak far above its background without harmonics, from 2 f to
 * 9 f, is a sinusoid: laid over the picture, as stripes are, for a
 * picture's own coarse structure has edges, whose harmonics are within a
 * few times of the fundamental. A sinusoid whose period does not divide
 * the picture's size shares its power with the bins beside its own, and
 * a photograph is rich near zero: 12 times above the background is far
 * enough. */
bool lone_sinusoid(const Analysis& a, int32_t i, int32_t c, Frequency f, double e) {
    const double strong = 2.4849066497880004; /* ln 12 */
    if (e < strong) return false;
    const double level = a.level[size_t(i) * size_t(a.s.C) + size_t(c)];
    for (int m = 2; m <= 9; m++) {
        Frequency h{f.y * m, f.x * m};
        if (std::hypot(h.y, h.x) >= 0.5) break;
        int32_t hi = int32_t(std::lround(h.y * a.s.H)) + a.s.H / 2;
        int32_t hc = int32_t(std::lround(h.x * a.s.W));
        if (stands_out(a, h, region_excess) &&
            a.level[a.s.index(hi, hc)] > level - 3.4011973816621555) /* ln 30 */
            return false;
    }
    return true;
}

/* The excess of the power of (i, c) and of its stronger neighbours along
 * each axis and between them: where a sinusoid's frequency falls between
 * the transform's, it shares its power between these four. */
double split_excess(const Analysis& a, int32_t i, int32_t c) {
    const HalfSpectrum& s = a.s;
    auto power = [&](int32_t di, int32_t dc) {
        int32_t ni = i + di, nc = c + dc;
        resolve(s, &ni, &nc);
        return std::exp(2.0 * a.level[size_t(ni) * size_t(s.C) + size_t(nc)]);
    };
    const int32_t di = power(-1, 0) > power(1, 0) ? -1 : 1;
    const int32_t dc = power(0, -1) > power(0, 1) ? -1 : 1;
    double sum = power(0, 0) + power(di, 0) + power(0, dc) + power(di, dc);
    return 0.5 * std::log(sum) - background(a, i, c);
}

/* Is peak (i, c) the pattern's? Fine peaks are, unless they belong to the
 * picture's own coarse structure or to a JPEG's blocks (where `blocks`
 * says a JPEG's blocks show). Under a screen so are coarse ones, the inks'
 * rosettes and the aliases of the dots' edges; otherwise a coarse one only
 * where a moire beats, at the sum or difference of two fine peaks
 * (`fine`) or as strong as the strongest (of log-magnitude `fine_level`),
 * or where it is a lone sinusoid. */
bool is_pattern(const Analysis& a, int32_t i, int32_t c, const Frequency* fine, int n,
                double fine_level, bool screen, bool blocks) {
    const HalfSpectrum& s = a.s;
    Frequency f = frequency_of(s, i, c);
    if (blocks && on_block_grid(s, f) && amplitude_of(a, i, c) < 1 / 256.0) return false;
    if (std::hypot(f.y, f.x) > coarse) return !in_coarse_row(a, f, excess(a, i, c));
    if (screen) return true;
    const double near = 1.5 / std::min(s.H, s.W);
    for (int j = 0; j < n; j++)
        for (int k = j + 1; k < n; k++)
            for (double sign : {-1.0, 1.0}) {
                double dy = fine[j].y + sign * fine[k].y, dx = fine[j].x + sign * fine[k].x;
                if (std::hypot(std::fabs(dy) - std::fabs(f.y), std::fabs(dx) - f.x) < near &&
                    (dy == 0 || f.y == 0 || (dy > 0) == (f.y > 0) || dx == 0))
                    return true;
            }
    /* Two gratings multiplied, as when a pattern is photographed through
     * another, give their sum and their difference equal amplitudes: a
     * coarse peak with half to four times the amplitude of the strongest
     * fine one is the slow beat of the fine one. One far stronger is the
     * picture's own coarse structure, such as lines of text, whose faint
     * harmonics near the Nyquist frequency stand out as fine peaks. */
    const double level = a.level[size_t(i) * size_t(s.C) + size_t(c)];
    if (n > 0 && level > fine_level - 0.6931472 && level < fine_level + 1.3862944) return true;
    return lone_sinusoid(a, i, c, f, excess(a, i, c));
}

} // namespace

Finding find_peaks(Analysis* a) {
    const HalfSpectrum& s = a->s;
    uint32_t* stack = reinterpret_cast<uint32_t*>(a->cut); /* free until the cut */
    const double guard = (a->protect + 1.5) * (a->protect + 1.5);
    /* One pass over the rows, in bands shared between the threads, each
     * with its own line: the peaks, each band's listed in the stack from its
     * first row's place on, and in a.region the coefficients that stand out
     * enough to join a peak's region (marked `near`). A pattern whose
     * amplitude is below a thousandth of white cannot be seen; the rounding
     * of a clean synthetic picture leaves such peaks. */
    const uint8_t near = 2;
    const int64_t parts = a->line_parts;
    const size_t line = 2 * (size_t(s.C) + 2 * max_reach);
    size_t listed[64];
    auto rows_of = [&](int64_t part) { return int32_t(int64_t(s.H) * part / parts); };
    over_rows(int32_t(parts), int64_t(s.bins() / size_t(parts)), [&](int32_t first, int32_t end) {
        for (int32_t part = first; part < end; part++) {
            float* background = a->line + size_t(part) * line;
            uint32_t* own = stack + size_t(rows_of(part)) * size_t(s.C);
            size_t n = 0;
            for (int32_t i = rows_of(part); i < rows_of(part + 1); i++) {
                background_row(*a, i, background, background + s.C);
                const float* level = a->level + size_t(i) * size_t(s.C);
                uint8_t* region = a->region + size_t(i) * size_t(s.C);
                for (int32_t c = 0; c < s.C; c++) {
                    double e = double(level[c]) - background[c];
                    region[c] = 0;
                    if (e <= region_excess || s.radius2(i, c) < guard) continue;
                    region[c] = near;
                    if (e > peak_excess && is_peak(*a, i, c, e) && amplitude_of(*a, i, c) >= 0.001)
                        own[n++] = uint32_t(size_t(i) * size_t(s.C) + size_t(c));
                }
            }
            listed[part] = n;
        }
        return int64_t(0);
    });
    size_t top = 0;
    for (int64_t part = 0; part < parts; part++) {
        std::copy(stack + size_t(rows_of(part)) * size_t(s.C),
                  stack + size_t(rows_of(part)) * size_t(s.C) + listed[part], stack + top);
        top += listed[part];
    }
    /* The fine peaks that are the pattern's first, the strongest of them
     * kept; then the coarse ones that beat between them. */
    int count = 0, fine_count = 0;
    double screen = 0;
    bool dots = false;
    const bool blocks = stands_out(*a, Frequency{0, 0.125}, region_excess) &&
                        stands_out(*a, Frequency{0.125, 0}, region_excess);
    Frequency fine[strongest_kept];
    double fine_level = -HUGE_VAL;
    size_t kept = 0;
    for (int pass = 0; pass < 2; pass++) {
        for (size_t n = 0; n < top; n++) {
            size_t k = stack[n];
            int32_t i = int32_t(k / size_t(s.C)), c = int32_t(k % size_t(s.C));
            Frequency f = frequency_of(s, i, c);
            if ((std::hypot(f.y, f.x) > coarse) != (pass == 0)) continue;
            if (!is_pattern(*a, i, c, fine, fine_count, fine_level, screen > 0, blocks)) continue;
            if (pass == 0 || screen == 0)
                keep_strongest(a, count, Peak{i, c, float(excess(*a, i, c))});
            count++;
            stack[kept++] = uint32_t(k);
        }
        if (pass == 0) {
            fine_count = std::min(count, int(strongest_kept));
            for (int j = 0; j < fine_count; j++) {
                fine[j] = frequency_of(s, a->strongest[j].i, a->strongest[j].c);
                fine_level = std::max(
                    fine_level, double(a->level[s.index(a->strongest[j].i, a->strongest[j].c)]));
            }
            if (fine_count > 0) screen = screen_frequency(*a, fine_count, &dots);
        }
    }
    /* Without a screen, a coarse sinusoid whose period does not divide the
     * picture's size may not stand out at any one bin: the coarse local
     * maxima that stand out with the bins they share their power with, and
     * are lone sinusoids, are the pattern's too. */
    if (screen == 0) {
        const int32_t rows = int32_t(coarse * s.H) + 1, columns = int32_t(coarse * s.W) + 1;
        for (int32_t i = std::max(0, s.H / 2 - rows); i < std::min(s.H, s.H / 2 + rows + 1); i++)
            for (int32_t c = 0; c < std::min(s.C, columns + 1); c++) {
                Frequency f = frequency_of(s, i, c);
                const double e = excess(*a, i, c);
                if (std::hypot(f.y, f.x) > coarse || s.radius2(i, c) < guard ||
                    e <= region_excess || e > peak_excess || !is_peak(*a, i, c, e))
                    continue;
                const double shared = split_excess(*a, i, c);
                if (shared <= peak_excess || !lone_sinusoid(*a, i, c, f, shared) ||
                    amplitude_of(*a, i, c) < 0.001)
                    continue;
                keep_strongest(a, count, Peak{i, c, float(e)});
                count++;
                stack[kept++] = uint32_t(size_t(i) * size_t(s.C) + size_t(c));
            }
    }
    /* Each kept peak's region: the coefficients around it, eight-connected,
     * that stand out by more than region_excess, those marked near. */
    top = kept;
    for (size_t n = 0; n < top; n++) a->region[stack[n]] = 1;
    while (top > 0) {
        size_t k = stack[--top];
        int32_t i = int32_t(k / size_t(s.C)), c = int32_t(k % size_t(s.C));
        for (int32_t dy = -1; dy <= 1; dy++)
            for (int32_t dx = -1; dx <= 1; dx++) {
                int32_t ni = i + dy, nc = c + dx;
                if (ni < 0 || ni >= s.H || nc < 0 || nc >= s.C) resolve(s, &ni, &nc);
                size_t n = size_t(ni) * size_t(s.C) + size_t(nc);
                if (a->region[n] != near) continue;
                a->region[n] = 1;
                stack[top++] = uint32_t(n);
            }
    }
    over_rows(s.H, s.C, [&](int32_t first, int32_t end) {
        uint8_t* region = a->region + size_t(first) * size_t(s.C);
        for (size_t n = 0; n < size_t(end - first) * size_t(s.C); n++) region[n] = region[n] == 1;
        return int64_t(0);
    });
    const int held = std::min(count, int(strongest_kept));
    double loudest = 0;
    for (int j = 0; j < held; j++)
        loudest = std::max(loudest, amplitude_of(*a, a->strongest[j].i, a->strongest[j].c));
    return Finding{count, fine_count, held, screen, dots, loudest};
}

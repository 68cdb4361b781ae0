/* descreen.cpp - SpectraDescreen's body: finds a periodic pattern in each
 * colour plane (a halftone screen, stripes, scan lines, moire) and takes it
 * out, in place, without parameters.
 *
 * Each plane is split into a periodic part and a smooth part (Moisan's
 * periodic-plus-smooth decomposition): the smooth part carries the jumps
 * between opposite borders, which would otherwise draw a bright cross
 * through the spectrum, and is put back untouched. The periodic part's
 * spectrum, one real-to-complex transform, is searched for peaks (peaks.cpp);
 * a plane without them is left exactly as it came. Otherwise each
 * coefficient is scaled by its gain (gain.cpp) and the plane transformed
 * back. A screen is taken out where it lies (where.cpp); where that is
 * part of a page, the gain is made from the plane seen through the map.
 * A grey document has one colour plane, RGB three; the planes after them
 * (transparency) are copied by the frame. */
#include "descreen.h"
#include "where.h"
#include "edges.h"
#include "sinusoid.h"
#include "axes.h"
#include "codes.h"
#include "frame.h"
#include "parallel.h"

#include <algorithm>
#include <cmath>
#include <fftw3.h>
#include <type_traits>

namespace {

const double pi = 3.14159265358979323846;

/* The borders' transforms and the tables that give the smooth part's
 * spectrum: the cosine and sine of each row's and column's frequency. */
struct Borders {
    double* across;           /* bottom row minus top row, W values */
    double* down;             /* right column minus left column, H values */
    fftw_complex* across_dft; /* C values */
    fftw_complex* down_dft;   /* H / 2 + 1 values */
    double *row_cos, *row_sin, *column_cos, *column_sin;
};

/* The work space: the spectrum in buffer 0; the borders and the analysis
 * in buffer 1, carved in this order. */
uint64_t border_bytes(int32_t H, int32_t W) {
    uint64_t C = uint64_t(W) / 2 + 1;
    return 8 * (uint64_t(W) + uint64_t(H) + 2 * C + 2 * (uint64_t(H) / 2 + 1) + 2 * uint64_t(H) +
                2 * C);
}

int descreen_work_buffers(int32_t rows, int32_t columns, uint64_t bytes[]) {
    uint64_t C = uint64_t(columns) / 2 + 1;
    bytes[0] = sizeof(fftw_complex) * uint64_t(rows) * C;
    bytes[1] = border_bytes(rows, columns) + screen_map_bytes(rows, columns) +
               analysis_bytes(rows, columns);
    return 2;
}

Borders carve_borders(void* buffer, int32_t H, int32_t W) {
    double* d = static_cast<double*>(buffer);
    int32_t C = W / 2 + 1;
    Borders b;
    b.across = d;
    b.down = b.across + W;
    b.across_dft = reinterpret_cast<fftw_complex*>(b.down + H);
    b.down_dft = b.across_dft + C;
    b.row_cos = reinterpret_cast<double*>(b.down_dft + (H / 2 + 1));
    b.row_sin = b.row_cos + H;
    b.column_cos = b.row_sin + H;
    b.column_sin = b.column_cos + C;
    for (int32_t q = 0; q < H; q++) {
        b.row_cos[q] = std::cos(2 * pi * q / H);
        b.row_sin[q] = std::sin(2 * pi * q / H);
    }
    for (int32_t r = 0; r < C; r++) {
        b.column_cos[r] = std::cos(2 * pi * r / W);
        b.column_sin[r] = std::sin(2 * pi * r / W);
    }
    return b;
}

/* Columns r0 to r1 - 1 of row q of the spectrum: x = gain x + sign S for
 * each coefficient, S being the smooth part's (gain 1 where `gain` is null;
 * gain[0] is column r0's). The smooth part's Laplacian is the jump across
 * the borders, so in frequency it is the borders' transform, across (1 -
 * e^{2 pi i q / H}) + down (1 - e^{2 pi i r / W}), over the discrete
 * Laplacian's, 2 cos(2 pi q / H) + 2 cos(2 pi r / W) - 4. The zero
 * frequency is left to the periodic part. */
void add_smooth_row(const Borders& b, int32_t H, int32_t q, int32_t r0, int32_t r1, fftw_complex* x,
                    const float* gain, double sign) {
    /* down's transform at q > H / 2 is the conjugate of that at H - q */
    int32_t mq = q <= H / 2 ? q : H - q;
    const double dre = b.down_dft[mq][0], dim = q <= H / 2 ? b.down_dft[mq][1] : -b.down_dft[mq][1];
    const double pr = 1 - b.row_cos[q], pi_ = -b.row_sin[q], lq = 2 * b.row_cos[q] - 4;
    for (int32_t r = q == 0 && r0 == 0 ? 1 : r0; r < r1; r++) {
        double cr = 1 - b.column_cos[r], ci = -b.column_sin[r];
        double ar = b.across_dft[r][0], ai = b.across_dft[r][1];
        double laplacian = lq + 2 * b.column_cos[r];
        double sr = (ar * pr - ai * pi_ + dre * cr - dim * ci) / laplacian;
        double si = (ar * pi_ + ai * pr + dre * ci + dim * cr) / laplacian;
        double g = gain ? gain[r - r0] : 1.0;
        x[r][0] = g * x[r][0] + sign * sr;
        x[r][1] = g * x[r][1] + sign * si;
    }
    if (q == 0 && r0 == 0 && gain) {
        x[0][0] *= gain[0];
        x[0][1] *= gain[0];
    }
}

/* The borders' plans, made once; the plane's transforms are made axis by
 * axis in each call (axes.h). */
struct Plans {
    fftw_plan across, down;
};

void destroy(Plans* p) {
    for (fftw_plan* plan : {&p->across, &p->down})
        if (*plan) fftw_destroy_plan(*plan);
}

bool make_plans(Plans* p, const Borders& b, int32_t H, int32_t W) {
    *p = Plans{};
    if (!spectra_fault())
        p->across = fftw_plan_dft_r2c_1d(W, b.across, b.across_dft, FFTW_ESTIMATE);
    if (p->across && !spectra_fault())
        p->down = fftw_plan_dft_r2c_1d(H, b.down, b.down_dft, FFTW_ESTIMATE);
    return p->down != nullptr;
}

/* The jumps across the borders of the plane in the transform's rows. */
void read_borders(const double* real, int32_t H, int32_t W, const Borders& b) {
    const int32_t stride = 2 * (W / 2 + 1);
    for (int32_t x = 0; x < W; x++) b.across[x] = real[int64_t(H - 1) * stride + x] - real[x];
    for (int32_t y = 0; y < H; y++)
        b.down[y] = real[int64_t(y) * stride + W - 1] - real[int64_t(y) * stride];
}

/* Reads plane k into the transform's padded rows, in units of white, and
 * the jumps across its borders. False when the plane is to be left alone:
 * a sample that is not finite, which a transform would spread over the
 * whole plane, or a drawn picture. A scan or a photograph has noise, so
 * that neighbours are seldom equal; in text, line art and flat-colour
 * graphics most are, along the rows and down the columns, and their regular
 * structure is their own. */
template <typename T>
bool read_plane(const Image<T>& image, int32_t k, double* real, const Borders& b) {
    const int32_t H = image.rows, W = image.columns, stride = 2 * (W / 2 + 1);
    const double scale = 1 / Depth<T>::white;
    /* neighbours equal along the rows and down the columns, and samples
     * that are not finite, counted in bands of rows, one for each thread */
    const int64_t parts = threads_for(H);
    int64_t across[64] = {}, down[64] = {}, infinite[64] = {};
    over_rows(int32_t(parts), int64_t(H) * W / parts, [&](int32_t first, int32_t end) {
        for (int32_t part = first; part < end; part++) {
            int64_t a = 0, d = 0, n = 0;
            for (int32_t y = int32_t(H * part / parts); y < int32_t(H * (part + 1) / parts); y++) {
                double* row = real + int64_t(y) * stride;
                for (int32_t x = 0; x < W; x++) row[x] = image.in.at(x, y, k) * scale;
                for (int32_t x = 1; x < W; x++) a += row[x] == row[x - 1];
                if (y > 0)
                    for (int32_t x = 0; x < W; x++)
                        d += image.in.at(x, y, k) == image.in.at(x, y - 1, k);
                if (std::is_same<T, float>::value)
                    for (int32_t x = 0; x < W; x++) n += !std::isfinite(row[x]);
            }
            across[part] = a;
            down[part] = d;
            infinite[part] = n;
        }
        return int64_t(0);
    });
    int64_t equal_across = 0, equal_down = 0, not_finite = 0;
    for (int64_t part = 0; part < parts; part++) {
        equal_across += across[part];
        equal_down += down[part];
        not_finite += infinite[part];
    }
    if (W > 1 && H > 1 && equal_across * 2 > int64_t(H) * (W - 1) &&
        equal_down * 2 > int64_t(H - 1) * W)
        return false;
    read_borders(real, H, W, b);
    return not_finite == 0;
}

/* A sample from a value in units of white. A filtered picture overshoots
 * a little both ways near sharp edges: at 8 and 16 bits the value is
 * rounded and held to 0..white (the codes' rounder would fold a negative
 * one up); at 32 bits it is kept as it is, as floats may lie beyond white. */
template <typename T> T sample_of(double v) {
    v *= Depth<T>::white;
    return T(v <= 0 ? 0 : v >= Depth<T>::white ? Depth<T>::white : v + 0.5);
}
template <> float sample_of<float>(double v) {
    return float(v);
}

template <typename T> void copy_plane(const Image<T>& image, int32_t k) {
    for (int32_t y = 0; y < image.rows; y++)
        for (int32_t x = 0; x < image.columns; x++) image.out.at(x, y, k) = image.in.at(x, y, k);
}

/* The plane in `spectrum`'s real rows transformed, with its periodic
 * part's log-magnitudes in a.level where `level` says so. noErr, or
 * memFullErr when the transform cannot be made. */
int16_t transform_periodic(fftw_complex* spectrum, const Borders& b, const Plans& plans,
                           Analysis* a, bool level) {
    const HalfSpectrum& s = a->s;
    const int32_t H = s.H, C = s.C;
    const int32_t dims[2] = {H, s.W};
    if (int16_t error = transform_real_axes(reinterpret_cast<double*>(spectrum), 2 * int64_t(C),
                                            spectrum, dims, 2))
        return error;
    fftw_execute(plans.across);
    fftw_execute(plans.down);

    /* The periodic part's coefficients, and their log-magnitudes. The floor
     * keeps an empty coefficient finite: 1e-12 of white per pixel. */
    const double N = double(H) * double(s.W), floor = N * N * 1e-24;
    over_rows(H, C, [&](int32_t first, int32_t end) {
        for (int32_t q = first; q < end; q++) {
            fftw_complex* x = spectrum + int64_t(q) * C;
            add_smooth_row(b, H, q, 0, C, x, nullptr, -1);
            if (!level) continue;
            float* l = a->level + size_t(s.centred(q)) * size_t(C);
            for (int32_t r = 0; r < C; r++)
                l[r] = float(x[r][0] * x[r][0] + x[r][1] * x[r][1] + floor);
            for (int32_t r = 0; r < C; r++) l[r] = 0.5f * log_of(l[r]);
        }
        return int64_t(0);
    });
    return noErr;
}

/* The plane in `spectrum`'s real rows transformed, its periodic part's
 * log-magnitudes in a.level, and what stands out there, into `found`. */
int16_t analyse(fftw_complex* spectrum, const Borders& b, const Plans& plans, Analysis* a,
                Finding* found) {
    if (int16_t error = transform_periodic(spectrum, b, plans, a, true)) return error;
    background_grid(a);
    *found = find_peaks(a);
    return noErr;
}

/* The sinusoids at the peaks found, measured in the plane (in the
 * transform's rows) and subtracted, each also in proportion to the plane's
 * local level where `level` (H x W floats, or null) gives room to measure
 * it. A screen is printed in ink: where one of them reaches a tenth of
 * white, they are lines of a screen, which follow the picture and would
 * remain, and the plane is left as it is. Returns whether it was changed. */
bool take_out_sinusoids(double* real, const Analysis& a, const Finding& found, double* work,
                        float* level) {
    const HalfSpectrum& s = a.s;
    const int32_t H = s.H, W = s.W, stride = 2 * s.C;
    Sinusoid z[strongest_kept];
    int n = 0;
    for (int j = 0; j < found.kept; j++) {
        double fy = double(s.fy(a.strongest[j].i)) / H, fx = double(a.strongest[j].c) / W;
        /* column 0 holds a peak and its mirror image */
        bool seen = false;
        for (int m = 0; m < n; m++)
            seen |= std::hypot(std::fabs(fy) - std::fabs(z[m].fy), fx - std::fabs(z[m].fx)) <
                    2.0 / std::min(H, W);
        if (seen) continue;
        z[n] = fit_sinusoid(real, H, W, stride, fy, fx, work);
        if (std::hypot(z[n].re, z[n].im) >= 0.1) return false;
        n++;
    }
    /* the level's box as wide as the coarsest period it can take out */
    double period = 0;
    for (int j = 0; j < n; j++) {
        double p = 1 / std::hypot(z[j].fy, z[j].fx);
        if (p <= level_period - 2) period = std::max(period, p);
    }
    if (period == 0 || !local_level(real, H, W, stride, period, level, work)) level = nullptr;
    for (int j = 0; j < n; j++)
        if (level && 1 / std::hypot(z[j].fy, z[j].fx) <= period)
            fit_follow(real, H, W, stride, level, &z[j], work);
    for (int j = 0; j < n; j++) subtract_sinusoid(real, H, W, stride, z[j], level, work);
    const double lift = comb_level(z, n, H, W);
    if (lift != 0)
        over_rows(H, W, [&](int32_t first, int32_t end) {
            for (int32_t y = first; y < end; y++)
                for (int32_t x = 0; x < W; x++) real[int64_t(y) * stride + x] += lift;
            return int64_t(0);
        });
    return n > 0;
}

/* What became of a plane: left alone (to be copied), filtered, or filtered
 * of a screen (to be blended with the scan by the picture's map); or the
 * user asked to stop. */
enum Outcome { left_alone, filtered, screened, cancelled, failed };

/* The steps of a plane that progress counts: the analysis, the second look
 * after sinusoids are taken out, the filter and the writing. */
const int32_t plane_steps = 4;

template <typename T>
Outcome descreen_plane(const Image<T>& image, int32_t k, fftw_complex* spectrum, const Borders& b,
                       const Plans& plans, ScreenMap* map, Analysis* a, Progress* progress) {
    const int32_t dims[2] = {a->s.H, a->s.W};
    const HalfSpectrum& s = a->s;
    const int32_t H = s.H, C = s.C;
    double* real = reinterpret_cast<double*>(spectrum);
    if (!read_plane(image, k, real, b)) return left_alone;
    Finding found;
    if (analyse(spectrum, b, plans, a, &found)) return failed;
    /* The plane seen through the map as the planes so far make it: read,
     * each sample weighted by the map, and analysed. Where it shows the
     * screen `screen` (within 2 %) that finding is the plane's, and
     * `windowed` says so; otherwise the plane is read and analysed as a
     * whole again. noErr, or the analysis's error. */
    bool windowed = false;
    auto look_through_map = [&](double screen) {
        read_plane(image, k, real, b);
        over_rows(H, s.W, [&](int32_t first, int32_t end) {
            for (int32_t y = first; y < end; y++)
                for (int32_t x = 0; x < s.W; x++)
                    real[int64_t(y) * 2 * C + x] *= screen_map_window_at(*map, x, y);
            return int64_t(0);
        });
        read_borders(real, H, s.W, b);
        Finding seen;
        if (int16_t error = analyse(spectrum, b, plans, a, &seen)) return error;
        windowed = std::fabs(seen.screen - screen) < 0.02 * screen;
        if (windowed) {
            found = seen;
            return int16_t(noErr);
        }
        read_plane(image, k, real, b);
        return analyse(spectrum, b, plans, a, &found);
    };
    /* On a page whose screen the planes before found, this plane's ink may
     * cover too little of the page to stand out over the whole of it: it is
     * looked for where the map says the screen lies. */
    if (found.screen == 0 && map->screen > 0 && screen_map_window(map) &&
        look_through_map(map->screen))
        return failed;
    const int32_t base = k * plane_steps;
    if (progress->cancelled_at(base + 1)) return cancelled;
    /* a photograph's own faint ripple, less than an 8-bit step, is not
     * worth changing it for */
    if (found.peaks == 0 || (found.screen == 0 && found.loudest < 1 / 256.0)) return left_alone;
    /* Stripes and scan lines: their sinusoids measured in the plane and
     * subtracted, and what remains looked at again. What is left of a
     * pattern that follows the picture, as a moire multiplies it, may no
     * longer stand out: it is still taken out where the pattern's peaks
     * were. The work space is the screen map's band, unused without a
     * screen. */
    double* fit_work = reinterpret_cast<double*>(map->band);
    uint8_t* first_region = reinterpret_cast<uint8_t*>(fit_work + sinusoid_work(H, s.W));
    const int64_t fit_bytes = 8 * sinusoid_work(H, s.W), band_bytes = 16 * int64_t(s.bins());
    const int64_t region_bytes = (int64_t(s.bins()) + 7) / 8 * 8;
    float* level = reinterpret_cast<float*>(first_region + region_bytes);
    if (fit_bytes + region_bytes + 4 * int64_t(H) * s.W > band_bytes) level = nullptr;
    if (!found.dots && !windowed && fit_bytes + int64_t(s.bins()) <= band_bytes) {
        const Finding first = found;
        Peak peaks[strongest_kept];
        std::copy(a->strongest, a->strongest + strongest_kept, peaks);
        std::copy(a->region, a->region + s.bins(), first_region);
        read_plane(image, k, real, b);
        if (take_out_sinusoids(real, *a, found, fit_work, level)) read_borders(real, H, s.W, b);
        if (analyse(spectrum, b, plans, a, &found)) return failed;
        if (found.peaks == 0 && first.screen == 0) {
            found = first;
            std::copy(peaks, peaks + strongest_kept, a->strongest);
            std::copy(first_region, first_region + s.bins(), a->region);
        }
    }
    if (progress->cancelled_at(base + 2)) return cancelled;
    const double N = double(H) * double(s.W);
    /* a screen is taken out where it lies; other patterns cover the picture */
    if (found.screen > 0 && !map->whole && !windowed &&
        !screen_map_add(map, spectrum, *a, found.screen, found.fine))
        return failed;
    /* On a page where the screen lies in part of the picture, the filter is
     * made for that part: from the spectrum of the plane seen through the
     * map, without the text and paper beside it, whose edges would make
     * the picture's own spectrum look richer than it is where the screen
     * lies. It is then applied to the whole plane. */
    if (!windowed && found.screen > 0 && screen_map_window(map) && look_through_map(found.screen))
        return failed;
    PictureModel model;
    bool screen = found.screen > 0 && picture_model(*a, found.screen, &model);
    shape_cut(a);
    if (screen) {
        over_rows(H, C, [&](int32_t first, int32_t end) {
            for (int32_t q = first; q < end; q++) {
                float* level = a->level + size_t(s.centred(q)) * size_t(C);
                for (int32_t r = 0; r < C; r++) {
                    const fftw_complex& x = spectrum[int64_t(q) * C + r];
                    level[r] = float(std::min(x[0] * x[0] + x[1] * x[1], 1e30));
                }
            }
            return int64_t(0);
        });
        screen_gain(a, found.screen, model);
    }
    if (windowed) {
        read_plane(image, k, real, b);
        if (transform_periodic(spectrum, b, plans, a, false)) return failed;
    }

    /* The gain, the same for a coefficient and its mirror image in the
     * columns that hold both; then the smooth part back. */
    auto gain = [&](int32_t i, int32_t r) {
        if (s.radius2(i, r) < a->protect * a->protect) return 1.0f;
        size_t n = size_t(i) * size_t(C) + size_t(r);
        return (1.0f - a->cut[n]) * (screen ? a->level[n] : 1.0f);
    };
    const int32_t near = int32_t(a->protect) + 1;
    over_rows(H, C, [&](int32_t first, int32_t end) {
        /* a block of a row's gains at a time, on this thread's stack */
        const int32_t block = 1024;
        float g[block];
        for (int32_t q = first; q < end; q++) {
            int32_t i = s.centred(q);
            const float* cut = a->cut + size_t(i) * size_t(C);
            const float* level = a->level + size_t(i) * size_t(C);
            for (int32_t r0 = 0; r0 < C; r0 += block) {
                int32_t r1 = std::min(C, r0 + block);
                for (int32_t r = r0; r < r1; r++)
                    g[r - r0] = (1.0f - cut[r]) * (screen ? level[r] : 1.0f);
                if (std::abs(s.fy(i)) <= near)
                    for (int32_t r = r0; r <= std::min(near, r1 - 1); r++) g[r - r0] = gain(i, r);
                if (r0 == 0) g[0] = std::min(g[0], gain(s.mirror(i), 0));
                if (s.W % 2 == 0 && r1 == C)
                    g[C - 1 - r0] = std::min(g[C - 1 - r0], gain(s.mirror(i), C - 1));
                add_smooth_row(b, H, q, r0, r1, spectrum + int64_t(q) * C, g, 1);
            }
        }
        return int64_t(0);
    });
    if (transform_real_axes_back(spectrum, real, 2 * int64_t(C), dims, 2)) return failed;
    if (progress->cancelled_at(base + 3)) return cancelled;

    const int32_t stride = 2 * C;
    over_rows(H, s.W, [&](int32_t first, int32_t end) {
        for (int32_t y = first; y < end; y++)
            for (int32_t x = 0; x < s.W; x++)
                image.out.at(x, y, k) = sample_of<T>(real[int64_t(y) * stride + x] / N);
        return int64_t(0);
    });
    if (found.screen == 0) return filtered;
    const double scale = 1 / Depth<T>::white;
    blur_edges(
        H, s.W, 1 / found.screen, reinterpret_cast<double*>(spectrum),
        [&](int32_t x, int32_t y) { return image.in.at(x, y, k) * scale; },
        [&](int32_t x, int32_t y, double blur, double weight) {
            T& out = image.out.at(x, y, k);
            out = sample_of<T>(out * scale + weight * (blur - out * scale));
        });
    return screened;
}

/* The screened planes' output taken back towards the scan where the map
 * falls below 1, and to the scan itself where it is 0. */
template <typename T>
void blend_planes(const Image<T>& image, const Outcome outcome[], const ScreenMap& map) {
    const size_t cells = size_t(map.rows) * size_t(map.columns);
    if (std::all_of(map.map, map.map + cells, [](float m) { return m == 1; })) return;
    const double scale = 1 / Depth<T>::white;
    over_rows(image.rows, image.columns, [&](int32_t first, int32_t end) {
        for (int32_t y = first; y < end; y++)
            for (int32_t x = 0; x < image.columns; x++) {
                float m = screen_map_at(map, x, y);
                if (m == 1) continue;
                for (int32_t k = 0; k < image.colours; k++) {
                    if (outcome[k] != screened) continue;
                    T& out = image.out.at(x, y, k);
                    const T in = image.in.at(x, y, k);
                    out = m == 0 ? in : sample_of<T>((in + m * (double(out) - in)) * scale);
                }
            }
        return int64_t(0);
    });
}

template <typename T> int16_t descreen(const Image<T>& image, void* const work[]) {
    fftw_complex* spectrum = static_cast<fftw_complex*>(work[0]);
    const int32_t H = image.rows, W = image.columns;
    Borders b = carve_borders(work[1], H, W);
    char* after_borders = static_cast<char*>(work[1]) + border_bytes(H, W);
    ScreenMap map;
    screen_map_carve(&map, H, W, after_borders);
    Analysis a;
    analysis_carve(&a, H, W, after_borders + screen_map_bytes(H, W));
    Plans plans;
    if (!make_plans(&plans, b, H, W)) {
        destroy(&plans);
        return memFullErr;
    }
    Progress& progress = *image.progress;
    progress.total = image.colours * plane_steps + 1;
    Outcome outcome[4];
    bool any_screen = false;
    for (int32_t k = 0; k < image.colours; k++) {
        outcome[k] = descreen_plane(image, k, spectrum, b, plans, &map, &a, &progress);
        if (outcome[k] == failed) {
            destroy(&plans);
            return memFullErr;
        }
        if (outcome[k] == cancelled || progress.cancelled_at((k + 1) * plane_steps)) {
            destroy(&plans);
            return userCanceledErr;
        }
        if (outcome[k] == left_alone) copy_plane(image, k);
        any_screen |= outcome[k] == screened;
    }
    if (any_screen) {
        screen_map_finish(&map);
        blend_planes(image, outcome, map);
    }
    destroy(&plans);
    return progress.cancelled_at(progress.total) ? userCanceledErr : noErr;
}

int32_t every_column(int32_t columns, int32_t) {
    return columns;
}

/* The analysis's work space: level and cut as floats and region as bytes
 * for each coefficient; the background's grid and a block (also a table of
 * 4096); a filter's lines, edges and rows; the columns' places in the grid
 * and the rows' activity. */
struct Sizes {
    size_t bins, grid, block, line, edges, rows, columns, rings;
};

Sizes sizes_of(const Analysis& a) {
    Sizes z;
    z.bins = a.s.bins();
    z.grid = size_t(a.grid_rows) * size_t(a.grid_columns);
    z.block = std::max(size_t(a.side) * size_t(a.side), size_t(4096));
    z.line = size_t(a.line_parts) * 2 * (size_t(a.s.C) + 2 * max_reach);
    z.edges = size_t(a.s.H) * 2 * max_reach;
    z.rows = 2 * max_reach * size_t(a.s.C);
    z.columns = size_t(a.s.C);
    z.rings = size_t(ring_count(a.s)) * histogram_bins * histogram_parts;
    z.block = std::max(z.block, size_t(ring_count(a.s))) * size_t(a.line_parts);
    return z;
}

void set_geometry(Analysis* a, int32_t H, int32_t W) {
    a->s = HalfSpectrum{H, W, W / 2 + 1};
    a->side = std::max(8, int32_t(std::lround(std::min(H, W) / 32.0)));
    a->grid_rows = (H + a->side - 1) / a->side;
    a->grid_columns = (a->s.C + a->side - 1) / a->side;
    a->protect = std::max(4.0, std::min(H, W) / 128.0);
    a->line_parts = threads_for(H);
}

} // namespace

uint64_t analysis_bytes(int32_t H, int32_t W) {
    Analysis a;
    set_geometry(&a, H, W);
    Sizes z = sizes_of(a);
    return 4 * (2 * uint64_t(z.bins) + z.grid + z.block + z.line + z.edges + z.rows +
                2 * z.columns + z.rings) +
           uint64_t(z.bins) + uint64_t(H) + 64;
}

void analysis_carve(Analysis* a, int32_t H, int32_t W, void* buffer) {
    set_geometry(a, H, W);
    Sizes z = sizes_of(*a);
    a->level = static_cast<float*>(buffer);
    a->cut = a->level + z.bins;
    a->grid = a->cut + z.bins;
    a->block = a->grid + z.grid;
    a->block_size = z.block / size_t(a->line_parts);
    a->line = a->block + z.block;
    a->edges = a->line + z.line;
    a->rows = a->edges + z.edges;
    a->column_weight = a->rows + z.rows;
    a->ring_counts = reinterpret_cast<uint32_t*>(a->column_weight + z.columns);
    a->column_block = reinterpret_cast<int32_t*>(a->ring_counts + z.rings);
    a->region = reinterpret_cast<uint8_t*>(a->column_block + z.columns);
    a->active = a->region + z.bins;
    background_columns(a);
}

const TransformBody spectra_transform_body = {descreen_work_buffers, every_column,
                                              SPECTRA_RUNS(descreen), true};

/* report.cpp - what SpectraDescreen took out of a picture.
 *
 * The difference between input and output, averaged over the colour planes,
 * is what was taken out. Where it lies: the share of 16 x 16 cells in which
 * a sample changed by an 8-bit step or more. What it was: the strongest
 * peaks of its spectrum, in a window of at most 512 x 512 pixels around the
 * cell where the most was taken out, as periods and angles (y pointing
 * down, as screens' angles are given). Two peaks of about one period at
 * about right angles are a screen's dots; other peaks are stripes or lines. */
#include "report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fftw3.h>
#include <vector>

namespace {

const double pi = 3.14159265358979323846;
const int32_t cell = 16, window = 512;

struct Found {
    double fy, fx, magnitude;
    double period() const { return 1 / std::hypot(fy, fx); }
    double angle() const {
        double a = std::atan2(fy, fx) * 180 / pi;
        return a < 0 ? a + 180 : a >= 180 ? a - 180 : a;
    }
};

/* Row y of what was taken out: d[x] the sum over the colour planes of
 * input minus output, and largest[x] the largest of them in size, in the
 * depth's own scale. */
template <typename T>
void taken_row(const HostImage& in, const HostImage& out, int32_t colours, int32_t y, double* d,
               double* largest) {
    const uint8_t* a = in.data() + y * in.row_bytes;
    const uint8_t* b = out.data() + y * out.row_bytes;
    for (int32_t x = 0; x < in.columns; x++) {
        double sum = 0, most = 0;
        for (int32_t p = 0; p < colours; p++) {
            T u, v;
            std::memcpy(&u, a + (int64_t(x) * in.planes + p) * int64_t(sizeof(T)), sizeof u);
            std::memcpy(&v, b + (int64_t(x) * out.planes + p) * int64_t(sizeof(T)), sizeof v);
            const double e = double(u) - double(v);
            most = std::max(most, std::fabs(e));
            sum += e;
        }
        d[x] = sum;
        largest[x] = most;
    }
}

std::string format(const char* pattern, double a, double b = 0) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, a, b);
    return text;
}

} // namespace

std::string descreen_report(const HostImage& in, const HostImage& out, int32_t colours) {
    const int32_t H = in.rows, W = in.columns;
    const double white = in.depth == 8 ? 255 : in.depth == 16 ? 32768 : 1;
    const size_t width = static_cast<size_t>(W);
    std::vector<double> d(width), change(width);
    auto read_row = [&](int32_t y) {
        if (in.depth == 8)
            taken_row<uint8_t>(in, out, colours, y, d.data(), change.data());
        else if (in.depth == 16)
            taken_row<uint16_t>(in, out, colours, y, d.data(), change.data());
        else
            taken_row<float>(in, out, colours, y, d.data(), change.data());
    };

    /* the cells where anything changed, and the one where the most did: a
     * row of cells at a time, read row by row */
    const int32_t rows = (H + cell - 1) / cell, columns = (W + cell - 1) / cell;
    int64_t changed = 0;
    double most = 0;
    int32_t centre_x = W / 2, centre_y = H / 2;
    const size_t cells = static_cast<size_t>(columns);
    std::vector<double> energy(cells), largest(cells);
    for (int32_t cy = 0; cy < rows; cy++) {
        std::fill(energy.begin(), energy.end(), 0.0);
        std::fill(largest.begin(), largest.end(), 0.0);
        for (int32_t y = cy * cell; y < std::min(H, (cy + 1) * cell); y++) {
            read_row(y);
            for (int32_t cx = 0; cx < columns; cx++)
                for (int32_t x = cx * cell; x < std::min(W, (cx + 1) * cell); x++) {
                    const double v = d[size_t(x)] / (colours * white);
                    energy[size_t(cx)] += v * v;
                    largest[size_t(cx)] = std::max(largest[size_t(cx)], change[size_t(x)]);
                }
        }
        for (int32_t cx = 0; cx < columns; cx++) {
            changed += largest[size_t(cx)] / white >= 1 / 256.0;
            if (energy[size_t(cx)] > most) {
                most = energy[size_t(cx)];
                centre_x = cx * cell + cell / 2;
                centre_y = cy * cell + cell / 2;
            }
        }
    }
    if (changed == 0) return "nothing periodic found: unchanged";
    const double share = 100.0 * double(changed) / (double(rows) * double(columns));

    /* the spectrum of what was taken out, under a Hann window */
    const int32_t h = std::min(H, window), w = std::min(W, window), c = w / 2 + 1;
    const int32_t top = std::min(std::max(centre_y - h / 2, 0), H - h);
    const int32_t left = std::min(std::max(centre_x - w / 2, 0), W - w);
    std::vector<Found> peaks;
    double* real = fftw_alloc_real(size_t(h) * size_t(w));
    fftw_complex* spectrum = fftw_alloc_complex(size_t(h) * size_t(c));
    fftw_plan plan =
        real && spectrum ? fftw_plan_dft_r2c_2d(h, w, real, spectrum, FFTW_ESTIMATE) : nullptr;
    if (plan) {
        double mean = 0;
        for (int32_t y = 0; y < h; y++) {
            read_row(top + y);
            for (int32_t x = 0; x < w; x++) {
                const double v = d[size_t(left + x)] / colours / white;
                real[size_t(y) * size_t(w) + size_t(x)] = v;
                mean += v;
            }
        }
        mean /= double(h) * double(w);
        for (int32_t y = 0; y < h; y++)
            for (int32_t x = 0; x < w; x++) {
                double& v = real[size_t(y) * size_t(w) + size_t(x)];
                v = (v - mean) * (0.5 - 0.5 * std::cos(2 * pi * (y + 0.5) / h)) *
                    (0.5 - 0.5 * std::cos(2 * pi * (x + 0.5) / w));
            }
        fftw_execute(plan);
        /* only peaks within 4 times of the strongest are said */
        std::vector<Found> all;
        double strongest = 0;
        for (int32_t pass = 0; pass < 2; pass++)
            for (int32_t q = 0; q < h; q++)
                for (int32_t r = 0; r < c; r++) {
                    double fy = double(q <= h / 2 ? q : q - h) / h, fx = double(r) / w;
                    if (std::hypot(fy, fx) < 0.01) continue;
                    const fftw_complex& v = spectrum[size_t(q) * size_t(c) + size_t(r)];
                    const double magnitude = std::hypot(v[0], v[1]);
                    if (pass == 0)
                        strongest = std::max(strongest, magnitude);
                    else if (magnitude >= 0.25 * strongest)
                        all.push_back(Found{fy, fx, magnitude});
                }
        std::sort(all.begin(), all.end(),
                  [](const Found& a, const Found& b) { return a.magnitude > b.magnitude; });
        for (const Found& f : all) {
            if (peaks.size() == 4 || (!peaks.empty() && f.magnitude < 0.25 * peaks[0].magnitude))
                break;
            /* f and -f are one pattern; a peak's own spread is not another */
            bool seen = false;
            for (const Found& g : peaks)
                seen |= std::min(std::hypot(f.fy - g.fy, f.fx - g.fx),
                                 std::hypot(f.fy + g.fy, f.fx + g.fx)) < 0.02;
            if (!seen) peaks.push_back(f);
        }
        fftw_destroy_plan(plan);
    }
    fftw_free(real);
    fftw_free(spectrum);

    bool dots = false;
    for (size_t j = 0; j < peaks.size(); j++)
        for (size_t k = j + 1; k < peaks.size(); k++) {
            double turn = std::fabs(peaks[j].angle() - peaks[k].angle());
            dots |= std::fabs(peaks[j].period() - peaks[k].period()) < 0.12 * peaks[j].period() &&
                    turn > 60 && turn < 120;
        }
    /* peaks of one period together, their angles in order */
    std::sort(peaks.begin(), peaks.end(),
              [](const Found& a, const Found& b) { return a.angle() < b.angle(); });
    std::string text = dots ? "screen of " : peaks.size() == 1 ? "stripes of " : "patterns of ";
    std::vector<bool> said(peaks.size(), false);
    for (size_t j = 0; j < peaks.size(); j++) {
        if (said[j]) continue;
        std::vector<double> angles;
        for (size_t k = j; k < peaks.size(); k++)
            if (!said[k] &&
                std::fabs(peaks[k].period() - peaks[j].period()) < 0.03 * peaks[j].period()) {
                said[k] = true;
                angles.push_back(peaks[k].angle());
            }
        text += (j ? ", " : "") + format("%.1f px at ", peaks[j].period());
        for (size_t a = 0; a < angles.size(); a++)
            text += (a == 0                   ? ""
                     : a + 1 == angles.size() ? " and "
                                              : ", ") +
                    format("%.0f", angles[a]);
        text += "\u00b0";
    }
    if (peaks.empty()) text = "a pattern";
    text += ": removed";
    if (share < 99.5) text += format(" from %.0f %% of the picture", share);
    return text;
}

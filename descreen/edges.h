/* edges.h - the pixels next to the picture's borders, under a screen.
 *
 * The transform takes the plane for one tile of a periodic pattern, and the
 * screen does not run on from one border into the opposite one: within a
 * period or so of the borders, taking out the screen's peaks leaves part of
 * the dots behind. There a Gaussian blur of the scan, of 0.45 screen
 * periods with the borders mirrored, takes over: in full up to 0.75 periods
 * from the border, fading out by 1.5. */
#ifndef SPECTRA_DESCREEN_EDGES_H
#define SPECTRA_DESCREEN_EDGES_H

#include "parallel.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

/* Index i of a line of n samples, mirrored about its ends (the end sample
 * repeated) and held within it. */
inline int32_t mirrored(int32_t i, int32_t n) {
    if (i < 0) i = -i - 1;
    if (i >= n) i = 2 * n - i - 1;
    return std::min(std::max(i, int32_t(0)), n - 1);
}

/* For an H x W plane under a screen of `period` pixels: scan(x, y) gives
 * the scan's sample in units of white, and take(x, y, blur, weight) moves
 * the output by `weight` towards `blur`. `work` holds max(H, W) * (strip +
 * reach) doubles, strip and reach as below, which is never more than H * W. */
template <typename Scan, typename Take>
void blur_edges(int32_t H, int32_t W, double period, double* work, Scan scan, Take take) {
    const double sigma = 0.45 * period, width = 1.5 * period;
    const int32_t reach = int32_t(std::ceil(3 * sigma));
    const int32_t strip = std::min({int32_t(std::ceil(width)), H / 2, W / 2});
    if (strip < 1) return;
    double g[64];
    const int32_t r = std::min(reach, int32_t(63));
    double sum = 0;
    for (int32_t d = 0; d <= r; d++) sum += (d ? 2 : 1) * std::exp(-d * d / (2 * sigma * sigma));
    for (int32_t d = 0; d <= r; d++) g[d] = std::exp(-d * d / (2 * sigma * sigma)) / sum;
    auto weight = [&](int32_t x, int32_t y) {
        int32_t d = std::min({x, y, W - 1 - x, H - 1 - y});
        return std::min(1.0, 2 * (1 - d / width));
    };
    /* Row y blurred across, columns x0 to x1 - 1 into out[0 ..): a piece of
     * the row at a time, read once with its mirrored ends into a line on
     * this thread's stack. */
    auto across = [&](int32_t y, int32_t x0, int32_t x1, double* out) {
        const int32_t piece = 256;
        double line[piece + 2 * 63];
        for (int32_t p0 = x0; p0 < x1; p0 += piece) {
            const int32_t n = std::min(piece, x1 - p0);
            for (int32_t j = 0; j < n + 2 * r; j++) line[j] = scan(mirrored(p0 - r + j, W), y);
            for (int32_t j = 0; j < n; j++) {
                const double* at = line + r + j;
                double v = g[0] * at[0];
                for (int32_t d = 1; d <= r; d++) v += g[d] * (at[-d] + at[d]);
                out[p0 - x0 + j] = v;
            }
        }
    };
    /* Row y of the output, columns x0 to x1 - 1, from the rows blurred
     * across, which row(y) gives from column x0 on. */
    auto down = [&](int32_t y, int32_t x0, int32_t x1, auto row) {
        const double* rows[2 * 63 + 1];
        for (int32_t d = -r; d <= r; d++) rows[r + d] = row(mirrored(y + d, H));
        for (int32_t x = x0; x < x1; x++) {
            const int32_t j = x - x0;
            double v = g[0] * rows[r][j];
            for (int32_t d = 1; d <= r; d++) v += g[d] * (rows[r - d][j] + rows[r + d][j]);
            take(x, y, v, weight(x, y));
        }
    };

    /* The top and bottom strips, corners included: the rows they reach,
     * blurred across, then down. Each loop's rows are shared between the
     * threads. */
    for (int32_t y0 : {0, H - strip}) {
        const int32_t first = std::max(0, y0 - r), last = std::min(H, y0 + strip + r);
        over_rows(last - first, int64_t(W) * (2 * r + 1), [&](int32_t begin, int32_t end) {
            for (int32_t y = first + begin; y < first + end; y++)
                across(y, 0, W, work + int64_t(y - first) * W);
            return int64_t(0);
        });
        over_rows(strip, int64_t(W) * (2 * r + 1), [&](int32_t begin, int32_t end) {
            for (int32_t y = y0 + begin; y < y0 + end; y++)
                down(y, 0, W, [&](int32_t yy) { return work + int64_t(yy - first) * W; });
            return int64_t(0);
        });
    }
    /* The left and right strips between them: every row blurred across
     * within the strip, then down. */
    for (int32_t x0 : {0, W - strip}) {
        over_rows(H, int64_t(strip) * (2 * r + 1), [&](int32_t begin, int32_t end) {
            for (int32_t y = begin; y < end; y++)
                across(y, x0, x0 + strip, work + int64_t(y) * strip);
            return int64_t(0);
        });
        over_rows(H - 2 * strip, int64_t(strip) * (2 * r + 1), [&](int32_t begin, int32_t end) {
            for (int32_t y = strip + begin; y < strip + end; y++)
                down(y, x0, x0 + strip, [&](int32_t yy) { return work + int64_t(yy) * strip; });
            return int64_t(0);
        });
    }
}

#endif

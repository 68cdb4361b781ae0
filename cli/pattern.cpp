/* pattern.cpp - the demo's pattern removal: the job these filters are
 * used for in editing. A periodic pattern (a screen, scan lines, moire)
 * is a few bright points in the spectrum; painted out of the magnitude
 * half, they are gone from the picture that SpectraPlaneInverse gives back. */
#include "demo.h"

#include <cmath>

namespace {

const int margin = 12; /* frequencies this close to zero belong to the picture */
const double pi = 3.14159265358979323846;

/* How far a magnitude code stands out from its neighbours: the code minus
 * the mean of those 3 to 5 samples away, summed over the colour planes. The
 * magnitude half is n x rows, and wraps round. */
double prominence(const HostImage& spectrum, int n, int x, int y) {
    double sum = 0;
    for (int p = 0; p < 3; p++) {
        double ring = 0;
        int count = 0;
        for (int dy = -5; dy <= 5; dy++)
            for (int dx = -5; dx <= 5; dx++) {
                int d = std::max(std::abs(dx), std::abs(dy));
                if (d < 3) continue;
                int u = (x + dx + n) % n, v = (y + dy + spectrum.rows) % spectrum.rows;
                ring += host_sample(spectrum, u, v, p);
                count++;
            }
        sum += host_sample(spectrum, x, y, p) - ring / count;
    }
    return sum;
}

/* Paints the 5 x 5 samples around (x, y) black in the magnitude half. */
void paint_out(HostImage& spectrum, int n, int x, int y) {
    for (int dy = -2; dy <= 2; dy++)
        for (int dx = -2; dx <= 2; dx++)
            for (int p = 0; p < 3; p++)
                host_set_sample(spectrum, (x + dx + n) % n,
                                (y + dy + spectrum.rows) % spectrum.rows, p, 0);
}

} // namespace

bool demo_pattern(const FoundPlugin& plane, const FoundPlugin& inverse, const HostImage& picture,
                  PatternRun* run, Failure* failure) {
    /* Diagonal stripes over the picture, on a canvas twice as wide. */
    const int n = picture.columns, rows = picture.rows;
    run->clean = host_spectrum_canvas(picture);
    run->pattern = run->clean;
    for (int y = 0; y < rows; y++)
        for (int x = 0; x < n; x++)
            for (int p = 0; p < 3; p++) {
                double v = host_sample(picture, x, y, p);
                double stripes = 25 * std::sin(2 * pi * (11.0 * x / n + 17.0 * y / rows));
                host_set_sample(run->pattern, x, y, p,
                                std::min(255.0, std::max(0.0, std::round(v + stripes))));
            }
    ImageFile in;
    in.image = run->pattern;
    if (!run_plugin(plane, in, &run->spectrum, failure)) return false;

    /* The pattern's peak is the most prominent point away from the zero
     * frequency, at the centre; its mirror image through the centre is the
     * other half of the same real pattern. */
    int best_x = 0, best_y = 0;
    double best = -1e300;
    for (int y = 0; y < rows; y++)
        for (int x = 0; x < n; x++) {
            if (std::abs(x - n / 2) <= margin && std::abs(y - rows / 2) <= margin) continue;
            double score = prominence(run->spectrum, n, x, y);
            if (score > best) best = score, best_x = x, best_y = y;
        }
    run->painted = run->spectrum;
    paint_out(run->painted, n, best_x, best_y);
    paint_out(run->painted, n, (2 * (n / 2) - best_x + n) % n,
              (2 * (rows / 2) - best_y + rows) % rows);
    run->peaks = 2;
    run->peak_x = best_x;
    run->peak_y = best_y;

    in.image = run->painted;
    if (!run_plugin(inverse, in, &run->cleaned, failure)) return false;
    run->psnr_before = host_psnr(run->clean, run->pattern);
    run->psnr_after = host_psnr(run->clean, run->cleaned);
    return true;
}

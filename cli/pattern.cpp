/* pattern.cpp - the demo's pattern removal: the job these filters are
 * used for in editing. A periodic pattern (a screen, scan lines, moire)
 * is a few bright points in the spectrum; painted out of the magnitude
 * half, they are gone from the picture that SpectraPlaneInverse gives back. */
#include "demo.h"

#include <cmath>

namespace {

const int side = 256;  /* the picture: the left half of a canvas twice as wide */
const int margin = 12; /* frequencies this close to zero belong to the picture */
const double pi = 3.14159265358979323846;

/* How far a magnitude code stands out from its neighbours: the code minus
 * the mean of those 3 to 5 samples away, summed over the colour planes. */
double prominence(const HostImage& spectrum, int x, int y) {
    double sum = 0;
    for (int p = 0; p < 3; p++) {
        double ring = 0;
        int count = 0;
        for (int dy = -5; dy <= 5; dy++)
            for (int dx = -5; dx <= 5; dx++) {
                int d = std::max(std::abs(dx), std::abs(dy));
                if (d < 3) continue;
                int u = (x + dx + side) % side, v = (y + dy + side) % side;
                ring += host_sample(spectrum, u, v, p);
                count++;
            }
        sum += host_sample(spectrum, x, y, p) - ring / count;
    }
    return sum;
}

/* Paints the 5 x 5 samples around (x, y) black in the magnitude half. */
void paint_out(HostImage& spectrum, int x, int y) {
    for (int dy = -2; dy <= 2; dy++)
        for (int dx = -2; dx <= 2; dx++)
            for (int p = 0; p < 3; p++)
                host_set_sample(spectrum, (x + dx + side) % side, (y + dy + side) % side, p, 0);
}

} // namespace

bool demo_pattern(const FoundPlugin& plane, const FoundPlugin& inverse, PatternRun* run,
                  Failure* failure) {
    /* The clean picture: the disc and lettering of the sample picture. */
    HostImage sample = demo_sample_picture();
    run->clean = host_image(side, 2 * side, 3, 8);
    run->pattern = run->clean;
    for (int y = 0; y < side; y++)
        for (int x = 0; x < side; x++)
            for (int p = 0; p < 3; p++) {
                double v = host_sample(sample, x, y + side, p);
                double stripes = 25 * std::sin(2 * pi * (11 * x + 17 * y) / side);
                host_set_sample(run->clean, x, y, p, v);
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
    for (int y = 0; y < side; y++)
        for (int x = 0; x < side; x++) {
            if (std::abs(x - side / 2) <= margin && std::abs(y - side / 2) <= margin) continue;
            double score = prominence(run->spectrum, x, y);
            if (score > best) best = score, best_x = x, best_y = y;
        }
    run->painted = run->spectrum;
    paint_out(run->painted, best_x, best_y);
    paint_out(run->painted, (side - best_x) % side, (side - best_y) % side);
    run->peaks = 2;

    in.image = run->painted;
    if (!run_plugin(inverse, in, &run->cleaned, failure)) return false;
    run->psnr_before = host_psnr(run->clean, run->pattern);
    run->psnr_after = host_psnr(run->clean, run->cleaned);
    return true;
}

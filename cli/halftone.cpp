/* halftone.cpp - the demo's descreen: a picture printed through a halftone
 * screen, as a magazine page is, scanned, and given to SpectraDescreen.
 *
 * The print: each of the inks cyan, magenta and yellow (the complements of
 * red, green and blue) is laid as round dots, 6 pixels apart, at its own
 * angle, where the ink's tone exceeds the screen's threshold; the page is
 * worked out at 4 x 4 points per pixel and each pixel scanned as their
 * mean, with a scanner's noise. What a perfect descreen gives back is the same print with each ink
 * laid evenly, at the share of a cell that its dots cover. */
#include "demo.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace {

const int side = 512, points = 4;
const double pi = 3.14159265358979323846, period = 6, density = 0.92;
const double angles[3] = {15, 75, 0}; /* cyan, magenta, yellow, in degrees */

/* The screen's threshold at a point: 0 at the dots' centres, 1 between. */
double threshold(double x, double y, double angle) {
    double t = angle * pi / 180, k = 2 * pi / period;
    double u = k * (x * std::cos(t) + y * std::sin(t)), v = k * (y * std::cos(t) - x * std::sin(t));
    return (1 - (std::cos(u) + std::cos(v)) / 2) / 2;
}

/* The thresholds of one cell in order: the share of them below a tone is
 * the share of the cell that its dots cover. */
std::vector<double> cell_thresholds() {
    const int n = 96;
    std::vector<double> cell;
    for (int i = 0; i < n; i++)
        for (int j = 0; j < n; j++)
            cell.push_back(threshold(period * (i + 0.5) / n, period * (j + 0.5) / n, 0));
    std::sort(cell.begin(), cell.end());
    return cell;
}

/* PSNR of b against a over the whole of planes 0 to 2, in dB. */
double psnr(const HostImage& a, const HostImage& b) {
    double sum = 0;
    for (int y = 0; y < a.rows; y++)
        for (int x = 0; x < a.columns; x++)
            for (int p = 0; p < 3; p++) {
                double d = host_sample(a, x, y, p) - host_sample(b, x, y, p);
                sum += d * d;
            }
    return 10 * std::log10(255.0 * 255.0 * 3 * a.rows * a.columns / sum);
}

/* A scanner's noise, about one step of 8 bits: the same on every run. */
double scan_noise(int x, int y, int p) {
    uint32_t h = uint32_t(x) * 73856093u ^ uint32_t(y) * 19349663u ^ uint32_t(p) * 83492791u;
    double sum = 0;
    for (int k = 0; k < 3; k++) {
        h = h * 1664525u + 1013904223u;
        sum += (h >> 8) / double(1u << 24) - 0.5;
    }
    return 2 * sum;
}

} // namespace

/* The picture to print: smooth colours, a soft disc and lettering. */
HostImage demo_print_picture() {
    HostImage image = host_image(side, side, 3, 8);
    for (int y = 0; y < side; y++)
        for (int x = 0; x < side; x++) {
            double r = std::hypot(x - 300.0, y - 210.0);
            double disc = 1 / (1 + std::exp((r - 120) / 6));
            double rgb[3] = {0.25 + 0.5 * x / side, 0.45 + 0.25 * std::sin(y / 70.0),
                             0.8 - 0.5 * y / side};
            const double sun[3] = {0.95, 0.75, 0.3};
            for (int p = 0; p < 3; p++)
                host_set_sample(image, x, y, p,
                                std::round(255 * (rgb[p] + disc * (sun[p] - rgb[p]))));
        }
    const double ink[3] = {30, 40, 90};
    demo_draw_text(image, 40, 400, "SPECTRA", 10, ink);
    return image;
}

bool demo_descreen(const FoundPlugin& descreen, const HostImage& clean, DescreenRun* run,
                   Failure* failure) {
    std::vector<double> cell = cell_thresholds();
    run->screened = host_image(clean.rows, clean.columns, 3, 8);
    run->tone = run->screened;
    for (int y = 0; y < clean.rows; y++)
        for (int x = 0; x < clean.columns; x++)
            for (int p = 0; p < 3; p++) {
                double ink = 1 - host_sample(clean, x, y, p) / 255;
                int dots = 0;
                for (int i = 0; i < points * points; i++) {
                    double px = x + (i % points + 0.5) / points,
                           py = y + (i / points + 0.5) / points;
                    dots += ink > threshold(px, py, angles[p]);
                }
                double cover =
                    double(std::lower_bound(cell.begin(), cell.end(), ink) - cell.begin()) /
                    double(cell.size());
                double scanned = 255 * (1 - density * dots / (points * points));
                scanned = std::round(scanned + scan_noise(x, y, p));
                host_set_sample(run->screened, x, y, p, std::min(std::max(scanned, 0.0), 255.0));
                host_set_sample(run->tone, x, y, p, std::round(255 * (1 - density * cover)));
            }
    ImageFile in;
    in.image = run->screened;
    if (!run_plugin(descreen, in, &run->descreened, failure)) return false;
    run->psnr_before = psnr(run->tone, run->screened);
    run->psnr_after = psnr(run->tone, run->descreened);
    return true;
}

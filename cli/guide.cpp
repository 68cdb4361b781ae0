/* guide.cpp - spectra demo --guide: the pictures of the user's guide
 * (docs/guide.md), made from a photograph: its spectrum, the spectra of a
 * grating and of a line, a halftoned print of it descreened, and a pattern
 * removed from it by hand. */
#include "demo.h"

#include <cmath>
#include <cstdio>

namespace {

const double pi = 3.14159265358979323846;

/* Two pictures side by side on a dark ground, 8 pixels apart. */
HostImage beside(const HostImage& a, const HostImage& b) {
    const int gap = 8;
    HostImage out = host_image(std::max(a.rows, b.rows), a.columns + gap + b.columns, 3, 8);
    for (int y = 0; y < out.rows; y++)
        for (int x = 0; x < out.columns; x++)
            for (int p = 0; p < 3; p++) {
                bool in_a = x < a.columns && y < a.rows;
                int bx = x - a.columns - gap;
                bool in_b = bx >= 0 && y < b.rows;
                double v = in_a ? host_sample(a, x, y, p) : in_b ? host_sample(b, bx, y, p) : 32;
                host_set_sample(out, x, y, p, v);
            }
    return out;
}

/* The spectrum picture with an orange ring of radius 7 around the point
 * (x, y) of the magnitude half and around its mirror image through the
 * centre: a pattern's two dots are single samples, which a page shows too
 * small to see. Only for the guide's eyes; no spectrum is edited so. */
HostImage ringed(const HostImage& spectrum, int x, int y) {
    HostImage out = spectrum;
    const int n = spectrum.columns / 2, rows = spectrum.rows;
    const int centres[2][2] = {{x, y}, {2 * (n / 2) - x, 2 * (rows / 2) - y}};
    const double orange[3] = {255, 150, 0};
    for (const auto& c : centres)
        for (int dy = -9; dy <= 9; dy++)
            for (int dx = -9; dx <= 9; dx++) {
                double r = std::sqrt(double(dx * dx + dy * dy));
                int px = c[0] + dx, py = c[1] + dy;
                if (std::abs(r - 7) > 0.75 || px < 0 || px >= n || py < 0 || py >= rows) continue;
                for (int p = 0; p < 3; p++) host_set_sample(out, px, py, p, orange[p]);
            }
    return out;
}

/* A grey picture of `side` pixels drawn by f(x, y), 0 to 255. */
template <typename F> HostImage drawn(int side, F f) {
    HostImage image = host_image(side, side, 3, 8);
    for (int y = 0; y < side; y++)
        for (int x = 0; x < side; x++) {
            double v = std::round(std::min(255.0, std::max(0.0, double(f(x, y)))));
            for (int p = 0; p < 3; p++) host_set_sample(image, x, y, p, v);
        }
    return image;
}

} // namespace

int demo_guide(const std::string& dir) {
    DemoFolder out{dir, {}};
    FoundPlugin plane, inverse, descreen;
    if (!resolve_plugin("SpectraPlane", &plane, &out.failure) ||
        !resolve_plugin("SpectraPlaneInverse", &inverse, &out.failure) ||
        !resolve_plugin("SpectraDescreen", &descreen, &out.failure))
        return out.fail();
    ImageFile photo;
    std::string error;
    if (!image_read(dir + "/chelsea.png", &photo, &error)) {
        out.failure = {exit_input, error};
        return out.fail();
    }
    photo.image = host_convert_depth(photo.image, 8);
    /* the spectra shown are those of the middle of the photograph, 224
     * pixels square: a spectrum is noise to a file's compression, and the
     * pictures stay small */
    const int crop = 224, left = (photo.image.columns - crop) / 2,
              top = (photo.image.rows - crop) / 2;
    HostImage middle = host_image(crop, crop, 3, 8);
    for (int y = 0; y < crop; y++)
        for (int x = 0; x < crop; x++)
            for (int p = 0; p < 3; p++)
                host_set_sample(middle, x, y, p, host_sample(photo.image, left + x, top + y, p));

    /* the photograph's spectrum, and those of a grating and of a line */
    auto spectrum_of = [&](const HostImage& picture, HostImage* spectrum) {
        ImageFile canvas;
        canvas.image = host_spectrum_canvas(picture);
        return run_plugin(plane, canvas, spectrum, &out.failure);
    };
    /* whole numbers of periods and a line from corner to corner: both
     * wrap round the picture's edges seamlessly, as the transform sees it */
    HostImage grating = drawn(
        160, [](int x, int y) { return 128 + 100 * std::sin(2 * pi * (12 * x + 7 * y) / 160); });
    HostImage line = drawn(160, [](int x, int y) { return std::abs(x - y) <= 1 ? 255 : 0; });
    HostImage spectrum, grating_spectrum, line_spectrum;
    if (!out.write("guide-photo.png", middle) || !spectrum_of(middle, &spectrum) ||
        !out.write("guide-spectrum.png", spectrum) || !spectrum_of(grating, &grating_spectrum) ||
        !out.write("guide-grating.png",
                   beside(grating, ringed(grating_spectrum, 80 + 12, 80 + 7))) ||
        !spectrum_of(line, &line_spectrum) ||
        !out.write("guide-line.png", beside(line, line_spectrum)))
        return out.fail();

    /* a halftoned print of the photograph, descreened */
    DescreenRun halftone;
    if (!demo_descreen(descreen, photo.image, &halftone, &out.failure) ||
        !out.write("guide-halftone.png", halftone.screened) ||
        !out.write("guide-descreened.png", halftone.descreened))
        return out.fail();

    /* stripes over the photograph, removed by hand through the spectrum */
    PatternRun stripes;
    if (!demo_pattern(plane, inverse, middle, &stripes, &out.failure) ||
        !out.write("guide-stripes.png", host_left_half(stripes.pattern)) ||
        !out.write("guide-stripes-spectrum.png",
                   ringed(stripes.spectrum, stripes.peak_x, stripes.peak_y)) ||
        !out.write("guide-stripes-painted.png", stripes.painted) ||
        !out.write("guide-stripes-removed.png", host_left_half(stripes.cleaned)))
        return out.fail();

    std::printf("a halftoned print of the photograph, descreened:\n"
                "  the scan:      %5.1f dB PSNR against its inks laid as tones\n"
                "  descreened:    %5.1f dB PSNR\n"
                "stripes removed by hand (2 peaks painted out):\n"
                "  with stripes:  %5.1f dB PSNR against the photograph\n"
                "  removed:       %5.1f dB PSNR\n"
                "the guide's pictures are in %s/\n",
                halftone.psnr_before, halftone.psnr_after, stripes.psnr_before, stripes.psnr_after,
                dir.c_str());
    return exit_done;
}

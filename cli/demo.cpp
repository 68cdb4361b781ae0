/* demo.cpp - spectra demo: the four transforms on the sample picture, a
 * periodic pattern removed through the spectrum (pattern.cpp), and a
 * halftoned print descreened (halftone.cpp).
 *
 * The sample picture is drawn here, so the command carries it wherever it
 * goes: 512 x 512 RGB with gratings (spectra of a few bright points), a disc
 * (rings) and block letters (straight lines across the spectrum) in the left
 * half that the planar and volume plug-ins transform. */
#include "demo.h"
#include "font.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <sys/stat.h>

namespace {

const int side = 512;
const double pi = 3.14159265358979323846;

} // namespace

void demo_draw_text(HostImage& image, int x0, int y0, const std::string& text, int scale,
                    const double rgb[3]) {
    for (size_t i = 0; i < text.size(); i++) {
        const uint8_t* glyph = font_glyph(text[i]);
        for (int gy = 0; gy < 7; gy++)
            for (int gx = 0; gx < 5; gx++) {
                if (!(glyph[gy] & (0x10 >> gx))) continue;
                for (int sy = 0; sy < scale; sy++)
                    for (int sx = 0; sx < scale; sx++) {
                        int x = x0 + int(i) * 6 * scale + gx * scale + sx, y = y0 + gy * scale + sy;
                        if (x < 0 || y < 0 || x >= image.columns || y >= image.rows) continue;
                        for (int p = 0; p < 3; p++) host_set_sample(image, x, y, p, rgb[p]);
                    }
            }
    }
}

HostImage demo_sample_picture() {
    HostImage image = host_image(side, side, 3, 8);
    for (int y = 0; y < side; y++)
        for (int x = 0; x < side; x++) {
            double r = 60 + 40.0 * y / side, g = 60, b = 70 + 30.0 * x / side;
            int lx = x % 256; /* the right half repeats the left in other colours */
            if (y < 128) {    /* a vertical grating, 16 pixels a period */
                r += 70 * (1 + std::sin(2 * pi * lx / 16.0));
            } else if (y < 256) { /* a diagonal grating */
                g += 60 * (1 + std::sin(2 * pi * (lx + y) / 11.0));
                b += 30 * (1 + std::sin(2 * pi * y / 32.0));
            } else {
                double dx = lx - 128, dy = y - 360;
                if (dx * dx + dy * dy < 70 * 70) r = g = b = 230; /* a disc */
            }
            if (x >= 256) std::swap(r, b);
            host_set_sample(image, x, y, 0, std::min(255.0, std::round(r)));
            host_set_sample(image, x, y, 1, std::min(255.0, std::round(g)));
            host_set_sample(image, x, y, 2, std::min(255.0, std::round(b)));
        }
    const double ink[3] = {250, 240, 90}, dark[3] = {20, 20, 40};
    demo_draw_text(image, 26, 448, "SPECTRA", 6, ink);
    demo_draw_text(image, 296, 450, "FOURIER", 5, dark);
    return image;
}

namespace {

/* The sample at another depth: 16 bits in the interface's 0..32768, or floats. */
HostImage at_depth(const HostImage& image, int depth) {
    HostImage out = host_image(image.rows, image.columns, image.planes, depth);
    for (int y = 0; y < image.rows; y++)
        for (int x = 0; x < image.columns; x++)
            for (int p = 0; p < image.planes; p++) {
                double v = host_sample(image, x, y, p) / 255;
                host_set_sample(out, x, y, p, depth == 16 ? std::round(v * 32768) : v);
            }
    return out;
}

/* A panel of the contact sheet: a picture at half size under its label. */
struct Panel {
    std::string label;
    const HostImage* image;
};

/* The contact sheet: rows of panels, each row under its caption. */
HostImage contact_sheet(const std::vector<std::pair<std::string, std::vector<Panel>>>& rows) {
    const int cell = side / 2, gap = 12, label = 36, caption = 30;
    size_t most = 0;
    int height = gap;
    for (const auto& row : rows) {
        most = std::max(most, row.second.size());
        int tallest = 0;
        for (const Panel& panel : row.second) tallest = std::max(tallest, panel.image->rows / 2);
        height += caption + label + tallest + gap;
    }
    int width = gap + int(most) * (cell + gap);
    HostImage sheet = host_image(height, width, 3, 8);
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++)
            for (int p = 0; p < 3; p++) host_set_sample(sheet, x, y, p, 32);
    const double white[3] = {235, 235, 235}, grey[3] = {170, 170, 170};
    int y0 = gap;
    for (const auto& row : rows) {
        demo_draw_text(sheet, gap, y0, row.first, 3, grey);
        y0 += caption;
        int tallest = 0;
        for (size_t i = 0; i < row.second.size(); i++) {
            int x0 = gap + int(i) * (cell + gap);
            demo_draw_text(sheet, x0, y0, row.second[i].label, 3, white);
            const HostImage& im = *row.second[i].image;
            tallest = std::max(tallest, im.rows / 2);
            for (int y = 0; y < im.rows / 2; y++)
                for (int x = 0; x < std::min(cell, im.columns / 2); x++)
                    for (int p = 0; p < 3; p++) {
                        double s = 0;
                        for (int d = 0; d < 4; d++)
                            s += host_sample(im, 2 * x + d % 2, 2 * y + d / 2, p);
                        host_set_sample(sheet, x0 + x, y0 + label + y, p, std::round(s / 4));
                    }
        }
        y0 += label + tallest + gap;
    }
    return sheet;
}

} // namespace

bool DemoFolder::write(const std::string& name, const HostImage& image) {
    std::string error;
    if (image_write(dir + "/" + name, image, &error)) return true;
    failure = {exit_output, error};
    return false;
}

int DemoFolder::fail() const {
    std::fprintf(stderr, "spectra: %s\n", failure.message.c_str());
    return failure.code;
}

int demo(const std::string& dir) {
    if (mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) {
        std::fprintf(stderr, "spectra: %s: cannot be made (%s)\n", dir.c_str(),
                     std::strerror(errno));
        return exit_output;
    }
    DemoFolder out{dir, {}};
    FoundPlugin plane, inverse, volume, row, descreen;
    if (!resolve_plugin("SpectraPlane", &plane, &out.failure) ||
        !resolve_plugin("SpectraPlaneInverse", &inverse, &out.failure) ||
        !resolve_plugin("SpectraVolume", &volume, &out.failure) ||
        !resolve_plugin("SpectraRow", &row, &out.failure) ||
        !resolve_plugin("SpectraDescreen", &descreen, &out.failure))
        return out.fail();

    ImageFile source;
    source.image = demo_sample_picture();
    HostImage spectrum, back, cube, rows;
    ImageFile picture;
    if (!out.write("source.png", source.image) ||
        !run_plugin(plane, source, &spectrum, &out.failure) ||
        !out.write("spectrum.png", spectrum) || !run_plugin(volume, source, &cube, &out.failure) ||
        !out.write("volume.png", cube) || !run_plugin(row, source, &rows, &out.failure) ||
        !out.write("row.png", rows))
        return out.fail();
    picture.image = spectrum;
    if (!run_plugin(inverse, picture, &back, &out.failure) || !out.write("inverse.png", back))
        return out.fail();
    std::printf("round trip SpectraPlane, SpectraPlaneInverse:\n");
    std::printf("   8 bits: %6.1f dB PSNR\n", host_psnr(source.image, back));

    for (int depth : {16, 32}) {
        ImageFile deep;
        deep.image = at_depth(source.image, depth);
        HostImage deep_spectrum, deep_back;
        std::string suffix = depth == 16 ? "-16.png" : "-32.tif";
        if (!run_plugin(plane, deep, &deep_spectrum, &out.failure) ||
            !out.write("spectrum" + suffix, deep_spectrum))
            return out.fail();
        picture.image = deep_spectrum;
        if (!run_plugin(inverse, picture, &deep_back, &out.failure) ||
            !out.write("inverse" + suffix, deep_back))
            return out.fail();
        std::printf("  %2d bits: %6.1f dB PSNR\n", depth, host_psnr(deep.image, deep_back));
    }

    /* A periodic pattern found and painted out in the spectrum. */
    PatternRun pattern;
    HostImage lower = host_image(side / 2, side / 2, 3, 8); /* the disc and the lettering */
    for (int y = 0; y < side / 2; y++)
        for (int x = 0; x < side / 2; x++)
            for (int p = 0; p < 3; p++)
                host_set_sample(lower, x, y, p, host_sample(source.image, x, y + side / 2, p));
    if (!demo_pattern(plane, inverse, lower, &pattern, &out.failure) ||
        !out.write("pattern.png", pattern.pattern) ||
        !out.write("pattern-spectrum.png", pattern.spectrum) ||
        !out.write("pattern-painted.png", pattern.painted) ||
        !out.write("pattern-removed.png", pattern.cleaned))
        return out.fail();
    char caption[128];
    std::snprintf(caption, sizeof caption, "PATTERN REMOVAL - PSNR %.1f DB BEFORE  %.1f DB AFTER",
                  pattern.psnr_before, pattern.psnr_after);
    std::printf("pattern removal (2 peaks of the stripes painted out of the spectrum):\n");
    std::printf("  with the pattern: %6.1f dB PSNR against the clean picture\n",
                pattern.psnr_before);
    std::printf("  pattern removed:  %6.1f dB PSNR\n", pattern.psnr_after);

    /* A halftoned print descreened in one step. */
    DescreenRun halftone;
    if (!demo_descreen(descreen, demo_print_picture(), &halftone, &out.failure) ||
        !out.write("halftone.png", halftone.screened) ||
        !out.write("halftone-descreened.png", halftone.descreened) ||
        !out.write("halftone-tone.png", halftone.tone))
        return out.fail();
    char descreen_caption[128];
    std::snprintf(descreen_caption, sizeof descreen_caption,
                  "SPECTRADESCREEN - PSNR %.1f DB BEFORE  %.1f DB AFTER", halftone.psnr_before,
                  halftone.psnr_after);
    std::printf("a halftoned print descreened (SpectraDescreen), against its continuous tones:\n");
    std::printf("  the scan:         %6.1f dB PSNR\n", halftone.psnr_before);
    std::printf("  descreened:       %6.1f dB PSNR\n", halftone.psnr_after);

    HostImage sheet = contact_sheet({{"THE FOUR TRANSFORMS",
                                      {{"SOURCE", &source.image},
                                       {"SPECTRUM", &spectrum},
                                       {"INVERSE", &back},
                                       {"VOLUME", &cube},
                                       {"ROW", &rows}}},
                                     {caption,
                                      {{"STRIPES", &pattern.pattern},
                                       {"SPECTRUM", &pattern.spectrum},
                                       {"PEAKS PAINTED", &pattern.painted},
                                       {"INVERSE", &pattern.cleaned}}},
                                     {descreen_caption,
                                      {{"HALFTONE", &halftone.screened},
                                       {"DESCREENED", &halftone.descreened},
                                       {"INKS AS TONES", &halftone.tone}}}});
    if (!out.write("contact-sheet.png", sheet)) return out.fail();
    std::printf("pictures in %s/: source.png, spectrum.png, inverse.png, volume.png, row.png,\n"
                "spectrum-16.png, inverse-16.png, spectrum-32.tif, inverse-32.tif, pattern.png,\n"
                "pattern-spectrum.png, pattern-painted.png, pattern-removed.png, halftone.png,\n"
                "halftone-descreened.png, halftone-tone.png; all of them side by side in\n"
                "%s/contact-sheet.png\n",
                dir.c_str(), dir.c_str());
    return exit_done;
}

/* demo.h - what the parts of spectra demo share: the sample picture, text
 * drawn into pictures, the pattern-removal run and the descreen. */
#ifndef SPECTRA_DEMO_H
#define SPECTRA_DEMO_H

#include "spectra.h"

/* The pictures of a demo on their way into a folder: the first failure
 * is kept, and fail() reports it and gives its exit code. */
struct DemoFolder {
    std::string dir;
    Failure failure;
    bool write(const std::string& name, const HostImage& image);
    int fail() const;
};

/* The sample picture: 512 x 512 RGB, 8 bits. */
HostImage demo_sample_picture();

/* Draws text in the 5 x 7 font, each font pixel `scale` pixels wide. */
void demo_draw_text(HostImage& image, int x0, int y0, const std::string& text, int scale,
                    const double rgb[3]);

/* The pictures of the pattern-removal run, and how close the picture with
 * the pattern and the cleaned one are to the clean picture. */
struct PatternRun {
    HostImage clean, pattern, spectrum, painted, cleaned;
    double psnr_before = 0, psnr_after = 0;
    int peaks = 0;              /* samples painted out, in each plane */
    int peak_x = 0, peak_y = 0; /* the first of them, in the magnitude half */
};

/* Adds a periodic pattern to an 8-bit picture on a canvas twice as wide,
 * finds the pattern's peaks in its SpectraPlane spectrum, paints them out
 * and runs SpectraPlaneInverse. */
bool demo_pattern(const FoundPlugin& plane, const FoundPlugin& inverse, const HostImage& picture,
                  PatternRun* run, Failure* failure);

/* An 8-bit picture printed through a three-ink halftone screen and
 * scanned, the same print with its inks laid as continuous tones, and what
 * SpectraDescreen makes of the scan; PSNR over the whole picture. */
struct DescreenRun {
    HostImage screened, tone, descreened;
    double psnr_before = 0, psnr_after = 0;
};

bool demo_descreen(const FoundPlugin& descreen, const HostImage& clean, DescreenRun* run,
                   Failure* failure);

/* The drawn picture that the demo prints: 512 x 512. */
HostImage demo_print_picture();

#endif

/* descreen_test.cpp - SpectraDescreen on a smooth picture with patterns of
 * known form added: without one the picture comes back bit for bit; with
 * one it comes back close to the picture; at every depth, and with the
 * planes from the fourth on as they came. */
#include "support.h"

#include <algorithm>
#include <cmath>

namespace {

const double pi = 3.14159265358979323846;
/* The picture's size, a multiple of 96 x 128: the test's sizes in turn. */
int rows, columns;

/* A smooth picture in [0.25, 0.75] of white, which no pattern below
 * pushes beyond 0 or white: ramps, waves and a soft disc, drawn on 96 x 128
 * and stretched to the size. */
double picture(int x, int y, int p) {
    double u = x * 128.0 / columns, v = y * 96.0 / rows;
    double r = std::hypot(u - 70.0, v - 40.0);
    double disc = 0.15 / (1 + std::exp((r - 20) / 3));
    double level = p == 0   ? 0.25 + 0.3 * u / 128
                   : p == 1 ? 0.45 + 0.15 * std::sin(v / 17.0)
                            : 0.4 + 0.2 * std::cos((u + v) / 23.0);
    return level + disc;
}

/* A sinusoid of `period` pixels whose crests run across `degrees`. */
double sinusoid(int x, int y, double degrees, double period, double phase) {
    double t = degrees * pi / 180;
    return std::sin(2 * pi * (x * std::cos(t) + y * std::sin(t)) / period + phase);
}

struct Pattern {
    const char* what;
    double (*add)(int x, int y); /* in units of white */
    double at_least;             /* dB against the picture; 0: bit for bit */
    bool multiplies;             /* the picture by 1 + the pattern, not adds to it */
    bool flat;                   /* over a flat grey picture instead */
};

const Pattern patterns[] = {
    {"nothing", [](int, int) { return 0.0; }, 0, false, false},
    /* 11 and 10 periods across 96 x 128 pixels: a peak on one frequency of
     * the transform */
    {"a sinusoid",
     [](int x, int y) { return 0.1 * std::sin(2 * pi * (11.0 * x / 128 + 10.0 * y / 96) + 0.3); },
     45, false, false},
    /* 7.3 pixels at 23 degrees: between the transform's frequencies, and
     * spread a little over all of them */
    {"a sinusoid between frequencies",
     [](int x, int y) { return 0.08 * sinusoid(x, y, 23, 7.3, 0.4); }, 45, false, false},
    /* coarser than any screen, 14.3 pixels at 67 degrees, between the
     * transform's frequencies: its power shared between four of them */
    {"a coarse sinusoid between frequencies",
     [](int x, int y) { return 0.06 * sinusoid(x, y, 67, 14.3, 1.0); }, 45, false, false},
    /* the same over flat grey, whose local level has nothing to measure
     * a pattern's following against */
    {"a sinusoid between frequencies over flat grey",
     [](int x, int y) { return 0.08 * sinusoid(x, y, 23, 7.3, 0.4); }, 45, false, true},
    /* a sinusoid of 3 rows: as regular as scan lines, but with no level of
     * its own to give back */
    {"a sinusoid of 3 rows", [](int, int y) { return 0.08 * std::sin(2 * pi * y / 3 + 0.7); }, 45,
     false, false},
    /* every third row darker, as a scanner's sensor leaves: the picture's
     * level comes back too */
    {"scan lines", [](int, int y) { return y % 3 == 0 ? -0.06 : 0.0; }, 45, false, false},
    /* a grating that multiplies the picture, as one photographed through
     * another does: stronger where the picture is light. Taken out with
     * one amplitude everywhere, it leaves about 50 dB. */
    {"a grating multiplying the picture",
     [](int x, int y) {
         double t = 20 * pi / 180;
         return 0.12 * std::cos(2 * pi * (x * std::cos(t) + y * std::sin(t)) / 3.7 + 0.2);
     },
     52, true, false},
    /* dots 5 pixels apart at 15 degrees: a lattice of peaks */
    {"a dot screen",
     [](int x, int y) {
         double t = 15 * pi / 180, k = 2 * pi / 5;
         double u = k * (x * std::cos(t) + y * std::sin(t)),
                v = k * (y * std::cos(t) - x * std::sin(t));
         return 0.06 * (std::cos(u) + std::cos(v));
     },
     30, false, false},
};

/* The picture plus the pattern at a depth, and a fourth plane of noise. */
HostImage patterned(const Pattern& pattern, int depth, bool clean) {
    HostImage noise = noise_image(rows, columns, 4, depth, 17);
    double white = white_of(depth);
    return make_image(rows, columns, 4, depth, [&](int x, int y, int p) {
        if (p == 3) return host_sample(noise, x, y, p);
        double v = pattern.flat ? 0.5 : picture(x, y, p), d = clean ? 0 : pattern.add(x, y);
        v = (pattern.multiplies ? v * (1 + d) : v + d) * white;
        return depth == 32 ? double(float(v)) : std::round(v);
    });
}

double psnr(const HostImage& a, const HostImage& b) {
    double sum = 0, white = white_of(a.depth);
    const int colours = std::min(a.planes, 3);
    for (int y = 0; y < rows; y++)
        for (int x = 0; x < columns; x++)
            for (int p = 0; p < colours; p++) {
                double d = (host_sample(a, x, y, p) - host_sample(b, x, y, p)) / white;
                sum += d * d;
            }
    return 10 * std::log10(double(colours) * rows * columns / sum);
}

TEST(Descreen, PatternsTakenOutAndThePictureKept) {
    Plugin plugin("SpectraDescreen");
    /* the second wide enough for rows of gains in several blocks, and large
     * enough for the passes over the spectrum to be spread over threads */
    const int sizes[][2] = {{96, 128}, {192, 2176}};
    for (const auto& size : sizes) {
        rows = size[0];
        columns = size[1];
        for (const Pattern& pattern : patterns)
            for (int depth : {8, 16, 32}) {
                std::string what = std::string(pattern.what) + " at " + std::to_string(depth) +
                                   ", " + std::to_string(columns) + " wide";
                HostImage in = patterned(pattern, depth, false),
                          clean = patterned(pattern, depth, true);
                int16_t result;
                HostOptions junk;
                junk.fill = HostFill::junk;
                HostImage out = plugin.run(in, &result, junk);
                ASSERT_EQ(result, noErr) << what;
                for (int y = 0; y < rows; y++)
                    for (int x = 0; x < columns; x++)
                        ASSERT_EQ(host_sample(out, x, y, 3), host_sample(in, x, y, 3)) << what;
                if (pattern.at_least == 0) {
                    EXPECT_TRUE(host_same_samples(in, out)) << what;
                } else {
                    EXPECT_GE(psnr(out, clean), pattern.at_least) << what;
                    EXPECT_LT(psnr(in, clean), pattern.at_least - 5) << what;
                }
            }
    }
}

/* Lines of text set in letters of their own widths, `pitch` pixels apart
 * and `height` tall, from row `first` down: stems, bars and serifs chosen by
 * a hash of the letter's place. */
bool proportional_text(int x, int y, int pitch = 18, int height = 10, int first = 112) {
    const int line = y / pitch, top = line * pitch + 4;
    if (y < first || y < top || y >= top + height || x < 8) return false;
    for (uint32_t n = 0, left = 8;; n++) {
        uint32_t h = n * 2654435761u ^ uint32_t(line) * 40503u;
        h ^= h >> 13;
        h *= 2246822519u;
        const int width = 3 + int(h % 6), right = int(left) + width;
        if (right > 248 || int(left) > x) return false;
        if (x < right && (h >> 8) % 7 != 0) {
            const int kind = (h >> 12) % 4, row = y - top;
            return x == int(left) || (kind == 0 && x == right - 1) ||
                   (kind == 1 && row == height / 2 - 1) ||
                   (kind == 2 && (row == 0 || row == height - 1)) ||
                   (kind == 3 && row == height - 1);
        }
        left = uint32_t(right + 1 + int((h >> 16) % 2));
    }
}

/* PSNR over rows y0 to y1 - 1 of the colour planes. */
double rows_psnr(const HostImage& a, const HostImage& b, int y0, int y1) {
    double sum = 0, white = white_of(a.depth);
    for (int y = y0; y < y1; y++)
        for (int x = 0; x < columns; x++)
            for (int p = 0; p < std::min(a.planes, 3); p++) {
                double d = (host_sample(a, x, y, p) - host_sample(b, x, y, p)) / white;
                sum += d * d;
            }
    return 10 *
           std::log10(double(std::min(a.planes, 3)) * (y1 - y0) * columns / std::max(sum, 1e-30));
}

/* Pictures whose regular structure is their own, a checkerboard and lines
 * of text (rows of dark letters on white paper), come back bit for bit,
 * and a dot screen is taken out, in grey documents as in RGB; on a page
 * where a screened picture stands above text, only from the picture. */
TEST(Descreen, TextAndDrawingsLeftAlone) {
    Plugin plugin("SpectraDescreen");
    rows = 192;
    columns = 256;
    /* letters 6 pixels wide, each drawn or a space by a hash of its place */
    auto text = [](int x, int y) {
        uint32_t h = uint32_t(x / 6) * 2654435761u ^ uint32_t(y / 18) * 40503u;
        h ^= h >> 13;
        int line = y % 18;
        return line >= 4 && line < 14 && (h * 2246822519u >> 29) > 1 && (x + line) % 5 != 0 &&
               x % 6 != 5 && x > 8 && x < 248;
    };
    auto checker = [](int x, int y) { return ((x / 8 + y / 8) % 2) * 0.7 + 0.15; };
    for (int planes : {1, 3})
        for (int depth : {8, 16, 32}) {
            std::string what = std::to_string(planes) + " planes at " + std::to_string(depth);
            double white = white_of(depth);
            auto sample = [&](double v) {
                return depth == 32 ? double(float(v * white)) : std::round(v * white);
            };
            HostImage board = make_image(rows, columns, planes, depth,
                                         [&](int x, int y, int) { return sample(checker(x, y)); });
            HostImage lines = make_image(rows, columns, planes, depth, [&](int x, int y, int) {
                return sample(text(x, y) ? 0.1 : 1.0);
            });
            HostImage screened = make_image(rows, columns, planes, depth, [&](int x, int y, int) {
                return sample(picture(x, y, 0) + patterns[2].add(x, y));
            });
            HostImage clean = make_image(rows, columns, planes, depth, [&](int x, int y, int) {
                return sample(picture(x, y, 0));
            });
            int16_t result;
            HostImage out = plugin.run(screened, &result);
            ASSERT_EQ(result, noErr) << what;
            ASSERT_EQ(out.planes, planes) << what;
            EXPECT_GE(psnr(out, clean), 30) << what << ": the screen";
            for (const HostImage* in : {&board, &lines}) {
                HostImage out = plugin.run(*in, &result);
                ASSERT_EQ(result, noErr) << what;
                EXPECT_TRUE(host_same_samples(*in, out)) << what;
            }
            /* a scan of larger text: its noise leaves few neighbours equal,
             * and the harmonics of its lines reach the Nyquist frequency in
             * patches */
            HostImage scan = make_image(rows, columns, planes, depth, [&](int x, int y, int) {
                uint32_t h = uint32_t(x) * 73856093u ^ uint32_t(y) * 19349663u;
                h ^= h >> 15;
                h *= 2246822519u;
                h ^= h >> 13;
                double v = proportional_text(x, y, 32, 20, 0) ? 0.1 : 1.0;
                return sample(std::min(1.0, v + 0.02 * (double(h % 2001) / 1000 - 1)));
            });
            HostImage read = plugin.run(scan, &result);
            ASSERT_EQ(result, noErr) << what;
            EXPECT_GE(psnr(read, scan), 45) << what << ": a scan of text";
            /* a page: a screened picture above, text below; where the
             * screen lies is measured at half the resolution on planes of
             * even sides and in full on others */
            for (int width : {256, 255}) {
                columns = width;
                auto page = [&](bool clean) {
                    return make_image(rows, columns, planes, depth, [&](int x, int y, int p) {
                        if (y >= 96) return sample(proportional_text(x, y) ? 0.1 : 1.0);
                        double t = 15 * pi / 180, k = 2 * pi / 5;
                        double u = k * (x * std::cos(t) + y * std::sin(t)),
                               v = k * (y * std::cos(t) - x * std::sin(t));
                        /* the third plane's ink faint */
                        double ink = p == 2 ? 0.03 : 0.1;
                        return sample(picture(x, y, 0) +
                                      (clean ? 0 : ink * (std::cos(u) + std::cos(v))));
                    });
                };
                HostImage scanned = page(false), printed = page(true);
                HostImage cleaned = plugin.run(scanned, &result);
                ASSERT_EQ(result, noErr) << what;
                EXPECT_GE(rows_psnr(cleaned, scanned, 104, rows), 35)
                    << what << ", " << width << " wide: the text";
                EXPECT_GE(rows_psnr(cleaned, printed, 8, 88), 35)
                    << what << ", " << width << " wide: the picture";
                EXPECT_LT(rows_psnr(scanned, printed, 8, 88), 25) << what << ": the picture";
            }
            columns = 256;
        }
}

} // namespace

/* descreen.h - what the parts of SpectraDescreen share: the half spectrum of
 * one colour plane, laid out for looking at, and the steps that find a
 * periodic pattern in it and build the gain that takes the pattern out.
 *
 * A plane of H rows and W columns has a real-to-complex transform of H rows
 * by C = W / 2 + 1 columns; the other half is its mirror image. The analysis
 * keeps one float per coefficient in "centred" order: row i holds vertical
 * frequency i - H / 2, so that the zero frequency sits at row H / 2, column 0,
 * and neighbourhoods around it are contiguous. Frequencies are counted in
 * bins of the transform (a peak at column c repeats every W / c pixels). */
#ifndef SPECTRA_DESCREEN_H
#define SPECTRA_DESCREEN_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

/* The geometry of one plane's half spectrum. */
struct HalfSpectrum {
    int32_t H, W, C; /* rows, columns of the image, columns of the half */

    size_t bins() const { return size_t(H) * size_t(C); }
    /* The centred row of transform row q, and back. */
    int32_t centred(int32_t q) const { return (q + H / 2) % H; }
    int32_t transform_row(int32_t i) const { return (i + H - H / 2) % H; }
    /* The centred row of the opposite vertical frequency. */
    int32_t mirror(int32_t i) const { return (2 * (H / 2) - i + H) % H; }
    /* The signed vertical frequency of centred row i. */
    int32_t fy(int32_t i) const { return i - H / 2; }
    /* The squared radius in bins, each axis in bins of its own transform,
     * and in cycles per pixel. */
    double radius2(int32_t i, int32_t c) const { return double(fy(i)) * fy(i) + double(c) * c; }
    double cycles2(int32_t i, int32_t c) const {
        double v = double(fy(i)) / H, u = double(c) / W;
        return v * v + u * u;
    }
    /* The flat index of any (i, c) near the half, its mirror image taken
     * where c falls outside 0..C-1 and the rows wrapping around. */
    size_t index(int32_t i, int32_t c) const;
};

/* A peak found in a plane: where it is and how far above its surroundings. */
struct Peak {
    int32_t i, c;
    float excess; /* log-magnitude above the local background */
};

/* What the search found in one plane. */
struct Finding {
    int peaks;      /* how many peaks stand out; 0: the plane is left alone */
    int fine;       /* how many of them are fine, above 0.08 cycles per pixel */
    int kept;       /* how many a.strongest holds: the fine ones, and the
                       coarse ones too where there is no screen */
    double screen;  /* a screen's frequency in cycles per pixel, else 0 */
    bool dots;      /* the screen is a lattice of dots, not of lines */
    double loudest; /* the largest amplitude of a kept peak's sinusoid, in units of white */
};

enum { strongest_kept = 12, max_reach = 8, histogram_bins = 64, histogram_parts = 4 };

/* Work space of the analysis, carved from one buffer. */
struct Analysis {
    HalfSpectrum s;
    float* level;    /* log-magnitude of each coefficient, then the screen's power */
    float* cut;      /* how much of each coefficient is taken out, 0 to 1;
                        before that, work space */
    uint8_t* region; /* the coefficients that belong to a peak */
    float* grid;     /* the background: one value per block */
    float* block;    /* one block's values while its median is taken;
                        line_parts of them, block_size floats apart */
    size_t block_size;
    float* line;           /* a row of the background or of a filter, and its result;
                              line_parts of them, one for each thread */
    float* edges;          /* a filter's values beyond the ends of each row */
    float* rows;           /* a filter's rows as they were */
    uint32_t* ring_counts; /* log-power histograms of the rings around zero, and
                              histogram_parts - 1 more sets while they are counted */
    int32_t* column_block; /* for each column, the block centre on its left */
    float* column_weight;  /* and the weight of the one on its right */
    uint8_t* active;       /* the rows of a filter's input that hold anything but 0 */
    int64_t line_parts;    /* the threads that filter, each with its own line */
    int32_t side;          /* a block's side in bins */
    int32_t grid_rows, grid_columns;
    /* The most the background changes from one bin to the next down the
     * rows and along them: the grid's largest step between neighbouring
     * blocks over a block's side. */
    double slope_rows, slope_columns;
    double protect; /* radius in bins around zero that is never touched */
    Peak strongest[strongest_kept];
};

/* The natural logarithm of a normal x > 0, within 1e-5, by the same
 * operations on every machine and without branches, so that a loop of them
 * runs in vector registers. */
inline float log_of(float x) {
    uint32_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    /* x = 2^e m with m in [sqrt(1/2), sqrt(2)) */
    uint32_t shifted = bits + (0x3f800000u - 0x3f3504f3u);
    int32_t e = int32_t(shifted >> 23) - 127;
    bits = (shifted & 0x007fffffu) + 0x3f3504f3u;
    float m;
    std::memcpy(&m, &bits, sizeof m);
    float t = (m - 1) / (m + 1), t2 = t * t;
    float series = 1 + t2 * (1 / 3.0f + t2 * (1 / 5.0f + t2 * (1 / 7.0f)));
    return float(e) * 0.693147181f + 2 * t * series;
}

/* Bytes of work space that an analysis of an H x W plane needs. */
uint64_t analysis_bytes(int32_t H, int32_t W);
void analysis_carve(Analysis* a, int32_t H, int32_t W, void* buffer);

/* The background of a.level: block medians, interpolated by background(). */
void background_grid(Analysis* a);
double background(const Analysis& a, int32_t i, int32_t c);
/* Row i of the background into `line`, with grid_columns + 1 floats of work
 * space in `blend`. */
void background_row(const Analysis& a, int32_t i, float* line, float* blend);
void background_columns(Analysis* a); /* the columns' places in the grid, once */

/* Marks the peaks and the coefficients around them in a.region, keeps the
 * strongest in a.strongest and tells whether they make a screen. */
Finding find_peaks(Analysis* a);

/* Fills a.cut from the marked regions, smoothly. */
void shape_cut(Analysis* a);

/* The picture's own spectrum under a screen: the median log-magnitude of
 * rings below the screen's frequency, fitted as a + b log(radius), with
 * a.cut as work space (before the cut is made). Returns false where too few
 * coefficients lie there for a fit. */
struct PictureModel {
    double a, b;
};
bool picture_model(Analysis& a, double screen, PictureModel* model);

/* Rings around the zero frequency, two bins of the shorter side wide, out
 * to the corners: the ring of a frequency r cycles per pixel is
 * r / ring_width. */
inline double ring_width(const HalfSpectrum& s) {
    return 2.0 / std::min(s.H, s.W);
}
int32_t ring_count(const HalfSpectrum& s);

/* With a.level holding the power of each coefficient: the gain that keeps
 * what the model expects of the picture and takes out the screen's excess,
 * into a.level; it comes in from a quarter of the screen's frequency and
 * holds in full from half of it, and rolls off as a slight blur at the
 * screen's scale. */
void screen_gain(Analysis* a, double screen, const PictureModel& model);

#endif

/* descreen.cpp - SpectraDescreen's body: finds a periodic pattern in each
 * colour plane (a halftone screen, stripes, scan lines, moire) and takes it
 * out, in place, without parameters.
 *
 * Each plane is split into a periodic part and a smooth part (Moisan's
 * periodic-plus-smooth decomposition): the smooth part carries the jumps
 * between opposite borders, which would otherwise draw a bright cross
 * through the spectrum, and is put back untouched. The periodic part's
 * spectrum, one real-to-complex transform, is searched for peaks (peaks.cpp);
 * a plane without them is left exactly as it came. Otherwise each
 * coefficient is scaled by its gain (gain.cpp) and the plane transformed
 * back. Planes from the fourth on are copied by the frame. */
#include "descreen.h"
#include "codes.h"
#include "frame.h"

#include <algorithm>
#include <cmath>
#include <fftw3.h>

namespace {

const double pi = 3.14159265358979323846;

/* The borders' transforms and the tables that give the smooth part's
 * spectrum: 2 cos and sin of each row's and column's frequency. */
struct Borders {
    double* across;           /* bottom row minus top row, W values */
    double* down;             /* right column minus left column, H values */
    fftw_complex* across_dft; /* C values */
    fftw_complex* down_dft;   /* H / 2 + 1 values */
    double *row_cos, *row_sin, *column_cos, *column_sin;
};

/* The work space: the spectrum in buffer 0; the borders and the analysis
 * in buffer 1, carved in this order. */
uint64_t border_bytes(int32_t H, int32_t W) {
    uint64_t C = uint64_t(W) / 2 + 1;
    return 8 * (uint64_t(W) + uint64_t(H) + 2 * C + 2 * (uint64_t(H) / 2 + 1) + 2 * uint64_t(H) +
                2 * C);
}

int descreen_work_buffers(int32_t rows, int32_t columns, uint64_t bytes[]) {
    uint64_t C = uint64_t(columns) / 2 + 1;
    bytes[0] = sizeof(fftw_complex) * uint64_t(rows) * C;
    bytes[1] = border_bytes(rows, columns) + analysis_bytes(rows, columns);
    return 2;
}

Borders carve_borders(void* buffer, int32_t H, int32_t W) {
    double* d = static_cast<double*>(buffer);
    int32_t C = W / 2 + 1;
    Borders b;
    b.across = d;
    b.down = b.across + W;
    b.across_dft = reinterpret_cast<fftw_complex*>(b.down + H);
    b.down_dft = b.across_dft + C;
    b.row_cos = reinterpret_cast<double*>(b.down_dft + (H / 2 + 1));
    b.row_sin = b.row_cos + H;
    b.column_cos = b.row_sin + H;
    b.column_sin = b.column_cos + C;
    for (int32_t q = 0; q < H; q++) {
        b.row_cos[q] = std::cos(2 * pi * q / H);
        b.row_sin[q] = std::sin(2 * pi * q / H);
    }
    for (int32_t r = 0; r < C; r++) {
        b.column_cos[r] = std::cos(2 * pi * r / W);
        b.column_sin[r] = std::sin(2 * pi * r / W);
    }
    return b;
}

/* The smooth part's coefficient (q, r). Its Laplacian is the jump across
 * the borders, so in frequency it is the borders' transform over the
 * discrete Laplacian's, 2 cos(2 pi q / H) + 2 cos(2 pi r / W) - 4; the zero
 * frequency is left to the periodic part. */
void smooth_coefficient(const Borders& b, int32_t H, int32_t q, int32_t r, double* re, double* im) {
    if (q == 0 && r == 0) {
        *re = *im = 0;
        return;
    }
    /* down's transform at q > H / 2 is the conjugate of that at H - q */
    int32_t mq = q <= H / 2 ? q : H - q;
    double dre = b.down_dft[mq][0], dim = q <= H / 2 ? b.down_dft[mq][1] : -b.down_dft[mq][1];
    /* the border image's transform: across (1 - e^{2 pi i q / H}) + down (1 - e^{2 pi i r / W}) */
    double pr = 1 - b.row_cos[q], pi_ = -b.row_sin[q];
    double cr = 1 - b.column_cos[r], ci = -b.column_sin[r];
    double vr = b.across_dft[r][0] * pr - b.across_dft[r][1] * pi_ + dre * cr - dim * ci;
    double vi = b.across_dft[r][0] * pi_ + b.across_dft[r][1] * pr + dre * ci + dim * cr;
    double laplacian = 2 * b.row_cos[q] + 2 * b.column_cos[r] - 4;
    *re = vr / laplacian;
    *im = vi / laplacian;
}

struct Plans {
    fftw_plan forward, inverse, across, down;
};

void destroy(Plans* p) {
    for (fftw_plan* plan : {&p->forward, &p->inverse, &p->across, &p->down})
        if (*plan) fftw_destroy_plan(*plan);
}

bool make_plans(Plans* p, fftw_complex* spectrum, const Borders& b, int32_t H, int32_t W) {
    double* real = reinterpret_cast<double*>(spectrum);
    *p = Plans{};
    if (!spectra_fault()) p->forward = fftw_plan_dft_r2c_2d(H, W, real, spectrum, FFTW_ESTIMATE);
    if (p->forward && !spectra_fault())
        p->inverse = fftw_plan_dft_c2r_2d(H, W, spectrum, real, FFTW_ESTIMATE);
    if (p->inverse && !spectra_fault())
        p->across = fftw_plan_dft_r2c_1d(W, b.across, b.across_dft, FFTW_ESTIMATE);
    if (p->across && !spectra_fault())
        p->down = fftw_plan_dft_r2c_1d(H, b.down, b.down_dft, FFTW_ESTIMATE);
    return p->down != nullptr;
}

/* Reads plane k into the transform's padded rows, in units of white, and
 * the jumps across its borders. False when a sample is not finite: a
 * transform would spread it over the whole plane. */
template <typename T>
bool read_plane(const Image<T>& image, int32_t k, double* real, const Borders& b) {
    const int32_t H = image.rows, W = image.columns, stride = 2 * (W / 2 + 1);
    const double scale = 1 / Depth<T>::white;
    bool finite = true;
    for (int32_t y = 0; y < H; y++) {
        double* row = real + int64_t(y) * stride;
        for (int32_t x = 0; x < W; x++) row[x] = image.in.at(x, y, k) * scale;
        if (!std::isfinite(*std::max_element(row, row + W)) ||
            !std::isfinite(*std::min_element(row, row + W)))
            finite = false;
    }
    for (int32_t x = 0; x < W; x++) b.across[x] = real[int64_t(H - 1) * stride + x] - real[x];
    for (int32_t y = 0; y < H; y++)
        b.down[y] = real[int64_t(y) * stride + W - 1] - real[int64_t(y) * stride];
    return finite;
}

template <typename T> T sample_of(double v) {
    v *= Depth<T>::white;
    return T(v <= 0 ? 0 : v >= Depth<T>::white ? Depth<T>::white : v + 0.5);
}
template <> float sample_of<float>(double v) {
    return float(v);
}

template <typename T> void copy_plane(const Image<T>& image, int32_t k) {
    for (int32_t y = 0; y < image.rows; y++)
        for (int32_t x = 0; x < image.columns; x++) image.out.at(x, y, k) = image.in.at(x, y, k);
}

/* One plane: true when it was filtered, false when it is to be copied. */
template <typename T>
bool descreen_plane(const Image<T>& image, int32_t k, fftw_complex* spectrum, const Borders& b,
                    const Plans& plans, Analysis* a) {
    const HalfSpectrum& s = a->s;
    const int32_t H = s.H, C = s.C;
    if (!read_plane(image, k, reinterpret_cast<double*>(spectrum), b)) return false;
    fftw_execute(plans.forward);
    fftw_execute(plans.across);
    fftw_execute(plans.down);

    /* The periodic part's coefficients, and their log-magnitudes. The floor
     * keeps an empty coefficient finite: 1e-12 of white per pixel. */
    const double N = double(H) * double(s.W), floor = N * N * 1e-24;
    for (int32_t q = 0; q < H; q++) {
        float* level = a->level + size_t(s.centred(q)) * size_t(C);
        for (int32_t r = 0; r < C; r++) {
            fftw_complex& x = spectrum[int64_t(q) * C + r];
            double sr, si;
            smooth_coefficient(b, H, q, r, &sr, &si);
            x[0] -= sr;
            x[1] -= si;
            level[r] = float(0.5 * std::log(x[0] * x[0] + x[1] * x[1] + floor));
        }
    }
    background_grid(a);
    Finding found = find_peaks(a);
    if (found.peaks == 0) return false;
    shape_cut(a);

    PictureModel model;
    bool screen = found.screen > 0 && picture_model(*a, found.screen, &model);
    if (screen) {
        for (int32_t q = 0; q < H; q++) {
            float* level = a->level + size_t(s.centred(q)) * size_t(C);
            for (int32_t r = 0; r < C; r++) {
                const fftw_complex& x = spectrum[int64_t(q) * C + r];
                level[r] = float(std::min(x[0] * x[0] + x[1] * x[1], 1e30));
            }
        }
        screen_gain(a, found.screen, model);
    }

    /* The gain, the same for a coefficient and its mirror image in the
     * columns that hold both; then the smooth part back. */
    auto gain = [&](int32_t i, int32_t r) {
        if (s.radius(i, r) < a->protect) return 1.0;
        size_t n = size_t(i) * size_t(C) + size_t(r);
        return (1.0 - a->cut[n]) * (screen ? double(a->level[n]) : 1.0);
    };
    for (int32_t q = 0; q < H; q++) {
        int32_t i = s.centred(q);
        for (int32_t r = 0; r < C; r++) {
            double g = gain(i, r);
            if (r == 0 || (s.W % 2 == 0 && r == C - 1)) g = std::min(g, gain(s.mirror(i), r));
            fftw_complex& x = spectrum[int64_t(q) * C + r];
            double sr, si;
            smooth_coefficient(b, H, q, r, &sr, &si);
            x[0] = g * x[0] + sr;
            x[1] = g * x[1] + si;
        }
    }
    fftw_execute(plans.inverse);

    const double* real = reinterpret_cast<const double*>(spectrum);
    const int32_t stride = 2 * C;
    for (int32_t y = 0; y < H; y++)
        for (int32_t x = 0; x < s.W; x++)
            image.out.at(x, y, k) = sample_of<T>(real[int64_t(y) * stride + x] / N);
    return true;
}

template <typename T> int16_t descreen(const Image<T>& image, void* const work[]) {
    fftw_complex* spectrum = static_cast<fftw_complex*>(work[0]);
    const int32_t H = image.rows, W = image.columns;
    Borders b = carve_borders(work[1], H, W);
    Analysis a;
    analysis_carve(&a, H, W, static_cast<char*>(work[1]) + border_bytes(H, W));
    Plans plans;
    if (!make_plans(&plans, spectrum, b, H, W)) {
        destroy(&plans);
        return memFullErr;
    }
    for (int32_t k = 0; k < 3; k++)
        if (!descreen_plane(image, k, spectrum, b, plans, &a)) copy_plane(image, k);
    destroy(&plans);
    return noErr;
}

int32_t every_column(int32_t columns, int32_t) {
    return columns;
}

} // namespace

uint64_t analysis_bytes(int32_t H, int32_t W) {
    uint64_t bins = uint64_t(H) * (uint64_t(W) / 2 + 1);
    int32_t side = std::max(8, int32_t(std::lround(std::min(H, W) / 32.0)));
    uint64_t grid = (uint64_t(H) / side + 1) * ((uint64_t(W) / 2 + 1) / side + 1);
    /* level, cut and spare as floats, region as bytes, grid and block */
    return bins * (3 * sizeof(float) + 1) + 4 * grid + 4 * uint64_t(side) * side + 64;
}

void analysis_carve(Analysis* a, int32_t H, int32_t W, void* buffer) {
    a->s = HalfSpectrum{H, W, W / 2 + 1};
    size_t bins = a->s.bins();
    a->side = std::max(8, int32_t(std::lround(std::min(H, W) / 32.0)));
    a->grid_rows = (H + a->side - 1) / a->side;
    a->grid_columns = (a->s.C + a->side - 1) / a->side;
    a->protect = std::max(4.0, std::min(H, W) / 128.0);
    float* f = static_cast<float*>(buffer);
    a->level = f;
    a->cut = a->level + bins;
    a->spare = a->cut + bins;
    a->grid = a->spare + bins;
    a->block = a->grid + size_t(a->grid_rows) * size_t(a->grid_columns);
    a->region = reinterpret_cast<uint8_t*>(a->block + size_t(a->side) * size_t(a->side));
}

const TransformBody spectra_transform_body = {descreen_work_buffers, every_column,
                                              SPECTRA_RUNS(descreen)};

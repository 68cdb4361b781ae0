/* where.h - where in the picture a screen lies: a map from 0 (no screen:
 * the scan is kept as it is) to 1 (the screen is taken out in full). Each
 * colour plane with a screen measures where it lies, and the picture's map
 * is made from all of them: a page's screen lies in the same places in
 * every plane, but shows more strongly in some than in others. */
#ifndef SPECTRA_DESCREEN_WHERE_H
#define SPECTRA_DESCREEN_WHERE_H

#include "descreen.h"

#include <fftw3.h>

struct ScreenMap {
    int32_t H, W;
    fftw_complex* band; /* the screen's coefficients alone, then its picture */
    int32_t cell;       /* the map's cells are cell x cell pixels */
    int32_t rows, columns;
    float* map;     /* the picture's map, one value per cell; before it is
                       finished, the sum of the planes' log ratios */
    int planes;     /* the planes added to it */
    bool whole;     /* a plane's screen covers the picture: no more are measured */
    double screen;  /* the first measured plane's screen frequency, or 0 */
    float* window;  /* the map as the planes so far make it, one value per cell */
    float* cells;   /* one plane's map, and two more such arrays */
    float* scratch; /* a row or a column of cells */
};

/* Bytes of work space for an H x W plane, and its carving, with the
 * picture's map at 0. */
uint64_t screen_map_bytes(int32_t H, int32_t W);
void screen_map_carve(ScreenMap* m, int32_t H, int32_t W, void* buffer);

/* One plane's map from the periodic part's spectrum (transform order,
 * H x C) and the strongest peaks of a screen (a.strongest, `peaks` of them)
 * of frequency `screen` in cycles per pixel, added to the picture's; it
 * sets `whole` where the screen covers the picture. False when the band's
 * transform cannot be made. */
bool screen_map_add(ScreenMap* m, const fftw_complex* spectrum, const Analysis& a, double screen,
                    int peaks);

/* The picture's map once every plane is in. */
void screen_map_finish(ScreenMap* m);

/* The map as the planes added so far make it, in m->window; whether it
 * falls below 1 anywhere. */
bool screen_map_window(ScreenMap* m);

/* The cells' values at pixel (x, y), between the cells' centres. */
inline float screen_map_cells_at(const ScreenMap& m, const float* values, int32_t x, int32_t y) {
    float ty = (y + 0.5f) / m.cell - 0.5f, tx = (x + 0.5f) / m.cell - 0.5f;
    ty = ty < 0 ? 0 : ty > m.rows - 1 ? float(m.rows - 1) : ty;
    tx = tx < 0 ? 0 : tx > m.columns - 1 ? float(m.columns - 1) : tx;
    int32_t y0 = int32_t(ty), x0 = int32_t(tx);
    int32_t y1 = y0 + 1 < m.rows ? y0 + 1 : y0, x1 = x0 + 1 < m.columns ? x0 + 1 : x0;
    float wy = ty - y0, wx = tx - x0;
    const float* r0 = values + size_t(y0) * size_t(m.columns);
    const float* r1 = values + size_t(y1) * size_t(m.columns);
    float top = r0[x0] + wx * (r0[x1] - r0[x0]), bottom = r1[x0] + wx * (r1[x1] - r1[x0]);
    return top + wy * (bottom - top);
}

/* The picture's map at pixel (x, y), and the map so far. */
inline float screen_map_at(const ScreenMap& m, int32_t x, int32_t y) {
    return screen_map_cells_at(m, m.map, x, y);
}
inline float screen_map_window_at(const ScreenMap& m, int32_t x, int32_t y) {
    return screen_map_cells_at(m, m.window, x, y);
}

#endif

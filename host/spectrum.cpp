/* spectrum.cpp - the canvas around a picture's spectrum, the conversions
 * between depths, and the record of the source that a spectrum file
 * carries. */
#include "spectrum.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

double white_of(int32_t depth) {
    return depth == 8 ? 255 : depth == 16 ? 65535 : 1;
}

} // namespace

HostImage host_convert_depth(const HostImage& picture, int32_t depth) {
    if (picture.depth == depth) return picture;
    HostImage out = host_image(picture.rows, picture.columns, picture.planes, depth);
    double scale = white_of(depth) / white_of(picture.depth), top = white_of(depth);
    for (int32_t y = 0; y < picture.rows; y++)
        for (int32_t x = 0; x < picture.columns; x++)
            for (int32_t p = 0; p < picture.planes; p++) {
                double v = host_sample(picture, x, y, p) * scale;
                if (depth != 32) v = v > 0 ? std::floor(std::min(v, top) + 0.5) : 0;
                host_set_sample(out, x, y, p, v);
            }
    return out;
}

HostImage host_spectrum_canvas(const HostImage& picture) {
    HostImage canvas = host_image(picture.rows, picture.columns * 2, picture.planes, picture.depth);
    size_t bytes =
        size_t(picture.columns) * size_t(picture.planes) * size_t(host_sample_bytes(picture.depth));
    for (int32_t y = 0; y < picture.rows; y++) {
        std::memcpy(canvas.data() + y * canvas.row_bytes, picture.data() + y * picture.row_bytes,
                    bytes);
        for (int32_t p = 3; p < picture.planes; p++)
            for (int32_t x = picture.columns; x < canvas.columns; x++)
                host_set_sample(canvas, x, y, p, white_of(picture.depth));
    }
    return canvas;
}

HostImage host_left_half(const HostImage& image) {
    HostImage half = host_image(image.rows, image.columns / 2, image.planes, image.depth);
    size_t bytes =
        size_t(half.columns) * size_t(half.planes) * size_t(host_sample_bytes(image.depth));
    for (int32_t y = 0; y < image.rows; y++)
        std::memcpy(half.data() + y * half.row_bytes, image.data() + y * image.row_bytes, bytes);
    return half;
}

void host_to_file16_after(HostImage& out, const HostImage& original) {
    int64_t n = int64_t(out.columns) * out.planes;
    for (int32_t y = 0; y < out.rows; y++) {
        uint16_t* s = reinterpret_cast<uint16_t*>(out.data() + y * out.row_bytes);
        const uint16_t* was =
            reinterpret_cast<const uint16_t*>(original.data() + y * original.row_bytes);
        for (int64_t i = 0; i < n; i++) s[i] = host_file16_after(was[i], s[i]);
    }
}

const char* const host_record_key = "spectra-source";

std::string host_record_text(const SourceRecord& record) {
    return "depth " + std::to_string(record.depth) + ", " + std::to_string(record.columns) + " x " +
           std::to_string(record.rows);
}

bool host_read_record(const std::string& text, SourceRecord* record) {
    SourceRecord r;
    char end = 0;
    if (std::sscanf(text.c_str(), "depth %d, %d x %d%c", &r.depth, &r.columns, &r.rows, &end) !=
            3 ||
        (r.depth != 8 && r.depth != 16 && r.depth != 32) || r.columns < 1 || r.rows < 1)
        return false;
    *record = r;
    return true;
}

bool host_record_fits(const SourceRecord& record, int32_t columns, int32_t rows) {
    return record.depth && int64_t(record.columns) * 2 == columns && record.rows == rows;
}

/* image.cpp - the host's images: samples in the interface's layout, and
 * the 16-bit range of files against the interface's. */
#include "host.h"

#include <cmath>
#include <cstring>

int host_sample_bytes(int32_t depth) {
    switch (depth) {
    case 8:
        return 1;
    case 16:
        return 2;
    case 32:
        return 4;
    default:
        return 0;
    }
}

void host_to_interface16(HostImage& image) {
    int64_t n = int64_t(image.columns) * image.planes;
    for (int32_t y = 0; y < image.rows; y++) {
        uint16_t* row = reinterpret_cast<uint16_t*>(image.data() + y * image.row_bytes);
        for (int64_t i = 0; i < n; i++) row[i] = to_interface16(row[i]);
    }
}

HostImage host_image(int32_t rows, int32_t columns, int32_t planes, int32_t depth,
                     int64_t row_padding) {
    HostImage image;
    image.rows = rows;
    image.columns = columns;
    image.planes = planes;
    image.depth = depth;
    image.row_bytes = int64_t(columns) * planes * host_sample_bytes(depth) + row_padding;
    image.storage.assign(size_t((image.row_bytes * rows + 7) / 8), 0);
    return image;
}

namespace {

/* Byte offset of a sample within an image. */
int64_t offset(const HostImage& image, int32_t x, int32_t y, int32_t p) {
    int bytes = host_sample_bytes(image.depth);
    return y * image.row_bytes + (int64_t(x) * image.planes + p) * bytes;
}

} // namespace

double host_sample(const HostImage& image, int32_t x, int32_t y, int32_t p) {
    const uint8_t* s = image.data() + offset(image, x, y, p);
    switch (image.depth) {
    case 8:
        return *s;
    case 16: {
        uint16_t v;
        std::memcpy(&v, s, 2);
        return v;
    }
    default: {
        float v;
        std::memcpy(&v, s, 4);
        return v;
    }
    }
}

void host_set_sample(HostImage& image, int32_t x, int32_t y, int32_t p, double v) {
    uint8_t* s = image.data() + offset(image, x, y, p);
    switch (image.depth) {
    case 8:
        *s = uint8_t(v);
        break;
    case 16: {
        uint16_t w = uint16_t(v);
        std::memcpy(s, &w, 2);
        break;
    }
    default: {
        float f = float(v);
        std::memcpy(s, &f, 4);
        break;
    }
    }
}

bool host_same_samples(const HostImage& a, const HostImage& b) {
    if (a.rows != b.rows || a.columns != b.columns || a.planes != b.planes || a.depth != b.depth)
        return false;
    size_t row = size_t(a.columns) * a.planes * host_sample_bytes(a.depth);
    for (int32_t y = 0; y < a.rows; y++)
        if (std::memcmp(a.data() + y * a.row_bytes, b.data() + y * b.row_bytes, row) != 0)
            return false;
    return true;
}

double host_psnr(const HostImage& a, const HostImage& b) {
    double sum = 0, w = a.depth == 8 ? 255 : a.depth == 16 ? 32768 : 1;
    int n = a.columns / 2;
    for (int y = 0; y < a.rows; y++)
        for (int x = 0; x < n; x++)
            for (int p = 0; p < 3; p++) {
                double d = host_sample(a, x, y, p) - host_sample(b, x, y, p);
                sum += d * d;
            }
    double mse = sum / (3.0 * a.rows * n);
    return mse == 0 ? INFINITY : 10 * std::log10(w * w / mse);
}

/* image_tool.cpp - a helper of the GIMP tests: makes the input pictures and
 * compares two image files sample for sample.
 *
 *   image_tool make DIR      rgb8.png rgba8.png rgb16.png rgba16.png float.tif
 *   image_tool same A B      exit 0 when A and B hold the same samples
 *   image_tool raw RAW ROWS COLUMNS PLANES DEPTH OUT
 *                            a layer's pixels as GIMP holds them (8 or
 *                            16-bit integers, 32-bit floats, native order)
 *                            into an image file, every value kept
 *   image_tool script-fu PORT EXPRESSION
 *                            evaluates it in the Script-Fu server of a GIMP
 *                            on this machine, prints the answer, exit 0 when
 *                            it succeeded
 *
 * The 16-bit PNG files are written with libpng directly, so that they hold
 * every kind of 16-bit value (also those that the interface's range
 * cannot tell apart); the float TIFF holds -0.0, denormals, values above 1
 * and below 0, and alpha above 1. */
#include "image_io.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <png.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <tiffio.h>
#include <unistd.h>

namespace {

double smooth(int x, int y, int p) {
    return 0.5 + 0.3 * std::sin(x * 0.21 + p) * std::cos(y * 0.13 - p) +
           0.15 * std::sin((x + 2 * y) * 0.05 + p);
}

bool write_png(const std::string& path, int rows, int columns, int planes, int bits) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, f);
    png_set_IHDR(png, info, png_uint_32(columns), png_uint_32(rows), bits,
                 planes == 4 ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    if (bits == 16) png_set_swap(png);
    std::vector<uint16_t> row16(size_t(columns) * planes);
    std::vector<uint8_t> row8(row16.size());
    uint32_t noise = 12345;
    for (int y = 0; y < rows; y++) {
        for (int x = 0; x < columns; x++)
            for (int p = 0; p < planes; p++) {
                noise = noise * 1664525u + 1013904223u;
                double v = p == 3 ? 0.1 + 0.9 * (x + y) / (rows + columns) : smooth(x, y, p);
                size_t i = size_t(x) * planes + p;
                /* odd low bits: values that share an interface value */
                row16[i] = uint16_t(std::lround(v * 65000) | (noise >> 31));
                row8[i] = uint8_t(std::max(1L, std::lround(v * 255)));
            }
        if (bits == 16)
            png_write_row(png, reinterpret_cast<png_bytep>(row16.data()));
        else
            png_write_row(png, row8.data());
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return std::fclose(f) == 0;
}

bool write_float_tiff(const std::string& path, int rows, int columns) {
    TIFF* t = TIFFOpen(path.c_str(), "w");
    if (!t) return false;
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, uint32_t(columns));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, uint32_t(rows));
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, uint16_t(4));
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, uint16_t(32));
    TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, uint16_t(SAMPLEFORMAT_IEEEFP));
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, uint16_t(PHOTOMETRIC_RGB));
    uint16_t extra = EXTRASAMPLE_UNASSALPHA;
    TIFFSetField(t, TIFFTAG_EXTRASAMPLES, uint16_t(1), &extra);
    std::vector<float> row(size_t(columns) * 4);
    const float specials[] = {-0.0f, 1e-40f, -3e-42f, 1.75f, -0.5f, 7.0f, 1e-30f};
    for (int y = 0; y < rows; y++) {
        for (int x = 0; x < columns; x++)
            for (int p = 0; p < 4; p++) {
                float v = float(smooth(x, y, p) * 1.4 - 0.2);
                if ((x * 7 + y * 3 + p) % 11 == 0) v = specials[(x + y + p) % 7];
                if (p == 3) v = float(0.05 + 1.6 * (x + y) / (rows + columns)); /* above 1 too */
                row[size_t(x) * 4 + p] = v;
            }
        if (TIFFWriteScanline(t, row.data(), uint32_t(y), 0) < 0) return false;
    }
    TIFFClose(t);
    return true;
}

/* The first sample where the two differ, or "" when they hold the same. */
std::string difference(const HostImage& a, const HostImage& b) {
    if (a.rows != b.rows || a.columns != b.columns || a.planes != b.planes || a.depth != b.depth)
        return "sizes differ: " + std::to_string(a.columns) + " x " + std::to_string(a.rows) +
               " x " + std::to_string(a.planes) + " at " + std::to_string(a.depth) + " against " +
               std::to_string(b.columns) + " x " + std::to_string(b.rows) + " x " +
               std::to_string(b.planes) + " at " + std::to_string(b.depth);
    int bytes = host_sample_bytes(a.depth);
    for (int y = 0; y < a.rows; y++)
        for (int x = 0; x < a.columns; x++)
            for (int p = 0; p < a.planes; p++) {
                int64_t offset = (int64_t(x) * a.planes + p) * bytes;
                if (std::memcmp(a.data() + y * a.row_bytes + offset,
                                b.data() + y * b.row_bytes + offset, size_t(bytes)) != 0)
                    return "column " + std::to_string(x) + ", row " + std::to_string(y) +
                           ", plane " + std::to_string(p) + ": " +
                           std::to_string(host_sample(a, x, y, p)) + " against " +
                           std::to_string(host_sample(b, x, y, p));
            }
    return "";
}

bool send_all(int fd, const std::string& bytes) {
    for (size_t at = 0; at < bytes.size();) {
        ssize_t n = write(fd, bytes.data() + at, bytes.size() - at);
        if (n <= 0) return false;
        at += size_t(n);
    }
    return true;
}

bool receive(int fd, size_t count, std::string* bytes) {
    bytes->clear();
    char buffer[4096];
    while (bytes->size() < count) {
        ssize_t n = read(fd, buffer, std::min(sizeof buffer, count - bytes->size()));
        if (n <= 0) return false;
        bytes->append(buffer, size_t(n));
    }
    return true;
}

/* The Script-Fu server's protocol: 'G', the length in two bytes (big
 * endian), the expression; the answer: 'G', an error flag, the length, the
 * text. */
int script_fu(int port, const std::string& expression) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        std::perror("image_tool: connect");
        return 2;
    }
    std::string request = "G";
    request += char(expression.size() >> 8);
    request += char(expression.size() & 0xff);
    request += expression;
    std::string header, text;
    if (!send_all(fd, request) || !receive(fd, 4, &header) ||
        !receive(fd, size_t(uint8_t(header[2])) << 8 | uint8_t(header[3]), &text)) {
        std::fprintf(stderr, "image_tool: no answer from the Script-Fu server\n");
        close(fd);
        return 2;
    }
    close(fd);
    std::printf("%s\n", text.c_str());
    return header[1] == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    std::string verb = argc > 1 ? argv[1] : "";
    if (verb == "make" && argc == 3) {
        std::string dir = argv[2];
        bool ok = write_png(dir + "/rgb8.png", 97, 130, 3, 8) &&
                  write_png(dir + "/rgba8.png", 64, 90, 4, 8) &&
                  write_png(dir + "/rgb16.png", 75, 110, 3, 16) &&
                  write_png(dir + "/rgba16.png", 50, 72, 4, 16) &&
                  write_float_tiff(dir + "/float.tif", 61, 84);
        if (!ok) std::fprintf(stderr, "image_tool: cannot write into %s\n", dir.c_str());
        return ok ? 0 : 1;
    }
    if (verb == "same" && argc == 4) {
        ImageFile a, b;
        std::string error;
        if (!image_read(argv[2], &a, &error) || !image_read(argv[3], &b, &error)) {
            std::fprintf(stderr, "image_tool: %s\n", error.c_str());
            return 2;
        }
        /* 16-bit files are compared as they store their samples */
        std::string d = difference(a.original.storage.empty() ? a.image : a.original,
                                   b.original.storage.empty() ? b.image : b.original);
        if (d.empty()) return 0;
        std::fprintf(stderr, "image_tool: %s and %s differ: %s\n", argv[2], argv[3], d.c_str());
        return 1;
    }
    if (verb == "raw" && argc == 8) {
        int depth = std::atoi(argv[6]);
        HostImage image =
            host_image(std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]), depth);
        size_t bytes = size_t(image.row_bytes) * size_t(image.rows);
        FILE* f = std::fopen(argv[2], "rb");
        bool ok = f && host_sample_bytes(depth) && std::fread(image.data(), 1, bytes, f) == bytes;
        if (f) std::fclose(f);
        ImageFile file;
        file.image = image;
        if (depth == 16) {
            file.original = image;
            host_to_interface16(file.image);
        }
        std::string error = std::string("cannot read ") + argv[2];
        if (ok && image_write(argv[7], file.image, &error, &file)) return 0;
        std::fprintf(stderr, "image_tool: %s\n", error.c_str());
        return 2;
    }
    if (verb == "script-fu" && argc == 4) return script_fu(std::atoi(argv[2]), argv[3]);
    std::fprintf(stderr, "usage: image_tool make DIR | image_tool same A B | image_tool raw RAW "
                         "ROWS COLUMNS PLANES DEPTH OUT | image_tool script-fu PORT EXPRESSION\n");
    return 1;
}

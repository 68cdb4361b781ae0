/* png_read_test.cpp - the command's PNG reader on files from a small PNG
 * encoder written here: every colour type and bit depth, interlaced or not,
 * with tRNS, at odd sizes, each compared with the samples that went in. */
#include "cli_fixture.h"

#include <csetjmp>
#include <png.h>
#include <zlib.h>

namespace {

/* ---- a PNG encoder of its own: every colour type and bit depth, Adam7,
 * and all five row filters in turn ---- */

struct PngSpec {
    int width, height, bits, type; /* type: 0 grey, 2 RGB, 3 palette, 4 grey+alpha, 6 RGBA */
    bool interlaced, trns;
};

int channels_of(int type) {
    return type == 2 ? 3 : type == 4 ? 2 : type == 6 ? 4 : 1;
}

void put32(std::string* s, uint32_t v) {
    for (int i = 3; i >= 0; i--) s->push_back(char(v >> (8 * i)));
}

void chunk(std::string* png, const char* type, const std::string& data) {
    put32(png, uint32_t(data.size()));
    std::string body = std::string(type, 4) + data;
    png->append(body);
    put32(png, uint32_t(crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()))));
}

uint8_t paeth(int a, int b, int c) {
    int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    return uint8_t(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

/* The file for raw samples (palette indices for type 3), pixel after pixel. */
std::string encode_png(const PngSpec& s, const std::vector<uint16_t>& raw,
                       const std::vector<uint8_t>& palette, const std::string& trns) {
    int ch = channels_of(s.type), bpp = std::max(1, ch * s.bits / 8);
    std::string ihdr;
    put32(&ihdr, uint32_t(s.width));
    put32(&ihdr, uint32_t(s.height));
    ihdr += {char(s.bits), char(s.type), 0, 0, char(s.interlaced ? 1 : 0)};
    struct Pass {
        int x0, y0, dx, dy;
    };
    std::vector<Pass> passes = {{0, 0, 1, 1}};
    if (s.interlaced)
        passes = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                  {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    std::string filtered;
    int filter = 0;
    for (const Pass& p : passes) {
        int w = (s.width - p.x0 + p.dx - 1) / p.dx, h = (s.height - p.y0 + p.dy - 1) / p.dy;
        if (s.width <= p.x0 || s.height <= p.y0 || w <= 0 || h <= 0) continue;
        size_t row_bytes = (size_t(w) * ch * s.bits + 7) / 8;
        std::vector<uint8_t> previous(row_bytes, 0);
        for (int y = 0; y < h; y++) {
            std::vector<uint8_t> row(row_bytes, 0);
            size_t bit = 0;
            for (int x = 0; x < w; x++)
                for (int c = 0; c < ch; c++) {
                    size_t at = (size_t(p.y0 + y * p.dy) * s.width + p.x0 + x * p.dx) * ch + c;
                    uint16_t v = raw[at];
                    if (s.bits == 16) {
                        row[bit / 8] = uint8_t(v >> 8);
                        row[bit / 8 + 1] = uint8_t(v);
                    } else {
                        row[bit / 8] |= uint8_t(v << (8 - s.bits - bit % 8));
                    }
                    bit += size_t(s.bits);
                }
            filtered.push_back(char(filter));
            for (size_t i = 0; i < row_bytes; i++) {
                int a = i >= size_t(bpp) ? row[i - bpp] : 0, b = previous[i],
                    c = i >= size_t(bpp) ? previous[i - bpp] : 0;
                int predictor = filter == 1   ? a
                                : filter == 2 ? b
                                : filter == 3 ? (a + b) / 2
                                : filter == 4 ? paeth(a, b, c)
                                              : 0;
                filtered.push_back(char(uint8_t(row[i] - predictor)));
            }
            previous = row;
            filter = (filter + 1) % 5;
        }
    }
    std::string z(compressBound(uLong(filtered.size())), '\0');
    uLongf z_size = uLongf(z.size());
    compress(reinterpret_cast<Bytef*>(&z[0]), &z_size,
             reinterpret_cast<const Bytef*>(filtered.data()), uLong(filtered.size()));
    z.resize(z_size);
    std::string png = "\x89PNG\r\n\x1a\n";
    chunk(&png, "IHDR", ihdr);
    if (s.type == 3) chunk(&png, "PLTE", std::string(palette.begin(), palette.end()));
    if (s.trns) chunk(&png, "tRNS", trns);
    chunk(&png, "IDAT", z);
    chunk(&png, "IEND", "");
    return png;
}

/* What a reader must deliver for the raw samples: RGB or grey, alpha from
 * an alpha channel or tRNS, low bit depths scaled to bytes, 16 bits in the
 * interface's range. */
HostImage expected_png(const PngSpec& s, const std::vector<uint16_t>& raw,
                       const std::vector<uint8_t>& palette, const std::vector<uint16_t>& key,
                       const std::string& trns) {
    int ch = channels_of(s.type);
    bool colour = s.type == 2 || s.type == 3 || s.type == 6;
    bool alpha = s.type == 4 || s.type == 6 || s.trns;
    int planes = (colour ? 3 : 1) + (alpha ? 1 : 0), depth = s.bits == 16 ? 16 : 8;
    int top = (1 << s.bits) - 1;
    auto value = [&](uint16_t v) {
        if (s.bits == 16) return double(to_interface16(v));
        return double(s.type == 3 ? v : v * 255 / top);
    };
    HostImage image = host_image(s.height, s.width, planes, depth);
    for (int y = 0; y < s.height; y++)
        for (int x = 0; x < s.width; x++) {
            const uint16_t* px = &raw[(size_t(y) * s.width + x) * ch];
            for (int p = 0; p < planes; p++) {
                double v;
                if (s.type == 3) {
                    v = p < 3                 ? palette[px[0] * 3 + p]
                        : px[0] < trns.size() ? uint8_t(trns[px[0]])
                                              : 255;
                } else if (p < ch) {
                    v = value(px[p]);
                } else { /* alpha from the tRNS colour key */
                    bool match = std::equal(px, px + ch, key.begin());
                    v = match ? 0 : depth == 16 ? 32768 : 255;
                }
                host_set_sample(image, x, y, p, v);
            }
        }
    return image;
}

TEST(ImageRead, EveryKindOfPng) {
    struct Kind {
        int type;
        std::vector<int> bits;
    } kinds[] = {
        {0, {1, 2, 4, 8, 16}}, {2, {8, 16}}, {3, {1, 2, 4, 8}}, {4, {8, 16}}, {6, {8, 16}}};
    const int sizes[][2] = {{1, 1}, {3, 5}, {13, 7}, {33, 17}};
    uint32_t state = 7;
    int files = 0;
    for (const Kind& k : kinds)
        for (int bits : k.bits)
            for (bool interlaced : {false, true})
                for (bool trns : {false, true}) {
                    if (trns && (k.type == 4 || k.type == 6)) continue;
                    for (const auto& size : sizes) {
                        PngSpec s = {size[0], size[1], bits, k.type, interlaced, trns};
                        int ch = channels_of(k.type), top = (1 << bits) - 1;
                        int entries = k.type == 3 ? std::min(top + 1, 200) : 0;
                        std::vector<uint8_t> palette(size_t(entries) * 3);
                        for (uint8_t& v : palette) v = uint8_t(lcg(&state));
                        std::vector<uint16_t> raw(size_t(s.width) * s.height * ch);
                        for (uint16_t& v : raw)
                            v = uint16_t(lcg(&state) % uint32_t(entries ? entries : top + 1));
                        /* The colour key is the first pixel, so it occurs. */
                        std::vector<uint16_t> key(raw.begin(), raw.begin() + ch);
                        std::string t;
                        if (trns && k.type == 3) {
                            for (int i = 0; i < entries / 2; i++) t.push_back(char(lcg(&state)));
                        } else if (trns) {
                            for (uint16_t v : key) t += {char(v >> 8), char(v)};
                        }
                        std::string name =
                            "type " + std::to_string(k.type) + ", " + std::to_string(bits) +
                            " bits" + (interlaced ? ", Adam7" : "") + (trns ? ", tRNS" : "") +
                            ", " + std::to_string(s.width) + " x " + std::to_string(s.height);
                        std::string path = temp_path("kind.png");
                        save(path, encode_png(s, raw, palette, t));
                        ImageFile got;
                        std::string error;
                        ASSERT_TRUE(image_read(path, &got, &error)) << name << ": " << error;
                        HostImage expect = expected_png(s, raw, palette, key, t);
                        EXPECT_TRUE(host_same_samples(got.image, expect)) << name;
                        bool colour = k.type == 2 || k.type == 3 || k.type == 6;
                        EXPECT_EQ(got.colours, colour ? ImageColours::rgb : ImageColours::grey)
                            << name;
                        EXPECT_EQ(got.format, ImageFormat::png);
                        std::remove(path.c_str());
                        files++;
                    }
                }
    EXPECT_EQ(files, 4 * 2 * (5 * 2 + 2 * 2 + 4 * 2 + 2 + 2));
}

/* The bytes of a PNG's image data, from its IDAT chunks inflated as one
 * zlib stream; "" when a chunk's CRC is wrong or the stream is not whole
 * (its Adler-32 included, which libpng lets pass). */
std::string image_data(const std::string& png) {
    std::string idat, data(1 << 16, '\0'), out;
    for (size_t at = 8; at + 12 <= png.size();) {
        uint32_t n = 0, crc = 0;
        for (int i = 0; i < 4; i++) n = n << 8 | uint8_t(png[at + size_t(i)]);
        if (at + 12 + n > png.size()) return "";
        for (int i = 0; i < 4; i++) crc = crc << 8 | uint8_t(png[at + 8 + n + size_t(i)]);
        const Bytef* body = reinterpret_cast<const Bytef*>(png.data() + at + 4);
        if (crc32(0, body, n + 4) != crc) return "";
        if (png.compare(at + 4, 4, "IDAT") == 0) idat.append(png, at + 8, n);
        at += 12 + n;
    }
    z_stream z = {};
    inflateInit(&z);
    z.next_in = reinterpret_cast<Bytef*>(&idat[0]);
    z.avail_in = uInt(idat.size());
    int status = Z_OK;
    while (status == Z_OK) {
        z.next_out = reinterpret_cast<Bytef*>(&data[0]);
        z.avail_out = uInt(data.size());
        status = inflate(&z, Z_NO_FLUSH);
        out.append(data, 0, data.size() - z.avail_out);
    }
    inflateEnd(&z);
    return status == Z_STREAM_END && z.avail_in == 0 ? out : "";
}

/* The samples of an 8- or 16-bit PNG as libpng reads them, row after row,
 * in the file's own range; empty when libpng fails on it. */
std::vector<uint16_t> libpng_samples(const std::string& path) {
    std::vector<uint16_t> samples;
    std::vector<uint8_t> row;
    FILE* f = std::fopen(path.c_str(), "rb");
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (f && info && setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, f);
        png_read_info(png, info);
        int bytes = png_get_bit_depth(png, info) / 8;
        row.resize(png_get_rowbytes(png, info));
        for (png_uint_32 y = 0; y < png_get_image_height(png, info); y++) {
            png_read_row(png, row.data(), nullptr);
            for (size_t i = 0; i + size_t(bytes) <= row.size(); i += size_t(bytes))
                samples.push_back(bytes == 2 ? uint16_t(row[i] << 8 | row[i + 1]) : row[i]);
        }
        png_read_end(png, nullptr);
    } else {
        samples.clear();
    }
    png_destroy_read_struct(&png, &info, nullptr);
    if (f) std::fclose(f);
    return samples;
}

/* Pictures large enough to be compressed in pieces on several threads:
 * whole zlib streams in chunks with good CRCs; libpng itself reads every
 * sample in the file's range, and the command's reader gets back the
 * samples and the record as they went in. */
TEST(ImageWrite, LargePngsReadBackWhole) {
    uint32_t state = 11;
    for (int depth : {8, 16})
        for (int planes : {3, 4}) {
            HostImage image = host_image(515, 1031, planes, depth);
            double white = depth == 8 ? 255 : 32768;
            for (int y = 0; y < image.rows; y++)
                for (int x = 0; x < image.columns; x++)
                    for (int p = 0; p < planes; p++)
                        host_set_sample(image, x, y, p, lcg(&state) % uint32_t(white + 1));
            ImageFile source;
            source.record = {depth, 515, 515};
            std::string path = temp_path("large.png"), error,
                        name =
                            std::to_string(depth) + " bits, " + std::to_string(planes) + " planes";
            ASSERT_TRUE(image_write(path, image, &error, &source)) << name << ": " << error;
            size_t row_bytes = 1 + size_t(image.columns * planes * depth / 8);
            EXPECT_EQ(image_data(load(path)).size(), row_bytes * size_t(image.rows)) << name;
            std::vector<uint16_t> in_file = libpng_samples(path);
            ASSERT_EQ(in_file.size(), size_t(image.rows) * size_t(image.columns) * size_t(planes))
                << name;
            size_t i = 0, differ = 0;
            for (int y = 0; y < image.rows; y++)
                for (int x = 0; x < image.columns; x++)
                    for (int p = 0; p < planes; p++) {
                        uint16_t v = uint16_t(host_sample(image, x, y, p));
                        differ += in_file[i++] != (depth == 16 ? from_interface16(v) : v);
                    }
            EXPECT_EQ(differ, 0u) << name;
            ImageFile got;
            ASSERT_TRUE(image_read(path, &got, &error)) << name << ": " << error;
            EXPECT_TRUE(host_same_samples(got.image, image)) << name;
            EXPECT_EQ(got.record.depth, depth) << name;
            EXPECT_EQ(got.record.columns, 515) << name;
            std::remove(path.c_str());
        }
}

} // namespace

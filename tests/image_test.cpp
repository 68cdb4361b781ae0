/* image_test.cpp - the command's JPEG and TIFF readers on files that other
 * writers made: JPEG files from libjpeg, compared with djpeg's decoding,
 * and TIFF files of every layout and compression from libtiff, compared
 * with the samples that went into them. */
#include "cli_fixture.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <jpeglib.h>
#include <tiffio.h>
#include <unistd.h>

namespace {

/* ---- JPEG, written by libjpeg ---- */

struct JpegSpec {
    const char* name;
    int components; /* 1 grey, 3 RGB, 4 CMYK */
    bool progressive;
    int sampling; /* 1: 4:4:4, 2: 4:2:0 */
};

std::string write_jpeg(const JpegSpec& s, const HostImage& image) {
    jpeg_compress_struct c;
    jpeg_error_mgr e;
    c.err = jpeg_std_error(&e);
    jpeg_create_compress(&c);
    unsigned char* bytes = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &bytes, &size);
    c.image_width = JDIMENSION(image.columns);
    c.image_height = JDIMENSION(image.rows);
    c.input_components = s.components;
    c.in_color_space = s.components == 1 ? JCS_GRAYSCALE : s.components == 3 ? JCS_RGB : JCS_CMYK;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 95, TRUE);
    if (s.components == 3) {
        c.comp_info[0].h_samp_factor = c.comp_info[0].v_samp_factor = s.sampling;
    }
    if (s.progressive) jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(image.data() + c.next_scanline * image.row_bytes);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    std::string out(reinterpret_cast<char*>(bytes), size);
    jpeg_destroy_compress(&c);
    std::free(bytes);
    return out;
}

/* A smooth picture, such as JPEG is made for, with some detail. */
HostImage smooth_image(int rows, int columns, int planes, int depth) {
    return make_image(rows, columns, planes, depth, [&](int x, int y, int p) {
        double v = 0.5 + 0.3 * std::sin(x * 0.21 + p) * std::cos(y * 0.17 - p) +
                   0.15 * std::sin((x + 2 * y) * 0.05);
        return depth == 32 ? double(float(v)) : std::round(v * white_of(depth));
    });
}

/* The samples of a binary PPM (P6) or PGM (P5) file. */
std::vector<uint8_t> pnm_samples(const std::string& bytes) {
    size_t at = 0;
    int fields = 0;
    while (fields < 4 && at < bytes.size()) {
        while (at < bytes.size() && std::isspace(uint8_t(bytes[at]))) at++;
        while (at < bytes.size() && !std::isspace(uint8_t(bytes[at]))) at++;
        fields++;
    }
    return std::vector<uint8_t>(bytes.begin() + long(at) + 1, bytes.end());
}

TEST(ImageRead, JpegFiles) {
    const JpegSpec specs[] = {{"baseline 4:2:0", 3, false, 2},
                              {"baseline 4:4:4", 3, false, 1},
                              {"progressive 4:2:0", 3, true, 2},
                              {"progressive 4:4:4", 3, true, 1},
                              {"grey", 1, false, 1},
                              {"CMYK", 4, false, 1}};
    bool have_djpeg = std::system("djpeg -version </dev/null >/dev/null 2>&1") == 0;
    for (const JpegSpec& s : specs) {
        HostImage source = smooth_image(45, 61, s.components, 8);
        std::string path = temp_path("kind.jpg"), ppm = temp_path("kind.pnm");
        save(path, write_jpeg(s, source));
        ImageFile got;
        std::string error;
        ASSERT_TRUE(image_read(path, &got, &error)) << s.name << ": " << error;
        EXPECT_EQ(got.format, ImageFormat::jpeg);
        EXPECT_EQ(got.colours, s.components == 1   ? ImageColours::grey
                               : s.components == 4 ? ImageColours::cmyk
                                                   : ImageColours::rgb)
            << s.name;
        ASSERT_EQ(got.image.planes, s.components);
        ASSERT_EQ(got.image.rows, 45);
        ASSERT_EQ(got.image.columns, 61);
        /* Close to what went in ... */
        double total = 0;
        for (int y = 0; y < 45; y++)
            for (int x = 0; x < 61; x++)
                for (int p = 0; p < s.components; p++)
                    total +=
                        std::abs(host_sample(got.image, x, y, p) - host_sample(source, x, y, p));
        EXPECT_LT(total / (45 * 61 * s.components), 2.0) << s.name;
        /* ... and exactly what djpeg, libjpeg's own decoder, makes of it. */
        if (have_djpeg && s.components != 4) {
            ASSERT_EQ(std::system(("djpeg -pnm -outfile '" + ppm + "' '" + path + "'").c_str()), 0);
            std::vector<uint8_t> expect = pnm_samples(load(ppm));
            ASSERT_EQ(expect.size(), size_t(45 * 61 * s.components)) << s.name;
            EXPECT_EQ(0, std::memcmp(expect.data(), got.image.data(), expect.size())) << s.name;
        }
        std::remove(path.c_str());
        std::remove(ppm.c_str());
    }
    if (!have_djpeg) GTEST_SKIP() << "djpeg (libjpeg-turbo-progs) is missing: no comparison";
}

TEST(ImageRead, BrokenJpegFilesAreRefused) {
    HostImage source = smooth_image(64, 64, 3, 8);
    std::string whole = write_jpeg({"baseline", 3, false, 2}, source);
    std::string progressive = write_jpeg({"progressive", 3, true, 2}, source);
    struct Case {
        const char* name;
        std::string bytes, message;
    } cases[] = {
        {"ends early", whole.substr(0, whole.size() / 2), "a corrupt or truncated JPEG file"},
        {"progressive, ends early", progressive.substr(0, progressive.size() / 3),
         "a corrupt or truncated JPEG file"},
        {"header only", whole.substr(0, 20), "a corrupt or truncated JPEG file"},
        {"three bytes", whole.substr(0, 3), "a corrupt or truncated JPEG file"},
    };
    for (const Case& c : cases) {
        std::string path = temp_path("broken.jpg");
        save(path, c.bytes);
        ImageFile got;
        std::string error;
        EXPECT_FALSE(image_read(path, &got, &error)) << c.name;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.name << ": " << error;
        std::remove(path.c_str());
    }
}

/* ---- TIFF, written by libtiff ---- */

struct TiffSpec {
    int depth, planes;
    bool tiled, separate;
    uint16_t compression;
    bool ycbcr; /* JPEG in YCbCr, 2 x 2 subsampled */
};

std::string tiff_name(const TiffSpec& s) {
    return std::to_string(s.depth) + " bits, " + std::to_string(s.planes) + " planes, " +
           (s.tiled ? "tiles" : "strips") + (s.separate ? ", separate" : ", contiguous") +
           ", compression " + std::to_string(s.compression) + (s.ycbcr ? " YCbCr" : "");
}

/* Writes the image (16 bits as the file's 0..65535) with libtiff. */
void write_tiff(const std::string& path, const TiffSpec& s, const HostImage& image) {
    TIFF* t = TIFFOpen(path.c_str(), "w");
    ASSERT_TRUE(t);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, uint32_t(image.columns));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, uint32_t(image.rows));
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, uint16_t(s.planes));
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, uint16_t(s.depth));
    TIFFSetField(t, TIFFTAG_SAMPLEFORMAT,
                 uint16_t(s.depth == 32 ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_UINT));
    TIFFSetField(t, TIFFTAG_PLANARCONFIG,
                 uint16_t(s.separate ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG));
    TIFFSetField(t, TIFFTAG_COMPRESSION, s.compression);
    if (s.planes == 4) {
        uint16_t extra = EXTRASAMPLE_UNASSALPHA;
        TIFFSetField(t, TIFFTAG_EXTRASAMPLES, uint16_t(1), &extra);
    }
    if (s.ycbcr) {
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, uint16_t(PHOTOMETRIC_YCBCR));
        TIFFSetField(t, TIFFTAG_YCBCRSUBSAMPLING, uint16_t(2), uint16_t(2));
        TIFFSetField(t, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    } else {
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, uint16_t(PHOTOMETRIC_RGB));
    }
    if (s.compression == COMPRESSION_JPEG) TIFFSetField(t, TIFFTAG_JPEGQUALITY, 95);
    if (s.compression == COMPRESSION_LZW || s.compression == COMPRESSION_ADOBE_DEFLATE)
        TIFFSetField(t, TIFFTAG_PREDICTOR, uint16_t(s.depth == 32 ? 3 : 2));
    int bytes = host_sample_bytes(s.depth), passes = s.separate ? s.planes : 1;
    int per = s.separate ? 1 : s.planes;
    auto sample = [&](int x, int y, int p, uint8_t* to) {
        double v = host_sample(image, x, y, p);
        if (s.depth == 8) *to = uint8_t(v);
        if (s.depth == 16) {
            uint16_t w = from_interface16(uint16_t(v));
            std::memcpy(to, &w, 2);
        }
        if (s.depth == 32) {
            float f = float(v);
            std::memcpy(to, &f, 4);
        }
    };
    if (s.tiled) {
        const uint32_t tw = 16, th = 16;
        TIFFSetField(t, TIFFTAG_TILEWIDTH, tw);
        TIFFSetField(t, TIFFTAG_TILELENGTH, th);
        std::vector<uint8_t> tile(size_t(tw) * th * per * bytes);
        for (int p = 0; p < passes; p++)
            for (uint32_t ty = 0; ty < uint32_t(image.rows); ty += th)
                for (uint32_t tx = 0; tx < uint32_t(image.columns); tx += tw) {
                    std::fill(tile.begin(), tile.end(), 0);
                    for (uint32_t r = 0; r < th && ty + r < uint32_t(image.rows); r++)
                        for (uint32_t c = 0; c < tw && tx + c < uint32_t(image.columns); c++)
                            for (int q = 0; q < per; q++)
                                sample(int(tx + c), int(ty + r), s.separate ? p : q,
                                       &tile[((r * tw + c) * per + q) * bytes]);
                    ASSERT_GE(TIFFWriteTile(t, tile.data(), tx, ty, 0, uint16_t(p)), 0);
                }
    } else {
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, uint32_t(s.compression == COMPRESSION_JPEG ? 16 : 5));
        std::vector<uint8_t> row(size_t(image.columns) * per * bytes);
        for (int p = 0; p < passes; p++)
            for (int y = 0; y < image.rows; y++) {
                for (int x = 0; x < image.columns; x++)
                    for (int q = 0; q < per; q++)
                        sample(x, y, s.separate ? p : q, &row[(size_t(x) * per + q) * bytes]);
                ASSERT_GE(TIFFWriteScanline(t, row.data(), uint32_t(y), uint16_t(p)), 0);
            }
    }
    TIFFClose(t);
}

TEST(ImageRead, EveryLayoutAndCompressionOfTiff) {
    std::vector<TiffSpec> specs;
    for (int depth : {8, 16, 32})
        for (int planes : {3, 4})
            for (bool tiled : {false, true})
                for (bool separate : {false, true})
                    for (uint16_t compression : {COMPRESSION_NONE, COMPRESSION_LZW,
                                                 COMPRESSION_ADOBE_DEFLATE, COMPRESSION_PACKBITS})
                        specs.push_back({depth, planes, tiled, separate, compression, false});
    for (bool tiled : {false, true}) {
        specs.push_back({8, 3, tiled, false, COMPRESSION_JPEG, true});
        specs.push_back({8, 3, tiled, false, COMPRESSION_JPEG, false});
        specs.push_back({8, 3, tiled, true, COMPRESSION_JPEG, false});
    }
    for (const TiffSpec& s : specs) {
        std::string name = tiff_name(s), path = temp_path("kind.tif");
        HostImage source = smooth_image(37, 45, s.planes, s.depth);
        write_tiff(path, s, source);
        ImageFile got;
        std::string error;
        ASSERT_TRUE(image_read(path, &got, &error)) << name << ": " << error;
        EXPECT_EQ(got.format, ImageFormat::tiff);
        EXPECT_EQ(got.colours, ImageColours::rgb) << name;
        if (s.compression != COMPRESSION_JPEG) {
            EXPECT_TRUE(host_same_samples(got.image, source)) << name;
        } else {
            ASSERT_EQ(got.image.planes, 3) << name;
            double total = 0, most = 0;
            for (int y = 0; y < 37; y++)
                for (int x = 0; x < 45; x++)
                    for (int p = 0; p < 3; p++) {
                        double d = std::abs(host_sample(got.image, x, y, p) -
                                            host_sample(source, x, y, p));
                        total += d;
                        most = std::max(most, d);
                    }
            EXPECT_LT(total / (37 * 45 * 3), 2.5) << name;
            EXPECT_LT(most, 40) << name;
        }
        std::remove(path.c_str());
    }
}

/* Sets the value of a short tag in a little-endian TIFF's first directory. */
void patch_short_tag(std::string* tiff, uint16_t tag, uint16_t value) {
    uint32_t ifd;
    std::memcpy(&ifd, tiff->data() + 4, 4);
    uint16_t count;
    std::memcpy(&count, tiff->data() + ifd, 2);
    for (uint16_t i = 0; i < count; i++) {
        char* entry = &(*tiff)[ifd + 2 + 12 * i];
        uint16_t t;
        std::memcpy(&t, entry, 2);
        if (t == tag) std::memcpy(entry + 8, &value, 2);
    }
}

TEST(ImageRead, UnsupportedTiffsAreNamed) {
    std::string base = temp_path("base.tif"), path = temp_path("odd.tif");
    auto raw = [&](uint16_t bits, uint16_t format, uint16_t photometric, uint16_t spp,
                   uint16_t compression) {
        TIFF* t = TIFFOpen(base.c_str(), "w");
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, uint32_t(8));
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, uint32_t(4));
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, spp);
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, bits);
        TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, format);
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, photometric);
        TIFFSetField(t, TIFFTAG_COMPRESSION, compression);
        if (compression == COMPRESSION_SGILOG)
            TIFFSetField(t, TIFFTAG_SGILOGDATAFMT, SGILOGDATAFMT_FLOAT);
        if (photometric == PHOTOMETRIC_PALETTE) {
            std::vector<uint16_t> map(size_t(1) << bits, 0);
            TIFFSetField(t, TIFFTAG_COLORMAP, map.data(), map.data(), map.data());
        }
        std::vector<uint8_t> row(size_t(8) * spp * (bits + 7) / 8 + 64, 0);
        for (uint32_t y = 0; y < 4; y++) TIFFWriteScanline(t, row.data(), y, 0);
        TIFFClose(t);
        return load(base);
    };
    std::string ojpeg = raw(8, SAMPLEFORMAT_UINT, PHOTOMETRIC_RGB, 3, COMPRESSION_NONE);
    patch_short_tag(&ojpeg, TIFFTAG_COMPRESSION, COMPRESSION_OJPEG);
    struct Case {
        const char* name;
        std::string bytes, message;
    } cases[] = {
        {"1-bit", raw(1, SAMPLEFORMAT_UINT, PHOTOMETRIC_MINISBLACK, 1, COMPRESSION_NONE),
         "1-bit (bilevel) TIFF files are not supported"},
        {"palette", raw(8, SAMPLEFORMAT_UINT, PHOTOMETRIC_PALETTE, 1, COMPRESSION_NONE),
         "palette TIFF files are not supported"},
        {"64-bit float", raw(64, SAMPLEFORMAT_IEEEFP, PHOTOMETRIC_RGB, 3, COMPRESSION_NONE),
         "64-bit float samples are not supported"},
        {"LogLuv", raw(32, SAMPLEFORMAT_IEEEFP, PHOTOMETRIC_LOGLUV, 3, COMPRESSION_SGILOG),
         "LogLuv TIFF files are not supported"},
        {"old-style JPEG", ojpeg, "old-style JPEG compression is not supported"},
        {"signed", raw(16, SAMPLEFORMAT_INT, PHOTOMETRIC_RGB, 3, COMPRESSION_NONE),
         "16-bit signed integer samples are not supported"},
    };
    for (const Case& c : cases) {
        save(path, c.bytes);
        ImageFile got;
        std::string error;
        EXPECT_FALSE(image_read(path, &got, &error)) << c.name;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.name << ": " << error;
        EXPECT_EQ(error.find("damaged"), std::string::npos) << c.name << ": " << error;
    }
    std::remove(base.c_str());
    std::remove(path.c_str());
}

} // namespace

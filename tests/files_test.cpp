/* files_test.cpp - the spectra command on many files at once, on JPEG and
 * huge inputs, and writing its outputs safely in folders that others can
 * write to. */
#include "cli_fixture.h"
#include "limit.h"

#include <algorithm>
#include <cstring>
#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>
#include <unistd.h>

namespace {

/* A new RGB TIFF of libtiff's own making, its rows still to be written; a
 * fourth plane is alpha. Null when it cannot be created. */
TIFF* new_tiff(const std::string& path, uint32_t width, uint32_t height, uint16_t planes,
               uint16_t bits) {
    TIFF* t = TIFFOpen(path.c_str(), "w");
    if (!t) return nullptr;
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, planes);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, uint16_t(PHOTOMETRIC_RGB));
    if (planes == 4) {
        uint16_t extra = EXTRASAMPLE_UNASSALPHA;
        TIFFSetField(t, TIFFTAG_EXTRASAMPLES, uint16_t(1), &extra);
    }
    return t;
}

/* A binary PPM of an 8-bit RGB image, for cjpeg. */
std::string ppm_of(const HostImage& image) {
    std::string s =
        "P6\n" + std::to_string(image.columns) + " " + std::to_string(image.rows) + "\n255\n";
    for (int y = 0; y < image.rows; y++)
        s.append(reinterpret_cast<const char*>(image.data() + y * image.row_bytes),
                 size_t(image.columns) * 3);
    return s;
}

class Files : public Cli {
  protected:
    /* name.jpg made by cjpeg from the image. */
    void write_jpeg(const std::string& name, const HostImage& image,
                    const std::string& options = "") {
        write_bytes("source.ppm", ppm_of(image));
        ASSERT_EQ(std::system(("cjpeg " + options + " -outfile '" + path(name) + "' '" +
                               path("source.ppm") + "'")
                                  .c_str()),
                  0);
        std::remove(path("source.ppm").c_str());
    }
    HostImage read(const std::string& name) {
        ImageFile file;
        std::string error;
        EXPECT_TRUE(image_read(path(name), &file, &error)) << error;
        return file.image;
    }
    mode_t mode(const std::string& name) {
        struct stat s;
        return stat(path(name).c_str(), &s) == 0 ? s.st_mode & 07777 : 0;
    }
};

TEST_F(Files, ManyFilesIntoAFolder) {
    HostImage rgb = noise_image(12, 20, 3, 8, 1), deep = noise_image(9, 14, 4, 32, 2);
    write("a.png", rgb);
    write_jpeg("b.jpg", noise_image(16, 24, 3, 8, 3));
    write("c.tif", deep);
    write("grey.tif", make_image(4, 4, 1, 8, [](int, int, int) { return 9.0; }));
    write_bytes("bad.png", "not a picture");
    /* d.png's output cannot be written: a folder holds its name */
    write("d.png", rgb);
    ASSERT_EQ(std::system(("mkdir -p " + path("out/sub/d.png")).c_str()), 0);
    Result r = spectra("run SpectraRow " + path("a.png") + " " + path("grey.tif") + " " +
                       path("b.jpg") + " " + path("d.png") + " " + path("bad.png") + " " +
                       path("c.tif") + " -o " + path("out/sub/"));
    /* The worst failure's code (5 for the output, 2 for the bad file), one
     * line for each failure naming its file, in the order of the inputs,
     * and nothing else. */
    EXPECT_EQ(r.code, 5) << r.output;
    EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '\n'), 2) << r.output;
    size_t d = r.output.find("spectra: " + path("d.png") + ": " + path("out/sub/d.png") +
                             ": cannot be written");
    size_t bad = r.output.find("spectra: " + path("bad.png") + ": not a PNG, JPEG or TIFF file");
    EXPECT_TRUE(d < bad && bad != std::string::npos) << r.output;
    Plugin row("SpectraRow");
    /* the grey picture went through as RGB and came back grey: plane 0 */
    HostImage grey_row = row.run(make_image(4, 4, 3, 8, [](int, int, int) { return 9.0; }));
    HostImage grey_out = read("out/sub/grey.tif");
    ASSERT_EQ(grey_out.planes, 1);
    for (int y = 0; y < 4; y++)
        for (int x = 0; x < 4; x++)
            EXPECT_EQ(host_sample(grey_out, x, y, 0), host_sample(grey_row, x, y, 0));
    EXPECT_TRUE(host_same_samples(read("out/sub/a.png"), row.run(rgb)));
    EXPECT_TRUE(host_same_samples(read("out/sub/c.tif"), row.run(deep)));
    EXPECT_TRUE(host_same_samples(read("out/sub/b.png"), row.run(read("b.jpg"))));
    EXPECT_FALSE(exists(path("out/sub/bad.png")));

    /* Every file fine: exit 0 and no output at all off a terminal. */
    Result fine = spectra("run SpectraPlane " + path("a.png") + " -o " + path("out"));
    EXPECT_EQ(fine.code, 0) << fine.output;
    EXPECT_EQ(fine.output, "");
    EXPECT_TRUE(host_same_samples(read("out/a.png"), Plugin("SpectraPlane").run(rgb)));

    /* after --, a name that begins with '-' is a file's */
    write("-a.png", rgb);
    Result dashed = spectra("run SpectraPlane -- -a.png -b.png", "cd '" + dir + "' && ");
    EXPECT_EQ(dashed.code, 0) << dashed.output;
    EXPECT_TRUE(host_same_samples(read("-b.png"), Plugin("SpectraPlane").run(rgb)));
}

TEST_F(Files, ProgressOnATerminal) {
    if (std::system("script -qec true /dev/null >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "no script(1) to make a terminal";
    write("a.png", noise_image(6, 8, 3, 8, 4));
    write("b.png", noise_image(6, 8, 3, 8, 5));
    std::string command = std::string(SPECTRA_COMMAND) + " run SpectraPlane " + path("a.png") +
                          " " + path("b.png") + " -o " + path("out");
    Result r = shell("script -qec \"" + command + "\" /dev/null");
    EXPECT_NE(r.output.find("spectra: 1 of 2: " + path("a.png")), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("spectra: 2 of 2: " + path("b.png")), std::string::npos) << r.output;
    EXPECT_TRUE(exists(path("out/b.png")));
}

TEST_F(Files, NoInputIsReplacedOrWrittenTwice) {
    HostImage image = noise_image(6, 8, 3, 8, 6);
    write("a.png", image);
    mkdir(path("x").c_str(), 0777);
    write("x/a.png", noise_image(6, 8, 3, 8, 7));
    std::string before = read_bytes("a.png");
    Result same = spectra("run SpectraPlane " + path("a.png") + " -o " + dir);
    EXPECT_EQ(same.code, 5) << same.output;
    EXPECT_NE(same.output.find("would replace its input"), std::string::npos) << same.output;
    EXPECT_EQ(read_bytes("a.png"), before);

    Result twice =
        spectra("run SpectraPlane " + path("a.png") + " " + path("x/a.png") + " -o " + path("o"));
    EXPECT_EQ(twice.code, 5) << twice.output;
    EXPECT_NE(twice.output.find(path("x/a.png") + ": " + path("o/a.png") + ": written already"),
              std::string::npos)
        << twice.output;
    EXPECT_TRUE(host_same_samples(read("o/a.png"), Plugin("SpectraPlane").run(image)));
}

TEST_F(Files, JpegInJpegOutRefusedForSpectra) {
    write_jpeg("photo.jpg", noise_image(10, 16, 3, 8, 8), "-progressive");
    Result r = spectra("run SpectraPlane " + path("photo.jpg") + " " + path("spectrum.png"));
    EXPECT_EQ(r.code, 0) << r.output;
    EXPECT_TRUE(
        host_same_samples(read("spectrum.png"), Plugin("SpectraPlane").run(read("photo.jpg"))));
    Result out = spectra("run SpectraPlane " + path("photo.jpg") + " " + path("spectrum.jpg"));
    EXPECT_EQ(out.code, 5) << out.output;
    EXPECT_NE(out.output.find("a spectrum is not written as JPEG"), std::string::npos)
        << out.output;
    EXPECT_FALSE(exists(path("spectrum.jpg")));
    /* a grey JPEG's spectrum is grey, and comes back as the picture */
    write_jpeg("grey.jpg", noise_image(10, 16, 3, 8, 9), "-grayscale");
    Result grey = spectra("spectrum " + path("grey.jpg") + " " + path("g.png"));
    EXPECT_EQ(grey.code, 0) << grey.output;
    EXPECT_EQ(read("g.png").planes, 1);
    Result back = spectra("inverse " + path("g.png") + " " + path("back.png"));
    EXPECT_EQ(back.code, 0) << back.output;
    EXPECT_TRUE(host_same_samples(read("back.png"), read("grey.jpg")));
}

TEST_F(Files, PlantedLinksAreNeverFollowed) {
    write("in.png", noise_image(6, 8, 3, 8, 10));
    write_bytes("victim", "precious");
    /* The names that earlier versions used for the temporary file and the
     * target itself, both links to the victim; -f replaces the target. */
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        std::string planted = path(".spectra-" + std::to_string(getpid()) + "-out.png.tmp");
        if (symlink(path("victim").c_str(), planted.c_str()) != 0) _exit(98);
        if (symlink(path("victim").c_str(), path("out.png").c_str()) != 0) _exit(98);
        execl(SPECTRA_COMMAND, SPECTRA_COMMAND, "run", "-f", "SpectraPlane", path("in.png").c_str(),
              path("out.png").c_str(), (char*)nullptr);
        _exit(99);
    }
    int status;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(read_bytes("victim"), "precious");
    std::string planted = path(".spectra-" + std::to_string(pid) + "-out.png.tmp");
    char target[4096] = {};
    EXPECT_GT(readlink(planted.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), path("victim"));
    /* The target link itself was replaced by the new file. */
    struct stat s;
    ASSERT_EQ(lstat(path("out.png").c_str(), &s), 0);
    EXPECT_TRUE(S_ISREG(s.st_mode));
    EXPECT_TRUE(host_same_samples(read("out.png"), Plugin("SpectraPlane").run(read("in.png"))));
}

TEST_F(Files, OutputsGetTheUmasksPermissions) {
    write("in.png", noise_image(6, 8, 3, 8, 11));
    struct Case {
        const char* umask;
        const char* output;
        mode_t mode;
    } cases[] = {{"022", "a.png", 0644},
                 {"077", "b.png", 0600},
                 {"022", "c.tif", 0644},
                 {"027", "d.tif", 0640}};
    for (const Case& c : cases) {
        Result r = spectra("run SpectraRow " + path("in.png") + " " + path(c.output),
                           std::string("umask ") + c.umask + "; ");
        EXPECT_EQ(r.code, 0) << r.output;
        EXPECT_EQ(mode(c.output), c.mode) << c.output;
    }
}

TEST_F(Files, HugeClaimsFailCleanly) {
    if (!address_limits_work()) GTEST_SKIP() << "no address-space limits here";
    /* A JPEG header that claims 30000 x 30000 pixels: its SOF marker
     * patched. */
    write_jpeg("small.jpg", noise_image(16, 16, 3, 8, 12));
    std::string jpeg = read_bytes("small.jpg");
    size_t sof = jpeg.find("\xff\xc0");
    ASSERT_NE(sof, std::string::npos);
    jpeg[sof + 5] = jpeg[sof + 7] = char(30000 >> 8);
    jpeg[sof + 6] = jpeg[sof + 8] = char(30000 & 0xff);
    write_bytes("claims.jpg", jpeg);
    /* A tiled TIFF of 30000 x 30000 with one tile written. */
    TIFF* t = new_tiff(path("claims.tif"), 30000, 30000, 3, 8);
    ASSERT_TRUE(t);
    TIFFSetField(t, TIFFTAG_COMPRESSION, uint16_t(COMPRESSION_ADOBE_DEFLATE));
    TIFFSetField(t, TIFFTAG_TILEWIDTH, uint32_t(256));
    TIFFSetField(t, TIFFTAG_TILELENGTH, uint32_t(256));
    std::vector<uint8_t> tile(256 * 256 * 3, 7);
    TIFFWriteTile(t, tile.data(), 0, 0, 0, 0);
    TIFFClose(t);
    for (const char* input : {"claims.jpg", "claims.tif"}) {
        Result r = spectra("run SpectraPlane " + path(input) + " " + path("out.png"),
                           "ulimit -v 300000; ");
        EXPECT_EQ(r.code, 2) << input << ": " << r.output;
        EXPECT_NE(r.output.find("not enough memory for this image"), std::string::npos) << r.output;
        EXPECT_FALSE(exists(path("out.png")));
    }
}

TEST_F(Files, DemoRemovesAPattern) {
    Result r = spectra("demo " + path("demo"));
    ASSERT_EQ(r.code, 0) << r.output;
    double before = 0, after = 0;
    size_t at = r.output.find("with the pattern:"), at2 = r.output.find("pattern removed:");
    ASSERT_NE(at, std::string::npos) << r.output;
    ASSERT_NE(at2, std::string::npos) << r.output;
    before = std::atof(r.output.c_str() + at + 17);
    after = std::atof(r.output.c_str() + at2 + 16);
    EXPECT_LT(before, 26) << r.output;
    EXPECT_GT(after, 33) << r.output;
    /* The files are what the plug-ins make of each other: the painted
     * spectrum differs from the spectrum in a few samples only, and the
     * cleaned picture is its inverse. */
    HostImage pattern = read("demo/pattern.png"), spectrum = read("demo/pattern-spectrum.png"),
              painted = read("demo/pattern-painted.png"),
              cleaned = read("demo/pattern-removed.png");
    EXPECT_TRUE(host_same_samples(spectrum, Plugin("SpectraPlane").run(pattern)));
    EXPECT_TRUE(host_same_samples(cleaned, Plugin("SpectraPlaneInverse").run(painted)));
    int differ = 0;
    for (int y = 0; y < spectrum.rows; y++)
        for (int x = 0; x < spectrum.columns; x++)
            for (int p = 0; p < 3; p++)
                if (host_sample(spectrum, x, y, p) != host_sample(painted, x, y, p)) differ++;
    EXPECT_GT(differ, 0);
    EXPECT_LE(differ, 2 * 25 * 3);
    EXPECT_TRUE(exists(path("demo/contact-sheet.png")));

    /* The guide's pictures, from the photograph beside them. */
    mkdir(path("guide").c_str(), 0777);
    ASSERT_EQ(std::system(("cp '" + std::string(SPECTRA_PHOTO) + "' " + path("guide")).c_str()), 0);
    r = spectra("demo --guide " + path("guide"));
    ASSERT_EQ(r.code, 0) << r.output;
    at = r.output.find("  descreened:"), at2 = r.output.find("  removed:");
    ASSERT_NE(at2, std::string::npos) << r.output;
    EXPECT_GT(std::atof(r.output.c_str() + at + 13), 25) << r.output;
    EXPECT_GT(std::atof(r.output.c_str() + at2 + 10), 35) << r.output;
    HostImage stripes = read("guide/guide-stripes-spectrum.png");
    EXPECT_EQ(stripes.columns, 2 * read("guide/guide-stripes.png").columns);
    for (const char* name :
         {"guide-spectrum.png", "guide-grating.png", "guide-line.png", "guide-halftone.png",
          "guide-descreened.png", "guide-stripes-painted.png", "guide-stripes-removed.png"})
        EXPECT_TRUE(exists(path("guide/") + name)) << name;
}

/* The 16-bit samples of a TIFF file as it stores them. */
std::vector<uint16_t> tiff16_samples(const std::string& path) {
    std::vector<uint16_t> samples;
    TIFF* t = TIFFOpen(path.c_str(), "r");
    if (!t) return samples;
    uint32_t width = 0, height = 0;
    uint16_t planes = 0;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetField(t, TIFFTAG_SAMPLESPERPIXEL, &planes);
    std::vector<uint16_t> row(size_t(width) * planes);
    for (uint32_t y = 0; y < height; y++) {
        TIFFReadScanline(t, row.data(), y, 0);
        samples.insert(samples.end(), row.begin(), row.end());
    }
    TIFFClose(t);
    return samples;
}

TEST_F(Files, SixteenBitSamplesLeftAloneKeepTheirFileValues) {
    /* Every 16-bit value in the alpha plane and in the colour planes; half
     * of them share their interface value with a neighbour and would not
     * come back through the conversion alone. */
    const uint32_t side = 256;
    TIFF* t = new_tiff(path("in.tif"), side, side, 4, 16);
    ASSERT_TRUE(t);
    std::vector<uint16_t> row(side * 4);
    for (uint32_t y = 0; y < side; y++) {
        for (uint32_t x = 0; x < side; x++)
            for (uint32_t p = 0; p < 4; p++)
                row[x * 4 + p] = uint16_t(y * side + (x + 85 * p) % side);
        TIFFWriteScanline(t, row.data(), y, 0);
    }
    TIFFClose(t);
    std::vector<uint16_t> in = tiff16_samples(path("in.tif"));
    for (const char* plugin : {"SpectraPlane", "SpectraPlaneInverse"}) {
        Result r =
            spectra(std::string("run -f ") + plugin + " " + path("in.tif") + " " + path("out.tif"));
        ASSERT_EQ(r.code, 0) << r.output;
        std::vector<uint16_t> out = tiff16_samples(path("out.tif"));
        ASSERT_EQ(out.size(), in.size());
        size_t kept = 0, written = 0;
        for (uint32_t y = 0; y < side; y++)
            for (uint32_t x = 0; x < side; x++)
                for (uint32_t p = 0; p < 4; p++) {
                    size_t i = (size_t(y) * side + x) * 4 + p;
                    /* alpha always, and the inverse's phase half */
                    bool alone = p == 3 || (std::string(plugin) != "SpectraPlane" && x >= side / 2);
                    if (alone) {
                        ASSERT_EQ(out[i], in[i]) << plugin << " at " << x << ", " << y << ", " << p;
                        kept++;
                    } else {
                        written += out[i] != in[i];
                    }
                }
        EXPECT_GT(written, size_t(side * side)) << plugin;
        EXPECT_GE(kept, size_t(side * side)) << plugin;
    }
}

} // namespace

/* The samples of a file as it holds them (16 bits as 0..65535), and the
 * record that it carries. */
ImageFile read_file(const std::string& path) {
    ImageFile file;
    std::string error;
    EXPECT_TRUE(image_read(path, &file, &error)) << error;
    if (!file.original.storage.empty()) file.image = file.original;
    return file;
}

/* PSNR of b against a over every plane, in the depth's own white. */
double psnr(const HostImage& a, const HostImage& b) {
    double white = a.depth == 8 ? 255 : a.depth == 16 ? 65535 : 1, sum = 0;
    for (int y = 0; y < a.rows; y++)
        for (int x = 0; x < a.columns; x++)
            for (int p = 0; p < a.planes; p++) {
                double d = host_sample(a, x, y, p) - host_sample(b, x, y, p);
                sum += d * d;
            }
    return 10 * std::log10(white * white * a.rows * a.columns * a.planes / sum);
}

TEST_F(Files, APhotosSpectrumAndBackInOneStep) {
    HostImage photo = read_file(SPECTRA_PHOTO).image; /* 451 x 300: an odd width */
    /* the photo at 16 bits (0..32768 here) with its low bits filled, and
     * as floats */
    uint32_t seed = 7;
    HostImage deep = make_image(photo.rows, photo.columns, 3, 16, [&](int x, int y, int p) {
        return std::max(0.0, host_sample(photo, x, y, p) * 128.5 - double(lcg(&seed) % 128));
    });
    HostImage floats = make_image(photo.rows, photo.columns, 3, 32, [&](int x, int y, int p) {
        return host_sample(photo, x, y, p) / 255 + 1e-4 * (x % 3);
    });
    /* an odd height and alpha */
    HostImage alpha = make_image(photo.rows - 1, 200, 4, 8, [&](int x, int y, int p) {
        return p == 3 ? double((x * 7 + y) % 256) : host_sample(photo, x, y, p);
    });
    struct Case {
        const char *input, *spectrum, *back;
        const HostImage& made;
        int spectrum_depth;
        double least_db; /* 0: at least 99.9 % of the samples equal, none off by more than 1 */
    } cases[] = {
        {"photo.png", "s8.png", "b8.png", photo, 16, 0},
        {"deep.png", "s16.png", "b16.tif", deep, 16, 78},
        {"floats.tif", "s32.tif", "b32.tif", floats, 32, 130},
        {"alpha.png", "sa.tif", "ba.png", alpha, 16, 0},
    };
    for (const Case& c : cases) {
        write(c.input, c.made);
        HostImage picture = read_file(path(c.input)).image;
        Result r = spectra("spectrum " + path(c.input) + " " + path(c.spectrum));
        ASSERT_EQ(r.code, 0) << r.output;
        EXPECT_EQ(r.output, "");
        /* SpectraPlane's picture of a canvas twice as wide, the photo at
         * the left, black on the right, and opaque there */
        ImageFile spectrum = read_file(path(c.spectrum));
        int w = picture.columns, d = c.spectrum_depth;
        double white = d == 8 ? 255 : d == 16 ? 32768 : 1;
        double scale = white / (picture.depth == 8 ? 255 : picture.depth == 16 ? 65535 : 1);
        HostImage canvas =
            make_image(picture.rows, 2 * w, picture.planes, d, [&](int x, int y, int p) {
                if (x >= w) return p == 3 ? white : 0.0;
                double v = host_sample(picture, x, y, p) * scale;
                return d == 32 ? v : std::round(v);
            });
        HostImage expect = Plugin("SpectraPlane").run(canvas);
        ImageFile got;
        std::string error;
        ASSERT_TRUE(image_read(path(c.spectrum), &got, &error));
        EXPECT_TRUE(host_same_samples(got.image, expect)) << c.input;
        EXPECT_EQ(got.record.depth, picture.depth) << c.input;
        EXPECT_EQ(got.record.columns, w);
        EXPECT_EQ(got.record.rows, picture.rows);

        r = spectra("inverse " + path(c.spectrum) + " " + path(c.back));
        ASSERT_EQ(r.code, 0) << r.output;
        EXPECT_EQ(r.output, "");
        HostImage back = read_file(path(c.back)).image;
        ASSERT_EQ(back.depth, picture.depth) << c.input;
        ASSERT_EQ(back.columns, w);
        ASSERT_EQ(back.rows, picture.rows);
        if (c.least_db) {
            EXPECT_GE(psnr(picture, back), c.least_db) << c.input;
            continue;
        }
        int64_t equal = 0, total = 0;
        for (int y = 0; y < back.rows; y++)
            for (int x = 0; x < w; x++)
                for (int p = 0; p < back.planes; p++, total++) {
                    double e =
                        std::fabs(host_sample(back, x, y, p) - host_sample(picture, x, y, p));
                    ASSERT_LE(e, p == 3 ? 0 : 1) << c.input << " at " << x << ", " << y;
                    equal += e == 0;
                }
        EXPECT_GE(double(equal) / double(total), 0.999) << c.input;
    }

    /* An editor that drops the record: the file's own depth, with a note;
     * --depth serves then. A record that the picture no longer fits is
     * not used. */
    ImageFile edited;
    std::string error;
    ASSERT_TRUE(image_read(path("s8.png"), &edited, &error));
    write("edited.png", edited.image);
    Result r = spectra("inverse " + path("edited.png") + " " + path("e16.png"));
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.output.find("edited.png carries no record of its source"), std::string::npos)
        << r.output;
    EXPECT_EQ(read_file(path("e16.png")).image.depth, 16);
    r = spectra("inverse --depth 8 " + path("edited.png") + " " + path("e8.png"));
    EXPECT_EQ(r.output, "");
    EXPECT_TRUE(host_same_samples(read_file(path("e8.png")).image, photo));
    edited.image = host_left_half(edited.image);
    image_write(path("cropped.png"), edited.image, &error, &edited);
    r = spectra("inverse " + path("cropped.png") + " " + path("c.png"));
    EXPECT_NE(r.output.find("does not fit; the record is not used"), std::string::npos) << r.output;

    /* Many files: a JPEG's spectrum is a PNG, 32 bits a TIFF. */
    write_jpeg("j.jpg", photo);
    r = spectra("spectrum " + path("photo.png") + " " + path("j.jpg") + " -o " + path("s"));
    EXPECT_EQ(r.code, 0) << r.output;
    r = spectra("spectrum --depth 32 " + path("photo.png") + " -o " + path("s32"));
    EXPECT_EQ(r.code, 0) << r.output;
    r = spectra("inverse " + path("s/photo.png") + " " + path("s/j.png") + " " +
                path("s32/photo.tif") + " -o " + path("back"));
    EXPECT_EQ(r.code, 0) << r.output;
    EXPECT_TRUE(host_same_samples(read("back/photo.png"), photo));
    EXPECT_TRUE(host_same_samples(read("back/photo.tif"), photo));
    EXPECT_EQ(read("back/j.png").depth, 8);
}

/* A 6 x 3 RGB picture written by libpng itself, with these text chunks
 * before the pixels and these after them. */
void write_png_with_text(const std::string& path,
                         std::vector<std::pair<const char*, const char*>> before,
                         std::vector<std::pair<const char*, const char*>> after) {
    FILE* f = std::fopen(path.c_str(), "wb");
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png), end = png_create_info_struct(png);
    png_init_io(png, f);
    png_set_IHDR(png, info, 6, 3, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    auto texts = [&](png_infop where, std::vector<std::pair<const char*, const char*>>& list) {
        for (auto& t : list) {
            png_text text = {};
            text.compression = PNG_TEXT_COMPRESSION_NONE;
            text.key = const_cast<char*>(t.first);
            text.text = const_cast<char*>(t.second);
            png_set_text(png, where, &text, 1);
        }
    };
    texts(info, before);
    png_write_info(png, info);
    std::vector<uint8_t> row(18, 90);
    for (int y = 0; y < 3; y++) png_write_row(png, row.data());
    texts(end, after);
    png_write_end(png, end);
    png_destroy_info_struct(png, &end);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
}

TEST_F(Files, RecordsWrittenByOtherTools) {
    /* The record among other texts, after the pixels; one malformed; one
     * in a TIFF description that libtiff wrote. */
    write_png_with_text(path("after.png"), {{"Comment", "made elsewhere"}},
                        {{"Software", "x"}, {"spectra-source", "depth 16, 3 x 3"}});
    write_png_with_text(path("malformed.png"), {{"spectra-source", "depth 12, 3 x 3"}}, {});
    TIFF* t = new_tiff(path("described.tif"), 6, 3, 3, 8);
    ASSERT_TRUE(t);
    TIFFSetField(t, TIFFTAG_IMAGEDESCRIPTION, "spectra-source: depth 32, 3 x 3");
    std::vector<uint8_t> row(18, 90);
    for (uint32_t y = 0; y < 3; y++) TIFFWriteScanline(t, row.data(), y, 0);
    TIFFClose(t);
    struct Case {
        const char *input, *output;
        int depth;
        const char* note; /* "": none */
    } cases[] = {
        {"after.png", "a.png", 16, ""},
        {"malformed.png", "m.png", 8, "malformed.png carries no record of its source"},
        {"described.tif", "d.tif", 32, ""},
    };
    for (const Case& c : cases) {
        Result r = spectra("inverse " + path(c.input) + " " + path(c.output));
        EXPECT_EQ(r.code, 0) << r.output;
        if (*c.note)
            EXPECT_NE(r.output.find(c.note), std::string::npos) << r.output;
        else
            EXPECT_EQ(r.output, "") << c.input;
        HostImage back = read_file(path(c.output)).image;
        EXPECT_EQ(back.depth, c.depth) << c.input;
        EXPECT_EQ(back.columns, 3) << c.input;
    }
}

/* A colour profile's header of 128 bytes and an empty tag table: libtiff
 * and libjpeg carry it as it is (libpng checks profiles more closely, and
 * takes real ones only). */
static std::vector<uint8_t> tiny_profile() {
    std::vector<uint8_t> p(132, 0);
    auto put = [&](size_t at, const char* four) { std::memcpy(&p[at], four, 4); };
    p[3] = 132;
    p[8] = 2, p[9] = 0x10;
    put(12, "mntr"), put(16, "RGB "), put(20, "XYZ "), put(36, "acsp");
    return p;
}

/* A file's profile and resolution as libpng, libtiff or libjpeg read them,
 * by its extension: what other programs will find in our outputs. */
static ImageMeta meta_by_its_library(const std::string& path) {
    ImageMeta m;
    const std::string extension = path.substr(path.rfind('.') + 1);
    if (extension == "png") {
        FILE* f = std::fopen(path.c_str(), "rb");
        png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        png_init_io(png, f);
        png_read_info(png, info);
        png_charp name;
        int compression;
        png_bytep icc = nullptr;
        png_uint_32 size = 0, x = 0, y = 0;
        int unit = 0;
        if (png_get_iCCP(png, info, &name, &compression, &icc, &size))
            m.icc.assign(icc, icc + size);
        if (png_get_pHYs(png, info, &x, &y, &unit) && unit == PNG_RESOLUTION_METER)
            m.dpi_x = x * 0.0254, m.dpi_y = y * 0.0254;
        png_destroy_read_struct(&png, &info, nullptr);
        std::fclose(f);
    } else if (extension == "tif") {
        TIFF* t = TIFFOpen(path.c_str(), "r");
        uint32_t size = 0;
        void* icc = nullptr;
        if (TIFFGetField(t, TIFFTAG_ICCPROFILE, &size, &icc))
            m.icc.assign(static_cast<uint8_t*>(icc), static_cast<uint8_t*>(icc) + size);
        float x = 0, y = 0;
        uint16_t unit = 0;
        if (TIFFGetField(t, TIFFTAG_XRESOLUTION, &x) && TIFFGetField(t, TIFFTAG_YRESOLUTION, &y) &&
            TIFFGetField(t, TIFFTAG_RESOLUTIONUNIT, &unit)) {
            double per_inch = unit == RESUNIT_CENTIMETER ? 2.54 : 1;
            m.dpi_x = x * per_inch, m.dpi_y = y * per_inch;
        }
        TIFFClose(t);
    } else {
        jpeg_decompress_struct d;
        jpeg_error_mgr e;
        d.err = jpeg_std_error(&e);
        jpeg_create_decompress(&d);
        FILE* f = std::fopen(path.c_str(), "rb");
        jpeg_stdio_src(&d, f);
        jpeg_save_markers(&d, JPEG_APP0 + 2, 0xffff);
        jpeg_read_header(&d, TRUE);
        JOCTET* icc = nullptr;
        unsigned size = 0;
        if (jpeg_read_icc_profile(&d, &icc, &size)) m.icc.assign(icc, icc + size);
        std::free(icc);
        if (d.density_unit == 1) m.dpi_x = d.X_density, m.dpi_y = d.Y_density;
        jpeg_destroy_decompress(&d);
        std::fclose(f);
    }
    return m;
}

TEST_F(Files, PicturesKeepTheirProfileResolutionAndOrientation) {
    const std::vector<uint8_t> icc = tiny_profile();
    const HostImage photo = noise_image(12, 20, 3, 8, 21);
    /* a PNG at 300 dpi, by libpng itself */
    FILE* f = std::fopen(path("p.png").c_str(), "wb");
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, f);
    png_set_IHDR(png, info, 20, 12, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_pHYs(png, info, 11811, 11811, PNG_RESOLUTION_METER);
    png_write_info(png, info);
    for (int y = 0; y < 12; y++) png_write_row(png, photo.data() + y * photo.row_bytes);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
    /* a TIFF with a profile, at 120 pixels a centimetre, by libtiff */
    TIFF* t = new_tiff(path("t.tif"), 20, 12, 3, 8);
    ASSERT_TRUE(t);
    TIFFSetField(t, TIFFTAG_ICCPROFILE, uint32_t(icc.size()), icc.data());
    TIFFSetField(t, TIFFTAG_XRESOLUTION, 120.0f);
    TIFFSetField(t, TIFFTAG_YRESOLUTION, 120.0f);
    TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, uint16_t(RESUNIT_CENTIMETER));
    for (uint32_t y = 0; y < 12; y++)
        TIFFWriteScanline(t, const_cast<uint8_t*>(photo.data() + y * photo.row_bytes), y, 0);
    TIFFClose(t);
    /* a phone's JPEG, taken sideways: Exif orientation 6, the picture to be
     * turned a quarter clockwise */
    static const uint8_t exif[] = {'E', 'x',  'i', 'f', 0, 0, 'M', 'M', 0, 42, 0, 0, 0, 8, 0, 1,
                                   1,   0x12, 0,   3,   0, 0, 0,   1,   0, 6,  0, 0, 0, 0, 0, 0};
    jpeg_compress_struct c;
    jpeg_error_mgr e;
    c.err = jpeg_std_error(&e);
    jpeg_create_compress(&c);
    f = std::fopen(path("phone.jpg").c_str(), "wb");
    jpeg_stdio_dest(&c, f);
    c.image_width = 20, c.image_height = 12, c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_start_compress(&c, TRUE);
    jpeg_write_marker(&c, JPEG_APP0 + 1, exif, sizeof exif);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(photo.data() + c.next_scanline * photo.row_bytes);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::fclose(f);

    struct Case {
        const char *command, *input, *output;
        bool profile;
        double dpi;
    } cases[] = {
        {"run SpectraDescreen", "t.tif", "d.tif", true, 304.8},
        {"run SpectraDescreen", "t.tif", "d.jpg", true, 305},
        {"run SpectraDescreen", "p.png", "d.png", false, 299.9994},
        {"spectrum", "t.tif", "s.tif", false, 304.8},
        {"run SpectraPlane", "p.png", "s.png", false, 299.9994},
    };
    for (const Case& k : cases) {
        Result r = spectra(std::string(k.command) + " -q " + path(k.input) + " " + path(k.output));
        ASSERT_EQ(r.code, 0) << k.output << ": " << r.output;
        /* as this command reads it back, and as the format's own library does */
        for (const ImageMeta& meta :
             {read_file(path(k.output)).meta, meta_by_its_library(path(k.output))}) {
            EXPECT_EQ(meta.icc, k.profile ? icc : std::vector<uint8_t>()) << k.output;
            EXPECT_NEAR(meta.dpi_x, k.dpi, 0.01) << k.output;
            EXPECT_NEAR(meta.dpi_y, k.dpi, 0.01) << k.output;
        }
    }
    /* the spectrum keeps the resolution for the picture it turns back into */
    ASSERT_EQ(spectra("inverse " + path("s.tif") + " " + path("b.tif")).code, 0);
    EXPECT_NEAR(read_file(path("b.tif")).meta.dpi_x, 304.8, 0.01);
    EXPECT_NEAR(meta_by_its_library(path("b.tif")).dpi_x, 304.8, 0.01);

    /* the phone's picture comes out upright, with no tag to turn it again:
     * the stored picture's bottom-left pixel is the upright one's top-left */
    Result r = spectra("run SpectraDescreen -q " + path("phone.jpg") + " " + path("up.png"));
    ASSERT_EQ(r.code, 0) << r.output;
    HostImage up = read_file(path("up.png")).image;
    ASSERT_EQ(up.columns, 12);
    ASSERT_EQ(up.rows, 20);
    jpeg_decompress_struct d;
    d.err = jpeg_std_error(&e);
    jpeg_create_decompress(&d);
    f = std::fopen(path("phone.jpg").c_str(), "rb");
    jpeg_stdio_src(&d, f);
    jpeg_read_header(&d, TRUE);
    jpeg_start_decompress(&d);
    HostImage stored = host_image(12, 20, 3, 8);
    while (d.output_scanline < d.output_height) {
        JSAMPROW row = stored.data() + d.output_scanline * stored.row_bytes;
        jpeg_read_scanlines(&d, &row, 1);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    std::fclose(f);
    for (int y = 0; y < 20; y++)
        for (int x = 0; x < 12; x++)
            for (int p = 0; p < 3; p++)
                ASSERT_EQ(host_sample(up, x, y, p), host_sample(stored, y, 11 - x, p))
                    << x << "," << y;
}

/* cli_test.cpp - the spectra command end to end: its outputs against the host
 * library's in-memory runs, the 16-bit conversion, bad inputs, and info. */
#include "cli_fixture.h"
#include "limit.h"

#include <algorithm>
#include <csignal>
#include <png.h>
#include <unistd.h>

namespace {

TEST_F(Cli, RunsMatchTheHostLibrary) {
    struct Case {
        const char* plugin;
        int depth, planes, rows, columns;
        const char* extension;
    } cases[] = {
        {"SpectraPlane", 8, 3, 9, 14, "png"},         {"SpectraPlane", 16, 4, 7, 11, "png"},
        {"SpectraPlane", 32, 3, 6, 10, "tif"},        {"spectraplaneinverse", 8, 4, 5, 12, "tif"},
        {"SpectraPlaneInverse", 16, 3, 8, 9, "tiff"}, {"SpectraVolume", 32, 4, 7, 13, "tif"},
        {"SPECTRAVOLUME", 8, 3, 4, 8, "png"},         {"SpectraRow", 16, 4, 3, 15, "png"},
        {"SpectraRow", 32, 3, 5, 7, "tif"},
    };
    uint32_t seed = 1;
    for (const Case& c : cases) {
        std::string what = std::string(c.plugin) + " at " + std::to_string(c.depth);
        HostImage in = noise_image(c.rows, c.columns, c.planes, c.depth, seed++);
        std::string input = std::string("in.") + c.extension,
                    output = std::string("out.") + c.extension;
        write(input, in);
        Result r =
            spectra(std::string("run -f ") + c.plugin + " " + path(input) + " " + path(output));
        ASSERT_EQ(r.code, 0) << what << ": " << r.output;

        ImageFile got;
        std::string error;
        ASSERT_TRUE(image_read(path(output), &got, &error)) << error;
        std::string name = c.plugin;
        for (const char* canonical : all_plugins)
            if (strcasecmp(canonical, c.plugin) == 0) name = canonical;
        HostImage expect = Plugin(name).run(in);
        EXPECT_TRUE(host_same_samples(got.image, expect)) << what;
        if (c.planes == 4) { /* alpha comes back unchanged */
            for (int y = 0; y < c.rows; y++)
                for (int x = 0; x < c.columns; x++)
                    ASSERT_EQ(host_sample(got.image, x, y, 3), host_sample(in, x, y, 3)) << what;
        }
    }
}

TEST_F(Cli, SixteenBitValuesSurviveTheFiles) {
    for (int v = 0; v <= 32768; v++) {
        ASSERT_EQ(to_interface16(from_interface16(uint16_t(v))), v) << v;
    }
    /* every value through a PNG and a TIFF file */
    HostImage all = make_image(110, 100, 3, 16, [](int x, int y, int p) {
        return double(std::min(32768, (y * 100 + x) * 3 + p));
    });
    for (const char* name : {"all.png", "all.tif"}) {
        write(name, all);
        ImageFile back;
        std::string error;
        ASSERT_TRUE(image_read(path(name), &back, &error)) << error;
        EXPECT_TRUE(host_same_samples(all, back.image)) << name;
    }
}

TEST_F(Cli, BadInputsFailCleanly) {
    HostImage rgb = noise_image(6, 8, 3, 8, 3);
    write("good.png", rgb);
    write("good32.tif", noise_image(6, 8, 3, 32, 4));
    write("grey.tif", make_image(4, 4, 1, 8, [](int, int, int) { return 9.0; }));
    std::string png = read_bytes("good.png");
    write_bytes("truncated.png", png.substr(0, png.size() / 2));
    write_bytes("text.png", "this is not an image\n");
    std::string tif = read_bytes("good32.tif");
    write_bytes("truncated.tif", tif.substr(0, 200));
    write_bytes("windows.8bf", "MZ and then nothing of use");
    write_bytes("notes.8bf", "plain text\n");
    write("wide.png", host_image(1, 32768, 3, 8));
    write("half-wide.png", host_image(1, 16384, 3, 8));
    write("narrow.png", host_image(5, 1, 3, 8));
    mkdir(path("folder.png").c_str(), 0777);

    struct Case {
        std::string arguments, output;
        int code;
        std::string message;
    } cases[] = {
        {"run SpectraPlane " + path("missing.png") + " OUT", "o1.png", 2,
         "missing.png: No such file"},
        {"run SpectraPlane " + path("folder.png") + " OUT", "o2.png", 2,
         "folder.png: Is a directory"},
        {"run SpectraPlane " + path("truncated.png") + " OUT", "o3.png", 2,
         "truncated.png: a corrupt or truncated PNG"},
        {"run SpectraPlane " + path("text.png") + " OUT", "o4.png", 2,
         "text.png: not a PNG, JPEG or TIFF file"},
        {"run SpectraPlane " + path("truncated.tif") + " OUT", "o5.tif", 2, "truncated.tif: "},
        {"run SpectraPlane " + path("wide.png") + " OUT", "o6.png", 2, "larger than 32767"},
        {"run SpectraPlane " + path("good32.tif") + " OUT", "o8.png", 5,
         "PNG cannot hold 32-bit float"},
        {"run SpectraPlane " + path("good.png") + " OUT", "o9.jpg", 5,
         "a spectrum is not written as JPEG"},
        {"run SpectraPlane " + path("good.png") + " OUT", "o9.gif", 5, "unknown output format"},
        {"run SpectraPlane " + path("good.png") + " OUT", "nofolder/o10.png", 5,
         "cannot be written"},
        {"run NoSuchPlugin " + path("good.png") + " OUT", "o11.png", 3,
         "no plug-in named NoSuchPlugin"},
        {"run " + path("windows.8bf") + " " + path("good.png") + " OUT", "o12.png", 3,
         "built for another machine"},
        {"run " + path("notes.8bf") + " " + path("good.png") + " OUT", "o13.png", 3,
         "notes.8bf: not a plug-in library"},
        {"run " + path("missing.8bf") + " " + path("good.png") + " OUT", "o14.png", 3,
         "missing.8bf: cannot be opened"},
        {"run SpectraPlane " + path("good.png"), "o15.png", 1, "run takes PLUGIN INPUT OUTPUT"},
        {"run SpectraPlane -o " + path("o18"), "o18", 1, "PLUGIN INPUT... -o DIR"},
        {"run SpectraPlane " + path("good.png") + " -o", "o25.png", 1, "PLUGIN INPUT... -o DIR"},
        {"run SpectraPlane " + path("good.png") + " " + dir, "o26.png", 1,
         "is a folder; to write into it, use -o"},
        {"frobnicate", "o16.png", 1, "unknown verb frobnicate"},
        {"run --fast SpectraPlane", "o17.png", 1, "unknown option --fast"},
        {"run --depth 8 SpectraPlane", "o19.png", 1, "unknown option --depth"},
        {"spectrum --depth 12 " + path("good.png") + " OUT", "o20.png", 1,
         "--depth takes 8, 16 or 32"},
        {"spectrum " + path("half-wide.png") + " OUT", "o21.png", 2,
         "its spectrum, twice as wide, would be larger than 32767"},
        {"inverse " + path("narrow.png") + " OUT", "o22.png", 2, "one column wide"},
        {"inverse " + path("good.png"), "o23.png", 1, "inverse takes INPUT OUTPUT"},
        {"descreen " + path("good.png"), "o27.png", 1, "descreen takes INPUT OUTPUT"},
        {"descreen " + path("good32.tif") + " OUT", "o28.jpg", 5,
         "JPEG cannot hold 32-bit float samples"},
        {"descreen " + path("good.png") + " OUT", "nofolder/o29.jpg", 5, "cannot be written"},
        {"descreen --quality 0 " + path("good.png") + " OUT", "o30.jpg", 1,
         "--quality takes 1 to 100"},
    };
    for (Case& c : cases) {
        std::string arguments = c.arguments;
        size_t at = arguments.find("OUT");
        if (at != std::string::npos) arguments.replace(at, 3, path(c.output));
        Result r = spectra(arguments);
        EXPECT_EQ(r.code, c.code) << arguments << "\n" << r.output;
        EXPECT_NE(r.output.find(c.message), std::string::npos) << arguments << "\n" << r.output;
        EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '\n'), c.code == 1 ? 2 : 1)
            << r.output;
        EXPECT_FALSE(exists(path(c.output))) << c.output;
    }
    expect_only({"folder.png", "good.png", "good32.tif", "grey.tif", "half-wide.png", "narrow.png",
                 "notes.8bf", "text.png", "truncated.png", "truncated.tif", "wide.png",
                 "windows.8bf"});
    EXPECT_EQ(read_bytes("good.png"), png); /* the input is never changed */
}

/* A flat grey RGB PNG of width x height whose first `rows` rows are
 * written, packed as tightly as zlib can; with fewer rows than the height
 * the file ends early. */
void write_flat_png(const std::string& path, uint32_t width, uint32_t height, uint32_t rows) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_TRUE(f);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, f);
    png_set_compression_level(png, 9);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    std::vector<png_byte> row(size_t(width) * 3, 128);
    for (uint32_t y = 0; y < rows; y++) png_write_row(png, row.data());
    if (rows == height) png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
}

TEST_F(Cli, ImagesTooLargeForTheirFileOrTheMemoryFailCleanly) {
    if (!address_limits_work()) GTEST_SKIP() << "no address-space limits here";
    const std::string limit = "ulimit -v 300000; ";
    /* A text chunk that claims 2 GB in a file that then ends: refused as
     * truncated, without the 2 GB ever being asked for. */
    write("good.png", noise_image(4, 6, 3, 8, 2));
    std::string png = read_bytes("good.png");
    const size_t after_header = 8 + 25;
    write_bytes("huge-text.png",
                png.substr(0, after_header) + std::string("\x7f\0\0\0tEXtspectra\0", 17));
    /* 30000 x 30000 pixels (2.7 GB) claimed by a file of 32 KB */
    write_flat_png(path("claims.png"), 30000, 30000, 400);
    /* 9000 x 9000 pixels that are all there: 243 MB that the limit refuses */
    write_flat_png(path("big.png"), 9000, 9000, 9000);
    struct Case {
        const char* input;
        const char* message;
    } cases[] = {
        {"huge-text.png", "a corrupt or truncated PNG file (Read Error)"},
        {"claims.png", "a corrupt or truncated PNG file (too short for 30000 x 30000 pixels)"},
        {"big.png", "spectra: not enough memory for this image"},
    };
    for (const Case& c : cases) {
        Result r = spectra("run SpectraPlane " + path(c.input) + " " + path("out.png"), limit);
        EXPECT_EQ(r.code, 2) << c.input << ": " << r.output;
        EXPECT_NE(r.output.find(c.message), std::string::npos) << r.output;
        EXPECT_FALSE(exists(path("out.png")));
    }
}

TEST_F(Cli, PluginFailureIsNamedAndLeavesNoOutput) {
    /* Under a small address-space limit SpectraVolume cannot get its buffers. */
    if (!address_limits_work()) GTEST_SKIP() << "no address-space limits here";
    write("big.png", noise_image(2500, 5000, 3, 8, 9));
    Result r = spectra("run SpectraVolume " + path("big.png") + " " + path("out.png"),
                       "ulimit -v 200000; ");
    EXPECT_EQ(r.code, 4) << r.output;
    EXPECT_NE(r.output.find("SpectraVolume failed: memFullErr (-108)"), std::string::npos)
        << r.output;
    EXPECT_FALSE(exists(path("out.png")));
}

TEST_F(Cli, OutputsThatCannotBeWrittenLeaveNothing) {
    write("in.png", noise_image(300, 400, 3, 16, 4));
    std::string input = read_bytes("in.png");
    /* A folder that cannot be written: root may write any folder of ours,
     * but not /sys. */
    std::string locked = geteuid() == 0 ? "/sys" : path("locked");
    if (geteuid() != 0) mkdir(locked.c_str(), 0555);
    /* an existing picture, which only -f replaces; the input, which
     * nothing does, by its path, another path, or a hard link */
    write("kept.png", noise_image(5, 7, 3, 8, 5));
    std::string kept = read_bytes("kept.png");
    ASSERT_EQ(link(path("in.png").c_str(), path("linked.png").c_str()), 0);
    struct Case {
        std::string prefix, output, message;
    } cases[] = {
        {"", "/dev/full", "/dev/full: cannot be written (No space left on device)"},
        {"ulimit -f 50; ", path("out.png"), "cannot be written (File too large)"},
        {"ulimit -f 50; ", path("out.tif"), "cannot be written (File too large)"},
        {"", locked + "/out.png", "out.png: cannot be written ("},
        {"", path("kept.png"), "kept.png: exists; -f replaces it"},
        {"", path("in.png"), "in.png: is the input; choose another name"},
        {"", dir + "/./in.png", "in.png: is the input; choose another name"},
        {"", "-f " + path("linked.png"), "linked.png: is the input; choose another name"},
    };
    for (const Case& c : cases) {
        Result r = spectra("run SpectraPlane " + path("in.png") + " " + c.output, c.prefix);
        EXPECT_EQ(r.code, 5) << c.output << ": " << r.output;
        EXPECT_NE(r.output.find(c.message), std::string::npos) << r.output;
        EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '\n'), 1) << r.output;
    }
    EXPECT_FALSE(exists(locked + "/out.png"));
    if (geteuid() != 0) rmdir(locked.c_str());
    expect_only({"in.png", "kept.png", "linked.png"});
    EXPECT_EQ(read_bytes("in.png"), input);
    EXPECT_EQ(read_bytes("kept.png"), kept);
    /* asked, it is replaced */
    Result r = spectra("run -f SpectraPlane " + path("in.png") + " " + path("kept.png"));
    EXPECT_EQ(r.code, 0) << r.output;
    EXPECT_NE(read_bytes("kept.png"), kept);
}

/* Has process `pid` set a handler for `signal`? Its caught signals are a
 * mask in /proc/PID/status. */
bool catches(pid_t pid, int signal) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, 7, "SigCgt:") == 0)
            return (std::stoull(line.substr(7), nullptr, 16) >> (signal - 1)) & 1;
    return false;
}

TEST_F(Cli, SignalsLeaveNoPartialOutput) {
    /* A 16-bit picture large enough that reading, running and writing each
     * take a while. */
    write("in.png", noise_image(2048, 3072, 3, 16, 5));
    std::string input = read_bytes("in.png");
    struct Case {
        int signal;
        bool while_writing; /* else soon after the start */
        const char* message;
    } cases[] = {{SIGINT, false, "spectra: interrupted (SIGINT)"},
                 {SIGTERM, true, "spectra: terminated (SIGTERM)"},
                 {SIGINT, true, "spectra: interrupted (SIGINT)"}};
    for (const Case& c : cases) {
        std::string out = path("out.png"), log = path("log");
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            freopen(log.c_str(), "w", stderr);
            execl(SPECTRA_COMMAND, SPECTRA_COMMAND, "run", "SpectraPlane", path("in.png").c_str(),
                  out.c_str(), (char*)nullptr);
            _exit(99);
        }
        /* the signal goes once the command catches it, or once its output
         * is being written */
        bool seen = false;
        for (int i = 0; i < 20000 &&
                        !(seen = c.while_writing ? !temporaries().empty() : catches(pid, c.signal));
             i++)
            usleep(500);
        kill(pid, c.signal);
        int status;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status)) << "ended by its signal";
        EXPECT_EQ(WEXITSTATUS(status), 128 + c.signal);
        EXPECT_TRUE(seen) << (c.while_writing ? "the write was never seen"
                                              : "the handler was never set");
        std::string message = read_bytes("log");
        EXPECT_NE(message.find(c.message), std::string::npos) << message;
        std::remove(log.c_str());
        expect_only({"in.png"});
    }
    EXPECT_EQ(read_bytes("in.png"), input);
}

const double pi = 3.14159265358979323846;

/* SpectraDescreen says in one line per file what it took out, and -q
 * keeps it quiet; the periods and angles are those put in. */
TEST_F(Cli, DescreenSaysWhatItTookOut) {
    struct Case {
        const char* what;
        double (*pattern)(int x, int y);
        const char* says;
    } cases[] = {
        {"noise", [](int, int) { return 0.0; }, "nothing periodic found: unchanged"},
        {"a dot screen",
         [](int x, int y) {
             double t = 15 * pi / 180, k = 2 * pi / 5;
             return 0.12 * (std::cos(k * (x * std::cos(t) + y * std::sin(t))) +
                            std::cos(k * (y * std::cos(t) - x * std::sin(t))));
         },
         "screen of 5.0 px at 15 and 105\u00b0: removed"},
        {"stripes", [](int x, int) { return 0.08 * std::sin(2 * pi * x / 8); },
         "stripes of 8.0 px at 0\u00b0: removed"},
    };
    for (const Case& c : cases) {
        HostImage noise = noise_image(192, 256, 3, 8, 5);
        HostImage in = make_image(192, 256, 3, 8, [&](int x, int y, int p) {
            double v = 0.4 + 0.1 * host_sample(noise, x, y, p) / 255 + c.pattern(x, y);
            return std::round(v * 255);
        });
        write("in.png", in);
        Result r = spectra("run -f SpectraDescreen " + path("in.png") + " " + path("out.png"));
        ASSERT_EQ(r.code, 0) << c.what << ": " << r.output;
        EXPECT_EQ(r.output, "spectra: " + path("in.png") + ": " + c.says + "\n") << c.what;
        r = spectra("run -q -f SpectraDescreen " + path("in.png") + " " + path("quiet.png"));
        EXPECT_EQ(r.code, 0) << c.what;
        EXPECT_EQ(r.output, "") << c.what;
    }
}

TEST_F(Cli, InfoPrintsThePropertyList) {
    struct Case {
        const char* plugin;
        const char* name;
    } cases[] = {{"SpectraPlane", "SpectraPlane...."},
                 {"spectraplaneinverse", "SpectraPlaneInverse..."},
                 {"SpectraVolume", "SpectraVolume...."},
                 {"SpectraRow", "SpectraRow...."},
                 {"spectradescreen", "SpectraDescreen"}};
    for (const Case& c : cases) {
        /* the descreen works on grey documents too; the spectra are of RGB */
        bool grey = std::string(c.name) == "SpectraDescreen";
        Result r = spectra(std::string("info ") + c.plugin);
        ASSERT_EQ(r.code, 0) << r.output;
        for (std::string line :
             {std::string("name:          ") + c.name, std::string("category:      Quillon 2018"),
              std::string("kind:          8BFM"), std::string("version:       4.0"),
              std::string("entry point:   ENTRYPOINT"),
              std::string(grey ? "modes:         GrayScaleMode, RGBMode (50 00 00 00)"
                               : "modes:         RGBMode (10 00 00 00)"),
              std::string(grey ? "enabled when:  in (PSHOP_ImageMode, RGBMode, "
                                 "RGB48Mode, RGB96Mode, GrayScaleMode, Gray16Mode, "
                                 "Gray32Mode)"
                               : "enabled when:  in (PSHOP_ImageMode, RGBMode, "
                                 "RGB48Mode, RGB96Mode)"),
              std::string("  1 flat image, no selection                4, 4, 0x07"),
              std::string("  7 protected transparency, with selection  4, 4, 0x0f"),
              std::string("largest image: 32767 rows x 32767 columns")})
            EXPECT_NE(r.output.find(line + "\n"), std::string::npos) << line << "\n" << r.output;
    }
    Result list = spectra("list");
    EXPECT_EQ(list.code, 0);
    for (const char* name : all_plugins)
        EXPECT_NE(list.output.find(std::string(name) + " "), std::string::npos) << list.output;
    /* plug-ins are also found in SPECTRA_PLUGIN_PATH */
    std::system(("cp '" + plugin_path("SpectraRow") + "' '" + path("Other.8bf") + "'").c_str());
    Result found = spectra("list", "SPECTRA_PLUGIN_PATH='" + dir + "' ");
    EXPECT_NE(found.output.find(path("Other.8bf")), std::string::npos) << found.output;
}

} // namespace

/* main.cpp - the spectra command: runs filter plug-ins on image files as an
 * image editor does, and shows what is in a plug-in file. This file holds
 * the verbs' dispatch, the plug-in lookup, info and list. */
#include "spectra.h"

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

bool quiet = false, force = false;
int quality = image_jpeg_quality;

namespace {

const char* const version = "spectra 1.0.6";

const char* const usage_text =
    "usage: spectra VERB [ARGUMENTS]\n"
    "\n"
    "Runs Fourier-spectrum filter plug-ins on PNG, JPEG and TIFF images, as an\n"
    "image editor runs them.\n"
    "\n"
    "verbs:\n"
    "  descreen INPUT OUTPUT        halftone screens, stripes and scan lines found\n"
    "                               and taken out (SpectraDescreen)\n"
    "  descreen INPUT... -o DIR     many files, into the folder DIR\n"
    "  spectrum INPUT OUTPUT        a picture's spectrum: twice as wide, log-magnitude\n"
    "                               left, phase right (16 bits for an 8-bit picture)\n"
    "  inverse INPUT OUTPUT         such a spectrum, edited or not, back to the picture\n"
    "  spectrum|inverse INPUT... -o DIR   many files, into the folder DIR\n"
    "  run PLUGIN INPUT OUTPUT      run a plug-in on an image file\n"
    "  run PLUGIN INPUT... -o DIR   run it on many files, into the folder DIR\n"
    "  info PLUGIN                  show a plug-in's property list\n"
    "  list                         list the plug-ins found\n"
    "  demo [DIR]                   run every plug-in on the sample picture\n"
    "  demo --guide DIR             make the user's guide's pictures\n"
    "\n"
    "PLUGIN is a menu name without its dots, in any case (SpectraPlane,\n"
    "SpectraPlaneInverse, SpectraVolume, SpectraRow, SpectraDescreen), looked\n"
    "up in the folders of SPECTRA_PLUGIN_PATH (separated by ':') and in\n"
    "plugins/ beside the command; or the path of a plug-in file.\n"
    "\n"
    "options: --help (also after a verb), --version, -q or --quiet (no notes and\n"
    "no progress line, only failures), -f or --force (replace an existing OUTPUT\n"
    "file), --depth 8|16|32 (spectrum and inverse: the output's depth),\n"
    "--quality N (a JPEG output's, 1 to 100; 92 when not given), -- (what\n"
    "follows are file names, also those that begin with -)\n"
    "\n"
    "exit codes:\n"
    "  0  done\n"
    "  1  wrong usage\n"
    "  2  an input image that cannot be read or used, or too large for the memory\n"
    "  3  a plug-in that is missing, not a filter plug-in, built for another\n"
    "     machine, or not enabled for the image's mode\n"
    "  4  the plug-in reported a failure (its result code is named)\n"
    "  5  an output that cannot be written\n"
    "  129, 130, 143  stopped by SIGHUP, SIGINT or SIGTERM (128 + its number);\n"
    "     an output being written is removed\n";

const char* const run_help =
    "usage: spectra run PLUGIN INPUT OUTPUT\n"
    "       spectra run PLUGIN INPUT... -o DIR\n"
    "\n"
    "Runs the plug-in on INPUT and writes OUTPUT at the input's depth, in the\n"
    "format of its extension (.png: 8 and 16 bits; .tif, .tiff: 8, 16 bits and\n"
    "32-bit float; .jpg, .jpeg: 8 bits, not for spectra, whose codes would not\n"
    "survive its losses). Inputs are RGB or grey PNG (any kind, palettes too),\n"
    "JPEG or TIFF files with or without alpha; alpha is passed as the last plane\n"
    "and comes back unchanged. A grey picture goes to a plug-in for RGB as RGB\n"
    "and comes back grey. The colour profile and the resolution go to the\n"
    "output (a spectrum keeps the resolution only); a JPEG's Exif orientation is\n"
    "applied. The output's format and folder are checked before the work; the\n"
    "output appears whole or not at all. An OUTPUT file that exists is\n"
    "replaced only with -f; the INPUT never. On a terminal a line shows how far\n"
    "a plug-in has come once it has worked for a second.\n"
    "\n"
    "With -o DIR, each INPUT is written to DIR (made when missing) under its\n"
    "own name, a JPEG as .png. A file that fails is named on one line and the\n"
    "others go on; the exit code is the highest of the failures'.\n"
    "\n"
    "SpectraDescreen says on one line per file what it took out and from how\n"
    "much of the picture, or that it found nothing periodic; -q keeps quiet.\n";

const char* const descreen_help =
    "usage: spectra descreen INPUT OUTPUT\n"
    "       spectra descreen INPUT... -o DIR\n"
    "\n"
    "Runs SpectraDescreen, as spectra run SpectraDescreen does: halftone\n"
    "screens, moire, stripes and scan lines are found and taken out where they\n"
    "are, and one line per file says what was taken out (-q keeps quiet). Grey\n"
    "and RGB pictures; files, folders and exit codes as for run.\n";

const char* const spectrum_help =
    "usage: spectra spectrum INPUT OUTPUT [--depth 8|16|32]\n"
    "       spectra spectrum INPUT... -o DIR [--depth 8|16|32]\n"
    "\n"
    "Writes the spectrum picture of a W x H picture, 2W x H: the picture is put in\n"
    "the left half of a canvas twice as wide and SpectraPlane is run on it, the\n"
    "log-magnitude in the left half, the phase in the right. The depth is 16 bits\n"
    "for an 8-bit picture, so that the way back keeps every sample, else the\n"
    "picture's own; --depth chooses another. OUTPUT records the picture's depth\n"
    "and size for spectra inverse (a PNG text chunk, a TIFF description).\n"
    "Paint in the left half to remove a pattern, save losslessly, and run\n"
    "spectra inverse. Files, folders and exit codes as for run.\n";

const char* const inverse_help =
    "usage: spectra inverse INPUT OUTPUT [--depth 8|16|32]\n"
    "       spectra inverse INPUT... -o DIR [--depth 8|16|32]\n"
    "\n"
    "Runs SpectraPlaneInverse on a spectrum picture (2W x H) and writes the\n"
    "picture, W x H. Its depth is the one that the spectrum file records of its\n"
    "source; a file without the record (editors mostly drop it) comes back at\n"
    "--depth, else at its own depth, with a note. Files, folders and exit codes\n"
    "as for run.\n";

const char* const info_help =
    "usage: spectra info PLUGIN\n"
    "\n"
    "Prints the plug-in's property list: name, category, interface version,\n"
    "entry point, modes, enable expression, filter cases and largest image.\n";

const char* const list_help = "usage: spectra list\n"
                              "\n"
                              "Prints each filter plug-in found, with its file, one per line.\n";

const char* const demo_help =
    "usage: spectra demo [DIR]\n"
    "       spectra demo --guide DIR\n"
    "\n"
    "Runs the plug-ins on the sample picture and SpectraPlaneInverse on its\n"
    "planar spectrum, writes the pictures into DIR (./spectra-demo when\n"
    "omitted) with a contact sheet that shows them side by side, and prints\n"
    "the round trip's PSNR at 8, 16 and 32 bits.\n"
    "\n"
    "With --guide, makes the pictures of the user's guide from the photograph\n"
    "DIR/chelsea.png into DIR (docs/ holds both).\n";

/* A command stopped by a signal leaves no partial output behind: the
 * temporary file of a write in progress is removed before it exits. The
 * plug-ins' worker threads may take a signal too; it is handed to the main
 * thread, which holds the signals off while it creates a temporary file. */
pid_t main_thread_id;
pthread_t main_thread;

void stopped(int signal) {
    if (syscall(SYS_gettid) != main_thread_id) {
        pthread_kill(main_thread, signal);
        return;
    }
    image_remove_temporary();
    const char* text = signal == SIGINT    ? "spectra: interrupted (SIGINT)\n"
                       : signal == SIGTERM ? "spectra: terminated (SIGTERM)\n"
                                           : "spectra: hung up (SIGHUP)\n";
    ssize_t written = write(2, text, std::strlen(text));
    (void)written;
    _exit(128 + signal);
}

void handle_signals() {
    main_thread_id = pid_t(syscall(SYS_gettid));
    main_thread = pthread_self();
    struct sigaction action = {};
    action.sa_handler = stopped;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
    /* A file grown past the size limit fails its write, which is reported,
     * instead of ending the process. */
    std::signal(SIGXFSZ, SIG_IGN);
}

int fail(const Failure& f) {
    std::fprintf(stderr, "spectra: %s\n", f.message.c_str());
    return f.code;
}

int usage_error(const std::string& message) {
    std::fprintf(stderr, "spectra: %s\n(spectra --help tells how to use it)\n", message.c_str());
    return exit_usage;
}

bool same_name(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); i++)
        if (std::tolower(uint8_t(a[i])) != std::tolower(uint8_t(b[i]))) return false;
    return true;
}

std::string hex_bytes(const std::vector<uint8_t>& bytes) {
    std::string s;
    char b[8];
    for (uint8_t v : bytes) {
        std::snprintf(b, sizeof b, "%s%02x", s.empty() ? "" : " ", v);
        s += b;
    }
    return s;
}

int info(int argc, char** argv) {
    if (argc != 1) return usage_error("info takes PLUGIN");
    Failure failure;
    FoundPlugin plugin;
    if (!resolve_plugin(argv[0], &plugin, &failure)) return fail(failure);
    const PiplInfo& i = plugin.info;
    std::printf("file:          %s\n", plugin.path.c_str());
    std::printf("name:          %s\n", i.name.c_str());
    std::printf("category:      %s\n", i.category.c_str());
    std::printf("kind:          %s\n", i.kind.c_str());
    std::printf("version:       %u.%u\n", i.version >> 16, i.version & 0xffff);
    std::printf("entry point:   %s\n", i.entry.c_str());
    std::string modes;
    for (int m = 0; m < 24; m++)
        if (size_t(m >> 3) < i.modes.size() && (i.modes[size_t(m >> 3)] & (0x80 >> (m & 7))))
            modes += (modes.empty() ? "" : ", ") + pipl_mode_name(int16_t(m));
    std::printf("modes:         %s (%s)\n", modes.c_str(), hex_bytes(i.modes).c_str());
    std::printf("enabled when:  %s\n", i.enable.c_str());
    const char* const cases[] = {"flat image, no selection",
                                 "flat image, with selection",
                                 "floating selection",
                                 "editable transparency, no selection",
                                 "editable transparency, with selection",
                                 "protected transparency, no selection",
                                 "protected transparency, with selection"};
    std::printf("filter cases:  input, output, flags (0x01 no source copy, 0x02 blank data,\n"
                "               0x04 layer mask, 0x08 writes outside the selection)\n");
    for (size_t c = 0; c < 7 && c * 4 + 3 < i.cases.size(); c++)
        std::printf("  %zu %-39s %u, %u, 0x%02x\n", c + 1, cases[c], i.cases[c * 4],
                    i.cases[c * 4 + 1], i.cases[c * 4 + 2]);
    std::printf("largest image: %d rows x %d columns\n", i.max_rows, i.max_columns);
    return exit_done;
}

int list(int argc, char**) {
    if (argc != 0) return usage_error("list takes no arguments");
    std::vector<FoundPlugin> plugins = find_plugins();
    for (const FoundPlugin& p : plugins)
        std::printf("%-20s %s\n", host_short_name(p.info.name).c_str(), p.path.c_str());
    if (plugins.empty()) std::fprintf(stderr, "spectra: no plug-ins found\n");
    return exit_done;
}

} // namespace

std::vector<std::string> plugin_folders() {
    std::vector<std::string> folders;
    if (const char* path = std::getenv("SPECTRA_PLUGIN_PATH")) folders = host_path_folders(path);
    folders.push_back(host_program_folder() + "/plugins");
    return folders;
}

std::vector<FoundPlugin> find_plugins() {
    return host_find_plugins(plugin_folders());
}

bool resolve_plugin(const std::string& name, FoundPlugin* found, Failure* failure) {
    std::string error;
    bool is_path = name.find('/') != std::string::npos ||
                   (name.size() > 4 && same_name(name.substr(name.size() - 4), ".8bf"));
    if (is_path) {
        found->path = name;
        if (host_read_info(name, &found->info, &error)) return true;
        *failure = {exit_plugin, error};
        return false;
    }
    for (const FoundPlugin& p : find_plugins())
        if (same_name(host_short_name(p.info.name), name)) {
            *found = p;
            return true;
        }
    std::string folders;
    for (const std::string& f : plugin_folders()) folders += (folders.empty() ? "" : ", ") + f;
    *failure = {exit_plugin, "no plug-in named " + name + " in " + folders};
    return false;
}

int main(int argc, char** argv) {
    handle_signals();
    if (argc < 2) {
        std::fputs(usage_text, stderr);
        return exit_usage;
    }
    std::string verb = argv[1];
    if (verb == "--help" || verb == "-h" || verb == "help") {
        std::fputs(usage_text, stdout);
        return exit_done;
    }
    if (verb == "--version") {
        std::printf("%s\n", version);
        return exit_done;
    }
    struct Verb {
        const char* name;
        int (*run)(int, char**);
        const char* help;
        bool depth; /* takes --depth */
    } verbs[] = {
        {"descreen", descreen, descreen_help, false},
        {"spectrum", spectrum, spectrum_help, true},
        {"inverse", inverse, inverse_help, true},
        {"run", run, run_help, false},
        {"info", info, info_help, false},
        {"list", list, list_help, false},
        {"demo",
         [](int n, char** a) {
             if (n == 2 && std::strcmp(a[0], "--guide") == 0) return demo_guide(a[1]);
             if (n > 1 || (n == 1 && std::strcmp(a[0], "--guide") == 0))
                 return usage_error("demo takes at most one folder, or --guide DIR");
             return demo(n ? a[0] : "spectra-demo");
         },
         demo_help, false},
    };
    for (const Verb& v : verbs) {
        if (verb != v.name) continue;
        /* -q, --quiet and -f, --force: taken out of the arguments
         * wherever they stand before --; after it, a name that begins with
         * '-' is a file's, and is given as ./NAME */
        int kept = 2, names = argc;
        for (int i = 2; i < argc; i++) {
            if (names == argc && std::strcmp(argv[i], "--") == 0)
                names = kept;
            else if (names == argc &&
                     (std::strcmp(argv[i], "-q") == 0 || std::strcmp(argv[i], "--quiet") == 0))
                quiet = true;
            else if (names == argc &&
                     (std::strcmp(argv[i], "-f") == 0 || std::strcmp(argv[i], "--force") == 0))
                force = true;
            else if (names == argc && (std::strcmp(argv[i], "--quality") == 0 ||
                                       std::strncmp(argv[i], "--quality=", 10) == 0)) {
                const char* value = argv[i][9] == '=' ? argv[i] + 10
                                    : i + 1 < argc    ? argv[++i]
                                                      : "";
                char* end = nullptr;
                long q = std::strtol(value, &end, 10);
                if (!*value || *end || q < 1 || q > 100)
                    return usage_error("--quality takes 1 to 100");
                quality = int(q);
            } else
                argv[kept++] = argv[i];
        }
        argc = kept;
        static std::vector<std::string> dotted;
        dotted.reserve(size_t(argc));
        for (int i = names; i < argc; i++)
            if (argv[i][0] == '-') {
                dotted.push_back(std::string("./") + argv[i]);
                argv[i] = const_cast<char*>(dotted.back().c_str());
            }
        for (int i = 2; i < std::min(argc, names); i++) {
            if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
                std::fputs(v.help, stdout);
                return exit_done;
            }
            bool depth =
                std::strcmp(argv[i], "--depth") == 0 || std::strncmp(argv[i], "--depth=", 8) == 0;
            bool guide = std::strcmp(argv[i], "--guide") == 0 && std::strcmp(v.name, "demo") == 0;
            if (argv[i][0] == '-' && argv[i][1] == '-' && !(depth && v.depth) && !guide)
                return usage_error(std::string("unknown option ") + argv[i]);
        }
        /* An image too large for the memory at hand is the one failure
         * that surfaces as an exception. */
        try {
            return v.run(argc - 2, argv + 2);
        } catch (const std::bad_alloc&) {
            std::fprintf(stderr, "spectra: not enough memory for this image\n");
            return exit_input;
        }
    }
    return usage_error("unknown verb " + verb);
}

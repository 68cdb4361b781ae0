/* spectrum.cpp - spectra spectrum and spectra inverse: a picture's
 * spectrum in one step and the picture back, the canvas widened and cropped
 * as a user would do by hand (host/spectrum.h). The spectrum file records
 * the source's depth and size, so that the way back gives the picture at
 * its own depth: an 8-bit photo makes a 16-bit spectrum by default, whose
 * codes keep it, and comes back as 8 bits. */
#include "spectra.h"

#include <cstdio>
#include <cstring>

namespace {

int fail(const Failure& f) {
    std::fprintf(stderr, "spectra: %s\n", f.message.c_str());
    return f.code;
}

/* Takes --depth N (or --depth=N) out of the arguments: the depth, 0 when
 * it is not there, -1 when it is not 8, 16 or 32. */
int32_t take_depth(int* argc, char** argv) {
    int32_t depth = 0;
    for (int i = 0; i < *argc; i++) {
        const char* value = nullptr;
        int taken = 1;
        if (std::strcmp(argv[i], "--depth") == 0) {
            value = i + 1 < *argc ? argv[i + 1] : "";
            taken = i + 1 < *argc ? 2 : 1;
        } else if (std::strncmp(argv[i], "--depth=", 8) == 0) {
            value = argv[i] + 8;
        } else {
            continue;
        }
        depth = std::strcmp(value, "8") == 0    ? 8
                : std::strcmp(value, "16") == 0 ? 16
                : std::strcmp(value, "32") == 0 ? 32
                                                : -1;
        for (int j = i; j + taken < *argc; j++) argv[j] = argv[j + taken];
        *argc -= taken;
        i--;
        if (depth < 0) break;
    }
    return depth;
}

/* The picture's samples as the file holds them: 16 bits as 0..65535. */
const HostImage& file_samples(const ImageFile& file) {
    return file.original.storage.empty() ? file.image : file.original;
}

/* An image file made of such samples, as the readers would have made it. */
ImageFile as_read(HostImage samples, const ImageFile& like) {
    ImageFile file;
    file.colours = like.colours;
    file.format = like.format;
    file.image = std::move(samples);
    if (file.image.depth == 16) image_from_file16(&file);
    return file;
}

std::string bits(int32_t depth) {
    return std::to_string(depth) + " bits";
}

/* The depth that a spectrum file's picture comes back at: the recorded
 * source's, else the one asked for, else the file's own. With `input`,
 * what was chosen is noted on stderr where the file cannot tell. */
int32_t depth_back(const ImageFile& in, int32_t asked, const std::string* input) {
    const SourceRecord& r = in.record;
    bool fits = host_record_fits(r, in.image.columns, in.image.rows);
    int32_t depth = fits ? r.depth : asked ? asked : in.image.depth;
    if (!input) return depth;
    const char* name = input->c_str();
    if (fits && asked && asked != r.depth)
        std::fprintf(stderr,
                     "spectra: note: %s records its source at %s; the picture comes back at "
                     "that depth (--depth serves files without a record)\n",
                     name, bits(r.depth).c_str());
    if (r.depth && !fits)
        std::fprintf(stderr,
                     "spectra: note: %s records a source of %d x %d, which a spectrum of %d x %d "
                     "does not fit; the record is not used\n",
                     name, r.columns, r.rows, in.image.columns, in.image.rows);
    if (!fits && !asked)
        std::fprintf(stderr,
                     "spectra: note: %s carries no record of its source (an editor may have "
                     "dropped it); the picture comes back at the file's depth, %s\n",
                     name, bits(depth).c_str());
    return depth;
}

bool make_spectrum(const FoundPlugin& plane, int32_t depth, Job* job) {
    const HostImage& picture = job->in.image;
    if (picture.columns > host_widest_picture) {
        job->failure = {exit_input, job->input + ": " + std::to_string(picture.columns) + " x " +
                                        std::to_string(picture.rows) +
                                        " pixels: its spectrum, twice as wide, would be larger "
                                        "than 32767 on a side"};
        return false;
    }
    ImageFile canvas =
        as_read(host_spectrum_canvas(host_convert_depth(file_samples(job->in), depth)), job->in);
    if (!run_plugin(plane, canvas, &job->out.image, &job->failure)) return false;
    job->out.original = std::move(canvas.original);
    job->out.record = {picture.depth, picture.columns, picture.rows};
    /* the resolution, but not the colour profile: the samples are codes,
     * which an editor must not convert as colours */
    job->out.meta.dpi_x = job->in.meta.dpi_x;
    job->out.meta.dpi_y = job->in.meta.dpi_y;
    job->out.spectrum = true;
    return true;
}

bool make_picture(const FoundPlugin& inverse, int32_t asked, Job* job) {
    const ImageFile& in = job->in;
    if (in.image.columns < 2) {
        job->failure = {exit_input, job->input + ": one column wide: a spectrum picture is "
                                                 "twice as wide as its picture"};
        return false;
    }
    HostImage out;
    if (!run_plugin(inverse, in, &out, &job->failure)) return false;
    if (out.depth == 16) host_to_file16_after(out, in.original);
    int32_t depth = depth_back(in, asked, &job->input);
    job->out = as_read(host_convert_depth(host_left_half(out), depth), in);
    job->out.meta = in.meta;
    return true;
}

/* What both verbs share: the depth option, the files, the plug-in. */
int one_step(int argc, char** argv, const char* verb, const char* plugin_name, bool forward) {
    int32_t asked = take_depth(&argc, argv);
    if (asked < 0)
        return fail({exit_usage, std::string("--depth takes 8, 16 or 32\n") +
                                     "(spectra --help tells how to use it)"});
    std::vector<std::string> inputs;
    std::string dir;
    if (!files_of(argc, argv, &inputs, &dir))
        return fail({exit_usage, std::string(verb) +
                                     " takes INPUT OUTPUT, or INPUT... -o DIR, and --depth "
                                     "8|16|32\n(spectra --help tells how to use it)"});
    Failure failure;
    FoundPlugin plugin;
    if (!resolve_plugin(plugin_name, &plugin, &failure)) return fail(failure);
    JobSteps steps;
    steps.spectrum = forward;
    if (forward) {
        steps.depth = [asked](const ImageFile& in) {
            return asked ? asked : in.image.depth == 8 ? 16 : in.image.depth;
        };
        steps.transform = [&](Job* job) {
            return make_spectrum(plugin, steps.depth(job->in), job);
        };
    } else {
        steps.depth = [asked](const ImageFile& in) { return depth_back(in, asked, nullptr); };
        steps.transform = [&](Job* job) { return make_picture(plugin, asked, job); };
    }
    return run_jobs(inputs, dir, steps);
}

} // namespace

int spectrum(int argc, char** argv) {
    return one_step(argc, argv, "spectrum", "SpectraPlane", true);
}

int inverse(int argc, char** argv) {
    return one_step(argc, argv, "inverse", "SpectraPlaneInverse", false);
}

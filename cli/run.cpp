/* run.cpp - spectra run: a plug-in on one image file, or on many files
 * into a folder, as an image editor runs it on a document; and the batches
 * of files into a folder that every verb shares. */
#include "spectra.h"
#include "report.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <future>
#include <memory>
#include <new>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace {

/* The document mode of an image file, as an editor would open it. */
int16_t mode_of(const ImageFile& file) {
    const HostImage& image = file.image;
    int d = image.depth == 8 ? 0 : image.depth == 16 ? 1 : 2;
    switch (file.colours) {
    case ImageColours::rgb:
        return pipl_mode_of(image.planes, image.depth);
    case ImageColours::grey:
        return int16_t(d == 0 ? 1 : d == 1 ? 10 : 17);
    case ImageColours::cmyk:
        return int16_t(d == 0 ? 4 : 13);
    default:
        return int16_t(d == 0 ? 7 : 14);
    }
}

/* Why the plug-in is not enabled for the document, in a user's words: an
 * image that only needs converting to RGB says so. */
std::string not_enabled(const FoundPlugin& plugin, const ImageFile& in, const PiplDocument& doc) {
    std::string name = host_short_name(plugin.info.name);
    const char* kind = in.colours == ImageColours::grey   ? "a grey image"
                       : in.colours == ImageColours::cmyk ? "a CMYK image"
                                                          : nullptr;
    PiplDocument as_rgb = doc;
    as_rgb.mode = pipl_mode_of(3, doc.depth);
    as_rgb.channels = 3;
    as_rgb.transparency = false;
    if (!kind || !pipl_enabled(plugin.info, as_rgb))
        return name + " is not enabled for " + pipl_mode_name(doc.mode) + " documents (" +
               plugin.path + ")";
    bool rgb_only = true;
    for (int16_t m = 0; m < 18 && rgb_only; m++) {
        PiplDocument other = doc;
        other.mode = m;
        if (m != 3 && m != 11 && m != 16 && pipl_enabled(plugin.info, other)) rgb_only = false;
    }
    return std::string(kind) + ": " + name + " is enabled for RGB documents" +
           (rgb_only ? " only" : "") + "; convert it to RGB first";
}

/* The name of the output in `dir` for `input`: its own name, with .png
 * for a JPEG (which is not written) or a name without a known extension,
 * and .tif where PNG cannot hold the output's depth. */
std::string output_in(const std::string& dir, const std::string& input, ImageFormat format,
                      int32_t depth) {
    size_t slash = input.rfind('/');
    std::string name = slash == std::string::npos ? input : input.substr(slash + 1);
    size_t dot = name.rfind('.');
    std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
    std::string extension = stem.size() == name.size() ? "" : name.substr(dot + 1);
    for (char& c : extension) c = char(std::tolower(uint8_t(c)));
    bool kept = format != ImageFormat::jpeg &&
                ((extension == "png" && depth != 32) || extension == "tif" || extension == "tiff");
    const std::string folder = dir.back() == '/' ? dir : dir + "/";
    if (kept) return folder + name;
    return folder + stem + (format == ImageFormat::tiff || depth == 32 ? ".tif" : ".png");
}

bool same_file(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

/* Makes the folder and those above it that are missing. */
bool make_folder(const std::string& dir, Failure* failure) {
    for (size_t at = 1; at <= dir.size(); at++) {
        if (at < dir.size() && dir[at] != '/') continue;
        std::string part = dir.substr(0, at);
        struct stat s;
        if (stat(part.c_str(), &s) == 0 && S_ISDIR(s.st_mode)) continue;
        if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) {
            *failure = {exit_output, dir + ": cannot be made (" + std::strerror(errno) + ")"};
            return false;
        }
    }
    return true;
}

/* Reads the input; false with the failure. */
bool read_input(Job* job) {
    std::string error;
    try {
        if (image_read(job->input, &job->in, &error)) return true;
        job->failure = {exit_input, error};
    } catch (const std::bad_alloc&) {
        job->failure = {exit_input, "not enough memory for this image"};
    }
    return false;
}

/* May the job's output be written: not over its input, not over an output
 * written already from another input, and in a format and a folder that
 * take it? Asked before the work; false with the failure. */
bool output_allowed(Job* job, const std::set<std::string>& written, const JobSteps& steps) {
    if (same_file(job->input, job->output)) {
        job->failure = {exit_output,
                        job->output + ": would replace its input; choose another folder"};
        return false;
    }
    if (written.count(job->output)) {
        job->failure = {exit_output,
                        job->output + ": written already from another input of that name"};
        return false;
    }
    std::string error;
    if (!image_can_write(job->output, steps.depth(job->in), job->in.image.planes, steps.spectrum,
                         &error)) {
        job->failure = {exit_output, error};
        return false;
    }
    return true;
}

bool transform(const JobSteps& steps, Job* job) {
    try {
        return steps.transform(job);
    } catch (const std::bad_alloc&) {
        job->failure = {exit_input, "not enough memory for this image"};
        return false;
    }
}

bool write_output(Job* job) {
    std::string error;
    job->out.jpeg_quality = quality;
    try {
        if (image_write(job->output, job->out.image, &error, &job->out)) return true;
        job->failure = {exit_output, error};
    } catch (const std::bad_alloc&) {
        job->failure = {exit_input, "not enough memory for this image"};
    }
    return false;
}

int fail(const Failure& f) {
    std::fprintf(stderr, "spectra: %s\n", f.message.c_str());
    return f.code;
}

/* A grey image, with or without alpha, as RGB: the grey in three planes;
 * and back, plane 0 and the alpha of an RGB image as grey. */
HostImage grey_as_rgb(const HostImage& grey) {
    HostImage rgb = host_image(grey.rows, grey.columns, grey.planes + 2, grey.depth);
    const size_t s = size_t(host_sample_bytes(grey.depth));
    for (int32_t y = 0; y < grey.rows; y++)
        for (int32_t x = 0; x < grey.columns; x++) {
            const uint8_t* from = grey.data() + y * grey.row_bytes + size_t(x) * grey.planes * s;
            uint8_t* to = rgb.data() + y * rgb.row_bytes + size_t(x) * rgb.planes * s;
            for (int p = 0; p < 3; p++) std::memcpy(to + p * s, from, s);
            if (grey.planes == 2) std::memcpy(to + 3 * s, from + s, s);
        }
    return rgb;
}

HostImage rgb_as_grey(const HostImage& rgb) {
    HostImage grey = host_image(rgb.rows, rgb.columns, rgb.planes - 2, rgb.depth);
    const size_t s = size_t(host_sample_bytes(rgb.depth));
    for (int32_t y = 0; y < rgb.rows; y++)
        for (int32_t x = 0; x < rgb.columns; x++) {
            const uint8_t* from = rgb.data() + y * rgb.row_bytes + size_t(x) * rgb.planes * s;
            uint8_t* to = grey.data() + y * grey.row_bytes + size_t(x) * grey.planes * s;
            std::memcpy(to, from, s);
            if (grey.planes == 2) std::memcpy(to + s, from + 3 * s, s);
        }
    return grey;
}

} // namespace

bool run_plugin(const FoundPlugin& plugin, const ImageFile& in, HostImage* out, Failure* failure) {
    PiplDocument doc;
    doc.mode = mode_of(in);
    doc.depth = in.image.depth;
    doc.rows = in.image.rows;
    doc.columns = in.image.columns;
    doc.channels = in.image.planes;
    doc.transparency = in.colours == ImageColours::rgb && in.image.planes == 4;
    /* A grey picture goes to a plug-in for RGB only as RGB, the grey in
     * three planes, and comes back grey: the three planes come out the
     * same, as the plug-ins work on each alike. */
    PiplDocument rgb = doc;
    rgb.mode = pipl_mode_of(in.image.planes + 2, in.image.depth);
    rgb.channels = in.image.planes + 2;
    rgb.transparency = in.image.planes == 2;
    const bool as_rgb = !pipl_enabled(plugin.info, doc) && in.colours == ImageColours::grey &&
                        in.image.planes <= 2 && pipl_enabled(plugin.info, rgb);
    if (!as_rgb && !pipl_enabled(plugin.info, doc)) {
        *failure = {exit_plugin, not_enabled(plugin, in, doc)};
        return false;
    }
    /* On a terminal, a line that shows how far the plug-in has come, once
     * it has worked for a second; it is cleared when the plug-in returns. */
    HostOptions options;
    bool shown = false;
    const std::string name = host_short_name(plugin.info.name);
    if (!quiet && isatty(2)) {
        const auto start = std::chrono::steady_clock::now();
        options.progress = [&, start](int32_t done, int32_t total) {
            if (std::chrono::steady_clock::now() - start < std::chrono::seconds(1)) return;
            std::fprintf(stderr, "\r%s: %d %%", name.c_str(),
                         int(100 * int64_t(done) / (total > 0 ? total : 1)));
            std::fflush(stderr);
            shown = true;
        };
    }
    std::string error;
    int16_t result = as_rgb ? host_run_once(plugin, grey_as_rgb(in.image), out, &error, options)
                            : host_run_once(plugin, in.image, out, &error, options);
    if (shown) std::fprintf(stderr, "\r\033[K");
    if (as_rgb && result == noErr) *out = rgb_as_grey(*out);
    if (result == hostNotLoaded) {
        *failure = {exit_plugin, error};
        return false;
    }
    if (result != noErr) {
        *failure = {exit_failed, host_short_name(plugin.info.name) +
                                     " failed: " + host_result_name(result) + " (" +
                                     std::to_string(result) + ")"};
        return false;
    }
    return true;
}

bool files_of(int argc, char** argv, std::vector<std::string>* inputs, std::string* dir) {
    bool to_folder = false;
    for (int i = 0; i < argc; i++) {
        if (std::strcmp(argv[i], "-o") == 0) {
            if (to_folder || i + 1 == argc) return false;
            to_folder = true;
            *dir = argv[++i];
        } else {
            inputs->push_back(argv[i]);
        }
    }
    return to_folder ? !inputs->empty() && !dir->empty() : inputs->size() == 2 && dir->empty();
}

int run_jobs(const std::vector<std::string>& inputs, const std::string& dir,
             const JobSteps& steps) {
    std::set<std::string> written;
    Failure failure;
    if (dir.empty()) {
        Job job;
        job.input = inputs[0];
        job.output = inputs[1];
        /* No file is replaced by surprise: the input never, an existing
         * picture only when asked. Devices and pipes are written as ever. */
        if (same_file(job.input, job.output))
            return fail({exit_output, job.output + ": is the input; choose another name"});
        struct stat s;
        bool there = stat(job.output.c_str(), &s) == 0;
        if (there && S_ISDIR(s.st_mode))
            return fail({exit_usage, job.output + ": is a folder; to write into it, use -o " +
                                         job.output + "\n(spectra --help tells how to use it)"});
        if (there && S_ISREG(s.st_mode) && !force)
            return fail({exit_output, job.output + ": exists; -f replaces it"});
        if (!read_input(&job) || !output_allowed(&job, written, steps) || !transform(steps, &job) ||
            !write_output(&job))
            return fail(job.failure);
        if (!quiet && !job.note.empty())
            std::fprintf(stderr, "spectra: %s: %s\n", job.input.c_str(), job.note.c_str());
        return exit_done;
    }
    if (!make_folder(dir, &failure)) return fail(failure);
    /* Every input is tried; a failure is one line that names its file, in
     * the order of the inputs, and the exit code is the worst of them. */
    bool terminal = isatty(2);
    int worst = exit_done;
    size_t shown = 0; /* the input of the progress line, from 1 */
    auto progress = [&](size_t i) {
        shown = i;
        if (terminal)
            std::fprintf(stderr, "\r\033[Kspectra: %zu of %zu: %s", i, inputs.size(),
                         inputs[i - 1].c_str());
    };
    auto report = [&](Job& job) {
        if (terminal) std::fprintf(stderr, "\r\033[K");
        if (job.failure.message.compare(0, job.input.size(), job.input) != 0)
            job.failure.message = job.input + ": " + job.failure.message;
        fail(job.failure);
        worst = std::max(worst, job.failure.code);
        if (terminal && shown) progress(shown);
    };
    auto read_job = [&](size_t i) {
        std::unique_ptr<Job> job(new Job);
        job->input = inputs[i];
        job->failure.code = read_input(job.get()) ? exit_done : exit_input;
        return job;
    };
    std::future<std::unique_ptr<Job>> reading = std::async(std::launch::async, read_job, 0);
    std::unique_ptr<Job> writing_job;
    std::future<bool> writing;
    auto finish_writing = [&] {
        if (!writing_job) return;
        if (writing.get()) {
            written.insert(writing_job->output);
            if (!quiet && !writing_job->note.empty()) {
                if (terminal) std::fprintf(stderr, "\r\033[K");
                std::fprintf(stderr, "spectra: %s: %s\n", writing_job->input.c_str(),
                             writing_job->note.c_str());
                if (terminal && shown) progress(shown);
            }
        } else {
            report(*writing_job);
        }
        writing_job.reset();
    };
    for (size_t i = 0; i < inputs.size(); i++) {
        progress(i + 1);
        std::unique_ptr<Job> job = reading.get();
        if (i + 1 < inputs.size()) reading = std::async(std::launch::async, read_job, i + 1);
        bool ok = job->failure.code == exit_done;
        if (ok) {
            /* an output of the same name being written: whether it was
             * decides whether this one may be */
            job->output = output_in(dir, job->input, job->in.format, steps.depth(job->in));
            if (writing_job && writing_job->output == job->output) finish_writing();
            ok = output_allowed(job.get(), written, steps) && transform(steps, job.get());
        }
        finish_writing();
        if (!ok) {
            report(*job);
            continue;
        }
        writing_job = std::move(job);
        Job* to_write = writing_job.get();
        writing = std::async(std::launch::async, [to_write] { return write_output(to_write); });
    }
    finish_writing();
    if (terminal) std::fprintf(stderr, "\r\033[K");
    return worst;
}

namespace {

/* The plug-in `wanted` on the files of the arguments; -1 when they are not
 * files as the verbs take them. */
int run_files(const char* wanted, int argc, char** argv) {
    std::vector<std::string> inputs;
    std::string dir;
    if (!files_of(argc, argv, &inputs, &dir)) return -1;
    Failure failure;
    FoundPlugin plugin;
    if (!resolve_plugin(wanted, &plugin, &failure)) return fail(failure);
    JobSteps steps;
    steps.depth = [](const ImageFile& in) { return in.image.depth; };
    const std::string name = host_short_name(plugin.info.name);
    const bool descreen = name == "SpectraDescreen";
    /* a spectrum keeps the resolution but not the colour profile: its
     * samples are codes, which an editor must not convert as colours */
    steps.spectrum = name == "SpectraPlane" || name == "SpectraVolume" || name == "SpectraRow";
    steps.transform = [&plugin, descreen, &steps](Job* job) {
        if (!run_plugin(plugin, job->in, &job->out.image, &job->failure)) return false;
        job->out.original = std::move(job->in.original);
        job->out.meta = job->in.meta;
        job->out.spectrum = steps.spectrum;
        if (steps.spectrum) job->out.meta.icc.clear();
        if (descreen && !quiet)
            job->note = descreen_report(job->in.image, job->out.image,
                                        job->in.colours == ImageColours::grey ? 1 : 3);
        return true;
    };
    return run_jobs(inputs, dir, steps);
}

} // namespace

int run(int argc, char** argv) {
    int code = argc < 1 ? -1 : run_files(argv[0], argc - 1, argv + 1);
    if (code >= 0) return code;
    return fail({exit_usage, "run takes PLUGIN INPUT OUTPUT, or PLUGIN INPUT... -o DIR\n"
                             "(spectra --help tells how to use it)"});
}

int descreen(int argc, char** argv) {
    int code = run_files("SpectraDescreen", argc, argv);
    if (code >= 0) return code;
    return fail({exit_usage, "descreen takes INPUT OUTPUT, or INPUT... -o DIR\n"
                             "(spectra --help tells how to use it)"});
}

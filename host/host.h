/* host.h - a small filter host, outside the plug-ins.
 *
 * It does what an image editor does with a filter plug-in: keeps an image as
 * the interface delivers it (interleaved planes of 8, 16 or 32 bits, rows any
 * number of bytes apart), loads a plug-in file, finds its entry point, and
 * drives a run through About, Parameters, Prepare, Start, the Continue calls
 * and Finish, handing the plug-in the areas and planes that it asks for. */
#ifndef SPECTRA_HOST_H
#define SPECTRA_HOST_H

#include "../frame/filter_record.h"
#include "pipl.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

/* An image in the interface's layout: `planes` samples per pixel, pixel after
 * pixel along a row, rows `row_bytes` apart. 16-bit samples run from 0 to
 * 32768, 32-bit samples are floats whose white is 1.0. */
struct HostImage {
    int32_t rows = 0;
    int32_t columns = 0;
    int32_t planes = 0;
    int32_t depth = 8;
    int64_t row_bytes = 0;
    std::vector<uint64_t> storage; /* 8-byte words keep every sample type aligned */

    uint8_t* data() { return reinterpret_cast<uint8_t*>(storage.data()); }
    const uint8_t* data() const { return reinterpret_cast<const uint8_t*>(storage.data()); }
};

/* Bytes of one sample at a depth of 8, 16 or 32 bits; 0 for other depths. */
int host_sample_bytes(int32_t depth);

/* A black image; each row is `row_padding` bytes longer than its pixels. */
HostImage host_image(int32_t rows, int32_t columns, int32_t planes, int32_t depth,
                     int64_t row_padding = 0);

/* The sample of plane p at column x, row y, in the depth's own scale. */
double host_sample(const HostImage& image, int32_t x, int32_t y, int32_t p);

/* Stores v, which must be representable at the image's depth. */
void host_set_sample(HostImage& image, int32_t x, int32_t y, int32_t p, double v);

/* True when both images have the same size, planes, depth and samples
 * (padding bytes are not compared). */
bool host_same_samples(const HostImage& a, const HostImage& b);

/* Peak signal-to-noise ratio of b against a over the left halves of planes
 * 0 to 2 (where SpectraPlaneInverse writes its image), in dB; infinite when
 * they are equal there. */
double host_psnr(const HostImage& a, const HostImage& b);

/* 16-bit samples as files hold them (0..65535) to the interface's range
 * (0..32768) and back; every interface value survives the way back and
 * forth. */
inline uint16_t to_interface16(uint16_t v) {
    return uint16_t((uint32_t(v) * 32768 + 32767) / 65535);
}
inline uint16_t from_interface16(uint16_t v) {
    if (v > 32768) v = 32768;
    return uint16_t((uint32_t(v) * 65535 + 16384) / 32768);
}

/* Every 16-bit sample of the image from a file's range into the
 * interface's, in place. */
void host_to_interface16(HostImage& image);

/* A 16-bit sample after a run, in a file's range: a sample that the
 * plug-in left as it was delivered keeps the file's own value `original`
 * (two file values share each interface value), another one is converted. */
inline uint16_t host_file16_after(uint16_t original, uint16_t written) {
    return written == to_interface16(original) ? original : from_interface16(written);
}

/* A loaded plug-in. */
struct HostPlugin {
    void* module = nullptr;
    FilterEntryProc entry = nullptr;
    bool mac = false; /* a macOS bundle, run through the project's loader */
};

/* Loads the plug-in file at `path` and finds its entry function by name.
 * On failure returns false and says why in *error. */
bool host_load(const std::string& path, const std::string& entry_name, HostPlugin* plugin,
               std::string* error);
void host_unload(HostPlugin* plugin);

/* Reads a plug-in's property list from its file, without running any of its
 * code, and refuses a file that is not a filter or names no entry point. */
bool host_read_info(const std::string& path, PiplInfo* info, std::string* error);

/* Opens a plug-in as a host does: host_read_info, then loads the code and
 * finds the entry that the property for this host's processor names
 * (`8664` on x86-64, `wx86` on 32-bit x86; in a macOS bundle NAME.plugin,
 * which 64-bit Linux builds run too, `mi64` on x86-64 and `ma64` on
 * arm64). */
bool host_open(const std::string& path, HostPlugin* plugin, PiplInfo* info, std::string* error);

/* The file of the plug-in NAME in a folder: NAME.8bf, or the macOS bundle
 * NAME.plugin where the folder holds that instead. */
std::string host_plugin_file(const std::string& folder, const std::string& name);

/* A filter plug-in file, and what its property list says. */
struct FoundPlugin {
    std::string path;
    PiplInfo info;
};

/* Every filter plug-in file (*.8bf in any case, and macOS bundles
 * NAME.plugin where this build runs them) in the folders: folder after
 * folder, by name within one. Files that are no filters are passed over. */
std::vector<FoundPlugin> host_find_plugins(const std::vector<std::string>& folders);

/* The folder of the running program, where it looks for plug-ins beside
 * itself (Linux). */
std::string host_program_folder();

/* The folders of a list separated by ':', such as SPECTRA_PLUGIN_PATH. */
std::vector<std::string> host_path_folders(const std::string& list);

/* The menu name without its trailing dots: the name users call it by. */
std::string host_short_name(const std::string& menu_name);

/* What the host leaves in outData before each Continue call. */
enum class HostFill {
    input, /* a copy of the input, as hosts that copy the source do */
    junk,  /* arbitrary bytes, as hosts that do not copy it may */
};

struct HostOptions {
    HostFill fill = HostFill::input;
    uint32_t junk_seed = 1;
    int64_t out_row_padding = 0; /* extra bytes at the end of each output row */
    int max_continues = 1000;    /* a plug-in that never finishes is stopped here */
    /* How hosts differ in their calls: some skip Parameters on a repeated
     * run, some send no Finish after a run that succeeded, and some keep
     * calling Continue while inRect.right or outRect.right is not 0 rather
     * than until every rectangle is empty. */
    bool parameters = true;
    bool finish_after_success = true;
    bool until_right_is_zero = false;
    /* The host's progress procedure and its request to stop, which the
     * plug-in calls on the thread that runs it: progress(done, total), and
     * cancel() true to stop. Unset, the record holds null procedures. */
    std::function<void(int32_t done, int32_t total)> progress;
    std::function<bool()> cancel;
};

/* Every result code of a run and the record as the plug-in left it. */
struct HostLog {
    int16_t about = 1, parameters = 1, prepare = 1, start = 1, finish = 1;
    std::vector<int16_t> continues;
    double continue_seconds = 0;     /* wall time spent in Continue calls */
    FilterRecord before_start = {};  /* the record as the host filled it */
    FilterRecord after_prepare = {}; /* ... and after About, Parameters, Prepare */
    FilterRecord after_start = {};
    FilterRecord after_continue = {}; /* after the last Continue call */
    FilterRecord after_finish = {};
};

/* The host's own failures, beside the plug-in's result codes. */
enum : int16_t {
    hostBadRequest = -30900, /* the plug-in asked for an area or planes outside the image */
    hostNoEnd = -30901,      /* the plug-in kept asking for more after max_continues calls */
    hostNotLoaded = -30902,  /* the plug-in file could not be loaded */
};

/* Runs the plug-in on `in`. *out receives the document after the run: the
 * output areas as the plug-in left them, the rest as in `in`. Returns the
 * first result code other than noErr, or noErr; *log (if given) holds all. */
int16_t host_run(const HostPlugin& plugin, const HostImage& in, HostImage* out,
                 const HostOptions& options = HostOptions(), HostLog* log = nullptr);

/* Loads the plug-in, runs it once on `in` and unloads it, as hosts that
 * load a filter for each run do. Returns what host_run returns, or
 * hostNotLoaded with *error saying why. */
int16_t host_run_once(const FoundPlugin& plugin, const HostImage& in, HostImage* out,
                      std::string* error, const HostOptions& options = HostOptions());

/* The name of a result code ("memFullErr"), or its number. */
std::string host_result_name(int16_t code);

#endif

/* bridge.cpp - what the GIMP bridges share: the plug-ins they offer, the
 * checks and texts, a filter run on a layer's pixels, and the pixels of the
 * new images of the one-step procedures. */
#include "bridge.h"
#include "report.h"
#include "spectrum.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace {

/* Rows moved between GIMP and the image per step, for the progress bar. */
const int rows_per_step = 64;

std::string label_of(const FoundPlugin& plugin) {
    return host_short_name(plugin.info.name);
}

/* Moves the layer's pixels into the image (read) or back (write), in its
 * own format, with progress from `from` to `to`. */
void move_pixels(GeglBuffer* buffer, const Babl* format, HostImage& image, bool read, double from,
                 double to, void (*progress)(double)) {
    for (int32_t y = 0; y < image.rows; y += rows_per_step) {
        int32_t n = std::min(rows_per_step, image.rows - y);
        GeglRectangle area = {0, y, image.columns, n};
        uint8_t* rows = image.data() + y * image.row_bytes;
        if (read)
            gegl_buffer_get(buffer, &area, 1.0, format, rows, int(image.row_bytes),
                            GEGL_ABYSS_NONE);
        else
            gegl_buffer_set(buffer, &area, 0, format, rows, int(image.row_bytes));
        progress(from + (to - from) * (y + n) / image.rows);
    }
}

/* A result code as the user reads it. */
std::string failure_text(const std::string& filter, int16_t code) {
    std::string what;
    switch (code) {
    case memFullErr:
        what = "not enough memory for this layer";
        break;
    case filterBadMode:
        what = "it does not work at this layer's precision";
        break;
    case filterBadParameters:
        what = "it cannot address this layer";
        break;
    default:
        what = "it reported a failure";
        break;
    }
    return filter + " failed: " + what + " (" + host_result_name(code) + ", " +
           std::to_string(code) + "); the layer is unchanged";
}

} // namespace

std::string bridge_procedure_name(const std::string& short_name) {
    std::string name = "plug-in-";
    for (size_t i = 0; i < short_name.size(); i++) {
        char c = short_name[i];
        bool upper = c >= 'A' && c <= 'Z';
        if (upper && i > 0 && !(short_name[i - 1] >= 'A' && short_name[i - 1] <= 'Z')) name += '-';
        if (c == ' ' || c == '_') c = '-';
        name += char(std::tolower(uint8_t(c)));
    }
    return name;
}

std::vector<FoundPlugin> bridge_filters() {
    std::vector<std::string> folders;
    if (const char* path = std::getenv("SPECTRA_PLUGIN_PATH")) folders = host_path_folders(path);
    folders.push_back(host_program_folder());
    std::vector<FoundPlugin> found;
    for (const FoundPlugin& p : host_find_plugins(folders))
        if (!bridge_find(found, bridge_procedure_name(label_of(p)))) found.push_back(p);
    return found;
}

const FoundPlugin* bridge_find(const std::vector<FoundPlugin>& filters,
                               const std::string& procedure) {
    for (const FoundPlugin& p : filters)
        if (bridge_procedure_name(label_of(p)) == procedure) return &p;
    return nullptr;
}

std::string bridge_blurb(const FoundPlugin& plugin) {
    static const struct {
        const char *name, *blurb;
    } known[] = {
        {"SpectraDescreen", "Finds halftone screens, moire, stripes and scan lines in the layer "
                            "and takes them out where they are"},
        {"SpectraPlane", "Replaces the layer with the spectrum of its left half: log-magnitude "
                         "left, phase right"},
        {"SpectraPlaneInverse", "Turns a spectrum layer (log-magnitude left, phase right) back "
                                "into its picture, in the left half"},
        {"SpectraVolume", "Replaces the layer with one 3-D spectrum of its left half, over its "
                          "colours, rows and columns"},
        {"SpectraRow", "Replaces each row of the layer with its own 1-D spectrum: magnitudes, "
                       "then phases"},
    };
    for (const auto& k : known)
        if (label_of(plugin) == k.name) return k.blurb;
    return "Runs the filter plug-in " + label_of(plugin) + " on the whole layer";
}

std::string bridge_help(const FoundPlugin& plugin) {
    return bridge_blurb(plugin) +
           ", at the layer's own precision (8 and 16-bit integers, 32-bit floats). The "
           "plug-in file: " +
           plugin.path;
}

/* Every item in one menu that says what it holds. GIMP sorts a menu's
 * items by their labels, so the descreen and the two one-step items
 * ("Spectrum as New Image", then "Spectrum to Image") stay together in the
 * order people use them, and the four transforms keep to a submenu of
 * their own. The descreen is also where GIMP's users look for repairs.
 * Photoshop-interface hosts show the property list's category instead. */
const char bridge_menu[] = "<Image>/Filters/Spectra";

std::vector<std::string> bridge_menu_paths(const FoundPlugin& plugin) {
    const std::string label = label_of(plugin);
    if (label == "SpectraDescreen") return {bridge_menu, "<Image>/Filters/Enhance"};
    for (const char* transform :
         {"SpectraPlane", "SpectraPlaneInverse", "SpectraVolume", "SpectraRow"})
        if (label == transform) return {std::string(bridge_menu) + "/Transforms"};
    return {bridge_menu};
}

namespace {

/* The layer's pixels as GIMP holds them (16 bits as 0..65535); false with
 * *message when the layer is not one that the filter takes (grey ones
 * where `grey` says it takes them). */
bool layer_pixels(const std::string& label, const BridgeLayer& layer, HostImage* pixels,
                  std::string* message, void (*progress)(double), bool grey = false) {
    if (!layer.rgb && !(grey && layer.grey)) {
        *message = bridge_not_rgb(label);
        return false;
    }
    const Babl* type = babl_format_get_type(layer.format, 0);
    int depth = type == babl_type("u8")      ? 8
                : type == babl_type("u16")   ? 16
                : type == babl_type("float") ? 32
                                             : 0;
    int planes = babl_format_get_n_components(layer.format);
    if (!depth || (layer.rgb ? planes != 3 && planes != 4 : planes != 1 && planes != 2)) {
        *message = label + " works on 8 and 16-bit integer and 32-bit float layers; convert "
                           "the image's precision first (Image > Precision)";
        return false;
    }
    *pixels = host_image(layer.rows, layer.columns, planes, depth);
    move_pixels(layer.pixels, layer.format, *pixels, true, 0.0, 0.3, progress);
    return true;
}

/* Runs the filter on pixels as GIMP holds them, as the command does on a
 * file: at 16 bits the plug-in sees 0..32768, and the samples that it does
 * not change keep their own values. SpectraDescreen's note, where `note`
 * is given, says what it took out. */
bool run_pixels(const FoundPlugin& plugin, const std::string& label, const HostImage& in,
                HostImage* out, std::string* message, void (*progress)(double),
                std::string* note = nullptr) {
    PiplDocument document;
    document.mode = pipl_mode_of(in.planes, in.depth);
    document.depth = in.depth;
    document.rows = in.rows;
    document.columns = in.columns;
    document.channels = in.planes;
    document.transparency = in.planes == 4;
    if (!pipl_enabled(plugin.info, document)) {
        *message =
            label_of(plugin) + " is not enabled for " + pipl_mode_name(document.mode) + " layers";
        return false;
    }
    HostImage interface;
    if (in.depth == 16) {
        interface = in;
        host_to_interface16(interface);
    }
    /* the bar moves through the plug-in's own work between the copies */
    HostOptions options;
    options.progress = [progress](int32_t done, int32_t total) {
        progress(0.3 + 0.4 * done / (total > 0 ? total : 1));
    };
    std::string error;
    int16_t result = host_run_once(plugin, in.depth == 16 ? interface : in, out, &error, options);
    if (result == hostNotLoaded) {
        *message = error;
        return false;
    }
    if (result != noErr) {
        *message = failure_text(label, result);
        return false;
    }
    if (note && label == "SpectraDescreen")
        *note = descreen_report(in.depth == 16 ? interface : in, *out, in.planes <= 2 ? 1 : 3);
    if (in.depth == 16) host_to_file16_after(*out, in);
    return true;
}

/* Does the plug-in's property list enable it for grey layers? */
bool takes_grey(const FoundPlugin& plugin) {
    PiplDocument document;
    document.mode = pipl_mode_of(1, 8);
    document.depth = 8;
    document.rows = document.columns = 1;
    document.channels = 1;
    return pipl_enabled(plugin.info, document);
}

/* GIMP's precision (the value of GimpPrecision, alike in both GIMPs) for
 * a depth, with the tone curve of the layer's format: linear, non-linear
 * (R'G'B') or perceptual (R~G~B~). */
int precision_of(const Babl* format, int32_t depth) {
    const char* encoding = babl_format_get_encoding(format);
    int curve = encoding[1] == '\'' ? 50 : encoding[1] == '~' ? 75 : 0;
    return (depth == 8 ? 100 : depth == 16 ? 200 : 600) + curve;
}

} // namespace

std::string bridge_image_types(const FoundPlugin& plugin) {
    return takes_grey(plugin) ? "RGB*, GRAY*" : "RGB*";
}

bool bridge_filter(const FoundPlugin& plugin, const BridgeLayer& layer, HostImage* out,
                   std::string* note, std::string* message, void (*progress)(double)) {
    HostImage in;
    return layer_pixels(label_of(plugin), layer, &in, message, progress, takes_grey(plugin)) &&
           run_pixels(plugin, label_of(plugin), in, out, message, progress, note);
}

const BridgeStep bridge_steps[2] = {
    {"plug-in-spectra-spectrum-image", "Spectrum as New Image", "SpectraPlane",
     "Opens the spectrum of the layer as a new image, twice as wide: log-magnitude left, phase "
     "right"},
    {"plug-in-spectra-image-from-spectrum", "Spectrum to Image", "SpectraPlaneInverse",
     "Opens the image that a spectrum layer codes as a new image, half as wide"},
};

const BridgeStep* bridge_step(const std::string& procedure) {
    for (const BridgeStep& step : bridge_steps)
        if (procedure == step.procedure) return &step;
    return nullptr;
}

namespace {

bool spectrum_of(const FoundPlugin& plane, const BridgeLayer& layer, BridgeNewImage* image,
                 std::string* message, void (*progress)(double)) {
    const std::string label = bridge_steps[0].label;
    HostImage picture, canvas;
    if (!layer_pixels(label, layer, &picture, message, progress)) return false;
    if (picture.columns > host_widest_picture) {
        *message = label + ": the layer is " + std::to_string(picture.columns) +
                   " pixels wide; its spectrum, twice as wide, would be larger than 32767";
        return false;
    }
    int32_t depth = picture.depth == 8 ? 16 : picture.depth;
    canvas = host_spectrum_canvas(host_convert_depth(picture, depth));
    if (!run_pixels(plane, label, canvas, &image->pixels, message, progress)) return false;
    image->precision = precision_of(layer.format, depth);
    image->record = {picture.depth, picture.columns, picture.rows};
    return true;
}

bool picture_of(const FoundPlugin& inverse, const BridgeLayer& layer, const SourceRecord& record,
                BridgeNewImage* image, std::string* message, void (*progress)(double)) {
    const std::string label = bridge_steps[1].label;
    HostImage spectrum, out;
    if (!layer_pixels(label, layer, &spectrum, message, progress)) return false;
    if (spectrum.columns < 2) {
        *message = label + ": the layer is one column wide; a spectrum is twice as wide as its "
                           "image";
        return false;
    }
    if (!run_pixels(inverse, label, spectrum, &out, message, progress)) return false;
    int32_t depth =
        host_record_fits(record, spectrum.columns, spectrum.rows) ? record.depth : spectrum.depth;
    image->pixels = host_convert_depth(host_left_half(out), depth);
    image->precision = precision_of(layer.format, depth);
    image->record = SourceRecord();
    return true;
}

} // namespace

bool bridge_run_step(const BridgeStep& step, const FoundPlugin& plugin, const BridgeLayer& layer,
                     const SourceRecord& record, const std::string& layer_name,
                     BridgeNewImage* image, std::string* message, void (*progress)(double)) {
    bool forward = &step == &bridge_steps[0];
    image->name = (forward ? "Spectrum of " : "Image from ") + layer_name;
    return forward ? spectrum_of(plugin, layer, image, message, progress)
                   : picture_of(plugin, layer, record, image, message, progress);
}

void bridge_write(GeglBuffer* target, const Babl* format, HostImage& pixels,
                  void (*progress)(double)) {
    move_pixels(target, format, pixels, false, 0.7, 1.0, progress);
}

std::string bridge_not_rgb(const std::string& label) {
    return label + " works on RGB layers only; convert the image to RGB first "
                   "(Image > Mode > RGB)";
}

std::string bridge_out_of_memory(const std::string& label) {
    return label + " failed: not enough memory for this layer; the layer is unchanged";
}

std::string bridge_one_layer(const std::string& label) {
    return label + " works on one layer at a time; select just one layer";
}

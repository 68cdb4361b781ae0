/* bridge.cpp - what the GIMP bridges share: the plug-ins they offer, the
 * checks and texts, and a filter run on a layer's pixels. */
#include "bridge.h"

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
    return "Runs the filter plug-in " + label_of(plugin) + " on the whole layer";
}

std::string bridge_help(const FoundPlugin& plugin) {
    return bridge_blurb(plugin) +
           ", at the layer's own precision (8 and 16-bit integers, 32-bit floats). The "
           "plug-in file: " +
           plugin.path;
}

std::string bridge_menu_path(const FoundPlugin& plugin) {
    return "<Image>/Filters/" +
           (plugin.info.category.empty() ? label_of(plugin) : plugin.info.category);
}

bool bridge_filter(const FoundPlugin& plugin, const BridgeLayer& layer, HostImage* out,
                   std::string* message, void (*progress)(double)) {
    std::string label = label_of(plugin);
    if (!layer.rgb) {
        *message = bridge_not_rgb(plugin);
        return false;
    }
    const Babl* type = babl_format_get_type(layer.format, 0);
    int depth = type == babl_type("u8")      ? 8
                : type == babl_type("u16")   ? 16
                : type == babl_type("float") ? 32
                                             : 0;
    int planes = babl_format_get_n_components(layer.format);
    if (!depth || (planes != 3 && planes != 4)) {
        *message = label + " works on 8 and 16-bit integer and 32-bit float layers; convert "
                           "the image's precision first (Image > Precision)";
        return false;
    }
    PiplDocument document;
    document.mode = pipl_mode_of(planes, depth);
    document.depth = depth;
    document.rows = layer.rows;
    document.columns = layer.columns;
    document.channels = planes;
    document.transparency = planes == 4;
    if (!pipl_enabled(plugin.info, document)) {
        *message = label + " is not enabled for " + pipl_mode_name(document.mode) + " layers";
        return false;
    }

    HostImage in = host_image(layer.rows, layer.columns, planes, depth);
    move_pixels(layer.pixels, layer.format, in, true, 0.0, 0.3, progress);
    /* At 16 bits the plug-in sees 0..32768; the layer's own values are
     * kept for the samples that it does not change. */
    HostImage original;
    if (depth == 16) {
        original = in;
        host_to_interface16(in);
    }
    std::string error;
    int16_t result = host_run_once(plugin, in, out, &error);
    if (result == hostNotLoaded) {
        *message = error;
        return false;
    }
    if (result != noErr) {
        *message = failure_text(label, result);
        return false;
    }
    if (depth == 16) {
        const uint16_t* was = reinterpret_cast<const uint16_t*>(original.data());
        uint16_t* s = reinterpret_cast<uint16_t*>(out->data());
        for (size_t i = 0, n = size_t(out->row_bytes) * size_t(layer.rows) / 2; i < n; i++)
            s[i] = host_file16_after(was[i], s[i]);
    }
    return true;
}

void bridge_write(GeglBuffer* target, const Babl* format, HostImage& pixels,
                  void (*progress)(double)) {
    move_pixels(target, format, pixels, false, 0.7, 1.0, progress);
}

std::string bridge_not_rgb(const FoundPlugin& plugin) {
    return label_of(plugin) + " works on RGB layers only; convert the image to RGB first "
                              "(Image > Mode > RGB)";
}

std::string bridge_out_of_memory(const FoundPlugin& plugin) {
    return label_of(plugin) + " failed: not enough memory for this layer; the layer is unchanged";
}

std::string bridge_one_layer(const FoundPlugin& plugin) {
    return label_of(plugin) + " works on one layer at a time; select just one layer";
}

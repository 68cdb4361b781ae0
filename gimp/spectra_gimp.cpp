/* spectra_gimp.cpp - the GIMP 2.10 bridge: each filter plug-in (.8bf) found
 * beside this program becomes a GIMP procedure that runs it on the whole
 * active layer, as an image editor would.
 *
 * Pixels cross at the layer's own precision and in its own format, so no
 * colour conversion touches them: 8-bit layers go in as they are, 16-bit
 * ones through the interface's 0..32768 range (samples the plug-in leaves
 * alone keep their own values), floats bit for bit. The result replaces
 * the whole layer, also where a selection would clip a filter's output,
 * in one undo step; the selection itself stays as it was. */
#include "host.h"

#include <libgimp/gimp.h>

#include <cstring>

namespace {

/* Rows moved between GIMP and the image per step, for the progress bar. */
const int rows_per_step = 64;

/* "SpectraPlaneInverse" -> "plug-in-spectra-plane-inverse". */
std::string procedure_name(const std::string& short_name) {
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

/* The plug-ins in SPECTRA_PLUGIN_PATH, then in this program's folder; the
 * first of each procedure name counts. */
std::vector<FoundPlugin> filters() {
    std::vector<std::string> folders;
    if (const char* path = g_getenv("SPECTRA_PLUGIN_PATH")) folders = host_path_folders(path);
    folders.push_back(host_program_folder());
    std::vector<FoundPlugin> found;
    for (const FoundPlugin& p : host_find_plugins(folders)) {
        std::string name = procedure_name(host_short_name(p.info.name));
        bool seen = false;
        for (const FoundPlugin& q : found)
            seen = seen || procedure_name(host_short_name(q.info.name)) == name;
        if (!seen) found.push_back(p);
    }
    return found;
}

void query() {
    static GimpParamDef arguments[] = {
        {GIMP_PDB_INT32, const_cast<gchar*>("run-mode"),
         const_cast<gchar*>("The run mode { RUN-INTERACTIVE (0), RUN-NONINTERACTIVE (1) }")},
        {GIMP_PDB_IMAGE, const_cast<gchar*>("image"), const_cast<gchar*>("Input image")},
        {GIMP_PDB_DRAWABLE, const_cast<gchar*>("drawable"), const_cast<gchar*>("Input layer")},
    };
    for (const FoundPlugin& p : filters()) {
        std::string label = host_short_name(p.info.name);
        std::string name = procedure_name(label);
        std::string blurb = "Runs the filter plug-in " + label + " on the whole layer";
        std::string help = blurb +
                           ", at the layer's own precision (8 and 16-bit integers, "
                           "32-bit floats). The plug-in file: " +
                           p.path;
        gimp_install_procedure(name.c_str(), blurb.c_str(), help.c_str(), "Spectra", "Spectra",
                               "2026", label.c_str(), "RGB*", GIMP_PLUGIN, G_N_ELEMENTS(arguments),
                               0, arguments, nullptr);
        std::string menu = "<Image>/Filters/" + (p.info.category.empty() ? label : p.info.category);
        gimp_plugin_menu_register(name.c_str(), menu.c_str());
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

/* Moves the layer's pixels into the image (read) or back (write), in its
 * own format, with progress from `from` to `to`. */
void move_pixels(GeglBuffer* buffer, const Babl* format, HostImage& image, bool read, double from,
                 double to) {
    for (int32_t y = 0; y < image.rows; y += rows_per_step) {
        int32_t n = std::min(rows_per_step, image.rows - y);
        GeglRectangle area = {0, y, image.columns, n};
        uint8_t* rows = image.data() + y * image.row_bytes;
        if (read)
            gegl_buffer_get(buffer, &area, 1.0, format, rows, int(image.row_bytes),
                            GEGL_ABYSS_NONE);
        else
            gegl_buffer_set(buffer, &area, 0, format, rows, int(image.row_bytes));
        gimp_progress_update(from + (to - from) * (y + n) / image.rows);
    }
}

/* Runs the filter on the layer; on failure returns false with *message. */
bool filter_layer(const FoundPlugin& plugin, gint32 image_id, gint32 layer, std::string* message) {
    std::string label = host_short_name(plugin.info.name);
    if (!gimp_item_is_valid(layer) || !gimp_item_is_drawable(layer) ||
        !gimp_drawable_is_rgb(layer)) {
        *message = label + " works on RGB layers only; convert the image to RGB first "
                           "(Image > Mode > RGB)";
        return false;
    }
    const Babl* format = gimp_drawable_get_format(layer);
    const Babl* type = babl_format_get_type(format, 0);
    int depth = type == babl_type("u8")      ? 8
                : type == babl_type("u16")   ? 16
                : type == babl_type("float") ? 32
                                             : 0;
    int planes = babl_format_get_n_components(format);
    if (!depth || (planes != 3 && planes != 4)) {
        *message = label + " works on 8 and 16-bit integer and 32-bit float layers; convert "
                           "the image's precision first (Image > Precision)";
        return false;
    }
    int32_t columns = gimp_drawable_width(layer), rows = gimp_drawable_height(layer);
    PiplDocument document;
    document.mode = pipl_mode_of(planes, depth);
    document.depth = depth;
    document.rows = rows;
    document.columns = columns;
    document.channels = planes;
    document.transparency = planes == 4;
    if (!pipl_enabled(plugin.info, document)) {
        *message = label + " is not enabled for " + pipl_mode_name(document.mode) + " layers";
        return false;
    }

    gimp_progress_init(label.c_str());
    HostImage in = host_image(rows, columns, planes, depth), out;
    GeglBuffer* buffer = gimp_drawable_get_buffer(layer);
    move_pixels(buffer, format, in, true, 0.0, 0.3);
    g_object_unref(buffer);
    /* At 16 bits the plug-in sees 0..32768; the layer's own values are
     * kept for the samples that it does not change. */
    HostImage original;
    if (depth == 16) {
        original = in;
        host_to_interface16(in);
    }
    std::string error;
    int16_t result = host_run_once(plugin, in, &out, &error);
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
        uint16_t* s = reinterpret_cast<uint16_t*>(out.data());
        for (size_t i = 0, n = size_t(out.row_bytes) * size_t(rows) / 2; i < n; i++)
            s[i] = host_file16_after(was[i], s[i]);
    }

    /* The shadow buffer's merge would clip the result to the selection,
     * but the filter rewrites the whole layer: the selection is set aside
     * for the merge and put back, all in one undo step. */
    gimp_image_undo_group_start(image_id);
    gint32 saved = -1;
    if (!gimp_selection_is_empty(image_id)) {
        saved = gimp_selection_save(image_id);
        gimp_selection_none(image_id);
    }
    GeglBuffer* shadow = gimp_drawable_get_shadow_buffer(layer);
    move_pixels(shadow, format, out, false, 0.7, 1.0);
    g_object_unref(shadow);
    gimp_drawable_merge_shadow(layer, TRUE);
    gimp_drawable_update(layer, 0, 0, columns, rows);
    if (saved != -1) {
        gimp_image_select_item(image_id, GIMP_CHANNEL_OP_REPLACE, saved);
        gimp_image_remove_channel(image_id, saved);
    }
    gimp_image_undo_group_end(image_id);
    return true;
}

/* Pixels only move between buffers in the layer's own format, so the
 * bridge needs neither GEGL's operations nor the conversions that babl
 * caches for GIMP; loading both would take over a second of every run.
 * GEGL looks for its operations in GEGL_PATH, here a folder that holds
 * none, and babl keeps its cache under XDG_CACHE_HOME, here a folder of the
 * bridge's own. */
void gegl_start() {
    g_setenv("GEGL_PATH", host_program_folder().c_str(), TRUE);
    std::string cache = std::string(g_get_user_cache_dir()) + "/spectra-gimp";
    if (g_mkdir_with_parents(cache.c_str(), 0700) == 0)
        g_setenv("XDG_CACHE_HOME", cache.c_str(), TRUE);
    gegl_init(nullptr, nullptr);
}

void run(const gchar* name, gint count, const GimpParam* parameters, gint* return_count,
         GimpParam** return_values) {
    static GimpParam values[2];
    static std::string message;
    *return_count = 1;
    *return_values = values;
    values[0].type = GIMP_PDB_STATUS;
    values[0].data.d_status = GIMP_PDB_SUCCESS;
    if (count != 3) {
        values[0].data.d_status = GIMP_PDB_CALLING_ERROR;
        return;
    }
    gegl_start();
    const FoundPlugin* plugin = nullptr;
    std::vector<FoundPlugin> found = filters();
    for (const FoundPlugin& p : found)
        if (procedure_name(host_short_name(p.info.name)) == name) plugin = &p;
    bool ok;
    try {
        if (!plugin)
            message =
                std::string(name) + ": its plug-in file is no longer in " + host_program_folder();
        ok = plugin && filter_layer(*plugin, parameters[1].data.d_image,
                                    parameters[2].data.d_drawable, &message);
    } catch (const std::bad_alloc&) {
        message = "not enough memory for this layer; the layer is unchanged";
        ok = false;
    }
    if (!ok) {
        values[0].data.d_status = GIMP_PDB_EXECUTION_ERROR;
        values[1].type = GIMP_PDB_STRING;
        values[1].data.d_string = const_cast<gchar*>(message.c_str());
        *return_count = 2;
        return;
    }
    if (parameters[0].data.d_int32 != GIMP_RUN_NONINTERACTIVE) gimp_displays_flush();
}

} // namespace

const GimpPlugInInfo PLUG_IN_INFO = {nullptr, nullptr, query, run};

MAIN()

/* gimp2.cpp - the GIMP 2.10 bridge: each filter plug-in (.8bf) found
 * beside this program becomes a GIMP procedure that runs it on the whole
 * active layer, as an image editor would (bridge.h does the run).
 *
 * Pixels cross at the layer's own precision and in its own format, so no
 * colour conversion touches them: 8-bit layers go in as they are, 16-bit
 * ones through the interface's 0..32768 range (samples the plug-in leaves
 * alone keep their own values), floats bit for bit. The result replaces
 * the whole layer, also where a selection would clip a filter's output,
 * in one undo step; the selection itself stays as it was. */
#include "bridge.h"

#include <libgimp/gimp.h>

namespace {

void query() {
    static GimpParamDef arguments[] = {
        {GIMP_PDB_INT32, const_cast<gchar*>("run-mode"),
         const_cast<gchar*>("The run mode { RUN-INTERACTIVE (0), RUN-NONINTERACTIVE (1) }")},
        {GIMP_PDB_IMAGE, const_cast<gchar*>("image"), const_cast<gchar*>("Input image")},
        {GIMP_PDB_DRAWABLE, const_cast<gchar*>("drawable"), const_cast<gchar*>("Input layer")},
    };
    for (const FoundPlugin& p : bridge_filters()) {
        std::string label = host_short_name(p.info.name);
        std::string name = bridge_procedure_name(label);
        gimp_install_procedure(name.c_str(), bridge_blurb(p).c_str(), bridge_help(p).c_str(),
                               "Spectra", "Spectra", "2026", label.c_str(), "RGB*", GIMP_PLUGIN,
                               G_N_ELEMENTS(arguments), 0, arguments, nullptr);
        gimp_plugin_menu_register(name.c_str(), bridge_menu_path(p).c_str());
    }
}

void progress(double fraction) {
    gimp_progress_update(fraction);
}

/* Runs the filter on the layer; on failure returns false with *message. */
bool filter_layer(const FoundPlugin& plugin, gint32 image_id, gint32 layer, std::string* message) {
    if (!gimp_item_is_valid(layer) || !gimp_item_is_drawable(layer)) {
        *message = bridge_not_rgb(plugin);
        return false;
    }
    const Babl* format = gimp_drawable_get_format(layer);
    int32_t columns = gimp_drawable_width(layer), rows = gimp_drawable_height(layer);
    gimp_progress_init(host_short_name(plugin.info.name).c_str());
    GeglBuffer* buffer = gimp_drawable_get_buffer(layer);
    HostImage out;
    bool ok =
        bridge_filter(plugin, {bool(gimp_drawable_is_rgb(layer)), format, rows, columns, buffer},
                      &out, message, progress);
    g_object_unref(buffer);
    if (!ok) return false;

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
    bridge_write(shadow, format, out, progress);
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
    std::vector<FoundPlugin> found = bridge_filters();
    const FoundPlugin* plugin = bridge_find(found, name);
    bool ok;
    try {
        if (!plugin)
            message =
                std::string(name) + ": its plug-in file is no longer in " + host_program_folder();
        ok = plugin && filter_layer(*plugin, parameters[1].data.d_image,
                                    parameters[2].data.d_drawable, &message);
    } catch (const std::bad_alloc&) {
        message = bridge_out_of_memory(*plugin);
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

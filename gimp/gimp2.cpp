/* gimp2.cpp - the GIMP 2.10 bridge: each filter plug-in (.8bf) found
 * beside this program becomes a GIMP procedure that runs it on the whole
 * active layer, as an image editor would (bridge.h does the run); and two
 * procedures open a layer's spectrum, or the image of a spectrum layer, as
 * a new image.
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
                               "Spectra", "Spectra", "2026", label.c_str(),
                               bridge_image_types(p).c_str(), GIMP_PLUGIN, G_N_ELEMENTS(arguments),
                               0, arguments, nullptr);
        for (const std::string& path : bridge_menu_paths(p))
            gimp_plugin_menu_register(name.c_str(), path.c_str());
    }
    /* the one-step procedures, at the top of the suite's menu */
    static GimpParamDef new_image[] = {
        {GIMP_PDB_IMAGE, const_cast<gchar*>("new-image"), const_cast<gchar*>("The new image")},
    };
    std::vector<FoundPlugin> found = bridge_filters();
    for (const BridgeStep& step : bridge_steps) {
        const FoundPlugin* p = bridge_find(found, bridge_procedure_name(step.plugin));
        if (!p) continue;
        gimp_install_procedure(step.procedure, step.blurb, step.blurb, "Spectra", "Spectra", "2026",
                               step.label, "RGB*", GIMP_PLUGIN, G_N_ELEMENTS(arguments), 1,
                               arguments, new_image);
        gimp_plugin_menu_register(step.procedure, bridge_menu);
    }
}

void progress(double fraction) {
    gimp_progress_update(fraction);
}

/* Runs the filter on the layer; on failure returns false with *message.
 * *note says what SpectraDescreen took out. */
bool filter_layer(const FoundPlugin& plugin, gint32 image_id, gint32 layer, std::string* note,
                  std::string* message) {
    if (!gimp_item_is_valid(layer) || !gimp_item_is_drawable(layer)) {
        *message = bridge_not_rgb(host_short_name(plugin.info.name));
        return false;
    }
    const Babl* format = gimp_drawable_get_format(layer);
    int32_t columns = gimp_drawable_width(layer), rows = gimp_drawable_height(layer);
    gimp_progress_init(host_short_name(plugin.info.name).c_str());
    GeglBuffer* buffer = gimp_drawable_get_buffer(layer);
    HostImage out;
    bool ok = bridge_filter(plugin,
                            {bool(gimp_drawable_is_rgb(layer)), bool(gimp_drawable_is_gray(layer)),
                             format, rows, columns, buffer},
                            &out, note, message, progress);
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

/* The layer as the bridge reads it, or false with *message. */
bool layer_of(const std::string& label, gint32 layer, BridgeLayer* read, std::string* message) {
    if (!gimp_item_is_valid(layer) || !gimp_item_is_drawable(layer)) {
        *message = bridge_not_rgb(label);
        return false;
    }
    *read = {bool(gimp_drawable_is_rgb(layer)), bool(gimp_drawable_is_gray(layer)),
             gimp_drawable_get_format(layer),   gimp_drawable_height(layer),
             gimp_drawable_width(layer),        gimp_drawable_get_buffer(layer)};
    return true;
}

/* A step's result as a new image of one layer, with the record in a
 * parasite. Its making is no step of its own history: the new image starts
 * clean, as an image just opened. */
gint32 open_new_image(BridgeNewImage& made, std::string* message) {
    HostImage& pixels = made.pixels;
    const std::string& name = made.name;
    gint32 image = gimp_image_new_with_precision(pixels.columns, pixels.rows, GIMP_RGB,
                                                 GimpPrecision(made.precision));
    gimp_image_undo_disable(image);
    gint32 layer = gimp_layer_new(image, name.c_str(), pixels.columns, pixels.rows,
                                  pixels.planes == 4 ? GIMP_RGBA_IMAGE : GIMP_RGB_IMAGE, 100,
                                  GIMP_LAYER_MODE_NORMAL);
    gimp_image_insert_layer(image, layer, 0, 0);
    const Babl* format = gimp_drawable_get_format(layer);
    if (babl_format_get_bytes_per_pixel(format) !=
        pixels.planes * host_sample_bytes(pixels.depth)) {
        gimp_image_delete(image);
        *message = name + ": GIMP made the new image in another format";
        return -1;
    }
    GeglBuffer* buffer = gimp_drawable_get_buffer(layer);
    bridge_write(buffer, format, pixels, progress);
    g_object_unref(buffer);
    if (made.record.depth) {
        std::string text = host_record_text(made.record);
        GimpParasite* parasite =
            gimp_parasite_new(host_record_key, GIMP_PARASITE_PERSISTENT, text.size(), text.c_str());
        gimp_image_attach_parasite(image, parasite);
        gimp_parasite_free(parasite);
    }
    gimp_image_undo_enable(image);
    return image;
}

/* Runs a one-step procedure on the layer; the new image, or -1 with
 * *message. The source image is left as it was. */
gint32 step_layer(const BridgeStep& step, const FoundPlugin& plugin, gint32 image_id, gint32 layer,
                  std::string* message) {
    BridgeLayer read;
    if (!layer_of(step.label, layer, &read, message)) return -1;
    gimp_progress_init(step.label);
    gchar* layer_name = gimp_item_get_name(layer);
    std::string name = layer_name ? layer_name : "";
    g_free(layer_name);
    SourceRecord record;
    if (GimpParasite* parasite = gimp_image_get_parasite(image_id, host_record_key)) {
        host_read_record(std::string(static_cast<const char*>(gimp_parasite_data(parasite)),
                                     size_t(gimp_parasite_data_size(parasite))),
                         &record);
        gimp_parasite_free(parasite);
    }
    BridgeNewImage made;
    bool ok = bridge_run_step(step, plugin, read, record, name, &made, message, progress);
    g_object_unref(read.pixels);
    return ok ? open_new_image(made, message) : -1;
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
    const BridgeStep* step = bridge_step(name);
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
    const FoundPlugin* plugin =
        bridge_find(found, step ? bridge_procedure_name(step->plugin) : std::string(name));
    std::string label = step ? step->label : plugin ? host_short_name(plugin->info.name) : "";
    gint32 made = -1;
    std::string note;
    bool ok;
    try {
        if (!plugin)
            message =
                std::string(name) + ": its plug-in file is no longer in " + host_program_folder();
        if (plugin && step) {
            made = step_layer(*step, *plugin, parameters[1].data.d_image,
                              parameters[2].data.d_drawable, &message);
            ok = made != -1;
        } else {
            ok = plugin && filter_layer(*plugin, parameters[1].data.d_image,
                                        parameters[2].data.d_drawable, &note, &message);
        }
    } catch (const std::bad_alloc&) {
        message = bridge_out_of_memory(label);
        ok = false;
    }
    if (!ok) {
        values[0].data.d_status = GIMP_PDB_EXECUTION_ERROR;
        values[1].type = GIMP_PDB_STRING;
        values[1].data.d_string = const_cast<gchar*>(message.c_str());
        *return_count = 2;
        return;
    }
    if (step) {
        values[1].type = GIMP_PDB_IMAGE;
        values[1].data.d_image = made;
        *return_count = 2;
    }
    if (parameters[0].data.d_int32 != GIMP_RUN_NONINTERACTIVE) {
        if (step) gimp_display_new(made);
        gimp_displays_flush();
        if (!note.empty()) gimp_message((label + ": " + note).c_str());
    }
}

} // namespace

const GimpPlugInInfo PLUG_IN_INFO = {nullptr, nullptr, query, run};

MAIN()

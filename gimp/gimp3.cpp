/* gimp3.cpp - the GIMP 3 bridge: each filter plug-in (.8bf) found beside
 * this program becomes a GIMP image procedure that runs it on the whole
 * selected layer, as an image editor would (bridge.h does the run); and two
 * procedures open a layer's spectrum, or the image of a spectrum layer, as
 * a new image.
 *
 * Pixels cross at the layer's own precision and in its own format, so no
 * colour conversion touches them. The result replaces the whole layer, also
 * where a selection would clip a filter's output, in one undo step; the
 * selection itself stays as it was. A filter works on one layer: with
 * several layers selected the menu item is greyed out, and a script that
 * passes several is refused, nothing changed. */
#include "bridge.h"

#include <libgimp/gimp.h>

namespace {

struct SpectraBridge {
    GimpPlugIn parent_instance;
};

struct SpectraBridgeClass {
    GimpPlugInClass parent_class;
};

G_DEFINE_TYPE(SpectraBridge, spectra_bridge, GIMP_TYPE_PLUG_IN)

void progress(double fraction) {
    gimp_progress_update(fraction);
}

/* Runs the filter on the layer; on failure returns false with *message.
 * *note says what SpectraDescreen took out. */
bool filter_layer(const FoundPlugin& plugin, GimpImage* image, GimpDrawable* layer,
                  std::string* note, std::string* message) {
    if (!gimp_item_is_valid(GIMP_ITEM(layer))) {
        *message = bridge_not_rgb(host_short_name(plugin.info.name));
        return false;
    }
    const Babl* format = gimp_drawable_get_format(layer);
    int32_t columns = gimp_drawable_get_width(layer), rows = gimp_drawable_get_height(layer);
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
    gimp_image_undo_group_start(image);
    GimpChannel* saved = nullptr;
    if (!gimp_selection_is_empty(image)) {
        saved = gimp_selection_save(image);
        gimp_selection_none(image);
    }
    GeglBuffer* shadow = gimp_drawable_get_shadow_buffer(layer);
    bridge_write(shadow, format, out, progress);
    g_object_unref(shadow);
    gimp_drawable_merge_shadow(layer, TRUE);
    gimp_drawable_update(layer, 0, 0, columns, rows);
    if (saved) {
        gimp_image_select_item(image, GIMP_CHANNEL_OP_REPLACE, GIMP_ITEM(saved));
        gimp_image_remove_channel(image, saved);
    }
    gimp_image_undo_group_end(image);
    return true;
}

/* A step's result as a new image of one layer, with the record in a
 * parasite. Its making is no step of its own history: the new image starts
 * clean, as an image just opened. */
GimpImage* open_new_image(BridgeNewImage& made, std::string* message) {
    HostImage& pixels = made.pixels;
    const std::string& name = made.name;
    GimpImage* image = gimp_image_new_with_precision(pixels.columns, pixels.rows, GIMP_RGB,
                                                     GimpPrecision(made.precision));
    gimp_image_undo_disable(image);
    GimpLayer* layer = gimp_layer_new(image, name.c_str(), pixels.columns, pixels.rows,
                                      pixels.planes == 4 ? GIMP_RGBA_IMAGE : GIMP_RGB_IMAGE, 100,
                                      GIMP_LAYER_MODE_NORMAL);
    gimp_image_insert_layer(image, layer, nullptr, 0);
    GimpDrawable* drawable = GIMP_DRAWABLE(layer);
    const Babl* format = gimp_drawable_get_format(drawable);
    if (babl_format_get_bytes_per_pixel(format) !=
        pixels.planes * host_sample_bytes(pixels.depth)) {
        gimp_image_delete(image);
        *message = name + ": GIMP made the new image in another format";
        return nullptr;
    }
    GeglBuffer* buffer = gimp_drawable_get_buffer(drawable);
    bridge_write(buffer, format, pixels, progress);
    g_object_unref(buffer);
    if (made.record.depth) {
        std::string text = host_record_text(made.record);
        GimpParasite* parasite = gimp_parasite_new(host_record_key, GIMP_PARASITE_PERSISTENT,
                                                   guint32(text.size()), text.c_str());
        gimp_image_attach_parasite(image, parasite);
        gimp_parasite_free(parasite);
    }
    gimp_image_undo_enable(image);
    return image;
}

/* Runs a one-step procedure on the layer; the new image, or null with
 * *message. The source image is left as it was. */
GimpImage* step_layer(const BridgeStep& step, const FoundPlugin& plugin, GimpImage* image,
                      GimpDrawable* layer, std::string* message) {
    if (!gimp_item_is_valid(GIMP_ITEM(layer))) {
        *message = bridge_not_rgb(step.label);
        return nullptr;
    }
    gimp_progress_init(step.label);
    BridgeLayer read = {bool(gimp_drawable_is_rgb(layer)), bool(gimp_drawable_is_gray(layer)),
                        gimp_drawable_get_format(layer),   gimp_drawable_get_height(layer),
                        gimp_drawable_get_width(layer),    gimp_drawable_get_buffer(layer)};
    gchar* layer_name = gimp_item_get_name(GIMP_ITEM(layer));
    std::string name = layer_name ? layer_name : "";
    g_free(layer_name);
    SourceRecord record;
    if (GimpParasite* parasite = gimp_image_get_parasite(image, host_record_key)) {
        guint32 size = 0;
        const char* data = static_cast<const char*>(gimp_parasite_get_data(parasite, &size));
        host_read_record(std::string(data, size), &record);
        gimp_parasite_free(parasite);
    }
    BridgeNewImage made;
    bool ok = bridge_run_step(step, plugin, read, record, name, &made, message, progress);
    g_object_unref(read.pixels);
    return ok ? open_new_image(made, message) : nullptr;
}

GimpValueArray* run(GimpProcedure* procedure, GimpRunMode run_mode, GimpImage* image,
                    GimpDrawable** drawables, GimpProcedureConfig*, gpointer) {
    const char* name = gimp_procedure_get_name(procedure);
    const BridgeStep* step = bridge_step(name);
    std::vector<FoundPlugin> found = bridge_filters();
    const FoundPlugin* plugin =
        bridge_find(found, step ? bridge_procedure_name(step->plugin) : std::string(name));
    std::string label = step ? step->label : plugin ? host_short_name(plugin->info.name) : "";
    std::string message, note;
    GimpImage* made = nullptr;
    bool ok = false;
    try {
        if (!plugin)
            message =
                std::string(name) + ": its plug-in file is no longer in " + host_program_folder();
        else if (!drawables || !drawables[0] || drawables[1])
            message = bridge_one_layer(label);
        else if (step)
            ok = (made = step_layer(*step, *plugin, image, drawables[0], &message)) != nullptr;
        else
            ok = filter_layer(*plugin, image, drawables[0], &note, &message);
    } catch (const std::bad_alloc&) {
        message = bridge_out_of_memory(label);
    }
    if (!ok) {
        GError* error = g_error_new_literal(GIMP_PLUG_IN_ERROR, 0, message.c_str());
        return gimp_procedure_new_return_values(procedure, GIMP_PDB_EXECUTION_ERROR, error);
    }
    if (run_mode != GIMP_RUN_NONINTERACTIVE) {
        if (made) gimp_display_new(made);
        gimp_displays_flush();
        if (!note.empty()) gimp_message((label + ": " + note).c_str());
    }
    GimpValueArray* values = gimp_procedure_new_return_values(procedure, GIMP_PDB_SUCCESS, nullptr);
    if (made) GIMP_VALUES_SET_IMAGE(values, 1, made);
    return values;
}

GList* query_procedures(GimpPlugIn*) {
    GList* names = nullptr;
    std::vector<FoundPlugin> found = bridge_filters();
    for (const FoundPlugin& p : found)
        names = g_list_append(
            names, g_strdup(bridge_procedure_name(host_short_name(p.info.name)).c_str()));
    for (const BridgeStep& step : bridge_steps)
        if (bridge_find(found, bridge_procedure_name(step.plugin)))
            names = g_list_append(names, g_strdup(step.procedure));
    return names;
}

GimpProcedure* create_procedure(GimpPlugIn* plug_in, const gchar* name) {
    std::vector<FoundPlugin> found = bridge_filters();
    const BridgeStep* step = bridge_step(name);
    const FoundPlugin* p =
        bridge_find(found, step ? bridge_procedure_name(step->plugin) : std::string(name));
    if (!p) return nullptr;
    GimpProcedure* procedure =
        gimp_image_procedure_new(plug_in, name, GIMP_PDB_PROC_TYPE_PLUGIN, run, nullptr, nullptr);
    std::string label = step ? step->label : host_short_name(p->info.name);
    std::string blurb = step ? step->blurb : bridge_blurb(*p);
    std::string help = step ? blurb : bridge_help(*p);
    gimp_procedure_set_image_types(procedure, step ? "RGB*" : bridge_image_types(*p).c_str());
    gimp_procedure_set_sensitivity_mask(procedure, GIMP_PROCEDURE_SENSITIVE_DRAWABLE);
    gimp_procedure_set_menu_label(procedure, label.c_str());
    const std::vector<std::string> paths =
        step ? std::vector<std::string>{bridge_menu} : bridge_menu_paths(*p);
    for (const std::string& path : paths) gimp_procedure_add_menu_path(procedure, path.c_str());
    gimp_procedure_set_documentation(procedure, blurb.c_str(), help.c_str(), name);
    if (step)
        gimp_procedure_add_image_return_value(procedure, "new-image", "New image", "The new image",
                                              FALSE, G_PARAM_READWRITE);
    gimp_procedure_set_attribution(procedure, "Spectra", "Spectra", "2026");
    return procedure;
}

/* The texts are the bridge's own, in English: no translations to set up. */
gboolean set_i18n(GimpPlugIn*, const gchar*, gchar**, gchar**) {
    return FALSE;
}

void spectra_bridge_class_init(SpectraBridgeClass* klass) {
    GimpPlugInClass* plug_in = GIMP_PLUG_IN_CLASS(klass);
    plug_in->query_procedures = query_procedures;
    plug_in->create_procedure = create_procedure;
    plug_in->set_i18n = set_i18n;
}

void spectra_bridge_init(SpectraBridge*) {}

} // namespace

/* Pixels only move between buffers in the layer's own format, so the
 * bridge needs none of GEGL's operations, which would take a second of
 * every run to load: GEGL looks for them in GEGL_PATH, here a folder that
 * holds none. */
int main(int argc, char* argv[]) {
    g_setenv("GEGL_PATH", host_program_folder().c_str(), TRUE);
    return gimp_main(spectra_bridge_get_type(), argc, argv);
}

/* gimp3.cpp - the GIMP 3 bridge: each filter plug-in (.8bf) found beside
 * this program becomes a GIMP image procedure that runs it on the whole
 * selected layer, as an image editor would (bridge.h does the run).
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

/* Runs the filter on the layer; on failure returns false with *message. */
bool filter_layer(const FoundPlugin& plugin, GimpImage* image, GimpDrawable* layer,
                  std::string* message) {
    if (!gimp_item_is_valid(GIMP_ITEM(layer))) {
        *message = bridge_not_rgb(plugin);
        return false;
    }
    const Babl* format = gimp_drawable_get_format(layer);
    int32_t columns = gimp_drawable_get_width(layer), rows = gimp_drawable_get_height(layer);
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

GimpValueArray* run(GimpProcedure* procedure, GimpRunMode run_mode, GimpImage* image,
                    GimpDrawable** drawables, GimpProcedureConfig*, gpointer) {
    const char* name = gimp_procedure_get_name(procedure);
    std::vector<FoundPlugin> found = bridge_filters();
    const FoundPlugin* plugin = bridge_find(found, name);
    std::string message;
    bool ok = false;
    try {
        if (!plugin)
            message =
                std::string(name) + ": its plug-in file is no longer in " + host_program_folder();
        else if (!drawables || !drawables[0] || drawables[1])
            message = bridge_one_layer(*plugin);
        else
            ok = filter_layer(*plugin, image, drawables[0], &message);
    } catch (const std::bad_alloc&) {
        message = bridge_out_of_memory(*plugin);
    }
    if (!ok) {
        GError* error = g_error_new_literal(GIMP_PLUG_IN_ERROR, 0, message.c_str());
        return gimp_procedure_new_return_values(procedure, GIMP_PDB_EXECUTION_ERROR, error);
    }
    if (run_mode != GIMP_RUN_NONINTERACTIVE) gimp_displays_flush();
    return gimp_procedure_new_return_values(procedure, GIMP_PDB_SUCCESS, nullptr);
}

GList* query_procedures(GimpPlugIn*) {
    GList* names = nullptr;
    for (const FoundPlugin& p : bridge_filters())
        names = g_list_append(
            names, g_strdup(bridge_procedure_name(host_short_name(p.info.name)).c_str()));
    return names;
}

GimpProcedure* create_procedure(GimpPlugIn* plug_in, const gchar* name) {
    std::vector<FoundPlugin> found = bridge_filters();
    const FoundPlugin* p = bridge_find(found, name);
    if (!p) return nullptr;
    GimpProcedure* procedure =
        gimp_image_procedure_new(plug_in, name, GIMP_PDB_PROC_TYPE_PLUGIN, run, nullptr, nullptr);
    std::string label = host_short_name(p->info.name);
    gimp_procedure_set_image_types(procedure, "RGB*");
    gimp_procedure_set_sensitivity_mask(procedure, GIMP_PROCEDURE_SENSITIVE_DRAWABLE);
    gimp_procedure_set_menu_label(procedure, label.c_str());
    gimp_procedure_add_menu_path(procedure, bridge_menu_path(*p).c_str());
    gimp_procedure_set_documentation(procedure, bridge_blurb(*p).c_str(), bridge_help(*p).c_str(),
                                     name);
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

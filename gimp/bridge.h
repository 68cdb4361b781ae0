/* bridge.h - what the GIMP bridges share, whichever GIMP they are built for
 * (gimp2.cpp for GIMP 2.10, gimp3.cpp for GIMP 3): finding the filter
 * plug-ins and naming their procedures, checking a layer, moving its pixels
 * at its own precision and in its own format, running the filter with the
 * 16-bit mapping, and the texts of every refusal and failure. Nothing here
 * calls libgimp, only GEGL and babl, which both GIMPs use alike. */
#ifndef SPECTRA_GIMP_BRIDGE_H
#define SPECTRA_GIMP_BRIDGE_H

#include "host.h"
#include "spectrum.h"

#include <gegl.h>
#include <string>
#include <vector>

/* "SpectraPlaneInverse" -> "plug-in-spectra-plane-inverse". */
std::string bridge_procedure_name(const std::string& short_name);

/* The filter plug-ins in SPECTRA_PLUGIN_PATH, then in the bridge's own
 * folder; the first of each procedure name counts. */
std::vector<FoundPlugin> bridge_filters();

/* The plug-in behind a procedure name, or null. */
const FoundPlugin* bridge_find(const std::vector<FoundPlugin>& filters,
                               const std::string& procedure);

/* What a procedure says of itself, and the menu it goes in. */
std::string bridge_blurb(const FoundPlugin& plugin);
std::string bridge_help(const FoundPlugin& plugin);
std::vector<std::string> bridge_menu_paths(const FoundPlugin& plugin);
extern const char bridge_menu[]; /* where the one-step procedures go */

/* A layer as the bridge reads it: its pixels in `format`, the layer's own. */
struct BridgeLayer {
    bool rgb, grey;
    const Babl* format;
    int32_t rows, columns;
    GeglBuffer* pixels;
};

/* The image types that a filter's procedure takes: "RGB*", and grey too
 * where the plug-in's property list enables it for grey documents. */
std::string bridge_image_types(const FoundPlugin& plugin);

/* Runs the filter on the layer's pixels. On success *out holds the layer's
 * new pixels in its own format, and *note what SpectraDescreen took out (or
 * nothing, for the others); otherwise *message says why not, naming the
 * filter, and nothing has been written. `progress` (0 to 1) follows the
 * reading. */
bool bridge_filter(const FoundPlugin& plugin, const BridgeLayer& layer, HostImage* out,
                   std::string* note, std::string* message, void (*progress)(double));

/* The one-step procedures beside the filters: a layer's spectrum as a new
 * image, and the image back from a spectrum layer, each through the
 * plug-in named here (host/spectrum.h does the canvas and the depths). */
struct BridgeStep {
    const char* procedure;
    const char* label;
    const char* plugin;
    const char* blurb;
};
extern const BridgeStep bridge_steps[2];

/* The step of a procedure name, or null. */
const BridgeStep* bridge_step(const std::string& procedure);

/* A new image that a step makes: its layer's name and pixels (16 bits as
 * 0..65535), its precision (the value of GimpPrecision, alike in both
 * GIMPs), and for a spectrum the record of its source, kept in a parasite
 * named host_record_key. */
struct BridgeNewImage {
    std::string name;
    HostImage pixels;
    int precision = 0;
    SourceRecord record;
};

/* Runs a step on the layer (named `layer_name`, in an image that carries
 * `record`, or a record of depth 0). Spectrum as New Image: SpectraPlane's
 * picture of the layer on a canvas twice as wide, at 16 bits for an 8-bit
 * layer, else at the layer's own precision. Spectrum to Image: the left
 * half of SpectraPlaneInverse's picture of the layer, at the recorded
 * source's precision where the record fits the layer, else at the
 * layer's. */
bool bridge_run_step(const BridgeStep& step, const FoundPlugin& plugin, const BridgeLayer& layer,
                     const SourceRecord& record, const std::string& layer_name,
                     BridgeNewImage* image, std::string* message, void (*progress)(double));

/* Writes pixels that bridge_filter or a step made into `target`, a buffer
 * in `format`, with progress from 0.7 to 1. */
void bridge_write(GeglBuffer* target, const Babl* format, HostImage& pixels,
                  void (*progress)(double));

/* The messages for a layer that is not an RGB layer, for a call with other
 * than one layer, and for a run that ran out of memory in the bridge; the
 * label names the filter or the procedure. */
std::string bridge_not_rgb(const std::string& label);
std::string bridge_one_layer(const std::string& label);
std::string bridge_out_of_memory(const std::string& label);

#endif

/* bridge.h - what the GIMP bridges share, whichever GIMP they are built for
 * (gimp2.cpp for GIMP 2.10, gimp3.cpp for GIMP 3): finding the filter
 * plug-ins and naming their procedures, checking a layer, moving its pixels
 * at its own precision and in its own format, running the filter with the
 * 16-bit mapping, and the texts of every refusal and failure. Nothing here
 * calls libgimp, only GEGL and babl, which both GIMPs use alike. */
#ifndef SPECTRA_GIMP_BRIDGE_H
#define SPECTRA_GIMP_BRIDGE_H

#include "host.h"

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
std::string bridge_menu_path(const FoundPlugin& plugin);

/* A layer as the bridge reads it: its pixels in `format`, the layer's own. */
struct BridgeLayer {
    bool rgb;
    const Babl* format;
    int32_t rows, columns;
    GeglBuffer* pixels;
};

/* Runs the filter on the layer's pixels. On success *out holds the layer's
 * new pixels in its own format; otherwise *message says why not, naming the
 * filter, and nothing has been written. `progress` (0 to 1) follows the
 * reading. */
bool bridge_filter(const FoundPlugin& plugin, const BridgeLayer& layer, HostImage* out,
                   std::string* message, void (*progress)(double));

/* Writes pixels that bridge_filter made into `target`, a buffer of the same
 * layer, with progress from 0.7 to 1. */
void bridge_write(GeglBuffer* target, const Babl* format, HostImage& pixels,
                  void (*progress)(double));

/* The messages for a layer that is not an RGB layer, for a call with other
 * than one layer, and for a run that ran out of memory in the bridge. */
std::string bridge_not_rgb(const FoundPlugin& plugin);
std::string bridge_one_layer(const FoundPlugin& plugin);
std::string bridge_out_of_memory(const FoundPlugin& plugin);

#endif

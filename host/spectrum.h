/* spectrum.h - a picture's spectrum in one step, and the way back.
 *
 * The planar plug-ins transform the left half of a document and write the
 * phase into its right half, so a user who wants the spectrum of a photo
 * first widens its canvas, and after the inverse crops it again. These are
 * those steps, shared by the command and the GIMP bridges, so that both
 * make the same samples. Images here hold 16-bit samples as files and
 * editors do (0..65535), not in the interface's range. */
#ifndef SPECTRA_HOST_SPECTRUM_H
#define SPECTRA_HOST_SPECTRUM_H

#include "host.h"

#include <string>

/* The picture at another depth (8, 16 or 32), as an editor converts an
 * image's precision: through the fraction of white, rounded to the nearest
 * and clamped to 0..white for integers (NaN becomes 0). 8 bits go to 16 as
 * v × 257 and come back exactly. */
HostImage host_convert_depth(const HostImage& picture, int32_t depth);

/* The widest picture whose canvas, twice as wide, the interface's 16-bit
 * sizes still hold. */
const int32_t host_widest_picture = 32767 / 2;

/* A canvas twice as wide with the picture in its left half; the right
 * half is black, and opaque where the picture has alpha, so that the phase
 * written there shows. */
HostImage host_spectrum_canvas(const HostImage& picture);

/* The left half of an image (columns / 2, truncated). */
HostImage host_left_half(const HostImage& image);

/* A 16-bit image delivered to a plug-in in the interface's range, and its
 * output turned back into the file's range: samples that the plug-in left
 * as they came keep their own file values. `original` is the file-range
 * image that the plug-in's input was made from. */
void host_to_file16_after(HostImage& out, const HostImage& original);

/* What a spectrum picture records of the picture it was made from, so that
 * the way back gives that picture's depth: the depth and the size. Files
 * carry it as text under the key host_record_key, in a PNG text chunk, a
 * TIFF description or a GIMP parasite. */
struct SourceRecord {
    int32_t depth = 0; /* 0: none */
    int32_t columns = 0, rows = 0;
};

extern const char* const host_record_key; /* "spectra-source" */

/* "depth 8, 640 x 480" */
std::string host_record_text(const SourceRecord& record);

/* The record in such a text; false (and no record) for any other text. */
bool host_read_record(const std::string& text, SourceRecord* record);

/* Whether the record fits a spectrum picture of this size: one twice as
 * wide as the source, as tall. An editor may keep the text and change the
 * picture; then the record no longer speaks for it. */
bool host_record_fits(const SourceRecord& record, int32_t columns, int32_t rows);

#endif

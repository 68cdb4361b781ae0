/* image_io.h - image files to and from the interface's image layout.
 *
 * PNG, JPEG and TIFF files are read; PNG and TIFF are written. Files hold
 * 8-bit, 16-bit or 32-bit float samples; the interface's 16-bit samples run
 * from 0 to 32768, so 16-bit file data is converted on the way in and back
 * on the way out, exactly for every in-range value. Outputs are written to
 * a new temporary file beside the target and renamed into place, so that no
 * failure leaves a partial file; devices and pipes are written directly. */
#ifndef SPECTRA_IMAGE_IO_H
#define SPECTRA_IMAGE_IO_H

#include "host.h"
#include "spectrum.h"

#include <string>
#include <vector>

/* How a file's colours are arranged: decides the document's mode. Palette
 * files are read as RGB. */
enum class ImageColours { rgb, grey, cmyk, other };

enum class ImageFormat { png, tiff, jpeg };

/* What a picture carries beside its samples, which goes from input to
 * output where the output shows the same scene. */
struct ImageMeta {
    std::vector<uint8_t> icc;    /* the colour profile, if the file has one */
    double dpi_x = 0, dpi_y = 0; /* pixels per inch; 0 when the file gives none */
};

/* A JPEG output's quality when none is asked for. */
const int image_jpeg_quality = 92;

struct ImageFile {
    HostImage image;
    ImageColours colours = ImageColours::rgb;
    ImageFormat format = ImageFormat::png;
    HostImage original;  /* 16-bit files: the samples as the file holds them */
    SourceRecord record; /* a spectrum's record of its source, read and written */
    ImageMeta meta;
    bool spectrum = false; /* a picture of codes, which JPEG's losses would change */
    int jpeg_quality = image_jpeg_quality; /* of a JPEG output, 1 to 100 */
};

/* 16-bit samples as a file holds them (0..65535, native order) kept in
 * file->original and turned into the interface's range in file->image. */
void image_from_file16(ImageFile* file);

/* Reads a PNG, JPEG or TIFF file (by its contents). On failure returns false and
 * sets *error to a one-line message that names the file and the cause. */
bool image_read(const std::string& path, ImageFile* file, std::string* error);

/* Can a picture of this depth and number of planes be written at `path`:
 * does its extension name a format that holds it, and is its folder there
 * to write in? False with *error saying why. Asked before any work, and
 * again by image_write. */
bool image_can_write(const std::string& path, int32_t depth, int32_t planes, bool spectrum,
                     std::string* error);

/* Writes `image` as PNG, TIFF or JPEG, chosen by the path's extension
 * (.png, .tif, .tiff, .jpg, .jpeg), atomically. PNG holds 8 and 16 bits;
 * TIFF also 32-bit floats; JPEG 8 bits (16 are rounded to 8), and no
 * spectrum. The file gets the permissions that the umask gives a new file.
 * With the `source` that a plug-in ran on, 16-bit samples that the plug-in
 * left alone keep the source file's own values, and its record of a
 * spectrum's source goes into the file, and its profile and resolution. */
bool image_write(const std::string& path, const HostImage& image, std::string* error,
                 const ImageFile* source = nullptr);

/* Removes the temporary file of a write in progress, if any. Safe to call
 * from a signal handler. */
void image_remove_temporary();

#endif

/* image_formats.h - what the readers and writers of each file format share
 * inside the image file library: image_io.cpp picks the format, the files
 * image_png.cpp, image_tiff.cpp and image_jpeg.cpp hold one format each. */
#ifndef SPECTRA_IMAGE_FORMATS_H
#define SPECTRA_IMAGE_FORMATS_H

#include "image_io.h"

#include <cstdio>
#include <string>
#include <vector>

/* The interface's sizes are 16-bit: a larger side is refused (true) with a
 * message in *error. */
bool image_too_large(const std::string& path, uint64_t width, uint64_t height, std::string* error);

/* Row y of the image in the file's range: a copy, or for 16 bits the
 * samples turned back to 0..65535; where `original` (may be null) holds
 * the file that the image was made from, untouched samples keep its
 * values. */
void image_file_row(const HostImage& image, const HostImage* original, int32_t y,
                    std::vector<uint8_t>* row);

/* The readers: fill *file or set *error to a line that names `path`. */
bool png_read(const std::string& path, FILE* f, ImageFile* file, std::string* error);
bool tiff_read(const std::string& path, ImageFile* file, std::string* error);
bool jpeg_read(const std::string& path, FILE* f, ImageFile* file, std::string* error);

/* The writers, into an open file; messages name `path`. A record with a
 * depth is written into the file. */
bool png_write(const std::string& path, FILE* f, const HostImage& image, const HostImage* original,
               const SourceRecord& record, const ImageMeta& meta, bool spectrum,
               std::string* error);
/* PNG's colour type for 1 to 4 planes: grey, grey and alpha, RGB, RGBA. */
inline uint8_t png_colour_type(int32_t planes) {
    const uint8_t types[4] = {0, 4, 2, 6};
    return types[planes - 1];
}
/* How a large PNG's image data is packed: zlib's level and strategy, and
 * whether rows are filtered. */
struct PngPacking {
    int level, strategy;
    bool filtered;
};
/* The zlib stream of a large 8- or 16-bit picture's PNG image data,
 * compressed on every core (png_parallel.cpp). False when memory runs
 * out. */
bool png_image_data(const HostImage& image, const HostImage* original, const PngPacking& packing,
                    std::vector<uint8_t>* data);
/* An 8- or 16-bit picture of 1 or 3 planes as JPEG of `quality` (1 to
 * 100), with 16-bit samples rounded to 8 bits. */
bool jpeg_write(const std::string& path, FILE* f, const HostImage& image, const HostImage* original,
                const ImageMeta& meta, int quality, std::string* error);
/* Takes the descriptor: it is closed when the call returns. Synced to its
 * disk when `sync` is set. */
bool tiff_write(const std::string& path, int fd, const HostImage& image, const HostImage* original,
                const SourceRecord& record, const ImageMeta& meta, bool sync, std::string* error);

#endif

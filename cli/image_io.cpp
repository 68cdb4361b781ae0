/* image_io.cpp - reading and writing PNG (libpng) and TIFF (libtiff) files. */
#include "image_io.h"

#include <cerrno>
#include <climits>
#include <csetjmp>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <png.h>
#include <zlib.h>
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>
#include <vector>

uint16_t to_interface16(uint16_t v) {
    return uint16_t((uint32_t(v) * 32768 + 32767) / 65535);
}

uint16_t from_interface16(uint16_t v) {
    if (v > 32768) v = 32768;
    return uint16_t((uint32_t(v) * 65535 + 16384) / 32768);
}

namespace {

/* The temporary file being written, for image_remove_temporary(), which may
 * run in a signal handler: a plain buffer and a flag set after it. */
char temporary[PATH_MAX];
volatile sig_atomic_t temporary_set = 0;

const int32_t largest_side = 32767; /* the interface's sizes are 16-bit */

bool too_large(const std::string& path, uint64_t width, uint64_t height, std::string* error) {
    if (width <= uint64_t(largest_side) && height <= uint64_t(largest_side)) return false;
    *error = path + ": " + std::to_string(width) + " x " + std::to_string(height) +
             " pixels is larger than 32767 on a side";
    return true;
}

/* A sample of the file's row (8-bit, big- or native-endian 16-bit as the
 * reader left it, or float) stored into the image in the interface's range. */
void store_row(HostImage& image, int32_t y, const uint8_t* row) {
    int32_t n = image.columns * image.planes;
    uint8_t* out = image.data() + y * image.row_bytes;
    if (image.depth == 16) {
        const uint16_t* in = reinterpret_cast<const uint16_t*>(row);
        uint16_t* o = reinterpret_cast<uint16_t*>(out);
        for (int32_t i = 0; i < n; i++) o[i] = to_interface16(in[i]);
    } else {
        std::memcpy(out, row, size_t(n) * size_t(host_sample_bytes(image.depth)));
    }
}

/* The image's row in the file's range. */
void load_row(const HostImage& image, int32_t y, std::vector<uint8_t>* row) {
    int32_t n = image.columns * image.planes;
    const uint8_t* in = image.data() + y * image.row_bytes;
    row->resize(size_t(n) * size_t(host_sample_bytes(image.depth)));
    if (image.depth == 16) {
        const uint16_t* i16 = reinterpret_cast<const uint16_t*>(in);
        uint16_t* o = reinterpret_cast<uint16_t*>(row->data());
        for (int32_t i = 0; i < n; i++) o[i] = from_interface16(i16[i]);
    } else {
        std::memcpy(row->data(), in, row->size());
    }
}

/* ---- PNG ---- */

struct PngError {
    std::jmp_buf jump;
    std::string message;
    int cause = 0; /* errno when the error was raised: why a write failed */
};

void png_error_fn(png_structp png, png_const_charp message) {
    PngError* e = static_cast<PngError*>(png_get_error_ptr(png));
    e->cause = errno;
    e->message = message;
    std::longjmp(e->jump, 1);
}

void png_warning_fn(png_structp, png_const_charp) {}

bool read_png(const std::string& path, FILE* f, ImageFile* file, std::string* error) {
    PngError e;
    png_structp png =
        png_create_read_struct(PNG_LIBPNG_VER_STRING, &e, png_error_fn, png_warning_fn);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        *error = path + ": out of memory";
        return false;
    }
    /* Everything that outlives a longjmp is declared before the setjmp:
     * a longjmp skips the destructors of what is declared after it. */
    std::vector<uint8_t> row, all;
    std::vector<png_bytep> rows;
    if (setjmp(e.jump)) {
        png_destroy_read_struct(&png, &info, nullptr);
        *error = path + ": a corrupt or truncated PNG file (" + e.message + ")";
        return false;
    }
    png_init_io(png, f);
    png_set_user_limits(png, 0x7fffffff, 0x7fffffff);
    /* Text, profiles and unknown chunks are skipped, not read: libpng
     * allocates such a chunk at the size the file claims, so a few bytes
     * that claim a 2 GB text would cost 2 GB. */
    static const png_byte skipped[] = "tEXt\0zTXt\0iTXt\0iCCP\0sPLT\0eXIf";
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, 0);
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, skipped, 6);
    png_read_info(png, info);
    png_uint_32 width = png_get_image_width(png, info), height = png_get_image_height(png, info);
    int type = png_get_color_type(png, info), bits = png_get_bit_depth(png, info);
    if (too_large(path, width, height, error)) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    /* Deflate packs at most 1032 bytes into one: a file too short for the
     * pixels it claims is refused before memory is set aside for them. */
    uint64_t stored = (uint64_t(png_get_rowbytes(png, info)) + 1) * height;
    struct stat s;
    if (fstat(fileno(f), &s) == 0 && S_ISREG(s.st_mode) &&
        uint64_t(s.st_size) * 1032 + 65536 < stored) {
        png_destroy_read_struct(&png, &info, nullptr);
        *error = path + ": a corrupt or truncated PNG file (too short for " +
                 std::to_string(width) + " x " + std::to_string(height) + " pixels)";
        return false;
    }
    if (bits < 8) png_set_expand(png); /* low-depth grey and palettes to bytes */
    if (bits == 16) png_set_swap(png); /* to native order (little-endian here) */
    if (png_get_valid(png, info, PNG_INFO_tRNS) && type != PNG_COLOR_TYPE_PALETTE)
        png_set_tRNS_to_alpha(png);
    png_read_update_info(png, info);
    int planes = png_get_channels(png, info);
    file->colours = type == PNG_COLOR_TYPE_PALETTE  ? ImageColours::palette
                    : (type & PNG_COLOR_MASK_COLOR) ? ImageColours::rgb
                                                    : ImageColours::grey;
    file->image = host_image(int32_t(height), int32_t(width), planes, bits == 16 ? 16 : 8);
    row.resize(png_get_rowbytes(png, info));
    if (png_set_interlace_handling(png) > 1) {
        /* interlaced: read the whole image at once */
        all.resize(row.size() * height);
        rows.resize(height);
        for (png_uint_32 y = 0; y < height; y++) rows[y] = all.data() + y * row.size();
        png_read_image(png, rows.data());
        for (png_uint_32 y = 0; y < height; y++) store_row(file->image, int32_t(y), rows[y]);
    } else {
        for (png_uint_32 y = 0; y < height; y++) {
            png_read_row(png, row.data(), nullptr);
            store_row(file->image, int32_t(y), row.data());
        }
    }
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

bool write_png(const std::string& path, FILE* f, const HostImage& image, std::string* error) {
    if (image.depth == 32) {
        *error = path + ": PNG cannot hold 32-bit float samples (write a .tif file)";
        return false;
    }
    if (image.planes != 3 && image.planes != 4) {
        *error = path + ": PNG output needs 3 or 4 planes";
        return false;
    }
    PngError e;
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, &e, png_error_fn, png_warning_fn);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        *error = path + ": out of memory";
        return false;
    }
    std::vector<uint8_t> row;
    if (setjmp(e.jump)) {
        png_destroy_write_struct(&png, &info);
        *error =
            path + ": cannot be written (" + (e.cause ? std::strerror(e.cause) : e.message) + ")";
        return false;
    }
    png_init_io(png, f);
    errno = 0;
    /* Spectra are noisy and compress poorly: the fastest settings cost little
     * size: no row filters, zlib's fastest level, Huffman codes only. */
    png_set_compression_level(png, 1);
    png_set_compression_strategy(png, Z_HUFFMAN_ONLY);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_set_IHDR(png, info, png_uint_32(image.columns), png_uint_32(image.rows), image.depth,
                 image.planes == 4 ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    if (image.depth == 16) png_set_swap(png);
    for (int32_t y = 0; y < image.rows; y++) {
        load_row(image, y, &row);
        png_write_row(png, row.data());
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

/* ---- TIFF ---- */

std::string tiff_message;

void tiff_error_fn(const char*, const char* format, va_list args) {
    char buffer[512];
    std::vsnprintf(buffer, sizeof buffer, format, args);
    tiff_message = buffer;
}

void tiff_quiet(const char*, const char*, va_list) {}

void tiff_handlers() {
    TIFFSetErrorHandler(tiff_error_fn);
    TIFFSetWarningHandler(tiff_quiet);
}

bool read_tiff(const std::string& path, ImageFile* file, std::string* error) {
    tiff_handlers();
    tiff_message.clear();
    TIFF* t = TIFFOpen(path.c_str(), "r");
    if (!t) {
        *error = path + ": a corrupt or truncated TIFF file (" + tiff_message + ")";
        return false;
    }
    uint32_t width = 0, height = 0;
    uint16_t planes = 1, bits = 1, format = SAMPLEFORMAT_UINT, photometric = 0,
             config = PLANARCONFIG_CONTIG;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &planes);
    TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetFieldDefaulted(t, TIFFTAG_PLANARCONFIG, &config);
    TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric);
    bool ok = true;
    int depth = 0;
    if (bits == 8 && format == SAMPLEFORMAT_UINT)
        depth = 8;
    else if (bits == 16 && format == SAMPLEFORMAT_UINT)
        depth = 16;
    else if (bits == 32 && format == SAMPLEFORMAT_IEEEFP)
        depth = 32;
    if (width == 0 || height == 0) {
        *error = path + ": a TIFF file without pixels";
        ok = false;
    } else if (too_large(path, width, height, error)) {
        ok = false;
    } else if (!depth) {
        *error = path + ": unsupported TIFF samples (" + std::to_string(bits) + "-bit " +
                 (format == SAMPLEFORMAT_IEEEFP ? "float" : "integer") +
                 "; 8 and 16-bit integers and 32-bit floats are supported)";
        ok = false;
    } else if (config != PLANARCONFIG_CONTIG && planes > 1) {
        *error = path + ": unsupported TIFF layout (planes stored separately)";
        ok = false;
    }
    if (ok) {
        file->colours =
            photometric == PHOTOMETRIC_RGB ? ImageColours::rgb
            : photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE
                ? ImageColours::grey
            : photometric == PHOTOMETRIC_PALETTE   ? ImageColours::palette
            : photometric == PHOTOMETRIC_SEPARATED ? ImageColours::cmyk
                                                   : ImageColours::other;
        file->image = host_image(int32_t(height), int32_t(width), planes, depth);
        std::vector<uint8_t> row(size_t(TIFFScanlineSize(t)));
        size_t needed = size_t(width) * planes * size_t(host_sample_bytes(depth));
        if (row.size() < needed) {
            *error = path + ": a damaged TIFF file";
            ok = false;
        }
        for (uint32_t y = 0; ok && y < height; y++) {
            if (TIFFReadScanline(t, row.data(), y, 0) < 0) {
                *error = path + ": a corrupt or truncated TIFF file (" + tiff_message + ")";
                ok = false;
            } else {
                store_row(file->image, int32_t(y), row.data());
            }
        }
    }
    TIFFClose(t);
    return ok;
}

bool write_tiff(const std::string& path, const HostImage& image, bool sync, std::string* error) {
    tiff_handlers();
    tiff_message.clear();
    errno = 0;
    TIFF* t = TIFFOpen(path.c_str(), "w");
    if (!t) {
        *error = path + ": cannot be written (" + tiff_message + ")";
        return false;
    }
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, uint32_t(image.columns));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, uint32_t(image.rows));
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, uint16_t(image.planes));
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, uint16_t(image.depth));
    TIFFSetField(t, TIFFTAG_SAMPLEFORMAT,
                 uint16_t(image.depth == 32 ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_UINT));
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC,
                 uint16_t(image.planes >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK));
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, uint16_t(PLANARCONFIG_CONTIG));
    TIFFSetField(t, TIFFTAG_COMPRESSION, uint16_t(COMPRESSION_NONE));
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0));
    if (image.planes == 4 || image.planes == 2) {
        uint16_t extra = EXTRASAMPLE_UNASSALPHA; /* straight, not premultiplied */
        TIFFSetField(t, TIFFTAG_EXTRASAMPLES, uint16_t(1), &extra);
    }
    std::vector<uint8_t> row;
    bool ok = true;
    for (int32_t y = 0; ok && y < image.rows; y++) {
        load_row(image, y, &row);
        ok = TIFFWriteScanline(t, row.data(), uint32_t(y), 0) >= 0;
    }
    /* The directory is written last: a failure there must count too. */
    if (ok) ok = TIFFFlush(t) == 1 && (!sync || fsync(TIFFFileno(t)) == 0);
    int cause = errno;
    TIFFClose(t);
    if (!ok)
        *error =
            path + ": cannot be written (" + (cause ? std::strerror(cause) : tiff_message) + ")";
    return ok;
}

std::string lower_extension(const std::string& path) {
    size_t dot = path.rfind('.'), slash = path.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string e = path.substr(dot + 1);
    for (char& c : e) c = char(std::tolower(uint8_t(c)));
    return e;
}

} // namespace

bool image_read(const std::string& path, ImageFile* file, std::string* error) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    uint8_t magic[8] = {};
    size_t got = std::fread(magic, 1, sizeof magic, f);
    bool ok;
    if (std::ferror(f)) {
        *error = path + ": " + std::strerror(errno);
        std::fclose(f);
        ok = false;
    } else if (got == 8 && png_sig_cmp(magic, 0, 8) == 0) {
        std::rewind(f);
        ok = read_png(path, f, file, error);
        std::fclose(f);
    } else if (got >= 4 &&
               ((magic[0] == 'I' && magic[1] == 'I') || (magic[0] == 'M' && magic[1] == 'M'))) {
        std::fclose(f);
        ok = read_tiff(path, file, error);
    } else {
        std::fclose(f);
        *error = path + ": not a PNG or TIFF file";
        ok = false;
    }
    return ok;
}

namespace {

/* Writes the image into the file `file` (the target or its temporary);
 * messages name the target. Only a regular file is synced to its disk. */
bool write_file(const std::string& path, const std::string& file, const HostImage& image, bool png,
                bool sync, std::string* error) {
    if (!png) {
        bool ok = write_tiff(file, image, sync, error);
        if (!ok) *error = path + error->substr(file.size());
        return ok;
    }
    FILE* f = std::fopen(file.c_str(), "wb");
    if (!f) {
        *error = path + ": cannot be written (" + std::strerror(errno) + ")";
        return false;
    }
    bool ok = write_png(path, f, image, error);
    if (std::fflush(f) != 0 || (sync && fsync(fileno(f)) != 0)) {
        if (ok) *error = path + ": cannot be written (" + std::strerror(errno) + ")";
        ok = false;
    }
    if (std::fclose(f) != 0 && ok) {
        *error = path + ": cannot be written (" + std::strerror(errno) + ")";
        ok = false;
    }
    return ok;
}

} // namespace

void image_remove_temporary() {
    if (temporary_set) unlink(temporary);
}

bool image_write(const std::string& path, const HostImage& image, std::string* error) {
    std::string extension = lower_extension(path);
    bool png = extension == "png", tiff = extension == "tif" || extension == "tiff";
    /* A device or a pipe (/dev/stdout, /dev/null) is written as it is: it
     * cannot be replaced by renaming, and must not be. Without an extension
     * it gets PNG, or TIFF for 32-bit floats. */
    struct stat target;
    bool device =
        stat(path.c_str(), &target) == 0 && !S_ISREG(target.st_mode) && !S_ISDIR(target.st_mode);
    if (device && !png && !tiff) png = image.depth != 32;
    if (!png && !tiff) {
        *error = path + ": unknown output format (use .png, .tif or .tiff)";
        return false;
    }
    if (png && image.depth == 32) {
        *error = path + ": PNG cannot hold 32-bit float samples (write a .tif file)";
        return false;
    }
    if (device) return write_file(path, path, image, png, false, error);
    /* A file through a temporary file in the same folder, renamed into
     * place when whole. */
    size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    std::string temp =
        dir + ".spectra-" + std::to_string(getpid()) + "-" + path.substr(dir.size()) + ".tmp";
    if (temp.size() >= sizeof temporary) {
        *error = path + ": cannot be written (" + std::strerror(ENAMETOOLONG) + ")";
        return false;
    }
    std::memcpy(temporary, temp.c_str(), temp.size() + 1);
    temporary_set = 1;
    bool ok = write_file(path, temp, image, png, true, error);
    if (ok && std::rename(temp.c_str(), path.c_str()) != 0) {
        *error = path + ": cannot be written (" + std::strerror(errno) + ")";
        ok = false;
    }
    if (!ok) std::remove(temp.c_str());
    temporary_set = 0;
    return ok;
}

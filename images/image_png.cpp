/* image_png.cpp - PNG files through libpng.
 *
 * Every valid PNG is read through libpng's own transformations: palettes
 * become RGB, transparency chunks become alpha, low bit depths become bytes
 * and interlaced files are read whole. What comes out is 8 or 16 bits per
 * sample, grey or RGB, with or without alpha. */
#include "image_formats.h"

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstring>
#include <png.h>
#include <sys/stat.h>
#include <zlib.h>

namespace {

struct PngError {
    std::jmp_buf jump;
    std::string message;
    int cause = 0; /* errno when the error was raised: why a write failed */
};

void error_fn(png_structp png, png_const_charp message) {
    PngError* e = static_cast<PngError*>(png_get_error_ptr(png));
    e->cause = errno;
    e->message = message;
    std::longjmp(e->jump, 1);
}

void warning_fn(png_structp, png_const_charp) {}

const int64_t small_picture = 1 << 19; /* pixels */

/* A large spectrum's samples are stored as they are: its codes look like
 * noise to deflate, which made the files of 4096 x 2048 spectra only 9 %
 * smaller at 8 bits and 4 % at 16, at a fifth of the command's time. A
 * picture's rows are filtered and deflated at zlib's fastest level. */
const PngPacking spectrum_packing = {Z_NO_COMPRESSION, Z_DEFAULT_STRATEGY, false};
const PngPacking picture_packing = {Z_BEST_SPEED, Z_RLE, true};

/* Text chunks come here, one at a time, and are dropped at once, all but
 * a spectrum's record of its source. */
int text_fn(png_structp png, png_unknown_chunkp chunk) {
    if (std::memcmp(chunk->name, "tEXt", 4) != 0) return 0;
    size_t key = std::strlen(host_record_key);
    const char* data = reinterpret_cast<const char*>(chunk->data);
    if (chunk->size > key && std::memcmp(data, host_record_key, key + 1) == 0) {
        ImageFile* file = static_cast<ImageFile*>(png_get_user_chunk_ptr(png));
        host_read_record(std::string(data + key + 1, chunk->size - key - 1), &file->record);
    }
    return 1;
}

/* The profile and the resolution, when the file gives them. */
void read_meta(png_structp png, png_infop info, ImageMeta* meta) {
    png_charp name = nullptr;
    int compression = 0;
    png_bytep icc = nullptr;
    png_uint_32 size = 0;
    if (png_get_iCCP(png, info, &name, &compression, &icc, &size) && icc && size)
        meta->icc.assign(icc, icc + size);
    png_uint_32 x = 0, y = 0;
    int unit = 0;
    if (png_get_pHYs(png, info, &x, &y, &unit) && unit == PNG_RESOLUTION_METER && x && y) {
        meta->dpi_x = x * 0.0254;
        meta->dpi_y = y * 0.0254;
    }
}

/* The header and the chunks before the image data: the record of a
 * spectrum's source, the profile and the resolution. A profile that libpng
 * finds unsound is left out with a warning, not an error. */
void write_head(png_structp png, png_infop info, const HostImage& image,
                const std::string& record_text, const ImageMeta& meta) {
    png_set_benign_errors(png, 1);
    png_set_IHDR(png, info, png_uint_32(image.columns), png_uint_32(image.rows), image.depth,
                 png_colour_type(image.planes), PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_text text = {};
    text.compression = PNG_TEXT_COMPRESSION_NONE;
    text.key = const_cast<char*>(host_record_key);
    text.text = const_cast<char*>(record_text.c_str());
    if (!record_text.empty()) png_set_text(png, info, &text, 1);
    if (!meta.icc.empty())
        png_set_iCCP(png, info, "ICC profile", PNG_COMPRESSION_TYPE_BASE, meta.icc.data(),
                     png_uint_32(meta.icc.size()));
    if (meta.dpi_x > 0 && meta.dpi_y > 0)
        png_set_pHYs(png, info, png_uint_32(meta.dpi_x / 0.0254 + 0.5),
                     png_uint_32(meta.dpi_y / 0.0254 + 0.5), PNG_RESOLUTION_METER);
    png_write_info(png, info);
}

} // namespace

bool png_read(const std::string& path, FILE* f, ImageFile* file, std::string* error) {
    PngError e;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &e, error_fn, warning_fn);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        *error = path + ": out of memory";
        return false;
    }
    /* Everything that outlives a longjmp is declared before the setjmp:
     * a longjmp skips the destructors of what is declared after it. */
    std::vector<png_bytep> rows;
    if (setjmp(e.jump)) {
        png_destroy_read_struct(&png, &info, nullptr);
        *error = path + ": a corrupt or truncated PNG file (" + e.message + ")";
        return false;
    }
    png_init_io(png, f);
    png_set_user_limits(png, 0x7fffffff, 0x7fffffff);
    /* Compressed text and unknown chunks are skipped, not read: libpng
     * allocates such a chunk at the size the file claims, so a few bytes
     * that claim a 2 GB text would cost 2 GB. Plain text chunks, where a
     * spectrum records its source, are read one at a time and dropped. The
     * colour profile is kept; it and every chunk read stay within libpng's
     * limit of 8 MB, which is set here for clarity. */
    png_set_chunk_malloc_max(png, 8000000);
    static const png_byte skipped[] = "zTXt\0iTXt\0sPLT\0eXIf";
    static const png_byte text[] = "tEXt";
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, 0);
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, skipped, 4);
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_ALWAYS, text, 1);
    file->record = SourceRecord();
    png_set_read_user_chunk_fn(png, file, text_fn);
    png_read_info(png, info);
    read_meta(png, info, &file->meta);
    png_uint_32 width = png_get_image_width(png, info), height = png_get_image_height(png, info);
    int type = png_get_color_type(png, info), bits = png_get_bit_depth(png, info);
    if (image_too_large(path, width, height, error)) {
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
    /* All transformations are set before png_read_update_info, which
     * settles the row layout that they give. */
    if (type == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (type == PNG_COLOR_TYPE_GRAY && bits < 8) png_set_expand_gray_1_2_4_to_8(png);
    if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
    if (bits == 16) png_set_swap(png); /* to native order (little-endian here) */
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    file->format = ImageFormat::png;
    file->colours = (type & PNG_COLOR_MASK_COLOR) ? ImageColours::rgb : ImageColours::grey;
    int planes = png_get_channels(png, info);
    try {
        file->image = host_image(int32_t(height), int32_t(width), planes, bits == 16 ? 16 : 8);
        rows.resize(height);
    } catch (...) {
        png_destroy_read_struct(&png, &info, nullptr);
        throw;
    }
    /* The file's rows are laid out as the image's: libpng decodes into
     * them directly, also the several passes of an interlaced file. */
    HostImage& image = file->image;
    if (png_get_rowbytes(png, info) != size_t(image.row_bytes)) png_error(png, "unexpected layout");
    for (png_uint_32 y = 0; y < height; y++) rows[y] = image.data() + y * image.row_bytes;
    png_read_image(png, rows.data());
    /* with the info: without it libpng passes over the chunks after the
     * pixels, a text that records a spectrum's source among them */
    png_read_end(png, info);
    png_destroy_read_struct(&png, &info, nullptr);
    if (image.depth == 16) image_from_file16(file);
    return true;
}

bool png_write(const std::string& path, FILE* f, const HostImage& image, const HostImage* original,
               const SourceRecord& record, const ImageMeta& meta, bool spectrum,
               std::string* error) {
    if (image.depth == 32) {
        *error = path + ": PNG cannot hold 32-bit float samples (write a .tif file)";
        return false;
    }
    if (image.planes < 1 || image.planes > 4) {
        *error = path + ": PNG output needs 1 to 4 planes";
        return false;
    }
    std::string record_text = record.depth ? host_record_text(record) : "";
    /* a large picture's image data, compressed on every core first */
    std::vector<uint8_t> data;
    const bool large = int64_t(image.rows) * image.columns > small_picture;
    if (large &&
        !png_image_data(image, original, spectrum ? spectrum_packing : picture_packing, &data)) {
        *error = path + ": cannot be written (" + std::strerror(ENOMEM) + ")";
        return false;
    }
    PngError e;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &e, error_fn, warning_fn);
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
    write_head(png, info, image, record_text, meta);
    if (large) {
        /* IDAT chunks of at most a mebibyte, then the end */
        for (size_t at = 0; at < data.size(); at += size_t(1) << 20)
            png_write_chunk(png, reinterpret_cast<png_const_bytep>("IDAT"), data.data() + at,
                            std::min(data.size() - at, size_t(1) << 20));
        png_write_chunk(png, reinterpret_cast<png_const_bytep>("IEND"), nullptr, 0);
        png_destroy_write_struct(&png, &info);
        return true;
    }
    /* A small picture, such as one for a web page, is packed as tightly as
     * zlib can: that costs little time there. */
    png_set_compression_level(png, 9);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_ALL_FILTERS);
    if (image.depth == 16) png_set_swap(png);
    for (int32_t y = 0; y < image.rows; y++) {
        image_file_row(image, original, y, &row);
        png_write_row(png, row.data());
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

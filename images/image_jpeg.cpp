/* image_jpeg.cpp - JPEG files through libjpeg (libjpeg-turbo).
 *
 * Baseline and progressive colour JPEGs come out as 8-bit RGB; grey and
 * CMYK files are decoded as they are, for the command to refuse by their
 * mode. A file that ends early is refused rather than shown with its
 * missing part grey. The colour profile, the resolution and the Exif
 * orientation are read; the picture is turned as the orientation says, as
 * browsers and editors show it, so no orientation is written back.
 * Pictures of a scene are written as JPEG too; spectra are not, as their
 * codes would not survive the losses (image_io.cpp). */
#include "image_formats.h"

#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <jpeglib.h>
#include <jerror.h>

namespace {

struct JpegError {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    std::string message;
    bool memory = false;
};

void error_exit(j_common_ptr cinfo) {
    JpegError* e = static_cast<JpegError*>(cinfo->client_data);
    char text[JMSG_LENGTH_MAX];
    e->manager.format_message(cinfo, text);
    e->message = text;
    e->memory = e->manager.msg_code == JERR_OUT_OF_MEMORY;
    std::longjmp(e->jump, 1);
}

/* Warnings are passed over, but for the end of the data before the end of
 * the pixels: libjpeg would fill the rest with grey. */
void emit_message(j_common_ptr cinfo, int level) {
    if (level == -1 && cinfo->err->msg_code == JWRN_JPEG_EOF) error_exit(cinfo);
}

/* The profile, and the resolution of the JFIF header. */
void read_meta(j_decompress_ptr cinfo, ImageMeta* meta) {
    JOCTET* icc = nullptr;
    unsigned int size = 0;
    if (jpeg_read_icc_profile(cinfo, &icc, &size) && icc) {
        meta->icc.assign(icc, icc + size);
        std::free(icc);
    }
    if (cinfo->saw_JFIF_marker && (cinfo->density_unit == 1 || cinfo->density_unit == 2) &&
        cinfo->X_density && cinfo->Y_density) {
        const double per_inch = cinfo->density_unit == 2 ? 2.54 : 1;
        meta->dpi_x = cinfo->X_density * per_inch;
        meta->dpi_y = cinfo->Y_density * per_inch;
    }
}

/* The orientation tag (1 to 8) of the Exif block's first directory, or 1:
 * how a camera held sideways says which way is up. The block is a TIFF
 * file in little or big-endian order; every offset is checked against its
 * length. */
int exif_orientation(const jpeg_decompress_struct& cinfo) {
    for (jpeg_saved_marker_ptr m = cinfo.marker_list; m; m = m->next) {
        if (m->marker != JPEG_APP0 + 1 || m->data_length < 14 ||
            std::memcmp(m->data, "Exif\0\0", 6) != 0)
            continue;
        const uint8_t* t = m->data + 6;
        const size_t size = m->data_length - 6;
        const bool little = t[0] == 'I' && t[1] == 'I';
        if (!little && !(t[0] == 'M' && t[1] == 'M')) return 1;
        auto u16 = [&](size_t at) {
            return little ? uint32_t(t[at] | t[at + 1] << 8) : uint32_t(t[at] << 8 | t[at + 1]);
        };
        auto u32 = [&](size_t at) {
            return little ? u16(at) | u16(at + 2) << 16 : u16(at) << 16 | u16(at + 2);
        };
        const size_t directory = u32(4);
        if (directory + 2 > size) return 1;
        const size_t entries = u16(directory);
        for (size_t i = 0; i < entries; i++) {
            const size_t entry = directory + 2 + 12 * i;
            if (entry + 12 > size) return 1;
            /* the tag, of type SHORT, with one value */
            if (u16(entry) == 0x0112 && u16(entry + 2) == 3 && u32(entry + 4) == 1) {
                const uint32_t value = u16(entry + 8);
                return value >= 1 && value <= 8 ? int(value) : 1;
            }
        }
        return 1;
    }
    return 1;
}

/* The image turned as its orientation tag says, to show it as the camera
 * saw it: 2 to 4 mirror and turn it half round, 5 to 8 swap its sides. */
HostImage oriented(const HostImage& image, int orientation) {
    const int32_t W = image.columns, H = image.rows;
    const bool swap = orientation >= 5;
    HostImage out = host_image(swap ? W : H, swap ? H : W, image.planes, image.depth);
    const size_t pixel = size_t(image.planes) * size_t(host_sample_bytes(image.depth));
    for (int32_t Y = 0; Y < out.rows; Y++)
        for (int32_t X = 0; X < out.columns; X++) {
            int32_t x = X, y = Y;
            switch (orientation) {
            case 2:
                x = W - 1 - X;
                break;
            case 3:
                x = W - 1 - X, y = H - 1 - Y;
                break;
            case 4:
                y = H - 1 - Y;
                break;
            case 5:
                x = Y, y = X;
                break;
            case 6:
                x = Y, y = H - 1 - X;
                break;
            case 7:
                x = W - 1 - Y, y = H - 1 - X;
                break;
            case 8:
                x = W - 1 - Y, y = X;
                break;
            }
            std::memcpy(out.data() + Y * out.row_bytes + X * pixel,
                        image.data() + y * image.row_bytes + x * pixel, pixel);
        }
    return out;
}

} // namespace

bool jpeg_read(const std::string& path, FILE* f, ImageFile* file, std::string* error) {
    jpeg_decompress_struct cinfo;
    JpegError e;
    cinfo.err = jpeg_std_error(&e.manager);
    cinfo.client_data = &e;
    e.manager.error_exit = error_exit;
    e.manager.emit_message = emit_message;
    /* Declared before the setjmp, like everything that outlives a longjmp. */
    std::vector<JSAMPROW> rows;
    if (setjmp(e.jump)) {
        jpeg_destroy_decompress(&cinfo);
        *error = path + (e.memory ? ": not enough memory for this image"
                                  : ": a corrupt or truncated JPEG file (" + e.message + ")");
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, f);
    jpeg_save_markers(&cinfo, JPEG_APP0 + 1, 0xffff); /* Exif */
    jpeg_save_markers(&cinfo, JPEG_APP0 + 2, 0xffff); /* the colour profile, in pieces */
    jpeg_read_header(&cinfo, TRUE);
    read_meta(&cinfo, &file->meta);
    const int orientation = exif_orientation(cinfo);
    if (image_too_large(path, cinfo.image_width, cinfo.image_height, error)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    switch (cinfo.jpeg_color_space) {
    case JCS_GRAYSCALE:
        file->colours = ImageColours::grey;
        break;
    case JCS_CMYK:
    case JCS_YCCK:
        file->colours = ImageColours::cmyk;
        cinfo.out_color_space = JCS_CMYK;
        break;
    default:
        file->colours = ImageColours::rgb;
        cinfo.out_color_space = JCS_RGB;
        break;
    }
    jpeg_start_decompress(&cinfo);
    file->format = ImageFormat::jpeg;
    try {
        file->image = host_image(int32_t(cinfo.output_height), int32_t(cinfo.output_width),
                                 cinfo.output_components, 8);
        rows.resize(cinfo.output_height);
    } catch (...) {
        jpeg_destroy_decompress(&cinfo);
        throw;
    }
    HostImage& image = file->image;
    for (JDIMENSION y = 0; y < cinfo.output_height; y++)
        rows[y] = image.data() + y * image.row_bytes;
    while (cinfo.output_scanline < cinfo.output_height)
        jpeg_read_scanlines(&cinfo, rows.data() + cinfo.output_scanline,
                            cinfo.output_height - cinfo.output_scanline);
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    if (orientation > 1) image = oriented(image, orientation);
    return true;
}

bool jpeg_write(const std::string& path, FILE* f, const HostImage& image, const HostImage* original,
                const ImageMeta& meta, int quality, std::string* error) {
    jpeg_compress_struct cinfo;
    JpegError e;
    cinfo.err = jpeg_std_error(&e.manager);
    cinfo.client_data = &e;
    e.manager.error_exit = error_exit;
    /* Declared before the setjmp, like everything that outlives a longjmp. */
    std::vector<uint8_t> row, narrow;
    if (setjmp(e.jump)) {
        jpeg_destroy_compress(&cinfo);
        *error = path + ": cannot be written (" + e.message + ")";
        return false;
    }
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, f);
    cinfo.image_width = JDIMENSION(image.columns);
    cinfo.image_height = JDIMENSION(image.rows);
    cinfo.input_components = image.planes;
    cinfo.in_color_space = image.planes == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    if (meta.dpi_x > 0 && meta.dpi_y > 0 && meta.dpi_x < 65535.5 && meta.dpi_y < 65535.5) {
        cinfo.density_unit = 1;
        cinfo.X_density = UINT16(meta.dpi_x + 0.5);
        cinfo.Y_density = UINT16(meta.dpi_y + 0.5);
    }
    jpeg_start_compress(&cinfo, TRUE);
    if (!meta.icc.empty())
        jpeg_write_icc_profile(&cinfo, meta.icc.data(), unsigned(meta.icc.size()));
    JSAMPROW rows[1];
    while (cinfo.next_scanline < cinfo.image_height) {
        image_file_row(image, original, int32_t(cinfo.next_scanline), &row);
        if (image.depth == 16) { /* JPEG holds 8 bits: 0..65535 rounded to 0..255 */
            narrow.resize(row.size() / 2);
            const uint16_t* wide = reinterpret_cast<const uint16_t*>(row.data());
            for (size_t i = 0; i < narrow.size(); i++)
                narrow[i] = uint8_t((uint32_t(wide[i]) * 255 + 32767) / 65535);
            rows[0] = narrow.data();
        } else {
            rows[0] = row.data();
        }
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

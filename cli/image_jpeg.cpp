/* image_jpeg.cpp - JPEG files through libjpeg (libjpeg-turbo), read only.
 *
 * Baseline and progressive colour JPEGs come out as 8-bit RGB; grey and
 * CMYK files are decoded as they are, for the command to refuse by their
 * mode. A file that ends early is refused rather than shown with its
 * missing part grey. Nothing is written as JPEG: a lossy spectrum could not
 * be read back. */
#include "image_formats.h"

#include <csetjmp>
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
    jpeg_read_header(&cinfo, TRUE);
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
    return true;
}

/* image_fuzz.cpp - a libFuzzer target: the spectra command's PNG, JPEG and
 * TIFF readers on arbitrary bytes.
 *
 * A few header bytes can claim an image of 32767 x 32767 that a reader then
 * allocates in full; such inputs are passed over so that memory goes to
 * inputs that reach the decoders. */
#include "image_io.h"
#include "memory_file.h"

#include <csetjmp>
#include <cstdio>
#include <jpeglib.h>
#include <tiffio.h>

namespace {

const uint64_t most_pixels = uint64_t(1) << 22;

uint32_t big_endian(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

/* The size that libjpeg reads from a JPEG's header; 0 when it finds none. */
struct HeaderError {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

void header_error(j_common_ptr cinfo) {
    std::longjmp(static_cast<HeaderError*>(cinfo->client_data)->jump, 1);
}

uint64_t jpeg_pixels(const uint8_t* data, size_t size) {
    jpeg_decompress_struct cinfo;
    HeaderError e;
    cinfo.err = jpeg_std_error(&e.manager);
    e.manager.error_exit = header_error;
    e.manager.emit_message = [](j_common_ptr, int) {};
    cinfo.client_data = &e;
    volatile uint64_t pixels = 0; /* set between setjmp and a possible longjmp */
    if (setjmp(e.jump) == 0) {
        jpeg_create_decompress(&cinfo);
        jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
        jpeg_read_header(&cinfo, TRUE);
        pixels = uint64_t(cinfo.image_width) * cinfo.image_height;
    }
    jpeg_destroy_decompress(&cinfo);
    return pixels;
}

bool claims_too_much(const uint8_t* data, size_t size, const std::string& path) {
    if (size >= 3 && data[0] == 0xff && data[1] == 0xd8)
        return jpeg_pixels(data, size) > most_pixels;
    if (size >= 24 && data[0] == 0x89 && data[1] == 'P')
        return uint64_t(big_endian(data + 16)) * big_endian(data + 20) > most_pixels;
    if (size >= 4 && (data[0] == 'I' || data[0] == 'M')) {
        TIFFSetErrorHandler(nullptr);
        TIFFSetWarningHandler(nullptr);
        TIFF* t = TIFFOpen(path.c_str(), "r");
        if (!t) return false;
        uint32_t width = 0, height = 0;
        TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &width);
        TIFFGetField(t, TIFFTAG_IMAGELENGTH, &height);
        TIFFClose(t);
        return uint64_t(width) * height > most_pixels;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string path = memory_file(data, size);
    if (claims_too_much(data, size, path)) return 0;
    ImageFile file;
    std::string error;
    if (image_read(path, &file, &error)) {
        const HostImage& image = file.image;
        if (image.rows < 1 || image.columns < 1 || image.planes < 1 ||
            image.storage.size() * 8 < uint64_t(image.row_bytes) * uint64_t(image.rows))
            std::abort();
    } else if (error.empty()) {
        std::abort();
    }
    return 0;
}

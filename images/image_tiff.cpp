/* image_tiff.cpp - TIFF files through libtiff.
 *
 * The reader takes what libtiff decodes: strips or tiles, samples
 * interleaved or in separate planes, any compression that libtiff has
 * (JPEG in YCbCr comes out as RGB through libtiff's own conversion), at 8
 * and 16-bit integers and 32-bit floats. Kinds of TIFF that it does not
 * take are named in the refusal. The writer writes uncompressed strips. */
#include "image_formats.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <tiffio.h>
#include <unistd.h>

namespace {

std::string tiff_message;

void error_fn(const char*, const char* format, va_list args) {
    char buffer[512];
    std::vsnprintf(buffer, sizeof buffer, format, args);
    tiff_message = buffer;
}

void quiet(const char*, const char*, va_list) {}

void set_handlers() {
    TIFFSetErrorHandler(error_fn);
    TIFFSetWarningHandler(quiet);
    tiff_message.clear();
}

/* Why a TIFF of this kind cannot be read, or "" when it can. */
std::string unsupported(uint16_t bits, uint16_t format, uint16_t photometric,
                        uint16_t compression) {
    if (compression == COMPRESSION_OJPEG) return "old-style JPEG compression is not supported";
    if (compression == COMPRESSION_SGILOG || compression == COMPRESSION_SGILOG24 ||
        photometric == PHOTOMETRIC_LOGLUV || photometric == PHOTOMETRIC_LOGL)
        return "LogLuv TIFF files are not supported";
    if (!TIFFIsCODECConfigured(compression)) {
        const TIFFCodec* codec = TIFFFindCODEC(compression);
        return std::string(codec ? codec->name : "unknown") + " compression (" +
               std::to_string(compression) + ") is not supported";
    }
    if (photometric == PHOTOMETRIC_PALETTE)
        return "palette TIFF files are not supported; convert it to RGB first";
    if (photometric == PHOTOMETRIC_YCBCR && compression != COMPRESSION_JPEG)
        return "YCbCr TIFF files without JPEG compression are not supported";
    bool is_float = format == SAMPLEFORMAT_IEEEFP;
    if ((bits == 8 || bits == 16) && format == SAMPLEFORMAT_UINT) return "";
    if (bits == 32 && is_float) return "";
    if (bits == 1) return "1-bit (bilevel) TIFF files are not supported";
    std::string kind = is_float                      ? "float"
                       : format == SAMPLEFORMAT_INT  ? "signed integer"
                       : format == SAMPLEFORMAT_UINT ? "integer"
                                                     : "complex or untyped";
    return std::to_string(bits) + "-bit " + kind +
           " samples are not supported (8 and 16-bit integers and 32-bit floats are)";
}

ImageColours colours_of(uint16_t photometric) {
    switch (photometric) {
    case PHOTOMETRIC_RGB:
    case PHOTOMETRIC_YCBCR: /* decoded to RGB */
        return ImageColours::rgb;
    case PHOTOMETRIC_MINISBLACK:
    case PHOTOMETRIC_MINISWHITE:
        return ImageColours::grey;
    case PHOTOMETRIC_SEPARATED:
        return ImageColours::cmyk;
    default:
        return ImageColours::other;
    }
}

/* Copies `count` pixels of a decoded block row to column x of image row y:
 * whole pixels, or for separately stored planes the samples of plane
 * `plane` (-1: whole pixels). */
void place(HostImage& image, int32_t y, int32_t x, int32_t count, int plane, const uint8_t* from) {
    int bytes = host_sample_bytes(image.depth);
    uint8_t* to = image.data() + y * image.row_bytes + int64_t(x) * image.planes * bytes;
    if (plane < 0) {
        std::memcpy(to, from, size_t(count) * size_t(image.planes) * size_t(bytes));
        return;
    }
    to += plane * bytes;
    for (int32_t i = 0; i < count; i++, to += image.planes * bytes, from += bytes)
        std::memcpy(to, from, size_t(bytes));
}

/* Decodes every strip or tile into the image. */
bool read_pixels(TIFF* t, HostImage& image, bool separate, std::string* failure) {
    int bytes = host_sample_bytes(image.depth);
    int passes = separate ? image.planes : 1;
    int64_t pixel = separate ? bytes : int64_t(bytes) * image.planes;
    if (TIFFIsTiled(t)) {
        uint32_t tw = 0, th = 0;
        TIFFGetField(t, TIFFTAG_TILEWIDTH, &tw);
        TIFFGetField(t, TIFFTAG_TILELENGTH, &th);
        uint64_t size = TIFFTileSize64(t);
        /* A tile larger than it needs to be, or than the whole image, is
         * a damaged header, not a reason to allocate gigabytes. */
        if (tw == 0 || th == 0 || tw > uint32_t(image.columns) + 4096 ||
            th > uint32_t(image.rows) + 4096 || size < uint64_t(tw) * th * pixel ||
            size > uint64_t(tw) * th * pixel * 4) {
            *failure = "a damaged TIFF file (tiles of " + std::to_string(tw) + " x " +
                       std::to_string(th) + ")";
            return false;
        }
        std::vector<uint8_t> tile(size);
        for (int s = 0; s < passes; s++)
            for (uint32_t ty = 0; ty < uint32_t(image.rows); ty += th)
                for (uint32_t tx = 0; tx < uint32_t(image.columns); tx += tw) {
                    if (TIFFReadTile(t, tile.data(), tx, ty, 0, uint16_t(s)) < 0) return false;
                    int32_t w = int32_t(std::min<uint32_t>(tw, uint32_t(image.columns) - tx));
                    int32_t h = int32_t(std::min<uint32_t>(th, uint32_t(image.rows) - ty));
                    for (int32_t r = 0; r < h; r++)
                        place(image, int32_t(ty) + r, int32_t(tx), w, separate ? s : -1,
                              tile.data() + int64_t(r) * tw * pixel);
                }
        return true;
    }
    std::vector<uint8_t> row(size_t(TIFFScanlineSize64(t)));
    if (row.size() < size_t(image.columns) * size_t(pixel)) {
        *failure = "a damaged TIFF file (rows of " + std::to_string(row.size()) + " bytes)";
        return false;
    }
    for (int s = 0; s < passes; s++)
        for (int32_t y = 0; y < image.rows; y++) {
            if (TIFFReadScanline(t, row.data(), uint32_t(y), uint16_t(s)) < 0) return false;
            place(image, y, 0, image.columns, separate ? s : -1, row.data());
        }
    return true;
}

/* The profile and the resolution, when the file gives them. */
void read_meta(TIFF* t, ImageMeta* meta) {
    uint32_t size = 0;
    void* icc = nullptr;
    if (TIFFGetField(t, TIFFTAG_ICCPROFILE, &size, &icc) && icc && size)
        meta->icc.assign(static_cast<uint8_t*>(icc), static_cast<uint8_t*>(icc) + size);
    float x = 0, y = 0;
    uint16_t unit = RESUNIT_INCH;
    TIFFGetFieldDefaulted(t, TIFFTAG_RESOLUTIONUNIT, &unit);
    if (unit != RESUNIT_NONE && TIFFGetField(t, TIFFTAG_XRESOLUTION, &x) &&
        TIFFGetField(t, TIFFTAG_YRESOLUTION, &y) && x > 0 && y > 0) {
        const double per_inch = unit == RESUNIT_CENTIMETER ? 2.54 : 1;
        meta->dpi_x = x * per_inch;
        meta->dpi_y = y * per_inch;
    }
}

} // namespace

bool tiff_read(const std::string& path, ImageFile* file, std::string* error) {
    set_handlers();
    TIFF* t = TIFFOpen(path.c_str(), "r");
    if (!t) {
        *error = path + ": a corrupt or truncated TIFF file (" + tiff_message + ")";
        return false;
    }
    uint32_t width = 0, height = 0;
    uint16_t planes = 1, bits = 1, format = SAMPLEFORMAT_UINT, photometric = 0,
             config = PLANARCONFIG_CONTIG, compression = COMPRESSION_NONE;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &planes);
    TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetFieldDefaulted(t, TIFFTAG_PLANARCONFIG, &config);
    TIFFGetFieldDefaulted(t, TIFFTAG_COMPRESSION, &compression);
    TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric);
    std::string why = unsupported(bits, format, photometric, compression);
    bool ok = false;
    if (width == 0 || height == 0) {
        *error = path + ": a TIFF file without pixels";
    } else if (!why.empty()) {
        *error = path + ": " + why;
    } else if (!image_too_large(path, width, height, error)) {
        /* JPEG's YCbCr is turned into RGB by libtiff: the rows it then
         * delivers are RGB at full resolution. */
        if (compression == COMPRESSION_JPEG && photometric == PHOTOMETRIC_YCBCR)
            TIFFSetField(t, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
        file->format = ImageFormat::tiff;
        file->colours = colours_of(photometric);
        int depth = bits == 8 ? 8 : bits == 16 ? 16 : 32;
        try {
            file->image = host_image(int32_t(height), int32_t(width), planes, depth);
        } catch (...) {
            TIFFClose(t);
            throw;
        }
        /* a spectrum's record of its source, in the description */
        const char* description = nullptr;
        std::string key = std::string(host_record_key) + ": ";
        file->record = SourceRecord();
        if (TIFFGetField(t, TIFFTAG_IMAGEDESCRIPTION, &description) && description &&
            std::strncmp(description, key.c_str(), key.size()) == 0)
            host_read_record(description + key.size(), &file->record);
        read_meta(t, &file->meta);
        std::string failure;
        ok = read_pixels(t, file->image, config == PLANARCONFIG_SEPARATE && planes > 1, &failure);
        if (!ok)
            *error = path + ": " +
                     (failure.empty() ? "a corrupt or truncated TIFF file (" + tiff_message + ")"
                                      : failure);
        else if (depth == 16)
            image_from_file16(file);
    }
    TIFFClose(t);
    return ok;
}

bool tiff_write(const std::string& path, int fd, const HostImage& image, const HostImage* original,
                const SourceRecord& record, const ImageMeta& meta, bool sync, std::string* error) {
    set_handlers();
    errno = 0;
    TIFF* t = TIFFFdOpen(fd, path.c_str(), "w");
    if (!t) {
        close(fd);
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
    std::string description = std::string(host_record_key) + ": " + host_record_text(record);
    if (record.depth) TIFFSetField(t, TIFFTAG_IMAGEDESCRIPTION, description.c_str());
    if (!meta.icc.empty())
        TIFFSetField(t, TIFFTAG_ICCPROFILE, uint32_t(meta.icc.size()), meta.icc.data());
    if (meta.dpi_x > 0 && meta.dpi_y > 0) {
        TIFFSetField(t, TIFFTAG_XRESOLUTION, float(meta.dpi_x));
        TIFFSetField(t, TIFFTAG_YRESOLUTION, float(meta.dpi_y));
        TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, uint16_t(RESUNIT_INCH));
    }
    std::vector<uint8_t> row;
    bool ok = true;
    for (int32_t y = 0; ok && y < image.rows; y++) {
        image_file_row(image, original, y, &row);
        ok = TIFFWriteScanline(t, row.data(), uint32_t(y), 0) >= 0;
    }
    /* The directory is written last: a failure there must count too. */
    if (ok) ok = TIFFFlush(t) == 1 && (!sync || fsync(TIFFFileno(t)) == 0);
    int cause = errno;
    TIFFClose(t); /* closes fd */
    if (!ok)
        *error =
            path + ": cannot be written (" + (cause ? std::strerror(cause) : tiff_message) + ")";
    return ok;
}

/* image_io.cpp - image files by their contents, and outputs written whole.
 *
 * Inputs are told apart by their first bytes, not their names. Outputs go
 * to a new file of an unpredictable name beside the target, created
 * exclusively (never an existing file or a planted link), and are renamed
 * into place once complete. */
#include "image_formats.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <png.h>
#include <pthread.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

bool image_too_large(const std::string& path, uint64_t width, uint64_t height, std::string* error) {
    const uint64_t largest_side = 32767;
    if (width <= largest_side && height <= largest_side) return false;
    *error = path + ": " + std::to_string(width) + " x " + std::to_string(height) +
             " pixels is larger than 32767 on a side";
    return true;
}

void image_from_file16(ImageFile* file) {
    file->original = file->image;
    host_to_interface16(file->image);
}

void image_file_row(const HostImage& image, const HostImage* original, int32_t y,
                    std::vector<uint8_t>* row) {
    int64_t n = int64_t(image.columns) * image.planes;
    const uint8_t* in = image.data() + y * image.row_bytes;
    row->resize(size_t(n) * size_t(host_sample_bytes(image.depth)));
    if (image.depth != 16) {
        std::memcpy(row->data(), in, row->size());
        return;
    }
    const uint16_t* i16 = reinterpret_cast<const uint16_t*>(in);
    uint16_t* o = reinterpret_cast<uint16_t*>(row->data());
    if (original && original->depth == 16 && original->rows == image.rows &&
        original->columns == image.columns && original->planes == image.planes) {
        const uint16_t* was =
            reinterpret_cast<const uint16_t*>(original->data() + y * original->row_bytes);
        for (int64_t i = 0; i < n; i++) o[i] = host_file16_after(was[i], i16[i]);
    } else {
        for (int64_t i = 0; i < n; i++) o[i] = from_interface16(i16[i]);
    }
}

bool image_read(const std::string& path, ImageFile* file, std::string* error) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    uint8_t magic[8] = {};
    size_t got = std::fread(magic, 1, sizeof magic, f);
    bool ok = false;
    try {
        if (std::ferror(f)) {
            *error = path + ": " + std::strerror(errno);
        } else if (got == 8 && png_sig_cmp(magic, 0, 8) == 0) {
            std::rewind(f);
            ok = png_read(path, f, file, error);
        } else if (got >= 3 && magic[0] == 0xff && magic[1] == 0xd8 && magic[2] == 0xff) {
            std::rewind(f);
            ok = jpeg_read(path, f, file, error);
        } else if (got >= 4 &&
                   ((magic[0] == 'I' && magic[1] == 'I') || (magic[0] == 'M' && magic[1] == 'M'))) {
            ok = tiff_read(path, file, error);
        } else {
            *error = path + ": not a PNG, JPEG or TIFF file";
        }
    } catch (...) {
        std::fclose(f);
        throw;
    }
    std::fclose(f);
    return ok;
}

namespace {

/* The temporary file being written, for image_remove_temporary(), which may
 * run in a signal handler: a plain buffer and a flag set after it. Files are
 * written one at a time, but not always on the thread that takes the
 * signals: `creating` tells that handler to wait until a file that may
 * just have appeared has its name recorded. */
char temporary[PATH_MAX];
volatile sig_atomic_t temporary_set = 0;
std::atomic<int> creating{0};

std::string lower_extension(const std::string& path) {
    size_t dot = path.rfind('.'), slash = path.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string e = path.substr(dot + 1);
    for (char& c : e) c = char(std::tolower(uint8_t(c)));
    return e;
}

std::string cannot_write(const std::string& path, int cause) {
    return path + ": cannot be written (" + std::strerror(cause) + ")";
}

enum class Format { png, tiff, jpeg, unknown };

/* The format that `path` names. A device or a pipe (/dev/stdout, /dev/null)
 * without an extension gets PNG, or TIFF for 32-bit floats. */
Format format_of(const std::string& path, int32_t depth, bool device) {
    std::string extension = lower_extension(path);
    if (extension == "png") return Format::png;
    if (extension == "tif" || extension == "tiff") return Format::tiff;
    if (extension == "jpg" || extension == "jpeg") return Format::jpeg;
    if (device && extension.empty()) return depth == 32 ? Format::tiff : Format::png;
    return Format::unknown;
}

bool is_device(const std::string& path) {
    struct stat target;
    return stat(path.c_str(), &target) == 0 && !S_ISREG(target.st_mode) && !S_ISDIR(target.st_mode);
}

/* Writes the image through the open descriptor `fd`, which it closes;
 * messages name `path`. Only a regular file is synced to its disk. */
bool write_fd(const std::string& path, int fd, const HostImage& image, const HostImage* original,
              const SourceRecord& record, const ImageMeta& meta, bool spectrum, int quality,
              Format format, bool sync, std::string* error) {
    if (format == Format::tiff)
        return tiff_write(path, fd, image, original, record, meta, sync, error);
    FILE* f = fdopen(fd, "wb");
    if (!f) {
        *error = cannot_write(path, errno);
        close(fd);
        return false;
    }
    bool ok = format == Format::png
                  ? png_write(path, f, image, original, record, meta, spectrum, error)
                  : jpeg_write(path, f, image, original, meta, quality, error);
    if (std::fflush(f) != 0 || (sync && fsync(fileno(f)) != 0)) {
        if (ok) *error = cannot_write(path, errno);
        ok = false;
    }
    if (std::fclose(f) != 0 && ok) {
        *error = cannot_write(path, errno);
        ok = false;
    }
    return ok;
}

/* Creates a new file of an unpredictable name in `dir` for writing, with
 * the permissions that the umask gives a new file. O_EXCL and O_NOFOLLOW
 * make sure that nothing already there, a link least of all, is opened. */
int create_temporary(const std::string& dir, const std::string& name, std::string* temp) {
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    for (int attempt = 0; attempt < 100; attempt++) {
        uint8_t random[12];
        if (getrandom(random, sizeof random, 0) != ssize_t(sizeof random)) return -1;
        std::string tag;
        for (uint8_t r : random) tag += letters[r % 62];
        *temp = dir + ".spectra-" + tag + "-" + name + ".tmp";
        if (temp->size() >= sizeof temporary) {
            errno = ENAMETOOLONG;
            return -1;
        }
        /* The name is recorded for the signal handlers in the same moment
         * as the file appears: the stopping signals, which the command
         * takes on this thread alone, wait until both are done. */
        sigset_t stopping, before;
        sigemptyset(&stopping);
        for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stopping, signal);
        pthread_sigmask(SIG_BLOCK, &stopping, &before);
        creating = 1;
        int fd = open(temp->c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        int cause = errno;
        if (fd >= 0) {
            std::memcpy(temporary, temp->c_str(), temp->size() + 1);
            temporary_set = 1;
        }
        creating = 0;
        pthread_sigmask(SIG_SETMASK, &before, nullptr);
        errno = cause;
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

} // namespace

void image_remove_temporary() {
    while (creating) {
    }
    if (temporary_set) unlink(temporary);
}

namespace {

/* image_can_write() for a path whose format and kind are known. */
bool can_write(const std::string& path, Format format, bool device, int32_t depth, int32_t planes,
               bool spectrum, std::string* error) {
    switch (format) {
    case Format::unknown:
        *error = path + ": unknown output format (use .png, .tif, .tiff or .jpg)";
        return false;
    case Format::png:
        if (depth != 32) break;
        *error = path + ": PNG cannot hold 32-bit float samples (write a .tif file)";
        return false;
    case Format::jpeg:
        if (spectrum)
            *error = path + ": a spectrum is not written as JPEG: its losses would change the "
                            "spectrum's codes (write a .png or .tif file)";
        else if (depth == 32)
            *error = path + ": JPEG cannot hold 32-bit float samples (write a .tif file)";
        else if (planes == 2 || planes == 4)
            *error = path + ": JPEG cannot hold transparency (write a .png or .tif file)";
        else
            break;
        return false;
    case Format::tiff:
        break;
    }
    if (device) return true;
    /* the folder: there, a folder, and open to writing */
    size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    struct stat s;
    if (stat(dir.c_str(), &s) != 0) {
        *error = cannot_write(path, errno);
        return false;
    }
    if (!S_ISDIR(s.st_mode) || access(dir.c_str(), W_OK | X_OK) != 0) {
        *error = cannot_write(path, S_ISDIR(s.st_mode) ? errno : ENOTDIR);
        return false;
    }
    return true;
}

} // namespace

bool image_can_write(const std::string& path, int32_t depth, int32_t planes, bool spectrum,
                     std::string* error) {
    const bool device = is_device(path);
    return can_write(path, format_of(path, depth, device), device, depth, planes, spectrum, error);
}

bool image_write(const std::string& path, const HostImage& image, std::string* error,
                 const ImageFile* source) {
    const HostImage* original =
        source && !source->original.storage.empty() ? &source->original : nullptr;
    SourceRecord record = source ? source->record : SourceRecord();
    static const ImageMeta none;
    const ImageMeta& meta = source ? source->meta : none;
    const bool spectrum = source && source->spectrum;
    const int quality = source ? source->jpeg_quality : image_jpeg_quality;
    const bool device = is_device(path);
    const Format format = format_of(path, image.depth, device);
    if (!can_write(path, format, device, image.depth, image.planes, spectrum, error)) return false;
    if (device) {
        int fd = open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (fd < 0) {
            *error = cannot_write(path, errno);
            return false;
        }
        return write_fd(path, fd, image, original, record, meta, spectrum, quality, format, false,
                        error);
    }
    /* A file through a temporary file in the same folder, renamed into
     * place when whole. */
    size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1), temp;
    int fd = create_temporary(dir, path.substr(dir.size()), &temp);
    if (fd < 0) {
        *error = cannot_write(path, errno);
        return false;
    }
    bool ok =
        write_fd(path, fd, image, original, record, meta, spectrum, quality, format, true, error);
    if (ok && std::rename(temp.c_str(), path.c_str()) != 0) {
        *error = cannot_write(path, errno);
        ok = false;
    }
    if (!ok) unlink(temp.c_str());
    temporary_set = 0;
    return ok;
}

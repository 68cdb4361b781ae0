/* memory_file.h - hands a fuzz input to readers that take a file name: the
 * bytes go into an anonymous memory file, named by its /proc path. */
#ifndef SPECTRA_MEMORY_FILE_H
#define SPECTRA_MEMORY_FILE_H

#include <cstdint>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

inline std::string memory_file(const uint8_t* data, size_t size) {
    static int fd = memfd_create("fuzz-input", 0);
    if (fd < 0 || ftruncate(fd, 0) != 0 || (size && pwrite(fd, data, size, 0) != ssize_t(size)))
        std::abort();
    return "/proc/self/fd/" + std::to_string(fd);
}

#endif

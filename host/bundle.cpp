/* bundle.cpp - the layout of a macOS plug-in bundle on disk, as the host
 * library finds its parts: NAME.plugin/Contents/MacOS/NAME, the code, and
 * NAME.plugin/Contents/Resources/NAME.rsrc, the property list (see
 * macho.h). */
#include "macho.h"

#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace {

const uint32_t fat_magic = 0xcafebabe, macho_magic = 0xfeedfacf;

/* NAME.plugin: its name without the folders and the extension */
std::string bundle_name(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    size_t slash = p.rfind('/');
    std::string name = slash == std::string::npos ? p : p.substr(slash + 1);
    return name.substr(0, name.size() - 7);
}

bool is_folder(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

bool macho_is_bundle(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return false;
    if (S_ISDIR(st.st_mode))
        return path.size() > 7 && path.compare(path.size() - 7, 7, ".plugin") == 0;
    uint8_t head[4] = {};
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    bool read = std::fread(head, 1, 4, f) == 4;
    std::fclose(f);
    uint32_t little;
    std::memcpy(&little, head, 4);
    const uint32_t big =
        uint32_t(head[0]) << 24 | uint32_t(head[1]) << 16 | uint32_t(head[2]) << 8 | head[3];
    return read && (big == fat_magic || little == macho_magic);
}

std::string macho_executable(const std::string& path) {
    if (!is_folder(path)) return path;
    return path + "/Contents/MacOS/" + bundle_name(path);
}

std::string macho_resource_file(const std::string& path) {
    if (!is_folder(path)) return "";
    return path + "/Contents/Resources/" + bundle_name(path) + ".rsrc";
}

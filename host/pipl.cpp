/* pipl.cpp - finding and decoding a plug-in's property list. */
#include "pipl.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>

#if defined(_WIN32)
#include <windows.h>
#else
#include <elf.h>
#endif
#if SPECTRA_MAC_BUNDLES
#include "macho.h"
#endif

namespace {

/* The property that names the entry point for this host's processor: a
 * host takes the code built for itself, and nothing else. */
#if defined(_WIN32) && !defined(_WIN64)
const char* const our_code_property = "wx86";
#elif defined(_WIN32) && defined(__aarch64__)
const char* const our_code_property = "wa64";
#else
const char* const our_code_property = "8664";
#endif
/* and in a macOS bundle, run here through the project's loader */
#if defined(__aarch64__)
const char* const our_mac_code_property = "ma64";
#else
const char* const our_mac_code_property = "mi64";
#endif

uint32_t get32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint32_t get32_big(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

uint16_t get16_big(const uint8_t* p) {
    return uint16_t(p[0] << 8 | p[1]);
}

/* A four-character code, from its little-endian 32-bit value. */
std::string code_string(uint32_t v) {
    char c[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    return std::string(c, 4);
}

#if !defined(_WIN32)

bool read_whole(const std::string& path, std::vector<uint8_t>* bytes, std::string* error) {
    std::ifstream f(path, std::ios::binary);
    if (!f) {
        *error = path + ": cannot be opened";
        return false;
    }
    bytes->assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    if (f.bad()) {
        *error = path + ": cannot be read";
        return false;
    }
    return true;
}

#if defined(__x86_64__)
const uint16_t our_machine = EM_X86_64;
#elif defined(__aarch64__)
const uint16_t our_machine = EM_AARCH64;
#else
const uint16_t our_machine = EM_NONE;
#endif

#endif

} // namespace

#if defined(_WIN32)

namespace {

/* The first resource of a type: its number, or a copy of its name. */
struct FoundResource {
    LPSTR name = nullptr;
    std::string copy;
    bool is_int = false;
};

/* Called by EnumResourceNamesA, in the system's calling convention (which
 * differs from C's on 32-bit x86). */
BOOL CALLBACK first_resource(HMODULE, LPCSTR, LPSTR name, LONG_PTR param) {
    FoundResource* f = reinterpret_cast<FoundResource*>(param);
    f->is_int = IS_INTRESOURCE(name);
    if (f->is_int)
        f->name = name;
    else
        f->copy = name;
    return FALSE; /* the first is enough */
}

} // namespace

bool pipl_read_file(const std::string& path, std::vector<uint8_t>* pipl, std::string* error) {
    /* As hosts do: open the file as data (no code runs), enumerate its
     * "PiPL" resources and take the first. */
    HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) {
        DWORD e = GetLastError();
        *error = path + (e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND
                             ? ": cannot be opened (no such file)"
                             : ": not a plug-in library, or one built for another machine");
        return false;
    }
    FoundResource found;
    EnumResourceNamesA(module, "PiPL", first_resource, reinterpret_cast<LONG_PTR>(&found));
    LPCSTR name = found.is_int ? found.name : found.copy.c_str();
    HRSRC info =
        (found.is_int || !found.copy.empty()) ? FindResourceA(module, name, "PiPL") : nullptr;
    HGLOBAL loaded = info ? LoadResource(module, info) : nullptr;
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data) {
        FreeLibrary(module);
        *error = path + ": has no property list (not a filter plug-in)";
        return false;
    }
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    pipl->assign(bytes, bytes + SizeofResource(module, info));
    FreeLibrary(module);
    return true;
}

#else

#if SPECTRA_MAC_BUNDLES
/* The 'PiPL' resource 16000 of a classic resource file (the layout is
 * described where resources/pipl.cpp writes one). */
bool read_resource_file(const std::string& path, std::vector<uint8_t>* pipl, std::string* error) {
    std::vector<uint8_t> file;
    if (!read_whole(path, &file, error)) return false;
    const uint8_t* f = file.data();
    const uint64_t size = file.size();
    if (size < 16) {
        *error = path + ": not a resource file";
        return false;
    }
    uint64_t data = get32_big(f), map = get32_big(f + 4);
    if (map + 30 > size || data > size) {
        *error = path + ": a damaged resource file";
        return false;
    }
    uint64_t types = map + get16_big(f + map + 24);
    if (types + 2 > size) {
        *error = path + ": a damaged resource file";
        return false;
    }
    for (uint32_t t = 0, n = get16_big(f + types) + 1u; t < n && types + 2 + (t + 1) * 8 <= size;
         t++) {
        const uint8_t* type = f + types + 2 + t * 8;
        if (get32_big(type) != 0x5069504c) continue; /* 'PiPL' */
        uint64_t refs = types + get16_big(type + 6);
        for (uint32_t r = 0, m = get16_big(type + 4) + 1u; r < m && refs + (r + 1) * 12 <= size;
             r++) {
            const uint8_t* ref = f + refs + r * 12;
            if (get16_big(ref) != 16000) continue;
            uint64_t at = data + (get32_big(ref + 4) & 0xffffff);
            if (at + 4 > size || get32_big(f + at) > size - at - 4) break;
            pipl->assign(f + at + 4, f + at + 4 + get32_big(f + at));
            return true;
        }
    }
    *error = path + ": has no property list (not a filter plug-in)";
    return false;
}
#endif

bool pipl_read_file(const std::string& path, std::vector<uint8_t>* pipl, std::string* error) {
#if SPECTRA_MAC_BUNDLES
    if (macho_is_bundle(path)) {
        std::string resources = macho_resource_file(path);
        if (resources.empty()) {
            *error = path + ": macOS code without its bundle (NAME.plugin)";
            return false;
        }
        return read_resource_file(resources, pipl, error);
    }
#endif
    std::vector<uint8_t> file;
    if (!read_whole(path, &file, error)) return false;
    if (file.size() >= 2 && file[0] == 'M' && file[1] == 'Z') {
        *error = path + ": a Windows plug-in, built for another machine";
        return false;
    }
    if (file.size() < sizeof(Elf64_Ehdr) || std::memcmp(file.data(), ELFMAG, SELFMAG) != 0) {
        *error = path + ": not a plug-in library";
        return false;
    }
    Elf64_Ehdr header;
    std::memcpy(&header, file.data(), sizeof header);
    if (file[EI_CLASS] != ELFCLASS64 || file[EI_DATA] != ELFDATA2LSB ||
        header.e_machine != our_machine) {
        *error = path + ": built for another machine";
        return false;
    }
    uint64_t table = header.e_shoff, count = header.e_shnum;
    if (header.e_shentsize != sizeof(Elf64_Shdr) || header.e_shstrndx >= count ||
        table > file.size() || count > (file.size() - table) / sizeof(Elf64_Shdr)) {
        *error = path + ": a damaged library";
        return false;
    }
    auto section = [&](uint64_t i) {
        Elf64_Shdr s;
        std::memcpy(&s, file.data() + table + i * sizeof s, sizeof s);
        return s;
    };
    auto inside = [&](const Elf64_Shdr& s) {
        return s.sh_offset <= file.size() && s.sh_size <= file.size() - s.sh_offset;
    };
    Elf64_Shdr names = section(header.e_shstrndx);
    if (!inside(names)) {
        *error = path + ": a damaged library";
        return false;
    }
    const char wanted[] = ".pipl";
    for (uint64_t i = 0; i < count; i++) {
        Elf64_Shdr s = section(i);
        if (s.sh_name + sizeof wanted > names.sh_size || !inside(s)) continue;
        if (std::memcmp(file.data() + names.sh_offset + s.sh_name, wanted, sizeof wanted) != 0)
            continue;
        pipl->assign(file.begin() + long(s.sh_offset),
                     file.begin() + long(s.sh_offset + s.sh_size));
        return true;
    }
    *error = path + ": has no property list (not a filter plug-in)";
    return false;
}

#endif

bool pipl_parse(const std::vector<uint8_t>& pipl, PiplInfo* info, std::string* error) {
    *info = PiplInfo();
    const uint8_t* p = pipl.data();
    size_t size = pipl.size();
    /* Windows and Linux: little-endian, after a reserved word of 1; the
     * Mac's: big-endian, from the version on */
    const bool mac = size >= 8 && get32_big(p) == 0;
    auto get = [mac](const uint8_t* q) { return mac ? get32_big(q) : get32(q); };
    if (!mac && (size < 10 || p[0] != 1 || p[1] != 0 || get32(p + 2) != 0)) {
        *error = "the property list has an unknown header";
        return false;
    }
    uint32_t count = get(p + (mac ? 4 : 6));
    size_t at = mac ? 8 : 10;
    for (uint32_t i = 0; i < count; i++) {
        if (size - at < 16) {
            *error = "the property list ends inside property " + std::to_string(i + 1);
            return false;
        }
        std::string key = code_string(get(p + at + 4));
        uint32_t length = get(p + at + 12);
        at += 16;
        if (length > size - at) {
            *error = "property " + key + " runs past the end of the list";
            return false;
        }
        const uint8_t* d = p + at;
        auto c_text = [&]() { return std::string(d, std::find(d, d + length, 0)); };
        auto pascal_text = [&]() {
            return length ? std::string(d + 1, d + 1 + std::min<uint32_t>(d[0], length - 1))
                          : std::string();
        };
        if (key == "kind" && length >= 4)
            info->kind = code_string(get(d));
        else if (key == "name")
            info->name = pascal_text();
        else if (key == "catg")
            info->category = pascal_text();
        else if (key == "vers" && length >= 4)
            info->version = get(d);
        else if (!mac && key == our_code_property)
            info->entry = c_text();
        else if (mac && key == our_mac_code_property)
            info->entry = pascal_text();
        else if (key == "mode")
            info->modes.assign(d, d + length);
        else if (key == "enbl")
            info->enable = c_text();
        else if (key == "fici")
            info->cases.assign(d, d + length);
        else if (key == "ms32" && length >= 8) {
            info->max_rows = int32_t(get(d));
            info->max_columns = int32_t(get(d + 4));
        }
        at += length;
    }
    return true;
}

/* pipl.cpp - writes a plug-in's property list (PiPL) resource.
 *
 *   pipl OUTPUT MENU-NAME [CODE]
 *
 * The four plug-ins share one description, below; only the menu name differs,
 * and the code property that names the entry point for the file's processor:
 * `8664` (x86-64, the default), `wx86` (32-bit x86) or `wa64` (ARM64). A file
 * declares its own processor only: a host that found `wx86` in an x86-64 file
 * would try to load it and fail.
 * The build runs this program on the build machine (also when it builds for
 * Windows) and embeds the file it writes: as the "PiPL" resource 16000 in a
 * Windows DLL, and as the section .pipl of a Linux shared library, where a
 * host reads it from the file without loading the library.
 *
 * The resource is little-endian: a reserved word of 1, the list's version 0,
 * the number of properties, then each property as vendor code, key, id 0,
 * data length and data, the length always a multiple of 4. Four-character
 * codes are stored as little-endian 32-bit values, so their characters read
 * backwards in the file ('8BIM' as "MIB8"). */
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

typedef std::vector<uint8_t> Bytes;

uint32_t code(const char* c) {
    return uint32_t(uint8_t(c[0])) << 24 | uint32_t(uint8_t(c[1])) << 16 |
           uint32_t(uint8_t(c[2])) << 8 | uint32_t(uint8_t(c[3]));
}

void put16(Bytes& b, uint16_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}

void put32(Bytes& b, uint32_t v) {
    put16(b, uint16_t(v));
    put16(b, uint16_t(v >> 16));
}

void pad(Bytes& b) {
    while (b.size() % 4) b.push_back(0);
}

/* A Pascal string: its length byte, its characters, zero bytes up to a
 * multiple of 4. */
Bytes pascal(const std::string& s) {
    Bytes b;
    b.push_back(uint8_t(s.size()));
    for (char c : s) b.push_back(uint8_t(c));
    pad(b);
    return b;
}

/* A C string: its characters, the terminator and at least one more zero
 * byte, up to a multiple of 4 (12 bytes for the entry name, 56 for the
 * enable expression). */
Bytes c_string(const std::string& s) {
    Bytes b(s.begin(), s.end());
    b.push_back(0);
    b.push_back(0);
    pad(b);
    return b;
}

Bytes words(std::initializer_list<uint32_t> values) {
    Bytes b;
    for (uint32_t v : values) put32(b, v);
    return b;
}

struct Property {
    const char* key;
    Bytes data;
};

/* Filter-case flags: do not copy the source to the destination, works with
 * blank data, filters the layer mask; with a selection, also writes outside
 * it (the plug-ins always rewrite the whole image). */
const uint8_t no_selection = 0x07, with_selection = 0x0f;
const uint8_t white_matte = 4;

Bytes filter_cases() {
    const uint8_t flags[7] = {no_selection,   with_selection, with_selection, no_selection,
                              with_selection, no_selection,   with_selection};
    Bytes b;
    for (uint8_t f : flags) b.insert(b.end(), {white_matte, white_matte, f, 0});
    return b;
}

Bytes property_list(const std::string& menu_name, const std::string& code_key, bool grey) {
    const Property properties[] = {
        {"kind", words({code("8BFM")})},
        {"name", pascal(menu_name)},
        {"catg", pascal("Quillon 2018")},
        /* Interface 4.0: the newest filter interface. Hosts refuse a version
         * newer than they know, and several refuse 4.1. */
        {"vers", words({0x00040000})},
        {code_key.c_str(), c_string("ENTRYPOINT")},
        {"mode", Bytes{uint8_t(grey ? 0x50 : 0x10), 0, 0, 0}}, /* RGB, and grey */
        {"enbl",
         c_string(grey ? "in (PSHOP_ImageMode, RGBMode, RGB48Mode, RGB96Mode, GrayScaleMode, "
                         "Gray16Mode, Gray32Mode)"
                       : "in (PSHOP_ImageMode, RGBMode, RGB48Mode, RGB96Mode)")},
        {"fici", filter_cases()},
        /* The largest image: the plug-ins read the interface's 16-bit sizes. */
        {"ms32", words({32767, 32767})},
    };
    Bytes b;
    put16(b, 1);
    put32(b, 0);
    put32(b, sizeof properties / sizeof properties[0]);
    for (const Property& p : properties) {
        put32(b, code("8BIM"));
        put32(b, code(p.key));
        put32(b, 0);
        put32(b, uint32_t(p.data.size()));
        b.insert(b.end(), p.data.begin(), p.data.end());
    }
    return b;
}

} // namespace

int main(int argc, char** argv) {
    /* "grey" last: the plug-in is enabled in grey documents too */
    bool grey = argc >= 4 && std::string(argv[argc - 1]) == "grey";
    if (grey) argc--;
    std::string code_key = argc == 4 ? argv[3] : "8664";
    if ((argc != 3 && argc != 4) ||
        (code_key != "8664" && code_key != "wx86" && code_key != "wa64")) {
        std::fprintf(stderr, "usage: pipl OUTPUT MENU-NAME [8664 | wx86 | wa64] [grey]\n");
        return 2;
    }
    Bytes b = property_list(argv[2], code_key, grey);
    FILE* f = std::fopen(argv[1], "wb");
    if (!f || std::fwrite(b.data(), 1, b.size(), f) != b.size() || std::fclose(f) != 0) {
        std::fprintf(stderr, "pipl: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}

/* pipl.cpp - writes a plug-in's property list (PiPL) resource.
 *
 *   pipl OUTPUT MENU-NAME [CODE] [grey]
 *
 * The plug-ins share one description, below; only the menu name differs,
 * the modes (grey: enabled in grey documents too), and the code property
 * that names the entry point for the file's processor: `8664` (x86-64, the
 * default), `wx86` (32-bit x86) or `wa64` (ARM64). A file declares its own
 * processor only: a host that found `wx86` in an x86-64 file would try to
 * load it and fail. CODE `mac` makes the list of a universal macOS bundle,
 * with both `mi64` (Intel) and `ma64` (Apple silicon).
 * The build runs this program on the build machine (also when it builds for
 * Windows or macOS) and embeds the file it writes: as the "PiPL" resource
 * 16000 in a Windows DLL, and as the section .pipl of a Linux shared
 * library, where a host reads it from the file without loading the library.
 * For macOS it writes the bundle's resource file instead (below).
 *
 * On Windows and Linux the resource is little-endian: a reserved word of 1,
 * the list's version 0, the number of properties, then each property as
 * vendor code, key, id 0, data length and data, the length always a
 * multiple of 4. Four-character codes are stored as little-endian 32-bit
 * values, so their characters read backwards in the file ('8BIM' as
 * "MIB8"). On the Mac every number is big-endian, as Rez writes it, and
 * the list begins at its version, without the reserved word; the entry
 * point's name is a Pascal string there (Adobe's PiPL.r template). */
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

bool big_endian = false;

void put16(Bytes& b, uint16_t v) {
    b.push_back(uint8_t(big_endian ? v >> 8 : v));
    b.push_back(uint8_t(big_endian ? v : v >> 8));
}

void put32(Bytes& b, uint32_t v) {
    put16(b, uint16_t(big_endian ? v >> 16 : v));
    put16(b, uint16_t(big_endian ? v : v >> 16));
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
    const bool mac = code_key == "mac";
    std::vector<Property> properties = {
        {"kind", words({code("8BFM")})},
        {"name", pascal(menu_name)},
        {"catg", pascal("Quillon 2018")},
        /* Interface 4.0: the newest filter interface. Hosts refuse a version
         * newer than they know, and several refuse 4.1. */
        {"vers", words({0x00040000})},
        {"mode", Bytes{uint8_t(grey ? 0x50 : 0x10), 0, 0, 0}}, /* RGB, and grey */
        {"enbl",
         c_string(grey ? "in (PSHOP_ImageMode, RGBMode, RGB48Mode, RGB96Mode, GrayScaleMode, "
                         "Gray16Mode, Gray32Mode)"
                       : "in (PSHOP_ImageMode, RGBMode, RGB48Mode, RGB96Mode)")},
        {"fici", filter_cases()},
        /* The largest image: the plug-ins read the interface's 16-bit sizes. */
        {"ms32", words({32767, 32767})},
    };
    /* the entry point after the version, as before */
    if (mac)
        properties.insert(properties.begin() + 4,
                          {{"mi64", pascal("ENTRYPOINT")}, {"ma64", pascal("ENTRYPOINT")}});
    else
        properties.insert(properties.begin() + 4, {code_key.c_str(), c_string("ENTRYPOINT")});
    Bytes b;
    if (!mac) put16(b, 1);
    put32(b, 0);
    put32(b, uint32_t(properties.size()));
    for (const Property& p : properties) {
        put32(b, code("8BIM"));
        put32(b, code(p.key));
        put32(b, 0);
        put32(b, uint32_t(p.data.size()));
        b.insert(b.end(), p.data.begin(), p.data.end());
    }
    return b;
}

/* A classic Mac resource file (Inside Macintosh: More Macintosh Toolbox,
 * "Resource Manager"), holding one resource: the list as type 'PiPL', id
 * 16000. A 16-byte header (offsets and lengths of the data and the map),
 * 240 bytes the system may use, the data (each resource its length, then
 * its bytes), and the map: a copy of the header, room for the Resource
 * Manager's handle, file number and attributes, the offsets of the type
 * list and the name list, the type list (types - 1, then each type, its
 * resources - 1 and the offset of its references) and the references (id,
 * no name: -1, attributes, a 24-bit offset into the data, room for a
 * handle). Big-endian throughout. */
Bytes resource_file(const Bytes& pipl) {
    big_endian = true;
    const uint32_t data_offset = 256, data_length = 4 + uint32_t(pipl.size());
    const uint32_t map_offset = data_offset + data_length,
                   map_length = 16 + 4 + 2 + 2 + 2 + 2 + 2 + 8 + 12;
    Bytes header;
    for (uint32_t v : {data_offset, map_offset, data_length, map_length}) put32(header, v);
    Bytes b = header;
    b.resize(data_offset, 0);
    put32(b, uint32_t(pipl.size()));
    b.insert(b.end(), pipl.begin(), pipl.end());
    b.insert(b.end(), header.begin(), header.end());
    put32(b, 0);                    /* next map: the Resource Manager's */
    put16(b, 0);                    /* file reference number */
    put16(b, 0);                    /* attributes */
    put16(b, 28);                   /* the type list, from the map's start */
    put16(b, uint16_t(map_length)); /* the name list: empty, at the end */
    put16(b, 0);                    /* one type */
    put32(b, code("PiPL"));
    put16(b, 0);  /* one resource of it */
    put16(b, 10); /* its references, from the type list's start */
    put16(b, 16000);
    put16(b, 0xffff); /* no name */
    put32(b, 0);      /* attributes 0, data at offset 0 */
    put32(b, 0);      /* the handle */
    return b;
}

} // namespace

int main(int argc, char** argv) {
    /* "grey" last: the plug-in is enabled in grey documents too */
    bool grey = argc >= 4 && std::string(argv[argc - 1]) == "grey";
    if (grey) argc--;
    std::string code_key = argc == 4 ? argv[3] : "8664";
    if ((argc != 3 && argc != 4) ||
        (code_key != "8664" && code_key != "wx86" && code_key != "wa64" && code_key != "mac")) {
        std::fprintf(stderr, "usage: pipl OUTPUT MENU-NAME [8664 | wx86 | wa64 | mac] [grey]\n");
        return 2;
    }
    big_endian = code_key == "mac";
    Bytes b = property_list(argv[2], code_key, grey);
    if (code_key == "mac") b = resource_file(b);
    FILE* f = std::fopen(argv[1], "wb");
    if (!f || std::fwrite(b.data(), 1, b.size(), f) != b.size() || std::fclose(f) != 0) {
        std::fprintf(stderr, "pipl: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}

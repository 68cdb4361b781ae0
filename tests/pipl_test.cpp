/* pipl_test.cpp - the property list in every plug-in file, read back byte by
 * byte by a reader of the test's own, and the host's use of it: refusing
 * files that are not filters and enabling the filter by document mode. */
#include "support.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <tuple>

namespace {

typedef std::vector<uint8_t> Bytes;

Bytes bytes_of(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

/* What each record must hold: its key as stored (reversed), its data. */
struct Record {
    const char* stored_key;
    Bytes data;
};

/* The code property of this processor, as stored. */
const char* code_key() {
#if defined(_WIN32) && defined(__aarch64__)
    return "46aw";
#else
    return sizeof(void*) == 8 ? "4668" : "68xw";
#endif
}

std::vector<Record> expected_records(const std::string& menu_name, bool grey) {
    Bytes name{uint8_t(menu_name.size())}, category{12};
    for (char c : menu_name) name.push_back(uint8_t(c));
    while (name.size() % 4) name.push_back(0);
    for (char c : std::string("Quillon 2018")) category.push_back(uint8_t(c));
    category.resize(16, 0);
    Bytes entry = bytes_of("ENTRYPOINT");
    entry.resize(12, 0);
    Bytes enable = bytes_of(grey ? "in (PSHOP_ImageMode, RGBMode, RGB48Mode, RGB96Mode, "
                                   "GrayScaleMode, Gray16Mode, Gray32Mode)"
                                 : "in (PSHOP_ImageMode, RGBMode, RGB48Mode, RGB96Mode)");
    enable.resize((enable.size() + 2 + 3) / 4 * 4, 0); /* two NULs, then to a word */
    Bytes cases;
    for (uint8_t flags : {0x07, 0x0f, 0x0f, 0x07, 0x0f, 0x07, 0x0f})
        cases.insert(cases.end(), {4, 4, flags, 0});
    return {
        {"dnik", bytes_of("MFB8")},
        {"eman", name},
        {"gtac", category},
        {"srev", {0x00, 0x00, 0x04, 0x00}}, /* 4.0 */
        /* the entry point of the file's processor: 8664, wx86 or wa64 */
        {code_key(), entry},
        {"edom", {uint8_t(grey ? 0x50 : 0x10), 0, 0, 0}}, /* RGB, and grey */
        {"lbne", enable},
        {"icif", cases},
        {"23sm", {0xff, 0x7f, 0, 0, 0xff, 0x7f, 0, 0}}, /* 32767 rows, 32767 columns */
    };
}

uint32_t le32(const uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24;
}

struct Named {
    const char* plugin;
    const char* menu_name;
};
const Named menu_names[] = {{"SpectraPlane", "SpectraPlane...."},
                            {"SpectraPlaneInverse", "SpectraPlaneInverse..."},
                            {"SpectraVolume", "SpectraVolume...."},
                            {"SpectraRow", "SpectraRow...."},
                            {"SpectraDescreen", "SpectraDescreen"}};

TEST(Pipl, EveryPluginCarriesItsListByteForByte) {
    for (const Named& n : menu_names) {
        Bytes pipl;
        std::string error;
        ASSERT_TRUE(pipl_read_file(plugin_path(n.plugin), &pipl, &error)) << error;
        ASSERT_GE(pipl.size(), 10u);
        EXPECT_EQ(pipl[0], 1);
        EXPECT_EQ(pipl[1], 0);
        EXPECT_EQ(le32(&pipl[2]), 0u);
        EXPECT_EQ(le32(&pipl[6]), 9u);
        size_t at = 10;
        bool grey = std::string(n.plugin) == "SpectraDescreen"; /* the spectra are of RGB */
        for (const Record& r : expected_records(n.menu_name, grey)) {
            ASSERT_LE(at + 16, pipl.size()) << n.plugin << " " << r.stored_key;
            EXPECT_EQ(std::string(&pipl[at], &pipl[at] + 4), "MIB8") << n.plugin;
            EXPECT_EQ(std::string(&pipl[at + 4], &pipl[at + 4] + 4), r.stored_key) << n.plugin;
            EXPECT_EQ(le32(&pipl[at + 8]), 0u);
            uint32_t length = le32(&pipl[at + 12]);
            EXPECT_EQ(length % 4, 0u) << r.stored_key;
            ASSERT_LE(at + 16 + length, pipl.size()) << r.stored_key;
            EXPECT_EQ(Bytes(&pipl[at + 16], &pipl[at + 16] + length), r.data)
                << n.plugin << " " << r.stored_key;
            at += 16 + length;
        }
        EXPECT_EQ(at, pipl.size()) << n.plugin << ": the last record must end the list";
    }
}

TEST(Pipl, HostDecodesTheList) {
    for (const Named& n : menu_names) {
        Bytes pipl;
        PiplInfo info;
        std::string error;
        ASSERT_TRUE(pipl_read_file(plugin_path(n.plugin), &pipl, &error)) << error;
        ASSERT_TRUE(pipl_parse(pipl, &info, &error)) << error;
        EXPECT_EQ(info.kind, "8BFM");
        EXPECT_EQ(info.name, n.menu_name);
        EXPECT_EQ(info.category, "Quillon 2018");
        EXPECT_EQ(info.version, 0x00040000u);
        EXPECT_EQ(info.entry, "ENTRYPOINT");
        EXPECT_EQ(info.max_rows, 32767);
        EXPECT_EQ(info.max_columns, 32767);
        EXPECT_EQ(info.cases.size(), 28u);
    }
}

TEST(Pipl, EnabledInRgbDocumentsOnly) {
    PiplInfo info;
    Bytes pipl;
    std::string error;
    ASSERT_TRUE(pipl_read_file(plugin_path("SpectraPlane"), &pipl, &error)) << error;
    ASSERT_TRUE(pipl_parse(pipl, &info, &error)) << error;
    struct Case {
        int16_t mode;
        int32_t depth;
        bool enabled;
    } cases[] = {
        {3, 8, true},  {11, 16, true},  {16, 32, true},  /* RGB, RGB48, RGB96 */
        {1, 8, false}, {10, 16, false}, {17, 32, false}, /* grey */
        {4, 8, false}, {13, 16, false},                  /* CMYK */
        {9, 8, false}, {12, 16, false},                  /* Lab */
        {2, 8, false}, {0, 1, false},                    /* indexed, bitmap */
        {7, 8, false}, {8, 8, false},                    /* multichannel, duotone */
    };
    for (const Case& c : cases) {
        PiplDocument doc;
        doc.mode = c.mode;
        doc.depth = c.depth;
        EXPECT_EQ(pipl_enabled(info, doc), c.enabled) << pipl_mode_name(c.mode);
        /* the mode flags, which hosts use without an expression, agree */
        PiplInfo flags_only = info;
        flags_only.enable.clear();
        EXPECT_EQ(pipl_enabled(flags_only, doc), c.mode == 3) << pipl_mode_name(c.mode);
    }
}

TEST(Pipl, EnableLanguage) {
    PiplDocument doc;
    doc.mode = 11;
    doc.depth = 16;
    doc.rows = 300;
    doc.columns = 200;
    doc.channels = 4;
    struct Case {
        const char* expression;
        int64_t value;
        bool ok;
    } cases[] = {
        {"true", 1, true},
        {"FALSE", 0, true},
        {"PSHOP_ImageMode == rgb48mode", 1, true},
        {"in (PSHOP_ImageMode, RGBMode, RGB96Mode)", 0, true},
        {"PSHOP_ImageDepth >= 16 && PSHOP_ImageWidth < 1000", 1, true},
        {"PSHOP_ImageDepth == 8 || PSHOP_NumTargetChannels == 4", 1, true},
        {"!(PSHOP_ImageHeight <= 299)", 1, true},
        {"max(PSHOP_ImageWidth, PSHOP_ImageHeight) - min(2, 3) * 10 / 5", 296, true},
        {"PSHOP_ImageMode != RGB48Mode", 0, true},
        {"-PSHOP_ImageDepth + 20", 4, true},
        {"PSHOP_NoSuchThing == 1", 0, false},
        {"in (PSHOP_ImageMode, RGBMode", 0, false},
        {"1 / 0", 0, false},
        /* beyond 64 bits: refused, not wrapped (nor undefined) */
        {"1000000000000 * 1000000000000", 0, false},
        {"1000000000000 * 1000000 * 1000000 - 1", 0, false},
        {"0 - 1000000000000 * 1000000 * 9000 - 1000000000000 * 1000000 * 9000", 0, false},
        {"1000000000000 * 1000000 + 1", 1000000000000000001, true},
        {"3 3", 0, false},
        {"", 0, false},
    };
    for (const Case& c : cases) {
        bool ok;
        int64_t v = pipl_evaluate(c.expression, doc, &ok);
        EXPECT_EQ(ok, c.ok) << c.expression;
        if (c.ok) {
            EXPECT_EQ(v, c.value) << c.expression;
        }
    }
}

Bytes read_file(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

void write_file(const std::string& path, const Bytes& b) {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

TEST(Pipl, HostRefusesFilesThatAreNotFilters) {
    const std::string dir = temp_file("");
    Bytes plugin = read_file(plugin_path("SpectraRow"));
    /* the same library with its kind changed from filter to something else */
    Bytes other = plugin;
    const char kind[] = "dnik\0\0\0\0\x04\0\0\0MFB8";
    auto at = std::search(other.begin(), other.end(), kind, kind + sizeof kind - 1);
    ASSERT_NE(at, other.end());
    at[12] = 'X'; /* "MFB8" becomes "XFB8" */
    write_file(dir + "other-kind.8bf", other);
    write_file(dir + "text.8bf", bytes_of("not a library at all\n"));
    write_file(dir + "truncated.8bf", Bytes(plugin.begin(), plugin.begin() + 40));
    /* a library for the other system: a PE header on Linux, ELF on Windows */
    Bytes foreign = plugin;
#if defined(_WIN32)
    std::memcpy(foreign.data(),
                "\x7f"
                "ELF",
                4);
#else
    std::memcpy(foreign.data(), "MZ", 2);
#endif
    write_file(dir + "foreign.8bf", foreign);

    struct Case {
        std::string path, message;
    } cases[] = {
        {dir + "missing.8bf", "cannot be opened"},
        {dir + "text.8bf", "not a plug-in library"},
        {dir + "truncated.8bf", "not a plug-in library"},
        {dir + "other-kind.8bf", "not a filter plug-in"},
        {dir + "foreign.8bf", "built for another machine"},
        {SPECTRA_TEST_PROGRAM, "has no property list"},
    };
    for (const Case& c : cases) {
        HostPlugin p;
        PiplInfo info;
        std::string error;
        EXPECT_FALSE(host_open(c.path, &p, &info, &error)) << c.path;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.path << ": " << error;
        EXPECT_EQ(p.entry, nullptr);
    }
    for (const char* name : {"other-kind.8bf", "text.8bf", "truncated.8bf", "foreign.8bf"})
        std::remove((dir + name).c_str());
}

#if SPECTRA_MAC_BUNDLES
/* A macOS bundle's property list, read from a resource file laid out as
 * Inside Macintosh describes it, by hand and unlike the build's own: a
 * name list, two types, the list not the first resource, a second list
 * with another id, and the entry points of both processors. */
TEST(Pipl, HostReadsABundlesResourceFile) {
    auto be16 = [](Bytes& b, uint32_t v) { b.insert(b.end(), {uint8_t(v >> 8), uint8_t(v)}); };
    auto be32 = [&](Bytes& b, uint32_t v) {
        be16(b, v >> 16);
        be16(b, v & 0xffff);
    };
    auto text = [](Bytes& b, const char* t) { b.insert(b.end(), t, t + std::strlen(t)); };
    auto property = [&](Bytes& b, const char* key, const Bytes& data) {
        text(b, "8BIM");
        text(b, key);
        be32(b, 0);
        be32(b, uint32_t(data.size()));
        b.insert(b.end(), data.begin(), data.end());
    };
    auto list = [&](const char* name, const char* intel, const char* arm) {
        Bytes b, kind, label, i64, a64, size;
        text(kind, "8BFM");
        for (auto [to, from] :
             {std::pair<Bytes*, const char*>{&label, name}, {&i64, intel}, {&a64, arm}}) {
            to->push_back(uint8_t(std::strlen(from)));
            text(*to, from);
            while (to->size() % 4) to->push_back(0);
        }
        be32(size, 100);
        be32(size, 200);
        be32(b, 0); /* version */
        be32(b, 5);
        property(b, "kind", kind);
        property(b, "name", label);
        property(b, "mi64", i64);
        property(b, "ma64", a64);
        property(b, "ms32", size);
        return b;
    };
    /* the data: a 'vers' resource, a decoy list (id 16001), the list */
    Bytes data, vers = bytes_of("1.0 "), decoy = list("Decoy", "DecoyI", "DecoyA"),
                pipl = list("Hand Made", "HandIntel", "HandArm");
    const uint32_t at_decoy = 4 + uint32_t(vers.size()),
                   at_pipl = at_decoy + 4 + uint32_t(decoy.size());
    for (const Bytes* r : {&vers, &decoy, &pipl}) {
        be32(data, uint32_t(r->size()));
        data.insert(data.end(), r->begin(), r->end());
    }
    Bytes map(24, 0);
    be16(map, 28);           /* the type list */
    be16(map, 28 + 18 + 36); /* the name list */
    be16(map, 1);            /* two types */
    text(map, "vers");
    be16(map, 0);
    be16(map, 18); /* its reference, from the type list */
    text(map, "PiPL");
    be16(map, 1);
    be16(map, 30);
    for (auto [id, name, at] : {std::tuple<uint32_t, uint32_t, uint32_t>{1, 0, 0},
                                {16001, 0xffff, at_decoy},
                                {16000, 0xffff, at_pipl}}) {
        be16(map, id);
        be16(map, name);
        be32(map, at); /* attributes 0 */
        be32(map, 0);
    }
    map.push_back(7);
    text(map, "Version");
    Bytes file;
    be32(file, 256);
    be32(file, 256 + uint32_t(data.size()));
    be32(file, uint32_t(data.size()));
    be32(file, uint32_t(map.size()));
    file.resize(256, 0);
    file.insert(file.end(), data.begin(), data.end());
    file.insert(file.end(), map.begin(), map.end());

    const std::string folder = temp_file("bundle"), bundle = folder + "/Hand.plugin";
    const std::string resources = bundle + "/Contents/Resources";
    ASSERT_EQ(std::system(("mkdir -p '" + resources + "'").c_str()), 0);
    write_file(resources + "/Hand.rsrc", file);
    PiplInfo info;
    std::string error;
    ASSERT_TRUE(host_read_info(bundle, &info, &error)) << error;
    EXPECT_EQ(info.kind, "8BFM");
    EXPECT_EQ(info.name, "Hand Made");
#if defined(__aarch64__)
    EXPECT_EQ(info.entry, "HandArm");
#else
    EXPECT_EQ(info.entry, "HandIntel");
#endif
    EXPECT_EQ(info.max_rows, 100);
    EXPECT_EQ(info.max_columns, 200);
    std::system(("rm -rf '" + folder + "'").c_str());
}
#endif

} // namespace

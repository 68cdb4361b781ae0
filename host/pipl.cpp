/* pipl.cpp - finding, decoding and evaluating a plug-in's property list. */
#include "pipl.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>

#if defined(_WIN32)
#include <windows.h>
#else
#include <elf.h>
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

uint32_t get32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
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

bool pipl_read_file(const std::string& path, std::vector<uint8_t>* pipl, std::string* error) {
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
    if (size < 10 || p[0] != 1 || p[1] != 0 || get32(p + 2) != 0) {
        *error = "the property list has an unknown header";
        return false;
    }
    uint32_t count = get32(p + 6);
    size_t at = 10;
    for (uint32_t i = 0; i < count; i++) {
        if (size - at < 16) {
            *error = "the property list ends inside property " + std::to_string(i + 1);
            return false;
        }
        std::string key = code_string(get32(p + at + 4));
        uint32_t length = get32(p + at + 12);
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
            info->kind = code_string(get32(d));
        else if (key == "name")
            info->name = pascal_text();
        else if (key == "catg")
            info->category = pascal_text();
        else if (key == "vers" && length >= 4)
            info->version = get32(d);
        else if (key == our_code_property)
            info->entry = c_text();
        else if (key == "mode")
            info->modes.assign(d, d + length);
        else if (key == "enbl")
            info->enable = c_text();
        else if (key == "fici")
            info->cases.assign(d, d + length);
        else if (key == "ms32" && length >= 8) {
            info->max_rows = int32_t(get32(d));
            info->max_columns = int32_t(get32(d + 4));
        }
        at += length;
    }
    return true;
}

namespace {

const char* const mode_names[] = {
    "BitmapMode",    "GrayScaleMode", "IndexedMode",      "RGBMode",     "CMYKMode",
    "HSLMode",       "HSBMode",       "MultichannelMode", "DuotoneMode", "LabMode",
    "Gray16Mode",    "RGB48Mode",     "Lab48Mode",        "CMYK64Mode",  "DeepMultichannelMode",
    "Duotone16Mode", "RGB96Mode",     "Gray32Mode",
};
const int mode_count = sizeof mode_names / sizeof mode_names[0];

bool same_word(const std::string& a, const char* b) {
    size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; i++)
        if (std::tolower(uint8_t(a[i])) != std::tolower(uint8_t(b[i]))) return false;
    return true;
}

/* A recursive-descent evaluator of the enable language: integers, the
 * document's identifiers, mode names, true and false; in(), min(), max();
 * ! and unary -, * /, + -, comparisons, && and ||. */
struct Evaluator {
    const std::string& s;
    const PiplDocument& doc;
    size_t at = 0;
    bool ok = true;

    void space() {
        while (at < s.size() && std::isspace(uint8_t(s[at]))) at++;
    }
    bool take(const char* token) {
        space();
        size_t n = std::strlen(token);
        if (s.compare(at, n, token) != 0) return false;
        /* "<" must not take the first half of "<=", nor "!" of "!=" */
        if (n == 1 && at + 1 < s.size() && s[at + 1] == '=' && std::strchr("<>!=", token[0]))
            return false;
        at += n;
        return true;
    }
    void fail() { ok = false; }

    int64_t identifier(const std::string& name) {
        struct {
            const char* name;
            int64_t value;
        } known[] = {
            {"PSHOP_ImageMode", doc.mode},
            {"PSHOP_ImageDepth", doc.depth},
            {"PSHOP_ImageWidth", doc.columns},
            {"PSHOP_ImageHeight", doc.rows},
            {"PSHOP_NumTargetChannels", doc.channels},
            {"PSHOP_HasLayerMask", doc.layer_mask},
            {"PSHOP_HasSelectionMask", doc.selection},
            {"PSHOP_HasTransparencyMask", doc.transparency},
            {"true", 1},
            {"false", 0},
        };
        for (const auto& k : known)
            if (same_word(name, k.name)) return k.value;
        for (int m = 0; m < mode_count; m++)
            if (same_word(name, mode_names[m])) return m;
        fail();
        return 0;
    }

    int64_t primary() {
        space();
        if (take("(")) {
            int64_t v = expression();
            if (!take(")")) fail();
            return v;
        }
        if (at < s.size() && std::isdigit(uint8_t(s[at]))) {
            int64_t v = 0;
            while (at < s.size() && std::isdigit(uint8_t(s[at])) && v < (int64_t(1) << 40))
                v = v * 10 + (s[at++] - '0');
            return v;
        }
        size_t start = at;
        while (at < s.size() && (std::isalnum(uint8_t(s[at])) || s[at] == '_')) at++;
        if (start == at) {
            fail();
            return 0;
        }
        std::string name = s.substr(start, at - start);
        if (!take("(")) return identifier(name);
        std::vector<int64_t> args;
        if (!take(")")) {
            do args.push_back(expression());
            while (ok && take(","));
            if (!take(")")) fail();
        }
        if (args.empty()) {
            fail();
            return 0;
        }
        if (same_word(name, "in")) {
            for (size_t i = 1; i < args.size(); i++)
                if (args[i] == args[0]) return 1;
            return 0;
        }
        if (same_word(name, "min")) return *std::min_element(args.begin(), args.end());
        if (same_word(name, "max")) return *std::max_element(args.begin(), args.end());
        fail();
        return 0;
    }
    /* Arithmetic that leaves the 64-bit range fails the expression. */
    int64_t checked(bool overflow, int64_t v) {
        if (overflow) fail();
        return overflow ? 0 : v;
    }
    int64_t unary() {
        if (take("!")) return !unary();
        if (take("-")) {
            int64_t v = unary(), r;
            bool overflow = __builtin_sub_overflow(int64_t(0), v, &r);
            return checked(overflow, r);
        }
        return primary();
    }
    int64_t product() {
        int64_t v = unary();
        for (;;) {
            if (take("*")) {
                int64_t r;
                bool overflow = __builtin_mul_overflow(v, unary(), &r);
                v = checked(overflow, r);
            } else if (take("/")) {
                int64_t d = unary();
                if (d == 0 || (d == -1 && v == INT64_MIN))
                    fail();
                else
                    v /= d;
            } else
                return v;
        }
    }
    int64_t sum() {
        int64_t v = product();
        for (;;) {
            int64_t r;
            bool overflow;
            if (take("+"))
                overflow = __builtin_add_overflow(v, product(), &r);
            else if (take("-"))
                overflow = __builtin_sub_overflow(v, product(), &r);
            else
                return v;
            v = checked(overflow, r);
        }
    }
    int64_t comparison() {
        int64_t v = sum();
        for (;;) {
            if (take("=="))
                v = v == sum();
            else if (take("!="))
                v = v != sum();
            else if (take("<="))
                v = v <= sum();
            else if (take(">="))
                v = v >= sum();
            else if (take("<"))
                v = v < sum();
            else if (take(">"))
                v = v > sum();
            else
                return v;
        }
    }
    int64_t conjunction() {
        int64_t v = comparison();
        while (take("&&")) v = comparison() && v;
        return v;
    }
    int64_t expression() {
        int64_t v = conjunction();
        while (take("||")) v = conjunction() || v;
        return v;
    }
};

} // namespace

int64_t pipl_evaluate(const std::string& expression, const PiplDocument& document, bool* ok) {
    Evaluator e{expression, document};
    int64_t v = e.expression();
    e.space();
    *ok = e.ok && e.at == expression.size();
    return *ok ? v : 0;
}

int16_t pipl_mode_of(int32_t channels, int32_t depth) {
    int i = depth == 8 ? 0 : depth == 16 ? 1 : 2;
    const int16_t rgb[] = {3, 11, 16}, grey[] = {1, 10, 17}, cmyk[] = {4, 13, 13},
                  multi[] = {7, 14, 14};
    if (channels == 3 || channels == 4) return rgb[i];
    if (channels <= 2) return grey[i];
    if (channels == 5) return cmyk[i];
    return multi[i];
}

std::string pipl_mode_name(int16_t mode) {
    if (mode >= 0 && mode < mode_count) return mode_names[mode];
    return "mode " + std::to_string(mode);
}

bool pipl_enabled(const PiplInfo& info, const PiplDocument& document) {
    if (!info.enable.empty()) {
        bool ok;
        return pipl_evaluate(info.enable, document, &ok) != 0 && ok;
    }
    int m = document.mode;
    return m >= 0 && size_t(m >> 3) < info.modes.size() &&
           (info.modes[size_t(m >> 3)] & (0x80 >> (m & 7)));
}

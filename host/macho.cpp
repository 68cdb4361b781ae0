/* macho.cpp - the loader of macOS bundles' code on Linux (see macho.h).
 *
 * What it reads of a Mach-O file, from Apple's open-source headers
 * (mach-o/loader.h, mach-o/fat.h, mach-o/nlist.h) and dyld's documentation
 * of its opcodes:
 *  - a universal file: a big-endian header 0xcafebabe, the number of
 *    slices, and for each its processor, subtype, offset, size, alignment;
 *  - a slice: the header 0xfeedfacf, processor, subtype, file type
 *    (MH_BUNDLE 8), the load commands and their size;
 *  - LC_SEGMENT_64: each segment's name, address, size, place in the file
 *    and protection, with its sections (where S_MOD_INIT_FUNC_POINTERS
 *    lists initialisers);
 *  - LC_DYLD_INFO_ONLY: the rebases, binds, weak and lazy binds as dyld's
 *    opcodes (a minimum system below macOS 13 gives these rather than
 *    chained fixups, and the bundles are built so);
 *  - LC_SYMTAB: the symbols, where the exported entry point is found.
 * Every import is bound at load, lazy ones too: dyld_stub_binder is never
 * called. */
#include "macho.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <sys/mman.h>
#include <unistd.h>

namespace {

const uint32_t fat_magic = 0xcafebabe, macho_magic = 0xfeedfacf;
const uint32_t cpu_x86_64 = 0x01000007, cpu_arm64 = 0x0100000c;
const uint32_t bundle_type = 8;
const uint32_t lc_segment_64 = 0x19, lc_symtab = 0x2, lc_dyld_info_only = 0x80000022,
               lc_dyld_chained_fixups = 0x80000034;
const uint32_t mod_init_func_pointers = 0x9, section_type_mask = 0xff;

#if defined(__x86_64__)
const uint32_t this_cpu = cpu_x86_64;
#elif defined(__aarch64__)
const uint32_t this_cpu = cpu_arm64;
#else
const uint32_t this_cpu = 0;
#endif

uint32_t big32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

template <typename T> T get(const uint8_t* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

struct Segment {
    std::string name;
    uint64_t address, size, file_offset, file_size;
    uint32_t protection;
};

struct Module {
    std::string path;
    uint8_t* base = nullptr; /* where address 0 of the image lies */
    uint64_t low = 0, high = 0;
    std::vector<Segment> segments;
    std::vector<std::pair<std::string, uint64_t>> exports;
    int loads = 1;
    bool pinned = false;
};

std::mutex modules_lock;
std::vector<Module*> modules;

bool read_file(const std::string& path, std::vector<uint8_t>* bytes) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        bytes->insert(bytes->end(), chunk, chunk + n);
    bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

/* dyld's variable-length numbers */
struct Reader {
    const uint8_t *p, *end;
    bool bad = false;

    uint64_t uleb() {
        uint64_t v = 0;
        for (int shift = 0; p < end; shift += 7) {
            uint8_t b = *p++;
            if (shift < 64) v |= uint64_t(b & 0x7f) << shift;
            if (!(b & 0x80)) return v;
        }
        bad = true;
        return v;
    }
    int64_t sleb() {
        int64_t v = 0;
        int shift = 0;
        uint8_t b = 0;
        do {
            if (p >= end) {
                bad = true;
                return v;
            }
            b = *p++;
            if (shift < 64) v |= int64_t(b & 0x7f) << shift;
            shift += 7;
        } while (b & 0x80);
        if (shift < 64 && (b & 0x40)) v |= -(int64_t(1) << shift);
        return v;
    }
    const char* string() {
        const char* s = reinterpret_cast<const char*>(p);
        while (p < end && *p) p++;
        if (p >= end) {
            bad = true;
            return "";
        }
        p++;
        return s;
    }
};

/* The image's address of a segment's offset, checked against its size. */
bool place(const Module& m, uint64_t segment, uint64_t offset, uint64_t* address) {
    if (segment >= m.segments.size() || offset + 8 > m.segments[segment].size) return false;
    *address = m.segments[segment].address + offset;
    return true;
}

/* Fixups write pointer slots: `count` of them from a segment's offset, each
 * 8 bytes and `skip` more after the one before. `write` fixes one slot. */
template <typename Write>
bool fix_slots(const Module& m, uint64_t segment, uint64_t* offset, uint64_t count, uint64_t skip,
               Write write) {
    for (uint64_t i = 0; i < count; i++) {
        uint64_t a;
        if (!place(m, segment, *offset, &a) || !write(m.base + a)) return false;
        *offset += 8 + skip;
    }
    return true;
}

bool rebase(Module& m, const uint8_t* p, const uint8_t* end, std::string* error) {
    Reader r{p, end};
    uint64_t segment = 0, offset = 0;
    const uint64_t slide = reinterpret_cast<uintptr_t>(m.base);
    auto slots = [&](uint64_t count, uint64_t skip) {
        return fix_slots(m, segment, &offset, count, skip, [&](uint8_t* slot) {
            uint64_t value;
            std::memcpy(&value, slot, 8);
            value += slide;
            std::memcpy(slot, &value, 8);
            return true;
        });
    };
    bool ok = true;
    while (ok && r.p < r.end && !r.bad) {
        uint8_t op = *r.p & 0xf0, imm = *r.p & 0x0f;
        r.p++;
        uint64_t count, skip;
        switch (op) {
        case 0x00: /* done */
            return true;
        case 0x10: /* type: pointers only */
            break;
        case 0x20:
            segment = imm;
            offset = r.uleb();
            break;
        case 0x30:
            offset += r.uleb();
            break;
        case 0x40:
            offset += uint64_t(imm) * 8;
            break;
        case 0x50:
            ok = slots(imm, 0);
            break;
        case 0x60:
            ok = slots(r.uleb(), 0);
            break;
        case 0x70:
            ok = slots(1, r.uleb());
            break;
        case 0x80:
            count = r.uleb();
            skip = r.uleb();
            ok = slots(count, skip);
            break;
        default:
            ok = false;
        }
    }
    if (ok && !r.bad) return true;
    *error = m.path + ": a rebase that this loader does not know, or outside its segment";
    return false;
}

/* Binds, weak binds or lazy binds: each import to glibc's stand-in. Lazy
 * binds are runs that each end in "done"; the others end at the first. */
bool bind(Module& m, const uint8_t* p, const uint8_t* end, bool lazy, std::string* error) {
    Reader r{p, end};
    uint64_t segment = 0, offset = 0;
    int64_t addend = 0;
    const char* symbol = "";
    bool unknown = false; /* an import that glibc's stand-ins lack */
    auto slots = [&](uint64_t count, uint64_t skip) {
        return fix_slots(m, segment, &offset, count, skip, [&](uint8_t* slot) {
            void* target = darwin_import(symbol);
            if (!target) {
                unknown = true;
                return false;
            }
            uint64_t value = reinterpret_cast<uintptr_t>(target) + uint64_t(addend);
            std::memcpy(slot, &value, 8);
            return true;
        });
    };
    bool ok = true;
    while (ok && r.p < r.end && !r.bad) {
        uint8_t op = *r.p & 0xf0, imm = *r.p & 0x0f;
        r.p++;
        uint64_t count, skip;
        switch (op) {
        case 0x00:
            if (!lazy) return true;
            break;
        case 0x10: /* the library: libSystem is the only one */
        case 0x30:
            break;
        case 0x20:
            r.uleb();
            break;
        case 0x40:
            symbol = r.string();
            break;
        case 0x50: /* type: pointers only */
            break;
        case 0x60:
            addend = r.sleb();
            break;
        case 0x70:
            segment = imm;
            offset = r.uleb();
            break;
        case 0x80:
            offset += r.uleb();
            break;
        case 0x90:
            ok = slots(1, 0);
            break;
        case 0xa0:
            ok = slots(1, r.uleb());
            break;
        case 0xb0:
            ok = slots(1, uint64_t(imm) * 8);
            break;
        case 0xc0:
            count = r.uleb();
            skip = r.uleb();
            ok = slots(count, skip);
            break;
        default:
            ok = false;
        }
    }
    if (ok && !r.bad) return true;
    *error =
        m.path + (unknown ? std::string(": imports ") + symbol + ", which this loader does not give"
                          : std::string(": a bind that this loader does not know, or "
                                        "outside its segment"));
    return false;
}

int protection_of(uint32_t vm) {
    return (vm & 1 ? PROT_READ : 0) | (vm & 2 ? PROT_WRITE : 0) | (vm & 4 ? PROT_EXEC : 0);
}

Module* load(const std::string& path, std::string* error) {
    std::vector<uint8_t> file;
    const std::string executable = macho_executable(path);
    if (!read_file(executable, &file)) {
        *error = executable + ": cannot be read";
        return nullptr;
    }
    uint64_t slice_offset, slice_size;
    if (!macho_slice(file, &slice_offset, &slice_size, error)) {
        *error = executable + ": " + *error;
        return nullptr;
    }
    const uint8_t* image = file.data() + slice_offset;
    const uint32_t commands = get<uint32_t>(image + 16), commands_size = get<uint32_t>(image + 20);
    if (get<uint32_t>(image + 12) != bundle_type || 32 + uint64_t(commands_size) > slice_size) {
        *error = executable + ": not a Mach-O bundle";
        return nullptr;
    }
    Module* m = new Module;
    m->path = path;
    const uint8_t *dyld_info = nullptr, *symtab = nullptr;
    std::vector<uint64_t> initialiser_sections; /* address, size pairs */
    const uint8_t* c = image + 32;
    for (uint32_t i = 0; i < commands; i++) {
        uint32_t cmd = get<uint32_t>(c), size = get<uint32_t>(c + 4);
        if (size < 8 || c + size > image + 32 + commands_size) break;
        if (cmd == lc_segment_64) {
            Segment s;
            char name[17] = {};
            std::memcpy(name, c + 8, 16);
            s.name = name;
            s.address = get<uint64_t>(c + 24);
            s.size = get<uint64_t>(c + 32);
            s.file_offset = get<uint64_t>(c + 40);
            s.file_size = get<uint64_t>(c + 48);
            s.protection = get<uint32_t>(c + 60);
            uint32_t sections = get<uint32_t>(c + 64);
            for (uint32_t k = 0; k < sections && 72 + (k + 1) * 80 <= size; k++) {
                const uint8_t* sec = c + 72 + k * 80;
                if ((get<uint32_t>(sec + 64) & section_type_mask) == mod_init_func_pointers) {
                    initialiser_sections.push_back(get<uint64_t>(sec + 32));
                    initialiser_sections.push_back(get<uint64_t>(sec + 40));
                }
            }
            m->segments.push_back(s);
        } else if (cmd == lc_dyld_info_only) {
            dyld_info = c;
        } else if (cmd == lc_symtab) {
            symtab = c;
        } else if (cmd == lc_dyld_chained_fixups) {
            *error = executable + ": chained fixups (built for macOS 13 or later), which this "
                                  "loader does not apply";
            delete m;
            return nullptr;
        }
        c += size;
    }
    if (m->segments.empty() || !dyld_info) {
        *error = executable + ": no segments or no dyld information";
        delete m;
        return nullptr;
    }
    m->low = UINT64_MAX;
    for (const Segment& s : m->segments) {
        if (s.size == 0) continue;
        m->low = std::min(m->low, s.address);
        m->high = std::max(m->high, s.address + s.size);
    }
    void* mapped =
        mmap(nullptr, m->high - m->low, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) {
        *error = executable + ": no memory for its image";
        delete m;
        return nullptr;
    }
    m->base = static_cast<uint8_t*>(mapped) - m->low;
    for (const Segment& s : m->segments)
        if (s.file_size > 0 && s.file_offset + s.file_size <= slice_size)
            std::memcpy(m->base + s.address, image + s.file_offset, s.file_size);

    auto info = [&](int at) {
        uint32_t offset = get<uint32_t>(dyld_info + at), size = get<uint32_t>(dyld_info + at + 4);
        const uint8_t* p = offset + uint64_t(size) <= slice_size ? image + offset : image;
        return std::make_pair(p, p + (p == image ? 0 : size));
    };
    auto rebases = info(8), binds = info(16), weak = info(24), lazy = info(32), exports = info(40);
    (void)exports;
    bool ok = rebase(*m, rebases.first, rebases.second, error) &&
              bind(*m, binds.first, binds.second, false, error) &&
              bind(*m, weak.first, weak.second, false, error) &&
              bind(*m, lazy.first, lazy.second, true, error);
    if (ok && symtab) {
        uint32_t symbols = get<uint32_t>(symtab + 8), count = get<uint32_t>(symtab + 12);
        uint32_t strings = get<uint32_t>(symtab + 16), strings_size = get<uint32_t>(symtab + 20);
        for (uint32_t k = 0; k < count && symbols + (k + 1) * 16ull <= slice_size; k++) {
            const uint8_t* n = image + symbols + k * 16;
            uint32_t name = get<uint32_t>(n);
            uint8_t type = n[4];
            /* external and defined in a section */
            if ((type & 0x01) && (type & 0x0e) == 0x0e && name < strings_size &&
                strings + uint64_t(strings_size) <= slice_size) {
                const char* s = reinterpret_cast<const char*>(image + strings + name);
                if (s[0] == '_') m->exports.emplace_back(s + 1, get<uint64_t>(n + 8));
            }
        }
    }
    for (const Segment& s : m->segments)
        if (ok && s.size > 0 &&
            mprotect(m->base + s.address, s.size, protection_of(s.protection)) != 0) {
            *error = executable + ": cannot protect segment " + s.name;
            ok = false;
        }
    if (!ok) {
        munmap(mapped, m->high - m->low);
        delete m;
        return nullptr;
    }
    __builtin___clear_cache(reinterpret_cast<char*>(mapped),
                            reinterpret_cast<char*>(mapped) + (m->high - m->low));
    {
        std::lock_guard<std::mutex> hold(modules_lock);
        modules.push_back(m);
    }
    for (size_t k = 0; k + 1 < initialiser_sections.size(); k += 2)
        for (uint64_t a = initialiser_sections[k];
             a + 8 <= initialiser_sections[k] + initialiser_sections[k + 1]; a += 8)
            reinterpret_cast<void (*)()>(get<uint64_t>(m->base + a))();
    return m;
}

} // namespace

bool macho_slice(const std::vector<uint8_t>& file, uint64_t* offset, uint64_t* size,
                 std::string* error) {
    if (file.size() >= 8 && big32(file.data()) == fat_magic) {
        uint32_t n = big32(file.data() + 4);
        for (uint32_t i = 0; i < n && 8 + (i + 1) * 20ull <= file.size(); i++) {
            const uint8_t* a = file.data() + 8 + i * 20;
            if (big32(a) != this_cpu) continue;
            *offset = big32(a + 8);
            *size = big32(a + 12);
            if (*offset + *size > file.size() || *size < 32) break;
            if (get<uint32_t>(file.data() + *offset) != macho_magic) break;
            return true;
        }
        *error = "no code for this processor";
        return false;
    }
    if (file.size() >= 32 && get<uint32_t>(file.data()) == macho_magic &&
        get<uint32_t>(file.data() + 4) == this_cpu) {
        *offset = 0;
        *size = file.size();
        return true;
    }
    *error = "not Mach-O code for this processor";
    return false;
}

/* A bundle loaded again is the image already there, as dyld gives it. */
void* macho_load(const std::string& path, std::string* error) {
    {
        std::lock_guard<std::mutex> hold(modules_lock);
        for (Module* m : modules)
            if (m->path == path) {
                m->loads++;
                return m;
            }
    }
    return load(path, error);
}

void* macho_symbol(void* module, const std::string& name) {
    Module* m = static_cast<Module*>(module);
    for (const auto& e : m->exports)
        if (e.first == name) return m->base + e.second;
    return nullptr;
}

void macho_unload(void* module) {
    Module* m = static_cast<Module*>(module);
    std::lock_guard<std::mutex> hold(modules_lock);
    if (--m->loads > 0 || m->pinned) return;
    modules.erase(std::remove(modules.begin(), modules.end(), m), modules.end());
    munmap(m->base + m->low, m->high - m->low);
    delete m;
}

bool macho_pinned(void* module) {
    std::lock_guard<std::mutex> hold(modules_lock);
    return static_cast<Module*>(module)->pinned;
}

bool macho_module_of(const void* address, const char** path, void** base) {
    std::lock_guard<std::mutex> hold(modules_lock);
    for (Module* m : modules) {
        const uint8_t* a = static_cast<const uint8_t*>(address);
        if (a >= m->base + m->low && a < m->base + m->high) {
            *path = m->path.c_str();
            *base = m->base + m->low;
            return true;
        }
    }
    return false;
}

bool macho_pin(const char* path) {
    std::lock_guard<std::mutex> hold(modules_lock);
    for (Module* m : modules)
        if (m->path == path) return m->pinned = true;
    return false;
}

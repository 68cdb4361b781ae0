/* host.cpp - plug-in loading and finding, and the filter run of the small
 * host; its images are in image.cpp. */
#include "host.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#else
#include <climits>
#include <dirent.h>
#include <dlfcn.h>
#include <unistd.h>
#endif
#if SPECTRA_MAC_BUNDLES
#include "macho.h"
#endif

bool host_load(const std::string& path, const std::string& entry_name, HostPlugin* plugin,
               std::string* error) {
#if defined(_WIN32)
    HMODULE module = LoadLibraryA(path.c_str());
    if (!module) {
        *error = path + ": cannot be loaded (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    FARPROC entry = GetProcAddress(module, entry_name.c_str());
    if (!entry) {
        FreeLibrary(module);
        *error = path + ": has no entry point " + entry_name;
        return false;
    }
    plugin->module = module;
    plugin->entry = reinterpret_cast<FilterEntryProc>(reinterpret_cast<void*>(entry));
#else
#if SPECTRA_MAC_BUNDLES
    if (macho_is_bundle(path)) {
        void* module = macho_load(path, error);
        if (!module) return false;
        void* entry = macho_symbol(module, entry_name);
        FilterEntryProc adapter = entry ? mac_entry_adapter(entry) : nullptr;
        if (!adapter) {
            macho_unload(module);
            *error = path + (entry ? ": too many macOS bundles loaded at once"
                                   : ": has no entry point " + entry_name);
            return false;
        }
        plugin->module = module;
        plugin->entry = adapter;
        plugin->mac = true;
        return true;
    }
#endif
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        *error = dlerror();
        return false;
    }
    void* entry = dlsym(module, entry_name.c_str());
    if (!entry) {
        dlclose(module);
        *error = path + ": has no entry point " + entry_name;
        return false;
    }
    plugin->module = module;
    plugin->entry = reinterpret_cast<FilterEntryProc>(entry);
#endif
    return true;
}

bool host_read_info(const std::string& path, PiplInfo* info, std::string* error) {
    std::vector<uint8_t> pipl;
    if (!pipl_read_file(path, &pipl, error)) return false;
    if (!pipl_parse(pipl, info, error)) {
        *error = path + ": " + *error;
        return false;
    }
    if (info->kind != "8BFM") {
        *error = path + ": not a filter plug-in (its kind is \"" + info->kind + "\")";
        return false;
    }
    if (info->entry.empty()) {
        *error = path + ": its property list names no entry point for this machine";
        return false;
    }
    return true;
}

bool host_open(const std::string& path, HostPlugin* plugin, PiplInfo* info, std::string* error) {
    return host_read_info(path, info, error) && host_load(path, info->entry, plugin, error);
}

void host_unload(HostPlugin* plugin) {
    if (!plugin->module) return;
#if defined(_WIN32)
    FreeLibrary(static_cast<HMODULE>(plugin->module));
#else
#if SPECTRA_MAC_BUNDLES
    if (plugin->mac) {
        mac_entry_release(plugin->entry);
        macho_unload(plugin->module);
    } else
#endif
        dlclose(plugin->module);
#endif
    plugin->mac = false;
    plugin->module = nullptr;
    plugin->entry = nullptr;
}

namespace {

bool empty(const Rect& r) {
    return r.bottom <= r.top || r.right <= r.left;
}

/* The mode a document of this many planes and this depth is in. */
int16_t image_mode(const HostImage& image) {
    if (image.planes < 3) return image.depth == 8 ? 1 : image.depth == 16 ? 10 : 17;
    return image.depth == 8 ? 3 : image.depth == 16 ? 11 : 16;
}

/* One buffer that the host hands the plug-in: an area and a plane range of
 * a document, either the document's own memory (the whole width and every
 * plane) or an interleaved copy of just those samples. */
struct Area {
    Rect rect;
    int16_t lo, hi;
    int64_t row_bytes;
    uint8_t* data;
    std::vector<uint64_t> copy;
};

bool valid_request(const HostImage& image, const Rect& rect, int16_t lo, int16_t hi) {
    return rect.top >= 0 && rect.left >= 0 && rect.bottom <= image.rows &&
           rect.right <= image.columns && lo >= 0 && lo <= hi && hi < image.planes;
}

bool whole_rows(const HostImage& image, const Area& area) {
    return area.rect.left == 0 && area.rect.right == image.columns && area.lo == 0 &&
           area.hi == image.planes - 1;
}

/* Copies the area's samples between the document and the area's own copy. */
void transfer(HostImage& image, Area& area, bool to_document) {
    int bytes = host_sample_bytes(image.depth);
    int64_t planes = area.hi - area.lo + 1;
    for (int32_t y = area.rect.top; y < area.rect.bottom; y++) {
        uint8_t* a = area.data + (y - area.rect.top) * area.row_bytes;
        for (int32_t x = area.rect.left; x < area.rect.right; x++) {
            uint8_t* d =
                image.data() + y * image.row_bytes + (int64_t(x) * image.planes + area.lo) * bytes;
            uint8_t* s = a + (x - area.rect.left) * planes * bytes;
            if (to_document)
                std::memcpy(d, s, size_t(planes * bytes));
            else
                std::memcpy(s, d, size_t(planes * bytes));
        }
    }
}

/* Points the area at the document's memory, or at a copy of its samples. */
void deliver(HostImage& image, Area& area) {
    int bytes = host_sample_bytes(image.depth);
    if (whole_rows(image, area)) {
        area.row_bytes = image.row_bytes;
        area.data = image.data() + area.rect.top * image.row_bytes;
        return;
    }
    int64_t width = area.rect.right - area.rect.left, height = area.rect.bottom - area.rect.top;
    area.row_bytes = width * (area.hi - area.lo + 1) * bytes;
    area.copy.assign(size_t((area.row_bytes * height + 7) / 8), 0);
    area.data = reinterpret_cast<uint8_t*>(area.copy.data());
    transfer(image, area, false);
}

void fill_junk(Area& area, int32_t rows, uint32_t seed) {
    uint32_t state = seed ? seed : 1;
    for (int64_t i = 0; i < area.row_bytes * rows; i++) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        area.data[i] = uint8_t(state >> 24);
    }
}

/* The options of the run on this thread, for the procedures that the
 * plug-in calls back. */
thread_local const HostOptions* calling = nullptr;

void progress_proc(int32_t done, int32_t total) {
    if (calling && calling->progress) calling->progress(done, total);
}

Boolean abort_proc() {
    return calling && calling->cancel && calling->cancel() ? 1 : 0;
}

} // namespace

int16_t host_run(const HostPlugin& plugin, const HostImage& in, HostImage* out,
                 const HostOptions& options, HostLog* log) {
    HostLog scratch;
    HostLog& l = log ? *log : scratch;
    /* The plug-in reads the input document through inData and writes only
     * through outData. */
    HostImage& source = const_cast<HostImage&>(in);
    *out = in;
    if (options.out_row_padding) {
        *out = host_image(in.rows, in.columns, in.planes, in.depth, options.out_row_padding);
        int64_t row = int64_t(in.columns) * in.planes * host_sample_bytes(in.depth);
        for (int32_t y = 0; y < in.rows; y++)
            std::memcpy(out->data() + y * out->row_bytes, in.data() + y * in.row_bytes,
                        size_t(row));
    }

    FilterRecord record = {};
    record.serialNumber = 0;
    record.imageSize = {int16_t(in.rows), int16_t(in.columns)};
    record.planes = int16_t(in.planes);
    record.filterRect = {0, 0, int16_t(in.rows), int16_t(in.columns)};
    record.maxSpace = 1 << 30;
    record.bufferSpace = 0;
    record.hostSig = 0x53505452; /* 'SPTR' */
    record.imageMode = image_mode(in);
    record.imageHRes = record.imageVRes = 72 << 16;
    record.wholeSize = record.imageSize;
    record.depth = in.depth;
    record.maxSpace64 = int64_t(1) << 40;
    if (options.progress) record.progressProc = reinterpret_cast<ProcPtr>(&progress_proc);
    if (options.cancel) record.abortProc = reinterpret_cast<ProcPtr>(&abort_proc);
    struct Calling {
        const HostOptions* before = calling;
        ~Calling() { calling = before; }
    } restore;
    calling = &options;
    l.before_start = record;

    intptr_t data = 0;
    int16_t first = noErr;
    auto call = [&](int16_t selector, FilterRecord* r, int16_t* code) {
        *code = 1; /* a plug-in that stores nothing shows up as 1 */
        plugin.entry(selector, r, &data, code);
        if (*code != noErr && first == noErr) first = *code;
        return *code == noErr;
    };

    /* About receives an about block, not the record. */
    unsigned char about_block[256] = {};
    call(filterSelectorAbout, reinterpret_cast<FilterRecord*>(about_block), &l.about);
    if (options.parameters && !call(filterSelectorParameters, &record, &l.parameters)) return first;
    if (!call(filterSelectorPrepare, &record, &l.prepare)) return first;
    l.after_prepare = record;
    if (!call(filterSelectorStart, &record, &l.start)) return first;
    l.after_start = record;

    HostImage& target = *out;
    auto more = [&]() {
        if (options.until_right_is_zero)
            return record.inRect.right != 0 || record.outRect.right != 0;
        return !(empty(record.inRect) && empty(record.outRect) && empty(record.maskRect));
    };
    for (int i = 0; more(); i++) {
        if (i == options.max_continues) {
            if (first == noErr) first = hostNoEnd;
            break;
        }
        bool wants_in = !empty(record.inRect), wants_out = !empty(record.outRect);
        if ((wants_in &&
             !valid_request(source, record.inRect, record.inLoPlane, record.inHiPlane)) ||
            (wants_out &&
             !valid_request(target, record.outRect, record.outLoPlane, record.outHiPlane))) {
            if (first == noErr) first = hostBadRequest;
            break;
        }
        Area input = {record.inRect, record.inLoPlane, record.inHiPlane, 0, nullptr, {}};
        Area output = {record.outRect, record.outLoPlane, record.outHiPlane, 0, nullptr, {}};
        record.inData = record.outData = nullptr;
        record.inRowBytes = record.outRowBytes = 0;
        if (wants_in) {
            deliver(source, input);
            record.inData = input.data;
            record.inRowBytes = int32_t(input.row_bytes);
        }
        if (wants_out) {
            deliver(target, output);
            if (options.fill == HostFill::junk)
                fill_junk(output, output.rect.bottom - output.rect.top, options.junk_seed + i);
            record.outData = output.data;
            record.outRowBytes = int32_t(output.row_bytes);
        }
        l.continues.push_back(1);
        auto begin = std::chrono::steady_clock::now();
        bool ok = call(filterSelectorContinue, &record, &l.continues.back());
        l.continue_seconds +=
            std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        if (wants_out && !output.copy.empty()) transfer(target, output, true);
        l.after_continue = record;
        if (!ok) break;
    }

    if (options.finish_after_success || first != noErr)
        call(filterSelectorFinish, &record, &l.finish);
    l.after_finish = record;
    return first;
}

int16_t host_run_once(const FoundPlugin& plugin, const HostImage& in, HostImage* out,
                      std::string* error, const HostOptions& options) {
    HostPlugin loaded;
    if (!host_load(plugin.path, plugin.info.entry, &loaded, error)) return hostNotLoaded;
    int16_t result = host_run(loaded, in, out, options);
    host_unload(&loaded);
    return result;
}

std::string host_short_name(const std::string& menu_name) {
    size_t end = menu_name.find_last_not_of('.');
    return end == std::string::npos ? "" : menu_name.substr(0, end + 1);
}

std::vector<std::string> host_path_folders(const std::string& list) {
    std::vector<std::string> folders;
    for (size_t start = 0; start <= list.size();) {
        size_t end = list.find(':', start);
        if (end == std::string::npos) end = list.size();
        if (end > start) folders.push_back(list.substr(start, end - start));
        start = end + 1;
    }
    return folders;
}

std::string host_plugin_file(const std::string& folder, const std::string& name) {
    std::string bundle = folder + "/" + name + ".plugin";
#if SPECTRA_MAC_BUNDLES
    if (macho_is_bundle(bundle)) return bundle;
#endif
    return folder + "/" + name + ".8bf";
}

#if !defined(_WIN32)
std::string host_program_folder() {
    char buffer[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return ".";
    std::string path(buffer, size_t(n));
    return path.substr(0, path.rfind('/'));
}

std::vector<FoundPlugin> host_find_plugins(const std::vector<std::string>& folders) {
    std::vector<FoundPlugin> found;
    for (const std::string& folder : folders) {
        DIR* dir = opendir(folder.c_str());
        if (!dir) continue;
        std::vector<std::string> names;
        while (dirent* e = readdir(dir)) {
            std::string name = e->d_name;
            if (name.size() > 4) {
                std::string suffix = name.substr(name.size() - 4);
                for (char& c : suffix) c = char(std::tolower(uint8_t(c)));
                if (suffix == ".8bf") names.push_back(name);
#if SPECTRA_MAC_BUNDLES
                if (name.size() > 7 && name.compare(name.size() - 7, 7, ".plugin") == 0)
                    names.push_back(name);
#endif
            }
        }
        closedir(dir);
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            FoundPlugin p;
            std::string error;
            p.path = folder + "/" + name;
            if (host_read_info(p.path, &p.info, &error)) found.push_back(p);
        }
    }
    return found;
}
#endif

std::string host_result_name(int16_t code) {
    switch (code) {
    case noErr:
        return "noErr";
    case paramErr:
        return "paramErr";
    case memFullErr:
        return "memFullErr";
    case userCanceledErr:
        return "userCanceledErr";
    case filterBadParameters:
        return "filterBadParameters";
    case filterBadMode:
        return "filterBadMode";
    case hostBadRequest:
        return "hostBadRequest";
    case hostNoEnd:
        return "hostNoEnd";
    case hostNotLoaded:
        return "hostNotLoaded";
    default:
        return std::to_string(code);
    }
}

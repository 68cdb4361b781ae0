/* entry.cpp - the filter frame: the exported entry function, the selector
 * dispatch, the whole-image request and the Continue handler.
 *
 * Every plug-in asks for the whole image and all its planes at once and does
 * all its work in a single Continue call: it checks that the record can be
 * addressed safely, allocates the body's work buffers, tells FFTW to plan
 * with one thread per hardware thread, runs the body for the depth, and
 * copies from the input every output sample that the body does not write, so
 * that nothing depends on what the host left in outData. Any failure leaves
 * the output equal to the input and is reported in the result code; nothing
 * is thrown across the entry function. */
#include "filter_record.h"
#include "float_state.h"
#include "frame.h"
#include "parallel.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fftw3.h>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#elif defined(__APPLE__)
#include <dlfcn.h>
#endif

#if defined(_WIN32)
#define SPECTRA_EXPORT extern "C" __declspec(dllexport)
#else
#define SPECTRA_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

/* Bytes of one sample at a depth: 1, 2 or 4 for the depths we transform;
 * for any other depth a whole number of bytes, so that the image can still
 * be copied through; 0 when the depth makes no sense at all. */
int sample_bytes(int32_t depth) {
    if (depth < 1 || depth > 64) return 0;
    return (depth + 7) / 8;
}

void start(FilterRecord* record) {
    Rect whole = {0, 0, record->imageSize.v, record->imageSize.h};
    record->inRect = whole;
    record->inLoPlane = 0;
    record->inHiPlane = int16_t(record->planes - 1);
    record->outRect = whole;
    record->outLoPlane = 0;
    record->outHiPlane = int16_t(record->planes - 1);
    record->maskRect = Rect{0, 0, 0, 0};
}

/* The colour planes of the record's document: one in a grey document, for
 * a body that takes them, else three. */
int32_t colours_of(const FilterRecord* record) {
    const int16_t mode = record->imageMode;
    bool grey = mode == plugInModeGrayScale || mode == plugInModeGray16 || mode == plugInModeGray32;
    return grey && spectra_transform_body.grey ? 1 : 3;
}

/* Can the record's buffers be addressed as interleaved rows of `planes`
 * samples, at least the colour planes, of at least one pixel? */
bool addressable(const FilterRecord* record, int bytes) {
    int64_t rows = record->imageSize.v, columns = record->imageSize.h;
    if (rows < 1 || columns < 1 || record->planes < colours_of(record)) return false;
    if (!record->inData || !record->outData) return false;
    int64_t pixels = columns * record->planes * bytes;
    if (record->inRowBytes < pixels || record->outRowBytes < pixels) return false;
    /* The bodies address 16- and 32-bit samples as arrays of their type:
     * the base pointers must be aligned for it, and the rows must start on
     * whole samples, or the samples would be read and written away from
     * where the host put them. Other depths are only copied, byte for byte. */
    if (record->depth != 16 && record->depth != 32) return true;
    auto aligned = [&](const void* p) { return uintptr_t(p) % bytes == 0; };
    return aligned(record->inData) && aligned(record->outData) && record->inRowBytes % bytes == 0 &&
           record->outRowBytes % bytes == 0;
}

/* Copies the input to the output, row by row: every sample except those in
 * columns 0 to written - 1 of the colour planes, which the body has written. */
void copy_through(const FilterRecord* record, int bytes, int32_t written) {
    if (record->inData == record->outData) return;
    size_t pixel = size_t(record->planes) * size_t(bytes);
    size_t kept = size_t(colours_of(record)) * size_t(bytes);
    size_t columns = size_t(record->imageSize.h), from = size_t(written);
    int64_t in_stride = record->inRowBytes, out_stride = record->outRowBytes;
    const char* in = static_cast<const char*>(record->inData);
    char* out = static_cast<char*>(record->outData);
    for (int64_t y = 0; y < record->imageSize.v; y++) {
        const char* i = in + y * in_stride;
        char* o = out + y * out_stride;
        if (pixel > kept)
            for (size_t x = 0; x < from; x++)
                std::memcpy(o + x * pixel + kept, i + x * pixel + kept, pixel - kept);
        std::memcpy(o + from * pixel, i + from * pixel, (columns - from) * pixel);
    }
}

template <typename T> Image<T> image_of(const FilterRecord* record, Progress* progress) {
    Image<T> image;
    image.progress = progress;
    image.rows = record->imageSize.v;
    image.columns = record->imageSize.h;
    image.colours = colours_of(record);
    image.in = {static_cast<const T*>(record->inData), record->inRowBytes / int64_t(sizeof(T)),
                record->planes};
    image.out = {static_cast<T*>(record->outData), record->outRowBytes / int64_t(sizeof(T)),
                 record->planes};
    return image;
}

int16_t run_body(const FilterRecord* record, void* const work[]) {
    const TransformBody& body = spectra_transform_body;
    Progress progress = {record->progressProc, record->abortProc};
    switch (record->depth) {
    case 8:
        return body.run8(image_of<uint8_t>(record, &progress), work);
    case 16:
        return body.run16(image_of<uint16_t>(record, &progress), work);
    default:
        return body.run32(image_of<float>(record, &progress), work);
    }
}

/* FFTW's worker threads, once started, live as long as the process: the
 * library must stay mapped as long as they do, also when the host unloads
 * it after a run and loads it again for the next (a parked worker in an
 * unmapped library would run unmapped code, and each load would start new
 * workers). On Windows the module pins itself here, and so does the macOS
 * bundle, through dlopen's RTLD_NODELETE; on Linux it is linked with
 * -z nodelete. */
void stay_loaded() {
#if defined(__APPLE__)
    static bool pinned = false;
    Dl_info self;
    if (!pinned && dladdr(reinterpret_cast<const void*>(&stay_loaded), &self) && self.dli_fname)
        pinned = dlopen(self.dli_fname, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE) != nullptr;
#elif defined(_WIN32)
    static bool pinned = false;
    HMODULE self;
    if (!pinned)
        pinned = GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN |
                                        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                    reinterpret_cast<LPCWSTR>(&stay_loaded), &self) != 0;
#endif
}

/* Tells FFTW to spread every plan made from now on over the machine's
 * hardware threads. The library may not know their number and say 0. */
void set_up_threads() {
    stay_loaded();
    unsigned threads = hardware_threads();
    /* Without its threads FFTW still plans, on the calling thread alone. */
    if (fftw_init_threads()) fftw_plan_with_nthreads(threads > 0 ? int(threads) : 1);
}

int16_t transform(const FilterRecord* record) {
    int bytes = sample_bytes(record->depth);
    if (bytes == 0) return filterBadMode;
    if (!addressable(record, bytes)) return filterBadParameters;

    const TransformBody& body = spectra_transform_body;
    if (record->depth != 8 && record->depth != 16 && record->depth != 32) {
        copy_through(record, bytes, 0);
        return filterBadMode;
    }
    uint64_t sizes[max_work_buffers] = {};
    int count = body.work_buffers(record->imageSize.v, record->imageSize.h, sizes);
    if (count == 0) {
        copy_through(record, bytes, 0);
        return noErr;
    }

    void* work[max_work_buffers] = {};
    int16_t result = noErr;
    for (int i = 0; i < count && result == noErr; i++) {
        /* A size beyond the address space (a 32-bit process) cannot be had:
         * truncated to size_t, it would give a buffer too small. */
        if (spectra_fault() || sizes[i] > uint64_t(SIZE_MAX) ||
            !(work[i] = fftw_malloc(size_t(sizes[i]))))
            result = memFullErr;
        else
            prefer_huge_pages(work[i], sizes[i]);
    }
    if (result == noErr) {
        set_up_threads();
        result = run_body(record, work);
    }
    /* What the body did not write, or everything when it failed. */
    copy_through(record, bytes,
                 result == noErr ? body.written_columns(record->imageSize.h, record->depth) : 0);
    for (int i = 0; i < count; i++)
        if (work[i]) fftw_free(work[i]);
    return result;
}

#if SPECTRA_FAULTS
long fault_at, fault_step;

void arm_fault() {
    const char* step = std::getenv("SPECTRA_FAIL_STEP");
    fault_at = step ? std::atol(step) : 0;
    fault_step = 0;
}
#else
void arm_fault() {}
#endif

int16_t continue_filter(FilterRecord* record) {
    arm_fault();
    int16_t result = transform(record);
    /* Empty rectangles tell the host that nothing more is wanted. */
    record->inRect = Rect{0, 0, 0, 0};
    record->outRect = Rect{0, 0, 0, 0};
    record->maskRect = Rect{0, 0, 0, 0};
    return result;
}

} // namespace

#if SPECTRA_FAULTS
bool spectra_fault() {
    return ++fault_step == fault_at;
}
#endif

namespace {

/* Kept out of line so that no floating-point operation of a selector is
 * moved across the change of state around it. */
__attribute__((noinline)) int16_t dispatch(int16_t selector, FilterRecord* record) {
    if (selector != filterSelectorStart && selector != filterSelectorContinue) return noErr;
    if (!record) return filterBadParameters;
    if (selector == filterSelectorStart) {
        start(record);
        return noErr;
    }
    return continue_filter(record);
}

} // namespace

SPECTRA_EXPORT void ENTRYPOINT(int16_t selector, FilterRecord* record, intptr_t* data,
                               int16_t* result) {
    (void)data;
    FloatState host = enter_plugin_float_state();
    int16_t code = dispatch(selector, record);
    leave_plugin_float_state(host);
    if (result) *result = code;
}

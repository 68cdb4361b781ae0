/* mac_record.cpp - a macOS bundle's entry point called with the parameter
 * block in the Mac's layout (see macho.h).
 *
 * The host library fills the block in this machine's layout (packed to 4
 * bytes, as on Windows); a Mac host lays it out naturally. Each call copies
 * every field into a block of the Mac's layout, calls the bundle, and
 * copies every field back, so the bundle sees what a Mac host would show it
 * and the host sees what the bundle changed. The callbacks in the block
 * are plain functions, the same on both sides. */
#include "macho.h"

#include <cstring>
#include <mutex>

namespace mac {
#define SPECTRA_NATURAL_LAYOUT 1
#include "../frame/filter_record_block.h"
#undef SPECTRA_NATURAL_LAYOUT
} // namespace mac

namespace {

// clang-format off
#define SPECTRA_FIELDS(X)                                                                          \
    X(serialNumber) X(abortProc) X(progressProc) X(parameters) X(imageSize) X(planes)               \
    X(filterRect) X(background) X(foreground) X(maxSpace) X(bufferSpace) X(inRect) X(inLoPlane)     \
    X(inHiPlane) X(outRect) X(outLoPlane) X(outHiPlane) X(inData) X(inRowBytes) X(outData)          \
    X(outRowBytes) X(isFloating) X(haveMask) X(autoMask) X(maskRect) X(maskData) X(maskRowBytes)    \
    X(backColor) X(foreColor) X(hostSig) X(hostProc) X(imageMode) X(imageHRes) X(imageVRes)         \
    X(floatCoord) X(wholeSize) X(monitor) X(platformData) X(bufferProcs) X(resourceProcs)           \
    X(processEvent) X(displayPixels) X(handleProcs) X(supportsDummyChannels)                        \
    X(supportsAlternateLayouts) X(wantLayout) X(filterCase) X(dummyPlaneValue) X(premiereHook)      \
    X(advanceState) X(supportsAbsolute) X(wantsAbsolute) X(getPropertyObsolete) X(cannotUndo)       \
    X(supportsPadding) X(inputPadding) X(outputPadding) X(maskPadding) X(samplingSupport)           \
    X(reservedByte) X(inputRate) X(maskRate) X(colorServices) X(inLayerPlanes)                      \
    X(inTransparencyMask) X(inLayerMasks) X(inInvertedLayerMasks) X(inNonLayerPlanes)               \
    X(outLayerPlanes) X(outTransparencyMask) X(outLayerMasks) X(outInvertedLayerMasks)              \
    X(outNonLayerPlanes) X(absLayerPlanes) X(absTransparencyMask) X(absLayerMasks)                  \
    X(absInvertedLayerMasks) X(absNonLayerPlanes) X(inPreDummyPlanes) X(inPostDummyPlanes)          \
    X(outPreDummyPlanes) X(outPostDummyPlanes) X(inColumnBytes) X(inPlaneBytes) X(outColumnBytes)   \
    X(outPlaneBytes) X(imageServicesProcs) X(propertyProcs) X(inTileHeight) X(inTileWidth)          \
    X(inTileOrigin) X(absTileHeight) X(absTileWidth) X(absTileOrigin) X(outTileHeight)              \
    X(outTileWidth) X(outTileOrigin) X(maskTileHeight) X(maskTileWidth) X(maskTileOrigin)           \
    X(descriptorParameters) X(errorString) X(channelPortProcs) X(documentInfo) X(sSPBasic)          \
    X(plugInRef) X(depth) X(iCCprofileData) X(iCCprofileSize) X(canUseICCProfiles)                  \
    X(hasImageScrap) X(bigDocumentData) X(input3DScene) X(output3DScene) X(createNewLayer)          \
    X(iCCWorkingProfileData) X(iCCWorkingProfileSize) X(bufferSpace64) X(maxSpace64)                \
    X(allowOverrangeColors) X(reserved)
// clang-format on

/* A field of the same type, arrays included. */
template <typename T> void copy_field(T& to, const T& from) {
    std::memcpy(&to, &from, sizeof(T));
}

template <typename To, typename From> void copy_record(To* to, const From& from) {
#define SPECTRA_COPY(f) copy_field(to->f, from.f);
    SPECTRA_FIELDS(SPECTRA_COPY)
#undef SPECTRA_COPY
}

/* Every field listed once: the two blocks' sizes of data agree. */
#define SPECTRA_SIZE(f) +sizeof(FilterRecord::f)
static_assert(0 SPECTRA_FIELDS(SPECTRA_SIZE) <= sizeof(FilterRecord), "a field listed twice");
static_assert(sizeof(mac::FilterRecord) - (0 SPECTRA_FIELDS(SPECTRA_SIZE)) < 64,
              "a field left out");
#undef SPECTRA_SIZE

/* The Mac's entry, which takes its selector widened to an int, as Darwin's
 * arm64 callers pass a short. */
typedef void (*MacEntry)(int selector, mac::FilterRecord* record, intptr_t* data, int16_t* result);

const int slots = 16;
MacEntry entries[slots];
std::mutex slots_lock;

void call(int slot, int16_t selector, FilterRecord* record, intptr_t* data, int16_t* result) {
    mac::FilterRecord m;
    std::memset(&m, 0, sizeof m);
    if (record) copy_record(&m, *record);
    entries[slot](selector, record ? &m : nullptr, data, result);
    if (record) copy_record(record, m);
}

template <int N>
void adapter(int16_t selector, FilterRecord* record, intptr_t* data, int16_t* result) {
    call(N, selector, record, data, result);
}

template <int... N> struct Adapters {
    static constexpr FilterEntryProc all[sizeof...(N)] = {adapter<N>...};
};
typedef Adapters<0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15> Table;

} // namespace

FilterEntryProc mac_entry_adapter(void* entry) {
    std::lock_guard<std::mutex> hold(slots_lock);
    for (int k = 0; k < slots; k++)
        if (!entries[k]) {
            entries[k] = reinterpret_cast<MacEntry>(entry);
            return Table::all[k];
        }
    return nullptr;
}

void mac_entry_release(FilterEntryProc adapter) {
    std::lock_guard<std::mutex> hold(slots_lock);
    for (int k = 0; k < slots; k++)
        if (Table::all[k] == adapter) entries[k] = nullptr;
}

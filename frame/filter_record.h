/* filter_record.h - the host's parameter block, selectors and result codes.
 *
 * Our own declaration of the filter interface's FilterRecord, in fixed-width
 * types only. Windows hosts lay the block out with 4-byte packing (the
 * public PIFilter.h wraps it in `#pragma pack(push, 4)` under WIN32), so an
 * 8-byte pointer may sit on a 4-byte boundary; Linux builds pack the same
 * way and share that layout. The Mac branch of the public headers sets no
 * packing (PITypes.h takes Boolean and Fixed from MacTypes, one byte and
 * four), so on macOS the block has the compiler's natural alignment. The
 * one other packing in them, PIGeneral.h's `#if PRAGMA_STRUCT_ALIGN /
 * #pragma options align=mac68k`, is off there: Apple's ConditionalMacros.h
 * defines PRAGMA_STRUCT_ALIGN as 0 for __LP64__ and __arm64__ (it was 1 for
 * the 32-bit Macs of old).
 * Every field that the plug-ins or the host library touch is pinned by a
 * static_assert on its offset, for each layout. */
#ifndef SPECTRA_FILTER_RECORD_H
#define SPECTRA_FILTER_RECORD_H

#include <cstddef>
#include <cstdint>

#if defined(__APPLE__)
#define SPECTRA_NATURAL_LAYOUT 1
#else
#pragma pack(push, 4)
#endif

struct Point {
    int16_t v;
    int16_t h;
};

struct Rect {
    int16_t top;
    int16_t left;
    int16_t bottom;
    int16_t right;
};

struct PSRGBColor {
    uint16_t red;
    uint16_t green;
    uint16_t blue;
};

typedef uint8_t Boolean;
typedef int32_t Fixed;
typedef uint32_t OSType;
typedef void* Handle;
typedef void* ProcPtr; /* every callback and callback suite is an opaque pointer here */

#include "filter_record_block.h"

#if !defined(__APPLE__)
#pragma pack(pop)
#endif

/* The offsets that hosts use, on 64-bit and 32-bit targets. */
static_assert(sizeof(void*) == 8 || sizeof(void*) == 4, "a 32-bit or 64-bit target");
#if defined(__APPLE__)
/* macOS: natural alignment, pinned in filter_record_block.h. */
#elif UINTPTR_MAX > 0xffffffffu
static_assert(offsetof(FilterRecord, imageSize) == 28, "imageSize");
static_assert(offsetof(FilterRecord, planes) == 32, "planes");
static_assert(offsetof(FilterRecord, filterRect) == 34, "filterRect");
static_assert(offsetof(FilterRecord, maxSpace) == 56, "maxSpace");
static_assert(offsetof(FilterRecord, bufferSpace) == 60, "bufferSpace");
static_assert(offsetof(FilterRecord, inRect) == 64, "inRect");
static_assert(offsetof(FilterRecord, inLoPlane) == 72, "inLoPlane");
static_assert(offsetof(FilterRecord, inHiPlane) == 74, "inHiPlane");
static_assert(offsetof(FilterRecord, outRect) == 76, "outRect");
static_assert(offsetof(FilterRecord, outLoPlane) == 84, "outLoPlane");
static_assert(offsetof(FilterRecord, outHiPlane) == 86, "outHiPlane");
static_assert(offsetof(FilterRecord, inData) == 88, "inData");
static_assert(offsetof(FilterRecord, inRowBytes) == 96, "inRowBytes");
static_assert(offsetof(FilterRecord, outData) == 100, "outData");
static_assert(offsetof(FilterRecord, outRowBytes) == 108, "outRowBytes");
static_assert(offsetof(FilterRecord, haveMask) == 113, "haveMask");
static_assert(offsetof(FilterRecord, maskRect) == 116, "maskRect");
static_assert(offsetof(FilterRecord, maskData) == 124, "maskData");
static_assert(offsetof(FilterRecord, hostSig) == 144, "hostSig");
static_assert(offsetof(FilterRecord, imageMode) == 156, "imageMode");
static_assert(offsetof(FilterRecord, monitor) == 176, "monitor");
static_assert(offsetof(FilterRecord, handleProcs) == 256, "handleProcs");
static_assert(offsetof(FilterRecord, filterCase) == 268, "filterCase");
static_assert(offsetof(FilterRecord, advanceState) == 280, "advanceState");
static_assert(offsetof(FilterRecord, inputRate) == 312, "inputRate");
static_assert(offsetof(FilterRecord, inColumnBytes) == 368, "inColumnBytes");
static_assert(offsetof(FilterRecord, descriptorParameters) == 432, "descriptorParameters");
static_assert(offsetof(FilterRecord, depth) == 480, "depth");
static_assert(offsetof(FilterRecord, bigDocumentData) == 504, "bigDocumentData");
static_assert(offsetof(FilterRecord, createNewLayer) == 528, "createNewLayer");
static_assert(offsetof(FilterRecord, bufferSpace64) == 544, "bufferSpace64");
static_assert(offsetof(FilterRecord, allowOverrangeColors) == 560, "allowOverrangeColors");
static_assert(sizeof(FilterRecord) == 608, "FilterRecord size");
#else
/* 32-bit x86: the same declaration with 4-byte pointers. */
static_assert(offsetof(FilterRecord, imageSize) == 16, "imageSize");
static_assert(offsetof(FilterRecord, planes) == 20, "planes");
static_assert(offsetof(FilterRecord, maxSpace) == 44, "maxSpace");
static_assert(offsetof(FilterRecord, bufferSpace) == 48, "bufferSpace");
static_assert(offsetof(FilterRecord, inRect) == 52, "inRect");
static_assert(offsetof(FilterRecord, inLoPlane) == 60, "inLoPlane");
static_assert(offsetof(FilterRecord, inHiPlane) == 62, "inHiPlane");
static_assert(offsetof(FilterRecord, outRect) == 64, "outRect");
static_assert(offsetof(FilterRecord, outLoPlane) == 72, "outLoPlane");
static_assert(offsetof(FilterRecord, outHiPlane) == 74, "outHiPlane");
static_assert(offsetof(FilterRecord, inData) == 76, "inData");
static_assert(offsetof(FilterRecord, inRowBytes) == 80, "inRowBytes");
static_assert(offsetof(FilterRecord, outData) == 84, "outData");
static_assert(offsetof(FilterRecord, outRowBytes) == 88, "outRowBytes");
static_assert(offsetof(FilterRecord, haveMask) == 93, "haveMask");
static_assert(offsetof(FilterRecord, maskRect) == 96, "maskRect");
static_assert(offsetof(FilterRecord, imageMode) == 128, "imageMode");
static_assert(offsetof(FilterRecord, filterCase) == 216, "filterCase");
static_assert(offsetof(FilterRecord, advanceState) == 224, "advanceState");
static_assert(offsetof(FilterRecord, depth) == 380, "depth");
static_assert(offsetof(FilterRecord, bigDocumentData) == 400, "bigDocumentData");
static_assert(sizeof(FilterRecord) == 488, "FilterRecord size");
#endif

/* Selectors: the step of a filter run that the host asks for. */
enum : int16_t {
    filterSelectorAbout = 0,
    filterSelectorParameters = 1,
    filterSelectorPrepare = 2,
    filterSelectorStart = 3,
    filterSelectorContinue = 4,
    filterSelectorFinish = 5,
};

/* Result codes. A negative code tells the host that the step failed. */
enum : int16_t {
    noErr = 0,
    paramErr = -50,
    memFullErr = -108,
    userCanceledErr = -128,
    filterBadParameters = -30100,
    filterBadMode = -30101,
};

/* Document modes (imageMode) of grey documents at 8, 16 and 32 bits. */
enum : int16_t {
    plugInModeGrayScale = 1,
    plugInModeGray16 = 10,
    plugInModeGray32 = 17,
};

/* The entry function's signature, as hosts call it. */
typedef void (*FilterEntryProc)(int16_t selector, FilterRecord* filterRecord, intptr_t* data,
                                int16_t* result);

#endif

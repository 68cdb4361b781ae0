/* frame.h - what the filter frame shares with the transform bodies.
 *
 * Each plug-in is the frame (entry function, Start request, Continue handler)
 * plus one transform body. The body tells the frame how many work buffers it
 * needs for an image and how large they are, and provides one run procedure
 * per sample type. The frame validates the record, copies the input through,
 * allocates the buffers, sets up FFTW's threads and calls the body. */
#ifndef SPECTRA_FRAME_H
#define SPECTRA_FRAME_H

#include "filter_record.h"
#include "progress.h"

#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif

/* The interleaved sample buffers of one Continue call, as the host delivered
 * them: `planes` samples per pixel, rows `stride` samples apart. */
template <typename T> struct Samples {
    T* base;
    int64_t stride; /* row bytes / sample size: the frame admits whole samples only */
    int32_t planes;

    /* The sample of plane p at column x, row y. All offsets are formed in
     * 64-bit arithmetic: a 32767 x 32767 image with four 32-bit planes spans
     * more than 2^32 bytes. */
    T& at(int32_t x, int32_t y, int32_t p) const {
        return base[y * stride + int64_t(x) * planes + p];
    }
};

/* The image of one Continue call. */
template <typename T> struct Image {
    int32_t rows;    /* imageSize.v */
    int32_t columns; /* imageSize.h */
    int32_t colours; /* the colour planes: 3 in RGB, 1 in grey */
    Samples<const T> in;
    Samples<T> out;
    Progress* progress; /* the body sets its total of steps first */
};

enum { max_work_buffers = 2 };

/* A transform body. */
struct TransformBody {
    /* Stores the byte size of each work buffer for an image of this size and
     * returns how many buffers there are (at most max_work_buffers). Returns
     * 0 when the image has nothing to transform: the frame then leaves the
     * output equal to the input. Sizes are worked out in 64-bit arithmetic. */
    int (*work_buffers)(int32_t rows, int32_t columns, uint64_t bytes[max_work_buffers]);

    /* How many columns, from column 0, a successful run writes in planes 0
     * to 2 of every row. The frame copies every other sample of the output
     * from the input. */
    int32_t (*written_columns)(int32_t columns, int32_t depth);

    /* Run the transform at each depth, writing only its columns of the
     * colour planes. A run returns noErr, memFullErr when FFTW gave no plan,
     * or userCanceledErr when the user asked to stop; the frame then copies
     * the whole input to the output. */
    int16_t (*run8)(const Image<uint8_t>& image, void* const work[]);
    int16_t (*run16)(const Image<uint16_t>& image, void* const work[]);
    int16_t (*run32)(const Image<float>& image, void* const work[]);

    /* Whether the body works on grey documents too, one colour plane; a
     * body that does not always has three. */
    bool grey;
};

/* The written columns of a spectrum picture in halves: the magnitude half and
 * the phase half, 2n columns where n = columns / 2. */
inline int32_t both_halves(int32_t columns, int32_t) {
    return columns / 2 * 2;
}

/* Large work buffers are fresh memory on every call, and on many machines
 * the first touch of each 4 KB page costs more than the transform's own work
 * on it: ask the kernel for huge pages where it offers them on request. */
inline void prefer_huge_pages(void* buffer, uint64_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    const uintptr_t huge = uintptr_t(2) << 20;
    uintptr_t start = (uintptr_t(buffer) + huge - 1) & ~(huge - 1);
    uintptr_t end = (uintptr_t(buffer) + bytes) & ~(huge - 1);
    if (end > start) madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
#else
    (void)buffer;
    (void)bytes;
#endif
}

/* A test hook for the failure paths. In plug-ins built with SPECTRA_FAULTS,
 * the environment variable SPECTRA_FAIL_STEP=k makes the k-th allocation or
 * plan of each Continue call fail as if memory had run out; in every other
 * build nothing fails on purpose. */
#if SPECTRA_FAULTS
bool spectra_fault();
#else
inline bool spectra_fault() {
    return false;
}
#endif

/* Defined once in each plug-in: its transform body. */
extern const TransformBody spectra_transform_body;

/* Fills the three run procedures of a TransformBody from one template. */
#define SPECTRA_RUNS(run) run<uint8_t>, run<uint16_t>, run<float>

#endif

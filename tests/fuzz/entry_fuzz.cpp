/* entry_fuzz.cpp - a libFuzzer target: one plug-in's ENTRYPOINT driven by
 * arbitrary records, built once per plug-in with its transform body.
 *
 * The input bytes choose the record (sizes, planes, depth, row strides, null
 * or shared or misaligned buffers), the selectors and their order, the step
 * that the fault hook makes fail, and the samples. The buffers are exactly as
 * large as the record says, so AddressSanitizer catches any access outside
 * them. After each Continue call the target checks what a host relies on. */
#include "filter_record.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern "C" void ENTRYPOINT(int16_t selector, FilterRecord* record, intptr_t* data, int16_t* result);

namespace {

/* The input, read front to back; zeros once it runs out. */
struct Input {
    const uint8_t* p;
    size_t n;

    template <typename T> T take() {
        T v = 0;
        size_t k = n < sizeof v ? n : sizeof v;
        std::memcpy(&v, p, k);
        p += k;
        n -= k;
        return v;
    }
};

void require(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "entry_fuzz: %s\n", what);
    std::abort();
}

/* Sizes mostly in 0 to 300, sometimes negative. */
int16_t size_from(int16_t v) {
    return v > 300 ? int16_t(v % 301) : v < -300 ? int16_t(v % 4) : v;
}

/* Bytes per sample as a host lays out a depth: whole bytes, or none. */
int64_t host_bytes(int32_t depth) {
    return depth >= 1 && depth <= 64 ? (depth + 7) / 8 : 0;
}

bool same(const uint8_t* a, const uint8_t* b, int64_t n) {
    return n <= 0 || std::memcmp(a, b, size_t(n)) == 0;
}

bool empty(const Rect& r) {
    return r.top == 0 && r.left == 0 && r.bottom == 0 && r.right == 0;
}

enum Flags {
    null_in = 1,
    null_out = 2,
    in_place = 4,
    misaligned = 8,
    null_record = 16,
    null_result = 32,
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input input{data, size};
    FilterRecord record = {};
    record.imageSize.v = size_from(input.take<int16_t>());
    record.imageSize.h = size_from(input.take<int16_t>());
    record.planes = int16_t(int8_t(input.take<uint8_t>()) % 9);
    uint8_t depth_choice = input.take<uint8_t>() % 4;
    int32_t raw_depth = input.take<int32_t>();
    record.depth = depth_choice == 0   ? 8
                   : depth_choice == 1 ? 16
                   : depth_choice == 2 ? 32
                                       : raw_depth;
    int8_t in_extra = input.take<int8_t>(), out_extra = input.take<int8_t>();
    uint8_t flags = input.take<uint8_t>();
    uint8_t fail_step = input.take<uint8_t>() % 8;
    uint8_t calls = input.take<uint8_t>() % 6 + 1;
    int16_t selectors[6];
    for (int i = 0; i < calls; i++) {
        uint8_t s = input.take<uint8_t>();
        selectors[i] = s < 200 ? int16_t(s % 7) : int16_t(int8_t(s));
    }

    /* The buffers as the record describes them. */
    int64_t bytes = host_bytes(record.depth);
    int64_t rows = record.imageSize.v, columns = record.imageSize.h, planes = record.planes;
    int64_t pixels = rows > 0 && columns > 0 && planes > 0 ? columns * planes * bytes : 0;
    record.inRowBytes = int32_t(pixels + in_extra);
    record.outRowBytes = int32_t(pixels + out_extra);
    auto claimed = [&](int32_t stride) -> int64_t {
        if (pixels == 0) return 0;
        return (rows - 1) * (stride > 0 ? stride : 0) + pixels;
    };
    int64_t in_size = claimed(record.inRowBytes), out_size = claimed(record.outRowBytes);
    if (flags & in_place) out_size = in_size, record.outRowBytes = record.inRowBytes;
    size_t shift = flags & misaligned ? 1 : 0;
    std::vector<uint8_t> in_store(size_t(in_size) + shift), out_store(size_t(out_size) + shift);
    /* Exactly sized heap blocks: a std::vector's own storage may be larger
     * than asked for after growth, a fresh one is not. */
    uint8_t* in = in_store.data() + shift;
    uint8_t* out = flags & in_place ? in : out_store.data() + shift;
    for (int64_t i = 0; i < in_size; i++)
        in[i] = input.n ? data[size - input.n + size_t(i) % input.n] : 0;
    if (!(flags & in_place) && out_size > 0) std::memset(out, 0xa5, size_t(out_size));
    const std::vector<uint8_t> in_before(in, in + in_size), out_before(out, out + out_size);
    record.inData = flags & null_in ? nullptr : in;
    record.outData = flags & null_out ? nullptr : out;

    if (fail_step)
        setenv("SPECTRA_FAIL_STEP", std::to_string(fail_step).c_str(), 1);
    else
        unsetenv("SPECTRA_FAIL_STEP");

    for (int i = 0; i < calls; i++) {
        int16_t result = 1;
        intptr_t user = 0;
        ENTRYPOINT(selectors[i], flags & null_record ? nullptr : &record, &user,
                   flags & null_result ? nullptr : &result);
        if (flags & null_result) continue;
        require(result == noErr || result == filterBadParameters || result == filterBadMode ||
                    result == memFullErr,
                "an unknown result code");
        if (flags & null_record) {
            require(result == noErr || result == filterBadParameters, "a null record accepted");
            continue;
        }
        if (selectors[i] != filterSelectorContinue) {
            require(result == noErr, "a failure outside Continue");
            continue;
        }
        require(empty(record.inRect) && empty(record.outRect) && empty(record.maskRect),
                "Continue left a rectangle to fill");
        if (flags & in_place) continue;
        require(same(in, in_before.data(), in_size), "the input changed");
        if (result == filterBadParameters)
            require(same(out, out_before.data(), out_size),
                    "bad parameters, yet the output changed");
        if (pixels == 0 || record.inRowBytes < pixels || record.outRowBytes < pixels) continue;
        for (int64_t y = 0; y < rows; y++) {
            const uint8_t* i_row = in + y * record.inRowBytes;
            const uint8_t* o_row = out + y * record.outRowBytes;
            if (result == memFullErr || result == filterBadMode)
                require(same(o_row, i_row, pixels),
                        "a failure, yet the output differs from the input");
            if (y + 1 < rows)
                for (int64_t x = pixels; x < record.outRowBytes; x++)
                    require(o_row[x] == 0xa5, "a byte between output rows was written");
            if (result == noErr)
                for (int64_t x = 0; x < columns; x++)
                    require(same(o_row + (x * planes + 3) * bytes, i_row + (x * planes + 3) * bytes,
                                 (planes - 3) * bytes),
                            "a plane beyond the third changed");
        }
    }
    return 0;
}

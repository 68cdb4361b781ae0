/* address_test.cpp - in a 32-bit process, an image whose work buffers do not
 * fit the address space: the plug-ins report memFullErr and leave the image
 * as it was, rather than truncate a buffer's size to 32 bits. */
#include "support.h"

#include <new>

namespace {

/* A cheap fingerprint of the image, which is too large to copy here. */
uint64_t fingerprint(const HostImage& image) {
    uint64_t h = 1469598103934665603ull;
    const uint8_t* p = image.data();
    for (size_t i = 0, n = size_t(image.row_bytes) * size_t(image.rows); i < n; i++)
        h = (h ^ p[i]) * 1099511628211ull;
    return h;
}

TEST(AddressSpace, BuffersBeyondA32BitProcessGiveMemFullErr) {
    if (sizeof(void*) != 4) GTEST_SKIP() << "a 64-bit process, where such buffers can be had";
    /* 6500 x 30000 RGB at 8 bits, 585 MB, filtered in place: SpectraPlane
     * and SpectraPlaneInverse would need 1.56 GB more, SpectraVolume two
     * buffers of 4.7 GB each, more than 32 bits can count. */
    HostImage image;
    try {
        image = host_image(6500, 30000, 3, 8);
    } catch (const std::bad_alloc&) {
        GTEST_SKIP() << "this process cannot hold the 585 MB image itself";
    }
    for (size_t i = 0; i < image.storage.size(); i++) image.storage[i] = i * 0x9e3779b97f4a7c15ull;
    uint64_t before = fingerprint(image);
    for (const char* name : {"SpectraPlane", "SpectraPlaneInverse", "SpectraVolume"}) {
        Plugin plugin(name);
        FilterRecord record = {};
        record.imageSize = {int16_t(image.rows), int16_t(image.columns)};
        record.planes = 3;
        record.depth = 8;
        record.imageMode = 3;
        intptr_t data = 0;
        int16_t result = 1;
        plugin.plugin.entry(filterSelectorStart, &record, &data, &result);
        ASSERT_EQ(result, noErr) << name;
        record.inData = record.outData = image.data();
        record.inRowBytes = record.outRowBytes = int32_t(image.row_bytes);
        plugin.plugin.entry(filterSelectorContinue, &record, &data, &result);
        EXPECT_EQ(result, memFullErr) << name;
        EXPECT_EQ(fingerprint(image), before) << name;
        EXPECT_EQ(record.inRect.right, 0) << name;
    }
}

} // namespace

/* memory_test.cpp - a plug-in whose work buffers cannot be had reports
 * memFullErr and leaves the image as it was. */
#include "limit.h"
#include "support.h"

namespace {

class Memory : public ::testing::TestWithParam<const char*> {};

TEST_P(Memory, NoBufferMeansMemFullErrAndTheInputUnchanged) {
    if (!address_limits_work()) GTEST_SKIP() << "no address-space limits here";
    /* 2000 x 4000 at 8 bits: 24 MB a document, while every plug-in's work
     * buffers take more than 48 MB. Beyond the input and the test program
     * the child may map 40 MB: the output document and the plug-in. */
    HostImage in = noise_image(2000, 4000, 3, 8, 7);
    if (!in_limited_child(40 << 20, false)) {
        EXPECT_TRUE(run_limited_child());
        return;
    }
    Plugin plugin(GetParam());
    HostOptions junk;
    junk.fill = HostFill::junk;
    int16_t result;
    HostImage out = plugin.run(in, &result, junk);
    EXPECT_EQ(result, memFullErr) << host_result_name(result);
    EXPECT_TRUE(host_same_samples(in, out));
}

} // namespace

/* SpectraRow's buffers hold one row and fit under any limit that lets the
 * documents in; it has its own test below. */
INSTANTIATE_TEST_SUITE_P(AllPlugins, Memory,
                         ::testing::Values("SpectraPlane", "SpectraPlaneInverse", "SpectraVolume"),
                         [](const auto& info) { return std::string(info.param); });

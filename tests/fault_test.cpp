/* fault_test.cpp - every allocation and every plan of every plug-in made to
 * fail in turn, through the plug-ins' test hook (built with SPECTRA_FAULTS,
 * as in the sanitizer build, where LeakSanitizer also sees what a failure
 * path forgets to free).
 *
 * A failed step must end the run with memFullErr and the output equal to the
 * input, or, where the plug-in has a way round the missing memory, with the
 * same output as an undisturbed run. */
#include "support.h"

#include <cmath>
#include <cstdlib>

namespace {

struct Steps {
    const char* plugin;
    int failures; /* steps whose failure ends the run with memFullErr */
};

/* Work buffers, then the plans: in the planar plug-ins, the volume and the
 * descreen, one for the rows, and a gathering block and a plan for the
 * columns, of each colour plane or of the volume, and one for the volume's
 * short axis of colours; one in all for the rows; two more for the
 * descreen's borders (noise shows it no pattern, so it goes no further).
 * The inverse's tables at 8 and 16 bits may be missing: it then reads each
 * coefficient directly. */
const Steps steps[] = {
    {"SpectraPlane", 1 + 3 * 3}, {"SpectraPlaneInverse", 1 + 3 * 3}, {"SpectraVolume", 1 + 4},
    {"SpectraRow", 2 + 1},       {"SpectraDescreen", 2 + 2 + 3 * 3},
};

void PrintTo(const Steps& s, std::ostream* os) {
    *os << s.plugin;
}

class Faults : public ::testing::TestWithParam<std::tuple<Steps, int>> {};

TEST_P(Faults, EachFailedStepGivesMemFullErrAndTheInputBack) {
    Steps s = std::get<0>(GetParam());
    int depth = std::get<1>(GetParam());
    Plugin plugin(s.plugin);
    /* columns of 20: longer than an axis that is transformed in place */
    HostImage in = noise_image(20, 10, 4, depth, 11);
    HostOptions junk;
    junk.fill = HostFill::junk;
    int16_t result;
    HostImage undisturbed = plugin.run(in, &result, junk);
    ASSERT_EQ(result, noErr);

    int failures = 0;
    for (int step = 1; step <= 16; step++) {
        setenv("SPECTRA_FAIL_STEP", std::to_string(step).c_str(), 1);
        junk.junk_seed = uint32_t(step);
        HostImage out = plugin.run(in, &result, junk);
        unsetenv("SPECTRA_FAIL_STEP");
        if (result == memFullErr) {
            failures++;
            EXPECT_TRUE(host_same_samples(in, out)) << "step " << step;
        } else {
            EXPECT_EQ(result, noErr) << "step " << step << ": " << host_result_name(result);
            EXPECT_TRUE(host_same_samples(undisturbed, out)) << "step " << step;
        }
    }
    EXPECT_EQ(failures, s.failures);
}

INSTANTIATE_TEST_SUITE_P(AllPlugins, Faults,
                         ::testing::Combine(::testing::ValuesIn(steps),
                                            ::testing::Values(8, 16, 32)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).plugin) + "_" +
                                    std::to_string(std::get<1>(info.param));
                         });

/* A screened picture takes the descreen through every transform it makes:
 * each plane's forward and inverse, and the screen map's bands. Each step
 * in turn fails cleanly, until there are no more to fail. */
TEST(Faults, DescreenOfAScreenFailsCleanlyAtEveryStep) {
    Plugin plugin("SpectraDescreen");
    const double pi = 3.14159265358979323846, t = 15 * pi / 180, k = 2 * pi / 5;
    HostImage in = make_image(96, 128, 3, 8, [&](int x, int y, int p) {
        double u = k * (x * std::cos(t) + y * std::sin(t)),
               v = k * (y * std::cos(t) - x * std::sin(t));
        return std::round((0.3 + 0.002 * (x + y + 20 * p) + 0.06 * (std::cos(u) + std::cos(v))) *
                          255);
    });
    int16_t result;
    HostImage undisturbed = plugin.run(in, &result);
    ASSERT_EQ(result, noErr);
    ASSERT_FALSE(host_same_samples(in, undisturbed));
    int step = 1;
    for (; step <= 80; step++) {
        setenv("SPECTRA_FAIL_STEP", std::to_string(step).c_str(), 1);
        HostImage out = plugin.run(in, &result);
        unsetenv("SPECTRA_FAIL_STEP");
        if (result != memFullErr) {
            EXPECT_EQ(result, noErr) << "step " << step << ": " << host_result_name(result);
            EXPECT_TRUE(host_same_samples(undisturbed, out)) << "step " << step;
            break;
        }
        EXPECT_TRUE(host_same_samples(in, out)) << "step " << step;
    }
    /* the buffers and the borders' plans, each plane's two transforms and
     * at least one map's two bands */
    EXPECT_GE(step - 1, 4 + 3 * 2 * 3 + 2 * 3);
}

} // namespace

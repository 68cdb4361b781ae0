/* frame_test.cpp - the handshake and the result codes, the same in every
 * plug-in: the whole-image request, what each selector changes, the checks
 * that guard Continue, output that does not depend on outData, and the
 * host's progress and stop procedures. */
#include "support.h"

#include <cstring>
#include <utility>
#include <vector>

namespace {

class Frame : public ::testing::TestWithParam<const char*> {};

TEST_P(Frame, RequestsTheWholeImageOnceAndTouchesNothingElse) {
    Plugin plugin(GetParam());
    for (int planes : {3, 4, 5}) {
        HostImage in = noise_image(6, 9, planes, 8, 3);
        HostLog log;
        plugin.run(in, nullptr, HostOptions(), &log);

        EXPECT_EQ(log.about, noErr);
        EXPECT_EQ(log.parameters, noErr);
        EXPECT_EQ(log.prepare, noErr);
        EXPECT_EQ(log.start, noErr);
        EXPECT_EQ(log.finish, noErr);
        ASSERT_EQ(log.continues.size(), 1u);
        EXPECT_EQ(log.continues[0], noErr);

        /* Parameters and Prepare change nothing; Finish neither. */
        EXPECT_EQ(std::memcmp(&log.before_start, &log.after_prepare, sizeof(FilterRecord)), 0);
        EXPECT_EQ(std::memcmp(&log.after_continue, &log.after_finish, sizeof(FilterRecord)), 0);

        const FilterRecord& s = log.after_start;
        for (const Rect& r : {s.inRect, s.outRect}) {
            EXPECT_EQ(r.top, 0);
            EXPECT_EQ(r.left, 0);
            EXPECT_EQ(r.bottom, 6);
            EXPECT_EQ(r.right, 9);
        }
        EXPECT_EQ(s.inLoPlane, 0);
        EXPECT_EQ(s.inHiPlane, planes - 1);
        EXPECT_EQ(s.outLoPlane, 0);
        EXPECT_EQ(s.outHiPlane, planes - 1);
        EXPECT_EQ(s.maskRect.bottom - s.maskRect.top, 0);
        /* Start writes the rectangles and plane ranges, nothing else. */
        FilterRecord expect = log.before_start;
        expect.inRect = s.inRect;
        expect.outRect = s.outRect;
        expect.maskRect = s.maskRect;
        expect.inLoPlane = s.inLoPlane;
        expect.inHiPlane = s.inHiPlane;
        expect.outLoPlane = s.outLoPlane;
        expect.outHiPlane = s.outHiPlane;
        EXPECT_EQ(std::memcmp(&expect, &s, sizeof(FilterRecord)), 0);

        const FilterRecord& c = log.after_continue;
        for (const Rect& r : {c.inRect, c.outRect, c.maskRect})
            EXPECT_TRUE(r.top == 0 && r.left == 0 && r.bottom == 0 && r.right == 0);
    }
}

TEST_P(Frame, OtherSelectorsStoreNoErrAndChangeNothing) {
    Plugin plugin(GetParam());
    FilterRecord record;
    std::memset(&record, 0x5a, sizeof record);
    FilterRecord before = record;
    for (int16_t selector : {0, 1, 2, 5, 6, 7, 100, -1, 32767}) {
        intptr_t data = 77;
        int16_t result = 1;
        plugin.plugin.entry(selector, &record, &data, &result);
        EXPECT_EQ(result, noErr) << selector;
        EXPECT_EQ(data, 77);
        EXPECT_EQ(std::memcmp(&before, &record, sizeof record), 0) << selector;
    }
}

/* A record of a 4 x 6 RGB image at 8 bits, set up by hand so that each
 * field can be spoilt. */
struct HandRecord {
    alignas(8) uint8_t in[64] = {};
    alignas(8) uint8_t out[64];
    FilterRecord record = {};
    HandRecord() {
        for (int i = 0; i < 64; i++) in[i] = uint8_t(i * 7);
        std::memset(out, 0xee, sizeof out);
        record.imageSize = {2, 6};
        record.planes = 3;
        record.depth = 8;
        record.inData = in;
        record.outData = out;
        record.inRowBytes = record.outRowBytes = 18;
    }
    int16_t run() {
        int16_t result = 1;
        intptr_t data = 0;
        Plugin plugin(name);
        plugin.plugin.entry(filterSelectorContinue, &record, &data, &result);
        return result;
    }
    bool untouched() const {
        for (uint8_t b : out)
            if (b != 0xee) return false;
        return true;
    }
    bool copied() const { return std::memcmp(in, out, 36) == 0; }
    std::string name;
};

TEST_P(Frame, UnaddressableRecordsWriteNothing) {
    struct Case {
        const char* what;
        void (*spoil)(FilterRecord&);
    } cases[] = {
        {"no rows", [](FilterRecord& r) { r.imageSize.v = 0; }},
        {"negative columns", [](FilterRecord& r) { r.imageSize.h = -6; }},
        {"two planes", [](FilterRecord& r) { r.planes = 2; }},
        {"no input", [](FilterRecord& r) { r.inData = nullptr; }},
        {"no output", [](FilterRecord& r) { r.outData = nullptr; }},
        {"short input rows", [](FilterRecord& r) { r.inRowBytes = 17; }},
        {"short output rows", [](FilterRecord& r) { r.outRowBytes = -18; }},
        {"misaligned 16-bit output",
         [](FilterRecord& r) {
             r.depth = 16;
             r.imageSize = {1, 2};
             r.inRowBytes = r.outRowBytes = 12;
             r.outData = static_cast<uint8_t*>(r.outData) + 1;
         }},
        /* Rows that do not start on a whole sample cannot be addressed
         * where the host put them. */
        {"16-bit rows an odd number of bytes apart",
         [](FilterRecord& r) {
             r.depth = 16;
             r.imageSize = {2, 2};
             r.inRowBytes = 12;
             r.outRowBytes = 13;
         }},
        {"32-bit rows 2 bytes past a whole sample",
         [](FilterRecord& r) {
             r.depth = 32;
             r.imageSize = {2, 1};
             r.inRowBytes = 14;
             r.outRowBytes = 12;
         }},
    };
    for (const Case& c : cases) {
        HandRecord h;
        h.name = GetParam();
        c.spoil(h.record);
        EXPECT_EQ(h.run(), filterBadParameters) << c.what;
        EXPECT_TRUE(h.untouched()) << c.what;
        EXPECT_EQ(h.record.outRect.bottom, 0) << c.what;
    }
    HandRecord ok;
    ok.name = GetParam();
    EXPECT_EQ(ok.run(), noErr);
}

TEST_P(Frame, UnsupportedDepthCopiesTheInput) {
    for (int depth : {1, 12, 24, 64}) {
        HandRecord h;
        h.name = GetParam();
        h.record.depth = depth;
        /* depth 1 to 8 take a byte a sample, up to 16 two bytes... */
        h.record.imageSize = {1, int16_t(depth <= 8 ? 2 : 1)};
        h.record.planes = int16_t(depth <= 16 ? 3 : 4);
        h.record.inRowBytes = h.record.outRowBytes = 32;
        EXPECT_EQ(h.run(), filterBadMode) << depth;
        int bytes = (depth + 7) / 8 * h.record.planes * (depth <= 8 ? 2 : 1);
        EXPECT_EQ(std::memcmp(h.in, h.out, size_t(bytes)), 0) << depth;
        EXPECT_EQ(h.out[bytes], 0xee) << depth;
    }
    HandRecord h;
    h.name = GetParam();
    h.record.depth = 0;
    EXPECT_EQ(h.run(), filterBadMode);
    EXPECT_TRUE(h.untouched());
}

TEST_P(Frame, NothingToTransformCopiesTheInput) {
    Plugin plugin(GetParam());
    HostOptions junk;
    junk.fill = HostFill::junk;
    for (int depth : {8, 16, 32}) {
        HostImage in = noise_image(5, 1, 4, depth, 9);
        int16_t result;
        HostImage out = plugin.run(in, &result, junk);
        EXPECT_EQ(result, noErr);
        EXPECT_TRUE(host_same_samples(in, out)) << depth;
    }
}

TEST_P(Frame, OutputDoesNotDependOnWhatTheHostLeftInOutData) {
    Plugin plugin(GetParam());
    for (int depth : {8, 16, 32})
        for (int planes : {3, 4}) {
            int bytes = host_sample_bytes(depth);
            HostImage in = noise_image(7, 11, planes, depth, 5, 3 * bytes);
            HostOptions copy, junk, padded;
            junk.fill = HostFill::junk;
            padded.fill = HostFill::junk;
            padded.junk_seed = 99;
            padded.out_row_padding = 5 * bytes;
            HostImage a = plugin.run(in, nullptr, copy);
            HostImage b = plugin.run(in, nullptr, junk);
            HostImage c = plugin.run(in, nullptr, padded);
            EXPECT_TRUE(host_same_samples(a, b)) << depth << " " << planes;
            EXPECT_TRUE(host_same_samples(a, c)) << depth << " " << planes;
        }
}

/* Progress runs forward to its total, the stop request is heard between
 * the steps, and a stop at any of them ends the run with userCanceledErr
 * and the input back. */
class Cancel : public ::testing::TestWithParam<std::tuple<const char*, int>> {};

TEST_P(Cancel, ProgressInOrderAndAStopAtEveryCallGivesTheInputBack) {
    Plugin plugin(std::get<0>(GetParam()));
    HostImage in = noise_image(24, 40, 4, std::get<1>(GetParam()), 5);
    HostOptions options;
    options.fill = HostFill::junk;
    std::vector<std::pair<int32_t, int32_t>> calls;
    int asks = 0;
    options.progress = [&](int32_t done, int32_t total) { calls.push_back({done, total}); };
    options.cancel = [&] { return ++asks < 0; };
    int16_t result;
    plugin.run(in, &result, options);
    ASSERT_EQ(result, noErr);
    ASSERT_FALSE(calls.empty());
    for (size_t i = 0; i < calls.size(); i++) {
        EXPECT_EQ(calls[i].second, calls[0].second) << "call " << i;
        EXPECT_GT(calls[i].first, i > 0 ? calls[i - 1].first : 0) << "call " << i;
    }
    EXPECT_EQ(calls.back().first, calls.back().second);
    EXPECT_GE(asks, 3);

    const int points = asks;
    for (int stop = 1; stop <= points; stop++) {
        asks = 0;
        options.cancel = [&] { return ++asks == stop; };
        options.junk_seed = uint32_t(stop);
        HostImage out = plugin.run(in, &result, options);
        EXPECT_EQ(result, userCanceledErr) << "stop at " << stop;
        EXPECT_TRUE(host_same_samples(in, out)) << "stop at " << stop;
        EXPECT_EQ(asks, stop) << "the run went on after the stop";
    }
}

INSTANTIATE_TEST_SUITE_P(AllPlugins, Cancel,
                         ::testing::Combine(::testing::ValuesIn(all_plugins),
                                            ::testing::Values(8, 16, 32)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param)) + "_" +
                                    std::to_string(std::get<1>(info.param));
                         });

} // namespace

/* Every plug-in of the build shares the frame. */
INSTANTIATE_TEST_SUITE_P(AllPlugins, Frame, ::testing::ValuesIn(all_plugins),
                         [](const auto& info) { return std::string(info.param); });

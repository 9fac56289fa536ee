// Lengths, positions, block sizes, rewinding and seeking of decode-only streams, over MP3 and
// WAV files of both channel counts.

#include "BassTestUtil.h"

using namespace bass_test;

namespace {

class Positions : public LayerTest, public ::testing::WithParamInterface<const char*> {
protected:
    HSTREAM h = 0;
    std::vector<std::uint8_t> whole;
    DWORD frame = 0;

    void SetUp() override {
        LayerTest::SetUp();
        h = open(realFile(GetParam()));
        ASSERT_NE(h, 0u) << lastErrorText();
        BASS_CHANNELINFO info;
        ASSERT_TRUE(BASS_ChannelGetInfo(h, &info));
        frame = info.chans * 2;
        whole = decodeRest(h);
        ASSERT_GT(whole.size(), 40000u);
        ASSERT_TRUE(BASS_ChannelSetPosition(h, 0));
        EXPECT_EQ(BASS_ChannelGetPosition(h), 0u);
        EXPECT_EQ(BASS_ChannelIsActive(h), BASS_ACTIVE_PLAYING);
    }
};

TEST_P(Positions, AnyBlockSizeGivesTheSameWholeFrames) {
    for (DWORD block : {DWORD{20000}, DWORD{4099}, DWORD{7}, DWORD{1 << 20}}) {
        ASSERT_TRUE(BASS_ChannelSetPosition(h, 0));
        EXPECT_EQ(decodeRest(h), whole) << "block " << block;
    }
}

TEST_P(Positions, RewindAfterPartialReadRepeatsTheBytes) {
    std::vector<std::uint8_t> buffer(20000);
    for (int i = 0; i < 2; ++i)
        ASSERT_EQ(BASS_ChannelGetData(h, buffer.data(), 20000), 20000u);
    ASSERT_TRUE(BASS_ChannelSetPosition(h, 0));
    EXPECT_EQ(decodeRest(h), whole);
    // A stream at its end rewinds too.
    ASSERT_TRUE(BASS_ChannelSetPosition(h, 0));
    EXPECT_EQ(decodeRest(h), whole);
}

// The samples after a seek are those of a straight decode at that place. libmpg123 may differ
// by 1 in a few of them (its synthesis filter keeps its phase across a seek).
TEST_P(Positions, SeekLandsOnAWholeFrameWithTheSameSamples) {
    const auto all = samplesOf(whole);
    for (QWORD target :
         {QWORD{frame * 1000 + 3}, QWORD{whole.size() / 2 + 1}, QWORD{whole.size() - 5 * frame}}) {
        ASSERT_TRUE(BASS_ChannelSetPosition(h, target));
        const QWORD aligned = target - target % frame;
        EXPECT_EQ(BASS_ChannelGetPosition(h), aligned);
        const auto tail = samplesOf(decodeRest(h));
        ASSERT_EQ(tail.size() * 2, whole.size() - aligned);
        const std::vector<std::int16_t> expected(all.begin() + aligned / 2, all.end());
        EXPECT_LE(maxDiff(tail, expected, tail.size()), 1) << "seek to " << target;
    }
}

TEST_P(Positions, TheEndIsAPositionButNotBeyond) {
    const QWORD length = BASS_ChannelGetLength(h);
    ASSERT_TRUE(BASS_ChannelSetPosition(h, length));
    EXPECT_EQ(BASS_ChannelIsActive(h), BASS_ACTIVE_STOPPED);
    std::uint8_t buffer[64];
    EXPECT_EQ(BASS_ChannelGetData(h, buffer, sizeof buffer), 0xFFFFFFFFu);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ENDED);
    EXPECT_FALSE(BASS_ChannelSetPosition(h, length + frame));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_POSITION);
    EXPECT_EQ(BASS_ChannelGetPosition(h), length);
}

TEST_P(Positions, StopEndsTheStreamUntilRepositioned) {
    std::vector<std::uint8_t> buffer(20000);
    ASSERT_EQ(BASS_ChannelGetData(h, buffer.data(), 20000), 20000u);
    ASSERT_TRUE(BASS_ChannelStop(h));
    EXPECT_EQ(BASS_ChannelIsActive(h), BASS_ACTIVE_STOPPED);
    EXPECT_EQ(BASS_ChannelGetData(h, buffer.data(), 20000), 0xFFFFFFFFu);
    ASSERT_TRUE(BASS_ChannelSetPosition(h, 0));
    EXPECT_EQ(decodeRest(h), whole);
}

INSTANTIATE_TEST_SUITE_P(Files, Positions,
                         ::testing::Values("mp3/iso/l3-compl.bit",
                                           "mp3/edge/l3-nonstandard-sin1k0db_lame_vbrtag.bit",
                                           "mp3/iso/l3-he_mode.bit", "mp3/iso/l2-fl13.bit",
                                           "wav/tinytag/test-tagged.wav",
                                           "wav/tinytag/id3_header_with_a_zero_byte.wav"));

} // namespace

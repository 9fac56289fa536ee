// Lengths, positions, block sizes, rewinding and seeking of the song reader, over MP3 and WAV
// files of both channel counts.

#include "DecodeTestUtil.h"

#include <optional>

using namespace decode_test;

namespace {

class Positions : public ::testing::TestWithParam<const char*> {
protected:
    std::optional<SongReader> song;
    std::vector<std::int16_t> whole;
    std::size_t channels = 0;

    void SetUp() override {
        auto opened = SongReader::open(realFile(GetParam()));
        ASSERT_TRUE(opened) << opened.error().text().toStdString();
        song.emplace(std::move(*opened));
        channels = std::size_t(song->format().channels);
        whole = decodeRest(*song);
        ASSERT_GT(whole.size(), 20000u);
        ASSERT_TRUE(song->seek(0));
        EXPECT_EQ(song->position(), 0u);
    }
};

TEST_P(Positions, AnyBlockSizeGivesTheSameFrames) {
    for (std::size_t block : {5000, 1023, 1, 1 << 18}) {
        ASSERT_TRUE(song->seek(0));
        EXPECT_EQ(decodeRest(*song, block), whole) << "block " << block;
    }
}

TEST_P(Positions, RewindAfterPartialReadRepeatsTheSamples) {
    std::vector<std::int16_t> buffer(5000 * channels);
    for (int i = 0; i < 2; ++i) {
        const auto got = song->read(buffer.data(), 5000);
        ASSERT_TRUE(got && *got == 5000);
    }
    ASSERT_TRUE(song->seek(0));
    EXPECT_EQ(decodeRest(*song), whole);
    // A song read to its end rewinds too.
    ASSERT_TRUE(song->seek(0));
    EXPECT_EQ(decodeRest(*song), whole);
}

// The samples after a seek are those of a straight decode at that place. libmpg123 may differ
// by 1 in a few of them (its synthesis filter keeps its phase across a seek).
TEST_P(Positions, SeekGivesTheSameSamples) {
    const std::uint64_t frames = song->frames();
    for (std::uint64_t target : {std::uint64_t{1000}, frames / 2 + 1, frames - 5}) {
        ASSERT_TRUE(song->seek(target));
        EXPECT_EQ(song->position(), target);
        const auto tail = decodeRest(*song);
        ASSERT_EQ(tail.size(), whole.size() - target * channels);
        const std::vector<std::int16_t> expected(whole.begin() + std::ptrdiff_t(target * channels),
                                                 whole.end());
        EXPECT_LE(maxDiff(tail, expected, tail.size()), 1) << "seek to " << target;
    }
}

TEST_P(Positions, TheEndIsAPositionButNotBeyond) {
    const std::uint64_t frames = song->frames();
    ASSERT_TRUE(song->seek(frames));
    std::int16_t buffer[64];
    const auto got = song->read(buffer, 32 / channels);
    EXPECT_TRUE(got && *got == 0);
    const quaverly::Status beyond = song->seek(frames + 1);
    ASSERT_FALSE(beyond);
    EXPECT_EQ(beyond.error().code(), sound::kPosition);
    EXPECT_EQ(song->position(), frames);
}

INSTANTIATE_TEST_SUITE_P(Files, Positions,
                         ::testing::Values("mp3/iso/l3-compl.bit",
                                           "mp3/edge/l3-nonstandard-sin1k0db_lame_vbrtag.bit",
                                           "mp3/iso/l3-he_mode.bit", "mp3/iso/l2-fl13.bit",
                                           "wav/tinytag/test-tagged.wav",
                                           "wav/tinytag/id3_header_with_a_zero_byte.wav"));

} // namespace

// The layer core: start and release, handles, and the error every failing call leaves behind.

#include "BassTestUtil.h"

#include <QTemporaryDir>

#include <functional>
#include <thread>

using namespace bass_test;

namespace {

const std::string kMp3 = realFile("mp3/edge/cbr.mp3");
const std::string kWav = realFile("wav/wavefile/valid/stereo_pcm_16_44100.wav");

TEST(BassCore, StartsOnceForDecodingAndReleases) {
    EXPECT_EQ(BASS_GetVersion(), MakeLong(2, 2));
    EXPECT_FALSE(BASS_Free());
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);
    EXPECT_FALSE(BASS_Init(-2, 44100, 0, nullptr, nullptr));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_DEVICE);
    EXPECT_FALSE(BASS_Init(3, 44100, 0, nullptr, nullptr));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_DEVICE);
    ASSERT_TRUE(BASS_Init(0, 44100, 0, nullptr, nullptr));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_OK);
    EXPECT_FALSE(BASS_Init(0, 44100, 0, nullptr, nullptr));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ALREADY);
    EXPECT_TRUE(BASS_Free());
    EXPECT_TRUE(BASS_Init(0, 44100, 0, nullptr, nullptr));
    EXPECT_TRUE(BASS_Free());
}

TEST(BassCore, ConfigAcceptsTheUpdatePeriodOnly) {
    EXPECT_TRUE(BASS_SetConfig(BASS_CONFIG_UPDATEPERIOD, 0));
    EXPECT_TRUE(BASS_SetConfig(BASS_CONFIG_UPDATEPERIOD, 100));
    EXPECT_FALSE(BASS_SetConfig(BASS_CONFIG_UPDATEPERIOD, 1000));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ILLPARAM);
    EXPECT_FALSE(BASS_SetConfig(999, 1));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ILLTYPE);
}

TEST(BassCore, StreamsNeedAStartedLayer) {
    EXPECT_EQ(BASS_StreamCreateFile(0, kMp3.c_str(), 0, 0, BASS_STREAM_DECODE), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);
}

struct Refusal {
    const char* name;
    std::function<DWORD()> call;
    int error;
};

std::ostream& operator<<(std::ostream& os, const Refusal& r) {
    return os << r.name;
}

class Refusals : public LayerTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(Refusals, FailWithTheirCodeAndAText) {
    EXPECT_EQ(GetParam().call(), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), GetParam().error);
    EXPECT_FALSE(lastErrorText().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Calls, Refusals,
    ::testing::Values(
        Refusal{"notDecodeOnly", [] { return BASS_StreamCreateFile(0, kMp3.c_str(), 0, 0, 0); },
                BASS_ERROR_ILLPARAM},
        Refusal{"noPath",
                [] { return BASS_StreamCreateFile(0, nullptr, 0, 0, BASS_STREAM_DECODE); },
                BASS_ERROR_ILLPARAM},
        Refusal{"partOfAFile",
                [] { return BASS_StreamCreateFile(0, kMp3.c_str(), 100, 0, BASS_STREAM_DECODE); },
                BASS_ERROR_ILLPARAM},
        Refusal{"missingFile",
                [] {
                    return BASS_StreamCreateFile(0, "/nonexistent/song.mp3", 0, 0,
                                                 BASS_STREAM_DECODE);
                },
                BASS_ERROR_FILEOPEN},
        Refusal{
            "folder",
            [] { return BASS_StreamCreateFile(0, QUAVERLY_TEST_DATA, 0, 0, BASS_STREAM_DECODE); },
            BASS_ERROR_FILEOPEN},
        Refusal{
            "url",
            [] { return BASS_StreamCreateURL("http://example.com/a.mp3", 0, 0, nullptr, nullptr); },
            BASS_ERROR_NONET},
        Refusal{"musicOfAnMp3", [] { return BASS_MusicLoad(0, kMp3.c_str(), 0, 0, 0x220200, 0); },
                BASS_ERROR_FILEFORM},
        Refusal{"musicOfNothing",
                [] { return BASS_MusicLoad(0, "/nonexistent/song.mod", 0, 0, 0x220200, 0); },
                BASS_ERROR_FILEOPEN},
        Refusal{"unknownHandle", [] { return BASS_StreamFree(123456789); }, BASS_ERROR_HANDLE},
        Refusal{"infoOfUnknownHandle",
                [] {
                    BASS_CHANNELINFO record;
                    return DWORD(BASS_ChannelGetInfo(987654321, &record));
                },
                BASS_ERROR_HANDLE}),
    [](const auto& p) { return std::string(p.param.name); });

using Handles = LayerTest;

TEST_F(Handles, FreedStreamsAreGoneAndTheirHandlesNotReused) {
    const HSTREAM a = open(kMp3);
    const HSTREAM b = open(kWav);
    ASSERT_NE(a, 0u);
    ASSERT_NE(b, 0u);
    EXPECT_NE(a, b);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_OK);
    EXPECT_TRUE(lastErrorText().empty());
    ASSERT_TRUE(BASS_StreamFree(a));
    EXPECT_FALSE(BASS_StreamFree(a));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
    EXPECT_EQ(BASS_ChannelGetLength(a), ~QWORD{0});
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
    const HSTREAM c = open(kMp3);
    EXPECT_NE(c, a);
    EXPECT_EQ(BASS_ChannelGetLength(b), 2240u * 4);

    // BASS_Free takes every stream with it.
    ASSERT_TRUE(BASS_Free());
    EXPECT_EQ(BASS_ChannelIsActive(b), BASS_ACTIVE_STOPPED);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
    EXPECT_FALSE(BASS_StreamFree(c));
    ASSERT_TRUE(BASS_Init(0, 44100, 0, nullptr, nullptr));
    EXPECT_NE(open(kMp3), 0u);
}

#ifdef __linux__
// A device would never end (or, like a pipe, block the open): only regular files are read.
TEST_F(Handles, DevicesAreNotFiles) {
    EXPECT_EQ(open("/dev/zero"), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FILEOPEN);
}
#endif

TEST_F(Handles, DecodingChannelsCannotBePlayed) {
    const HSTREAM h = open(kMp3);
    ASSERT_NE(h, 0u);
    EXPECT_FALSE(BASS_ChannelPlay(h, 0));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_DECODE);
}

TEST_F(Handles, EachThreadHasItsOwnError) {
    EXPECT_EQ(open("/nonexistent/a.mp3"), 0u);
    ASSERT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FILEOPEN);
    int other = -2;
    std::string otherText = "unset";
    std::thread([&] {
        other = BASS_ErrorGetCode();
        otherText = lastErrorText();
    }).join();
    EXPECT_EQ(other, BASS_OK);
    EXPECT_TRUE(otherText.empty());
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FILEOPEN);
}

// Streams on two threads at once decode the same bytes as one after the other.
TEST_F(Handles, StreamsDecodeConcurrently) {
    const HSTREAM first = open(realFile("mp3/iso/l3-compl.bit"));
    ASSERT_NE(first, 0u);
    const auto alone = decodeRest(first);
    std::vector<std::uint8_t> results[2];
    std::thread threads[2];
    for (int t = 0; t < 2; ++t)
        threads[t] = std::thread([&, t] {
            const HSTREAM h = open(realFile("mp3/iso/l3-compl.bit"));
            if (h)
                results[t] = decodeRest(h);
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(results[0], alone);
    EXPECT_EQ(results[1], alone);
}

} // namespace

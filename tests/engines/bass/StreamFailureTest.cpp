// A decode that cannot reach the length its stream announced: the source shrinks or becomes
// unreadable after the first block. The stream delivers what was decoded, then fails with the
// file and the cause; it never pads the rest with silence.

#include "BassTestUtil.h"

#include "engines/encoder/Mp3Encode.h"
#include "engines/wav/WavHeader.h"
#include "support/ReadFaults.h"

#include <QTemporaryDir>

#include <functional>

using namespace bass_test;
namespace test = quaverly::test;

namespace {

constexpr DWORD kBlock = 20000;

// A 44-byte-header 16-bit mono WAV at 8 kHz whose sample i is i (wrapping in 16 bits).
QByteArray staircaseWav(std::uint32_t frames) {
    QByteArray data(qsizetype(frames) * 2, '\0');
    for (std::uint32_t i = 0; i < frames; ++i) {
        data[qsizetype(2 * i)] = char(i & 0xFF);
        data[qsizetype(2 * i + 1)] = char((i >> 8) & 0xFF);
    }
    const auto head = quaverly::WavHeader::pcm(1, 8000, 16, frames * 2).toBytes();
    return QByteArray(reinterpret_cast<const char*>(head.data()), qsizetype(head.size())) + data;
}

struct FaultCase {
    const char* name;
    bool mp3; // the source is an MP3, else a WAV
    // Injected after the first block; false when it cannot be done here.
    std::function<bool(const QString& path)> inject;
    const char* cause; // in the error text
};

void PrintTo(const FaultCase& c, std::ostream* os) {
    *os << c.name;
}

class StreamFaults : public LayerTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(StreamFaults, FailWithTheCauseInsteadOfPaddingWithSilence) {
    const auto& c = GetParam();
    QTemporaryDir dir;
    const QString wav = dir.filePath("song.wav"), mp3 = dir.filePath("song.mp3");
    writeAll(wav.toStdString(), staircaseWav(40000));
    if (c.mp3) { // 12 s at 320 kbit/s: about 480 KB, more than the decoder reads ahead
        writeAll(wav.toStdString(), staircaseWav(8000 * 12));
        const auto encoded = quaverly::mp3::encodeWavToMp3(wav, mp3, 320);
        ASSERT_TRUE(encoded.ok) << encoded.error.toStdString();
    }
    const QString path = c.mp3 ? mp3 : wav;
    const HSTREAM h = open(path.toStdString());
    ASSERT_NE(h, 0u) << lastErrorText();
    const QWORD length = BASS_ChannelGetLength(h);

    std::vector<std::uint8_t> buffer(kBlock);
    ASSERT_EQ(BASS_ChannelGetData(h, buffer.data(), kBlock), kBlock);
    if (!c.inject(path))
        GTEST_SKIP() << "the fault cannot be injected here";
    QWORD delivered = kBlock;
    std::vector<std::uint8_t> rest;
    for (;;) {
        const DWORD got = BASS_ChannelGetData(h, buffer.data(), kBlock);
        if (got == 0xFFFFFFFFu)
            break;
        ASSERT_GT(got, 0u);
        rest.insert(rest.end(), buffer.begin(), buffer.begin() + got);
        delivered += got;
        ASSERT_LT(delivered, length) << "the whole length was delivered";
    }
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_NOTAVAIL);
    const std::string error = lastErrorText();
    EXPECT_NE(error.find(path.toStdString()), std::string::npos) << error;
    EXPECT_NE(error.find(c.cause), std::string::npos) << error;
    EXPECT_EQ(BASS_ChannelGetPosition(h), delivered);
    // What was delivered is the file's own sound, and the failure stays.
    if (!c.mp3) {
        const auto s = samplesOf(rest);
        for (std::size_t i = 0; i < s.size(); ++i)
            ASSERT_EQ(s[i], std::int16_t(kBlock / 2 + i)) << i;
    }
    EXPECT_EQ(BASS_ChannelIsActive(h), BASS_ACTIVE_PLAYING);
    EXPECT_EQ(BASS_ChannelGetData(h, buffer.data(), kBlock), 0xFFFFFFFFu);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_NOTAVAIL);
}

INSTANTIATE_TEST_SUITE_P(
    Sources, StreamFaults,
    ::testing::Values(
        // 15000 of the 40000 frames stay: the second block comes out half full.
        FaultCase{"WavShrinks", false, [](const QString& p) { return test::shrink(p, 44 + 30000); },
                  "ends after 15000 of its 40000 frames"},
        FaultCase{"WavUnreadable", false,
                  [](const QString& p) { return test::breakReadsOf(p) > 0; }, "Is a directory"},
        // libmpg123 meets the cut in the middle of a frame; its own words for it vary.
        FaultCase{"Mp3Shrinks", true, [](const QString& p) { return test::shrink(p, 200000); },
                  "bytes before its end"}),
    [](const auto& p) { return std::string(p.param.name); });

} // namespace

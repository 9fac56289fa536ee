// A decode that cannot reach the length its stream announced: the source WAV shrinks or becomes
// unreadable after the first block (the MPEG decoder's shortfall takes the same way out). The
// stream delivers what was decoded, then fails with the file and the cause; it never pads the rest
// with silence.

#include "BassTestUtil.h"

#include "engines/wav/WavHeader.h"
#include "support/ReadFaults.h"
#include "support/TestAudio.h"

#include <QTemporaryDir>

#include <functional>

using namespace bass_test;
namespace test = quaverly::test;

namespace {

constexpr DWORD kBlock = 20000;

struct FaultCase {
    const char* name;
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
    const QString path = dir.filePath("song.wav");
    const auto stairs = test::staircase(40000, 1); // sample i is i
    writeAll(path.toStdString(),
             test::wavBytes(quaverly::WavHeader::pcm(1, 8000, 16), stairs.data(), 80000));
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
    const auto s = samplesOf(rest);
    for (std::size_t i = 0; i < s.size(); ++i)
        ASSERT_EQ(s[i], std::int16_t(kBlock / 2 + i)) << i;
    EXPECT_EQ(BASS_ChannelIsActive(h), BASS_ACTIVE_PLAYING);
    EXPECT_EQ(BASS_ChannelGetData(h, buffer.data(), kBlock), 0xFFFFFFFFu);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_NOTAVAIL);
}

INSTANTIATE_TEST_SUITE_P(
    Sources, StreamFaults,
    ::testing::Values(
        // 15000 of the 40000 frames stay: the second block comes out half full.
        FaultCase{"Shrinks", [](const QString& p) { return test::shrink(p, 44 + 30000); },
                  "ends after 15000 of its 40000 frames"},
        FaultCase{"Unreadable", [](const QString& p) { return test::breakReadsOf(p) > 0; },
                  "Is a directory"}),
    [](const auto& p) { return std::string(p.param.name); });

} // namespace

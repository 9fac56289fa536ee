// The sound layer when there is no sound server (PULSE_SERVER names a socket that does not exist,
// set before the back end is first made): the devices fail at once with a code and the reason,
// and decoding, which needs no device, goes on working.

#include "BassTestUtil.h"
#include "engines/decode/SongReader.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>

using namespace bass_test;

namespace {

struct DeviceStart {
    const char* name;
    std::function<BOOL()> call;
};

std::ostream& operator<<(std::ostream& os, const DeviceStart& d) {
    return os << d.name;
}

class DeviceStarts : public ::testing::TestWithParam<DeviceStart> {};

TEST_P(DeviceStarts, FailAtOnceWithTheServersReason) {
    ASSERT_EQ(qgetenv("PULSE_SERVER"), QByteArray("unix:/nonexistent"));
    for (int attempt = 0; attempt < 2; ++attempt) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(GetParam().call());
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_DRIVER);
        EXPECT_NE(lastErrorText().find("unix:/nonexistent"), std::string::npos) << lastErrorText();
        // Not a measure of speed: a hang would show here long before the test's time-out.
        EXPECT_LT(seconds, 10.0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    NoServer, DeviceStarts,
    ::testing::Values(DeviceStart{"output",
                                  [] { return BASS_Init(-1, 44100, 0, nullptr, nullptr); }},
                      DeviceStart{"recording", [] { return BASS_RecordInit(-1); }}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(NoServer, NothingIsLeftStartedAndDecodingStillWorks) {
    EXPECT_FALSE(BASS_RecordInit(-1));
    EXPECT_EQ(BASS_RecordGetInputName(0), nullptr);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);
    EXPECT_FALSE(BASS_RecordFree());
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);
    EXPECT_FALSE(BASS_Init(-1, 44100, 0, nullptr, nullptr));
    EXPECT_FALSE(BASS_Free());
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);

    const std::string wav = realFile("wav/wavefile/valid/stereo_pcm_16_44100.wav");
    const auto song = quaverly::SongReader::open(QString::fromStdString(wav));
    ASSERT_TRUE(song) << song.error().text().toStdString();
    EXPECT_EQ(song->frames(), 2240u);
    // A memory stream needs the device that could not be had.
    const QByteArray image = readAll(wav);
    EXPECT_EQ(BASS_StreamCreateFile(1, image.constData(), 0, QWORD(image.size()), 0), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);
}

} // namespace

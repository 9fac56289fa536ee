// The sound layer's device half against the private test server (a null sink `testsink` whose
// monitor is remapped to the default source `testsink_loop`): a WAV file played by the media
// player, and a memory stream played by the layer, both recorded back through the layer's
// recording from the default input. Skipped when PULSE_SERVER is not set.

#include "../audio/SignalTools.h"
#include "DeviceTestUtil.h"

#include "engines/audio/AudioBackend.h"
#include "engines/bass/InputType.h"
#include "engines/player/WavPlayer.h"
#include "support/TestAudio.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

using namespace device_test;
namespace sig = ::quaverly::audio::test;

namespace {

class PulseLayer : public ::testing::Test {
protected:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            GTEST_SKIP() << "PULSE_SERVER is not set: no private sound server";
        ASSERT_TRUE(BASS_RecordInit(-1)) << lastErrorText();
        recordInit = true;
    }
    void TearDown() override {
        if (recordInit)
            BASS_RecordFree();
    }

    // Starts recording from the default input; the first blocks have arrived when it returns.
    HRECORD startRecording(Collector* c) {
        const HRECORD h = BASS_RecordStart(44100, 2, 0, Collector::proc, c);
        EXPECT_NE(h, 0u) << lastErrorText();
        EXPECT_TRUE(waitFor([&] { return c->calls >= 2; }, 10.0));
        return h;
    }

    bool recordInit = false;
};

TEST_F(PulseLayer, TheDefaultInputIsOnAndChoosingAnotherChangesNothingElse) {
    int on = -1, count = 0;
    for (; const char* name = BASS_RecordGetInputName(count); ++count) {
        EXPECT_NE(std::string(name), "");
        const DWORD v = BASS_RecordGetInput(count);
        ASSERT_NE(v, 0xFFFFFFFFu) << lastErrorText();
        EXPECT_LE(LoWord(v), 100u);
        if (!(v & BASS_INPUT_OFF)) {
            EXPECT_EQ(on, -1) << "two inputs on";
            on = count;
        }
    }
    ASSERT_GE(count, 2); // testsink.monitor and testsink_loop
    ASSERT_GE(on, 0);
    // The null sink's monitor is a recording of what is played.
    int monitor = -1;
    for (int i = 0; i < count; ++i) {
        if (std::string(inputTypeText(BASS_RecordGetInput(i))) == "Wave/PCM")
            monitor = i;
    }
    ASSERT_GE(monitor, 0);
    ASSERT_NE(monitor, on);

    auto server = quaverly::audio::defaultBackend();
    const auto before = server->sources(nullptr);
    const int serverDefault = server->defaultSource(nullptr);
    ASSERT_TRUE(BASS_RecordSetInput(monitor, BASS_INPUT_ON));
    EXPECT_EQ(BASS_RecordGetInput(monitor) & BASS_INPUT_OFF, 0u);
    EXPECT_EQ(BASS_RecordGetInput(on) & BASS_INPUT_OFF, BASS_INPUT_OFF);
    ASSERT_TRUE(BASS_RecordSetInput(monitor, BASS_INPUT_LEVEL | 50));
    EXPECT_EQ(LoWord(BASS_RecordGetInput(monitor)), 50u);
    const auto after = server->sources(nullptr);
    ASSERT_TRUE(BASS_RecordSetInput(monitor, BASS_INPUT_LEVEL | 100));
    // On the server only that level moved; its default source is the same.
    EXPECT_EQ(server->defaultSource(nullptr), serverDefault);
    ASSERT_EQ(after.size(), before.size());
    for (std::size_t i = 0; i < after.size(); ++i) {
        if (static_cast<int>(i) != monitor) {
            EXPECT_EQ(after[i].volumePercent, before[i].volumePercent) << i;
        }
    }
    EXPECT_EQ(after[std::size_t(monitor)].volumePercent, 50);
}

// The integration of playing and recording: a tone file through the media player to the null
// sink, back through a recording of the default input.
TEST_F(PulseLayer, AToneFilePlayedByThePlayerIsRecordedBack) {
    QTemporaryDir dir;
    const QString wav = dir.filePath(QStringLiteral("tone.wav"));
    ASSERT_TRUE(quaverly::test::writeWav16(wav, 2, 44100, sig::tone(1000, 44100, 2)));
    Collector c(44100 * 4 * 20);
    const HRECORD rec = startRecording(&c);
    ASSERT_NE(rec, 0u);

    quaverly::WavPlayer player(quaverly::audio::defaultBackend());
    const quaverly::Status opened = player.open(wav);
    ASSERT_TRUE(opened) << qPrintable(opened.error().text());
    EXPECT_EQ(player.Length(), 1000);
    bool done = false;
    QObject::connect(&player, &quaverly::WavPlayer::Done, [&](int) { done = true; });
    const quaverly::Status played = player.play();
    ASSERT_TRUE(played) << qPrintable(played.error().text());
    ASSERT_TRUE(waitFor(
        [&] {
            QCoreApplication::processEvents();
            EXPECT_EQ(BASS_ChannelIsActive(rec), BASS_ACTIVE_PLAYING);
            return done;
        },
        20.0));
    sig::sleepMs(300);
    ASSERT_TRUE(BASS_ChannelStop(rec));
    EXPECT_EQ(BASS_ChannelGetPosition(rec), c.size.load());

    const sig::Heard h = sig::analyse(c.bytes());
    EXPECT_NEAR(double(h.frames), 44100.0, 4410.0);
    EXPECT_NEAR(h.hz, 1000.0, 5.0);
    EXPECT_NEAR(h.levelDb, 0.0, 1.0);
}

TEST_F(PulseLayer, AMemoryStreamIsPlayedAndRecordedBack) {
    ASSERT_TRUE(BASS_Init(-1, 44100, 0, nullptr, nullptr)) << lastErrorText();
    const auto image = wavImage(2, 44100, sig::tone(440, 22050, 2));
    const HSTREAM h = BASS_StreamCreateFile(1, image.data(), 0, image.size(), 0);
    ASSERT_NE(h, 0u) << lastErrorText();
    EXPECT_EQ(BASS_ChannelGetLength(h), 88200u);
    Collector c(44100 * 4 * 20);
    const HRECORD rec = startRecording(&c);
    ASSERT_NE(rec, 0u);

    ASSERT_TRUE(BASS_ChannelPlay(h, 0)) << lastErrorText();
    QWORD last = 0;
    bool midway = false;
    ASSERT_TRUE(waitFor(
        [&] {
            const QWORD p = BASS_ChannelGetPosition(h);
            EXPECT_GE(p, last);
            midway = midway || (p > 0 && p < 88200);
            last = p;
            return BASS_ChannelIsActive(h) == BASS_ACTIVE_STOPPED;
        },
        20.0));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_OK) << lastErrorText();
    EXPECT_TRUE(midway);
    EXPECT_EQ(BASS_ChannelGetPosition(h), 88200u);
    sig::sleepMs(300);
    ASSERT_TRUE(BASS_ChannelStop(rec));

    const sig::Heard heard = sig::analyse(c.bytes());
    EXPECT_NEAR(double(heard.frames), 22050.0, 2205.0);
    EXPECT_NEAR(heard.hz, 440.0, 3.0);
    EXPECT_NEAR(heard.levelDb, 0.0, 1.0);
    EXPECT_TRUE(BASS_Free());
}

} // namespace

int main(int argc, char** argv) {
    // The media player's timers need an application object.
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

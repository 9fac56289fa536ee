// The capture device and the take player against the private test server (a null sink
// `testsink` whose monitor is remapped to the default source `testsink_loop`): a WAV file played
// by the media player, and a take played by the take player, both recorded back from the default
// input. Skipped when PULSE_SERVER is not set.

#include "DeviceTestUtil.h"
#include "SignalTools.h"

#include "engines/audio/TakePlayer.h"
#include "engines/player/WavPlayer.h"
#include "support/TestAudio.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <optional>

using namespace device_test;
using namespace quaverly;
namespace sig = ::quaverly::audio::test;

namespace {

class PulseDevices : public ::testing::Test {
protected:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            GTEST_SKIP() << "PULSE_SERVER is not set: no private sound server";
        auto opened = audio::CaptureDevice::open();
        ASSERT_TRUE(opened) << opened.error().text().toStdString();
        capture.emplace(std::move(*opened));
    }

    // Starts recording from the default input; the first blocks have arrived when it returns.
    std::unique_ptr<audio::Capture> startRecording(Collector* c) {
        auto rec = capture->start(44100, 2, c->fn());
        EXPECT_TRUE(rec) << rec.error().text().toStdString();
        if (!rec)
            return nullptr;
        EXPECT_TRUE(waitFor([&] { return c->calls >= 2; }, 10.0));
        return std::move(*rec);
    }
    // Waits until another `ms` of sound has been recorded: what was played last has come
    // through the server's buffers by then.
    static bool recordOn(const Collector& c, int ms) {
        const std::size_t until = c.size + std::size_t(44100) * 4 * std::size_t(ms) / 1000;
        return waitFor([&] { return c.size >= until; }, 10.0);
    }

    std::optional<audio::CaptureDevice> capture;
};

TEST_F(PulseDevices, TheDefaultInputIsChosenAndChoosingAnotherChangesNothingElse) {
    const auto inputs = capture->inputs();
    ASSERT_TRUE(inputs) << inputs.error().text().toStdString();
    ASSERT_GE(inputs->size(), 2u); // testsink.monitor and testsink_loop
    int chosen = -1, monitor = -1;
    for (int i = 0; i < int(inputs->size()); ++i) {
        const auto& in = (*inputs)[std::size_t(i)];
        EXPECT_FALSE(in.description.isEmpty());
        EXPECT_LE(in.level, 100);
        if (in.chosen) {
            EXPECT_EQ(chosen, -1) << "two inputs chosen";
            chosen = i;
        }
        // The null sink's monitor is a recording of what is played (wine's WASAPI calls it a
        // line input, so it is found by its name).
        if (in.description == QLatin1String("Monitor of Null Output"))
            monitor = i;
    }
    ASSERT_GE(chosen, 0);
    ASSERT_GE(monitor, 0);
    ASSERT_NE(monitor, chosen);

    auto server = audio::defaultBackend();
    const auto before = server->sources();
    const auto serverDefault = server->defaultSource();
    ASSERT_TRUE(before && serverDefault);
    ASSERT_TRUE(capture->choose(monitor));
    EXPECT_TRUE(capture->input(monitor)->chosen);
    EXPECT_FALSE(capture->input(chosen)->chosen);
    ASSERT_TRUE(capture->setLevel(monitor, 50));
    EXPECT_EQ(capture->input(monitor)->level, 50);
    const auto after = server->sources();
    // The level goes back to the server's own with the device.
    capture.reset();
    const auto restored = server->sources();
    ASSERT_TRUE(restored);
    EXPECT_EQ((*restored)[std::size_t(monitor)].volumePercent,
              (*before)[std::size_t(monitor)].volumePercent);
    // On the server only that level moved; its default source is the same.
    EXPECT_EQ(*server->defaultSource(), *serverDefault);
    ASSERT_TRUE(after);
    ASSERT_EQ(after->size(), before->size());
    for (std::size_t i = 0; i < after->size(); ++i) {
        if (static_cast<int>(i) != monitor) {
            EXPECT_EQ((*after)[i].volumePercent, (*before)[i].volumePercent) << i;
        }
    }
    EXPECT_EQ((*after)[std::size_t(monitor)].volumePercent, 50);
}

// The integration of playing and recording: a tone file through the media player to the null
// sink, back through a recording of the default input.
TEST_F(PulseDevices, AToneFilePlayedByThePlayerIsRecordedBack) {
    QTemporaryDir dir;
    const QString wav = dir.filePath(QStringLiteral("tone.wav"));
    ASSERT_TRUE(test::writeWav16(wav, 2, 44100, sig::tone(1000, 44100, 2)));
    Collector c(44100 * 4 * 20);
    const auto rec = startRecording(&c);
    ASSERT_TRUE(rec);

    WavPlayer player(audio::defaultBackend());
    const Status opened = player.open(wav);
    ASSERT_TRUE(opened) << qPrintable(opened.error().text());
    EXPECT_EQ(player.Length(), 1000);
    bool done = false;
    QObject::connect(&player, &WavPlayer::Done, [&](int) { done = true; });
    const Status played = player.play();
    ASSERT_TRUE(played) << qPrintable(played.error().text());
    ASSERT_TRUE(waitFor(
        [&] {
            QCoreApplication::processEvents();
            EXPECT_TRUE(rec->failure());
            return done;
        },
        20.0));
    ASSERT_TRUE(recordOn(c, 300));
    rec->stop();

    const sig::Heard h = sig::analyse(c.bytes());
    EXPECT_NEAR(double(h.frames), 44100.0, 4410.0);
    EXPECT_NEAR(h.hz, 1000.0, 5.0);
    EXPECT_NEAR(h.levelDb, 0.0, 1.0);
}

TEST_F(PulseDevices, ATakeIsPlayedAndRecordedBack) {
    const auto image = wavImage(2, 44100, sig::tone(440, 22050, 2));
    auto opened = audio::TakePlayer::open(image.data(), image.size(), audio::defaultBackend());
    ASSERT_TRUE(opened) << opened.error().text().toStdString();
    audio::TakePlayer& take = **opened;
    EXPECT_EQ(take.length(), 88200u);
    Collector c(44100 * 4 * 20);
    const auto rec = startRecording(&c);
    ASSERT_TRUE(rec);

    ASSERT_TRUE(take.play());
    std::uint64_t last = 0;
    bool midway = false;
    ASSERT_TRUE(waitFor(
        [&] {
            const std::uint64_t p = take.position();
            EXPECT_GE(p, last);
            midway = midway || (p > 0 && p < 88200);
            last = p;
            return !take.playing();
        },
        20.0));
    EXPECT_TRUE(take.consumeFailure());
    EXPECT_TRUE(midway);
    EXPECT_EQ(take.position(), 88200u);
    ASSERT_TRUE(recordOn(c, 300));
    rec->stop();

    const sig::Heard heard = sig::analyse(c.bytes());
    EXPECT_NEAR(double(heard.frames), 22050.0, 2205.0);
    EXPECT_NEAR(heard.hz, 440.0, 3.0);
    EXPECT_NEAR(heard.levelDb, 0.0, 1.0);
}

} // namespace

int main(int argc, char** argv) {
    // The media player's timers need an application object.
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

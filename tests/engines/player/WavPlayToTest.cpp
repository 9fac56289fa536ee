// play() with an end point on the virtual sound device: what the device played is compared byte
// for byte with the ramp frames of the stretch asked for.
#include "engines/audio/VirtualBackend.h"
#include "engines/player/MciErrors.h"
#include "engines/player/WavPlayer.h"
#include "player/RampWav.h"
#include "support/Waits.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using quaverly::WavPlayer;
using quaverly::audio::VirtualBackend;
namespace mcinotify = quaverly::mcinotify;

namespace {

class PlayTo : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        QObject::connect(&player, &WavPlayer::Done, [this](int code) { done.push_back(code); });
    }
    void open(const ramp::Format& f, std::uint64_t frames) {
        const QString path = dir.filePath(QStringLiteral("song.wav"));
        ASSERT_TRUE(ramp::write(path, ramp::wav(f, frames)));
        const quaverly::Status opened = player.open(path);
        ASSERT_TRUE(opened) << qPrintable(opened.error().text());
    }
    QByteArray played() const {
        const auto bytes = device->playedBytes();
        return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
    }

    QTemporaryDir dir;
    std::shared_ptr<VirtualBackend> device = std::make_shared<VirtualBackend>(100.0);
    WavPlayer player{device};
    std::vector<int> done;
};

struct ToCase {
    const char* name;
    ramp::Format format;
    std::uint64_t frames;
    qint64 from; // -1: no start point, play from the start
    qint64 to;
    std::uint64_t firstFrame, endFrame; // the frames that must be played: [first, end)
    qint64 position;                    // where the player stands after Done
};

void PrintTo(const ToCase& c, std::ostream* os) {
    *os << c.name;
}

class PlaysTo : public PlayTo, public ::testing::WithParamInterface<ToCase> {};

TEST_P(PlaysTo, ExactlyTheFramesUpToTheEndPointAndRaisesDone) {
    const auto& c = GetParam();
    open(c.format, c.frames);
    const quaverly::Status started =
        player.play(c.from >= 0 ? std::optional<qint64>(c.from) : std::nullopt, c.to);
    ASSERT_TRUE(started) << qPrintable(started.error().text());
    ASSERT_TRUE(quaverly::test::eventsUntil([&] { return !done.empty(); }));
    EXPECT_EQ(done, std::vector<int>{mcinotify::kSuccessful});
    EXPECT_FALSE(player.isPlaying());
    const QByteArray want = ramp::frames(c.format, c.firstFrame, c.endFrame - c.firstFrame);
    const QByteArray got = played();
    EXPECT_TRUE(got == want) << ramp::firstDifference(got, want, c.format.frameBytes());
    EXPECT_EQ(player.Position(), c.position);
    EXPECT_EQ(device->openStreams(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    WavPlayer, PlaysTo,
    ::testing::Values(
        ToCase{"Mono16", {8000, 1, 16}, 16000, 500, 1250, 4000, 10000, 1250},
        // 123 ms is frame 5424.3, 1457 ms frame 64253.7: both go to the nearest frame.
        ToCase{"Stereo16AtFractionalFrames", {44100, 2, 16}, 88200, 123, 1457, 5424, 64254, 1457},
        // 30 ms at 22050 Hz is frame 661.5, which rounds up like the start's 220.5.
        ToCase{"Stereo8HalfFramesRoundUp", {22050, 2, 8}, 22050, 10, 30, 221, 662, 30},
        ToCase{"FromTheStartWithoutAStartPoint", {8000, 1, 8}, 8000, -1, 100, 0, 800, 100},
        ToCase{"PastTheEndIsTheEnd", {8000, 1, 16}, 8000, 900, 5000, 7200, 8000, 1000},
        ToCase{"BeforeTheStartPlaysNothing", {8000, 1, 16}, 8000, 600, 300, 4800, 4800, 600}),
    [](const auto& p) { return std::string(p.param.name); });

} // namespace

// The Windows back end under wine, over the test command's private sound server: wine's WASAPI
// lists the server's sinks and sources and plays into its null sink. What is played is recorded
// on the Linux side (parec, through the peer bridge) and compared sample for sample; what the
// Linux side plays (paplay) is recorded through the back end. Skipped when PULSE_SERVER is not
// set.

#include "engines/audio/WasapiBackend.h"
#include "SignalTools.h"
#include "support/Peers.h"
#include "support/PrivateSoundServer.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QtGlobal>

#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

using namespace quaverly::audio;
using namespace quaverly::audio::test;
using quaverly::Status;
using quaverly::test::runPeer;

namespace {

constexpr PcmFormat kCd{44100, 2, 16};

// A stereo staircase: every frame differs from its neighbours, so that a lost, doubled or moved
// frame shows. Left climbs from 1000, right is its negative.
struct Staircase {
    std::size_t frames = 44100;
    std::atomic<std::size_t> pos{0};
    static std::int16_t left(std::size_t i) { return std::int16_t(1000 + i % 25000); }

    PullFn pull() {
        return [this](void* dst, std::size_t bytes) {
            auto* out = static_cast<std::int16_t*>(dst);
            const std::size_t start = pos;
            const std::size_t n = std::min(bytes / 4, frames - start);
            for (std::size_t i = 0; i < n; ++i) {
                *out++ = left(start + i);
                *out++ = std::int16_t(-left(start + i));
            }
            pos = start + n;
            return n * 4;
        };
    }
};

struct Recording {
    std::mutex mutex;
    std::vector<std::uint8_t> bytes;
    PushFn push() {
        return [this](const void* data, std::size_t n) {
            std::lock_guard lock(mutex);
            const auto* p = static_cast<const std::uint8_t*>(data);
            bytes.insert(bytes.end(), p, p + n);
            return true;
        };
    }
    std::size_t size() {
        std::lock_guard lock(mutex);
        return bytes.size();
    }
};

int indexOf(const std::vector<SourceInfo>& list, const QString& description) {
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (list[i].description == description)
            return int(i);
    }
    return -1;
}

// The server's own answer, through the bridge.
QString pactl(const QStringList& args) {
    const auto run = runPeer(QStringLiteral("pactl"), args, {10000});
    EXPECT_TRUE(run.ok()) << run.failure().toStdString();
    return QString::fromUtf8(run.out).trimmed();
}

class Wasapi : public testing::Test {
protected:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            GTEST_SKIP() << "PULSE_SERVER is not set: no private sound server";
        const Status up = backend.available();
        ASSERT_TRUE(up) << causeOf(up).toStdString();
        auto listed = backend.sources();
        ASSERT_TRUE(listed) << causeOf(listed).toStdString();
        sources = *listed;
    }

    WasapiBackend backend;
    std::vector<SourceInfo> sources;
};

} // namespace

TEST_F(Wasapi, ListsTheServersSourcesAndSetsALevelThatLeavesTheOutputAlone) {
    const int monitor = indexOf(sources, QStringLiteral("Monitor of Null Output"));
    const int loop = indexOf(sources, QStringLiteral("Remapped Monitor of Null Output"));
    ASSERT_GE(monitor, 0);
    ASSERT_GE(loop, 0);
    EXPECT_NE(sources[monitor].name, sources[loop].name);
    for (const SourceInfo& s : sources) {
        EXPECT_EQ(s.volumePercent, 100) << s.description.toStdString();
        // Wine records no loopback, so it lists none; where one is listed it is "what is playing".
        if (s.name.startsWith(QStringLiteral("loopback:"))) {
            EXPECT_EQ(s.kind, SourceKind::Monitor);
        }
    }
    const auto chosen = backend.defaultSource();
    ASSERT_TRUE(chosen);
    EXPECT_GE(*chosen, 0);

    // A level reads back as set, and the output's volume stays. (Wine's WASAPI cannot set an
    // endpoint's volume, so there the level is applied to the samples; the recording test
    // hears it.)
    const Status set = backend.setSourceVolume(loop, 40);
    ASSERT_TRUE(set) << causeOf(set).toStdString();
    EXPECT_EQ((*backend.sources())[loop].volumePercent, 40);
    EXPECT_TRUE(pactl({QStringLiteral("get-sink-volume"), QStringLiteral("testsink")})
                    .contains(QStringLiteral("100%")));
    ASSERT_TRUE(backend.setSourceVolume(loop, 100));
    EXPECT_FALSE(backend.setSourceVolume(int(sources.size()), 50));
}

TEST_F(Wasapi, AStaircasePlayedIsHeardSampleForSampleOnTheNullSinkAsTheClockRuns) {
    // The Linux side records the null sink's monitor: 3 s, from before the staircase starts.
    const std::size_t recordBytes = 3 * 44100 * 4;
    quaverly::test::PeerRun heard;
    std::thread recorder([&] {
        heard = runPeer(QStringLiteral("sh"),
                        {QStringLiteral("-c"),
                         QStringLiteral("parec -d testsink.monitor --raw --format=s16le "
                                        "--rate=44100 --channels=2 --latency-msec=10 | head -c %1")
                             .arg(recordBytes)},
                        {20000});
    });
    ASSERT_TRUE(waitFor([] {
        return !runPeer(QStringLiteral("pactl"), {QStringLiteral("list"), QStringLiteral("short"),
                                                  QStringLiteral("source-outputs")})
                    .out.trimmed()
                    .isEmpty();
    }));

    Staircase stairs;
    auto playback = opened(backend.openPlayback(kCd, stairs.pull()));
    ASSERT_TRUE(playback);
    // The position follows the clock once sound is heard: within 50 ms at every look.
    using Clock = std::chrono::steady_clock;
    Clock::time_point firstHeardAt;
    std::uint64_t firstHeard = 0, last = 0;
    double worstDriftMs = 0;
    int looks = 0;
    ASSERT_TRUE(waitFor(
        [&] {
            const std::uint64_t now = playback->framesPlayed();
            EXPECT_GE(now, last);
            EXPECT_LE(now, stairs.pos.load());
            last = now;
            if (now > 0 && now < stairs.frames) {
                if (firstHeard == 0) {
                    firstHeard = now;
                    firstHeardAt = Clock::now();
                } else {
                    const double clockMs =
                        std::chrono::duration<double, std::milli>(Clock::now() - firstHeardAt)
                            .count();
                    const double playedMs = double(now - firstHeard) * 1000.0 / 44100.0;
                    worstDriftMs = std::max(worstDriftMs, std::abs(clockMs - playedMs));
                    ++looks;
                }
            }
            return playback->finished();
        },
        10.0));
    EXPECT_TRUE(playback->failure()) << causeOf(playback->failure()).toStdString();
    EXPECT_EQ(playback->framesPlayed(), stairs.frames);
    EXPECT_GT(looks, 100);
    EXPECT_LT(worstDriftMs, 50.0);
    recorder.join();
    ASSERT_TRUE(heard.ok()) << heard.failure().toStdString();
    ASSERT_EQ(std::size_t(heard.out.size()), recordBytes);

    const std::vector<std::uint8_t> bytes(heard.out.begin(), heard.out.end());
    const auto left = channelOf(bytes, 2, 0);
    const auto right = channelOf(bytes, 2, 1);
    std::size_t start = 0;
    while (start < left.size() && left[start] == 0)
        ++start;
    ASSERT_LE(start + stairs.frames, left.size()) << "the staircase was not heard to its end";
    std::size_t wrong = 0, firstWrong = 0;
    for (std::size_t i = 0; i < stairs.frames; ++i) {
        if (left[start + i] != Staircase::left(i) || right[start + i] != -Staircase::left(i)) {
            firstWrong = wrong++ == 0 ? i : firstWrong;
        }
    }
    EXPECT_EQ(wrong, 0u) << "first wrong frame " << firstWrong << " of " << stairs.frames
                         << ": heard " << left[start + firstWrong] << ", then "
                         << left[start + firstWrong + 1] << " " << left[start + firstWrong + 100];
    EXPECT_EQ(left[start + stairs.frames], 0) << "more than the staircase was heard";
}

TEST_F(Wasapi, RecordsAToneThatTheLinuxSidePlaysIntoTheNullSink) {
    const int monitor = indexOf(sources, QStringLiteral("Monitor of Null Output"));
    ASSERT_GE(monitor, 0);
    QTemporaryDir dir;
    const QString toneFile = dir.filePath(QStringLiteral("tone.wav"));
    ASSERT_TRUE(runPeer(QStringLiteral("sox"),
                        {QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("44100"),
                         QStringLiteral("-c"), QStringLiteral("2"), QStringLiteral("-b"),
                         QStringLiteral("16"), toneFile, QStringLiteral("synth"),
                         QStringLiteral("1"), QStringLiteral("sine"), QStringLiteral("1000"),
                         QStringLiteral("vol"), QStringLiteral("0.5")})
                    .ok());
    // At half its level: 6 dB down.
    ASSERT_TRUE(backend.setSourceVolume(monitor, 50));
    Recording rec;
    auto capture = opened(backend.openCapture(monitor, kCd, rec.push()));
    ASSERT_TRUE(capture);
    ASSERT_TRUE(waitFor([&] { return rec.size() > 0; }));
    const auto played = runPeer(QStringLiteral("paplay"), {toneFile}, {20000});
    ASSERT_TRUE(played.ok()) << played.failure().toStdString();
    ASSERT_TRUE(waitFor([&] {
        std::lock_guard lock(rec.mutex);
        return framesFromTone(rec.bytes.data(), rec.bytes.size()) >= 44100 * 5 / 4;
    })) << "the tone was not recorded to its end";
    capture->stop();
    EXPECT_TRUE(capture->failure()) << causeOf(capture->failure()).toStdString();

    ASSERT_TRUE(backend.setSourceVolume(monitor, 100));

    // The tone is sox's half of full scale, the analysis's own amplitude, at half the level.
    std::lock_guard lock(rec.mutex);
    const Heard tone = analyse(rec.bytes);
    EXPECT_NEAR(double(tone.frames), 44100.0, 4410.0);
    EXPECT_NEAR(tone.hz, 1000.0, 5.0);
    EXPECT_NEAR(tone.levelDb, decibels(0.5), 1.0);
}

TEST_F(Wasapi, PauseHoldsThePositionAndSoundsShorterThanTheBufferFinish) {
    Staircase stairs;
    auto playback = opened(backend.openPlayback(kCd, stairs.pull()));
    ASSERT_TRUE(playback);
    ASSERT_TRUE(waitFor([&] { return playback->framesPlayed() > 4410; }));
    playback->pause();
    const std::uint64_t held = playback->framesPlayed();
    // A paused stream's position stays while the server's clock runs on (a capture counts it).
    Recording clock;
    auto capture = opened(backend.openCapture(0, kCd, clock.push()));
    ASSERT_TRUE(capture);
    ASSERT_TRUE(waitFor([&] { return clock.size() >= 44100 / 4 * 4; }));
    EXPECT_EQ(playback->framesPlayed(), held);
    EXPECT_FALSE(playback->finished());
    playback->resume();
    ASSERT_TRUE(waitFor([&] { return playback->finished(); }));
    EXPECT_EQ(playback->framesPlayed(), stairs.frames);

    // Short and empty sounds, and 8-bit mono at another rate (widened here, converted by Windows).
    for (std::size_t frames : {std::size_t(0), std::size_t(100)}) {
        Staircase shortOne;
        shortOne.frames = frames;
        auto brief = opened(backend.openPlayback(kCd, shortOne.pull()));
        ASSERT_TRUE(brief);
        ASSERT_TRUE(waitFor([&] { return brief->finished(); })) << frames;
        EXPECT_EQ(brief->framesPlayed(), frames);
        EXPECT_TRUE(brief->failure());
    }
    std::size_t given = 0;
    auto eightBit = opened(backend.openPlayback({22050, 1, 8}, [&](void* dst, std::size_t bytes) {
        const std::size_t n = std::min(bytes, 2205 - given);
        std::memset(dst, 0x90, n);
        given += n;
        return n;
    }));
    ASSERT_TRUE(eightBit);
    ASSERT_TRUE(waitFor([&] { return eightBit->finished(); }));
    EXPECT_TRUE(eightBit->failure()) << causeOf(eightBit->failure()).toStdString();
    EXPECT_EQ(eightBit->framesPlayed(), 2205u);
}

TEST_F(Wasapi, AServerKilledMidPlayAndMidRecordFailsInWordsAndTheNextStreamsWorkOnceItIsBack) {
    quaverly::test::PrivateSoundServer server;
    ASSERT_TRUE(server.start());
    const int loop = *backend.defaultSource();
    Staircase stairs;
    stairs.frames = 44100 * 30;
    auto playback = opened(backend.openPlayback(kCd, stairs.pull()));
    Recording rec;
    auto capture = opened(backend.openCapture(loop, kCd, rec.push()));
    ASSERT_TRUE(playback && capture);
    ASSERT_TRUE(waitFor([&] { return playback->framesPlayed() > 0 && rec.size() > 0; }));

    ASSERT_TRUE(server.kill());
    ASSERT_TRUE(waitFor([&] { return playback->finished() && !capture->failure(); }));
    EXPECT_FALSE(playback->failure());
    EXPECT_FALSE(causeOf(playback->failure()).isEmpty());
    EXPECT_FALSE(causeOf(capture->failure()).isEmpty());
    EXPECT_LT(playback->framesPlayed(), stairs.frames);
    playback.reset();
    capture.reset();

    ASSERT_TRUE(server.start());
    Staircase again;
    again.frames = 4410;
    auto next = opened(backend.openPlayback(kCd, again.pull()));
    ASSERT_TRUE(next);
    ASSERT_TRUE(waitFor([&] { return next->finished(); }));
    EXPECT_TRUE(next->failure()) << causeOf(next->failure()).toStdString();
    EXPECT_EQ(next->framesPlayed(), again.frames);
}

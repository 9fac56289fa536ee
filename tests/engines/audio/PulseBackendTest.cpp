// The sound server back end against the private test server (a null sink `testsink` whose
// monitor is remapped to the default source `testsink_loop`): what is played is recorded back.
// The tests that need the server are skipped when PULSE_SERVER is not set; the ones without a
// server always run.

#include "engines/audio/PulseBackend.h"
#include "SignalTools.h"
#include "support/PrivateSoundServer.h"

#include <gtest/gtest.h>

#include <QtGlobal>

#include <atomic>
#include <chrono>
#include <cmath>
#include <mutex>
#include <numbers>

using namespace quaverly::audio;
using namespace quaverly::audio::test;
using quaverly::Status;

namespace {

constexpr PcmFormat kCd{44100, 2, 16};

// A tone of `frames` frames, the same on every channel, 16-bit.
struct Tone {
    double hz = 1000.0;
    int amplitude = 16384; // -6 dB of full scale
    std::size_t frames = 44100;
    std::uint16_t channels = 2;
    std::atomic<std::size_t> pos{0};

    PullFn pull() {
        return [this](void* dst, std::size_t bytes) {
            auto* out = static_cast<std::int16_t*>(dst);
            const std::size_t want = bytes / (2u * channels);
            const std::size_t start = pos;
            const std::size_t n = std::min(want, frames - start);
            for (std::size_t i = 0; i < n; ++i) {
                const double t = static_cast<double>(start + i) / 44100.0;
                const auto v = static_cast<std::int16_t>(
                    std::lround(amplitude * std::sin(2 * std::numbers::pi * hz * t)));
                for (int ch = 0; ch < channels; ++ch) {
                    *out++ = v;
                }
            }
            pos = start + n;
            return n * 2u * channels;
        };
    }
};

struct Recording {
    std::mutex mutex;
    std::vector<std::uint8_t> bytes;
    std::atomic<int> blocks{0};

    PushFn push() {
        return [this](const void* data, std::size_t n) {
            std::lock_guard lock(mutex);
            const auto* p = static_cast<const std::uint8_t*>(data);
            bytes.insert(bytes.end(), p, p + n);
            ++blocks;
            return true;
        };
    }
};

// Lets the server run at least `ms` milliseconds on from now by its own clock: a capture of
// `source` opened now takes in that much sound, all of it made after it opened, however late
// this thread gets to run.
bool serverRuns(PulseBackend& backend, int source, int ms) {
    std::atomic<std::uint64_t> taken{0};
    const auto clock = opened(backend.openCapture(source, kCd, [&](const void*, std::size_t n) {
        taken += n;
        return true;
    }));
    const std::uint64_t bytes = std::uint64_t(ms) * kCd.sampleRate / 1000 * kCd.bytesPerFrame();
    return clock && waitFor([&] { return taken >= bytes; });
}

int indexOf(const std::vector<SourceInfo>& list, const char* name) {
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (list[i].name == QLatin1String(name)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int indexOf(const quaverly::Result<std::vector<SourceInfo>>& listed, const char* name) {
    return listed ? indexOf(*listed, name) : -1;
}

class PulseServer : public testing::Test {
protected:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER")) {
            GTEST_SKIP() << "PULSE_SERVER is not set: no private sound server";
        }
        const Status up = backend.available();
        ASSERT_TRUE(up) << causeOf(up).toStdString();
    }

    PulseBackend backend;
};

} // namespace

TEST(PulseBackendWithoutServer, FailsAtOnceWithAReasonAndEveryCallFailsCleanly) {
    PulseBackend b(QStringLiteral("unix:/nonexistent"));
    const auto start = std::chrono::steady_clock::now();
    const QString error = causeOf(b.available());
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // A missing socket is refused at once; only a server that never answers waits (2 s).
    EXPECT_LT(seconds, 1.5);
    EXPECT_TRUE(error.contains(QLatin1String("unix:/nonexistent"))) << error.toStdString();
    EXPECT_FALSE(error.contains(QLatin1String("no answer"))) << error.toStdString();

    Tone tone;
    EXPECT_FALSE(causeOf(b.openPlayback(kCd, tone.pull())).isEmpty());
    EXPECT_FALSE(
        causeOf(b.openCapture(0, kCd, [](const void*, std::size_t) { return true; })).isEmpty());
    EXPECT_FALSE(causeOf(b.sources()).isEmpty());
    EXPECT_FALSE(causeOf(b.defaultSource()).isEmpty());
    EXPECT_FALSE(causeOf(b.setSourceVolume(0, 50)).isEmpty());
    EXPECT_EQ(tone.pos, 0u);
}

TEST_F(PulseServer, HonoursPulseServerFromTheEnvironment) {
    // The fixture's backend is given no server: it reached the one PULSE_SERVER names (that
    // server's own sources, not those of another), and a new one follows PULSE_SERVER elsewhere.
    EXPECT_GE(indexOf(backend.sources(), "testsink_loop"), 0);
    const QByteArray saved = qgetenv("PULSE_SERVER");
    qputenv("PULSE_SERVER", "unix:/nonexistent");
    PulseBackend missing;
    const QString error = causeOf(missing.available());
    EXPECT_TRUE(error.contains(QLatin1String("unix:/nonexistent"))) << error.toStdString();
    qputenv("PULSE_SERVER", saved);
}

TEST_F(PulseServer, ListsEverySourceWithTheLoopAsDefault) {
    const auto sources = backend.sources();
    ASSERT_TRUE(sources) << causeOf(sources).toStdString();
    const auto& list = *sources;
    ASSERT_FALSE(list.empty());
    const int monitor = indexOf(list, "testsink.monitor");
    const int loop = indexOf(list, "testsink_loop");
    ASSERT_GE(monitor, 0);
    ASSERT_GE(loop, 0);
    EXPECT_EQ(list[static_cast<std::size_t>(monitor)].kind, SourceKind::Monitor);
    EXPECT_NE(list[static_cast<std::size_t>(loop)].kind, SourceKind::Monitor);
    for (const auto& s : list) {
        EXPECT_FALSE(s.description.isEmpty()) << s.name.toStdString();
        EXPECT_GE(s.volumePercent, 0);
        EXPECT_LE(s.volumePercent, kMaxVolumePercent);
    }
    EXPECT_EQ(*backend.defaultSource(), loop);
}

TEST_F(PulseServer, SetsAnInputLevelInPercent) {
    const int loop = indexOf(backend.sources(), "testsink_loop");
    ASSERT_GE(loop, 0);
    for (const int percent : {50, 100}) {
        const Status set = backend.setSourceVolume(loop, percent);
        ASSERT_TRUE(set) << causeOf(set).toStdString();
        EXPECT_EQ((*backend.sources())[static_cast<std::size_t>(loop)].volumePercent, percent);
    }
    EXPECT_FALSE(causeOf(backend.setSourceVolume(loop, -5)).isEmpty());
    EXPECT_FALSE(causeOf(backend.setSourceVolume(9999, 50)).isEmpty());
}

TEST_F(PulseServer, PlaysAToneThatRecordsBackFromTheLoop) {
    const int loop = *backend.defaultSource();
    ASSERT_GE(loop, 0);
    Recording rec;
    auto capture = opened(backend.openCapture(loop, kCd, rec.push()));
    ASSERT_TRUE(capture);
    ASSERT_TRUE(waitFor([&] { return rec.blocks >= 2; }));

    Tone tone;
    auto playback = opened(backend.openPlayback(kCd, tone.pull()));
    ASSERT_TRUE(playback);
    // The position moves while it plays, never back and never past what was written.
    std::uint64_t last = 0;
    std::uint64_t largestLag = 0;
    bool seenMidway = false;
    ASSERT_TRUE(waitFor(
        [&] {
            const std::uint64_t now = playback->framesPlayed();
            EXPECT_GE(now, last);
            EXPECT_LE(now, tone.pos.load());
            seenMidway = seenMidway || (now > 0 && now < tone.frames);
            largestLag = std::max<std::uint64_t>(largestLag, tone.pos - now);
            last = now;
            return playback->finished();
        },
        10.0));
    EXPECT_TRUE(seenMidway);
    // What is heard lags what was written by the server's buffer: frames written are not frames
    // played.
    EXPECT_GE(largestLag, 44100u / 20);
    EXPECT_EQ(playback->framesPlayed(), tone.frames);
    EXPECT_TRUE(playback->failure());
    // Recorded until well past where the tone ends (the check allows it a tenth more).
    EXPECT_TRUE(waitFor([&] {
        std::lock_guard lock(rec.mutex);
        return framesFromTone(rec.bytes.data(), rec.bytes.size()) >= 44100 * 5 / 4;
    })) << "the tone was not recorded to its end";
    capture->stop();
    EXPECT_TRUE(capture->failure());

    std::lock_guard lock(rec.mutex);
    const auto left = channelOf(rec.bytes, 2, 0);
    const auto right = channelOf(rec.bytes, 2, 1);
    std::size_t first = left.size();
    std::size_t lastLoud = 0;
    for (std::size_t i = 0; i < left.size(); ++i) {
        if (std::abs(left[i]) > tone.amplitude / 4) {
            first = std::min(first, i);
            lastLoud = i;
        }
    }
    ASSERT_LT(first, left.size()) << "the tone was not recorded";
    const std::size_t length = lastLoud - first;
    EXPECT_NEAR(static_cast<double>(length), 44100.0, 4410.0);
    // Measure the middle, away from the edges.
    const std::size_t from = first + length / 10;
    const std::size_t to = lastLoud - length / 10;
    EXPECT_NEAR(zeroCrossingHz(left, from, to, 44100), 1000.0, 5.0);
    const double expectedRms = tone.amplitude / std::sqrt(2.0);
    EXPECT_NEAR(decibels(rms(left, from, to) / expectedRms), 0.0, 1.0);
    EXPECT_NEAR(decibels(rms(right, from, to) / expectedRms), 0.0, 1.0);
}

TEST_F(PulseServer, PauseHoldsThePositionAndResumeFinishes) {
    Tone tone;
    tone.frames = 2 * 44100;
    auto playback = opened(backend.openPlayback(kCd, tone.pull()));
    ASSERT_TRUE(playback);
    ASSERT_TRUE(waitFor([&] { return playback->framesPlayed() > 44100 / 5; }));
    playback->pause();
    const int loop = *backend.defaultSource();
    ASSERT_TRUE(serverRuns(backend, loop, 200)); // what was in the server's output is heard
    const std::uint64_t held = playback->framesPlayed();
    ASSERT_TRUE(serverRuns(backend, loop, 400));
    EXPECT_NEAR(static_cast<double>(playback->framesPlayed()), static_cast<double>(held), 441.0);
    EXPECT_LT(playback->framesPlayed(), tone.frames);
    EXPECT_FALSE(playback->finished());

    playback->resume();
    ASSERT_TRUE(waitFor([&] { return playback->finished(); }, 10.0));
    EXPECT_EQ(playback->framesPlayed(), tone.frames);
    EXPECT_TRUE(playback->failure());
}

TEST_F(PulseServer, SoundsShorterThanTheBufferAndEmptyOnesFinish) {
    const PcmFormat mono8{22050, 1, 8};
    std::atomic<std::size_t> given{0};
    auto shortOne = opened(backend.openPlayback(mono8, [&](void* dst, std::size_t bytes) {
        const std::size_t n = std::min(bytes, 1102 - given.load()); // 50 ms
        std::memset(dst, 0x80, n);
        given += n;
        return n;
    }));
    ASSERT_TRUE(shortOne);
    auto empty =
        opened(backend.openPlayback(kCd, [](void*, std::size_t) { return std::size_t{0}; }));
    ASSERT_TRUE(empty);
    ASSERT_TRUE(waitFor([&] { return shortOne->finished() && empty->finished(); }, 10.0));
    EXPECT_EQ(shortOne->framesPlayed(), 1102u);
    EXPECT_EQ(empty->framesPlayed(), 0u);
}

TEST_F(PulseServer, CaptureStopsForGoodAndChoosingAnInputChangesNothingElse) {
    const auto list = *backend.sources();
    const int monitor = indexOf(list, "testsink.monitor");
    const int loop = indexOf(list, "testsink_loop");
    ASSERT_GE(monitor, 0);

    std::atomic<int> calls{0};
    auto capture = opened(backend.openCapture(monitor, kCd, [&](const void*, std::size_t) {
        ++calls;
        return true;
    }));
    ASSERT_TRUE(capture);
    ASSERT_TRUE(waitFor([&] { return calls >= 3; }));
    EXPECT_EQ(*backend.defaultSource(), loop);
    capture->stop();
    const int atStop = calls;
    ASSERT_TRUE(serverRuns(backend, monitor, 200));
    EXPECT_EQ(calls, atStop);

    std::atomic<int> declined{0};
    auto second = opened(backend.openCapture(
        monitor, kCd, [&](const void*, std::size_t) { return ++declined < 2; }));
    ASSERT_TRUE(second);
    ASSERT_TRUE(waitFor([&] { return declined >= 2; }));
    ASSERT_TRUE(serverRuns(backend, monitor, 200));
    EXPECT_EQ(declined, 2);

    EXPECT_FALSE(causeOf(backend.openCapture(static_cast<int>(list.size()), kCd,
                                             [](const void*, std::size_t) { return true; }))
                     .isEmpty());
}

TEST(PulseBackendServerGoesAway, PlaybackFailsWithAReasonAndTheNextStreamConnectsAgain) {
    if (qEnvironmentVariableIsEmpty("PULSE_SERVER")) {
        GTEST_SKIP() << "PULSE_SERVER is not set: no private sound server";
    }
    quaverly::test::PrivateSoundServer server;
    ASSERT_TRUE(server.start());
    PulseBackend backend(server.address);
    Tone tone;
    tone.frames = 10 * 44100;
    auto playback = opened(backend.openPlayback(kCd, tone.pull()));
    ASSERT_TRUE(playback);
    ASSERT_TRUE(waitFor([&] { return playback->framesPlayed() > 4410; }));
    const std::uint64_t asked = playback->framesPlayed();
    ASSERT_TRUE(serverRuns(backend, *backend.defaultSource(), 300)); // heard on unasked

    ASSERT_TRUE(server.stop());
    ASSERT_TRUE(waitFor([&] { return playback->finished(); }, 2.0));
    EXPECT_FALSE(causeOf(playback->failure()).isEmpty());
    const std::uint64_t heard = playback->framesPlayed();
    EXPECT_GT(heard, asked + 44100 / 5) << "the position when the server went away";
    EXPECT_LT(heard, tone.frames);
    playback->pause(); // a dead stream has nothing to wait for
    EXPECT_FALSE(causeOf(backend.openPlayback(kCd, tone.pull())).isEmpty());

    ASSERT_TRUE(server.start());
    Tone again;
    auto next = opened(backend.openPlayback(kCd, again.pull()));
    ASSERT_TRUE(next);
    EXPECT_TRUE(waitFor([&] { return next->framesPlayed() > 4410; }));
    EXPECT_TRUE(next->failure());
    EXPECT_EQ(playback->framesPlayed(), heard);
}

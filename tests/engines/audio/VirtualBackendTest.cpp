// The virtual sound device: exact playback counts, the known input signals, the loopback monitor,
// pause, stop and a device that cannot be had.

#include "engines/audio/VirtualBackend.h"
#include "SignalTools.h"
#include "support/Waits.h"

#include <gtest/gtest.h>

#include <QtGlobal>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <set>

using namespace quaverly::audio;
using namespace quaverly::audio::test;
using quaverly::test::advanceVirtualClock;

namespace {

constexpr PcmFormat kCd{44100, 2, 16};

// Collects what a capture delivers, block by block.
struct Recording {
    std::mutex mutex;
    std::vector<std::uint8_t> bytes;
    std::vector<std::size_t> blockSizes;
    std::atomic<int> blocks{0};

    PushFn push() {
        return [this](const void* data, std::size_t n) {
            std::lock_guard lock(mutex);
            const auto* p = static_cast<const std::uint8_t*>(data);
            bytes.insert(bytes.end(), p, p + n);
            blockSizes.push_back(n);
            ++blocks;
            return true;
        };
    }
    std::size_t size() {
        std::lock_guard lock(mutex);
        return bytes.size();
    }
};

// A sound whose every sample differs from its neighbours' and is never silent, so a shift by one
// frame, a lost frame or swapped channels all show.
std::vector<std::uint8_t> rampSound(const PcmFormat& f, std::size_t frames) {
    std::vector<std::uint8_t> out(frames * f.bytesPerFrame());
    std::uint8_t* p = out.data();
    for (std::size_t n = 0; n < frames; ++n) {
        for (int ch = 0; ch < f.channels; ++ch) {
            if (f.bitsPerSample == 8) {
                *p++ = static_cast<std::uint8_t>(1 + (n * 3 + static_cast<std::size_t>(ch)) % 100);
            } else {
                const int v = static_cast<int>((n % 3000) + 1) * 10 * (ch % 2 == 0 ? 1 : -1);
                const auto u = static_cast<std::uint16_t>(static_cast<std::int16_t>(v));
                *p++ = static_cast<std::uint8_t>(u & 0xFF);
                *p++ = static_cast<std::uint8_t>(u >> 8);
            }
        }
    }
    return out;
}

// Plays `data` once; counts the bytes handed over.
struct Player {
    std::vector<std::uint8_t> data;
    std::atomic<std::size_t> pos{0};

    PullFn pull() {
        return [this](void* dst, std::size_t bytes) {
            const std::size_t n = std::min(bytes, data.size() - pos);
            std::memcpy(dst, data.data() + pos, n);
            pos += n;
            return n;
        };
    }
};

} // namespace

TEST(VirtualBackend, ListsItsThreeInputsAndSetsTheirLevels) {
    VirtualBackend b(10);
    ASSERT_TRUE(b.available());
    auto sources = b.sources();
    ASSERT_TRUE(sources);
    auto& list = *sources;
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].kind, SourceKind::Microphone);
    EXPECT_EQ(list[1].kind, SourceKind::LineIn);
    EXPECT_EQ(list[2].kind, SourceKind::Monitor);
    EXPECT_EQ(list[2].name, QStringLiteral("virtual.monitor"));
    for (const auto& s : list) {
        EXPECT_FALSE(s.description.isEmpty());
        EXPECT_EQ(s.volumePercent, 100);
    }
    EXPECT_EQ(*b.defaultSource(), VirtualBackend::kMicrophone);
    b.setDefaultSource(VirtualBackend::kMonitor);
    EXPECT_EQ(*b.defaultSource(), VirtualBackend::kMonitor);

    ASSERT_TRUE(b.setSourceVolume(VirtualBackend::kLineIn, 40));
    list = *b.sources();
    EXPECT_EQ(list[1].volumePercent, 40);
    EXPECT_EQ(list[0].volumePercent, 100);

    EXPECT_FALSE(causeOf(b.setSourceVolume(3, 50)).isEmpty());
    EXPECT_FALSE(causeOf(b.setSourceVolume(0, -1)).isEmpty());
    EXPECT_FALSE(causeOf(b.setSourceVolume(0, kMaxVolumePercent + 1)).isEmpty());
    EXPECT_EQ((*b.sources())[0].volumePercent, 100);
}

TEST(VirtualBackend, MicrophoneGivesAOneKilohertzSineInFixedBlocks) {
    VirtualBackend b(10);
    for (int level : {100, 50}) {
        SCOPED_TRACE(level);
        ASSERT_TRUE(b.setSourceVolume(VirtualBackend::kMicrophone, level));
        Recording rec;
        auto capture = opened(b.openCapture(VirtualBackend::kMicrophone, kCd, rec.push()));
        ASSERT_TRUE(capture);
        ASSERT_TRUE(waitFor([&] { return rec.size() >= 44100u * 4; }));
        capture->stop();

        for (std::size_t s : rec.blockSizes) {
            ASSERT_EQ(s, 882u * 4); // 20 ms of 44.1 kHz stereo
        }
        const auto left = channelOf(rec.bytes, 2, 0);
        const auto right = channelOf(rec.bytes, 2, 1);
        ASSERT_EQ(left, right);
        for (std::size_t n = 0; n < left.size(); ++n) {
            ASSERT_EQ(left[n], VirtualBackend::microphoneSample(n, 44100) * level / 100) << n;
        }
        // Measured independently of the generator: frequency, peak and level.
        EXPECT_NEAR(zeroCrossingHz(left, 0, 44100, 44100), 1000.0, 1.0);
        const int peak = *std::max_element(left.begin(), left.end());
        EXPECT_NEAR(peak, VirtualBackend::kMicAmplitude * level / 100, 2);
        EXPECT_NEAR(rms(left, 0, 44100), peak / std::sqrt(2.0), peak * 0.01);
    }
}

TEST(VirtualBackend, LineInIsAStaircaseAndEightBitCapturesAreUnsigned) {
    VirtualBackend b(10);
    Recording rec;
    const PcmFormat mono8{22050, 1, 8};
    auto capture = opened(b.openCapture(VirtualBackend::kLineIn, mono8, rec.push()));
    ASSERT_TRUE(capture);
    ASSERT_TRUE(waitFor([&] { return rec.size() >= 22050u; }));
    capture.reset(); // the destructor stops it as well
    EXPECT_EQ(b.openStreams(), 0);

    for (std::size_t s : rec.blockSizes) {
        ASSERT_EQ(s, 441u);
    }
    std::set<int> levels;
    for (std::size_t n = 0; n < rec.bytes.size(); ++n) {
        const int expected = (VirtualBackend::lineInSample(n) >> 8) + 128;
        ASSERT_EQ(rec.bytes[n], expected) << n;
        levels.insert(rec.bytes[n]);
        // Steps of 64 frames, four 8-bit units high, starting again after 32 steps.
        if (n % 64 != 0) {
            ASSERT_EQ(rec.bytes[n], rec.bytes[n - 1]) << n;
        } else if (n % 2048 != 0) {
            ASSERT_EQ(rec.bytes[n], rec.bytes[n - 1] + 4) << n;
        }
    }
    EXPECT_EQ(levels.size(), 32u);
    EXPECT_EQ(*levels.begin(), 64);
}

// Loopback in several formats, one of them at a rate whose periods are not all the same length.
class VirtualLoopback : public testing::TestWithParam<PcmFormat> {};

TEST_P(VirtualLoopback, MonitorRecordsExactlyWhatWasPlayed) {
    const PcmFormat f = GetParam();
    VirtualBackend b(10);
    Recording rec;
    auto capture = opened(b.openCapture(VirtualBackend::kMonitor, f, rec.push()));
    ASSERT_TRUE(capture);
    ASSERT_TRUE(waitFor([&] { return rec.blocks >= 3; }));

    const std::size_t frames = f.sampleRate + 123; // ends inside a period
    Player player{rampSound(f, frames)};
    auto playback = opened(b.openPlayback(f, player.pull()));
    ASSERT_TRUE(playback);
    ASSERT_TRUE(waitFor([&] { return playback->finished(); }));
    EXPECT_EQ(playback->framesPlayed(), frames);
    EXPECT_EQ(player.pos, player.data.size());
    EXPECT_TRUE(playback->failure());
    const int blocksAtEnd = rec.blocks;
    ASSERT_TRUE(waitFor([&] { return rec.blocks >= blocksAtEnd + 5; }));
    capture->stop();

    EXPECT_EQ(b.playedBytes(), player.data);
    EXPECT_EQ(b.playedByteCount(), player.data.size());

    const std::uint8_t silent = f.bitsPerSample == 8 ? 0x80 : 0x00;
    const auto& got = rec.bytes;
    const auto start =
        std::find_if(got.begin(), got.end(), [&](std::uint8_t v) { return v != silent; });
    ASSERT_NE(start, got.end());
    const auto offset = static_cast<std::size_t>(start - got.begin());
    ASSERT_EQ(offset % f.bytesPerFrame(), 0u);
    ASSERT_GE(got.size(), offset + player.data.size());
    EXPECT_TRUE(std::equal(player.data.begin(), player.data.end(), start));
    EXPECT_TRUE(std::all_of(start + static_cast<std::ptrdiff_t>(player.data.size()), got.end(),
                            [&](std::uint8_t v) { return v == silent; }));
    // The played sound starts on a block boundary of the capture.
    std::size_t boundary = 0;
    for (std::size_t s : rec.blockSizes) {
        if (boundary >= offset) {
            break;
        }
        boundary += s;
    }
    EXPECT_EQ(boundary, offset);
}

INSTANTIATE_TEST_SUITE_P(Formats, VirtualLoopback,
                         testing::Values(PcmFormat{44100, 2, 16}, PcmFormat{11025, 1, 8},
                                         PcmFormat{48000, 1, 16}));

TEST(VirtualBackend, MonitorConvertsOtherFormatsAndFollowsItsLevel) {
    VirtualBackend b(10);
    ASSERT_TRUE(b.setSourceVolume(VirtualBackend::kMonitor, 50));
    Recording rec;
    auto capture = opened(b.openCapture(VirtualBackend::kMonitor, kCd, rec.push()));
    ASSERT_TRUE(capture);
    // Mono 8-bit at 22.05 kHz, one constant level: (200 - 128) * 256 = 18432 at 16 bits.
    const PcmFormat mono8{22050, 1, 8};
    Player player{std::vector<std::uint8_t>(22050 / 2, 200)};
    auto playback = opened(b.openPlayback(mono8, player.pull()));
    ASSERT_TRUE(playback);
    ASSERT_TRUE(waitFor([&] { return playback->finished(); }));
    const int blocksAtEnd = rec.blocks;
    ASSERT_TRUE(waitFor([&] { return rec.blocks >= blocksAtEnd + 2; }));
    capture->stop();

    const auto left = channelOf(rec.bytes, 2, 0);
    const auto right = channelOf(rec.bytes, 2, 1);
    ASSERT_EQ(left, right);
    const auto loud = std::count(left.begin(), left.end(), 18432 / 2);
    EXPECT_EQ(loud, 44100 / 2);
    EXPECT_EQ(std::count(left.begin(), left.end(), 0) + loud,
              static_cast<std::ptrdiff_t>(left.size()));
}

TEST(VirtualBackend, PauseKeepsThePositionAndResumeGoesOn) {
    VirtualBackend b(10);
    const std::size_t frames = 2 * 44100;
    Player player{rampSound(kCd, frames)};
    auto playback = opened(b.openPlayback(kCd, player.pull()));
    ASSERT_TRUE(playback);
    ASSERT_TRUE(waitFor([&] { return playback->framesPlayed() >= 4410; }));
    playback->pause();
    const std::uint64_t held = playback->framesPlayed();
    const std::size_t pulled = player.pos;
    ASSERT_TRUE(advanceVirtualClock(b, 5));
    EXPECT_EQ(playback->framesPlayed(), held);
    EXPECT_EQ(player.pos, pulled);
    EXPECT_FALSE(playback->finished());
    EXPECT_LT(held, frames);
    // Everything pulled has been heard: the virtual device has no latency.
    EXPECT_EQ(held * kCd.bytesPerFrame(), pulled);

    playback->resume();
    ASSERT_TRUE(waitFor([&] { return playback->finished(); }));
    EXPECT_EQ(playback->framesPlayed(), frames);
    EXPECT_EQ(b.playedBytes(), player.data);
}

TEST(VirtualBackend, NoCaptureCallbackAfterStopOrAfterTheCallbackDeclines) {
    VirtualBackend b(10);
    std::atomic<int> calls{0};
    std::atomic<std::size_t> taken{0};
    auto capture =
        opened(b.openCapture(VirtualBackend::kMicrophone, kCd, [&](const void*, std::size_t n) {
            ++calls;
            taken += n;
            return true;
        }));
    ASSERT_TRUE(capture);
    ASSERT_TRUE(waitFor([&] { return calls >= 3; }));
    capture->stop();
    const int atStop = calls;
    ASSERT_TRUE(advanceVirtualClock(b, 5));
    EXPECT_EQ(calls, atStop);
    EXPECT_EQ(taken, static_cast<std::size_t>(atStop) * 882 * 4);
    capture->stop(); // twice is harmless

    std::atomic<int> declined{0};
    auto second = opened(b.openCapture(VirtualBackend::kLineIn, kCd,
                                       [&](const void*, std::size_t) { return ++declined < 5; }));
    ASSERT_TRUE(second);
    ASSERT_TRUE(waitFor([&] { return declined >= 5; }));
    ASSERT_TRUE(advanceVirtualClock(b, 5));
    EXPECT_EQ(declined, 5);
    EXPECT_EQ(b.openStreams(), 1);
    second.reset();
    EXPECT_EQ(b.openStreams(), 0);
}

TEST(VirtualBackend, AFailedDeviceRefusesEverythingAndEndsOpenStreams) {
    VirtualBackend b(10);
    Player player{rampSound(kCd, 10 * 44100)};
    auto playback = opened(b.openPlayback(kCd, player.pull()));
    std::atomic<int> calls{0};
    auto capture =
        opened(b.openCapture(VirtualBackend::kMicrophone, kCd, [&](const void*, std::size_t) {
            ++calls;
            return true;
        }));
    ASSERT_TRUE(playback && capture);
    ASSERT_TRUE(waitFor([&] { return calls >= 2 && playback->framesPlayed() > 0; }));

    b.setFailure(QStringLiteral("No sound device"));
    EXPECT_TRUE(playback->finished());
    EXPECT_EQ(causeOf(playback->failure()), QStringLiteral("No sound device"));
    EXPECT_LT(playback->framesPlayed(), 10u * 44100);
    const int atFailure = calls;
    const std::uint64_t playedAtFailure = playback->framesPlayed();
    EXPECT_EQ(causeOf(capture->failure()), QStringLiteral("No sound device"));

    const auto unavailable = b.available();
    ASSERT_FALSE(unavailable);
    EXPECT_EQ(unavailable.error().cause(), QStringLiteral("No sound device"));
    EXPECT_FALSE(causeOf(b.openPlayback(kCd, player.pull())).isEmpty());
    EXPECT_FALSE(
        causeOf(b.openCapture(0, kCd, [](const void*, std::size_t) { return true; })).isEmpty());
    EXPECT_FALSE(causeOf(b.sources()).isEmpty());
    EXPECT_FALSE(causeOf(b.defaultSource()).isEmpty());
    EXPECT_FALSE(causeOf(b.setSourceVolume(0, 50)).isEmpty());

    b.setFailure({});
    EXPECT_TRUE(b.available());
    EXPECT_EQ(b.sources()->size(), 3u);
    // The streams that failed stay ended once the device works again.
    ASSERT_TRUE(advanceVirtualClock(b, 5));
    EXPECT_EQ(calls, atFailure);
    EXPECT_EQ(playback->framesPlayed(), playedAtFailure);
}

TEST(VirtualBackend, RefusesFormatsItCannotPlayAndMissingCallbacks) {
    VirtualBackend b(10);
    Player player{rampSound(kCd, 100)};
    for (const PcmFormat& f :
         {PcmFormat{44100, 2, 24}, PcmFormat{44100, 0, 16}, PcmFormat{44100, 9, 16},
          PcmFormat{0, 2, 16}, PcmFormat{500000, 2, 16}}) {
        EXPECT_FALSE(causeOf(b.openPlayback(f, player.pull())).isEmpty());
        EXPECT_FALSE(
            causeOf(b.openCapture(0, f, [](const void*, std::size_t) { return true; })).isEmpty());
    }
    EXPECT_FALSE(causeOf(b.openPlayback(kCd, nullptr)).isEmpty());
    EXPECT_FALSE(causeOf(b.openCapture(0, kCd, nullptr)).isEmpty());
    EXPECT_FALSE(
        causeOf(b.openCapture(-1, kCd, [](const void*, std::size_t) { return true; })).isEmpty());
    EXPECT_EQ(b.openStreams(), 0);
}

TEST(VirtualBackend, EmptySoundFinishesAtOnceWithNothingPlayed) {
    VirtualBackend b(10);
    auto playback = opened(b.openPlayback(kCd, [](void*, std::size_t) { return std::size_t{0}; }));
    ASSERT_TRUE(playback);
    ASSERT_TRUE(waitFor([&] { return playback->finished(); }));
    EXPECT_EQ(playback->framesPlayed(), 0u);
    EXPECT_EQ(b.playedByteCount(), 0u);
}

TEST(VirtualBackend, DefaultBackendIsOneSharedVirtualDeviceWhenAsked) {
    qputenv("QUAVERLY_AUDIO", "virtual");
    auto first = defaultBackend();
    auto second = defaultBackend();
    ASSERT_TRUE(first);
    EXPECT_EQ(first, second);
    EXPECT_EQ(first->name(), QStringLiteral("virtual"));
    EXPECT_TRUE(dynamic_cast<VirtualBackend*>(first.get()));
}

TEST(VirtualBackend, SpeedComesFromTheEnvironment) {
    qputenv("QUAVERLY_VIRTUAL_SPEED", "25");
    EXPECT_EQ(VirtualBackend::speedFromEnvironment(), 25.0);
    qputenv("QUAVERLY_VIRTUAL_SPEED", "fast");
    EXPECT_EQ(VirtualBackend::speedFromEnvironment(), VirtualBackend::kDefaultSpeed);
    qputenv("QUAVERLY_VIRTUAL_SPEED", "0");
    EXPECT_EQ(VirtualBackend::speedFromEnvironment(), VirtualBackend::kDefaultSpeed);
    qunsetenv("QUAVERLY_VIRTUAL_SPEED");
    EXPECT_EQ(VirtualBackend::speedFromEnvironment(), VirtualBackend::kDefaultSpeed);
    EXPECT_EQ(VirtualBackend(25).speed(), 25.0);
}

// The take in memory (growth rule, header sizes), the recording into it on the virtual device
// with the line-in's staircase checked to the sample, and the ways a take ends early: each keeps
// every byte recorded before it.
//
// The pumping thread polls about every millisecond, far more often than the window does.
#include "engines/audio/SignalTools.h"
#include "engines/audio/VirtualBackend.h"
#include "recorder/TakeRecorder.h"
#include "support/TestAudio.h"

#include <gtest/gtest.h>

#include <atomic>
#include <optional>

using namespace quaverly;
using audio::VirtualBackend;

namespace {

// A staircase of 16-bit samples starting at `from`, as bytes.
std::vector<std::uint8_t> stairBytes(std::size_t bytes, std::size_t from = 0) {
    std::vector<std::uint8_t> b(bytes);
    for (std::size_t i = 0; i < bytes; ++i)
        b[i] = std::uint8_t((from + i) * 7);
    return b;
}

// The size of the last block the take asked for.
std::size_t lastAsked = 0;
void* reallocateAndNote(void* block, std::size_t bytes) {
    lastAsked = bytes;
    return std::realloc(block, bytes);
}

TEST(RecordTake, GrowsWhenABlockReachesTheNextStepAndKeepsItsBytes) {
    const struct {
        std::vector<std::size_t> blocks;
        std::size_t capacity; // after the last block
    } cases[] = {
        {{199955}, 200000},               // length 199999: still fits
        {{199956}, 400000},               // length exactly 200000: grows, though it would fit
        {{100000, 99956}, 400000},        // the second block reaches the step
        {{3528, 196428}, 400000},         // 44 + 3528 + 196428 = 200000
        {{500000}, 44 + 500000 + 200000}, // a block larger than the step
        {{199956, 199999}, 400000},       // length 399999 fits the grown block
    };
    for (const auto& c : cases) {
        RecordTake take(&reallocateAndNote);
        ASSERT_TRUE(take.start());
        EXPECT_EQ(lastAsked, RecordTake::kGrowStep);
        std::size_t at = 0;
        for (std::size_t n : c.blocks) {
            ASSERT_TRUE(take.append(stairBytes(n, at).data(), n));
            at += n;
        }
        EXPECT_EQ(lastAsked, c.capacity) << c.blocks.size() << " " << c.blocks[0];
        EXPECT_EQ(take.length(), 44 + at);
        EXPECT_EQ(std::vector<std::uint8_t>(take.data() + 44, take.data() + 44 + at),
                  stairBytes(at));
    }
}

TEST(RecordTake, TenSecondsMakeTheExactWavSizesAndAFailedGrowthLosesNothing) {
    RecordTake take;
    ASSERT_TRUE(take.start());
    EXPECT_EQ(test::le32(QByteArray(reinterpret_cast<const char*>(take.data()), 44), 4), 0u);
    const auto block = stairBytes(3528); // 20 ms of 44.1 kHz stereo
    for (int i = 0; i < 500; ++i)
        ASSERT_TRUE(take.append(block.data(), block.size()));
    take.finish();
    const QByteArray head(reinterpret_cast<const char*>(take.data()), 44);
    EXPECT_EQ(take.length(), 44u + 1764000u);
    EXPECT_EQ(test::le32(head, 4), 1764036u);
    EXPECT_EQ(test::le32(head, 40), 1764000u);
    EXPECT_EQ(head.left(4), "RIFF");
    EXPECT_EQ(test::le32(head, 24), 44100u);
    EXPECT_EQ(test::le32(head, 28), 176400u);

    // The block cannot grow: the take keeps all it had.
    RecordTake starved([](void* p, std::size_t n) { return p ? nullptr : std::realloc(p, n); });
    ASSERT_TRUE(starved.start());
    ASSERT_TRUE(starved.append(block.data(), 3528));
    EXPECT_FALSE(starved.append(stairBytes(200000).data(), 200000));
    EXPECT_EQ(starved.length(), 44u + 3528u);
    EXPECT_TRUE(std::equal(block.begin(), block.end(), starved.data() + 44));
}

// The line-in of the virtual device, recorded through its capture device.
class Recording : public ::testing::Test {
protected:
    void SetUp() override {
        device = std::dynamic_pointer_cast<VirtualBackend>(audio::defaultBackend());
        ASSERT_TRUE(device);
        auto opened = audio::CaptureDevice::open(device);
        ASSERT_TRUE(opened) << opened.error().text().toStdString();
        capture.emplace(std::move(*opened));
        ASSERT_TRUE(capture->choose(VirtualBackend::kLineIn));
    }
    void TearDown() override {
        if (device)
            device->setFailure(QString());
    }
    void begin(TakeRecorder& r) {
        const Status started = r.BeginRecording(*capture);
        ASSERT_TRUE(started) << started.error().text().toStdString();
    }

    // Pumps until the take holds `bytes` of samples or the recording asks to end.
    static TakeRecorder::Stop pumpUntil(TakeRecorder& r, std::uint64_t bytes) {
        TakeRecorder::Stop why = TakeRecorder::Stop::None;
        (void)audio::test::waitFor(
            [&] {
                why = r.pump();
                return why != TakeRecorder::Stop::None || r.take().dataBytes() >= bytes;
            },
            20.0);
        return why;
    }

    // Every frame of the take is the line-in's staircase from its first frame, both channels.
    static void expectStaircase(const RecordTake& take) {
        const QByteArray bytes(reinterpret_cast<const char*>(take.data()),
                               qsizetype(take.length()));
        const auto s = test::samples16(bytes);
        ASSERT_EQ(s.size() % 2, 0u);
        std::size_t wrong = 0;
        for (std::size_t f = 0; f < s.size() / 2; ++f)
            wrong += s[2 * f] != VirtualBackend::lineInSample(f) ||
                     s[2 * f + 1] != VirtualBackend::lineInSample(f);
        EXPECT_EQ(wrong, 0u) << "of " << s.size() / 2 << " frames";
    }

    std::shared_ptr<VirtualBackend> device;
    std::optional<audio::CaptureDevice> capture;
};

TEST_F(Recording, TheTakeIsTheInputsSoundToTheSampleAndPlaysFromMemory) {
    TakeRecorder r;
    ASSERT_NO_FATAL_FAILURE(begin(r));
    ASSERT_EQ(pumpUntil(r, 3 * RecordTake::kBytesPerSecond), TakeRecorder::Stop::None);
    r.EndRecording();
    EXPECT_FALSE(r.recording());
    EXPECT_EQ(r.lostBytes(), 0u);
    const RecordTake& take = r.take();
    const QByteArray head(reinterpret_cast<const char*>(take.data()), 44);
    EXPECT_EQ(test::le32(head, 4), take.length() - 8);
    EXPECT_EQ(test::le32(head, 40), take.dataBytes());
    expectStaircase(take);
    // Played from where it lies, it is heard to the byte.
    ASSERT_NE(r.player(), nullptr);
    EXPECT_EQ(r.player()->length(), take.dataBytes());
    device->clearPlayed();
    ASSERT_TRUE(r.player()->play());
    ASSERT_TRUE(audio::test::waitFor([&] { return !r.player()->playing(); }, 20.0));
    EXPECT_EQ(device->playedBytes(),
              std::vector<std::uint8_t>(take.data() + 44, take.data() + take.length()));
}

TEST_F(Recording, AFullRingLosesWholeFramesAndCountsThem) {
    TakeRecorder::Options small;
    small.ringBytes = 35280; // 0.2 s of sound
    TakeRecorder r(small);
    ASSERT_NO_FATAL_FAILURE(begin(r));
    // Not pumped for a second and a half of sound: most of it finds the ring full.
    ASSERT_TRUE(audio::test::waitFor(
        [&] { return r.recordedBytes() >= 3 * RecordTake::kBytesPerSecond / 2; }));
    r.EndRecording();
    EXPECT_GT(r.lostBytes(), 0u);
    EXPECT_EQ(r.lostBytes() % 4, 0u);
    EXPECT_EQ(r.take().dataBytes() + r.lostBytes(), r.recordedBytes());
    EXPECT_LE(r.take().dataBytes(), small.ringBytes);
}

TEST_F(Recording, ATakeEndedEarlyKeepsWhatWasRecorded) {
    static std::atomic<int> grows{0};
    const auto growTwice = [](void* p, std::size_t n) -> void* {
        return ++grows > 2 ? nullptr : std::realloc(p, n);
    };
    const struct {
        const char* name;
        TakeRecorder::Options options;
        TakeRecorder::Stop why;
        std::uint64_t dataBytes; // 0: some
    } cases[] = {
        {"largest WAV", {&std::realloc, 10000}, TakeRecorder::Stop::TooLarge, 10000},
        {"out of memory", {growTwice, WavHeader::kMaxDataSize}, TakeRecorder::Stop::OutOfMemory, 0},
        {"device failed", {}, TakeRecorder::Stop::DeviceFailed, 0},
    };
    for (const auto& c : cases) {
        grows = 0;
        SCOPED_TRACE(c.name);
        TakeRecorder r(c.options);
        ASSERT_NO_FATAL_FAILURE(begin(r));
        if (c.why == TakeRecorder::Stop::DeviceFailed) {
            ASSERT_EQ(pumpUntil(r, 20000), TakeRecorder::Stop::None);
            device->setFailure(QStringLiteral("the cable was pulled"));
        }
        EXPECT_EQ(pumpUntil(r, 100u << 20), c.why) << c.name;
        if (c.why == TakeRecorder::Stop::DeviceFailed) {
            EXPECT_EQ(r.failure().error().cause(), QStringLiteral("the cable was pulled"));
            EXPECT_EQ(r.failure().error().code(), sound::kDriver);
        }
        device->setFailure(QString());
        r.EndRecording();
        if (c.dataBytes) {
            EXPECT_EQ(r.take().dataBytes(), c.dataBytes) << c.name;
        }
        EXPECT_GT(r.take().dataBytes(), 0u) << c.name;
        EXPECT_EQ(test::le32(QByteArray(reinterpret_cast<const char*>(r.take().data()), 44), 40),
                  r.take().dataBytes())
            << c.name;
        expectStaircase(r.take());
    }
}

} // namespace

// The take player on the virtual device, which hears exactly what is played: position, length
// and playing, stop and play again, the monitor input recording what a take plays, a failing
// device said once, and WAV images that are refused or read only as far as they go.

#include "DeviceTestUtil.h"

#include "engines/audio/TakePlayer.h"
#include "engines/audio/VirtualBackend.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>

using namespace device_test;
using namespace quaverly;
using audio::TakePlayer;
using audio::VirtualBackend;
using Bytes = std::vector<std::uint8_t>;

namespace {

class TakePlayers : public ::testing::Test {
protected:
    void SetUp() override {
        device = std::dynamic_pointer_cast<VirtualBackend>(audio::defaultBackend());
        ASSERT_TRUE(device) << "the tests run with QUAVERLY_AUDIO=virtual";
        device->setFailure({});
        device->clearPlayed();
    }
    void TearDown() override { device->setFailure({}); }

    // A player reads the caller's memory while it lives: the fixture keeps a copy of the image
    // for as long as the player it returns.
    std::unique_ptr<TakePlayer> open(const Bytes& image) {
        const auto& kept = images.emplace_back(image);
        auto player = TakePlayer::open(kept.data(), kept.size(), device);
        EXPECT_TRUE(player) << player.error().text().toStdString();
        return player ? std::move(*player) : nullptr;
    }
    bool playsToTheEnd(TakePlayer& p) {
        return waitFor([&] { return !p.playing(); });
    }

    std::shared_ptr<VirtualBackend> device;
    std::deque<Bytes> images; // outlives the players of a test
};

Bytes pcmOf(const std::vector<std::int16_t>& samples) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(samples.data());
    return {p, p + samples.size() * 2};
}

// The virtual device plays ten times faster than real time; a take that must still be playing
// when the test acts on it lasts long enough for a busy machine's pauses.
std::vector<std::int16_t> longStaircase() {
    return staircase(30 * 8000, 1, 1); // 30 s of 8 kHz mono: 3 s to play
}

TEST_F(TakePlayers, PlayToTheEndExactly) {
    const auto samples = staircase(22050, 2, 1);
    const auto p = open(wavImage(2, 44100, samples));
    ASSERT_TRUE(p);
    EXPECT_EQ(p->length(), 88200u);
    EXPECT_EQ(p->position(), 0u);
    EXPECT_FALSE(p->playing());

    ASSERT_TRUE(p->play());
    std::uint64_t last = 0;
    ASSERT_TRUE(waitFor([&] {
        const bool playing = p->playing();
        const std::uint64_t position = p->position();
        EXPECT_GE(position, last);
        EXPECT_EQ(position % 4, 0u);
        last = position;
        return !playing;
    }));
    EXPECT_TRUE(p->consumeFailure());
    EXPECT_EQ(p->position(), 88200u);
    EXPECT_EQ(device->playedBytes(), pcmOf(samples));

    // Heard to the end, it plays again from the start.
    device->clearPlayed();
    ASSERT_TRUE(p->play());
    ASSERT_TRUE(playsToTheEnd(*p));
    EXPECT_EQ(device->playedBytes(), pcmOf(samples));
}

TEST_F(TakePlayers, StopKeepsThePositionAndPlayGoesOnFromIt) {
    const auto samples = longStaircase();
    const auto pcm = pcmOf(samples);
    const auto p = open(wavImage(1, 8000, samples));
    ASSERT_TRUE(p->play());
    EXPECT_TRUE(p->playing());
    ASSERT_TRUE(waitFor([&] { return p->position() >= 16000; }));
    p->stop();
    const std::uint64_t stoppedAt = p->position();
    ASSERT_LT(stoppedAt, pcm.size());
    EXPECT_FALSE(p->playing());
    EXPECT_EQ(device->playedBytes().size(), stoppedAt);
    EXPECT_EQ(device->openStreams(), 0);

    // Playing (already playing: no restart) goes on from the stop without a gap or a repeat.
    ASSERT_TRUE(p->play());
    ASSERT_TRUE(p->play());
    ASSERT_TRUE(playsToTheEnd(*p));
    EXPECT_EQ(device->playedBytes(), pcm);
    EXPECT_EQ(p->position(), pcm.size());
}

TEST_F(TakePlayers, ARestartPlaysFromTheStart) {
    const auto samples = longStaircase();
    const auto pcm = pcmOf(samples);
    const auto p = open(wavImage(1, 8000, samples));
    ASSERT_TRUE(p->play());
    ASSERT_TRUE(waitFor([&] { return p->position() >= 8000; }));
    ASSERT_TRUE(p->play(true));
    ASSERT_TRUE(waitFor([&] { return p->position() >= 8000; }));
    p->stop();
    // What was played: the start up to the restart, then the start again up to the stop.
    const auto heard = device->playedBytes();
    const std::size_t second = p->position();
    ASSERT_GT(heard.size(), second);
    const std::size_t first = heard.size() - second;
    ASSERT_LT(first, pcm.size());
    EXPECT_TRUE(std::equal(heard.begin(), heard.begin() + std::ptrdiff_t(first), pcm.begin()));
    EXPECT_TRUE(std::equal(heard.begin() + std::ptrdiff_t(first), heard.end(), pcm.begin()));
}

TEST_F(TakePlayers, TheMonitorRecordsWhatATakePlays) {
    auto capture = audio::CaptureDevice::open(device);
    ASSERT_TRUE(capture);
    ASSERT_TRUE(capture->choose(VirtualBackend::kMonitor));
    const auto samples = staircase(30000, 2, 1);
    const auto p = open(wavImage(2, 44100, samples));
    Collector c(4 << 20);
    const auto rec = capture->start(44100, 2, c.fn());
    ASSERT_TRUE(rec);
    ASSERT_TRUE(waitFor([&] { return c.calls >= 3; })); // some silence first
    ASSERT_TRUE(p->play());
    ASSERT_TRUE(playsToTheEnd(*p));
    const int callsAtEnd = c.calls;
    ASSERT_TRUE(waitFor([&] { return c.calls >= callsAtEnd + 3; }));
    (*rec)->stop();

    const auto got = c.bytes();
    const auto pcm = pcmOf(samples);
    std::size_t start = 0;
    while (start + 4 <= got.size() && got[start] == 0 && got[start + 1] == 0)
        start += 4;
    ASSERT_GE(start, 3u * 882 * 4);
    ASSERT_GE(got.size(), start + pcm.size());
    EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(), got.begin() + std::ptrdiff_t(start)));
    EXPECT_TRUE(std::all_of(got.begin() + std::ptrdiff_t(start + pcm.size()), got.end(),
                            [](std::uint8_t b) { return b == 0; }));
}

TEST_F(TakePlayers, APlayerThatGoesIsSilentAtOnce) {
    const auto image = wavImage(1, 8000, longStaircase());
    auto a = open(image);
    auto b = open(image);
    ASSERT_TRUE(a->play());
    ASSERT_TRUE(b->play());
    ASSERT_TRUE(waitFor([&] { return a->position() > 0; }));
    a.reset();
    EXPECT_EQ(device->openStreams(), 1);
    b.reset();
    EXPECT_EQ(device->openStreams(), 0);
    const auto heard = device->playedByteCount();
    std::atomic<int> ticks{0};
    const auto other = device->openCapture(0, {8000, 1, 16}, [&](const void*, std::size_t) {
        ++ticks;
        return true;
    });
    ASSERT_TRUE(waitFor([&] { return ticks >= 10; }));
    EXPECT_EQ(device->playedByteCount(), heard);
}

TEST_F(TakePlayers, AFailingDeviceStopsThePlayAndIsSaidOnce) {
    const auto p = open(wavImage(1, 8000, longStaircase()));
    ASSERT_TRUE(p->play());
    const QString reason = QStringLiteral("the virtual device was unplugged");
    device->setFailure(reason);
    EXPECT_FALSE(p->playing());
    EXPECT_EQ(p->consumeFailure().error(), Error(QString(), reason, sound::kDriver));
    EXPECT_TRUE(p->consumeFailure());
    const Status refused = p->play(true);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().code(), sound::kStart);
    EXPECT_TRUE(refused.error().cause().contains(QLatin1String("unplugged")));
    EXPECT_TRUE(p->consumeFailure());
    device->setFailure({});
    EXPECT_TRUE(p->play(true));
    EXPECT_TRUE(p->playing());
}

// WAV images built chunk by chunk.
void put16(Bytes& b, std::uint16_t v) {
    b.push_back(std::uint8_t(v));
    b.push_back(std::uint8_t(v >> 8));
}
void put32(Bytes& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b.push_back(std::uint8_t(v >> (8 * i)));
}
Bytes chunk(const char* tag, const Bytes& body, std::uint32_t claimed) {
    Bytes b(tag, tag + 4);
    put32(b, claimed);
    b.insert(b.end(), body.begin(), body.end());
    if (body.size() % 2)
        b.push_back(0);
    return b;
}
Bytes chunk(const char* tag, const Bytes& body) {
    return chunk(tag, body, std::uint32_t(body.size()));
}
Bytes fmt(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate, std::uint16_t bits) {
    Bytes b;
    const auto align = std::uint16_t(channels * ((bits + 7) / 8));
    put16(b, tag);
    put16(b, channels);
    put32(b, rate);
    put32(b, rate * align);
    put16(b, align);
    put16(b, bits);
    return chunk("fmt ", b);
}
Bytes riff(std::initializer_list<Bytes> chunks) {
    Bytes body{'W', 'A', 'V', 'E'};
    for (const Bytes& c : chunks)
        body.insert(body.end(), c.begin(), c.end());
    return chunk("RIFF", body);
}
Bytes ramp(std::size_t bytes) {
    Bytes b(bytes);
    for (std::size_t i = 0; i < bytes; ++i)
        b[i] = std::uint8_t(i * 7 + 1);
    return b;
}

struct ImageCase {
    const char* name;
    std::function<Bytes()> image;
    int code;                // sound::kOk: accepted
    std::uint64_t bytes = 0; // when accepted: of PCM,
    std::uint16_t bits = 0;  // its sample size
    std::size_t pcmAt = 0;   // and where it starts in the image
};

std::ostream& operator<<(std::ostream& os, const ImageCase& c) {
    return os << c.name;
}

class Images : public TakePlayers, public ::testing::WithParamInterface<ImageCase> {};

// Each image lies in memory of exactly its length, so that a read past it is an error the
// sanitizer build reports. Accepted images play exactly their PCM.
TEST_P(Images, AreReadOnlyAsFarAsTheyGo) {
    const ImageCase& ic = GetParam();
    const Bytes image = ic.image();
    const auto parsed = audio::parseWavImage(image.data(), image.size());
    if (ic.code != sound::kOk) {
        ASSERT_FALSE(parsed);
        EXPECT_EQ(parsed.error().code(), ic.code) << parsed.error().text().toStdString();
        EXPECT_FALSE(parsed.error().cause().isEmpty());
        EXPECT_FALSE(TakePlayer::open(image.data(), image.size(), device));
        return;
    }
    ASSERT_TRUE(parsed) << parsed.error().text().toStdString();
    EXPECT_EQ(parsed->pcm, image.data() + ic.pcmAt);
    EXPECT_EQ(parsed->bytes, ic.bytes);
    EXPECT_EQ(parsed->format.bitsPerSample, ic.bits);
    const auto p = open(image);
    ASSERT_TRUE(p->play());
    ASSERT_TRUE(playsToTheEnd(*p));
    EXPECT_EQ(p->position(), ic.bytes);
    EXPECT_EQ(device->playedBytes(), Bytes(image.begin() + std::ptrdiff_t(ic.pcmAt),
                                           image.begin() + std::ptrdiff_t(ic.pcmAt + ic.bytes)));
}

INSTANTIATE_TEST_SUITE_P(
    Wav, Images,
    ::testing::Values(
        ImageCase{"empty", [] { return Bytes{}; }, sound::kFileForm},
        ImageCase{"riffTagOnly",
                  [] {
                      return Bytes{'R', 'I', 'F', 'F'};
                  },
                  sound::kFileForm},
        ImageCase{"text", [] { return Bytes(100, 'x'); }, sound::kFileForm},
        ImageCase{"noDataChunk", [] { return riff({fmt(1, 2, 44100, 16)}); }, sound::kFileForm},
        ImageCase{"noFormatChunk", [] { return riff({chunk("data", ramp(400))}); },
                  sound::kFileForm},
        ImageCase{"formatChunkCutShort",
                  [] {
                      Bytes b = riff({fmt(1, 2, 44100, 16)});
                      b.resize(30);
                      return b;
                  },
                  sound::kFileForm},
        ImageCase{"hugeChunkBeforeData",
                  [] {
                      return riff({fmt(1, 2, 44100, 16), chunk("LIST", ramp(10), 0xFFFFFFF0u),
                                   chunk("data", ramp(400))});
                  },
                  sound::kFileForm},
        ImageCase{"noChannels",
                  [] {
                      return riff({fmt(1, 0, 44100, 16), chunk("data", ramp(8))});
                  },
                  sound::kFileForm},
        ImageCase{"float",
                  [] {
                      return riff({fmt(3, 2, 44100, 32), chunk("data", ramp(800))});
                  },
                  sound::kFormat},
        ImageCase{"pcm24",
                  [] {
                      return riff({fmt(1, 2, 44100, 24), chunk("data", ramp(600))});
                  },
                  sound::kFormat},
        ImageCase{"threeChannels",
                  [] {
                      return riff({fmt(1, 3, 44100, 16), chunk("data", ramp(600))});
                  },
                  sound::kFormat},
        ImageCase{"rateTooLow",
                  [] {
                      return riff({fmt(1, 1, 500, 16), chunk("data", ramp(600))});
                  },
                  sound::kFormat},
        ImageCase{"take", [] { return wavImage(2, 44100, staircase(3000, 2, 1)); }, sound::kOk,
                  12000, 16, 44},
        ImageCase{"dataClaimsMoreThanThereIs",
                  [] {
                      return riff({fmt(1, 2, 44100, 16), chunk("data", ramp(4002), 1 << 30)});
                  },
                  sound::kOk, 4000, 16, 44},
        ImageCase{"oddChunkBeforeData",
                  [] {
                      return riff({chunk("LIST", ramp(7)), fmt(1, 1, 22050, 16),
                                   chunk("data", ramp(1000))});
                  },
                  sound::kOk, 1000, 16, 12 + 16 + 24 + 8},
        ImageCase{"eightBitMono",
                  [] {
                      return riff({fmt(1, 1, 8000, 8), chunk("data", ramp(1601))});
                  },
                  sound::kOk, 1601, 8, 44}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(WavImages, NothingPastTheGivenLengthIsRead) {
    // The recorder's buffer is larger than its take: only `length` bytes are the image.
    Bytes buffer = wavImage(2, 44100, staircase(1000, 2, 1));
    const std::size_t length = buffer.size();
    buffer.resize(length + 100000, 0x55);
    const auto parsed = audio::parseWavImage(buffer.data(), length - 8);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->bytes, 4000u - 8);
    EXPECT_EQ(audio::parseWavImage(nullptr, 44).error().code(), sound::kIllParam);
}

} // namespace

// Memory streams on the virtual device, which hears exactly what is played: position, length and
// activity, stop and play again, the monitor input recording what a stream plays, and WAV images
// that are refused or read only as far as they go.

#include "DeviceTestUtil.h"

#include "engines/audio/VirtualBackend.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>

using namespace device_test;
using quaverly::audio::VirtualBackend;

namespace {

class MemoryStreams : public ::testing::Test {
protected:
    void SetUp() override {
        device = std::dynamic_pointer_cast<VirtualBackend>(quaverly::audio::defaultBackend());
        ASSERT_TRUE(device) << "the tests run with QUAVERLY_AUDIO=virtual";
        device->setFailure({});
        ASSERT_TRUE(BASS_Init(-1, 44100, 0, nullptr, nullptr)) << lastErrorText();
        device->clearPlayed();
    }
    void TearDown() override {
        BASS_Free();
        device->setFailure({});
    }

    // The stream reads the caller's memory until it is freed, and a test may end with it still
    // playing: the fixture keeps a copy alive until BASS_Free in TearDown has stopped it.
    HSTREAM create(const std::vector<std::uint8_t>& image) {
        const auto& kept = images.emplace_back(image);
        return BASS_StreamCreateFile(1, kept.data(), 0, kept.size(), 0);
    }
    // The bytes the device has played, as samples.
    std::vector<std::uint8_t> played() const { return device->playedBytes(); }

    std::shared_ptr<VirtualBackend> device;
    std::deque<std::vector<std::uint8_t>> images;
};

std::vector<std::uint8_t> pcmOf(const std::vector<std::int16_t>& samples) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(samples.data());
    return {p, p + samples.size() * 2};
}

// The virtual device plays ten times faster than real time; a stream that must still be playing
// when the test acts on it lasts long enough for a busy machine's pauses.
std::vector<std::int16_t> longStaircase() {
    return staircase(30 * 8000, 1, 1); // 30 s of 8 kHz mono: 3 s to play
}

TEST_F(MemoryStreams, PlayToTheEndExactly) {
    const auto samples = staircase(22050, 2, 1);
    const auto image = wavImage(2, 44100, samples);
    const HSTREAM h = create(image);
    ASSERT_NE(h, 0u) << lastErrorText();
    BASS_CHANNELINFO info;
    ASSERT_TRUE(BASS_ChannelGetInfo(h, &info));
    EXPECT_EQ(info.freq, 44100u);
    EXPECT_EQ(info.chans, 2u);
    EXPECT_EQ(info.flags, 0u);
    EXPECT_EQ(info.ctype, BASS_CTYPE_STREAM_MEMORY);
    EXPECT_EQ(BASS_ChannelGetLength(h), 88200u);
    EXPECT_EQ(BASS_ChannelGetPosition(h), 0u);
    EXPECT_EQ(BASS_ChannelIsActive(h), BASS_ACTIVE_STOPPED);

    ASSERT_TRUE(BASS_ChannelPlay(h, 0)) << lastErrorText();
    QWORD last = 0;
    ASSERT_TRUE(waitFor([&] {
        const DWORD active = BASS_ChannelIsActive(h);
        const QWORD position = BASS_ChannelGetPosition(h);
        EXPECT_GE(position, last);
        EXPECT_EQ(position % 4, 0u);
        last = position;
        return active == BASS_ACTIVE_STOPPED;
    }));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_OK);
    EXPECT_EQ(BASS_ChannelGetPosition(h), 88200u);
    EXPECT_EQ(played(), pcmOf(samples));

    // Heard to the end, it plays again from the start.
    device->clearPlayed();
    ASSERT_TRUE(BASS_ChannelPlay(h, 0));
    ASSERT_TRUE(waitFor([&] { return BASS_ChannelIsActive(h) == BASS_ACTIVE_STOPPED; }));
    EXPECT_EQ(played(), pcmOf(samples));
    EXPECT_TRUE(BASS_StreamFree(h));
    EXPECT_EQ(device->openStreams(), 0);
}

TEST_F(MemoryStreams, IsActiveWhilePlayingAndStopKeepsThePosition) {
    const auto samples = longStaircase();
    const auto pcm = pcmOf(samples);
    const QWORD bytes = pcm.size();
    const auto image = wavImage(1, 8000, samples);
    const HSTREAM h = create(image);
    ASSERT_NE(h, 0u);
    ASSERT_TRUE(BASS_ChannelPlay(h, 0));
    EXPECT_EQ(BASS_ChannelIsActive(h), BASS_ACTIVE_PLAYING);
    ASSERT_TRUE(waitFor([&] { return BASS_ChannelGetPosition(h) >= 16000; }));
    ASSERT_TRUE(BASS_ChannelStop(h));
    const QWORD stoppedAt = BASS_ChannelGetPosition(h);
    ASSERT_LT(stoppedAt, bytes);
    EXPECT_EQ(BASS_ChannelIsActive(h), BASS_ACTIVE_STOPPED);
    EXPECT_EQ(played().size(), stoppedAt);
    EXPECT_EQ(device->openStreams(), 0);

    // Playing (already playing: no restart) goes on from the stop without a gap or a repeat.
    ASSERT_TRUE(BASS_ChannelPlay(h, 0));
    ASSERT_TRUE(BASS_ChannelPlay(h, 0));
    ASSERT_TRUE(waitFor([&] { return BASS_ChannelIsActive(h) == BASS_ACTIVE_STOPPED; }));
    EXPECT_EQ(played(), pcm);
    EXPECT_EQ(BASS_ChannelGetPosition(h), bytes);
}

TEST_F(MemoryStreams, ARestartOrAPositionSetIsWherePlayGoesOn) {
    const auto samples = longStaircase();
    const auto pcm = pcmOf(samples);
    const QWORD bytes = pcm.size();
    const auto image = wavImage(1, 8000, samples);
    const HSTREAM h = create(image);
    ASSERT_NE(h, 0u);
    ASSERT_TRUE(BASS_ChannelPlay(h, 0));
    ASSERT_TRUE(waitFor([&] { return BASS_ChannelGetPosition(h) >= 8000; }));
    ASSERT_TRUE(BASS_ChannelPlay(h, 1));
    ASSERT_TRUE(waitFor([&] { return BASS_ChannelGetPosition(h) >= 8000; }));
    ASSERT_TRUE(BASS_ChannelStop(h));
    // What was played: the start up to the restart, then the start again up to the stop.
    const auto heard = played();
    const std::size_t second = BASS_ChannelGetPosition(h);
    ASSERT_GT(heard.size(), second);
    const std::size_t first = heard.size() - second;
    ASSERT_LT(first, bytes);
    EXPECT_TRUE(std::equal(heard.begin(), heard.begin() + std::ptrdiff_t(first), pcm.begin()));
    EXPECT_TRUE(std::equal(heard.begin() + std::ptrdiff_t(first), heard.end(), pcm.begin()));

    // A position set while stopped is where play starts, rounded down to a whole frame.
    device->clearPlayed();
    ASSERT_TRUE(BASS_ChannelSetPosition(h, bytes - 4001));
    EXPECT_EQ(BASS_ChannelGetPosition(h), bytes - 4002);
    ASSERT_TRUE(BASS_ChannelPlay(h, 0));
    ASSERT_TRUE(waitFor([&] { return BASS_ChannelIsActive(h) == BASS_ACTIVE_STOPPED; }));
    EXPECT_EQ(played(), std::vector<std::uint8_t>(pcm.end() - 4002, pcm.end()));
    // Set while playing: it goes on playing from there.
    device->clearPlayed();
    ASSERT_TRUE(BASS_ChannelPlay(h, 1));
    ASSERT_TRUE(BASS_ChannelSetPosition(h, bytes - 2000));
    ASSERT_TRUE(waitFor([&] { return BASS_ChannelIsActive(h) == BASS_ACTIVE_STOPPED; }));
    const auto tail = played();
    ASSERT_GE(tail.size(), 2000u);
    EXPECT_TRUE(std::equal(tail.end() - 2000, tail.end(), pcm.end() - 2000));
    EXPECT_FALSE(BASS_ChannelSetPosition(h, bytes + 1));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_POSITION);
}

TEST_F(MemoryStreams, TheMonitorRecordsWhatAStreamPlays) {
    ASSERT_TRUE(BASS_RecordInit(-1));
    ASSERT_TRUE(BASS_RecordSetInput(VirtualBackend::kMonitor, BASS_INPUT_ON));
    const auto samples = staircase(30000, 2, 1);
    const auto image = wavImage(2, 44100, samples);
    const HSTREAM h = create(image);
    ASSERT_NE(h, 0u);
    Collector c(4 << 20);
    const HRECORD r = BASS_RecordStart(44100, 2, 0, Collector::proc, &c);
    ASSERT_NE(r, 0u) << lastErrorText();
    ASSERT_TRUE(waitFor([&] { return c.calls >= 3; })); // some silence first
    ASSERT_TRUE(BASS_ChannelPlay(h, 0));
    ASSERT_TRUE(waitFor([&] { return BASS_ChannelIsActive(h) == BASS_ACTIVE_STOPPED; }));
    const int callsAtEnd = c.calls;
    ASSERT_TRUE(waitFor([&] { return c.calls >= callsAtEnd + 3; }));
    ASSERT_TRUE(BASS_ChannelStop(r));

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
    EXPECT_TRUE(BASS_RecordFree());
}

TEST_F(MemoryStreams, FreeingSilencesAtOnce) {
    const auto image = wavImage(1, 8000, longStaircase());
    const HSTREAM a = create(image);
    const HSTREAM b = create(image);
    ASSERT_TRUE(BASS_ChannelPlay(a, 0));
    ASSERT_TRUE(BASS_ChannelPlay(b, 0));
    ASSERT_TRUE(waitFor([&] { return BASS_ChannelGetPosition(a) > 0; }));
    ASSERT_TRUE(BASS_StreamFree(a));
    EXPECT_EQ(device->openStreams(), 1);
    EXPECT_EQ(BASS_ChannelIsActive(a), BASS_ACTIVE_STOPPED);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
    ASSERT_TRUE(BASS_Free());
    EXPECT_EQ(device->openStreams(), 0);
    EXPECT_FALSE(BASS_ChannelPlay(b, 0));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
    const auto heard = device->playedByteCount();
    std::atomic<int> ticks{0};
    const auto other = device->openCapture(
        0, {8000, 1, 16},
        [&](const void*, std::size_t) {
            ++ticks;
            return true;
        },
        nullptr);
    ASSERT_TRUE(waitFor([&] { return ticks >= 10; }));
    EXPECT_EQ(device->playedByteCount(), heard);
    ASSERT_TRUE(BASS_Init(-1, 44100, 0, nullptr, nullptr)); // for TearDown
}

TEST_F(MemoryStreams, AFailingDeviceStopsPlaybackWithItsReason) {
    const auto image = wavImage(1, 8000, longStaircase());
    const HSTREAM h = create(image);
    ASSERT_TRUE(BASS_ChannelPlay(h, 0));
    device->setFailure(QStringLiteral("the virtual device was unplugged"));
    EXPECT_EQ(BASS_ChannelIsActive(h), BASS_ACTIVE_STOPPED);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_DRIVER);
    EXPECT_EQ(lastErrorText(), "the virtual device was unplugged");
    EXPECT_FALSE(BASS_ChannelPlay(h, 1));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_START);
    EXPECT_NE(lastErrorText().find("unplugged"), std::string::npos);
    device->setFailure({});
    EXPECT_TRUE(BASS_ChannelPlay(h, 1));
}

// WAV images built chunk by chunk.
using Bytes = std::vector<std::uint8_t>;

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
    int error;             // BASS_OK: accepted
    QWORD length = 0;      // when accepted
    DWORD flags = 0;       // when accepted
    std::size_t pcmAt = 0; // where its PCM starts in the image
};

std::ostream& operator<<(std::ostream& os, const ImageCase& c) {
    return os << c.name;
}

class Images : public MemoryStreams, public ::testing::WithParamInterface<ImageCase> {};

// Each image lies in memory of exactly its length, so that a read past it is an error the
// sanitizer build reports. Accepted images play exactly their PCM.
TEST_P(Images, AreReadOnlyAsFarAsTheyGo) {
    const ImageCase& ic = GetParam();
    const Bytes image = ic.image();
    const HSTREAM h = BASS_StreamCreateFile(1, image.data(), 0, image.size(), 0);
    EXPECT_EQ(BASS_ErrorGetCode(), ic.error) << lastErrorText();
    if (ic.error != BASS_OK) {
        EXPECT_EQ(h, 0u);
        EXPECT_FALSE(lastErrorText().empty());
        return;
    }
    ASSERT_NE(h, 0u);
    EXPECT_EQ(BASS_ChannelGetLength(h), ic.length);
    BASS_CHANNELINFO info;
    ASSERT_TRUE(BASS_ChannelGetInfo(h, &info));
    EXPECT_EQ(info.flags, ic.flags);
    ASSERT_TRUE(BASS_ChannelPlay(h, 0));
    ASSERT_TRUE(waitFor([&] { return BASS_ChannelIsActive(h) == BASS_ACTIVE_STOPPED; }));
    EXPECT_EQ(BASS_ChannelGetPosition(h), ic.length);
    EXPECT_EQ(played(), Bytes(image.begin() + std::ptrdiff_t(ic.pcmAt),
                              image.begin() + std::ptrdiff_t(ic.pcmAt + ic.length)));
}

INSTANTIATE_TEST_SUITE_P(
    Wav, Images,
    ::testing::Values(
        ImageCase{"riffTagOnly",
                  [] {
                      return Bytes{'R', 'I', 'F', 'F'};
                  },
                  BASS_ERROR_FILEFORM},
        ImageCase{"text", [] { return Bytes(100, 'x'); }, BASS_ERROR_FILEFORM},
        ImageCase{"noDataChunk", [] { return riff({fmt(1, 2, 44100, 16)}); }, BASS_ERROR_FILEFORM},
        ImageCase{"noFormatChunk", [] { return riff({chunk("data", ramp(400))}); },
                  BASS_ERROR_FILEFORM},
        ImageCase{"formatChunkCutShort",
                  [] {
                      Bytes b = riff({fmt(1, 2, 44100, 16)});
                      b.resize(30);
                      return b;
                  },
                  BASS_ERROR_FILEFORM},
        ImageCase{"hugeChunkBeforeData",
                  [] {
                      return riff({fmt(1, 2, 44100, 16), chunk("LIST", ramp(10), 0xFFFFFFF0u),
                                   chunk("data", ramp(400))});
                  },
                  BASS_ERROR_FILEFORM},
        ImageCase{"noChannels",
                  [] {
                      return riff({fmt(1, 0, 44100, 16), chunk("data", ramp(8))});
                  },
                  BASS_ERROR_FILEFORM},
        ImageCase{"float",
                  [] {
                      return riff({fmt(3, 2, 44100, 32), chunk("data", ramp(800))});
                  },
                  BASS_ERROR_FORMAT},
        ImageCase{"pcm24",
                  [] {
                      return riff({fmt(1, 2, 44100, 24), chunk("data", ramp(600))});
                  },
                  BASS_ERROR_FORMAT},
        ImageCase{"threeChannels",
                  [] {
                      return riff({fmt(1, 3, 44100, 16), chunk("data", ramp(600))});
                  },
                  BASS_ERROR_FORMAT},
        ImageCase{"rateTooLow",
                  [] {
                      return riff({fmt(1, 1, 500, 16), chunk("data", ramp(600))});
                  },
                  BASS_ERROR_FORMAT},
        ImageCase{"take", [] { return wavImage(2, 44100, staircase(3000, 2, 1)); }, BASS_OK, 12000,
                  0, 44},
        ImageCase{"dataClaimsMoreThanThereIs",
                  [] {
                      return riff({fmt(1, 2, 44100, 16), chunk("data", ramp(4002), 1 << 30)});
                  },
                  BASS_OK, 4000, 0, 44},
        ImageCase{"oddChunkBeforeData",
                  [] {
                      return riff({chunk("LIST", ramp(7)), fmt(1, 1, 22050, 16),
                                   chunk("data", ramp(1000))});
                  },
                  BASS_OK, 1000, 0, 12 + 16 + 24 + 8},
        ImageCase{"eightBitMono",
                  [] {
                      return riff({fmt(1, 1, 8000, 8), chunk("data", ramp(1601))});
                  },
                  BASS_OK, 1601, BASS_SAMPLE_8BITS, 44}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(MemoryStreams, NothingPastTheGivenLengthIsRead) {
    // The recorder's buffer is larger than its take: only `length` bytes are the image.
    Bytes buffer = wavImage(2, 44100, staircase(1000, 2, 1));
    const std::size_t length = buffer.size();
    buffer.resize(length + 100000, 0x55);
    const HSTREAM h = BASS_StreamCreateFile(1, buffer.data(), 0, length - 8, 0);
    ASSERT_NE(h, 0u);
    EXPECT_EQ(BASS_ChannelGetLength(h), 4000u - 8);
}

struct CreateRefusal {
    const char* name;
    std::function<HSTREAM(const Bytes&)> call;
    int error;
};

std::ostream& operator<<(std::ostream& os, const CreateRefusal& r) {
    return os << r.name;
}

class CreateRefusals : public MemoryStreams, public ::testing::WithParamInterface<CreateRefusal> {};

TEST_P(CreateRefusals, FailWithTheirCodeAndAText) {
    const Bytes image = wavImage(1, 8000, staircase(100, 1, 1));
    EXPECT_EQ(GetParam().call(image), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), GetParam().error);
    EXPECT_FALSE(lastErrorText().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Calls, CreateRefusals,
    ::testing::Values(
        CreateRefusal{"noMemory",
                      [](const Bytes&) { return BASS_StreamCreateFile(1, nullptr, 0, 44, 0); },
                      BASS_ERROR_ILLPARAM},
        CreateRefusal{
            "offset",
            [](const Bytes& i) { return BASS_StreamCreateFile(1, i.data(), 4, i.size(), 0); },
            BASS_ERROR_ILLPARAM},
        CreateRefusal{"decodeOnly",
                      [](const Bytes& i) {
                          return BASS_StreamCreateFile(1, i.data(), 0, i.size(),
                                                       BASS_STREAM_DECODE);
                      },
                      BASS_ERROR_ILLPARAM},
        CreateRefusal{"emptyImage",
                      [](const Bytes& i) { return BASS_StreamCreateFile(1, i.data(), 0, 0, 0); },
                      BASS_ERROR_FILEFORM},
        CreateRefusal{"flags",
                      [](const Bytes& i) {
                          return BASS_StreamCreateFile(1, i.data(), 0, i.size(), BASS_SAMPLE_8BITS);
                      },
                      BASS_ERROR_ILLPARAM}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(MemoryStreamsWithoutALayer, AreRefused) {
    const Bytes image = wavImage(1, 8000, staircase(100, 1, 1));
    EXPECT_EQ(BASS_StreamCreateFile(1, image.data(), 0, image.size(), 0), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);
}

} // namespace

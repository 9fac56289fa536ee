// Recording through the sound layer on the virtual device, whose inputs carry known signals:
// the inputs and their states, exact recordings, and the ends of a recording (stop, the proc
// saying no more, BASS_RecordFree, a failing device).

#include "DeviceTestUtil.h"

#include "engines/audio/VirtualBackend.h"
#include "engines/bass/BassInternal.h"
#include "engines/bass/InputType.h"

#include <gtest/gtest.h>

#include <functional>
#include <mutex>

using namespace device_test;
using quaverly::audio::VirtualBackend;

namespace {

std::shared_ptr<VirtualBackend> virtualDevice() {
    return std::dynamic_pointer_cast<VirtualBackend>(quaverly::audio::defaultBackend());
}

// The virtual device as the recorder finds it: every level normal, the microphone the default.
class Recorder : public ::testing::Test {
protected:
    void SetUp() override {
        device = virtualDevice();
        ASSERT_TRUE(device) << "the tests run with QUAVERLY_AUDIO=virtual";
        restoreDevice();
        ASSERT_TRUE(BASS_RecordInit(-1)) << lastErrorText();
    }
    void TearDown() override {
        BASS_RecordFree();
        restoreDevice();
    }
    void restoreDevice() {
        device->setFailure({});
        device->setDefaultSource(VirtualBackend::kMicrophone);
        for (int i = 0; i < 3; ++i)
            ASSERT_TRUE(device->setSourceVolume(i, 100, nullptr));
    }
    // Keeps the virtual device's clock running (it only ticks while something records) and
    // counts its periods, to show that nothing else is delivered meanwhile.
    std::unique_ptr<quaverly::audio::CaptureStream> tickingCapture(std::atomic<int>* ticks) {
        return device->openCapture(
            VirtualBackend::kMicrophone, {8000, 1, 16},
            [ticks](const void*, std::size_t) {
                ++*ticks;
                return true;
            },
            nullptr);
    }

    std::shared_ptr<VirtualBackend> device;
};

TEST_F(Recorder, InputsAreTheDevicesSourcesWithTheDefaultOn) {
    const struct {
        const char* name;
        DWORD type;
        const char* typeText;
        bool on;
    } inputs[] = {
        {"Virtual microphone", BASS_INPUT_TYPE_MIC, "Microphone", true},
        {"Virtual line-in", BASS_INPUT_TYPE_LINE, "Line-in", false},
        {"Monitor of the virtual output", BASS_INPUT_TYPE_WAVE, "Wave/PCM", false},
    };
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const char* name = BASS_RecordGetInputName(i);
        ASSERT_NE(name, nullptr);
        EXPECT_STREQ(name, inputs[i].name);
        const DWORD v = BASS_RecordGetInput(i);
        EXPECT_EQ(v & BASS_INPUT_TYPE_MASK, inputs[i].type);
        EXPECT_STREQ(inputTypeText(v), inputs[i].typeText);
        EXPECT_EQ(LoWord(v), 100u);
        EXPECT_EQ((v & BASS_INPUT_OFF) == 0, inputs[i].on);
    }
    EXPECT_EQ(BASS_RecordGetInputName(3), nullptr);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ILLPARAM);
    // Input -1 stands for no input at all.
    EXPECT_EQ(BASS_RecordGetInputName(-1), nullptr);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ILLPARAM);
    EXPECT_EQ(BASS_RecordGetInput(-1), 0xFFFFFFFFu);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ILLPARAM);
    EXPECT_FALSE(BASS_RecordSetInput(-1, BASS_INPUT_LEVEL | 50));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ILLPARAM);
    EXPECT_FALSE(BASS_RecordSetInput(3, BASS_INPUT_ON));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ILLPARAM);
}

TEST(InputTypeText, NamesEveryTypeCodeAndNothingElse) {
    const char* names[] = {"UnSupport",  "Digital",   "Line-in",   "Microphone",
                           "Midi synth", "Analog CD", "Telephone", "PC Speaker",
                           "Wave/PCM",   "Aux",       "Analog",    "UnSupport"};
    for (DWORD code = 0; code < 12; ++code)
        EXPECT_STREQ(inputTypeText((code << 24) | BASS_INPUT_OFF | 77), names[code]) << code;
    EXPECT_STREQ(inputTypeText(0xFFFFFFFFu), "UnSupport");
}

TEST_F(Recorder, TheServersDefaultSourceIsOnAtStart) {
    ASSERT_TRUE(BASS_RecordFree());
    device->setDefaultSource(VirtualBackend::kMonitor);
    ASSERT_TRUE(BASS_RecordInit(-1));
    EXPECT_EQ(BASS_RecordGetInput(0) & BASS_INPUT_OFF, BASS_INPUT_OFF);
    EXPECT_EQ(BASS_RecordGetInput(2) & BASS_INPUT_OFF, 0u);

    // A server without a default source: no input is on, and recording needs one chosen.
    ASSERT_TRUE(BASS_RecordFree());
    device->setDefaultSource(-1);
    ASSERT_TRUE(BASS_RecordInit(-1));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(BASS_RecordGetInput(i) & BASS_INPUT_OFF, BASS_INPUT_OFF) << i;
    Collector c(1 << 16);
    EXPECT_EQ(BASS_RecordStart(44100, 2, 0, Collector::proc, &c), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_NOTAVAIL);
    ASSERT_TRUE(BASS_RecordSetInput(1, BASS_INPUT_ON));
    const HRECORD h = BASS_RecordStart(44100, 2, 0, Collector::proc, &c);
    EXPECT_NE(h, 0u) << lastErrorText();
    // The recording writes into c, which goes at the end of this scope.
    EXPECT_TRUE(BASS_ChannelStop(h));
}

TEST_F(Recorder, ChoosingAnInputOrItsLevelChangesNothingElse) {
    ASSERT_TRUE(BASS_RecordSetInput(1, BASS_INPUT_ON));
    EXPECT_EQ(BASS_RecordGetInput(0) & BASS_INPUT_OFF, BASS_INPUT_OFF);
    EXPECT_EQ(BASS_RecordGetInput(1) & BASS_INPUT_OFF, 0u);
    EXPECT_EQ(BASS_RecordGetInput(2) & BASS_INPUT_OFF, BASS_INPUT_OFF);
    // Switching inputs off, as the recorder does before choosing one, changes nothing.
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(BASS_RecordSetInput(i, BASS_INPUT_OFF)) << i;
    EXPECT_EQ(BASS_RecordGetInput(1) & BASS_INPUT_OFF, 0u);

    ASSERT_TRUE(BASS_RecordSetInput(2, BASS_INPUT_LEVEL | 40));
    ASSERT_TRUE(BASS_RecordSetInput(0, BASS_INPUT_ON | BASS_INPUT_LEVEL | 0));
    EXPECT_EQ(BASS_RecordGetInput(2), BASS_INPUT_TYPE_WAVE | BASS_INPUT_OFF | 40u);
    EXPECT_EQ(BASS_RecordGetInput(0), BASS_INPUT_TYPE_MIC | 0u);
    EXPECT_EQ(BASS_RecordGetInput(1), BASS_INPUT_TYPE_LINE | BASS_INPUT_OFF | 100u);

    // On the device: only the two levels set; its default source is still the microphone.
    const auto sources = device->sources(nullptr);
    ASSERT_EQ(sources.size(), 3u);
    EXPECT_EQ(sources[0].volumePercent, 0);
    EXPECT_EQ(sources[1].volumePercent, 100);
    EXPECT_EQ(sources[2].volumePercent, 40);
    EXPECT_EQ(device->defaultSource(nullptr), VirtualBackend::kMicrophone);

    const DWORD refused[] = {0,
                             BASS_INPUT_LEVEL | 101,
                             BASS_INPUT_ON | BASS_INPUT_OFF,
                             7,
                             BASS_INPUT_ON | 7,
                             0x80000,
                             BASS_INPUT_TYPE_MIC | BASS_INPUT_ON};
    for (const DWORD setting : refused) {
        EXPECT_FALSE(BASS_RecordSetInput(1, setting)) << std::hex << setting;
        EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ILLPARAM);
        EXPECT_FALSE(lastErrorText().empty());
    }
    EXPECT_EQ(BASS_RecordGetInput(0), BASS_INPUT_TYPE_MIC | 0u);
    EXPECT_EQ(BASS_RecordGetInput(1), BASS_INPUT_TYPE_LINE | BASS_INPUT_OFF | 100u);
}

struct RecordCase {
    const char* name;
    int input;
    int level;
    DWORD freq;
    DWORD chans;
    std::function<int(std::uint64_t frame, DWORD freq)> signal; // at level 100
};

std::ostream& operator<<(std::ostream& os, const RecordCase& c) {
    return os << c.name;
}

class Recordings : public Recorder, public ::testing::WithParamInterface<RecordCase> {};

// The blocks handed to the proc are the input's signal from its first frame, exactly, scaled by
// the level; the position counts them; nothing is delivered after the stop.
TEST_P(Recordings, DeliverTheInputExactly) {
    const RecordCase& rc = GetParam();
    ASSERT_TRUE(BASS_RecordSetInput(rc.input, BASS_INPUT_ON | BASS_INPUT_LEVEL |
                                                  static_cast<DWORD>(rc.level)));
    const std::size_t frameBytes = 2u * rc.chans;
    const std::size_t want = rc.freq / 2 * frameBytes; // half a second
    Collector c(want * 4);
    const HRECORD h = BASS_RecordStart(rc.freq, rc.chans, 0, Collector::proc, &c);
    ASSERT_NE(h, 0u) << lastErrorText();
    BASS_CHANNELINFO info;
    ASSERT_TRUE(BASS_ChannelGetInfo(h, &info));
    EXPECT_EQ(info.freq, rc.freq);
    EXPECT_EQ(info.chans, rc.chans);
    EXPECT_EQ(info.ctype, BASS_CTYPE_RECORD);
    EXPECT_EQ(info.origres, 16u);

    ASSERT_TRUE(waitFor([&] { return c.size >= want; }));
    EXPECT_EQ(BASS_ChannelIsActive(h), BASS_ACTIVE_PLAYING);
    EXPECT_GE(BASS_ChannelGetPosition(h), want);
    ASSERT_TRUE(BASS_ChannelStop(h));
    const int callsAtStop = c.calls;
    EXPECT_EQ(BASS_ChannelIsActive(h), BASS_ACTIVE_STOPPED);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_OK);
    EXPECT_EQ(BASS_ChannelGetPosition(h), c.size.load());
    EXPECT_EQ(c.handleSeen.load(), h);
    // Blocks of one device period (20 ms).
    EXPECT_EQ(c.firstBlock.load(), VirtualBackend::framesInPeriod(0, rc.freq) * frameBytes);

    const auto bytes = c.bytes();
    ASSERT_EQ(bytes.size() % frameBytes, 0u);
    int mismatches = 0;
    for (std::size_t f = 0; f < bytes.size() / frameBytes && mismatches < 5; ++f) {
        const int expected = rc.signal(f, rc.freq) * rc.level / 100;
        for (DWORD ch = 0; ch < rc.chans; ++ch) {
            const int got = sampleAt(bytes, f * rc.chans + ch);
            if (got != expected) {
                ADD_FAILURE() << "frame " << f << " channel " << ch << ": " << got << " instead of "
                              << expected;
                ++mismatches;
            }
        }
    }

    // The device goes on ticking for another recording; the stopped one gets nothing more.
    std::atomic<int> ticks{0};
    const auto other = tickingCapture(&ticks);
    ASSERT_TRUE(other);
    ASSERT_TRUE(waitFor([&] { return ticks >= 10; }));
    EXPECT_EQ(c.calls.load(), callsAtStop);
    EXPECT_EQ(BASS_ChannelGetPosition(h), bytes.size());
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, Recordings,
    ::testing::Values(
        RecordCase{"lineInStereo", 1, 100, 44100, 2,
                   [](std::uint64_t f, DWORD) { return VirtualBackend::lineInSample(f); }},
        RecordCase{"lineInMonoAtHalfLevel", 1, 50, 22050, 1,
                   [](std::uint64_t f, DWORD) { return VirtualBackend::lineInSample(f); }},
        RecordCase{
            "microphoneStereo", 0, 100, 44100, 2,
            [](std::uint64_t f, DWORD rate) { return VirtualBackend::microphoneSample(f, rate); }},
        RecordCase{
            "microphoneMono8kAtLevel30", 0, 30, 8000, 1,
            [](std::uint64_t f, DWORD rate) { return VirtualBackend::microphoneSample(f, rate); }}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(Recorder, AProcReturningZeroGetsNoMoreBlocks) {
    ASSERT_TRUE(BASS_RecordSetInput(1, BASS_INPUT_ON));
    Collector c(1 << 20);
    c.stopAtCall = 3;
    const HRECORD h = BASS_RecordStart(44100, 2, 0, Collector::proc, &c);
    ASSERT_NE(h, 0u);
    ASSERT_TRUE(waitFor([&] { return BASS_ChannelIsActive(h) == BASS_ACTIVE_STOPPED; }));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_OK);
    std::atomic<int> ticks{0};
    const auto other = tickingCapture(&ticks);
    ASSERT_TRUE(waitFor([&] { return ticks >= 10; }));
    EXPECT_EQ(c.calls.load(), 3);
    EXPECT_EQ(BASS_ChannelGetPosition(h), 3u * 882 * 4);
    EXPECT_TRUE(BASS_ChannelStop(h));
}

TEST_F(Recorder, RecordFreeEndsEveryRecordingBeforeItReturns) {
    Collector a(1 << 22), b(1 << 22);
    const HRECORD ha = BASS_RecordStart(44100, 2, 0, Collector::proc, &a);
    ASSERT_TRUE(BASS_RecordSetInput(2, BASS_INPUT_ON));
    const HRECORD hb = BASS_RecordStart(48000, 1, 0, Collector::proc, &b);
    ASSERT_NE(ha, 0u);
    ASSERT_NE(hb, 0u);
    ASSERT_TRUE(waitFor([&] { return a.calls > 2 && b.calls > 2; }));
    ASSERT_TRUE(BASS_RecordFree());
    const int callsA = a.calls, callsB = b.calls;
    EXPECT_EQ(device->openStreams(), 0);
    std::atomic<int> ticks{0};
    const auto other = tickingCapture(&ticks);
    ASSERT_TRUE(waitFor([&] { return ticks >= 10; }));
    EXPECT_EQ(a.calls.load(), callsA);
    EXPECT_EQ(b.calls.load(), callsB);
    // The handles went with the device.
    EXPECT_EQ(BASS_ChannelIsActive(ha), BASS_ACTIVE_STOPPED);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
    EXPECT_FALSE(BASS_ChannelStop(hb));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
    EXPECT_FALSE(BASS_RecordFree());
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);
    EXPECT_EQ(BASS_RecordGetInputName(0), nullptr);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);
    ASSERT_TRUE(BASS_RecordInit(-1)); // for TearDown
}

struct StartRefusal {
    const char* name;
    std::function<HRECORD(Collector*)> call;
    int error;
};

std::ostream& operator<<(std::ostream& os, const StartRefusal& r) {
    return os << r.name;
}

class StartRefusals : public Recorder, public ::testing::WithParamInterface<StartRefusal> {};

TEST_P(StartRefusals, FailWithTheirCodeAndAText) {
    Collector c(1 << 16);
    EXPECT_EQ(GetParam().call(&c), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), GetParam().error);
    EXPECT_FALSE(lastErrorText().empty());
    EXPECT_EQ(c.calls.load(), 0);
    EXPECT_EQ(device->openStreams(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Calls, StartRefusals,
    ::testing::Values(
        StartRefusal{"noProc",
                     [](Collector*) { return BASS_RecordStart(44100, 2, 0, nullptr, nullptr); },
                     BASS_ERROR_ILLPARAM},
        StartRefusal{"flags",
                     [](Collector* c) {
                         return BASS_RecordStart(44100, 2, BASS_SAMPLE_8BITS, Collector::proc, c);
                     },
                     BASS_ERROR_ILLPARAM},
        StartRefusal{"noRate",
                     [](Collector* c) { return BASS_RecordStart(0, 2, 0, Collector::proc, c); },
                     BASS_ERROR_FORMAT},
        StartRefusal{"noChannels",
                     [](Collector* c) { return BASS_RecordStart(44100, 0, 0, Collector::proc, c); },
                     BASS_ERROR_FORMAT},
        StartRefusal{
            "channelsThatWrapIn16Bits",
            [](Collector* c) { return BASS_RecordStart(44100, 0x10002, 0, Collector::proc, c); },
            BASS_ERROR_FORMAT},
        StartRefusal{"secondRecordInit", [](Collector*) { return HRECORD(BASS_RecordInit(-1)); },
                     BASS_ERROR_ALREADY},
        StartRefusal{"recordDevice0", [](Collector*) { return HRECORD(BASS_RecordInit(0)); },
                     BASS_ERROR_DEVICE}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(RecordDevice, InputsAndRecordingsNeedRecordInit) {
    Collector c(1 << 16);
    EXPECT_EQ(BASS_RecordStart(44100, 2, 0, Collector::proc, &c), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);
    EXPECT_EQ(BASS_RecordGetInputName(0), nullptr);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);
    EXPECT_EQ(BASS_RecordGetInput(0), 0xFFFFFFFFu);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);
    EXPECT_FALSE(BASS_RecordSetInput(0, BASS_INPUT_ON));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);
    EXPECT_FALSE(BASS_RecordFree());
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);
}

TEST_F(Recorder, AFailingDeviceIsReportedWithItsReason) {
    Collector c(1 << 22);
    const HRECORD h = BASS_RecordStart(44100, 2, 0, Collector::proc, &c);
    ASSERT_NE(h, 0u);
    ASSERT_TRUE(waitFor([&] { return c.calls > 1; }));
    device->setFailure(QStringLiteral("the virtual device was unplugged"));
    EXPECT_EQ(BASS_ChannelIsActive(h), BASS_ACTIVE_STOPPED);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_DRIVER);
    EXPECT_EQ(lastErrorText(), "the virtual device was unplugged");
    EXPECT_EQ(BASS_RecordGetInput(0), 0xFFFFFFFFu);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_DRIVER);
    EXPECT_NE(lastErrorText().find("unplugged"), std::string::npos);
    EXPECT_EQ(BASS_RecordStart(44100, 2, 0, Collector::proc, &c), 0u);
    EXPECT_NE(BASS_ErrorGetCode(), BASS_OK);

    ASSERT_TRUE(BASS_RecordFree());
    EXPECT_FALSE(BASS_RecordInit(-1));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_DRIVER);
    EXPECT_EQ(lastErrorText(), "the virtual device was unplugged");
    EXPECT_FALSE(BASS_Init(-1, 44100, 0, nullptr, nullptr));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_DRIVER);
    EXPECT_EQ(lastErrorText(), "the virtual device was unplugged");

    device->setFailure({});
    ASSERT_TRUE(BASS_RecordInit(-1));
    ASSERT_TRUE(BASS_Init(-1, 44100, 0, nullptr, nullptr));
    EXPECT_TRUE(BASS_Free());
}

// A sound server whose sources come and go, for what the virtual device cannot show.
class ChangingSources final : public quaverly::audio::AudioBackend {
public:
    std::mutex m;
    std::vector<quaverly::audio::SourceInfo> list;
    int defaultIndex = -1;
    std::vector<std::pair<int, int>> volumesSet; // (index, percent)
    std::vector<int> capturesOpened;

    void setSources(std::initializer_list<const char*> names) {
        std::lock_guard lock(m);
        list.clear();
        for (const char* n : names) {
            quaverly::audio::SourceInfo s;
            s.name = QString::fromUtf8(n);
            s.description = QStringLiteral("Source ") + s.name;
            s.kind = quaverly::audio::SourceKind::Analog;
            list.push_back(s);
        }
    }

    QString name() const override { return QStringLiteral("changing"); }
    bool available(QString*) override { return true; }
    std::unique_ptr<quaverly::audio::PlaybackStream> openPlayback(const quaverly::audio::PcmFormat&,
                                                                  quaverly::audio::PullFn,
                                                                  QString* error) override {
        *error = QStringLiteral("no playback here");
        return nullptr;
    }
    std::unique_ptr<quaverly::audio::CaptureStream> openCapture(int index,
                                                                const quaverly::audio::PcmFormat&,
                                                                quaverly::audio::PushFn,
                                                                QString* error) override {
        std::lock_guard lock(m);
        capturesOpened.push_back(index);
        *error = QStringLiteral("capture noted");
        return nullptr;
    }
    std::vector<quaverly::audio::SourceInfo> sources(QString*) override {
        std::lock_guard lock(m);
        return list;
    }
    int defaultSource(QString*) override {
        std::lock_guard lock(m);
        return defaultIndex;
    }
    bool setSourceVolume(int index, int percent, QString*) override {
        std::lock_guard lock(m);
        volumesSet.emplace_back(index, percent);
        list[static_cast<std::size_t>(index)].volumePercent = percent;
        return true;
    }
};

TEST(RecordInputs, KeepTheirNumbersWhileSourcesComeAndGo) {
    auto server = std::make_shared<ChangingSources>();
    server->setSources({"a", "b", "c"});
    server->defaultIndex = 1;
    quaverly::bass::detail::setDeviceBackendForTesting(server);
    ASSERT_TRUE(BASS_RecordInit(-1));
    EXPECT_EQ(BASS_RecordGetInput(1) & BASS_INPUT_OFF, 0u);

    // "a" goes away and "d" appears first: the server's order is now d, b, c.
    server->setSources({"d", "b", "c"});
    EXPECT_STREQ(BASS_RecordGetInputName(0), "Source a");
    EXPECT_STREQ(BASS_RecordGetInputName(1), "Source b");
    EXPECT_STREQ(BASS_RecordGetInputName(2), "Source c");
    EXPECT_STREQ(BASS_RecordGetInputName(3), "Source d");
    EXPECT_EQ(BASS_RecordGetInputName(4), nullptr);
    EXPECT_EQ(BASS_RecordGetInput(0), 0xFFFFFFFFu);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_NOTAVAIL);
    EXPECT_FALSE(BASS_RecordSetInput(0, BASS_INPUT_ON));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_NOTAVAIL);
    EXPECT_EQ(BASS_RecordGetInput(1), BASS_INPUT_TYPE_ANALOG | 100u);
    EXPECT_EQ(BASS_RecordGetInput(3), BASS_INPUT_TYPE_ANALOG | BASS_INPUT_OFF | 100u);

    // Input 2 is "c", now third on the server; input 3 is "d", now first.
    ASSERT_TRUE(BASS_RecordSetInput(2, BASS_INPUT_LEVEL | 20));
    ASSERT_TRUE(BASS_RecordSetInput(3, BASS_INPUT_ON));
    Collector c(1 << 10);
    EXPECT_EQ(BASS_RecordStart(44100, 2, 0, Collector::proc, &c), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_START);
    EXPECT_NE(lastErrorText().find("capture noted"), std::string::npos);
    {
        std::lock_guard lock(server->m);
        EXPECT_EQ(server->volumesSet, (std::vector<std::pair<int, int>>{{2, 20}}));
        EXPECT_EQ(server->capturesOpened, std::vector<int>{0});
    }
    EXPECT_EQ(BASS_RecordGetInput(2), BASS_INPUT_TYPE_ANALOG | BASS_INPUT_OFF | 20u);

    // "a" comes back, last on the server: it is input 0 again.
    server->setSources({"d", "b", "c", "a"});
    EXPECT_EQ(BASS_RecordGetInput(0), BASS_INPUT_TYPE_ANALOG | BASS_INPUT_OFF | 100u);
    EXPECT_EQ(BASS_RecordGetInputName(4), nullptr);

    // A new start numbers the inputs in the server's order.
    ASSERT_TRUE(BASS_RecordFree());
    ASSERT_TRUE(BASS_RecordInit(-1));
    EXPECT_STREQ(BASS_RecordGetInputName(0), "Source d");
    EXPECT_STREQ(BASS_RecordGetInputName(3), "Source a");
    EXPECT_EQ(BASS_RecordGetInput(1) & BASS_INPUT_OFF, 0u); // the default, "b"
    ASSERT_TRUE(BASS_RecordFree());
    quaverly::bass::detail::setDeviceBackendForTesting(nullptr);
}

} // namespace

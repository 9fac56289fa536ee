// Recording from the capture device on the virtual device, whose inputs carry known signals: the
// inputs and their states, exact captures, and the ends of a capture (stop, the BlockFn saying
// no more, a failing device), and input numbers that stay while sources come and go.

#include "DeviceTestUtil.h"

#include "engines/audio/VirtualBackend.h"

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <optional>

using namespace device_test;
using namespace quaverly;
using audio::CaptureDevice;
using audio::SourceKind;
using audio::VirtualBackend;

namespace {

// The virtual device as the recorder finds it: every level normal, the microphone the default.
class Capturing : public ::testing::Test {
protected:
    void SetUp() override {
        device = std::dynamic_pointer_cast<VirtualBackend>(audio::defaultBackend());
        ASSERT_TRUE(device) << "the tests run with QUAVERLY_AUDIO=virtual";
        restoreDevice();
        auto opened = CaptureDevice::open(device);
        ASSERT_TRUE(opened) << opened.error().text().toStdString();
        capture.emplace(std::move(*opened));
    }
    void TearDown() override { restoreDevice(); }
    void restoreDevice() {
        device->setFailure({});
        device->setDefaultSource(VirtualBackend::kMicrophone);
        for (int i = 0; i < 3; ++i)
            ASSERT_TRUE(device->setSourceVolume(i, 100));
    }
    // Keeps the virtual device's clock running and counts its periods, to show that nothing else
    // is delivered meanwhile.
    Result<std::unique_ptr<audio::CaptureStream>> tickingCapture(std::atomic<int>* ticks) {
        return device->openCapture(VirtualBackend::kMicrophone, {8000, 1, 16},
                                   [ticks](const void*, std::size_t) {
                                       ++*ticks;
                                       return true;
                                   });
    }
    // True when `c` gets no block while the device ticks ten more periods.
    bool getsNoMore(const Collector& c) {
        const int calls = c.calls;
        std::atomic<int> ticks{0};
        const auto other = tickingCapture(&ticks);
        return waitFor([&] { return ticks >= 10; }) && c.calls == calls;
    }
    // The inputs' chosen flags, as a string of 0 and 1.
    std::string chosenFlags() {
        const auto inputs = capture->inputs();
        std::string flags;
        for (const auto& in : *inputs)
            flags += in.chosen ? '1' : '0';
        return flags;
    }

    std::shared_ptr<VirtualBackend> device;
    std::optional<CaptureDevice> capture;
};

TEST_F(Capturing, InputsAreTheDevicesSourcesWithTheDefaultChosen) {
    const struct {
        const char* description;
        SourceKind kind;
        bool chosen;
    } expected[] = {
        {"Virtual microphone", SourceKind::Microphone, true},
        {"Virtual line-in", SourceKind::LineIn, false},
        {"Monitor of the virtual output", SourceKind::Monitor, false},
    };
    const auto inputs = capture->inputs();
    ASSERT_TRUE(inputs);
    ASSERT_EQ(inputs->size(), 3u);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const auto& in = (*inputs)[std::size_t(i)];
        EXPECT_EQ(in.description.toStdString(), expected[i].description);
        EXPECT_EQ(in.kind, expected[i].kind);
        EXPECT_EQ(in.level, 100);
        EXPECT_EQ(in.chosen, expected[i].chosen);
        EXPECT_TRUE(in.present);
    }
    EXPECT_EQ(capture->chosen(), VirtualBackend::kMicrophone);
    // Past the last input, and -1 (no input at all).
    for (const int number : {3, -1}) {
        EXPECT_EQ(capture->input(number).error().code(), sound::kIllParam) << number;
        EXPECT_EQ(capture->choose(number).error().code(), sound::kIllParam) << number;
        EXPECT_EQ(capture->setLevel(number, 50).error().code(), sound::kIllParam) << number;
    }
}

TEST(InputKindText, NamesEveryKind) {
    const std::pair<SourceKind, const char*> names[] = {
        {SourceKind::Unknown, "Unknown"}, {SourceKind::Microphone, "Microphone"},
        {SourceKind::LineIn, "Line-in"},  {SourceKind::Monitor, "Wave/PCM"},
        {SourceKind::Digital, "Digital"}, {SourceKind::Analog, "Analog"},
        {SourceKind::Aux, "Aux"},
    };
    for (const auto& [kind, name] : names)
        EXPECT_EQ(audio::inputKindText(kind).toStdString(), name);
}

TEST_F(Capturing, TheServersDefaultSourceIsChosenAtOpen) {
    device->setDefaultSource(VirtualBackend::kMonitor);
    auto opened = CaptureDevice::open(device);
    ASSERT_TRUE(opened);
    capture.emplace(std::move(*opened));
    EXPECT_EQ(chosenFlags(), "001");

    // A server without a default source: none is chosen, and a capture needs one.
    device->setDefaultSource(-1);
    opened = CaptureDevice::open(device);
    ASSERT_TRUE(opened);
    capture.emplace(std::move(*opened));
    EXPECT_EQ(chosenFlags(), "000");
    Collector c(1 << 16);
    EXPECT_EQ(capture->start(44100, 2, c.fn()).error().code(), sound::kNotAvail);
    ASSERT_TRUE(capture->choose(1));
    const auto started = capture->start(44100, 2, c.fn());
    EXPECT_TRUE(started) << started.error().text().toStdString();
}

TEST_F(Capturing, ChoosingAnInputOrItsLevelChangesNothingElse) {
    ASSERT_TRUE(capture->choose(1));
    EXPECT_EQ(chosenFlags(), "010");
    ASSERT_TRUE(capture->setLevel(2, 40));
    ASSERT_TRUE(capture->setLevel(0, 0));
    const auto inputs = capture->inputs();
    EXPECT_EQ((*inputs)[0].level, 0);
    EXPECT_EQ((*inputs)[1].level, 100);
    EXPECT_EQ((*inputs)[2].level, 40);

    // On the device: only the two levels set; its default source is still the microphone.
    const auto sources = device->sources();
    ASSERT_TRUE(sources);
    ASSERT_EQ(sources->size(), 3u);
    EXPECT_EQ((*sources)[0].volumePercent, 0);
    EXPECT_EQ((*sources)[1].volumePercent, 100);
    EXPECT_EQ((*sources)[2].volumePercent, 40);
    EXPECT_EQ(*device->defaultSource(), VirtualBackend::kMicrophone);

    for (const int refused : {101, -1}) {
        const Status set = capture->setLevel(1, refused);
        EXPECT_EQ(set.error().code(), sound::kIllParam) << refused;
        EXPECT_FALSE(set.error().cause().isEmpty());
    }
    EXPECT_EQ(capture->input(1)->level, 100);
}

struct CaptureCase {
    const char* name;
    int input;
    int level;
    std::uint32_t rate;
    std::uint16_t channels;
    std::function<int(std::uint64_t frame, std::uint32_t rate)> signal; // at level 100
};

std::ostream& operator<<(std::ostream& os, const CaptureCase& c) {
    return os << c.name;
}

class Captures : public Capturing, public ::testing::WithParamInterface<CaptureCase> {};

// The blocks handed over are the input's signal from its first frame, exactly, scaled by the
// level; nothing is delivered after the stop.
TEST_P(Captures, DeliverTheInputExactly) {
    const CaptureCase& cc = GetParam();
    ASSERT_TRUE(capture->choose(cc.input));
    ASSERT_TRUE(capture->setLevel(cc.input, cc.level));
    const std::size_t frameBytes = 2u * cc.channels;
    const std::size_t want = cc.rate / 2 * frameBytes; // half a second
    Collector c(want * 4);
    auto started = capture->start(cc.rate, cc.channels, c.fn());
    ASSERT_TRUE(started) << started.error().text().toStdString();
    audio::Capture& rec = **started;

    ASSERT_TRUE(waitFor([&] { return c.size >= want; }));
    EXPECT_TRUE(rec.failure());
    rec.stop();
    // Blocks of one device period (20 ms).
    EXPECT_EQ(c.firstBlock.load(), VirtualBackend::framesInPeriod(0, cc.rate) * frameBytes);

    const auto bytes = c.bytes();
    ASSERT_EQ(bytes.size() % frameBytes, 0u);
    int mismatches = 0;
    for (std::size_t f = 0; f < bytes.size() / frameBytes && mismatches < 5; ++f) {
        const int expected = cc.signal(f, cc.rate) * cc.level / 100;
        for (std::uint16_t ch = 0; ch < cc.channels; ++ch) {
            const int got = sampleAt(bytes, f * cc.channels + ch);
            if (got != expected) {
                ADD_FAILURE() << "frame " << f << " channel " << ch << ": " << got << " instead of "
                              << expected;
                ++mismatches;
            }
        }
    }
    EXPECT_TRUE(getsNoMore(c));
    EXPECT_EQ(c.size.load(), bytes.size());
}

int lineIn(std::uint64_t f, std::uint32_t) {
    return VirtualBackend::lineInSample(f);
}
int microphone(std::uint64_t f, std::uint32_t rate) {
    return VirtualBackend::microphoneSample(f, rate);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, Captures,
    ::testing::Values(CaptureCase{"lineInStereo", 1, 100, 44100, 2, lineIn},
                      CaptureCase{"lineInMonoAtHalfLevel", 1, 50, 22050, 1, lineIn},
                      CaptureCase{"microphoneStereo", 0, 100, 44100, 2, microphone},
                      CaptureCase{"microphoneMono8kAtLevel30", 0, 30, 8000, 1, microphone}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(Capturing, ABlockFnSayingNoMoreGetsNoMoreBlocks) {
    ASSERT_TRUE(capture->choose(1));
    Collector c(1 << 20);
    c.stopAtCall = 3;
    const auto rec = capture->start(44100, 2, c.fn());
    ASSERT_TRUE(rec);
    ASSERT_TRUE(waitFor([&] { return c.calls >= 3; }));
    EXPECT_TRUE(getsNoMore(c));
    EXPECT_EQ(c.calls.load(), 3);
    EXPECT_EQ(c.size.load(), 3u * 882 * 4);
    EXPECT_TRUE((*rec)->failure());
}

TEST_F(Capturing, EachCaptureEndsForGoodWhenItGoes) {
    Collector a(1 << 22), b(1 << 22);
    auto ra = capture->start(44100, 2, a.fn());
    ASSERT_TRUE(capture->choose(2));
    auto rb = capture->start(48000, 1, b.fn());
    ASSERT_TRUE(ra && rb);
    ASSERT_TRUE(waitFor([&] { return a.calls > 2 && b.calls > 2; }));
    (*ra).reset();
    EXPECT_EQ(device->openStreams(), 1);
    EXPECT_TRUE(getsNoMore(a));
    (*rb).reset();
    EXPECT_EQ(device->openStreams(), 0);
    EXPECT_TRUE(getsNoMore(b));
}

TEST_F(Capturing, StartRefusesWhatCannotBeRecorded) {
    const struct {
        const char* name;
        std::uint32_t rate;
        std::uint16_t channels;
        bool withBlockFn;
        int code;
    } refusals[] = {
        {"noBlockFn", 44100, 2, false, sound::kIllParam},
        {"noRate", 0, 2, true, sound::kFormat},
        {"noChannels", 44100, 0, true, sound::kFormat},
        {"nineChannels", 44100, 9, true, sound::kFormat},
    };
    for (const auto& r : refusals) {
        Collector c(1 << 16);
        const auto rec =
            capture->start(r.rate, r.channels, r.withBlockFn ? c.fn() : audio::Capture::BlockFn());
        ASSERT_FALSE(rec) << r.name;
        EXPECT_EQ(rec.error().code(), r.code) << r.name;
        EXPECT_FALSE(rec.error().cause().isEmpty()) << r.name;
        EXPECT_EQ(c.calls.load(), 0) << r.name;
        EXPECT_EQ(device->openStreams(), 0) << r.name;
    }
}

TEST_F(Capturing, AFailingDeviceIsReportedWithItsReason) {
    Collector c(1 << 22);
    const auto rec = capture->start(44100, 2, c.fn());
    ASSERT_TRUE(rec);
    ASSERT_TRUE(waitFor([&] { return c.calls > 1; }));
    const QString reason = QStringLiteral("the virtual device was unplugged");
    device->setFailure(reason);
    const Status failed = (*rec)->failure();
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error(), Error(QString(), reason, sound::kDriver));
    const auto listed = capture->inputs();
    ASSERT_FALSE(listed);
    EXPECT_EQ(listed.error().code(), sound::kDriver);
    EXPECT_TRUE(listed.error().cause().contains(reason));
    EXPECT_EQ(capture->start(44100, 2, c.fn()).error().code(), sound::kDriver);
    const auto reopened = CaptureDevice::open(device);
    ASSERT_FALSE(reopened);
    EXPECT_EQ(reopened.error(), Error(QString(), reason, sound::kDriver));

    device->setFailure({});
    EXPECT_TRUE(CaptureDevice::open(device));
}

// A sound server whose sources come and go, for what the virtual device cannot show.
class ChangingSources final : public audio::AudioBackend {
public:
    std::mutex m;
    std::vector<audio::SourceInfo> list;
    int defaultIndex = -1;
    std::vector<std::pair<int, int>> volumesSet; // (index, percent)
    std::vector<int> capturesOpened;

    void setSources(std::initializer_list<const char*> names) {
        std::lock_guard lock(m);
        std::vector<audio::SourceInfo> old;
        old.swap(list);
        for (const char* n : names) {
            audio::SourceInfo s;
            s.name = QString::fromUtf8(n);
            s.description = QStringLiteral("Source ") + s.name;
            s.kind = SourceKind::Analog;
            // A source that stays keeps its level.
            for (const audio::SourceInfo& o : old) {
                if (o.name == s.name)
                    s.volumePercent = o.volumePercent;
            }
            list.push_back(s);
        }
    }

    QString name() const override { return QStringLiteral("changing"); }
    Status available() override { return {}; }
    Result<std::unique_ptr<audio::PlaybackStream>>
    openPlayback(const audio::PcmFormat&, audio::PullFn, audio::EndFn) override {
        return Error({}, QStringLiteral("no playback here"));
    }
    Result<std::unique_ptr<audio::CaptureStream>> openCapture(int index, const audio::PcmFormat&,
                                                              audio::PushFn) override {
        std::lock_guard lock(m);
        capturesOpened.push_back(index);
        return Error({}, QStringLiteral("capture noted"));
    }
    Result<std::vector<audio::SourceInfo>> sources() override {
        std::lock_guard lock(m);
        return list;
    }
    Result<int> defaultSource() override {
        std::lock_guard lock(m);
        return defaultIndex;
    }
    Status setSourceVolume(int index, int percent) override {
        std::lock_guard lock(m);
        volumesSet.emplace_back(index, percent);
        list[static_cast<std::size_t>(index)].volumePercent = percent;
        return {};
    }
};

TEST(CaptureInputs, KeepTheirNumbersWhileSourcesComeAndGo) {
    auto server = std::make_shared<ChangingSources>();
    server->setSources({"a", "b", "c"});
    server->defaultIndex = 1;
    auto opened = CaptureDevice::open(server);
    ASSERT_TRUE(opened);
    CaptureDevice& capture = *opened;
    EXPECT_EQ(capture.chosen(), 1);

    // "a" goes away and "d" appears first: the server's order is now d, b, c.
    server->setSources({"d", "b", "c"});
    auto inputs = capture.inputs();
    ASSERT_TRUE(inputs);
    ASSERT_EQ(inputs->size(), 4u);
    const char* names[] = {"Source a", "Source b", "Source c", "Source d"};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ((*inputs)[i].description.toStdString(), names[i]);
        EXPECT_EQ((*inputs)[i].present, i != 0) << i;
    }
    EXPECT_EQ(capture.choose(0).error().code(), sound::kNotAvail);
    EXPECT_EQ(capture.setLevel(0, 50).error().code(), sound::kNotAvail);

    // Input 2 is "c", now third on the server; input 3 is "d", now first.
    ASSERT_TRUE(capture.choose(3));
    ASSERT_TRUE(capture.setLevel(2, 20));
    Collector c(1 << 10);
    const auto rec = capture.start(44100, 2, c.fn());
    ASSERT_FALSE(rec);
    EXPECT_EQ(rec.error().code(), sound::kStart);
    EXPECT_TRUE(rec.error().cause().contains(QLatin1String("capture noted")));
    {
        std::lock_guard lock(server->m);
        EXPECT_EQ(server->volumesSet, (std::vector<std::pair<int, int>>{{2, 20}}));
        EXPECT_EQ(server->capturesOpened, std::vector<int>{0});
    }
    EXPECT_EQ(capture.input(2)->level, 20);

    // "a" comes back, last on the server: it is input 0 again.
    server->setSources({"d", "b", "c", "a"});
    EXPECT_TRUE(capture.input(0)->present);
    EXPECT_EQ(capture.inputs()->size(), 4u);

    // A new device numbers the inputs in the server's order.
    opened = CaptureDevice::open(server);
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->input(0)->description, QStringLiteral("Source d"));
    EXPECT_EQ(opened->input(3)->description, QStringLiteral("Source a"));
    EXPECT_EQ(opened->chosen(), 1); // the default, "b"
}

// Levels are set back on the source they were set on, wherever the server lists it now; one
// that has gone is skipped.
TEST(CaptureInputs, LevelsAreSetBackByTheSourceAndSkippedWhenItIsGone) {
    auto server = std::make_shared<ChangingSources>();
    server->setSources({"a", "b", "c"});
    server->defaultIndex = 0;
    {
        auto opened = CaptureDevice::open(server);
        ASSERT_TRUE(opened);
        ASSERT_TRUE(opened->setLevel(0, 20));
        // "b" goes and "a" is second now: leaving "a" sets index 1 back.
        server->setSources({"c", "a"});
        ASSERT_TRUE(opened->choose(2));
        ASSERT_TRUE(opened->setLevel(2, 30));
        // "c" goes too: the device's end has nothing to set back.
        server->setSources({"a"});
    }
    std::lock_guard lock(server->m);
    EXPECT_EQ(server->volumesSet, (std::vector<std::pair<int, int>>{{0, 20}, {1, 100}, {0, 30}}));
}

} // namespace

// One encoding as the window's jobs and the command line run it (encodeMetered): sine sources at
// many rates, then decoded back by libmpg123 and ffmpeg; each encoding's own bit rate and result;
// the failure paths; a stop while an encoding runs.

#include "Mp3TestSupport.h"
#include "support/TestPaths.h"

#include "engines/encoder/MeteredSource.h"
#include "engines/encoder/Mp3Encode.h"
#include "engines/util/CodecThreads.h"
#include "support/Waits.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <future>
#include <memory>
#include <tuple>

namespace quaverly::test {
namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QStringList entries(const QString& dir) {
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

// A plain MP3 of the WAV file `wav` at `kbps`, as the window's MP3 jobs order it.
encode::EncodeOrder plainMp3(const QString& wav, const QString& target, int kbps = 128) {
    return {encode::wavFileSource(wav), wav, true, target, {encode::Format::Mp3, kbps}, {}};
}

// --- the data-driven round trip ----------------------------------------------------------------

using RoundTrip = std::tuple<int /*rate*/, int /*channels*/, int /*kbps*/>;

class EncodeRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(EncodeRoundTrip, DecodesBackToTheSameToneLengthAndBitRate) {
    const auto [rate, channels, kbps] = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // An odd length, so the last frame is padded.
    const Sine sine{rate, channels, std::uint64_t(rate) * 3 / 4 + 17};
    const QString wav = dir.filePath("sine.wav"), mp3 = dir.filePath("sine.mp3");
    writeCanonicalWav(wav, sine);

    std::uint64_t told = 0, toldTotal = 0;
    const Status done = encode::encodeMetered(plainMp3(wav, mp3, kbps),
                                              {{}, [&](std::uint64_t frames, std::uint64_t total) {
                                                   told = frames;
                                                   toldTotal = total;
                                               }});
    ASSERT_TRUE(done.ok()) << failureText(done);
    EXPECT_EQ(told, sine.frames);
    EXPECT_EQ(toldTotal, sine.frames);

    const int mp3Rate = mp3::encodingSampleRate(rate, kbps, channels);
    const bool native = mp3Rate == rate;
    // 56 kbit/s frames at 44.1 and 48 kHz are too small for the gapless tag; all else fits.
    if (((rate == 44100 || rate == 48000) && kbps >= 96) || rate == 32000 ||
        (rate == 22050 && kbps <= 160)) {
        EXPECT_TRUE(native) << "needlessly resampled to " << mp3Rate;
    }

    QString error;
    const auto frames = readFrames(mp3, &error);
    ASSERT_TRUE(frames) << error.toStdString();
    ASSERT_GT(frames->size(), 2u);
    for (std::size_t i = 0; i < frames->size(); ++i) {
        const Frame& f = (*frames)[i];
        ASSERT_EQ(f.kbps, kbps) << "frame " << i;
        ASSERT_EQ(f.sampleRate, mp3Rate) << "frame " << i;
        ASSERT_EQ(f.mode, channels == 1 ? 3 : 1) << "frame " << i; // mono, or joint stereo
    }

    const auto decoded = decodeMp3(mp3, &error);
    ASSERT_TRUE(decoded) << error.toStdString();
    EXPECT_EQ(decoded->sampleRate, mp3Rate);
    EXPECT_EQ(decoded->channels, channels);
    if (native) {
        EXPECT_EQ(decoded->frames(), sine.frames);
    } else {
        // soxr gives round(frames x ratio); a lost flush or tail would be hundreds short.
        const double expected = double(sine.frames) * mp3Rate / rate;
        EXPECT_LE(std::abs(double(decoded->frames()) - expected), 2.0)
            << "resampled " << rate << " -> " << mp3Rate;
    }
    EXPECT_NEAR(toneHz(*decoded, 0), sine.leftHz, sine.leftHz * 0.01);
    if (channels == 2) {
        EXPECT_NEAR(toneHz(*decoded, 1), sine.rightHz, sine.rightHz * 0.01);
    }

    if (const auto complaints = ffmpegComplaints(mp3)) {
        EXPECT_TRUE(complaints->isEmpty()) << complaints->toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(
    RatesChannelsBitRates, EncodeRoundTrip,
    ::testing::Combine(::testing::Values(44100, 48000, 32000, 22050, 8000, 37800),
                       ::testing::Values(1, 2), ::testing::Values(56, 96, 128, 256)),
    [](const auto& p) {
        return "r" + std::to_string(std::get<0>(p.param)) + "_c" +
               std::to_string(std::get<1>(p.param)) + "_b" + std::to_string(std::get<2>(p.param));
    });

// --- the bit rate -------------------------------------------------------------------------------

TEST(EncodeBitRate, AcceptsLayerThreeRatesOnly) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString wav = dir.filePath("in.wav");
    writeCanonicalWav(wav, Sine{44100, 1, 5000});
    for (const int kbps : {56, 96, 256, 8, 320, 144})
        EXPECT_TRUE(mp3::isValidBitRate(kbps)) << kbps;
    for (const int bad : {0, -128, 100, 384, 129, 448}) {
        EXPECT_FALSE(mp3::isValidBitRate(bad)) << bad;
        const Status failure = encode::encodeMetered(plainMp3(wav, dir.filePath("out.mp3"), bad));
        ASSERT_FALSE(failure.ok()) << bad;
        EXPECT_EQ(mp3::encodeStep(failure.error()), mp3::EncodeStep::Encode);
        EXPECT_TRUE(failure.error().cause().contains("not an MP3 bit rate"))
            << failureText(failure);
    }
    EXPECT_EQ(entries(dir.path()), QStringList{"in.wav"});
}

// --- encodings one after another ----------------------------------------------------------------

TEST(EncodeOrders, EachHasItsOwnBitRateAndResult) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString wav = dir.filePath("in.wav");
    writeCanonicalWav(wav, Sine{44100, 2, 30000});

    struct Case {
        QString source;
        const char* name;
        int kbps;
        bool ok;
    };
    const Case cases[] = {
        {wav, "a.mp3", 56, true},
        {dir.filePath("missing.wav"), "b.mp3", 96, false}, // a failure leaves the next alone
        {wav, "c.mp3", 256, true},
        {wav, "d.mp3", 128, true},
    };
    for (const Case& c : cases) {
        const QString target = dir.filePath(c.name);
        SCOPED_TRACE(c.name);
        const Status done = encode::encodeMetered(plainMp3(c.source, target, c.kbps));
        EXPECT_EQ(done.ok(), c.ok) << failureText(done);
        EXPECT_EQ(QFile::exists(target), c.ok);
        if (!c.ok)
            continue;
        QString error;
        const auto frames = readFrames(target, &error);
        ASSERT_TRUE(frames) << error.toStdString();
        EXPECT_EQ(frames->front().kbps, c.kbps);
        EXPECT_EQ(frames->back().kbps, c.kbps);
    }
    EXPECT_EQ(entries(dir.path()), (QStringList{"a.mp3", "c.mp3", "d.mp3", "in.wav"}));
}

// --- failures (a failed encoding never looks finished) ---------------------------------------

struct FailureCase {
    const char* name;
    // Prepares the folder; returns {source, target}.
    std::function<std::pair<QString, QString>(const QString& dir)> setUp;
    mp3::EncodeStep step; // Write names the target, ReadWav the source
    const char* cause;    // part of the cause
};

void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.name;
}

class EncodeFailures : public ::testing::TestWithParam<FailureCase> {};

TEST_P(EncodeFailures, ReportsTheFileAndCauseAndLeavesTheTargetAlone) {
    const FailureCase& c = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const auto [source, target] = c.setUp(dir.path());
    const QByteArray previous = "an earlier MP3 that must survive";
    const bool keepsPrevious = QFileInfo(target).dir().exists() && !QFileInfo::exists(target);
    if (keepsPrevious)
        writeBytes(target, previous);
    const QStringList before = entries(dir.path());

    const Status failure = encode::encodeMetered(plainMp3(source, target));
    ASSERT_FALSE(failure.ok());
    EXPECT_EQ(mp3::encodeStep(failure.error()), c.step);
    EXPECT_EQ(failure.error().file(), c.step == mp3::EncodeStep::Write ? target : source);
    EXPECT_TRUE(failure.error().cause().contains(QString::fromUtf8(c.cause), Qt::CaseInsensitive))
        << failureText(failure);
    if (keepsPrevious) {
        EXPECT_EQ(readAll(target), previous);
    }
    EXPECT_EQ(entries(dir.path()), before) << "something was left behind";
}

QString makeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(bytes);
    return path;
}

QString sineWav(const QString& dir) {
    const QString wav = dir + "/in.wav";
    writeCanonicalWav(wav, Sine{44100, 2, 20000});
    return wav;
}

INSTANTIATE_TEST_SUITE_P(
    Paths, EncodeFailures,
    ::testing::Values(
        FailureCase{"MissingSource",
                    [](const QString& d) {
                        return std::pair{d + "/nothing.wav", d + "/out.mp3"};
                    },
                    mp3::EncodeStep::ReadWav, "does not exist"},
        FailureCase{"TextSource",
                    [](const QString& d) {
                        return std::pair{makeFile(d + "/notes.wav", "these are not samples\n"),
                                         d + "/out.mp3"};
                    },
                    mp3::EncodeStep::ReadWav, "not a readable WAV"},
        FailureCase{"Mp3Source",
                    [](const QString& d) {
                        QFile::copy(quaverly::test::dataPath("/real/mp3/edge/cbr.mp3"),
                                    d + "/song.wav");
                        return std::pair{d + "/song.wav", d + "/out.mp3"};
                    },
                    mp3::EncodeStep::ReadWav, "WAV"},
        FailureCase{"FolderAsSource",
                    [](const QString& d) {
                        QDir(d).mkdir("folder.wav");
                        return std::pair{d + "/folder.wav", d + "/out.mp3"};
                    },
                    mp3::EncodeStep::ReadWav, ""},
        FailureCase{"EmptySource",
                    [](const QString& d) {
                        return std::pair{makeFile(d + "/empty.wav", {}), d + "/out.mp3"};
                    },
                    mp3::EncodeStep::ReadWav, ""},
        FailureCase{"TargetFolderMissing",
                    [](const QString& d) {
                        return std::pair{sineWav(d), d + "/no/such/folder/out.mp3"};
                    },
                    mp3::EncodeStep::Write, ""},
        FailureCase{"TargetFolderIsAFile",
                    [](const QString& d) {
                        makeFile(d + "/plain", "x");
                        return std::pair{sineWav(d), d + "/plain/out.mp3"};
                    },
                    mp3::EncodeStep::Write, ""},
        FailureCase{"TargetIsAFolder",
                    [](const QString& d) {
                        QDir(d).mkdir("out.mp3");
                        return std::pair{sineWav(d), d + "/out.mp3"};
                    },
                    mp3::EncodeStep::Write, ""}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(EncodeFailures, UnwritableTargetFolder) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString wav = sineWav(dir.path());
    const QString locked = dir.filePath("locked");
    ASSERT_TRUE(QDir(dir.path()).mkdir("locked"));
    writeBytes(locked + "/out.mp3", "old");
    QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    if (QFileInfo(locked).isWritable()) { // root writes anywhere
        QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ExeOwner);
        GTEST_SKIP() << "permissions are not enforced for this user";
    }
    const Status failure = encode::encodeMetered(plainMp3(wav, locked + "/out.mp3"));
    QFile::setPermissions(locked,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    ASSERT_FALSE(failure.ok());
    EXPECT_EQ(mp3::encodeStep(failure.error()), mp3::EncodeStep::Write);
    EXPECT_EQ(failure.error().file(), locked + "/out.mp3");
    EXPECT_EQ(readAll(locked + "/out.mp3"), QByteArray("old"));
    EXPECT_EQ(entries(locked), QStringList{"out.mp3"});
}

// --- a stop while encoding ---------------------------------------------------------------------

// Sets the codec threads while it lives.
struct CodecThreads {
    explicit CodecThreads(int n) { setCodecThreadsForTesting(n); }
    ~CodecThreads() { setCodecThreadsForTesting(0); }
};

// Sound without end that counts the blocks the encoder has taken: an encoding of it is running
// once the count moves, and ends only when it is stopped, however fast the machine.
class EndlessSound final : public mp3::PcmSource {
public:
    explicit EndlessSound(std::atomic<int>& blocks) : blocks_(blocks) {}
    int channels() const override { return 1; }
    int sampleRate() const override { return 44100; }
    Result<std::size_t> read(float* dst, std::size_t frames) override {
        for (std::size_t i = 0; i < frames; ++i, ++at_)
            dst[i] = float(std::sin(double(at_) * 0.0627)); // about 440 Hz
        ++blocks_;
        return frames;
    }

private:
    std::atomic<int>& blocks_;
    std::uint64_t at_ = 0;
};

constexpr double kJobSeconds = 60;

// On one thread and on two (the parallel writer's way of stopping), with a plain MP3 and a
// tagged one (encodeSong's way).
class EncodeStop : public ::testing::TestWithParam<std::tuple<int /*threads*/, bool /*tags*/>> {};

TEST_P(EncodeStop, AbandonsTheRunningEncodingAndLaterOnesRun) {
    const auto [threads, tagged] = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const CodecThreads codecThreads(threads);
    const QString wav = sineWav(dir.path());
    const QString target = dir.filePath("out.mp3");
    writeBytes(target, "previous");

    std::atomic<int> blocks{0};
    encode::EncodeOrder order{[&blocks]() -> Result<std::unique_ptr<mp3::PcmSource>> {
                                  return std::unique_ptr<mp3::PcmSource>(
                                      std::make_unique<EndlessSound>(blocks));
                              },
                              QStringLiteral("endless"),
                              false,
                              target,
                              {},
                              {}};
    if (tagged)
        order.tags = ClipTags{};
    std::stop_source stop;
    auto running = std::async(std::launch::async, [&] {
        return encode::encodeMetered(order, {stop.get_token(), {}});
    });
    ASSERT_TRUE(pollUntil([&] { return blocks > 10; }, kJobSeconds)); // well into the encoding
    stop.request_stop();
    ASSERT_EQ(running.wait_for(std::chrono::duration<double>(kJobSeconds)),
              std::future_status::ready);
    const Status failure = running.get();
    ASSERT_FALSE(failure.ok());
    EXPECT_EQ(mp3::encodeStep(failure.error()), mp3::EncodeStep::Cancel);
    EXPECT_EQ(failure.error().file(), target);
    EXPECT_EQ(readAll(target), QByteArray("previous"));
    EXPECT_EQ(entries(dir.path()), (QStringList{"in.wav", "out.mp3"}));

    const auto later = encode::encodeMetered(plainMp3(wav, dir.filePath("later.mp3")));
    EXPECT_TRUE(later.ok()) << failureText(later);
}

INSTANTIATE_TEST_SUITE_P(ThreadsAndTags, EncodeStop,
                         ::testing::Combine(::testing::Values(1, 2), ::testing::Bool()));

} // namespace
} // namespace quaverly::test

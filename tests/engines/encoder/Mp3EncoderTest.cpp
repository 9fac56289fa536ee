// Mp3Encoder as the program uses it: sine sources at many rates through the queue, then decoded
// back by libmpg123 and ffmpeg; the queue's order, results and failure paths; destruction while
// a job runs.

#include "Mp3TestSupport.h"
#include "support/TestPaths.h"

#include "engines/encoder/Mp3Encode.h"
#include "engines/encoder/Mp3Encoder.h"
#include "engines/util/CodecThreads.h"
#include "support/Waits.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
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

// --- the data-driven round trip ----------------------------------------------------------------

using RoundTrip = std::tuple<int /*rate*/, int /*channels*/, int /*kbps*/>;

class EncoderRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(EncoderRoundTrip, DecodesBackToTheSameToneLengthAndBitRate) {
    const auto [rate, channels, kbps] = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // An odd length, so the last frame is padded.
    const Sine sine{rate, channels, std::uint64_t(rate) * 3 / 4 + 17};
    const QString wav = dir.filePath("sine.wav"), mp3 = dir.filePath("sine.mp3");
    writeCanonicalWav(wav, sine);

    Mp3Encoder encoder;
    encoder.setBitRate(kbps);
    const int id = encoder.EncodeFiles(wav, mp3);
    EXPECT_GT(id, 0);
    const auto results = waitForResults(encoder, 1);
    ASSERT_EQ(results.size(), 1u);
    ASSERT_TRUE(results[0].ok()) << failureText(results[0].failure);
    EXPECT_EQ(results[0].jobId, id);
    EXPECT_EQ(results[0].bitRate, kbps);
    EXPECT_EQ(encoder.EncoderState(), 0);

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
    RatesChannelsBitRates, EncoderRoundTrip,
    ::testing::Combine(::testing::Values(44100, 48000, 32000, 22050, 8000, 37800),
                       ::testing::Values(1, 2), ::testing::Values(56, 96, 128, 256)),
    [](const auto& p) {
        return "r" + std::to_string(std::get<0>(p.param)) + "_c" +
               std::to_string(std::get<1>(p.param)) + "_b" + std::to_string(std::get<2>(p.param));
    });

// --- the bit rate -------------------------------------------------------------------------------

TEST(EncoderBitRate, AcceptsLayerThreeRatesOnlyAndKeepsTheLastGood) {
    Mp3Encoder encoder;
    EXPECT_EQ(encoder.bitRate(), 128);
    for (const int kbps : {56, 96, 256, 8, 320, 144}) {
        encoder.setBitRate(kbps);
        EXPECT_EQ(encoder.bitRate(), kbps);
    }
    for (const int bad : {0, -128, 100, 384, 129, 448}) {
        encoder.setBitRate(bad);
        EXPECT_EQ(encoder.bitRate(), 144) << bad;
        EXPECT_FALSE(Mp3Encoder::isValidBitRate(bad));
    }
    // The property the window code sets by name.
    EXPECT_TRUE(encoder.setProperty("BitRate", 96));
    EXPECT_EQ(encoder.bitRate(), 96);
}

// --- the queue ----------------------------------------------------------------------------------

TEST(EncoderQueue, RunsJobsInOrderEachWithItsOwnBitRateAndResult) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString wav = dir.filePath("in.wav");
    writeCanonicalWav(wav, Sine{44100, 2, 30000});

    Mp3Encoder encoder;
    struct Expect {
        QString source, target;
        int kbps;
        bool ok;
    };
    std::vector<Expect> expect;
    std::vector<int> ids;
    const auto queue = [&](const QString& source, const QString& name, int kbps, bool ok) {
        encoder.setBitRate(kbps);
        ids.push_back(encoder.EncodeFiles(source, dir.filePath(name)));
        expect.push_back({source, dir.filePath(name), kbps, ok});
    };
    queue(wav, "a.mp3", 56, true);
    queue(dir.filePath("missing.wav"), "b.mp3", 96, false); // a failure does not stop the queue
    queue(wav, "c.mp3", 256, true);
    encoder.setBitRate(128); // after the calls: changes none of the queued jobs
    queue(wav, "d.mp3", 128, true);

    // Both calls return before anything is delivered.
    EXPECT_EQ(encoder.EncoderState(), 4);
    for (std::size_t i = 1; i < ids.size(); ++i)
        EXPECT_GT(ids[i], ids[i - 1]);

    std::vector<int> stateInHandler;
    std::vector<QThread*> threads;
    QObject::connect(&encoder, &Mp3Encoder::EncodeDone, &encoder, [&](const EncodeResult&) {
        stateInHandler.push_back(encoder.EncoderState());
        threads.push_back(QThread::currentThread());
    });
    const auto results = waitForResults(encoder, 4);
    ASSERT_EQ(results.size(), 4u);
    EXPECT_EQ(stateInHandler, (std::vector<int>{3, 2, 1, 0}));
    for (QThread* t : threads)
        EXPECT_EQ(t, QThread::currentThread()) << "EncodeDone not on the encoder's thread";
    for (std::size_t i = 0; i < results.size(); ++i) {
        const EncodeResult& r = results[i];
        SCOPED_TRACE(expect[i].target.toStdString());
        EXPECT_EQ(r.jobId, ids[i]);
        EXPECT_EQ(r.source, expect[i].source);
        EXPECT_EQ(r.target, expect[i].target);
        EXPECT_EQ(r.bitRate, expect[i].kbps);
        EXPECT_EQ(r.ok(), expect[i].ok) << failureText(r.failure);
        EXPECT_EQ(QFile::exists(r.target), expect[i].ok);
        if (!r.ok())
            continue;
        QString error;
        const auto frames = readFrames(r.target, &error);
        ASSERT_TRUE(frames) << error.toStdString();
        EXPECT_EQ(frames->front().kbps, expect[i].kbps);
        EXPECT_EQ(frames->back().kbps, expect[i].kbps);
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

class EncoderFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(EncoderFailure, ReportsTheFileAndCauseAndLeavesTheTargetAlone) {
    const FailureCase& c = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const auto [source, target] = c.setUp(dir.path());
    const QByteArray previous = "an earlier MP3 that must survive";
    const bool keepsPrevious = QFileInfo(target).dir().exists() && !QFileInfo::exists(target);
    if (keepsPrevious)
        writeBytes(target, previous);
    const QStringList before = entries(dir.path());

    Mp3Encoder encoder;
    encoder.EncodeFiles(source, target);
    const auto results = waitForResults(encoder, 1);
    ASSERT_EQ(results.size(), 1u);
    const EncodeResult& r = results[0];
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.failure->step, c.step);
    EXPECT_EQ(r.failure->error.file(), c.step == mp3::EncodeStep::Write ? target : source);
    EXPECT_TRUE(r.failure->error.cause().contains(QString::fromUtf8(c.cause), Qt::CaseInsensitive))
        << failureText(r.failure);
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
    Paths, EncoderFailure,
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

TEST(EncoderFailure, UnwritableTargetFolder) {
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
    Mp3Encoder encoder;
    encoder.EncodeFiles(wav, locked + "/out.mp3");
    const auto results = waitForResults(encoder, 1);
    QFile::setPermissions(locked,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    ASSERT_EQ(results.size(), 1u);
    ASSERT_FALSE(results[0].ok());
    EXPECT_EQ(results[0].failure->step, mp3::EncodeStep::Write);
    EXPECT_EQ(results[0].failure->error.file(), locked + "/out.mp3");
    EXPECT_EQ(readAll(locked + "/out.mp3"), QByteArray("old"));
    EXPECT_EQ(entries(locked), QStringList{"out.mp3"});
}

// --- destruction while encoding -----------------------------------------------------------------

// Sets the codec threads while it lives.
struct CodecThreads {
    explicit CodecThreads(int n) { setCodecThreadsForTesting(n); }
    ~CodecThreads() { setCodecThreadsForTesting(0); }
};

// Sound without end that counts the blocks the encoder has taken: a job on it is running once
// the count moves, and ends only when it is abandoned, however fast the machine.
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

// Queues a job on EndlessSound; `blocks` counts what it reads.
void encodeEndless(Mp3Encoder& encoder, std::atomic<int>& blocks, const QString& target) {
    encoder.EncodeSource(
        [&blocks]() -> Result<std::unique_ptr<mp3::PcmSource>> {
            return std::unique_ptr<mp3::PcmSource>(std::make_unique<EndlessSound>(blocks));
        },
        QStringLiteral("endless"), target);
}

// The waits poll without running the event loop, so the results the worker posts stay queued.
constexpr double kJobSeconds = 60;

TEST(EncoderLifetime, DestructionAbandonsTheRunningJobQuietly) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const CodecThreads two(2); // the parallel writer's way of stopping too
    const QString wav = sineWav(dir.path());
    const QString target = dir.filePath("out.mp3");
    writeBytes(target, "previous");

    int delivered = 0;
    std::atomic<int> blocks{0};
    {
        auto encoder = std::make_unique<Mp3Encoder>();
        QObject::connect(encoder.get(), &Mp3Encoder::EncodeDone, [&] { ++delivered; });
        encodeEndless(*encoder, blocks, target);
        encoder->EncodeFiles(wav, dir.filePath("queued.mp3"));
        ASSERT_TRUE(pollUntil([&] { return blocks > 10; }, kJobSeconds)); // well into the first job
        QCoreApplication::processEvents();
        encoder.reset(); // joins the worker
    }
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(delivered, 0);
    EXPECT_EQ(readAll(target), QByteArray("previous"));
    EXPECT_EQ(entries(dir.path()), (QStringList{"in.wav", "out.mp3"}));
}

TEST(EncoderLifetime, CancelAllAbandonsEveryJobAndLaterJobsRun) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString shortWav = sineWav(dir.path());
    const CodecThreads two(2);
    const QString target = dir.filePath("out.mp3");
    writeBytes(target, "previous");

    std::atomic<int> blocks{0};
    Mp3Encoder encoder;
    int delivered = 0;
    QObject::connect(&encoder, &Mp3Encoder::EncodeDone, [&] { ++delivered; });
    // A short job that ends and posts its result before the cancel, an endless one running, one
    // queued behind it. The worker posts a result before it takes the next job, so once the
    // endless one reads, the short one's result waits in the event queue.
    encoder.EncodeFiles(shortWav, dir.filePath("done.mp3"));
    encodeEndless(encoder, blocks, target);
    encoder.EncodeFiles(shortWav, dir.filePath("queued.mp3"));
    ASSERT_TRUE(pollUntil([&] { return blocks > 0; }, kJobSeconds));
    EXPECT_TRUE(QFile::exists(dir.filePath("done.mp3")));
    encoder.cancelAll();
    EXPECT_EQ(encoder.EncoderState(), 0);
    EXPECT_EQ(readAll(target), QByteArray("previous"));
    EXPECT_FALSE(QFile::exists(dir.filePath("queued.mp3")));
    QCoreApplication::processEvents();
    EXPECT_EQ(delivered, 0);

    const auto later =
        (encoder.EncodeFiles(shortWav, dir.filePath("later.mp3")), waitForResults(encoder, 1));
    ASSERT_EQ(later.size(), 1u);
    EXPECT_TRUE(later[0].ok()) << failureText(later[0].failure);
    EXPECT_EQ(encoder.EncoderState(), 0);
}

TEST(EncoderLifetime, ResultsPostedBeforeDestructionAreNotDelivered) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString wav = sineWav(dir.path());
    int delivered = 0;
    std::atomic<int> blocks{0};
    {
        Mp3Encoder encoder;
        QObject::connect(&encoder, &Mp3Encoder::EncodeDone, [&] { ++delivered; });
        encoder.EncodeFiles(wav, dir.filePath("out.mp3"));
        // The short job finishes and posts its result before the worker takes the next job;
        // no event loop runs to deliver it.
        encodeEndless(encoder, blocks, dir.filePath("endless.mp3"));
        ASSERT_TRUE(pollUntil([&] { return blocks > 0; }, kJobSeconds));
        EXPECT_TRUE(QFile::exists(dir.filePath("out.mp3")));
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(delivered, 0);
}

} // namespace
} // namespace quaverly::test

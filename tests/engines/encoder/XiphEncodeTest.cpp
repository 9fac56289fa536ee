// The Ogg Vorbis, Opus and FLAC encoders through encodeSong, with sound made in code: what
// ffprobe calls the result, the exact decoded length, FLAC bit for bit (and its MD5 by
// `flac -t`), FLAC on several threads the bytes of one, the lossy ones as close to the source
// as the formats' own tools at the same setting; and a missing folder, a full disk, a failed
// source or a cancel leaves nothing behind.
// Rows skip when ffmpeg is missing, the comparison with a tool when that tool is.

#include "decode/DecodeTestUtil.h"
#include "support/FileSizeLimit.h"
#include "support/TestAudio.h"

#include "engines/encoder/SongEncode.h"
#include "engines/util/CodecThreads.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <stdexcept>
#include <stop_token>
#include <thread>

namespace quaverly::test {
namespace {

using decode_test::run;
using encode::Format;

// 16-bit sound in memory, handed out as the WAV reader does (v / 32768), at most `chunk` frames
// a read. From frame `faultAt` on it fails (or throws), or, given `stop`, asks for the stop.
struct MemorySource final : mp3::PcmSource {
    MemorySource(std::vector<std::int16_t> s, int channels, int sampleRate)
        : samples(std::move(s)), ch(channels), rate(sampleRate) {}
    int channels() const override { return ch; }
    int sampleRate() const override { return rate; }
    std::int64_t lengthHint() const override {
        return hint >= 0 ? hint : std::int64_t(samples.size()) / ch;
    }
    Result<std::size_t> read(float* dst, std::size_t frames) override {
        reader = std::this_thread::get_id();
        if (position >= faultAt && throws)
            throw std::runtime_error("out of memory");
        if (position >= faultAt && !stop)
            return Error(QStringLiteral("song.mp3"), QStringLiteral("damaged frame"));
        if (position >= faultAt)
            stop->request_stop();
        const std::size_t from = position * std::size_t(ch);
        const std::size_t n =
            std::min(std::min(frames, chunk) * std::size_t(ch), samples.size() - from);
        for (std::size_t i = 0; i < n; ++i)
            dst[i] = float(samples[from + i]) / 32768.f;
        position += n / std::size_t(ch);
        return n / std::size_t(ch);
    }

    std::vector<std::int16_t> samples;
    int ch, rate;
    std::size_t position = 0;
    std::size_t faultAt = SIZE_MAX;
    std::stop_source* stop = nullptr;
    bool throws = false;          // at faultAt, instead of failing
    std::int64_t hint = -1;       // the length told beforehand; -1: the true one
    std::size_t chunk = SIZE_MAX; // the most frames one read gives
    std::thread::id reader;       // the thread that read last
};

enum class Signal { Staircase, Sine };

std::vector<std::int16_t> sound(Signal signal, std::size_t frames, int channels, int rate) {
    if (signal == Signal::Staircase)
        return staircase(frames, channels, -20000, 7);
    std::vector<std::int16_t> s(frames * std::size_t(channels));
    for (std::size_t i = 0; i < s.size(); ++i) {
        const double hz = i % std::size_t(channels) ? 660 : 440; // a swap of channels shows
        const double t = double(i / std::size_t(channels)) / rate;
        s[i] = std::int16_t(std::lround(16000 * std::sin(2 * std::numbers::pi * hz * t)));
    }
    return s;
}

Status encodeTo(const QString& target, Format format, MemorySource& source,
                std::stop_token stop = {}) {
    encode::Settings settings;
    settings.format = format;
    return encode::encodeSong(source, QStringLiteral("song.mp3"), target, settings, ClipTags{},
                              std::move(stop));
}

// Signal to noise ratio (dB) against the source of a file as ffmpeg decodes it to the source's
// rate, over the samples both have.
double snrDb(const std::vector<std::int16_t>& source, const QString& path, int rate) {
    const auto bytes = run(
        {"ffmpeg", "-v", "error", "-i", path, "-ar", QString::number(rate), "-f", "f32le", "-"});
    const auto* decoded = bytes ? reinterpret_cast<const float*>(bytes->constData()) : nullptr;
    const std::size_t n = std::min(source.size(), bytes ? std::size_t(bytes->size()) / 4 : 0);
    double signal = 0, noise = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double s = source[i] / 32768.0;
        signal += s * s;
        noise += (s - decoded[i]) * (s - decoded[i]);
    }
    return 10 * std::log10(signal / std::max(noise, 1e-20));
}

struct Row {
    Format format;
    int channels;
    int rate;
    std::size_t frames;
    Signal signal;
};

void PrintTo(const Row& r, std::ostream* os) {
    *os << formats::info(r.format).extension << ' ' << r.channels << "ch " << r.rate << "Hz "
        << r.frames << (r.signal == Signal::Sine ? " sine" : " staircase");
}

// 4097: one frame past a block of FLAC's (4096 frames at level 5) and of the encoders' reads.
const Row kRows[] = {
    {Format::Flac, 1, 44100, 4097, Signal::Staircase},
    {Format::Flac, 2, 48000, 48000, Signal::Staircase},
    {Format::Flac, 2, 22050, 220500, Signal::Sine},
    {Format::Vorbis, 1, 48000, 4097, Signal::Sine},
    {Format::Vorbis, 2, 44100, 44100, Signal::Sine},
    {Format::Vorbis, 2, 22050, 220500, Signal::Staircase},
    {Format::Vorbis, 1, 44100, 441000, Signal::Sine},
    {Format::Opus, 2, 48000, 48000, Signal::Sine},
    {Format::Opus, 1, 44100, 4097, Signal::Sine},
    {Format::Opus, 2, 22050, 220500, Signal::Staircase},
    {Format::Opus, 2, 44100, 441000, Signal::Sine},
};

class XiphEncode : public ::testing::TestWithParam<Row> {};

TEST_P(XiphEncode, DecodesToTheSourcesLengthAndSound) {
    const Row r = GetParam();
    if (!havePeer("ffmpeg") || !havePeer("ffprobe"))
        GTEST_SKIP() << "ffmpeg is not installed";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const formats::FileFormat& info = formats::info(r.format);
    const QString ours = dir.filePath(QStringLiteral("ours.") + QLatin1String(info.extension));
    const auto samples = sound(r.signal, r.frames, r.channels, r.rate);
    MemorySource source(samples, r.channels, r.rate);
    const auto failed = encodeTo(ours, r.format, source);
    ASSERT_TRUE(failed.ok()) << failed.error().text().toStdString();

    const auto probe = run({"ffprobe", "-v", "error", "-show_entries",
                            "stream=codec_name,sample_rate,channels:format=format_name", "-of",
                            "default=nw=1", ours});
    const int fileRate = r.format == Format::Opus ? 48000 : r.rate;
    EXPECT_EQ(probe.value_or("").toStdString(),
              QStringLiteral("codec_name=%1\nsample_rate=%2\nchannels=%3\nformat_name=%4\n")
                  .arg(QLatin1String(info.codec))
                  .arg(fileRate)
                  .arg(r.channels)
                  .arg(QLatin1String(r.format == Format::Flac ? "flac" : "ogg"))
                  .toStdString());

    // The source's length; Opus at 48 kHz rounded up, so that a decoder going back to the
    // source's rate (rounding down) gets the source's length.
    const auto pcm = run({"ffmpeg", "-v", "error", "-i", ours, "-f", "s16le", "-"});
    ASSERT_TRUE(pcm);
    const auto decoded = decode_test::samplesOf(*pcm);
    EXPECT_EQ(decoded.size() / std::size_t(r.channels),
              (r.frames * std::size_t(fileRate) + std::size_t(r.rate) - 1) / std::size_t(r.rate));
    if (r.format == Format::Flac) {
        EXPECT_TRUE(decoded == samples) << "FLAC decodes to other samples";
        if (havePeer("flac")) { // the MD5 in STREAMINFO
            EXPECT_TRUE(run({"flac", "-t", "-s", ours}));
        }
        return;
    }
    if (r.format == Format::Vorbis && havePeer("oggdec")) {
        const auto raw = run({"oggdec", "-Q", "-R", "-o", "-", ours});
        EXPECT_EQ(raw.value_or("").size() / 2 / r.channels, qsizetype(r.frames));
    }

    // As close to the source as the format's own tool at the same setting, within 0.5 dB.
    const char* tool = r.format == Format::Vorbis ? "oggenc" : "opusenc";
    if (!havePeer(tool))
        GTEST_SKIP() << tool << " is not installed";
    const QString wav = dir.filePath(QStringLiteral("source.wav"));
    const QString theirs = dir.filePath(QStringLiteral("theirs.") + QLatin1String(info.extension));
    ASSERT_TRUE(writeWav16(wav, r.channels, std::uint32_t(r.rate), samples));
    const QString value = QString::number(info.defaultValue);
    ASSERT_TRUE(r.format == Format::Vorbis
                    ? run({"oggenc", "-Q", "-q", value, "-o", theirs, wav})
                    : run({"opusenc", "--quiet", "--bitrate", value, wav, theirs}));
    const double ourSnr = snrDb(samples, ours, r.rate);
    const double theirSnr = snrDb(samples, theirs, r.rate);
    EXPECT_GE(ourSnr, theirSnr - 0.5) << "ours " << ourSnr << " dB, " << tool << ' ' << theirSnr;
}

INSTANTIATE_TEST_SUITE_P(Rows, XiphEncode, ::testing::ValuesIn(kRows));

// Sets the codec threads for one test.
struct CodecThreads {
    explicit CodecThreads(int n) { setCodecThreadsForTesting(n); }
    ~CodecThreads() { setCodecThreadsForTesting(0); }
};

// FLAC on several threads: segments encoded apart and renumbered must make the single pass's
// very bytes (STREAMINFO, seek table, every frame; `flac -t` misses frame numbers that start
// again), decode to the source's samples, pass `flac -t` (CRCs, MD5) and keep their tags. Each
// length ends one sample into a last block. A source may tell its length only roughly (the segments
// and seek points are planned by it).
struct FlacRow {
    int threads;
    int channels;
    int rate;
    int level;
    std::size_t frames;
    int hintPercent = 100; // of the true length
};

void PrintTo(const FlacRow& r, std::ostream* os) {
    *os << r.threads << " threads " << r.channels << "ch " << r.rate << "Hz -" << r.level << ' '
        << r.frames << " told " << r.hintPercent << '%';
}

const FlacRow kFlacRows[] = {
    {2, 2, 44100, 5, 4096 * 330 + 1}, // four segments
    {3, 1, 11025, 5, 4096 * 200 + 1}, // a rate the frame headers give in bytes of their own
    // Blocks of 1152, segments not a multiple of the reads, frame numbers of three bytes.
    {2, 1, 8000, 0, 1152 * 2100 + 1},
    {3, 2, 44100, 5, 4096 * 200 + 1, 60},  // more segments than planned
    {2, 2, 44100, 5, 4096 * 200 + 1, 300}, // fewer, and seek points past the end
};

class FlacThreads : public ::testing::TestWithParam<FlacRow> {};

TEST_P(FlacThreads, SegmentsMakeTheSinglePassStream) {
    const FlacRow r = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const auto samples = sound(Signal::Staircase, r.frames, r.channels, r.rate);
    const auto encodeOn = [&](int threads) {
        const CodecThreads set(threads);
        MemorySource source(samples, r.channels, r.rate);
        source.hint = std::int64_t(r.frames) * r.hintPercent / 100;
        encode::Settings settings;
        settings.format = Format::Flac;
        settings.value = r.level;
        const QString path = dir.filePath(QStringLiteral("%1.flac").arg(threads));
        ClipTags tags;
        tags.title = QStringLiteral("Stairs");
        const auto failed =
            encode::encodeSong(source, QStringLiteral("song.mp3"), path, settings, tags);
        EXPECT_TRUE(failed.ok()) << failed.error().text().toStdString();
        return path;
    };
    const QString one = encodeOn(1);
    const QString several = encodeOn(r.threads);
    EXPECT_TRUE(decode_test::readAll(one) == decode_test::readAll(several))
        << "not the single pass's bytes";
    if (havePeer("flac")) {
        EXPECT_TRUE(run({"flac", "-t", "-s", several}));
    }
    if (havePeer("ffmpeg")) {
        const auto pcm = run({"ffmpeg", "-v", "error", "-i", several, "-f", "s16le", "-"});
        ASSERT_TRUE(pcm);
        EXPECT_TRUE(decode_test::samplesOf(*pcm) == samples) << "other samples";
    }
    if (havePeer("ffprobe")) {
        EXPECT_EQ(run({"ffprobe", "-v", "error", "-show_entries", "format_tags=title", "-of",
                       "default=nw=1:nk=1", several})
                      .value_or("")
                      .toStdString(),
                  "Stairs\n");
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, FlacThreads, ::testing::ValuesIn(kFlacRows));

// The bytes of an Ogg file with each page's serial number (chosen at random) and CRC zeroed.
QByteArray withoutSerials(QByteArray ogg) {
    for (qsizetype at = 0; at + 27 <= ogg.size();) {
        if (!ogg.sliced(at).startsWith("OggS"))
            return {};
        const int segments = std::uint8_t(ogg[at + 26]);
        qsizetype body = 0;
        for (int i = 0; i < segments && at + 27 + i < ogg.size(); ++i)
            body += std::uint8_t(ogg[at + 27 + i]);
        ogg.replace(at + 14, 4, QByteArray(4, '\0'));
        ogg.replace(at + 22, 4, QByteArray(4, '\0'));
        at += 27 + segments + body;
    }
    return ogg;
}

// Ogg Vorbis and Opus read their source ahead on a second thread when they may: the stream must
// be the one a single thread writes, whatever the source gives per read, resampled and mixed
// (on the reading thread) too.
struct AheadRow {
    Format format;
    int channels, rate;
    int toChannels = 0, toRate = 0; // the settings' (0: the source's)
    std::size_t chunk = SIZE_MAX;
};

void PrintTo(const AheadRow& r, std::ostream* os) {
    *os << formats::info(r.format).extension << ' ' << r.channels << "ch " << r.rate << "Hz to "
        << r.toChannels << "ch " << r.toRate << "Hz";
    if (r.chunk != SIZE_MAX)
        *os << ", reads of " << r.chunk;
}

const AheadRow kAheadRows[] = {
    {Format::Vorbis, 1, 44100},
    {Format::Opus, 2, 44100},
    {Format::Vorbis, 2, 44100, 0, 0, 1000},  // short reads keep their length
    {Format::Vorbis, 2, 22050, 1, 48000},    // resampled and mixed down
    {Format::Opus, 1, 32000, 2, 48000, 700}, // resampled and doubled, short reads
};

class ReadAheadStream : public ::testing::TestWithParam<AheadRow> {};

TEST_P(ReadAheadStream, IsTheSingleThreadsStream) {
    const AheadRow r = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // Many times the read-ahead's buffers, and one frame into a last read.
    const auto samples = sound(Signal::Sine, 150 * 1024 + 1, r.channels, r.rate);
    const auto encodeOn = [&](int threads) {
        const CodecThreads set(threads);
        MemorySource source(samples, r.channels, r.rate);
        source.chunk = r.chunk;
        encode::Settings settings;
        settings.format = r.format;
        settings.channels = r.channels == r.toChannels ? 0 : r.toChannels;
        settings.sampleRate = r.toRate;
        const QString path = dir.filePath(QStringLiteral("%1.ogg").arg(threads));
        const auto failed =
            encode::encodeSong(source, QStringLiteral("song.mp3"), path, settings, ClipTags{});
        EXPECT_TRUE(failed.ok()) << failed.error().text().toStdString();
        EXPECT_EQ(source.reader == std::this_thread::get_id(), threads == 1);
        return withoutSerials(decode_test::readAll(path));
    };
    const QByteArray one = encodeOn(1);
    ASSERT_FALSE(one.isEmpty());
    EXPECT_TRUE(one == encodeOn(2)) << "read ahead, the stream is another";
}

INSTANTIATE_TEST_SUITE_P(Rows, ReadAheadStream, ::testing::ValuesIn(kAheadRows));

// Each failure as its step tells it, and nothing in the folder afterwards; Ogg Vorbis and Opus
// also reading ahead, FLAC also on three threads, whose workers are stopped and joined.
TEST(XiphEncodeFailure, LeavesNothingBehind) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const auto samples = sound(Signal::Sine, 10 * 44100, 2, 44100);
    const auto encode = [&](const QString& target, Format format, std::size_t faultAt = SIZE_MAX,
                            std::stop_source* stop = nullptr) {
        MemorySource source(samples, 2, 44100);
        source.faultAt = faultAt;
        source.stop = stop;
        const auto f =
            encodeTo(target, format, source, stop ? stop->get_token() : std::stop_token());
        if (f.ok())
            return std::pair(mp3::EncodeStep::Encode, Error("", ""));
        const Error& e = f.error(); // compared without the step it carries: first is the step
        return std::pair(mp3::encodeStep(e), Error(e.file(), e.cause(), e.code()));
    };
    using enum mp3::EncodeStep;
    for (const auto& [format, threads] :
         {std::pair(Format::Vorbis, 1), std::pair(Format::Opus, 1), std::pair(Format::Vorbis, 2),
          std::pair(Format::Opus, 2), std::pair(Format::Flac, 1), std::pair(Format::Flac, 3)}) {
        const CodecThreads set(threads);
        const QString ext = QLatin1String(formats::info(format).extension);
        SCOPED_TRACE(ext.toStdString() + " on " + std::to_string(threads) + " thread(s)");
        const QString target = dir.filePath(QStringLiteral("clip.") + ext);
        const QString nowhere = dir.filePath(QStringLiteral("missing/clip.") + ext);
        EXPECT_EQ(encode(nowhere, format).first, Write);
        EXPECT_EQ(encode(nowhere, format).second.file(), nowhere);
        EXPECT_EQ(encode(target, format, 5 * 44100),
                  std::pair(Source, Error(QStringLiteral("song.mp3"), "damaged frame")));
        std::stop_source stop;
        EXPECT_EQ(encode(target, format, 5 * 44100, &stop),
                  std::pair(Cancel, Error(target, "cancelled")));
        if (format != Format::Flac) { // a source's exception reaches the caller
            MemorySource throwing(samples, 2, 44100);
            throwing.faultAt = 5 * 44100;
            throwing.throws = true;
            EXPECT_THROW(encodeTo(target, format, throwing), std::runtime_error);
        }
        // A disk that fills up after 16 KiB: the write that fails is told, whichever it is.
        if (kCanLimitFileSize) {
            const auto full = withFileSizeLimit(16384, [&] {
                const auto [step, error] = encode(target, format);
                return QStringLiteral("%1 %2").arg(int(step)).arg(error.text());
            });
            EXPECT_EQ(
                full.value_or("").toStdString(),
                QStringLiteral("%1 %2: File too large").arg(int(Write)).arg(target).toStdString());
        }
        const QStringList left =
            QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries);
        EXPECT_TRUE(left.isEmpty()) << left.join(' ').toStdString();
    }
}

} // namespace
} // namespace quaverly::test

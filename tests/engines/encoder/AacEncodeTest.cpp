// M4A and M4R through encodeSong, read back by ffprobe, ffmpeg and the program's own song
// reader: the container and codec, the exact length of the sound (gapless), its alignment with
// the source, its quality against ffmpeg's own AAC encoding of the same samples, and failures
// that leave nothing behind.

#include "decode/DecodeTestUtil.h"
#include "engines/encoder/SongEncode.h"
#include "engines/wav/WavHeader.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include <signal.h>
#include <sys/resource.h>

namespace quaverly::encode {
namespace {

using decode_test::run;
using decode_test::samplesOf;

bool haveFfmpeg() {
    return !QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty() &&
           !QStandardPaths::findExecutable(QStringLiteral("ffprobe")).isEmpty();
}

// Music-like 16-bit sound: two tones and a sweep per channel, different on each side, with a
// little pseudo-random noise, so no two stretches of it look alike and a shift shows.
std::vector<std::int16_t> makeSound(int rate, int channels, std::int64_t frames) {
    std::vector<std::int16_t> pcm(std::size_t(frames * channels));
    std::uint32_t noise = 12345;
    for (std::int64_t i = 0; i < frames; ++i) {
        const double t = double(i) / rate;
        for (int ch = 0; ch < channels; ++ch) {
            const double base = ch == 0 ? 220.0 : 330.0;
            noise = noise * 1664525u + 1013904223u;
            const double v = 0.3 * std::sin(2 * std::numbers::pi * base * t) +
                             0.15 * std::sin(2 * std::numbers::pi * base * 2.5 * t) +
                             0.15 * std::sin(2 * std::numbers::pi * (300.0 + 1500.0 * t) * t) +
                             0.01 * (double(noise >> 16) / 32768.0 - 1.0);
            pcm[std::size_t(i * channels + ch)] = std::int16_t(std::lround(v * 32767.0));
        }
    }
    return pcm;
}

// The samples as a source, with or without their length told beforehand.
class Sound final : public PcmSource {
public:
    Sound(const std::vector<std::int16_t>& pcm, int rate, int channels, bool hinted)
        : pcm_(pcm), rate_(rate), channels_(channels), hinted_(hinted) {}

    int channels() const override { return channels_; }
    int sampleRate() const override { return rate_; }
    std::int64_t lengthHint() const override {
        return hinted_ ? std::int64_t(pcm_.size()) / channels_ : -1;
    }
    Result<std::size_t> read(float* dst, std::size_t frames) override {
        const std::size_t n = std::min(frames, (pcm_.size() - pos_) / std::size_t(channels_));
        for (std::size_t i = 0; i < n * std::size_t(channels_); ++i)
            dst[i] = float(pcm_[pos_ + i]) / 32768.0f;
        pos_ += n * std::size_t(channels_);
        return n;
    }

private:
    const std::vector<std::int16_t>& pcm_;
    int rate_, channels_;
    bool hinted_;
    std::size_t pos_ = 0;
};

void writeWav(const QString& path, const std::vector<std::int16_t>& pcm, int rate, int channels) {
    const auto bytes = std::uint32_t(pcm.size() * 2);
    const auto header = WavHeader::pcm(std::uint16_t(channels), std::uint32_t(rate), 16, bytes);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    const auto h = header.toBytes();
    f.write(reinterpret_cast<const char*>(h.data()), qint64(h.size()));
    f.write(reinterpret_cast<const char*>(pcm.data()), qint64(bytes));
}

std::vector<std::int16_t> ffmpegDecode(const QString& path) {
    const auto out = run({QStringLiteral("ffmpeg"), QStringLiteral("-v"), QStringLiteral("error"),
                          QStringLiteral("-i"), path, QStringLiteral("-f"), QStringLiteral("s16le"),
                          QStringLiteral("-")});
    return out ? samplesOf(*out) : std::vector<std::int16_t>{};
}

// The shift (in frames, -2048 to 2048) of `decoded` against `source` that matches best, over
// the first 8192 frames of the first channel.
int bestShift(const std::vector<std::int16_t>& source, const std::vector<std::int16_t>& decoded,
              int channels) {
    const std::int64_t frames = std::int64_t(source.size()) / channels;
    const std::int64_t window = std::min<std::int64_t>(frames, 8192);
    double bestError = -1;
    int best = 0;
    for (int shift = -2048; shift <= 2048; ++shift) {
        double error = 0;
        std::int64_t counted = 0;
        for (std::int64_t i = std::max<std::int64_t>(0, -shift); i < window; ++i) {
            const std::int64_t j = i + shift;
            if (j * channels >= std::int64_t(decoded.size()))
                break;
            const double d = source[std::size_t(i * channels)] - decoded[std::size_t(j * channels)];
            error += d * d;
            ++counted;
        }
        if (counted > window / 2 && (bestError < 0 || error / counted < bestError)) {
            bestError = error / double(counted);
            best = shift;
        }
    }
    return best;
}

// Signal to noise ratio in dB of `decoded` (shifted by `shift` frames) over the source's length.
double snr(const std::vector<std::int16_t>& source, const std::vector<std::int16_t>& decoded,
           int channels, int shift) {
    double signal = 0, noise = 0;
    for (std::size_t i = 0; i < source.size(); ++i) {
        const std::int64_t j = std::int64_t(i) + std::int64_t(shift) * channels;
        const double d = j >= 0 && j < std::int64_t(decoded.size()) ? decoded[std::size_t(j)] : 0;
        signal += double(source[i]) * source[i];
        noise += (source[i] - d) * (source[i] - d);
    }
    return 10 * std::log10(signal / std::max(noise, 1.0));
}

struct Case {
    const char* name;
    Format format;
    int rate;
    int channels;
    std::int64_t frames;
    int kbps;
    bool hinted = true; // the source tells its length beforehand
};

class AacEncode : public ::testing::TestWithParam<Case> {};

TEST_P(AacEncode, GaplessAacInAnM4aFileAsGoodAsFfmpegs) {
    if (!haveFfmpeg())
        GTEST_SKIP() << "no ffmpeg and ffprobe";
    const Case& c = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::vector<std::int16_t> pcm = makeSound(c.rate, c.channels, c.frames);
    const QString out =
        dir.filePath(QStringLiteral("out.") + QLatin1String(info(c.format).extension));

    Sound sound(pcm, c.rate, c.channels, c.hinted);
    Settings settings;
    settings.format = c.format;
    settings.value = c.kbps;
    const auto failed = encodeSong(sound, QStringLiteral("sound"), out, settings, ClipTags{});
    ASSERT_FALSE(failed) << failed->error.text().toStdString();

    const auto probe = run({QStringLiteral("ffprobe"), QStringLiteral("-v"),
                            QStringLiteral("error"), QStringLiteral("-show_entries"),
                            QStringLiteral("stream=codec_name,sample_rate,channels:format="
                                           "format_name:format_tags=major_brand"),
                            QStringLiteral("-of"), QStringLiteral("default=nw=1"), out});
    ASSERT_TRUE(probe);
    const QString said = QString::fromUtf8(*probe);
    for (const QString& line :
         {QStringLiteral("codec_name=aac"), QStringLiteral("sample_rate=%1").arg(c.rate),
          QStringLiteral("channels=%1").arg(c.channels),
          QStringLiteral("format_name=mov,mp4,m4a,3gp,3g2,mj2"),
          QStringLiteral("TAG:major_brand=M4A ")})
        EXPECT_TRUE(said.split(QLatin1Char('\n')).contains(line)) << said.toStdString();

    // The program's reader ends at the edit list's end. FFmpeg 5.1 ends an MP4 only at a
    // packet's end: it decodes the very frames when the sound was laid to end there behind a
    // lead of silence, which needs the length beforehand and a sound longer than that lead.
    const std::int64_t lead = (1024 - c.frames % 1024) % 1024;
    const bool laid = c.hinted && lead < c.frames;
    auto song = SongReader::open(out);
    ASSERT_TRUE(song) << song.error().text().toStdString();
    EXPECT_EQ(song->frames(), std::uint64_t(c.frames));
    EXPECT_EQ(song->format().delay, std::uint64_t(1024 + (laid ? lead : 0)));
    const std::vector<std::int16_t> ours = ffmpegDecode(out);
    const auto decodedFrames = std::int64_t(ours.size()) / c.channels;
    if (laid) {
        EXPECT_EQ(song->format().padding, 0u);
        EXPECT_EQ(decodedFrames, c.frames);
    } else {
        EXPECT_GE(decodedFrames, c.frames);
        EXPECT_LT(decodedFrames, c.frames + 1024);
    }
    if (c.frames < 4096)
        return; // too short to align by, or to compare noise over
    EXPECT_EQ(bestShift(pcm, ours, c.channels), 0);

    // FFmpeg's own encoding of the same samples behind the same lead: this encoder's quality
    // swings by many dB with where a sound's onsets fall in its frames, so only encodings of the
    // same frames compare.
    std::vector<std::int16_t> led(std::size_t((laid ? lead : 0) * c.channels), 0);
    led.insert(led.end(), pcm.begin(), pcm.end());
    const QString ledWav = dir.filePath(QStringLiteral("led.wav"));
    writeWav(ledWav, led, c.rate, c.channels);
    const QString theirsFile = dir.filePath(QStringLiteral("ffmpeg.m4a"));
    ASSERT_TRUE(run({QStringLiteral("ffmpeg"), QStringLiteral("-v"), QStringLiteral("error"),
                     QStringLiteral("-i"), ledWav, QStringLiteral("-c:a"), QStringLiteral("aac"),
                     QStringLiteral("-b:a"), QStringLiteral("%1k").arg(c.kbps), theirsFile}));
    const std::vector<std::int16_t> theirs = ffmpegDecode(theirsFile);
    const double ourSnr = snr(pcm, ours, c.channels, 0);
    const double theirSnr = snr(pcm, theirs, c.channels, bestShift(pcm, theirs, c.channels));
    EXPECT_GE(ourSnr, theirSnr - 0.5) << "ffmpeg's " << theirSnr << " dB";
}

INSTANTIATE_TEST_SUITE_P(
    Sounds, AacEncode,
    ::testing::Values(Case{"M4aStereo44kHalfSecond", Format::M4a, 44100, 2, 22050, 256},
                      Case{"M4rMono48kOneSecondAndOne", Format::M4r, 48000, 1, 48001, 128},
                      Case{"M4aStereo22kOneSecondAndOne", Format::M4a, 22050, 2, 22051, 96},
                      Case{"M4aMono22kHalfSecond", Format::M4a, 22050, 1, 11025, 64},
                      Case{"M4rStereo44k45Seconds", Format::M4r, 44100, 2, 45 * 44100, 256},
                      Case{"M4aStereo48kWholePackets", Format::M4a, 48000, 2, 4 * 1024, 192},
                      Case{"M4aShorterThanItsLead", Format::M4a, 44100, 2, 300, 128},
                      Case{"M4aLengthUnknown", Format::M4a, 44100, 2, 44101, 256, false}),
    [](const auto& row) { return std::string(row.param.name); });

// A source that fails, or asks to stop, after some blocks.
class Faulty final : public PcmSource {
public:
    enum class Then { Fail, Stop, End };
    Faulty(Then then, std::stop_source* stop) : then_(then), stop_(stop) {}
    int channels() const override { return 2; }
    int sampleRate() const override { return 44100; }
    Result<std::size_t> read(float* dst, std::size_t frames) override {
        if (++reads_ == 4) {
            if (then_ == Then::Fail)
                return Error(QStringLiteral("song.flac"), QStringLiteral("damaged frame"));
            if (then_ == Then::Stop)
                stop_->request_stop();
        }
        if (reads_ > 200)
            return std::size_t(0);
        for (std::size_t i = 0; i < frames * 2; ++i)
            dst[i] = float(std::sin(double(i) * 0.01) * 0.5);
        return frames;
    }

private:
    Then then_;
    std::stop_source* stop_;
    int reads_ = 0;
};

struct FailureCase {
    const char* name;
    Faulty::Then then;
    bool missingFolder;
    long fileSizeLimit; // bytes; 0: none
    EncodeStep step;
    const char* file; // "target", or the name the Error must carry
    const char* cause;
};

class AacEncodeFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(AacEncodeFailure, NamesTheFileAndLeavesNothing) {
    const FailureCase& c = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString target = c.missingFolder ? dir.filePath(QStringLiteral("none/clip.m4r"))
                                           : dir.filePath(QStringLiteral("clip.m4r"));
    std::stop_source stop;
    Faulty source(c.then, &stop);
    Settings settings;
    settings.format = Format::M4r;

    // A file size limit fails the writes past it (EFBIG) as a full disk would.
    rlimit before{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    if (c.fileSizeLimit) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limited = before;
        limited.rlim_cur = rlim_t(c.fileSizeLimit);
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    }
    const auto failed = encodeSong(source, QStringLiteral("song.flac"), target, settings,
                                   ClipTags{}, stop.get_token());
    setrlimit(RLIMIT_FSIZE, &before);

    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->step, c.step);
    EXPECT_EQ(failed->error.file(),
              QLatin1String(c.file) == QLatin1String("target") ? target : QLatin1String(c.file));
    EXPECT_TRUE(failed->error.cause().contains(QLatin1String(c.cause)))
        << failed->error.text().toStdString();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden),
              QStringList{});
}

INSTANTIATE_TEST_SUITE_P(Failures, AacEncodeFailure,
                         ::testing::Values(FailureCase{"MissingFolder", Faulty::Then::End, true, 0,
                                                       EncodeStep::Write, "target", ""},
                                           FailureCase{"DiskFull", Faulty::Then::End, false, 100000,
                                                       EncodeStep::Write, "target", "too large"},
                                           FailureCase{"SourceFails", Faulty::Then::Fail, false, 0,
                                                       EncodeStep::Source, "song.flac",
                                                       "damaged frame"},
                                           FailureCase{"Stopped", Faulty::Then::Stop, false, 0,
                                                       EncodeStep::Cancel, "target", "cancelled"}),
                         [](const auto& row) { return std::string(row.param.name); });

} // namespace
} // namespace quaverly::encode

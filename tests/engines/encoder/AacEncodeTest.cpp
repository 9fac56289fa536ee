// M4A and M4R through encodeSong, read back by ffprobe, ffmpeg and the program's own song
// reader: the container and codec, the exact length of the sound (gapless), its quality against
// ffmpeg's own AAC encoding of the same samples, segments encoded on several threads against one
// pass, and failures that leave nothing behind.

#include "decode/DecodeTestUtil.h"
#include "engines/encoder/SongEncode.h"
#include "engines/util/CodecThreads.h"
#include "engines/wav/WavHeader.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#ifdef Q_OS_WIN
#include <windows.h>
// after windows.h
#include <tlhelp32.h>
#else
#include <signal.h>
#include <sys/resource.h>
#endif

namespace quaverly::encode {
namespace {

using decode_test::run;
using decode_test::samplesOf;

// Sets the codec threads for one test.
struct CodecThreads {
    explicit CodecThreads(int n) { setCodecThreadsForTesting(n); }
    ~CodecThreads() { setCodecThreadsForTesting(0); }
};

bool haveFfmpeg() {
    return test::havePeer(QStringLiteral("ffmpeg")) && test::havePeer(QStringLiteral("ffprobe"));
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
    bool rewind() override {
        pos_ = 0;
        return true;
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

// Signal to noise ratio in dB of `decoded`, read `shift` samples later, against the source's
// samples [from, to).
double snr(const std::vector<std::int16_t>& source, const std::vector<std::int16_t>& decoded,
           std::size_t from, std::size_t to, std::size_t shift = 0) {
    double signal = 0, noise = 0;
    for (std::size_t i = from; i < to; ++i) {
        const double d = i + shift < decoded.size() ? decoded[i + shift] : 0;
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
    const CodecThreads oneThread(1); // the frames of a single pass, as ffmpeg's
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
    ASSERT_TRUE(failed.ok()) << failed.error().text().toStdString();

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
        return; // too short to compare noise over

    // FFmpeg's own encoding of the same samples behind the same lead: this encoder's quality
    // swings by many dB with where a sound's onsets fall in its frames, so only encodings of the
    // same frames compare.
    const std::size_t ledBy = std::size_t((laid ? lead : 0) * c.channels);
    std::vector<std::int16_t> led(ledBy, 0);
    led.insert(led.end(), pcm.begin(), pcm.end());
    const QString ledWav = dir.filePath(QStringLiteral("led.wav"));
    writeWav(ledWav, led, c.rate, c.channels);
    const QString theirsFile = dir.filePath(QStringLiteral("ffmpeg.m4a"));
    ASSERT_TRUE(run({QStringLiteral("ffmpeg"), QStringLiteral("-v"), QStringLiteral("error"),
                     QStringLiteral("-i"), ledWav, QStringLiteral("-c:a"), QStringLiteral("aac"),
                     QStringLiteral("-b:a"), QStringLiteral("%1k").arg(c.kbps), theirsFile}));
    const double theirSnr = snr(pcm, ffmpegDecode(theirsFile), 0, pcm.size(), ledBy);
    EXPECT_GE(snr(pcm, ours, 0, pcm.size()), theirSnr - 0.5) << "ffmpeg's " << theirSnr << " dB";
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

// The most signal to noise ratio that `worse` loses against `better` over any stretch of
// `window` samples, in dB.
double worstLoss(const std::vector<std::int16_t>& source, const std::vector<std::int16_t>& better,
                 const std::vector<std::int16_t>& worse, std::size_t window) {
    double worst = 0;
    for (std::size_t from = 0; from + window <= source.size(); from += window)
        worst = std::max(worst, snr(source, better, from, from + window) -
                                    snr(source, worse, from, from + window));
    return worst;
}

// On several threads the sound is encoded in segments spliced into one stream: gapless as one
// pass, the single pass's very sound up to the first splice, and as good as it overall and in
// every stretch (a splice whose windows did not overlap would leave its stretch far worse).
TEST(AacEncodeThreads, SegmentsSpliceIntoOneStreamAsGoodAsOnePass) {
    if (!haveFfmpeg())
        GTEST_SKIP() << "no ffmpeg and ffprobe";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    constexpr int kRate = 44100;
    const std::vector<std::int16_t> pcm = makeSound(kRate, 2, 45 * kRate);
    Settings settings;
    settings.format = Format::M4a;
    // Both encodings first: the decoders' processes come after the threads.
    for (const int threads : {1, 3}) {
        const CodecThreads set(threads);
        Sound sound(pcm, kRate, 2, true);
        const auto failed =
            encodeSong(sound, QStringLiteral("sound"),
                       dir.filePath(QStringLiteral("%1.m4a").arg(threads)), settings, ClipTags{});
        ASSERT_TRUE(failed.ok()) << failed.error().text().toStdString();
    }
    const std::vector<std::int16_t> one = ffmpegDecode(dir.filePath(QStringLiteral("1.m4a")));
    const std::vector<std::int16_t> three = ffmpegDecode(dir.filePath(QStringLiteral("3.m4a")));
    ASSERT_EQ(one.size(), pcm.size());
    ASSERT_EQ(three.size(), pcm.size());
    // One pass's sound up to the first splice (of three segments of 15 s), not beyond.
    const std::size_t firstSegment = 10 * kRate * 2;
    EXPECT_TRUE(std::equal(one.begin(), one.begin() + firstSegment, three.begin()));
    EXPECT_FALSE(std::equal(one.begin(), one.end(), three.begin()));
    EXPECT_GE(snr(pcm, three, 0, pcm.size()), snr(pcm, one, 0, pcm.size()) - 0.5);
    EXPECT_LE(worstLoss(pcm, one, three, 4096), 6.0);
}

// Where the channels of a pair choose windows of their own (clicks on one side, a tone on the
// other), no splice can be checked: the sound is encoded once more in one pass, over what the
// segments wrote.
TEST(AacEncodeThreads, SegmentsThatCannotBeSplicedGiveWayToOnePass) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    constexpr int kRate = 44100;
    std::vector<std::int16_t> pcm(std::size_t(20 * kRate * 2));
    for (std::size_t i = 0; i < pcm.size() / 2; ++i) {
        pcm[2 * i] = i % 700 == 0 ? 20000 : 0;
        pcm[2 * i + 1] =
            std::int16_t(8000 * std::sin(2 * std::numbers::pi * 440 * double(i) / kRate));
    }
    Settings settings;
    settings.format = Format::M4a;
    QByteArray bytes[2];
    for (const int threads : {1, 3}) {
        const CodecThreads set(threads);
        Sound sound(pcm, kRate, 2, true);
        const QString out = dir.filePath(QStringLiteral("%1.m4a").arg(threads));
        const auto failed = encodeSong(sound, QStringLiteral("sound"), out, settings, ClipTags{});
        ASSERT_TRUE(failed.ok()) << failed.error().text().toStdString();
        bytes[threads > 1] = decode_test::readAll(out);
    }
    EXPECT_FALSE(bytes[0].isEmpty());
    EXPECT_TRUE(bytes[0] == bytes[1]);
}

// A source of 37 s that fails, or asks to stop, after 23 s, with segments being encoded on other
// threads by then.
class Faulty final : public PcmSource {
public:
    enum class Then { Fail, Stop, End };
    static constexpr std::int64_t kFrames = 1'600'000;
    Faulty(Then then, std::stop_source* stop) : then_(then), stop_(stop) {}
    int channels() const override { return 2; }
    int sampleRate() const override { return 44100; }
    std::int64_t lengthHint() const override { return kFrames; }
    Result<std::size_t> read(float* dst, std::size_t frames) override {
        if (given_ >= 1'000'000 && then_ == Then::Fail)
            return Error(QStringLiteral("song.flac"), QStringLiteral("damaged frame"));
        if (given_ >= 1'000'000 && then_ == Then::Stop)
            stop_->request_stop();
        const auto n = std::size_t(std::min<std::int64_t>(std::int64_t(frames), kFrames - given_));
        for (std::size_t i = 0; i < n * 2; ++i)
            dst[i] = float(std::sin(double(i) * 0.01) * 0.5);
        given_ += std::int64_t(n);
        return n;
    }

private:
    Then then_;
    std::stop_source* stop_;
    std::int64_t given_ = 0;
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
    const CodecThreads threads(3); // the workers are stopped and joined, too
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString target = c.missingFolder ? dir.filePath(QStringLiteral("none/clip.m4r"))
                                           : dir.filePath(QStringLiteral("clip.m4r"));
    std::stop_source stop;
    Faulty source(c.then, &stop);
    Settings settings;
    settings.format = Format::M4r;

#ifdef Q_OS_WIN
    if (c.fileSizeLimit)
        GTEST_SKIP() << "Windows has no file size limit to stand in for a full disk";
#else
    // A file size limit fails the writes past it (EFBIG) as a full disk would.
    rlimit before{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    if (c.fileSizeLimit) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limited = before;
        limited.rlim_cur = rlim_t(c.fileSizeLimit);
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    }
#endif
    const auto failed = encodeSong(source, QStringLiteral("song.flac"), target, settings,
                                   ClipTags{}, stop.get_token());
#ifndef Q_OS_WIN
    setrlimit(RLIMIT_FSIZE, &before);
#endif

    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(mp3::encodeStep(failed.error()), c.step);
    EXPECT_EQ(failed.error().file(),
              QLatin1String(c.file) == QLatin1String("target") ? target : QLatin1String(c.file));
    EXPECT_TRUE(failed.error().cause().contains(QLatin1String(c.cause)))
        << failed.error().text().toStdString();
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

// FFmpeg (about 60 ms to load with what it brings) comes into the process only for what needs
// it: writing every other format leaves it out, an M4A brings it in.
TEST(AacEncodeModule, FfmpegLoadsOnlyForAac) {
    const auto ffmpegMapped = [] {
#ifdef Q_OS_WIN
        // Among the process's modules, one named avcodec-N.dll.
        const HANDLE all = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, GetCurrentProcessId());
        bool found = false;
        MODULEENTRY32W module{};
        module.dwSize = sizeof module;
        for (BOOL more = Module32FirstW(all, &module); more && !found;
             more = Module32NextW(all, &module))
            found = QString::fromWCharArray(module.szModule).startsWith(u"avcodec");
        CloseHandle(all);
        return found;
#else
        QFile maps(QStringLiteral("/proc/self/maps"));
        return maps.open(QIODevice::ReadOnly) && maps.readAll().contains("libavcodec");
#endif
    };
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::vector<std::int16_t> pcm = makeSound(44100, 2, 44100);
    for (const Format format :
         {Format::Mp3, Format::Vorbis, Format::Opus, Format::Flac, Format::M4a}) {
        // M4A comes last: up to it, nothing has loaded FFmpeg.
        EXPECT_FALSE(ffmpegMapped()) << "before " << info(format).name;
        Settings settings;
        settings.format = format;
        Sound sound(pcm, 44100, 2, true);
        const QString target = dir.filePath(QStringLiteral("clip.") + info(format).extension);
        const auto failed =
            encodeSong(sound, QStringLiteral("sound"), target, settings, ClipTags{});
        ASSERT_TRUE(failed.ok()) << failed.error().text().toStdString();
    }
    EXPECT_TRUE(ffmpegMapped());
}

} // namespace
} // namespace quaverly::encode

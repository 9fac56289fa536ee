// Encoding on several threads, through the encoder's face: kinds of sound at the program's bit
// rates, spliced every couple of seconds, against a single pass of the same sound. The stream
// must decode to exactly the input's length without a complaint, be the single pass's frames up
// to the first splice, and lose no more than 0.2 dB of signal-to-noise ratio, overall or where a
// splice may lie (and 25 ms either side).

#include "Mp3TestSupport.h"

#include "engines/encoder/Mp3Encode.h"
#include "engines/util/CodecThreads.h"
#include "support/Peers.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace quaverly::test {
namespace {

constexpr double kPi = std::numbers::pi;

// Interleaved float sound that can start over.
class SoundSource final : public mp3::PcmSource {
public:
    SoundSource(std::vector<float> pcm, int rate, int channels)
        : pcm_(std::move(pcm)), rate_(rate), ch_(std::size_t(channels)) {}
    int channels() const override { return int(ch_); }
    int sampleRate() const override { return rate_; }
    Result<std::size_t> read(float* dst, std::size_t frames) override {
        const std::size_t got = std::min(frames, pcm_.size() / ch_ - at_);
        std::copy_n(pcm_.begin() + std::ptrdiff_t(at_ * ch_), got * ch_, dst);
        at_ += got;
        return got;
    }
    bool rewind() override {
        at_ = 0;
        return true;
    }

private:
    std::vector<float> pcm_;
    int rate_;
    std::size_t ch_;
    std::size_t at_ = 0;
};

enum class Kind { Sweep, Speech, Noise, Steps };

// Eight seconds of one kind of sound; deterministic, so a failure repeats.
std::vector<float> makeSound(Kind kind, int rate, int channels) {
    const std::size_t n = std::size_t(rate) * 8;
    std::vector<float> pcm(n * std::size_t(channels));
    std::uint32_t seed = 12345;
    const auto noise = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return float(int(seed >> 8) - (1 << 23)) / float(1 << 23);
    };
    double phase = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double t = double(i) / rate;
        float l = 0, r = 0;
        switch (kind) {
        case Kind::Sweep: { // 40 Hz to 15 kHz, exponentially
            phase += 2 * kPi * 40 * std::pow(375.0, t / 8) / rate;
            l = float(0.5 * std::sin(phase));
            r = float(0.4 * std::sin(phase + 1));
            break;
        }
        case Kind::Speech: { // voiced syllables: harmonics of a wandering pitch under two formants
            const double f0 = 120 + 25 * std::sin(2 * kPi * 0.7 * t);
            phase += 2 * kPi * f0 / rate;
            const double f1 = 600 + 250 * std::sin(2 * kPi * 1.3 * t);
            const double f2 = 1500 + 600 * std::sin(2 * kPi * 0.9 * t);
            double v = 0;
            for (int h = 1; h * f0 < 5000; ++h) {
                const double f = h * f0;
                v += (std::exp(-std::pow((f - f1) / 150, 2)) +
                      0.5 * std::exp(-std::pow((f - f2) / 250, 2)) + 0.02) *
                     std::sin(h * phase);
            }
            const double syllable = std::max(0.0, std::sin(2 * kPi * 2.5 * t));
            l = r = float(0.25 * v * syllable + 0.01 * noise() * (1 - syllable));
            break;
        }
        case Kind::Noise:
            l = 0.3f * noise();
            r = 0.3f * noise();
            break;
        case Kind::Steps: { // 0.37 s of silence, then as long of loud tone and noise
            const bool loud = int(t / 0.37) % 2 == 1;
            l = loud ? float(0.5 * std::sin(2 * kPi * 1000 * t) + 0.3 * noise()) : 0.0f;
            r = loud ? float(0.5 * std::sin(2 * kPi * 1500 * t) + 0.3 * noise()) : 0.0f;
            break;
        }
        }
        if (channels == 1) {
            pcm[i] = l;
        } else {
            pcm[2 * i] = l;
            pcm[2 * i + 1] = r;
        }
    }
    return pcm;
}

// What the mpg123 command says while decoding the file, apart from its usual lines.
QString mpg123Complaints(const QString& path) {
    if (!havePeer(QStringLiteral("mpg123")))
        return {};
    const PeerRun r = runPeer(QStringLiteral("mpg123"), {QStringLiteral("-t"), path});
    static const QRegularExpression bad(QStringLiteral("(?i)(error|warning|problem|resync|skip)"));
    QStringList complaints;
    for (const QString& line : QString::fromUtf8(r.err).split('\n'))
        if (bad.match(line).hasMatch())
            complaints << line;
    return complaints.join('\n');
}

struct Quality {
    double snr = 0;          // dB over the stretch
    bool meaningful = false; // the input is not near silence there
};

Quality snr(const std::vector<float>& in, const Decoded& out, std::size_t from, std::size_t to) {
    const auto ch = std::size_t(out.channels);
    double signal = 0, error = 0;
    for (std::size_t i = from * ch; i < to * ch && i < out.pcm.size(); ++i) {
        const double x = double(in[i]) * 32768.0;
        signal += x * x;
        error += std::pow(x - out.pcm[i], 2);
    }
    const double rms = std::sqrt(signal / double(std::max<std::size_t>(1, (to - from) * ch)));
    return {10 * std::log10(signal / std::max(error, 1.0)), rms > 32.0};
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Encodes `sound` into `target` on `threads` threads with `plan`.
Status encode(const std::vector<float>& sound, int rate, int channels, int kbps,
              const QString& target, int threads,
              std::optional<mp3::SegmentPlan> plan = std::nullopt) {
    setCodecThreadsForTesting(threads);
    mp3::setSegmentPlanForTesting(plan);
    SoundSource source(sound, rate, channels);
    auto failed = mp3::encodeToMp3(source, "sound", target, kbps);
    mp3::setSegmentPlanForTesting(std::nullopt);
    setCodecThreadsForTesting(0);
    return failed;
}

// The MPEG frames [first, last] where each splice of `plan` may lie in a stream of `frames`
// MPEG frames (see SegmentPlan).
std::vector<std::pair<std::int64_t, std::int64_t>> spliceStretches(const mp3::SegmentPlan& plan,
                                                                   std::int64_t frames) {
    std::vector<std::pair<std::int64_t, std::int64_t>> at;
    for (std::int64_t b = plan.frames; b + plan.leadOut <= frames; b += plan.frames)
        at.emplace_back(b - plan.leadIn + plan.settle, b + plan.leadOut - 5);
    return at;
}

struct Row {
    Kind kind;
    const char* name;
    int kbps;
    int rate = 44100; // one where the bit rate needs no resampling
    int channels = 2;
};

class SplicedEncoding : public ::testing::TestWithParam<Row> {};

TEST_P(SplicedEncoding, IsValidExactAndAsGoodAsOnePass) {
    const Row row = GetParam();
    const int rate = row.rate, ch = row.channels;
    const std::vector<float> sound = makeSound(row.kind, rate, ch);
    const std::size_t frames = sound.size() / std::size_t(ch);
    const std::size_t frameSamples = rate >= 32000 ? 1152 : 576;
    QTemporaryDir dir;
    const QString single = dir.filePath("single.mp3"), spliced = dir.filePath("spliced.mp3");

    const auto one = encode(sound, rate, ch, row.kbps, single, 1);
    ASSERT_TRUE(one.ok()) << failureText(one);
    const mp3::SegmentPlan plan{64, 24, 24, 8};
    const auto three = encode(sound, rate, ch, row.kbps, spliced, 3, plan);
    ASSERT_TRUE(three.ok()) << failureText(three);
    const auto stretches = spliceStretches(plan, std::int64_t(frames / frameSamples));
    ASSERT_GE(stretches.size(), 3u); // a splice every 64 frames: 1.7 to 2.3 s

    QString error;
    const auto a = decodeMp3(single, &error);
    const auto b = decodeMp3(spliced, &error);
    ASSERT_TRUE(a && b) << error.toStdString();
    EXPECT_EQ(b->frames(), frames);
    EXPECT_EQ(a->frames(), frames);
    EXPECT_EQ(mpg123Complaints(spliced), QString());
    EXPECT_EQ(ffmpegComplaints(spliced).value_or(QString()), QString());

    // Up to the first splice the first segment's encoder is the single pass: the same frames,
    // but for the tag frame and the few before the splice whose bytes the later segment's main
    // data takes over.
    const auto framesA = readFrames(single, &error);
    ASSERT_TRUE(framesA) << error.toStdString();
    const QByteArray bytesA = readAll(single), bytesB = readAll(spliced);
    EXPECT_NE(bytesA, bytesB) << "not spliced: encoded once more in one pass";
    const qsizetype tagBytes = (*framesA)[0].bytes;
    qsizetype kept = 0;
    for (std::size_t i = 1; i + 4 < std::size_t(stretches.front().first); ++i)
        kept += (*framesA)[i].bytes;
    EXPECT_TRUE(bytesA.mid(tagBytes, kept) == bytesB.mid(tagBytes, kept));

    EXPECT_GE(snr(sound, *b, 0, frames).snr, snr(sound, *a, 0, frames).snr - 0.2);
    // Frame F of the stream starts the decoder's output at F x frame - 1105 (encoder and decoder
    // delay); 25 ms either side of where the splice may lie.
    const std::size_t half = std::size_t(rate) / 40;
    for (const auto& [first, last] : stretches) {
        const std::size_t from = std::size_t(first) * frameSamples - 1105 - half;
        const std::size_t to = std::min(frames, std::size_t(last) * frameSamples - 1105 + half);
        const Quality sa = snr(sound, *a, from, to), sb = snr(sound, *b, from, to);
        if (sa.meaningful) {
            EXPECT_GE(sb.snr, sa.snr - 0.2) << "splice in frames " << first << "-" << last;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    KindsAndRates, SplicedEncoding,
    ::testing::Values(Row{Kind::Sweep, "sweep", 56, 32000}, Row{Kind::Sweep, "sweep", 128},
                      Row{Kind::Speech, "speech", 56, 32000}, Row{Kind::Speech, "speech", 96},
                      Row{Kind::Speech, "speech", 256}, Row{Kind::Noise, "noise", 56, 32000},
                      Row{Kind::Noise, "noise", 128}, Row{Kind::Noise, "noise", 256},
                      Row{Kind::Steps, "steps", 96}, Row{Kind::Steps, "steps", 128},
                      Row{Kind::Sweep, "sweep", 256}, Row{Kind::Steps, "steps", 56, 32000},
                      // mono, and the half-length frames of MPEG-2
                      Row{Kind::Speech, "speech_mono", 56, 44100, 1},
                      Row{Kind::Steps, "steps_mono_mpeg2", 56, 22050, 1},
                      Row{Kind::Noise, "noise_mpeg2", 96, 24000}),
    [](const ::testing::TestParamInfo<Row>& row) {
        return std::string(row.param.name) + "_" + std::to_string(row.param.kbps);
    });

// Segments that cannot be spliced (no frame of the overlap is far enough in) make the encoder
// start over in one pass: the single pass's bytes.
TEST(SplicedEncoding, WithoutASpliceItIsOnePass) {
    const std::vector<float> sound = makeSound(Kind::Steps, 44100, 2);
    QTemporaryDir dir;
    const QString single = dir.filePath("single.mp3"), again = dir.filePath("again.mp3");
    const auto one = encode(sound, 44100, 2, 128, single, 1);
    ASSERT_TRUE(one.ok()) << failureText(one);
    const auto r = encode(sound, 44100, 2, 128, again, 3, mp3::SegmentPlan{64, 24, 24, 60});
    ASSERT_TRUE(r.ok()) << failureText(r);
    EXPECT_TRUE(readAll(single) == readAll(again));
}

} // namespace
} // namespace quaverly::test

#include "editor/ClipEffects.h"
#include "support/TestAudio.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <memory>

using namespace quaverly;
using namespace quaverly::test;

namespace {

using Normalise = ClipEffects::Normalise;
using Level = EffectsOutcome::Level;

std::vector<std::int16_t> tone(std::size_t frames, int channels, double amplitude,
                               std::uint32_t rate) {
    std::vector<std::int16_t> s(frames * std::size_t(channels));
    for (std::size_t i = 0; i < s.size(); ++i)
        s[i] = std::int16_t(std::lround(
            amplitude * std::sin(2 * std::numbers::pi * 1000.0 * double(i / std::size_t(channels)) / rate)));
    return s;
}

// The samples of a WAV as levels (8-bit ones are stored plus 128), and back.
std::vector<int> levels(const QByteArray& wav, int bits) {
    std::vector<int> out;
    for (qsizetype i = 44; i < wav.size(); i += bits / 8)
        out.push_back(bits == 8 ? int(std::uint8_t(wav[i])) - 128
                                : int(std::int16_t(std::uint8_t(wav[i]) | wav[i + 1] << 8)));
    return out;
}

bool writeLevels(const QString& path, int bits, int channels, std::uint32_t rate,
                 const std::vector<int>& v) {
    QByteArray data;
    for (int x : v) {
        data.append(char(bits == 8 ? x + 128 : x));
        if (bits == 16)
            data.append(char(x >> 8));
    }
    return writeFile(path,
                     wavBytes(WavHeader::pcm(std::uint16_t(channels), rate, std::uint16_t(bits)),
                              data.constData(), std::size_t(data.size())));
}

struct MeterDeleter {
    void operator()(ebur128_state* s) const { ebur128_destroy(&s); }
};

// The integrated loudness of a 16-bit WAV, as libebur128 measures it.
double loudnessOf(const QString& path, int channels, std::uint32_t rate) {
    const auto s = samples16(readFile(path));
    std::unique_ptr<ebur128_state, MeterDeleter> meter(
        ebur128_init(unsigned(channels), rate, EBUR128_MODE_I));
    double lufs = 0;
    if (!meter ||
        ebur128_add_frames_short(meter.get(), s.data(), s.size() / std::size_t(channels)) != 0 ||
        ebur128_loudness_global(meter.get(), &lufs) != 0)
        return NAN;
    return lufs;
}

class Effects : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString clip = dir.filePath(QStringLiteral("clip.wav"));
};

// A steady level through linear fades, at 1000 Hz so that a millisecond is a frame. The stereo
// rows carry +v and -v: a half rounds away from zero on both.
TEST_F(Effects, FadesHaveExactGainsAtEveryBoundary) {
    const struct {
        int bits, level, frames;
        qint64 inMs, outMs;
        std::vector<std::pair<int, int>> expected; // frame, level on the left channel
    } cases[] = {
        {16,
         10001,
         1000,
         100,
         200,
         {{0, 0},
          {1, 100},
          {50, 5001},
          {99, 9901},
          {100, 10001},
          {799, 10001},
          {800, 9951},
          {900, 4950},
          {998, 50},
          {999, 0}}},
        // Asked 3:1 and longer than the clip: the fade-in takes 750 frames, the fade-out 250.
        {16,
         10001,
         1000,
         3000,
         1000,
         {{0, 0}, {375, 5001}, {749, 9988}, {750, 9961}, {875, 4960}, {999, 0}}},
        // One fade longer than the clip takes all of it.
        {16, -20000, 400, 0, 5000, {{0, -19950}, {200, -9950}, {399, 0}}},
        {8, 101, 100, 10, 10, {{0, 0}, {5, 51}, {9, 91}, {10, 101}, {89, 101}, {90, 91}, {99, 0}}},
        // Blocks of 16384 frames: the second ends one frame into the fade-in, the third lies
        // between the fades.
        {16,
         10001,
         65536,
         16385,
         16384,
         {{16384, 10000},
          {16385, 10001},
          {32768, 10001},
          {49151, 10001},
          {49152, 10000},
          {65535, 0}}},
    };
    for (const auto& c : cases) {
        std::vector<int> in(std::size_t(c.frames) * 2);
        for (std::size_t i = 0; i < in.size(); ++i)
            in[i] = i % 2 ? -c.level : c.level;
        ASSERT_TRUE(writeLevels(clip, c.bits, 2, 1000, in));
        const auto applied = applyClipEffects(clip, {c.inMs, c.outMs});
        ASSERT_TRUE(applied) << applied.error().text().toStdString();
        const EffectsOutcome& r = *applied;
        ASSERT_EQ(r.result, EffectsOutcome::Applied);
        const auto out = levels(readFile(clip), c.bits);
        ASSERT_EQ(out.size(), in.size());
        for (auto [frame, level] : c.expected) {
            EXPECT_EQ(out[2 * std::size_t(frame)], level)
                << c.inMs << "/" << c.outMs << " @" << frame;
            EXPECT_EQ(out[2 * std::size_t(frame) + 1], -level) << "right @" << frame;
        }
    }
}

TEST_F(Effects, PeakNormalisingMakesTheLargestSampleTheTargetExactly) {
    const struct {
        int bits, channels;
        double dbfs;
        int peak;   // the input's largest |sample|, a negative one on the last channel
        int target; // 10^(dbfs / 20) x 32767 or x 127, rounded
    } cases[] = {
        {16, 1, -1.0, 7000, 29204}, {16, 2, -6.0, 7000, 16422}, {16, 2, 0.0, 32768, 32767},
        {8, 1, -1.0, 90, 113},      {8, 2, -6.0, 90, 64},       {8, 1, -0.1, 128, 126},
    };
    for (const auto& c : cases) {
        const int frames = 2000;
        std::vector<int> in(std::size_t(frames * c.channels));
        for (std::size_t i = 0; i < in.size(); ++i)
            in[i] = int(std::lround(c.peak * 0.6 * std::sin(double(i) / 7)));
        const std::size_t spike = 1234 * std::size_t(c.channels) + std::size_t(c.channels - 1);
        in[spike] = -c.peak;
        ASSERT_TRUE(writeLevels(clip, c.bits, c.channels, 8000, in));
        ClipEffects e;
        e.normalise = Normalise::Peak;
        e.peakDbfs = c.dbfs;
        const auto applied = applyClipEffects(clip, e);
        ASSERT_TRUE(applied) << applied.error().text().toStdString();
        const EffectsOutcome& r = *applied;
        ASSERT_EQ(r.result, EffectsOutcome::Applied);
        EXPECT_EQ(r.level, Level::Reached);
        const auto out = levels(readFile(clip), c.bits);
        ASSERT_EQ(out.size(), in.size());
        int largest = 0;
        for (int v : out)
            largest = std::max(largest, std::abs(v));
        EXPECT_EQ(largest, c.target) << c.bits << "-bit, " << c.dbfs << " dBFS";
        EXPECT_EQ(out[spike], -c.target);
    }
}

TEST_F(Effects, LoudnessNormalisingReachesTheTargetOrStopsAtFullScale) {
    const struct {
        int channels;
        std::uint32_t rate;
        double amplitude, lufs;
        Level level;
        double expected; // measured back
    } cases[] = {
        {1, 44100, 3000, -14, Level::Reached, -14},
        {2, 48000, 20000, -14, Level::Reached, -14},
        // A full-scale 1 kHz sine in one channel measures -3 LUFS: -1 cannot be reached.
        {1, 44100, 8000, -1, Level::LimitedByPeak, -3.0},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(writeWav16(clip, c.channels, c.rate,
                               tone(3 * c.rate, c.channels, c.amplitude, c.rate)));
        const double before = loudnessOf(clip, c.channels, c.rate);
        ClipEffects e;
        e.normalise = Normalise::Loudness;
        e.loudnessLufs = c.lufs;
        const auto applied = applyClipEffects(clip, e);
        ASSERT_TRUE(applied) << applied.error().text().toStdString();
        const EffectsOutcome& r = *applied;
        ASSERT_EQ(r.result, EffectsOutcome::Applied);
        EXPECT_EQ(r.level, c.level) << r.summary().toStdString();
        EXPECT_NEAR(r.loudnessLufs, before, 0.01);
        const double after = loudnessOf(clip, c.channels, c.rate);
        EXPECT_NEAR(after, c.expected, 0.1) << r.summary().toStdString();
        EXPECT_NEAR(after - before, r.gainDb, 0.05);
        const auto s = samples16(readFile(clip));
        const int largest = std::abs(*std::max_element(
            s.begin(), s.end(), [](int a, int b) { return std::abs(a) < std::abs(b); }));
        if (c.level == Level::LimitedByPeak) {
            EXPECT_EQ(largest, 32767); // right up to full scale, and no further
            EXPECT_TRUE(r.summary().contains(QLatin1String("not reached")));
        }
    }
}

TEST_F(Effects, NothingToNormaliseLeavesTheFileUntouched) {
    const struct {
        std::size_t frames;
        double amplitude;
        Normalise mode;
        Level level;
    } cases[] = {
        {8000, 0, Normalise::Peak, Level::Silent},
        {8000, 0, Normalise::Loudness, Level::Silent},
        {2400, 5000, Normalise::Loudness, Level::Unmeasurable}, // 0.3 s: no 400 ms block
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(writeWav16(clip, 2, 8000, tone(c.frames, 2, c.amplitude, 8000)));
        const QByteArray before = readFile(clip);
        ClipEffects e;
        e.normalise = c.mode;
        const auto applied = applyClipEffects(clip, e);
        ASSERT_TRUE(applied) << applied.error().text().toStdString();
        const EffectsOutcome& r = *applied;
        EXPECT_EQ(r.result, EffectsOutcome::Unchanged);
        EXPECT_EQ(r.level, c.level);
        EXPECT_FALSE(r.summary().isEmpty());
        EXPECT_EQ(readFile(clip), before);
    }
}

} // namespace

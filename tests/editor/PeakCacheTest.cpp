#include "editor/PeakCache.h"
#include "support/QtPrinters.h"
#include "support/TestAudio.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using namespace quaverly;
using namespace quaverly::test;

namespace {

// The queued results need an event loop; this test program has no main of its own.
void ensureApp() {
    static int argc = 1;
    static char name[] = "editor_peaks_tests";
    static char* argv[] = {name, nullptr};
    static auto* app = QCoreApplication::instance() ? nullptr : new QCoreApplication(argc, argv);
    (void)app;
}

// A song as written, and its samples on the 16-bit scale the peaks use.
struct Song {
    int channels = 1;
    int bits = 16;
    std::int64_t frames = 0;
    std::vector<std::int16_t> values; // interleaved

    bool write(const QString& path) const {
        if (bits == 16)
            return writeWav16(path, channels, 8000, values);
        std::vector<std::uint8_t> bytes(values.size());
        for (std::size_t i = 0; i < values.size(); ++i)
            bytes[i] = std::uint8_t(values[i] / 256 + 128);
        return writeWav8(path, channels, 8000, bytes);
    }
};

// Staircases that wrap: every channel climbs by `step` a frame and jumps back at the top.
Song staircaseSong(int channels, int bits, std::int64_t frames, int step) {
    Song s{channels, bits, frames, staircase(std::size_t(frames), channels, -20000, step)};
    if (bits == 8)
        for (auto& v : s.values)
            v = std::int16_t(v & ~0xFF); // what survives 8 bits
    return s;
}

// The peaks and the RMS of column c as PeakColumns promises them, by looking at every sample.
std::pair<Peak, double> bruteForce(const Song& song, double first, double fpp, int c, int ch,
                                   std::int64_t block) {
    const auto s = std::int64_t(std::floor(first + c * fpp));
    const auto e =
        std::min(song.frames, std::max(s + 1, std::int64_t(std::floor(first + (c + 1) * fpp))));
    const std::int64_t from = s / block * block;
    const std::int64_t to = std::min(song.frames, (e + block - 1) / block * block);
    Peak p{32767, -32768};
    double squares = 0;
    for (std::int64_t f = from; f < to; ++f) {
        const std::int16_t v = song.values[std::size_t(f * song.channels + ch)];
        p.min = std::min(p.min, v);
        p.max = std::max(p.max, v);
        squares += double(v) * v;
    }
    return {p, std::sqrt(squares / double(to - from))};
}

class Peaks : public ::testing::Test {
protected:
    void SetUp() override { ensureApp(); }

    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("song.wav"));
    PeakCache cache;

    // Requests the peaks of `path` and waits for the answer.
    PeakCache::State compute() {
        if (cache.request(path) == PeakCache::State::Computing) {
            QSignalSpy ready(&cache, &PeakCache::ready);
            QSignalSpy failed(&cache, &PeakCache::failed);
            for (int i = 0; i < 500 && ready.isEmpty() && failed.isEmpty(); ++i)
                ready.wait(10);
        }
        return cache.state(path);
    }
};

TEST_F(Peaks, MatchTheSamplesAtEveryZoom) {
    const struct {
        int channels, bits, step;
    } songs[] = {{1, 16, 1}, {2, 16, 7}, {2, 8, 256}, {1, 8, 300}};
    constexpr std::int64_t kFrames = 100003; // the last block is short
    const struct {
        double first, fpp;
        int width;
    } views[] = {
        {0, 1e6, 3},               // one column holds the whole song
        {0, kFrames / 100.0, 100}, // the whole song, fractional columns
        {0, 256, 400},             // columns on the finest blocks
        {1234.25, 300.5, 333},     // columns across block edges
        {77, 511.9, 200},
        {0, 512, 200},
        {5000.5, 4321.7, 23},
        {0, 65536, 2},
        {99000, 64, 100},   // runs past the end
        {200000, 1000, 10}, // starts past the end
        // Closer than a block per column: straight from the samples, down to single frames.
        {3.5, 255.9, 100},
        {32760, 100, 50},
        {65500.3, 17.3, 40},
        {12345, 1, 64},
        {12345.5, 0.5, 64},
        {99990.1, 0.125, 120},
    };
    for (const auto& s : songs) {
        const Song song = staircaseSong(s.channels, s.bits, kFrames, s.step);
        ASSERT_TRUE(song.write(path));
        cache.invalidate(path);
        ASSERT_EQ(compute(), PeakCache::State::Ready) << cache.errorString(path).toStdString();
        const auto info = cache.song(path);
        ASSERT_TRUE(info);
        EXPECT_EQ(info->frames, kFrames);
        EXPECT_EQ(info->channels, s.channels);
        for (const auto& v : views) {
            const auto where = ::testing::Message()
                               << s.channels << " ch " << s.bits << " bit, first " << v.first
                               << " fpp " << v.fpp;
            const PeakColumns p = cache.peaks(path, v.first, v.fpp, v.width);
            int expectColumns = 0;
            while (expectColumns < v.width &&
                   std::floor(v.first + expectColumns * v.fpp) < double(kFrames))
                ++expectColumns;
            ASSERT_EQ(p.columns, expectColumns) << where;
            if (v.fpp < PeakCache::kBaseBlock) {
                EXPECT_EQ(p.blockFrames, 1) << where;
            } else {
                // The nearest level: no block longer than a column, none half as long.
                EXPECT_LE(double(p.blockFrames), v.fpp) << where;
                EXPECT_TRUE(2.0 * p.blockFrames > v.fpp || p.blockFrames >= kFrames) << where;
            }
            for (int c = 0; c < p.columns; ++c)
                for (int ch = 0; ch < s.channels; ++ch) {
                    const auto [peak, rms] = bruteForce(song, v.first, v.fpp, c, ch, p.blockFrames);
                    ASSERT_EQ(p.at(c, ch), peak) << where << " column " << c << " channel " << ch;
                    ASSERT_NEAR(p.rmsAt(c, ch), rms, 1e-4 * rms + 1e-3)
                        << where << " column " << c << " channel " << ch;
                }
        }
    }
}

TEST_F(Peaks, UnreadableSongsFailWithAReason) {
    WavHeader floats = WavHeader::pcm(1, 8000, 32);
    floats.formatTag = 3;
    const std::vector<std::int32_t> four(4);
    const struct {
        const char* name;
        QByteArray bytes; // null: no file at all
    } cases[] = {
        {"missing", QByteArray()},
        {"text", QByteArray("this is not a WAV file at all, only words in a row")},
        {"24-bit", wavBytes(WavHeader::pcm(1, 8000, 24), four.data(), 12)},
        {"float", wavBytes(floats, four.data(), 16)},
        {"3 channels", wavBytes(WavHeader::pcm(3, 8000, 16), four.data(), 12)},
    };
    for (const auto& c : cases) {
        const QString file = dir.filePath(QString::fromLatin1(c.name));
        if (!c.bytes.isNull()) {
            ASSERT_TRUE(writeFile(file, c.bytes));
        }
        QSignalSpy failed(&cache, &PeakCache::failed);
        ASSERT_EQ(cache.request(file), PeakCache::State::Computing);
        ASSERT_TRUE(failed.wait(5000)) << c.name;
        EXPECT_EQ(failed.first().first().toString(), file);
        EXPECT_EQ(cache.state(file), PeakCache::State::Failed);
        EXPECT_FALSE(cache.errorString(file).isEmpty()) << c.name;
        EXPECT_EQ(cache.peaks(file, 0, 1000, 10).columns, 0);
    }
}

TEST_F(Peaks, AChangedFileIsReadAgain) {
    const Song before = staircaseSong(2, 16, 50000, 3);
    const Song after = staircaseSong(2, 16, 30000, -5);
    ASSERT_TRUE(before.write(path));
    ASSERT_EQ(compute(), PeakCache::State::Ready);
    ASSERT_EQ(cache.request(path), PeakCache::State::Ready); // unchanged: nothing to do
    ASSERT_TRUE(after.write(path));
    // The new size shows at the next request.
    EXPECT_EQ(cache.request(path), PeakCache::State::Computing);
    ASSERT_EQ(compute(), PeakCache::State::Ready);
    EXPECT_EQ(cache.song(path)->frames, 30000);
    const PeakColumns p = cache.peaks(path, 0, 1000, 30);
    ASSERT_EQ(p.columns, 30);
    EXPECT_EQ(p.at(29, 1), bruteForce(after, 0, 1000, 29, 1, p.blockFrames).first);
}

TEST_F(Peaks, InvalidateForgetsASongThatLooksUnchanged) {
    // The same size and time, other samples: only invalidate() can tell.
    const Song before = staircaseSong(1, 16, 20000, 1);
    const Song after = staircaseSong(1, 16, 20000, -1);
    ASSERT_TRUE(before.write(path));
    ASSERT_EQ(compute(), PeakCache::State::Ready);
    const QDateTime modified = QFileInfo(path).lastModified();
    ASSERT_TRUE(after.write(path));
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(modified, QFileDevice::FileModificationTime));
    }
    ASSERT_EQ(cache.request(path), PeakCache::State::Ready);
    QSignalSpy invalidated(&cache, &PeakCache::invalidated);
    cache.invalidate(path);
    EXPECT_EQ(invalidated.size(), 1);
    EXPECT_EQ(cache.state(path), PeakCache::State::Absent);
    EXPECT_EQ(cache.peaks(path, 0, 1000, 10).columns, 0);
    ASSERT_EQ(compute(), PeakCache::State::Ready);
    const PeakColumns p = cache.peaks(path, 0, 20000, 1);
    EXPECT_EQ(p.at(0, 0), bruteForce(after, 0, 20000, 0, 0, p.blockFrames).first);
}

TEST_F(Peaks, AComputationOvertakenByInvalidateIsDropped) {
    // A long song whose reading is still under way when the cut replaces it.
    ASSERT_TRUE(staircaseSong(2, 16, 4'000'000, 1).write(path));
    ASSERT_EQ(cache.request(path), PeakCache::State::Computing);
    cache.invalidate(path);
    const Song clip = staircaseSong(2, 16, 1000, 9);
    ASSERT_TRUE(clip.write(path));
    QSignalSpy ready(&cache, &PeakCache::ready);
    ASSERT_EQ(compute(), PeakCache::State::Ready);
    // The one worker answers in turn, so an answer of the first reading would have come first.
    EXPECT_EQ(cache.song(path)->frames, 1000);
    EXPECT_EQ(ready.size(), 1);
    EXPECT_EQ(cache.song(path)->frames, 1000);
}

TEST_F(Peaks, ASongLetGoOfIsLeftAloneUntilResumed) {
    // While a cut replaces the song: a computation under way is dropped, and nothing reads the
    // file until resume().
    ASSERT_TRUE(staircaseSong(2, 16, 20000, 1).write(path));
    ASSERT_EQ(cache.request(path), PeakCache::State::Computing);
    ASSERT_TRUE(cache.letGo(path));
    EXPECT_EQ(cache.request(path), PeakCache::State::Absent);
    QSignalSpy resumed(&cache, &PeakCache::resumed);
    cache.resume(path);
    EXPECT_EQ(resumed.size(), 1);
    ASSERT_EQ(compute(), PeakCache::State::Ready);

    // Ready peaks stay, from the levels alone: a close read waits for resume().
    ASSERT_TRUE(cache.letGo(path));
    EXPECT_EQ(cache.request(path), PeakCache::State::Ready);
    EXPECT_EQ(cache.peaks(path, 0, 256, 3).columns, 3);
    EXPECT_EQ(cache.peaks(path, 0, 2, 100).columns, 0);
    cache.resume(path);
    EXPECT_EQ(cache.peaks(path, 0, 2, 100).columns, 100);
}

TEST_F(Peaks, ACloseReadOfAFileThatChangedDropsIt) {
    ASSERT_TRUE(staircaseSong(1, 16, 20000, 1).write(path));
    ASSERT_EQ(compute(), PeakCache::State::Ready);
    ASSERT_TRUE(staircaseSong(1, 16, 10000, 1).write(path));
    QSignalSpy invalidated(&cache, &PeakCache::invalidated);
    // The levels in memory do not need the file; a close read does, and finds it changed.
    EXPECT_EQ(cache.peaks(path, 0, 1000, 10).columns, 10);
    EXPECT_EQ(cache.peaks(path, 15000, 2, 100).columns, 0);
    ASSERT_TRUE(invalidated.wait(5000));
    EXPECT_EQ(cache.state(path), PeakCache::State::Absent);
}

} // namespace

#include "editor/MarkTime.h"

#include "editor/ClipCut.h"
#include "editor/TimeText.h"
#include "support/TestAudio.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace quaverly;
using namespace quaverly::test;

namespace {

TEST(MarkTime, TypedTimesAreReadToTheMicrosecond) {
    const struct {
        const char* text;
        qint64 us; // -1: refused
    } cases[] = {
        {"1:02.5", 62500000},
        {"90", 90000000},
        {"75:00", 4500000000},
        {"1:02:03.004", 3723004000},
        {"0:01.000001", 1000001},
        {"999:59:59.999999", 3599999999999},
        {"", -1},
        {"1:5", -1},
        {"1:60", -1},
        {"1:02:60", -1},
        {"-1", -1},
        {"1,5", -1},
        {"0:01.0000001", -1},
        {"1000:00:00", -1},
    };
    for (const auto& c : cases) {
        const auto got = parseMarkTime(QString::fromLatin1(c.text));
        EXPECT_EQ(got.value_or(-1), c.us) << '"' << c.text << '"';
    }
}

TEST(MarkTime, AFieldTakesBackWhatItShowsAndTheTextsOfOld) {
    const struct {
        qint64 ms;
        const char* shown;
        const char* old; // as the fields once showed it
    } cases[] = {{62500, "1:02.500", "01:02.500"}, {3723004, "1:02:03.004", "01:02:03.004"}};
    for (const auto& c : cases) {
        EXPECT_EQ(positionText(c.ms), QLatin1String(c.shown));
        EXPECT_EQ(parseMarkTime(positionText(c.ms)), c.ms * 1000) << c.shown;
        EXPECT_EQ(parseMarkTime(QLatin1String(c.old)), c.ms * 1000) << c.old;
    }
}

TEST(MarkTime, ATypedTimeBecomesTheMarkWhoseFrameIsNearest) {
    const struct {
        std::uint32_t rate;
        const char* text;
        qint64 in;
    } cases[] = {
        {8000, "0:01.0004", 1000},  // frame 8003.2: 8000 is nearer than 8008
        {8000, "0:01.0006", 1001},  // 8004.8: 8008
        {8000, "0:01.0005", 1000},  // 8004, halfway: the earlier frame
        {44100, "0:00.0114", 11},   // 502.74: 11 ms is frame 485, 12 ms frame 529
        {44100, "0:00.0115", 12},   // 507.15
        {22050, "0:00.010", 10},    // 220.5: 10 ms is frame 221
        {500, "0:00.013", 12},      // 6.5 frames of 2 ms, halfway: frame 6
        {500, "0:00.0131", 14},     // 6.55: frame 7
        {8000, "0:09.9999", 10000}, // the end
    };
    for (const auto& c : cases) {
        const CutGrid grid(c.rate, 10 * c.rate);
        const auto us = parseMarkTime(QString::fromLatin1(c.text));
        ASSERT_TRUE(us) << c.text;
        EXPECT_EQ(grid.inMarkNear(grid.pointAt(*us)), c.in) << c.rate << " Hz " << c.text;
    }
}

// The grid's frames are the ones the cut keeps: a staircase song whose samples are their frame
// numbers is cut, and its first sample and length are compared.
TEST(MarkTime, TheGridKeepsTheFramesTheCutKeeps) {
    QTemporaryDir dir;
    const QString song = dir.filePath(QStringLiteral("song.wav"));
    const QString clip = dir.filePath(QStringLiteral("clip.wav"));
    const std::uint64_t frames = 30000; // 680.27 ms at 44.1 kHz: every sample is its frame
    ASSERT_TRUE(writeWav16(song, 1, 44100, staircase(frames, 1)));
    const CutGrid grid(44100, frames);
    const struct {
        qint64 in, out;
        std::uint64_t first, end;
    } cases[] = {{3, 5, 132, 220},   // 5 ms alone would be frame 221
                 {1, 2, 44, 88},     //
                 {0, 680, 0, 30000}, // the whole song
                 {123, 500, 5424, 22050},
                 {600, 680, 26460, 30000}};
    for (const auto& c : cases) {
        EXPECT_EQ(grid.inFrame(c.in), c.first);
        EXPECT_EQ(grid.outFrame(c.in, c.out), c.end) << c.in << ".." << c.out;
        const Status cut = cutClip(song, clip, c.in, c.out);
        ASSERT_TRUE(cut) << qPrintable(failureText(cut.error()));
        const auto kept = samples16(readFile(clip));
        ASSERT_EQ(kept.size(), c.end - c.first) << c.in << ".." << c.out;
        EXPECT_EQ(kept.front(), std::int16_t(c.first));
        EXPECT_EQ(grid.clipMs(c.in, c.out), qint64(((c.end - c.first) * 1000 + 22050) / 44100));
    }
    // The Out mark for a place: with In at 3 ms, frame 220 is 5 ms.
    EXPECT_EQ(grid.outMarkNear(3, {221, 0}), 5);
    EXPECT_EQ(grid.outMarkNear(3, {frames, 0}), grid.lengthMs());
}

} // namespace

#include "editor/ClipCut.h"
#include "engines/player/MciErrors.h"
#include "support/TestAudio.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace quaverly;
using namespace quaverly::test;

namespace {

class ClipCut : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString song = dir.filePath(QStringLiteral("song.wav"));

    // 10 s of mono 8 kHz whose frame i holds i (wrapping past 32767).
    void SetUp() override { ASSERT_TRUE(writeWav16(song, 1, 8000, staircase(80000, 1))); }
    QStringList files() const {
        return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }
};

// The frames kept for marks on songs of rates that are not a multiple of 1000 Hz, as the cut has
// always kept them: the head goes to In's frame, then the clip's length in milliseconds is
// counted in what is left. Marks outside the sound fail at the step that meets them.
TEST(MarkedFrames, AreTheFramesTheCutHasAlwaysKept) {
    const struct {
        std::uint32_t rate;
        std::uint64_t frames;
        qint64 in, out;
        std::uint64_t first, end; // when `fails` is null
        const char* fails;        // the step that fails
    } cases[] = {
        {8000, 160, 0, 20, 0, 160, nullptr},
        {8000, 160, 3, 17, 24, 136, nullptr},
        {11025, 331, 3, 30, 33, 331, nullptr}, // 27 ms of the 298 frames left: all of them
        {11025, 331, 1, 20, 11, 220, nullptr}, // 11.025 -> 11, then 19 ms: 209.475 -> 209
        {22050, 700, 1, 30, 22, 661, nullptr},
        {22050, 700, 10, 31, 221, 684, nullptr}, // 220.5 rounds up
        {44100, 1125, 1, 5, 44, 220, nullptr},   // 5 ms alone would be frame 221
        {44100, 1125, 0, 26, 0, 1125, nullptr},  // 25.51 ms reported as 26: the whole song
        {44100, 1020, 0, 23, 0, 1020, nullptr},  // 23.13 ms reported as 23: the whole song
        {44100, 1020, 1, 23, 44, 1020, nullptr},
        {48000, 1000, 7, 21, 336, 1000, nullptr},
        {48000, 1000, 20, 21, 960, 1000, nullptr},
        {22050, 12, 0, 1, 0, 12, nullptr},
        {44100, 441000, 1234, 5678, 54419, 250399, nullptr},
        {44100, 441000, 9999, 10000, 440956, 441000, nullptr},
        {22050, 220501, 333, 7777, 7343, 171483, nullptr},
        {11025, 110253, 9000, 10000, 99225, 110253, nullptr},
        {48000, 96001, 1999, 2000, 95952, 96001, nullptr},
        // 22 frames are left after In at 25 ms: 0.5 ms, reported as 0, so 1 ms is past them.
        {44100, 1125, 25, 26, 0, 0, "removing the tail"},
        {44100, 1125, 5, 27, 0, 0, "removing the tail"},
        {8000, 160, 21, 22, 0, 0, "removing the head"},
        {22050, 11, 0, 1, 0, 0, "removing the tail"}, // 0.499 ms: a sound of 0 ms
        {11025, 0, 0, 1, 0, 0, "removing the tail"},
    };
    for (const auto& c : cases) {
        const auto kept = markedFrames(c.rate, c.frames, c.in, c.out);
        const std::string row = std::to_string(c.rate) + "/" + std::to_string(c.frames) + " " +
                                std::to_string(c.in) + ".." + std::to_string(c.out);
        if (c.fails) {
            ASSERT_FALSE(kept) << row;
            EXPECT_EQ(kept.error().stepWords(), QLatin1String(c.fails)) << row;
            EXPECT_EQ(kept.error().code(), mcierr::kOutOfRange) << row;
            continue;
        }
        ASSERT_TRUE(kept) << row << ": " << qPrintable(failureText(kept.error()));
        EXPECT_EQ(kept->first, c.first) << row;
        EXPECT_EQ(kept->end, c.end) << row;
    }
}

TEST(CutFailure, IsToldWithItsStepAndCode) {
    const struct {
        Error failure;
        const char* text;
    } cases[] = {
        {Error({}, QStringLiteral("12000 ms is past the end (10000 ms)"), mcierr::kOutOfRange)
             .during(CutStep::RemovingTail, QStringLiteral("removing the tail")),
         "position outside the sound: 12000 ms is past the end (10000 ms) while removing the "
         "tail (error 282)"},
        {Error(QStringLiteral("/w/a.wav"), QStringLiteral("File too large"), mcierr::kFileWrite)
             .during(CutStep::SavingClip, QStringLiteral("saving the clip")),
         "the file could not be written: /w/a.wav: File too large while saving the clip (error "
         "349)"},
        {Error(QStringLiteral("/w/gone.wav"), {}, mcierr::kFileNotFound)
             .during(CutStep::OpeningSong, QStringLiteral("opening the song")),
         "file not found: /w/gone.wav while opening the song (error 275)"},
        {Error(QStringLiteral("/w/a.wav"), QStringLiteral("No space left on device"))
             .during(CutStep::ApplyingEffects,
                     QStringLiteral("applying the fades and normalising")),
         "/w/a.wav: No space left on device while applying the fades and normalising"},
        {Error({}, QStringLiteral("a fade cannot be negative")), "a fade cannot be negative"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(failureText(c.failure), QLatin1String(c.text));
}

TEST_F(ClipCut, CutsInPlaceToExactlyTheMarkedStretch) {
    const auto r = cutClip(song, song, 2000, 5000);
    ASSERT_TRUE(r) << qPrintable(failureText(r.error()));
    const auto s = samples16(readFile(song));
    ASSERT_EQ(s.size(), 24000u); // the 3 s between 2 s and 5 s
    EXPECT_EQ(s.front(), 16000);
    EXPECT_EQ(s.back(), std::int16_t(39999));
    EXPECT_EQ(files(), QStringList{QStringLiteral("song.wav")}); // no scratch file left

    // A second cut works on the clip: its marks are the clip's.
    ASSERT_TRUE(cutClip(song, song, 1000, 1500));
    const auto again = samples16(readFile(song));
    ASSERT_EQ(again.size(), 4000u);
    EXPECT_EQ(again.front(), 24000);
}

TEST_F(ClipCut, WithoutMarksTheWholeSongStays) {
    const QByteArray before = readFile(song);
    ASSERT_TRUE(cutClip(song, song, 0, 10000));
    EXPECT_EQ(readFile(song), before);
}

TEST_F(ClipCut, MarksOutOfOrderAreATimeInputErrorAndChangeNothing) {
    const QByteArray before = readFile(song);
    for (auto marks : {std::pair<qint64, qint64>{6000, 4000}, {3000, 3000}}) {
        const auto r = cutClip(song, song, marks.first, marks.second);
        ASSERT_FALSE(r);
        EXPECT_TRUE(marksOutOfOrder(r.error()));
    }
    EXPECT_EQ(readFile(song), before);
}

TEST_F(ClipCut, AFailingStepIsReportedAndLeavesTheSongAsItWas) {
    const QByteArray before = readFile(song);
    // An Out mark past the sound makes the tail's step fail half-way through the cut.
    auto r = cutClip(song, song, 1000, 12000);
    ASSERT_FALSE(r);
    EXPECT_FALSE(marksOutOfOrder(r.error()));
    EXPECT_EQ(failureText(r.error()),
              QStringLiteral("position outside the sound: from 11000 is after to 9000 while "
                             "removing the tail (error 282)"));
    // A missing song fails at the first step.
    const QString gone = dir.filePath(QStringLiteral("gone.wav"));
    r = cutClip(gone, song, 0, 10);
    ASSERT_FALSE(r);
    EXPECT_EQ(failureText(r.error()),
              QStringLiteral("file not found: %1 while opening the song (error 275)").arg(gone));
    EXPECT_EQ(readFile(song), before);
    EXPECT_EQ(files(), QStringList{QStringLiteral("song.wav")});
}

TEST_F(ClipCut, ACutToAnotherFileLeavesTheSourceAlone) {
    const QByteArray before = readFile(song);
    const QString out = dir.filePath(QStringLiteral("clip.wav"));
    ASSERT_TRUE(cutClip(song, out, 9999, 10000));
    EXPECT_EQ(readFile(song), before);
    const auto s = samples16(readFile(out));
    ASSERT_EQ(s.size(), 8u); // 1 ms at 8 kHz
    EXPECT_EQ(s.front(), std::int16_t(79992));
}

// At rates that are not a multiple of 1000 Hz the song's length and the head's position are
// both rounded to whole milliseconds; the clip must still be exactly the frames the marks name.
TEST_F(ClipCut, RoundedLengthsStillCutToTheMarkedFrames) {
    const struct {
        std::uint32_t rate;
        int frames;
        qint64 in, out;
    } cases[] = {{44100, 1125, 5, 10},
                 {44100, 1125, 0, 26},
                 {22050, 1000, 7, 40},
                 {11025, 331, 3, 30},
                 {44100, 44123, 500, 1000}};
    for (const auto& c : cases) {
        ASSERT_TRUE(writeWav16(song, 1, c.rate, staircase(std::size_t(c.frames), 1)));
        const auto frameOf = [&](qint64 ms) { return qint64((ms * c.rate + 500) / 1000); };
        const auto r = cutClip(song, song, c.in, c.out);
        ASSERT_TRUE(r) << c.rate << " " << c.in << ": " << qPrintable(failureText(r.error()));
        const qint64 head = std::min<qint64>(frameOf(c.in), c.frames);
        const qint64 kept = std::min<qint64>(frameOf(c.out - c.in), c.frames - head);
        const auto s = samples16(readFile(song));
        ASSERT_EQ(qint64(s.size()), kept) << c.rate << " " << c.in;
        EXPECT_EQ(s.front(), std::int16_t(head)) << c.rate << " " << c.in;
        EXPECT_EQ(s.back(), std::int16_t(head + kept - 1)) << c.rate << " " << c.in;
    }
}

} // namespace

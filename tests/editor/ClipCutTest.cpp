#include "editor/ClipCut.h"
#include "engines/mci/WaveCommands.h"
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
    WaveCommands commands;
    QString song = dir.filePath(QStringLiteral("song.wav"));

    // 10 s of mono 8 kHz whose frame i holds i (wrapping past 32767).
    void SetUp() override { ASSERT_TRUE(writeWav16(song, 1, 8000, staircase(80000, 1))); }
    QStringList files() const {
        return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }
};

TEST_F(ClipCut, SendsTheFiveCommandsOfTheWorkedExample) {
    const auto texts = cutCommands(QStringLiteral("/w/song.wav"), QStringLiteral("/w/clip.wav"),
                                   2000, 5000, 10000);
    EXPECT_EQ(texts, QStringList({QStringLiteral("open /w/song.wav type waveaudio alias voice1"),
                                  QStringLiteral("delete voice1 from 0 to 2000"),
                                  QStringLiteral("delete voice1 from 3000 to 8000"),
                                  QStringLiteral("save  voice1 /w/clip.wav"),
                                  QStringLiteral("close voice1")}));
    EXPECT_EQ(
        cutCommands(QStringLiteral("/my music/a.wav"), QStringLiteral("/w/c.wav"), 0, 1, 1).first(),
        QStringLiteral("open \"/my music/a.wav\" type waveaudio alias voice1"));
}

TEST_F(ClipCut, CutsInPlaceToExactlyTheMarkedStretch) {
    const auto r = cutClip(song, song, 2000, 5000, 10000, commands);
    ASSERT_EQ(r.result, CutOutcome::Cut) << r.error.toStdString();
    const auto s = samples16(readFile(song));
    ASSERT_EQ(s.size(), 24000u); // the 3 s between 2 s and 5 s
    EXPECT_EQ(s.front(), 16000);
    EXPECT_EQ(s.back(), std::int16_t(39999));
    EXPECT_EQ(commands.log().size(), 5);
    EXPECT_EQ(commands.log().value(3), QStringLiteral("save  voice1 ") + song); // no scratch name
    EXPECT_EQ(files(), QStringList{QStringLiteral("song.wav")}); // no scratch file left
    EXPECT_TRUE(commands.openAliases().isEmpty());

    // A second cut works on the clip: its marks and length are the clip's.
    ASSERT_EQ(cutClip(song, song, 1000, 1500, 3000, commands).result, CutOutcome::Cut);
    const auto again = samples16(readFile(song));
    ASSERT_EQ(again.size(), 4000u);
    EXPECT_EQ(again.front(), 24000);
}

TEST_F(ClipCut, WithoutMarksTheWholeSongStays) {
    const QByteArray before = readFile(song);
    ASSERT_EQ(cutClip(song, song, 0, 10000, 10000, commands).result, CutOutcome::Cut);
    EXPECT_TRUE(commands.log().contains(QStringLiteral("delete voice1 from 0 to 0")));
    EXPECT_TRUE(commands.log().contains(QStringLiteral("delete voice1 from 10000 to 10000")));
    EXPECT_EQ(readFile(song), before);
}

TEST_F(ClipCut, MarksOutOfOrderAreATimeInputErrorAndChangeNothing) {
    const QByteArray before = readFile(song);
    for (auto marks : {std::pair<qint64, qint64>{6000, 4000}, {3000, 3000}}) {
        EXPECT_EQ(cutClip(song, song, marks.first, marks.second, 10000, commands).result,
                  CutOutcome::TimeInputError);
    }
    EXPECT_TRUE(commands.log().isEmpty());
    EXPECT_EQ(readFile(song), before);
}

TEST_F(ClipCut, AFailingStepIsReportedAndLeavesTheSongAsItWas) {
    const QByteArray before = readFile(song);
    // A length past the sound makes the tail delete fail half-way through the cut.
    auto r = cutClip(song, song, 1000, 2000, 12000, commands);
    EXPECT_EQ(r.result, CutOutcome::Failed);
    EXPECT_TRUE(r.error.contains(QLatin1String("tail"))) << r.error.toStdString();
    EXPECT_TRUE(commands.openAliases().isEmpty()); // the device was let go
    // A missing song fails at the first step.
    r = cutClip(dir.filePath(QStringLiteral("gone.wav")), song, 0, 10, 10000, commands);
    EXPECT_EQ(r.result, CutOutcome::Failed);
    EXPECT_TRUE(r.error.contains(QLatin1String("opening")));
    EXPECT_EQ(readFile(song), before);
    EXPECT_EQ(files(), QStringList{QStringLiteral("song.wav")});
}

TEST_F(ClipCut, ACutToAnotherFileLeavesTheSourceAlone) {
    const QByteArray before = readFile(song);
    const QString out = dir.filePath(QStringLiteral("clip.wav"));
    ASSERT_EQ(cutClip(song, out, 9999, 10000, 10000, commands).result, CutOutcome::Cut);
    EXPECT_EQ(readFile(song), before);
    const auto s = samples16(readFile(out));
    ASSERT_EQ(s.size(), 8u); // 1 ms at 8 kHz
    EXPECT_EQ(s.front(), std::int16_t(79992));
}

// At rates that are not a multiple of 1000 Hz the player's length and the head's position are
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
        const qint64 lengthMs = (qint64(c.frames) * 1000 + c.rate / 2) / c.rate;
        const auto r = cutClip(song, song, c.in, c.out, lengthMs, commands);
        ASSERT_EQ(r.result, CutOutcome::Cut)
            << c.rate << " " << c.in << ": " << r.error.toStdString();
        const qint64 head = std::min<qint64>(frameOf(c.in), c.frames);
        const qint64 kept = std::min<qint64>(frameOf(c.out - c.in), c.frames - head);
        const auto s = samples16(readFile(song));
        ASSERT_EQ(qint64(s.size()), kept) << c.rate << " " << c.in;
        EXPECT_EQ(s.front(), std::int16_t(head)) << c.rate << " " << c.in;
        EXPECT_EQ(s.back(), std::int16_t(head + kept - 1)) << c.rate << " " << c.in;
    }
}

} // namespace

namespace {

// Paths that only quoting carries through a command text: each is cut to another such path,
// and the clip is exactly the marked stretch.
TEST_F(ClipCut, PathsWithQuotesAndLineEndsAreCut) {
    const QString names[] = {
        QStringLiteral("say \"hi\".wav"), QStringLiteral("\"quoted\".wav"),
        QStringLiteral("two\nlines.wav"), QStringLiteral("cr\r tab\t.wav"),
        QStringLiteral("a\"\"b.wav"),     QStringLiteral("é 日本 😀 it's.wav"),
    };
    for (const QString& name : names) {
        const QString source = dir.filePath(name);
        const QString clip = dir.filePath(QStringLiteral("clip ") + name);
        ASSERT_TRUE(QFile::copy(song, source));
        const auto r = cutClip(source, clip, 1000, 1001, 10000, commands);
        ASSERT_EQ(r.result, CutOutcome::Cut) << name.toStdString() << ": " << r.error.toStdString();
        const auto s = samples16(readFile(clip));
        ASSERT_EQ(s.size(), 8u) << name.toStdString();
        EXPECT_EQ(s.front(), 8000) << name.toStdString();
        EXPECT_TRUE(commands.openAliases().isEmpty());
    }
}

} // namespace

#include "songlist/WorkingCopy.h"
#include "support/TestAudio.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <set>

using namespace quaverly;
using namespace quaverly::test;

namespace {

TEST(SongNames, TakeTheFileNameWithoutItsLastFourCharacters) {
    const struct {
        const char* path;
        const char* name;
        bool listed;
    } cases[] = {
        {"/music/Intro.mp3", "Intro", true},  {"/music/BELL.WAV", "BELL", true},
        {"/music/Take.flac", "Take.", false}, {"/a.b/song.Mp3", "song", true},
        {"/music/x.wav", "x", true},          {"/music/.wav", ".wav", true},
        {"/music/wav", "wav", false},         {"/music/concat.wav", "concat", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(songNameFor(QString::fromUtf8(c.path)), QString::fromUtf8(c.name)) << c.path;
        EXPECT_EQ(isSongFile(QString::fromUtf8(c.path)), c.listed) << c.path;
    }
}

TEST(WorkingCopies, EverySongGetsItsOwnFileNamedApartFromWorkFiles) {
    QTemporaryDir dir;
    std::set<QString> seen;
    for (int i = 0; i < 50; ++i) {
        const QString p = newWorkingCopyPath(dir.path());
        EXPECT_TRUE(seen.insert(p).second);
        EXPECT_TRUE(p.startsWith(dir.path() + QLatin1Char('/')));
        EXPECT_TRUE(p.endsWith(QLatin1String(".wav")));
        EXPECT_FALSE(p.endsWith(QLatin1String("/concat.wav")));
        ASSERT_TRUE(writeFile(p, "x")); // taken names are never handed out again
    }
}

class MakeWorkingCopy : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString target() const { return dir.filePath(QStringLiteral("copy.wav")); }
};

TEST_F(MakeWorkingCopy, APlainPcmWavIsCopiedByteForByte) {
    for (int bits : {8, 16}) {
        const QString picked = dir.filePath(QStringLiteral("Song.WAV"));
        if (bits == 8)
            ASSERT_TRUE(writeWav8(picked, 1, 8000, {1, 2, 3, 250}));
        else
            ASSERT_TRUE(writeWav16(picked, 2, 44100, staircase(333, 2, -7)));
        const Status made = makeWorkingCopy(picked, target());
        ASSERT_TRUE(made) << made.error().text().toStdString();
        EXPECT_EQ(readFile(target()), readFile(picked));
    }
}

TEST_F(MakeWorkingCopy, AnyOtherWavIsRewrittenIntoThePlainLayout) {
    // Samples behind a LIST chunk and followed by a trailing chunk.
    const auto samples = staircase(50, 2, 100);
    const auto fmt = WavHeader::pcm(2, 48000, 16).toBytes();
    QByteArray body("WAVEfmt ", 8);
    body.append(reinterpret_cast<const char*>(fmt.data()) + 16, 20);
    body.append("LIST\4\0\0\0abcd", 12);
    body.append("data\xC8\0\0\0", 8);
    body.append(reinterpret_cast<const char*>(samples.data()), 200);
    body.append("id3 \2\0\0\0zz", 10);
    const auto size = std::uint32_t(body.size());
    QByteArray file("RIFF", 4);
    file.append(reinterpret_cast<const char*>(&size), 4).append(body);
    const QString picked = dir.filePath(QStringLiteral("tagged.wav"));
    ASSERT_TRUE(writeFile(picked, file));

    const Status made = makeWorkingCopy(picked, target());
    ASSERT_TRUE(made) << made.error().text().toStdString();
    const QByteArray copy = readFile(target());
    const auto layout = probeWav(target());
    ASSERT_TRUE(layout && layout->canonical);
    EXPECT_EQ(layout->sampleRate, 48000u);
    EXPECT_EQ(samples16(copy), samples);
}

TEST_F(MakeWorkingCopy, AnUnreadableSongLeavesNothing) {
    const QString picked = dir.filePath(QStringLiteral("broken.wav"));
    ASSERT_TRUE(writeFile(picked, "RIFF....WAVEjunk"));
    const Status made = makeWorkingCopy(picked, target());
    ASSERT_FALSE(made);
    EXPECT_EQ(made.error().file(), picked);
    EXPECT_NE(made.error().code(), 0);
    EXPECT_FALSE(QFile::exists(target()));
}

} // namespace

#include "songlist/WorkingCopy.h"
#include "engines/tags/MadeSongs.h"
#include "support/TestAudio.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <set>

using namespace quaverly;
using namespace quaverly::test;

namespace {

TEST(SongNames, TakeTheTagsOrTheFileNameWithoutItsExtension) {
    const struct {
        const char* path;
        const char* title;
        const char* artist;
        const char* name;
    } cases[] = {
        {"/music/Intro.mp3", "", "", "Intro"},
        {"/music/BELL.WAV", "", "", "BELL"},
        {"/music/Take.flac", "", "", "Take"},
        {"/a.b/song.Mp3", "", "", "song"},
        {"/music/My.Song.mp3", "", "", "My.Song"},
        {"/music/x.wav", "", "", "x"},
        {"/music/.wav", "", "", ".wav"},
        {"/music/a.mp", "", "", "a.mp"},
        {"/music/.hidden", "", "", ".hidden"},
        {"/music/wav", "", "", "wav"},
        {"/music/concat.wav", "", "", "concat"},
        {"/music/Intro.mp3", "Opening", "Band", "Band - Opening"},
        {"/music/Intro.mp3", "Opening", "", "Opening"},
        {"/music/Intro.mp3", "", "Band", "Intro"},
    };
    for (const auto& c : cases) {
        const SongTags tags{QString::fromUtf8(c.title), QString::fromUtf8(c.artist), QString()};
        EXPECT_EQ(songNameFor(QString::fromUtf8(c.path), tags), QString::fromUtf8(c.name))
            << c.path;
    }
}

TEST(SongToolTips, GiveTheNameThePathTheFormatAndTheLength) {
    const struct {
        SongSummary song;
        const char* tip;
    } cases[] = {
        {{"FLAC", "FLAC", 44100, 2, 44100 * 2054 / 10, {}}, "FLAC, 44100 Hz, stereo\n3:25.4"},
        {{"PCM 16-bit", "WAV", 8000, 1, 0, {}}, "WAV PCM 16-bit, 8000 Hz, mono\n0:00.0"},
        {{"MP3", "MPEG audio", 48000, 6, 2399, {}}, "MP3, 48000 Hz, 6 channels\n0:00.0"},
        {{"MP3", "MPEG audio", 48000, 2, 2400, {}}, "MP3, 48000 Hz, stereo\n0:00.1"},
        {{"", "", 22050, 2, 22050 * 5996 / 100, {}}, "22050 Hz, stereo\n1:00.0"},
        {{"AAC", "MP4", 1000, 2, 3723049, {}}, "AAC, 1000 Hz, stereo\n1:02:03.0"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(songToolTip(QStringLiteral("/home/u/Music/Intro.flac"), c.song),
                  QStringLiteral("Intro\n") +
                      QDir::toNativeSeparators(QStringLiteral("/home/u/Music/Intro.flac")) +
                      QLatin1Char('\n') + QString::fromUtf8(c.tip));
}

TEST(SongRows, ShowTheFormatsShortWordAndTheLengthToTheSecond) {
    const struct {
        const char* codec;
        const char* container;
        const char* word;
    } formats[] = {
        {"MP3", "MPEG audio", "MP3"},
        {"PCM 24-bit", "AIFF", "AIFF"},
        {"compressed", "WAV", "WAV"},
        {"Vorbis", "Ogg", "Vorbis"},
        {"Windows Media Audio 2", "ASF", "ASF"},
        {"", "", ""},
    };
    for (const auto& f : formats)
        EXPECT_EQ(songFormatWord({f.codec, f.container, 44100, 2, 0, {}}), f.word) << f.codec;
    const struct {
        std::uint64_t ms;
        const char* text;
    } lengths[] = {{0, "0:00"},      {499, "0:00"},      {500, "0:01"},
                   {205400, "3:25"}, {3599499, "59:59"}, {3723000, "1:02:03"}};
    for (const auto& l : lengths)
        EXPECT_EQ(listLengthText(l.ms), l.text) << l.ms;
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

TEST_F(MakeWorkingCopy, APlainPcmWavIsCopiedByteForByteWhateverItsName) {
    const struct {
        const char* name;
        int bits;
    } cases[] = {{"Song.WAV", 8}, {"Song.wav", 16}, {"plain.flac", 16}, {"no-extension", 16}};
    for (const auto& c : cases) {
        const QString picked = dir.filePath(QString::fromUtf8(c.name));
        if (c.bits == 8)
            ASSERT_TRUE(writeWav8(picked, 1, 8000, {1, 2, 3, 250}));
        else
            ASSERT_TRUE(writeWav16(picked, 2, 44100, staircase(333, 2, -7)));
        EXPECT_TRUE(copiesWhole(picked)) << c.name;
        const auto made = makeWorkingCopy(picked, target());
        ASSERT_TRUE(made) << made.error().text().toStdString();
        EXPECT_EQ(readFile(target()), readFile(picked)) << c.name;
        EXPECT_EQ(made->codec, QStringLiteral("PCM %1-bit").arg(c.bits));
        EXPECT_EQ(made->container, "WAV");
        EXPECT_EQ(made->rate, c.bits == 8 ? 8000u : 44100u);
        EXPECT_EQ(made->channels, c.bits == 8 ? 1 : 2);
        EXPECT_EQ(made->frames, c.bits == 8 ? 4u : 333u);
    }
}

// Six channels in the 44-byte layout would pass for plain PCM by the header alone: they are
// decoded and mixed down, since everything after the add reads mono or stereo.
TEST_F(MakeWorkingCopy, MoreThanTwoChannelsAreMixedDownToStereo) {
    const QString picked = dir.filePath(QStringLiteral("six.wav"));
    ASSERT_TRUE(writeWav16(picked, 6, 48000, staircase(480, 6)));
    EXPECT_FALSE(copiesWhole(picked));
    const auto made = makeWorkingCopy(picked, target());
    ASSERT_TRUE(made) << made.error().text().toStdString();
    const auto layout = probeWav(target());
    ASSERT_TRUE(layout && layout->canonical);
    EXPECT_EQ(layout->channels, 2);
    EXPECT_EQ(layout->sampleRate, 48000u);
    EXPECT_EQ(layout->dataSize, 480u * 4);
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

    const auto made = makeWorkingCopy(picked, target());
    ASSERT_TRUE(made) << made.error().text().toStdString();
    EXPECT_EQ(made->rate, 48000u);
    EXPECT_EQ(made->channels, 2);
    EXPECT_EQ(made->frames, 50u);
    const QByteArray copy = readFile(target());
    const auto layout = probeWav(target());
    ASSERT_TRUE(layout && layout->canonical);
    EXPECT_EQ(layout->sampleRate, 48000u);
    EXPECT_EQ(samples16(copy), samples);
}

TEST_F(MakeWorkingCopy, AnUnreadableSongLeavesNothing) {
    const QString picked = dir.filePath(QStringLiteral("broken.wav"));
    ASSERT_TRUE(writeFile(picked, "RIFF....WAVEjunk"));
    const auto made = makeWorkingCopy(picked, target());
    ASSERT_FALSE(made);
    EXPECT_EQ(made.error().file(), picked);
    EXPECT_NE(made.error().code(), 0);
    EXPECT_FALSE(QFile::exists(target()));
}

// A decoded song: the summary has the reader's words and the working copy's exact length.
TEST_F(MakeWorkingCopy, ATaggedMp3IsNamedByItsTagsAndItsTipTellsItsFormatAndLength) {
    if (!made_songs::haveFfmpeg())
        GTEST_SKIP() << "ffmpeg is missing";
    const QString why =
        made_songs::makeSong(QDir(dir.path()), QStringLiteral("song.mp3"),
                             QStringList{"-c:a", "libmp3lame"} + made_songs::tagOptions("T", "A"));
    ASSERT_TRUE(why.isEmpty()) << why.toStdString();
    const QString picked = dir.filePath(QStringLiteral("song.mp3"));
    const auto made = makeWorkingCopy(picked, target());
    ASSERT_TRUE(made) << made.error().text().toStdString();
    EXPECT_EQ(songNameFor(picked, made->tags), "A - T");
    EXPECT_EQ(made->frames * 4, probeWav(target())->dataSize);
    EXPECT_EQ(songToolTip(picked, *made),
              "A - T\n" + QDir::toNativeSeparators(picked) + "\nMP3, 44100 Hz, stereo\n0:00.1");
}

} // namespace

#include "engines/tags/SongTags.h"
#include "engines/tags/MadeSongs.h"
#include "support/QtPrinters.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

using namespace quaverly;

namespace {

TEST(SongTags, AreReadFromEveryFormatByContent) {
    if (!made_songs::haveFfmpeg())
        GTEST_SKIP() << "ffmpeg is missing";
    const QString title = QStringLiteral("Tïtle 日本"), artist = QStringLiteral("Ärtist");
    const auto tagged = [&](QStringList options) {
        return options << made_songs::tagOptions(title, artist) << QStringLiteral("-metadata")
                       << QStringLiteral("album=Album");
    };
    const struct {
        const char* name;
        QStringList options;
        bool hasTags;
    } cases[] = {
        {"id3v2.mp3", tagged({"-c:a", "libmp3lame"}), true},
        {"song.flac", tagged({}), true},
        {"vorbis.ogg", tagged({"-c:a", "libvorbis"}), true},
        {"song.opus", tagged({"-c:a", "libopus"}), true},
        {"aac.m4a", tagged({"-c:a", "aac"}), true},
        {"alac.m4a", tagged({"-c:a", "alac"}), true},
        {"info.wav", tagged({}), true},
        {"id3.aiff", tagged({"-write_id3v2", "1"}), true},
        {"song.wma", tagged({"-c:a", "wmav2"}), true},
        // The name says MP3, the bytes FLAC; and the other way round.
        {"flac-named.mp3", tagged({"-f", "flac"}), true},
        {"mp3-named.flac", tagged({"-f", "mp3"}), true},
        {"untagged.mp3", {"-c:a", "libmp3lame", "-map_metadata", "-1"}, false},
        {"untagged.flac", {"-map_metadata", "-1"}, false},
    };
    QTemporaryDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString name = QString::fromLatin1(c.name);
        const QString why = made_songs::makeSong(QDir(dir.path()), name, c.options);
        ASSERT_TRUE(why.isEmpty()) << why.toStdString();
        const SongTags tags = readSongTags(dir.filePath(name));
        EXPECT_EQ(tags.title, c.hasTags ? title : QString());
        EXPECT_EQ(tags.artist, c.hasTags ? artist : QString());
        EXPECT_EQ(tags.album, c.hasTags ? QStringLiteral("Album") : QString());
    }
}

TEST(SongTags, AreEmptyForWhatHoldsNone) {
    QTemporaryDir dir;
    const QString text = dir.filePath(QStringLiteral("notes.mp3"));
    ASSERT_TRUE(test::writeFile(text, "ID3 and words, but no tag"));
    const QString wav = dir.filePath(QStringLiteral("plain.wav"));
    ASSERT_TRUE(test::writeWav16(wav, 1, 8000, test::staircase(100, 1)));
    QStringList paths{text, wav, dir.filePath(QStringLiteral("missing.flac")), dir.path(), {}};
#ifdef Q_OS_UNIX
    // A pipe nobody writes to: opening it to read would wait for ever.
    paths << dir.filePath(QStringLiteral("pipe.mp3"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(paths.last()).constData(), 0600), 0);
#endif
    for (const QString& path : paths) {
        const SongTags tags = readSongTags(path);
        EXPECT_TRUE(tags.title.isEmpty() && tags.artist.isEmpty() && tags.album.isEmpty())
            << path.toStdString();
    }
}

} // namespace

#include "engines/tags/ClipTags.h"

#include "engines/encoder/SongEncode.h"

#include "decode/DecodeTestUtil.h"
#include "engines/tags/MadeSongs.h"
#include "engines/util/AtomicFile.h"
#include "support/FileSizeLimit.h"
#include "support/PeerEncodes.h"
#include "support/TestAudio.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <mp4file.h>

#include <atomic>
#include <cstdarg>

#ifdef Q_OS_LINUX
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>
#endif

using namespace quaverly;
using decode_test::run;

namespace {

// Linux writes a clip into an unnamed temporary file where the file system has them; elsewhere
// the temporary file always has a name.
#ifdef Q_OS_LINUX
constexpr bool kUnnamedFiles = true;
#else
constexpr bool kUnnamedFiles = false;
#endif

// While set, Qt's try of an unnamed temporary file (O_TMPFILE) is refused as a file system
// without them refuses it, and QSaveFile falls back to a named one.
std::atomic<bool> refuseUnnamedFiles{false};

} // namespace

#ifdef Q_OS_LINUX
extern "C" int open64(const char* path, int flags, ...) {
    mode_t mode = 0;
    if ((flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE) {
        va_list args;
        va_start(args, flags);
        mode = va_arg(args, mode_t);
        va_end(args);
    }
    if (refuseUnnamedFiles && (flags & O_TMPFILE) == O_TMPFILE) {
        errno = EOPNOTSUPP;
        return -1;
    }
    using Open = int (*)(const char*, int, ...);
    static const auto next = reinterpret_cast<Open>(::dlsym(RTLD_NEXT, "open64"));
    return next(path, flags, mode);
}
#endif

namespace {

const test::PeerEncode kLame{"mp3", "lame", {"--quiet", "IN", "OUT"}};

// Copies `bytes` into `target` the way encodeSong writes a clip: into an AtomicFile, the tags,
// the commit. The temporary file is unnamed unless `named`; *wasNamed says what it was.
Status saveTagged(const QString& target, const QByteArray& bytes, TagKind kind,
                  const ClipTags& tags, bool named, bool* wasNamed = nullptr) {
    refuseUnnamedFiles = named;
    AtomicFile out(target);
    Status s = out.open();
    refuseUnnamedFiles = false;
    if (s && wasNamed) {
        const QString fd = QStringLiteral("/proc/self/fd/%1").arg(out.file().handle());
        *wasNamed =
            !kUnnamedFiles || !QFile::symLinkTarget(fd).endsWith(QLatin1String(" (deleted)"));
    }
    if (s)
        s = out.write(bytes.constData(), bytes.size());
    if (s)
        s = writeClipTags(out, kind, tags);
    return s ? out.commit() : s;
}

// White noise: a FLAC file of it is as big as the WAV, so its audio moves in several blocks.
std::vector<std::int16_t> noise(std::size_t samples) {
    std::vector<std::int16_t> s(samples);
    std::uint32_t x = 12345;
    for (auto& v : s)
        v = static_cast<std::int16_t>((x = x * 1664525u + 1013904223u) >> 16);
    return s;
}

// What a file decodes to, by ffmpeg.
std::optional<QByteArray> decoded(const QString& path) {
    return run({"ffmpeg", "-v", "error", "-i", path, "-map", "0:a", "-f", "s16le", "-"});
}

// ffprobe's tags and stream codecs of a file, one "key=value" a line, keys in lower case.
QString probed(const QString& path) {
    const auto out =
        run({"ffprobe", "-v", "error", "-show_entries", "format_tags:stream_tags:stream=codec_name",
             "-of", "default=nw=1", path});
    return out ? QString::fromUtf8(*out).replace(QStringLiteral("TAG:"), QString()) : QString();
}

// A FLAC file's audio frames: what follows its metadata blocks.
QByteArray flacFrames(const QByteArray& b) {
    qsizetype at = 4;
    for (bool last = false; !last && at + 4 <= b.size();) {
        last = (std::uint8_t(b[at]) & 0x80) != 0;
        at += 4 + ((std::uint8_t(b[at + 1]) << 16) | (std::uint8_t(b[at + 2]) << 8) |
                   std::uint8_t(b[at + 3]));
    }
    return b.mid(at);
}

QString makePicture(const QDir& dir, const char* name) {
    const QString path = dir.filePath(QLatin1String(name));
    const bool made =
        run({"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
             "nullsrc=s=160x120,geq=lum='random(1)*255':cb=128:cr=128", "-frames:v", "1", path})
            .has_value();
    return made ? path : QString();
}

// The iTunes gapless item of the 8 s below as ffmpeg encodes it to AAC: 1024 frames of priming,
// 352800 of sound (0x56220), 480 of padding to the end of the last 1024-frame block.
const char kSmpb[] = " 00000000 00000400 000001E0 0000000000056220 00000000 00000000 00000000"
                     " 00000000 00000000 00000000 00000000 00000000";

// Each kind of tag, written into a file a peer tool made, the temporary file unnamed and named:
// ffprobe and TagLib read the fields back, the sound decodes as before (MP3 and FLAC keep their
// audio byte for byte), and a clip with no field to write is left as it was.
TEST(ClipTags, AreWrittenIntoEveryFormatAndTheSoundStaysAsItWas) {
    if (!made_songs::haveFfmpeg())
        GTEST_SKIP() << "ffmpeg is missing";
    QTemporaryDir dir;
    const QString wav = dir.filePath(QStringLiteral("noise.wav"));
    ASSERT_TRUE(test::writeWav16(wav, 2, 44100, noise(8 * 44100 * 2)));
    const QString picture = makePicture(QDir(dir.path()), "cover.png");
    ASSERT_FALSE(picture.isEmpty());

    ClipTags tags;
    tags.title = QStringLiteral("Tïtle 日本");
    tags.artist = QStringLiteral("Ärtist");
    tags.album = QStringLiteral("Album");
    tags.genre = QStringLiteral("Ringtone");
    tags.cover = test::readFile(picture);
    tags.coverMime = QStringLiteral("image/png");
    tags.androidLoop = true;                      // Ogg only
    tags.gapless = AacGapless{1024, 480, 352800}; // MP4 only
    // ffprobe and TagLib read every field back.
    const auto expectTagged = [&tags](const QString& clip, TagKind kind) {
        const QString probe = probed(clip);
        for (const char* line : {"title=Tïtle 日本", "artist=Ärtist", "album=Album",
                                 "genre=Ringtone", "codec_name=png"})
            EXPECT_TRUE(probe.contains(QString::fromUtf8(line), Qt::CaseInsensitive))
                << line << " in " << probe.toStdString();
        EXPECT_EQ(probe.contains(QStringLiteral("ANDROID_LOOP=true"), Qt::CaseInsensitive),
                  kind == TagKind::Ogg);
        const ClipTags back = clipTagsFrom(clip);
        EXPECT_EQ(back.title, tags.title);
        EXPECT_EQ(back.artist, tags.artist);
        EXPECT_EQ(back.album, tags.album);
        EXPECT_EQ(back.cover, tags.cover);
        EXPECT_EQ(back.coverMime, tags.coverMime);
    };
    // Our Ogg encoders write the same fields into the comment header themselves.
    const QTemporaryDir ours;
    for (const encode::Format format : {encode::Format::Vorbis, encode::Format::Opus}) {
        auto source = encode::openWavSource(wav);
        ASSERT_TRUE(source);
        encode::Settings settings;
        settings.format = format;
        const QString clip =
            ours.filePath(QStringLiteral("clip.") + QLatin1String(formats::info(format).extension));
        const auto failed = encode::encodeSong(**source, wav, clip, settings, tags);
        ASSERT_TRUE(failed.ok()) << failed.error().text().toStdString();
        expectTagged(clip, TagKind::Ogg);
    }
    const struct {
        test::PeerEncode peer;
        TagKind kind;
    } cases[] = {
        {kLame, TagKind::Id3v2},
        {test::kAacM4a, TagKind::Mp4},
        // The sample table before the sound: what the tags add there moves it all.
        {{"m4r",
          "ffmpeg",
          {"-v", "error", "-i", "IN", "-c:a", "aac", "-f", "ipod", "-movflags", "+faststart",
           "OUT"}},
         TagKind::Mp4},
        {{"ogg", "oggenc", {"-Q", "-o", "OUT", "IN"}}, TagKind::Ogg},
        {test::kOpus, TagKind::Ogg},
        {test::kFlac, TagKind::Flac},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.peer.extension);
        const QString song = dir.filePath(QStringLiteral("song.") + c.peer.extension);
        if (const QString why = test::encodeWithPeer(c.peer, wav, song); !why.isEmpty()) {
            ADD_FAILURE() << why.toStdString();
            continue;
        }
        const QByteArray original = test::readFile(song);
        const auto sound = decoded(song);
        const QString clip = dir.filePath(QStringLiteral("clip.") + c.peer.extension);
        const QString named = dir.filePath(QStringLiteral("named.") + c.peer.extension);
        ASSERT_TRUE(saveTagged(clip, original, c.kind, ClipTags{}, false));
        EXPECT_EQ(test::readFile(clip), original);
        bool wasNamed = false;
        ASSERT_TRUE(saveTagged(named, original, c.kind, tags, true, &wasNamed));
        EXPECT_TRUE(wasNamed);
        const Status saved = saveTagged(clip, original, c.kind, tags, false, &wasNamed);
        ASSERT_TRUE(saved) << saved.error().text().toStdString();
        EXPECT_EQ(wasNamed, !kUnnamedFiles);
        const QByteArray bytes = test::readFile(clip);
        EXPECT_EQ(test::readFile(named), bytes);
        // The song and the two clips, and no temporary file left.
        const QString pattern = QStringLiteral("*.") + c.peer.extension + QLatin1Char('*');
        EXPECT_EQ(QDir(dir.path()).entryList({pattern}, QDir::Files | QDir::Hidden).size(), 3);

        expectTagged(clip, c.kind);

        if (c.kind == TagKind::Id3v2) {
            EXPECT_TRUE(bytes.startsWith(QByteArray("ID3\x04\x00", 5))); // ID3v2.4
            EXPECT_TRUE(bytes.endsWith(original));
        } else if (c.kind == TagKind::Flac) {
            EXPECT_EQ(flacFrames(bytes), flacFrames(original));
        } else if (c.kind == TagKind::Mp4) {
            TagLib::MP4::File mp4(QFile::encodeName(clip).constData());
            const auto smpb = mp4.tag()->item("----:com.apple.iTunes:iTunSMPB");
            EXPECT_EQ(smpb.toStringList().toString().to8Bit(), kSmpb);
        }
        EXPECT_EQ(decoded(clip), sound);
    }
}

// The cover a song carries, in each kind of tag ffmpeg writes: the front cover before any other
// picture, its kind from its bytes; the title from the file's name when the song has none.
TEST(ClipTags, ComeFromTheSongWithItsCover) {
    if (!made_songs::haveFfmpeg())
        GTEST_SKIP() << "ffmpeg is missing";
    QTemporaryDir dir;
    const QDir folder(dir.path());
    const QString back = makePicture(folder, "back.png"), front = makePicture(folder, "front.jpg");
    ASSERT_FALSE(back.isEmpty() || front.isEmpty());
    // Inputs 1 and 2 are the back and the front picture, after the song's sound (0).
    const QStringList pictures{
        "-i", back, "-i", front, "-map", "0:a", "-c:v", "copy", "-disposition:v", "attached_pic"};
    const QStringList both =
        QStringList{"-map", "1", "-map", "2", "-metadata:s:v:0"} +
        QStringList{"comment=Cover (back)", "-metadata:s:v:1", "comment=Cover (front)"};
    const QStringList title{"-metadata", "title=Song", "-metadata", "album=Album"};
    const struct {
        const char* name;
        QStringList options;
        const QString& cover;
        const char* title;
    } cases[] = {
        {"no title.mp3", pictures + both + QStringList{"-c:a", "libmp3lame"}, front, "no title"},
        {"song.m4a", pictures + title + QStringList{"-map", "2", "-c:a", "aac"}, front, "Song"},
        {"song.flac", pictures + title + QStringList{"-map", "1"}, back, "Song"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString name = QString::fromUtf8(c.name);
        const QString why = made_songs::makeSong(folder, name, c.options);
        ASSERT_TRUE(why.isEmpty()) << why.toStdString();
        const ClipTags tags = clipTagsFrom(folder.filePath(name));
        EXPECT_EQ(tags.title, QString::fromUtf8(c.title));
        EXPECT_EQ(tags.cover, test::readFile(c.cover));
        EXPECT_EQ(tags.coverMime,
                  c.cover.endsWith(QLatin1String(".jpg")) ? "image/jpeg" : "image/png");
    }
    // Nothing read: the name alone.
    ASSERT_TRUE(test::writeFile(folder.filePath("notes.v2.mp3"), "ID3 and words, but no tag"));
    for (const char* name : {"notes.v2.mp3", "missing.flac"}) {
        const ClipTags tags = clipTagsFrom(folder.filePath(QLatin1String(name)));
        EXPECT_EQ(tags.title, QFileInfo(QLatin1String(name)).completeBaseName());
        EXPECT_TRUE(tags.artist.isEmpty() && tags.cover.isEmpty() && tags.coverMime.isEmpty());
    }
}

// A file not of the kind named is refused, and a write the disk refuses is told in the system's
// words; the error names the clip, whose target is left as it was (here: not there).
TEST(ClipTags, AFailureNamesTheClipAndSaysWhy) {
    QTemporaryDir dir;
    const QString clip = dir.filePath(QStringLiteral("clip"));
    ClipTags tags;
    tags.title = QStringLiteral("Title");
    for (const TagKind kind : {TagKind::Id3v2, TagKind::Mp4, TagKind::Ogg, TagKind::Flac}) {
        const Status s = saveTagged(clip, "no sound in here", kind, tags, false);
        ASSERT_FALSE(s);
        EXPECT_EQ(s.error().file(), clip);
        EXPECT_TRUE(s.error().cause().startsWith("the tags could not be written: it is not "))
            << s.error().cause().toStdString();
        EXPECT_FALSE(QFile::exists(clip));
    }

    const QString wav = dir.filePath(QStringLiteral("ramp.wav")),
                  mp3 = dir.filePath(QStringLiteral("ramp.mp3"));
    ASSERT_TRUE(test::writeWav16(wav, 1, 44100, test::staircase(4410, 1)));
    if (const QString why = test::encodeWithPeer(kLame, wav, mp3); !why.isEmpty())
        GTEST_SKIP() << why.toStdString();
    const QByteArray song = test::readFile(mp3);
    if (!test::kCanLimitFileSize)
        GTEST_SKIP() << "no file size limit here to stand in for a full disk";
    // Room for the sound, not for the tag in front of it.
    const auto error = test::withFileSizeLimit(song.size() + 100, [&] {
        const Status s = saveTagged(clip, song, TagKind::Id3v2, tags, false);
        return s ? QStringLiteral("saved") : s.error().text();
    });
    EXPECT_EQ(error, clip + QStringLiteral(": File too large"));
    EXPECT_FALSE(QFile::exists(clip));
}

} // namespace

// M4A clips that keep an AAC song's own packets, read back by the program's song reader, ffmpeg
// and ffprobe: the clip's sound is the song's over the marks to the sample, its packets are the
// song's bytes, and what cannot be kept says why. Needs ffmpeg and ffprobe (skips without).

#include "decode/DecodeTestUtil.h"
#include "engines/encoder/FrameCopy.h"
#include "engines/util/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>

namespace quaverly::framecopy {
namespace {

using decode_test::decodeRest;
using decode_test::firstDifference;
using decode_test::run;
using decode_test::samplesOf;

bool haveFfmpeg() {
    return test::havePeer(QStringLiteral("ffmpeg")) && test::havePeer(QStringLiteral("ffprobe"));
}

std::optional<QByteArray> ffmpeg(QStringList args) {
    args.prepend(QStringLiteral("error"));
    args.prepend(QStringLiteral("-v"));
    args.prepend(QStringLiteral("ffmpeg"));
    return run(args);
}

std::vector<std::int16_t> ffmpegDecode(const QString& path) {
    const auto out = ffmpeg({QStringLiteral("-i"), path, QStringLiteral("-f"),
                             QStringLiteral("s16le"), QStringLiteral("-")});
    return out ? samplesOf(*out) : std::vector<std::int16_t>{};
}

// The song's AAC packets, one after the other, as the file holds them.
QByteArray packetBytes(const QString& path) {
    return ffmpeg({QStringLiteral("-i"), path, QStringLiteral("-map"), QStringLiteral("0:a"),
                   QStringLiteral("-c"), QStringLiteral("copy"), QStringLiteral("-f"),
                   QStringLiteral("data"), QStringLiteral("-")})
        .value_or(QByteArray());
}

QString ffprobe(const QString& entries, const QString& path) {
    return QString::fromUtf8(run({QStringLiteral("ffprobe"), QStringLiteral("-v"),
                                  QStringLiteral("error"), QStringLiteral("-show_entries"), entries,
                                  QStringLiteral("-of"), QStringLiteral("default=nw=1"), path})
                                 .value_or(QByteArray()));
}

ClipOutput m4a() {
    ClipOutput o;
    o.kind = &formats::info(formats::Format::M4a);
    o.settings.format = formats::Format::M4a;
    return o;
}

// A music-like sound of 8 s (two tones and a sweep a side, a little noise), into `path`.
bool makeWav(const QString& path, int rate, int channels) {
    const QString left =
        QStringLiteral("0.3*sin(2*PI*220*t)+0.15*sin(2*PI*550*t)+0.15*sin(2*PI*(300+900*t)*t)+"
                       "0.01*(random(0)*2-1)");
    const QString right = QStringLiteral("0.3*sin(2*PI*330*t)+0.2*sin(2*PI*(200+700*t)*t)+"
                                         "0.01*(random(1)*2-1)");
    return ffmpeg({QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                   QStringLiteral("aevalsrc=%1:s=%2:d=8")
                       .arg(channels == 2 ? left + u'|' + right : left)
                       .arg(rate),
                   QStringLiteral("-y"), path})
        .has_value();
}

// The songs of the table, made once: by ffmpeg's AAC encoder with noise substitution off (see
// PnsSongKeepsItsLength), one of them with a cover, one with iTunSMPB in place of its edit list,
// and by the program's own encoder (a lead of silence, so its packets sit elsewhere on the sound).
struct Songs {
    QTemporaryDir dir;
    std::map<QString, QString> paths;

    QString make(const QString& name) {
        if (auto it = paths.find(name); it != paths.end())
            return it->second;
        const QString out = dir.filePath(name + QStringLiteral(".m4a"));
        if (name == QLatin1String("lc128-smpb"))
            return paths[name] = withoutEditList(make(QStringLiteral("lc128")), out);
        if (name == QLatin1String("lc128-cover"))
            return paths[name] = withCover(make(QStringLiteral("lc128")), out);
        const QString wav = dir.filePath(name + QStringLiteral(".wav"));
        const bool mono = name.contains(QLatin1String("mono"));
        const int rate = name.contains(QLatin1String("48k")) ? 48000 : 44100;
        if (!makeWav(wav, rate, mono ? 1 : 2))
            return {};
        bool made = false;
        if (name.startsWith(QLatin1String("ours"))) {
            auto source = encode::openWavSource(wav);
            encode::Settings s;
            s.format = formats::Format::M4a;
            s.value = 192;
            made = source && encode::encodeSong(**source, wav, out, s, ClipTags{}).ok();
        } else {
            const QString kbps = name.contains(QLatin1String("256")) ? QStringLiteral("256k")
                                                                     : QStringLiteral("128k");
            QStringList args{QStringLiteral("-i"),   wav,
                             QStringLiteral("-c:a"), QStringLiteral("aac"),
                             QStringLiteral("-b:a"), kbps};
            if (!name.contains(QLatin1String("pns")))
                args << QStringLiteral("-aac_pns") << QStringLiteral("0");
            made = ffmpeg(args << QStringLiteral("-y") << out).has_value();
        }
        return paths[name] = made ? out : QString();
    }

    // The song with a cover picture: a video stream of one frame, which is no video.
    QString withCover(const QString& song, const QString& out) {
        const QString cover = dir.filePath(QStringLiteral("cover.png"));
        const bool made =
            !song.isEmpty() &&
            ffmpeg({QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                    QStringLiteral("color=c=red:s=32x32:d=1"), QStringLiteral("-frames:v"),
                    QStringLiteral("1"), QStringLiteral("-y"), cover}) &&
            ffmpeg({QStringLiteral("-i"), song, QStringLiteral("-i"), cover, QStringLiteral("-map"),
                    QStringLiteral("0"), QStringLiteral("-map"), QStringLiteral("1"),
                    QStringLiteral("-c"), QStringLiteral("copy"), QStringLiteral("-disposition:v"),
                    QStringLiteral("attached_pic"), QStringLiteral("-y"), out});
        return made ? out : QString();
    }

    // The song's packets with no edit list, their priming and padding told by iTunSMPB alone.
    static QString withoutEditList(const QString& song, const QString& out) {
        const QString bare = out + QStringLiteral(".bare.m4a");
        auto reader = SongReader::open(song);
        if (song.isEmpty() || !reader ||
            !ffmpeg({QStringLiteral("-i"), song, QStringLiteral("-c"), QStringLiteral("copy"),
                     QStringLiteral("-use_editlist"), QStringLiteral("0"), bare}))
            return {};
        const auto frames = std::int64_t(decodeRest(*reader).size()) / reader->format().channels;
        const auto delay = std::int64_t(reader->format().delay);
        ClipTags tags;
        tags.gapless = AacGapless{
            int(delay), int((frames + delay + 1023) / 1024 * 1024 - delay - frames), frames};
        AtomicFile file(out);
        const QByteArray bytes = decode_test::readAll(bare);
        if (!file.open() || !file.write(bytes.constData(), bytes.size()) ||
            !writeClipTags(file, TagKind::Mp4, tags) || !file.commit())
            return {};
        return out;
    }
};
Songs* songs = nullptr;

// The clip's decode against the song's over the marks: bit for bit, or for a song of the
// program's own encoder, which substitutes noise for some bands (see PnsSongKeepsItsLength), the
// same sound but for that noise: a clip off by one sample would be below 25 dB.
void expectSame(const std::vector<std::int16_t>& clip, const std::vector<std::int16_t>& song,
                bool exact) {
    if (exact) {
        EXPECT_EQ(firstDifference(clip, song, 0), -1);
        return;
    }
    double signal = 0, noise = 0;
    for (std::size_t i = 0; i < song.size(); ++i) {
        signal += double(song[i]) * song[i];
        noise += double(song[i] - clip[i]) * (song[i] - clip[i]);
    }
    EXPECT_GE(10 * std::log10(signal / std::max(noise, 1.0)), 35.0);
}

// Marks as places on the song's packets: `packet` counts packet starts (-1: the song's very
// end, 0 with packet 0: its very start), `by` moves off them.
struct Mark {
    int packet;
    int by = 0;
};

struct Case {
    const char* name;
    const char* song;
    Mark in, out;
};

class M4aCopy : public ::testing::TestWithParam<Case> {
public:
    static void SetUpTestSuite() { songs = new Songs; }
    static void TearDownTestSuite() {
        delete songs;
        songs = nullptr;
    }
};

TEST_P(M4aCopy, ClipIsTheSongsOwnPacketsAndSoundBetweenTheMarks) {
    if (!haveFfmpeg())
        GTEST_SKIP() << "no ffmpeg and ffprobe";
    const Case& c = GetParam();
    const QString song = songs->make(QLatin1String(c.song));
    ASSERT_FALSE(song.isEmpty());
    auto reader = SongReader::open(song);
    ASSERT_TRUE(reader) << reader.error().text().toStdString();
    const std::vector<std::int16_t> ours = decodeRest(*reader);
    const auto channels = std::size_t(reader->format().channels);
    const std::uint64_t frames = ours.size() / channels;
    // Packet k starts at k * 1024 - the song's delay in its decode.
    const std::int64_t delay = std::int64_t(reader->format().delay);
    const auto at = [&](Mark m) {
        return m.packet < 0
                   ? frames + m.by
                   : std::uint64_t(std::max<std::int64_t>(0, m.packet * 1024 - delay) + m.by);
    };
    const std::uint64_t in = at(c.in), out = at(c.out);
    ASSERT_LT(in, out);
    const bool exact = !QLatin1String(c.song).startsWith(QLatin1String("ours"));

    const QString clip = songs->dir.filePath(QLatin1String(c.name) + QStringLiteral(".m4a"));
    // The song's length as the copy finds it from the index is the decode's: a mark past it is
    // refused before anything is written.
    EXPECT_EQ(copyClip(song, in, frames + 1, clip, m4a(), ClipTags{}).error().step(),
              int(CopyStep::Read));
    const Status copied = copyClip(song, in, out, clip, m4a(), ClipTags{});
    ASSERT_TRUE(copied.ok()) << copied.error().text().toStdString();

    // The program's decode: out - in frames, the song's own over the marks.
    auto clipReader = SongReader::open(clip);
    ASSERT_TRUE(clipReader) << clipReader.error().text().toStdString();
    const std::vector<std::int16_t> clipOurs = decodeRest(*clipReader);
    const std::vector<std::int16_t> songPart(ours.begin() + std::ptrdiff_t(in * channels),
                                             ours.begin() + std::ptrdiff_t(out * channels));
    ASSERT_EQ(clipOurs.size(), songPart.size());
    expectSame(clipOurs, songPart, exact);
    // ffmpeg's: the same, but FFmpeg 5.1 ends an MP4 only at a packet's end, the padding after
    // `out` left in (it does so for the songs too); the track's duration ends at `out`.
    const std::vector<std::int16_t> theirs = ffmpegDecode(song);
    const std::vector<std::int16_t> clipTheirs = ffmpegDecode(clip);
    ASSERT_GE(clipTheirs.size(), songPart.size());
    ASSERT_GE(theirs.size(), out * channels);
    expectSame(std::vector<std::int16_t>(clipTheirs.begin(), clipTheirs.begin() + songPart.size()),
               std::vector<std::int16_t>(theirs.begin() + std::ptrdiff_t(in * channels),
                                         theirs.begin() + std::ptrdiff_t(out * channels)),
               exact);
    const std::uint64_t padding = clipTheirs.size() / channels - (out - in);
    EXPECT_LT(padding, 1024u);

    // The clip's packets are a run of the song's, byte for byte.
    const QByteArray clipPackets = packetBytes(clip);
    ASSERT_FALSE(clipPackets.isEmpty());
    EXPECT_GE(packetBytes(song).indexOf(clipPackets), 0);

    const QStringList said =
        ffprobe(QStringLiteral("stream=codec_name,duration_ts:format_tags=major_brand,iTunSMPB"),
                clip)
            .split(u'\n');
    // The delay is the edit list's, as the program's reader found it.
    const QString smpb =
        QStringLiteral("TAG:iTunSMPB=") +
        QString::asprintf(" 00000000 %08llX %08llX %016llX",
                          static_cast<unsigned long long>(clipReader->format().delay),
                          static_cast<unsigned long long>(padding),
                          static_cast<unsigned long long>(out - in));
    for (const QString& line :
         {QStringLiteral("codec_name=aac"), QStringLiteral("duration_ts=%1").arg(out - in),
          QStringLiteral("TAG:major_brand=M4A ")})
        EXPECT_TRUE(said.contains(line))
            << line.toStdString() << " in " << said.join(u' ').toStdString();
    EXPECT_TRUE(
        std::any_of(said.begin(), said.end(), [&](const QString& l) { return l.startsWith(smpb); }))
        << smpb.toStdString() << " in " << said.join(u' ').toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Marks, M4aCopy,
    ::testing::Values(Case{"Lc128WholeSong", "lc128", {0}, {-1}},
                      Case{"Lc128OnPackets", "lc128", {10}, {30}},
                      Case{"Lc128OneAfterPackets", "lc128", {10, 1}, {30, 1}},
                      Case{"Lc128OneBeforePackets", "lc128", {10, -1}, {30, -1}},
                      Case{"Lc128FirstPacket", "lc128", {0}, {1, 100}},
                      Case{"Lc128WithCover", "lc128-cover", {12, 5}, {20, 7}},
                      Case{"Lc128ByItunSmpbWholeSong", "lc128-smpb", {0}, {-1}},
                      Case{"Lc128ByItunSmpbOffPackets", "lc128-smpb", {10, 1}, {30, -1}},
                      Case{"Lc256Mono48kStartToMiddle", "lc256-mono-48k", {0}, {200, 517}},
                      Case{"Lc256Mono48kMiddleToEnd", "lc256-mono-48k", {150, 3}, {-1}},
                      Case{"Lc256Mono48kLastSamples", "lc256-mono-48k", {-1, -1500}, {-1}},
                      Case{"Lc256OnPackets", "lc256", {1}, {2}},
                      Case{"OursWholeSong", "ours", {0}, {-1}},
                      Case{"OursOnPackets", "ours", {40}, {80}},
                      Case{"OursOffPackets", "ours", {40, -1}, {80, 1}},
                      Case{"OursFirstPacket", "ours", {0}, {0, 900}}),
    [](const auto& row) { return std::string(row.param.name); });

// FFmpeg's encoder fills some bands with noise by default, which the decoder makes up from a
// state that runs from where decoding starts: the clip's noise is not the song's, so such a
// song's clip is checked for its length alone.
TEST_F(M4aCopy, PnsSongKeepsItsLength) {
    if (!haveFfmpeg())
        GTEST_SKIP() << "no ffmpeg and ffprobe";
    const QString song = songs->make(QStringLiteral("pns128"));
    ASSERT_FALSE(song.isEmpty());
    const QString clip = songs->dir.filePath(QStringLiteral("pns-clip.m4r"));
    ClipOutput m4r = m4a();
    m4r.kind = &formats::info(formats::Format::M4r);
    m4r.settings.format = formats::Format::M4r;
    ASSERT_TRUE(copyClip(song, 5000, 105001, clip, m4r, ClipTags{}).ok());
    auto reader = SongReader::open(clip);
    ASSERT_TRUE(reader);
    EXPECT_EQ(decodeRest(*reader).size() / reader->format().channels, 100001u);
}

// Debian's FFmpeg makes no HE-AAC (it has no SBR encoder), so an AAC-LC song is made to say it
// is HE-AAC: its decoder set-up (mono, 44.1 kHz, 12 08 and a sync extension saying "no SBR")
// becomes the explicit SBR form (object type 5, SBR at 88.2 kHz, then AAC-LC), and every box and
// descriptor around it changes its size to match. The sound, before the boxes, stays in place.
bool signalSbr(const QString& song) {
    QFile file(song);
    if (!file.open(QIODevice::ReadWrite))
        return false;
    QByteArray bytes = file.readAll();
    QList<qsizetype> boxes; // the boxes around the set-up, outermost first
    qsizetype at = bytes.indexOf("moov") - 4;
    if (at < 0 || bytes.indexOf("mdat") > at)
        return false;
    for (const char* box : {"moov", "trak", "mdia", "minf", "stbl", "stsd", "mp4a", "esds"}) {
        at = bytes.indexOf(box, at + 4) - 4;
        if (at < 0)
            return false;
        boxes << at;
    }
    // The ES, decoder-config and set-up descriptors: where each one's length byte is.
    QList<qsizetype> lengths;
    qsizetype d = at + 12;
    for (const char tag : {'\x03', '\x04', '\x05'}) {
        d = bytes.indexOf(tag, d);
        if (d < 0)
            return false;
        while (quint8(bytes[d + 1]) & 0x80)
            ++d;
        lengths << d + 1;
        d += 2;
    }
    const int old = quint8(bytes[lengths.back()]);
    if (bytes.mid(d, 2) != QByteArray("\x12\x08", 2))
        return false;
    const QByteArray explicitSbr("\x2a\x09\x08\x00", 4);
    const int by = int(explicitSbr.size()) - old;
    bytes.replace(d, old, explicitSbr);
    for (const qsizetype box : boxes) // big-endian 32-bit sizes
        qToBigEndian(qFromBigEndian<quint32>(bytes.constData() + box) + quint32(by),
                     bytes.data() + box);
    for (const qsizetype length : lengths)
        bytes[length] = char(quint8(bytes[length]) + by);
    return file.resize(0) && file.write(bytes) == bytes.size();
}

// What is not AAC-LC in MP4 is re-encoded, and says why.
struct Refusal {
    const char* name;
    const char* args;  // ffmpeg's, between the input and the output
    const char* video; // a picture input too
    const char* words;
};

class M4aCopyRefusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(M4aCopyRefusal, SaysWhyInWords) {
    if (!haveFfmpeg())
        GTEST_SKIP() << "no ffmpeg and ffprobe";
    const Refusal& r = GetParam();
    QTemporaryDir dir;
    const QString song = dir.filePath(QStringLiteral("song.m4a"));
    QStringList args{QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                     QStringLiteral("sine=d=2")};
    if (*r.video)
        args << QStringLiteral("-f") << QStringLiteral("lavfi") << QStringLiteral("-i")
             << QLatin1String(r.video);
    args << QString::fromLatin1(r.args).split(u' ') << song;
    ASSERT_TRUE(ffmpeg(args));
    if (QLatin1String(r.name) == QLatin1String("HeAac")) {
        // FFmpeg reads the new set-up: its output rate is SBR's.
        ASSERT_TRUE(signalSbr(song));
        ASSERT_TRUE(
            test::runPeer(QStringLiteral("ffprobe"), {QStringLiteral("-v"), QStringLiteral("error"),
                                                      QStringLiteral("-show_entries"),
                                                      QStringLiteral("stream=sample_rate"), song})
                .out.contains("sample_rate=88200"));
    }
    const Status kept = canKeep(song, m4a());
    ASSERT_FALSE(kept.ok());
    EXPECT_EQ(kept.error().step(), int(CopyStep::CannotKeep));
    EXPECT_TRUE(kept.error().cause().contains(QLatin1String(r.words)))
        << kept.error().cause().toStdString();
    const QString clip = dir.filePath(QStringLiteral("clip.m4a"));
    EXPECT_EQ(copyClip(song, 0, 1000, clip, m4a(), ClipTags{}).error().step(),
              int(CopyStep::CannotKeep));
    EXPECT_FALSE(QFile::exists(clip));
}

INSTANTIATE_TEST_SUITE_P(Songs, M4aCopyRefusal,
                         ::testing::Values(Refusal{"Alac", "-c:a alac", "",
                                                   "the song is ALAC, not AAC"},
                                           Refusal{"Ac3", "-c:a ac3", "", "not AAC"},
                                           Refusal{"Video", "-c:v mpeg4 -c:a aac -f mp4 -shortest",
                                                   "testsrc=d=2:s=64x48", "the song is a video"},
                                           Refusal{"HeAac", "-c:a aac", "", "HE-AAC"}),
                         [](const auto& row) { return std::string(row.param.name); });

// A stop asked for leaves nothing behind; marks past the song are a read failure; a clip that
// FFmpeg's reader would lose (shorter than its place in its one packet) is re-encoded.
TEST_F(M4aCopy, StopBadMarksAndTinyClipsLeaveNothing) {
    if (!haveFfmpeg())
        GTEST_SKIP() << "no ffmpeg and ffprobe";
    const QString song = songs->make(QStringLiteral("lc128"));
    ASSERT_FALSE(song.isEmpty());
    const QString clip = songs->dir.filePath(QStringLiteral("stopped.m4a"));
    std::stop_source stop;
    stop.request_stop();
    EXPECT_EQ(
        copyClip(song, 0, 1000, clip, m4a(), ClipTags{}, {stop.get_token(), {}}).error().step(),
        int(CopyStep::Cancel));
    EXPECT_EQ(copyClip(song, 0, 9 * 44100, clip, m4a(), ClipTags{}).error().step(),
              int(CopyStep::Read));
    EXPECT_EQ(
        copyClip(song, 10 * 1024 + 500, 10 * 1024 + 600, clip, m4a(), ClipTags{}).error().step(),
        int(CopyStep::CannotKeep));
    EXPECT_FALSE(QFile::exists(clip));
}

} // namespace
} // namespace quaverly::framecopy

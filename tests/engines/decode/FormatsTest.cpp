// The song reader over the formats besides MP3 and WAV: files made here from a sound built in code
// by the usual tools (each row skips when its tool is missing), the mix-down of 5.1, bad input
// refused with words and nothing written, and the third-party files of tests/data/formats.
// Lossless files must give the source's samples; lossy ones the very samples of the decoding
// library's own tool: `oggdec` for Ogg Vorbis (libvorbis), `ffmpeg -f s16le` for the rest.

#include "DecodeTestUtil.h"
#include "engines/decode/SongDecode.h"
#include "support/TestAudio.h"
#include "support/TestPaths.h"

#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <optional>

using namespace quaverly;
using namespace quaverly::test;
using decode_test::firstDifference;
using decode_test::kLossySlack;
using decode_test::run;
#ifdef Q_OS_UNIX
using decode_test::InChild;
#endif

namespace {

constexpr std::uint32_t kRate = 44100;
constexpr std::size_t kFrames = 44100;

// The decoding library's own tool's 16-bit samples of a file: libvorbis' (oggdec) for an Ogg file
// whose first stream is Vorbis, FFmpeg's of the first sound track for anything else (an Ogg file
// that starts with video, too).
QString referenceTool(const QString& path) {
    const QByteArray head = readFile(path).left(35);
    return head.startsWith("OggS") && head.mid(28) == "\x01vorbis" ? "oggdec" : "ffmpeg";
}
std::vector<std::int16_t> referenceSamples(const QString& tool, const QString& path) {
    const auto pcm =
        tool == "oggdec"
            ? run({"oggdec", "-Q", "-R", "-o", "-", path})
            : run({"ffmpeg", "-v", "error", "-i", path, "-map", "0:a:0", "-f", "s16le", "-"});
    return pcm ? samples16(*pcm, 0) : std::vector<std::int16_t>{};
}

// A staircase that climbs 7 steps a frame and wraps: loud, and every frame its own value.
std::vector<std::int16_t> source(int channels) {
    return staircase(kFrames, channels, 0, 7);
}

// The same as 24-bit samples whose low byte counts too: a reader that rounds shows.
QByteArray wav24(const std::vector<std::int16_t>& s, int channels) {
    QByteArray data;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const int v = s[i] * 256 + int(i % 251);
        data.append(char(v & 0xFF)).append(char((v >> 8) & 0xFF)).append(char((v >> 16) & 0xFF));
    }
    return wavBytes(WavHeader::pcm(std::uint16_t(channels), kRate, 24), data.constData(),
                    std::size_t(data.size()));
}

enum Expect {
    Source,     // lossless: the source's samples (their top 16 bits)
    Reference,  // the library's tool's samples, all of them
    FfmpegHead, // MP4: ffmpeg's first N frames, N the track's stated duration = the source's
};

struct Made {
    const char* name;
    const char* file;    // the made file's name
    const char* command; // IN: the source WAV, OUT: the made file, FF: ffmpeg -v error -y
    int bits;            // of the source WAV: 16 or 24
    int channels;
    SongKind kind;
    const char* what; // codec and container as the reader names them
    Expect expect;
};

std::ostream& operator<<(std::ostream& os, const Made& m) {
    return os << m.name;
}

const Made kMade[] = {
    {"Flac16", "x.flac", "flac -s -o OUT IN", 16, 2, SongKind::Flac, "FLAC in FLAC", Source},
    {"Flac24", "x.flac", "flac -s -o OUT IN", 24, 2, SongKind::Flac, "FLAC in FLAC", Source},
    {"FlacNamedMp3", "x.mp3", "flac -s -o OUT IN", 16, 1, SongKind::Flac, "FLAC in FLAC", Source},
    {"Aiff", "x.aiff", "sox IN OUT", 16, 2, SongKind::Aiff, "PCM 16-bit in AIFF", Source},
    {"Aifc24", "x.aifc", "sox IN OUT", 24, 1, SongKind::Aiff, "PCM 24-bit in AIFF", Source},
    {"Caf", "x.caf", "FF -i IN -f caf OUT", 16, 2, SongKind::Caf, "PCM 16-bit in CAF", Source},
    {"W64", "x.w64", "sox IN OUT", 16, 2, SongKind::Wave64, "PCM 16-bit in Wave64", Source},
    {"Rf64", "x.wav", "FF -i IN -c:a pcm_s24le -rf64 always OUT", 24, 2, SongKind::Rf64,
     "PCM 24-bit in RF64", Source},
    {"AlacM4a", "x.m4a", "FF -i IN -c:a alac OUT", 24, 2, SongKind::Alac, "ALAC in MP4", Source},
    {"AacM4a", "x.m4a", "FF -i IN -c:a aac OUT", 16, 2, SongKind::Aac, "AAC in MP4", FfmpegHead},
    {"Adts", "x.aac", "FF -i IN -c:a aac OUT", 16, 2, SongKind::Aac, "AAC in ADTS", Reference},
    {"Vorbis", "x.ogg", "oggenc -Q -o OUT IN", 16, 2, SongKind::Vorbis, "Vorbis in Ogg", Reference},
    // Opus decodes at 48 kHz whatever the source's rate.
    {"Opus", "x.opus", "opusenc --quiet IN OUT", 16, 1, SongKind::Opus, "Opus in Ogg", Reference},
    {"Wma", "x.wma", "FF -i IN -c:a wmav2 OUT", 16, 2, SongKind::Other,
     "Windows Media Audio 2 in ASF", Reference},
    {"Matroska", "x.mka", "FF -i IN OUT", 16, 2, SongKind::Vorbis, "Vorbis in Matroska", Reference},
    {"Video", "x.mp4", "FF -f lavfi -i testsrc=size=64x48:rate=10 -i IN -c:v mpeg4 -shortest OUT",
     16, 2, SongKind::Aac, "AAC in MP4", FfmpegHead},
};

class MadeFormat : public ::testing::TestWithParam<Made> {
protected:
    QTemporaryDir dir;
};

TEST_P(MadeFormat, DecodesAsTheReferenceDoes) {
    const Made& m = GetParam();
    QStringList command = QString::fromLatin1(m.command).split(' ');
    if (command[0] == "FF")
        command = QStringList{"ffmpeg", "-v", "error", "-y"} + command.mid(1);
    if (!havePeer(command[0]))
        GTEST_SKIP() << command[0].toStdString() << " is missing";
    const QString in = dir.filePath("source.wav"), made = dir.filePath(m.file),
                  out = dir.filePath("out.wav");
    const auto samples = source(m.channels);
    ASSERT_TRUE(m.bits == 24 ? writeFile(in, wav24(samples, m.channels))
                             : writeWav16(in, m.channels, kRate, samples));
    command.replaceInStrings(QRegularExpression("^IN$"), in);
    command.replaceInStrings(QRegularExpression("^OUT$"), made);
    ASSERT_TRUE(run(command));

    auto song = SongReader::open(made);
    ASSERT_TRUE(song) << song.error().text().toStdString();
    const SongFormat& f = song->format();
    EXPECT_EQ(f.kind, m.kind);
    EXPECT_EQ(f.codec + " in " + f.container, QLatin1String(m.what));
    const std::uint32_t rate = m.kind == SongKind::Opus ? 48000 : kRate;
    EXPECT_EQ(f.rate, rate);
    EXPECT_EQ(f.channels, m.channels);
    const std::uint64_t announced = song->frames();
    const auto wav = decodeSong(*song, out);
    ASSERT_TRUE(wav) << wav.error().text().toStdString();
    EXPECT_EQ(wav->sampleRate, rate);
    const auto got = samples16(readFile(out));

    if (m.expect == Source) {
        ASSERT_EQ(got.size(), samples.size());
        EXPECT_EQ(firstDifference(got, samples), -1); // a 24-bit source: its top 16 bits
        return;
    }
    const QString tool = referenceTool(made);
    if (!havePeer(tool))
        GTEST_SKIP() << tool.toStdString() << " is missing";
    auto ref = referenceSamples(tool, made);
    if (m.expect == FfmpegHead) {
        // The track ends at its stated duration, before ffmpeg's padding: the source's length.
        EXPECT_EQ(announced, kFrames);
        EXPECT_EQ(song->frames(), announced);
        ASSERT_LE(got.size(), ref.size());
        ref.resize(got.size());
    }
    ASSERT_EQ(got.size(), ref.size());
    EXPECT_EQ(firstDifference(got, ref, kLossySlack), -1);
}

INSTANTIATE_TEST_SUITE_P(Formats, MadeFormat, ::testing::ValuesIn(kMade),
                         [](const auto& p) { return std::string(p.param.name); });

// 5.1 in the usual order (FL FR FC LFE BL BR) with a level of its own in each channel: stereo,
// each side its front, the centre and its surround at -3 dB, the LFE left out, scaled so that
// nothing can clip.
TEST(Downmix, FivePointOneBecomesStereo) {
    QTemporaryDir dir;
    const int level[6] = {1000, -2000, 3000, 8000, -4000, 5000};
    std::vector<std::int16_t> s(4410 * 6);
    for (std::size_t i = 0; i < s.size(); ++i)
        s[i] = std::int16_t(level[i % 6]);
    const QString wav = dir.filePath("six.wav"), flac = dir.filePath("six.flac");
    ASSERT_TRUE(writeWav16(wav, 6, kRate, s));
    QStringList songs{wav};
    if (havePeer("flac") && run({"flac", "-s", "--channel-map=none", "-o", flac, wav}))
        songs << flac;
    const double k = std::numbers::sqrt2 / 2, scale = 1 + 2 * k;
    const double left = (level[0] + k * level[2] + k * level[4]) / scale;
    const double right = (level[1] + k * level[2] + k * level[5]) / scale;
    for (const QString& song : songs) {
        const QString out = dir.filePath("out.wav");
        const auto r = decodeSong(song, out);
        ASSERT_TRUE(r) << r.error().text().toStdString();
        EXPECT_EQ(r->channels, 2);
        const auto got = samples16(readFile(out));
        ASSERT_EQ(got.size(), 4410u * 2) << song.toStdString();
        for (std::size_t i = 0; i < got.size(); i += 2) {
            ASSERT_NEAR(got[i], left, 1) << song.toStdString() << " frame " << i / 2;
            ASSERT_NEAR(got[i + 1], right, 1) << song.toStdString() << " frame " << i / 2;
        }
    }
}

// Files that give no sound: each is refused in words naming it, and the target stays as it was.
struct Bad {
    const char* name;
    const char* file;
    const char* cause; // the words we give; nullptr: any (the library's, how far it came)
    int code;
    bool byFfmpeg;
};
const Bad kBad[] = {
    {"CopyProtected", "drm.m4a", "is copy-protected and cannot be read", sound::kFileForm, true},
    {"VideoOnly", "silent.mp4", "holds no audio", sound::kFileForm, true},
    {"CutInHalf", "half.mp4", nullptr, sound::kNotAvail, true},
    {"Empty", "empty.flac", "empty file", sound::kFileForm, false},
    {"TextAsFlac", "text.flac", nullptr, sound::kFileForm, false},
    {"TextAsM4a", "text.m4a", nullptr, sound::kFileForm, false},
};

std::ostream& operator<<(std::ostream& os, const Bad& b) {
    return os << b.name;
}

class BadInput : public ::testing::TestWithParam<Bad> {
protected:
    QTemporaryDir dir;
    bool make(const Bad& b, const QString& path) {
        const QString wav = dir.filePath("source.wav");
        if (!writeWav16(wav, 2, kRate, source(2)))
            return false;
        const std::string name = b.name;
        if (name == "Empty")
            return writeFile(path, {});
        if (name.rfind("Text", 0) == 0)
            return writeFile(path, "These are words, not a song.\n");
        const QStringList ff{"ffmpeg", "-v", "error", "-y"};
        if (name == "VideoOnly")
            return bool(run(ff + QStringList{"-f", "lavfi", "-i", "testsrc=size=64x48:rate=10",
                                             "-t", "1", "-c:v", "mpeg4", path}));
        const QString m4a = dir.filePath("made.mp4");
        if (!run(ff + QStringList{"-i", wav, "-c:a", "aac", "-movflags", "+faststart", m4a}))
            return false;
        QByteArray bytes = readFile(m4a);
        if (name == "CutInHalf") {
            bytes.truncate(bytes.size() / 2);
        } else {
            const qsizetype entry = bytes.indexOf("mp4a", bytes.indexOf("stsd"));
            EXPECT_GT(entry, 0);
            bytes.replace(entry, 4, "drms");
        }
        return writeFile(path, bytes);
    }
};

TEST_P(BadInput, IsRefusedInWordsAndWritesNothing) {
    const Bad& b = GetParam();
    const QString song = dir.filePath(b.file), out = dir.filePath("out.wav");
    if (b.byFfmpeg && !havePeer("ffmpeg"))
        GTEST_SKIP() << "ffmpeg is missing";
    ASSERT_TRUE(make(b, song));
    for (const bool older : {false, true}) {
        if (older) {
            ASSERT_TRUE(writeFile(out, "an older file"));
        }
        const auto r = decodeSong(song, out);
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error().file(), song);
        EXPECT_EQ(r.error().code(), b.code) << r.error().text().toStdString();
        if (b.cause) {
            EXPECT_EQ(r.error().cause(), QLatin1String(b.cause));
        } else {
            EXPECT_FALSE(r.error().cause().isEmpty());
        }
        if (older) {
            EXPECT_EQ(readFile(out), QByteArray("an older file"));
        } else {
            EXPECT_FALSE(QFile::exists(out));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, BadInput, ::testing::ValuesIn(kBad),
                         [](const auto& p) { return std::string(p.param.name); });

// The third-party files with the frame counts ffmpeg gives (tests/data/formats/README.md), but
// an MP4 ends at its track's stated duration: ac3.m4a and eac3.m4a state 47712 frames, opus.m4a
// 48000, where ffmpeg keeps the codec's padding after them; and Ogg Vorbis ends at its last
// granule position, as oggdec does: 162496 frames, 128 more than ffmpeg gives. 0: refused.
struct Real {
    const char* file;
    std::uint64_t frames;
};
const Real kReal[] = {
    {"64bit.mp4", 0},
    {"ac3.m4a", 47712},
    {"alaw.aifc", 1622},
    {"click.mpc", 3456},
    {"click.wv", 3456},
    {"correctness_gain_silent_output.opus", 371369},
    {"covr-junk.m4a", 162816},
    {"dsd_stereo.wv", 70560},
    {"duplicate_id3v2.aiff", 2936},
    {"eac3.m4a", 47712},
    {"empty-seektable.flac", 0}, // libsndfile loses sync
    {"empty.aiff", 2936},
    {"empty.ogg", 162496},
    {"empty.spx", 163200},
    {"empty_alac.m4a", 163392},
    {"empty_flac.oga", 163392},
    {"empty_vorbis.oga", 162496},
    {"excessive_alloc.aif", 0},
    {"flac.m4a", 48000},
    {"flac96.m4a", 96000},
    {"four_channels.wv", 0},
    {"gnre.m4a", 162816},
    {"has-tags.m4a", 162816},
    {"ilst-is-last.m4a", 0},
    {"infloop.m4a", 0},
    {"infloop.mpc", 0},
    {"infloop.wv", 0},
    {"longloop.ape", 0},
    {"lossless.wma", 156556},
    {"lowercase-fields.ogg", 0},
    {"mac-399.ape", 156556},
    {"mpeg-sync-flac.flac", 223488},
    {"multiple-vc.flac", 162496},
    {"multiplex.ogg", 96000},
    {"no-tags.flac", 162496},
    {"no-tags.m4a", 162816},
    {"noise.aif", 101},
    {"noise_odd.aif", 101},
    {"nonprintable-atom-type.m4a", 51200},
    {"opus.m4a", 48000},
    {"real_example.wma", 0},
    {"segfault.aif", 0},
    {"segfault.mpc", 0},
    {"segfault.oga", 0},
    {"segfault2.mpc", 0},
    {"silence-1.wma", 178176},
    {"silence-44-s.flac", 162496},
    {"sinewave.flac", 156556},
    {"tagged.wv", 156556},
    {"test.ogg", 162496},
    {"zero-length-mdat.m4a", 49152},
    {"zero-sized-padding.flac", 162496},
    {"zerodiv.ape", 0},
    {"zerodiv.mpc", 0},
};

std::ostream& operator<<(std::ostream& os, const Real& r) {
    return os << r.file;
}

class RealFile : public ::testing::TestWithParam<Real> {};

TEST_P(RealFile, DecodesToItsLengthOrIsRefused) {
    const Real& r = GetParam();
    const QString path = quaverly::test::dataPath("/formats/") + r.file;
    ASSERT_TRUE(QFile::exists(path));
#ifdef Q_OS_UNIX
    // In a child first: a crash or a decode that never ends fails here instead of in the suite.
    ASSERT_EQ(decode_test::decodeInChild(path, 30), r.frames ? InChild::Decoded : InChild::Refused);
#endif
    QTemporaryDir dir;
    const QString out = dir.filePath("out.wav");
    auto song = SongReader::open(path);
    const auto wav = song ? decodeSong(*song, out) : Result<WavHeader>(song.error());
    if (!r.frames) {
        ASSERT_FALSE(wav);
        EXPECT_EQ(wav.error().file(), path);
        EXPECT_FALSE(wav.error().cause().isEmpty());
        EXPECT_FALSE(QFile::exists(out));
        return;
    }
    ASSERT_TRUE(wav) << wav.error().text().toStdString();
    EXPECT_EQ(wav->dataSize / wav->blockAlign, r.frames);
    // The samples are the library's tool's, up to the stated end.
    if (const QString tool = referenceTool(path); havePeer(tool)) {
        auto ref = referenceSamples(tool, path);
        ASSERT_GE(ref.size(), r.frames * wav->channels);
        ref.resize(r.frames * wav->channels);
        EXPECT_EQ(firstDifference(samples16(readFile(out)), ref, kLossySlack), -1);
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, RealFile, ::testing::ValuesIn(kReal), [](const auto& p) {
    std::string name = p.param.file;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return name;
});

} // namespace

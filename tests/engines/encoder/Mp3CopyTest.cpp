// MP3 clips that keep the song's frames, through framecopy::copyClip: each clip's decode by the
// song reader, by `mpg123 -s` and by `ffmpeg` holds exactly the song's samples [in, out) as the
// same decoder gives them, and its frames after the tag frame are the song's own bytes. Sources
// are made with lame; the rows skip without lame, mpg123 or ffmpeg.

#include "support/Peers.h"
#include "support/TestPaths.h"

#include "engines/decode/SongReader.h"
#include "engines/encoder/FrameCopy.h"

#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <stop_token>
#include <utility>
#include <vector>

namespace quaverly::test {
namespace {

using Pcm = std::vector<std::int16_t>;

struct Decoded {
    int channels = 0;
    Pcm pcm;
};

bool haveTools() {
    for (const char* tool : {"lame", "mpg123", "ffmpeg"})
        if (!havePeer(QLatin1String(tool)))
            return false;
    return true;
}

// The tool's output; *complaints gets what it said on its error output.
std::optional<QByteArray> run(const QString& tool, const QStringList& args,
                              QByteArray* complaints = nullptr) {
    const PeerRun r = runPeer(tool, args, {120000});
    if (!r.ok())
        return std::nullopt;
    if (complaints)
        *complaints = r.err;
    return r.out;
}

std::optional<Decoded> byReader(const QString& path) {
    auto reader = SongReader::open(path);
    if (!reader)
        return std::nullopt;
    Decoded d;
    d.channels = reader->format().channels;
    d.pcm.resize(reader->frames() * std::size_t(d.channels));
    const auto got = reader->read(d.pcm.data(), reader->frames());
    if (!got || *got != reader->frames())
        return std::nullopt;
    return d;
}

// The tool's 16-bit decode; its channels are the song reader's (mono stays mono in both tools).
std::optional<Decoded> byTool(const QString& tool, const QString& path, int channels,
                              QByteArray* complaints = nullptr) {
    const auto out = tool == QLatin1String("mpg123")
                         ? run(tool, {"-q", "-s", path}, complaints)
                         : run(tool, {"-v", "error", "-i", path, "-f", "s16le", "-"}, complaints);
    if (!out)
        return std::nullopt;
    Decoded d{channels, Pcm(std::size_t(out->size()) / 2)};
    std::memcpy(d.pcm.data(), out->constData(), d.pcm.size() * 2);
    return d;
}

// Noise under a gliding tone, so that the encoder leans on its bit reservoir.
void writeWav(const QString& path, int rate, int channels, double seconds) {
    const std::uint32_t frames = std::uint32_t(rate * seconds);
    const std::uint32_t bytes = frames * std::uint32_t(channels) * 2;
    QByteArray wav(44, 0);
    auto put = [&](int at, std::uint32_t v, int n) {
        for (int i = 0; i < n; ++i)
            wav[at + i] = char((v >> (8 * i)) & 0xFF);
    };
    std::memcpy(wav.data(), "RIFF", 4);
    put(4, 36 + bytes, 4);
    std::memcpy(wav.data() + 8, "WAVEfmt ", 8);
    put(16, 16, 4);
    put(20, 1, 2);
    put(22, std::uint32_t(channels), 2);
    put(24, std::uint32_t(rate), 4);
    put(28, std::uint32_t(rate * channels * 2), 4);
    put(32, std::uint32_t(channels * 2), 2);
    put(34, 16, 2);
    std::memcpy(wav.data() + 36, "data", 4);
    put(40, bytes, 4);
    std::uint32_t seed = 12345;
    double phase = 0;
    for (std::uint32_t i = 0; i < frames; ++i) {
        phase += 2 * 3.14159265 * (200 + 3000.0 * i / frames) / rate;
        for (int c = 0; c < channels; ++c) {
            seed = seed * 1664525u + 1013904223u;
            const double noise = (double(seed >> 8) / double(1u << 24) - 0.5) * 6000;
            const auto v = std::int16_t(8000 * std::sin(phase + c) + noise);
            wav.append(char(v & 0xFF)).append(char((v >> 8) & 0xFF));
        }
    }
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(wav) == wav.size());
}

// Bytes of the Layer III frame whose header is at b.
std::size_t frameSize(const unsigned char* b) {
    static const int kbps1[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    static const int kbps2[] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
    const int version = (b[1] >> 3) & 3; // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
    const int rate = std::array{44100, 48000, 32000, 0}[(b[2] >> 2) & 3] >> (version == 3   ? 0
                                                                             : version == 2 ? 1
                                                                                            : 2);
    const int kbps = (version == 3 ? kbps1 : kbps2)[(b[2] >> 4) % 15];
    return rate ? std::size_t((version == 3 ? 144000 : 72000) * kbps / rate + ((b[2] >> 1) & 1))
                : 0;
}

// The clip's frames after its ID3v2 tag, its tag frame and the frames kept for their main data
// alone (their side information zeroed, so that they decode to silence).
QByteArray clipFrames(const QByteArray& clip) {
    const auto b = reinterpret_cast<const unsigned char*>(clip.constData());
    const std::size_t size = std::size_t(clip.size());
    std::size_t at = 0;
    if (clip.startsWith("ID3") && size >= 10)
        at = 10 + std::size_t(b[6] << 21 | b[7] << 14 | b[8] << 7 | b[9]);
    for (bool tag = true; at + 40 <= size; tag = false) {
        const bool mpeg1 = ((b[at + 1] >> 3) & 3) == 3;
        const bool mono = (b[at + 3] >> 6) == 3;
        const std::size_t side = 4 + ((b[at + 1] & 1) ? 0 : 2);
        const std::size_t sideSize = mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17);
        // All but main_data_begin (9 bits in MPEG-1, 8 in MPEG-2) zero: kept for its bytes.
        const unsigned char* rest = b + at + side + 1;
        if (!tag && ((mpeg1 && (rest[0] & 0x7F)) ||
                     std::any_of(rest + (mpeg1 ? 1 : 0), b + at + side + sideSize,
                                 [](auto v) { return v != 0; })))
            break;
        const std::size_t frame = frameSize(b + at);
        if (frame == 0)
            return {};
        at += frame;
    }
    return clip.mid(qsizetype(at));
}

enum class Expect { Kept, CannotKeep };

// Marks in samples of the song's decode: `in` is inOffset after the boundary of the song's frame
// inFrame (-1: the song's start), `out` outOffset after the boundary outFrames later (-1: the
// song's end).
struct Cut {
    const char* name;
    int inFrame;
    int inOffset;
    int outFrame;
    int outOffset;
};

struct Source {
    const char* name;
    int rate;
    int channels;
    QStringList lame;
    Expect midClip; // a clip away from the song's start
    Expect atStart; // a clip from its first sample
};

const Cut kCuts[] = {
    {"at frame boundaries", 40, 0, 60, 0}, {"one sample off them", 40, 1, 60, -1},
    {"in an odd frame", 41, 7, 60, 0},     {"deep in a frame", 43, 1000, 60, 0},
    {"at the very start", -1, 0, 30, 0},   {"to the very end", 50, 3, -1, 0},
};

const Source kSources[] = {
    {"CBR 128", 44100, 2, {"-b", "128"}, Expect::Kept, Expect::Kept},
    {"CBR 320", 44100, 2, {"-b", "320"}, Expect::Kept, Expect::Kept},
    {"VBR", 44100, 2, {"-V", "2"}, Expect::Kept, Expect::Kept},
    {"MPEG-1 mono", 44100, 1, {"-b", "128", "-m", "m"}, Expect::Kept, Expect::Kept},
    {"MPEG-2 22.05 kHz", 22050, 2, {"-b", "64"}, Expect::Kept, Expect::Kept},
    {"MPEG-2.5 8 kHz", 8000, 1, {"-b", "32"}, Expect::Kept, Expect::Kept},
    // Frames too small for LAME's gapless tag: the song has none, and a decoder's own delay
    // cannot be skipped at its start.
    {"32 kbit/s, deep reservoir",
     32000,
     2,
     {"-b", "32", "--resample", "32"},
     Expect::CannotKeep,
     Expect::CannotKeep},
};

framecopy::ClipOutput mp3Output() {
    framecopy::ClipOutput o;
    o.kind = &formats::info(formats::Format::Mp3);
    return o;
}

// Cuts `song` at [in, out) and checks the clip against each decoder's decode of the song.
void checkClip(const QString& song, const QString& clip, std::uint64_t in, std::uint64_t out,
               std::optional<Expect> expect, const std::map<QString, Decoded>& whole) {
    const Status copied = framecopy::copyClip(song, in, out, clip, mp3Output(), {});
    if (!copied) {
        EXPECT_EQ(copied.error().step(), int(framecopy::CopyStep::CannotKeep))
            << copied.error().text().toStdString();
        EXPECT_FALSE(copied.error().cause().isEmpty());
        if (expect) {
            EXPECT_EQ(*expect, Expect::CannotKeep) << copied.error().text().toStdString();
        } else {
            std::printf("  %s [%llu, %llu): %s\n", qPrintable(song), (unsigned long long)in,
                        (unsigned long long)out, qPrintable(copied.error().cause()));
        }
        return;
    }
    if (expect) {
        EXPECT_EQ(*expect, Expect::Kept);
    }
    QFile s(song), c(clip);
    ASSERT_TRUE(s.open(QIODevice::ReadOnly) && c.open(QIODevice::ReadOnly));
    const QByteArray clipBytes = c.readAll();
    const QByteArray frames = clipFrames(clipBytes);
    const bool mpeg2 = frames.size() > 1 && ((frames[1] >> 3) & 3) != 3;
    EXPECT_FALSE(frames.isEmpty());
    EXPECT_GE(s.readAll().indexOf(frames), 0) << "the kept frames are not the song's bytes";
    for (const auto& [tool, songPcm] : whole) {
        const auto d =
            tool == QLatin1String("reader") ? byReader(clip) : byTool(tool, clip, songPcm.channels);
        ASSERT_TRUE(d) << qPrintable(tool);
        const std::size_t ch = std::size_t(songPcm.channels);
        ASSERT_EQ(d->pcm.size() / ch, out - in) << qPrintable(tool);
        const Pcm want(songPcm.pcm.begin() + std::ptrdiff_t(in * ch),
                       songPcm.pcm.begin() + std::ptrdiff_t(out * ch));
        std::size_t differ = 0, most = 0;
        for (std::size_t i = 0; i < want.size(); ++i)
            if (want[i] != d->pcm[i]) {
                ++differ;
                most = std::max<std::size_t>(most, std::size_t(std::abs(want[i] - d->pcm[i])));
            }
        // libmpg123 rounds mono and MPEG-2 sound by the state of its synthesis, which a clip
        // cannot always match (see Mp3Copy.cpp): a rare sample 1 step off. All else is exact.
        const bool rounds = (ch == 1 || mpeg2) && tool != QLatin1String("ffmpeg");
        EXPECT_LE(differ, rounds ? want.size() / 1000 : 0) << qPrintable(tool);
        EXPECT_LE(most, rounds ? 1u : 0u) << qPrintable(tool);
    }
}

std::map<QString, Decoded> decodesOf(const QString& song) {
    std::map<QString, Decoded> d;
    const auto reader = byReader(song);
    if (!reader)
        return d;
    d[QStringLiteral("reader")] = *reader;
    // A damaged song that a tool decodes with complaints (FFmpeg drops a frame with an invalid
    // block type, which shifts all after it) or to another length (FFmpeg decodes a last frame
    // cut short, libmpg123 drops it) is not compared by that tool.
    for (const char* tool : {"mpg123", "ffmpeg"}) {
        QByteArray complaints;
        const auto t = byTool(QLatin1String(tool), song, reader->channels, &complaints);
        if (t && complaints.isEmpty() && t->pcm.size() == reader->pcm.size())
            d[QLatin1String(tool)] = *t;
        else
            std::printf("  %s: %s decodes it with complaints or to another length, not compared\n",
                        qPrintable(song), tool);
    }
    return d;
}

TEST(Mp3Copy, ClipsDecodeToTheSongsOwnSamples) {
    if (!haveTools())
        GTEST_SKIP() << "needs lame, mpg123 and ffmpeg";
    QTemporaryDir dir;
    for (const Source& source : kSources) {
        SCOPED_TRACE(source.name);
        const QString wav = dir.filePath(QStringLiteral("source.wav"));
        const QString song = dir.filePath(QStringLiteral("song%1.mp3").arg(&source - kSources));
        writeWav(wav, source.rate, source.channels, 8);
        ASSERT_TRUE(run("lame", QStringList{"--quiet"} + source.lame + QStringList{wav, song}));
        const auto whole = decodesOf(song);
        ASSERT_EQ(whole.size(), 3u);
        auto reader = SongReader::open(song);
        ASSERT_TRUE(reader);
        // The copy knows the song's length from its frames alone: a clip one sample longer is
        // refused (and one to the end, below, decodes exactly).
        const Status tooLong = framecopy::copyClip(song, 0, reader->frames() + 1,
                                                   dir.filePath("long.mp3"), mp3Output(), {});
        ASSERT_FALSE(tooLong);
        EXPECT_EQ(tooLong.error().step(), int(framecopy::CopyStep::CannotKeep));
        const std::uint64_t lead = reader->format().delay; // the song's raw samples skipped
        const std::uint64_t perFrame = source.rate >= 32000 ? 1152 : 576;
        for (const Cut& cut : kCuts) {
            SCOPED_TRACE(cut.name);
            const std::uint64_t boundary = std::uint64_t(cut.inFrame) * perFrame - lead;
            const std::uint64_t in = cut.inFrame < 0 ? 0 : boundary + cut.inOffset;
            const std::uint64_t out =
                cut.outFrame < 0
                    ? reader->frames()
                    : (cut.inFrame < 0 ? 0 : boundary) + cut.outFrame * perFrame + cut.outOffset;
            const bool mid = cut.inFrame >= 0;
            checkClip(song, dir.filePath("clip.mp3"), in, out,
                      mid ? source.midClip : source.atStart, whole);
        }
    }
}

// The copy tells its progress up to the whole, and a stop leaves nothing behind.
TEST(Mp3Copy, TellsProgressAndStops) {
    if (!haveTools())
        GTEST_SKIP() << "needs lame, mpg123 and ffmpeg";
    QTemporaryDir dir;
    const QString wav = dir.filePath("source.wav"), song = dir.filePath("song.mp3");
    writeWav(wav, 44100, 2, 4);
    ASSERT_TRUE(run("lame", {"--quiet", "-b", "128", wav, song}));
    std::vector<std::pair<std::uint64_t, std::uint64_t>> told;
    WorkProgress work{
        {}, [&](std::uint64_t done, std::uint64_t total) { told.emplace_back(done, total); }};
    const QString clip = dir.filePath("clip.mp3");
    ASSERT_TRUE(framecopy::copyClip(song, 44100, 3 * 44100, clip, mp3Output(), {}, work));
    ASSERT_FALSE(told.empty());
    EXPECT_EQ(told.back().first, told.back().second);

    std::stop_source stop;
    stop.request_stop();
    QFile::remove(clip);
    const Status stopped =
        framecopy::copyClip(song, 44100, 3 * 44100, clip, mp3Output(), {}, {stop.get_token(), {}});
    ASSERT_FALSE(stopped);
    EXPECT_EQ(stopped.error().step(), int(framecopy::CopyStep::Cancel));
    EXPECT_FALSE(QFile::exists(clip));
}

// Songs whose frames are never kept, and the words that say why.
TEST(Mp3Copy, RefusesWhatItCannotKeep) {
    const struct {
        const char* song;
        const char* why;
    } rows[] = {
        {"/real/mp3/iso/l3-he_free.bit", "free-format"},
        {"/real/mp3/iso/l2-fl13.bit", "Layer II"},
        {"/real/mp3/iso/l3-he_mode.bit", "mono and stereo"},
    };
    QTemporaryDir dir;
    for (const auto& row : rows) {
        const QString song = dataPath(row.song);
        const Status kept = framecopy::canKeep(song, mp3Output());
        ASSERT_FALSE(kept) << row.song;
        EXPECT_EQ(kept.error().step(), int(framecopy::CopyStep::CannotKeep));
        EXPECT_TRUE(kept.error().cause().contains(QLatin1String(row.why)))
            << kept.error().text().toStdString();
        const Status copied =
            framecopy::copyClip(song, 0, 1152, dir.filePath("clip.mp3"), mp3Output(), {});
        EXPECT_FALSE(copied) << row.song;
        EXPECT_FALSE(QFile::exists(dir.filePath("clip.mp3")));
    }
}

// The real songs of the test data of at least 3 s, cut in their middle third: kept with the same
// equalities, or not kept with a reason (printed).
TEST(Mp3Copy, RealSongs) {
    if (!haveTools())
        GTEST_SKIP() << "needs lame, mpg123 and ffmpeg";
    QTemporaryDir dir;
    QDirIterator it(dataPath("/real/mp3"), {"*.mp3", "*.bit"}, QDir::Files,
                    QDirIterator::Subdirectories);
    int kept = 0, checked = 0;
    while (it.hasNext()) {
        const QString song = it.next();
        auto reader = SongReader::open(song);
        if (!reader || reader->frames() < 3 * reader->format().rate)
            continue;
        SCOPED_TRACE(song.toStdString());
        ++checked;
        const std::uint64_t n = reader->frames();
        const QString clip = dir.filePath(QStringLiteral("clip%1.mp3").arg(checked));
        checkClip(song, clip, n / 3 + 1, 2 * n / 3, std::nullopt, decodesOf(song));
        kept += QFile::exists(clip);
    }
    std::printf("  %d of %d real songs kept their frames\n", kept, checked);
    EXPECT_GT(checked, 0);
}

} // namespace
} // namespace quaverly::test

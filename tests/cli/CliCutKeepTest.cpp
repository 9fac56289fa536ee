// quaverly-cli cut keeping the song's own frames, or saying why not: what it says, and what it
// writes as the song reader reads it back (its kind, its sample width, its length to the frame).
// A kept FLAC or WAV clip is at the song's 24 bits where a re-encoded one is 16-bit; a kept MP3
// clip holds the song's own frame bytes.
#include "cli/CliOutput.h"
#include "engines/decode/SongReader.h"
#include "engines/encoder/FrameCopy.h"
#include "support/Peers.h"
#include "support/TestAudio.h"
#include "support/TestPaths.h"

#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <random>

using namespace quaverly;
using namespace quaverly::test;

namespace {

using Said = CliRun;

// What the song reader makes of a file: its kind, source bits and the frames it decodes.
struct Read {
    SongKind kind = SongKind::Other;
    int bits = -1;
    long long frames = -1;
};

Read readBack(const QString& file) {
    auto song = SongReader::open(file);
    if (!song)
        return {};
    std::vector<std::int16_t> buffer(4096 * std::size_t(song->format().channels));
    long long frames = 0;
    for (;;) {
        const auto got = song->read(buffer.data(), 4096);
        if (!got || *got == 0)
            break;
        frames += static_cast<long long>(*got);
    }
    return {song->format().kind, song->format().sourceBits, frames};
}

class CliCutKeep : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        // Four seconds of noise in all 24 bits, and the 16-bit sound the MP3 is made from.
        std::mt19937 noise(3);
        QByteArray pcm24;
        std::vector<std::int16_t> pcm16;
        for (int i = 0; i < 4 * 44100 * 2; ++i) {
            const std::uint32_t v = noise() >> 10; // 22 bits: no clipping in the encoder
            pcm24.append(char(v & 0xFF)).append(char(v >> 8)).append(char(v >> 16));
            pcm16.push_back(std::int16_t(v >> 8));
        }
        ASSERT_TRUE(writeFile(path("song.wav"), wavBytes(WavHeader::pcm(2, 44100, 24),
                                                         pcm24.constData(), pcm24.size())));
        ASSERT_TRUE(writeWav16(path("s16.wav"), 2, 44100, pcm16));
        ASSERT_EQ(cli({"convert", "s16.wav", "song.mp3", "--bitrate=192"}).code, 0);
        if (havePeer(QStringLiteral("flac"))) {
            ASSERT_TRUE(
                runPeer(QStringLiteral("flac"), {"-s", "-o", path("song.flac"), path("song.wav")})
                    .ok());
        }
    }

    QString path(const QString& name) const { return dir.filePath(name); }

    Said cli(const QStringList& args) const { return runCli(args, dir.path()); }

    QTemporaryDir dir;
};

TEST_F(CliCutKeep, KeepsTheSongsFramesOrSaysWhyNot) {
    const QString kept = framecopy::keptWords() + QLatin1Char('\n');
    const QString fades =
        QStringLiteral("Re-encodes the song's sound: fades or a level change are set\n");
    const struct {
        const char* name;
        QStringList args; // IN OUT options, from 1 s to 2.5 s unless the options say
        int code;
        QString out; // standard output (a normalising's summary aside); for a failure, in err
        SongKind kind;
        int bits;
    } rows[] = {
        {"flac kept", {"song.flac", "c.flac"}, 0, kept, SongKind::Flac, 24},
        {"flac --copy", {"song.flac", "c.flac", "--copy"}, 0, kept, SongKind::Flac, 24},
        {"flac --reencode", {"song.flac", "c.flac", "--reencode"}, 0, {}, SongKind::Flac, 16},
        {"flac with a fade",
         {"song.flac", "c.flac", "--fade-in=100"},
         0,
         fades,
         SongKind::Flac,
         16},
        {"flac to mp3", {"song.flac", "c.mp3"}, 0, {}, SongKind::MpegLayer3, 0},
        {"wav kept", {"song.wav", "c.wav"}, 0, kept, SongKind::Wav, 24},
        {"wav normalised",
         {"song.wav", "c.wav", "--normalize-peak=-1"},
         0,
         fades,
         SongKind::Wav,
         16},
        {"wav --copy with a fade",
         {"song.wav", "c.wav", "--copy", "--fade-out=5"},
         1,
         "song.wav: the song's own sound cannot be kept: fades or a level change are set",
         {},
         0},
        {"wav --copy to flac",
         {"song.wav", "c.flac", "--copy"},
         1,
         "song.wav: the song's own sound cannot be kept: the song is",
         {},
         0},
        {"--copy and --reencode",
         {"song.wav", "c.wav", "--copy", "--reencode"},
         2,
         "--copy and --reencode cannot be used together",
         {},
         0},
        {"mp3 kept", {"song.mp3", "c.mp3"}, 0, kept, SongKind::MpegLayer3, 0},
        {"mp3 at a bit rate asked",
         {"song.mp3", "c.mp3", "--bitrate=128"},
         0,
         "Re-encodes the song's sound: --bitrate asks for a new encoding\n",
         SongKind::MpegLayer3,
         0},
    };
    for (const auto& row : rows) {
        const std::string line = row.name;
        if (row.args[0].endsWith(QLatin1String(".flac")) && !QFile::exists(path(row.args[0])))
            continue; // no flac tool to make the song
        const QString out = path(row.args[1]);
        QFile::remove(out);
        const Said r =
            cli(QStringList{"cut"} + row.args + QStringList{"--from=1000", "--to=0:00:02.500"});
        ASSERT_EQ(r.code, row.code) << line << ": " << r.err.toStdString();
        if (row.code != 0) {
            EXPECT_TRUE(r.err.contains(row.out)) << line << ": " << r.err.toStdString();
            EXPECT_FALSE(QFile::exists(out)) << line;
            continue;
        }
        EXPECT_TRUE(r.out.startsWith(row.out)) << line << ": " << r.out.toStdString();
        EXPECT_EQ(r.out.count(QLatin1Char('\n')),
                  row.out.count(QLatin1Char('\n')) + (row.args.contains("--normalize-peak=-1")))
            << line << ": " << r.out.toStdString();
        const Read clip = readBack(out);
        EXPECT_EQ(clip.kind, row.kind) << line;
        EXPECT_EQ(clip.bits, row.bits) << line;
        EXPECT_EQ(clip.frames, 66150) << line; // 1.5 s at 44.1 kHz, gapless
        if (row.kind == SongKind::MpegLayer3 && row.out == kept) {
            // The song's own frames: a stretch from the clip's middle lies in the song as it is.
            const QByteArray bytes = readFile(out);
            EXPECT_TRUE(readFile(path("song.mp3")).contains(bytes.mid(bytes.size() / 2, 2048)))
                << line;
        }
    }
}

// Marks whose milliseconds fall between frames: the kept clip is the very clip the cut from a
// decoded copy makes, byte for byte (5 ms is 220.5 frames at 44.1 kHz).
TEST_F(CliCutKeep, KeepingAndReencodingPlaceTheMarksOnTheSameFrames) {
    for (const QString& to : {QStringLiteral("--to=10"), QStringLiteral("--to=2345")}) {
        ASSERT_EQ(cli({"cut", "s16.wav", "kept.wav", "--from=5", to}).code, 0);
        ASSERT_EQ(cli({"cut", "s16.wav", "made.wav", "--from=5", to, "--reencode"}).code, 0);
        EXPECT_EQ(readFile(path("kept.wav")), readFile(path("made.wav"))) << to.toStdString();
    }
}

} // namespace

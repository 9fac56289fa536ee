// quaverly-cli writing every format: the codec and container as ffprobe names them, the length
// as the song reader decodes it, the tags as ffprobe reads them back; the presets' limits and the
// options that do not fit a format refused before anything is written.
#include "cli/CliOutput.h"
#include "engines/encoder/Presets.h"
#include "support/Peers.h"
#include "support/QtPrinters.h"
#include "support/TestAudio.h"
#include "support/TestPaths.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace quaverly;
using namespace quaverly::test;

namespace {

using Said = CliRun;

class CliOutputs : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        // One second of a stereo staircase at 44.1 kHz: 48000 frames once Opus has it at 48 kHz.
        ASSERT_TRUE(writeWav16(path("src.wav"), 2, 44100, staircase(44100, 2, -20000)));
    }

    QString path(const QString& name) const { return dir.filePath(name); }

    // Runs the command line in the test's folder, so messages name files as the rows give them.
    Said cli(const QStringList& args) const { return runCli(args, dir.path()); }

    // ffprobe's lines on the first sound stream's codec, the container and every tag of a file
    // of the test's folder, in lower case: "codec_name=opus", "format_name=ogg", "tag:title=bell".
    QStringList probe(const QString& name) const {
        const PeerRun r = runPeer(QStringLiteral("ffprobe"),
                                  {"-v", "error", "-select_streams", "a:0", "-show_entries",
                                   "stream=codec_name:stream_tags:format=format_name:format_tags",
                                   "-of", "default=nw=1", path(name)});
        EXPECT_TRUE(r.finished) << r.failure().toStdString();
        return QString::fromLocal8Bit(r.out).toLower().split(QLatin1Char('\n'));
    }

    // Frames the song reader decodes from a file (gapless, Opus at 48 kHz), as info tells them.
    long long decodedFrames(const QString& file) const {
        const auto m = QRegularExpression(QStringLiteral("\nsamples: (\\d+)\n"))
                           .match(cli({QStringLiteral("info"), file}).out);
        return m.hasMatch() ? m.captured(1).toLongLong() : -1;
    }

    QStringList files() const { return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden); }

    QTemporaryDir dir;
};

TEST_F(CliOutputs, EveryFormatAndPresetIsWrittenWholeAndTagged) {
    const QString mp4 = QStringLiteral("format_name=mov,mp4,m4a,3gp,3g2,mj2");
    const struct {
        QStringList args;   // "src.wav" is the source
        const char* out;    // the file written
        long long frames;   // decoded
        QStringList probed; // lines ffprobe gives, in lower case
    } rows[] = {
        // An MP3 without --title or --preset is the encoder's plain one, untagged (below).
        {{"convert", "src.wav", "plain.mp3"},
         "plain.mp3",
         44100,
         {"codec_name=mp3", "format_name=mp3"}},
        {{"convert", "src.wav", "titled.mp3", "--title=Bell", "--bitrate=320"},
         "titled.mp3",
         44100,
         {"codec_name=mp3", "tag:title=bell"}},
        {{"convert", "src.wav", "phone.mp3", "--preset=mp3-any-phone"},
         "phone.mp3",
         44100,
         {"codec_name=mp3", "tag:title=src"}},
        {{"convert", "src.wav", "a.m4a", "--bitrate=128", "--title=Bell"},
         "a.m4a",
         44100,
         {"codec_name=aac", mp4, "tag:title=bell"}},
        {{"convert", "src.wav", "a.m4r", "--preset=iphone-ringtone"},
         "a.m4r",
         44100,
         {"codec_name=aac", mp4, "tag:title=src", "tag:genre=ringtone"}},
        {{"convert", "src.wav", "a.ogg", "--quality=3"},
         "a.ogg",
         44100,
         {"codec_name=vorbis", "format_name=ogg", "tag:title=src"}},
        {{"convert", "src.wav", "a.oga", "--preset=Android ringtone"},
         "a.oga",
         44100,
         {"codec_name=vorbis", "tag:genre=ringtone", "tag:android_loop=true"}},
        {{"convert", "src.wav", "a.opus", "--bitrate=64"},
         "a.opus",
         48000,
         {"codec_name=opus", "format_name=ogg", "tag:title=src"}},
        {{"convert", "src.wav", "a.flac", "--level=8", "--title=Bell"},
         "a.flac",
         44100,
         {"codec_name=flac", "format_name=flac", "tag:title=bell"}},
        {{"convert", "src.wav", "lossless.flac", "--preset=lossless"},
         "lossless.flac",
         44100,
         {"codec_name=flac", "tag:title=src"}},
        // One lossy format each for the cut, the join and the recorder (at 44.1 kHz).
        {{"cut", "src.wav", "cut.ogg", "--from=250", "--to=750"},
         "cut.ogg",
         22050,
         {"codec_name=vorbis", "tag:title=src"}},
        {{"join", "join.m4a", "src.wav", "src.wav"},
         "join.m4a",
         88200,
         {"codec_name=aac", "tag:title=song list"}},
        {{"record", "take.opus", "--seconds=0.5", "--title=Take"},
         "take.opus",
         24000,
         {"codec_name=opus", "tag:title=take"}},
    };
    for (const auto& row : rows) {
        const std::string line = row.args.join(' ').toStdString();
        const Said r = cli(row.args);
        EXPECT_EQ(r.code, 0) << line << ": " << r.err.toStdString();
        if (r.code != 0)
            continue;
        const QString out = QString::fromUtf8(row.out);
        EXPECT_EQ(decodedFrames(out), row.frames) << line;
        const QStringList probed = probe(out);
        for (const QString& expected : row.probed)
            EXPECT_TRUE(probed.contains(expected)) << line << ": " << expected.toStdString();
    }
    EXPECT_NE(readFile(path("plain.mp3")).left(3), QByteArray("ID3"));
    // Nothing else is left beside the source and the results.
    EXPECT_EQ(files().size(), qsizetype(std::size(rows)) + 1) << files().join(' ').toStdString();
}

TEST_F(CliOutputs, AClipLongerThanItsPresetTakesIsRefusedAndNothingIsWritten) {
    // 45 s, small: 8 kHz mono.
    ASSERT_TRUE(writeWav16(path("long.wav"), 1, 8000, staircase(45 * 8000, 1)));
    const struct {
        QStringList args;
        const char* says;
    } rows[] = {
        {{"convert", "long.wav", "out.m4r", "--preset=iphone-ringtone"},
         "out.m4r: The preset \"iPhone ringtone\" takes clips of at most 40 seconds; this one is "
         "45.0 seconds long."},
        {{"cut", "long.wav", "out.ogg", "--from=0", "--to=10500", "--preset=android-notification"},
         "out.ogg: The preset \"Android notification\" takes clips of at most 10 seconds; this "
         "one is 10.5 seconds long."},
        {{"join", "out.m4r", "long.wav", "src.wav", "--preset=iphone-text-tone"},
         "at most 30 seconds; this one is 46.0 seconds long."},
        {{"record", "out.ogg", "--seconds=12", "--preset=Android notification"},
         "at most 10 seconds; this one is 12.0 seconds long."},
    };
    ASSERT_TRUE(writeFile(path("out.m4r"), "earlier"));
    for (const auto& row : rows) {
        const Said r = cli(row.args);
        EXPECT_EQ(r.code, 1) << row.args.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains(QString::fromUtf8(row.says))) << r.err.toStdString();
    }
    EXPECT_EQ(readFile(path("out.m4r")), QByteArray("earlier"));
    EXPECT_EQ(files(), (QStringList{"long.wav", "out.m4r", "src.wav"}));
}

TEST_F(CliOutputs, OptionsThatDoNotFitTheFormatAreUsageErrors) {
    const struct {
        QStringList args;
        const char* says;
    } rows[] = {
        {{"convert", "src.wav", "o.ogg", "--bitrate=128"},
         "--bitrate applies to MP3, M4A (AAC), M4R ringtone (AAC) and Opus only"},
        {{"convert", "src.wav", "o.mp3", "--quality=5"}, "--quality applies to Ogg Vorbis only"},
        {{"cut", "src.wav", "o.ogg", "--from=0", "--to=500", "--level=5"},
         "--level applies to FLAC only"},
        {{"convert", "src.wav", "o.flac", "--level=9"},
         "--level 9: FLAC takes a compression level of 0 to 8"},
        {{"join", "o.opus", "src.wav", "--bitrate=300"},
         "--bitrate 300: Opus takes 6 to 256 kbit/s"},
        {{"convert", "src.wav", "o.oga", "--quality=high"},
         "--quality high: Ogg Vorbis takes a quality of 0 to 10"},
        {{"convert", "src.wav", "o.mp3", "--bitrate=192k"},
         "--bitrate must be 56, 96, 128, 192, 256 or 320 for an MP3"},
        {{"convert", "src.wav", "o.wav", "--title=x"}, "--title: a WAV file carries no tags"},
        {{"record", "o.mp3", "--seconds=1", "--preset=iphone-ringtone"},
         "the preset \"iPhone ringtone\" writes M4R ringtone (AAC): o.mp3 must end in .m4r"},
        {{"convert", "src.wav", "o.wav", "--preset=android-ringtone"},
         "the preset \"Android ringtone\" writes Ogg Vorbis: o.wav must end in .ogg or .oga"},
        {{"convert", "src.wav", "o.ogg", "--preset=nonesuch"},
         "no preset 'nonesuch' (quaverly-cli presets lists them)"},
        {{"convert", "src.wav", "o.aiff"},
         "o.aiff: the output must end in .wav, .mp3, .m4a, .m4r, .ogg, .oga, .opus or .flac"},
    };
    for (const auto& row : rows) {
        const Said r = cli(row.args);
        EXPECT_EQ(r.code, 2) << row.args.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains(QStringLiteral("quaverly-cli: ") + QString::fromUtf8(row.says)))
            << r.err.toStdString();
    }
    EXPECT_EQ(files(), QStringList{"src.wav"});
}

TEST_F(CliOutputs, PresetsListsEveryPresetOneALine) {
    QString expected;
    for (const encode::Preset& p : encode::presets())
        expected += QStringLiteral("%1\t%2\t%3\n")
                        .arg(QLatin1String(p.id), QLatin1String(p.name), QString::fromUtf8(p.note));
    const Said r = cli({QStringLiteral("presets")});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, expected);
    EXPECT_TRUE(cli({}).err.contains(QLatin1String("quaverly-cli presets\n")));
}

} // namespace

// End-to-end tests of quaverly-cli: the real binary, checked with the usual tools.
#include "cli/Cli.h"
#include "cli/CliOutput.h"
#include "engines/audio/VirtualBackend.h"
#include "support/Peers.h"
#include "support/TestAudio.h"
#include "support/TestPaths.h"

#include <QDir>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>

using namespace quaverly;
using namespace quaverly::test;

namespace {

using Run = quaverly::test::CliRun;

// Runs the binary, in the test's environment (the virtual sound device) with `env` on top.
Run cli(const QStringList& args, const QMap<QString, QString>& env = {}) {
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    for (auto it = env.begin(); it != env.end(); ++it)
        e.insert(it.key(), it.value());
    return quaverly::test::runCli(args, {}, e, 120000);
}

Run tool(const QString& program, const QStringList& args) {
    const PeerRun r = runPeer(program, args);
    EXPECT_TRUE(r.started && r.finished) << r.failure().toStdString();
    return {r.exitCode, QString::fromLocal8Bit(r.out), QString::fromLocal8Bit(r.err)};
}

QString realFile(const char* rel) {
    return quaverly::test::dataPath("/real/") + QString::fromUtf8(rel);
}

// Frames of a WAV file as sox reads it.
long long soxSamples(const QString& wav) {
    const auto r = tool(QStringLiteral("soxi"), {QStringLiteral("-s"), wav});
    return r.code == 0 ? r.out.trimmed().toLongLong() : -1;
}

// Frames that mpg123 decodes from an MP3 file (gapless, as any player does).
long long mpg123Frames(const QString& mp3, const QString& scratch) {
    const auto r =
        tool(QStringLiteral("mpg123"), {QStringLiteral("-q"), QStringLiteral("-w"), scratch, mp3});
    return r.code == 0 ? soxSamples(scratch) : -1;
}

std::vector<std::int16_t> sine(std::size_t frames, int channels, double hz, std::uint32_t rate) {
    std::vector<std::int16_t> s(frames * std::size_t(channels));
    for (std::size_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            s[i * std::size_t(channels) + std::size_t(c)] =
                std::int16_t(8000 * std::sin(2 * std::numbers::pi * hz * double(i) / rate));
    return s;
}

class Cli : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path(const QString& name) const { return dir.filePath(name); }
};

TEST(CliTime, ParsesMillisecondsAndClockTimes) {
    const struct {
        const char* text;
        long long ms;
    } cases[] = {{"0", 0},
                 {"1500", 1500},
                 {"1:02", 62000},
                 {"1:02.5", 62500},
                 {"0:01:02.500", 62500},
                 {"1:00:00", 3600000},
                 {"2.25", 2250},
                 {"1:60", -1},
                 {"1:99:00", -1},
                 {"-5", -1},
                 {"abc", -1},
                 {"", -1},
                 {"1.2.3", -1},
                 {"1:2:3:4", -1}};
    for (const auto& c : cases)
        EXPECT_EQ(cli::parseTime(QString::fromUtf8(c.text)), c.ms) << c.text;
}

TEST_F(Cli, UsageErrorsExitWithTwoAndHelpWithZero) {
    EXPECT_EQ(cli({}).code, 2);
    EXPECT_EQ(cli({QStringLiteral("frobnicate")}).code, 2);
    EXPECT_EQ(cli({QStringLiteral("convert"), QStringLiteral("only-one")}).code, 2);
    EXPECT_EQ(cli({QStringLiteral("convert"), QStringLiteral("a.mp3"), QStringLiteral("b.wav"),
                   QStringLiteral("--bitrate"), QStringLiteral("300")})
                  .code,
              2);
    EXPECT_EQ(
        cli({QStringLiteral("join"), QStringLiteral("out.aiff"), QStringLiteral("a.wav")}).code, 2);
    for (const char* c : {"convert", "join", "cut", "info", "inputs", "record"}) {
        const auto r = cli({QString::fromUtf8(c), QStringLiteral("--help")});
        EXPECT_EQ(r.code, 0) << c;
        EXPECT_TRUE(r.out.contains(QStringLiteral("usage: quaverly-cli ") + QString::fromUtf8(c)));
    }
    const auto version = cli({QStringLiteral("--version")});
    EXPECT_EQ(version.code, 0);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^quaverly-cli \\d+\\.\\d+\\.\\d+\n$"))
                    .match(version.out)
                    .hasMatch())
        << version.out.toStdString();
}

// The program's help and every command's, as the program lists its commands, fit 80 columns; a
// usage breaks between its parts, never inside a bracketed one.
TEST_F(Cli, EveryHelpLineFitsEightyColumns) {
    QStringList asks{QStringLiteral("--help")};
    for (const QString& line : cli(asks).out.split(u'\n'))
        if (line.startsWith(QLatin1String("  quaverly-cli ")))
            asks << line.mid(15).section(u' ', 0, 0) + QStringLiteral(" --help");
    EXPECT_EQ(asks.size(), 8);
    for (const QString& ask : asks) {
        const auto help = cli(ask.split(u' '));
        EXPECT_EQ(help.code, 0) << qPrintable(ask);
        for (const QString& line : help.out.split(u'\n'))
            EXPECT_LE(line.size(), 80) << qPrintable(ask) << ": " << qPrintable(line);
        if (ask.startsWith(QLatin1String("cut "))) {
            EXPECT_TRUE(help.out.contains(QLatin1String(
                "\n                        [--normalize-peak DBFS | --normalize-loudness LUFS]")))
                << qPrintable(help.out);
        }
    }
}

// How the options reach a command: every row stops before any file is read or written. `says` is
// looked for on standard output when the code is 0, else on standard error.
TEST_F(Cli, OptionsBelongToTheirCommandInEveryForm) {
    const struct {
        QStringList args;
        int code;
        const char* says;
    } cases[] = {
        // The value reaches the command however it is given.
        {{"convert", "a.wav", "b.mp3", "--bitrate", "300"}, 2, "--bitrate must be"},
        {{"convert", "a.wav", "b.mp3", "--bitrate=300"}, 2, "--bitrate must be"},
        {{"convert", "a.wav", "b.mp3", "-bitrate", "300"}, 2, "--bitrate must be"},
        {{"cut", "a.wav", "c.wav", "--from", "-5", "--to", "100"}, 2, "a time is milliseconds"},
        {{"cut", "a.wav", "c.wav", "--from=0", "--to=100", "--fade-out", "x"},
         2,
         "--fade-out is milliseconds"},
        {{"cut", "a.wav", "c.wav", "--from=0", "--to=100", "--normalize-peak", "-1",
          "--normalize-loudness=-14"},
         2,
         "cannot be used together"},
        {{"cut", "a.wav", "c.wav", "--from=0", "--to=100", "--normalize-peak=3"},
         2,
         "--normalize-peak must be"},
        {{"cut", "a.wav", "c.wav", "--from=0", "--to=100", "--normalize-loudness", "-90"},
         2,
         "--normalize-loudness must be"},
        // Unknown here, incomplete, or another command's: named as typed.
        {{"convert", "a.wav", "b.wav", "--from", "5"},
         2,
         "convert: unknown or incomplete option '--from'"},
        {{"info", "--bitrate=96", "a.wav"}, 2, "info: unknown or incomplete option '--bitrate=96'"},
        {{"convert", "a.wav", "b.mp3", "--bitrate"}, 2, "unknown or incomplete option '--bitrate'"},
        {{"convert", "a.wav", "b.wav", "-frob"}, 2, "unknown or incomplete option '-frob'"},
        // "--" ends the options; help per command.
        {{"convert", "--", "-x.wav", "b.wav"}, 1, "-x.wav: no such file"},
        {{"cut", "-h"}, 0, "usage: quaverly-cli cut IN OUT"},
    };
    for (const auto& c : cases) {
        const auto r = cli(c.args);
        EXPECT_EQ(r.code, c.code) << c.args.join(' ').toStdString();
        EXPECT_TRUE((c.code == 0 ? r.out : r.err).contains(QString::fromUtf8(c.says)))
            << c.args.join(' ').toStdString() << ": " << r.err.toStdString();
    }
}

TEST_F(Cli, ConvertsAnMp3ToAWavThatPeersRead) {
    const auto r = cli({QStringLiteral("convert"), realFile("mp3/edge/cbr.mp3"), path("out.wav")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_EQ(soxSamples(path("out.wav")), 19584);
    const auto probe =
        tool(QStringLiteral("ffprobe"),
             {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
              QStringLiteral("stream=codec_name,channels,sample_rate"), QStringLiteral("-of"),
              QStringLiteral("csv=p=0"), path("out.wav")});
    EXPECT_EQ(probe.out.trimmed(), QStringLiteral("pcm_s16le,44100,2"));
}

TEST_F(Cli, ConvertsAWavToAnMp3AtTheBitRate) {
    ASSERT_TRUE(writeWav16(path("tone.wav"), 2, 44100, sine(44100, 2, 440, 44100)));
    const auto r = cli({QStringLiteral("convert"), path("tone.wav"), path("tone.mp3"),
                        QStringLiteral("--bitrate"), QStringLiteral("96")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(mpg123Frames(path("tone.mp3"), path("back.wav")), 44100);
    const auto probe =
        tool(QStringLiteral("ffprobe"),
             {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
              QStringLiteral("stream=bit_rate"), QStringLiteral("-of"),
              QStringLiteral("default=nw=1:nk=1"), path("tone.mp3")});
    EXPECT_EQ(probe.out.trimmed(), QStringLiteral("96000"));
}

TEST_F(Cli, JoinsInOrderWithExactBoundaries) {
    ASSERT_TRUE(writeWav16(path("a.wav"), 1, 8000, staircase(1000, 1, 0)));
    ASSERT_TRUE(writeWav16(path("b.wav"), 1, 8000, staircase(500, 1, 10000)));
    const auto r =
        cli({QStringLiteral("join"), path("ab.wav"), path("a.wav"), path("b.wav"), path("a.wav")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    const auto s = samples16(readFile(path("ab.wav")));
    ASSERT_EQ(s.size(), 2500u);
    EXPECT_EQ(s[999], 999);
    EXPECT_EQ(s[1000], 10000);
    EXPECT_EQ(s[1499], 10499);
    EXPECT_EQ(s[1500], 0);
    EXPECT_EQ(soxSamples(path("ab.wav")), 2500);
}

TEST_F(Cli, JoinsAnMp3AndAWavIntoAnMp3) {
    ASSERT_TRUE(writeWav16(path("a.wav"), 2, 44100, sine(22050, 2, 440, 44100)));
    const auto r = cli({QStringLiteral("join"), path("mix.mp3"), path("a.wav"),
                        realFile("mp3/edge/cbr.mp3"), QStringLiteral("--bitrate=128")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(mpg123Frames(path("mix.mp3"), path("back.wav")), 22050 + 19584);
}

TEST_F(Cli, CutsTheMarkedStretchExactly) {
    ASSERT_TRUE(writeWav16(path("song.wav"), 2, 8000, staircase(80000, 2)));
    const QByteArray before = readFile(path("song.wav"));
    auto r =
        cli({QStringLiteral("cut"), path("song.wav"), path("clip.wav"), QStringLiteral("--from"),
             QStringLiteral("0:00:02.000"), QStringLiteral("--to"), QStringLiteral("5000")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    auto s = samples16(readFile(path("clip.wav")));
    ASSERT_EQ(s.size(), 2u * 24000);
    EXPECT_EQ(s[0], 16000);
    EXPECT_EQ(s[1], 17000);
    EXPECT_EQ(s[s.size() - 2], std::int16_t(39999));
    EXPECT_EQ(readFile(path("song.wav")), before);
    EXPECT_EQ(soxSamples(path("clip.wav")), 24000);

    // An MP3 is cut from its decoded sound, as from a song's working copy.
    r = cli({QStringLiteral("cut"), realFile("mp3/edge/cbr.mp3"), path("mp3clip.wav"),
             QStringLiteral("--from=100"), QStringLiteral("--to=200")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(soxSamples(path("mp3clip.wav")), 4410);
}

TEST_F(Cli, CutsWithFadesAndNormalising) {
    ASSERT_TRUE(writeWav16(path("song.wav"), 2, 8000, staircase(80000, 2)));
    auto r = cli({QStringLiteral("cut"), path("song.wav"), path("clip.wav"),
                  QStringLiteral("--from=2000"), QStringLiteral("--to=5000"),
                  QStringLiteral("--fade-in=100"), QStringLiteral("--fade-out=0:00:00.100"),
                  QStringLiteral("--normalize-peak=-6")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.startsWith(QStringLiteral("Re-encodes the song's sound: fades or a level "
                                                "change are set\nPeak normalised to -6.0 dBFS")))
        << r.out.toStdString();
    const auto s = samples16(readFile(path("clip.wav")));
    ASSERT_EQ(s.size(), 2u * 24000);
    for (const std::size_t end : {std::size_t(0), std::size_t(1), s.size() - 2, s.size() - 1})
        EXPECT_EQ(s[end], 0) << end; // faded from and to silence
    int largest = 0;
    for (const int v : s)
        largest = std::max(largest, std::abs(v));
    EXPECT_EQ(largest, 16422); // -6 dBFS
    EXPECT_EQ(soxSamples(path("clip.wav")), 24000);
}

TEST_F(Cli, BadCutTimesAreUsageErrorsAndWriteNothing) {
    ASSERT_TRUE(writeWav16(path("song.wav"), 1, 8000, staircase(8000, 1)));
    const QStringList bad[] = {
        {QStringLiteral("--from"), QStringLiteral("500"), QStringLiteral("--to"),
         QStringLiteral("500")},
        {QStringLiteral("--from"), QStringLiteral("900"), QStringLiteral("--to"),
         QStringLiteral("100")},
        {QStringLiteral("--from"), QStringLiteral("x"), QStringLiteral("--to"),
         QStringLiteral("100")},
        {QStringLiteral("--from"), QStringLiteral("0"), QStringLiteral("--to"),
         QStringLiteral("1:70")},
        {QStringLiteral("--from"), QStringLiteral("0"), QStringLiteral("--to"),
         QStringLiteral("1001")},
        {QStringLiteral("--from"), QStringLiteral("0")},
    };
    for (const auto& times : bad) {
        const auto r =
            cli(QStringList{QStringLiteral("cut"), path("song.wav"), path("clip.wav")} + times);
        EXPECT_EQ(r.code, 2) << times.join(' ').toStdString();
    }
    EXPECT_TRUE(
        cli({QStringLiteral("cut"), path("song.wav"), path("clip.wav"), QStringLiteral("--from"),
             QStringLiteral("500"), QStringLiteral("--to"), QStringLiteral("500")})
            .err.contains(QStringLiteral("Time Input Error")));
    EXPECT_FALSE(QFile::exists(path("clip.wav")));
}

TEST_F(Cli, InfoDescribesWavAndMp3Files) {
    ASSERT_TRUE(writeWav16(path("a.wav"), 2, 22050, staircase(2205, 2)));
    auto r = cli({QStringLiteral("info"), path("a.wav")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("duration_ms: 100\n")));
    EXPECT_TRUE(r.out.contains(QStringLiteral("samples: 2205\n")));
    EXPECT_TRUE(r.out.contains(QStringLiteral("data_bytes: 8820\n")));
    EXPECT_TRUE(r.out.contains(QStringLiteral("2 channels, 22050 Hz")));
    r = cli({QStringLiteral("info"), realFile("mp3/edge/cbr.mp3")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("samples: 19584\n")));
    EXPECT_TRUE(r.out.contains(QStringLiteral("duration_ms: 444\n")));
}

TEST_F(Cli, BadInputFailsWithOneAndLeavesNoOutput) {
    ASSERT_TRUE(writeFile(path("text.mp3"), "these are words, not sound"));
    ASSERT_TRUE(writeFile(path("keep.wav"), "earlier"));
    ASSERT_TRUE(writeWav16(path("a.wav"), 1, 8000, staircase(10, 1)));
    QFile unreadable(path("locked.wav"));
    ASSERT_TRUE(writeWav16(path("locked.wav"), 1, 8000, staircase(10, 1)));
    unreadable.setPermissions(QFileDevice::WriteOwner);
    const bool root = QFile(path("locked.wav")).open(QIODevice::ReadOnly);

    const struct {
        QStringList args;
        const char* names;
    } cases[] = {
        {{QStringLiteral("convert"), path("missing.mp3"), path("keep.wav")}, "missing.mp3"},
        {{QStringLiteral("convert"), path("text.mp3"), path("keep.wav")}, "text.mp3"},
        {{QStringLiteral("convert"), path("a.wav"), path("no/such/dir/x.mp3")}, "x.mp3"},
        {{QStringLiteral("convert"), path("text.mp3"), path("new.wav")}, "text.mp3"},
        {{QStringLiteral("join"), path("keep.wav"), path("a.wav"), path("text.mp3")}, "text.mp3"},
        {{QStringLiteral("join"), path("keep.wav"), path("a.wav"), path("gone.wav")}, "gone.wav"},
        {{QStringLiteral("join"), path("no/such/dir/j.wav"), path("a.wav")}, "j.wav"},
        {{QStringLiteral("info"), path("text.mp3")}, "text.mp3"},
    };
    for (const auto& c : cases) {
        const auto r = cli(c.args);
        EXPECT_EQ(r.code, 1) << c.args.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.names))) << r.err.toStdString();
        EXPECT_TRUE(r.out.isEmpty());
    }
    if (!root) {
        const auto r = cli({QStringLiteral("convert"), path("locked.wav"), path("l.mp3")});
        EXPECT_EQ(r.code, 1);
    }
    EXPECT_EQ(readFile(path("keep.wav")), QByteArray("earlier"));
    EXPECT_FALSE(QFile::exists(path("new.wav")));
    const QStringList left = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
    EXPECT_EQ(left.size(), 4) << left.join(' ').toStdString(); // no partial or temporary file
}

// The recording commands run on the virtual sound device, whose inputs carry known signals.
using quaverly::audio::VirtualBackend;

TEST_F(Cli, InputsListsTheDevicesInputsWithTheDefaultOn) {
    const auto r = cli({QStringLiteral("inputs")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, QStringLiteral("0\ton\tMicrophone\t100\tVirtual microphone\n"
                                    "1\toff\tLine-in\t100\tVirtual line-in\n"
                                    "2\toff\tWave/PCM\t100\tMonitor of the virtual output\n"));
}

TEST_F(Cli, RecordsOneSecondFromTheLineInExactly) {
    const auto r = cli({QStringLiteral("record"), path("take.wav"), QStringLiteral("--seconds"),
                        QStringLiteral("1"), QStringLiteral("--input"), QStringLiteral("1")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.isEmpty());
    const QByteArray take = readFile(path("take.wav"));
    ASSERT_EQ(take.size(), 44 + 176400);
    EXPECT_EQ(le32(take, 4), 176436u);
    EXPECT_EQ(le32(take, 40), 176400u);
    const auto s = samples16(take);
    int wrong = 0;
    for (std::size_t f = 0; f < 44100 && wrong < 5; ++f) {
        const int expected = VirtualBackend::lineInSample(f);
        if (s[2 * f] != expected || s[2 * f + 1] != expected) {
            ADD_FAILURE() << "frame " << f << ": " << s[2 * f] << ", " << s[2 * f + 1]
                          << " instead of " << expected;
            ++wrong;
        }
    }
    EXPECT_EQ(soxSamples(path("take.wav")), 44100);
}

TEST_F(Cli, RecordsTheDefaultInputIntoAnMp3AtTheBitRate) {
    const auto r = cli({QStringLiteral("record"), path("take.mp3"), QStringLiteral("--seconds=0.5"),
                        QStringLiteral("--bitrate"), QStringLiteral("96")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(mpg123Frames(path("take.mp3"), path("back.wav")), 22050);
    // The microphone's 1 kHz tone survives the encoding.
    const auto back = samples16(readFile(path("back.wav")));
    int crossings = 0;
    for (std::size_t i = 2; i + 1 < back.size(); i += 2)
        crossings += back[i - 2] < 0 && back[i] >= 0 ? 1 : 0;
    EXPECT_NEAR(crossings, 500, 3);
    const auto probe =
        tool(QStringLiteral("ffprobe"),
             {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
              QStringLiteral("stream=bit_rate"), QStringLiteral("-of"),
              QStringLiteral("default=nw=1:nk=1"), path("take.mp3")});
    EXPECT_EQ(probe.out.trimmed(), QStringLiteral("96000"));
    const QStringList left = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
    EXPECT_EQ(left, (QStringList{QStringLiteral("back.wav"), QStringLiteral("take.mp3")}));
}

TEST_F(Cli, RecordRefusesBadArgumentsAndLeavesTheOutputAlone) {
    ASSERT_TRUE(writeFile(path("keep.wav"), "earlier"));
    const QString keep = path("keep.wav");
    const struct {
        QStringList args;
        int code;
        const char* says;
    } cases[] = {
        {{keep}, 2, "--seconds"},
        {{keep, QStringLiteral("--seconds"), QStringLiteral("0")}, 2, "--seconds"},
        {{keep, QStringLiteral("--seconds"), QStringLiteral("-2")}, 2, "--seconds"},
        {{keep, QStringLiteral("--seconds"), QStringLiteral("1e9")}, 2, "--seconds"},
        {{keep, QStringLiteral("--seconds"), QStringLiteral("nan")}, 2, "--seconds"},
        {{keep, QStringLiteral("--seconds"), QStringLiteral("two")}, 2, "--seconds"},
        {{keep, QStringLiteral("--seconds=1"), QStringLiteral("--input"), QStringLiteral("mic")},
         2,
         "--input"},
        {{keep, QStringLiteral("--seconds=1"), QStringLiteral("--input=-1")}, 2, "--input"},
        {{keep, QStringLiteral("--seconds=1"), QStringLiteral("--bitrate=100")}, 2, "--bitrate"},
        {{path("take.aiff"), QStringLiteral("--seconds=1")}, 2, "take.aiff"},
        {{keep, QStringLiteral("--seconds=1"), QStringLiteral("--input=3")}, 1, "no input 3"},
        {{path("no/such/dir/take.wav"), QStringLiteral("--seconds=0.1")}, 1, "take.wav"},
    };
    for (const auto& c : cases) {
        const auto r = cli(QStringList{QStringLiteral("record")} + c.args);
        EXPECT_EQ(r.code, c.code) << c.args.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.says))) << r.err.toStdString();
        EXPECT_TRUE(r.out.isEmpty());
    }
    EXPECT_EQ(readFile(keep), QByteArray("earlier"));
    const QStringList left = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
    EXPECT_EQ(left, QStringList{QStringLiteral("keep.wav")});
}

TEST_F(Cli, WithoutASoundServerTheRecordingCommandsFailClearly) {
    const QMap<QString, QString> noServer{
        {QStringLiteral("QUAVERLY_AUDIO"), QString()},
        {QStringLiteral("PULSE_SERVER"), QStringLiteral("unix:/nonexistent")}};
    auto r = cli({QStringLiteral("inputs")}, noServer);
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(QLatin1String("unix:/nonexistent"))) << r.err.toStdString();
    EXPECT_TRUE(r.out.isEmpty());
    r = cli({QStringLiteral("record"), path("take.wav"), QStringLiteral("--seconds=1")}, noServer);
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(QLatin1String("take.wav"))) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QLatin1String("unix:/nonexistent"))) << r.err.toStdString();
    EXPECT_FALSE(QFile::exists(path("take.wav")));
}

} // namespace

// The exact lines quaverly-cli prints today for the failures most at risk of changing wording or
// error code (shown only where it tells more than the words), and whole `info` answers. The
// commands run in the folder of their inputs, so every line is what a user sees who names the files
// the same way.
#include "cli/CliOutput.h"
#include "support/QtPrinters.h"
#include "support/TestPaths.h"
#include "support/UnfitSongs.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using Said = quaverly::test::CliRun;

class CliTexts : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(quaverly::test::writeUnfitSongs(dir.path()));
    }

    // Runs the binary in the inputs' folder, on the virtual sound device unless `env` says
    // otherwise.
    Said cli(const QStringList& args, const QProcessEnvironment& env) const {
        return quaverly::test::runCli(args, dir.path(), env);
    }

    QTemporaryDir dir;
};

TEST_F(CliTexts, FailuresSayTodaysWordsAndExitWithOne) {
    const struct {
        const char* name;
        QStringList args;
        const char* err;
    } rows[] = {
        {"text as mp3",
         {"convert", "notes.mp3", "out.wav"},
         "notes.mp3: holds no audio that Quaverly reads"},
        {"empty file", {"convert", "empty.mp3", "out.wav"}, "empty.mp3: empty file"},
        {"text as flac",
         {"convert", "notes.flac", "out.wav"},
         "notes.flac: holds no audio that Quaverly reads"},
        {"info of text", {"info", "notes.txt"}, "notes.txt: holds no audio"},
        {"join text", {"join", "out.wav", "tone.wav", "notes.txt"}, "notes.txt: holds no audio"},
        {"cut undecodable",
         {"cut", "notes.mp3", "out.wav", "--from=0", "--to=50"},
         "notes.mp3: holds no audio that Quaverly reads"},
        // Names its file once, as every line does.
        {"decoding stops early",
         {"convert", "short.mp3", "out.wav"},
         "short.mp3: the sound breaks off at 0:00.419 of 0:01: the data ends there"},
#ifndef Q_OS_WIN // the sound server's own words: Linux's back end
        {"no sound server",
         {"record", "take.wav", "--seconds=1"},
         "take.wav: not recorded: cannot start the recording device: Cannot connect to the sound "
         "server at unix:/nonexistent: Connection refused (error code 3)"},
#endif
    };
    for (const auto& row : rows) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (row.args[0] == QLatin1String("record")) { // with no sound server to reach
            env.remove(QStringLiteral("QUAVERLY_AUDIO"));
            env.insert(QStringLiteral("PULSE_SERVER"), QStringLiteral("unix:/nonexistent"));
        }
        const Said r = cli(row.args, env);
        EXPECT_EQ(r.code, 1) << row.name;
        EXPECT_EQ(r.err, QStringLiteral("quaverly-cli: %1\n").arg(QString::fromUtf8(row.err)))
            << row.name;
        EXPECT_EQ(r.out, QString()) << row.name;
    }
}

// More channels than two are mixed down to stereo, for a WAV and an MP3 alike; a WAV cut of a WAV
// keeps the song's own samples, every channel.
TEST_F(CliTexts, AWavOfMoreChannelsIsMixedDownToStereo) {
    ASSERT_TRUE(quaverly::test::writeWav16(dir.filePath("many.wav"), 20, 8000,
                                           std::vector<std::int16_t>(20 * 800)));
    for (const char* in : {"three.wav", "many.wav"}) {
        for (const QStringList& args :
             {QStringList{"convert", in, "out.wav"}, QStringList{"convert", in, "out.mp3"},
              QStringList{"cut", in, "out.wav", "--from=0", "--to=10"}}) {
            const Said r = cli(args, QProcessEnvironment::systemEnvironment());
            EXPECT_EQ(r.code, 0) << args.join(' ').toStdString() << ": " << r.err.toStdString();
            if (args[2].endsWith(".wav")) {
                const auto layout = quaverly::probeWav(dir.filePath("out.wav"));
                ASSERT_TRUE(layout) << args.join(' ').toStdString();
                EXPECT_EQ(layout->channels, args[0] == "cut" ? (in[0] == 't' ? 3 : 20) : 2);
                EXPECT_EQ(layout->sampleRate, 8000u);
            }
        }
    }
}

TEST_F(CliTexts, InfoTellsEveryLine) {
    ASSERT_TRUE(QFile::copy(quaverly::test::dataPath("/real/mp3/edge/cbr.mp3"),
                            dir.filePath(QStringLiteral("cbr.mp3"))));
    const struct {
        const char* file;
        const char* out;
    } rows[] = {
        {"tone.wav", "file: tone.wav\n"
                     "format: WAV, PCM 16-bit, 1 channel, 8000 Hz\n"
                     "duration_ms: 100\n"
                     "samples: 800\n"
                     "data_bytes: 1600\n"
                     "codec: PCM 16-bit\n"
                     "container: WAV\n"
                     "delay: 0\n"
                     "padding: 0\n"},
        {"three.wav", "file: three.wav\n"
                      "format: WAV, PCM 24-bit, 3 channels, 8000 Hz\n"
                      "duration_ms: 13\n"
                      "samples: 100\n"
                      "data_bytes: 900\n"
                      "codec: PCM 24-bit\n"
                      "container: WAV\n"
                      "source_channels: 3 (mixed down to stereo)\n"
                      "delay: 0\n"
                      "padding: 0\n"},
        {"cbr.mp3", "file: cbr.mp3\n"
                    "format: MPEG audio, decodes to PCM 16-bit, 2 channels, 44100 Hz\n"
                    "duration_ms: 444\n"
                    "samples: 19584\n"
                    "data_bytes: 78336\n"
                    "codec: MP3\n"
                    "container: MPEG audio\n"
                    "delay: 1105\n"
                    "padding: 47\n"},
    };
    for (const auto& row : rows) {
        const Said r = cli({QStringLiteral("info"), QString::fromUtf8(row.file)},
                           QProcessEnvironment::systemEnvironment());
        EXPECT_EQ(r.code, 0) << row.file;
        EXPECT_EQ(r.out, QString::fromUtf8(row.out)) << row.file;
        EXPECT_EQ(r.err, QString()) << row.file;
    }
}

} // namespace

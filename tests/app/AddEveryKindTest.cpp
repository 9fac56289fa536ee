// Every kind of the table of kinds read (engines/formats/Formats.h), added in one batch through
// "ADD" with a file that fails: each file joins the list or is named, with why, in the message.
// The dialogs' filter, the list's drop hint and the command line's help list every kind of the
// table; and a file that is not sound, or whose sound breaks off, is named once, with a cause
// true to its content and told in time.
#include "app/WindowFixture.h"
#include "cli/Cli.h"
#include "engines/formats/Formats.h"
#include "support/Peers.h"
#include "support/TestAudio.h"
#include "support/TestPaths.h"
#include "ui/SongFilter.h"

#include <QRandomGenerator>
#include <QRegularExpression>

#include <cstdio>

using namespace quaverly;
using namespace quaverly::test;

namespace {

// A file of each kind: one of tests/data, or made here from a second of tone by ffmpeg with
// `args` between the tone and the file.
struct Sample {
    const char* kind; // the table's name
    const char* file; // under tests/data, or made under the test's folder
    const char* args; // nullptr: a file of tests/data
};
const Sample kSamples[] = {
    {"WAV", "real/wav/wavjl/48000_stereo_pcm16.wav", nullptr},
    {"MP3 and MPEG audio", "real/mp3/edge/cbr.mp3", nullptr},
    {"FLAC", "formats/no-tags.flac", nullptr},
    {"Ogg Vorbis", "formats/test.ogg", nullptr},
    {"Opus", "formats/correctness_gain_silent_output.opus", nullptr},
    {"Ogg FLAC", "formats/empty_flac.oga", nullptr},
    {"Speex", "formats/empty.spx", nullptr},
    {"MPEG-4 audio", "formats/no-tags.m4a", nullptr},
    {"AAC", "tone.aac", "-c:a aac"},
    {"AIFF", "formats/empty.aiff", nullptr},
    {"CAF", "tone.caf", "-c:a pcm_s16le"},
    {"Wave64 and RF64", "tone.w64", "-c:a pcm_s16le"},
    {"Windows Media Audio", "formats/silence-1.wma", nullptr},
    {"WavPack", "formats/click.wv", nullptr},
    {"Monkey's Audio", "formats/mac-399.ape", nullptr},
    {"Musepack", "formats/click.mpc", nullptr},
    {"AC-3 and E-AC-3", "tone.ac3", "-c:a ac3"},
    {"Sun AU", "tone.au", "-c:a pcm_s16be"},
    {"Matroska and WebM audio", "tone.mka", "-c:a flac"},
    {"Video sound", "tone.avi", "-f lavfi -i testsrc=size=64x48:rate=10:duration=1 -c:v mpeg4"},
};

// The same 4 KiB of noise whatever the name: no container, no frames.
QByteArray noise() {
    QRandomGenerator random(33);
    QByteArray bytes(4096, '\0');
    for (qsizetype i = 1; i < bytes.size(); ++i)
        bytes[i] = char(random.bounded(256));
    return bytes;
}

class AddEveryKind : public WindowFixture {
protected:
    // The files listed, by the file each was added from, in list order.
    QStringList listed() const {
        QStringList sources;
        for (int row = 0; row < list->count(); ++row)
            sources << list->item(row)->data(AudioEditPanel::kSourceRole).toString();
        return sources;
    }
};

TEST_F(AddEveryKind, EachFileOfABatchIsListedOrNamedWithWhy) {
    if (!havePeer(QStringLiteral("ffmpeg")))
        GTEST_SKIP() << "ffmpeg is missing";
    const QString tone = path(QStringLiteral("tone.wav"));
    ASSERT_TRUE(writeWav16(tone, 2, 44100, staircase(44100, 2, 0, 7)));
    // The names the dialog offers first: "All supported files (*.wav *.mp3 ...)".
    const QString all = songFileFilter().section(QStringLiteral(";;"), 0, 0);
    const QStringList patterns = all.section(u'(', 1).chopped(1).split(u' ');
    const auto offered = [&](const QString& file) {
        return std::any_of(patterns.begin(), patterns.end(), [&](const QString& p) {
            return QRegularExpression::fromWildcard(p, Qt::CaseInsensitive)
                .match(QFileInfo(file).fileName())
                .hasMatch();
        });
    };

    QStringList batch;
    for (const formats::FileFormat& kind : formats::listed()) {
        const auto sample =
            std::find_if(std::begin(kSamples), std::end(kSamples),
                         [&](const Sample& s) { return qstrcmp(s.kind, kind.kindName) == 0; });
        ASSERT_NE(sample, std::end(kSamples)) << "no file of the kind " << kind.kindName;
        if (!sample->args) {
            batch << quaverly::test::dataPath("/") + QLatin1String(sample->file);
            continue;
        }
        batch << path(QLatin1String(sample->file));
        const PeerRun made =
            runPeer(QStringLiteral("ffmpeg"), QStringList{"-v", "error", "-y", "-i", tone} +
                                                  QString::fromLatin1(sample->args).split(u' ') +
                                                  QStringList{batch.last()});
        ASSERT_TRUE(made.ok()) << sample->kind << ": " << made.failure().toStdString();
    }
    for (const QString& file : batch)
        EXPECT_TRUE(offered(file)) << file.toStdString() << " is not in " << all.toStdString();
    const QString junk = path(QStringLiteral("junk.m4a"));
    ASSERT_TRUE(test::writeFile(junk, noise()));
    batch.insert(batch.size() / 2, junk);

    dialogs.queueFiles(batch);
    click(*w, "CmdAdd");
    // Every file of a kind read is listed, in order; the other is named with why.
    const QString said = dialogs.messageTexts().join(u'\n');
    batch.removeOne(junk);
    EXPECT_EQ(listed(), batch) << said.toStdString();
    EXPECT_EQ(said, "Not added to the song list:\n\njunk.m4a: holds no audio that Quaverly reads");
}

TEST_F(AddEveryKind, TheFilterTheDropHintAndTheCommandLineNameEveryKind) {
    const QStringList filters = songFileFilter().split(QStringLiteral(";;"));
    const QString dropHint = list->toolTip().replace(u'\n', u' ');
    std::FILE* out = std::tmpfile();
    ASSERT_TRUE(out);
    ASSERT_EQ(cli::run({QStringLiteral("convert"), QStringLiteral("--help")}, out, stderr), 0);
    QFile help;
    std::rewind(out);
    ASSERT_TRUE(help.open(out, QIODevice::ReadOnly));
    const QString cliHelp = QString::fromUtf8(help.readAll()).replace(u'\n', u' ');
    help.close();
    std::fclose(out);
    for (const formats::FileFormat& kind : formats::listed()) {
        const QString patterns = QString::fromLatin1(kind.patterns);
        EXPECT_TRUE(filters.contains(formats::kindName(kind) + " (" + patterns + ")"))
            << kind.kindName;
        EXPECT_TRUE(dropHint.contains(formats::kindName(kind))) << kind.kindName;
        EXPECT_TRUE(cliHelp.contains(formats::kindName(kind))) << kind.kindName;
    }
}

TEST_F(AddEveryKind, AFileThatIsNotSoundIsNamedOnceWithACauseTrueToItsContent) {
    const QByteArray flac = readFile(quaverly::test::dataPath("/formats/sinewave.flac"));
    QByteArray garbled = flac;
    QRandomGenerator random(7);
    for (qsizetype i = 20000; i < 21000; ++i)
        garbled[i] = char(random.bounded(256));
    const struct {
        const char* file;
        QByteArray bytes;
        const char* cause;
    } rows[] = {
        {"noise.m4a", noise(), "holds no audio that Quaverly reads"},
        {"noise.mp3", noise(), "holds no audio that Quaverly reads"},
        {"noise.flac", noise(), "holds no audio that Quaverly reads"},
        {"tag only.mp3", QByteArray("ID3\x03\0\0\0\0\0\x10", 10) + noise(),
         "holds an ID3 tag but no audio that Quaverly reads"},
        // sinewave.flac lasts 3.55 s.
        {"cut.flac", flac.left(30000), "the sound breaks off at 0:01.474 of 0:04: "},
        {"garbled.flac", garbled, "the sound breaks off at 0:01.020 of 0:04: "},
    };
    for (const auto& row : rows) {
        const QString file = path(QString::fromUtf8(row.file));
        ASSERT_TRUE(test::writeFile(file, row.bytes));
        dialogs.clear();
        dialogs.queueFiles({file});
        click(*w, "CmdAdd");
        ASSERT_EQ(dialogs.messageTexts().size(), 1) << row.file;
        const QString said = dialogs.messageTexts()[0];
        EXPECT_TRUE(said.startsWith("Not added to the song list:\n\n")) << said.toStdString();
        EXPECT_EQ(said.count(QString::fromUtf8(row.file)), 1) << said.toStdString();
        EXPECT_TRUE(said.contains(QLatin1String(row.cause))) << said.toStdString();
        EXPECT_FALSE(said.contains("Error :")) << said.toStdString();
        EXPECT_FALSE(said.contains(QRegularExpression("\\d bytes|error code")))
            << said.toStdString();
    }
    EXPECT_EQ(list->count(), 0);
}

} // namespace

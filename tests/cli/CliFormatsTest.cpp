// quaverly-cli on songs of the formats a music library holds, made at run time by the usual
// tools: convert gives the length the song reader announces, info tells how the file is read;
// a length the file cannot tell is measured.
#include "cli/CliOutput.h"
#include "support/PeerEncodes.h"
#include "support/QtPrinters.h"
#include "support/TestAudio.h"
#include "support/TestPaths.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace quaverly::test;

namespace {

using Said = quaverly::test::CliRun;

Said cli(const QStringList& args) {
    return quaverly::test::runCli(args);
}

TEST(CliFormats, ConvertGivesTheAnnouncedLengthAndInfoTellsCodecContainerDelayAndPadding) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString wav = dir.filePath(QStringLiteral("source.wav"));
    ASSERT_TRUE(writeWav16(wav, 2, 44100, staircase(44100, 2, -20000)));
    const struct {
        const PeerEncode& peer;
        std::uint64_t frames; // one second at the rate it decodes at
        const char* lines;    // of info, after data_bytes
    } rows[] = {
        {kAacM4a, 44100, "codec: AAC\ncontainer: MP4\ndelay: 1024\npadding: 956\n"},
        {kFlac, 44100, "codec: FLAC\ncontainer: FLAC\ndelay: 0\npadding: 0\n"},
        {kOpus, 48000, "codec: Opus\ncontainer: Ogg\ndelay: 312\npadding: 648\n"},
    };
    for (const auto& row : rows) {
        const QString song = dir.filePath(QStringLiteral("song.") + row.peer.extension);
        if (const QString why = encodeWithPeer(row.peer, wav, song); !why.isEmpty())
            GTEST_SKIP() << why.toStdString();
        const QString out = song + QStringLiteral(".wav");
        const Said converted = cli({QStringLiteral("convert"), song, out});
        ASSERT_EQ(converted.code, 0) << converted.err.toStdString();
        const auto layout = quaverly::probeWav(out);
        ASSERT_TRUE(layout && layout->canonical) << row.peer.extension;
        EXPECT_EQ(layout->dataSize / 4, row.frames) << row.peer.extension;

        const Said info = cli({QStringLiteral("info"), song});
        ASSERT_EQ(info.code, 0) << info.err.toStdString();
        EXPECT_TRUE(info.out.contains(QStringLiteral("\nsamples: %1\n").arg(row.frames)))
            << info.out.toStdString();
        EXPECT_TRUE(info.out.contains(QStringLiteral("\ndata_bytes: %1\n").arg(row.frames * 4) +
                                      QLatin1String(row.lines)))
            << info.out.toStdString();
    }
}

// A length the file cannot tell is measured: an Ogg file with bytes after its last page (noise,
// or a second stream chained to it, which is not read) and a FLAC stream that states no length
// decode to their real end, and info gives that length, as for the file without them.
TEST(CliFormats, AFileWhoseLengthIsUnknownIsReadToItsRealEnd) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString wav = dir.filePath(QStringLiteral("source.wav"));
    ASSERT_TRUE(writeWav16(wav, 2, 44100, staircase(44100, 2, -20000, 3)));
    const auto made = [&](const QString& name) { return dir.filePath(name); };
    for (const char* clean : {"clean.ogg", "clean.flac"})
        ASSERT_EQ(cli({QStringLiteral("convert"), wav, made(clean)}).code, 0) << clean;
    const QByteArray ogg = readFile(made("clean.ogg"));
    QByteArray flac = readFile(made("clean.flac"));
    // STREAMINFO's 36 bits of total samples, from the low half of byte 21 on: 0 is "unknown".
    flac[21] = char(flac[21] & 0xF0);
    flac.replace(22, 4, QByteArray(4, '\0'));
    const struct {
        const char* file;
        QByteArray bytes;
        const char* clean;
    } rows[] = {
        {"noise after.ogg", ogg + QByteArray("not a page, only bytes").repeated(100), "clean.ogg"},
        {"chained.ogg", ogg + ogg, "clean.ogg"},
        {"no length.flac", flac, "clean.flac"},
    };
    for (const auto& row : rows) {
        const QString song = made(QString::fromLatin1(row.file));
        ASSERT_TRUE(writeFile(song, row.bytes));
        const QString clean = made(QString::fromLatin1(row.clean));
        ASSERT_EQ(cli({QStringLiteral("convert"), clean, clean + ".wav"}).code, 0);
        const Said converted = cli({QStringLiteral("convert"), song, song + ".wav"});
        ASSERT_EQ(converted.code, 0) << row.file << ": " << converted.err.toStdString();
        EXPECT_EQ(readFile(song + ".wav"), readFile(clean + ".wav")) << row.file;
        const Said info = cli({QStringLiteral("info"), song});
        const Said cleanInfo = cli({QStringLiteral("info"), clean});
        ASSERT_EQ(info.code, 0) << info.err.toStdString();
        EXPECT_EQ(info.out.section(u'\n', 2, 4), cleanInfo.out.section(u'\n', 2, 4)) << row.file;
        EXPECT_TRUE(info.out.contains(QStringLiteral("\nsamples: 44100\n"))) << row.file;
    }
}

} // namespace

// quaverly-cli on songs of the formats a music library holds, made at run time by the usual
// tools: convert gives the length the song reader announces, info tells how the file is read.
#include "support/PeerEncodes.h"
#include "support/QtPrinters.h"
#include "support/TestAudio.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace quaverly::test;

namespace {

struct Said {
    int code = -1;
    QString out, err;
};

Said cli(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral(QUAVERLY_CLI_PATH), args);
    p.closeWriteChannel();
    EXPECT_TRUE(p.waitForFinished(60000)) << args.join(' ').toStdString();
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromLocal8Bit(p.readAllStandardOutput()),
            QString::fromLocal8Bit(p.readAllStandardError())};
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

} // namespace

#include "convert/SongDecoder.h"
#include "engines/bass/Bass.h"
#include "support/ReadFaults.h"
#include "support/TestAudio.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>
#include <string>

using namespace quaverly;
using namespace quaverly::test;

namespace {

QString realMp3(const char* name) {
    return QStringLiteral(QUAVERLY_TEST_DATA "/real/mp3/") + QString::fromUtf8(name);
}

class Decoding : public ::testing::Test {
protected:
    QTemporaryDir dir;
    SongDecoder decoder;
    QString out() const { return dir.filePath(QStringLiteral("out.wav")); }
};

TEST_F(Decoding, AnMp3BecomesA44ByteHeaderWavWithEveryFrame) {
    const auto r = decoder.decode(realMp3("edge/cbr.mp3"), out());
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    const QByteArray wav = readFile(out());
    EXPECT_EQ(r.header.channels, 2);
    EXPECT_EQ(r.header.sampleRate, 44100u);
    EXPECT_EQ(r.header.bitsPerSample, 16);
    EXPECT_EQ(r.header.blockAlign, 4);
    EXPECT_EQ(r.header.bytesPerSecond, 176400u);
    // 19584 frames is not a multiple of the 20000-byte block, so the last block is short.
    EXPECT_EQ(wav.size(), 44 + 19584 * 4);
    EXPECT_EQ(le32(wav, 40), 19584u * 4);
    EXPECT_EQ(le32(wav, 4), 19584u * 4 + 36);
    const auto layout = probeWav(out());
    ASSERT_TRUE(layout);
    EXPECT_TRUE(layout->canonical);
}

TEST_F(Decoding, TheReferenceStreamDecodesWithinOneStep) {
    ASSERT_TRUE(decoder.decode(realMp3("iso/M2L3_compl24.bit"), out()).ok);
    const auto got = samples16(readFile(out()));
    const auto ref = samples16(readFile(realMp3("iso/M2L3_compl24.pcm")), 0);
    ASSERT_EQ(got.size(), ref.size());
    for (std::size_t i = 0; i < ref.size(); ++i)
        ASSERT_LE(std::abs(got[i] - ref[i]), 1) << i;
}

TEST_F(Decoding, AnOlderLongerFileIsReplacedWhole) {
    ASSERT_TRUE(writeFile(out(), QByteArray(2'000'000, 'x')));
    ASSERT_TRUE(decoder.decode(realMp3("edge/cbr.mp3"), out()).ok);
    EXPECT_EQ(readFile(out()).size(), 44 + 19584 * 4);
}

TEST_F(Decoding, UndecodableSourcesAreRefusedAndWriteNothing) {
    ASSERT_TRUE(writeFile(dir.filePath("text.mp3"), "this is not a song at all, only text"));
    ASSERT_TRUE(writeFile(out(), "earlier"));
    const QString sources[] = {dir.filePath("text.mp3"),
                               dir.filePath("missing.mp3"),
                               realMp3("edge/empty_file.mp3"),
                               realMp3("edge/l3-nonstandard-small.bit"),
                               realMp3("edge/id3v1_does_not_overwrite_id3v2.mp3"),
                               realMp3("edge/vbr_xing_header_short.mp3")};
    for (const QString& s : sources) {
        const auto r = decoder.decode(s, out());
        EXPECT_FALSE(r.ok) << s.toStdString();
        EXPECT_FALSE(r.error.isEmpty());
        EXPECT_EQ(readFile(out()), QByteArray("earlier")) << s.toStdString();
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

TEST_F(Decoding, AWavInAnotherLayoutIsRewrittenAsSixteenBitPcm) {
    // 24-bit samples: the top two bytes of each become the 16-bit sample.
    QByteArray data;
    for (int i = 0; i < 100; ++i) {
        const int v = (i * 300 - 15000) * 256;
        data.append(char(v & 0xFF)).append(char((v >> 8) & 0xFF)).append(char((v >> 16) & 0xFF));
    }
    auto h = WavHeader::pcm(1, 22050, 24);
    ASSERT_TRUE(writeFile(dir.filePath("deep.wav"), wavBytes(h, data.constData(), 300)));
    const auto r = decoder.decode(dir.filePath("deep.wav"), out());
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    EXPECT_EQ(r.header.bitsPerSample, 16);
    EXPECT_EQ(r.header.sampleRate, 22050u);
    const auto s = samples16(readFile(out()));
    ASSERT_EQ(s.size(), 100u);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(s[std::size_t(i)], i * 300 - 15000) << i;
}

TEST_F(Decoding, ASecondDecodeFromInsideTheFirstIsRefused) {
    DecodeOutcome inner;
    bool asked = false;
    const auto r = decoder.decode(realMp3("edge/cbr.mp3"), out(), [&] {
        if (!asked) {
            asked = true;
            inner = decoder.decode(realMp3("edge/cbr.mp3"), dir.filePath("second.wav"));
        }
        return true;
    });
    EXPECT_TRUE(r.ok);
    EXPECT_FALSE(inner.ok);
    EXPECT_FALSE(QFile::exists(dir.filePath("second.wav")));
    EXPECT_FALSE(decoder.busy());
}

// A decode that stops before the length its stream announced is a failure naming the file and
// the cause; an older file at the target stays as it was. The faults strike after the first
// block, from the decoder's own yield.
TEST_F(Decoding, ADecodeThatStopsEarlyFailsAndWritesNothing) {
    const QString song = dir.filePath("song.wav");
    const struct {
        const char* fault;
        std::function<bool()> inject;
        const char* cause;
    } cases[] = {
        {"shrinks", [&] { return shrink(song, 44 + 30000); }, "ends after 15000 of its 40000"},
        {"unreadable", [&] { return breakReadsOf(song) > 0; }, "Is a directory"},
        // An unknown handle reads as stopped: the decode must not take that for the end.
        {"layer freed", [] { return bass::BASS_Free() != 0; }, "unknown"},
    };
    for (const auto& c : cases) {
        if (std::string(c.fault) == "unreadable" && !kCanBreakReads)
            continue;
        ASSERT_TRUE(writeWav16(song, 1, 8000, staircase(40000, 1)));
        ASSERT_TRUE(writeFile(out(), "earlier"));
        int blocks = 0;
        const auto r = decoder.decode(song, out(), [&] { return ++blocks != 1 || c.inject(); });
        EXPECT_FALSE(r.ok) << c.fault;
        EXPECT_TRUE(r.error.startsWith(QLatin1String("song.wav: decoding failed after")) &&
                    r.error.contains(QLatin1String(c.cause)))
            << c.fault << ": " << r.error.toStdString();
        EXPECT_NE(r.soundError, 0) << c.fault;
        EXPECT_EQ(readFile(out()), QByteArray("earlier")) << c.fault;
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2) << c.fault;
    }
}

} // namespace

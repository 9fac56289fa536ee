// The song decode: any song into a PCM WAV file with the 44-byte header, replacing the target
// whole or not at all.

#include "engines/decode/SongDecode.h"
#include "support/ReadFaults.h"
#include "support/TestAudio.h"
#include "support/TestPaths.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>
#include <string>

using namespace quaverly;
using namespace quaverly::test;

namespace {

QString realFile(const char* name) {
    return quaverly::test::dataPath("/real/") + QString::fromUtf8(name);
}

class Decoding : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString out() const { return dir.filePath(QStringLiteral("out.wav")); }
    // Only the target and the source made in the folder: no temporary file is left behind.
    int filesLeft() const {
        return int(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size());
    }
};

TEST_F(Decoding, AnMp3BecomesA44ByteHeaderWavWithEveryFrame) {
    const auto r = decodeSong(realFile("mp3/edge/cbr.mp3"), out());
    ASSERT_TRUE(r) << r.error().text().toStdString();
    const QByteArray wav = readFile(out());
    EXPECT_EQ(r->channels, 2);
    EXPECT_EQ(r->sampleRate, 44100u);
    EXPECT_EQ(r->bitsPerSample, 16);
    EXPECT_EQ(r->blockAlign, 4);
    EXPECT_EQ(r->bytesPerSecond, 176400u);
    // 19584 frames is not a multiple of the 20000-byte block, so the last block is short.
    EXPECT_EQ(wav.size(), 44 + 19584 * 4);
    EXPECT_EQ(le32(wav, 40), 19584u * 4);
    EXPECT_EQ(le32(wav, 4), 19584u * 4 + 36);
    const auto layout = probeWav(out());
    ASSERT_TRUE(layout);
    EXPECT_TRUE(layout->canonical);
}

TEST_F(Decoding, TheReferenceStreamDecodesWithinOneStep) {
    ASSERT_TRUE(decodeSong(realFile("mp3/iso/M2L3_compl24.bit"), out()));
    const auto got = samples16(readFile(out()));
    const auto ref = samples16(readFile(realFile("mp3/iso/M2L3_compl24.pcm")), 0);
    ASSERT_EQ(got.size(), ref.size());
    for (std::size_t i = 0; i < ref.size(); ++i)
        ASSERT_LE(std::abs(got[i] - ref[i]), 1) << i;
}

TEST_F(Decoding, AnOlderLongerFileIsReplacedWhole) {
    ASSERT_TRUE(writeFile(out(), QByteArray(2'000'000, 'x')));
    ASSERT_TRUE(decodeSong(realFile("mp3/edge/cbr.mp3"), out()));
    EXPECT_EQ(readFile(out()).size(), 44 + 19584 * 4);
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
    const auto r = decodeSong(dir.filePath("deep.wav"), out());
    ASSERT_TRUE(r) << r.error().text().toStdString();
    EXPECT_EQ(r->bitsPerSample, 16);
    EXPECT_EQ(r->sampleRate, 22050u);
    const auto s = samples16(readFile(out()));
    ASSERT_EQ(s.size(), 100u);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(s[std::size_t(i)], i * 300 - 15000) << i;
}

// Songs that give no WAV file: the reader's refusal, a song without a sample, a cancel. An older
// file at the target stays as it was.
TEST_F(Decoding, RefusedSongsWriteNothing) {
    const QString text = dir.filePath("text.mp3");
    const QString missing = dir.filePath("missing.mp3");
    const QString stairs = dir.filePath("stairs.wav");
    ASSERT_TRUE(writeFile(text, "this is not a song at all, only text"));
    ASSERT_TRUE(writeWav16(stairs, 1, 8000, staircase(40000, 1)));
    const struct {
        QString source;
        std::uint64_t stopAt; // bytes written; 0: never stopped
        Error error;          // an empty cause: any cause will do
    } cases[] = {
        {text, 0, Error(text, {}, sound::kFileForm)},
        {missing, 0, Error(missing, QStringLiteral("no such file"), sound::kFileOpen)},
        {realFile("mp3/edge/empty_file.mp3"), 0,
         Error(realFile("mp3/edge/empty_file.mp3"), QStringLiteral("empty file"),
               sound::kFileForm)},
        {realFile("mp3/edge/l3-nonstandard-small.bit"), 0,
         Error(realFile("mp3/edge/l3-nonstandard-small.bit"), {}, sound::kFileForm)},
        {realFile("mp3/edge/vbr_xing_header_short.mp3"), 0,
         Error(realFile("mp3/edge/vbr_xing_header_short.mp3"), {}, sound::kFileForm)},
        {realFile("wav/wavefile/valid/no_samples.wav"), 0,
         Error(realFile("wav/wavefile/valid/no_samples.wav"),
               QStringLiteral("the file holds no sound"))},
        {stairs, 40000, Error(stairs, QStringLiteral("cancelled"))},
    };
    ASSERT_TRUE(writeFile(out(), "earlier"));
    for (const auto& c : cases) {
        std::stop_source stop;
        const WorkProgress work{stop.get_token(), [&](std::uint64_t done, std::uint64_t) {
                                    if (c.stopAt > 0 && done >= c.stopAt)
                                        stop.request_stop();
                                }};
        const auto r = decodeSong(c.source, out(), work);
        ASSERT_FALSE(r) << c.source.toStdString();
        EXPECT_EQ(r.error().file(), c.error.file());
        EXPECT_EQ(r.error().code(), c.error.code()) << r.error().text().toStdString();
        if (!c.error.cause().isEmpty()) {
            EXPECT_EQ(r.error().cause(), c.error.cause());
        }
        EXPECT_EQ(readFile(out()), QByteArray("earlier")) << c.source.toStdString();
    }
    EXPECT_EQ(filesLeft(), 3);
}

// A decode that stops before the length the reader announced is a failure naming the song, where
// in time it broke off and the cause; an older file at the target stays as it was. The faults
// strike after the first block, from the decode's own progress.
TEST_F(Decoding, ADecodeThatStopsEarlyFailsAndWritesNothing) {
    const QString song = dir.filePath("song.wav");
    const struct {
        const char* fault;
        std::function<bool()> inject;
        const char* cause;
    } cases[] = {
        {"shrinks", [&] { return shrink(song, 44 + 30000); }, "the data ends there"},
        {"unreadable", [&] { return breakReadsOf(song) > 0; }, "Is a directory"},
    };
    // The 5 s song breaks off in time: after the first block (1.25 s), and where it ends.
    const QRegularExpression said(
        QStringLiteral(R"(^the sound breaks off at 0:0(\d\.\d{3}) of 0:05: )"));
    for (const auto& c : cases) {
        if (std::string(c.fault) == "unreadable" && !kCanBreakReads)
            continue;
        ASSERT_TRUE(writeWav16(song, 1, 8000, staircase(40000, 1)));
        ASSERT_TRUE(writeFile(out(), "earlier"));
        int blocks = 0;
        std::stop_source stop;
        const auto r =
            decodeSong(song, out(), {stop.get_token(), [&](std::uint64_t, std::uint64_t) {
                                         if (++blocks == 1 && !c.inject())
                                             stop.request_stop();
                                     }});
        ASSERT_FALSE(r) << c.fault;
        EXPECT_EQ(r.error().file(), song);
        EXPECT_EQ(r.error().code(), sound::kNotAvail);
        const auto m = said.match(r.error().cause());
        ASSERT_TRUE(m.hasMatch()) << r.error().cause().toStdString();
        EXPECT_GE(m.captured(1).toDouble(), 1.25) << c.fault;
        EXPECT_LE(m.captured(1).toDouble(), 1.875) << c.fault;
        EXPECT_TRUE(r.error().cause().contains(QLatin1String(c.cause))) << c.fault;
        EXPECT_EQ(readFile(out()), QByteArray("earlier")) << c.fault;
        EXPECT_EQ(filesLeft(), 2) << c.fault;
    }
}

} // namespace

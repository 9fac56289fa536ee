#include "songlist/ListJoin.h"
#include "engines/encoder/Mp3Encode.h"
#include "engines/util/CodecThreads.h"
#include "songlist/JoinedPcm.h"
#include "support/ReadFaults.h"
#include "support/TestAudio.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

using namespace quaverly;
using namespace quaverly::test;

namespace {

// How a song of 40000 stereo frames fails half-way through a join: it shrinks to half, or its
// reads fail (where this user can make them).
struct MidSongFault {
    const char* fault;
    std::function<bool()> inject;
    const char* cause;
};
std::vector<MidSongFault> midSongFaults(const QString& song) {
    std::vector<MidSongFault> faults{{"shrinks", [song] { return shrink(song, 44 + 20000 * 4); },
                                      "ends after 20000 of its 40000"}};
    if (kCanBreakReads)
        faults.push_back(
            {"unreadable", [song] { return breakReadsOf(song) > 0; }, "Is a directory"});
    return faults;
}

class ListJoin : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path(const char* name) const { return dir.filePath(QString::fromUtf8(name)); }
    QString song16(const char* name, int channels, std::uint32_t rate, std::size_t frames,
                   int start) {
        const QString p = path(name);
        EXPECT_TRUE(writeWav16(p, channels, rate, staircase(frames, channels, start)));
        return p;
    }
};

TEST_F(ListJoin, OneSongGivesAByteIdenticalCopy) {
    const QString a = song16("a.wav", 2, 44100, 1001, 5);
    const auto r = joinSongs({a}, path("out.wav"));
    ASSERT_TRUE(r) << r.error().text().toStdString();
    EXPECT_EQ(readFile(path("out.wav")), readFile(a));
}

TEST_F(ListJoin, SameFormatSongsAreAppendedByteForByteUnderTheFirstHeader) {
    const QString a = song16("a.wav", 2, 44100, 1000, 0);
    const QString b = song16("b.wav", 2, 44100, 777, 20000);
    std::uint64_t lastWritten = 0, lastExpected = 0;
    const WorkProgress progress{{}, [&](std::uint64_t w, std::uint64_t e) {
                                    EXPECT_GT(w, lastWritten); // progress only grows
                                    lastWritten = w;
                                    lastExpected = e;
                                }};
    ASSERT_TRUE(joinSongs({a, b, a}, path("out.wav"), progress));
    const QByteArray out = readFile(path("out.wav"));
    const QByteArray da = readFile(a).mid(44), db = readFile(b).mid(44);
    const auto dataSize = std::uint32_t(2 * da.size() + db.size());
    EXPECT_EQ(lastWritten, dataSize); // ends at 100 %
    EXPECT_EQ(lastExpected, dataSize);
    ASSERT_EQ(out.size(), 44 + qsizetype(dataSize));
    EXPECT_EQ(le32(out, 40), dataSize);
    EXPECT_EQ(le32(out, 4), dataSize + 36);
    EXPECT_EQ(out.left(40).mid(8), readFile(a).left(40).mid(8)); // format fields of the first
    EXPECT_EQ(out.mid(44, da.size()), da);
    EXPECT_EQ(out.mid(44 + da.size(), db.size()), db);  // the second header never appears
    EXPECT_EQ(out.mid(44 + da.size() + db.size()), da); // a song listed twice joins twice
    // The frames on both sides of each join are the last and first of their songs.
    const auto s = samples16(out);
    EXPECT_EQ(s[999 * 2], 999);
    EXPECT_EQ(s[1000 * 2], 20000);
    EXPECT_EQ(s[1776 * 2], 20776);
    EXPECT_EQ(s[1777 * 2], 0);
}

TEST_F(ListJoin, OnlyTheSamplesOfAnUnusualWavAreTaken) {
    // A LIST chunk before the data and a trailing chunk after it, same format as the first.
    const auto samples = staircase(100, 1, 300);
    QByteArray body("WAVEfmt ", 8);
    const auto fmt = WavHeader::pcm(1, 8000, 16).toBytes();
    body.append(reinterpret_cast<const char*>(fmt.data()) + 16, 20);
    body.append("LIST\4\0\0\0abcd", 12);
    body.append("data\xC8\0\0\0", 8);
    body.append(reinterpret_cast<const char*>(samples.data()), 200);
    body.append("smpl\2\0\0\0zz", 10);
    QByteArray file("RIFF", 4);
    const auto n = std::uint32_t(body.size());
    file.append(reinterpret_cast<const char*>(&n), 4);
    file.append(body);
    ASSERT_TRUE(writeFile(path("odd.wav"), file));
    const QString a = song16("a.wav", 1, 8000, 10, 0);

    ASSERT_TRUE(joinSongs({a, path("odd.wav")}, path("out.wav")));
    const auto s = samples16(readFile(path("out.wav")));
    ASSERT_EQ(s.size(), 110u);
    EXPECT_EQ(s[9], 9);
    EXPECT_EQ(s[10], 300);
    EXPECT_EQ(s[109], 399);
}

TEST_F(ListJoin, OtherFormatsAreConvertedToTheFirstSongsFormat) {
    // 1 s of stereo 44.1 kHz, then 1 s of mono 22.05 kHz holding a constant level.
    const QString a = song16("a.wav", 2, 44100, 44100, 0);
    ASSERT_TRUE(writeWav16(path("b.wav"), 1, 22050, std::vector<std::int16_t>(22050, 1234)));
    const auto r = joinSongs({a, path("b.wav")}, path("out.wav"));
    ASSERT_TRUE(r) << r.error().text().toStdString();
    EXPECT_EQ(r->channels, 2);
    EXPECT_EQ(r->sampleRate, 44100u);
    const auto s = samples16(readFile(path("out.wav")));
    const std::size_t frames = s.size() / 2;
    EXPECT_NEAR(double(frames), 88200.0, 2.0);    // both seconds, in the first song's rate
    EXPECT_EQ(s[44099 * 2], std::int16_t(44099)); // the first song is untouched
    // The middle of the converted second: the level on both sides, not garbled bytes.
    for (std::size_t f = 60000; f < 70000; f += 997) {
        EXPECT_NEAR(s[2 * f], 1234, 2) << f;
        EXPECT_NEAR(s[2 * f + 1], 1234, 2) << f;
    }
}

TEST_F(ListJoin, StereoIsMixedToMonoAndSixteenBitsBecomeEight) {
    ASSERT_TRUE(writeWav8(path("a.wav"), 1, 8000, {0, 128, 255}));
    std::vector<std::int16_t> stereo = {1000, 3000, -256, -256, 32767, 32767};
    ASSERT_TRUE(writeWav16(path("b.wav"), 2, 8000, stereo));
    ASSERT_TRUE(joinSongs({path("a.wav"), path("b.wav")}, path("out.wav")));
    const QByteArray out = readFile(path("out.wav"));
    ASSERT_EQ(out.size(), 44 + 6);
    EXPECT_EQ(std::uint8_t(out[44 + 3]), (2000 >> 8) + 128);
    EXPECT_EQ(std::uint8_t(out[44 + 4]), (-256 >> 8) + 128);
    EXPECT_EQ(std::uint8_t(out[44 + 5]), 255);
}

TEST_F(ListJoin, FailuresLeaveNothingBehindAndKeepAnEarlierFile) {
    const QString a = song16("a.wav", 2, 44100, 100, 0);
    ASSERT_TRUE(writeFile(path("out.wav"), "earlier"));
    ASSERT_TRUE(writeFile(path("text.wav"), "just some text"));

    struct Case {
        QStringList songs;
        QString target;
        const char* mentions;
    } cases[] = {
        {{}, path("out.wav"), "empty"},
        {{a, path("missing.wav")}, path("out.wav"), "missing.wav"},
        {{a, path("text.wav")}, path("out.wav"), "text.wav"},
        {{a}, path("no/such/folder/out.wav"), "out.wav"},
    };
    for (const auto& c : cases) {
        const auto r = joinSongs(c.songs, c.target);
        ASSERT_FALSE(r);
        EXPECT_TRUE(r.error().text().contains(QLatin1String(c.mentions)))
            << r.error().text().toStdString();
        EXPECT_EQ(readFile(path("out.wav")), QByteArray("earlier"));
    }
    std::stop_source stop;
    stop.request_stop();
    const auto cancelled = joinSongs({a, a}, path("out.wav"), {stop.get_token(), {}});
    EXPECT_FALSE(cancelled);
    EXPECT_EQ(readFile(path("out.wav")), QByteArray("earlier"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 3); // no temporary
}

// A song that is converted (here stereo into a mono join) and fails half-way, after its first
// block: the join fails naming the song and the cause, and never passes the rest off as its end.
TEST_F(ListJoin, ASongThatFailsHalfWayFailsTheJoin) {
    const QString a = song16("a.wav", 1, 8000, 100, 0);
    const QString b = path("b.wav");
    ASSERT_TRUE(writeFile(path("out.wav"), "earlier"));
    for (const MidSongFault& c : midSongFaults(b)) {
        ASSERT_TRUE(writeWav16(b, 2, 8000, staircase(40000, 2)));
        int blocks = 0;
        std::stop_source stop;
        // The first block is song a, the second the first 16384 frames of song b; a fault that
        // cannot be made stops the join.
        const WorkProgress progress{stop.get_token(), [&](auto, auto) {
                                        if (++blocks == 2 && !c.inject())
                                            stop.request_stop();
                                    }};
        const auto r = joinSongs({a, b}, path("out.wav"), progress);
        ASSERT_FALSE(r) << c.fault;
        const QString said = r.error().text();
        EXPECT_TRUE(said.startsWith(QLatin1String("b.wav: ")) &&
                    said.contains(QLatin1String(c.cause)))
            << c.fault << ": " << said.toStdString();
        EXPECT_EQ(readFile(path("out.wav")), QByteArray("earlier")) << c.fault;
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 3); // no temporary
}

// A join whose output would pass the 4 GiB a WAV file holds is refused before a byte is
// written, also when the excess comes only from converting a song to the first one's format.
// The large songs are sparse files: nothing of their gigabytes is on the disk.
TEST_F(ListJoin, AJoinPastFourGiBIsRefusedBeforeWriting) {
    const auto sparse = [&](const char* name, std::uint16_t channels, std::uint32_t rate,
                            std::uint32_t dataBytes) {
        QFile f(path(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        const auto header = WavHeader::pcm(channels, rate, 16, dataBytes).toBytes();
        f.write(reinterpret_cast<const char*>(header.data()), qint64(header.size()));
        EXPECT_TRUE(f.resize(qint64(header.size()) + dataBytes));
        return path(name);
    };
    const QString small = song16("small.wav", 2, 44100, 100, 0);
    const QString big = sparse("big.wav", 2, 44100, 1500u << 20);
    const QString slow = sparse("slow.wav", 1, 22050, 1100u << 20); // 4x as much when joined
    ASSERT_TRUE(writeFile(path("out.wav"), "earlier"));
    for (const QStringList& songs : {QStringList{big, big, big}, QStringList{small, slow}}) {
        int blocks = 0;
        const auto r = joinSongs(songs, path("out.wav"), {{}, [&](auto, auto) { ++blocks; }});
        ASSERT_FALSE(r);
        EXPECT_TRUE(r.error().text().contains(QLatin1String("4 GiB")))
            << r.error().text().toStdString();
        EXPECT_EQ(blocks, 0) << "bytes were written";
        EXPECT_EQ(readFile(path("out.wav")), QByteArray("earlier"));
    }
    std::stop_source stop;
    stop.request_stop();
    const auto started = joinSongs({small, big, big}, path("out.wav"), {stop.get_token(), {}});
    ASSERT_FALSE(started);
    EXPECT_EQ(started.error().text(), QLatin1String("cancelled")); // under the limit it starts
}

// The MP3 save encodes the joined songs without writing them to a file first: its MP3 must be
// the MP3 of the file the WAV save writes, byte for byte, also when the songs are converted
// (the 8-bit first song makes the join 8-bit) and when a song's header claims frames of a size
// its samples do not have (3-byte frames of 16-bit samples: not plain PCM, so it is converted).
TEST_F(ListJoin, TheStreamedMp3IsTheMp3OfTheJoinedFile) {
    struct OneCodecThread {
        OneCodecThread() { setCodecThreadsForTesting(1); }
        ~OneCodecThread() { setCodecThreadsForTesting(0); }
    } oneCodecThread;
    std::vector<std::uint8_t> eight(20000);
    for (std::size_t i = 0; i < eight.size(); ++i)
        eight[i] = std::uint8_t(i * 7);
    ASSERT_TRUE(writeWav8(path("eight.wav"), 1, 22050, eight));
    QByteArray odd =
        wavBytes(WavHeader::pcm(1, 44100, 16), staircase(9002, 1, 0, 29).data(), 9002 * 2);
    odd[32] = 3; // blockAlign
    ASSERT_TRUE(writeFile(path("odd.wav"), odd));
    const QString a = song16("a.wav", 2, 44100, 30001, 0);
    const QString b = song16("b.wav", 2, 44100, 9000, 500);
    const QString mono8k = song16("mono8k.wav", 1, 8000, 12000, 100);

    const struct {
        const char* what;
        QStringList songs;
        int kbps;
    } cases[] = {
        {"same format", {a, b, a}, 128},
        {"converted", {path("eight.wav"), a, mono8k}, 96},
        {"odd bytes", {path("odd.wav"), mono8k, path("odd.wav"), mono8k}, 56},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(joinSongs(c.songs, path("joined.wav")));
        ASSERT_TRUE(mp3::encodeWavToMp3(path("joined.wav"), path("file.mp3"), c.kbps).ok());
        JoinedPcm pcm;
        ASSERT_TRUE(pcm.open(c.songs));
        const auto r = mp3::encodeToMp3(pcm, QStringLiteral("list"), path("streamed.mp3"), c.kbps);
        ASSERT_TRUE(r.ok()) << r.error().text().toStdString();
        const QByteArray file = readFile(path("file.mp3"));
        EXPECT_GT(file.size(), 1000);
        EXPECT_TRUE(readFile(path("streamed.mp3")) == file);
    }
    // Parallel segments that will not splice make the encoder read the songs again in one pass.
    ASSERT_TRUE(joinSongs(cases[0].songs, path("joined.wav")));
    ASSERT_TRUE(mp3::encodeWavToMp3(path("joined.wav"), path("file.mp3"), 128).ok());
    setCodecThreadsForTesting(3);
    mp3::setSegmentPlanForTesting(mp3::SegmentPlan{8, 4, 4, 60});
    JoinedPcm pcm;
    ASSERT_TRUE(pcm.open(cases[0].songs));
    const auto r = mp3::encodeToMp3(pcm, QStringLiteral("list"), path("streamed.mp3"), 128);
    mp3::setSegmentPlanForTesting(std::nullopt);
    ASSERT_TRUE(r.ok()) << r.error().text().toStdString();
    EXPECT_TRUE(readFile(path("streamed.mp3")) == readFile(path("file.mp3")));
}

// A song that fails half-way through the streamed MP3 save fails it, naming the song as the
// caller calls it, and leaves no MP3, whole or partial, and no earlier file damaged.
TEST_F(ListJoin, ASongThatFailsHalfWayFailsTheStreamedMp3) {
    const QString a = song16("a.wav", 1, 8000, 100, 0);
    const QString b = path("b.wav");
    ASSERT_TRUE(writeFile(path("out.mp3"), "earlier"));
    // Fails in the given read of the encoder, after the fault was injected.
    class Faulty final : public mp3::PcmSource {
    public:
        Faulty(JoinedPcm& pcm, std::function<bool()> inject) : pcm_(pcm), inject_(inject) {}
        int channels() const override { return pcm_.channels(); }
        int sampleRate() const override { return pcm_.sampleRate(); }
        Result<std::size_t> read(float* dst, std::size_t frames) override {
            // The first read takes song a and the first 16384 frames of song b.
            if (++reads_ == 2) {
                EXPECT_TRUE(inject_());
            }
            return pcm_.read(dst, frames);
        }

    private:
        JoinedPcm& pcm_;
        std::function<bool()> inject_;
        int reads_ = 0;
    };
    for (const MidSongFault& c : midSongFaults(b)) {
        ASSERT_TRUE(writeWav16(b, 2, 8000, staircase(40000, 2)));
        JoinedPcm pcm;
        ASSERT_TRUE(pcm.open({a, b}, {QStringLiteral("A"), QStringLiteral("Song B")}));
        Faulty source(pcm, c.inject);
        const auto r = mp3::encodeToMp3(source, QStringLiteral("list"), path("out.mp3"), 128);
        ASSERT_FALSE(r.ok()) << c.fault;
        EXPECT_EQ(mp3::encodeStep(r.error()), mp3::EncodeStep::Source);
        EXPECT_EQ(r.error().file(), QLatin1String("Song B"));
        EXPECT_TRUE(r.error().cause().contains(QLatin1String(c.cause)))
            << c.fault << ": " << r.error().text().toStdString();
        EXPECT_EQ(readFile(path("out.mp3")), QByteArray("earlier")) << c.fault;
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 3); // no temporary
}

} // namespace

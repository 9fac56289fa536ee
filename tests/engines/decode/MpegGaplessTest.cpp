// Gapless trimming of MP3 files made here with lame, whole and cut short (a download that
// stopped: the tag announces frames the file no longer holds). The song reader gives the samples
// `mpg123 -w` writes, on one thread and on several, and its format tells what the trimming
// removed from the raw decode (`mpg123 --no-gapless -w`).

#include "DecodeTestUtil.h"

#include "engines/util/CodecThreads.h"
#include "engines/wav/WavHeader.h"

#include <QTemporaryDir>

#include <cmath>
#include <numbers>

using namespace decode_test;
using quaverly::test::havePeer;
using quaverly::test::runPeer;

namespace {

constexpr std::uint32_t kSeconds = 3;

// Mono sound of kSeconds: a 440 Hz tone over a staircase that steps every 64 samples, so that a
// slip of one sample shows anywhere.
QByteArray sourceWav(std::uint32_t rate) {
    QByteArray data;
    for (std::uint32_t i = 0; i < rate * kSeconds; ++i) {
        const double tone = 6000.0 * std::sin(2 * std::numbers::pi * 440.0 * i / rate);
        const auto v = static_cast<std::int16_t>(std::lround(tone + 40.0 * ((i / 64) % 200)));
        data.append(static_cast<char>(v & 0xFF));
        data.append(static_cast<char>((v >> 8) & 0xFF));
    }
    const auto h =
        quaverly::WavHeader::pcm(1, rate, 16, static_cast<std::uint32_t>(data.size())).toBytes();
    return QByteArray(reinterpret_cast<const char*>(h.data()), qsizetype(h.size())) + data;
}

// The samples mpg123 writes for `mp3`, read back from its WAV file.
std::vector<std::int16_t> mpg123(const QString& mp3, const QString& wav, QStringList args) {
    const bool ok = runPeer("mpg123", args << "-q"
                                           << "-w" << wav << mp3)
                        .ok();
    auto song = SongReader::open(wav);
    if (!ok || !song) {
        ADD_FAILURE() << "mpg123 " << args.join(' ').toStdString() << " failed";
        return {};
    }
    return decodeRest(*song);
}

struct GapCase {
    const char* name;
    std::uint32_t rate;
    QStringList lame; // besides mono, the input and the output
    qsizetype keep;   // bytes kept of the file; 0 keeps all
    std::uint64_t delay;
    bool padding; // whether anything is trimmed at the end
};

std::ostream& operator<<(std::ostream& os, const GapCase& c) {
    return os << c.name;
}

class Gapless : public ::testing::TestWithParam<GapCase> {
protected:
    void TearDown() override {
        quaverly::setCodecThreadsForTesting(0);
        SongReader::setMpegSliceFramesForTesting(0);
    }
};

TEST_P(Gapless, DecodesAsMpg123AndTellsWhatWasTrimmed) {
    if (!havePeer("mpg123") || !havePeer("lame"))
        GTEST_SKIP() << "needs mpg123 and lame";
    const GapCase& c = GetParam();
    QTemporaryDir dir;
    const QString wav = dir.filePath("source.wav"), mp3 = dir.filePath("song.mp3");
    writeAll(wav, sourceWav(c.rate));
    const auto lame =
        runPeer("lame", QStringList{"--quiet", "-m", "m"} + c.lame + QStringList{wav, mp3});
    ASSERT_TRUE(lame.ok()) << lame.failure().toStdString();
    if (c.keep > 0) {
        QFile f(mp3);
        ASSERT_TRUE(f.size() > c.keep && f.resize(c.keep));
    }
    const auto ref = mpg123(mp3, dir.filePath("ref.wav"), {});
    const auto raw = mpg123(mp3, dir.filePath("raw.wav"), {"--no-gapless"});
    ASSERT_FALSE(ref.empty());
    if (c.keep == 0 && c.delay > 0) {
        EXPECT_EQ(ref.size(), c.rate * kSeconds); // trimmed to the source's length
    }
    // With several threads, slices of two frames.
    for (int threads : {1, 3}) {
        SCOPED_TRACE(std::to_string(threads) + " threads");
        quaverly::setCodecThreadsForTesting(threads);
        SongReader::setMpegSliceFramesForTesting(threads > 1 ? 2 : 0);
        auto song = SongReader::open(mp3);
        ASSERT_TRUE(song) << song.error().text().toStdString();
        const auto pcm = decodeRest(*song);
        ASSERT_EQ(pcm.size(), ref.size());
        const auto at = std::mismatch(ref.begin(), ref.end(), pcm.begin());
        EXPECT_TRUE(at.first == ref.end()) << "first difference at " << at.first - ref.begin();
        const SongFormat& f = song->format();
        EXPECT_EQ(f.delay, c.delay);
        EXPECT_EQ(f.padding > 0, c.padding) << f.padding;
        EXPECT_EQ(f.delay + song->frames() + f.padding, raw.size());
    }
}

// lame 3.100 delays by 576 samples, libmpg123 by 529 more. At 22.05 kHz and 80 kbit/s a frame
// is about 261 bytes and the tag announces 117 frames: 2000 bytes hold the tag and 6 of them and
// end inside the 7th, far fewer bytes than 117 frames need (24 at least); 20000 bytes would do.
// 800 bytes hold 2 frames, the first of which the trimmed start passes over.
INSTANTIATE_TEST_SUITE_P(
    Lame, Gapless,
    ::testing::Values(GapCase{"whole_22k", 22050, {"-b", "80"}, 0, 1105, true},
                      GapCase{"whole_44k", 44100, {"-b", "128"}, 0, 1105, true},
                      GapCase{"whole_notag_22k", 22050, {"-t", "-b", "80"}, 0, 0, false},
                      GapCase{"cut_2000_22k", 22050, {"-b", "80"}, 2000, 1105, false},
                      GapCase{"cut_3000_22k", 22050, {"-b", "80"}, 3000, 1105, false},
                      GapCase{"cut_800_22k", 22050, {"-b", "80"}, 800, 1105, false},
                      GapCase{"cut_2000_44k", 44100, {"-b", "128"}, 2000, 1105, false},
                      GapCase{"cut_20000_22k", 22050, {"-b", "80"}, 20000, 1105, false},
                      GapCase{"cut_2000_notag_22k", 22050, {"-t", "-b", "80"}, 2000, 0, false}),
    [](const auto& p) { return std::string(p.param.name); });

} // namespace

// Decoding an MP3 on several threads gives the very bytes of decoding it on one: every MPEG file
// of the test data and files made with lame at many rates, read straight through, after a seek,
// after a rewind, and when the file changes under the decoder. Slices are made a few frames
// long, so that even short files are cut into many.

#include "DecodeTestUtil.h"
#include "support/TestPaths.h"

#include "engines/util/CodecThreads.h"

#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>

using namespace decode_test;
using quaverly::test::runPeer;

namespace {

enum class Way {
    Straight,
    SeekMid,      // a third, then a seek to the middle and the rest
    Rewind,       // a third, then a seek to the start and everything
    CutAfterOpen, // the file loses its last 40 % once it is open
    Damaged,      // 64 bytes 40 % into the file overwritten
};

struct Outcome {
    bool opened = false;
    int error = 0; // of the open, or of the read that ended the song
    QString text;
    std::vector<std::int16_t> pcm;
};

// Reads `upTo` frames or until the song ends or refuses, in the song decode's blocks.
void readOn(SongReader& song, std::uint64_t upTo, Outcome& o) {
    const auto channels = std::size_t(song.format().channels);
    std::vector<std::int16_t> block(10000);
    std::uint64_t got = 0;
    while (got < upTo) {
        const auto want = std::size_t(std::min<std::uint64_t>(block.size() / channels, upTo - got));
        const auto n = song.read(block.data(), want);
        if (!n || *n == 0) {
            o.error = n ? 0 : n.error().code();
            o.text = n ? QString() : n.error().text();
            return;
        }
        o.pcm.insert(o.pcm.end(), block.begin(), block.begin() + std::ptrdiff_t(*n * channels));
        got += *n;
    }
}

// Decodes a copy of `path` the given way with `threads` codec threads.
Outcome decode(const QString& path, Way way, int threads, const QString& dir) {
    // One name for both runs: error texts name the file.
    const QString copy = dir + "/copy.mp3";
    QFile::remove(copy);
    EXPECT_TRUE(QFile::copy(path, copy));
    QFile f(copy);
    if (way == Way::Damaged && f.open(QIODevice::ReadWrite)) {
        QByteArray b = f.readAll();
        for (qsizetype i = b.size() * 2 / 5; i < b.size() * 2 / 5 + 64; ++i)
            b[i] = static_cast<char>(b[i] ^ 0x5A);
        f.seek(0);
        EXPECT_EQ(f.write(b), b.size());
        f.close();
    }
    quaverly::setCodecThreadsForTesting(threads);
    SongReader::setMpegSliceFramesForTesting(threads > 1 ? 6 : 0);
    Outcome o;
    auto song = SongReader::open(copy);
    o.opened = song.ok();
    if (!song) {
        o.error = song.error().code();
        o.text = song.error().text();
    } else {
        const std::uint64_t frames = song->frames();
        if (way == Way::CutAfterOpen) {
            EXPECT_TRUE(f.resize(f.size() * 3 / 5));
        }
        if (way == Way::SeekMid || way == Way::Rewind) {
            readOn(*song, frames / 3, o);
            EXPECT_TRUE(song->seek(way == Way::Rewind ? 0 : frames / 2));
        }
        readOn(*song, ~std::uint64_t(0), o);
    }
    quaverly::setCodecThreadsForTesting(0);
    SongReader::setMpegSliceFramesForTesting(0);
    return o;
}

void expectSameDecode(const QString& path, Way way, const QString& dir) {
    const Outcome one = decode(path, way, 1, dir);
    const Outcome many = decode(path, way, 3, dir);
    EXPECT_EQ(many.opened, one.opened);
    EXPECT_EQ(many.error, one.error);
    EXPECT_EQ(many.text, one.text);
    ASSERT_EQ(many.pcm.size(), one.pcm.size());
    const auto at = std::mismatch(one.pcm.begin(), one.pcm.end(), many.pcm.begin());
    EXPECT_TRUE(at.first == one.pcm.end())
        << "first difference at sample " << (at.first - one.pcm.begin());
}

class ParallelMpeg : public ::testing::Test {
protected:
    QTemporaryDir dir_;
};

TEST_F(ParallelMpeg, EveryTestFileDecodesAsInOnePass) {
    ASSERT_TRUE(dir_.isValid());
    const std::uint64_t before = SongReader::mpegSlicesDecoded();
    int files = 0;
    QDirIterator it(quaverly::test::dataPath(), {"*.mp3", "*.bit", "*.mp2"}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        ++files;
        for (Way way : {Way::Straight, Way::SeekMid}) {
            SCOPED_TRACE(path.toStdString() + (way == Way::Straight ? "" : " (seek)"));
            expectSameDecode(path, way, dir_.path());
        }
    }
    EXPECT_GT(files, 20);
    // Some of them are long enough for the threads.
    EXPECT_GT(SongReader::mpegSlicesDecoded(), before);
}

struct Material {
    const char* name;
    int rate;
    int channels;
    QStringList lame;
    bool engine; // whether the engine takes it (the others are decoded in one pass)
};

std::ostream& operator<<(std::ostream& os, const Material& m) {
    return os << m.name;
}

class MadeWithLame : public ParallelMpeg, public ::testing::WithParamInterface<Material> {};

TEST_P(MadeWithLame, DecodesAsInOnePassEveryWay) {
    const Material& m = GetParam();
    ASSERT_TRUE(dir_.isValid());
    const QString wav = dir_.filePath("source.wav"), mp3 = dir_.filePath("made.mp3");
    // Two tones and some noise, different on each side: a sound that keeps the encoder busy.
    const QString left = "0.4*sin(2*PI*440*t)+0.2*sin(2*PI*1500*t*t)+0.05*(random(0)-0.5)";
    const QString right = "0.3*sin(2*PI*660*t)+0.1*(random(1)-0.5)";
    // A plain fork: the thread sanitizer loses track of locking once QProcess has started a child.
    quaverly::test::PeerOptions plain;
    plain.plainFork = true;
    if (!runPeer("ffmpeg",
                 {"-v", "error", "-y", "-f", "lavfi", "-i",
                  "aevalsrc=" + (m.channels == 1 ? left : left + "|" + right) +
                      ":s=" + QString::number(m.rate),
                  "-t", "4", "-c:a", "pcm_s16le", wav},
                 plain)
             .ok())
        GTEST_SKIP() << "ffmpeg cannot make the source";
    const QStringList lame{"--quiet", "-m", m.channels == 1 ? "m" : "j", "--resample",
                           QString::number(m.rate / 1000.0)};
    if (!runPeer("lame", lame + m.lame + QStringList{wav, mp3}, plain).ok())
        GTEST_SKIP() << "lame cannot make " << m.name;
    for (Way way : {Way::Straight, Way::SeekMid, Way::Rewind, Way::CutAfterOpen, Way::Damaged}) {
        SCOPED_TRACE(static_cast<int>(way));
        const std::uint64_t before = SongReader::mpegSlicesDecoded();
        expectSameDecode(mp3, way, dir_.path());
        if (way == Way::Straight) {
            EXPECT_EQ(SongReader::mpegSlicesDecoded() > before, m.engine);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rates, MadeWithLame,
    ::testing::Values(Material{"cbr32_44k", 44100, 2, {"-b", "32"}, true},
                      Material{"cbr64_44k", 44100, 2, {"-b", "64"}, true},
                      Material{"cbr128_44k", 44100, 2, {"-b", "128"}, true},
                      Material{"cbr320_44k", 44100, 2, {"-b", "320"}, true},
                      Material{"cbr32_48k", 48000, 2, {"-b", "32"}, true},
                      Material{"cbr64_48k_mono", 48000, 1, {"-b", "64"}, true},
                      Material{"cbr128_48k", 48000, 2, {"-b", "128"}, true},
                      Material{"cbr320_48k", 48000, 2, {"-b", "320"}, true},
                      Material{"vbr_44k", 44100, 2, {"-V", "2"}, true},
                      Material{"vbr_crc_32k", 32000, 2, {"-p", "-V", "6"}, true},
                      Material{"cbr128_44k_notag", 44100, 2, {"-t", "-b", "128"}, true},
                      // MPEG-2 and 2.5: with a tag the trimmed start reaches into the second frame.
                      Material{"cbr64_22k_mono", 22050, 1, {"-b", "64"}, false},
                      Material{"cbr32_22k_mono_notag", 22050, 1, {"-t", "-b", "32"}, true},
                      Material{"cbr16_8k_mono_notag", 8000, 1, {"-t", "-b", "16"}, true}),
    [](const ::testing::TestParamInfo<Material>& param) { return std::string(param.param.name); });

} // namespace

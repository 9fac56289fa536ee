// FLAC and WAV clips that keep the song's samples at its own width: songs of noise in every bit
// (so that a dropped low byte or a sample off shows), marks at the ends, on FLAC block
// boundaries and one sample beside them. The clip is read back with libsndfile and ffmpeg and
// must hold the song's samples over [in, out) exactly; a FLAC clip passes `flac -t` (its MD5).

#include "engines/decode/SongReader.h"
#include "engines/encoder/FrameCopy.h"
#include "support/Peers.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace quaverly {
namespace {

namespace fc = framecopy;
using test::havePeer;
using test::runPeer;

constexpr std::uint64_t kSongFrames = 20000;
constexpr int kRate = 44100;
// libsndfile writes FLAC in blocks of this many frames.
constexpr std::uint64_t kBlock = 4096;

struct Row {
    const char* name;
    int format; // libsndfile's major | sub-format
    int channels;
    std::uint64_t in, out;
};

const Row kRows[] = {
    {"flac16_whole", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 2, 0, kSongFrames},
    {"flac16_blocks", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 2, kBlock, 3 * kBlock},
    {"flac16_off_by_one", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 1, kBlock - 1, 2 * kBlock + 1},
    {"flac24_inside", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 2, kBlock + 1, 2 * kBlock - 1},
    {"flac24_tail", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 2, 12345, kSongFrames},
    {"wav16_head", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 0, 1},
    {"wav24_odd_bytes", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 1, 7, 10},
    {"wav24_multichannel", SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, 6, 999, kSongFrames},
    {"wavfloat", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, kBlock - 1, kBlock + 1},
};

void PrintTo(const Row& r, std::ostream* os) {
    *os << r.name;
}

// The song's samples as libsndfile reads them: 32-bit integers (the width's bits on top), or
// the float bits of a float file, so that equality is exact either way.
std::vector<std::int32_t> samplesOf(const QString& path, std::uint64_t from, std::uint64_t to,
                                    SF_INFO* info = nullptr) {
    SF_INFO local{};
    SF_INFO& i = info ? *info : local;
    SNDFILE* f = sf_open(path.toLocal8Bit().constData(), SFM_READ, &i);
    if (!f) {
        ADD_FAILURE() << path.toStdString() << ": " << sf_strerror(nullptr);
        return {};
    }
    std::vector<std::int32_t> out(std::size_t(to - from) * std::size_t(i.channels));
    const bool floats = (i.format & SF_FORMAT_SUBMASK) == SF_FORMAT_FLOAT;
    sf_seek(f, sf_count_t(from), SEEK_SET);
    const sf_count_t frames = sf_count_t(to - from);
    const sf_count_t got = floats ? sf_readf_float(f, reinterpret_cast<float*>(out.data()), frames)
                                  : sf_readf_int(f, out.data(), frames);
    EXPECT_EQ(got, frames) << path.toStdString();
    sf_close(f);
    return out;
}

void writeSong(const QString& path, const Row& r) {
    SF_INFO info{};
    info.samplerate = kRate;
    info.channels = r.channels;
    info.format = r.format;
    SNDFILE* f = sf_open(path.toLocal8Bit().constData(), SFM_WRITE, &info);
    ASSERT_TRUE(f) << sf_strerror(nullptr);
    std::mt19937 noise(7);
    std::vector<std::int32_t> ints(kSongFrames * std::size_t(r.channels));
    for (auto& s : ints)
        s = std::int32_t(noise());
    if ((r.format & SF_FORMAT_SUBMASK) == SF_FORMAT_FLOAT) {
        std::vector<float> floats(ints.size());
        for (std::size_t i = 0; i < ints.size(); ++i)
            floats[i] = float(ints[i]) / 4294967296.f;
        EXPECT_EQ(sf_writef_float(f, floats.data(), kSongFrames), sf_count_t(kSongFrames));
    } else {
        EXPECT_EQ(sf_writef_int(f, ints.data(), kSongFrames), sf_count_t(kSongFrames));
    }
    sf_close(f);
}

class LosslessCopyTest : public ::testing::TestWithParam<Row> {};

TEST_P(LosslessCopyTest, ClipHoldsTheSongsSamplesAtItsWidth) {
    const Row& r = GetParam();
    QTemporaryDir dir;
    const bool flac = (r.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_FLAC;
    const QString ext = flac ? QStringLiteral(".flac") : QStringLiteral(".wav");
    const QString song = dir.filePath(QStringLiteral("song") + ext);
    const QString clip = dir.filePath(QStringLiteral("clip") + ext);
    writeSong(song, r);

    fc::ClipOutput output;
    output.kind = flac ? &formats::info(formats::Format::Flac) : &formats::wav();
    const auto sound = fc::keptSound(song, output);
    ASSERT_TRUE(sound) << sound.error().text().toStdString();
    EXPECT_EQ(sound->frames, kSongFrames);
    EXPECT_EQ(sound->sampleRate, kRate);
    const Status copied = fc::copyClip(song, r.in, r.out, clip, output, {});
    ASSERT_TRUE(copied) << copied.error().text().toStdString();

    SF_INFO songInfo{}, clipInfo{};
    const auto expected = samplesOf(song, r.in, r.out, &songInfo);
    samplesOf(clip, 0, 0, &clipInfo);
    EXPECT_EQ(clipInfo.frames, sf_count_t(r.out - r.in));
    EXPECT_EQ(clipInfo.format, songInfo.format);
    EXPECT_EQ(clipInfo.channels, r.channels);
    EXPECT_EQ(samplesOf(clip, 0, r.out - r.in), expected);

    // The program's own reader takes the clip as it takes the song.
    const auto reader = SongReader::open(clip);
    ASSERT_TRUE(reader) << reader.error().text().toStdString();
    EXPECT_EQ(reader->frames(), r.out - r.in);

    if (flac && havePeer(QStringLiteral("flac"))) {
        const auto t =
            runPeer(QStringLiteral("flac"), {QStringLiteral("-t"), QStringLiteral("-s"), clip});
        EXPECT_TRUE(t.ok()) << t.failure().toStdString();
    }
    if (havePeer(QStringLiteral("ffmpeg"))) {
        const bool floats = (r.format & SF_FORMAT_SUBMASK) == SF_FORMAT_FLOAT;
        const auto f = runPeer(QStringLiteral("ffmpeg"),
                               {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"),
                                clip, QStringLiteral("-f"),
                                floats ? QStringLiteral("f32le") : QStringLiteral("s32le"),
                                QStringLiteral("-")});
        ASSERT_TRUE(f.ok()) << f.failure().toStdString();
        std::vector<std::int32_t> decoded(std::size_t(f.out.size()) / 4);
        std::memcpy(decoded.data(), f.out.constData(), decoded.size() * 4);
        EXPECT_EQ(decoded, expected);
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, LosslessCopyTest, ::testing::ValuesIn(kRows),
                         [](const auto& p) { return std::string(p.param.name); });

// A WAV of coded samples (A-law here) is not copied byte for byte: the clip is re-encoded, and
// the words say why.
TEST(LosslessCopy, CodedWavIsNotKept) {
    QTemporaryDir dir;
    const QString song = dir.filePath(QStringLiteral("alaw.wav"));
    writeSong(song, {"alaw", SF_FORMAT_WAV | SF_FORMAT_ALAW, 1, 0, 0});
    fc::ClipOutput output;
    output.kind = &formats::wav();
    const Status keep = fc::canKeep(song, output);
    ASSERT_FALSE(keep);
    EXPECT_EQ(keep.error().step(), int(fc::CopyStep::CannotKeep));
    EXPECT_TRUE(keep.error().cause().contains(QStringLiteral("plain PCM")))
        << keep.error().cause().toStdString();
}

} // namespace
} // namespace quaverly

// MPEG audio through the song reader: the ISO compliance streams against their reference PCM, the
// edge files, a stream that changes format, and bytes that are not audio.

#include "DecodeTestUtil.h"
#include "support/TestPaths.h"

#include <QTemporaryDir>

#include <random>

using namespace decode_test;

namespace {

struct ReferenceCase {
    const char* stream;
    const char* reference;
    std::uint32_t rate;
    int channels;
    SongKind kind;
    std::size_t frames; // what libmpg123 1.31.2 delivers (the reference may lack the last frame)
};

std::ostream& operator<<(std::ostream& os, const ReferenceCase& c) {
    return os << c.stream;
}

class CompliesWithReference : public ::testing::TestWithParam<ReferenceCase> {};

TEST_P(CompliesWithReference, WithinOneLsbOverTheCommonLength) {
    const auto& c = GetParam();
    auto song = SongReader::open(realFile(c.stream));
    ASSERT_TRUE(song) << song.error().text().toStdString();
    EXPECT_EQ(song->format().rate, c.rate);
    EXPECT_EQ(song->format().channels, c.channels);
    EXPECT_EQ(song->format().kind, c.kind);
    EXPECT_EQ(song->format().sourceBits, 0);
    EXPECT_FALSE(song->format().channelsChange);
    EXPECT_EQ(song->frames(), c.frames);

    const auto ours = decodeRest(*song);
    const auto ref = samplesOf(readAll(realFile(c.reference)));
    ASSERT_EQ(ours.size(), c.frames * std::size_t(c.channels));
    ASSERT_FALSE(ref.empty());
    EXPECT_LE(maxDiff(ours, ref, std::min(ours.size(), ref.size())), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Iso, CompliesWithReference,
    ::testing::Values(ReferenceCase{"mp3/iso/l3-compl.bit", "mp3/iso/l3-compl.pcm", 48000, 1,
                                    SongKind::MpegLayer3, 248832},
                      ReferenceCase{"mp3/iso/l3-he_32khz.bit", "mp3/iso/l3-he_32khz.pcm", 32000, 1,
                                    SongKind::MpegLayer3, 172800},
                      ReferenceCase{"mp3/iso/l3-he_free.bit", "mp3/iso/l3-he_free.pcm", 44100, 2,
                                    SongKind::MpegLayer3, 78336},
                      ReferenceCase{"mp3/iso/l3-si_huff.bit", "mp3/iso/l3-si_huff.pcm", 44100, 1,
                                    SongKind::MpegLayer3, 86400},
                      ReferenceCase{"mp3/iso/M2L3_compl24.bit", "mp3/iso/M2L3_compl24.pcm", 24000,
                                    1, SongKind::MpegLayer3, 122112},
                      ReferenceCase{"mp3/iso/l2-fl13.bit", "mp3/iso/l2-fl13.pcm", 32000, 1,
                                    SongKind::MpegLayer2, 56448},
                      // Gapless: the LAME tag's delay and padding are cut (364032 frames without).
                      ReferenceCase{"mp3/edge/l3-nonstandard-sin1k0db_lame_vbrtag.bit",
                                    "mp3/edge/l3-nonstandard-sin1k0db_lame_vbrtag.pcm", 44100, 2,
                                    SongKind::MpegLayer3, 362880}));

struct EdgeCase {
    const char* file;
    int error; // 0 when the file opens
    std::size_t frames;
    std::uint32_t rate;
    int channels;
};

std::ostream& operator<<(std::ostream& os, const EdgeCase& c) {
    return os << c.file;
}

class EdgeFiles : public ::testing::TestWithParam<EdgeCase> {};

TEST_P(EdgeFiles, OpenWithTheirLengthOrFailCleanly) {
    const auto& c = GetParam();
    const QString path = realFile(c.file);
    auto song = SongReader::open(path);
    if (c.error != 0) {
        ASSERT_FALSE(song);
        EXPECT_EQ(song.error().code(), c.error) << song.error().text().toStdString();
        EXPECT_EQ(song.error().file(), path);
        EXPECT_FALSE(song.error().cause().isEmpty());
        return;
    }
    ASSERT_TRUE(song) << song.error().text().toStdString();
    EXPECT_EQ(song->format().rate, c.rate);
    EXPECT_EQ(song->format().channels, c.channels);
    EXPECT_EQ(decodeRest(*song).size(), c.frames * std::size_t(c.channels));
}

INSTANTIATE_TEST_SUITE_P(
    Edge, EdgeFiles,
    ::testing::Values(
        EdgeCase{"mp3/edge/cbr.mp3", 0, 19584, 44100, 2},
        EdgeCase{"mp3/edge/vbri.mp3", 0, 19584, 44100, 2},
        EdgeCase{"mp3/edge/vbr_xing_header.mp3", 0, 172740, 44100, 1},
        EdgeCase{"mp3/edge/mpeg25_8khz_vbr.mp3", 0, 800, 8000, 2},
        EdgeCase{"mp3/edge/mpeg2_22050hz_vbr.mp3", 0, 2205, 22050, 2},
        EdgeCase{"mp3/edge/silence-44khz-56k-mono-1s.mp3", 0, 46080, 44100, 1},
        EdgeCase{"mp3/edge/id3_xxx_lang.mp3", 0, 4608, 44100, 2},
        EdgeCase{"mp3/edge/mpeg1_id3v1.mp3", 0, 4410, 44100, 2},
        EdgeCase{"mp3/edge/l3-nonstandard-compl-sideinfo-blocktype.bit", 0, 248832, 48000, 1},
        // libmpg123 finds a single audio frame after the Xing tag, and gapless trimming leaves
        // no sample of it; a single frame is no proof of MPEG audio, so it is refused.
        EdgeCase{"mp3/edge/vbr_xing_header_short.mp3", sound::kFileForm, 0, 0, 0},
        EdgeCase{"mp3/edge/l3-nonstandard-id3v2.bit", sound::kFileForm, 0, 0, 0},
        EdgeCase{"mp3/edge/empty_file.mp3", sound::kFileForm, 0, 0, 0},
        EdgeCase{"mp3/edge/incomplete.mp3", sound::kFileForm, 0, 0, 0},
        EdgeCase{"mp3/edge/l3-nonstandard-small.bit", sound::kFileForm, 0, 0, 0},
        EdgeCase{"mp3/edge/l3-nonstandard-vbrtag-only.bit", sound::kFileForm, 0, 0, 0},
        EdgeCase{"mp3/edge/l3-compl-cut.mp3", sound::kFileForm, 0, 0, 0},
        EdgeCase{"mp3/edge/id3v1_does_not_overwrite_id3v2.mp3", sound::kFileForm, 0, 0, 0},
        EdgeCase{"mp3/edge/id3v24-long-title.mp3", sound::kFileForm, 0, 0, 0},
        EdgeCase{"mp3/edge/no-such-file.mp3", sound::kFileOpen, 0, 0, 0}));

// l3-he_mode.bit: 10 mono, 10 dual-channel, 10 stereo, 80 joint-stereo, 18 mono frames. The
// whole file comes out stereo, mono frames on both sides. The reference interleaves each frame
// in its own mode; libmpg123 and the reference disagree on the first frame after each switch
// between mono and stereo (frames 10 and 110), which is left out of the comparison.
TEST(FormatChanges, ModeChangesKeepOneStereoFormat) {
    auto song = SongReader::open(realFile("mp3/iso/l3-he_mode.bit"));
    ASSERT_TRUE(song) << song.error().text().toStdString();
    EXPECT_EQ(song->format().channels, 2);
    EXPECT_EQ(song->format().rate, 44100u);
    EXPECT_TRUE(song->format().channelsChange);
    constexpr std::size_t kFrame = 1152, kFrames = 128;
    EXPECT_EQ(song->frames(), kFrames * kFrame);
    const auto ours = decodeRest(*song);
    ASSERT_EQ(ours.size(), kFrames * kFrame * 2);

    const auto ref = samplesOf(readAll(realFile("mp3/iso/l3-he_mode.pcm")));
    std::vector<std::int16_t> refStereo;
    std::size_t at = 0;
    for (std::size_t f = 0; f < kFrames; ++f) {
        const bool mono = f < 10 || f >= 110;
        for (std::size_t i = 0; i < kFrame; ++i) {
            refStereo.push_back(ref[at]);
            refStereo.push_back(ref[mono ? at : at + 1]);
            at += mono ? 1 : 2;
        }
    }
    ASSERT_EQ(at, ref.size());
    for (std::size_t f = 0; f < kFrames; ++f) {
        if (f == 10 || f == 110)
            continue;
        EXPECT_LE(maxDiff(ours, refStereo, (f + 1) * kFrame * 2, f * kFrame * 2), 1)
            << "frame " << f;
    }
}

// Two streams glued together, 48 kHz then 44.1 kHz: the second part is resampled to the first
// rate, and the length announced at open is exactly what is delivered.
TEST(FormatChanges, RateChangeIsResampledToTheFirstRate) {
    QTemporaryDir dir;
    const QString glued = dir.filePath("glued.mp3");
    writeAll(glued, readAll(realFile("mp3/iso/l3-compl.bit")) +
                        readAll(realFile("mp3/iso/l3-si_huff.bit")));
    auto song = SongReader::open(glued);
    ASSERT_TRUE(song) << song.error().text().toStdString();
    EXPECT_EQ(song->format().rate, 48000u);
    EXPECT_EQ(song->format().channels, 1);
    const auto first = decodeRest(*song);
    ASSERT_EQ(first.size(), song->frames());
    // 248832 samples at 48 kHz, then 86400 at 44.1 kHz become about 94041.
    EXPECT_NEAR(double(first.size()), 248832.0 + 86400.0 * 48000.0 / 44100.0, 2400.0);
    const auto ref = samplesOf(readAll(realFile("mp3/iso/l3-compl.pcm")));
    EXPECT_LE(maxDiff(first, ref, 248832 - 1152), 1);

    // Positions in the resampled part are exact too.
    const std::size_t mid = 300000;
    ASSERT_TRUE(song->seek(mid));
    const auto tail = decodeRest(*song);
    ASSERT_EQ(tail.size(), first.size() - mid);
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), first.begin() + std::ptrdiff_t(mid)));
}

struct NotAudioCase {
    const char* name;
    QByteArray (*make)();
};

std::ostream& operator<<(std::ostream& os, const NotAudioCase& c) {
    return os << c.name;
}

QByteArray randomBytes(std::size_t size, unsigned seed) {
    std::mt19937 gen(seed);
    QByteArray b(static_cast<qsizetype>(size), '\0');
    for (auto& ch : b)
        ch = static_cast<char>(gen() & 0xFF);
    return b;
}

class NotAudio : public ::testing::TestWithParam<NotAudioCase> {};

TEST_P(NotAudio, IsRefusedNotDecodedAsNoise) {
    QTemporaryDir dir;
    const QString path = dir.filePath("song.mp3");
    writeAll(path, GetParam().make());
    const auto song = SongReader::open(path);
    ASSERT_FALSE(song);
    EXPECT_EQ(song.error().code(), sound::kFileForm) << song.error().text().toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Junk, NotAudio,
    ::testing::Values(NotAudioCase{"text",
                                   [] {
                                       QByteArray lines;
                                       for (int i = 0; i < 2000; ++i)
                                           lines += "Quaverly turns songs into short clips, line " +
                                                    QByteArray::number(i) + "\r\n";
                                       return lines;
                                   }},
                      NotAudioCase{"random1", [] { return randomBytes(300000, 1); }},
                      NotAudioCase{"random2", [] { return randomBytes(300000, 2); }},
                      NotAudioCase{"random3", [] { return randomBytes(300000, 3); }},
                      // One genuine frame header and body, then noise: one frame proves nothing.
                      NotAudioCase{"frameThenNoise",
                                   [] {
                                       const QByteArray cbr = readAll(realFile("mp3/edge/cbr.mp3"));
                                       const auto sync = cbr.indexOf("\xFF\xFB");
                                       return cbr.mid(sync, 417) + randomBytes(100000, 4);
                                   }},
                      // An ID3v2 tag claiming 256 MB, and nothing behind it.
                      NotAudioCase{"hugeId3Size",
                                   [] {
                                       return QByteArray("ID3\x04\x00\x00\x7F\x7F\x7F\x7F", 10) +
                                              randomBytes(1000, 5);
                                   }},
                      NotAudioCase{"zeros", [] { return QByteArray(100000, '\0'); }}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(Truncated, CutMp3DecodesWhatIsThereAndKeepsItsLength) {
    QTemporaryDir dir;
    const QString path = dir.filePath("cut.mp3");
    const QByteArray whole = readAll(realFile("mp3/iso/l3-compl.bit"));
    writeAll(path, whole.left(whole.size() / 2 + 77)); // ends inside a frame
    auto song = SongReader::open(path);
    ASSERT_TRUE(song) << song.error().text().toStdString();
    EXPECT_GT(song->frames(), 0u);
    EXPECT_LT(song->frames(), 248832u);
    const auto ours = decodeRest(*song);
    const auto ref = samplesOf(readAll(realFile("mp3/iso/l3-compl.pcm")));
    EXPECT_LE(maxDiff(ours, ref, ours.size()), 1);
}

#ifdef Q_OS_UNIX
// A tag announcing 2^32 frames on a stream the decoder resamples (found by fuzzing) took
// minutes to open: libmpg123 walks the announced frames one by one. Such a tag is ignored, so
// the file opens at once and every frame it holds is decoded. The file is opened in a child
// process with a time limit, so a regression fails instead of hanging the suite.
QByteArray withFrameCount(QByteArray mp3, quint32 frames) {
    const auto tag = std::max(mp3.indexOf("Xing"), mp3.indexOf("Info"));
    if (tag >= 0 && (mp3[tag + 7] & 1))
        for (int i = 0; i < 4; ++i)
            mp3[tag + 8 + i] = static_cast<char>(frames >> (24 - 8 * i));
    return mp3;
}

TEST(FalseFrameCount, OpensAtOnceAndKeepsEveryFrame) {
    EXPECT_EQ(decodeInChild(quaverly::test::dataPath("/fuzz/mpeg-scan-hang.mp3")),
              InChild::Decoded);

    // Taken for a file cut short, the tagged file keeps its padding (its end counts as
    // missing): more samples than the file with its true count, never fewer.
    QTemporaryDir dir;
    const QByteArray cbr = readAll(realFile("mp3/edge/cbr.mp3"));
    const QString truthful = dir.filePath("true.mp3");
    const QString lying = dir.filePath("lying.mp3");
    writeAll(truthful, cbr);
    writeAll(lying, withFrameCount(cbr, 0xFFFFFFFF));
    const auto t = SongReader::open(truthful);
    const auto l = SongReader::open(lying);
    ASSERT_TRUE(t);
    ASSERT_TRUE(l) << l.error().text().toStdString();
    EXPECT_GT(l->frames(), t->frames());
}
#endif

} // namespace

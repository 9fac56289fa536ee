// MPEG audio through the layer: the ISO compliance streams against their reference PCM, the
// edge files, a stream that changes format, and bytes that are not audio.

#include "BassTestUtil.h"

#include <QTemporaryDir>

#include <random>

using namespace bass_test;

namespace {

struct ReferenceCase {
    const char* stream;
    const char* reference;
    DWORD rate;
    DWORD chans;
    DWORD ctype;
    std::size_t frames; // what libmpg123 1.31.2 delivers (the reference may lack the last frame)
};

std::ostream& operator<<(std::ostream& os, const ReferenceCase& c) {
    return os << c.stream;
}

class CompliesWithReference : public LayerTest,
                              public ::testing::WithParamInterface<ReferenceCase> {};

TEST_P(CompliesWithReference, WithinOneLsbOverTheCommonLength) {
    const auto& c = GetParam();
    const HSTREAM h = open(realFile(c.stream));
    ASSERT_NE(h, 0u) << lastErrorText();
    BASS_CHANNELINFO info;
    ASSERT_TRUE(BASS_ChannelGetInfo(h, &info));
    EXPECT_EQ(info.freq, c.rate);
    EXPECT_EQ(info.chans, c.chans);
    EXPECT_EQ(info.ctype, c.ctype);
    EXPECT_EQ(info.flags & BASS_SAMPLE_8BITS, 0u);
    DWORD freq = 0;
    ASSERT_TRUE(BASS_ChannelGetAttributes(h, &freq, nullptr, nullptr));
    EXPECT_EQ(freq, c.rate);
    EXPECT_EQ(BASS_ChannelGetLength(h), QWORD(c.frames) * c.chans * 2);

    const auto ours = samplesOf(decodeRest(h));
    const auto ref = samplesOf(readAll(realFile(c.reference)));
    ASSERT_EQ(ours.size(), c.frames * c.chans);
    ASSERT_FALSE(ref.empty());
    EXPECT_LE(maxDiff(ours, ref, std::min(ours.size(), ref.size())), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Iso, CompliesWithReference,
    ::testing::Values(ReferenceCase{"mp3/iso/l3-compl.bit", "mp3/iso/l3-compl.pcm", 48000, 1,
                                    BASS_CTYPE_STREAM_MP3, 248832},
                      ReferenceCase{"mp3/iso/l3-he_32khz.bit", "mp3/iso/l3-he_32khz.pcm", 32000, 1,
                                    BASS_CTYPE_STREAM_MP3, 172800},
                      ReferenceCase{"mp3/iso/l3-he_free.bit", "mp3/iso/l3-he_free.pcm", 44100, 2,
                                    BASS_CTYPE_STREAM_MP3, 78336},
                      ReferenceCase{"mp3/iso/l3-si_huff.bit", "mp3/iso/l3-si_huff.pcm", 44100, 1,
                                    BASS_CTYPE_STREAM_MP3, 86400},
                      ReferenceCase{"mp3/iso/M2L3_compl24.bit", "mp3/iso/M2L3_compl24.pcm", 24000,
                                    1, BASS_CTYPE_STREAM_MP3, 122112},
                      ReferenceCase{"mp3/iso/l2-fl13.bit", "mp3/iso/l2-fl13.pcm", 32000, 1,
                                    BASS_CTYPE_STREAM_MP2, 56448},
                      // Gapless: the LAME tag's delay and padding are cut (364032 frames without).
                      ReferenceCase{"mp3/edge/l3-nonstandard-sin1k0db_lame_vbrtag.bit",
                                    "mp3/edge/l3-nonstandard-sin1k0db_lame_vbrtag.pcm", 44100, 2,
                                    BASS_CTYPE_STREAM_MP3, 362880}));

struct EdgeCase {
    const char* file;
    int error; // BASS_OK when the file opens
    std::size_t frames;
    DWORD rate;
    DWORD chans;
};

std::ostream& operator<<(std::ostream& os, const EdgeCase& c) {
    return os << c.file;
}

class EdgeFiles : public LayerTest, public ::testing::WithParamInterface<EdgeCase> {};

TEST_P(EdgeFiles, OpenWithTheirLengthOrFailCleanly) {
    const auto& c = GetParam();
    const HSTREAM h = open(realFile(c.file));
    if (c.error != BASS_OK) {
        EXPECT_EQ(h, 0u);
        EXPECT_EQ(BASS_ErrorGetCode(), c.error) << lastErrorText();
        EXPECT_FALSE(lastErrorText().empty());
        return;
    }
    ASSERT_NE(h, 0u) << lastErrorText();
    BASS_CHANNELINFO info;
    ASSERT_TRUE(BASS_ChannelGetInfo(h, &info));
    EXPECT_EQ(info.freq, c.rate);
    EXPECT_EQ(info.chans, c.chans);
    EXPECT_EQ(decodeRest(h).size(), c.frames * c.chans * 2);
}

INSTANTIATE_TEST_SUITE_P(
    Edge, EdgeFiles,
    ::testing::Values(
        EdgeCase{"mp3/edge/cbr.mp3", BASS_OK, 19584, 44100, 2},
        EdgeCase{"mp3/edge/vbri.mp3", BASS_OK, 19584, 44100, 2},
        EdgeCase{"mp3/edge/vbr_xing_header.mp3", BASS_OK, 172740, 44100, 1},
        EdgeCase{"mp3/edge/mpeg25_8khz_vbr.mp3", BASS_OK, 800, 8000, 2},
        EdgeCase{"mp3/edge/mpeg2_22050hz_vbr.mp3", BASS_OK, 2205, 22050, 2},
        EdgeCase{"mp3/edge/silence-44khz-56k-mono-1s.mp3", BASS_OK, 46080, 44100, 1},
        EdgeCase{"mp3/edge/id3_xxx_lang.mp3", BASS_OK, 4608, 44100, 2},
        EdgeCase{"mp3/edge/mpeg1_id3v1.mp3", BASS_OK, 4410, 44100, 2},
        EdgeCase{"mp3/edge/l3-nonstandard-compl-sideinfo-blocktype.bit", BASS_OK, 248832, 48000, 1},
        // libmpg123 finds a single audio frame after the Xing tag, and gapless trimming leaves
        // no sample of it; a single frame is no proof of MPEG audio, so it is refused.
        EdgeCase{"mp3/edge/vbr_xing_header_short.mp3", BASS_ERROR_FILEFORM, 0, 0, 0},
        EdgeCase{"mp3/edge/l3-nonstandard-id3v2.bit", BASS_ERROR_FILEFORM, 0, 0, 0},
        EdgeCase{"mp3/edge/empty_file.mp3", BASS_ERROR_FILEFORM, 0, 0, 0},
        EdgeCase{"mp3/edge/incomplete.mp3", BASS_ERROR_FILEFORM, 0, 0, 0},
        EdgeCase{"mp3/edge/l3-nonstandard-small.bit", BASS_ERROR_FILEFORM, 0, 0, 0},
        EdgeCase{"mp3/edge/l3-nonstandard-vbrtag-only.bit", BASS_ERROR_FILEFORM, 0, 0, 0},
        EdgeCase{"mp3/edge/l3-compl-cut.mp3", BASS_ERROR_FILEFORM, 0, 0, 0},
        EdgeCase{"mp3/edge/id3v1_does_not_overwrite_id3v2.mp3", BASS_ERROR_FILEFORM, 0, 0, 0},
        EdgeCase{"mp3/edge/id3v24-long-title.mp3", BASS_ERROR_FILEFORM, 0, 0, 0},
        EdgeCase{"mp3/edge/no-such-file.mp3", BASS_ERROR_FILEOPEN, 0, 0, 0}));

using FormatChanges = LayerTest;

// l3-he_mode.bit: 10 mono, 10 dual-channel, 10 stereo, 80 joint-stereo, 18 mono frames. The
// whole file comes out stereo, mono frames on both sides. The reference interleaves each frame
// in its own mode; libmpg123 and the reference disagree on the first frame after each switch
// between mono and stereo (frames 10 and 110), which is left out of the comparison.
TEST_F(FormatChanges, ModeChangesKeepOneStereoFormat) {
    const HSTREAM h = open(realFile("mp3/iso/l3-he_mode.bit"));
    ASSERT_NE(h, 0u) << lastErrorText();
    BASS_CHANNELINFO info;
    ASSERT_TRUE(BASS_ChannelGetInfo(h, &info));
    EXPECT_EQ(info.chans, 2u);
    EXPECT_EQ(info.freq, 44100u);
    constexpr std::size_t kFrame = 1152, kFrames = 128;
    EXPECT_EQ(BASS_ChannelGetLength(h), QWORD(kFrames * kFrame * 4));
    const auto ours = samplesOf(decodeRest(h));
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
TEST_F(FormatChanges, RateChangeIsResampledToTheFirstRate) {
    QTemporaryDir dir;
    const std::string glued = dir.filePath("glued.mp3").toStdString();
    writeAll(glued, readAll(realFile("mp3/iso/l3-compl.bit")) +
                        readAll(realFile("mp3/iso/l3-si_huff.bit")));
    const HSTREAM h = open(glued);
    ASSERT_NE(h, 0u) << lastErrorText();
    BASS_CHANNELINFO info;
    ASSERT_TRUE(BASS_ChannelGetInfo(h, &info));
    EXPECT_EQ(info.freq, 48000u);
    EXPECT_EQ(info.chans, 1u);
    const QWORD length = BASS_ChannelGetLength(h);
    const auto first = decodeRest(h);
    ASSERT_EQ(first.size(), length);
    // 248832 samples at 48 kHz, then 86400 at 44.1 kHz become about 94041.
    const std::size_t samples = first.size() / 2;
    EXPECT_NEAR(double(samples), 248832.0 + 86400.0 * 48000.0 / 44100.0, 2400.0);
    const auto ref = samplesOf(readAll(realFile("mp3/iso/l3-compl.pcm")));
    EXPECT_LE(maxDiff(samplesOf(first), ref, 248832 - 1152), 1);

    // Positions in the resampled part are exact too.
    const QWORD mid = 600000;
    ASSERT_TRUE(BASS_ChannelSetPosition(h, mid));
    const auto tail = decodeRest(h);
    ASSERT_EQ(tail.size(), first.size() - mid);
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), first.begin() + mid));
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

class NotAudio : public LayerTest, public ::testing::WithParamInterface<NotAudioCase> {};

TEST_P(NotAudio, IsRefusedNotDecodedAsNoise) {
    QTemporaryDir dir;
    const std::string path = dir.filePath("song.mp3").toStdString();
    writeAll(path, GetParam().make());
    EXPECT_EQ(open(path), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FILEFORM) << lastErrorText();
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

using Truncated = LayerTest;

TEST_F(Truncated, CutMp3DecodesWhatIsThereAndKeepsItsLength) {
    QTemporaryDir dir;
    const std::string path = dir.filePath("cut.mp3").toStdString();
    const QByteArray whole = readAll(realFile("mp3/iso/l3-compl.bit"));
    writeAll(path, whole.left(whole.size() / 2 + 77)); // ends inside a frame
    const HSTREAM h = open(path);
    ASSERT_NE(h, 0u) << lastErrorText();
    const QWORD length = BASS_ChannelGetLength(h);
    EXPECT_GT(length, 0u);
    EXPECT_LT(length, QWORD(248832) * 2);
    const auto ours = samplesOf(decodeRest(h));
    const auto ref = samplesOf(readAll(realFile("mp3/iso/l3-compl.pcm")));
    EXPECT_LE(maxDiff(ours, ref, ours.size()), 1);
}

#ifdef Q_OS_UNIX
// A tag announcing 2^32 frames on a stream the decoder resamples (found by fuzzing) took
// minutes to open: libmpg123 walks the announced frames one by one. Such a tag is ignored, so
// the file opens at once and every frame it holds is decoded. The file is opened in a child
// process with a time limit, so a regression fails instead of hanging the suite.
using FalseFrameCount = LayerTest;

QByteArray withFrameCount(QByteArray mp3, quint32 frames) {
    const auto tag = std::max(mp3.indexOf("Xing"), mp3.indexOf("Info"));
    if (tag >= 0 && (mp3[tag + 7] & 1))
        for (int i = 0; i < 4; ++i)
            mp3[tag + 8 + i] = static_cast<char>(frames >> (24 - 8 * i));
    return mp3;
}

TEST_F(FalseFrameCount, OpensAtOnceAndKeepsEveryFrame) {
    EXPECT_EQ(decodeInChild(QUAVERLY_TEST_DATA "/fuzz/mpeg-scan-hang.mp3"), InChild::Decoded);

    // Without gapless trimming the tagged file keeps the encoder delay and padding: more
    // samples than the file with its true count, never fewer.
    QTemporaryDir dir;
    const QByteArray cbr = readAll(realFile("mp3/edge/cbr.mp3"));
    const std::string truthful = dir.filePath("true.mp3").toStdString();
    const std::string lying = dir.filePath("lying.mp3").toStdString();
    writeAll(truthful, cbr);
    writeAll(lying, withFrameCount(cbr, 0xFFFFFFFF));
    const HSTREAM t = open(truthful), l = open(lying);
    ASSERT_NE(t, 0u);
    ASSERT_NE(l, 0u) << lastErrorText();
    EXPECT_GT(BASS_ChannelGetLength(l), BASS_ChannelGetLength(t));
}
#endif

} // namespace

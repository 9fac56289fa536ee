#include "engines/wav/WavHeader.h"
#include "support/TestPaths.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using quaverly::probeWav;
using quaverly::WavHeader;

namespace {

QString real(const char* rel) {
    return quaverly::test::dataPath("/real/wav/") + QString::fromUtf8(rel);
}

TEST(WavHeader, SerialisesTheCanonicalLayout) {
    const auto h = WavHeader::pcm(2, 44100, 16, 1000);
    const auto b = h.toBytes();
    EXPECT_EQ(0, memcmp(b.data(), "RIFF", 4));
    EXPECT_EQ(0, memcmp(b.data() + 8, "WAVEfmt ", 8));
    EXPECT_EQ(0, memcmp(b.data() + 36, "data", 4));
    EXPECT_EQ(h.riffSize, 1036u);
    EXPECT_EQ(b[4] | (b[5] << 8), 1036);
    EXPECT_EQ(b[40] | (b[41] << 8), 1000);
    EXPECT_EQ(h.blockAlign, 4);
    EXPECT_EQ(h.bytesPerSecond, 176400u);
    const auto back = WavHeader::fromBytes(b.data(), b.size());
    ASSERT_TRUE(back);
    EXPECT_EQ(back->bytesPerSecond, 176400u);
    EXPECT_EQ(back->dataSize, 1000u);
    EXPECT_EQ(back->toBytes(), b);

    const auto mono8 = WavHeader::pcm(1, 22050, 8);
    EXPECT_EQ(mono8.blockAlign, 1);
    EXPECT_EQ(mono8.bytesPerSecond, 22050u);
}

struct ProbeCase {
    const char* file;
    bool readable;
    std::uint64_t dataOffset;
    std::uint64_t dataSize;
    bool canonical;
};

class ProbeRealFiles : public ::testing::TestWithParam<ProbeCase> {};

TEST_P(ProbeRealFiles, FindsTheSamplesOrRefusesCleanly) {
    const auto& c = GetParam();
    const auto w = probeWav(real(c.file));
    ASSERT_EQ(bool(w), c.readable) << c.file << ": " << (w ? "" : w.error().text().toStdString());
    if (!w) {
        EXPECT_EQ(w.error().file(), real(c.file));
        EXPECT_FALSE(w.error().cause().isEmpty());
        EXPECT_EQ(w.error().code(), quaverly::sound::kFileForm);
        return;
    }
    EXPECT_EQ(w->dataOffset, c.dataOffset) << c.file;
    EXPECT_EQ(w->dataSize, c.dataSize) << c.file;
    EXPECT_EQ(w->canonical, c.canonical) << c.file;
}

INSTANTIATE_TEST_SUITE_P(
    Files, ProbeRealFiles,
    ::testing::Values(
        ProbeCase{"wavefile/valid/stereo_pcm_16_44100.wav", true, 44, 8960, true},
        ProbeCase{"wavefile/valid/with_smpl_chunk_after_data_chunk.wav", true, 44, 8960, false},
        ProbeCase{"wavefile/valid/format_chunk_with_extra_bytes.wav", true, 52, 2240, false},
        ProbeCase{"wavefile/valid/no_samples.wav", true, 44, 0, true},
        ProbeCase{"wavefile/invalid/data_chunk_truncated.wav", true, 44, 2240, false},
        ProbeCase{"wavefile/invalid/no_data_chunk.wav", false, 0, 0, false},
        ProbeCase{"wavefile/invalid/format_chunk_after_data_chunk.wav", true, 20, 8960, false},
        ProbeCase{"wavefile/invalid/empty.wav", false, 0, 0, false},
        ProbeCase{"wavefile/invalid/incomplete_riff_header.wav", false, 0, 0, false},
        ProbeCase{"wavefile/invalid/bad_riff_header.wav", false, 0, 0, false},
        ProbeCase{"wavefile/unsupported/bad_channel_count.wav", false, 0, 0, false},
        ProbeCase{"hound/pcmwaveformat-16bit-44100Hz-mono-extra.wav", true, 78, 8, false},
        ProbeCase{"hound/fuzz-crash-e879de4e.wav", false, 0, 0, false},
        ProbeCase{"hound/nonstandard-01.wav", true, 802, 6, false},
        ProbeCase{"wavjl/48000_stereo_pcm16_long_datalength.wav", true, 44, 400, false},
        ProbeCase{"tinytag/test-tagged.wav", true, 44, 176400, false},
        ProbeCase{"tinytag/wav_with_image.wav", true, 44, 17157, false}));

TEST(ProbeWav, ExtensibleReportsItsSubFormat) {
    const auto w = probeWav(real("wavefile/valid/extensible_stereo_pcm_16_44100.wav"));
    ASSERT_TRUE(w);
    EXPECT_EQ(w->formatTag, 1);
    EXPECT_EQ(w->bitsPerSample, 16);
    EXPECT_FALSE(w->canonical);
}

TEST(ProbeWav, TrailingBytesBreakTheCanonicalLayout) {
    QTemporaryDir dir;
    const QString path = dir.filePath("t.wav");
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    const auto h = WavHeader::pcm(1, 8000, 16, 4).toBytes();
    f.write(reinterpret_cast<const char*>(h.data()), h.size());
    f.write("\1\0\2\0", 4);
    f.close();
    auto w = probeWav(path);
    ASSERT_TRUE(w);
    EXPECT_TRUE(w->canonical);
    ASSERT_TRUE(f.open(QIODevice::Append));
    f.write("xx", 2);
    f.close();
    w = probeWav(path);
    ASSERT_TRUE(w);
    EXPECT_FALSE(w->canonical);
    EXPECT_EQ(w->dataSize, 4u);
}

} // namespace

// WAV files through the song reader: the real files of other programs, and small files made here
// whose samples have known values, to check every conversion to 16 bits exactly.

#include "DecodeTestUtil.h"
#include "support/TestPaths.h"

#include "engines/wav/WavHeader.h"

#include <QTemporaryDir>

#include <cstring>

using namespace decode_test;

namespace {

struct WavCase {
    const char* file;
    int error; // 0 when the file opens
    std::size_t frames;
    std::uint32_t rate;
    int channels;
    int sourceBits;
    // When 8, 16 or 24: integer PCM whose data chunk the test converts itself for comparison.
    int pcmBits;
};

std::ostream& operator<<(std::ostream& os, const WavCase& c) {
    return os << c.file;
}

// The samples of the data chunk (found by the project's own chunk walker), as 16-bit.
std::vector<std::int16_t> expectedFromDataChunk(const QString& path, int bits) {
    const auto layout = quaverly::probeWav(path);
    if (!layout)
        return {};
    const QByteArray all = readAll(path);
    const auto* p = reinterpret_cast<const std::uint8_t*>(all.constData()) + layout->dataOffset;
    std::vector<std::int16_t> out;
    const std::size_t bytes = bits / 8;
    for (std::size_t i = 0; i + bytes <= layout->dataSize; i += bytes) {
        if (bits == 8)
            out.push_back(static_cast<std::int16_t>((p[i] - 128) * 256));
        else if (bits == 16)
            out.push_back(static_cast<std::int16_t>(p[i] | (p[i + 1] << 8)));
        else
            out.push_back(static_cast<std::int16_t>(p[i + 1] | (p[i + 2] << 8)));
    }
    return out;
}

class RealWavFiles : public ::testing::TestWithParam<WavCase> {};

TEST_P(RealWavFiles, DecodeToTheirSamplesOrFailCleanly) {
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
    EXPECT_EQ(song->format().sourceBits, c.sourceBits);
    EXPECT_EQ(song->format().kind, SongKind::Wav);
    const auto ours = decodeRest(*song);
    EXPECT_EQ(ours.size(), c.frames * std::size_t(c.channels));
    if (c.pcmBits) {
        const auto expected = expectedFromDataChunk(path, c.pcmBits);
        EXPECT_EQ(ours, expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Real, RealWavFiles,
    ::testing::Values(
        WavCase{"wav/wavefile/valid/stereo_pcm_16_44100.wav", 0, 2240, 44100, 2, 16, 16},
        WavCase{"wav/wavefile/valid/mono_pcm_16_44100_junk_chunk_with_padding_byte.wav", 0, 2240,
                44100, 1, 16, 16},
        WavCase{"wav/wavefile/valid/"
                "mono_pcm_16_44100_junk_chunk_final_chunk_missing_padding_byte.wav",
                0, 2240, 44100, 1, 16, 16},
        WavCase{"wav/wavefile/valid/mono_pcm_8_44100_with_padding_byte.wav", 0, 2241, 44100, 1, 8,
                8},
        WavCase{"wav/wavefile/valid/stereo_pcm_8_44100.wav", 0, 2240, 44100, 2, 8, 8},
        WavCase{"wav/wavefile/valid/stereo_pcm_24_44100.wav", 0, 2240, 44100, 2, 24, 24},
        WavCase{"wav/wavefile/valid/extensible_stereo_pcm_16_44100.wav", 0, 2240, 44100, 2, 16, 16},
        WavCase{"wav/wavefile/valid/extensible_stereo_pcm_24_44100.wav", 0, 2240, 44100, 2, 24, 24},
        WavCase{"wav/wavefile/valid/stereo_float_32_44100.wav", 0, 2240, 44100, 2, 32, 0},
        WavCase{"wav/wavefile/valid/with_smpl_chunk_after_data_chunk.wav", 0, 2240, 44100, 2, 16,
                16},
        WavCase{"wav/wavefile/valid/format_chunk_with_extra_bytes.wav", 0, 2240, 44100, 1, 8, 8},
        WavCase{"wav/wavefile/valid/no_samples.wav", 0, 0, 44100, 1, 8, 8},
        // Three channels are mixed down to stereo.
        WavCase{"wav/wavefile/valid/tri_pcm_16_44100.wav", 0, 2240, 44100, 2, 16, 0},
        // The data chunk claims 100000 bytes; the 2240 present are decoded, nothing beyond.
        WavCase{"wav/wavefile/invalid/data_chunk_truncated.wav", 0, 2240, 44100, 1, 8, 8},
        WavCase{"wav/wavefile/invalid/no_data_chunk.wav", sound::kFileForm, 0, 0, 0, 0, 0},
        WavCase{"wav/wavefile/invalid/format_chunk_after_data_chunk.wav", sound::kFileForm, 0, 0, 0,
                0, 0},
        WavCase{"wav/wavefile/invalid/empty.wav", sound::kFileForm, 0, 0, 0, 0, 0},
        WavCase{"wav/wavefile/invalid/incomplete_riff_header.wav", sound::kFileForm, 0, 0, 0, 0, 0},
        WavCase{"wav/wavefile/invalid/bad_riff_header.wav", sound::kFileForm, 0, 0, 0, 0, 0},
        // A-law, with no samples: libsndfile reads A-law, so the file is an empty stream.
        WavCase{"wav/wavefile/unsupported/unsupported_audio_format.wav", 0, 0, 44100, 2, 0, 0},
        WavCase{"wav/wavefile/unsupported/bad_channel_count.wav", sound::kFileForm, 0, 0, 0, 0, 0},
        WavCase{"wav/hound/pcmwaveformat-16bit-44100Hz-mono-extra.wav", 0, 4, 44100, 1, 16, 16},
        WavCase{"wav/hound/waveformatextensible-24bit-4byte-48kHz-stereo.wav", 0, 2, 48000, 2, 32,
                0},
        WavCase{"wav/hound/nonstandard-01.wav", 0, 1, 48000, 2, 24, 24},
        WavCase{"wav/hound/fuzz-crash-e879de4e.wav", sound::kFileForm, 0, 0, 0, 0, 0},
        WavCase{"wav/wavjl/48000_stereo_pcm16.wav", 0, 100, 48000, 2, 16, 16},
        WavCase{"wav/wavjl/48000_stereo_pcm16_long_datalength.wav", 0, 100, 48000, 2, 16, 16},
        WavCase{"wav/wavjl/48000_stereo_pcm16_long_filelength.wav", 0, 100, 48000, 2, 16, 16},
        WavCase{"wav/tinytag/riff_extra_zero.wav", 0, 5120, 44100, 2, 16, 16},
        WavCase{"wav/tinytag/test-tagged.wav", 0, 44100, 44100, 2, 16, 16},
        WavCase{"wav/tinytag/id3_header_with_a_zero_byte.wav", 0, 22050, 22050, 1, 16, 16},
        WavCase{"wav/tinytag/wav_with_image.wav", 0, 17157, 8000, 1, 8, 8},
        WavCase{"wav/tinytag/silence-22khz-mono-1s.wav", 0, 22032, 22050, 1, 16, 16},
        // MS-ADPCM, which libsndfile decodes.
        WavCase{"wav/tinytag/adpcm_no_byterate.wav", 0, 1012, 8000, 2, 0, 0}));

// A WAV file with one fmt chunk (plain, or extensible with the PCM or float sub-format) and
// one data chunk.
QByteArray makeWav(std::uint16_t formatTag, std::uint16_t channels, std::uint32_t rate,
                   std::uint16_t bits, const QByteArray& data, bool extensible = false) {
    auto le = [](std::uint32_t v, int bytes) {
        QByteArray b;
        for (int i = 0; i < bytes; ++i)
            b += static_cast<char>((v >> (8 * i)) & 0xFF);
        return b;
    };
    const std::uint16_t align = static_cast<std::uint16_t>(channels * bits / 8);
    QByteArray fmt = le(extensible ? 0xFFFE : formatTag, 2) + le(channels, 2) + le(rate, 4) +
                     le(rate * align, 4) + le(align, 2) + le(bits, 2);
    if (extensible) {
        fmt += le(22, 2) + le(bits, 2) + le(channels == 2 ? 3 : 4, 4) + le(formatTag, 2) +
               QByteArray("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14);
    }
    QByteArray body =
        "WAVE" + QByteArray("fmt ") + le(fmt.size(), 4) + fmt + "data" + le(data.size(), 4) + data;
    if (data.size() % 2)
        body += '\0';
    return "RIFF" + le(body.size(), 4) + body;
}

struct ConversionCase {
    const char* name;
    std::uint16_t formatTag;
    std::uint16_t bits;
    bool extensible;
    QByteArray (*samples)();
    std::vector<std::int16_t> expected;
};

std::ostream& operator<<(std::ostream& os, const ConversionCase& c) {
    return os << c.name;
}

QByteArray ints(std::initializer_list<std::int64_t> values, int bytes) {
    QByteArray b;
    for (auto v : values)
        for (int i = 0; i < bytes; ++i)
            b += static_cast<char>((static_cast<std::uint64_t>(v) >> (8 * i)) & 0xFF);
    return b;
}

QByteArray floats(std::initializer_list<float> values) {
    QByteArray b;
    for (float f : values) {
        std::uint32_t u;
        std::memcpy(&u, &f, 4);
        for (int i = 0; i < 4; ++i)
            b += static_cast<char>((u >> (8 * i)) & 0xFF);
    }
    return b;
}

class Conversion : public ::testing::TestWithParam<ConversionCase> {};

TEST_P(Conversion, StaircaseBecomesExact16BitSamples) {
    const auto& c = GetParam();
    QTemporaryDir dir;
    const QString path = dir.filePath("stairs.wav");
    writeAll(path, makeWav(c.formatTag, 1, 22050, c.bits, c.samples(), c.extensible));
    auto song = SongReader::open(path);
    ASSERT_TRUE(song) << song.error().text().toStdString();
    EXPECT_EQ(song->format().channels, 1);
    EXPECT_EQ(song->format().rate, 22050u);
    EXPECT_EQ(song->format().sourceBits, c.bits);
    EXPECT_EQ(decodeRest(*song), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Staircases, Conversion,
    ::testing::Values(
        // Unsigned 8-bit: 128 is silence; each step is 256 in 16 bits.
        ConversionCase{"pcm8",
                       1,
                       8,
                       false,
                       [] {
                           return ints({0, 1, 64, 127, 128, 129, 200, 255}, 1);
                       },
                       {-32768, -32512, -16384, -256, 0, 256, 18432, 32512}},
        // 24-bit: the low byte is dropped (rounding towards minus infinity).
        ConversionCase{"pcm24",
                       1,
                       24,
                       false,
                       [] {
                           return ints({-8388608, -8388607, -256, -255, -1, 0, 1, 255, 256,
                                        0x123456, 8388607},
                                       3);
                       },
                       {-32768, -32768, -1, -1, -1, 0, 0, 0, 1, 0x1234, 32767}},
        ConversionCase{"pcm24extensible",
                       1,
                       24,
                       true,
                       [] {
                           return ints({-8388608, -256, 0, 256, 0x123456, 8388607}, 3);
                       },
                       {-32768, -1, 0, 1, 0x1234, 32767}},
        ConversionCase{"pcm32",
                       1,
                       32,
                       false,
                       [] {
                           return ints(
                               {-2147483648LL, -65536, -1, 0, 65535, 65536, 0x12345678, 2147483647},
                               4);
                       },
                       {-32768, -1, -1, 0, 0, 1, 0x1234, 32767}},
        // Float: ±1.0 is full scale, ×32768 rounded to nearest; beyond it the samples clip
        // instead of wrapping around.
        ConversionCase{
            "float",
            3,
            32,
            false,
            [] {
                return floats({0.0f, 0.25f, 0.5f, -0.5f, 0.1f, -0.1f, 1.0f, -1.0f, 1.5f, -1.5f,
                               1000.0f, -1000.0f});
            },
            {0, 8192, 16384, -16384, 3277, -3277, 32767, -32768, 32767, -32768, 32767, -32768}},
        ConversionCase{"floatExtensible",
                       3,
                       32,
                       true,
                       [] {
                           return floats({0.25f, -1.0f, 3.0f});
                       },
                       {8192, -32768, 32767}}),
    [](const auto& p) { return std::string(p.param.name); });

// The kind of file is found from its bytes: a WAV file named .mp3 is read as WAV and an MP3
// file named .wav as MP3.
TEST(WavByContent, NameDoesNotDecideTheDecoder) {
    QTemporaryDir dir;
    const QString wavAsMp3 = dir.filePath("wave.mp3");
    const QString mp3AsWav = dir.filePath("mpeg.wav");
    writeAll(wavAsMp3, readAll(realFile("wav/wavefile/valid/stereo_pcm_16_44100.wav")));
    writeAll(mp3AsWav, readAll(realFile("mp3/edge/cbr.mp3")));
    const auto w = SongReader::open(wavAsMp3);
    ASSERT_TRUE(w) << w.error().text().toStdString();
    EXPECT_EQ(w->format().kind, SongKind::Wav);
    EXPECT_EQ(w->frames(), 2240u);
    const auto m = SongReader::open(mp3AsWav);
    ASSERT_TRUE(m) << m.error().text().toStdString();
    EXPECT_EQ(m->format().kind, SongKind::MpegLayer3);
    EXPECT_EQ(m->frames(), 19584u);
}

#ifdef Q_OS_UNIX
// Damaged tag chunks made libsndfile loop for ever: a LIST chunk with no sound after it (the
// file is refused at once) and chunks behind the sound (the sound is read, the tags are not).
// Tags in good files are skipped too; the real files above keep their samples.
TEST(DamagedWavTags, NeverStopTheReader) {
    EXPECT_EQ(decodeInChild(quaverly::test::dataPath("/fuzz/wav-list-loop.wav")), InChild::Refused);
    EXPECT_EQ(decodeInChild(quaverly::test::dataPath("/fuzz/wav-trailing-loop.wav")),
              InChild::Decoded);
    EXPECT_EQ(decodeInChild(quaverly::test::dataPath("/fuzz/wav-chunk-past-end.wav")),
              InChild::Refused);
}
#endif

} // namespace

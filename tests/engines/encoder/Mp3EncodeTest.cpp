// encodeWavToMp3 and its choice of sample rate, without the queue: the rate table against
// libmp3lame itself, every WAV layout libsndfile reads, refusals, cancellation, and byte identity
// with the lame command at its defaults.

#include "Mp3TestSupport.h"
#include "support/TestPaths.h"

#include "engines/encoder/Mp3Encode.h"
#include "support/Peers.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <lame/lame.h>
#include <sndfile.h>

#include <cmath>
#include <memory>
#include <vector>

namespace quaverly::test {
namespace {

constexpr int kLameRates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};

QString realWav(const char* rel) {
    return quaverly::test::dataPath("/real/wav/") + QString::fromUtf8(rel);
}

struct LameVerdict {
    bool keepsBitRate = false;
    bool writesTag = false;
};

// What libmp3lame itself does with a bit rate at a sample rate.
LameVerdict askLame(int kbps, int rate, int channels) {
    std::unique_ptr<lame_global_flags, decltype(&lame_close)> gf(lame_init(), &lame_close);
    lame_set_errorf(gf.get(), [](const char*, va_list) {});
    lame_set_num_channels(gf.get(), channels);
    lame_set_in_samplerate(gf.get(), rate);
    lame_set_out_samplerate(gf.get(), rate);
    lame_set_VBR(gf.get(), vbr_off);
    lame_set_brate(gf.get(), kbps);
    lame_set_mode(gf.get(), channels == 1 ? MONO : JOINT_STEREO);
    lame_set_bWriteVbrTag(gf.get(), 1);
    if (lame_init_params(gf.get()) < 0 || lame_get_brate(gf.get()) != kbps)
        return {};
    std::vector<short> pcm(4096);
    std::vector<unsigned char> out(20000);
    lame_encode_buffer(gf.get(), pcm.data(), pcm.data(), int(pcm.size()), out.data(),
                       int(out.size()));
    lame_encode_flush(gf.get(), out.data(), int(out.size()));
    return {true, lame_get_lametag_frame(gf.get(), nullptr, 0) > 0};
}

TEST(EncodingRate, TablesAgreeWithLibmp3lame) {
    for (const int kbps : mp3::kBitRates)
        for (const int rate : kLameRates)
            for (const int channels : {1, 2}) {
                SCOPED_TRACE(::testing::Message() << kbps << " kbit/s at " << rate << " Hz, "
                                                  << channels << " channel(s)");
                const LameVerdict lame = askLame(kbps, rate, channels);
                EXPECT_EQ(mp3::lameWritesBitRate(kbps, rate), lame.keepsBitRate);
                EXPECT_EQ(mp3::gaplessTagFits(kbps, rate, channels), lame.writesTag);
            }
}

TEST(EncodingRate, KeepsTheSourceRateWhenItCanAndOtherwiseAGaplessOne) {
    for (const int kbps : mp3::kBitRates)
        for (const int rate : {4000, 8000, 11025, 12000, 16000, 22050, 24000, 32000, 37800, 44100,
                               48000, 88200, 96000, 192000})
            for (const int channels : {1, 2}) {
                SCOPED_TRACE(::testing::Message() << kbps << " kbit/s from " << rate << " Hz, "
                                                  << channels << " channel(s)");
                const int chosen = mp3::encodingSampleRate(rate, kbps, channels);
                EXPECT_TRUE(mp3::lameWritesBitRate(kbps, chosen)) << chosen;
                // Only 8 and 16 kbit/s frames are too small for the tag at every rate.
                EXPECT_EQ(mp3::gaplessTagFits(kbps, chosen, channels), kbps > 16) << chosen;
                if (mp3::gaplessTagFits(kbps, rate, channels)) {
                    EXPECT_EQ(chosen, rate);
                }
            }
    // The program's rates keep CD and DAT audio as it is, except where the tag cannot fit.
    for (const int kbps : {96, 128, 256})
        for (const int rate : {32000, 44100, 48000})
            EXPECT_EQ(mp3::encodingSampleRate(rate, kbps, 2), rate);
    EXPECT_EQ(mp3::encodingSampleRate(44100, 56, 2), 32000);
    EXPECT_EQ(mp3::encodingSampleRate(37800, 128, 2), 44100);
    EXPECT_EQ(mp3::encodingSampleRate(22050, 256, 2), 32000);
    EXPECT_EQ(mp3::encodingSampleRate(8000, 96, 1), 16000);
    EXPECT_EQ(mp3::encodingSampleRate(88200, 128, 2), 44100);
    EXPECT_EQ(mp3::encodingSampleRate(96000, 128, 2), 48000);
    EXPECT_EQ(mp3::encodingSampleRate(44100, 8, 2), 22050); // no gapless rate at all
    EXPECT_EQ(mp3::encodingSampleRate(44100, 100, 2), 0);
}

// Every Layer III bit rate, not only the program's four, gives exact frames and, from 24 kbit/s
// up, the exact length.
TEST(EncodeWavToMp3, EveryBitRateIsExactCbr) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const int channels : {1, 2})
        for (const int rate : {44100, 8000}) {
            const Sine sine{rate, channels, std::uint64_t(rate) / 3 + 5};
            const QString wav = dir.filePath("in.wav"), mp3 = dir.filePath("out.mp3");
            writeCanonicalWav(wav, sine);
            for (const int kbps : mp3::kBitRates) {
                SCOPED_TRACE(::testing::Message() << kbps << " kbit/s, " << rate << " Hz, "
                                                  << channels << " channel(s)");
                const auto outcome = mp3::encodeWavToMp3(wav, mp3, kbps);
                ASSERT_TRUE(outcome.ok()) << failureText(outcome);
                QString error;
                const auto frames = readFrames(mp3, &error);
                ASSERT_TRUE(frames) << error.toStdString();
                for (const Frame& f : *frames)
                    ASSERT_EQ(f.kbps, kbps);
                const auto decoded = decodeMp3(mp3, &error);
                ASSERT_TRUE(decoded) << error.toStdString();
                const int mp3Rate = mp3::encodingSampleRate(rate, kbps, channels);
                const double expected = double(sine.frames) * mp3Rate / rate;
                if (kbps > 16) {
                    EXPECT_LE(std::abs(double(decoded->frames()) - expected),
                              mp3Rate == rate ? 0 : 2);
                } else {
                    // No room for the tag: LAME's delay and padding stay, but nothing is lost.
                    EXPECT_GE(double(decoded->frames()), expected);
                    EXPECT_LE(double(decoded->frames()), expected + 3 * 1152);
                }
            }
        }
}

// --- sources ----------------------------------------------------------------------------------

struct Layout {
    const char* name;
    int sfFormat;
};

void PrintTo(const Layout& l, std::ostream* os) {
    *os << l.name;
}

class SourceLayouts : public ::testing::TestWithParam<Layout> {};

TEST_P(SourceLayouts, EncodeWithTheRightLengthAndTones) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const Sine sine{44100, 2, 40000};
    const QString wav = dir.filePath("in.wav"), mp3 = dir.filePath("out.mp3");
    writeSndfileWav(wav, sine, GetParam().sfFormat);
    const auto outcome = mp3::encodeWavToMp3(wav, mp3, 128);
    ASSERT_TRUE(outcome.ok()) << failureText(outcome);
    QString error;
    const auto decoded = decodeMp3(mp3, &error);
    ASSERT_TRUE(decoded) << error.toStdString();
    EXPECT_EQ(decoded->frames(), sine.frames);
    EXPECT_NEAR(toneHz(*decoded, 0), sine.leftHz, 4.4);
    EXPECT_NEAR(toneHz(*decoded, 1), sine.rightHz, 6.6);
}

INSTANTIATE_TEST_SUITE_P(
    Sndfile, SourceLayouts,
    ::testing::Values(Layout{"U8", SF_FORMAT_WAV | SF_FORMAT_PCM_U8},
                      Layout{"Pcm24", SF_FORMAT_WAV | SF_FORMAT_PCM_24},
                      Layout{"Pcm32", SF_FORMAT_WAV | SF_FORMAT_PCM_32},
                      Layout{"Float", SF_FORMAT_WAV | SF_FORMAT_FLOAT},
                      Layout{"Double", SF_FORMAT_WAV | SF_FORMAT_DOUBLE},
                      Layout{"ALaw", SF_FORMAT_WAV | SF_FORMAT_ALAW},
                      Layout{"Extensible16", SF_FORMAT_WAVEX | SF_FORMAT_PCM_16},
                      Layout{"ExtensibleFloat", SF_FORMAT_WAVEX | SF_FORMAT_FLOAT},
                      Layout{"Rf64", SF_FORMAT_RF64 | SF_FORMAT_PCM_16}),
    [](const auto& p) { return std::string(p.param.name); });

struct RealFile {
    const char* file;
    std::uint64_t frames;                            // 0: refused
    int rate;                                        // the file's sample rate
    const char* cause;                               // part of the refusal's cause
    mp3::EncodeStep step = mp3::EncodeStep::ReadWav; // of the refusal
};

void PrintTo(const RealFile& f, std::ostream* os) {
    *os << f.file;
}

class RealSources : public ::testing::TestWithParam<RealFile> {};

TEST_P(RealSources, EncodeAllTheirFramesOrRefuseClearly) {
    const RealFile& c = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString mp3 = dir.filePath("out.mp3");
    const auto outcome = mp3::encodeWavToMp3(realWav(c.file), mp3, 128);
    if (c.frames == 0) {
        ASSERT_FALSE(outcome.ok());
        EXPECT_EQ(mp3::encodeStep(outcome.error()), c.step);
        EXPECT_EQ(outcome.error().file(), realWav(c.file));
        EXPECT_TRUE(outcome.error().cause().contains(QString::fromUtf8(c.cause)))
            << failureText(outcome);
        EXPECT_TRUE(QDir(dir.path()).isEmpty());
        return;
    }
    ASSERT_TRUE(outcome.ok()) << failureText(outcome);
    QString error;
    const auto decoded = decodeMp3(mp3, &error);
    ASSERT_TRUE(decoded) << error.toStdString();
    // 8 kHz at 128 kbit/s is written at 16 kHz.
    const int mp3Rate = mp3::encodingSampleRate(c.rate, 128, decoded->channels);
    EXPECT_EQ(decoded->sampleRate, mp3Rate);
    EXPECT_EQ(decoded->frames(), c.frames * std::uint64_t(mp3Rate) / std::uint64_t(c.rate));
}

INSTANTIATE_TEST_SUITE_P(
    Files, RealSources,
    ::testing::Values(
        RealFile{"wavefile/valid/stereo_pcm_16_44100.wav", 2240, 44100, ""},
        RealFile{"wavefile/valid/mono_pcm_16_44100_junk_chunk_with_padding_byte.wav", 2240, 44100,
                 ""},
        RealFile{"wavefile/valid/mono_pcm_8_44100_with_padding_byte.wav", 2241, 44100, ""},
        RealFile{"wavefile/valid/stereo_pcm_24_44100.wav", 2240, 44100, ""},
        RealFile{"wavefile/valid/extensible_stereo_pcm_24_44100.wav", 2240, 44100, ""},
        RealFile{"wavefile/valid/stereo_float_32_44100.wav", 2240, 44100, ""},
        RealFile{"wavefile/valid/with_smpl_chunk_after_data_chunk.wav", 2240, 44100, ""},
        RealFile{"tinytag/test-tagged.wav", 44100, 44100, ""},
        RealFile{"tinytag/id3_header_with_a_zero_byte.wav", 22050, 22050, ""},
        RealFile{"tinytag/wav_with_image.wav", 17157, 8000, ""},
        RealFile{"wavefile/valid/tri_pcm_16_44100.wav", 0, 44100, "3 channels",
                 mp3::EncodeStep::Encode},
        RealFile{"wavefile/valid/no_samples.wav", 0, 44100, "no audio", mp3::EncodeStep::Encode},
        RealFile{"wavefile/invalid/empty.wav", 0, 44100, ""},
        RealFile{"wavefile/invalid/bad_riff_header.wav", 0, 44100, ""},
        RealFile{"wavefile/unsupported/bad_channel_count.wav", 0, 44100, ""},
        RealFile{"hound/fuzz-crash-e879de4e.wav", 0, 44100, ""}),
    [](const auto& p) {
        std::string n = p.param.file;
        for (char& ch : n)
            if (!std::isalnum(static_cast<unsigned char>(ch)))
                ch = '_';
        return n;
    });

// --- cancellation and lame's own output ----------------------------------------------------

TEST(EncodeWavToMp3, StopRequestedLeavesNothingBehind) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString wav = dir.filePath("in.wav");
    writeCanonicalWav(wav, Sine{44100, 2, 50000});
    std::stop_source stop;
    stop.request_stop();
    const auto outcome = mp3::encodeWavToMp3(wav, dir.filePath("out.mp3"), 128, stop.get_token());
    ASSERT_FALSE(outcome.ok());
    EXPECT_EQ(mp3::encodeStep(outcome.error()), mp3::EncodeStep::Cancel);
    EXPECT_EQ(outcome.error().file(), dir.filePath("out.mp3"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"in.wav"});
}

TEST(EncodeWavToMp3, SameBytesAsTheLameCommandAtItsDefaults) {
    if (!havePeer(QStringLiteral("lame")))
        GTEST_SKIP() << "no lame command";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    struct Case {
        int channels, rate, kbps;
        std::uint64_t frames = 70001;
    };
    // Ours first: the encoder's threads are not to start after the lame command's fork, which
    // the thread sanitizer cannot follow. A 25-second clip is still one segment on every core.
    const std::vector<Case> cases{
        {2, 44100, 128}, {1, 44100, 96}, {2, 48000, 256}, {2, 44100, 128, 44100 * 25}};
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case c = cases[i];
        const QString wav = dir.filePath(QStringLiteral("in%1.wav").arg(i));
        writeCanonicalWav(wav, Sine{c.rate, c.channels, c.frames});
        ASSERT_TRUE(
            mp3::encodeWavToMp3(wav, dir.filePath(QStringLiteral("ours%1.mp3").arg(i)), c.kbps)
                .ok());
    }
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case c = cases[i];
        SCOPED_TRACE(::testing::Message() << c.channels << " ch " << c.rate << " Hz " << c.kbps);
        const QString ours = dir.filePath(QStringLiteral("ours%1.mp3").arg(i)),
                      theirs = dir.filePath(QStringLiteral("lame%1.mp3").arg(i));
        const PeerRun lame = runPeer(QStringLiteral("lame"),
                                     {"--quiet", "-b", QString::number(c.kbps),
                                      dir.filePath(QStringLiteral("in%1.wav").arg(i)), theirs});
        ASSERT_TRUE(lame.ok()) << lame.failure().toStdString();
        QFile a(ours), b(theirs);
        ASSERT_TRUE(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
        const QByteArray oursBytes = a.readAll(), theirBytes = b.readAll();
        EXPECT_EQ(oursBytes.size(), theirBytes.size());
        EXPECT_TRUE(oursBytes == theirBytes);
    }
}

} // namespace
} // namespace quaverly::test

#include "engines/encoder/Mp3Encode.h"

#include "engines/encoder/internal/FormatEncoders.h"
#include "engines/encoder/internal/LameEncoder.h"
#include "engines/encoder/internal/ParallelEncode.h"
#include "engines/util/AtomicFile.h"
#include "engines/util/CodecThreads.h"
#include "engines/util/Handles.h"
#include "engines/util/Resampler.h"
#include "engines/wav/SampleReader.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <type_traits>
#include <vector>

namespace quaverly::mp3 {
namespace {

// Sample frames read from the source per block; the only buffers that grow with it are the
// resampler's output and LAME's output, both a small multiple of it.
constexpr std::size_t kBlockFrames = 8192;

// LAME's own limits, from its tables (see lameWritesBitRate).
constexpr std::array<int, 14> kMpeg1Rates{32,  40,  48,  56,  64,  80,  96,
                                          112, 128, 160, 192, 224, 256, 320};
constexpr std::array<int, 14> kMpeg2Rates{8,  16, 24, 32,  40,  48,  56,
                                          64, 80, 96, 112, 128, 144, 160};
constexpr std::array<int, 8> kMpeg25Rates{8, 16, 24, 32, 40, 48, 56, 64};
constexpr std::array<int, 9> kLameSampleRates{8000,  11025, 12000, 16000, 22050,
                                              24000, 32000, 44100, 48000};
constexpr int kLameTagBytes = 156; // Xing/Info header (120) + LAME extension (36)
constexpr int kMaxFrameBytes = 2880;

template <std::size_t N> bool contains(const std::array<int, N>& a, int v) {
    return std::find(a.begin(), a.end(), v) != a.end();
}

Error failure(EncodeStep step, const QString& file, const QString& cause) {
    return Error(file, cause).during(step);
}

// A WAV source read through the program's one sample reader, with the encoder's checks.
class WavSource final : public PcmSource {
public:
    // Opens and checks the source.
    Status open(const QString& path) {
        path_ = path;
        auto reader = SampleReader::open(path);
        if (!reader)
            return failure(EncodeStep::ReadWav, path, reader.error().cause());
        if (reader->channels() < 1 || reader->channels() > 2)
            return failure(EncodeStep::Encode, path,
                           QStringLiteral("it has %1 channels; only mono and stereo can be encoded")
                               .arg(reader->channels()));
        if (reader->sampleRate() == 0)
            return failure(EncodeStep::ReadWav, path, QStringLiteral("invalid sample rate"));
        if (reader->frames() <= 0)
            return failure(EncodeStep::Encode, path, QStringLiteral("it contains no audio"));
        reader_.emplace(std::move(*reader));
        return {};
    }

    int channels() const override { return reader_->channels(); }
    int sampleRate() const override { return int(reader_->sampleRate()); }
    std::int64_t lengthHint() const override { return reader_->frames(); }

    bool rewind() override { return open(path_).ok(); }

    // Reads up to `frames` interleaved float frames (full scale +-1); 0 at the end. A read error,
    // or a file that ends before its announced frames, is a failure to read the WAV file.
    Result<std::size_t> read(float* dst, std::size_t frames) override {
        auto n = reader_->readFloats(dst, frames);
        if (!n)
            return n.error().about(path_);
        return n;
    }

private:
    QString path_;
    std::optional<SampleReader> reader_;
};

// One LameEncoder writing to an AtomicFile: a single pass.
class LameWriter final : public Mp3StreamWriter {
public:
    LameWriter(AtomicFile& out, const QString& target) : out_(out), target_(target) {}

    // With `gapless` the tag frame must come out; without, LAME has no room for it (see
    // gaplessTagFits) and writes none.
    Status open(int sampleRate, int channels, int kbps, bool gapless) override {
        gapless_ = gapless;
        if (Status err = lame_.open(sampleRate, channels, kbps, /*tagFrame=*/true,
                                    /*replayGain=*/true);
            !err)
            return fail(err.error().cause());
        return {};
    }

    // Encodes interleaved float frames (full scale +-1).
    Status encode(const float* frames, std::size_t count) override {
        mp3_.clear();
        if (Status err = lame_.encode(frames, count, mp3_); !err)
            return fail(err.error().cause());
        return write(mp3_);
    }

    // Ends the stream and puts the final tag frame over the placeholder LAME wrote first.
    Status finish() override {
        mp3_.clear();
        if (Status err = lame_.flush(mp3_); !err)
            return fail(err.error().cause());
        if (Status err = write(mp3_); !err)
            return err;
        const std::vector<unsigned char> tag = lame_.tagFrame();
        if (tag.empty()) {
            if (gapless_)
                return fail(QStringLiteral("the encoder wrote no gapless tag"));
            return {};
        }
        if (!out_.file().seek(0))
            return failure(EncodeStep::Write, target_, out_.file().errorString());
        return write(tag);
    }

private:
    Error fail(const QString& cause) const { return failure(EncodeStep::Encode, target_, cause); }
    Status write(const std::vector<unsigned char>& data) {
        if (data.empty())
            return {};
        if (Status s = out_.write(reinterpret_cast<const char*>(data.data()), qint64(data.size()));
            !s)
            return failure(EncodeStep::Write, target_, s.error().cause());
        return {};
    }

    AtomicFile& out_;
    QString target_;
    LameEncoder lame_;
    bool gapless_ = true;
    std::vector<unsigned char> mp3_;
};

} // namespace

namespace {

// What one pass works on, and its failures.
struct Pass {
    PcmSource& source;
    const QString& sourceName;
    const QString& targetMp3;
    const std::stop_token& stop;
    EncodeStep readStep; // what a failed read of the source is
    bool* spliceFailed;
    const ParallelMp3Writer* parallel = nullptr; // set while segments are spliced
    const std::function<Status(AtomicFile&)>* beforeCommit = nullptr; // the tags, say

    Error cancelled() const {
        return failure(EncodeStep::Cancel, targetMp3, QStringLiteral("cancelled"));
    }
    Error resampleError(const QString& cause) const {
        return failure(EncodeStep::Resample, sourceName, cause);
    }
    Error encoderFailed(Error f) const {
        *spliceFailed = parallel && parallel->spliceFailed();
        return f;
    }
};

// Feeds the whole source into `lame`, through the resampler when there is one, and flushes the
// resampler. Success once all of it went in; otherwise the failure.
Status feedSource(const Pass& pass, std::optional<Resampler>& resampler, Mp3StreamWriter& lame) {
    const auto channels = static_cast<std::size_t>(pass.source.channels());
    std::vector<float> block(kBlockFrames * channels);
    std::vector<float> resampled;
    std::uint64_t framesRead = 0;
    for (;;) {
        if (pass.stop.stop_requested())
            return pass.cancelled();
        const Result<std::size_t> read = pass.source.read(block.data(), kBlockFrames);
        if (!read)
            return read.error().during(pass.readStep);
        const std::size_t got = *read;
        if (got == 0)
            break;
        framesRead += got;
        const float* pcm = block.data();
        std::size_t frames = got;
        if (resampler) {
            if (Status s = resampler->process(block.data(), got, resampled); !s)
                return pass.resampleError(s.error().cause());
            pcm = resampled.data();
            frames = resampled.size() / channels;
        }
        if (Status err = lame.encode(pcm, frames); !err)
            return pass.encoderFailed(err.error());
    }
    if (framesRead == 0)
        return failure(EncodeStep::Encode, pass.sourceName, QStringLiteral("it contains no audio"));
    if (resampler) {
        if (Status s = resampler->flush(resampled); !s)
            return pass.resampleError(s.error().cause());
        if (Status err = lame.encode(resampled.data(), resampled.size() / channels); !err)
            return pass.encoderFailed(err.error());
    }
    return {};
}

// One pass over the source into targetMp3, on `threads` threads.
Status encodePass(const Pass& setup, int kbps, int threads) {
    PcmSource& source = setup.source;
    const QString& targetMp3 = setup.targetMp3;
    const int channels = source.channels();
    const int inRate = source.sampleRate();
    const int outRate = encodingSampleRate(inRate, kbps, channels);

    std::optional<Resampler> resampler;
    if (outRate != inRate) {
        resampler.emplace();
        if (Status s = resampler->open(inRate, outRate, channels); !s)
            return setup.resampleError(QStringLiteral("%1 (from %2 Hz to %3 Hz)")
                                           .arg(s.error().cause())
                                           .arg(inRate)
                                           .arg(outRate));
    }

    // Destroyed without commit(), the AtomicFile removes its temporary file: every early return
    // below leaves the target as it was.
    AtomicFile out(targetMp3);
    if (Status s = out.open(); !s)
        return failure(EncodeStep::Write, targetMp3, s.error().cause());

    Pass pass = setup;
    std::unique_ptr<Mp3StreamWriter> lame;
    if (threads > 1) {
        auto p = std::make_unique<ParallelMp3Writer>(out, targetMp3, threads, pass.stop);
        if (const std::int64_t frames = source.lengthHint(); frames > 0)
            p->expectLength(std::int64_t(double(frames) * outRate / inRate));
        pass.parallel = p.get();
        lame = std::move(p);
    } else {
        lame = std::make_unique<LameWriter>(out, targetMp3);
    }
    if (Status err = lame->open(outRate, channels, kbps, gaplessTagFits(kbps, outRate, channels));
        !err)
        return err;

    if (Status failed = feedSource(pass, resampler, *lame); !failed)
        return failed;
    if (Status err = lame->finish(); !err)
        return pass.encoderFailed(err.error());
    if (pass.stop.stop_requested())
        return pass.cancelled();
    if (pass.beforeCommit && *pass.beforeCommit) {
        if (Status s = (*pass.beforeCommit)(out); !s)
            return s.error().during(EncodeStep::Write);
    }
    if (Status s = out.commit(); !s)
        return failure(EncodeStep::Write, targetMp3, s.error().cause());
    return {};
}

// Checks the request and encodes: on several threads when codecThreads() says so, and should
// their segments not splice, once more in one pass, which the user only notices as time.
Status encode(PcmSource& source, const QString& sourceName, const QString& targetMp3, int kbps,
              const std::stop_token& stop, EncodeStep readStep,
              const std::function<Status(AtomicFile&)>* beforeCommit = nullptr) {
    if (targetMp3.isEmpty())
        return failure(EncodeStep::Encode, sourceName, QStringLiteral("no target file given"));
    if (!isValidBitRate(kbps))
        return failure(EncodeStep::Encode, targetMp3,
                       QStringLiteral("%1 kbit/s is not an MP3 bit rate").arg(kbps));
    const int channels = source.channels();
    const int inRate = source.sampleRate();
    if (channels < 1 || channels > 2 || inRate <= 0)
        return failure(EncodeStep::Encode, sourceName,
                       QStringLiteral("%1 channel(s) at %2 Hz").arg(channels).arg(inRate));
    bool spliceFailed = false;
    Pass pass{source, sourceName, targetMp3, stop, readStep, &spliceFailed};
    pass.beforeCommit = beforeCommit;
    auto failed = encodePass(pass, kbps, codecThreads());
    if (spliceFailed && source.rewind())
        failed = encodePass(pass, kbps, 1);
    return failed;
}

} // namespace

bool isValidBitRate(int kbps) {
    return contains(kBitRates, kbps);
}

bool lameWritesBitRate(int kbps, int sampleRate) {
    if (!contains(kLameSampleRates, sampleRate))
        return false;
    if (sampleRate >= 32000)
        return contains(kMpeg1Rates, kbps);
    if (sampleRate >= 16000)
        return contains(kMpeg2Rates, kbps);
    return contains(kMpeg25Rates, kbps);
}

bool gaplessTagFits(int kbps, int sampleRate, int channels) {
    if (!lameWritesBitRate(kbps, sampleRate))
        return false;
    // Frame size and side information as LAME computes them for its tag frame.
    const bool mpeg1 = sampleRate >= 32000;
    const int frameBytes = (mpeg1 ? 144000 : 72000) * kbps / sampleRate;
    const int sideInfo = mpeg1 ? (channels == 1 ? 21 : 36) : (channels == 1 ? 13 : 21);
    return frameBytes >= sideInfo + kLameTagBytes && frameBytes <= kMaxFrameBytes;
}

int encodingSampleRate(int sourceRate, int kbps, int channels) {
    if (!isValidBitRate(kbps) || sourceRate <= 0)
        return 0;
    const bool gaplessSomewhere =
        std::any_of(kLameSampleRates.begin(), kLameSampleRates.end(),
                    [&](int rate) { return gaplessTagFits(kbps, rate, channels); });
    const auto qualifies = [&](int rate) {
        return gaplessSomewhere ? gaplessTagFits(kbps, rate, channels)
                                : lameWritesBitRate(kbps, rate);
    };
    if (qualifies(sourceRate))
        return sourceRate;
    int above = 0, highest = 0, highestDividing = 0;
    for (const int rate : kLameSampleRates) {
        if (!qualifies(rate))
            continue;
        if (rate > sourceRate && above == 0)
            above = rate;
        highest = rate;
        if (sourceRate % rate == 0)
            highestDividing = rate;
    }
    if (above != 0)
        return above;
    // 44.1 kHz for 88.2 kHz rather than 48 kHz, but never a much lower rate just because it
    // divides (22.05 kHz for a 44.1 kHz source when 32 kHz is allowed).
    return highestDividing * 10 >= highest * 9 ? highestDividing : highest;
}

Status encodeWavToMp3(const QString& sourceWav, const QString& targetMp3, int kbps,
                      std::stop_token stop) {
    if (sourceWav.isEmpty())
        return failure(EncodeStep::Encode, {}, QStringLiteral("no source file given"));
    if (targetMp3.isEmpty())
        return failure(EncodeStep::Encode, sourceWav, QStringLiteral("no target file given"));
    if (!isValidBitRate(kbps))
        return failure(EncodeStep::Encode, targetMp3,
                       QStringLiteral("%1 kbit/s is not an MP3 bit rate").arg(kbps));
    WavSource source;
    if (Status failed = source.open(sourceWav); !failed)
        return failed;
    return encode(source, sourceWav, targetMp3, kbps, stop, EncodeStep::ReadWav);
}

Status encodeToMp3(PcmSource& source, const QString& sourceName, const QString& targetMp3, int kbps,
                   std::stop_token stop) {
    return encode(source, sourceName, targetMp3, kbps, stop, EncodeStep::Source);
}

} // namespace quaverly::mp3

namespace quaverly::encode::internal {

Status encodeMp3(PcmSource& source, const QString& sourceName, const QString& target, int kbps,
                 const std::stop_token& stop,
                 const std::function<Status(AtomicFile&)>& beforeCommit) {
    return mp3::encode(source, sourceName, target, kbps, stop, EncodeStep::Source, &beforeCommit);
}

} // namespace quaverly::encode::internal

namespace quaverly::encode {

Result<std::unique_ptr<PcmSource>> openWavSource(const QString& path) {
    auto source = std::make_unique<mp3::WavSource>();
    if (Status failed = source->open(path); !failed)
        return failed.error();
    return std::unique_ptr<PcmSource>(std::move(source));
}

} // namespace quaverly::encode

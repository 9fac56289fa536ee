// RIFF/WAVE files through libsndfile: PCM of 8 to 32 bits, float, extensible, A-law and the
// other codecs libsndfile reads, with any chunks before or after the samples.

#include "engines/decode/internal/Decoder.h"
#include "engines/wav/internal/SndfileReader.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace quaverly::decode {
namespace {

// Bits per sample of the source, for SongFormat::sourceBits; 0 for compressed codecs.
int sourceBits(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
        return 8;
    case SF_FORMAT_PCM_16:
        return 16;
    case SF_FORMAT_PCM_24:
        return 24;
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT:
        return 32;
    case SF_FORMAT_DOUBLE:
        return 64;
    default:
        return 0;
    }
}

// Full scale of floating-point samples is ±1.0; ×32768 with clipping, rounded to nearest.
// (libsndfile would pass float samples to 16 bits unscaled, or scaled by the file's peak.)
std::int16_t floatToInt16(float f) {
    const float v = f * 32768.0f;
    if (!(v == v))
        return 0; // NaN
    if (v >= 32767.0f)
        return 32767;
    if (v <= -32768.0f)
        return -32768;
    return static_cast<std::int16_t>(std::lrintf(v));
}

class WavDecoder final : public Decoder {
public:
    WavDecoder(std::unique_ptr<SndfileReader> reader, std::uint64_t frames)
        : reader_(std::move(reader)) {
        const SF_INFO& info = reader_->info();
        format_.rate = static_cast<std::uint32_t>(info.samplerate);
        format_.channels = info.channels;
        format_.kind = SongKind::Wav;
        format_.sourceBits = sourceBits(info.format);
        format_.sourceChannels = info.channels;
        format_.container = QStringLiteral("WAV");
        format_.codec = format_.sourceBits > 0 ? QStringLiteral("PCM %1-bit").arg(format_.sourceBits)
                                               : QStringLiteral("compressed");
        frames_ = frames;
        const int sub = info.format & SF_FORMAT_SUBMASK;
        if (sub == SF_FORMAT_FLOAT || sub == SF_FORMAT_DOUBLE)
            floats_.resize(kFloatChunk * static_cast<std::size_t>(info.channels));
    }

    // Integer PCM and the codecs come as 16-bit from libsndfile (8-bit: (u - 128) × 256;
    // 24 and 32 bits: the low bytes dropped); floating point is converted here.
    std::size_t read(std::int16_t* out, std::size_t frames) override {
        const auto channels = static_cast<std::size_t>(format_.channels);
        std::size_t done = 0;
        while (done < frames) {
            sf_count_t got;
            if (floats_.empty()) {
                got = reader_->readShorts(out + done * channels,
                                          static_cast<sf_count_t>(frames - done));
            } else {
                const std::size_t n = std::min(frames - done, kFloatChunk);
                got = reader_->readFloats(floats_.data(), static_cast<sf_count_t>(n));
                const sf_count_t samples = got * format_.channels; // negative on failure
                for (sf_count_t i = 0; i < samples; ++i)
                    out[done * channels + static_cast<std::size_t>(i)] = floatToInt16(floats_[i]);
            }
            if (got < 0) {
                errorText_ = reader_->cause().toStdString();
                break;
            }
            if (got == 0)
                break;
            done += static_cast<std::size_t>(got);
        }
        return done;
    }

    bool seek(std::uint64_t frame) override {
        errorText_.clear();
        if (!reader_->seek(static_cast<sf_count_t>(frame))) {
            errorText_ = reader_->cause().toStdString();
            return false;
        }
        return true;
    }

private:
    static constexpr std::size_t kFloatChunk = 4096; // frames converted per libsndfile call

    std::unique_ptr<SndfileReader> reader_;
    std::vector<float> floats_; // conversion buffer of float files, made once at open
};

} // namespace

Result<DecoderPtr> openWavDecoder(const QString& path) {
    auto reader = std::make_unique<SndfileReader>();
    switch (reader->open(path)) {
    case SndfileReader::Opened::Ok:
        break;
    case SndfileReader::Opened::CannotOpen:
        return Error(path, QStringLiteral("cannot open: ") + reader->cause(), sound::kFileOpen);
    case SndfileReader::Opened::NotSound:
        return Error(path, QStringLiteral("not a readable WAV file: ") + reader->cause(),
                     sound::kFileForm);
    }
    const SF_INFO& info = reader->info();
    const int major = info.format & SF_FORMAT_TYPEMASK;
    if (major != SF_FORMAT_WAV && major != SF_FORMAT_WAVEX)
        return Error(path, QStringLiteral("not a WAV file"), sound::kFileForm);
    if (info.channels < 1 || info.channels > 2)
        return Error(
            path,
            QStringLiteral("%1 channels; only mono and stereo are supported").arg(info.channels),
            sound::kFormat);
    if (info.samplerate <= 0)
        return Error(path, QStringLiteral("no sample rate"), sound::kFormat);
    // No codec libsndfile reads in a WAV file yields more than about five frames per byte
    // (GSM 6.10); a larger count comes from a damaged size field. The reader announces no more
    // than the file can hold, and fails where the sound really ends.
    const auto frames = static_cast<std::uint64_t>(
        std::min<sf_count_t>(info.frames, std::max<qint64>(reader->fileSize(), 0) * 8));
    return DecoderPtr(std::make_unique<WavDecoder>(std::move(reader), frames));
}

} // namespace quaverly::decode

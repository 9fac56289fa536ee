// RIFF/WAVE files through libsndfile: PCM of 8 to 32 bits, float, extensible, A-law and the
// other codecs libsndfile reads, with any chunks before or after the samples.

#include "engines/bass/BassInternal.h"
#include "engines/bass/Decoder.h"
#include "engines/util/Handles.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace quaverly::bass::detail {
namespace {

// libsndfile reads through the stdio file that the layer opened (one way to open a UTF-8 path
// on every platform, and the same file that was sniffed).
sf_count_t vioLength(void* user) {
    auto* f = static_cast<std::FILE*>(user);
    const std::int64_t here = tellFile(f);
    if (here < 0 || seekFile(f, 0, SEEK_END) != 0)
        return -1;
    const std::int64_t end = tellFile(f);
    seekFile(f, here, SEEK_SET);
    return end;
}
sf_count_t vioSeek(sf_count_t offset, int whence, void* user) {
    auto* f = static_cast<std::FILE*>(user);
    if (seekFile(f, offset, whence) != 0)
        return -1;
    return tellFile(f);
}
sf_count_t vioRead(void* ptr, sf_count_t count, void* user) {
    if (count <= 0)
        return 0;
    return static_cast<sf_count_t>(
        std::fread(ptr, 1, static_cast<std::size_t>(count), static_cast<std::FILE*>(user)));
}
sf_count_t vioWrite(const void*, sf_count_t, void*) {
    return 0; // read only
}
sf_count_t vioTell(void* user) {
    return tellFile(static_cast<std::FILE*>(user));
}

// Bits per sample of the source, for BASS_CHANNELINFO::origres; 0 for compressed codecs.
std::uint32_t sourceBits(int format) {
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
    WavDecoder(CFile file, SndfilePtr sndfile, const SF_INFO& info)
        : file_(std::move(file)), sndfile_(std::move(sndfile)) {
        format_.rate = static_cast<std::uint32_t>(info.samplerate);
        format_.channels = info.channels;
        format_.ctype = BASS_CTYPE_STREAM_WAV;
        format_.origres = sourceBits(info.format);
        frames_ = static_cast<std::uint64_t>(info.frames);
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
                got = sf_readf_short(sndfile_.get(), out + done * channels,
                                     static_cast<sf_count_t>(frames - done));
            } else {
                const std::size_t n = std::min(frames - done, kFloatChunk);
                got = sf_readf_float(sndfile_.get(), floats_.data(), static_cast<sf_count_t>(n));
                for (std::size_t i = 0; i < static_cast<std::size_t>(got) * channels; ++i)
                    out[done * channels + i] = floatToInt16(floats_[i]);
            }
            if (got <= 0) {
                if (sf_error(sndfile_.get()) != SF_ERR_NO_ERROR)
                    errorText_ = sf_strerror(sndfile_.get());
                break;
            }
            done += static_cast<std::size_t>(got);
        }
        return done;
    }

    bool seek(std::uint64_t frame) override {
        if (sf_seek(sndfile_.get(), static_cast<sf_count_t>(frame), SEEK_SET) < 0) {
            errorText_ = sf_strerror(sndfile_.get());
            return false;
        }
        return true;
    }

private:
    static constexpr std::size_t kFloatChunk = 4096; // frames converted per libsndfile call

    CFile file_; // must outlive sndfile_, which reads through it
    SndfilePtr sndfile_;
    std::vector<float> floats_; // conversion buffer of float files, made once at open
};

} // namespace

std::unique_ptr<Decoder> openWavDecoder(CFile file, const char* path) {
    const std::string name(path);
    if (seekFile(file.get(), 0, SEEK_SET) != 0) {
        setError(BASS_ERROR_FILEOPEN, name + ": cannot seek");
        return nullptr;
    }
    SF_VIRTUAL_IO io{vioLength, vioSeek, vioRead, vioWrite, vioTell};
    SF_INFO info{};
    SndfilePtr sndfile(sf_open_virtual(&io, SFM_READ, &info, file.get()));
    if (!sndfile) {
        setError(BASS_ERROR_FILEFORM, name + ": not a readable WAV file: " + sf_strerror(nullptr));
        return nullptr;
    }
    const int major = info.format & SF_FORMAT_TYPEMASK;
    if (major != SF_FORMAT_WAV && major != SF_FORMAT_WAVEX) {
        setError(BASS_ERROR_FILEFORM, name + ": not a WAV file");
        return nullptr;
    }
    if (info.channels < 1 || info.channels > 2) {
        setError(BASS_ERROR_FORMAT, name + ": " + std::to_string(info.channels) +
                                        " channels; only mono and stereo are supported");
        return nullptr;
    }
    if (info.samplerate <= 0) {
        setError(BASS_ERROR_FORMAT, name + ": no sample rate");
        return nullptr;
    }
    if (info.frames < 0)
        info.frames = 0;
    // No codec libsndfile reads in a WAV file yields more than about five frames per byte
    // (GSM 6.10); a larger count comes from a damaged size field and would make the stream
    // deliver silence almost without end.
    const sf_count_t fileBytes = vioLength(file.get());
    if (fileBytes >= 0 && info.frames > fileBytes * 8)
        info.frames = fileBytes * 8;
    return std::make_unique<WavDecoder>(std::move(file), std::move(sndfile), info);
}

} // namespace quaverly::bass::detail

#include "engines/wav/SampleReader.h"

#include "engines/util/AtomicFile.h"
#include "engines/wav/internal/SndfileReader.h"

#include <QFile>
#include <QFileInfo>

#include <sndfile.h>

#include <algorithm>
#include <bit>
#include <cstring>

namespace quaverly {

namespace pcm {

void toShorts(const char* bytes, std::size_t samples, int bits, std::int16_t* out) {
    const auto* b = reinterpret_cast<const unsigned char*>(bytes);
    if (bits == 8) {
        for (std::size_t i = 0; i < samples; ++i)
            out[i] = std::int16_t((int(b[i]) - 128) * 256);
    } else if constexpr (std::endian::native == std::endian::little) {
        std::memmove(out, bytes, samples * 2); // the bytes may already be in place
    } else {
        for (std::size_t i = 0; i < samples; ++i)
            out[i] = std::int16_t(std::uint16_t(b[2 * i] | b[2 * i + 1] << 8));
    }
}

void toFloats(const char* bytes, std::size_t samples, int bits, float* out) {
    // libsndfile's scales, 1 / 2^(bits - 1): exact in a float, so every sample is.
    constexpr float kScale16 = 1.0f / 32768.0f;
    constexpr float kScale8 = 1.0f / 128.0f;
    const auto* b = reinterpret_cast<const unsigned char*>(bytes);
    if (bits == 8) {
        for (std::size_t i = 0; i < samples; ++i)
            out[i] = float(int(b[i]) - 128) * kScale8;
    } else {
        for (std::size_t i = 0; i < samples; ++i)
            out[i] = float(std::int16_t(std::uint16_t(b[2 * i] | b[2 * i + 1] << 8))) * kScale16;
    }
}

void fromShorts(const std::int16_t* samples, std::size_t count, int bits, char* out) {
    if (bits == 8) {
        for (std::size_t i = 0; i < count; ++i)
            out[i] = char((samples[i] >> 8) + 128);
    } else {
        for (std::size_t i = 0; i < count; ++i) {
            out[2 * i] = char(samples[i] & 0xFF);
            out[2 * i + 1] = char((samples[i] >> 8) & 0xFF);
        }
    }
}

} // namespace pcm

SampleReader::SampleReader() = default;
SampleReader::SampleReader(SampleReader&&) noexcept = default;
SampleReader& SampleReader::operator=(SampleReader&&) noexcept = default;
SampleReader::~SampleReader() = default;

Result<SampleReader> SampleReader::open(const QString& path) {
    return openAny(path, false);
}

Result<SampleReader> SampleReader::openPlain(const QString& path) {
    return openAny(path, true);
}

Result<SampleReader> SampleReader::openAny(const QString& path, bool plainOnly) {
    SampleReader r;
    r.path_ = path;
    if (!QFileInfo::exists(path))
        return r.fail(QStringLiteral("the file does not exist"), sound::kFileOpen);
    auto file = std::make_unique<QFile>(path);
    // Blocks are read whole; a buffer in QFile would only copy them once more.
    if (Status opened = openForReading(*file, QIODevice::ReadOnly | QIODevice::Unbuffered); !opened)
        return r.fail(opened.error().cause(), sound::kFileOpen);
    const auto layout = probeWav(*file);
    if (!layout && file->error() != QFileDevice::NoError)
        return r.fail(layout.error().cause(), sound::kFileOpen); // a read the system refused
    if (layout && isPlainPcm(*layout)) {
        r.layout_ = *layout;
        r.channels_ = layout->channels;
        r.sampleRate_ = layout->sampleRate;
        r.frames_ = std::int64_t(layout->dataSize / layout->blockAlign);
        r.file_ = std::move(file);
        if (Status s = r.seek(0); !s)
            return s.error();
        return r;
    }
    if (plainOnly) {
        if (!layout)
            return r.fail(layout.error().cause(), sound::kFileForm);
        return r.fail(QStringLiteral("not an 8 or 16-bit PCM WAV file"), sound::kFormat);
    }
    file.reset();
    if (Status s = r.openThroughSndfile(); !s)
        return s.error();
    return r;
}

Status SampleReader::openThroughSndfile() {
    sndfile_ = std::make_unique<SndfileReader>();
    if (Status opened = sndfile_->open(path_); !opened) {
        const Error& e = opened.error();
        if (e.code() == sound::kFileForm)
            return fail(QStringLiteral("not a readable WAV file (%1)").arg(e.cause()),
                        sound::kFileForm);
        return e.about(path_);
    }
    const SF_INFO& info = sndfile_->info();
    const int major = info.format & SF_FORMAT_TYPEMASK;
    if (major != SF_FORMAT_WAV && major != SF_FORMAT_WAVEX && major != SF_FORMAT_RF64)
        return fail(QStringLiteral("not a WAV file"), sound::kFileForm);
    channels_ = info.channels;
    sampleRate_ = info.samplerate > 0 ? std::uint32_t(info.samplerate) : 0;
    frames_ = info.frames;
    return {};
}

Status SampleReader::seek(std::int64_t frame) {
    if (frame < 0 || frame > frames_)
        return fail(
            QStringLiteral("frame %1 is outside the sound's %2 frames").arg(frame).arg(frames_),
            sound::kPosition);
    if (sndfile_) {
        if (Status sought = sndfile_->seek(frame); !sought)
            return sought.error().about(path_);
    } else if (!file_->seek(qint64(layout_.dataOffset) + qint64(frame) * layout_.blockAlign)) {
        return fail(file_->errorString(), sound::kFileOpen);
    }
    position_ = frame;
    return {};
}

Result<std::size_t> SampleReader::readRaw(char* out, std::size_t frames) {
    if (!file_)
        return fail(QStringLiteral("not an 8 or 16-bit PCM WAV file"), sound::kFormat);
    const std::size_t due = std::min<std::size_t>(frames, std::size_t(frames_ - position_));
    const qint64 want = qint64(due) * layout_.blockAlign;
    qint64 got = 0;
    while (got < want) {
        const qint64 n = file_->read(out + got, want - got);
        if (n < 0)
            return fail(file_->errorString(), sound::kFileOpen);
        if (n == 0)
            break;
        got += n;
    }
    position_ += got / layout_.blockAlign;
    if (got < want)
        return fail(
            QStringLiteral("the file ends after %1 of its %2 frames").arg(position_).arg(frames_),
            sound::kNotAvail);
    return due;
}

template <typename T, typename Convert>
Result<std::size_t> SampleReader::readConverted(T* out, std::size_t frames, Convert convert) {
    const std::size_t due = std::min<std::size_t>(frames, std::size_t(frames_ - position_));
    bytes_.resize(std::max(bytes_.size(), due * layout_.blockAlign));
    auto got = readRaw(bytes_.data(), due);
    if (got)
        convert(bytes_.data(), *got * std::size_t(channels_), layout_.bitsPerSample, out);
    return got;
}

Result<std::size_t> SampleReader::readShorts(std::int16_t* out, std::size_t frames) {
    if (sndfile_) {
        const Result<sf_count_t> got = sndfile_->readShorts(out, sf_count_t(frames));
        if (!got)
            return got.error().about(path_);
        position_ += *got;
        return std::size_t(*got);
    }
    if (layout_.bitsPerSample == 16) { // the bytes go where the samples will be
        auto got = readRaw(reinterpret_cast<char*>(out), frames);
        if (got)
            pcm::toShorts(reinterpret_cast<const char*>(out), *got * std::size_t(channels_), 16,
                          out);
        return got;
    }
    return readConverted(out, frames, &pcm::toShorts);
}

Result<std::size_t> SampleReader::readFloats(float* out, std::size_t frames) {
    if (sndfile_) {
        const Result<sf_count_t> got = sndfile_->readFloats(out, sf_count_t(frames));
        if (!got)
            return got.error().about(path_);
        position_ += *got;
        return std::size_t(*got);
    }
    return readConverted(out, frames, &pcm::toFloats);
}

} // namespace quaverly

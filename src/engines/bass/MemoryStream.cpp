#include "engines/bass/MemoryStream.h"

#include "engines/mci/MciWav.h"
#include "engines/wav/WavHeader.h"

#include <QBuffer>
#include <QByteArray>

#include <algorithm>
#include <cstring>
#include <limits>

namespace quaverly::bass::detail {

std::optional<WavImage> parseWavImage(const void* image, QWORD length) {
    if (length > static_cast<QWORD>(std::numeric_limits<qsizetype>::max())) {
        setError(BASS_ERROR_ILLPARAM, "the memory image is larger than this machine can address");
        return std::nullopt;
    }
    // A read-only view of the caller's bytes: QBuffer never reads past its size.
    const QByteArray view =
        QByteArray::fromRawData(static_cast<const char*>(image), static_cast<qsizetype>(length));
    QBuffer device;
    device.setData(view);
    if (!device.open(QIODevice::ReadOnly)) {
        setError(BASS_ERROR_MEM, "cannot read the memory image");
        return std::nullopt;
    }
    QString why;
    const auto layout = probeWav(device, &why);
    if (!layout) {
        setError(BASS_ERROR_FILEFORM, "memory image: " + why.toStdString());
        return std::nullopt;
    }
    if (!mciwav::isPlainPcm(*layout)) {
        setError(BASS_ERROR_FORMAT, "memory image: format " + std::to_string(layout->formatTag) +
                                        ", " + std::to_string(layout->bitsPerSample) +
                                        " bits; only 8 or 16-bit PCM plays from memory");
        return std::nullopt;
    }
    if (layout->channels > 2) {
        setError(BASS_ERROR_FORMAT, "memory image: " + std::to_string(layout->channels) +
                                        " channels; only mono and stereo play from memory");
        return std::nullopt;
    }
    WavImage result;
    result.format.sampleRate = layout->sampleRate;
    result.format.channels = layout->channels;
    result.format.bitsPerSample = layout->bitsPerSample;
    QString unsupported;
    if (!audio::isSupportedFormat(result.format, &unsupported)) {
        setError(BASS_ERROR_FORMAT, "memory image: " + unsupported.toStdString());
        return std::nullopt;
    }
    // probeWav has clamped the data chunk to the image and to whole frames.
    result.pcm = static_cast<const std::uint8_t*>(image) + layout->dataOffset;
    result.bytes = layout->dataSize;
    return result;
}

std::unique_ptr<MemoryStream> MemoryStream::open(const void* image, QWORD length,
                                                 std::shared_ptr<audio::AudioBackend> device) {
    const auto parsed = parseWavImage(image, length);
    if (!parsed)
        return nullptr;
    return std::make_unique<MemoryStream>(*parsed, std::move(device));
}

MemoryStream::MemoryStream(const WavImage& image, std::shared_ptr<audio::AudioBackend> device)
    : image_(image), frameBytes_(image.format.bytesPerFrame()), device_(std::move(device)) {}

MemoryStream::~MemoryStream() {
    // The playback stream goes first: after that no pull() reads the image.
    playback_.reset();
}

BASS_CHANNELINFO MemoryStream::info() const {
    BASS_CHANNELINFO i;
    i.freq = image_.format.sampleRate;
    i.chans = image_.format.channels;
    i.flags = image_.format.bitsPerSample == 8 ? BASS_SAMPLE_8BITS : 0;
    i.ctype = BASS_CTYPE_STREAM_MEMORY;
    i.origres = image_.format.bitsPerSample;
    return i;
}

bool MemoryStream::ended() const {
    return playback_ && playback_->finished();
}

DWORD MemoryStream::isActive() const {
    if (!playback_)
        return BASS_ACTIVE_STOPPED;
    const QString failure = playback_->error();
    if (!failure.isEmpty()) {
        setError(BASS_ERROR_DRIVER, failure.toStdString());
        return BASS_ACTIVE_STOPPED;
    }
    return playback_->finished() ? BASS_ACTIVE_STOPPED : BASS_ACTIVE_PLAYING;
}

QWORD MemoryStream::position() const {
    if (!playback_)
        return heard_;
    const QWORD played = playback_->framesPlayed() * frameBytes_;
    return std::min(start_ + played, image_.bytes);
}

bool MemoryStream::setPosition(QWORD position) {
    if (released_) {
        setError(BASS_ERROR_HANDLE, "the stream has been freed");
        return false;
    }
    if (position > image_.bytes) {
        setError(BASS_ERROR_POSITION, "position " + std::to_string(position) +
                                          " is past the end (" + std::to_string(image_.bytes) +
                                          " bytes)");
        return false;
    }
    const QWORD byte = position - position % frameBytes_;
    if (playback_ && !ended())
        return startAt(byte);
    playback_.reset();
    heard_ = byte;
    return true;
}

bool MemoryStream::play(bool restart) {
    if (released_) {
        setError(BASS_ERROR_HANDLE, "the stream has been freed");
        return false;
    }
    if (playback_ && !ended() && playback_->error().isEmpty() && !restart)
        return true;
    QWORD from = restart ? 0 : position();
    if (from >= image_.bytes)
        from = 0; // heard to the end: play it again
    return startAt(from);
}

bool MemoryStream::startAt(QWORD byte) {
    // The old stream goes first, so that only one pull() ever reads next_.
    playback_.reset();
    heard_ = byte;
    start_ = byte;
    next_ = byte;
    QString why;
    playback_ = device_->openPlayback(
        image_.format, [this](void* dst, std::size_t bytes) { return pull(dst, bytes); }, &why);
    if (!playback_) {
        setError(BASS_ERROR_START,
                 "cannot play the stream: " +
                     (why.isEmpty() ? std::string("the device refused it") : why.toStdString()));
        return false;
    }
    return true;
}

bool MemoryStream::stop() {
    if (playback_) {
        heard_ = position();
        playback_.reset();
    }
    return true;
}

void MemoryStream::release() {
    released_ = true;
    stop();
}

std::size_t MemoryStream::pull(void* dst, std::size_t bytes) {
    const QWORD left = image_.bytes - std::min(next_, image_.bytes);
    std::size_t n = static_cast<std::size_t>(std::min<QWORD>(bytes, left));
    n -= n % frameBytes_;
    std::memcpy(dst, image_.pcm + next_, n);
    next_ += n;
    return n;
}

} // namespace quaverly::bass::detail

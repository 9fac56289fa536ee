#include "engines/bass/FileStream.h"

#include <QFileInfo>
#include <QString>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>

namespace quaverly::bass::detail {
namespace {

bool isRiffWave(const unsigned char* head, std::size_t size) {
    return size >= 12 && std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WAVE", 4) == 0;
}

// The layer's PCM is little-endian whatever the machine.
void toLittleEndian(std::int16_t* samples, std::size_t count) {
    if constexpr (std::endian::native == std::endian::big) {
        for (std::size_t i = 0; i < count; ++i) {
            const auto v = static_cast<std::uint16_t>(samples[i]);
            samples[i] = static_cast<std::int16_t>(static_cast<std::uint16_t>((v << 8) | (v >> 8)));
        }
    } else {
        (void)samples;
        (void)count;
    }
}

} // namespace

std::unique_ptr<FileStream> FileStream::open(const char* path) {
    const QString name = QString::fromUtf8(path);
    const QFileInfo fileInfo(name);
    // Only regular files: a pipe or a device could block the open or never end.
    if (!fileInfo.isFile()) {
        setError(BASS_ERROR_FILEOPEN,
                 std::string(path) + ": " +
                     (fileInfo.exists() ? "not a regular file" : "no such file"));
        return nullptr;
    }
    CFile file = openFileUtf8(path);
    if (!file) {
        setError(BASS_ERROR_FILEOPEN, std::string(path) + ": cannot open: " + std::strerror(errno));
        return nullptr;
    }
    unsigned char head[12];
    const std::size_t got = std::fread(head, 1, sizeof head, file.get());
    if (std::ferror(file.get())) {
        setError(BASS_ERROR_FILEOPEN, std::string(path) + ": read error: " + std::strerror(errno));
        return nullptr;
    }
    if (got == 0) {
        setError(BASS_ERROR_FILEFORM, std::string(path) + ": empty file");
        return nullptr;
    }
    std::unique_ptr<Decoder> decoder =
        isRiffWave(head, got) ? openWavDecoder(path) : openMpegDecoder(std::move(file), path);
    if (!decoder)
        return nullptr;
    return std::make_unique<FileStream>(std::move(decoder), path);
}

FileStream::FileStream(std::unique_ptr<Decoder> decoder, std::string name)
    : decoder_(std::move(decoder)), name_(std::move(name)),
      frameBytes_(static_cast<DWORD>(decoder_->format().channels) * 2u),
      length_(decoder_->frames() * frameBytes_) {}

BASS_CHANNELINFO FileStream::info() const {
    BASS_CHANNELINFO i;
    i.freq = decoder_->format().rate;
    i.chans = static_cast<DWORD>(decoder_->format().channels);
    i.flags = BASS_STREAM_DECODE;
    i.ctype = decoder_->format().ctype;
    i.origres = decoder_->format().origres;
    return i;
}

DWORD FileStream::isActive() const {
    return !stopped_ && position_ < length_ ? BASS_ACTIVE_PLAYING : BASS_ACTIVE_STOPPED;
}

DWORD FileStream::getData(void* buffer, DWORD length) {
    if (stopped_ || position_ >= length_) {
        setError(BASS_ERROR_ENDED, "the stream has ended");
        return 0xFFFFFFFFu;
    }
    if (!failure_.empty()) {
        setError(BASS_ERROR_NOTAVAIL, failure_);
        return 0xFFFFFFFFu;
    }
    const QWORD wanted = std::min<QWORD>(length - length % frameBytes_, length_ - position_);
    const std::size_t frames = static_cast<std::size_t>(wanted / frameBytes_);
    auto* out = static_cast<std::int16_t*>(buffer);
    const std::size_t decoded = decoder_->read(out, frames);
    if (decoded < frames) {
        // The decoder stopped before the length found at open (a read error, a file that shrank
        // or is damaged): what it gave is delivered, then the stream fails. Silence in place of
        // the rest would pass a broken decode off as a whole one.
        const QWORD missing = length_ - position_ - decoded * frameBytes_;
        failure_ = name_ + ": the sound stops " + std::to_string(missing) +
                   " bytes before its end: " +
                   (decoder_->errorText().empty() ? std::string("the data ends there")
                                                  : decoder_->errorText());
        if (decoded == 0) {
            setError(BASS_ERROR_NOTAVAIL, failure_);
            return 0xFFFFFFFFu;
        }
    }
    toLittleEndian(out, decoded * static_cast<std::size_t>(decoder_->format().channels));
    const auto delivered = static_cast<DWORD>(decoded * frameBytes_);
    position_ += delivered;
    return delivered;
}

bool FileStream::setPosition(QWORD position) {
    if (position > length_) {
        setError(BASS_ERROR_POSITION, "position " + std::to_string(position) +
                                          " is past the end (" + std::to_string(length_) + ")");
        return false;
    }
    const QWORD aligned = position - position % frameBytes_;
    if (!decoder_->seek(aligned / frameBytes_)) {
        setError(BASS_ERROR_POSITION, "cannot seek: " + decoder_->errorText());
        return false;
    }
    position_ = aligned;
    stopped_ = false;
    failure_.clear();
    return true;
}

bool FileStream::play(bool) {
    setError(BASS_ERROR_DECODE, "a decoding channel cannot be played");
    return false;
}

bool FileStream::stop() {
    stopped_ = true;
    return true;
}

} // namespace quaverly::bass::detail

#include "engines/decode/SongReader.h"

#include "engines/decode/internal/Decoder.h"
#include "engines/decode/internal/ParallelMpeg.h"

#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace quaverly {
namespace {

bool isRiffWave(const unsigned char* head, std::size_t size) {
    return size >= 12 && std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WAVE", 4) == 0;
}

QString systemError(int code) {
    return QString::fromLocal8Bit(std::strerror(code));
}

} // namespace

Result<SongReader> SongReader::open(const QString& path) {
    const QFileInfo info(path);
    // Only regular files: a pipe or a device could block the open or never end.
    if (!info.isFile())
        return Error(path,
                     info.exists() ? QStringLiteral("not a regular file")
                                   : QStringLiteral("no such file"),
                     sound::kFileOpen);
    decode::CFile file = decode::openFile(path);
    if (!file)
        return Error(path, QStringLiteral("cannot open: ") + systemError(errno), sound::kFileOpen);
    unsigned char head[12];
    const std::size_t got = std::fread(head, 1, sizeof head, file.get());
    if (std::ferror(file.get()))
        return Error(path, QStringLiteral("read error: ") + systemError(errno), sound::kFileOpen);
    if (got == 0)
        return Error(path, QStringLiteral("empty file"), sound::kFileForm);
    auto decoder = isRiffWave(head, got) ? decode::openWavDecoder(path)
                                         : decode::openMpegDecoder(std::move(file), path);
    if (!decoder)
        return decoder.error();
    return SongReader(path, std::move(*decoder));
}

SongReader::SongReader(QString path, std::unique_ptr<decode::Decoder> decoder)
    : path_(std::move(path)), decoder_(std::move(decoder)) {}

SongReader::SongReader(SongReader&&) noexcept = default;
SongReader& SongReader::operator=(SongReader&&) noexcept = default;
SongReader::~SongReader() = default;

const SongFormat& SongReader::format() const {
    return decoder_->format();
}

std::uint64_t SongReader::frames() const {
    return decoder_->frames();
}

Result<std::size_t> SongReader::read(std::int16_t* out, std::size_t frames) {
    const std::uint64_t total = decoder_->frames();
    if (position_ >= total || frames == 0)
        return std::size_t{0};
    if (!failure_.isEmpty())
        return Error(path_, failure_, sound::kNotAvail);
    const auto wanted =
        static_cast<std::size_t>(std::min<std::uint64_t>(frames, total - position_));
    const std::size_t decoded = decoder_->read(out, wanted);
    position_ += decoded;
    if (decoded < wanted) {
        // The decoder stopped before the length found at open (a read error, a file that shrank
        // or is damaged): what it gave is delivered, then the reader fails. Silence in place of
        // the rest would pass a broken decode off as a whole one.
        const std::uint64_t missing =
            (total - position_) * static_cast<std::uint64_t>(decoder_->format().channels) * 2;
        const std::string& why = decoder_->errorText();
        failure_ = QStringLiteral("the sound stops %1 bytes before its end: %2")
                       .arg(missing)
                       .arg(why.empty() ? QStringLiteral("the data ends there")
                                        : QString::fromStdString(why));
        if (decoded == 0)
            return Error(path_, failure_, sound::kNotAvail);
    }
    return decoded;
}

Status SongReader::seek(std::uint64_t frame) {
    if (frame > decoder_->frames())
        return Error(path_,
                     QStringLiteral("frame %1 is past the end (%2)").arg(frame).arg(frames()),
                     sound::kPosition);
    if (!decoder_->seek(frame))
        return Error(
            path_, QStringLiteral("cannot seek: ") + QString::fromStdString(decoder_->errorText()),
            sound::kPosition);
    position_ = frame;
    failure_.clear();
    return {};
}

void SongReader::setMpegSliceFramesForTesting(int n) {
    decode::setMpegSliceFramesForTesting(n);
}

std::uint64_t SongReader::mpegSlicesDecoded() {
    return decode::mpegSlicesDecoded();
}

} // namespace quaverly

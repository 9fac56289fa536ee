#include "engines/decode/SongReader.h"

#include "engines/decode/internal/Decoder.h"
#include "engines/decode/internal/ParallelChunks.h"
#include "engines/decode/internal/ParallelMpeg.h"
#include "engines/formats/Formats.h"
#include "engines/util/ClockText.h"
#include "engines/util/FrameTime.h"

#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

namespace quaverly {
namespace {

struct Head {
    const unsigned char* bytes;
    std::size_t size;
    bool is(std::size_t at, const char* magic) const {
        const std::size_t length = std::strlen(magic);
        return size >= at + length && std::memcmp(bytes + at, magic, length) == 0;
    }
};

// Which library reads a file, from its first bytes (the table's signs); nullopt: none knows.
std::optional<formats::Reader> readerFor(const Head& h) {
    if (const formats::FileFormat* kind = formats::recognise(h.bytes, h.size))
        return kind->reader;
    return std::nullopt;
}

// The bytes an ID3v2 tag at the start takes (0 without one); tags sit before MP3, FLAC and
// AAC streams alike.
std::int64_t id3Size(const Head& h) {
    if (!h.is(0, "ID3") || h.size < 10)
        return 0;
    const unsigned char* b = h.bytes;
    const std::int64_t size = (std::int64_t(b[6] & 0x7F) << 21) |
                              (std::int64_t(b[7] & 0x7F) << 14) | (std::int64_t(b[8] & 0x7F) << 7) |
                              std::int64_t(b[9] & 0x7F);
    return 10 + size + ((b[5] & 0x10) ? 10 : 0);
}

QString systemError(int code) {
    return QString::fromLocal8Bit(std::strerror(code));
}

// Whether FFmpeg's refusal of a file tells of a container it found (one without sound, a
// protected one, one of a codec it lacks), rather than of bytes it found nothing in.
bool foundContainer(const Error& refusal) {
    const QString& cause = refusal.cause();
    return cause == QLatin1String("holds no audio") ||
           cause.startsWith(QLatin1String("is copy-protected")) ||
           cause.startsWith(QLatin1String("no decoder for"));
}

// Where a decode broke off: a position to the millisecond, of a length to the second (at least
// one, so that a short song's length does not read as none).
QString breakOff(std::uint64_t at, std::uint64_t length, bool lengthKnown, std::uint32_t rate,
                 const QString& cause) {
    const QString where = clockMillis(frametime::framesToMs(at, rate));
    if (!lengthKnown)
        return QStringLiteral("the sound breaks off at %1: %2").arg(where, cause);
    const std::uint64_t seconds =
        std::max<std::uint64_t>(1, (frametime::framesToMs(length, rate) + 500) / 1000);
    return QStringLiteral("the sound breaks off at %1 of %2: %3")
        .arg(where, clockSeconds(seconds), cause);
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
    unsigned char bytes[64];
    std::size_t got = std::fread(bytes, 1, sizeof bytes, file.get());
    if (std::ferror(file.get()))
        return Error(path, QStringLiteral("read error: ") + systemError(errno), sound::kFileOpen);
    if (got == 0)
        return Error(path, QStringLiteral("empty file"), sound::kFileForm);
    std::optional<formats::Reader> reader = readerFor({bytes, got});
    const std::int64_t tag = id3Size({bytes, got});
    if (tag > 0) {
        // What follows the tag decides; libmpg123 and FFmpeg skip the tag themselves.
        got = decode::seekFile(file.get(), tag, SEEK_SET) == 0
                  ? std::fread(bytes, 1, sizeof bytes, file.get())
                  : 0;
        reader = readerFor({bytes, got});
        if (reader == formats::Reader::Sndfile)
            reader = formats::Reader::Ffmpeg; // libsndfile reads no ID3 tag before a FLAC stream
    }
    Result<decode::DecoderPtr> decoder = Error(path, QString());
    if (!reader) {
        // MPEG audio may follow junk of any length; whatever libmpg123 finds no frames in goes
        // to FFmpeg, which knows many more kinds. Its refusal counts only when it found a
        // container; else the file holds nothing either reads, whatever its name says.
        decoder = decode::openMpegDecoder(std::move(file), path);
        if (!decoder && decoder.error().code() == sound::kFileForm) {
            auto other = decode::openFfmpegDecoder(path);
            if (other || foundContainer(other.error()))
                decoder = std::move(other);
            else
                decoder = Error(path,
                                tag > 0 ? QStringLiteral("holds an ID3 tag but no audio that "
                                                         "Quaverly reads")
                                        : QStringLiteral("holds no audio that Quaverly reads"),
                                sound::kFileForm);
        }
    } else {
        switch (*reader) {
        case formats::Reader::Sndfile:
            decoder = decode::openSndfileDecoder(path);
            break;
        case formats::Reader::Ffmpeg:
            decoder = decode::openFfmpegDecoder(path);
            break;
        case formats::Reader::Mpeg:
            decoder = decode::openMpegDecoder(std::move(file), path);
            break;
        }
    }
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
    const bool exact = decoder_->format().lengthExact;
    const std::uint64_t total = decoder_->frames();
    if ((exact && position_ >= total) || frames == 0 || ended_)
        return std::size_t{0};
    if (!failure_.isEmpty())
        return Error(path_, failure_, sound::kNotAvail);
    const auto wanted =
        exact ? static_cast<std::size_t>(std::min<std::uint64_t>(frames, total - position_))
              : frames;
    const decode::Decoded got = decoder_->read(out, wanted);
    const std::size_t decoded = got.frames;
    position_ += decoded;
    if (decoded < wanted && !exact && got.status) {
        ended_ = true; // the true end: frames() is exact from here
        return decoded;
    }
    if (decoded < wanted) {
        // The decoder stopped before the length found at open (a read error, a file that shrank
        // or is damaged): what it gave is delivered, then the reader fails. Silence in place of
        // the rest would pass a broken decode off as a whole one.
        const QString cause =
            got.status ? QStringLiteral("the data ends there") : got.status.error().cause();
        failure_ = breakOff(position_, total, exact, decoder_->format().rate, cause);
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
    if (Status sought = decoder_->seek(frame); !sought)
        return Error(path_, QStringLiteral("cannot seek: ") + sought.error().cause(),
                     sound::kPosition);
    position_ = frame;
    failure_.clear();
    ended_ = false;
    return {};
}

void SongReader::setMpegSliceFramesForTesting(int n) {
    decode::setMpegSliceFramesForTesting(n);
}

std::uint64_t SongReader::mpegSlicesDecoded() {
    return decode::mpegSlicesDecoded();
}

void SongReader::setFlacChunkFramesForTesting(std::uint64_t n) {
    decode::ParallelChunks::setChunkFramesForTesting(n);
}

std::uint64_t SongReader::flacChunksDecoded() {
    return decode::ParallelChunks::chunksDecoded();
}

} // namespace quaverly

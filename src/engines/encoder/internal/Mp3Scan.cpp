#include "engines/encoder/internal/Mp3Scan.h"

#include "engines/encoder/FrameCopy.h"
#include "engines/encoder/internal/Mp3Frames.h"

#include <QFile>

#include <algorithm>
#include <cstring>
#include <optional>

namespace quaverly::framecopy::internal {
namespace {

constexpr qint64 kChunk = qint64(1) << 20;

std::uint32_t bigEndian(const unsigned char* p, int bytes) {
    std::uint32_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v = v << 8 | p[i];
    return v;
}

std::uint32_t littleEndian32(const unsigned char* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

// The file read in large blocks: at() gives bytes [pos, pos + n) of it, n at most a block.
class BlockReader {
public:
    BlockReader(QFile& file, const QString& song) : file_(file), song_(song) {}

    // Null when the file ends before pos + n; error() then tells whether a read failed.
    const unsigned char* at(std::uint64_t pos, std::size_t n) {
        if (pos >= start_ && pos + n <= start_ + block_.size())
            return reinterpret_cast<const unsigned char*>(block_.constData()) + (pos - start_);
        if (!file_.seek(qint64(pos))) {
            error_ = file_.errorString();
            return nullptr;
        }
        block_ = file_.read(std::max<qint64>(kChunk, qint64(n)));
        start_ = pos;
        if (block_.isEmpty() && file_.error() != QFileDevice::NoError)
            error_ = file_.errorString();
        if (std::size_t(block_.size()) < n)
            return nullptr;
        return reinterpret_cast<const unsigned char*>(block_.constData());
    }

    std::optional<Error> error() const {
        if (error_.isEmpty())
            return std::nullopt;
        return Error(song_, error_).during(CopyStep::Read);
    }

private:
    QFile& file_;
    const QString& song_;
    QByteArray block_;
    std::uint64_t start_ = 0;
    QString error_;
};

// Where the frames start: past any ID3v2 tags.
std::uint64_t afterId3v2(BlockReader& in, std::uint64_t end) {
    std::uint64_t pos = 0;
    while (pos + 10 <= end) {
        const unsigned char* b = in.at(pos, 10);
        if (!b || std::memcmp(b, "ID3", 3) != 0)
            break;
        pos += 10 +
               (std::uint64_t(b[6] & 0x7F) << 21 | std::uint64_t(b[7] & 0x7F) << 14 |
                std::uint64_t(b[8] & 0x7F) << 7 | std::uint64_t(b[9] & 0x7F)) +
               ((b[5] & 0x10) ? 10 : 0);
    }
    return pos;
}

// Where the frames end: before an ID3v1 tag and an APE tag.
std::uint64_t beforeTrailingTags(BlockReader& in, std::uint64_t end, std::uint64_t start) {
    if (end >= start + 128)
        if (const unsigned char* b = in.at(end - 128, 128); b && std::memcmp(b, "TAG", 3) == 0)
            end -= 128;
    if (end >= start + 32)
        if (const unsigned char* b = in.at(end - 32, 32); b && std::memcmp(b, "APETAGEX", 8) == 0) {
            const std::uint64_t size =
                littleEndian32(b + 12) + ((littleEndian32(b + 20) & 0x80000000u) ? 32 : 0);
            end = size <= end - start ? end - size : start;
        }
    return end;
}

// The gapless fields of a tag frame, where libmpg123 reads them: after the Xing fields its
// flags announce, when the first byte there is not zero.
void readTag(const unsigned char* frame, const mp3::FrameHeader& h, Mp3Scan& scan) {
    const std::size_t xing = h.dataOffset();
    if (h.size < xing + 8 ||
        (std::memcmp(frame + xing, "Xing", 4) != 0 && std::memcmp(frame + xing, "Info", 4) != 0))
        return;
    scan.tagged = true;
    const std::uint32_t flags = bigEndian(frame + xing + 4, 4);
    std::size_t at = xing + 8;
    if ((flags & 1) && at + 4 <= h.size)
        scan.taggedFrames = bigEndian(frame + at, 4);
    at += ((flags & 1) ? 4 : 0) + ((flags & 2) ? 4 : 0) + ((flags & 4) ? 100 : 0) +
          ((flags & 8) ? 4 : 0);
    if (at + 24 > h.size || frame[at] == 0)
        return;
    std::memcpy(scan.encoder.data(), frame + at, scan.encoder.size());
    const std::uint32_t fields = bigEndian(frame + at + 21, 3);
    scan.delay = int(fields >> 12);
    scan.padding = int(fields & 0xFFF);
}

// Why a header that is not one of a Layer III frame with a bit rate cannot be kept.
QString headerWhyNot(const unsigned char* b, std::uint64_t pos) {
    if (b[0] == 0xFF && (b[1] & 0xE0) == 0xE0 && ((b[1] >> 3) & 3) != 1) {
        const int layer = (b[1] >> 1) & 3;
        if (layer == 3 || layer == 2)
            return QStringLiteral("the song is MPEG Layer %1, not Layer III")
                .arg(layer == 3 ? QStringLiteral("I") : QStringLiteral("II"));
        if (layer == 1 && (b[2] >> 4) == 0)
            return QStringLiteral("the song has a free-format bit rate");
    }
    return QStringLiteral("the song holds bytes that are not MPEG frames (at byte %1)").arg(pos);
}

// Whether two frames that follow each other start somewhere in [from, end): a decoder that meets
// other bytes among the frames searches on for more.
bool framesFollow(BlockReader& in, std::uint64_t from, std::uint64_t end) {
    for (std::uint64_t pos = from; pos + 4 <= end; ++pos) {
        const unsigned char* b = in.at(pos, 4);
        if (!b)
            return false;
        if (b[0] != 0xFF)
            continue;
        const auto h = mp3::readFrameHeader(b);
        if (!h || pos + h->size + 4 > end)
            continue;
        if (const unsigned char* next = in.at(pos + h->size, 4); next && mp3::readFrameHeader(next))
            return true;
    }
    return false;
}

} // namespace

Result<Mp3Scan> scanMp3(const QString& song, const WorkProgress& work) {
    QFile file(song);
    if (!file.open(QIODevice::ReadOnly))
        return Error(song, file.errorString()).during(CopyStep::Read);
    BlockReader in(file, song);
    const std::uint64_t size = std::uint64_t(file.size());
    const std::uint64_t start = afterId3v2(in, size);
    const std::uint64_t end = beforeTrailingTags(in, size, std::min(start, size));
    Mp3Scan scan;
    std::optional<mp3::FrameHeader> first;
    for (std::uint64_t pos = start; pos + 4 <= end;) {
        if (scan.frames.size() % 4096 == 0 && work.stopped())
            return Error(song, QStringLiteral("cancelled")).during(CopyStep::Cancel);
        const unsigned char* b = in.at(pos, 4);
        if (!b)
            break;
        const auto h = mp3::readFrameHeader(b);
        if (!h) {
            // Other bytes after the last frame (zeros, a tag of another kind) end the stream.
            if (scan.frames.empty() || framesFollow(in, pos, end))
                scan.whyNot = headerWhyNot(b, pos);
            break;
        }
        if (pos + h->size > end) // a last frame cut short, which decoders drop
            break;
        b = in.at(pos, h->size);
        if (!b)
            break;
        if (!first) {
            first = h;
            scan.sampleRate = h->sampleRate;
            scan.channels = h->channels;
            scan.samplesPerFrame = h->samplesPerFrame();
            readTag(b, *h, scan);
            if (scan.tagged) {
                pos += h->size;
                continue;
            }
        } else if (h->sampleRate != first->sampleRate) {
            scan.whyNot = QStringLiteral("the song changes its sample rate");
            break;
        } else if (h->channels != first->channels) {
            scan.whyNot = QStringLiteral("the song changes between mono and stereo");
            break;
        }
        ScannedFrame f;
        f.offset = pos;
        f.size = std::uint32_t(h->size);
        f.dataOffset = std::uint16_t(h->dataOffset());
        f.mainDataBegin = std::uint16_t(mp3::mainDataBeginOf(*h, b));
        f.kbps = std::uint8_t(h->kbps / 2);
        if (!scan.frames.empty() && scan.frames.front().kbps != f.kbps)
            scan.constantRate = false;
        scan.frames.push_back(f);
        scan.audioBytes += h->size;
        pos += h->size;
    }
    if (const auto failed = in.error())
        return *failed;
    if (scan.whyNot.isEmpty() && scan.frames.empty())
        scan.whyNot = QStringLiteral("the song holds no MPEG audio frames");
    return scan;
}

} // namespace quaverly::framecopy::internal

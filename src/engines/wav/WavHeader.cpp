#include "engines/wav/WavHeader.h"

#include "engines/util/AtomicFile.h"

#include <QFile>

#include <cstring>

namespace quaverly {
namespace {

void put16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
void put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint16_t get16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
std::uint32_t get32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
           (std::uint32_t(p[3]) << 24);
}
bool tagIs(const std::uint8_t* p, const char* tag) {
    return std::memcmp(p, tag, 4) == 0;
}
// A refusal of `file`: a read the system refused is told as such, never as a file that is not a
// WAV file.
Error refusal(const QIODevice& file, const QString& cause, bool readFailed) {
    const auto* named = qobject_cast<const QFileDevice*>(&file);
    return Error(named ? named->fileName() : QString(), cause,
                 readFailed ? sound::kFileOpen : sound::kFileForm);
}

constexpr std::uint16_t kFormatPcm = 1;
constexpr std::uint16_t kFormatExtensible = 0xFFFE;

} // namespace

WavHeader WavHeader::pcm(std::uint16_t channels, std::uint32_t sampleRate,
                         std::uint16_t bitsPerSample, std::uint32_t dataSize) {
    WavHeader h;
    h.channels = channels;
    h.sampleRate = sampleRate;
    h.bitsPerSample = bitsPerSample;
    h.blockAlign = static_cast<std::uint16_t>(channels * ((bitsPerSample + 7) / 8));
    h.bytesPerSecond = h.blockAlign * sampleRate;
    h.setDataSize(dataSize);
    return h;
}

std::array<std::uint8_t, WavHeader::kSize> WavHeader::toBytes() const {
    std::array<std::uint8_t, kSize> b{};
    std::memcpy(&b[0], "RIFF", 4);
    put32(&b[4], riffSize);
    std::memcpy(&b[8], "WAVE", 4);
    std::memcpy(&b[12], "fmt ", 4);
    put32(&b[16], fmtSize);
    put16(&b[20], formatTag);
    put16(&b[22], channels);
    put32(&b[24], sampleRate);
    put32(&b[28], bytesPerSecond);
    put16(&b[32], blockAlign);
    put16(&b[34], bitsPerSample);
    std::memcpy(&b[36], "data", 4);
    put32(&b[40], dataSize);
    return b;
}

std::optional<WavHeader> WavHeader::fromBytes(const std::uint8_t* b, std::size_t size) {
    if (size < kSize || !tagIs(b, "RIFF") || !tagIs(b + 8, "WAVE") || !tagIs(b + 12, "fmt ") ||
        !tagIs(b + 36, "data") || get32(b + 16) != 16)
        return std::nullopt;
    WavHeader h;
    h.riffSize = get32(b + 4);
    h.fmtSize = 16;
    h.formatTag = get16(b + 20);
    h.channels = get16(b + 22);
    h.sampleRate = get32(b + 24);
    h.bytesPerSecond = get32(b + 28);
    h.blockAlign = get16(b + 32);
    h.bitsPerSample = get16(b + 34);
    h.dataSize = get32(b + 40);
    return h;
}

WavHeader WavLayout::header() const {
    const auto bytes = dataSize > WavHeader::kMaxDataSize ? WavHeader::kMaxDataSize
                                                          : static_cast<std::uint32_t>(dataSize);
    WavHeader h = WavHeader::pcm(channels, sampleRate, bitsPerSample, bytes);
    h.formatTag = formatTag;
    return h;
}

Result<WavLayout> probeWav(const QString& path) {
    QFile file(path);
    if (Status opened = openForReading(file, QIODevice::ReadOnly); !opened)
        return Error(path, opened.error().cause(), sound::kFileOpen);
    auto layout = probeWav(file);
    if (!layout)
        return layout.error().about(path);
    return layout;
}

namespace {

// The walk's reads of the device. A read the system refused (a disk error) is remembered, so
// that it is said as such, never as a file that is not a WAV file or ends early.
struct ChunkReader {
    QIODevice& file;
    bool failed = false;

    bool read(void* to, qint64 bytes) {
        const qint64 got = file.read(static_cast<char*>(to), bytes);
        failed = failed || got < 0;
        return got == bytes;
    }
    bool readAt(std::uint64_t pos, void* to, qint64 bytes) {
        return file.seek(static_cast<qint64>(pos)) && read(to, bytes);
    }
};

// The fields of a format chunk of which `present` bytes (at least 16) are in `fmt`.
void takeFormat(const std::uint8_t* fmt, std::uint64_t present, WavLayout& w) {
    w.formatTag = get16(fmt);
    w.channels = get16(fmt + 2);
    w.sampleRate = get32(fmt + 4);
    w.blockAlign = get16(fmt + 12);
    w.bitsPerSample = get16(fmt + 14);
    if (w.formatTag == kFormatExtensible && present >= 40)
        w.formatTag = get16(fmt + 24); // sub-format GUID starts with the format code
}

// Walks the chunks after the RIFF header to the first format and data chunks. Returns why the
// file is refused, or an empty text.
QString walkChunks(ChunkReader& in, WavLayout& w) {
    bool haveFmt = false, haveData = false;
    std::uint64_t pos = 12;
    // Every chunk advances pos by at least 8 bytes, so the walk ends within fileSize / 8 steps.
    while (pos + 8 <= w.fileSize && !(haveFmt && haveData)) {
        std::uint8_t chunk[8];
        if (!in.readAt(pos, chunk, 8))
            break;
        const std::uint64_t size = get32(chunk + 4);
        const std::uint64_t body = pos + 8;
        const std::uint64_t present = std::min<std::uint64_t>(size, w.fileSize - body);
        if (tagIs(chunk, "fmt ") && !haveFmt) {
            std::uint8_t fmt[40] = {};
            if (present < 16)
                return QStringLiteral("format chunk too short");
            if (!in.read(fmt, static_cast<qint64>(std::min<std::uint64_t>(present, sizeof fmt))))
                break;
            takeFormat(fmt, present, w);
            haveFmt = true;
        } else if (tagIs(chunk, "data") && !haveData) {
            w.dataOffset = body;
            w.dataSize = present;
            haveData = true;
        }
        pos = body + size + (size & 1u); // chunks are padded to even sizes
    }
    if (!haveFmt)
        return in.failed ? in.file.errorString() : QStringLiteral("no format chunk");
    if (!haveData)
        return in.failed ? in.file.errorString() : QStringLiteral("no data chunk");
    if (w.channels == 0 || w.sampleRate == 0 || w.blockAlign == 0 || w.bitsPerSample == 0)
        return QStringLiteral("damaged format chunk");
    return {};
}

// Whether the file is plain PCM in the 44-byte layout with both size fields right (see
// WavLayout::canonical). False also when the header cannot be read (then in.failed is set).
bool isCanonical(ChunkReader& in, const WavLayout& w) {
    std::uint8_t head[WavHeader::kSize];
    if (!isPlainPcm(w) || w.dataOffset != WavHeader::kSize || w.fileSize < WavHeader::kSize ||
        !in.readAt(0, head, WavHeader::kSize))
        return false;
    const auto h = WavHeader::fromBytes(head, WavHeader::kSize);
    // The walk took the format from these very bytes, as its first chunk; the sizes are the
    // header's own.
    return h && h->formatTag == kFormatPcm &&
           h->bytesPerSecond == std::uint32_t(h->blockAlign) * h->sampleRate &&
           std::uint64_t(h->dataSize) + WavHeader::kSize == w.fileSize &&
           std::uint64_t(h->riffSize) == std::uint64_t(h->dataSize) + 36u &&
           w.dataSize == h->dataSize;
}

} // namespace

Result<WavLayout> probeWav(QIODevice& file) {
    if (!file.isReadable() || file.isSequential())
        return refusal(file, QStringLiteral("not a readable, seekable device"), false);
    WavLayout w;
    w.fileSize = static_cast<std::uint64_t>(file.size());
    ChunkReader in{file};
    std::uint8_t riff[12];
    if (!in.readAt(0, riff, 12) || !tagIs(riff, "RIFF") || !tagIs(riff + 8, "WAVE"))
        return refusal(file, in.failed ? file.errorString() : QStringLiteral("not a WAV file"),
                       in.failed);
    if (const QString refused = walkChunks(in, w); !refused.isEmpty())
        return refusal(file, refused, in.failed);
    w.dataSize -= w.dataSize % w.blockAlign;
    w.canonical = isCanonical(in, w);
    if (in.failed)
        return refusal(file, file.errorString(), true);
    return w;
}

} // namespace quaverly

#pragma once
// Audio built in code for the tests: staircase ramps make every off-by-one at a cut or a join
// visible, since each frame carries its own index.

#include "engines/wav/WavHeader.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstdint>
#include <cstring>
#include <vector>

namespace quaverly::test {

// Frame i, channel c holds start + i * step + c * 1000, wrapped into 16 bits.
inline std::vector<std::int16_t> staircase(std::size_t frames, int channels, int start = 0,
                                           int step = 1) {
    std::vector<std::int16_t> s(frames * std::size_t(channels));
    for (std::size_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            s[i * std::size_t(channels) + std::size_t(c)] =
                static_cast<std::int16_t>(start + int(i) * step + c * 1000);
    return s;
}

inline QByteArray wavBytes(const WavHeader& format, const void* data, std::size_t bytes) {
    WavHeader h = format;
    h.setDataSize(static_cast<std::uint32_t>(bytes));
    const auto head = h.toBytes();
    QByteArray out(reinterpret_cast<const char*>(head.data()), WavHeader::kSize);
    out.append(static_cast<const char*>(data), qsizetype(bytes));
    return out;
}

inline bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// A 44-byte-header 16-bit PCM WAV.
inline bool writeWav16(const QString& path, int channels, std::uint32_t rate,
                       const std::vector<std::int16_t>& samples) {
    return writeFile(path, wavBytes(WavHeader::pcm(std::uint16_t(channels), rate, 16),
                                    samples.data(), samples.size() * 2));
}

// A 44-byte-header 8-bit (unsigned) PCM WAV.
inline bool writeWav8(const QString& path, int channels, std::uint32_t rate,
                      const std::vector<std::uint8_t>& samples) {
    return writeFile(path, wavBytes(WavHeader::pcm(std::uint16_t(channels), rate, 8),
                                    samples.data(), samples.size()));
}

inline QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The 16-bit samples of a byte range (little-endian).
inline std::vector<std::int16_t> samples16(const QByteArray& bytes, qsizetype from = 44) {
    std::vector<std::int16_t> s(std::size_t(bytes.size() - from) / 2);
    std::memcpy(s.data(), bytes.constData() + from, s.size() * 2);
    return s;
}

inline std::uint32_t le32(const QByteArray& b, qsizetype at) {
    return std::uint32_t(std::uint8_t(b[at])) | (std::uint32_t(std::uint8_t(b[at + 1])) << 8) |
           (std::uint32_t(std::uint8_t(b[at + 2])) << 16) |
           (std::uint32_t(std::uint8_t(b[at + 3])) << 24);
}

} // namespace quaverly::test

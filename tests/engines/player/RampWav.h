#pragma once
// Staircase-ramp WAV files built in code: every frame's samples follow from its index, so any
// stretch of a saved or played file can be checked against the exact frames it must hold.

#include "engines/wav/WavHeader.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstdint>
#include <string>

namespace ramp {

struct Format {
    std::uint32_t rate = 44100;
    std::uint16_t channels = 2;
    std::uint16_t bits = 16;
    std::uint32_t frameBytes() const { return channels * (bits / 8u); }
};

// The sample of `frame` on `channel`: a ramp rising by one per frame, offset per channel and
// shifted at each wrap of the sample range, so that a slip of one frame or of one whole wrap
// both change the value.
inline std::uint16_t sample(const Format& f, std::uint64_t frame, unsigned channel) {
    if (f.bits == 8) {
        const std::uint64_t v = frame + 3 * (frame >> 8) + 5 * (frame >> 16) + 128u * channel;
        return static_cast<std::uint16_t>(v & 0xFFu);
    }
    const std::uint64_t v = frame + 7 * (frame >> 16) + 32768u * channel;
    return static_cast<std::uint16_t>(v & 0xFFFFu);
}

// The sample bytes of frames [first, first + count).
inline QByteArray frames(const Format& f, std::uint64_t first, std::uint64_t count) {
    QByteArray out;
    out.reserve(static_cast<qsizetype>(count * f.frameBytes()));
    for (std::uint64_t i = first; i < first + count; ++i)
        for (unsigned c = 0; c < f.channels; ++c) {
            const auto s = sample(f, i, c);
            out.append(static_cast<char>(s & 0xFF));
            if (f.bits == 16)
                out.append(static_cast<char>(s >> 8));
        }
    return out;
}

inline QByteArray header(const Format& f, std::uint32_t dataBytes) {
    const auto h = quaverly::WavHeader::pcm(f.channels, f.rate, f.bits, dataBytes).toBytes();
    return QByteArray(reinterpret_cast<const char*>(h.data()), qsizetype(h.size()));
}

// A canonical 44-byte-header WAV of `count` ramp frames.
inline QByteArray wav(const Format& f, std::uint64_t count) {
    const QByteArray data = frames(f, 0, count);
    return header(f, static_cast<std::uint32_t>(data.size())) + data;
}

inline void put32(QByteArray& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b.append(static_cast<char>((v >> (8 * i)) & 0xFF));
}

// A chunk: tag, size, body and the pad byte of odd sizes.
inline QByteArray chunk(const char* tag, const QByteArray& body) {
    QByteArray b(tag, 4);
    put32(b, static_cast<std::uint32_t>(body.size()));
    b += body;
    if (body.size() % 2)
        b.append('\0');
    return b;
}

// A RIFF file of the given chunks (after "WAVE").
inline QByteArray riff(const QByteArray& chunks) {
    QByteArray b("RIFF");
    put32(b, static_cast<std::uint32_t>(chunks.size() + 4));
    b += "WAVE";
    b += chunks;
    return b;
}

// A format chunk body of 16 bytes.
inline QByteArray fmtBody(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate,
                          std::uint16_t bits) {
    QByteArray b;
    const std::uint16_t align = static_cast<std::uint16_t>(channels * bits / 8);
    auto put16 = [&b](std::uint16_t v) {
        b.append(static_cast<char>(v & 0xFF));
        b.append(static_cast<char>(v >> 8));
    };
    put16(tag);
    put16(channels);
    put32(b, rate);
    put32(b, rate * align);
    put16(align);
    put16(bits);
    return b;
}

inline bool write(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

inline QByteArray read(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Where two byte strings first differ, in words a failing test can act on.
inline std::string firstDifference(const QByteArray& got, const QByteArray& want,
                                   std::uint32_t frameBytes) {
    const qsizetype n = std::min(got.size(), want.size());
    for (qsizetype i = 0; i < n; ++i)
        if (got[i] != want[i])
            return "first difference at byte " + std::to_string(i) + " (frame " +
                   std::to_string(i / frameBytes) + ")";
    if (got.size() != want.size())
        return "sizes differ: " + std::to_string(got.size()) + " vs " + std::to_string(want.size());
    return "equal";
}

} // namespace ramp

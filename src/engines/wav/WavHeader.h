#pragma once
// The 44-byte RIFF/WAVE PCM header that working copies, joins, cuts and recordings carry,
// and a chunk walker that finds the samples of any WAV file.

#include "engines/util/Error.h"

#include <QString>

#include <array>
#include <cstdint>
#include <optional>

class QIODevice;

namespace quaverly {

// Little-endian canonical PCM header: "RIFF" size "WAVE" "fmt " 16 <16 bytes of format> "data"
// size.
struct WavHeader {
    static constexpr std::size_t kSize = 44;
    static constexpr std::uint32_t kMaxDataSize = 0xFFFFFFFFu - 36u; // riffSize must fit 32 bits

    std::uint32_t riffSize = 36;
    std::uint32_t fmtSize = 16;
    std::uint16_t formatTag = 1;
    std::uint16_t channels = 0;
    std::uint32_t sampleRate = 0;
    std::uint32_t bytesPerSecond = 0;
    std::uint16_t blockAlign = 0;
    std::uint16_t bitsPerSample = 0;
    std::uint32_t dataSize = 0;

    // A PCM header with blockAlign, bytesPerSecond and both size fields derived.
    static WavHeader pcm(std::uint16_t channels, std::uint32_t sampleRate,
                         std::uint16_t bitsPerSample, std::uint32_t dataSize = 0);

    void setDataSize(std::uint32_t bytes) {
        dataSize = bytes;
        riffSize = bytes + 36u;
    }
    std::array<std::uint8_t, kSize> toBytes() const;
    // Accepts only the canonical layout above (sizes are not checked against any file).
    static std::optional<WavHeader> fromBytes(const std::uint8_t* bytes, std::size_t size);
};

// Where a WAV file's samples are and what they are, found by walking its chunks.
struct WavLayout {
    std::uint16_t formatTag = 0; // 1 PCM, 3 IEEE float; an extensible file reports its sub-format
    std::uint16_t channels = 0;
    std::uint32_t sampleRate = 0;
    std::uint16_t bitsPerSample = 0; // container bits per sample
    std::uint16_t blockAlign = 0;
    std::uint64_t dataOffset = 0; // first sample byte
    std::uint64_t dataSize = 0; // sample bytes actually present (clamped to the file, whole frames)
    std::uint64_t fileSize = 0;
    // True when the samples are plain PCM (isPlainPcm) and the file is exactly the 44-byte header
    // followed by its samples to the end of the file, with both size fields right: such a file
    // can be copied and joined byte for byte as a whole.
    bool canonical = false;

    WavHeader header() const; // the canonical header for these samples
};

// The one definition of plain PCM, samples the program can cut, copy, join and play byte for
// byte: integer PCM (an extensible file's sub-format counts) of 8 (unsigned) or 16 (signed)
// bits, one sample per channel in each frame, mono or stereo.
inline bool isPlainPcm(const WavLayout& l) {
    return l.formatTag == 1 && (l.bitsPerSample == 8 || l.bitsPerSample == 16) &&
           (l.channels == 1 || l.channels == 2) && l.blockAlign == l.channels * l.bitsPerSample / 8;
}

// Walks the RIFF chunks of a file. Refuses anything that is not a WAV file with a format chunk
// and a data chunk (code sound::kFileForm), and a file the system would not open or read (code
// sound::kFileOpen, the cause in the system's words); never reads past the end, whatever the
// size fields claim. The Error names `path` as given.
Result<WavLayout> probeWav(const QString& path);
// The same walk over an open, random-access device (a file, or a QBuffer over a WAV image in
// memory); fileSize is the device's size. Reads nothing past its end. The Error names the file
// of a file device, and no file otherwise.
Result<WavLayout> probeWav(QIODevice& device);

} // namespace quaverly

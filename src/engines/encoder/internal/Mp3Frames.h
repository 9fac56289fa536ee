#pragma once
// The MPEG Layer III frames of an encoded stream, as the splicing of separately encoded segments
// needs them: where each frame and its main data area lie, how far back into earlier frames its
// main data begins (the bit reservoir), and the window shape its last granule ends with. Also
// the CRC-16 and the fields of LAME's tag frame that depend on the whole stream.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace quaverly::mp3 {

struct Mp3Frame {
    std::size_t offset = 0;     // of the frame's header in its stream
    std::size_t size = 0;       // header to the last byte
    std::size_t dataOffset = 0; // the main data area: after header, CRC and side information
    int mainDataBegin = 0;      // bytes before the data area where this frame's main data starts
    // The last granule's block type for each channel (0 long, 1 start, 2 short, 3 stop, +4 when
    // mixed). A granule's window overlaps the next one's, so both sides of a splice must agree.
    std::array<std::uint8_t, 2> lastBlockTypes{};
    std::size_t end() const { return offset + size; }
};

// Splits a stream of whole Layer III frames, starting at its first byte, into frames; nullopt at
// anything else (a bad header, a frame cut short).
std::optional<std::vector<Mp3Frame>> parseFrames(const unsigned char* data, std::size_t size);

// The positions, in order, of the last `count` main data bytes before frame `end`'s data area,
// walking back through the data areas of frames[0..end); nullopt when they hold fewer.
std::optional<std::vector<std::size_t>> mainDataBefore(const std::vector<Mp3Frame>& frames,
                                                       std::size_t end, std::size_t count);

// CRC-16 as LAME's tag uses it (polynomial 0x8005, reflected, starting from `crc`).
std::uint16_t crc16(const unsigned char* data, std::size_t size, std::uint16_t crc = 0);

// What LAME's tag frame says about the stream as a whole.
struct StreamFacts {
    std::uint32_t audioFrames = 0;           // frames after the tag frame
    std::uint32_t totalBytes = 0;            // tag frame included
    std::vector<std::uint64_t> frameOffsets; // of every audio frame, from the tag frame's start
    std::uint64_t sampleFrames = 0;          // of the sound encoded
    int samplesPerFrame = 1152;
    std::uint16_t musicCrc = 0; // over every audio frame
};

// Rewrites LAME's tag frame (the first frame, "Info" or "Xing" with its LAME extension) for
// `facts`: frame and byte counts, seek table, the padding that leaves exactly the sound after
// the tag's encoder delay, music length and CRC, the tag's own CRC; the gain fields are cleared,
// since they describe only what one encoder saw. False when the frame is not such a tag.
bool rewriteLameTag(std::vector<unsigned char>& tag, const StreamFacts& facts);

} // namespace quaverly::mp3

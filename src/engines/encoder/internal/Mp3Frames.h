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

// What one Layer III frame header says (not free format: its size follows from the header).
struct FrameHeader {
    bool mpeg1 = false;
    bool crc = false;
    int channels = 0;
    int sampleRate = 0;
    int kbps = 0;
    std::size_t size = 0;     // header to the last byte
    std::size_t sideInfo = 0; // bytes of side information
    int samplesPerFrame() const { return mpeg1 ? 1152 : 576; }
    // Where the side information ends and the main data area begins.
    std::size_t dataOffset() const { return 4 + (crc ? 2 : 0) + sideInfo; }
};

// The header at p (4 bytes); nullopt for anything but a valid Layer III header with a bit rate.
std::optional<FrameHeader> readFrameHeader(const unsigned char* p);

// main_data_begin of the frame at p whose header is h: how many bytes before its own main data
// area its main data starts.
int mainDataBeginOf(const FrameHeader& h, const unsigned char* p);

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

// Makes the frame at p (header h) decode to silence, its main data area left as it is for the
// frames after it: side information zeroed but for main_data_begin (`mainDataBegin`, so that the
// bytes before it stay in the decoder's reservoir), its CRC, if it has one, made anew.
void silenceFrame(const FrameHeader& h, unsigned char* p, int mainDataBegin);

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

// A new tag frame for a stream whose frames look like the one at `like` (version, sample rate,
// channel mode): "Info" for a stream of one bit rate, "Xing" for one that varies, with LAME's
// extension naming `encoder` (9 bytes) and holding `delay`. No CRC; the bit rate is the
// stream's own (`constantRate`) when the tag fits into such a frame, else the lowest it fits.
// rewriteLameTag then fills in the counts, the padding and the checksums. Empty when the delay
// does not fit the tag's 12 bits.
std::vector<unsigned char> newLameTag(const unsigned char* like, bool constantRate, int delay,
                                      const std::array<char, 9>& encoder);

} // namespace quaverly::mp3

#pragma once
// The bytes of a FLAC stream that segments encoded apart need changed to become one stream: each
// frame's number (with the header's CRC-8 and the frame's CRC-16), and the stream's metadata
// (STREAMINFO's frame sizes, length and MD5, the seek table), which a single encoder completes
// at its end.

#include <FLAC/format.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quaverly::encode::internal {

std::uint8_t flacCrc8(const std::uint8_t* data, std::size_t size);
std::uint16_t flacCrc16(const std::uint8_t* data, std::size_t size);

// Appends `frame` (one whole frame of a stream of fixed block size) to `out` as frame `number`
// of the stream: its header's coded number replaced, both CRCs computed anew. False (and `out`
// as it was) when the bytes are not such a frame.
bool appendRenumbered(const std::uint8_t* frame, std::size_t size, std::uint64_t number,
                      std::vector<std::uint8_t>& out);

// The metadata at the start of a stream as libFLAC writes it when its encoder is set up
// ("fLaC", STREAMINFO, the other blocks), completed for the frames that follow as libFLAC
// completes it at the end of a single pass.
class FlacStreamHeader {
public:
    // False when `bytes` hold no STREAMINFO first, or a seek table that cannot be read.
    bool parse(std::vector<std::uint8_t> bytes);
    // The bytes as they are (parsed) or completed (complete()).
    const std::vector<std::uint8_t>& bytes() const { return bytes_; }

    // The next frame of the stream: its size in bytes and its samples per channel.
    void addFrame(std::uint32_t bytes, std::uint32_t samples);
    // Writes into bytes() what the frames added tell: STREAMINFO's smallest and largest frame,
    // its total samples and `md5` (16 bytes), and the seek points, sorted.
    void complete(const std::uint8_t* md5);

private:
    std::vector<std::uint8_t> bytes_;
    std::size_t streamInfo_ = 0; // where STREAMINFO's data starts
    std::size_t seekTable_ = 0;  // where the seek table's data starts; 0: none
    std::vector<FLAC__StreamMetadata_SeekPoint> points_;
    std::size_t nextPoint_ = 0;    // the first point that a later frame may hold
    std::uint64_t samples_ = 0;    // per channel, in the frames added
    std::uint64_t frameBytes_ = 0; // of the frames added
    std::uint32_t minFrame_ = 0xFFFFFF, maxFrame_ = 0;
};

} // namespace quaverly::encode::internal

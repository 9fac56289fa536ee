#include "engines/encoder/internal/Mp3Frames.h"

#include <algorithm>
#include <cstring>

namespace quaverly::mp3 {
namespace {

constexpr std::array<int, 15> kMpeg1Kbps{0,   32,  40,  48,  56,  64,  80, 96,
                                         112, 128, 160, 192, 224, 256, 320};
constexpr std::array<int, 15> kMpeg2Kbps{0,  8,  16, 24,  32,  40,  48, 56,
                                         64, 80, 96, 112, 128, 144, 160};
constexpr std::array<int, 3> kMpeg1Rates{44100, 48000, 32000};

class BitReader {
public:
    BitReader(const unsigned char* data, std::size_t size) : data_(data), bits_(size * 8) {}
    unsigned take(int n) {
        unsigned v = 0;
        for (int i = 0; i < n; ++i, ++pos_) {
            const unsigned bit = pos_ < bits_ ? (data_[pos_ / 8] >> (7 - pos_ % 8)) & 1u : 0u;
            v = (v << 1) | bit;
        }
        return v;
    }

private:
    const unsigned char* data_;
    std::size_t bits_;
    std::size_t pos_ = 0;
};

// main_data_begin and the last granule's block types, from the side information.
void readSideInfo(const FrameHeader& h, const unsigned char* side, Mp3Frame& f) {
    BitReader bits(side, h.sideInfo);
    f.mainDataBegin = int(bits.take(h.mpeg1 ? 9 : 8));
    bits.take(h.mpeg1 ? (h.channels == 1 ? 5 : 3) : h.channels); // private bits
    if (h.mpeg1)
        bits.take(4 * h.channels); // scfsi
    const int granules = h.mpeg1 ? 2 : 1;
    for (int g = 0; g < granules; ++g) {
        for (int ch = 0; ch < h.channels; ++ch) {
            bits.take(12 + 9 + 8);      // part2_3_length, big_values, global_gain
            bits.take(h.mpeg1 ? 4 : 9); // scalefac_compress
            std::uint8_t type = 0;
            if (bits.take(1) != 0) { // window switching
                type = std::uint8_t(bits.take(2));
                type = std::uint8_t(type + (bits.take(1) != 0 ? 4 : 0));
                bits.take(10 + 9); // table_select, subblock_gain
            } else {
                bits.take(15 + 4 + 3); // table_select, region counts
            }
            bits.take(h.mpeg1 ? 3 : 2); // preflag (MPEG-1), scalefac_scale, count1table_select
            if (g == granules - 1)
                f.lastBlockTypes[std::size_t(ch)] = type;
        }
    }
}

void putBigEndian(unsigned char* p, std::uint32_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i, v >>= 8)
        p[i] = static_cast<unsigned char>(v & 0xFF);
}

constexpr std::array<std::uint16_t, 256> crcTable() {
    std::array<std::uint16_t, 256> t{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned crc = i;
        for (int b = 0; b < 8; ++b)
            crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
        t[i] = std::uint16_t(crc);
    }
    return t;
}
constexpr std::array<std::uint16_t, 256> kCrcTable = crcTable();

} // namespace

std::optional<FrameHeader> readFrameHeader(const unsigned char* p) {
    const std::uint32_t h =
        std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
    const unsigned version = (h >> 19) & 3; // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
    const unsigned layer = (h >> 17) & 3;   // 1 Layer III
    const unsigned rateIndex = (h >> 12) & 15;
    const unsigned freqIndex = (h >> 10) & 3;
    if ((h & 0xFFE00000u) != 0xFFE00000u || version == 1 || layer != 1 || rateIndex == 0 ||
        rateIndex == 15 || freqIndex == 3)
        return std::nullopt;
    FrameHeader r;
    r.mpeg1 = version == 3;
    r.crc = ((h >> 16) & 1) == 0;
    r.channels = ((h >> 6) & 3) == 3 ? 1 : 2;
    const int shift = version == 3 ? 0 : version == 2 ? 1 : 2;
    r.sampleRate = kMpeg1Rates[freqIndex] >> shift;
    r.kbps = r.mpeg1 ? kMpeg1Kbps[rateIndex] : kMpeg2Kbps[rateIndex];
    r.size = std::size_t((r.mpeg1 ? 144000 : 72000) * r.kbps / r.sampleRate) + ((h >> 9) & 1);
    r.sideInfo = r.mpeg1 ? (r.channels == 1 ? 17 : 32) : (r.channels == 1 ? 9 : 17);
    return r;
}

int mainDataBeginOf(const FrameHeader& h, const unsigned char* p) {
    const unsigned char* side = p + 4 + (h.crc ? 2 : 0);
    return h.mpeg1 ? (side[0] << 1 | side[1] >> 7) : side[0];
}

void silenceFrame(const FrameHeader& h, unsigned char* p, int mainDataBegin) {
    unsigned char* side = p + 4 + (h.crc ? 2 : 0);
    std::fill(side, side + h.sideInfo, 0);
    if (h.mpeg1) {
        side[0] = static_cast<unsigned char>(mainDataBegin >> 1);
        side[1] = static_cast<unsigned char>((mainDataBegin & 1) << 7);
    } else {
        side[0] = static_cast<unsigned char>(mainDataBegin);
    }
    if (!h.crc)
        return;
    // The frame's CRC: polynomial 0x8005 from 0xFFFF, over the header's last two bytes and the
    // side information.
    unsigned crc = 0xFFFF;
    const auto feed = [&crc](unsigned char byte) {
        for (int bit = 7; bit >= 0; --bit) {
            const bool top = ((crc >> 15) ^ (unsigned(byte) >> bit)) & 1;
            crc = (crc << 1) & 0xFFFF;
            if (top)
                crc ^= 0x8005;
        }
    };
    feed(p[2]);
    feed(p[3]);
    for (std::size_t i = 0; i < h.sideInfo; ++i)
        feed(side[i]);
    putBigEndian(p + 4, std::uint32_t(crc), 2);
}

std::optional<std::vector<Mp3Frame>> parseFrames(const unsigned char* data, std::size_t size) {
    std::vector<Mp3Frame> frames;
    std::size_t pos = 0;
    while (pos < size) {
        if (size - pos < 4)
            return std::nullopt;
        const auto h = readFrameHeader(data + pos);
        if (!h || h->size > size - pos || h->size < 4 + (h->crc ? 2 : 0) + h->sideInfo)
            return std::nullopt;
        Mp3Frame f;
        f.offset = pos;
        f.size = h->size;
        f.dataOffset = pos + 4 + (h->crc ? 2 : 0) + h->sideInfo;
        readSideInfo(*h, data + f.dataOffset - h->sideInfo, f);
        frames.push_back(f);
        pos += h->size;
    }
    return frames;
}

std::optional<std::vector<std::size_t>> mainDataBefore(const std::vector<Mp3Frame>& frames,
                                                       std::size_t end, std::size_t count) {
    std::vector<std::size_t> positions(count);
    std::size_t left = count;
    for (std::size_t i = end; i-- > 0 && left > 0;) {
        const Mp3Frame& f = frames[i];
        for (std::size_t p = f.end(); p-- > f.dataOffset && left > 0;)
            positions[--left] = p;
    }
    if (left > 0)
        return std::nullopt;
    return positions;
}

std::uint16_t crc16(const unsigned char* data, std::size_t size, std::uint16_t crc) {
    for (std::size_t i = 0; i < size; ++i)
        crc = std::uint16_t((crc >> 8) ^ kCrcTable[(crc ^ data[i]) & 0xFF]);
    return crc;
}

bool rewriteLameTag(std::vector<unsigned char>& tag, const StreamFacts& facts) {
    if (tag.size() < 4)
        return false;
    const auto h = readFrameHeader(tag.data());
    if (!h || h->size != tag.size())
        return false;
    const std::size_t xing = 4 + (h->crc ? 2 : 0) + h->sideInfo;
    const std::size_t lame = xing + 120; // after id, flags, frames, bytes, seek table, quality
    if (tag.size() < lame + 36 ||
        (std::memcmp(&tag[xing], "Info", 4) != 0 && std::memcmp(&tag[xing], "Xing", 4) != 0) ||
        std::memcmp(&tag[xing + 4], "\0\0\0\x0F", 4) != 0 ||
        std::memcmp(&tag[lame], "LAME", 4) != 0)
        return false;
    const int delay = tag[lame + 21] << 4 | tag[lame + 22] >> 4;
    const std::int64_t padding = std::int64_t(facts.audioFrames) * facts.samplesPerFrame - delay -
                                 std::int64_t(facts.sampleFrames);
    if (padding < 0 || padding > 4095 || facts.frameOffsets.size() != facts.audioFrames ||
        facts.audioFrames == 0)
        return false;

    putBigEndian(&tag[xing + 8], facts.audioFrames, 4);
    putBigEndian(&tag[xing + 12], facts.totalBytes, 4);
    // Seek table: entry i is the byte position, in 256ths of the stream, of the frame that
    // starts i percent of the way through.
    tag[xing + 16] = 0;
    for (std::size_t i = 1; i < 100; ++i) {
        const std::size_t frame =
            std::min<std::size_t>(i * facts.audioFrames / 100, facts.audioFrames - 1);
        const std::uint64_t at = facts.frameOffsets[frame] * 256 / facts.totalBytes;
        tag[xing + 16 + i] = static_cast<unsigned char>(std::min<std::uint64_t>(at, 255));
    }
    std::fill(&tag[lame + 11], &tag[lame + 19], 0); // peak, radio and audiophile gain
    putBigEndian(&tag[lame + 21], std::uint32_t(delay) << 12 | std::uint32_t(padding), 3);
    putBigEndian(&tag[lame + 28], facts.totalBytes, 4);
    putBigEndian(&tag[lame + 32], facts.musicCrc, 2);
    putBigEndian(&tag[lame + 34], crc16(tag.data(), lame + 34), 2);
    return true;
}

std::vector<unsigned char> newLameTag(const unsigned char* like, bool constantRate, int delay,
                                      const std::array<char, 9>& encoder) {
    const auto first = readFrameHeader(like);
    if (!first || delay < 0 || delay > 4095)
        return {};
    // The stream's header with no CRC, no padding slot, no mode extension, and the bit rate to
    // choose (as LAME writes its own tag frame).
    unsigned char header[4] = {like[0], static_cast<unsigned char>(like[1] | 0x01),
                               static_cast<unsigned char>(like[2] & 0x0C),
                               static_cast<unsigned char>(like[3] & 0xCF)};
    const std::size_t needed = 4 + first->sideInfo + 120 + 36;
    const auto withRate = [&](int index) -> std::optional<FrameHeader> {
        header[2] = static_cast<unsigned char>((header[2] & 0x0F) | index << 4);
        auto h = readFrameHeader(header);
        return h && h->size >= needed ? h : std::nullopt;
    };
    std::optional<FrameHeader> h = constantRate ? withRate(like[2] >> 4) : std::nullopt;
    for (int index = 1; !h && index < 15; ++index)
        h = withRate(index);
    if (!h)
        return {};
    std::vector<unsigned char> tag(h->size, 0);
    std::memcpy(tag.data(), header, 4);
    const std::size_t xing = h->dataOffset();
    std::memcpy(&tag[xing], constantRate ? "Info" : "Xing", 4);
    tag[xing + 7] = 0x0F; // frames, bytes, seek table and quality follow
    const std::size_t lame = xing + 120;
    std::memcpy(&tag[lame], encoder.data(), encoder.size());
    tag[lame + 9] = constantRate ? 1 : 4; // revision 0; CBR, or VBR of LAME's default method
    tag[lame + 20] = static_cast<unsigned char>(constantRate ? std::min(first->kbps, 255) : 0);
    putBigEndian(&tag[lame + 21], std::uint32_t(delay) << 12, 3);
    return tag;
}

} // namespace quaverly::mp3

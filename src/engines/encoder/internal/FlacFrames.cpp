#include "engines/encoder/internal/FlacFrames.h"

#include <algorithm>
#include <array>

namespace quaverly::encode::internal {
namespace {

// CRC tables, most significant bit first, no reflection, starting from 0: CRC-8 with the
// polynomial x^8 + x^2 + x + 1 (headers), CRC-16 with x^16 + x^15 + x^2 + 1 (frames).
template <typename Crc, unsigned Poly> constexpr std::array<Crc, 256> crcTable() {
    constexpr unsigned top = 1u << (8 * sizeof(Crc) - 1);
    std::array<Crc, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned c = i << (8 * sizeof(Crc) - 8);
        for (int bit = 0; bit < 8; ++bit)
            c = (c & top) ? (c << 1) ^ Poly : c << 1;
        table[i] = Crc(c);
    }
    return table;
}
constexpr auto kCrc8 = crcTable<std::uint8_t, 0x07>();
constexpr auto kCrc16 = crcTable<std::uint16_t, 0x8005>();

constexpr std::size_t kBlockHeader = 4; // is-last bit, type, 24-bit length
constexpr std::size_t kStreamInfoSize = 34;
constexpr std::size_t kSeekPointSize = 18;
constexpr std::uint8_t kStreamInfo = 0, kSeekTable = 3;

// Bytes of a coded number, from its first byte; 0 for a byte no number starts with.
std::size_t codedLength(std::uint8_t first) {
    if (first < 0x80)
        return 1;
    for (std::size_t n = 2; n <= 7; ++n)
        if ((first & std::uint8_t(0xFF00 >> (n + 1))) == std::uint8_t(0xFF00 >> n))
            return n;
    return 0;
}

// A number coded as the frame header codes it: like UTF-8, up to 36 bits in 7 bytes.
void appendCoded(std::uint64_t v, std::vector<std::uint8_t>& out) {
    if (v < 0x80) {
        out.push_back(std::uint8_t(v));
        return;
    }
    std::size_t n = 2;
    while (n < 7 && v >= (std::uint64_t(1) << (5 * n + 1)))
        ++n;
    out.push_back(std::uint8_t((0xFF00 >> n) | (n < 7 ? v >> (6 * (n - 1)) : 0)));
    for (std::size_t i = n - 1; i-- > 0;)
        out.push_back(std::uint8_t(0x80 | ((v >> (6 * i)) & 0x3F)));
}

void putBigEndian(std::uint8_t* at, std::uint64_t v, std::size_t bytes) {
    for (std::size_t i = bytes; i-- > 0; v >>= 8)
        at[i] = std::uint8_t(v);
}

std::uint64_t bigEndian(const std::uint8_t* at, std::size_t bytes) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < bytes; ++i)
        v = (v << 8) | at[i];
    return v;
}

// Products of polynomials over GF(2) modulo the CRC-16's (x^16 + x^15 + x^2 + 1).
std::uint16_t mulMod(std::uint16_t a, std::uint16_t b) {
    std::uint16_t r = 0;
    for (int bit = 15; bit >= 0; --bit) {
        r = std::uint16_t((r & 0x8000) ? (r << 1) ^ 0x8005 : r << 1);
        if ((b >> bit) & 1)
            r ^= a;
    }
    return r;
}

// x^(8 bytes) modulo the CRC-16's polynomial: what the CRC of a message becomes as `bytes` zero
// bytes follow it.
std::uint16_t zeroBytesFactor(std::size_t bytes) {
    std::uint16_t result = 1, square = 0x0100; // x^0, x^8
    for (; bytes > 0; bytes >>= 1) {
        if (bytes & 1)
            result = mulMod(result, square);
        square = mulMod(square, square);
    }
    return result;
}

} // namespace

std::uint8_t flacCrc8(const std::uint8_t* data, std::size_t size) {
    std::uint8_t crc = 0;
    for (std::size_t i = 0; i < size; ++i)
        crc = kCrc8[crc ^ data[i]];
    return crc;
}

std::uint16_t flacCrc16(const std::uint8_t* data, std::size_t size) {
    std::uint16_t crc = 0;
    for (std::size_t i = 0; i < size; ++i)
        crc = std::uint16_t((crc << 8) ^ kCrc16[(crc >> 8) ^ data[i]]);
    return crc;
}

bool appendRenumbered(const std::uint8_t* frame, std::size_t size, std::uint64_t number,
                      std::vector<std::uint8_t>& out) {
    // Sync code and fixed block size; block size and sample rate codes; channels and sample
    // size; the coded number; the block size and the sample rate where their codes say they
    // follow; CRC-8.
    if (size < 8 || frame[0] != 0xFF || frame[1] != 0xF8)
        return false;
    const std::size_t numberBytes = codedLength(frame[4]);
    const unsigned blockCode = frame[2] >> 4, rateCode = frame[2] & 0x0F;
    const std::size_t extra = (blockCode == 6   ? 1
                               : blockCode == 7 ? 2
                                                : 0) +
                              (rateCode == 12                     ? 1
                               : rateCode == 13 || rateCode == 14 ? 2
                                                                  : 0);
    const std::size_t crc8At = 4 + numberBytes + extra;
    if (numberBytes == 0 || crc8At + 1 + 2 > size)
        return false;
    const std::size_t start = out.size();
    out.insert(out.end(), frame, frame + 4);
    appendCoded(number, out);
    out.insert(out.end(), frame + 4 + numberBytes, frame + crc8At);
    out.push_back(flacCrc8(out.data() + start, out.size() - start));
    out.insert(out.end(), frame + crc8At + 1, frame + size - 2);
    // The CRC-16 without going over the frame again: it is linear, and the CRC of a header
    // followed by n bytes is the header's own times x^8n plus theirs. So the new CRC is the old
    // one with the difference between the two headers' CRCs, carried over the rest, added.
    const std::size_t oldHeader = crc8At + 1,
                      newHeader = out.size() - start - (size - 2 - oldHeader);
    const std::uint16_t change =
        flacCrc16(frame, oldHeader) ^ flacCrc16(out.data() + start, newHeader);
    const std::uint16_t crc16 =
        std::uint16_t((frame[size - 2] << 8 | frame[size - 1]) ^
                      mulMod(change, zeroBytesFactor(size - 2 - oldHeader)));
    out.push_back(std::uint8_t(crc16 >> 8));
    out.push_back(std::uint8_t(crc16));
    return true;
}

bool FlacStreamHeader::parse(std::vector<std::uint8_t> bytes) {
    bytes_ = std::move(bytes);
    static constexpr std::uint8_t kMagic[] = {'f', 'L', 'a', 'C'};
    if (bytes_.size() < 4 + kBlockHeader + kStreamInfoSize ||
        !std::equal(std::begin(kMagic), std::end(kMagic), bytes_.begin()) ||
        (bytes_[4] & 0x7F) != kStreamInfo || bigEndian(&bytes_[5], 3) != kStreamInfoSize)
        return false;
    streamInfo_ = 4 + kBlockHeader;
    for (std::size_t at = 4;;) {
        const std::uint8_t type = bytes_[at] & 0x7F;
        const bool last = bytes_[at] & 0x80;
        const auto length = std::size_t(bigEndian(&bytes_[at + 1], 3));
        if (at + kBlockHeader + length > bytes_.size())
            return false;
        if (type == kSeekTable) {
            if (length % kSeekPointSize != 0)
                return false;
            seekTable_ = at + kBlockHeader;
            for (std::size_t p = seekTable_; p < seekTable_ + length; p += kSeekPointSize)
                points_.push_back({bigEndian(&bytes_[p], 8), bigEndian(&bytes_[p + 8], 8),
                                   unsigned(bigEndian(&bytes_[p + 16], 2))});
        }
        at += kBlockHeader + length;
        if (last)
            return true;
        if (at + kBlockHeader > bytes_.size())
            return false;
    }
}

void FlacStreamHeader::addFrame(std::uint32_t bytes, std::uint32_t samples) {
    minFrame_ = std::min(minFrame_, bytes);
    maxFrame_ = std::max(maxFrame_, bytes);
    // Every point whose sample lies in this frame points at the frame; the points are sorted.
    const std::uint64_t last = samples_ + samples - 1;
    for (; nextPoint_ < points_.size() && points_[nextPoint_].sample_number <= last; ++nextPoint_)
        if (points_[nextPoint_].sample_number >= samples_)
            points_[nextPoint_] = {samples_, frameBytes_, samples};
    samples_ += samples;
    frameBytes_ += bytes;
}

void FlacStreamHeader::complete(const std::uint8_t* md5) {
    std::uint8_t* info = &bytes_[streamInfo_];
    putBigEndian(info + 4, minFrame_, 3);
    putBigEndian(info + 7, maxFrame_, 3);
    // The total is the low 36 bits of 8 bytes that begin with the rate, channels and bits.
    putBigEndian(info + 10,
                 (bigEndian(info + 10, 8) & ~((std::uint64_t(1) << 36) - 1)) |
                     (samples_ & ((std::uint64_t(1) << 36) - 1)),
                 8);
    std::copy(md5, md5 + 16, info + 18);
    if (seekTable_ == 0)
        return;
    // Sorted, with points that name the same frame twice made placeholders.
    FLAC__StreamMetadata_SeekTable table{unsigned(points_.size()), points_.data()};
    FLAC__format_seektable_sort(&table);
    for (std::size_t i = 0; i < points_.size(); ++i) {
        std::uint8_t* p = &bytes_[seekTable_ + i * kSeekPointSize];
        putBigEndian(p, points_[i].sample_number, 8);
        putBigEndian(p + 8, points_[i].stream_offset, 8);
        putBigEndian(p + 16, points_[i].frame_samples, 2);
    }
}

} // namespace quaverly::encode::internal

#pragma once
// A written song decoded whole by the program's song reader, to check what the encoders wrote.
#include "engines/decode/SongReader.h"

#include <cstdint>
#include <vector>

namespace quaverly::test {

struct DecodedSong {
    SongKind kind = SongKind::Other; // Other also when the file could not be read
    int channels = 0;
    std::uint32_t rate = 0;
    std::vector<std::int16_t> samples; // interleaved
};

inline DecodedSong decodeAll(const QString& file) {
    auto song = SongReader::open(file);
    if (!song)
        return {};
    DecodedSong d{song->format().kind, song->format().channels, song->format().rate, {}};
    d.samples.resize(std::size_t(song->frames()) * std::size_t(d.channels));
    const auto got = song->read(d.samples.data(), song->frames());
    d.samples.resize(got ? *got * std::size_t(d.channels) : 0);
    return d;
}

} // namespace quaverly::test

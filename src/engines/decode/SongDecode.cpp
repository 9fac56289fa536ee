#include "engines/decode/SongDecode.h"

#include "engines/wav/WavWriter.h"

#include <algorithm>
#include <bit>
#include <vector>

namespace quaverly {
namespace {

// Bytes read and written at a time.
constexpr std::size_t kBlockBytes = 20000;

// A WAV file stores its samples little-endian whatever the machine.
void toLittleEndian(std::int16_t* samples, std::size_t count) {
    if constexpr (std::endian::native == std::endian::big) {
        for (std::size_t i = 0; i < count; ++i) {
            const auto v = static_cast<std::uint16_t>(samples[i]);
            samples[i] = static_cast<std::int16_t>(static_cast<std::uint16_t>((v << 8) | (v >> 8)));
        }
    } else {
        (void)samples;
        (void)count;
    }
}

// Reads the song block by block into the target, to the length the reader announced: anything
// short of it (a read error, a file that shrank) must never finish a partial file as a whole
// song.
Status copySamples(SongReader& song, WavWriter& out, std::uint64_t total,
                   const WorkProgress& work) {
    const auto channels = static_cast<std::size_t>(song.format().channels);
    const bool exact = song.format().lengthExact;
    std::vector<std::int16_t> block(kBlockBytes / sizeof(std::int16_t));
    const std::size_t blockFrames = block.size() / channels;
    while (!exact || out.dataBytes() < total) {
        const auto got = song.read(block.data(), blockFrames);
        if (!got)
            return got.error(); // it says where the sound broke off, and why
        if (*got == 0)
            break; // the end of a length known only now
        toLittleEndian(block.data(), *got * channels);
        const auto bytes = static_cast<qint64>(*got * channels * sizeof(std::int16_t));
        if (Status written = out.write(reinterpret_cast<const char*>(block.data()), bytes);
            !written)
            return written;
        work.report(out.dataBytes(), std::max(total, out.dataBytes()));
        if (work.stopped())
            return Error(song.path(), QStringLiteral("cancelled"));
    }
    return {};
}

} // namespace

Result<WavHeader> decodeSong(SongReader& song, const QString& target, const WorkProgress& work) {
    if (song.position() != 0) {
        if (Status rewound = song.seek(0); !rewound)
            return rewound.error();
    }
    const SongFormat& format = song.format();
    const std::uint64_t total = song.frames() * static_cast<std::uint64_t>(format.channels) * 2;
    if (total > WavHeader::kMaxDataSize)
        return Error(song.path(),
                     QStringLiteral("the decoded sound would pass the 4 GiB limit of a WAV file"));
    // A song without a single sample is of no use in the list and would only confuse the joins,
    // so it is refused like an unreadable one.
    const auto noSound = [&] {
        return Error(song.path(), QStringLiteral("the file holds no sound"));
    };
    if (total == 0 && format.lengthExact)
        return noSound();
    WavWriter out(target);
    Status done =
        out.open(WavHeader::pcm(static_cast<std::uint16_t>(format.channels), format.rate, 16));
    if (done)
        done = copySamples(song, out, total, work);
    if (done && out.dataBytes() == 0)
        done = noSound();
    if (done)
        done = out.finish();
    if (!done)
        return done.error();
    return out.header();
}

Result<WavHeader> decodeSong(const QString& source, const QString& target,
                             const WorkProgress& work) {
    auto song = SongReader::open(source);
    if (!song)
        return song.error();
    return decodeSong(*song, target, work);
}

} // namespace quaverly

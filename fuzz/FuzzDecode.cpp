// An added song's path through the song reader: arbitrary bytes in a file, opened (of whatever
// kind its content says: WAV, MP3, FLAC, MP4, Ogg, ...) and decoded to the end or to an error.

#include "FuzzSupport.h"

#include "engines/decode/SongReader.h"

#include <vector>

using namespace quaverly;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const QString path = fuzz::workFolder() + QStringLiteral("/song");
    fuzz::writeFile(path, reinterpret_cast<const char*>(data), static_cast<qint64>(size));

    auto song = SongReader::open(path);
    if (!song) {
        if (song.error().cause().isEmpty() || song.error().code() == 0)
            fuzz::fail("open failed without a cause or a code");
        return 0;
    }
    const SongFormat& format = song->format();
    if (format.channels < 1 || format.channels > 2 || format.rate == 0)
        fuzz::fail("an opened song has no usable format");

    static std::vector<std::int16_t> buffer(1 << 15);
    const std::size_t blockFrames = buffer.size() / static_cast<std::size_t>(format.channels);
    std::uint64_t total = 0;
    for (;;) {
        const auto got = song->read(buffer.data(), blockFrames);
        if (!got) {
            if (got.error().code() != sound::kNotAvail)
                fuzz::fail("a decode cut short without its code");
            break;
        }
        if (*got == 0) {
            if (total != song->frames())
                fuzz::fail("the decode ended neither at its length nor with a failure");
            break;
        }
        total += *got;
        if (total > song->frames() || song->position() != total)
            fuzz::fail("more frames than the song's length, or a position astray");
    }
    return 0;
}

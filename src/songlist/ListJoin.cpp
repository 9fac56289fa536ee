#include "songlist/ListJoin.h"

#include "engines/wav/WavWriter.h"
#include "songlist/JoinedSongs.h"

namespace quaverly {

Result<WavHeader> joinSongs(const QStringList& songs, const QString& target,
                            const WorkProgress& progress, const QStringList& names) {
    JoinedSongs joined;
    if (Status s = joined.open(songs, names); !s)
        return s.error();
    // Resampled songs come out within a few frames of the expected size, so this decides before
    // anything is written whether the join fits in a WAV file; the writer still refuses the last
    // bytes should a resampler round up past the limit.
    if (const std::uint64_t bytes = joined.expectedBytes(); bytes > WavHeader::kMaxDataSize)
        return Error(QString(),
                     QStringLiteral("The joined songs would hold %1 MB of sound, more than the "
                                    "4 GiB a WAV file can hold; nothing was written.")
                         .arg((bytes + 500000) / 1000000));
    const std::uint64_t expected = joined.expectedBytes();
    std::uint64_t written = 0;
    WavWriter out(target);
    if (Status opened = out.open(joined.format()); !opened)
        return opened.error();
    for (;;) {
        std::span<const char> block;
        if (Status s = joined.next(&block); !s)
            return s.error(); // names the song
        if (block.empty())
            break;
        // A failed write names the target (the 4 GiB limit is one); a cancel is the user's.
        if (Status s = out.write(block.data(), qint64(block.size())); !s)
            return s.error();
        written += block.size();
        progress.report(written, expected);
        if (progress.stopped())
            return Error(QString(), QStringLiteral("cancelled"));
    }
    if (Status finished = out.finish(); !finished)
        return finished.error();
    return out.header();
}

} // namespace quaverly

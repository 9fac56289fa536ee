#include "songlist/ListJoin.h"

#include "engines/wav/WavWriter.h"
#include "songlist/JoinedSongs.h"

namespace quaverly {

JoinOutcome joinSongs(const QStringList& songs, const QString& target,
                      const std::function<bool()>& progress, const QStringList& names) {
    JoinOutcome r;
    JoinedSongs joined;
    if (Status s = joined.open(songs, names); !s) {
        r.error = s.error().text();
        r.songFailed = !songs.isEmpty();
        return r;
    }
    // Resampled songs come out within a few frames of the expected size, so this decides before
    // anything is written whether the join fits in a WAV file; the writer still refuses the last
    // bytes should a resampler round up past the limit.
    if (const std::uint64_t bytes = joined.expectedBytes(); bytes > WavHeader::kMaxDataSize) {
        r.error = QStringLiteral("The joined songs would hold %1 MB of sound, more than the 4 GiB "
                                 "a WAV file can hold; nothing was written.")
                      .arg((bytes + 500000) / 1000000);
        return r;
    }
    WavWriter out(target);
    if (Status opened = out.open(joined.format()); !opened) {
        r.error = opened.error().text();
        return r;
    }
    for (;;) {
        std::span<const char> block;
        if (Status s = joined.next(&block); !s) {
            r.error = s.error().text();
            r.songFailed = true;
            return r;
        }
        if (block.empty())
            break;
        // A failed write names the target (the 4 GiB limit is one); a cancel is the user's.
        if (Status written = out.write(block.data(), qint64(block.size())); !written) {
            r.error = written.error().text();
            return r;
        }
        if (progress && !progress()) {
            r.error = QStringLiteral("cancelled");
            return r;
        }
    }
    if (Status finished = out.finish(); !finished) {
        r.error = finished.error().text();
        return r;
    }
    r.ok = true;
    r.header = out.header();
    return r;
}

} // namespace quaverly

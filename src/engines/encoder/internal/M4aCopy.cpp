// Keeping an AAC song's packets in its clip: the work is FFmpeg's module's (AacCopy.cpp); these
// forwarders load it on first use.
#include "engines/encoder/internal/FrameCopies.h"
#include "engines/ffmpeg/internal/Codecs.h"

namespace quaverly::framecopy::internal {

Result<SongStream> probeM4a(const QString& song) {
    const auto table = ffmpeg::codecs();
    if (!table)
        return Error(song, table.error().cause());
    return (*table)->probeM4a(song);
}

Status copyM4a(const QString& song, std::uint64_t in, std::uint64_t out, AtomicFile& target,
               const WorkProgress& work, AacGapless* gapless) {
    const auto table = ffmpeg::codecs();
    if (!table)
        return Error(song, table.error().cause()).during(CopyStep::CannotKeep);
    return (*table)->copyM4a(song, in, out, target, work, gapless);
}

} // namespace quaverly::framecopy::internal

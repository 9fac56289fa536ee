// Keeping an AAC song's frames in its clip: not yet built, so every M4A clip is re-encoded.
#include "engines/encoder/internal/FrameCopies.h"

namespace quaverly::framecopy::internal {

Result<SongStream> probeM4a(const QString& song) {
    SongStream s;
    s.whyNot = QStringLiteral("keeping an AAC song's own frames is not built yet");
    (void)song;
    return s;
}

Status copyM4a(const QString& song, std::uint64_t, std::uint64_t, AtomicFile&, const WorkProgress&, AacGapless*) {
    return Error(song, QStringLiteral("keeping an AAC song's own frames is not built yet"))
        .during(CopyStep::CannotKeep);
}

} // namespace quaverly::framecopy::internal

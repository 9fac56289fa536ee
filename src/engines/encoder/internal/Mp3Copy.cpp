// Keeping an MP3 song's frames in its clip: not yet built, so every MP3 clip is re-encoded.
#include "engines/encoder/internal/FrameCopies.h"

namespace quaverly::framecopy::internal {

Result<SongStream> probeMp3(const QString& song) {
    SongStream s;
    s.whyNot = QStringLiteral("keeping an MP3's own frames is not built yet");
    (void)song;
    return s;
}

Status copyMp3(const QString& song, std::uint64_t, std::uint64_t, AtomicFile&, const WorkProgress&) {
    return Error(song, QStringLiteral("keeping an MP3's own frames is not built yet"))
        .during(CopyStep::CannotKeep);
}

} // namespace quaverly::framecopy::internal

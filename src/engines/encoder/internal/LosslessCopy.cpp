// Keeping a FLAC or WAV song's samples at their own width in its clip: not yet built, so every
// such clip is made from the working copy as before.
#include "engines/encoder/internal/FrameCopies.h"

namespace quaverly::framecopy::internal {
namespace {
SongStream notYet() {
    SongStream s;
    s.whyNot = QStringLiteral("keeping a lossless song's own samples is not built yet");
    return s;
}
Error notYet(const QString& song) {
    return Error(song, notYet().whyNot).during(CopyStep::CannotKeep);
}
} // namespace

Result<SongStream> probeFlac(const QString&) {
    return notYet();
}
Status copyFlac(const QString& song, std::uint64_t, std::uint64_t, AtomicFile&,
                const WorkProgress&) {
    return notYet(song);
}
Result<SongStream> probeWav(const QString&) {
    return notYet();
}
Status copyWav(const QString& song, std::uint64_t, std::uint64_t, AtomicFile&,
               const WorkProgress&) {
    return notYet(song);
}

} // namespace quaverly::framecopy::internal

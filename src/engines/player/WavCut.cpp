#include "engines/player/WavCut.h"

#include "engines/player/MciErrors.h"
#include "engines/player/internal/OpenWav.h"
#include "engines/util/AtomicFile.h"

#include <algorithm>
#include <new>
#include <vector>

namespace quaverly {
namespace {

// Blocks of this size move the kept sound from the source to the target: large enough that a cut
// of minutes of sound takes a handful of reads and writes.
constexpr std::uint64_t kCopyBlock = 1 << 20;

// The target's write failures, with the cut's code for the step that met them.
Error writeFailed(const Status& status, int code) {
    return Error(status.error().file(), status.error().cause(), code);
}

// A failed read of the cut's source, told as the cut has always told it.
Error readFailure(const Error& e) {
    return Error(e.file(),
                 e.code() == sound::kNotAvail
                     ? QStringLiteral("the file is shorter than when opened")
                     : e.cause(),
                 mcierr::kFileRead);
}

Error cancelled(const QString& target) {
    return Error(target, QStringLiteral("cancelled"));
}

// The copy's block, up to kCopyBlock bytes: the one allocation of any size in a cut, and so the
// one whose refusal (std::bad_alloc) is told as the cut's kOutOfMemory rather than thrown through
// the caller's thread.
Result<std::vector<char>> copyBlock(std::size_t bytes) {
    try {
        return std::vector<char>(bytes);
    } catch (const std::bad_alloc&) {
        return Error({}, {}, mcierr::kOutOfMemory);
    }
}

Status copyRange(SampleReader&& source, const QString& target, std::uint64_t firstFrame,
                 std::uint64_t endFrame, const WorkProgress& progress) {
    const WavLayout l = source.layout();
    const std::uint64_t total = (endFrame - firstFrame) * l.blockAlign;
    if (total > WavHeader::kMaxDataSize)
        return Error(
            {},
            QStringLiteral("%1 bytes of sound would pass the 4 GiB limit of a WAV file").arg(total),
            mcierr::kFileNotSaved);
    const auto header =
        WavHeader::pcm(l.channels, l.sampleRate, l.bitsPerSample, std::uint32_t(total)).toBytes();
    const std::uint64_t blockFrames = std::max<std::uint64_t>(1, kCopyBlock / l.blockAlign);
    auto made =
        copyBlock(std::size_t(std::clamp<std::uint64_t>(endFrame - firstFrame, 1, blockFrames)) *
                  l.blockAlign);
    if (!made)
        return made.error();
    std::vector<char>& block = *made;

    AtomicFile out(target);
    if (Status s = out.open(); !s)
        return writeFailed(s, mcierr::kFileNotSaved);
    if (Status s = out.write(reinterpret_cast<const char*>(header.data()), qint64(header.size()));
        !s)
        return writeFailed(s, mcierr::kFileWrite);
    {
        // Let go of the source before the rename, which an open file would block on Windows when
        // the target is the source itself.
        SampleReader in = std::move(source);
        if (Status at = in.seek(std::int64_t(firstFrame)); !at)
            return readFailure(at.error());
        for (std::uint64_t left = endFrame - firstFrame; left > 0;) {
            if (progress.stopped())
                return cancelled(target);
            const auto want =
                std::size_t(std::min<std::uint64_t>(left, block.size() / l.blockAlign));
            const Result<std::size_t> got = in.readRaw(block.data(), want);
            if (!got)
                return readFailure(got.error());
            if (Status s = out.write(block.data(), qint64(want * l.blockAlign)); !s)
                return writeFailed(s, mcierr::kFileWrite);
            left -= want;
            progress.report(total - left * l.blockAlign, total);
        }
    }
    // The last chance to leave the target as it was: the commit puts it in place.
    if (progress.stopped())
        return cancelled(target);
    if (Status s = out.commit(); !s)
        return writeFailed(s, mcierr::kFileNotSaved);
    return {};
}

} // namespace

Result<WavLayout> probeCutSource(const QString& source) {
    auto wav = internal::openPlainWav(source);
    if (!wav)
        return wav.error();
    return wav->layout();
}

Status cutWav(const QString& source, const QString& target, std::uint64_t firstFrame,
              std::uint64_t endFrame, const WorkProgress& progress) {
    auto wav = internal::openPlainWav(source);
    if (!wav)
        return wav.error();
    const auto frames = std::uint64_t(wav->frames());
    if (firstFrame > endFrame || endFrame > frames)
        return Error(source,
                     QStringLiteral("frames %1 to %2 are not within its %3 frames")
                         .arg(firstFrame)
                         .arg(endFrame)
                         .arg(frames),
                     mcierr::kOutOfRange);
    return copyRange(std::move(*wav), target, firstFrame, endFrame, progress);
}

} // namespace quaverly

#pragma once
// The cut on files: frames [first, end) of a plain PCM WAV file (integer PCM of 8 or 16 bits, one
// sample per channel in a frame) become a WAV file of their own, with the 44-byte header.
//
// The samples are never decoded: the kept byte range of the source's data chunk is copied in
// large blocks through an AtomicFile (a temporary file beside the target, synced and renamed over
// it). The source is opened read-only and never written; the target may be the source itself
// (the editor cuts a working copy in place), which the rename then replaces whole. Whatever
// fails, or when a stop is requested, the target is as it was and no temporary file is left.
//
// Failures carry the codes of MciErrors.h:
//   - the source's, from opening it: kFilenameRequired, kFileNotFound, kInvalidFile, kFileRead
//     (the source named);
//   - kOutOfRange: the frames are not within the sound (the source named);
//   - kFileNotSaved: the result would not fit a WAV file's 32-bit sizes (no file named), or the
//     target cannot be made or renamed into place (the target named);
//   - kFileWrite: a write of the target failed (the target named);
//   - kFileRead: the source could not be read to the end of the range (the source named);
//   - kOutOfMemory: no room for the copy's block;
//   - no code, the cause "cancelled": a stop was requested (the target named).
//
// Threads: any thread; calls share nothing.

#include "engines/util/Error.h"
#include "engines/util/WorkProgress.h"
#include "engines/wav/WavHeader.h"

#include <QString>

#include <cstdint>

namespace quaverly {

// What cutWav() finds in `source`: where its samples are and their format (its frames are
// dataSize / blockAlign), or the Error that opening it for a cut fails with.
Result<WavLayout> probeCutSource(const QString& source);

// Writes frames [firstFrame, endFrame) of `source` to `target`; an empty range gives a file of
// the header alone. The progress counts the bytes of sound copied; a stop is noticed between
// blocks and before the target is put in place.
Status cutWav(const QString& source, const QString& target, std::uint64_t firstFrame,
              std::uint64_t endFrame, const WorkProgress& progress = {});

} // namespace quaverly

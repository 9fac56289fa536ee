#pragma once
// The clip editor's cut: a song's PCM WAV is cut down to the stretch between the two marks, and
// the clip replaces the target whole.
//
// The marks become frames as a wave device's edits made them: first the head up to the In mark
// goes, then, counted in the sound that is left, everything from (Out - In) on. A position maps
// to the nearest frame at the song's rate (a half rounds up), and a position at or past the
// sound's length in whole milliseconds is its very end. So the clip's first frame is the In
// mark's own, while its end follows from the clip's length in milliseconds, which the clip
// editor's marks (MarkTime.h) and the clip length it shows follow too.

#include "engines/util/Error.h"
#include "engines/util/WorkProgress.h"

#include <QString>

#include <cstdint>
#include <optional>

namespace quaverly {

// Why a cut, or the "Done" around it, failed: the Error (its code from MciErrors.h when the cut
// itself failed, 0 otherwise) and the step that met it ("saving the clip"; may be empty).
struct CutFailure {
    Error error;
    QString step;
};

// The failure in the words the window's message and the command line show: for the cut's own
// failures "<kind>: <file>: <cause> while <step> (error N)", for others "<file>: <cause>" and
// " while <step>" when there is a step.
QString failureText(const CutFailure& failure);

// The frames [first, end) the cut keeps of a song of `frames` frames at `rate` Hz for the marks,
// or the failure of the step that found a mark outside the sound (mcierr::kOutOfRange while
// removing the head or the tail).
struct MarkedFrames {
    std::uint64_t first = 0;
    std::uint64_t end = 0;
    std::optional<CutFailure> failure;
};
MarkedFrames markedFrames(std::uint32_t rate, std::uint64_t frames, qint64 markIn, qint64 markOut);

struct CutOutcome {
    enum Result { Cut, TimeInputError, Failed };
    Result result = Failed;
    std::optional<CutFailure> failure; // when Failed
};

// Cuts `source` (an 8 or 16-bit PCM WAV) to the stretch from `markIn` to `markOut` and writes the
// clip to `target`, which may be `source` itself (the editor cuts a working copy in place). Marks
// not in order give TimeInputError and touch nothing. A failing step stops the cut with the
// reason; `target` then stays as it was and no scratch file is left. So does a stop requested
// through `progress` (Failed, "cancelled"), which counts the bytes of the clip written.
CutOutcome cutClip(const QString& source, const QString& target, qint64 markIn, qint64 markOut,
                   const WorkProgress& progress = {});

} // namespace quaverly

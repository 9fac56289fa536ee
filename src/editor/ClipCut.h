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

namespace quaverly {

// The steps of a cut, and of the "Done" around it, that a failure's Error names (its step(); the
// words of a step, its stepWords(), are what the user reads: "removing the head"). A failure
// around the steps (no scratch file, effects that cannot be applied, the song not kept for the
// undo) has no step.
enum class CutStep {
    None = 0,
    // The In mark is not before the Out mark ("Time Input Error"): nothing was touched.
    MarksOutOfOrder,
    OpeningSong,
    RemovingHead,
    RemovingTail,
    SavingClip,
    ApplyingEffects,
};

// Whether a cut failed only because its marks were not in order.
inline bool marksOutOfOrder(const Error& failure) {
    return failure.step() == int(CutStep::MarksOutOfOrder);
}

// Success when `markIn` is before `markOut`, else the failure at CutStep::MarksOutOfOrder.
Status marksInOrder(qint64 markIn, qint64 markOut);

// The failure in the words the window's message and the command line show: for the cut's own
// failures (a code from MciErrors.h) "<kind>: <file>: <cause> while <step> (error N)", for
// others "<file>: <cause>" and " while <step>" when there is a step.
QString failureText(const Error& failure);

// The frames [first, end) the cut keeps of a song of `frames` frames at `rate` Hz for the marks,
// or the failure of the step that found a mark outside the sound (mcierr::kOutOfRange while
// removing the head or the tail).
struct MarkedFrames {
    std::uint64_t first = 0;
    std::uint64_t end = 0;
};
Result<MarkedFrames> markedFrames(std::uint32_t rate, std::uint64_t frames, qint64 markIn,
                                  qint64 markOut);

// Cuts `source` (an 8 or 16-bit PCM WAV) to the stretch from `markIn` to `markOut` and writes the
// clip to `target`, which may be `source` itself (the editor cuts a working copy in place). Marks
// not in order fail at CutStep::MarksOutOfOrder and touch nothing. A failing step stops the cut
// with the reason, the step in its Error; `target` then stays as it was and no scratch file is
// left. So does a stop requested through `progress` ("cancelled" while saving the clip), which
// counts the bytes of the clip written.
Status cutClip(const QString& source, const QString& target, qint64 markIn, qint64 markOut,
               const WorkProgress& progress = {});

} // namespace quaverly

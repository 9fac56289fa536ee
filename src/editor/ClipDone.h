#pragma once
// The clip editor's "Done": the cut, then the fades and normalising, with the song kept for an
// undo, as one step that either completes or leaves everything as it was.

#include "editor/ClipCut.h"
#include "editor/ClipEffects.h"
#include "editor/CutHistory.h"
#include "engines/util/WorkProgress.h"

#include <QString>

#include <optional>

namespace quaverly {

// What a "Done" that completed did.
struct DoneClip {
    EffectsOutcome effects; // what the effects did (Unchanged and NotAsked when none were asked)
    bool undoable = false;  // the history now holds the target as it was before this cut
};
// A "Done": what it did, or why it failed, the step in the Error (CutStep). A file the cut or
// the effects wrote in place of `target` is told as `target` (the Error's file).
using DoneOutcome = Result<DoneClip>;

// Cuts `source` to [markIn, markOut] into `target` (the editor passes a working copy as both),
// applies `effects` and, with a `history`, keeps `target` (which must then exist) as it was so
// that this cut can be undone; a second cut of the same song replaces what was kept.
//
// Marks not in order fail at CutStep::MarksOutOfOrder; effects that cannot be applied fail before
// any file is touched. Whatever step fails, `target` and the history stay as they were before the
// call and no scratch file is left. Without effects the cut writes `target` directly, exactly as
// cutClip() does; with effects it is cut to a scratch file beside `target`, and the effects
// write `target` from it, so `target` is replaced once, at the end.
//
// A stop requested through `progress` is a failure like any other ("cancelled"): it leaves
// `target`, the history and the folder as they were. The progress counts the passes over the
// sound: the cut, then the effects' (one, or two when normalising).
DoneOutcome cutClipWithEffects(const QString& source, const QString& target, qint64 markIn,
                               qint64 markOut, const ClipEffects& effects, CutHistory* history,
                               const WorkProgress& progress = {});

// The same for a worker thread, while the history belongs to another: what is kept for the undo
// is only prepared (CutHistory::prepare, which leaves the history as it is) and handed back in
// `kept`, only when the cut succeeded. The history's thread commits it (outcome->undoable stays
// false until then); dropped, it removes its file.
struct DoneWork {
    DoneOutcome outcome;
    std::optional<CutHistory::Pending> kept;
};
DoneWork cutClipForUndo(const QString& source, const QString& target, qint64 markIn, qint64 markOut,
                        const ClipEffects& effects, CutHistory* history,
                        const WorkProgress& progress = {});

} // namespace quaverly

#include "editor/ClipDone.h"

#include "engines/util/AtomicFile.h"

#include <QFileInfo>

#include <optional>

namespace quaverly {
namespace {

// The cut to a scratch file beside `target`, and the effects from it into `target`.
void cutThenApply(const QString& source, const QString& target, qint64 markIn, qint64 markOut,
                  const ClipEffects& effects, const WorkProgress& progress, DoneOutcome& r) {
    const QFileInfo info(target);
    // The scratch name is short whatever the target's: with the target's name in it, a target
    // named with the 255 bytes a name may have would leave no room for it.
    const ReservedFile scratch(info.absolutePath() + QStringLiteral("/.clip-cut-XXXXXX.wav"));
    if (!scratch.isValid()) {
        r.failure = CutFailure{Error({}, QStringLiteral("cannot make a scratch file in %1: %2")
                                             .arg(info.absolutePath(), scratch.errorString())),
                               {}};
        return;
    }
    // The name stays reserved; the file goes when `scratch` does.
    // The cut is one pass over the clip; the effects make one more, two when normalising.
    const std::uint64_t passes = effects.normalise == ClipEffects::Normalise::Off ? 2 : 3;
    const CutOutcome cut =
        cutClip(source, scratch.fileName(), markIn, markOut, progress.step(0, 1, passes));
    r.result = cut.result;
    r.failure = cut.failure;
    // The scratch file stands for `target`: a failure to write it names `target`.
    if (r.failure && r.failure->error.file() == scratch.fileName())
        r.failure->error = r.failure->error.about(target);
    if (cut.result != CutOutcome::Cut)
        return;
    const auto applied =
        applyClipEffects(scratch.fileName(), target, effects, progress.step(1, passes - 1, passes));
    if (applied) {
        r.effects = *applied;
        return;
    }
    r.result = CutOutcome::Failed;
    // The scratch file holds the clip of `target`: the failure names `target`. The effects'
    // codes are the sound core's, not the cut's: a CutFailure has none.
    const Error& error = applied.error();
    const bool scratchFile = error.file() == scratch.fileName();
    r.failure = CutFailure{Error(scratchFile ? target : error.file(), error.cause()),
                           QStringLiteral("applying the fades and normalising")};
}

} // namespace

DoneWork cutClipForUndo(const QString& source, const QString& target, qint64 markIn, qint64 markOut,
                        const ClipEffects& effects, CutHistory* history,
                        const WorkProgress& progress) {
    DoneWork w;
    DoneOutcome& r = w.outcome;
    if (markIn >= markOut) {
        r.result = CutOutcome::TimeInputError;
        return w;
    }
    if (Status checked = checkClipEffects(effects); !checked) {
        r.failure = CutFailure{checked.error(), {}};
        return w;
    }
    if (history) {
        auto prepared = history->prepare(target);
        if (!prepared) {
            r.failure = CutFailure{prepared.error(), {}};
            return w;
        }
        w.kept.emplace(std::move(prepared).value());
    }
    if (!effects.any()) {
        const CutOutcome cut = cutClip(source, target, markIn, markOut, progress);
        r.result = cut.result;
        r.failure = cut.failure;
    } else {
        cutThenApply(source, target, markIn, markOut, effects, progress, r);
    }
    if (r.result != CutOutcome::Cut)
        w.kept.reset(); // nothing to undo: what was kept goes
    return w;
}

DoneOutcome cutClipWithEffects(const QString& source, const QString& target, qint64 markIn,
                               qint64 markOut, const ClipEffects& effects, CutHistory* history,
                               const WorkProgress& progress) {
    DoneWork w = cutClipForUndo(source, target, markIn, markOut, effects, history, progress);
    if (w.kept) {
        w.kept->commit();
        w.outcome.undoable = true;
    }
    return w.outcome;
}

} // namespace quaverly

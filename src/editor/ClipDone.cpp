#include "editor/ClipDone.h"

#include "engines/util/AtomicFile.h"

#include <QFileInfo>

#include <optional>

namespace quaverly {
namespace {

// The cut to a scratch file beside `target`, and the effects from it into `target`.
Result<EffectsOutcome> cutThenApply(const QString& source, const QString& target, qint64 markIn,
                                    qint64 markOut, const ClipEffects& effects,
                                    const WorkProgress& progress) {
    const QFileInfo info(target);
    // The scratch name is short whatever the target's: with the target's name in it, a target
    // named with the 255 bytes a name may have would leave no room for it.
    const ReservedFile scratch(info.absolutePath() + QStringLiteral("/.clip-cut-XXXXXX.wav"));
    if (!scratch.isValid())
        return Error({}, QStringLiteral("cannot make a scratch file in %1: %2")
                             .arg(info.absolutePath(), scratch.errorString()));
    // The name stays reserved; the file goes when `scratch` does.
    // The cut is one pass over the clip; the effects make one more, two when normalising.
    const std::uint64_t passes = effects.normalise == ClipEffects::Normalise::Off ? 2 : 3;
    if (const Status cut =
            cutClip(source, scratch.fileName(), markIn, markOut, progress.step(0, 1, passes));
        !cut) {
        // The scratch file stands for `target`: a failure to write it names `target`.
        const Error& error = cut.error();
        return error.file() == scratch.fileName() ? error.about(target) : error;
    }
    const auto applied =
        applyClipEffects(scratch.fileName(), target, effects, progress.step(1, passes - 1, passes));
    if (applied)
        return applied;
    // The scratch file holds the clip of `target`: the failure names `target`. The effects'
    // codes are the sound core's, not the cut's: the failure has none.
    const Error& error = applied.error();
    const bool scratchFile = error.file() == scratch.fileName();
    return Error(scratchFile ? target : error.file(), error.cause())
        .during(CutStep::ApplyingEffects, QStringLiteral("applying the fades and normalising"));
}

} // namespace

DoneWork cutClipForUndo(const QString& source, const QString& target, qint64 markIn, qint64 markOut,
                        const ClipEffects& effects, CutHistory* history,
                        const WorkProgress& progress) {
    // A failure leaves nothing to undo: what was kept goes with `kept`.
    const auto failed = [](const Error& error) { return DoneWork{error, std::nullopt}; };
    if (Status ordered = marksInOrder(markIn, markOut); !ordered)
        return failed(ordered.error());
    if (Status checked = checkClipEffects(effects); !checked)
        return failed(checked.error());
    std::optional<CutHistory::Pending> kept;
    if (history) {
        auto prepared = history->prepare(target);
        if (!prepared)
            return failed(prepared.error());
        kept.emplace(std::move(prepared).value());
    }
    DoneClip done;
    if (!effects.any()) {
        if (const Status cut = cutClip(source, target, markIn, markOut, progress); !cut)
            return failed(cut.error());
    } else {
        const auto applied = cutThenApply(source, target, markIn, markOut, effects, progress);
        if (!applied)
            return failed(applied.error());
        done.effects = *applied;
    }
    return {done, std::move(kept)};
}

DoneOutcome cutClipWithEffects(const QString& source, const QString& target, qint64 markIn,
                               qint64 markOut, const ClipEffects& effects, CutHistory* history,
                               const WorkProgress& progress) {
    DoneWork w = cutClipForUndo(source, target, markIn, markOut, effects, history, progress);
    if (w.kept) {
        w.kept->commit();
        w.outcome->undoable = true;
    }
    return std::move(w.outcome);
}

} // namespace quaverly

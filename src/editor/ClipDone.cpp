#include "editor/ClipDone.h"

#include "editor/CutHistory.h"

#include <QFileInfo>
#include <QTemporaryFile>

#include <optional>

namespace quaverly {
namespace {

// A failure of the effects, in their words. They word it as "FILE: cause": one that names
// `target` names it as the Error's file, so that the command line can tell a target it could not
// write.
CutFailure effectsFailure(const QString& words, const QString& target) {
    const QString named = target + QStringLiteral(": ");
    Error error =
        words.startsWith(named) ? Error(target, words.mid(named.size())) : Error({}, words);
    return {std::move(error), QStringLiteral("applying the fades and normalising")};
}

} // namespace

DoneOutcome cutClipWithEffects(const QString& source, const QString& target, qint64 markIn,
                               qint64 markOut, const ClipEffects& effects, CutHistory* history) {
    DoneOutcome r;
    r.effects.result = EffectsOutcome::Unchanged; // until effects are applied
    if (markIn >= markOut) {
        r.result = CutOutcome::TimeInputError;
        return r;
    }
    if (const QString bad = checkClipEffects(effects); !bad.isEmpty()) {
        r.failure = CutFailure{Error({}, bad), {}};
        return r;
    }
    std::optional<CutHistory::Pending> kept;
    if (history) {
        QString error;
        kept = history->prepare(target, &error);
        if (!kept) {
            r.failure = CutFailure{Error({}, error), {}};
            return r;
        }
    }

    if (!effects.any()) {
        const CutOutcome cut = cutClip(source, target, markIn, markOut);
        r.result = cut.result;
        r.failure = cut.failure;
    } else {
        const QFileInfo info(target);
        // The scratch name is short whatever the target's: with the target's name in it, a
        // target named with the 255 bytes a name may have would leave no room for it.
        QTemporaryFile scratch(info.absolutePath() + QStringLiteral("/.clip-cut-XXXXXX.wav"));
        if (!scratch.open()) {
            r.failure = CutFailure{Error({}, QStringLiteral("cannot make a scratch file in %1: %2")
                                                 .arg(info.absolutePath(), scratch.errorString())),
                                   {}};
            return r;
        }
        scratch.close(); // the name stays reserved; the file goes when `scratch` does
        const CutOutcome cut = cutClip(source, scratch.fileName(), markIn, markOut);
        r.result = cut.result;
        r.failure = cut.failure;
        // The scratch file stands for `target`: a failure to write it names `target`.
        if (r.failure && r.failure->error.file() == scratch.fileName())
            r.failure->error = r.failure->error.about(target);
        if (cut.result == CutOutcome::Cut) {
            r.effects = applyClipEffects(scratch.fileName(), target, effects);
            if (r.effects.result == EffectsOutcome::Failed) {
                r.result = CutOutcome::Failed;
                // The scratch file holds the clip of `target`: the message names `target`.
                r.effects.error.replace(scratch.fileName(), target);
                r.failure = effectsFailure(r.effects.error, target);
            }
        }
    }
    if (r.result == CutOutcome::Cut && kept) {
        kept->commit();
        r.undoable = true;
    }
    return r;
}

} // namespace quaverly

#include "editor/ClipDone.h"

#include "editor/CutHistory.h"

#include <QFileInfo>
#include <QTemporaryFile>

#include <optional>

namespace quaverly {

DoneOutcome cutClipWithEffects(const QString& source, const QString& target, qint64 markIn,
                               qint64 markOut, qint64 lengthMs, WaveCommands& commands,
                               const ClipEffects& effects, CutHistory* history) {
    DoneOutcome r;
    r.effects.result = EffectsOutcome::Unchanged; // until effects are applied
    if (markIn >= markOut) {
        r.result = CutOutcome::TimeInputError;
        return r;
    }
    if (const QString bad = checkClipEffects(effects); !bad.isEmpty()) {
        r.error = bad;
        return r;
    }
    std::optional<CutHistory::Pending> kept;
    if (history) {
        kept = history->prepare(target, &r.error);
        if (!kept)
            return r;
    }

    if (!effects.any()) {
        const CutOutcome cut = cutClip(source, target, markIn, markOut, lengthMs, commands);
        r.result = cut.result;
        r.error = cut.error;
    } else {
        const QFileInfo info(target);
        // The scratch name is short whatever the target's: with the target's name in it, a
        // target named with the 255 bytes a name may have would leave no room for it.
        QTemporaryFile scratch(info.absolutePath() + QStringLiteral("/.clip-cut-XXXXXX.wav"));
        if (!scratch.open()) {
            r.error = QStringLiteral("cannot make a scratch file in %1: %2")
                          .arg(info.absolutePath(), scratch.errorString());
            return r;
        }
        scratch.close(); // the name stays reserved; the file goes when `scratch` does
        const CutOutcome cut =
            cutClip(source, scratch.fileName(), markIn, markOut, lengthMs, commands);
        r.result = cut.result;
        // The scratch file stands for `target`: a failure to write it names `target`.
        r.error = QString(cut.error).replace(scratch.fileName(), target);
        if (cut.result == CutOutcome::Cut) {
            r.effects = applyClipEffects(scratch.fileName(), target, effects);
            if (r.effects.result == EffectsOutcome::Failed) {
                // The scratch file holds the clip of `target`: the message names `target`.
                r.effects.error.replace(scratch.fileName(), target);
                r.result = CutOutcome::Failed;
                r.error = QStringLiteral("%1 while applying the fades and normalising")
                              .arg(r.effects.error);
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

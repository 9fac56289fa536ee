#include "editor/ClipDone.h"

#include "editor/CutHistory.h"

#include <QFileInfo>
#include <QTemporaryFile>

#include <optional>

namespace quaverly {

DoneOutcome cutClipWithEffects(const QString& source, const QString& target, qint64 markIn,
                               qint64 markOut, const ClipEffects& effects, CutHistory* history) {
    DoneOutcome r;
    if (markIn >= markOut) {
        r.result = CutOutcome::TimeInputError;
        return r;
    }
    if (Status checked = checkClipEffects(effects); !checked) {
        r.failure = CutFailure{checked.error(), {}};
        return r;
    }
    std::optional<CutHistory::Pending> kept;
    if (history) {
        auto prepared = history->prepare(target);
        if (!prepared) {
            r.failure = CutFailure{prepared.error(), {}};
            return r;
        }
        kept.emplace(std::move(prepared).value());
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
            const auto applied = applyClipEffects(scratch.fileName(), target, effects);
            if (applied) {
                r.effects = *applied;
            } else {
                r.result = CutOutcome::Failed;
                // The scratch file holds the clip of `target`: the failure names `target`. The
                // effects' codes are the sound core's, not the cut's: a CutFailure has none.
                const Error& error = applied.error();
                const bool scratchFile = error.file() == scratch.fileName();
                r.failure = CutFailure{Error(scratchFile ? target : error.file(), error.cause()),
                                       QStringLiteral("applying the fades and normalising")};
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

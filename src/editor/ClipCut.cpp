#include "editor/ClipCut.h"

#include "engines/mci/WaveCommands.h"

namespace quaverly {
namespace {

const QString kAlias = QStringLiteral("voice1");

// A path goes into a command text as it is, or quoted when it holds blanks.
QString commandPath(const QString& path) {
    return path.contains(QLatin1Char(' ')) || path.contains(QLatin1Char('\t'))
               ? QLatin1Char('"') + path + QLatin1Char('"')
               : path;
}

} // namespace

QStringList cutCommands(const QString& source, const QString& clip, qint64 markIn, qint64 markOut,
                        qint64 lengthMs) {
    return {
        QStringLiteral("open %1 type waveaudio alias %2").arg(commandPath(source), kAlias),
        QStringLiteral("delete %1 from 0 to %2").arg(kAlias).arg(markIn),
        QStringLiteral("delete %1 from %2 to %3")
            .arg(kAlias)
            .arg(markOut - markIn)
            .arg(lengthMs - markIn),
        QStringLiteral("save  %1 %2").arg(kAlias, commandPath(clip)),
        QStringLiteral("close %1").arg(kAlias),
    };
}

CutOutcome cutClip(const QString& source, const QString& target, qint64 markIn, qint64 markOut,
                   qint64 lengthMs, WaveCommands& commands) {
    CutOutcome r;
    if (markIn >= markOut) {
        r.result = CutOutcome::TimeInputError;
        return r;
    }
    const QStringList texts = cutCommands(source, target, markIn, markOut, lengthMs);
    static const char* const kSteps[] = {"opening the song", "removing the head",
                                         "removing the tail", "saving the clip",
                                         "closing the song"};
    for (qsizetype i = 0; i < texts.size(); ++i) {
        if (commands.send(texts[i]) != 0) {
            r.error = QStringLiteral("%1 while %2 (error %3)")
                          .arg(commands.lastError(), QLatin1String(kSteps[i]))
                          .arg(commands.lastErrorCode());
            if (i > 0 && i < 4)
                commands.send(QStringLiteral("close %1").arg(kAlias));
            return r;
        }
    }
    r.result = CutOutcome::Cut;
    return r;
}

} // namespace quaverly

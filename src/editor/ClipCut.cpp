#include "editor/ClipCut.h"

#include "engines/mci/MciTime.h"
#include "engines/mci/WaveCommands.h"
#include "engines/wav/WavHeader.h"

#include <algorithm>

namespace quaverly {
namespace {

const QString kAlias = QStringLiteral("voice1");

// A path goes into a command text as it is, or quoted when it holds a blank (a space, a tab,
// a line end) or a quote; a quote inside the quotes is doubled.
QString commandPath(const QString& path) {
    const bool plain = std::none_of(path.cbegin(), path.cend(), [](QChar c) {
        return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\r') ||
               c == QLatin1Char('\n') || c == QLatin1Char('"');
    });
    if (plain)
        return path;
    QString quoted = path;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

// The length to give the tail delete so that it ends exactly at the end of what the head delete
// leaves. The player's length and the head's position are each rounded to whole milliseconds, so
// `lengthMs - markIn` can miss that end by a millisecond either way: too far is refused as past
// the end, too short leaves the song's last frames on the clip. When lengthMs is the file's own
// length, the end is taken from its frames as the wave commands count them; any other length is
// passed on as it is.
qint64 tailLength(const QString& source, qint64 markIn, qint64 lengthMs) {
    const auto layout = probeWav(source);
    if (!layout || layout->blockAlign == 0 || markIn < 0)
        return lengthMs;
    const std::uint64_t frames = layout->dataSize / layout->blockAlign;
    const std::uint32_t rate = layout->sampleRate;
    if (lengthMs < 0 || std::uint64_t(lengthMs) != mcitime::framesToMs(frames, rate))
        return lengthMs;
    const std::uint64_t head =
        std::uint64_t(markIn) >= std::uint64_t(lengthMs)
            ? frames
            : std::min(mcitime::msToFrames(std::uint64_t(markIn), rate).value_or(frames), frames);
    return markIn + qint64(mcitime::framesToMs(frames - head, rate));
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
    const QStringList texts =
        cutCommands(source, target, markIn, markOut, tailLength(source, markIn, lengthMs));
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

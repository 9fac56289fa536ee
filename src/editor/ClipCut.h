#pragma once
// The clip editor's cut: a song's WAV is cut down to the stretch between the two marks by the
// wave-audio command texts, and the result replaces the target whole.

#include <QString>
#include <QStringList>

namespace quaverly {

class WaveCommands;

struct CutOutcome {
    enum Result { Cut, TimeInputError, Failed };
    Result result = Failed;
    QString error; // when Failed: the step and its reason
};

// The command texts of a cut of a sound of `lengthMs` to [markIn, markOut], in the order they
// are sent: open, head delete, tail delete, save, close. The tail delete's numbers are relative
// to the sound after the head delete.
QStringList cutCommands(const QString& source, const QString& clip, qint64 markIn, qint64 markOut,
                        qint64 lengthMs);

// Cuts `source` (a PCM WAV of `lengthMs`, as its player reported it) to the stretch from
// `markIn` to `markOut` and writes the clip to `target`, which may be `source` itself (the
// editor cuts a working copy in place). Marks not in order give TimeInputError and touch
// nothing. Any failing step stops the cut with the reason; `target` then stays as it was and no
// scratch file is left. The clip is saved straight to `target` by the wave commands, which write
// it under a temporary name and rename it into place, also over the song they have open.
CutOutcome cutClip(const QString& source, const QString& target, qint64 markIn, qint64 markOut,
                   qint64 lengthMs, WaveCommands& commands);

} // namespace quaverly

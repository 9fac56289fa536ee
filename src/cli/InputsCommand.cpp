// quaverly-cli inputs: the sound device's recording inputs, one a line.
#include "cli/CommandSupport.h"

#include "engines/bass/Bass.h"
#include "engines/bass/InputType.h"

namespace quaverly::cli {

int inputsCommand(const QStringList&, const Options&, const Io& io) {
    using namespace quaverly::bass;
    const RecordingDevice device;
    if (!device.started())
        return failed(io, QStringLiteral("cannot open the sound device's inputs: ") + soundError());
    QStringList lines;
    for (int i = 0;; ++i) {
        const char* name = BASS_RecordGetInputName(i);
        if (!name) {
            if (BASS_ErrorGetCode() == BASS_ERROR_ILLPARAM)
                break; // past the last input
            return failed(io, QStringLiteral("cannot list the inputs: ") + soundError());
        }
        const QString description = QString::fromUtf8(name);
        const DWORD v = BASS_RecordGetInput(i);
        if (v == 0xFFFFFFFFu) {
            // A source that went away while we listed.
            lines << QStringLiteral("%1\tgone\t-\t-\t%2").arg(i).arg(description);
            continue;
        }
        lines << QStringLiteral("%1\t%2\t%3\t%4\t%5")
                     .arg(i)
                     .arg((v & BASS_INPUT_OFF) ? QStringLiteral("off") : QStringLiteral("on"))
                     .arg(QLatin1String(inputTypeText(v)))
                     .arg(LoWord(v))
                     .arg(description);
    }
    for (const QString& line : lines)
        say(io.out, line);
    return kOk;
}

} // namespace quaverly::cli

#include "ui/SoundError.h"

namespace quaverly {

QString soundErrorText(const QString& text, int code) {
    return text + QStringLiteral("\r\n\r\nerror code: ") + QString::number(code);
}

void ReportSoundError(Dialogs& dialogs, const QString& text, int code) {
    dialogs.message(QStringLiteral("Error"), soundErrorText(text, code), Dialogs::Icon::Warning);
}

} // namespace quaverly

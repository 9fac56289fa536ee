#include "ui/EncodedSave.h"

#include "engines/formats/Formats.h"
#include "ui/Dialogs.h"
#include "ui/Encodings.h"
#include "ui/OutputChoice.h"

#include <QCoreApplication>
#include <QDir>

namespace quaverly {

namespace {
QString tr(const char* text) {
    return QCoreApplication::translate("EncodedSave", text);
}
} // namespace

std::optional<bool> askToShorten(Dialogs& dialogs, const encode::Preset& preset,
                                 std::int64_t frames, int sampleRate) {
    const std::optional<QString> tooLong = encode::lengthLimitText(preset, frames, sampleRate);
    if (!tooLong)
        return std::nullopt;
    return dialogs.question(
        tr("Clip too long"),
        tr("%1\n\nNothing was saved. Open the song in the clip editor with the marks on its "
           "first %2 seconds? Press \"Done\" there to cut it.")
            .arg(*tooLong)
            .arg(preset.maxSeconds));
}

std::optional<EncodedTarget> askEncodedTarget(Dialogs& dialogs, const QString& title,
                                              const QString& start, encode::Format chosen,
                                              Dialogs::FileKind kind) {
    const QString path = dialogs.saveFile({title, start, encodedSaveFilter(chosen),
                                           QLatin1String(formats::info(chosen).extension), kind});
    if (path.isEmpty())
        return std::nullopt;
    return EncodedTarget{path, targetFormat(path, chosen)};
}

bool settingsUsable(Dialogs& dialogs, const encode::Settings& settings, const QString& target) {
    const Status usable = encode::checkSettings(settings, target);
    if (usable)
        return true;
    const Error& error = usable.error();
    dialogs.tell(notSavedText(settings.format, QDir::toNativeSeparators(error.file()) +
                                                   QStringLiteral(": ") + error.cause()),
                 Dialogs::Icon::Critical);
    return false;
}

std::optional<QString> askClipTitle(Dialogs& dialogs, const QString& title) {
    return dialogs.input(tr("Title"), tr("The clip's title, saved in the file:"), title);
}

} // namespace quaverly

#include "ui/PlayerMessages.h"

#include "engines/player/MciErrors.h"

#include <QCoreApplication>

namespace quaverly {

QString cannotPlayText(const QString& name, const Error& why) {
    return QCoreApplication::translate("PlayerMessages", "%1 cannot be played.\n\n%2")
        .arg(name, mcierr::reason(why));
}

QString cannotOpenInEditorText(const QString& name, const Error& why) {
    return QCoreApplication::translate("PlayerMessages", "%1 cannot be opened in the editor.\n\n%2")
        .arg(name, mcierr::reason(why));
}

} // namespace quaverly

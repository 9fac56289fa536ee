#include "ui/Icons.h"

#include <QPixmap>

namespace quaverly {

QIcon appIcon(QStringView base) {
#ifdef QUAVERLY_PNG_ICONS
    // Each rendering is added with its own size, so that the icon picks the one a screen's scale
    // asks for instead of scaling the smallest up.
    QIcon icon;
    for (QLatin1StringView suffix :
         {QLatin1StringView(".png"), QLatin1StringView("@2x.png"), QLatin1StringView("@3x.png")}) {
        const QPixmap pixmap(base.toString() + suffix);
        if (!pixmap.isNull())
            icon.addPixmap(pixmap);
    }
    return icon;
#else
    return QIcon(base.toString() + QLatin1StringView(".svg"));
#endif
}

} // namespace quaverly

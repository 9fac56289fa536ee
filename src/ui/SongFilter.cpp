#include "ui/SongFilter.h"

#include "engines/formats/Formats.h"

#include <QCoreApplication>
#include <QStringList>

namespace quaverly {

QString songFileFilter() {
    QStringList entries;
    entries << QCoreApplication::translate("SongFilter", "All supported files (%1)")
                   .arg(formats::readPatterns().join(u' '));
    for (const formats::FileFormat& kind : formats::listed())
        entries << QStringLiteral("%1 (%2)").arg(formats::kindName(kind),
                                                 formats::kindPatterns(kind).join(u' '));
    entries << QCoreApplication::translate("SongFilter", "All files (*)");
    return entries.join(QStringLiteral(";;"));
}

} // namespace quaverly

#include "ui/SongFilter.h"

#include "engines/decode/SongFormats.h"

#include <QCoreApplication>
#include <QStringList>

namespace quaverly {

QString songFileFilter() {
    QStringList entries;
    entries << QCoreApplication::translate("SongFilter", "All supported files (%1)")
                   .arg(songFilePatterns().join(u' '));
    for (const SongFileKind& kind : songFileKinds())
        entries << QStringLiteral("%1 (%2)").arg(songKindName(kind),
                                                 songKindPatterns(kind).join(u' '));
    entries << QCoreApplication::translate("SongFilter", "All files (*)");
    return entries.join(QStringLiteral(";;"));
}

} // namespace quaverly

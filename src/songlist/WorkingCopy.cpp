#include "songlist/WorkingCopy.h"

#include "engines/util/AtomicFile.h"
#include "engines/wav/WavHeader.h"

#include <QDir>
#include <QFileInfo>
#include <QUuid>

namespace quaverly {
QString songNameFor(const QString& pickedPath) {
    const QString file = QFileInfo(pickedPath).fileName();
    return file.size() > 4 ? file.left(file.size() - 4) : file;
}

bool isSongFile(const QString& pickedPath) {
    const QString file = QFileInfo(pickedPath).fileName().toLower();
    return file.endsWith(QLatin1String(".wav")) || file.endsWith(QLatin1String(".mp3"));
}

QString newWorkingCopyPath(const QString& folder) {
    // Without a folder QDir would mean the current directory: a working copy never goes there.
    if (folder.isEmpty())
        return QString();
    const QDir dir(folder);
    for (;;) {
        const QString name =
            QStringLiteral("song-%1.wav").arg(QUuid::createUuid().toString(QUuid::Id128).left(12));
        if (!dir.exists(name))
            return dir.filePath(name);
    }
}

Status makeWorkingCopy(const QString& picked, const QString& target,
                       const DecodeProgress& progress) {
    if (target.isEmpty())
        return Error(QString(),
                     QStringLiteral("there is no working folder to keep its working copy in"));
    if (picked.right(3).toLower() == QLatin1String("wav")) {
        const auto layout = probeWav(picked);
        if (layout && layout->canonical && layout->dataSize > 0)
            return copyFileAtomically(picked, target);
    }
    if (const auto decoded = decodeSong(picked, target, progress); !decoded)
        return decoded.error();
    return {};
}

} // namespace quaverly

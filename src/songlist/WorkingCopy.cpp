#include "songlist/WorkingCopy.h"

#include "convert/SongDecoder.h"
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

WorkingCopyOutcome makeWorkingCopy(const QString& picked, const QString& target,
                                   SongDecoder& decoder, const std::function<bool()>& yield) {
    WorkingCopyOutcome r;
    if (target.isEmpty()) {
        r.error = QStringLiteral("there is no working folder to keep its working copy in");
        return r;
    }
    if (picked.right(3).toLower() == QLatin1String("wav")) {
        const auto layout = probeWav(picked);
        if (layout && layout->canonical && layout->dataSize > 0) {
            r.ok = copyFileAtomically(picked, target, &r.error);
            return r;
        }
    }
    const auto d = decoder.decode(picked, target, yield);
    r.ok = d.ok;
    r.soundError = d.soundError;
    r.error = d.error;
    r.cause = d.cause;
    return r;
}

} // namespace quaverly

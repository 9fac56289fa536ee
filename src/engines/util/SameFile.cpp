#include "engines/util/SameFile.h"

#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace quaverly {

bool sameFile(const QString& a, const QString& b) {
    const QString canonicalA = QFileInfo(a).canonicalFilePath();
    const QString canonicalB = QFileInfo(b).canonicalFilePath();
    if (canonicalA.isEmpty() || canonicalB.isEmpty())
        return false;
    if (canonicalA == canonicalB)
        return true;
#ifdef Q_OS_UNIX
    // Hard links have canonical paths of their own: the device and the inode tell.
    struct stat sa {};
    struct stat sb {};
    return ::stat(QFile::encodeName(canonicalA).constData(), &sa) == 0 &&
           ::stat(QFile::encodeName(canonicalB).constData(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
#else
    return false;
#endif
}

} // namespace quaverly
